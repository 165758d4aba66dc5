// Rules over decoded header fields: the parser, the wildcard match, the
// first rule deciding.

#include "check/MailRules.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(Wildcard, MatchesCaseInsensitivelyWithStarsAndQuestionMarks)
{
    struct Case
    {
        const char* Pattern;
        const char* Text;
        bool Matches;
    };
    const Case cases[] = {
        {"*@boss.example", "Ann Boss <ann@BOSS.example>", false}, // the bracket ends it
        {"*@boss.example*", "Ann Boss <ann@BOSS.example>", true},
        {"ann*", "ANN", true},
        {"ann", "anne", false},
        {"ann", "ann", true},
        {"*", "", true},
        {"***", "anything", true},
        {"?", "", false},
        {"?", "\xc3\xa9", true},                    // one character, two bytes
        {"gr??e", "Gr\xc3\xbc\xc3\x9f" "e", true},  // each ? one character
        {"gr?e", "Gr\xc3\xbc\xc3\x9f" "e", false},
        {"*invoice*", "Your INVOICE 42", true},
        {"*invoice*", "Your invoic", false},
        {"a*b*c", "abc", true},
        {"a*b*c", "acb", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*bc", "abcbc", true},                    // the tail is the last two
        {"ab*ba", "aba", false},                    // prefix and tail may not overlap
        {"*a?c*", "xxabxaxc", true},
        {"*a?c*", "xxabxaxd", false},
        {"<*.lists.example>", "<dev.lists.example>", true},
        {"caf\xc3\xa9*", "CAF\xc3\xa9 au lait", true}, // letters beyond ASCII compare as they are
    };
    for (const Case& c : cases)
        EXPECT_EQ(WildcardMatch(c.Pattern, c.Text), c.Matches) << c.Pattern << " / " << c.Text;
}

// Patterns that make a backtracking match take exponential or quadratic
// time come back at once; the test's own time-out is the bound.
TEST(Wildcard, HostilePatternsAreBounded)
{
    const std::string text(4096, 'a');
    const std::string stars(100 * 1024, '*');
    EXPECT_TRUE(WildcardMatch(stars, text));
    EXPECT_TRUE(WildcardMatch(stars + "a" + stars, text));
    std::string manyPieces;
    for (int i = 0; i < 2000; ++i)
        manyPieces += "*a";
    EXPECT_FALSE(WildcardMatch(manyPieces + "*b", text));
    EXPECT_FALSE(WildcardMatch(std::string(100 * 1024, 'a'), text)); // longer than the text
    EXPECT_FALSE(WildcardMatch("*" + std::string(2000, 'a') + "b*", text));
    const TWildcard compiled(manyPieces + "*");
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(compiled.Matches(text));
}

TEST(MailRule, ParsesActionFieldAndPatternOrSaysWhatIsWrong)
{
    struct Case
    {
        const char* Text;
        bool Parses;
        TRuleAction Action;
        TRuleField Field;
        const char* Pattern;
    };
    const Case cases[] = {
        {"important from *@boss.example", true, TRuleAction::Important, TRuleField::From, "*@boss.example"},
        {"  QUIET\tList  <*.lists.example>  ", true, TRuleAction::Quiet, TRuleField::List, "<*.lists.example>"},
        {"ignore subject *Buy now* today", true, TRuleAction::Ignore, TRuleField::Subject, "*Buy now* today"},
        {"ignore account Work", true, TRuleAction::Ignore, TRuleField::Account, "Work"},
        {"shout from *", false, {}, {}, ""},
        {"quiet sender *", false, {}, {}, ""},
        {"quiet from", false, {}, {}, ""},
        {"quiet from   ", false, {}, {}, ""},
        {"", false, {}, {}, ""},
    };
    for (const Case& c : cases)
    {
        const TRuleParse parsed = ParseMailRule(c.Text);
        ASSERT_EQ(parsed.Rule.has_value(), c.Parses) << c.Text;
        EXPECT_EQ(parsed.Error.empty(), c.Parses) << c.Text;
        if (!c.Parses)
            continue;
        EXPECT_EQ(parsed.Rule->Action, c.Action) << c.Text;
        EXPECT_EQ(parsed.Rule->Field, c.Field) << c.Text;
        EXPECT_EQ(parsed.Rule->Pattern, c.Pattern) << c.Text;
    }
}

TEST(MailRules, FirstMatchingRuleDecidesAndBadRulesArePassedOver)
{
    const TMailRules rules({"important from *@boss.example*", "bogus rule", "quiet list *announce*",
                            "ignore subject *[spam]*", "quiet account Hobby", "important subject *urgent*"});
    struct Case
    {
        const char* From;
        const char* Subject;
        const char* List;
        const char* Account;
        std::optional<TRuleAction> Decided;
    };
    const Case cases[] = {
        {"Boss <b@boss.example>", "[spam] lunch", "<announce.x>", "Work", TRuleAction::Important},
        {"Ann <a@x>", "[SPAM] offer", "<announce.x>", "Work", TRuleAction::Quiet},
        {"Ann <a@x>", "[SPAM] offer", "", "Work", TRuleAction::Ignore},
        {"Ann <a@x>", "urgent", "", "Hobby", TRuleAction::Quiet},
        {"Ann <a@x>", "urgent", "", "Work", TRuleAction::Important},
        {"Ann <a@x>", "hello", "", "Work", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rules.Decide(FoldedFields(c.From, c.Subject, c.List, c.Account)), c.Decided)
            << c.From << " / " << c.Subject;
    EXPECT_TRUE(TMailRules({"bogus", "quiet from"}).Empty());
}

} // namespace

#include "mail/IdEMailAddress.h"
#include "platform/AsciiText.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <ostream>

namespace
{

struct ListRow
{
    const char* label;
    std::string value;
    std::size_t count;    // items in the list
    std::string first;    // display text of the first item
};

void PrintTo(const ListRow& row, std::ostream* os)
{
    *os << row.label;
}

class AddressList : public testing::TestWithParam<ListRow>
{
};

TEST_P(AddressList, FirstItemShowsAsExpected)
{
    const ListRow& row = GetParam();
    TIdEMailAddressList list;
    list.ParseAddressList(row.value);
    ASSERT_EQ(list.Count(), row.count);
    if (row.count > 0)
        EXPECT_EQ(list[0].Text(), row.first);
}

const ListRow kListRows[] = {
    {"Empty", "", 0, ""},
    {"OnlyBlanks", " \t  ", 0, ""},
    {"NameAndBracketedAddress", "Help Desk <a@b.c>", 1, "Help Desk <a@b.c>"},
    {"CommaInsideQuotesDoesNotSplit", "\"Desk, Help\" <a@b.c>", 1, "\"Desk, Help\" <a@b.c>"},
    {"EightBitNameIsQuoted", "Andr\xE9 <a@b.c>", 1, "\"Andr\xE9\" <a@b.c>"},
    {"CommentDropped", "a@b.c (Help Desk)", 1, "a@b.c"},
    {"TwoAddresses", "a@b.c, d@e.f", 2, "a@b.c"},
    {"GroupNameDropped", "Team: a@b.c, d@e.f;", 2, "a@b.c"},
    {"NameEqualToUpperAddress", "\"A@B.C\" <a@b.c>", 1, "<a@b.c>"},
    {"BlankInLocalPartIsQuoted", "<j s@b.c>", 1, "<\"j s\"@b.c>"},
    {"DotInNameQuotesIt", "a.b c@d", 1, "\"a.b \" <c@d>"},
    {"EmptyBrackets", "<>", 1, ""},
    {"CommaInsideCommentDoesNotSplit", "a@b.c (Desk, Help), d@e.f", 2, "a@b.c"},
    {"EmptyItemsBetweenCommasGo", "a@b.c,, <>, d@e.f", 2, "a@b.c"},
    {"QuotedNameWithEscapes", "\"say \\\"hi\\\"\" <a@b.c>", 1, "\"say \\\"hi\\\"\" <a@b.c>"},
    {"BareAddress", "a@b.c", 1, "a@b.c"},
    {"BareWordWithoutAt", "postmaster", 1, "postmaster"},
    {"BlanksAroundDotsInBrackets", "Ann <a @ b . c>", 1, "Ann <\"a \"@b.c>"},
    {"DottedLocalPartStaysPlain", "x <a.b@c.d>", 1, "x <a.b@c.d>"},
    {"QuotedLocalPartOutsideBracketsIsName", "\"a\\\\b\"@c.d", 1, "\"a\\\\b\" <@c.d>"},
    {"NestedComment", "a@b.c (x (y) z)", 1, "a@b.c"},
    {"TabSeparated", "Ann\t<a@b.c>", 1, "Ann <a@b.c>"},
    {"GroupOfOne", "undisclosed-recipients: ;", 0, ""},
    {"SemicolonList", "a@b.c; d@e.f", 2, "a@b.c"},
    {"LoneBackslashEndingQuote", "\"abc\\", 1, "abc <>"},
    {"QuoteGluedToWord", "Jo\"e\" <a@b.c>", 1, "Joe <a@b.c>"},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressList, testing::ValuesIn(kListRows), RowLabel());

TEST(AddressList, AtAfterClosingBracketFailsAndKeepsEarlierItems)
{
    TIdEMailAddressList list;
    try
    {
        list.ParseAddressList("a@b.c, <d@e.f> g@h.i, j@k.l");
        FAIL() << "no error";
    }
    catch (const EIdEmailParseError& e)
    {
        EXPECT_EQ(e.Message, "@ Outside address");
    }
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].Address, "a@b.c");
}

TEST(AddressList, AtAfterClosingBracketAlone)
{
    TIdEMailAddressList list;
    EXPECT_THROW(list.ParseAddressList("<a@b.c> d@e.f"), EIdEmailParseError);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(AddressList, ParsingReplacesTheItems)
{
    TIdEMailAddressList list;
    list.ParseAddressList("a@b.c, d@e.f");
    list.ParseAddressList("x@y.z");
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list[0].Address, "x@y.z");
}

TEST(AddressList, SecondItemOfAList)
{
    TIdEMailAddressList list;
    list.ParseAddressList("\"Smith, Ann\" <ann@x.org>, Bob (work) <bob@y.org>");
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list[0].Name, "Smith, Ann");
    EXPECT_EQ(list[1].Name, "Bob");
    EXPECT_EQ(list[1].Address, "bob@y.org");
    EXPECT_EQ(list[1].Text(), "Bob <bob@y.org>");
}

struct ItemRow
{
    const char* label;
    std::string text;
    std::string name;
    std::string address;
};

void PrintTo(const ItemRow& row, std::ostream* os)
{
    *os << row.label;
}

class AddressItem : public testing::TestWithParam<ItemRow>
{
};

TEST_P(AddressItem, SplitsIntoNameAndAddress)
{
    const ItemRow& row = GetParam();
    TIdEMailAddressItem item;
    item.SetText(row.text);
    EXPECT_EQ(item.Name, row.name);
    EXPECT_EQ(item.Address, row.address);
}

const ItemRow kItemRows[] = {
    {"Plain", "a@b.c", "", "a@b.c"},
    {"Bracketed", "<a@b.c>", "", "a@b.c"},
    {"NameQuoted", "\"Ann Lee\" <a@b.c>", "Ann Lee", "a@b.c"},
    {"NameAfterAddressInComment", "a@b.c (Ann)", "", "a@b.c"},
    {"CommentBeforeAddressIsName", "Ann(x) <a@b.c>", "Ann", "a@b.c"},
    {"QuotedLocalPart", "<\"j s\"@b.c>", "", "j s@b.c"},
    {"EscapedQuoteInName", "\"a\\\"b\" <c@d>", "a\"b", "c@d"},
    {"Blank", "   ", "", ""},
    {"NoDelimiter", "word", "", "word"},
    {"CommentInsideBrackets", "<a@b(x).c>", "", "a@b.c"},
    {"NestedCommentInsideAddress", "<a@b(x (y) z).c>", "", "a@b.c"},
    {"TrailingTextAfterAddress", "a@b.c d", "", "a@b.cd"},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressItem, testing::ValuesIn(kItemRows), RowLabel());

TEST(AddressItem, FailedParseLeavesItemEmpty)
{
    TIdEMailAddressItem item;
    item.SetText("Ann <a@b.c>");
    EXPECT_THROW(item.SetText("<a@b.c> d@e.f"), EIdEmailParseError);
    EXPECT_EQ(item.Name, "");
    EXPECT_EQ(item.Address, "");
}

struct DisplayRow
{
    const char* label;
    std::string name;
    std::string address;
    std::string text;
};

void PrintTo(const DisplayRow& row, std::ostream* os)
{
    *os << row.label;
}

class AddressDisplay : public testing::TestWithParam<DisplayRow>
{
};

TEST_P(AddressDisplay, ShowsAsExpected)
{
    const DisplayRow& row = GetParam();
    TIdEMailAddressItem item;
    item.Name = row.name;
    item.Address = row.address;
    EXPECT_EQ(item.Text(), row.text);
}

const DisplayRow kDisplayRows[] = {
    {"Nothing", "", "", ""},
    {"NameWithoutAddress", "Ann", "", "Ann <>"},
    {"AddressOnly", "", "a@b.c", "a@b.c"},
    {"NameEqualsUpperAddress", "A@B.C", "a@b.c", "<a@b.c>"},
    {"NameEqualsAddressInLowerCaseIsShown", "a@b.c", "a@b.c", "\"a@b.c\" <a@b.c>"},
    {"QuoteAndBackslashInNameEscaped", "a\"b\\c", "x@y", "\"a\\\"b\\\\c\" <x@y>"},
    {"LocalPartWithBlankBracketedEvenWithoutName", "", "j s@b.c", "<\"j s\"@b.c>"},
    {"LocalPartStartingWithDotStaysPlain", "", ".a b@c", ".a b@c"},
    {"NoAtSign", "Ann", "local", "Ann <local>"},
    {"LastAtSplits", "", "a b@c@d", "<\"a b@c\"@d>"},
    {"EmptyLocalPart", "", "@d", "@d"},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressDisplay, testing::ValuesIn(kDisplayRows), RowLabel());

TEST(AddressItem, UserAndDomainSplitAtLastAt)
{
    TIdEMailAddressItem item;
    item.Address = "a@b@c.d";
    EXPECT_EQ(item.User(), "a@b");
    EXPECT_EQ(item.Domain(), "c.d");
    item.Address = "local";
    EXPECT_EQ(item.User(), "local");
    EXPECT_EQ(item.Domain(), "");
}

TEST(AddressText, SmallFunctions)
{
    EXPECT_EQ(FirstPosOfAny("@.", "ab.c@d"), 3u);
    EXPECT_EQ(FirstPosOfAny("@", "abc"), 0u);
    EXPECT_EQ(FirstPosNotIn("ab", "abxa"), 3u);
    EXPECT_EQ(FirstPosNotIn("ab", "abba"), 0u);
    EXPECT_EQ(FirstPosNotIn("ab", ""), 0u);
    EXPECT_EQ(StripChars(" \t", " \t a b\t "), "a b");
    EXPECT_EQ(StripChars(" ", "   "), "");
    EXPECT_EQ(LocalPartChars.size(), 80u);
    EXPECT_EQ(NameChars.size(), 81u);
    EXPECT_EQ(AsciiText::Trim(std::string("\x01 a\x1F\x20", 5)), "a");
    EXPECT_EQ(AsciiText::Trim("\xE9 a \xA0"), "\xE9 a \xA0"); // 8-bit bytes are not blanks
    EXPECT_EQ(AsciiText::UpperCase("a\xE9z"), "A\xE9Z");
}

} // namespace

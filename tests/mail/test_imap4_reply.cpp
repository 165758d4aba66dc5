// The IMAP4 reply and line syntax, as functions over text.
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/Imap4FetchStream.h"
#include "mail/Imap4Folders.h"
#include "mail/Imap4Reply.h"
#include "mail/ModifiedUtf7.h"
#include "platform/Exception.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace
{

std::string ReplyError(const TIdStrings& lines)
{
    TIdReplyIMAP4 reply;
    return MessageOf<EIdReplyIMAP4Error>([&] { reply.SetFormattedReply(lines); });
}

TEST(Imap4Reply, ParsesTaggedUntaggedAndStatusLastLines)
{
    TIdReplyIMAP4 reply;
    reply.SetFormattedReply({"* CAPABILITY IMAP4rev1 IDLE", "* 3 EXISTS", "C2 OK done now"});
    EXPECT_EQ(reply.Code, "OK");
    EXPECT_EQ(reply.Text, (TIdStrings{"CAPABILITY IMAP4rev1 IDLE", "3 EXISTS"}));
    EXPECT_EQ(reply.SideLines, (TIdStrings{"done now"}));

    reply.MoveUnsolicitedLines({"CAPABILITY"});
    EXPECT_EQ(reply.Text, (TIdStrings{"CAPABILITY IMAP4rev1 IDLE"}));
    EXPECT_EQ(reply.SideLines, (TIdStrings{"done now", "3 EXISTS"}));

    reply.SetFormattedReply({"* OK IMAP ready"});
    EXPECT_EQ(reply.Code, "OK");
    EXPECT_EQ(reply.Text, (TIdStrings{"IMAP ready"}));
    EXPECT_TRUE(reply.SideLines.empty());

    reply.SetFormattedReply({"+ go ahead"});
    EXPECT_EQ(reply.Code, "+");
    EXPECT_EQ(reply.Text, (TIdStrings{"go ahead"}));

    // No expected words: every data line is unsolicited.
    reply.SetFormattedReply({"* 1 EXISTS", "* 1 RECENT", "C9 NO refused"});
    reply.MoveUnsolicitedLines({});
    EXPECT_TRUE(reply.Text.empty());
    EXPECT_EQ(reply.SideLines, (TIdStrings{"refused", "1 EXISTS", "1 RECENT"}));
}

TEST(Imap4Reply, EveryBrokenRuleHasItsMessage)
{
    const std::string lineIs = ", offending line: ";
    const std::pair<TIdStrings, std::string> cases[] = {
        {{}, "Unexpected: Logic error, SetFormattedReply called with an empty list of parameters"},
        {{"*", "C1 OK x"},
         "Unexpected: Non-last response line (i.e. a data line) only contained one word, instead of a "
         "* followed by one or more words" + lineIs + "*"},
        {{"3 EXISTS", "C1 OK x"},
         "Unexpected: Non-last response line (i.e. a data line) did not start with a *" + lineIs + "3 EXISTS"},
        {{""},
         "Unexpected: Response (last) line was empty instead of containing a line with a response code "
         "like OK, NO, BAD, etc"},
        {{"*"}, "Unexpected: Response (last) line contained only a *"},
        {{"* OK"}, "Unexpected: Response (last) line contained only a * (type 2)"},
        {{"* SEARCH 1 2"},
         "Unexpected: Response (last) line started with a * but next word was not a valid response like "
         "OK, BAD, etc" + lineIs + "* SEARCH 1 2"},
        {{"C41"},
         "Unexpected: Response (last) line started with a command reference (like C41) but nothing else"
             + lineIs + "C41"},
        {{"C41 OK"},
         "Unexpected: Logic error, line starts with a command reference (like C41) but nothing else, why "
         "was an exception not thrown earlier?" + lineIs + "C41 OK"},
        {{"C41 FINE thanks"},
         "Unexpected: Line starts with a command reference (like C41) but next word was not a valid "
         "response like OK, BAD, etc" + lineIs + "C41 FINE thanks"},
        // Tags begin with an upper-case C and status words match with case.
        {{"c1 OK done"},
         "Unexpected: Line does not start with a command reference (like C41), a *, or a valid response "
         "like OK, BAD, etc" + lineIs + "c1 OK done"},
        {{"C1 ok done"},
         "Unexpected: Line starts with a command reference (like C41) but next word was not a valid "
         "response like OK, BAD, etc" + lineIs + "C1 ok done"},
    };
    for (const auto& [lines, message] : cases)
        EXPECT_EQ(ReplyError(lines), message) << (lines.empty() ? "(none)" : lines.back());
}

TEST(Imap4Reply, ResponseWordsAndGreetingEnds)
{
    EXPECT_TRUE(CarriesResponseWord("12 FETCH (RFC822.SIZE 3)", {"FETCH"}));
    EXPECT_TRUE(CarriesResponseWord("3 EXISTS", {"EXISTS"}));
    EXPECT_TRUE(CarriesResponseWord("SEARCH", {"SEARCH"}));
    EXPECT_FALSE(CarriesResponseWord("12 fetch (x)", {"FETCH"}));
    EXPECT_FALSE(CarriesResponseWord("3 EXISTS", {"FETCH"}));
    EXPECT_FALSE(CarriesResponseWord("1 2 FETCH", {"FETCH"})); // only one number is passed over
    EXPECT_FALSE(CarriesResponseWord("", {""}));

    EXPECT_TRUE(EndsGreeting("* OK ready"));
    EXPECT_TRUE(EndsGreeting("* PREAUTH hi"));
    EXPECT_TRUE(EndsGreeting("* OK"));
    EXPECT_TRUE(EndsGreeting("OK bare"));
    EXPECT_FALSE(EndsGreeting("*"));
    EXPECT_FALSE(EndsGreeting("* CAPABILITY IMAP4rev1"));
}

TEST(Imap4Fetch, HeaderLiteralAndSizeLines)
{
    TIdIMAPLineStruct line;
    EXPECT_TRUE(ParseFetchLine("* 12 FETCH (RFC822.HEADER {342}", "FETCH", {"RFC822.HEADER"}, line));
    EXPECT_TRUE(line.Starred);
    EXPECT_EQ(line.MessageNumber, "12");
    EXPECT_EQ(line.Command, "FETCH");
    EXPECT_FALSE(line.Complete);
    EXPECT_EQ(line.LiteralSize, 342);
    EXPECT_EQ(line.ItemName, "RFC822.HEADER");

    EXPECT_TRUE(ParseFetchLine("12 FETCH (UID 7 RFC822.SIZE 2345)", "FETCH", {"RFC822.SIZE"}, line));
    EXPECT_FALSE(line.Starred);
    EXPECT_TRUE(line.Complete);
    EXPECT_EQ(line.LiteralSize, -1);
    EXPECT_EQ(line.Uid, "7");
    EXPECT_EQ(line.ItemName, "RFC822.SIZE");
    EXPECT_EQ(line.ItemValue, "2345");

    // UID asked for and found does not keep the next item from being taken.
    EXPECT_TRUE(ParseFetchLine("* 3 FETCH (UID 5 RFC822.SIZE 10)", "FETCH", {"UID", "RFC822.SIZE"}, line));
    EXPECT_EQ(line.Uid, "5");
    EXPECT_EQ(line.ItemValue, "10");

    EXPECT_TRUE(ParseFetchLine("* 4 FETCH (FLAGS (\\Seen \\answered \\Recent $Junk) UID 9)", "FETCH",
                               {"FLAGS"}, line));
    EXPECT_EQ(line.Flags, mfSeen | mfAnswered | mfRecent);
    EXPECT_EQ(line.Uid, "9");

    EXPECT_TRUE(ParseFetchLine("* 5 FETCH (RFC822.HEADER {NIL}", "FETCH", {"RFC822.HEADER"}, line));
    EXPECT_EQ(line.LiteralSize, 0);
    EXPECT_THROW(ParseFetchLine("* 5 FETCH (RFC822.HEADER {12x}", "FETCH", {"RFC822.HEADER"}, line),
                 EConvertError);
}

TEST(Imap4Fetch, LinesThatAreNotTheAnswer)
{
    TIdIMAPLineStruct line;
    const std::pair<const char*, const char*> refused[] = {
        {"* 12 fetch (RFC822.SIZE 1)", "command word in lower case"},
        {"* 12 FETCH", "nothing after the command"},
        {"FETCH", "no space at all"},
        {"* 3 EXISTS (x)", "not a command word"},
        {"* 3 FETCH (FLAGS (\\Seen))", "item not there"},
        {"* 3 STORE (RFC822.SIZE 1)", "other command"},
    };
    for (const auto& [text, why] : refused)
        EXPECT_FALSE(ParseFetchLine(text, "FETCH", {"RFC822.SIZE"}, line)) << why;

    // Without parentheses the rest is the value.
    EXPECT_TRUE(ParseFetchLine("* 3 FETCH plain rest", "FETCH", {"RFC822.SIZE"}, line));
    EXPECT_EQ(line.ItemValue, "plain rest");
}

TEST(Imap4FetchStream, UIDSetsAndLiteralAnnouncements)
{
    EXPECT_EQ(UIDSetText({7}), "7");
    EXPECT_EQ(UIDSetText({1, 2, 4, 5, 6, 7, 9, 4294967295u}), "1:2,4:7,9,4294967295");
    for (const auto& [line, size] : std::vector<std::pair<std::string, long long>>{
             {"* 1 FETCH (X {342}", 342}, {"(X {}", -1}, {"(X {3a}", -1}, {"(X {3} ", -1}, {"{99999999999999999999}", LLONG_MAX}})
        EXPECT_EQ(TrailingLiteralSize(line), size) << line;
}

TEST(Imap4FetchStream, ResponsesTakenApart)
{
    // Text, literals, and "UID size header" of what is taken, or "-".
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"* 1 FETCH (uid 4 rfc822.size 12 body[header] {5}\n)", {"A: b\n"}, "4 12 A: b\n"},
        {"* 1 FETCH (BODY[HEADER.FIELDS (FROM)] {2}\n UID 4 RFC822.HEADER \"S: \\\"q\\\"\")", {"ab"}, "4 -1 S: \"q\""},
        {"* 1 FETCH (X (a {2}\n (b)) UID 9 RFC822.SIZE big BODY[HEADER] NIL)", {"()"}, "9 -1 "},
        {"* 1 FETCH (UID 4294967295)", {}, "4294967295 -1 "},
        {"* 1 FETCH (UID 4294967296)", {}, "-"},
        {"* 1 FETCH (UID 0)", {}, "-"},
        {"* 1 FETCH (RFC822.SIZE 3)", {}, "-"},
        {"* 1 FETCH (UID 4 BODY[HEADER] {5}\n)", {"abc"}, "-"},
        {"* 1 FETCH (UID 4 BODY[HEADER] {3}\n", {"abc"}, "-"},
        {"* 3 EXISTS", {}, "-"},
        {"* 1 FETCH (UID 4 X " + std::string(100000, '(') + ")", {}, "-"},
    };
    for (auto [text, literals, expected] : cases)
    {
        TIdIMAP4FetchItems items;
        const bool ok = ParseFetchResponse(text, literals, items);
        EXPECT_EQ(ok ? std::to_string(items.UID) + " " + std::to_string(items.Size) + " " + items.Header : "-",
                  expected)
            << text.substr(0, 80);
    }
}

TEST(Imap4Split, Parts)
{
    const std::pair<std::string, TIdStrings> cases[] = {
        {"\"a b\" (x (y z) \"q)\") w", {"a b", "x (y z) \"q)\"", "w"}},
        {"UID 7 RFC822.SIZE 2345", {"UID", "7", "RFC822.SIZE", "2345"}},
        {"a  b", {"a", "b"}},
        {"", {}},
        {"\"open", {"open"}},
        {"(open (inner)", {"open (inner"}},
        {"()", {""}},
        {"\"\" x", {"", "x"}},
    };
    for (const auto& [text, parts] : cases)
        EXPECT_EQ(SplitParts(text), parts) << text;
}

TEST(Imap4Words, ModifiedUtf7Names)
{
    const std::pair<std::u16string, std::string> cases[] = {
        {u"inbox", "inbox"},
        {u"Tom & Jerry", "Tom &- Jerry"},
        {u"Entw\u00fcrfe", "Entw&APw-rfe"},
        {u"~peter/mail/\u53f0\u5317/\u65e5\u672c\u8a9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
    };
    for (const auto& [name, wire] : cases)
    {
        EXPECT_EQ(TIdMUTF7::EncodeUtf16(name), wire);
        std::u16string back;
        EXPECT_TRUE(TIdMUTF7::DecodeUtf16(wire, back)) << wire;
        EXPECT_EQ(back, name) << wire;
    }
    std::u16string ignored;
    for (const char* bad : {"&AB", "&A-", "&AP*-", "caf\xe9"})
        EXPECT_FALSE(TIdMUTF7::DecodeUtf16(bad, ignored)) << bad;
}

TEST(Imap4Words, LoginStringsAndSearchCriteria)
{
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"ann", "ann", false},
        {"pass word", "\"pass word\"", false},
        {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\"", false},
        {"(x)", "\"(x)\"", false},
        {"", "\"\"", false},
        {"caf\xe9", "{4}\r\ncaf\xe9", true},
    };
    for (const auto& [text, wire, literal] : cases)
    {
        bool isLiteral = false;
        EXPECT_EQ(IMAP4AString(text, isLiteral), wire);
        EXPECT_EQ(isLiteral, literal) << wire;
    }

    EXPECT_EQ(SearchKeyWord(skUnseen), "UNSEEN");
    EXPECT_EQ(static_cast<int>(skUnseen), 34);
    EXPECT_EQ(SearchKeyWord(skAll), "ALL");
    EXPECT_EQ(SearchKeyWord(skSentSince), "SENTSINCE");
    TIdIMAP4SearchRec rec;
    rec.SearchKey = skUnseen;
    EXPECT_EQ(SearchCriterion(rec), "UNSEEN");
    rec.SearchKey = skSince;
    rec.SearchDate = 45000; // days after 1899-12-30
    EXPECT_EQ(SearchCriterion(rec), "SINCE 15-Mar-2023");
    rec.SearchKey = skSubject;
    rec.SearchText = "a \"b\"";
    EXPECT_EQ(SearchCriterion(rec), "SUBJECT \"a \\\"b\\\"\"");
}

// LIST answers: attributes, the delimiter (or NIL), the name as an atom or
// a quoted string with its escapes, LIST-EXTENDED data after it; anything
// else, cut short or hostile, is no folder.
TEST(Imap4Folders, ListLines)
{
    struct
    {
        const char* line;
        bool parses;
        const char* name;
        char delimiter;
        bool selectable;
        bool special;
    } const cases[] = {
        {"* LIST (\\HasNoChildren) \"/\" INBOX", true, "INBOX", '/', true, false},
        {"* LIST (\\HasNoChildren \\Junk) \".\" \"Junk\"", true, "Junk", '.', true, true},
        {"* list (\\Noselect \\HasChildren) \"/\" Lists", true, "Lists", '/', false, false},
        {"* LIST (\\NonExistent) NIL \"Gone\"", true, "Gone", 0, false, false},
        {"* LIST () \"/\" \"Tom &- \\\"J\\\\\" (CHILDINFO (\"SUBSCRIBED\"))", true, "Tom &- \"J\\", '/', true, false},
        {"LIST (\\Sent) \"/\" Sent ", true, "Sent", '/', true, true},
        {"* LSUB () \"/\" Archive/2024", true, "Archive/2024", '/', true, false},
        {"* LIST (\\HasNoChildren) \"/\" {5}", false, "", 0, false, false},
        {"* LIST (\\HasNoChildren) \"/\"", false, "", 0, false, false},
        {"* LIST (\\HasNoChildren \"/\" INBOX", false, "", 0, false, false},
        {"* LIST () \"//\" INBOX", false, "", 0, false, false},
        {"* LIST () \"/\" \"unclosed", false, "", 0, false, false},
        {"* LIST () \"/\" \"\"", false, "", 0, false, false},
        {"* LIST () \"/\" INBOX trailing", false, "", 0, false, false},
        {"* LIST () \"/\" INBOX (open", false, "", 0, false, false},
        {"* STATUS INBOX (MESSAGES 1)", false, "", 0, false, false},
        {"", false, "", 0, false, false},
    };
    for (const auto& c : cases)
    {
        TIdIMAP4Folder folder;
        ASSERT_EQ(ParseListLine(c.line, folder), c.parses) << c.line;
        if (!c.parses)
            continue;
        EXPECT_EQ(folder.Name, c.name) << c.line;
        EXPECT_EQ(folder.Delimiter, c.delimiter) << c.line;
        EXPECT_EQ(folder.Selectable(), c.selectable) << c.line;
        EXPECT_EQ(folder.SpecialUse(), c.special) << c.line;
    }
}

TEST(Imap4Folders, StatusLines)
{
    struct
    {
        const char* line;
        bool parses;
        const char* name;
        TIdIMAP4FolderState state;
    } const cases[] = {
        {"* STATUS INBOX (MESSAGES 3 UIDNEXT 10 UIDVALIDITY 7 UNSEEN 2)", true, "INBOX", {3, 10, 7, 2}},
        {"* STATUS \"Lists/dev \\\"x\\\"\" (UNSEEN 1 HIGHESTMODSEQ 184467440737095516)", true, "Lists/dev \"x\"",
         {0, 0, 0, 1}},
        {"STATUS Junk ()", true, "Junk", {}},
        {"* status Team (uidnext 4294967295)", true, "Team", {0, 4294967295u, 0, 0}},
        {"* STATUS INBOX (UIDNEXT 4294967296)", false, "", {}},
        {"* STATUS INBOX (UIDNEXT -1)", false, "", {}},
        {"* STATUS INBOX (UIDNEXT)", false, "", {}},
        {"* STATUS INBOX (UIDNEXT 5", false, "", {}},
        {"* STATUS INBOX UIDNEXT 5", false, "", {}},
        {"* STATUS (UIDNEXT 5)", false, "", {}},
        {"* STATUS INBOX (UIDNEXT 5) extra", false, "", {}},
        {"* LIST () \"/\" INBOX", false, "", {}},
    };
    for (const auto& c : cases)
    {
        std::string name = "before";
        TIdIMAP4FolderState state{9, 9, 9, 9};
        ASSERT_EQ(ParseStatusLine(c.line, name, state), c.parses) << c.line;
        if (c.parses)
        {
            EXPECT_EQ(name, c.name) << c.line;
            EXPECT_EQ(state, c.state) << c.line;
        }
        else
            EXPECT_EQ(name, "before") << c.line;
    }
}

TEST(Imap4Folders, NotifyLines)
{
    struct
    {
        const char* line;
        TIdIMAP4NotifyKind kind;
        const char* name;
    } const cases[] = {
        {"* STATUS Lists (MESSAGES 4 UIDNEXT 9)", TIdIMAP4NotifyKind::Status, "Lists"},
        {"* LIST () \"/\" Renamed (OLDNAME (\"Lists\"))", TIdIMAP4NotifyKind::List, "Renamed"},
        {"* LIST (\\NonExistent) \"/\" Gone", TIdIMAP4NotifyKind::List, "Gone"},
        {"* 12 EXISTS", TIdIMAP4NotifyKind::Selected, ""},
        {"* 3 EXPUNGE", TIdIMAP4NotifyKind::Selected, ""},
        {"* 3 FETCH (FLAGS (\\Seen))", TIdIMAP4NotifyKind::Selected, ""},
        {"* OK [NOTIFICATIONOVERFLOW] too much", TIdIMAP4NotifyKind::Overflow, ""},
        {"* OK still here", TIdIMAP4NotifyKind::Other, ""},
        {"* 3 RECENT", TIdIMAP4NotifyKind::Other, ""},
        {"* STATUS Lists (MESSAGES", TIdIMAP4NotifyKind::Other, ""},
        {"C5 OK NOTIFY completed", TIdIMAP4NotifyKind::Other, ""},
        {"*", TIdIMAP4NotifyKind::Other, ""},
    };
    for (const auto& c : cases)
    {
        const TIdIMAP4NotifyLine parsed = ParseNotifyLine(c.line);
        EXPECT_EQ(parsed.Kind, c.kind) << c.line;
        EXPECT_EQ(parsed.Name, c.name) << c.line;
    }
    EXPECT_EQ(ParseNotifyLine("* STATUS Lists (MESSAGES 4 UIDNEXT 9)").State, (TIdIMAP4FolderState{4, 9, 0, 0}));
}

// The commands quote every name, so a name with a quote or a space cannot
// end the command early.
TEST(Imap4Folders, CommandsQuoteTheNames)
{
    EXPECT_EQ(StatusCommand("a \"b\\"), "STATUS \"a \\\"b\\\\\" (MESSAGES UIDNEXT UIDVALIDITY UNSEEN)");
    EXPECT_EQ(ListStatusCommand({"INBOX", "Lists/x y"}),
              "LIST \"\" (\"INBOX\" \"Lists/x y\") RETURN (STATUS (MESSAGES UIDNEXT UIDVALIDITY UNSEEN))");
    EXPECT_EQ(NotifySetCommand({"INBOX", "Team"}, "INBOX"),
              "NOTIFY SET (selected (MessageNew MessageExpunge FlagChange)) (mailboxes (\"Team\") "
              "(MessageNew MessageExpunge FlagChange)) (personal (MailboxName))");
}

} // namespace

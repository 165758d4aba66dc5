// The POP3 reply form: status-word boundary, reply end, parsing, failure.
#include "mail/Pop3Reply.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

struct BoundaryCase
{
    const char* line;
    std::size_t boundary;
    bool ends;
};

TEST(ReplyPOP3, StatusWordBoundaryAndReplyEnd)
{
    const BoundaryCase cases[] = {
        {"+OK 2 320", 4, true},
        {"+OK", 4, true},
        {"-ERR", 6, true},               // past the end either way
        {"-ERR no such message", 5, true},
        {"-ERR [IN-USE] locked", 5, true}, // the "-" after the space is text
        {"+OK-more to come", 4, false},
        {"-ERR-more", 5, false},
        {"+ ", 2, true},
        {"+", 2, true},
        {"", 1, true},
        {"word-x y", 5, false},            // a "-" before the first space
        {"noSpaceNoDash", 14, true},
    };
    TIdReplyPOP3 reply;
    for (const auto& c : cases)
    {
        EXPECT_EQ(POP3StatusBoundary(c.line), c.boundary) << c.line;
        EXPECT_EQ(reply.EndsReply(c.line), c.ends) << c.line;
    }
}

TEST(ReplyPOP3, ExtendedCodeRecognition)
{
    for (const char* word : {"[IN-USE]", "[in-use]", "[LOGIN-DELAY]", "[SYS/PERM]", "[SYS/TEMP]",
                             "[AUTH]", "[SYS/TEMPORARY]", "[AUTH]x]", "", " "})
        EXPECT_TRUE(IsPOP3ExtendedCode(word)) << '"' << word << '"';
    for (const char* word : {"IN-USE", "[IN-USE", "IN-USE]", "[SYS]", "[UNKNOWN]", "[]", "[",
                             "locked", "[X-IN-USE]"})
        EXPECT_FALSE(IsPOP3ExtendedCode(word)) << '"' << word << '"';
}

struct ParseCase
{
    TIdStrings lines;
    std::string code;
    TIdStrings text;
    std::string enhanced;
};

TEST(ReplyPOP3, SetFormattedReply)
{
    const ParseCase cases[] = {
        {{"+OK 2 320"}, "+OK", {"2 320"}, ""},
        {{"+ok 2 320"}, "+OK", {"2 320"}, ""},
        {{"-err gone"}, "-ERR", {"gone"}, ""},
        {{"+OK"}, "+OK", {""}, ""},
        {{"+ c3VwZXI="}, "+", {"c3VwZXI="}, ""},
        {{"-ERR [IN-USE] locked"}, "-ERR", {"locked"}, "[IN-USE]"},
        {{"-ERR [in-use] locked"}, "-ERR", {"locked"}, "[in-use]"},
        {{"-ERR [SYS/TEMP/DISK] try later"}, "-ERR", {"try later"}, "[SYS/TEMP/DISK]"},
        {{"-ERR [NOPE] locked"}, "-ERR", {"[NOPE] locked"}, ""},
        {{"-ERR [AUTH]"}, "-ERR", {""}, "[AUTH]"},
        // Only an "-ERR" reply carries an extended code.
        {{"+OK [IN-USE] fine"}, "+OK", {"[IN-USE] fine"}, ""},
        // Multi-line: the code comes from the first line, every line's text
        // is kept.
        {{"+OK-first", "+OK second"}, "+OK", {"first", "second"}, ""},
        // No line with a known status word: "-ERR".
        {{"* BYE"}, "-ERR", {"BYE"}, ""},
        {{"hello"}, "-ERR", {""}, ""},
        {{""}, "-ERR", {""}, ""},
        // The first line has no known word, a later one has: no code.
        {{"x-first", "+OK second"}, "", {"first", "second"}, ""},
    };
    for (const auto& c : cases)
    {
        TIdReplyPOP3 reply;
        reply.SetFormattedReply(c.lines);
        EXPECT_EQ(reply.Code, c.code) << c.lines.front();
        EXPECT_EQ(reply.Text, c.text) << c.lines.front();
        EXPECT_EQ(reply.EnhancedCode, c.enhanced) << c.lines.front();
    }
}

TEST(ReplyPOP3, NewReplyIsOkAndParsingEmptiesEverything)
{
    TIdReplyPOP3 reply;
    EXPECT_EQ(reply.Code, "+OK");
    EXPECT_TRUE(reply.Text.empty());
    reply.SetFormattedReply({"-ERR [IN-USE] locked"});
    reply.SetFormattedReply({"+OK fine"});
    EXPECT_EQ(reply.Code, "+OK");
    EXPECT_EQ(reply.Text, TIdStrings{"fine"});
    EXPECT_EQ(reply.EnhancedCode, "");
}

TEST(ReplyPOP3, RaiseReplyFailureCarriesCodeAndTextLines)
{
    TIdReplyPOP3 reply;
    reply.SetFormattedReply({"-ERR-[SYS/PERM] first", "-ERR second"});
    try
    {
        reply.RaiseReplyFailure();
        FAIL() << "no error raised";
    }
    catch (const EIdReplyPOP3Error& e)
    {
        EXPECT_EQ(e.Code, "-ERR");
        EXPECT_EQ(e.Message, "first\r\nsecond\r\n");
        EXPECT_EQ(e.EnhancedCode, "[SYS/PERM]");
        EXPECT_STREQ(e.what(), "first\r\nsecond\r\n");
    }
}

} // namespace

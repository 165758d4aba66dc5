// Placeholder expansion of command lines and the arguments they give.

#include "FakeHost.h"

#include "check/CheckCycle.h"
#include "check/ExpandCommand.h"
#include "check/NewMailNews.h"
#include "check/Utils.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

namespace
{

TRowValues Values(const std::string& from, const std::string& subject, int msg = 2, int account = 1,
                  const std::string& size = "1.5 KB", const std::string& preview = "")
{
    return {.MessageNumber = msg, .AccountNumber = account, .From = from, .Subject = subject, .Size = size,
            .Preview = preview};
}

// The plain text expansion, built from ReplaceCount step by step.
std::string ReferenceExpansion(std::string text, const TRowValues& v)
{
    text = ReplaceCount(text, "%MSGID%", std::to_string(v.MessageNumber), 2147483647, 1);
    text = ReplaceCount(text, "%ACCOUNT%", "\"Account" + std::to_string(v.AccountNumber) + "\"",
                        2147483647, 1);
    text = ReplaceCount(text, "%FROM%", "\"" + v.From + "\"", 2147483647, 1);
    text = ReplaceCount(text, "%SUBJECT%", "\"" + v.Subject + "\"", 2147483647, 1);
    text = ReplaceCount(text, "%SIZE%", "\"" + v.Size + "\"", 2147483647, 1);
    text = ReplaceCount(text, "%PREVIEW%", "\"" + v.Preview + "\"", 2147483647, 1);
    return text;
}

struct Case
{
    const char* name;
    std::string command;
    TRowValues values;
    std::string text;
    std::vector<std::string> arguments;
};

TEST(ExpandCommand, TextAndArguments)
{
    const std::vector<Case> cases = {
        {"program with account, number and size",
         "notify %ACCOUNT% %MSGID% %SIZE%",
         Values("Ann", "Hi"),
         "notify \"Account1\" 2 \"1.5 KB\"",
         {"notify", "Account1", "2", "1.5 KB"}},
        {"a sender holding a placeholder is expanded again",
         "log %FROM%",
         Values("Ann %SUBJECT% x", "Hi there"),
         "log \"Ann \"Hi there\" x\"",
         {"log", "Ann \"Hi there\" x"}},
        {"lower-case placeholders stay",
         "log %from% %Subject%",
         Values("Ann", "Hi"),
         "log %from% %Subject%",
         {"log", "%from%", "%Subject%"}},
        {"a placeholder twice is replaced twice",
         "log %MSGID%-%MSGID% %FROM%%FROM%",
         Values("A", "S", 7),
         "log 7-7 \"A\"\"A\"",
         {"log", "7-7", "AA"}},
        {"empty values stay arguments",
         "log %SUBJECT% %FROM%",
         Values("", ""),
         "log \"\" \"\"",
         {"log", "", ""}},
        {"quoted program path with a blank",
         "\"/opt/my tools/log\" %FROM%",
         Values("Ann", "Hi"),
         "\"/opt/my tools/log\" \"Ann\"",
         {"/opt/my tools/log", "Ann"}},
        {"template quotes around a placeholder",
         "log \"subj: %SUBJECT%\"",
         Values("Ann", "Hi"),
         "log \"subj: \"Hi\"\"",
         {"log", "subj: Hi"}},
        {"unknown account number",
         "log %ACCOUNT%",
         Values("Ann", "Hi", 1, 4),
         "log \"Account4\"",
         {"log", "Account4"}},
        // Mail text cannot open or close an argument, nor reach a shell.
        {"hostile sender with quotes",
         "log %FROM% %SUBJECT%",
         Values("x\" --evil \"y", "s"),
         "log \"x\" --evil \"y\" \"s\"",
         {"log", "x\" --evil \"y", "s"}},
        {"hostile subject with shell text",
         "log %SUBJECT% %SIZE%",
         Values("a", "$(rm -rf ~); `id` | tee x & y > z"),
         "log \"$(rm -rf ~); `id` | tee x & y > z\" \"1.5 KB\"",
         {"log", "$(rm -rf ~); `id` | tee x & y > z", "1.5 KB"}},
        {"hostile sender injecting a placeholder and a quote",
         "log %FROM% %MSGID%",
         Values("\"%SUBJECT%\"", "a b"),
         "log \"\"\"a b\"\"\" 2",
         {"log", "\"\"a b\"\"", "2"}},
        {"a sender with only blanks",
         "log %FROM%",
         Values("   ", "s"),
         "log \"   \"",
         {"log", "   "}},
        {"tabs and repeated blanks of the template separate",
         "log\t\t%MSGID%   end",
         Values("a", "b", 3),
         "log\t\t3   end",
         {"log", "3", "end"}},
        {"nothing but blanks", "   ", Values("a", "b"), "   ", {}},
        {"the preview is one argument, whatever its quotes and placeholders",
         "log %PREVIEW% %SIZE%",
         Values("a", "b", 2, 1, "3 KB", "Hi \"all\" %SIZE% -rf"),
         "log \"Hi \"all\" %SIZE% -rf\" \"3 KB\"",
         {"log", "Hi \"all\" %SIZE% -rf", "3 KB"}},
        {"no preview read: an empty argument", "log %PREVIEW%", Values("a", "b"), "log \"\"", {"log", ""}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const TExpandedCommand expanded = ExpandCommandParts(c.command, c.values);
        EXPECT_EQ(expanded.Text, c.text);
        EXPECT_EQ(expanded.Text, ReferenceExpansion(c.command, c.values));
        EXPECT_EQ(ExpandCommand(c.command, c.values), c.text);
        ASSERT_EQ(expanded.Structural.size(), expanded.Text.size());
        EXPECT_EQ(expanded.Arguments(), c.arguments);
    }
}

TEST(ExpandCommand, ValuesComeFromTheRow)
{
    TMessageList rows;
    rows.Append({"Other", {"o", "o", "1  B"}, riMessage, false, "", "", ""});
    rows.Append({"Home", {"Ann", "first", "10  B"}, riMessage, false, "", "", ""});
    TMessageRow second{"Home", {"Bob", "second", "2 KB"}, riMessage, false, "", "", ""};
    second.Preview = "see you";
    rows.Append(second);
    const std::vector<TRowPlace> accounts = {{"", "Work"}, {"", "Home"}};
    // The second row of the first account's block of "Home" (account 2).
    EXPECT_EQ(ExpandCommand("tool %ACCOUNT% %MSGID% %SIZE% %FROM% %SUBJECT% %PREVIEW%", rows, accounts, 2),
              "tool \"Account2\" 2 \"2 KB\" \"Bob\" \"second\" \"see you\"");
    // No account with the row's caption: the number after the last one.
    EXPECT_EQ(ExpandCommand("%ACCOUNT% %MSGID%", rows, accounts, 0), "\"Account3\" 1");
}

} // namespace

// A subject of about 1 MB made one argument too long for the system, and the
// command silently never started.
TEST(ExpandCommand, HugeValuesAreCutSoTheCommandStillStarts)
{
    TRowValues values;
    values.Subject = std::string(1024 * 1024, 's');
    values.From = std::string(200 * 1024, 'f');
    const std::vector<std::string> args =
        ExpandCommandParts("sh -c \"exit 7\" %FROM% %SUBJECT%", values).Arguments();
    ASSERT_EQ(args.size(), 5u);
    EXPECT_EQ(args[3], std::string(MaxInsertedValue, 'f'));
    EXPECT_EQ(args[4], std::string(MaxInsertedValue, 's'));
    TChildProcess child(args, "");
    ASSERT_TRUE(child.WaitFor(5000));
    EXPECT_EQ(child.ExitCode(), 7);
}

TEST(ExpandCommand, ValuesBringingInPlaceholdersStayWithinTheLimit)
{
    TRowValues values;
    values.Subject = std::string(MaxInsertedValue, 's');
    for (int i = 0; i < 1000; ++i)
        values.From += "%SUBJECT%";
    const std::vector<std::string> args =
        ExpandCommandParts("sh -c \"exit 3\" x%FROM%", values).Arguments();
    ASSERT_EQ(args.size(), 4u);
    EXPECT_LE(args[3].size(), MaxInsertedTotal + 3);
    TChildProcess child(args, "");
    ASSERT_TRUE(child.WaitFor(5000));
    EXPECT_EQ(child.ExitCode(), 3);
}

// The Message-ID the mail client is given: without its angle brackets, and
// one argument whatever it holds, as a mail can put anything there.
TEST(ExpandCommand, MessageIdIsOneArgumentWhateverItHolds)
{
    const std::string long2k = std::string(2048, 'x') + "@example.org";
    const struct
    {
        const char* field;
        std::string id;
    } cases[] = {
        {"<abc@example.org>", "abc@example.org"},
        {"  <abc@example.org>  (comment) ", "abc@example.org"},
        {"no-brackets@example.org ", "no-brackets@example.org"},
        {"<a b \"c\" ; rm -rf ~ ; $(x) `y`@z>", "a b \"c\" ; rm -rf ~ ; $(x) `y`@z"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BareMessageId(c.field), c.id) << c.field;
    EXPECT_EQ(BareMessageId("<" + long2k + ">"), long2k);

    for (const std::string& id : {std::string("a b \"c\" ; rm -rf ~ ; $(x)@z"), long2k, std::string("\"\"")})
    {
        TRowValues values;
        values.MessageId = id;
        values.Folder = "Lists/dev x";
        EXPECT_EQ(MailClientArguments("mail -open mid:%MESSAGEID% %FOLDER%", values),
                  (std::vector<std::string>{"mail", "-open", "mid:" + id, "Lists/dev x"}))
            << id;
    }
}

// Read with no message in particular starts the client without the
// arguments that would name one; a command without them is left to the
// command-line starter, as before.
TEST(ExpandCommand, MailClientWithoutAMessage)
{
    EXPECT_FALSE(NamesMessage("thunderbird -mail"));
    EXPECT_TRUE(NamesMessage("thunderbird mid:%MESSAGEID%"));
    EXPECT_TRUE(NamesMessage("client --folder %FOLDER%"));
    EXPECT_EQ(MailClientArguments("\"/opt/my client/tb\" -x mid:%MESSAGEID% --folder=%FOLDER%"),
              (std::vector<std::string>{"/opt/my client/tb", "-x"}));
}

// The values of a message told in a notification, for its "Read".
TEST(ExpandCommand, ValuesOfAToldMessage)
{
    TToldMessage told;
    told.Account = 1;
    told.Number = 4;
    told.Mailbox = "Lists";
    told.Shown = TRowMessage("Ann", "Hi", "2 KB", "i:1:9");
    told.Shown.MessageId = "m1@x";
    EXPECT_EQ(ExpandCommand("c %ACCOUNT% %MSGID% %FOLDER% %MESSAGEID% %FROM%", RowValuesOfTold(told)),
              "c \"Account2\" 4 \"Lists\" \"m1@x\" \"Ann\"");
}

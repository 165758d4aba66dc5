// The small decisions of the check cycle and the numbers derived from rows.

#include "FakeHost.h"

#include "check/CheckRules.h"
#include "check/FolderList.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <clocale>

namespace
{

TEST(CheckRules, PriorityIsComparedAsAnUnsignedByte)
{
    struct Case
    {
        int required;
        int priority;
        bool counts;
    };
    const Case cases[] = {
        {2, 0, true},   {2, 2, true},    {2, 3, false},  {4, 4, true},  {4, 5, false},
        {4, 255, false}, {0, 0, true},   {0, 1, false},  {-1, 255, true}, {-1, 4, true},
        {-1, 5, true},  {3, 3, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PriorityCounts(c.required, c.priority), c.counts)
            << "required " << c.required << ", priority " << c.priority;
}

TEST(CheckRules, NotificationDecision)
{
    EXPECT_TRUE(ShouldNotify(true, 1, 1));
    EXPECT_FALSE(ShouldNotify(true, 0, 5));
    EXPECT_TRUE(ShouldNotify(false, 0, 5));
    EXPECT_FALSE(ShouldNotify(false, 3, 0)); // counted rows that failed again
}

TEST(CheckRules, HeadlineAndHint)
{
    EXPECT_EQ(Headline(-1), "There are no messages");
    EXPECT_EQ(Headline(0), "There are no messages");
    EXPECT_EQ(Headline(1), "There is a message to read");
    EXPECT_EQ(Headline(12), "There are 12 messages to read");
    EXPECT_EQ(TrayHint("There is a message to read", "9:05:01 PM"),
              "There is a message to read (last check: 9:05:01 PM)");
    const std::string hint = TrayHint(std::string(120, 'x'), "12:00:00");
    EXPECT_EQ(hint.size(), TrayHintLimit);
    EXPECT_EQ(hint, std::string(120, 'x') + " (last ");
    // A headline in the desktop's UTF-8 is not cut inside a character.
    const std::string wide = TrayHint(std::string(126, 'x') + "\xC3\xA4", "12:00:00");
    EXPECT_EQ(wide, std::string(126, 'x'));
}

TEST(CheckRules, LongTimeFormatOfTheLocale)
{
    std::tm t{};
    t.tm_hour = 7;
    t.tm_min = 5;
    t.tm_sec = 9;
    const std::string saved = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(LongTimeText(t), "07:05:09");
    t.tm_hour = 21;
    EXPECT_EQ(LongTimeText(t), "21:05:09");
    std::setlocale(LC_TIME, saved.c_str());
}

TEST(CheckRules, PortText)
{
    EXPECT_EQ(PortOfText("110"), 110);
    EXPECT_EQ(PortOfText("  995"), 995);
    EXPECT_EQ(PortOfText("+143"), 143);
    EXPECT_EQ(PortOfText("$6E"), 110);
    // The message names the text and what is wrong, for the account's error row.
    const std::pair<const char*, const char*> bad[] = {
        {"", "No port is given."},
        {" ", "No port is given."},
        {"11o", "The port '11o' is not a number."},
        {"110abc", "The port '110abc' is not a number."},
        {"110 ", "The port '110 ' is not a number."},
        {"pop", "The port 'pop' is not a number."},
        {"99999999999", "The port '99999999999' is not a number."},
    };
    for (const auto& [text, message] : bad)
    {
        try
        {
            PortOfText(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        }
        catch (const EBadPort& e)
        {
            EXPECT_EQ(e.Message, message);
        }
    }
}

TEST(CheckRules, PortOutsideTcpRangeIsRefusedNotWrapped)
{
    const std::pair<const char*, const char*> cases[] = {
        {"70000", "70000"}, {"65536", "65536"}, {"0", "0"}, {"-110", "-110"}, {"$11170", "70000"}};
    for (const auto& [text, shown] : cases)
    {
        try
        {
            PortOfText(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        }
        catch (const EPortOutOfRange& e)
        {
            EXPECT_EQ(e.Message, std::string("Port ") + shown + " is not between 1 and 65535.");
        }
    }
    EXPECT_EQ(PortOfText("1"), 1);
    EXPECT_EQ(PortOfText("65535"), 65535);
}

// An IMAP4 identity names its UID only under the UIDVALIDITY it was made
// with; nothing else passes for one.
TEST(MessageRows, RowIdentityIsReadAsItWasWritten)
{
    std::uint32_t uid = 0;
    EXPECT_TRUE(TRowId::Imap4(7, 42).Imap4Uid(7, uid));
    EXPECT_EQ(uid, 42u);
    for (const char* id : {"i:8:42", "i:7:", "i:7:0", "i:7:x", "i:7:4294967296", "u:i:7:42", "f:i:7:42"})
        EXPECT_FALSE(TRowId{id}.Imap4Uid(7, uid)) << id;
    EXPECT_FALSE(TRowId::Imap4(0, 42).Imap4Uid(0, uid));
    EXPECT_TRUE(TRowId::Pop3("i:7:42").IsPop3());
    EXPECT_FALSE(TRowId::Print("abc").IsPop3());
    EXPECT_NE(RowKeyText({"k", "a\nb", "INBOX"}, "1"), RowKeyText({"k\na", "b", "INBOX"}, "1"));
}

TEST(MessageRows, NumbersOfARow)
{
    TMessageList rows;
    for (const char* caption : {"Home", "Home", "Work", "Home2", "Gone"})
        rows.Append({caption, {}, riMessage, false, "", "", ""});
    const std::vector<TRowPlace> accounts = {{"", "Work"}, {"", "Home"}, {"", "Home2"}, {"", "Home"}};
    const int accountNumbers[] = {2, 2, 1, 3, 5};
    const int messageNumbers[] = {1, 2, 1, 1, 1};
    for (int i = 0; i < rows.Count(); ++i)
    {
        EXPECT_EQ(AccountNumberOfRow(rows, accounts, i), accountNumbers[i]) << i;
        EXPECT_EQ(MessageNumberOfRow(rows, i), messageNumbers[i]) << i;
    }
    EXPECT_EQ(FirstRowOf(rows, {"", "home"}), -1); // case-sensitive
}

// The folder choice: the server's folders ticked as the account stores
// them, the inbox alone when it stores none, special-use folders never
// ticked unless stored so, stored folders the server lost kept after them;
// what OK stores is the ticked rows and the ones stored before.
TEST(FolderChoice, TicksAsStoredAndStoresTheTicks)
{
    const std::vector<TServerFolder> server = {
        {"INBOX"}, {"Junk", true}, {"Lists"}, {"Lists/dev"}, {"Shared", false, false}, {"Sent", true}};
    struct
    {
        const char* name;
        std::vector<TAccountFolder> stored;
        std::vector<std::string> ticked;
        std::vector<std::string> lost; // stored, not on the server
    } const cases[] = {
        {"none stored", {}, {"INBOX"}, {}},
        {"one folder", {{"Lists", true}}, {"Lists"}, {}},
        {"junk ticked by the user", {{"inbox", true}, {"Junk", true}}, {"INBOX", "Junk"}, {}},
        {"unticked and lost", {{"INBOX", false}, {"Old", true}, {"Shared", true}}, {"Old"}, {"Old"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::vector<TFolderChoice> choices = FolderChoices(server, c.stored);
        std::vector<std::string> ticked, lost;
        for (const TFolderChoice& choice : choices)
        {
            if (choice.Watched)
                ticked.push_back(choice.Name);
            if (!choice.OnServer)
                lost.push_back(choice.Name);
        }
        EXPECT_EQ(ticked, c.ticked);
        EXPECT_EQ(lost, c.lost);
        EXPECT_EQ(choices.size(), server.size() + c.lost.size());
    }
    std::vector<TFolderChoice> choices = FolderChoices(server, {{"Lists", true}, {"Sent", false}});
    choices[1].Watched = true; // Junk, by the user
    choices[2].Watched = false; // Lists
    EXPECT_EQ(ChosenFolders(choices), (std::vector<TAccountFolder>{{"Junk", true}, {"Lists", false}, {"Sent", false}}));
}

} // namespace

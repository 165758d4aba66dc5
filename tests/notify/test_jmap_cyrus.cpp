// The JMAP check and Delete clients against a real Cyrus IMAP: the first
// check, a repeat with one new message in one request, watched folders,
// and Delete and Mark as read as IMAP4 on the same server sees them.

#include "check/CheckCycle.h"
#include "check/FolderList.h"
#include "check/JmapCheckClient.h"
#include "check/JmapMemory.h"
#include "notify/JmapDeleteClient.h"
#include "support/Cyrus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace
{

std::string Message(const std::string& subject, const std::string& body)
{
    return "From: Ann Bee <ann@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nMessage-ID: <" + subject + "@example.org>\r\nDate: Thu, 10 Dec 2026 04:00:00 +0000\r\n\r\n" + body +
           "\r\n";
}

class JmapCyrus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = Cyrus::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        server.AddUser("bob", "pa ss");
        server.Start();
        account.JMAP = true;
        account.Host = server.SessionUrl();
        account.UserName = "bob";
        account.Password = "pa ss";
    }

    TAccountReport Check(const TSessionOrder& order = {})
    {
        TJmapCheckClient client(limits, nullptr);
        client.ReadPreviews = true;
        client.SetAccount(account, 0);
        TAccountReport report = CheckSession(client, MaxListedMessages, order);
        requests = client.Requests();
        return report;
    }

    Cyrus server;
    Account account;
    TSessionLimits limits{5000, 5000, 20000, nullptr, nullptr, std::make_shared<TJmapMemory>()};
    int requests = 0;
};

std::unordered_set<std::string> Known(const TFolderListing& listing)
{
    return {listing.Ids.begin(), listing.Ids.end()};
}

// The listed message of that subject: messages delivered within one second
// may come in any order.
int Numbered(const TFolderListing& listing, const std::string& subject)
{
    for (std::size_t i = 0; i < listing.Fetched.size(); ++i)
        if (listing.Fetched[i].Header.Subject == subject)
            return listing.Numbers[i] - listing.First;
    ADD_FAILURE() << "no message \"" << subject << "\"";
    return 0;
}

} // namespace

TEST_F(JmapCyrus, FirstCheckThenARepeatWithOneNewInOneRequest)
{
    server.Deliver("bob", Message("first", "Body text number 1 here."));
    server.Deliver("bob", Message("second", "Body text number 2 here."));
    const TAccountReport first = Check();
    ASSERT_EQ(first.Error, "");
    ASSERT_EQ(first.Fetched.size(), 2u);
    const TFetchedMessage& second = first.Fetched[static_cast<std::size_t>(Numbered(first, "second"))];
    EXPECT_EQ(second.Header.From, "Ann Bee <ann@example.org>");
    EXPECT_EQ(second.Header.MessageId, "<second@example.org>");
    EXPECT_NE(second.Header.Preview.Text().find("Body text number 2"), std::string::npos) << "the server's own preview";
    EXPECT_GT(second.Size, 0);

    // Nothing new: one request, nothing fetched.
    TSessionOrder order;
    order.Known = Known(first);
    const TAccountReport quiet = Check(order);
    ASSERT_EQ(quiet.Error, "");
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(quiet.Ids, first.Ids);
    EXPECT_TRUE(quiet.Fetched.empty());

    server.Deliver("bob", Message("third", "Body text number 3 here."));
    const TAccountReport repeat = Check(order);
    ASSERT_EQ(repeat.Error, "");
    EXPECT_EQ(requests, 1);
    ASSERT_EQ(repeat.Ids.size(), 3u);
    ASSERT_EQ(repeat.Fetched.size(), 1u);
    EXPECT_EQ(repeat.Fetched[0].Header.Subject, "third");

    // Read elsewhere (IMAP4): no longer listed.
    server.Imap("bob", {"SELECT INBOX", "STORE 1 +FLAGS (\\Seen)"});
    order.Known = Known(repeat);
    const TAccountReport afterRead = Check(order);
    EXPECT_EQ(requests, 1);
    std::vector<std::string> left = first.Ids;
    left.erase(left.begin() + Numbered(first, "first"));
    left.push_back(repeat.Ids[static_cast<std::size_t>(repeat.Numbers[0] - repeat.First)]);
    std::sort(left.begin(), left.end());
    std::vector<std::string> listed = afterRead.Ids;
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, left);
}

TEST_F(JmapCyrus, WatchedFoldersAreListedEachFromItsMailbox)
{
    server.CreateFolder("bob", "Lists");
    server.Deliver("bob", Message("inbox-mail", "In the inbox."));
    server.Deliver("bob", Message("list-mail", "On a list."), "Lists");
    account.Folders = {{"INBOX", true}, {"Lists", true}, {"Missing", true}};
    TSessionOrder order;
    for (const std::string& f : WatchedFolders(account))
        order.Folders.push_back({f, {}, {}, {}});
    const TAccountReport report = Check(order);
    ASSERT_EQ(report.Error, "");
    ASSERT_EQ(report.Folders.size(), 3u);
    ASSERT_EQ(report.Folders[0].Fetched.size(), 1u);
    EXPECT_EQ(report.Folders[0].Fetched[0].Header.Subject, "inbox-mail");
    ASSERT_EQ(report.Folders[1].Fetched.size(), 1u);
    EXPECT_EQ(report.Folders[1].Fetched[0].Header.Subject, "list-mail");
    EXPECT_NE(report.Folders[2].Error, "") << "a watched folder the server does not have";

    // The choice in the settings lists them by the same names, the inbox first.
    const TServerFolders listed = ListServerFolders(account, 0, limits, nullptr);
    ASSERT_EQ(listed.Error, "");
    ASSERT_FALSE(listed.Folders.empty());
    EXPECT_EQ(listed.Folders[0].Name, "INBOX");
    EXPECT_TRUE(std::any_of(listed.Folders.begin(), listed.Folders.end(),
                            [](const TServerFolder& f) { return f.Name == "Lists" && !f.SpecialUse; }));
}

TEST_F(JmapCyrus, DeleteAndMarkAsReadAsImap4SeesThem)
{
    server.Deliver("bob", Message("keep", "One."));
    server.Deliver("bob", Message("read", "Two."));
    server.Deliver("bob", Message("gone", "Three."));
    const TAccountReport report = Check();
    ASSERT_EQ(report.Ids.size(), 3u);
    const auto row = [&](const std::string& subject) {
        const std::size_t i = static_cast<std::size_t>(Numbered(report, subject));
        return TRowMessage(report.Fetched[i].Header.From, subject, "", report.Ids[i]);
    };
    TJmapDeleteClient client(limits, nullptr);
    client.SetAccount(account, 0);
    client.Connect();
    ASSERT_TRUE(client.StillShows(2, row("read")));
    client.MarkRead(2);
    ASSERT_TRUE(client.StillShows(3, row("gone")));
    client.DeleteMessage(3);
    EXPECT_FALSE(client.StillShows(2, row("read"))) << "read now: no longer the unseen message the row shows";
    EXPECT_FALSE(client.StillShows(3, row("gone"))) << "gone";
    EXPECT_FALSE(client.StillShows(1, TRowMessage("x", "y", "", "j:nosuchid"))) << "an id the server never gave";
    client.Disconnect();
    const std::vector<std::string> flags = server.Flags("bob");
    ASSERT_EQ(flags.size(), 2u) << "one message destroyed";
    EXPECT_EQ(flags[0], "");
    EXPECT_NE(flags[1].find("\\Seen"), std::string::npos);
}

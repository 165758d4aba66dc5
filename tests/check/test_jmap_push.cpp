// JMAP push: the event stream heard through the tests' relay in front of a
// real Cyrus IMAP, Cyrus's own 204 answer taken as no push, the look at the
// interval, and hostile streams ending the session cleanly.

#include "check/CheckCycle.h"
#include "check/Imap4PushClient.h"
#include "check/JmapCheckClient.h"
#include "check/JmapMemory.h"
#include "check/JmapPushClient.h"
#include "mail/EventStream.h"
#include "support/Cyrus.h"
#include "support/JmapPushRelay.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{

const std::string Mail = "From: ann@example.org\r\nSubject: pushed\r\n\r\nHello.\r\n";

class JmapPush : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = Cyrus::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        server.AddUser("bob", "secret");
        server.Start();
        account.JMAP = true;
        account.UserName = "bob";
        account.Password = "secret";
    }

    // A check, so the memory holds the Email state the looks compare with.
    void Check()
    {
        TJmapCheckClient client(limits, nullptr);
        client.SetAccount(account, 0);
        ASSERT_EQ(CheckSession(client, MaxListedMessages, std::unordered_set<std::string>{}).Error, "");
    }

    Cyrus server;
    Account account;
    TSessionLimits limits{5000, 5000, 20000, nullptr, nullptr, std::make_shared<TJmapMemory>()};
};

} // namespace

TEST_F(JmapPush, TheStreamTellsOfNewMailAndTheLookOfWhatCameMeanwhile)
{
    JmapPushRelay relay(server.HttpPort());
    account.Host = relay.SessionUrl();
    Check();
    std::unique_ptr<TPushClient> push = MakePushClient(account, limits, nullptr);
    ASSERT_EQ(push->Open(), TPushClient::TOpened::Ready);
    push->Start();
    EXPECT_FALSE(push->Renew()) << "nothing came since the check";
    EXPECT_FALSE(push->Wait(600, 600)) << "a quiet stream";
    server.Deliver("bob", Mail);
    EXPECT_TRUE(push->Wait(10000, 10000)) << "the delivery told on the stream";
    EXPECT_TRUE(push->Renew()) << "the check has not read it yet";
    Check();
    EXPECT_FALSE(push->Renew());
    push->Close();
}

TEST_F(JmapPush, AServerAnsweringItsEventSourceWithNoContentIsPolled)
{
    account.Host = server.SessionUrl();
    std::unique_ptr<TPushClient> push = MakePushClient(account, limits, nullptr);
    EXPECT_EQ(push->Open(), TPushClient::TOpened::NoIdle);
    account.Password = "wrong";
    limits.Jmap = std::make_shared<TJmapMemory>();
    EXPECT_EQ(MakePushClient(account, limits, nullptr)->Open(), TPushClient::TOpened::Refused);
}

TEST(JmapPushStream, HostileStreamsEndTheSession)
{
    const std::string session =
        R"({"capabilities":{"urn:ietf:params:jmap:core":{},"urn:ietf:params:jmap:mail":{}},)"
        R"("primaryAccounts":{"urn:ietf:params:jmap:mail":"ann"},"apiUrl":"/jmap/",)"
        R"("eventSourceUrl":"/es?types={types}&closeafter={closeafter}&ping={ping}"})";
    const std::string answer = "R: HTTP/1.1 200 OK\\r\\nContent-Length: " + std::to_string(session.size()) +
                               "\\r\\n\\r\\n" + session + "\nACCEPT\n";
    const std::string stream = "C~ GET /es?types=Email,Mailbox&closeafter=no&ping=240 HTTP/1.1\n"
                               "R: HTTP/1.1 200 OK\\r\\nContent-Type: text/event-stream\\r\\n\\r\\n\n";
    Account account;
    account.JMAP = true;
    account.UserName = "ann";
    account.Password = "x";
    const TSessionLimits limits{1000, 1000, 3000, nullptr, nullptr, std::make_shared<TJmapMemory>()};
    {
        // A line without end: cut off at its bound, not held.
        ScriptedServer srv("C~ GET\n" + answer + stream + "FLOOD 4194304 xxxxxxxxxxxxxxxx\n");
        account.Host = "http://127.0.0.1:" + std::to_string(srv.Port()) + "/s";
        std::unique_ptr<TPushClient> push = MakePushClient(account, limits, nullptr);
        ASSERT_EQ(push->Open(), TPushClient::TOpened::Ready);
        EXPECT_THROW(push->Wait(5000, 5000), EIdReplyTooLarge);
        push->Close();
        EXPECT_TRUE(srv.WaitDone(5000)) << "the flood ends with the line";
    }
    {
        // An event source that never answers costs one read time-out.
        ScriptedServer srv("C~ GET\n" + answer + "C~ GET /es\nSTALL\n");
        account.Host = "http://127.0.0.1:" + std::to_string(srv.Port()) + "/s";
        limits.Jmap->Forget("");
        std::unique_ptr<TPushClient> push = MakePushClient(account, {1000, 300, 3000, nullptr, nullptr, nullptr},
                                                           nullptr);
        EXPECT_THROW(push->Open(), EIdReadTimeout);
    }
    {
        // A stream the server closes: the session is lost, and opened again.
        ScriptedServer srv("C~ GET\n" + answer + stream + "R: : hello\\n\\n\nCLOSE\n");
        account.Host = "http://127.0.0.1:" + std::to_string(srv.Port()) + "/s";
        std::unique_ptr<TPushClient> push = MakePushClient(account, {1000, 1000, 3000, nullptr, nullptr, nullptr},
                                                           nullptr);
        ASSERT_EQ(push->Open(), TPushClient::TOpened::Ready);
        EXPECT_THROW(push->Wait(5000, 5000), EIdConnectionLost);
    }
}

TEST(EventStream, ReadsEventsAsTheyArriveInAnyPieces)
{
    const std::string bytes = ": comment\r\nevent: state\r\ndata: {\"a\":\r\ndata: 1}\r\n\r\n"
                              "data: plain\n\nevent: ping\rdata: {}\r\r";
    for (std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{7}})
    {
        TEventStreamReader reader;
        std::vector<TServerEvent> events;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            ASSERT_TRUE(reader.Feed(std::string_view(bytes).substr(at, piece), events));
        ASSERT_EQ(events.size(), 3u) << "pieces of " << piece;
        EXPECT_EQ(events[0].Name, "state");
        EXPECT_EQ(events[0].Data, "{\"a\":\n1}");
        EXPECT_EQ(events[1].Name, "message");
        EXPECT_EQ(events[2].Name, "ping");
    }
    TChunkedReader chunks;
    std::string plain;
    EXPECT_TRUE(chunks.Feed("5;x=1\r\nhello\r\n", plain));
    EXPECT_TRUE(chunks.Feed("1\r\n!\r\n", plain));
    EXPECT_FALSE(chunks.Feed("0\r\n\r\n", plain));
    EXPECT_TRUE(chunks.Ended());
    EXPECT_EQ(plain, "hello!");
    TChunkedReader bad;
    EXPECT_FALSE(bad.Feed("zz\r\n", plain));
    EXPECT_FALSE(bad.Problem().empty());
    EXPECT_TRUE(JmapStateChanged(R"({"@type":"StateChange","changed":{"ann":{"Email":"2"}}})", "ann"));
    EXPECT_FALSE(JmapStateChanged(R"({"@type":"StateChange","changed":{"bob":{"Email":"2"}}})", "ann"));
    EXPECT_FALSE(JmapStateChanged(R"({"@type":"Ping","interval":240})", "ann"));
}

// The push sessions' bookkeeping over clients that idle until told: one per
// account, news and health handed to the user-interface thread, and closing.

#include "app/PushSessions.h"
#include "mail/IdLineAbort.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>

namespace
{

// Idles until its line is aborted; `News` makes the next wait report news.
// The accounts named in `Failing` cannot connect; `Waited` is the time of
// the last wait.
struct TShared
{
    std::atomic<int> Opened{0};
    std::atomic<bool> News{false};
    std::mutex Lock;
    std::set<std::string> Failing;
    std::atomic<int> Waited{0};
};

class TIdlingClient : public TPushClient
{
public:
    TIdlingClient(TShared& shared, const Account& account, std::shared_ptr<TIdLineAbort> abort)
        : FShared(shared), FCaption(account.Caption), FAbort(std::move(abort))
    {
    }
    TOpened Open() override
    {
        ++FShared.Opened;
        std::lock_guard<std::mutex> lock(FShared.Lock);
        if (FShared.Failing.count(FCaption))
            throw std::runtime_error("unreachable");
        return TOpened::Ready;
    }
    void Start() override {}
    bool Wait(int milliseconds, int) override
    {
        FShared.Waited = milliseconds;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end)
        {
            if (FAbort->Aborted())
                throw std::runtime_error("aborted");
            if (FShared.News.exchange(false))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool Renew() override { return false; }
    void Close() noexcept override {}

private:
    TShared& FShared;
    std::string FCaption;
    std::shared_ptr<TIdLineAbort> FAbort;
};

Account Imap(const std::string& caption, bool push = true)
{
    Account a{caption, true, "u", "pw", "127.0.0.1", "143", true};
    a.Push = push;
    return a;
}

// A reconnection waits an hour unless something cuts it short.
TPushTimes HourBeforeRetrying()
{
    TPushTimes times;
    times.FirstRetry = 60 * 60 * 1000;
    return times;
}

class PushSessionsTest : public testing::Test
{
protected:
    TShared shared;
    TPushSessions push{[this](const Account& account, std::shared_ptr<TIdLineAbort> abort) {
                           return std::make_unique<TIdlingClient>(shared, account, std::move(abort));
                       },
                       HourBeforeRetrying()};
};

TEST_F(PushSessionsTest, OneSessionPerAccountTellingHealthAndNewsHere)
{
    std::vector<std::string> news;
    push.OnNews = [&news](const Account& a) { news.push_back(a.Caption); };
    for (const Account& a : {Imap("a"), Imap("a"), Imap("b"), Imap("off", false)})
        push.Open(a);
    EXPECT_EQ(push.Count(), 2);
    ASSERT_TRUE(WaitUntil([this] { return push.Healthy(Imap("a")) && push.Healthy(Imap("b")); }, 5000));
    EXPECT_FALSE(push.Healthy(Imap("off", false)));

    shared.News = true;
    ASSERT_TRUE(WaitUntil([&news] { return news.size() == 1; }, 5000));

    push.Keep({Imap("b")});
    EXPECT_EQ(push.Count(), 1);
    EXPECT_FALSE(push.Healthy(Imap("a")));
    push.CloseAll();
    EXPECT_TRUE(push.Join(5000)) << "an idling line ends at once when closed";
    EXPECT_EQ(shared.Opened, 2);
}

// After a sleep the old line may have missed mail: the new session tells
// news as soon as it idles, at the same pace of looks as the old one.
TEST_F(PushSessionsTest, ReopenOpensEachSessionAnewAndTellsNews)
{
    int news = 0;
    push.OnNews = [&news](const Account&) { ++news; };
    push.Open(Imap("a"), 40);
    ASSERT_TRUE(WaitUntil([this] { return push.Healthy(Imap("a")) && shared.Waited == 40; }, 5000));
    EXPECT_EQ(news, 0);
    push.Reopen();
    EXPECT_EQ(push.Count(), 1);
    ASSERT_TRUE(WaitUntil([this] { return shared.Opened == 2 && push.Healthy(Imap("a")); }, 5000));
    EXPECT_TRUE(WaitUntil([&news] { return news == 1; }, 5000));
    shared.Waited = 0;
    EXPECT_TRUE(WaitUntil([this] { return shared.Waited == 40; }, 5000));

    // Another pace of looks is another session; the same pace keeps it.
    push.Open(Imap("a"), 40);
    EXPECT_EQ(shared.Opened, 2);
    push.Open(Imap("a"), 30);
    EXPECT_EQ(push.Count(), 1);
    EXPECT_TRUE(WaitUntil([this] { return shared.Opened == 3 && shared.Waited == 30; }, 5000));
}

// A session waiting an hour to reconnect tries at once when another
// session's line works, or when its owner says a line works again.
TEST_F(PushSessionsTest, AWorkingLineCutsTheWaitToReconnectShort)
{
    for (const bool byAnotherSession : {true, false})
    {
        SCOPED_TRACE(byAnotherSession ? "another session idles" : "nudged");
        {
            std::lock_guard<std::mutex> lock(shared.Lock);
            shared.Failing = {"a"};
        }
        const int opened = shared.Opened;
        push.Open(Imap("a"));
        ASSERT_TRUE(WaitUntil([&] { return shared.Opened == opened + 1; }, 5000));
        {
            std::lock_guard<std::mutex> lock(shared.Lock);
            shared.Failing.clear();
        }
        EXPECT_FALSE(WaitUntil([this] { return push.Healthy(Imap("a")); }, 300));
        if (byAnotherSession)
            push.Open(Imap("b"));
        else
            push.Nudge();
        EXPECT_TRUE(WaitUntil([this] { return push.Healthy(Imap("a")); }, 5000));
        push.CloseAll();
        ASSERT_TRUE(push.Join(5000));
    }
}

} // namespace

// The push sessions' bookkeeping over clients that idle until told: one per
// account, news and health handed to the user-interface thread, and closing.

#include "app/PushSessions.h"
#include "mail/IdLineAbort.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

// Idles until its line is aborted; `News` makes the next wait report news.
struct TShared
{
    std::atomic<int> Opened{0};
    std::atomic<bool> News{false};
};

class TIdlingClient : public TPushClient
{
public:
    TIdlingClient(TShared& shared, std::shared_ptr<TIdLineAbort> abort) : FShared(shared), FAbort(std::move(abort))
    {
    }
    TOpened Open() override
    {
        ++FShared.Opened;
        return TOpened::Ready;
    }
    void Start() override {}
    bool Wait(int milliseconds, int) override
    {
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
    std::shared_ptr<TIdLineAbort> FAbort;
};

Account Imap(const std::string& caption, bool push = true)
{
    Account a{caption, true, "u", "pw", "127.0.0.1", "143", true};
    a.Push = push;
    return a;
}

class PushSessionsTest : public testing::Test
{
protected:
    TShared shared;
    TPushSessions push{[this](const Account&, std::shared_ptr<TIdLineAbort> abort) {
        return std::make_unique<TIdlingClient>(shared, std::move(abort));
    }};
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

TEST_F(PushSessionsTest, ReopenOpensEachSessionAnew)
{
    push.Open(Imap("a"));
    ASSERT_TRUE(WaitUntil([this] { return push.Healthy(Imap("a")); }, 5000));
    push.Reopen();
    EXPECT_EQ(push.Count(), 1);
    ASSERT_TRUE(WaitUntil([this] { return shared.Opened == 2 && push.Healthy(Imap("a")); }, 5000));
}

} // namespace

// Push as the field sees it: Dovecot behind a link whose packets are dropped
// without a reset or a FIN, the sleep and the network told by stand-ins for
// logind and NetworkManager on a private bus, and GNU Mailutils' imap4d,
// whose IDLE says nothing. The program's wiring runs in this process.

#include "check/MessageList.h"
#include "desktop/WakeWatch.h"
#include "support/DesktopStandIns.h"
#include "support/Dovecot.h"
#include "support/FakeClock.h"
#include "support/Imap4d.h"
#include "support/PrivateKeyring.h"
#include "support/PrivateLink.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

std::string Mail(const std::string& subject)
{
    return "From: ann@example.org\r\nTo: someone@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n";
}

class PushField : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        LoadPending = false;
        keeper->Config.Execute = "told %SUBJECT%";
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
        wired->mailCheck.RunCommand = [this](const std::vector<std::string>& arguments) {
            told.push_back(arguments.back());
        };
    }

    void TearDown() override
    {
        wired.reset();
        wake.reset();
        desktop.reset();
        bus.reset();
        if (settings)
            UiFixture::TearDown();
        mailutils.reset();
        server.reset();
        link.reset();
    }

    // Why this machine cannot have Dovecot behind a link; empty when it can.
    static std::string NoLink()
    {
        const std::string why = PrivateLink::Unavailable();
        return why.empty() ? Dovecot::Unavailable() : why;
    }
    // Dovecot with these users (password "secret") at the far end of the link.
    void ServeBehindLink(const std::vector<std::string>& users)
    {
        link = std::make_unique<PrivateLink>();
        server = std::make_unique<Dovecot>();
        for (const std::string& user : users)
            server->AddUser(user, "secret");
        link->OnFarSide([this] {
            server->ServeOn(PrivateLink::FarAddress);
            server->Start();
        });
    }

    // An account of `user` on the far Dovecot.
    static Account On(const std::string& caption, const std::string& user, bool imap4, int ownInterval = 0)
    {
        Account account;
        account.Caption = caption;
        account.UserName = user;
        account.Password = "secret";
        account.Host = PrivateLink::FarAddress;
        account.Port = imap4 ? "143" : "110";
        account.IMAP4 = imap4;
        account.CheckingTime = ownInterval;
        return account;
    }

    void Tick()
    {
        wired->shell.timMailTimer();
        wired->WaitForChecks();
    }
    bool Told(const std::string& subject) const
    {
        return std::find(told.begin(), told.end(), subject) != told.end();
    }
    bool Healthy(int index) const { return wired->push->Healthy(keeper->Config.Accounts[index]); }
    // The texts of the error rows.
    std::string Errors()
    {
        std::string why;
        TMessageList& rows = wired->mailCheck.Rows();
        for (int i = 0; i < rows.Count(); ++i)
            if (rows.ImageIndex(i) == riError)
                why += rows.Caption(i) + ": " + rows.Row(i).Hint + "\n";
        return why;
    }

    std::unique_ptr<PrivateLink> link;
    std::unique_ptr<Dovecot> server;
    std::unique_ptr<Imap4d> mailutils;
    std::unique_ptr<PrivateKeyring> bus;
    TBusConnections connections;
    std::unique_ptr<TDesktopStandIns> desktop;
    std::unique_ptr<TWakeWatch> wake;
    std::unique_ptr<WiredShell> wired;
    std::vector<std::string> told;
};

struct TWakeCase
{
    const char* Name;
    bool Sleeps; // logind's sleep, else NetworkManager's State 20 then 70
};
void PrintTo(const TWakeCase& c, std::ostream* os)
{
    *os << c.Name;
}

// The shell follows the sleep and network watcher on a private bus where
// the stand-ins play logind and NetworkManager.
class PushFieldWake : public PushField, public testing::WithParamInterface<TWakeCase>
{
protected:
    void SetUp() override
    {
        std::string why = NoLink();
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
        // As with the notification tests, its runtime (LLVM 14) stops on an
        // internal check ("!thr->slot") once the bus's process is started.
        why = "the thread sanitizer's runtime fails on the private bus's process";
#endif
#endif
        if (why.empty())
            why = PrivateKeyring::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        PushField::SetUp();
        bus = std::make_unique<PrivateKeyring>(PrivateKeyring::TSetup::WithoutService);
        desktop = std::make_unique<TDesktopStandIns>(connections, bus->Address());
        wake = std::make_unique<TWakeWatch>(connections.Connect(bus->Address(), "watch"));
        wired->shell.Follow(*wake);
    }
};

// The line dies while the machine sleeps (or its network is gone) and mail
// comes to a pushed account and to one checked at its own hour; after the
// wake both are told, though the new push session idles at once and the
// polled account is not due.
TEST_P(PushFieldWake, MailThatCameMeanwhileIsToldAfterTheWake)
{
    ServeBehindLink({"ann", "bob"});
    keeper->Config.Accounts = {On("Pushed", "ann", true), On("Polled", "bob", false, 3600)};
    wired->StartPush();
    server->Deliver("ann", Mail("before"));
    Tick();
    ASSERT_TRUE(Told("before")) << Errors();
    ASSERT_TRUE(WaitUntil([this] { return Healthy(0); }, 10000)) << "IDLE never started";

    if (GetParam().Sleeps)
        desktop->PrepareForSleep(true);
    else
    {
        desktop->NetworkState(20);
        ASSERT_TRUE(WaitUntil([this] { return wake->Offline(); }, 5000));
    }
    link->Drop();
    server->Deliver("ann", Mail("pushed meanwhile"));
    server->Deliver("bob", Mail("polled meanwhile"));
    if (GetParam().Sleeps)
        desktop->PrepareForSleep(false);
    else
        desktop->NetworkState(70);
    // The wake-up opens the push session anew; the network comes back just
    // after, as it does after a resume.
    ASSERT_TRUE(WaitUntil([this] { return !Healthy(0); }, 5000));
    link->Restore();
    EXPECT_TRUE(WaitUntil([this] { return Told("pushed meanwhile") && Told("polled meanwhile"); }, 15000))
        << Errors();
    EXPECT_TRUE(WaitUntil([this] { return Healthy(0); }, 10000));
}

INSTANTIATE_TEST_SUITE_P(Wakes, PushFieldWake,
                         testing::Values(TWakeCase{"Resume", true}, TWakeCase{"NetworkBack", false}),
                         [](const testing::TestParamInfo<TWakeCase>& info) { return std::string(info.param.Name); });

// A longer outage: the push session is lost and waits an hour to try
// again. The network comes back unannounced; the first account that is
// checked well again makes the session try at once, and the mail that came
// meanwhile is told by it.
TEST_F(PushField, AWorkingLineAgainCutsTheWaitToReconnectShort)
{
    if (const std::string why = NoLink(); !why.empty())
        GTEST_SKIP() << why;
    ServeBehindLink({"ann", "bob"});
    keeper->Config.Accounts = {On("Pushed", "ann", true, 3600), On("Polled", "bob", false, 3600)};
    TPushTimes times;
    times.FirstRetry = 60 * 60 * 1000;
    // The push line's waits and the checks' limits run out in a second or two.
    wired->StartPush(times, std::make_shared<FakeClock>(1000));
    wired->limits.Clock = std::make_shared<FakeClock>(2000);
    Tick();
    ASSERT_EQ(Errors(), "");
    ASSERT_TRUE(WaitUntil([this] { return Healthy(0); }, 10000)) << "IDLE never started";

    link->Drop();
    // The next renewal finds the line dead.
    ASSERT_TRUE(WaitUntil([this] { return !Healthy(0); }, 10000));
    server->Deliver("ann", Mail("during the outage"));
    wired->mailCheck.CheckOnly({1});
    wired->WaitForChecks();
    ASSERT_NE(Errors(), "") << "the polled account reached its server through a dead link";

    link->Restore();
    wired->mailCheck.CheckOnly({1});
    EXPECT_TRUE(WaitUntil([this] { return Told("during the outage"); }, 10000)) << Errors();
    EXPECT_TRUE(Healthy(0));
}

// imap4d's IDLE tells nothing until DONE. The pushed account is looked at
// on its open line at the interval (15 s, on the line's test clock): at
// rest a look costs no login, and mail is told after one look, not at the
// renewal ten minutes on.
TEST_F(PushField, ASilentIdleIsLookedAtAtTheAccountsInterval)
{
    const std::string why = Imap4d::Unavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    mailutils = std::make_unique<Imap4d>();
    const std::string login = mailutils->AddUser("ann", "secret");
    mailutils->Start();
    Account account;
    account.Caption = "Silent";
    account.UserName = login;
    account.Password = "secret";
    account.Host = mailutils->Host();
    account.Port = std::to_string(mailutils->Port());
    account.IMAP4 = true;
    keeper->Config.Accounts = {account};
    keeper->Config.CheckingTime = 15;
    auto line = std::make_shared<FakeClock>(1000);
    wired->StartPush({}, line);
    Tick();
    ASSERT_EQ(Errors(), "");
    ASSERT_TRUE(WaitUntil([this] { return Healthy(0); }, 10000)) << "IDLE never started";

    const auto rest = line->Served();
    ASSERT_TRUE(WaitUntil([&] { return line->Served() >= rest + 3 * 15s; }, 10000));
    EXPECT_TRUE(Healthy(0));
    EXPECT_EQ(wired->pushSessions, 1);
    EXPECT_EQ(wired->checkSessions, 1);

    std::vector<std::chrono::milliseconds> newsAt;
    wired->push->OnNews = [&newsAt, line, tell = wired->push->OnNews](const Account& pushed) {
        newsAt.push_back(line->Served());
        tell(pushed);
    };
    // Delivered inside a wait, not while the look before it is under way.
    const auto looked = line->Served();
    ASSERT_TRUE(WaitUntil([&] { return line->Served() > looked; }, 10000));
    std::this_thread::sleep_for(200ms);
    const auto delivered = line->Served();
    mailutils->Deliver("ann", Mail("silently delivered"));
    ASSERT_TRUE(WaitUntil([this] { return Told("silently delivered"); }, 10000)) << Errors();
    ASSERT_FALSE(newsAt.empty());
    // The look that heard it, give or take the wait under way while the
    // news crossed to this thread.
    EXPECT_LE(newsAt.front() - delivered, 2 * 15s);
    EXPECT_EQ(wired->pushSessions, 1);
}

} // namespace

// New mail told through dunst on a private bus by the check as the program
// wires it: one notification with the told messages and their actions,
// replaced by the next, withdrawn when the list empties; the balloon where
// no server runs.

#include "app/MailCheck.h"
#include "app/SignInNotices.h"
#include "check/CheckRules.h"
#include "check/FakeHost.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/TrayIcon.h"
#include "app/TrayParts.h"
#include "support/PrivateNotifications.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

namespace
{

class NoticeWired : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        TConfig& config = keeper->Config;
        config.Accounts.clear();
        for (const auto& [caption, host, imap4] : {std::tuple{"Home", "pop.a", false}, {"Work", "imap.b", true}})
        {
            Account a;
            a.Caption = caption;
            a.Enabled = true;
            a.UserName = "ann";
            a.Host = host;
            a.Port = "110";
            a.IMAP4 = imap4;
            config.Accounts.push_back(a);
        }
        config.ShowForm = false;
        config.ScrLckBlinking = 0;
        config.PlaySound.clear();
        config.Execute.clear();
        config.ShowIcon = "newmsg.ico";
        check = std::make_unique<TMailCheck>(*tray, *newMail, config, [this](bool, std::shared_ptr<TIdLineAbort>) {
            return std::make_unique<TFakeClient>(net);
        });
    }
    void TearDown() override
    {
        check.reset();
        notifier.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("ternbell"));
        server.reset();
        UiFixture::TearDown();
    }
    void Notify(const QDBusConnection& bus)
    {
        notifier = std::make_unique<TDesktopNotifier>(bus);
        check->UseNotifier(notifier.get());
    }
    void Round()
    {
        check->CheckAccounts();
        WaitForChecks(*check);
        ASSERT_TRUE(WaitUntil([this] { return !notifier->Sending(); }, 5000));
    }

    TFakeNetwork net;
    std::unique_ptr<PrivateNotifications> server;
    std::unique_ptr<TDesktopNotifier> notifier;
    std::unique_ptr<TMailCheck> check;
};

// The same with dunst running on the private bus.
class NoticeServed : public NoticeWired
{
protected:
    void SetUp() override
    {
        NoticeWired::SetUp();
        const std::string why = PrivateNotifications::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<PrivateNotifications>();
        Notify(QDBusConnection::connectToBus(QString::fromStdString(server->Address()), QStringLiteral("ternbell")));
        ASSERT_TRUE(WaitUntil([this] { return notifier->Available(); }, 5000));
    }
};

TEST_F(NoticeServed, OneNotificationWithActionsReplacedThenWithdrawn)
{
    std::vector<std::string> marked;
    int reads = 0;
    check->MarkRead = [&](const std::vector<TToldMessage>& messages) {
        for (const TToldMessage& m : messages)
            marked.push_back(std::to_string(m.Account) + "|" + std::to_string(m.Number) + "|" + m.Shown.From + "|" +
                             m.Shown.Subject + "|" + m.Shown.Id.substr(0, 2));
    };
    check->OnNoticeRead = [&] { ++reads; };

    net.Maildrops["pop.a"] = {{"Ann", "a", 2, 100}};
    net.Maildrops["imap.b"] = {{"Bob", "b1", 2, 100}, {"Bob", "b2", 2, 100}};
    Round();
    EXPECT_EQ(server->Displayed(), 1);
    const std::string id = std::to_string(notifier->Id());
    const std::string menu = server->InvokeAction("mark-read");
    for (const char* action : {"#Read (There are 3 messages to read) [%,read]",
                               "#Show (There are 3 messages to read) [%,show]",
                               "#Mark as read (There are 3 messages to read) [%,mark-read]"})
        EXPECT_NE(menu.find(FormatOne(action, "%", id)), std::string::npos) << action << " in\n" << menu;
    // The IMAP4 messages told, as the check counted them.
    ASSERT_TRUE(WaitUntil([&] { return !marked.empty(); }, 5000));
    EXPECT_EQ(marked, (std::vector<std::string>{"1|1|Bob|b1|f:", "1|2|Bob|b2|f:"}));
    server->InvokeAction("read");
    EXPECT_TRUE(WaitUntil([&] { return reads == 1; }, 5000));

    net.Maildrops["imap.b"].push_back({"Cy", "<b>c</b>", 2, 100});
    net.Maildrops["imap.b"].push_back({"Dee", "d", 2, 100});
    Round();
    EXPECT_EQ(server->Displayed(), 1);

    net.Maildrops["pop.a"].clear();
    net.Maildrops["imap.b"].clear();
    Round();
    EXPECT_TRUE(WaitUntil([this] { return server->Displayed() == 0; }, 5000));
    const std::vector<PrivateNotifications::TShown> history = server->CloseAllAndHistory();
    ASSERT_EQ(history.size(), 1u) << "replaced, not stacked";
    EXPECT_EQ(history[0].AppName, "ternbell");
    EXPECT_EQ(history[0].Summary, "There are 5 messages to read");
    EXPECT_EQ(history[0].Body, "Cy \u2014 &lt;b&gt;c&lt;/b&gt;\nDee \u2014 d");
    EXPECT_EQ(tray->triNewMsg->LastBalloon().Text, "") << "no balloon beside the notifications";
}

// An OAuth2 account that must be signed in again is told once, however many
// rounds fail, with an action that opens its settings; once it logged in
// again the notice goes, and the next time is told again.
TEST_F(NoticeServed, SignInNeededIsToldOnceWithAnActionToSignIn)
{
    // Of its own, as the program has it: the news of mail withdraws its own.
    TDesktopNotifier own(QDBusConnection::connectToBus(QString::fromStdString(server->Address()), QStringLiteral("sign-in")));
    ASSERT_TRUE(WaitUntil([&] { return own.Available(); }, 5000));
    TSignInNotices notices(own);
    std::vector<int> opened;
    notices.OpenSettings = [&](int index) { opened.push_back(index); };
    check->OnSignIn = [&](int index, const Account& account, bool needed) { notices.Update(index, account, needed); };
    keeper->Config.Accounts[1].Authentication = aaOAuth2;
    net.Maildrops["pop.a"] = {};
    net.Maildrops["imap.b"] = {};
    net.SignInNeededOn = "imap.b";

    Round();
    Round();
    ASSERT_TRUE(WaitUntil([this] { return server->Displayed() == 1; }, 5000));
    const std::string menu = server->InvokeAction("sign-in");
    EXPECT_NE(menu.find("#Sign in ("), std::string::npos) << menu;
    ASSERT_TRUE(WaitUntil([&] { return !opened.empty(); }, 5000));
    EXPECT_EQ(opened, std::vector<int>{1});
    EXPECT_NE(check->Rows().Row(0).Hint.find("needs a sign-in"), std::string::npos);

    // Chosen, it has served.
    ASSERT_TRUE(WaitUntil([this] { return server->Displayed() == 0; }, 5000));
    net.SignInNeededOn.clear();
    Round();
    net.SignInNeededOn = "imap.b";
    Round();
    ASSERT_TRUE(WaitUntil([this] { return server->Displayed() == 1; }, 5000));
    net.SignInNeededOn.clear();
    Round();
    EXPECT_TRUE(WaitUntil([this] { return server->Displayed() == 0; }, 5000)) << "gone once logged in";
    const std::vector<PrivateNotifications::TShown> history = server->CloseAllAndHistory();
    ASSERT_EQ(history.size(), 2u);
    // Sent as plain text: the server that reads markup gets it escaped.
    EXPECT_EQ(history[0].Body, "The account &quot;Work&quot; needs a sign-in with its mail provider.");
}

// The previews of the first three go under their lines, escaped for a
// server that reads markup; switched off, none is asked for.
TEST_F(NoticeServed, PreviewsOfTheFirstThreeAsTextUnlessSwitchedOff)
{
    net.Maildrops["imap.b"] = {{"Ann", "a", 2, 100, "", "<img src=x> & more"},
                               {"Bob", "b", 2, 100, "", "two"},
                               {"Cy", "c", 2, 100, "", "three"},
                               {"Dee", "d", 2, 100, "", "four"}};
    Round();
    std::vector<PrivateNotifications::TShown> history = server->CloseAllAndHistory();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].Body, "Ann \u2014 a\n&lt;img src=x&gt; &amp; more\nBob \u2014 b\ntwo\nCy \u2014 c\nthree\n"
                               "Dee \u2014 d");
    EXPECT_EQ(check->Rows().Row(3).Preview, "four");

    keeper->Config.ShowPreview = false;
    net.Maildrops["pop.a"] = {{"Eve", "e", 2, 100, "", "hidden"}};
    Round();
    history = server->CloseAllAndHistory();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(std::count_if(history.begin(), history.end(),
                            [](const PrivateNotifications::TShown& n) { return n.Body == "Eve \u2014 e"; }),
              1);
    EXPECT_EQ(check->Rows().Row(0).Preview, "");
}

TEST_F(NoticeWired, WithoutAServerTheBalloonAsBefore)
{
    Notify(QDBusConnection(QStringLiteral("never connected")));
    net.Maildrops["pop.a"] = {{"Ann", "<b>a</b>", 2, 100}};
    Round();
    EXPECT_EQ(tray->triNewMsg->LastBalloon().Title, "ternbell");
    EXPECT_EQ(tray->triNewMsg->LastBalloon().Text, "There is a message to read");
}

// The balloon in its place carries the first message's preview, as text.
TEST_F(NoticeWired, WithoutAServerTheBalloonShowsTheFirstPreview)
{
    Notify(QDBusConnection(QStringLiteral("never connected")));
    net.Maildrops["pop.a"] = {{"Ann", "a", 2, 100, "", "<i>Hi</i>\tyou"}, {"Bob", "b", 2, 100, "", "two"}};
    Round();
    EXPECT_EQ(tray->triNewMsg->LastBalloon().Text, "There are 2 messages to read\n<i>Hi</i> you");
}

} // namespace

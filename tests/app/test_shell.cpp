#include "app/AboutBox.h"
#include "app/DesktopOutput.h"
#include "app/TrayParts.h"
#include "app/TrayShell.h"
#include "app/MailCheck.h"
#include "check/FakeHost.h"
#include "check/MessageList.h"
#include "config/AccountRows.h"
#include "config/ConfigStore.h"
#include "desktop/UpDownControl.h"
#include "platform/TermSignal.h"
#include "platform/WholeFile.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <algorithm>
#include <csignal>
#include <stdexcept>

namespace
{

class ShellTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        about = std::make_unique<TfrmAboutBox>();
        shell = std::make_unique<TTrayShell>(*tray, *keeper, *settings, *newMail, *about);
        shell->Terminate = [this] { ++terminated; };
        shell->CheckAccounts = [this] {
            ++checks;
            timerOnDuringCheck = tray->timMail->isActive();
            clearPendingSeen = ClearListPending;
            return false;
        };
    }

    void TearDown() override
    {
        shell.reset();
        about.reset();
        UiFixture::TearDown();
    }

    // The first tick: the configuration is loaded and periodic checking runs.
    void Start()
    {
        shell->timMailTimer();
        shell->actEnabledUpdate();
        settings->hide(); // the first start shows it; these tests want it closed
        checks = 0;
    }

    bool TimerOn() const { return tray->timMail->isActive(); }
    bool Ticked() const { return tray->actEnabled->isChecked(); }
    int Picture() const { return tray->triMail->PictureIndex(); }

    std::unique_ptr<TfrmAboutBox> about;
    std::unique_ptr<TTrayShell> shell;
    int terminated = 0;
    int checks = 0;
    bool timerOnDuringCheck = true;
    bool clearPendingSeen = false;
};

TEST_F(ShellTest, CreationArmsTheTimerWithOneSecondAndShowsTheIdlePicture)
{
    EXPECT_TRUE(TimerOn());
    EXPECT_EQ(tray->timMail->interval(), 1000);
    EXPECT_FALSE(tray->timBlinking->isActive());
    EXPECT_EQ(tray->timBlinking->interval(), 500);
    EXPECT_EQ(Picture(), 0);
    EXPECT_TRUE(tray->triMail->Visible());
    EXPECT_FALSE(tray->triNewMsg->Visible());
    EXPECT_EQ(tray->triMail->Hint(), "ternbell");
    EXPECT_FALSE(settings->isVisible());
    EXPECT_FALSE(newMail->isVisible());
    EXPECT_FALSE(ExitConfirmed);
    // Until the first load the controls hold the designed values.
    EXPECT_EQ(settings->spnInterval->Position(), 180);
    EXPECT_EQ(settings->spnLedActiveTime->Position(), 180);
    EXPECT_EQ(settings->spnAutoHide->Position(), 0);
    EXPECT_EQ(settings->spnAutoHide->Max(), 60);
    EXPECT_TRUE(settings->chkNotifyNewMsg->isChecked());

    const QList<QAction*> items = tray->popMain->actions();
    ASSERT_EQ(items.size(), 7);
    const char* captions[] = {"&About...", "&Read", "&Check now", "&Enabled", "&Quiet", "&Settings", "&Exit"};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(items[i]->text(), QString::fromUtf8(captions[i]));
    EXPECT_EQ(items[3], tray->actEnabled);
    ASSERT_EQ(items[4]->menu(), tray->mnuQuiet);
    QStringList quiet;
    for (const QAction* item : tray->mnuQuiet->actions())
        quiet << item->text();
    EXPECT_EQ(quiet, (QStringList{"For &30 minutes", "For &1 hour", "Until &tomorrow", "&Resume"}));
    EXPECT_EQ(tray->popMain->defaultAction(), nullptr);
}

TEST_F(ShellTest, FirstTickLoadsOnceThenChecksWithTheTimerOff)
{
    ASSERT_TRUE(LoadPending);
    shell->timMailTimer();
    EXPECT_FALSE(LoadPending);
    EXPECT_EQ(checks, 1);
    EXPECT_FALSE(timerOnDuringCheck);
    EXPECT_TRUE(TimerOn());
    EXPECT_EQ(tray->timMail->interval(), 300 * 1000);
    EXPECT_TRUE(Exists(ConfigKey, "AccountsNo"));
    EXPECT_TRUE(settings->isVisible()) << "first start";

    // The next tick does not load again: a changed control survives it.
    settings->txtExecute->setText(QStringLiteral("edited"));
    shell->timMailTimer();
    EXPECT_EQ(settings->txtExecute->text(), "edited");
    EXPECT_EQ(checks, 2);
}

// Offline, a tick starts no round and the hint says why; a wake-up starts
// one once the network is back, but not while paused.
TEST_F(ShellTest, OfflineTicksCheckNothingAndAWakeUpChecksAgain)
{
    Start();
    bool offline = true;
    shell->Offline = [&offline] { return offline; };
    shell->WakeDelayMs = 0;
    shell->timMailTimer();
    EXPECT_EQ(checks, 0);
    EXPECT_EQ(tray->triMail->Hint(), "Offline");
    EXPECT_TRUE(TimerOn());
    offline = false;
    for (const bool paused : {true, false})
    {
        if (paused)
            tray->timMail->stop();
        else
            tray->timMail->start();
        const int before = checks;
        shell->WakeUp();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(checks, before + (paused ? 0 : 1)) << paused;
    }
}

// A wake-up opens the push sessions anew at once and, after the settling
// time, checks every account: also while checks run (it waits for them),
// never while paused.
TEST_F(ShellTest, AWakeUpReopensPushAndChecksEveryAccount)
{
    Start();
    int reopened = 0;
    int every = 0;
    shell->ReopenPush = [&reopened] { ++reopened; };
    shell->CheckEveryAccount = [&every] {
        ++every;
        return true;
    };
    shell->WakeDelayMs = 0;
    struct
    {
        const char* Name;
        bool Paused;
        bool Checking;
    } const cases[] = {{"at rest", false, false}, {"checking", false, true}, {"paused", true, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        shell->ChecksEnded();
        if (c.Checking)
        {
            shell->CheckAccounts = [] { return true; }; // they end when told
            shell->timMailTimer();
        }
        if (c.Paused)
            tray->timMail->stop();
        const int before = every;
        const int ticks = checks;
        shell->WakeUp();
        EXPECT_EQ(reopened, static_cast<int>(&c - cases) + 1);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        EXPECT_EQ(every, before + (c.Paused ? 0 : 1));
        EXPECT_EQ(checks, ticks);
        tray->timMail->start();
    }
}

TEST_F(ShellTest, TimerComesBackOnWhenTheCheckFails)
{
    Start();
    shell->CheckAccounts = [this]() -> bool {
        timerOnDuringCheck = tray->timMail->isActive();
        throw std::runtime_error("server gone");
    };
    EXPECT_THROW(shell->timMailTimer(), std::runtime_error);
    EXPECT_FALSE(timerOnDuringCheck);
    EXPECT_TRUE(TimerOn());
}

TEST_F(ShellTest, TimerComesBackOnWhenTheLoadFails)
{
    Store(ConfigKey, "CheckingTime", std::string("wrong type"));
    EXPECT_THROW(shell->timMailTimer(), Exception);
    EXPECT_FALSE(LoadPending);
    EXPECT_TRUE(TimerOn());
    EXPECT_EQ(checks, 0);
    // Not the start-up second: the interval the window shows.
    EXPECT_EQ(tray->timMail->interval(), 180 * 1000);

    // The failed load is not repeated: the next tick only checks.
    shell->timMailTimer();
    EXPECT_EQ(checks, 1);
    EXPECT_FALSE(timerOnDuringCheck);
    EXPECT_TRUE(TimerOn());
}

TEST_F(ShellTest, PauseAndResumeFollowTheStateTable)
{
    Start();
    ASSERT_TRUE(TimerOn());
    ASSERT_TRUE(Ticked());
    ASSERT_EQ(Picture(), 0);

    // Pause through the menu item.
    tray->actEnabled->trigger();
    EXPECT_FALSE(TimerOn());
    EXPECT_EQ(Picture(), 1);
    EXPECT_EQ(tray->triMail->Hint(), "ternbell") << "the tooltip stays";
    EXPECT_EQ(checks, 0);
    shell->actEnabledUpdate();
    EXPECT_FALSE(Ticked());

    // Resume: checks at once and runs again.
    tray->actEnabled->trigger();
    EXPECT_EQ(checks, 1);
    EXPECT_TRUE(TimerOn());
    shell->actEnabledUpdate();
    EXPECT_TRUE(Ticked());
}

TEST_F(ShellTest, ARoundEndingAfterThePauseLeavesThePausedPicture)
{
    Start();
    shell->CheckAccounts = [] { return true; }; // under way
    shell->timMailTimer();
    tray->actEnabled->trigger();
    tray->triMail->SetPictureIndex(0); // the round's last result drawn
    shell->ChecksEnded();
    EXPECT_EQ(Picture(), 1);
    EXPECT_FALSE(TimerOn());
}

// Painting sets up the raster engine, so a program never quiet does not.
TEST_F(ShellTest, TheQuietPictureIsPaintedWhenTheQuietFirstShows)
{
    TDesktopOutput output(*tray, *newMail, keeper->Config);
    EXPECT_TRUE(tray->imlState[QuietTrayPictureIndex].isNull());
    output.SetQuietNote("Quiet until 07:00");
    EXPECT_EQ(tray->triMail->PictureIndex(), QuietTrayPictureIndex);
    EXPECT_FALSE(tray->triMail->Icon().isNull());
    output.SetQuietNote("");
    EXPECT_EQ(tray->triMail->PictureIndex(), tpIdle);
}

TEST_F(ShellTest, TheIdleUpdateFollowsTheTimer)
{
    Start();
    // Lets the event loop fall idle once.
    const auto idle = [] {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    };
    tray->timMail->stop();
    idle();
    EXPECT_FALSE(Ticked());
    tray->timMail->start();
    idle();
    EXPECT_TRUE(Ticked());
}

TEST_F(ShellTest, CheckNowWhilePausedChecksAndResumes)
{
    Start();
    tray->actEnabled->trigger();
    shell->actEnabledUpdate();
    ASSERT_FALSE(TimerOn());
    ASSERT_FALSE(ClearListPending);

    tray->mnuChecknow->trigger();
    EXPECT_EQ(checks, 1);
    EXPECT_TRUE(clearPendingSeen) << "the cycle is told to empty the list";
    EXPECT_TRUE(TimerOn());
    shell->actEnabledUpdate();
    EXPECT_TRUE(Ticked());
}

TEST_F(ShellTest, CheckNowEmptiesTheListThroughTheWiredCycle)
{
    shell.reset(); // the program's wiring takes the timer and the menu instead
    WiredShell wired(*tray, *keeper, *settings, *newMail);
    LoadPending = false;
    keeper->Config.Accounts.clear();
    TMessageList& rows = wired.mailCheck.Rows();
    rows.Append({"Home", {"Ann", "a", "1  B"}, riMessage, true, "", "", ""});
    rows.Append({"Gone", {}, riError, false, "refused", "", ""});
    wired.shell.actEnabledUpdate();
    tray->actEnabled->trigger(); // paused
    ASSERT_FALSE(TimerOn());
    ASSERT_EQ(Picture(), 1);

    tray->mnuChecknow->trigger();
    EXPECT_EQ(rows.Count(), 0);
    EXPECT_FALSE(ClearListPending);
    EXPECT_EQ(newMail->lblNewMessage->text().toStdString(), "There are no messages");
    EXPECT_EQ(Picture(), 0);
    EXPECT_TRUE(TimerOn());
}

TEST_F(ShellTest, SettingsStopsTheTimerAndEnabledStartsIt)
{
    Start();
    tray->mnuSettings->trigger();
    EXPECT_FALSE(TimerOn());
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(Picture(), 0) << "the picture is unchanged";
    shell->actEnabledUpdate();
    EXPECT_FALSE(Ticked());

    tray->actEnabled->trigger();
    EXPECT_TRUE(TimerOn());
    EXPECT_EQ(checks, 1);
}

TEST_F(ShellTest, DoubleClickActsByTheSetting)
{
    Start();
    int reads = 0;
    QObject::connect(newMail->actMailbox, &QAction::triggered, [&reads] { ++reads; });

    keeper->Config.DoubleClick = 0;
    shell->triMailDblClick();
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(newMail->isVisible());

    keeper->Config.DoubleClick = 1;
    shell->triMailDblClick();
    EXPECT_TRUE(newMail->isVisible());
    shell->triMailDblClick();
    EXPECT_TRUE(newMail->isVisible());
    EXPECT_EQ(reads, 1);
    newMail->hide();

    keeper->Config.DoubleClick = 2;
    shell->triMailDblClick();
    EXPECT_TRUE(settings->isVisible());
    EXPECT_FALSE(TimerOn());
    settings->hide();
    tray->timMail->start();

    keeper->Config.DoubleClick = -1;
    shell->triMailDblClick();
    EXPECT_EQ(reads, 1);
    EXPECT_FALSE(newMail->isVisible());
    EXPECT_FALSE(settings->isVisible());
    EXPECT_TRUE(TimerOn());

    shell->triNewMsgDblClick();
    EXPECT_EQ(reads, 2);
    tray->mnuMailbox->trigger();
    EXPECT_EQ(reads, 3);
}

// A StatusNotifierItem host reports every activation as a single Trigger and
// never a double click; an XEmbed tray reports both.
TEST_F(ShellTest, DoubleClickOnStatusNotifierTraysArrivesAsTrigger)
{
    Start();
    int reads = 0;
    QObject::connect(newMail->actMailbox, &QAction::triggered, [&reads] { ++reads; });
    keeper->Config.DoubleClick = 0;
    struct Case
    {
        TTrayHost Host;
        QSystemTrayIcon::ActivationReason Reason;
        bool Acts;
    };
    const Case cases[] = {
        {TTrayHost::StatusNotifier, QSystemTrayIcon::Trigger, true},
        {TTrayHost::StatusNotifier, QSystemTrayIcon::DoubleClick, true},
        {TTrayHost::StatusNotifier, QSystemTrayIcon::Context, false},
        {TTrayHost::XEmbed, QSystemTrayIcon::Trigger, false},
        {TTrayHost::XEmbed, QSystemTrayIcon::DoubleClick, true},
        {TTrayHost::XEmbed, QSystemTrayIcon::MiddleClick, false},
    };
    for (TTrayIcon* icon : {tray->triMail, tray->triNewMsg})
        for (const Case& c : cases)
        {
            SCOPED_TRACE(icon->objectName().toStdString() + " " + std::to_string(int(c.Host)) + " "
                         + std::to_string(int(c.Reason)));
            icon->SetHost(c.Host);
            auto* system = icon->findChild<QSystemTrayIcon*>();
            ASSERT_NE(system, nullptr);
            const int before = reads;
            emit system->activated(c.Reason);
            EXPECT_EQ(reads, before + (c.Acts ? 1 : 0));
        }
}

TEST_F(ShellTest, NewMailIconHasTheApplicationTitleAsTooltip)
{
    auto* system = tray->triNewMsg->findChild<QSystemTrayIcon*>();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->toolTip(), "ternbell");
}

// The balloon got a display time of 10 ms, which no Linux tray stretches.
TEST_F(ShellTest, BalloonIsShownForTheDesktopsDefaultTimeNotTenMs)
{
    Start();
    TFakeNetwork net;
    net.Maildrops["pop.a"] = {{"Ann", "<h1>a</h1>", 2, 100}};
    TMailCheck check(*tray, *newMail, keeper->Config,
                     [&net](bool, std::shared_ptr<TIdLineAbort>) { return std::make_unique<TFakeClient>(net); });
    TConfig& config = keeper->Config;
    config.Accounts.at(0).Host = "pop.a";
    config.ShowForm = false;
    config.ScrLckBlinking = 0;
    config.PlaySound.clear();
    config.Execute.clear();
    config.ShowIcon = "newmsg.ico";
    int notified = 0;
    tray->triNewMsg->Notify = [&notified](const TTrayIcon::TBalloon&) { return ++notified > 0; };
    const std::pair<TTrayHost, int> cases[] = {{TTrayHost::StatusNotifier, -1},
                                               {TTrayHost::XEmbed, 10000}};
    for (const auto& [host, time] : cases)
    {
        tray->triNewMsg->SetHost(host);
        ClearListPending = true; // every message is new again
        check.CheckAccounts();
        WaitForChecks(check);
        EXPECT_EQ(tray->triNewMsg->LastBalloon().Title, "ternbell");
        EXPECT_EQ(tray->triNewMsg->LastBalloon().Text, "There is a message to read");
        EXPECT_EQ(tray->triNewMsg->LastBalloon().TimeoutMs, time);
    }
    EXPECT_EQ(notified, 1); // the XEmbed balloon is the toolkit's own
    // The headline is never read as markup either.
    EXPECT_EQ(newMail->lblNewMessage->textFormat(), Qt::PlainText);
}

// A notification server reads a balloon's body as markup; the toolkit's own
// balloon, also used when there is no notification service, shows plain text.
TEST_F(ShellTest, BalloonTextIsNeverMarkup)
{
    const QString text = "-ERR <h1><font color=red>x</font></h1> <img src=file:///etc/passwd> & co";
    const QString escaped = "-ERR &lt;h1&gt;&lt;font color=red&gt;x&lt;/font&gt;&lt;/h1&gt; "
                            "&lt;img src=file:///etc/passwd&gt; &amp; co";
    TTrayIcon icon;
    std::vector<TTrayIcon::TBalloon> sent;
    bool serviceUp = true;
    icon.Notify = [&](const TTrayIcon::TBalloon& b) {
        sent.push_back(b);
        return serviceUp;
    };
    icon.SetHost(TTrayHost::StatusNotifier);
    icon.ShowBalloon("ternbell", text);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Text, escaped);
    EXPECT_EQ(sent[0].TimeoutMs, TTrayIcon::DesktopDisplayTime);

    serviceUp = false;
    icon.ShowBalloon("ternbell", text);
    EXPECT_EQ(icon.LastBalloon().Text, text);
    EXPECT_EQ(icon.LastBalloon().TimeoutMs, 10000);

    icon.SetHost(TTrayHost::XEmbed);
    icon.ShowBalloon("ternbell", text);
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_EQ(icon.LastBalloon().Text, text);
}

TEST_F(ShellTest, ExitAnsweredNoSavesNothing)
{
    Start();
    const std::string before = HiveText();
    settings->txtExecute->setText(QStringLiteral("changed"));
    TMessageRequest asked{};
    int boxes = 0;
    SetMessageAnswerer([&](const TMessageRequest& r) {
        asked = r;
        ++boxes;
        return TModalResult::mrNo;
    });
    tray->mnuExit->trigger();
    ASSERT_EQ(boxes, 1);
    EXPECT_EQ(asked.Caption, "Confirm");
    EXPECT_EQ(asked.Text, "Are you sure you want to exit?\n"
                          "Warning: if you select yes, you will not able to see new messages!");
    EXPECT_EQ(asked.Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(asked.Buttons, unsigned(mbYes | mbNo));
    EXPECT_EQ(HiveText(), before);
    EXPECT_FALSE(ExitConfirmed);
    EXPECT_EQ(terminated, 0);
    EXPECT_TRUE(TimerOn());

    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrCancel; });
    tray->mnuExit->trigger();
    EXPECT_EQ(HiveText(), before);
    EXPECT_EQ(terminated, 0);
}

TEST_F(ShellTest, ExitAnsweredYesSavesTheControlsAsTheyStand)
{
    Start();
    // The settings window is open with edits not confirmed with OK.
    tray->mnuSettings->trigger();
    settings->txtExecute->setText(QStringLiteral("changed"));
    settings->spnInterval->SetPosition(45);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
    tray->mnuExit->trigger();
    EXPECT_TRUE(ExitConfirmed);
    EXPECT_EQ(String(ConfigKey, "Execute"), "changed");
    EXPECT_EQ(Integer(ConfigKey, "CheckingTime"), 45);
    EXPECT_FALSE(TimerOn());
    EXPECT_GE(terminated, 1);
    EXPECT_FALSE(settings->isVisible());
}

TEST_F(ShellTest, SigTermSavesAndEndsAsAConfirmedExit)
{
    Start();
    settings->txtExecute->setText(QStringLiteral("at log-out"));
    {
        TTermSignalWatcher watcher([this] { shell->EndProgram(); });
        ASSERT_EQ(::raise(SIGTERM), 0);
        for (int i = 0; i < 100 && !ExitConfirmed; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_TRUE(ExitConfirmed);
    EXPECT_EQ(String(ConfigKey, "Execute"), "at log-out");
    EXPECT_FALSE(TimerOn());
    EXPECT_GE(terminated, 1);
    // The watcher gave the signal back as it found it.
    struct sigaction now{};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST_F(ShellTest, SystemCloseSavesAndEnds)
{
    Start();
    settings->txtApplication->setText(QStringLiteral("closing client"));
    settings->show();
    EXPECT_TRUE(settings->close());
    EXPECT_EQ(String(ConfigKey, "EmailClient"), "closing client");
    EXPECT_FALSE(TimerOn());
    EXPECT_EQ(terminated, 2) << "the close query and the close each end the program";
    EXPECT_FALSE(ExitConfirmed);
}

TEST_F(ShellTest, AboutBoxIsModal)
{
    EXPECT_EQ(about->windowTitle(), "About ...");
    bool wasModal = false;
    QTimer::singleShot(0, about.get(), [&] {
        wasModal = about->isModal() && about->isVisible();
        about->accept();
    });
    tray->mnuAbout->trigger();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(about->isVisible());
}

} // namespace

namespace
{

// A load that failed left the window's built-in values in the controls;
// leaving must not write them over the stored settings.
TEST_F(ShellTest, FailedFirstLoadThenExitKeepsTheStoredSettings)
{
    Store(ConfigKey, "AccountsNo", 2);
    Store(ConfigKey, "Execute", std::string("run %SUBJECT%"));
    Store(ConfigKey, "ShowIcon", std::string("/stored/icon.ico"));
    Store(ConfigKey, "EmailClient", std::string("mutt"));
    Store(ConfigKey, "CheckingTime", std::string("abc"));
    const std::string before = HiveText();
    EXPECT_THROW(shell->timMailTimer(), Exception);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
    tray->mnuExit->trigger();
    EXPECT_TRUE(ExitConfirmed);
    EXPECT_GE(terminated, 1);
    EXPECT_EQ(HiveText(), before);
    EXPECT_EQ(Integer(ConfigKey, "AccountsNo"), 2);
}

TEST_F(ShellTest, ExitBeforeTheFirstTickKeepsTheStoredSettings)
{
    Store(ConfigKey, "AccountsNo", 3);
    Store(ConfigKey, "FormAnimation", std::string("/stored/anim.avi"));
    const std::string before = HiveText();
    settings->show();
    EXPECT_TRUE(settings->close());
    EXPECT_EQ(terminated, 2);
    EXPECT_EQ(HiveText(), before);

    // Once a load has gone through, leaving saves as before.
    shell->timMailTimer();
    settings->txtExecute->setText(QStringLiteral("after load"));
    settings->show();
    EXPECT_TRUE(settings->close());
    EXPECT_EQ(String(ConfigKey, "Execute"), "after load");
    EXPECT_EQ(String(ConfigKey, "FormAnimation"), "/stored/anim.avi");
    EXPECT_EQ(Integer(ConfigKey, "AccountsNo"), 3);
}

// A state folder that cannot be made (a file stands in its place): the
// memory of what was told lives on in the session, its loss is told once,
// and it reaches the disk once the folder can be made.
TEST_F(UiFixture, MemoryThatCannotBeWrittenIsToldOnceAndWrittenOnceItCan)
{
    const std::string state = FHome.path().toStdString() + "/state";
    WriteFile(state, "in the way");
    TFakeNetwork net;
    net.Maildrops["pop.a"] = {{"Ann", "a"}};
    Account account;
    account.Host = "pop.a";
    keeper->Config.Accounts = {account};
    TMailCheck check(*tray, *newMail, keeper->Config,
                     [&net](bool, std::shared_ptr<TIdLineAbort>) { return std::make_unique<TFakeClient>(net); });
    std::vector<std::string> told;
    check.OnMemoryNotKept = [&told](const std::string& text) { told.push_back(text); };
    const auto round = [&check] {
        check.CheckAccounts();
        WaitForChecks(check);
        QCoreApplication::processEvents();
    };
    round();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(state + "/ternbell"), std::string::npos) << told[0];
    net.Maildrops["pop.a"].push_back({"Bob", "b"});
    round();
    EXPECT_EQ(told.size(), 1u) << "said once";

    std::remove(state.c_str());
    round();
    EXPECT_EQ(told.size(), 1u);
    // The account's line and both messages, the one told while it failed too.
    const std::string kept = ReadFile(UserStatePath("announced"));
    EXPECT_EQ(std::count(kept.begin(), kept.end(), '\n'), 3) << kept;
}

} // namespace

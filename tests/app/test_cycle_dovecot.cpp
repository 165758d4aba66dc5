// The check cycle against a private Dovecot, run by the tray shell's tick
// through the real settings and notification windows (offscreen).

#include "check/AccountSession.h"
#include "check/CheckCycle.h"
#include "check/MessageList.h"
#include "check/Utils.h"
#include "config/AccountRows.h"
#include "config/FoldersDialog.h"
#include "config/SettingsForm.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/MediaPlayer.h"
#include "desktop/UpDownControl.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/Dovecot.h"
#include "support/DovecotAccounts.h"
#include "support/DovecotFixture.h"
#include "support/FakeClock.h"
#include "support/Loopback.h"
#include "support/PrivateNotifications.h"
#include "support/ScriptedServer.h"
#include "support/UiFixture.h"
#include "support/WiredDovecot.h"

#include <algorithm>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <fstream>
#include <thread>
#include <sys/stat.h>

namespace
{

std::string Mail(const std::string& from, const std::string& subject,
                 const std::string& extra = {})
{
    return "From: " + from + "\r\nTo: someone@example.org\r\nSubject: " + subject + "\r\n" + extra +
           "\r\nbody of " + subject + "\r\n";
}

class CycleDovecot : public WiredDovecot
{
protected:
    // A fresh mailbox on the server, listed as an account.
    std::string AddAccount(const std::string& caption, bool enabled = true,
                           const std::string& password = "secret")
    {
        const std::string user = NewMailbox();
        WaitUntilLoginWorks(user);
        Account a = AccountOn(*Server, caption, user, false, asNone, password);
        a.Enabled = enabled;
        keeper->Config.Accounts.push_back(a);
        return user;
    }

    // The same as an IMAP4 account.
    std::string AddImapAccount(const std::string& caption, const std::string& password = "secret")
    {
        const std::string user = AddAccount(caption, true, password);
        Account& a = keeper->Config.Accounts.back();
        a.IMAP4 = true;
        a.Port = std::to_string(Server->ImapPort());
        return user;
    }

    // A client of the test's own on the server, logging in as `user`.
    static void Aim(TIdPOP3& pop, const std::string& user) { AimOwn(pop, user, Server->Pop3Port()); }
    static void AimImap(TIdIMAP4& imap, const std::string& user) { AimOwn(imap, user, Server->ImapPort()); }
    template <typename TClient>
    static void AimOwn(TClient& client, const std::string& user, int port)
    {
        Account account;
        account.UserName = user;
        account.Password = "secret";
        account.Host = Server->Host();
        AimSession(client, account, port, {10000, 10000, 0});
    }

    // The server takes a new user over when it notices the changed passwd
    // file; a login before that is refused.
    void WaitUntilLoginWorks(const std::string& user)
    {
        QElapsedTimer clock;
        clock.start();
        std::string why;
        while (clock.elapsed() < 10000)
        {
            try
            {
                TIdPOP3 probe;
                Aim(probe, user);
                probe.Connect();
                probe.Disconnect();
                return;
            }
            catch (const std::exception& e)
            {
                why = e.what();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        FAIL() << "user " << user << " cannot log in: " << why;
    }

    // Deletes message `number` on the server the way a mail client would.
    void DeleteOnServer(const std::string& user, int number)
    {
        TIdPOP3 other;
        Aim(other, user);
        other.Connect();
        other.DeleteMessage(number);
        other.Disconnect();
    }

    // Why the accounts with error rows failed, for failure messages.
    std::string Errors()
    {
        std::string why;
        TMessageList& rows = ListRows();
        for (int i = 0; i < rows.Count(); ++i)
            if (rows.ImageIndex(i) == riError)
                why += rows.Caption(i) + ": " + rows.Row(i).Hint + "\n";
        return why;
    }

    // "caption|from|subject|image|cut" per row.
    std::vector<std::string> Rows()
    {
        std::vector<std::string> lines;
        TMessageList& rows = ListRows();
        for (int i = 0; i < rows.Count(); ++i)
        {
            const TMessageRow r = rows.Row(i);
            std::string line = r.Caption;
            for (std::size_t k = 0; k < 2 && k < r.SubItems.size(); ++k)
                line += "|" + r.SubItems[k];
            lines.push_back(line + "|" + std::to_string(r.ImageIndex) + (r.Cut ? "|cut" : "|new"));
        }
        return lines;
    }

    // Another mail client marks message `number` of the mailbox as read.
    void ReadElsewhere(const std::string& user, int number)
    {
        TIdIMAP4 other;
        AimImap(other, user);
        other.Connect(true);
        ASSERT_TRUE(other.SelectMailbox("inbox"));
        ASSERT_EQ(other.SendTaggedCommand(other.NextTag(), "STORE " + std::to_string(number) + " +FLAGS (\\Seen)",
                                          {"FETCH"}),
                  "OK");
        other.Disconnect();
    }

    // A tick of the check timer, and the tray menu's Check now.
    void Tick()
    {
        wired->shell.timMailTimer();
        wired->WaitForChecks();
    }
    void CheckNow()
    {
        wired->shell.mnuCheckNowClick();
        wired->WaitForChecks();
    }

    // The program again: no rows, the memory from the state folder.
    void Restart()
    {
        ListRows().Clear();
        wired.reset();
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
    }

    TMessageList& ListRows() { return wired->mailCheck.Rows(); }
    int NewCount() { return wired->mailCheck.Cycle().NewCount; }
    std::string Headline() { return newMail->lblNewMessage->text().toStdString(); }

};

TEST_F(CycleDovecot, FirstSecondAndAFourthMessage)
{
    const std::string ann = AddAccount("Home");
    Server->Deliver(ann, Mail("Ann <ann@example.org>", "one"));
    Server->Deliver(ann, Mail("bob@example.org", "two"));
    Server->Deliver(ann, Mail("Cy <cy@example.org>", "three"));

    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Home|Ann <ann@example.org>|one|1|new",
                                                "Home|bob@example.org|two|1|new",
                                                "Home|Cy <cy@example.org>|three|1|new"}))
        << Errors();
    EXPECT_EQ(NewCount(), 3);
    EXPECT_EQ(Headline(), "There are 3 messages to read");
    EXPECT_EQ(tray->triMail->PictureIndex(), 0);
    EXPECT_TRUE(tray->triMail->Hint().startsWith("There are 3 messages to read (last check: "));
    EXPECT_TRUE(tray->timMail->isActive());
    EXPECT_TRUE(newMail->isVisible());
    // The size column holds the server's size of each message.
    EXPECT_EQ(ListRows().SubItem(0, 2).substr(ListRows().SubItem(0, 2).size() - 1), "B");

    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Home|Ann <ann@example.org>|one|1|cut",
                                                "Home|bob@example.org|two|1|cut",
                                                "Home|Cy <cy@example.org>|three|1|cut"}));
    EXPECT_EQ(NewCount(), 0);

    Server->Deliver(ann, Mail("Dee <dee@example.org>", "four"));
    Tick();
    EXPECT_EQ(Rows().size(), 4u);
    EXPECT_EQ(Rows()[3], "Home|Dee <dee@example.org>|four|1|new");
    EXPECT_EQ(NewCount(), 1);
    EXPECT_EQ(Headline(), "There are 4 messages to read");
}

// Rows followed their place in the block: a deleted first message left its
// text on the row of the second, and one gone plus one new was never told.
TEST_F(CycleDovecot, RemovedMessagesTakeTheirOwnRowsAndANewOneIsTold)
{
    const std::string ann = AddAccount("Home");
    for (const char* s : {"one", "two", "three"})
        Server->Deliver(ann, Mail("ann@example.org", s));
    Tick();

    DeleteOnServer(ann, 1);
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Home|ann@example.org|two|1|cut",
                                                "Home|ann@example.org|three|1|cut"}));

    DeleteOnServer(ann, 1);
    Server->Deliver(ann, Mail("ann@example.org", "four")); // count unchanged
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Home|ann@example.org|three|1|cut",
                                                "Home|ann@example.org|four|1|new"}));
    EXPECT_EQ(NewCount(), 1);
}

// After a restart every waiting message was announced again.
TEST_F(CycleDovecot, ARestartAnnouncesNothingTwice)
{
    const std::string ann = AddAccount("Home");
    Server->Deliver(ann, Mail("ann@example.org", "one"));
    Tick();
    ASSERT_EQ(NewCount(), 1);

    Restart();
    Server->Deliver(ann, Mail("bob@example.org", "two"));
    newMail->hide();
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Home|ann@example.org|one|1|cut",
                                                "Home|bob@example.org|two|1|new"}));
    EXPECT_EQ(NewCount(), 1);

    // Asked for, every message is told again.
    CheckNow();
    EXPECT_EQ(NewCount(), 2);
}

// A mailbox past the bound went silent: the oldest were listed, and new mail
// fell outside them for good.
TEST_F(CycleDovecot, AMailboxPastTheBoundTellsNewMailAndARestartNothingTwice)
{
    const std::string ann = AddAccount("Big");
    for (int i = 1; i <= MaxListedMessages + 50; ++i)
        Server->Deliver(ann, Mail("ann@example.org", "m" + std::to_string(i)));
    Tick();
    ASSERT_EQ(NewCount(), MaxListedMessages) << Errors();
    EXPECT_EQ(Headline(), "There are 5050 messages to read; the newest 5000 are listed");
    EXPECT_EQ(ListRows().SubItem(0, 1), "m51");

    keeper->Config.Execute = "x %MSGID% %SUBJECT%";
    std::vector<std::vector<std::string>> told;
    const auto record = [&told](const std::vector<std::string>& arguments) { told.push_back(arguments); };
    wired->mailCheck.RunCommand = record;
    Server->Deliver(ann, Mail("ann@example.org", "new"));
    Tick();
    EXPECT_EQ(NewCount(), 1);
    EXPECT_EQ(told, (std::vector<std::vector<std::string>>{{"x", "5051", "new"}}));

    Restart();
    wired->mailCheck.RunCommand = record;
    told.clear();
    Tick();
    EXPECT_EQ(NewCount(), 0);
    EXPECT_TRUE(told.empty());
}

// An inbox rebuilt while the server was down (its UIDs given anew under a new
// UIDVALIDITY) told its old messages a second time.
TEST_F(CycleDovecot, ARebuiltImap4InboxTellsOnlyItsNewMessage)
{
    const std::string ann = AddImapAccount("Home");
    for (const char* s : {"one", "two", "three"})
        Server->Deliver(ann, Mail("ann@example.org", s, std::string("Message-ID: <") + s + "@example.org>\r\n"));
    Tick();
    ASSERT_EQ(NewCount(), 3) << Errors();
    const auto validity = [&ann] {
        TIdIMAP4 imap;
        AimImap(imap, ann);
        imap.Connect(true);
        EXPECT_TRUE(imap.SelectMailbox("inbox"));
        imap.Disconnect();
        return imap.MailBox.UIDValidity;
    };
    const std::uint32_t before = validity();

    Server->Stop();
    Tick(); // the server is down: an error row
    ASSERT_EQ(Rows(), (std::vector<std::string>{"Home|0|new"}));
    const std::filesystem::path maildir = Server->Folder() + "/home/" + ann + "/Maildir";
    // The index is lost; a new UIDVALIDITY is the time of the rebuild, so
    // one in the same second as the first is made again.
    for (int attempt = 0; attempt < 10; ++attempt)
    {
        Server->Stop();
        for (const auto& entry : std::filesystem::directory_iterator(maildir))
            if (entry.path().filename().string().rfind("dovecot", 0) == 0)
                std::filesystem::remove_all(entry.path());
        Server->Restart();
        if (validity() != before)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_NE(validity(), before);
    Server->Deliver(ann, Mail("ann@example.org", "four", "Message-ID: <four@example.org>\r\n"));
    Tick();
    EXPECT_EQ(NewCount(), 1) << Errors();
    EXPECT_EQ(Rows().back(), "Home|ann@example.org|four|1|new");

    Restart();
    Tick();
    EXPECT_EQ(NewCount(), 0);
}

TEST_F(CycleDovecot, FailingAccountBetweenTwoWorkingOnes)
{
    const std::string a = AddAccount("A");
    AddAccount("B", true, "wrong password");
    const std::string c = AddAccount("C");
    Server->Deliver(a, Mail("ann@example.org", "for A"));
    Server->Deliver(c, Mail("cy@example.org", "for C"));

    Tick();
    // Messages in the order of the accounts, then the error rows, whichever
    // session ended first.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"A|ann@example.org|for A|1|new",
                                                "C|cy@example.org|for C|1|new", "B|0|new"}));
    EXPECT_EQ(tray->triMail->PictureIndex(), 2);
    EXPECT_EQ(tray->triMail->Hint(), "The connection to mail server is not available");
    const QString why = newMail->lvwMessages->topLevelItem(2)->toolTip(0);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(why.contains("-ERR") || why.contains("uthentication")) << why.toStdString();
    EXPECT_EQ(Headline(), "There are 2 messages to read");

    // A port where nobody listens: refused, an error row with the socket error.
    keeper->Config.Accounts[1].Password = "secret";
    keeper->Config.Accounts[1].Port = "1";
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"A|ann@example.org|for A|1|cut",
                                                "C|cy@example.org|for C|1|cut", "B|0|new"}));
    EXPECT_TRUE(newMail->lvwMessages->topLevelItem(2)->toolTip(0).contains("10061"))
        << newMail->lvwMessages->topLevelItem(2)->toolTip(0).toStdString();
}

TEST_F(CycleDovecot, ConnectThatNeverCompletesGivesUpAtTheConnectLimit)
{
    // The program's limit is 10 s; a shorter one shows the same path.
    wired->limits.ConnectTimeout = 500;
    SilentListener listener;
    if (!listener.Silent())
        GTEST_SKIP() << "no loopback listener that leaves a connect hanging";
    const int port = listener.Port();
    AddAccount("Hanging");
    const std::string b = AddAccount("After");
    Server->Deliver(b, Mail("bob@example.org", "still checked"));
    keeper->Config.Accounts[0].Port = std::to_string(port);
    QElapsedTimer clock;
    clock.start();
    Tick();
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"After|bob@example.org|still checked|1|new",
                                                "Hanging|0|new"}))
        << Errors();
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 4000);
}

TEST_F(CycleDovecot, ServerThatNeverAnswersBecomesAnErrorRow)
{
    // Accepts connections and says nothing.
    LoopbackListener listener;
    ASSERT_TRUE(listener.Listening());

    AddAccount("Silent");
    keeper->Config.Accounts[0].Port = std::to_string(listener.Port());
    // The program's 30 s, served at once.
    auto clock = std::make_shared<FakeClock>();
    wired->limits.Clock = clock;
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Silent|0|new"}));
    // One read time-out, not two (no goodbye waits on a silent server).
    EXPECT_EQ(clock->Served(), std::chrono::milliseconds(wired->limits.ReadTimeout));
}

// The silent server's session waits on its worker; the others' mail is
// listed and told meanwhile, the tray menu still opens, and Exit closes the
// silent line at once instead of waiting out its read limit.
TEST_F(CycleDovecot, SilentServerHoldsUpNeitherTheOtherAccountsNorExit)
{
    LoopbackListener listener;
    ASSERT_TRUE(listener.Listening());
    AddAccount("Silent");
    keeper->Config.Accounts[0].Port = std::to_string(listener.Port());
    const std::string pop = AddAccount("Pop");
    const std::string imap = AddImapAccount("Imap");
    Server->Deliver(pop, Mail("ann@example.org", "by POP3"));
    Server->Deliver(imap, Mail("bob@example.org", "by IMAP4"));
    wired->limits.ReadTimeout = 60000;
    int told = 0;
    wired->mailCheck.RunCommand = [&told](const std::vector<std::string>&) { ++told; };
    keeper->Config.Execute = "notify %s";

    wired->shell.timMailTimer();
    ASSERT_TRUE(WaitUntil([this] { return ListRows().Count() == 2; }, 15000));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Pop|ann@example.org|by POP3|1|new",
                                                "Imap|bob@example.org|by IMAP4|1|new"}));
    EXPECT_TRUE(WaitUntil([&told] { return told == 2; }, 5000));
    EXPECT_TRUE(wired->mailCheck.Busy()) << "the silent account's session still waits";
    EXPECT_EQ(tray->triMail->PictureIndex(), 1);
    QTimer::singleShot(0, tray->popMain, [this] { tray->popMain->close(); });
    tray->popMain->exec();

    // Well within the 60 s the silent line would otherwise hold.
    wired->shell.EndProgram();
    EXPECT_TRUE(wired->mailCheck.Join(5000));
}

TEST_F(CycleDovecot, PushedMailIsToldWithoutWaitingForTheInterval)
{
    const std::string imap = AddImapAccount("Imap");
    Server->Deliver(imap, Mail("ann@example.org", "first"));
    int told = 0;
    wired->mailCheck.RunCommand = [&told](const std::vector<std::string>&) { ++told; };
    keeper->Config.Execute = "notify %s";
    wired->StartPush();
    Tick();
    ASSERT_EQ(Rows(), (std::vector<std::string>{"Imap|ann@example.org|first|1|new"})) << Errors();
    const Account pushed = keeper->Config.Accounts[0];
    ASSERT_TRUE(WaitUntil([&] { return wired->push->Healthy(pushed); }, 10000)) << "IDLE never started";
    // Its mail is known: the timed round passes the account over.
    const int sessions = wired->checkSessions;
    Tick();
    EXPECT_EQ(wired->checkSessions, sessions);

    // Two in a row, each told as it comes; then one read elsewhere leaves.
    for (const char* subject : {"second", "third"})
    {
        Server->Deliver(imap, Mail("bob@example.org", subject));
        const std::size_t rows = Rows().size() + 1;
        EXPECT_TRUE(WaitUntil([&] { return Rows().size() == rows; }, 10000)) << subject;
    }
    EXPECT_TRUE(WaitUntil([&told] { return told == 3; }, 5000)) << told;
    ReadElsewhere(imap, 1);
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 10000));
    wired->WaitForChecks();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Imap|bob@example.org|second|1|cut", "Imap|bob@example.org|third|1|cut"}));

    // Pausing ends the session; resuming checks the account again.
    wired->shell.actEnabledUpdate();
    tray->actEnabled->trigger();
    EXPECT_EQ(wired->push->Count(), 0);
    EXPECT_FALSE(wired->push->Healthy(pushed));
    const int paused = wired->checkSessions;
    wired->shell.actEnabledUpdate();
    tray->actEnabled->trigger();
    wired->WaitForChecks();
    EXPECT_EQ(wired->checkSessions, paused + 1);
    EXPECT_EQ(wired->push->Count(), 1);

    // So do the settings window and its OK (over the test's accounts).
    settings->ShowConfig(keeper->Config);
    wired->shell.mnuSettingsClick();
    EXPECT_EQ(wired->push->Count(), 0);
    const int beforeOk = wired->checkSessions;
    settings->btnOk->click();
    wired->WaitForChecks();
    EXPECT_EQ(wired->checkSessions, beforeOk + 1);
    EXPECT_EQ(wired->push->Count(), 1) << Errors();
}

// Under push, mail read in another client leaves the list, the count and
// the notification within seconds: a notification that told of it and of
// another shows the other, in place; once both are read it is withdrawn.
TEST_F(CycleDovecot, ReadElsewhereLeavesTheNotificationAndTheCount)
{
    const std::string why = PrivateNotifications::Unavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    PrivateNotifications server;
    TDesktopNotifier notifier(
        QDBusConnection::connectToBus(QString::fromStdString(server.Address()), QStringLiteral("read-elsewhere")));
    ASSERT_TRUE(WaitUntil([&] { return notifier.Available(); }, 5000));
    wired->mailCheck.UseNotifier(&notifier);
    std::vector<TMailState> states;
    wired->mailCheck.OnMailState = [&states](const TMailState& state) { states.push_back(state); };
    keeper->Config.ShowIcon = "newmsg.ico";
    keeper->Config.ShowForm = false;
    const std::string imap = AddImapAccount("Imap");
    Server->Deliver(imap, Mail("ann@example.org", "first"));
    Server->Deliver(imap, Mail("bob@example.org", "second"));
    wired->StartPush();
    Tick();
    ASSERT_EQ(Rows().size(), 2u) << Errors();
    ASSERT_TRUE(WaitUntil([&] { return wired->push->Healthy(keeper->Config.Accounts[0]); }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return notifier.Id() != 0 && server.Displayed() == 1; }, 5000));
    const uint shown = notifier.Id();
    ASSERT_EQ(states.back().Count, 2);

    // A second IMAP session reads the first.
    ReadElsewhere(imap, 1);
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 1 && states.back().Count == 1; }, 5000)) << Errors();
    wired->WaitForChecks();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Imap|bob@example.org|second|1|cut"}));
    EXPECT_EQ(states.back().Accounts.at(0).Count, 1);
    EXPECT_TRUE(WaitUntil([&] { return !notifier.Sending(); }, 5000));
    EXPECT_EQ(notifier.Id(), shown) << "replaced in place";
    EXPECT_EQ(server.Displayed(), 1);
    EXPECT_EQ(Headline(), "There is a message to read");

    // doveadm reads the other: nothing is left to tell of.
    Server->MarkSeen(imap, "subject second");
    EXPECT_TRUE(WaitUntil([&] { return Rows().empty() && server.Displayed() == 0; }, 5000)) << Errors();
    EXPECT_EQ(states.back().Count, 0);
    const std::vector<PrivateNotifications::TShown> history = server.CloseAllAndHistory();
    ASSERT_EQ(history.size(), 1u) << "one notification, updated, then closed";
    EXPECT_EQ(history[0].Summary, "There is a message to read");
    EXPECT_EQ(history[0].Body.rfind("bob@example.org \u2014 second", 0), 0u) << history[0].Body;
    EXPECT_EQ(history[0].Body.find("first"), std::string::npos) << history[0].Body;
    wired->mailCheck.UseNotifier(nullptr);
    QDBusConnection::disconnectFromBus(QStringLiteral("read-elsewhere"));
}

// One bounce with megabytes of "Received" lines used to fail its whole
// account; it is listed by its sender and subject beside the other mail, by
// POP3, IMAP4 and push alike.
TEST_F(CycleDovecot, HeaderPastTheCapsHidesNothingOfItsAccount)
{
    const std::string pop = AddAccount("Pop");
    const std::string imap = AddImapAccount("Imap");
    const auto bounce = [](const std::string& subject) {
        return MailAfterReceivedLines(1800000, "From: Mailer <mailer@example.net>\r\nSubject: " + subject + "\r\n");
    };
    for (const std::string& user : {pop, imap})
    {
        Server->Deliver(user, Mail("ann@example.org", "one"));
        Server->Deliver(user, bounce("Undelivered"));
    }
    wired->StartPush();
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Pop|ann@example.org|one|1|new",
                                                "Pop|Mailer <mailer@example.net>|Undelivered|1|new",
                                                "Imap|ann@example.org|one|1|new",
                                                "Imap|Mailer <mailer@example.net>|Undelivered|1|new"}))
        << Errors();
    EXPECT_EQ(NewCount(), 4);
    EXPECT_EQ(tray->triMail->PictureIndex(), 0);

    const Account pushed = keeper->Config.Accounts[1];
    ASSERT_TRUE(WaitUntil([&] { return wired->push->Healthy(pushed); }, 10000)) << "IDLE never started";
    Server->Deliver(imap, bounce("Pushed"));
    ASSERT_TRUE(WaitUntil([&] { return Rows().size() == 5; }, 10000)) << Errors();
    EXPECT_EQ(Rows().back(), "Imap|Mailer <mailer@example.net>|Pushed|1|new");
    EXPECT_EQ(NewCount(), 1);
}

TEST_F(CycleDovecot, Imap4AndPop3AccountsInOneCycle)
{
    const std::string imap = AddImapAccount("Imap");
    const std::string pop = AddAccount("Pop");
    Server->DeliverSeen(imap, Mail("old@example.org", "read already"));
    const std::string one = Mail("Ann <ann@example.org>", "one");
    const std::string two = Mail("bob@example.org", "two");
    const std::string three = Mail("Cy <cy@example.org>", "three");
    Server->Deliver(imap, one);
    Server->Deliver(imap, two);
    Server->DeliverSeen(imap, Mail("old@example.org", "read too"));
    Server->Deliver(imap, three);
    Server->Deliver(pop, Mail("pop@example.org", "by pop"));

    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Imap|Ann <ann@example.org>|one|1|new",
                                                "Imap|bob@example.org|two|1|new",
                                                "Imap|Cy <cy@example.org>|three|1|new",
                                                "Pop|pop@example.org|by pop|1|new"}))
        << Errors();
    EXPECT_EQ(ListRows().SubItem(0, 2), HumanSize(static_cast<int32_t>(one.size())));
    EXPECT_EQ(ListRows().SubItem(1, 2), HumanSize(static_cast<int32_t>(two.size())));
    EXPECT_EQ(ListRows().SubItem(2, 2), HumanSize(static_cast<int32_t>(three.size())));
    EXPECT_EQ(NewCount(), 4);
    EXPECT_EQ(tray->triMail->PictureIndex(), 0);

    // Another client reads the third unseen message: its row goes.
    ReadElsewhere(imap, 5);
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Imap|Ann <ann@example.org>|one|1|cut",
                                                "Imap|bob@example.org|two|1|cut",
                                                "Pop|pop@example.org|by pop|1|cut"}))
        << Errors();
    EXPECT_EQ(NewCount(), 0);

    // The first one read elsewhere and one new in the same interval: the
    // count stays, the new one is told and the rows keep their own texts.
    ReadElsewhere(imap, 2);
    Server->Deliver(imap, Mail("dee@example.org", "four"));
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Imap|bob@example.org|two|1|cut",
                                                "Imap|dee@example.org|four|1|new",
                                                "Pop|pop@example.org|by pop|1|cut"}))
        << Errors();
    EXPECT_EQ(NewCount(), 1);
}

// Each new message of either protocol is listed with the start of its
// text, its tooltip in the window; reading it marks no IMAP4 message read,
// and with previews off none is read.
TEST_F(CycleDovecot, NewMessagesCarryTheStartOfTheirTextWithoutBeingMarkedRead)
{
    const std::string imap = AddImapAccount("Imap");
    const std::string pop = AddAccount("Pop");
    const std::string newsletter =
        "Content-Type: multipart/alternative; boundary=\"nl\"\r\nMIME-Version: 1.0\r\n\r\n--nl\r\n"
        "Content-Type: text/html; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "<html><head><style>td{}</style></head><body><p>Gro=DFe &amp; <b>Rabatte</b></p>=\r\n"
        "<script>x()</script></body></html>\r\n--nl--\r\n";
    const std::string encrypted = "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                                  "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHA6CAMIACAQAx\r\n";
    for (const std::string& user : {imap, pop})
    {
        Server->Deliver(user, Mail("ann@example.org", "plain"));
        Server->Deliver(user, Mail("news@example.org", "letter", newsletter));
        Server->Deliver(user, Mail("eve@example.org", "sealed", encrypted));
    }

    Tick();
    const std::vector<std::string> previews = {"body of plain", "Gro\xC3\x9F" "e & Rabatte", ""};
    TMessageList& rows = ListRows();
    ASSERT_EQ(rows.Count(), 6) << Errors();
    for (int i = 0; i < rows.Count(); ++i)
    {
        EXPECT_EQ(rows.Row(i).Preview, previews[static_cast<std::size_t>(i % 3)]) << rows.Caption(i) << " " << i;
        EXPECT_EQ(newMail->lvwMessages->topLevelItem(i)->toolTip(2).contains(QStringLiteral("Rabatte")), i % 3 == 1);
    }
    TIdIMAP4 other;
    AimImap(other, imap);
    other.Connect(true);
    ASSERT_TRUE(other.SelectMailbox("inbox"));
    TIdIMAP4SearchRec unseen;
    unseen.SearchKey = skUnseen;
    ASSERT_TRUE(other.SearchMailbox({unseen}));
    EXPECT_EQ(other.MailBox.SearchHits.size(), 3u);
    other.Disconnect();

    keeper->Config.ShowPreview = false;
    CheckNow();
    ASSERT_EQ(rows.Count(), 6) << Errors();
    for (int i = 0; i < rows.Count(); ++i)
        EXPECT_EQ(rows.Row(i).Preview, "");
}

TEST_F(CycleDovecot, Imap4WrongPasswordIsAnErrorRowAndTheNextAccountIsChecked)
{
    AddImapAccount("Imap", "wrong");
    const std::string b = AddImapAccount("After");
    Server->Deliver(b, Mail("bob@example.org", "b"));
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"After|bob@example.org|b|1|new", "Imap|0|new"}));
    EXPECT_NE(Errors().find("Non Authenticated"), std::string::npos) << Errors();
    EXPECT_EQ(tray->triMail->PictureIndex(), 2);
}

TEST_F(CycleDovecot, SilentImap4ServerCostsOneTimeOut)
{
    ScriptedServer silent(R"(
        S: * OK hello
        C~ C1 LOGIN
        STALL
    )");
    AddImapAccount("Silent");
    keeper->Config.Accounts[0].Port = std::to_string(silent.Port());
    auto clock = std::make_shared<FakeClock>();
    wired->limits.Clock = clock;
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Silent|0|new"}));
    EXPECT_NE(Errors().find("Read Timeout"), std::string::npos) << Errors();
    EXPECT_TRUE(silent.WaitClientClosed());
    // Nothing more was asked of it: no LOGOUT waited for a second time-out.
    EXPECT_EQ(silent.ReceivedLines().size(), 1u);
    EXPECT_EQ(clock->Served(), std::chrono::milliseconds(wired->limits.ReadTimeout));
}

TEST_F(CycleDovecot, DisabledAccountKeepsItsRows)
{
    const std::string a = AddAccount("A");
    const std::string b = AddAccount("B");
    Server->Deliver(a, Mail("ann@example.org", "kept"));
    Server->Deliver(b, Mail("bob@example.org", "b"));
    Tick();
    keeper->Config.Accounts[0].Enabled = false;
    DeleteOnServer(a, 1);
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"A|ann@example.org|kept|1|new",
                                                "B|bob@example.org|b|1|cut"}));
    EXPECT_EQ(wired->mailCheck.Cycle().ListedCount, 2);
}

TEST_F(CycleDovecot, RequiredPriority)
{
    const std::string a = AddAccount("A");
    // X-Priority 1 is the highest level (0), 3 normal (2), 5 the lowest (4).
    Server->Deliver(a, Mail("a@example.org", "urgent", "X-Priority: 1\r\n"));
    Server->Deliver(a, Mail("a@example.org", "normal", "X-Priority: 3\r\n"));
    Server->Deliver(a, Mail("a@example.org", "low", "X-Priority: 5\r\n"));
    Server->Deliver(a, Mail("a@example.org", "odd", "X-Priority: 0\r\n"));

    keeper->Config.RequiredPriority = 2; // "Normal"
    CheckNow();
    EXPECT_EQ(NewCount(), 2);

    keeper->Config.RequiredPriority = 4;
    CheckNow();
    EXPECT_EQ(NewCount(), 3); // 255 is no level, not even the lowest

    keeper->Config.RequiredPriority = -1; // nothing chosen: the byte 255
    CheckNow();
    EXPECT_EQ(NewCount(), 4);
}

TEST_F(CycleDovecot, TwoAccountsWithOneCaption)
{
    const std::string a = AddAccount("Same");
    const std::string b = AddAccount("Same");
    Server->Deliver(a, Mail("ann@example.org", "a1"));
    Server->Deliver(b, Mail("bob@example.org", "b1"));
    Server->Deliver(b, Mail("bob@example.org", "b2"));
    Tick();
    // Each account keeps its own rows, though the captions match.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Same|ann@example.org|a1|1|new",
                                                "Same|bob@example.org|b1|1|new",
                                                "Same|bob@example.org|b2|1|new"}));
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Same|ann@example.org|a1|1|cut",
                                                "Same|bob@example.org|b1|1|cut",
                                                "Same|bob@example.org|b2|1|cut"}));
}

TEST_F(CycleDovecot, ActionsThroughTheWindows)
{
    const std::string a = AddAccount("A");
    Server->Deliver(a, Mail("ann@example.org", "one"));
    keeper->Config.ScrLckBlinking = 2;
    keeper->Config.ShowIcon = "/nowhere/newmsg.ico";
    Tick();
    EXPECT_TRUE(tray->timBlinking->isActive());
    EXPECT_EQ(tray->timBlinking->interval(), 500);
    EXPECT_TRUE(tray->triNewMsg->Visible());
    EXPECT_TRUE(newMail->isVisible());

    // A sound file named but never opened by a load: the player's error ends
    // the remaining actions and leaves the cycle; the check timer runs on.
    newMail->hide();
    keeper->Config.PlaySound = "/nowhere/notify.wav";
    EXPECT_THROW(CheckNow(), EMediaError);
    EXPECT_FALSE(newMail->isVisible());
    EXPECT_TRUE(tray->timMail->isActive());
    EXPECT_EQ(Headline(), "There is a message to read");
}

// Each account at its own pace and voice: one with an interval of its own is
// checked as often as it asks while the other waits for the common one; the
// silent one's mail is listed and counted, never told; one switched off
// wakes nobody.
TEST_F(CycleDovecot, PerAccountIntervalsAndSilenceSideBySide)
{
    FakeClock clock;
    wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail, &clock);
    std::vector<std::string> told;
    wired->mailCheck.RunCommand = [&told](const std::vector<std::string>& arguments) {
        told.push_back(arguments.back());
    };
    keeper->Config.Execute = "tool %SUBJECT%";
    keeper->Config.CheckingTime = 300;
    const std::string work = AddAccount("Work");
    keeper->Config.Accounts.back().CheckingTime = 60;
    const std::string list = AddImapAccount("List");
    keeper->Config.Accounts.back().Silent = true;
    AddAccount("Off", false);
    keeper->Config.Accounts.back().CheckingTime = 5;
    Server->Deliver(list, Mail("list@example.org", "l1"));

    Tick();
    EXPECT_EQ(wired->checkSessions, 2);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"List|list@example.org|l1|1|new"})) << Errors();
    EXPECT_EQ(Headline(), "There is a message to read");
    EXPECT_FALSE(newMail->isVisible());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(tray->timMail->interval(), 60 * 1000) << "armed for the account with its own interval";

    Server->Deliver(work, Mail("ann@example.org", "w1"));
    Server->Deliver(list, Mail("list@example.org", "l2"));
    clock.WaitedOut(60 * 1000);
    Tick();
    EXPECT_EQ(wired->checkSessions, 3) << "only Work was due";
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|w1|1|new", "List|list@example.org|l1|1|new"}));
    EXPECT_TRUE(newMail->isVisible());
    EXPECT_EQ(told, std::vector<std::string>{"w1"});

    // Work has been checked every minute meanwhile; now both are due.
    clock.WaitedOut(240 * 1000);
    Tick();
    EXPECT_EQ(wired->checkSessions, 5);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|w1|1|cut", "List|list@example.org|l1|1|cut",
                                                "List|list@example.org|l2|1|new"}));
    EXPECT_EQ(Headline(), "There are 3 messages to read");
    EXPECT_EQ(told, std::vector<std::string>{"w1"});
}

// Reads the lines a command wrote, waiting (bounded) until there are `count`.
std::vector<std::string> WaitForLines(const std::string& file, std::size_t count)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<std::string> lines;
    while (clock.elapsed() < 10000)
    {
        lines.clear();
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        if (lines.size() >= count)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return lines;
}

TEST_F(CycleDovecot, CheckNowRunsTheCommandOncePerMessageWithoutAShell)
{
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::string script = folder + "/record args";
    const std::string out = folder + "/out.txt";
    {
        std::ofstream s(script);
        // One write per command: the commands run side by side, so their lines
        // may come in any order but never mixed.
        s << "#!/bin/sh\nline=$(for a in \"$@\"; do printf '[%s]' \"$a\"; done)\n"
          << "printf '%s\\n' \"$line\" >> \"" << out << "\"\n";
    }
    chmod(script.c_str(), 0755);

    const std::string a = AddAccount("Home");
    AddAccount("Broken", true, "wrong");
    Server->Deliver(a, Mail("Ann <ann@example.org>", "hello world"));
    const std::string hostile = "x\" ; touch " + folder + "/pwned; echo \"$(id) `id` & ok";
    Server->Deliver(a, Mail("\"Eve; rm\" <eve@example.org>", hostile));
    // Escape, bell, backspace, delete and a carriage return would colour or
    // rewrite the terminal of a script that prints its arguments.
    Server->Deliver(a, Mail("=?UTF-8?Q?Mal=1B=5B0m?= <mal@example.org>", "=?UTF-8?Q?=1B=5B31mred=07=08=7F=0Dend?="));

    Tick();
    keeper->Config.Execute = "\"" + script + "\" %ACCOUNT% %MSGID% %FROM% %SUBJECT%";
    CheckNow(); // everything is new again: one command per message row
    std::vector<std::string> lines = WaitForLines(out, 3);
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[Account1][1][Ann <ann@example.org>][hello world]");
    EXPECT_EQ(lines[1], "[Account1][2][" + ListRows().SubItem(1, 0) + "][" + hostile + "]");
    EXPECT_EQ(ListRows().SubItem(2, 1), " [31mred    end");
    EXPECT_EQ(lines[2], "[Account1][3][" + ListRows().SubItem(2, 0) + "][ [31mred    end]");
    EXPECT_EQ(ListRows().SubItem(2, 0).find('\x1B'), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder + "/pwned"));
}

// The same over a Dovecot with folders and special-use marks.
class CycleFoldersDovecot : public CycleDovecot
{
public:
    static void SetUpTestSuite() { StartSuite({.Folders = true}); }
};

// Mail filed into a watched folder is told beside the inbox's, folder by
// folder; Junk, not watched, stays quiet; a renamed folder is an error row
// of its own while the inbox is still listed.
TEST_F(CycleFoldersDovecot, FiledMailIsToldJunkIsNotAndARenamedFolderFailsAlone)
{
    const std::string user = AddImapAccount("Work");
    for (const char* folder : {"Lists", "Junk"})
        Server->CreateFolder(user, folder);
    keeper->Config.Accounts.back().Folders = {{"Lists", true}, {"INBOX", true}, {"Junk", false}};
    Server->DeliverTo(user, "Lists", Mail("list@example.org", "list mail"));
    Server->Deliver(user, Mail("ann@example.org", "inbox mail"));
    Server->DeliverTo(user, "Junk", Mail("spam@example.org", "junk mail"));
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|inbox mail|1|new",
                                                "Work|list@example.org|list mail|1|new"}))
        << Errors();
    EXPECT_EQ(ListRows().Row(1).Mailbox, "Lists");
    EXPECT_EQ(NewCount(), 2);

    Server->DeliverTo(user, "Lists", Mail("list@example.org", "second"));
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|inbox mail|1|cut",
                                                "Work|list@example.org|list mail|1|cut",
                                                "Work|list@example.org|second|1|new"}))
        << Errors();

    Server->RenameFolder(user, "Lists", "Archive");
    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|inbox mail|1|cut", "Work|0|new"}));
    EXPECT_EQ(Errors(), "Work: The folder \"Lists\" does not exist on the server.\n");
}


// A message kept in two watched folders (copied, as a label beside the inbox
// keeps it) is told once, by its Message-ID or else its fingerprint: one
// command, one notification, counted once; after a restart not at all.
TEST_F(CycleFoldersDovecot, AMessageInTwoWatchedFoldersIsToldOnce)
{
    const std::string user = AddImapAccount("Work");
    Server->CreateFolder(user, "Lists");
    keeper->Config.Accounts.back().Folders = {{"INBOX", true}, {"Lists", true}};
    keeper->Config.Execute = "tool %FOLDER% %SUBJECT%";
    keeper->Config.ShowIcon = "newmsg.ico";
    std::vector<std::vector<std::string>> told;
    const auto record = [&told](const std::vector<std::string>& arguments) { told.push_back(arguments); };
    wired->mailCheck.RunCommand = record;
    std::vector<std::string> balloons;
    tray->triNewMsg->SetHost(TTrayHost::StatusNotifier);
    tray->triNewMsg->Notify = [&balloons](const TTrayIcon::TBalloon& balloon) {
        balloons.push_back(balloon.Text.toStdString());
        return true;
    };
    Server->Deliver(user, Mail("ann@example.org", "labelled", "Message-ID: <labelled@example.org>\r\n"));
    {
        TIdIMAP4 other;
        AimImap(other, user);
        other.Connect(true);
        ASSERT_TRUE(other.SelectMailbox("INBOX"));
        ASSERT_EQ(other.SendTaggedCommand(other.NextTag(), "COPY 1 Lists", {}), "OK");
        other.Disconnect();
    }
    const std::string plain = Mail("bob@example.org", "no id", "Date: Tue, 8 Dec 2026 10:00:00 +0100\r\n");
    Server->Deliver(user, plain);
    Server->DeliverTo(user, "Lists", plain);

    Tick();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|ann@example.org|labelled|1|new", "Work|bob@example.org|no id|1|new",
                                                "Work|ann@example.org|labelled|1|cut",
                                                "Work|bob@example.org|no id|1|cut"}))
        << Errors();
    EXPECT_EQ(told, (std::vector<std::vector<std::string>>{{"tool", "INBOX", "labelled"}, {"tool", "INBOX", "no id"}}));
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].rfind("There are 2 messages to read", 0), 0u) << balloons[0];
    EXPECT_EQ(NewCount(), 2);
    EXPECT_EQ(Headline(), "There are 2 messages to read");

    Restart();
    wired->mailCheck.RunCommand = record;
    told.clear();
    Tick();
    EXPECT_EQ(ListRows().Count(), 4) << Errors();
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(balloons.size(), 1u);
    EXPECT_EQ(Headline(), "There are 2 messages to read");
}

// Under push, one line hears of ten watched folders: mail filed into any of
// them is told within seconds, mail into Junk is not, and at rest the
// account holds no more than two connections.
TEST_F(CycleFoldersDovecot, PushHearsTenFoldersOnOneConnection)
{
    const std::string user = AddImapAccount("Work");
    std::vector<TAccountFolder> folders = {{"INBOX", true}, {"Junk", false}};
    Server->CreateFolder(user, "Junk");
    for (int i = 1; i <= 9; ++i)
    {
        Server->CreateFolder(user, "F" + std::to_string(i));
        folders.push_back({"F" + std::to_string(i), true});
    }
    keeper->Config.Accounts.back().Folders = folders;
    wired->StartPush();
    Tick();
    const Account pushed = keeper->Config.Accounts[0];
    ASSERT_TRUE(WaitUntil([&] { return wired->push->Healthy(pushed); }, 10000)) << "NOTIFY never started";
    wired->WaitForChecks();
    const int atRest = ConnectionsTo(Server->ImapPort());
    EXPECT_GE(atRest, 1); // the push line itself
    EXPECT_LE(atRest, 2);

    Server->DeliverTo(user, "Junk", Mail("spam@example.org", "junk"));
    Server->DeliverTo(user, "F7", Mail("ann@example.org", "filed"));
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 1; }, 10000)) << Errors();
    Server->DeliverTo(user, "F3", Mail("bob@example.org", "second"));
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 2; }, 10000)) << Errors();
    wired->WaitForChecks();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Work|bob@example.org|second|1|new",
                                                "Work|ann@example.org|filed|1|cut"}));
    EXPECT_LE(ConnectionsTo(Server->ImapPort()), 2);
}

// The Account page's folder choice reads the server's folders beside the
// window: the inbox ticked for an account that stores none, special-use
// Junk shown unticked; OK stores the ticks in the account.
TEST_F(CycleFoldersDovecot, FolderChoiceReadsTheServersFoldersAndStoresTheTicks)
{
    const std::string user = AddImapAccount("Work");
    for (const char* folder : {"Lists", "Junk"})
        Server->CreateFolder(user, folder);
    settings->ShowConfig(keeper->Config);
    settings->lvwAccounts->topLevelItem(0)->setSelected(true);
    ASSERT_TRUE(settings->btnFolders->isEnabled());
    settings->btnFolders->click();
    auto* dialog = settings->findChild<TfrmFolders*>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntil([dialog] { return dialog->Loaded(); }, 10000));
    std::map<std::string, bool> shown;
    QTreeWidget* list = dialog->lvwFolders;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        shown[list->topLevelItem(i)->text(0).toStdString()] = list->topLevelItem(i)->checkState(0) == Qt::Checked;
    EXPECT_EQ(shown, (std::map<std::string, bool>{{"INBOX", true}, {"Junk", false}, {"Lists", false}}))
        << dialog->lblFolders->text().toStdString();
    EXPECT_EQ(list->topLevelItem(0)->text(0), "INBOX");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(0) == "Lists")
            list->topLevelItem(i)->setCheckState(0, Qt::Checked);
    dialog->btnOk->click();
    EXPECT_EQ(settings->ConfigOfControls().Accounts[0].Folders,
              (std::vector<TAccountFolder>{{"INBOX", true}, {"Lists", true}}));
}

} // namespace


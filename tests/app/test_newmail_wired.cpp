// The notification window wired as the program wires it: the keeper's
// configuration value is its configuration, and Delete and Refresh go through
// the tray shell's Check now and the real check cycle, Delete on a worker with
// clients of its own.

#include "check/MessageList.h"
#include "config/ConfigStore.h"
#include "app/NewMailEnvironment.h"
#include "mail/Imap4Client.h"
#include "notify/DeleteRun.h"
#include "notify/NewMailController.h"
#include "platform/CodePage.h"
#include "support/Dovecot.h"
#include "support/DovecotAccounts.h"
#include "support/DovecotFixture.h"
#include "support/Loopback.h"
#include "support/OAuth2Dovecot.h"
#include "support/TestHelpers.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <utility>

namespace
{

class WiredTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        LoadPending = false; // the value set here is the configuration
        // The interval a load would set: no tick of its own during a test.
        tray->timMail->setInterval(keeper->Config.CheckingTime * 1000);
        keeper->Config.ShowForm = false;
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
        new TNewMailController(*newMail, // owned by the window
                               NewMailEnvironment(keeper->Config, *tray, [this] { wired->shell.mnuCheckNowClick(); },
                                                  wired->mailCheck,
                                                  [this](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
                                                      return MakeDeleteClient(protocol, wired->limits, abort);
                                                  }));
    }

    void TearDown() override
    {
        // The window's controller reaches the check: the window goes first.
        newMail.reset();
        wired.reset();
        UiFixture::TearDown();
    }

    std::vector<std::string> Listed() const
    {
        std::vector<std::string> listed;
        TMessageList& rows = wired->mailCheck.Rows();
        for (int i = 0; i < rows.Count(); ++i)
            listed.push_back(rows.Caption(i) + ":" + rows.SubItem(i, 1));
        return listed;
    }

    // ann and bob on Dovecot POP3, with the "user:subject" messages, checked.
    void CheckAnnAndBob(Dovecot& server, std::initializer_list<const char*> messages)
    {
        keeper->Config.Accounts.clear();
        for (const char* user : {"ann", "bob"})
        {
            AddSuiteMailbox(server, "pw", user);
            keeper->Config.Accounts.push_back(
                {user, true, user, "pw", server.Host(), std::to_string(server.Pop3Port()), false});
        }
        for (const char* message : messages)
            server.Deliver(std::string(message, 3), std::string("Subject: ") + (message + 4) + "\r\n\r\nx\r\n");
        tray->mnuChecknow->trigger();
        wired->WaitForChecks();
    }

    // Deletes the rows, answering Yes.
    void DeleteRows(std::initializer_list<int> rows)
    {
        newMail->show();
        newMail->lvwMessages->clearSelection();
        for (int i : rows)
            newMail->lvwMessages->topLevelItem(i)->setSelected(true);
        SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
        newMail->actDelete->trigger();
    }

    std::unique_ptr<WiredShell> wired;
};

TEST_F(WiredTest, ReadAndAutoHideFollowTheConfiguration)
{
    keeper->Config.FormAutoHide = 7;
    newMail->show();
    EXPECT_EQ(newMail->timShowing->interval(), 7 * 1000);
    EXPECT_TRUE(newMail->timShowing->isActive());

    QTemporaryDir dir;
    const std::string marker = ToCodePage(dir.path()) + "/started";
    keeper->Config.EmailClient = "/bin/sh -c \"echo > '" + marker + "'\"";
    tray->triNewMsg->SetVisible(true);
    newMail->actMailbox->trigger();
    EXPECT_TRUE(newMail->isHidden());
    EXPECT_FALSE(tray->triNewMsg->Visible());
    QElapsedTimer clock;
    clock.start();
    while (!std::ifstream(marker) && clock.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_TRUE(std::ifstream(marker).good()) << "the mail client did not run";
}

TEST_F(WiredTest, QuickViewWaitsForItsReaderBesideTheWindowThenReloads)
{
    QTemporaryDir dir;
    const std::string release = ToCodePage(dir.path()) + "/release";
    const std::string saved = std::exchange(
        ReaderCommand, "/bin/sh -c \"for i in $(seq 250); do [ -e '" + release + "' ] && break; sleep 0.02; done\"");
    keeper->Config.Accounts = {{"ann", true, "ann", "pw", "127.0.0.1", "1", false}};
    wired->mailCheck.Rows().Append({"ann", {"a@example.org", "s", "1 KB"}, riMessage, false, {}, {}, {}});
    newMail->show();
    newMail->lvwMessages->topLevelItem(0)->setSelected(true);

    newMail->actRead->trigger(); // back while the reader cannot have ended
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:s"}));
    std::ofstream(release).put('\n');
    EXPECT_TRUE(WaitUntil([this] { return Listed() == std::vector<std::string>{"ann:"}; }, 10000))
        << "the reload after the reader";
    wired->WaitForChecks();
    ReaderCommand = saved;
}

// The same on the suite's Dovecot.
class WiredDovecotTest : public DovecotFixture<WiredTest>
{
};

TEST_F(WiredDovecotTest, DeletesSelectedMessagesOfTwoAccountsOnDovecotAndReloads)
{
    Dovecot& server = *Server;
    CheckAnnAndBob(server, {"ann:a1", "ann:a2", "ann:a3", "bob:b1", "bob:b2"});
    DeleteRows({0, 2, 4});
    wired->WaitForChecks();

    EXPECT_EQ(server.CountMessages("ann"), 1u);
    EXPECT_EQ(server.CountMessages("bob"), 1u);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:a2", "bob:b1"}));
    EXPECT_TRUE(newMail->lvwMessages->topLevelItem(0)->isSelected());
}

// The hive as a person edits it while the program runs: one account's
// value that cannot be used costs only its error row on each round, the
// accounts after it are checked on Dovecot, and an account added by hand is
// checked from the next round.
TEST_F(WiredDovecotTest, HandEditedHiveCostsOnlyTheBadAccountAndAHandAddedOneIsChecked)
{
    Dovecot& server = *Server;
    const auto account = [&server](int number, const std::string& user, const std::string& port) {
        AddSuiteMailbox(server, "pw", user);
        server.Deliver(user, "Subject: to " + user + "\r\n\r\nx\r\n");
        Store(ConfigKey, "AccountsNo", number);
        for (const char* name : {"Caption", "UserName"})
            Store(AccountKey(number), name, user);
        Store(AccountKey(number), "UserPassword", std::string("pw"));
        Store(AccountKey(number), "HostAddress", server.Host());
        Store(AccountKey(number), "HostPort", port);
    };
    const std::string port = std::to_string(server.Pop3Port());
    account(1, "ann", port);
    account(2, "bob", "110abc");
    account(3, "cy", port);
    Store(ConfigKey, "PlaySound", std::string());
    keeper->Load();
    const auto round = [this] {
        tray->mnuChecknow->trigger();
        wired->WaitForChecks();
        TMessageList& rows = wired->mailCheck.Rows();
        return rows.Row(rows.Count() - 1).Hint;
    };
    EXPECT_EQ(round(), "The port '110abc' is not a number.");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:to ann", "cy:to cy", "bob:"}));

    Store(AccountKey(2), "HostPort", server.Pop3Port());
    account(4, "dan", port);
    EXPECT_EQ(round(), "The value 'HostPort' is not stored as text.");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:to ann", "cy:to cy", "dan:to dan", "bob:"}));
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(AccountKey(2), false));
    EXPECT_EQ(reg.GetDataType("HostPort"), TRegDataType::rdInteger) << "the hand edit is kept as it is";
}

TEST_F(WiredDovecotTest, DeleteRunsBesideTheBusyWindowThenChecksOnlyTheAccountsItTouched)
{
    Dovecot& server = *Server;
    CheckAnnAndBob(server, {"ann:a1", "ann:a2", "bob:b1"});
    server.Deliver("bob", "Subject: b2\r\n\r\nx\r\n");
    DeleteRows({0});

    // The sessions are on a worker: the window is back at once, busy.
    EXPECT_TRUE(wired->mailCheck.Busy());
    for (QAction* action : {newMail->actDelete, newMail->actRefresh, newMail->actMailbox})
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
    EXPECT_EQ(newMail->cursor().shape(), Qt::BusyCursor);
    wired->WaitForChecks();

    EXPECT_EQ(server.CountMessages("ann"), 1u);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:a2", "bob:b1"})) << "bob was not checked again";
    EXPECT_TRUE(newMail->actRefresh->isEnabled());
    EXPECT_EQ(newMail->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WiredDovecotTest, DeleteDuringARoundWaitsForItsEnd)
{
    Dovecot& server = *Server;
    CheckAnnAndBob(server, {"ann:a1", "ann:a2"});
    LoopbackListener silent;
    ASSERT_TRUE(silent.Listening());
    keeper->Config.Accounts[1].Port = std::to_string(silent.Port());
    wired->limits.ReadTimeout = 1500;
    tray->mnuChecknow->trigger();
    ASSERT_TRUE(WaitUntil([this] { return Listed().size() == 2; }, 5000));

    DeleteRows({0});
    // Never two sessions of one account at once: ann's is over, but the
    // round is not, so her Delete waits.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(server.CountMessages("ann"), 2u);
    wired->WaitForChecks();
    EXPECT_EQ(server.CountMessages("ann"), 1u);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:a2", "bob:"}));
}

TEST_F(WiredDovecotTest, Pop3RowWhoseNumberNowNamesAnotherMessageDeletesNothing)
{
    Dovecot& server = *Server;
    NewMailbox("pw", "ann");
    keeper->Config.Accounts = {{"ann", true, "ann", "pw", server.Host(), std::to_string(server.Pop3Port()), false}};
    // Alike in header and size: only their unique ids tell them apart.
    for (const char* body : {"x1", "x2", "x3"})
        server.Deliver("ann", std::string("Subject: same\r\n\r\n") + body + "\r\n");
    tray->mnuChecknow->trigger();
        wired->WaitForChecks();
    ASSERT_EQ(Listed(), (std::vector<std::string>{"ann:same", "ann:same", "ann:same"}));

    // Another client takes x1: the row of x2 says message 2, now x3.
    TIdPOP3 other;
    other.Host = server.Host();
    other.Port = server.Pop3Port();
    other.Username = "ann";
    other.Password = "pw";
    other.Connect();
    ASSERT_TRUE(other.DeleteMessage(1));
    other.Disconnect();

    std::vector<TMessageRequest> asked;
    SetMessageAnswerer([&](const TMessageRequest& request) {
        asked.push_back(request);
        return TModalResult::mrYes;
    });
    newMail->show();
    newMail->lvwMessages->clearSelection();
    newMail->lvwMessages->topLevelItem(1)->setSelected(true);
    newMail->actDelete->trigger();
    wired->WaitForChecks();
    SetMessageAnswerer({});
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].Type, TMsgDlgType::mtWarning);
    const std::vector<std::string> left = server.Messages("ann");
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NE(left[0].find("x2"), std::string::npos);
    EXPECT_NE(left[1].find("x3"), std::string::npos);
}

// An IMAP4 account on Dovecot with the unseen messages a, b and c, checked.
class WiredImap4Test : public DovecotFixture<WiredTest>
{
protected:
    void SetUp() override
    {
        DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        server = Server;
        NewMailbox("pw", "ann");
        keeper->Config.Accounts = {AccountOn(*server, "Imap", "ann", true, asNone, "pw")};
        server->DeliverSeen("ann", "Subject: read\r\n\r\nx\r\n");
        for (const char* subject : {"a", "b", "c"})
            server->Deliver("ann", std::string("From: x@example.org\r\nSubject: ") + subject + "\r\n\r\nx\r\n");
        tray->mnuChecknow->trigger();
        wired->WaitForChecks();
        ASSERT_EQ(Listed(), (std::vector<std::string>{"Imap:a", "Imap:b", "Imap:c"}));
        SetMessageAnswerer([this](const TMessageRequest& request) {
            asked.push_back(request);
            return TModalResult::mrYes;
        });
    }

    void TearDown() override
    {
        SetMessageAnswerer({});
        WiredTest::TearDown();
    }

    void DeleteRow(int row)
    {
        newMail->show();
        newMail->lvwMessages->clearSelection();
        newMail->lvwMessages->topLevelItem(row)->setSelected(true);
        newMail->actDelete->trigger();
        wired->WaitForChecks();
    }

    // Another mail client on the server runs one command on message n.
    void Elsewhere(const std::string& command)
    {
        TIdIMAP4 other;
        other.Host = server->Host();
        other.Port = server->ImapPort();
        other.Username = "ann";
        other.Password = "pw";
        other.ReadTimeout = 5000;
        other.Connect(true);
        ASSERT_TRUE(other.SelectMailbox("inbox"));
        ASSERT_EQ(other.SendTaggedCommand(other.NextTag(), command, {}), "OK");
        other.Disconnect();
    }

    Dovecot* server = nullptr;
    std::vector<TMessageRequest> asked;
};

TEST_F(WiredImap4Test, DeletesTheRowsMessageOnTheServerAndNothingElse)
{
    // Someone else marked the read message deleted: it must survive ours.
    Elsewhere("STORE 1 +FLAGS (\\Deleted)");
    DeleteRow(1);
    ASSERT_EQ(asked.size(), 1u) << asked.back().Text;
    const std::vector<std::string> left = server->Messages("ann");
    ASSERT_EQ(left.size(), 3u);
    EXPECT_NE(left[0].find("Subject: read"), std::string::npos);
    EXPECT_NE(left[1].find("Subject: a"), std::string::npos);
    EXPECT_NE(left[2].find("Subject: c"), std::string::npos);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Imap:a", "Imap:c"}));
}

TEST_F(WiredImap4Test, AfterAnEarlierMessageLeftTheRowsOwnMessageIsDeleted)
{
    // The row of c is now the second unseen hit; its UID still names c.
    Elsewhere("STORE 2 +FLAGS (\\Deleted)");
    Elsewhere("EXPUNGE");
    DeleteRow(2);
    ASSERT_EQ(asked.size(), 1u) << asked.back().Text;
    const std::vector<std::string> left = server->Messages("ann");
    ASSERT_EQ(left.size(), 2u);
    EXPECT_NE(left[1].find("Subject: b"), std::string::npos);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Imap:b"}));
}

// The rows of a and c are marked read and leave the list; b stays unseen,
// and nothing is deleted.
TEST_F(WiredImap4Test, MarkReadSetsSeenOnThoseMessagesAndTheirRowsGo)
{
    TDeletePlan plan;
    plan.Accounts = keeper->Config.Accounts;
    const std::vector<TRowPlace> places = AccountPlaces(plan.Accounts);
    for (int row : {0, 2})
        plan.Targets.push_back(TargetOfRow(wired->mailCheck.Rows(), places, row));
    MarkReadBeside(wired->mailCheck,
                   [this](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
                       return MakeDeleteClient(protocol, wired->limits, abort);
                   },
                   plan);
    wired->WaitForChecks();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Imap:b"}));
    EXPECT_EQ(server->CountMessages("ann"), 4u);
}

// An OAuth2 account on a Dovecot that takes only tokens for it: the check,
// Delete and Mark as read each log in with a token of their own.
class WiredOAuth2Test : public OAuth2DovecotFixture<WiredTest>
{
protected:
    void SetUp() override
    {
        OAuth2DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        Dovecot& server = *Server;
        NewMailbox("unused", "tokens");
        Account account = AccountOn(server, "Token", "tokens", true, asNone, "");
        account.Authentication = aaOAuth2;
        keeper->Config.Accounts = {account};
        wired->limits.Tokens = tokens;
        for (const char* subject : {"a", "b", "c"})
            server.Deliver("tokens", std::string("From: x@example.org\r\nSubject: ") + subject + "\r\n\r\nx\r\n");
        tray->mnuChecknow->trigger();
        wired->WaitForChecks();
        ASSERT_EQ(Listed(), (std::vector<std::string>{"Token:a", "Token:b", "Token:c"}));
    }

    std::shared_ptr<TMintedTokens> tokens = std::make_shared<TMintedTokens>();
};

TEST_F(WiredOAuth2Test, DeleteAndMarkAsReadLogInWithTokens)
{
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
    newMail->show();
    newMail->lvwMessages->clearSelection();
    newMail->lvwMessages->topLevelItem(1)->setSelected(true);
    newMail->actDelete->trigger();
    wired->WaitForChecks();
    SetMessageAnswerer({});
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Token:a", "Token:c"}));
    EXPECT_EQ(Server->CountMessages("tokens"), 2u);

    TDeletePlan plan;
    plan.Accounts = keeper->Config.Accounts;
    plan.Targets.push_back(TargetOfRow(wired->mailCheck.Rows(), AccountPlaces(plan.Accounts), 0));
    MarkReadBeside(wired->mailCheck,
                   [this](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
                       return MakeDeleteClient(protocol, wired->limits, abort);
                   },
                   plan);
    wired->WaitForChecks();
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Token:c"}));
    // Each session asked once, none for a fresh token: the first check,
    // Delete and its check, Mark as read and its check.
    EXPECT_EQ(tokens->AskedSoFar(), std::vector<bool>(5, false));
}

// Results that came spread over a round (three programs checking at once)
// told the accounts still being checked their earlier messages again.
TEST_F(WiredDovecotTest, EachMessageIsToldOnceWhenResultsComeSpreadOverTheRound)
{
    constexpr int accounts = 12;
    Dovecot& server = *Server;
    keeper->Config.Accounts.clear();
    for (int a = 1; a <= accounts; ++a)
    {
        const std::string user = NewMailbox("pw", "u" + std::to_string(a));
        keeper->Config.Accounts.push_back(AccountOn(server, user, user, false, asNone, "pw"));
    }
    keeper->Config.Execute = "x %ACCOUNT% %SUBJECT%";
    std::vector<std::vector<std::string>> told;
    wired->mailCheck.RunCommand = [&told](const std::vector<std::string>& arguments) { told.push_back(arguments); };
    std::mutex lock;
    std::mt19937 random(34);
    wired->beforeSession = [&lock, &random] {
        int delay = 0;
        {
            const std::lock_guard<std::mutex> hold(lock);
            delay = static_cast<int>(random() % 400);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    };
    for (int round = 1; round <= 4; ++round)
    {
        std::set<std::vector<std::string>> expected;
        for (int a = 1; a <= accounts; ++a)
        {
            const std::string subject = "r" + std::to_string(round);
            server.Deliver("u" + std::to_string(a), "Subject: " + subject + "\r\n\r\nx\r\n");
            expected.insert({"x", "Account" + std::to_string(a), subject});
        }
        told.clear();
        wired->shell.timMailTimer();
        wired->WaitForChecks();
        EXPECT_EQ(std::set<std::vector<std::string>>(told.begin(), told.end()), expected) << "round " << round;
        EXPECT_EQ(told.size(), expected.size()) << "round " << round;
    }
}

// A mailbox past the bound (lowered here): the newest are listed, a new one
// is told with its number (POP3: in the maildrop; IMAP4: among the unseen,
// after a read message), and Delete of its row deletes that message.
class WiredLargeMailboxTest : public DovecotFixture<WiredTest>, public testing::WithParamInterface<bool>
{
};

TEST_P(WiredLargeMailboxTest, TheNewestAreListedAndANewOneIsToldAndDeletedByItsNumber)
{
    const bool imap4 = GetParam();
    Dovecot& server = *Server;
    NewMailbox("pw", "ann");
    keeper->Config.Accounts = {{"Big", true, "ann", "pw", server.Host(),
                                std::to_string(imap4 ? server.ImapPort() : server.Pop3Port()), imap4}};
    keeper->Config.Execute = "x %MSGID% %SUBJECT%";
    std::vector<std::vector<std::string>> told;
    wired->mailCheck.RunCommand = [&told](const std::vector<std::string>& arguments) { told.push_back(arguments); };
    wired->mailCheck.Cycle().MaxMessages = 3;
    if (imap4)
        server.DeliverSeen("ann", "Subject: read\r\n\r\nx\r\n");
    const auto deliver = [&server](int i) {
        server.Deliver("ann", "From: x@example.org\r\nSubject: m" + std::to_string(i) + "\r\n\r\nx\r\n");
    };
    for (int i = 1; i <= 5; ++i)
        deliver(i);
    wired->shell.timMailTimer();
    wired->WaitForChecks();
    ASSERT_EQ(Listed(), (std::vector<std::string>{"Big:m3", "Big:m4", "Big:m5", "Big:"}));
    EXPECT_EQ(newMail->lblNewMessage->text().toStdString(), "There are 5 messages to read; the newest 3 are listed");

    deliver(6);
    told.clear();
    wired->shell.timMailTimer();
    wired->WaitForChecks();
    ASSERT_EQ(Listed(), (std::vector<std::string>{"Big:m4", "Big:m5", "Big:m6", "Big:"}));
    EXPECT_EQ(told, (std::vector<std::vector<std::string>>{{"x", "6", "m6"}}));

    DeleteRows({2});
    wired->WaitForChecks();
    const std::vector<std::string> left = server.Messages("ann");
    ASSERT_EQ(left.size(), imap4 ? 6u : 5u);
    EXPECT_NE(left.back().find("Subject: m5"), std::string::npos);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Big:m3", "Big:m4", "Big:m5", "Big:"}));
}

INSTANTIATE_TEST_SUITE_P(Protocols, WiredLargeMailboxTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Imap4" : "Pop3"; });

TEST_F(WiredImap4Test, MessageRemovedElsewhereSinceTheCheckDeletesNothing)
{
    // The row of b now names c: the second unseen message.
    Elsewhere("STORE 3 +FLAGS (\\Deleted)");
    Elsewhere("EXPUNGE");
    DeleteRow(1);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].Type, TMsgDlgType::mtWarning);
    EXPECT_NE(asked[1].Text.find("Imap: x@example.org - b"), std::string::npos) << asked[1].Text;
    EXPECT_EQ(server->CountMessages("ann"), 3u);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"Imap:a", "Imap:c"}));
}

} // namespace

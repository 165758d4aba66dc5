// Delete from the notification window through the POP3 client, against
// scripted servers.

#include "check/MessageList.h"
#include "check/Utils.h"
#include "mail/IdExceptions.h"
#include "mail/Pop3Client.h"
#include "notify/NewMailController.h"
#include "notify/Pop3DeleteClient.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"
#include "platform/Exception.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"

#include <QAction>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace
{

std::string Session(const std::string& user, const std::string& rest)
{
    return "S: +OK ready\nC: CAPA\nS: -ERR\nC: USER " + user + "\nS: +OK\nC: PASS pw\nS: +OK\n" + rest;
}

// The server's header and size of message k, read again before deleting.
std::string Reread(int k, const std::string& subject, int size = 100)
{
    const std::string n = std::to_string(k);
    return "C: TOP " + n + " 0\nS: +OK\nS: From: a@example.org\nS: Subject: " + subject + "\nS: .\nC: LIST " + n
           + "\nS: +OK " + n + " " + std::to_string(size) + "\n";
}

std::string Dele(int k, const std::string& subject)
{
    return Reread(k, subject) + "C: DELE " + std::to_string(k) + "\nS: +OK\n";
}

class DeleteTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([this](const TMessageRequest& request) {
            Asked.push_back(request);
            return Answer;
        });
        Form = std::make_unique<TfrmNewMail>();
        Rows = &Form->Rows();
    }
    void TearDown() override { SetMessageAnswerer({}); }

    // Accounts named after their users, all served by `srv`.
    void Start(const ScriptedServer& srv, std::vector<std::string> users, bool imap4 = false,
               const std::string& port = {}, TAccountSecurity security = asNone)
    {
        std::vector<Account>& accounts = Accounts;
        accounts.clear();
        for (const std::string& user : users)
            accounts.push_back({user, true, user, "pw", srv.Host(),
                                port.empty() ? std::to_string(srv.Port()) : port, imap4, security});
        TNewMailEnvironment env;
        env.Accounts = [accounts] { return accounts; };
        env.CheckNow = [this] { Rows->Clear(), ++Checks; };
        env.popMail = &Client;
        new TNewMailController(*Form, std::move(env)); // owned by the form
    }

    // A message row as the check wrote it: from a@example.org, 100 bytes.
    void Add(const std::string& caption, bool selected, int image = riMessage, const std::string& subject = "s")
    {
        std::vector<std::string> shown;
        if (image != riError)
            shown = {"a@example.org", subject, HumanSize(100)};
        TMessageRow row{caption, shown, image, false, {}, {}, {}};
        for (const Account& account : Accounts)
            if (account.Caption == caption)
                row.Key = PlaceOfAccount(account).Key;
        Rows->Append(row);
        Form->lvwMessages->topLevelItem(Rows->Count() - 1)->setSelected(selected);
    }

    std::vector<Account> Accounts;
    TIdPOP3 Pop;
    TPop3DeleteClient Client{Pop};
    std::unique_ptr<TfrmNewMail> Form;
    TMessageList* Rows = nullptr;
    std::vector<TMessageRequest> Asked;
    TModalResult Answer = TModalResult::mrYes;
    int Checks = 0;
};

TEST_F(DeleteTest, OneSessionPerAccountEndedByQuitThenAReload)
{
    ScriptedServer srv(Session("ann", Dele(1, "a1") + Dele(3, "a3") + "C: QUIT\nS: +OK\nACCEPT\n") +
                       Session("bob", Dele(2, "b2") + "C: QUIT\nS: +OK\n"));
    Start(srv, {"ann", "bob", "down"});
    Add("ann", true, riMessage, "a1");
    Add("ann", false, riMessage, "a2");
    Add("ann", true, riMessage, "a3");
    Add("bob", false, riMessage, "b1");
    Add("bob", true, riMessage, "b2");
    Add("down", true, riError); // stands for no message: passed over

    Form->actDelete->trigger();

    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    EXPECT_EQ(srv.Connections(), 2);
    EXPECT_EQ(Checks, 1);
    EXPECT_EQ(Asked.size(), 1u); // the question only
    EXPECT_EQ(Pop.ConnectTimeout, 10000);
    EXPECT_EQ(Pop.ReadTimeout, 30000);
}

struct NothingSentCase
{
    const char* name;
    TModalResult answer;
    bool imap4;
    int image;
    std::size_t boxes;
    int reloads;
};

class NothingSentTest : public DeleteTest, public testing::WithParamInterface<NothingSentCase>
{
};

TEST_P(NothingSentTest, ConnectsNowhere)
{
    const NothingSentCase& c = GetParam();
    ScriptedServer srv("");
    Answer = c.answer;
    Start(srv, {"ann"}, c.imap4);
    Add("ann", true, c.image);
    Form->actDelete->trigger();
    EXPECT_EQ(srv.Connections(), 0);
    EXPECT_EQ(Asked.size(), c.boxes);
    EXPECT_EQ(Checks, c.reloads);
    if (c.imap4)
        EXPECT_EQ(Asked.at(0).Type, TMsgDlgType::mtWarning);
}

INSTANTIATE_TEST_SUITE_P(Cases, NothingSentTest,
                         testing::Values(NothingSentCase{"AnsweredNo", TModalResult::mrNo, false, riMessage, 1, 0},
                                         NothingSentCase{"ErrorRowAlone", TModalResult::mrYes, false, riError, 1, 1},
                                         NothingSentCase{"Imap4Refused", TModalResult::mrYes, true, riMessage, 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeleteTest, ARefusedDeletionDropsTheSessionWithoutQuitAndDoesNotReload)
{
    ScriptedServer srv(Session("ann", Dele(1, "s") + Reread(2, "s") + "C: DELE 2\nS: -ERR gone\n"));
    Start(srv, {"ann"});
    Add("ann", true);
    Add("ann", true);
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.ReceivedAfterScript(), "");
    EXPECT_EQ(Checks, 0);
}

TEST_F(DeleteTest, AStartTlsAccountIsNeverDeletedOverPlainText)
{
    // The server hides STLS: Delete stops before the user name goes.
    ScriptedServer srv("S: +OK ready\nC: CAPA\nS: +OK\nS: USER\nS: .\n");
    Start(srv, {"ann"}, false, {}, asStartTLS);
    Add("ann", true);
    EXPECT_THROW(Form->actDelete->trigger(), EIdTLSNotAvailable);
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.Received(), "CAPA\r\n");
    EXPECT_EQ(Pop.UseTLS, utUseRequireTLS);
    EXPECT_EQ(Checks, 0);
}

TEST_F(DeleteTest, ASilentServerCostsOneReadTimeOut)
{
    ScriptedServer srv("S: +OK ready\nSTALL\n");
    Start(srv, {"ann"});
    auto clock = std::make_shared<FakeClock>();
    Client.Clock = clock;
    Add("ann", true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(Pop.Connected());
    EXPECT_EQ(clock->Served(), std::chrono::milliseconds(Client.ReadTimeout));
}

TEST_F(DeleteTest, AMessageRemovedElsewhereSinceTheCheckIsNotDeleted)
{
    // Another client removed the second message since the check: the first
    // is still number 1, the third row's number 3 stands for nothing now.
    ScriptedServer srv(Session("ann", Dele(1, "first") + "C: TOP 3 0\nS: -ERR no such message\n"
                                      "C: QUIT\nS: +OK\n"));
    Start(srv, {"ann"});
    Add("ann", true, riMessage, "first");
    Add("ann", false, riMessage, "second");
    Add("ann", true, riMessage, "third");

    Form->actDelete->trigger();

    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Asked[1].Type, TMsgDlgType::mtWarning);
    EXPECT_NE(Asked[1].Text.find("ann: a@example.org - third"), std::string::npos) << Asked[1].Text;
    EXPECT_EQ(Asked[1].Text.find("first"), std::string::npos) << Asked[1].Text;
    EXPECT_EQ(Checks, 1);
}

TEST_F(DeleteTest, AnotherMessageUnderTheSameNumberIsNotDeleted)
{
    ScriptedServer srv(Session("ann", Reread(1, "newcomer") + Reread(2, "mine", 200) + "C: QUIT\nS: +OK\n"));
    Start(srv, {"ann"});
    Add("ann", true, riMessage, "mine");
    Add("ann", true, riMessage, "mine"); // same sender and subject, other size
    Form->actDelete->trigger();
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    ASSERT_EQ(Asked.size(), 2u);
    EXPECT_EQ(Checks, 1);
}

// The check failed on a too-long line and left it in the queue of the closed
// connection; Delete begins with a Disconnect, which must not fail on that.
TEST_F(DeleteTest, DeleteAfterACheckThatFailedMidLineWorks)
{
    ScriptedServer srv(Session("ann", "C: STAT\nR: " + std::string(20000, 'x') + "\\r\\nC: QUIT\nS: +OK\nACCEPT\n")
                       + Session("ann", Dele(1, "s") + "C: QUIT\nS: +OK\n"));
    Start(srv, {"ann"});
    Pop.Host = srv.Host();
    Pop.Port = srv.Port();
    Pop.Username = "ann";
    Pop.Password = "pw";
    Pop.Connect();
    EXPECT_THROW(Pop.CountMessages(), Exception);
    EXPECT_THROW(Pop.Disconnect(), Exception); // the goodbye meets the same line
    Add("ann", true);
    EXPECT_NO_THROW(Form->actDelete->trigger());
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_TRUE(srv.Ok());
    EXPECT_EQ(Checks, 1);
}

TEST_F(DeleteTest, PortOutsideTcpRangeIsRefusedWithItsOwnText)
{
    ScriptedServer srv("");
    for (const char* port : {"-110", "70000"})
    {
        Form = std::make_unique<TfrmNewMail>();
        Rows = &Form->Rows();
        Start(srv, {"ann"}, false, port);
        Add("ann", true);
        EXPECT_EQ(MessageOf<Exception>([&] { Form->actDelete->trigger(); }),
                  std::string("Port ") + port + " is not between 1 and 65535.");
    }
    EXPECT_EQ(srv.Connections(), 0);
}

} // namespace

// Delete from the notification window against scripted POP3 servers.

#include "check/MessageRows.h"
#include "mail/IdPOP3.h"
#include "notify/NewMailController.h"
#include "notify/NewMailForm.h"
#include "platform/Dialogs.h"
#include "platform/Exception.h"
#include "support/ScriptedServer.h"

#include <QTreeWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace
{

std::string Session(const std::string& user, const std::string& deletions)
{
    return "S: +OK ready\nC: CAPA\nS: -ERR no\nC: USER " + user + "\nS: +OK\nC: PASS pw\nS: +OK in\n" +
           deletions;
}

class DeletePop3Test : public testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
        Form = std::make_unique<TfrmNewMail>();
        Rows = std::make_unique<TTreeWidgetRows>(*Form->lvwMessages);
    }
    void TearDown() override { SetMessageAnswerer({}); }

    void Start(std::vector<Account> accounts)
    {
        TNewMailEnvironment env;
        env.Accounts = [accounts] { return accounts; };
        env.CheckNow = [this] {
            ++Checks;
            Rows->Clear();
        };
        env.popMail = &Client;
        new TNewMailController(*Form, std::move(env)); // owned by the form
    }

    void Add(const std::string& caption, bool selected)
    {
        TMessageRow row;
        row.Caption = caption;
        row.SubItems = {"ann@example.org", "hello", "1 KB"};
        Rows->Append(row);
        Form->lvwMessages->topLevelItem(Rows->Count() - 1)->setSelected(selected);
    }

    static Account Aimed(const std::string& caption, const std::string& user, const ScriptedServer& srv)
    {
        Account a;
        a.Caption = caption;
        a.UserName = user;
        a.Password = "pw";
        a.Host = srv.Host();
        a.Port = std::to_string(srv.Port());
        return a;
    }

    TIdPOP3 Pop;
    TPop3DeleteClient Client{Pop};
    std::unique_ptr<TfrmNewMail> Form;
    std::unique_ptr<TTreeWidgetRows> Rows;
    int Checks = 0;
};

TEST_F(DeletePop3Test, OneSessionPerAccountEndedByQuitThenAReload)
{
    ScriptedServer home(Session("ann", "C: DELE 1\nS: +OK\nC: DELE 3\nS: +OK\nC: QUIT\nS: +OK bye\n"));
    ScriptedServer work(Session("bob", "C: DELE 2\nS: +OK\nC: QUIT\nS: +OK bye\n"));
    Start({Aimed("Home", "ann", home), Aimed("Work", "bob", work)});
    Add("Home", true);
    Add("Home", false);
    Add("Home", true);
    Add("Work", false);
    Add("Work", true);

    Form->actDelete->trigger();

    EXPECT_TRUE(home.WaitClientClosed());
    EXPECT_TRUE(work.WaitClientClosed());
    EXPECT_EQ(home.Connections(), 1);
    EXPECT_EQ(work.Connections(), 1);
    EXPECT_EQ(home.ReceivedLines().back(), "QUIT");
    EXPECT_EQ(work.ReceivedLines().back(), "QUIT");
    EXPECT_EQ(Checks, 1);
    EXPECT_EQ(Pop.ConnectTimeout, 10000);
    EXPECT_EQ(Pop.ReadTimeout, 30000);
}

TEST_F(DeletePop3Test, ARefusedDeletionEndsTheSessionWithoutQuitAndWithoutReload)
{
    ScriptedServer home(Session("ann", "C: DELE 1\nS: +OK\nC: DELE 2\nS: -ERR message 2 already deleted\n"));
    Start({Aimed("Home", "ann", home)});
    Add("Home", true);
    Add("Home", true);

    EXPECT_THROW(Form->actDelete->trigger(), Exception);

    EXPECT_TRUE(home.WaitClientClosed());
    EXPECT_TRUE(home.ReceivedAfterScript().empty()) << home.ReceivedAfterScript();
    EXPECT_FALSE(Pop.Connected());
    EXPECT_EQ(Checks, 0);
}

TEST_F(DeletePop3Test, ASilentServerCostsOneReadTimeOut)
{
    ScriptedServer home("S: +OK ready\nSTALL\n");
    Start({Aimed("Home", "ann", home)});
    Client.ReadTimeout = 300;
    Add("Home", true);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(Pop.Connected());
    EXPECT_EQ(Checks, 0);
}

} // namespace

// Delete from the notification window through the POP3 client, against
// scripted servers.

#include "check/MessageRows.h"
#include "mail/Pop3Client.h"
#include "notify/NewMailController.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"
#include "platform/Exception.h"
#include "support/ScriptedServer.h"

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
        Rows = std::make_unique<TTreeWidgetRows>(*Form->lvwMessages);
    }
    void TearDown() override { SetMessageAnswerer({}); }

    // Accounts named after their users, all served by `srv`.
    void Start(const ScriptedServer& srv, std::vector<std::string> users, bool imap4 = false)
    {
        std::vector<Account> accounts;
        for (const std::string& user : users)
            accounts.push_back({user, true, user, "pw", srv.Host(), std::to_string(srv.Port()), imap4});
        TNewMailEnvironment env;
        env.Accounts = [accounts] { return accounts; };
        env.CheckNow = [this] { Rows->Clear(), ++Checks; };
        env.popMail = &Client;
        new TNewMailController(*Form, std::move(env)); // owned by the form
    }

    void Add(const std::string& caption, bool selected, int image = riMessage)
    {
        Rows->Append({caption, {}, image, false, {}});
        Form->lvwMessages->topLevelItem(Rows->Count() - 1)->setSelected(selected);
    }

    TIdPOP3 Pop;
    TPop3DeleteClient Client{Pop};
    std::unique_ptr<TfrmNewMail> Form;
    std::unique_ptr<TTreeWidgetRows> Rows;
    std::vector<TMessageRequest> Asked;
    TModalResult Answer = TModalResult::mrYes;
    int Checks = 0;
};

TEST_F(DeleteTest, OneSessionPerAccountEndedByQuitThenAReload)
{
    ScriptedServer srv(Session("ann", "C: DELE 1\nS: +OK\nC: DELE 3\nS: +OK\nC: QUIT\nS: +OK\nACCEPT\n") +
                       Session("bob", "C: DELE 2\nS: +OK\nC: QUIT\nS: +OK\n"));
    Start(srv, {"ann", "bob", "down"});
    for (bool selected : {true, false, true})
        Add("ann", selected);
    Add("bob", false);
    Add("bob", true);
    Add("down", true, riError); // stands for no message: passed over

    Form->actDelete->trigger();

    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.Connections(), 2);
    EXPECT_EQ(Checks, 1);
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
    ScriptedServer srv(Session("ann", "C: DELE 1\nS: +OK\nC: DELE 2\nS: -ERR gone\n"));
    Start(srv, {"ann"});
    Add("ann", true);
    Add("ann", true);
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.ReceivedAfterScript(), "");
    EXPECT_EQ(Checks, 0);
}

TEST_F(DeleteTest, ASilentServerCostsOneReadTimeOut)
{
    ScriptedServer srv("S: +OK ready\nSTALL\n");
    Start(srv, {"ann"});
    Client.ReadTimeout = 300;
    Add("ann", true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(Pop.Connected());
}

} // namespace

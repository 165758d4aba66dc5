// Delete and reload end to end: the real windows, the real check cycle and
// one POP3 client shared by both, against a private Dovecot.

#include "check/MailCheck.h"
#include "check/MessageRows.h"
#include "check/Pop3CheckClient.h"
#include "config/Account.h"
#include "mail/IdPOP3.h"
#include "notify/NewMailController.h"
#include "support/Dovecot.h"
#include "support/UiFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace
{

class DovecotDeleteTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        const std::string why = Dovecot::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<Dovecot>();
        // The controls are set here; no load from the hive replaces them.
        LoadPending = false;
        settings->chkShowForm->setChecked(false);
        settings->chkSilentMode->setChecked(false);
        settings->txtSound->clear();
        settings->txtShowIcon->clear();
        settings->txtExecute->clear();

        server->AddUser("ann", "secret");
        server->AddUser("bob", "hunter2");
        server->Start();
        settings->lvwAccounts->clear();
        AppendAccountRow(settings->lvwAccounts, AccountFor("Ann", "ann", "secret"));
        AppendAccountRow(settings->lvwAccounts, AccountFor("Bob", "bob", "hunter2"));

        mail = std::make_unique<TMailCheck>(*settings, *newMail, checkClient);
        new TNewMailController(*newMail, // owned by the window
                               NewMailEnvironment(*settings, deleteClient, [this] { mail->mnuCheckNowClick(); }));
    }

    void TearDown() override
    {
        mail.reset();
        UiFixture::TearDown();
        server.reset();
    }

    Account AccountFor(const std::string& caption, const std::string& user, const std::string& password)
    {
        Account a;
        a.Caption = caption;
        a.UserName = user;
        a.Password = password;
        a.Host = server->Host();
        a.Port = std::to_string(server->Pop3Port());
        return a;
    }

    void Deliver(const std::string& user, const std::string& subject)
    {
        server->Deliver(user, "From: " + user + "@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n");
    }

    std::vector<std::string> Subjects() const
    {
        std::vector<std::string> subjects;
        for (int i = 0; i < mail->Rows().Count(); ++i)
            subjects.push_back(mail->Rows().Caption(i) + ":" + mail->Rows().SubItem(i, 1));
        return subjects;
    }

    std::unique_ptr<Dovecot> server;
    TIdPOP3 popMail;
    TPop3CheckClient checkClient{popMail};
    TPop3DeleteClient deleteClient{popMail};
    std::unique_ptr<TMailCheck> mail;
};

TEST_F(DovecotDeleteTest, DeletesTheSelectedMessagesOfTwoAccountsAndReloads)
{
    for (const char* s : {"a1", "a2", "a3"})
        Deliver("ann", s);
    for (const char* s : {"b1", "b2"})
        Deliver("bob", s);
    mail->mnuCheckNowClick();
    ASSERT_EQ(Subjects(), (std::vector<std::string>{"Ann:a1", "Ann:a2", "Ann:a3", "Bob:b1", "Bob:b2"}));

    newMail->show();
    newMail->lvwMessages->clearSelection();
    for (int i : {0, 2, 4})
        newMail->lvwMessages->topLevelItem(i)->setSelected(true);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });

    newMail->actDelete->trigger();

    ASSERT_EQ(server->Messages("ann").size(), 1u);
    EXPECT_NE(server->Messages("ann")[0].find("Subject: a2"), std::string::npos);
    ASSERT_EQ(server->Messages("bob").size(), 1u);
    EXPECT_NE(server->Messages("bob")[0].find("Subject: b1"), std::string::npos);
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Ann:a2", "Bob:b1"}));
    EXPECT_FALSE(popMail.Connected());
    EXPECT_TRUE(newMail->isVisible());
    EXPECT_TRUE(newMail->lvwMessages->topLevelItem(0)->isSelected());
}

TEST_F(DovecotDeleteTest, DeletingTheLastMessagesHidesTheWindow)
{
    Deliver("ann", "only");
    mail->mnuCheckNowClick();
    ASSERT_EQ(Subjects(), (std::vector<std::string>{"Ann:only"}));
    newMail->show();
    newMail->lvwMessages->topLevelItem(0)->setSelected(true);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });

    newMail->actDelete->trigger();

    EXPECT_EQ(server->CountMessages("ann"), 0u);
    EXPECT_EQ(mail->Rows().Count(), 0);
    EXPECT_TRUE(newMail->isHidden());
}

} // namespace

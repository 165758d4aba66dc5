// The notification window wired as the program wires it: the settings
// window's controls are its configuration, and Delete and Refresh go through
// the tray shell's Check now and the real check cycle, with one POP3 client
// shared by both.

#include "check/MessageRows.h"
#include "desktop/UpDownControl.h"
#include "app/NewMailEnvironment.h"
#include "config/AccountRows.h"
#include "platform/CodePage.h"
#include "support/Dovecot.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>

namespace
{

class WiredTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        LoadPending = false; // the controls set here are the configuration
        // The interval a load would set: no tick of its own during a test.
        settings->timMail->setInterval(settings->spnInterval->Position() * 1000);
        settings->chkShowForm->setChecked(false);
        settings->chkSilentMode->setChecked(false);
        settings->txtSound->clear();
        settings->txtShowIcon->clear();
        settings->txtExecute->clear();
        wired = std::make_unique<WiredShell>(*settings, *newMail);
        deleteClient = std::make_unique<TPop3DeleteClient>(wired->popMail);
        new TNewMailController(*newMail, // owned by the window
                               NewMailEnvironment(*settings, *deleteClient,
                                                  [this] { wired->shell.mnuCheckNowClick(); }));
    }

    void TearDown() override
    {
        // The window's controller keeps the delete client: the window goes first.
        newMail.reset();
        deleteClient.reset();
        wired.reset();
        UiFixture::TearDown();
    }

    std::vector<std::string> Listed() const
    {
        std::vector<std::string> listed;
        TMessageRows& rows = wired->mailCheck.Rows();
        for (int i = 0; i < rows.Count(); ++i)
            listed.push_back(rows.Caption(i) + ":" + rows.SubItem(i, 1));
        return listed;
    }

    std::unique_ptr<WiredShell> wired;
    std::unique_ptr<TPop3DeleteClient> deleteClient;
};

TEST_F(WiredTest, ReadAndAutoHideFollowTheSettingsControls)
{
    settings->chkAutoHide->setChecked(true);
    settings->spnAutoHide->SetPosition(7);
    newMail->show();
    EXPECT_EQ(newMail->timShowing->interval(), settings->spnAutoHide->Position() * 1000);
    EXPECT_TRUE(newMail->timShowing->isActive());

    QTemporaryDir dir;
    const std::string marker = ToCodePage(dir.path()) + "/started";
    settings->txtApplication->setText(FromCodePage("/bin/sh -c \"echo > '" + marker + "'\""));
    settings->triNewMsg->SetVisible(true);
    newMail->actMailbox->trigger();
    EXPECT_TRUE(newMail->isHidden());
    EXPECT_FALSE(settings->triNewMsg->Visible());
    QElapsedTimer clock;
    clock.start();
    while (!std::ifstream(marker) && clock.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_TRUE(std::ifstream(marker).good()) << "the mail client did not run";
}

TEST_F(WiredTest, DeletesSelectedMessagesOfTwoAccountsOnDovecotAndReloads)
{
    if (const std::string why = Dovecot::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    Dovecot server;
    settings->lvwAccounts->clear();
    server.Start();
    for (const char* user : {"ann", "bob"})
    {
        server.AddUser(user, "pw");
        Account a{user, true, user, "pw", server.Host(), std::to_string(server.Pop3Port()), false};
        AppendAccountRow(settings->lvwAccounts, a);
    }
    for (const char* message : {"ann:a1", "ann:a2", "ann:a3", "bob:b1", "bob:b2"})
        server.Deliver(std::string(message, 3), std::string("Subject: ") + (message + 4) + "\r\n\r\nx\r\n");
    settings->mnuChecknow->trigger();
    ASSERT_EQ(Listed(), (std::vector<std::string>{"ann:a1", "ann:a2", "ann:a3", "bob:b1", "bob:b2"}));

    newMail->show();
    newMail->lvwMessages->clearSelection();
    for (int i : {0, 2, 4})
        newMail->lvwMessages->topLevelItem(i)->setSelected(true);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });
    newMail->actDelete->trigger();

    EXPECT_EQ(server.CountMessages("ann"), 1u);
    EXPECT_EQ(server.CountMessages("bob"), 1u);
    EXPECT_EQ(Listed(), (std::vector<std::string>{"ann:a2", "bob:b1"}));
    EXPECT_FALSE(wired->popMail.Connected());
    EXPECT_TRUE(newMail->lvwMessages->topLevelItem(0)->isSelected());
}

} // namespace

// The notification window wired to the real settings window: the controls
// are the configuration it reads.

#include "check/MessageRows.h"
#include "config/Account.h"
#include "config/UpDown.h"
#include "mail/IdPOP3.h"
#include "notify/NewMailController.h"
#include "platform/CodePage.h"
#include "support/ScriptedServer.h"
#include "support/UiFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>

namespace
{

class WiredControllerTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        controller = new TNewMailController(*newMail, // owned by the window
                                            NewMailEnvironment(*settings, client, [this] { ++checks; }));
        rows = std::make_unique<TTreeWidgetRows>(*newMail->lvwMessages);
    }

    TIdPOP3 pop;
    TPop3DeleteClient client{pop};
    TNewMailController* controller = nullptr;
    std::unique_ptr<TTreeWidgetRows> rows;
    int checks = 0;
};

TEST_F(WiredControllerTest, AutoHideFollowsTheSettingsControls)
{
    settings->chkAutoHide->setChecked(true);
    settings->spnAutoHide->SetPosition(7);
    newMail->show();
    EXPECT_TRUE(newMail->timShowing->isActive());
    EXPECT_EQ(newMail->timShowing->interval(), settings->spnAutoHide->Position() * 1000);
    newMail->close();
    EXPECT_FALSE(newMail->timShowing->isActive());

    settings->chkAutoHide->setChecked(false);
    newMail->show();
    EXPECT_FALSE(newMail->timShowing->isActive());
}

TEST_F(WiredControllerTest, ReadStartsTheMailClientAndHidesWindowAndIcon)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string marker = ToCodePage(dir.path()) + "/started";
    settings->txtApplication->setText(FromCodePage("/bin/sh -c \"echo started > '" + marker + "'\""));
    settings->triNewMsg->SetVisible(true);
    newMail->show();

    newMail->actMailbox->trigger();

    EXPECT_TRUE(newMail->isHidden());
    EXPECT_FALSE(settings->triNewMsg->Visible());
    QElapsedTimer clock;
    clock.start();
    while (!std::ifstream(marker) && clock.elapsed() < 5000)
        QThread::msleep(20);
    EXPECT_TRUE(std::ifstream(marker).good()) << "the mail client did not run";
}

TEST_F(WiredControllerTest, DeleteFindsTheAccountInTheAccountList)
{
    ScriptedServer srv(R"(
        S: +OK ready
        C: CAPA
        S: -ERR
        C: USER carol
        S: +OK
        C: PASS pw2
        S: +OK
        C: DELE 1
        S: +OK
        C: QUIT
        S: +OK
    )");
    settings->lvwAccounts->clear();
    Account other;
    other.Caption = "Other";
    AppendAccountRow(settings->lvwAccounts, other);
    Account carol;
    carol.Caption = "Carol";
    carol.UserName = "carol";
    carol.Password = "pw2";
    carol.Host = srv.Host();
    carol.Port = std::to_string(srv.Port());
    AppendAccountRow(settings->lvwAccounts, carol);
    TMessageRow row;
    row.Caption = "Carol";
    row.SubItems = {"x", "y", "1 KB"};
    rows->Append(row);
    newMail->lvwMessages->topLevelItem(0)->setSelected(true);
    SetMessageAnswerer([](const TMessageRequest&) { return TModalResult::mrYes; });

    newMail->actDelete->trigger();

    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.ReceivedLines().back(), "QUIT");
    EXPECT_EQ(checks, 1);
}

} // namespace

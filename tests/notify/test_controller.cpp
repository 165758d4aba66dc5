// The notification window's behaviour on the real window, offscreen, with the
// rest of the program stood in for by recording functions.

#include "check/MessageList.h"
#include "notify/NewMailController.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include "support/TestHelpers.h"

#include <QFile>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace
{

TMessageRow Row(const std::string& caption, int image = riMessage)
{
    TMessageRow row{caption, {}, image, false, {}, {}, {}};
    Account account;
    account.Caption = caption;
    row.Key = PlaceOfAccount(account).Key;
    if (image != riError)
        row.SubItems = {"ann@example.org", "hello", "1 KB"};
    return row;
}

// A key press that is not spontaneous is offered to the shortcuts first, as a
// real one is.
void KeyClick(QWidget* widget, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

class ControllerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([this](const TMessageRequest& request) {
            Asked.push_back(request);
            return TModalResult::mrNo;
        });
        TNewMailEnvironment env;
        Account home;
        home.Caption = "Home";
        env.Accounts = [home] { return std::vector<Account>{home}; };
        env.EmailClient = [this] { return MailClient; };
        env.AutoHide = [this] { return AutoHide; };
        env.AutoHideSeconds = [this] { return AutoHideSeconds; };
        env.ReaderCommand = [] { return std::string("/opt/tb/ternview %ACCOUNT% %MSGID%"); };
        env.CheckNow = [this] {
            DuringCheck = Rows->Count() == 1 ? Rows->Row(0) : TMessageRow{};
            Fill(NextRows);
        };
        env.HideNewMailIcon = [this] { IconHidden = true; };
        env.StartProcess = [this](const std::string& line, int16_t show, int wait) {
            Started.push_back(line + "|" + std::to_string(show) + "|" + std::to_string(wait));
            return true;
        };
        env.RunAndWait = [this](const std::vector<std::string>& args, const std::string& folder) {
            Readers.push_back(args);
            Readers.back().push_back(folder);
        };
        Form = std::make_unique<TfrmNewMail>();
        Controller = new TNewMailController(*Form, std::move(env)); // owned by the form
        Rows = &Form->Rows();
    }

    void TearDown() override { SetMessageAnswerer({}); }

    void Fill(const std::vector<TMessageRow>& rows)
    {
        Rows->Clear();
        for (const TMessageRow& row : rows)
            Rows->Append(row);
    }

    void Select(std::initializer_list<int> indexes)
    {
        Form->lvwMessages->clearSelection();
        for (int i : indexes)
            Form->lvwMessages->topLevelItem(i)->setSelected(true);
    }

    std::vector<int> Selected() const
    {
        std::vector<int> selected;
        for (int i = 0; i < Form->lvwMessages->topLevelItemCount(); ++i)
            if (Form->lvwMessages->topLevelItem(i)->isSelected())
                selected.push_back(i);
        return selected;
    }

    void ShowActive()
    {
        Form->show();
        Form->activateWindow();
        QElapsedTimer clock;
        clock.start();
        while (!Form->isActiveWindow() && clock.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_TRUE(Form->isActiveWindow());
    }

    std::string MailClient = "mailer -compose";
    bool AutoHide = false;
    int AutoHideSeconds = 10;
    std::vector<TMessageRow> NextRows;
    TMessageRow DuringCheck;
    bool IconHidden = false;
    std::vector<std::string> Started;
    std::vector<std::vector<std::string>> Readers;
    std::vector<TMessageRequest> Asked;
    std::unique_ptr<TfrmNewMail> Form;
    TNewMailController* Controller = nullptr;
    TMessageList* Rows = nullptr;
};

TEST_F(ControllerTest, DetailsFoldToTheFixedPartsAndBackWithTheWidthKept)
{
    Form->resize(450, 318);
    Controller->actDetailsExecute();
    EXPECT_FALSE(Form->actDetails->isChecked());
    EXPECT_FALSE(Form->btnDetails->isChecked());
    EXPECT_TRUE(Form->panDetails->isHidden());
    EXPECT_EQ(Form->size(), QSize(450, 175));
    EXPECT_EQ(Form->minimumSize(), Form->maximumSize()); // fixed frame

    Form->btnDetails->click(); // as the user does it
    EXPECT_TRUE(Form->actDetails->isChecked());
    EXPECT_TRUE(Form->btnDetails->isChecked());
    EXPECT_FALSE(Form->panDetails->isHidden());
    EXPECT_EQ(Form->size(), QSize(450, 375));
    EXPECT_EQ(Form->minimumSize(), QSize(380, 175));
    EXPECT_GT(Form->maximumHeight(), 375); // resizable
}

TEST_F(ControllerTest, ShowSelectsTheFirstRowAndArmsAutoHideUntilClosed)
{
    Fill({Row("Home"), Row("Home"), Row("Home")});
    Select({2});
    Form->show();
    EXPECT_EQ(Selected(), (std::vector<int>{0, 2}));
    EXPECT_FALSE(Form->timShowing->isActive());
    Form->btnOk->click();
    EXPECT_TRUE(Form->isHidden());

    AutoHide = true;
    Form->show();
    EXPECT_TRUE(Form->timShowing->isActive());
    EXPECT_EQ(Form->timShowing->interval(), 10000);
    QMetaObject::invokeMethod(Form->timShowing, "timeout");
    EXPECT_TRUE(Form->isHidden());
    EXPECT_FALSE(Form->timShowing->isActive());
}

TEST_F(ControllerTest, AutoHideOfZeroSecondsNeverClosesTheWindow)
{
    AutoHide = true;
    AutoHideSeconds = 0;
    Form->show();
    EXPECT_FALSE(Form->timShowing->isActive());
    QApplication::processEvents();
    EXPECT_TRUE(Form->isVisible());
}

TEST_F(ControllerTest, ReadHidesWindowAndIconAndLeavesAutoHideToItsTick)
{
    AutoHide = true;
    MailClient.clear();
    Form->show();
    Form->actMailbox->trigger();
    EXPECT_EQ(Started, (std::vector<std::string>{"|1|0"}));
    EXPECT_TRUE(Form->isHidden());
    EXPECT_TRUE(IconHidden);
    EXPECT_TRUE(Form->timShowing->isActive());
    QMetaObject::invokeMethod(Form->timShowing, "timeout");
    EXPECT_FALSE(Form->timShowing->isActive());
}

TEST_F(ControllerTest, DoubleClickOnAnErrorRowRunsRead)
{
    Fill({Row("Home"), Row("Work", riError)});
    ShowActive();
    QWidget* viewport = Form->lvwMessages->viewport();
    const QPointF at = Form->lvwMessages->visualItemRect(Form->lvwMessages->topLevelItem(1)).center();
    for (auto [type, buttons] : {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                 {QEvent::MouseButtonRelease, Qt::NoButton},
                                 {QEvent::MouseButtonDblClick, Qt::LeftButton}})
    {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
    EXPECT_EQ(Started.size(), 1u);
    EXPECT_TRUE(Form->isHidden());
}

TEST_F(ControllerTest, DeleteAndQuickViewNeedASelection)
{
    Form->actRead->setVisible(true); // a hidden action always reads as disabled
    Fill({Row("Home")});
    Select({});
    EXPECT_FALSE(Form->actDelete->isEnabled());
    EXPECT_FALSE(Form->actRead->isEnabled());
    EXPECT_TRUE(Form->actRefresh->isEnabled());
    EXPECT_TRUE(Form->actMailbox->isEnabled());
    Select({0});
    EXPECT_TRUE(Form->actDelete->isEnabled());
    EXPECT_TRUE(Form->actRead->isEnabled());
}

struct RefreshCase
{
    const char* name;
    int rowsBefore;
    std::vector<int> selected;
    int rowsAfter;
    int expected; // -1: the window is hidden
};

class RefreshTest : public ControllerTest, public testing::WithParamInterface<RefreshCase>
{
};

TEST_P(RefreshTest, ShowsReloadingThenRestoresTheSelection)
{
    const RefreshCase& c = GetParam();
    Fill(std::vector<TMessageRow>(c.rowsBefore, Row("Home")));
    NextRows.assign(c.rowsAfter, Row("Home"));
    Form->show();
    Select({});
    for (int i : c.selected)
        Form->lvwMessages->topLevelItem(i)->setSelected(true);

    Controller->actRefreshExecute();

    EXPECT_EQ(DuringCheck.Caption, "Reloading messages list...");
    EXPECT_EQ(DuringCheck.ImageIndex, riMessage);
    EXPECT_TRUE(DuringCheck.SubItems.empty());
    EXPECT_EQ(Form->isHidden(), c.expected < 0);
    if (c.expected >= 0)
    {
        EXPECT_EQ(Selected(), (std::vector<int>{c.expected}));
        EXPECT_EQ(Form->lvwMessages->currentItem(), Form->lvwMessages->topLevelItem(c.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RefreshTest,
                         testing::Values(RefreshCase{"FifthOfThreeGoesToTheLast", 6, {4}, 3, 2},
                                         RefreshCase{"IndexStillInside", 6, {1}, 3, 1},
                                         RefreshCase{"FirstOfSeveralSelected", 6, {3, 5}, 5, 3},
                                         RefreshCase{"NothingSelectedTakesTheFirst", 2, {}, 2, 0},
                                         RefreshCase{"EmptyResultHides", 3, {0}, 0, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, EscAndEnterCloseDelDeletesF5ReloadsEnterPressesAFocusedButton)
{
    Fill({Row("Home")});
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter})
    {
        ShowActive();
        KeyClick(Form->lvwMessages, key);
        EXPECT_TRUE(Form->isHidden()) << key;
    }
    ShowActive();
    Select({0});
    KeyClick(Form->lvwMessages, Qt::Key_Delete);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].Text, "Are you sure you want to delete the selected messages?");
    NextRows = {Row("Home"), Row("Home")};
    KeyClick(Form->lvwMessages, Qt::Key_F5);
    EXPECT_EQ(Form->lvwMessages->topLevelItemCount(), 2);

    Form->btnRead->setFocus();
    KeyClick(Form->btnRead, Qt::Key_Return);
    EXPECT_EQ(Started.size(), 1u); // Read, not Ok
}

TEST_F(ControllerTest, QuickViewReadsTheSelectedRowsOnceAndWarnsOnErrorRows)
{
    Fill({Row("Home"), Row("Home"), Row("Work", riError)});
    NextRows = {Row("Home")};
    Select({1, 2});
    Controller->actReadExecute();
    EXPECT_EQ(Readers, (std::vector<std::vector<std::string>>{
                           {"/opt/tb/ternview", "Account1", "2", "/opt/tb/"}}));
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].Type, TMsgDlgType::mtWarning);
    EXPECT_EQ(Asked[0].Text, "The selected row is not a message!\nThis row notify you that this account "
                             "does not work properly.\nCheck the account configuration to solve this "
                             "problem.");
    EXPECT_EQ(Form->lvwMessages->topLevelItemCount(), 1); // reloaded
}

} // namespace

// A double click on a message row starts the mail client on that message
// where its command names one: the Message-ID one argument whatever it
// holds, as a recording program sees its argv. Read names none.
TEST_F(ControllerTest, DoubleClickOpensTheMessageClicked)
{
    TempFolder folder("mailclient");
    const std::string record = folder.Path() + "/argv";
    const std::string program = folder.Path() + "/record client";
    WriteFile(program, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record + ".tmp'\nmv '" +
                           record + ".tmp' '" + record + "'\n");
    ::chmod(program.c_str(), 0755);
    MailClient = "\"" + program + "\" -open mid:%MESSAGEID% %FOLDER%";
    TMessageRow first = Row("Home"), second = Row("Home");
    second.MessageId = "a b \"c\" ; $(rm -rf ~) " + std::string(2048, 'x');
    second.Mailbox = "Lists/dev";
    Fill({first, second});
    ShowActive();
    QWidget* viewport = Form->lvwMessages->viewport();
    const QPointF at = Form->lvwMessages->visualItemRect(Form->lvwMessages->topLevelItem(1)).center();
    for (auto [type, buttons] : {std::pair{QEvent::MouseButtonPress, Qt::LeftButton},
                                 {QEvent::MouseButtonRelease, Qt::NoButton},
                                 {QEvent::MouseButtonDblClick, Qt::LeftButton}})
    {
        QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    }
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(QString::fromStdString(record)); }, 5000));
    EXPECT_EQ(ReadFile(record), "-open\nmid:" + second.MessageId + "\nLists/dev\n");
    EXPECT_TRUE(Started.empty()) << "not through the command-line starter";
    EXPECT_TRUE(Form->isHidden());
    EXPECT_TRUE(IconHidden);

    // Read, with no message in particular: the client without them.
    std::remove(record.c_str());
    Form->actMailbox->trigger();
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(QString::fromStdString(record)); }, 5000));
    EXPECT_EQ(ReadFile(record), "-open\n");
}

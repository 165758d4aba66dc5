// The notification window's behaviour, driven on the real window offscreen.

#include "check/MessageRows.h"
#include "notify/NewMailController.h"
#include "notify/NewMailForm.h"
#include "platform/Dialogs.h"
#include "platform/Exception.h"

#include <QAction>
#include <QPushButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

// Records what Delete asks of the mail client.
class TRecordingClient : public TDeleteClient
{
public:
    std::vector<std::string> Calls;
    bool Open = false;
    int FailOnDelete = 0; // this message number is refused

    void SetAccount(const std::string& user, const std::string& password, const std::string& host,
                    int port) override
    {
        Calls.push_back("account " + user + " " + password + " " + host + " " + std::to_string(port));
    }
    void Connect() override
    {
        Calls.push_back("connect");
        Open = true;
    }
    void DeleteMessage(int number) override
    {
        if (number == FailOnDelete)
            throw Exception("-ERR no such message");
        Calls.push_back("dele " + std::to_string(number));
    }
    void Disconnect() override
    {
        if (Open)
            Calls.push_back("quit");
        Open = false;
    }
    void Abandon() noexcept override
    {
        if (Open)
            Calls.push_back("abandon");
        Open = false;
    }
};

Account MakeAccount(const std::string& caption, const std::string& host, bool imap4 = false)
{
    Account a;
    a.Caption = caption;
    a.UserName = "user-" + caption;
    a.Password = "pw";
    a.Host = host;
    a.Port = "110";
    a.IMAP4 = imap4;
    return a;
}

TMessageRow Message(const std::string& caption, const std::string& subject)
{
    TMessageRow row;
    row.Caption = caption;
    row.SubItems = {"ann@example.org", subject, "1 KB"};
    row.ImageIndex = riMessage;
    return row;
}

TMessageRow ErrorRow(const std::string& caption)
{
    TMessageRow row;
    row.Caption = caption;
    row.ImageIndex = riError;
    return row;
}

// Input as the toolkit delivers it: a key press that is not spontaneous is
// offered to the shortcuts first, as a real one is.
void KeyClick(QWidget* widget, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void DoubleClick(QWidget* widget, QPoint at)
{
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    const auto send = [&](QEvent::Type type, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, global, Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
}

bool WaitActive(QWidget* window)
{
    QElapsedTimer clock;
    clock.start();
    while (!window->isActiveWindow() && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    return window->isActiveWindow();
}

class ControllerTest : public testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([this](const TMessageRequest& request) {
            Asked.push_back(request);
            return Answer;
        });
        Accounts = {MakeAccount("Home", "pop.home"), MakeAccount("Work", "pop.work")};

        TNewMailEnvironment env;
        env.Accounts = [this] { return Accounts; };
        env.EmailClient = [this] { return MailClient; };
        env.AutoHide = [this] { return AutoHide; };
        env.AutoHideSeconds = [this] { return AutoHideSeconds; };
        env.ReaderCommand = [] { return std::string("/opt/ternbell/ternview %ACCOUNT% %MSGID%"); };
        env.CheckNow = [this] {
            ++Checks;
            RowsDuringCheck.clear();
            for (int i = 0; i < Rows->Count(); ++i)
                RowsDuringCheck.push_back(Rows->Row(i));
            Rows->Clear();
            for (const TMessageRow& row : NextRows)
                Rows->Append(row);
        };
        env.HideNewMailIcon = [this] { NewMailIconHidden = true; };
        env.popMail = &Client;
        env.StartProcess = [this](const std::string& line, int16_t show, int wait) {
            Started.push_back(line + " |" + std::to_string(show) + "|" + std::to_string(wait));
            return !line.empty();
        };
        env.RunAndWait = [this](const std::vector<std::string>& args, const std::string& folder) {
            Readers.push_back(args);
            ReaderFolders.push_back(folder);
        };
        Form = std::make_unique<TfrmNewMail>();
        Controller = new TNewMailController(*Form, std::move(env)); // owned by the form
        Rows = std::make_unique<TTreeWidgetRows>(*Form->lvwMessages);
    }

    void TearDown() override
    {
        SetMessageAnswerer({});
    }

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

    std::vector<int> SelectedRows() const
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
        ASSERT_TRUE(WaitActive(Form.get()));
    }

    std::vector<Account> Accounts;
    std::string MailClient;
    bool AutoHide = false;
    int AutoHideSeconds = 10;
    std::vector<TMessageRow> NextRows;
    std::vector<TMessageRow> RowsDuringCheck;
    int Checks = 0;
    bool NewMailIconHidden = false;
    std::vector<std::string> Started;
    std::vector<std::vector<std::string>> Readers;
    std::vector<std::string> ReaderFolders;
    TRecordingClient Client;
    std::vector<TMessageRequest> Asked;
    TModalResult Answer = TModalResult::mrYes;

    std::unique_ptr<TfrmNewMail> Form;
    TNewMailController* Controller = nullptr;
    std::unique_ptr<TTreeWidgetRows> Rows;
};

bool Resizable(const QWidget& w)
{
    return w.minimumHeight() < w.maximumHeight() && w.minimumWidth() < w.maximumWidth();
}

TEST_F(ControllerTest, DetailsFoldToTheFixedPartsAndBackWithTheWidthKept)
{
    Form->resize(450, 318);
    ASSERT_TRUE(Form->actDetails->isChecked());

    Controller->actDetailsExecute();
    EXPECT_FALSE(Form->actDetails->isChecked());
    EXPECT_FALSE(Form->btnDetails->isChecked());
    EXPECT_TRUE(Form->panDetails->isHidden());
    EXPECT_EQ(Form->height(), 175);
    EXPECT_EQ(Form->width(), 450);
    EXPECT_FALSE(Resizable(*Form));

    // Through the button, as the user does it.
    Form->btnDetails->click();
    EXPECT_TRUE(Form->actDetails->isChecked());
    EXPECT_TRUE(Form->btnDetails->isChecked());
    EXPECT_FALSE(Form->panDetails->isHidden());
    EXPECT_EQ(Form->height(), 375);
    EXPECT_EQ(Form->width(), 450);
    EXPECT_TRUE(Resizable(*Form));
    EXPECT_EQ(Form->minimumSize(), QSize(380, 175));

    Form->actDetails->trigger();
    EXPECT_FALSE(Form->actDetails->isChecked());
    EXPECT_EQ(Form->height(), 175);
}

TEST_F(ControllerTest, ShowSelectsTheFirstRowKeepingEarlierSelections)
{
    Fill({Message("Home", "a"), Message("Home", "b"), Message("Work", "c")});
    Select({2});
    Form->show();
    EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 2}));
    EXPECT_TRUE(Form->actDelete->isEnabled());
}

TEST_F(ControllerTest, AutoHideIsArmedAtShowOnlyWhenTickedAndDisarmedAtClose)
{
    AutoHide = false;
    Form->show();
    EXPECT_FALSE(Form->timShowing->isActive());
    Controller->btnOkClick();
    EXPECT_TRUE(Form->isHidden());

    AutoHide = true;
    AutoHideSeconds = 10;
    Form->show();
    EXPECT_TRUE(Form->timShowing->isActive());
    EXPECT_EQ(Form->timShowing->interval(), 10000);

    // Its tick closes the window, which disarms it.
    QMetaObject::invokeMethod(Form->timShowing, "timeout");
    EXPECT_TRUE(Form->isHidden());
    EXPECT_FALSE(Form->timShowing->isActive());

    Form->show();
    Form->btnOk->click();
    EXPECT_TRUE(Form->isHidden());
    EXPECT_FALSE(Form->timShowing->isActive());
}

TEST_F(ControllerTest, ReadHidesWithoutStoppingAutoHideAndItsTickStopsIt)
{
    AutoHide = true;
    MailClient = "mailer -compose";
    Form->show();
    Form->actMailbox->trigger();
    EXPECT_EQ(Started, (std::vector<std::string>{"mailer -compose |1|0"}));
    EXPECT_TRUE(Form->isHidden());
    EXPECT_TRUE(NewMailIconHidden);
    EXPECT_TRUE(Form->timShowing->isActive());
    QMetaObject::invokeMethod(Form->timShowing, "timeout");
    EXPECT_FALSE(Form->timShowing->isActive());
}

TEST_F(ControllerTest, ReadWithAnEmptyCommandStillHidesWindowAndIcon)
{
    MailClient.clear();
    Form->show();
    Controller->actMailboxExecute();
    EXPECT_EQ(Started, (std::vector<std::string>{" |1|0"}));
    EXPECT_TRUE(Form->isHidden());
    EXPECT_TRUE(NewMailIconHidden);
}

TEST_F(ControllerTest, DoubleClickReadsOnlyWithARowSelectedErrorRowsIncluded)
{
    Fill({Message("Home", "a"), ErrorRow("Work")});
    ShowActive();
    Form->lvwMessages->clearSelection();
    Controller->lvwMessagesDblClick();
    EXPECT_TRUE(Started.empty());

    QTreeWidgetItem* error = Form->lvwMessages->topLevelItem(1);
    const QPoint at = Form->lvwMessages->visualItemRect(error).center();
    DoubleClick(Form->lvwMessages->viewport(), at);
    EXPECT_EQ(Started.size(), 1u);
    EXPECT_TRUE(Form->isHidden());
}

TEST_F(ControllerTest, DeleteUsesOneSessionPerAccountWithNumbersTakenBeforehand)
{
    Fill({Message("Home", "h1"), Message("Home", "h2"), Message("Home", "h3"), Message("Work", "w1"),
          Message("Work", "w2")});
    Select({0, 2, 4});
    NextRows = {Message("Home", "h2"), Message("Work", "w1")};
    Form->actDelete->trigger();

    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].text, "Are you sure you want to delete the selected messages?");
    EXPECT_EQ(Asked[0].buttons, unsigned(mbYes | mbNo));
    EXPECT_EQ(Client.Calls, (std::vector<std::string>{"account user-Home pw pop.home 110", "connect",
                                                      "dele 1", "dele 3", "quit",
                                                      "account user-Work pw pop.work 110", "connect",
                                                      "dele 2", "quit"}));
    EXPECT_EQ(Checks, 1); // the reload
    EXPECT_EQ(Form->lvwMessages->topLevelItemCount(), 2);
}

TEST_F(ControllerTest, DeletePassesOverErrorRows)
{
    Fill({Message("Home", "h1"), Message("Home", "h2"), ErrorRow("Work")});
    NextRows = {Message("Home", "h1")};

    Select({2});
    Form->actDelete->trigger();
    EXPECT_TRUE(Client.Calls.empty());
    EXPECT_EQ(Checks, 1);

    Fill({Message("Home", "h1"), Message("Home", "h2"), ErrorRow("Work")});
    Select({1, 2});
    Form->actDelete->trigger();
    EXPECT_EQ(Client.Calls,
              (std::vector<std::string>{"account user-Home pw pop.home 110", "connect", "dele 2", "quit"}));
}

TEST_F(ControllerTest, DeleteAnsweredNoSendsNothing)
{
    Answer = TModalResult::mrNo;
    Fill({Message("Home", "h1")});
    Select({0});
    Form->actDelete->trigger();
    EXPECT_EQ(Asked.size(), 1u);
    EXPECT_TRUE(Client.Calls.empty());
    EXPECT_EQ(Checks, 0);
    EXPECT_EQ(Form->lvwMessages->topLevelItemCount(), 1);
}

TEST_F(ControllerTest, AFailedDeletionDropsItsSessionWithoutCommittingAndDoesNotReload)
{
    Fill({Message("Home", "h1"), Message("Work", "w1"), Message("Work", "w2")});
    Select({0, 1, 2});
    Client.FailOnDelete = 2;
    EXPECT_THROW(Form->actDelete->trigger(), Exception);
    EXPECT_EQ(Client.Calls, (std::vector<std::string>{"account user-Home pw pop.home 110", "connect",
                                                      "dele 1", "quit",
                                                      "account user-Work pw pop.work 110", "connect",
                                                      "dele 1", "abandon"}));
    EXPECT_EQ(Checks, 0);
}

TEST_F(ControllerTest, DeleteRefusesRowsItCannotServeBeforeAsking)
{
    Accounts[1].IMAP4 = true;
    Fill({Message("Home", "h1"), Message("Work", "w1")});
    Select({0, 1});
    Form->actDelete->trigger();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].type, TMsgDlgType::mtWarning);
    EXPECT_NE(Asked[0].text.find("\"Work\""), std::string::npos);
    EXPECT_TRUE(Client.Calls.empty());

    // A row whose account has left the account list.
    Asked.clear();
    Fill({Message("Gone", "g1")});
    Select({0});
    Form->actDelete->trigger();
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].type, TMsgDlgType::mtWarning);
    EXPECT_TRUE(Client.Calls.empty());
    EXPECT_EQ(Checks, 0);
}

TEST_F(ControllerTest, DeleteAndQuickViewNeedASelectionRefreshAndReadDoNot)
{
    // The toolkit reports a hidden action as disabled whatever its update
    // says, so Quick View is looked at while shown.
    Form->actRead->setVisible(true);
    Fill({Message("Home", "h1")});
    Form->lvwMessages->clearSelection();
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

TEST_P(RefreshTest, RestoresTheSelection)
{
    const RefreshCase& c = GetParam();
    std::vector<TMessageRow> before;
    for (int i = 0; i < c.rowsBefore; ++i)
        before.push_back(Message("Home", "old" + std::to_string(i)));
    Fill(before);
    NextRows.clear();
    for (int i = 0; i < c.rowsAfter; ++i)
        NextRows.push_back(Message("Home", "new" + std::to_string(i)));
    Form->show();
    Select({});
    for (int i : c.selected)
        Form->lvwMessages->topLevelItem(i)->setSelected(true);

    Controller->actRefreshExecute();

    ASSERT_EQ(RowsDuringCheck.size(), 1u);
    EXPECT_EQ(RowsDuringCheck[0].Caption, "Reloading messages list...");
    EXPECT_EQ(RowsDuringCheck[0].ImageIndex, riMessage);
    EXPECT_TRUE(RowsDuringCheck[0].SubItems.empty());
    if (c.expected < 0)
    {
        EXPECT_TRUE(Form->isHidden());
        return;
    }
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(SelectedRows(), (std::vector<int>{c.expected}));
    EXPECT_EQ(Form->lvwMessages->currentItem(), Form->lvwMessages->topLevelItem(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefreshTest,
    testing::Values(RefreshCase{"FifthOfThreeGoesToTheLast", 6, {4}, 3, 2},
                    RefreshCase{"IndexStillInside", 6, {1}, 3, 1},
                    RefreshCase{"FirstOfSeveralSelected", 6, {3, 5}, 5, 3},
                    RefreshCase{"NothingSelectedTakesTheFirst", 2, {}, 2, 0},
                    RefreshCase{"EmptyResultHides", 3, {0}, 0, -1}),
    [](const testing::TestParamInfo<RefreshCase>& info) { return std::string(info.param.name); });

TEST_F(ControllerTest, KeysCloseDeleteAndReload)
{
    Fill({Message("Home", "h1")});
    ShowActive();
    KeyClick(Form->lvwMessages, Qt::Key_Escape);
    EXPECT_TRUE(Form->isHidden());

    ShowActive();
    KeyClick(Form->lvwMessages, Qt::Key_Return);
    EXPECT_TRUE(Form->isHidden());
    ShowActive();
    KeyClick(Form->lvwMessages, Qt::Key_Enter);
    EXPECT_TRUE(Form->isHidden());

    ShowActive();
    Answer = TModalResult::mrNo;
    Select({0});
    KeyClick(Form->lvwMessages, Qt::Key_Delete);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].text, "Are you sure you want to delete the selected messages?");

    NextRows = {Message("Home", "h1")};
    KeyClick(Form->lvwMessages, Qt::Key_F5);
    EXPECT_EQ(Checks, 1);
}

TEST_F(ControllerTest, EnterPressesTheFocusedButton)
{
    ShowActive();
    Form->btnRead->setFocus();
    KeyClick(Form->btnRead, Qt::Key_Return);
    EXPECT_EQ(Started.size(), 1u); // Read, not Ok
    EXPECT_TRUE(Form->isHidden());
}

TEST_F(ControllerTest, QuickViewWarnsOnErrorRowsAndReadsMessageRowsOnce)
{
    Fill({Message("Home", "h1"), Message("Home", "h2"), ErrorRow("Work")});
    NextRows = {Message("Home", "h1"), Message("Home", "h2")};
    Select({1, 2});
    Controller->actReadExecute();

    ASSERT_EQ(Readers.size(), 1u);
    EXPECT_EQ(Readers[0], (std::vector<std::string>{"/opt/ternbell/ternview", "Account1", "2"}));
    EXPECT_EQ(ReaderFolders[0], "/opt/ternbell/");
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].type, TMsgDlgType::mtWarning);
    EXPECT_EQ(Asked[0].text, "The selected row is not a message!\nThis row notify you that this account "
                             "does not work properly.\nCheck the account configuration to solve this "
                             "problem.");
    EXPECT_EQ(Checks, 1);

    // An error row alone starts nothing and reloads nothing.
    Select({});
    Fill({ErrorRow("Work")});
    Select({0});
    Controller->actReadExecute();
    EXPECT_EQ(Readers.size(), 1u);
    EXPECT_EQ(Checks, 1);
}

} // namespace

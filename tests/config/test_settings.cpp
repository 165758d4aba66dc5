#include "check/MessageList.h"
#include "config/AccountFind.h"
#include "config/AccountRows.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "config/SettingsRules.h"
#include "config/SignInPanel.h"
#include "desktop/UpDownControl.h"
#include "i18n/Translate.h"
#include "oauth/TokenKeeper.h"
#include "platform/CodePage.h"
#include "support/Rows.h"
#include "support/ScriptedFindNetwork.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleHints>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <optional>
#include <ostream>
#include <tuple>
#include <vector>

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace
{

const std::string Main = ConfigKey;

class SettingsDialogTest : public WiredUiFixture
{
protected:
    void SetUp() override
    {
        WiredUiFixture::SetUp();
        ComputeStartupDefaults();
        SetMessageAnswerer([this](const TMessageRequest& r) {
            Asked.push_back(r);
            return Answer;
        });
        SetFileAnswerer([this](const TFileRequest& r) {
            Picked.push_back(r);
            return Chosen;
        });
    }

    // The stored configuration loaded, then the window opened the way the
    // tray's Settings opens it: check timer stopped.
    void Open()
    {
        keeper->Load();
        settings->hide();
        Reopen();
    }
    void Reopen()
    {
        tray->timMail->stop();
        settings->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(settings.get()));
    }
    void Page(QWidget* tab) { settings->pagSettings->setCurrentWidget(tab); }

    // Check boxes and radio buttons are clicked on their indicator.
    static void Click(QAbstractButton* button)
    {
        const bool indicator = qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button);
        const QPoint at = indicator ? QPoint(button->height() / 2, button->height() / 2)
                                    : button->rect().center();
        QTest::mouseClick(button, Qt::LeftButton, {}, at);
    }
    void ClickRow(int i)
    {
        QTreeWidget* list = settings->lvwAccounts;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->topLevelItem(i)).center());
    }
    static void Type(QLineEdit* edit, const QString& text)
    {
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
    static void Up(TUpDown* spinner, int clicks)
    {
        for (QToolButton* arrow : spinner->findChildren<QToolButton*>())
            if (arrow->arrowType() == Qt::UpArrow)
                for (int i = 0; i < clicks; ++i)
                    QTest::mouseClick(arrow, Qt::LeftButton);
    }

    QTreeWidgetItem* Row(int i) const { return settings->lvwAccounts->topLevelItem(i); }
    Account RowAccount(int i) const { return settings->ConfigOfControls().Accounts.at(i); }
    int Rows() const { return settings->lvwAccounts->topLevelItemCount(); }
    bool Selected(int i) const { return Row(i)->isSelected(); }
    // The open in-place caption editor, or null.
    QLineEdit* CaptionEditor() const
    {
        const QAbstractItemModel* model = settings->lvwAccounts->model();
        for (int row = 0; row < model->rowCount(); ++row)
            if (auto* editor = qobject_cast<QLineEdit*>(settings->lvwAccounts->indexWidget(model->index(row, 0))))
                return editor;
        return nullptr;
    }
    static void StoreAccount(int number, const std::string& caption)
    {
        Store(Main, "AccountsNo", number);
        Store(AccountKey(number), "Caption", caption);
    }

    std::vector<TMessageRequest> Asked;
    TModalResult Answer = TModalResult::mrYes;
    std::vector<TFileRequest> Picked;
    std::optional<std::string> Chosen;
};

// --- the check boxes

struct PathBoxRow
{
    std::string label;
    QCheckBox* TfrmSettings::*Box;
    QLineEdit* TfrmSettings::*Edit;
    QWidget* TfrmSettings::*Tab;
    const char* Value;
    const std::string* Default; // null: ticking keeps an empty edit empty
};

class PathBoxTest : public SettingsDialogTest, public testing::WithParamInterface<PathBoxRow>
{
};

TEST_P(PathBoxTest, TickedFillsAnEmptyPathClearedStoresOffAndTheNextShowFollows)
{
    const PathBoxRow& p = GetParam();
    Store(Main, p.Value, std::string());
    Open();
    QCheckBox* box = (*settings).*p.Box;
    QLineEdit* edit = (*settings).*p.Edit;
    const std::string ticked = p.Default ? *p.Default : "";
    Page((*settings).*p.Tab);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(edit->isEnabled());

    Click(box);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_EQ(ToCodePage(edit->text()), ticked);
    Type(edit, QStringLiteral("/home/ann/own file"));
    Click(settings->btnOk);
    EXPECT_EQ(String(Main, p.Value), "/home/ann/own file");

    Reopen();
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(edit->isEnabled());
    Click(box);
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(edit->text(), "");
    Click(box);
    EXPECT_EQ(ToCodePage(edit->text()), ticked) << "an emptied path gets the default again";
    Click(box);
    Click(settings->btnOk);
    EXPECT_EQ(String(Main, p.Value), "");
    Reopen();
    EXPECT_FALSE(box->isChecked());
}

const PathBoxRow kPathBoxes[] = {
    {"Sound", &TfrmSettings::chkSound, &TfrmSettings::txtSound, &TfrmSettings::tabNotification,
     "PlaySound", &DefaultSoundFile},
    {"Icon", &TfrmSettings::chkShowIcon, &TfrmSettings::txtShowIcon, &TfrmSettings::tabNotification,
     "ShowIcon", &DefaultIconFile},
    {"Execute", &TfrmSettings::chkExecute, &TfrmSettings::txtExecute, &TfrmSettings::tabNotification,
     "Execute", nullptr},
    {"Animation", &TfrmSettings::chkAnimation, &TfrmSettings::txtAnimation,
     &TfrmSettings::tabNotifyFormOpt, "FormAnimation", &DefaultAnimationFile},
};
INSTANTIATE_TEST_SUITE_P(Rows, PathBoxTest, testing::ValuesIn(kPathBoxes), RowLabel());

TEST_F(SettingsDialogTest, ShowFormRunsTheIconRuleAgain)
{
    Open();
    Page(settings->tabNotification);
    ASSERT_TRUE(settings->chkShowIcon->isChecked());
    Type(settings->txtShowIcon, "");
    Click(settings->chkShowForm);
    EXPECT_EQ(ToCodePage(settings->txtShowIcon->text()), DefaultIconFile);
    EXPECT_FALSE(settings->chkShowForm->isChecked());
}

TEST_F(SettingsDialogTest, ShowPreviewIsOnUntilClearedAndStaysCleared)
{
    Open();
    Page(settings->tabNotification);
    EXPECT_TRUE(settings->chkShowPreview->isChecked());
    EXPECT_EQ(Integer(Main, "ShowPreview"), 1);
    Click(settings->chkShowPreview);
    Click(settings->btnOk);
    EXPECT_EQ(Integer(Main, "ShowPreview"), 0);
    Reopen();
    EXPECT_FALSE(settings->chkShowPreview->isChecked());
}

TEST_F(SettingsDialogTest, TimeBoxTickedAtZeroStoresZeroAndShowsClearedNextTime)
{
    struct
    {
        QCheckBox* box;
        TUpDown* spinner;
        QLineEdit* edit;
        QWidget* tab;
        const char* value;
    } const boxes[] = {
        {settings->chkSilentMode, settings->spnLedActiveTime, settings->txtLedActiveTime,
         settings->tabNotification, "ScrLckBlinking"},
        {settings->chkAutoHide, settings->spnAutoHide, settings->txtAutoHide,
         settings->tabNotifyFormOpt, "FormAutoHide"},
    };
    Open();
    for (const auto& b : boxes)
    {
        SCOPED_TRACE(b.value);
        Page(b.tab);
        EXPECT_FALSE(b.box->isChecked());
        EXPECT_FALSE(b.spinner->isEnabled());
        EXPECT_TRUE(b.edit->isEnabled()) << "the time's edit stays enabled";
        Click(b.box);
        EXPECT_TRUE(b.spinner->isEnabled());
        EXPECT_EQ(b.edit->text(), "0");
    }
    Click(settings->btnOk);
    Reopen();
    for (const auto& b : boxes)
    {
        SCOPED_TRACE(b.value);
        EXPECT_EQ(Integer(Main, b.value), 0);
        EXPECT_FALSE(b.box->isChecked());
        // A time typed while the box is cleared counts; clearing sets it to 0.
        Page(b.tab);
        Type(b.edit, QStringLiteral("30"));
        Click(b.box);
        EXPECT_EQ(b.spinner->Position(), 30);
        Click(b.box);
        EXPECT_EQ(b.edit->text(), "0");
    }
}

TEST_F(SettingsDialogTest, IntervalCapsTheOtherTimesAndOkStoresWhatTheEditsShow)
{
    Open();
    Type(settings->txtInterval, QStringLiteral("60"));
    EXPECT_EQ(settings->spnLedActiveTime->Max(), 60);
    EXPECT_EQ(settings->spnAutoHide->Max(), 60);
    Page(settings->tabNotification);
    Click(settings->chkSilentMode);
    Up(settings->spnLedActiveTime, 15); // step 5
    EXPECT_EQ(settings->txtLedActiveTime->text(), "60");
    Page(settings->tabNotifyFormOpt);
    Click(settings->chkAutoHide);
    Up(settings->spnAutoHide, 65); // step 1
    EXPECT_EQ(settings->txtAutoHide->text(), "60");

    // Typed above the maximum: stored at the maximum, and the edit says so.
    Type(settings->txtAutoHide, QStringLiteral("90"));
    Click(settings->btnOk);
    EXPECT_EQ(Integer(Main, "CheckingTime"), 60);
    EXPECT_EQ(Integer(Main, "ScrLckBlinking"), 60);
    EXPECT_EQ(Integer(Main, "FormAutoHide"), 60);
    EXPECT_EQ(settings->txtAutoHide->text(), "60");
    EXPECT_EQ(tray->timMail->interval(), 60 * 1000);
}

// --- the file pickers

TEST_F(SettingsDialogTest, BrowseWorksWhileTheBoxIsClearedAndTheNextShowTicksIt)
{
    Store(Main, "PlaySound", std::string());
    Open();
    Page(settings->tabNotification);
    ASSERT_FALSE(settings->chkSound->isChecked());
    Click(settings->txtSoundBtn);
    EXPECT_EQ(settings->txtSound->text(), "") << "a cancelled dialog keeps the edit";

    Chosen = "/home/ann/sounds/bell.wav";
    Click(settings->txtSoundBtn);
    ASSERT_EQ(Picked.size(), 2u);
    EXPECT_EQ(QtFileFilter(Picked[1].Filter), "Wave Sound Files (*.wav *.WAV)");
    EXPECT_EQ(Picked[1].InitialDir, "");
    EXPECT_EQ(settings->txtSound->text(), "/home/ann/sounds/bell.wav");
    Click(settings->btnOk);
    EXPECT_EQ(String(Main, "PlaySound"), "/home/ann/sounds/bell.wav");
    Reopen();
    EXPECT_TRUE(settings->chkSound->isChecked());
    EXPECT_TRUE(settings->txtSound->isEnabled());
}

TEST_F(SettingsDialogTest, MailClientPickerStartsInTheQuotedProgramAndReplacesTheWholeCommand)
{
    Open();
    settings->txtApplication->setText(QStringLiteral("\"/opt/mail/bin/reader\" -compose %u"));
    Chosen = "/usr/bin/other mailer";
    Click(settings->txtApplicationButton);
    ASSERT_EQ(Picked.size(), 1u);
    EXPECT_EQ(Picked[0].InitialDir, "/opt/mail/bin/reader");
    EXPECT_EQ(QtFileFilter(Picked[0].Filter), "Application Files (*)");
    EXPECT_EQ(settings->txtApplication->text(), "/usr/bin/other mailer");
}

TEST(SettingsRules, MailClientFolderIsTheTextBetweenTheFirstTwoQuotes)
{
    const std::pair<std::string, std::string> rows[] = {
        {"\"/opt/mail/reader\" -compose", "/opt/mail/reader"},
        {"\"/opt/mail/reader -compose", "/opt/mail/reader -compose"},
        {"reader -compose \"%u\"", "%u"},
        {"reader -compose", ""},
        {"\"\"", ""},
        {"", ""},
    };
    for (const auto& [command, folder] : rows)
        EXPECT_EQ(EmailClientFolder(command), folder) << command;
}

TEST(SettingsRules, FileFiltersMatchTheirExtensionInEitherCase)
{
    EXPECT_EQ(QtFileFilter(PickerRequest(TPicker::Icon, "").Filter), "Icon Files (*.ico *.ICO)");
    EXPECT_EQ(QtFileFilter(PickerRequest(TPicker::Animation, "").Filter),
              "Animation Files (*.avi *.AVI)");
    EXPECT_EQ(PickerRequest(TPicker::Sound, "\"/opt/x\"").InitialDir, "");
}

// --- the account list

TEST_F(SettingsDialogTest, AddedAccountIsStoredDisabledAndTheCycleSkipsIt)
{
    Open();
    Page(settings->tabAccount);
    Click(settings->btnAdd);
    ASSERT_EQ(Rows(), 2);
    EXPECT_TRUE(Selected(1));
    QLineEdit* editor = CaptionEditor();
    ASSERT_NE(editor, nullptr) << "Add starts editing the caption";
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_EQ(CaptionEditor(), nullptr);
    EXPECT_TRUE(settings->isVisible()) << "Esc in the caption editor is not Cancel";
    const Account added = RowAccount(1);
    EXPECT_EQ(added.Caption, "Account name");
    EXPECT_FALSE(added.Enabled);
    EXPECT_EQ(settings->txtUserName->text(), "User name");
    EXPECT_EQ(settings->txtPassword->text(), "");
    EXPECT_EQ(settings->txtHost->text(), "Host");
    EXPECT_EQ(settings->txtPort->text(), "110");
    EXPECT_TRUE(settings->rdbPop3->isChecked());
    // Both accounts on a port that refuses at once, so a visit shows.
    Type(settings->txtHost, QStringLiteral("127.0.0.1"));
    Type(settings->txtPort, QStringLiteral("1"));
    ClickRow(0);
    Type(settings->txtHost, QStringLiteral("127.0.0.1"));
    Type(settings->txtPort, QStringLiteral("1"));

    Click(settings->btnOk);
    const std::string a2 = AccountKey(2);
    EXPECT_EQ(Integer(Main, "AccountsNo"), 2);
    EXPECT_EQ(String(a2, "Caption"), "Account name");
    EXPECT_EQ(String(a2, "UserName"), "User name");
    EXPECT_EQ(String(a2, "UserPassword"), "");
    EXPECT_EQ(String(a2, "HostPort"), "1");
    EXPECT_EQ(Integer(a2, "IMAP4"), 0);
    EXPECT_EQ(Integer(a2, "AccountEnabled"), 0);

    LoadPending = false;
    wired->shell.timMailTimer();
    wired->WaitForChecks();
    const TMessageList& rows = wired->mailCheck.Rows();
    ASSERT_EQ(rows.Count(), 1);
    EXPECT_EQ(rows.Caption(0), "My Account") << "only the enabled account is visited";
}

TEST_F(SettingsDialogTest, ProtocolChangeKeepsThePort)
{
    Open();
    Page(settings->tabAccount);
    ASSERT_TRUE(Selected(0));
    Click(settings->rdbImap4);
    EXPECT_TRUE(RowAccount(0).IMAP4);
    EXPECT_EQ(RowAccount(0).Port, "110");
    EXPECT_EQ(settings->txtPort->text(), "110");
    Click(settings->btnOk);
    EXPECT_EQ(Integer(AccountKey(1), "IMAP4"), 1);
    EXPECT_EQ(String(AccountKey(1), "HostPort"), "110");
}

// JMAP beside the others: port and security are off while it is chosen,
// and a port no connection could use does not hold up OK then.
TEST_F(SettingsDialogTest, JmapIsChosenBesideTheOthersWithoutPortOrSecurity)
{
    Open();
    Page(settings->tabAccount);
    Type(settings->txtPort, QStringLiteral("x"));
    struct Step
    {
        QAbstractButton* Button;
        bool Imap4, Jmap, PortOn;
    } const steps[] = {
        {settings->rdbJmap, false, true, false},
        {settings->rdbImap4, true, false, true},
        {settings->rdbPop3, false, false, true},
        {settings->rdbJmap, false, true, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
    {
        SCOPED_TRACE("step " + std::to_string(i));
        Click(steps[i].Button);
        EXPECT_EQ(std::tuple(RowAccount(0).IMAP4, RowAccount(0).JMAP), std::tuple(steps[i].Imap4, steps[i].Jmap));
        EXPECT_EQ(std::tuple(settings->txtPort->isEnabled(), settings->cboSecurity->isEnabled(),
                             settings->txtHost->toolTip().isEmpty()),
                  std::tuple(steps[i].PortOn, steps[i].PortOn, steps[i].PortOn));
        // Push and folders are IMAP4's and JMAP's.
        EXPECT_EQ(settings->chkPush->isEnabled(), steps[i].Imap4 || steps[i].Jmap);
        EXPECT_EQ(settings->btnFolders->isEnabled(), steps[i].Imap4 || steps[i].Jmap);
    }
    Type(settings->txtHost, QStringLiteral("https://jmap.example.org/session"));
    Click(settings->btnOk);
    EXPECT_FALSE(settings->isVisible());
    EXPECT_EQ(std::tuple(Integer(AccountKey(1), "JMAP"), Integer(AccountKey(1), "IMAP4")), std::tuple(1, 0));
    EXPECT_EQ(String(AccountKey(1), "HostAddress"), "https://jmap.example.org/session");
    Open();
    Page(settings->tabAccount);
    EXPECT_TRUE(settings->rdbJmap->isChecked());
    EXPECT_FALSE(settings->txtPort->isEnabled());
}

// OK stores no port a connection cannot be made to: the window stays open
// on the account, its port field marked with what is wrong.
TEST_F(SettingsDialogTest, OkRefusesAPortThatIsNoTcpPortWithTheFieldMarked)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    const std::string before = HiveText();
    for (const char* bad : {"110abc", "", "0", "70000"})
    {
        SCOPED_TRACE(bad);
        ClickRow(1);
        Type(settings->txtPort, QString::fromUtf8(bad));
        EXPECT_TRUE(settings->txtPort->property(TfrmSettings::InvalidProperty).toBool()) << "marked as typed";
        Page(settings->tabGeneral);
        Click(settings->btnOk);
        EXPECT_TRUE(settings->isVisible());
        EXPECT_EQ(HiveText(), before);
        EXPECT_EQ(settings->pagSettings->currentWidget(), settings->tabAccount);
        EXPECT_TRUE(Selected(1)) << "the account with the bad port is shown";
        EXPECT_TRUE(settings->txtPort->property(TfrmSettings::InvalidProperty).toBool());
        EXPECT_FALSE(settings->txtPort->toolTip().isEmpty());
        ClickRow(0);
        EXPECT_FALSE(settings->txtPort->property(TfrmSettings::InvalidProperty).toBool());
    }
    ClickRow(1);
    Type(settings->txtPort, QStringLiteral("995"));
    EXPECT_FALSE(settings->txtPort->property(TfrmSettings::InvalidProperty).toBool());
    Click(settings->btnOk);
    EXPECT_FALSE(settings->isVisible());
    EXPECT_EQ(String(AccountKey(2), "HostPort"), "995");

    // Exit saves what the window holds, but not a port that cannot be used.
    Open();
    Page(settings->tabAccount);
    ClickRow(1);
    Type(settings->txtPort, QStringLiteral("99x"));
    keeper->Save();
    EXPECT_EQ(String(AccountKey(2), "HostPort"), "995");
}

// An account added to the hive by hand while the program runs: the window
// shows it, and a save keeps it beside what the program changed.
TEST_F(SettingsDialogTest, HandEditOfTheHiveIsReadBeforeTheWindowOpensAndBeforeASave)
{
    Store(Main, "AccountsNo", 1);
    keeper->Load();
    StoreAccount(2, "Hand");
    keeper->Save(); // as Exit saves, with the window never opened
    EXPECT_EQ(Integer(Main, "AccountsNo"), 2);
    EXPECT_EQ(String(AccountKey(2), "Caption"), "Hand");
    EXPECT_EQ(keeper->Config.Accounts.size(), 2u);

    StoreAccount(3, "Later");
    Reopen();
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(RowAccount(2).Caption, "Later");
    // Both sides change while the window is open: each keeps its change.
    Type(settings->txtApplication, QStringLiteral("mutt"));
    Store(Main, "CheckingTime", 600);
    StoreAccount(4, "Meanwhile");
    Click(settings->btnOk);
    EXPECT_EQ(String(Main, "EmailClient"), "mutt");
    EXPECT_EQ(Integer(Main, "CheckingTime"), 600);
    EXPECT_EQ(Integer(Main, "AccountsNo"), 4);
    EXPECT_EQ(String(AccountKey(4), "Caption"), "Meanwhile");
    ASSERT_EQ(keeper->Config.Accounts.size(), 4u);
}

TEST_F(SettingsDialogTest, SecurityMovesWellKnownPortsToTheirPartnersAndIsStoredPerAccount)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    ClickRow(0);
    EXPECT_EQ(settings->cboSecurity->currentIndex(), asNone);
    struct Step
    {
        const char* Port; // typed before the choice; null keeps the edit
        TAccountSecurity Security;
        const char* Expected;
    };
    const Step steps[] = {
        {nullptr, asImplicitTLS, "995"}, {nullptr, asStartTLS, "110"}, {nullptr, asImplicitTLS, "995"},
        {nullptr, asNone, "110"},        {"143", asImplicitTLS, "993"}, {nullptr, asStartTLS, "143"},
        {"993", asNone, "143"},          {"2110", asImplicitTLS, "2110"}, {"110", asStartTLS, "110"},
    };
    // Each step is a change of the choice.
    for (const Step& step : steps)
    {
        SCOPED_TRACE(std::string(step.Port ? step.Port : "-") + " -> " + std::to_string(step.Security));
        if (step.Port)
            Type(settings->txtPort, QString::fromLatin1(step.Port));
        settings->cboSecurity->setCurrentIndex(step.Security);
        EXPECT_EQ(settings->txtPort->text(), QString::fromLatin1(step.Expected));
        EXPECT_EQ(RowAccount(0).Security, step.Security);
        EXPECT_EQ(RowAccount(0).Port, step.Expected);
    }
    settings->txtPort->setText(QStringLiteral("143"));
    settings->cboSecurity->setCurrentIndex(asImplicitTLS);
    EXPECT_EQ(settings->txtPort->text(), "993");

    // The other account keeps its own choice, and showing it stores nothing.
    ClickRow(1);
    EXPECT_EQ(settings->cboSecurity->currentIndex(), asNone);
    EXPECT_EQ(settings->txtPort->text(), "110");
    ClickRow(0);
    EXPECT_EQ(settings->cboSecurity->currentIndex(), asImplicitTLS);
    EXPECT_EQ(settings->txtPort->text(), "993");

    Click(settings->btnOk);
    EXPECT_EQ(Integer(AccountKey(1), "Security"), asImplicitTLS);
    EXPECT_EQ(String(AccountKey(1), "HostPort"), "993");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(AccountKey(2), false));
    EXPECT_FALSE(reg.ValueExists("Security"));
}

TEST_F(SettingsDialogTest, PushIsOfferedForImap4AccountsAndStoredPerAccount)
{
    Store(Main, "AccountsNo", 2);
    Store(AccountKey(1), "IMAP4", 1);
    Store(AccountKey(2), "Push", 0);
    Open();
    Page(settings->tabAccount);
    QCheckBox* box = settings->chkPush;
    // A row clicked, or else a button; then the box and both rows' push.
    struct Step
    {
        int Row;
        QAbstractButton* Button;
        bool Enabled, Ticked, Push1, Push2;
    } const steps[] = {
        {0, nullptr, true, true, true, false},
        {-1, box, true, false, false, false},
        {1, nullptr, false, false, false, false}, // the POP3 account shows its own choice
        {-1, box, false, false, false, false},    // a dimmed box takes no click
        {-1, settings->rdbImap4, true, false, false, false},
        {-1, box, true, true, false, true},
        {-1, settings->rdbPop3, false, true, false, true}, // the choice stays
        {0, nullptr, true, false, false, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
    {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step& s = steps[i];
        s.Button ? Click(s.Button) : ClickRow(s.Row);
        EXPECT_EQ(std::tuple(box->isEnabled(), box->isChecked(), RowAccount(0).Push, RowAccount(1).Push),
                  std::tuple(s.Enabled, s.Ticked, s.Push1, s.Push2));
    }
    settings->cboSecurity->setFocus();
    QTest::keyClick(settings->cboSecurity, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), box) << "Tab goes from the security choice to the box";
}

// Cleared, the interval box leaves the account at the common interval,
// which its dimmed edit shows; ticked, the edit's number is the account's.
TEST_F(SettingsDialogTest, OwnIntervalAndSilenceAreShownAndStoredPerAccount)
{
    Store(Main, "CheckingTime", 120);
    Store(Main, "AccountsNo", 2);
    Store(AccountKey(1), "CheckingTime", 9000);
    Store(AccountKey(2), "Silent", 1);
    Open();
    Page(settings->tabAccount);
    QCheckBox* own = settings->chkCheckingTime;
    QLineEdit* edit = settings->txtCheckingTime;
    // A row clicked, a box clicked, or a number typed; then what shows and
    // both accounts' interval and silence.
    struct Step
    {
        int Row;
        QAbstractButton* Button;
        const char* Typed;
        bool Own;
        const char* Shown;
        bool Silent;
        int Time1, Time2;
        bool Silent2;
    } const steps[] = {
        {0, nullptr, nullptr, true, "7200", false, 7200, 0, true},
        {1, nullptr, nullptr, false, "120", true, 7200, 0, true},
        {-1, own, nullptr, true, "120", true, 7200, 120, true},
        {-1, nullptr, "45", true, "45", true, 7200, 45, true},
        {-1, settings->chkSilent, nullptr, true, "45", false, 7200, 45, false},
        {0, nullptr, nullptr, true, "7200", false, 7200, 45, false},
        {-1, own, nullptr, false, "120", false, 0, 45, false},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
    {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step& s = steps[i];
        if (s.Typed)
            Type(edit, QString::fromUtf8(s.Typed));
        else
            s.Button ? Click(s.Button) : ClickRow(s.Row);
        EXPECT_EQ(std::tuple(own->isChecked(), edit->isEnabled(), edit->text(), settings->chkSilent->isChecked()),
                  std::tuple(s.Own, s.Own, QString::fromUtf8(s.Shown), s.Silent));
        EXPECT_EQ(std::tuple(RowAccount(0).CheckingTime, RowAccount(1).CheckingTime, RowAccount(1).Silent),
                  std::tuple(s.Time1, s.Time2, s.Silent2));
    }
    Click(settings->btnOk);
    EXPECT_EQ(Integer(AccountKey(1), "CheckingTime"), 0);
    EXPECT_EQ(Integer(AccountKey(2), "CheckingTime"), 45);
    EXPECT_EQ(Integer(AccountKey(2), "Silent"), 0);
    EXPECT_EQ(tray->timMail->interval(), 45 * 1000) << "OK sets the timer for the soonest account";
}

// --- Find

class FindDialogTest : public SettingsDialogTest
{
protected:
    void SetUp() override
    {
        SettingsDialogTest::SetUp();
        settings->MakeFindNetwork = [this] {
            auto network = std::make_unique<TScriptedNetwork>();
            Net = network.get();
            return network;
        };
        Open();
        Page(settings->tabAccount);
    }
    // The address typed into the selected row's account, then Find.
    void Find(int row, const QString& address)
    {
        ClickRow(row);
        Type(settings->txtEmailAddress, address);
        Click(settings->btnFind);
    }
    // Every place of the search comes back empty but the domain's SRV
    // record for IMAP4 over TLS.
    void AnswerBySrv(const std::string& domain, const std::string& host)
    {
        Net->NoJmap(domain);
        Net->NoFile("https://autoconfig." + domain + "/mail/config-v1.1.xml?emailaddress=ann%40" + domain);
        Net->NoFile("https://" + domain + "/.well-known/autoconfig/mail/config-v1.1.xml");
        Net->Srv("_imaps._tcp." + domain, {{host, 993, 0, 0}});
        for (const char* service : {"_pop3s._tcp.", "_imap._tcp.", "_pop3._tcp."})
            Net->Srv(service + domain);
    }
    TScriptedNetwork* Net = nullptr;
};

TEST_F(FindDialogTest, FindFillsTheAccountSaysWhereFromAndStoresNothingBeforeOk)
{
    Find(0, QStringLiteral("ann@example.com"));
    EXPECT_EQ(settings->btnFind->text(), ResText("S&top"));
    EXPECT_EQ(settings->lblFindResult->text(), "Looking up the settings for example.com...");
    AnswerBySrv("example.com", "mail.example.com");

    const Account a = RowAccount(0);
    EXPECT_EQ(std::tuple(a.Caption, a.IMAP4, a.Host, a.Port, a.Security, a.UserName, a.EmailAddress),
              std::tuple(std::string("ann@example.com"), true, std::string("mail.example.com"), std::string("993"),
                         asImplicitTLS, std::string("ann@example.com"), std::string("ann@example.com")));
    EXPECT_EQ(Row(0)->text(acCaption), "ann@example.com");
    EXPECT_EQ(std::tuple(settings->txtHost->text(), settings->txtPort->text(), settings->cboSecurity->currentIndex(),
                         settings->rdbImap4->isChecked()),
              std::tuple(QStringLiteral("mail.example.com"), QStringLiteral("993"), 2, true));
    EXPECT_EQ(settings->lblFindResult->text(), "from the DNS records of example.com");
    EXPECT_EQ(settings->btnFind->text(), ResText("&Find"));
    EXPECT_EQ(QApplication::focusWidget(), settings->txtPassword);
    EXPECT_EQ(String(AccountKey(1), "HostAddress"), "POP3 Server") << "nothing stored before OK";

    Click(settings->btnOk);
    EXPECT_EQ(String(AccountKey(1), "HostAddress"), "mail.example.com");
    EXPECT_EQ(String(AccountKey(1), "EmailAddress"), "ann@example.com");
}

TEST_F(FindDialogTest, AJmapServerFoundSetsUpAJmapAccount)
{
    Find(0, QStringLiteral("ann@example.com"));
    Net->Srv("_jmap._tcp.example.com", {{"jmap.example.com", 443, 0, 0}});
    Net->File("https://jmap.example.com/.well-known/jmap", R"({"capabilities": {"urn:ietf:params:jmap:mail": {}}})");
    const Account a = RowAccount(0);
    EXPECT_EQ(std::tuple(a.JMAP, a.IMAP4, a.Host, a.UserName),
              std::tuple(true, false, std::string("jmap.example.com"), std::string("ann@example.com")));
    EXPECT_TRUE(settings->rdbJmap->isChecked());
    EXPECT_FALSE(settings->txtPort->isEnabled());
    Click(settings->btnOk);
    EXPECT_EQ(std::tuple(Integer(AccountKey(1), "JMAP"), Integer(AccountKey(1), "IMAP4")), std::tuple(1, 0));
}

TEST_F(FindDialogTest, AProviderThatTakesNoPasswordIsSetUpForASignIn)
{
    // Kept past the window, whose sign-in threads may still hold them.
    static TMemoryTokenVault vault;
    static TAccessTokens tokens(vault, {});
    settings->SetAccessTokens(&tokens);
    Find(0, QStringLiteral("ann@gmail.com"));
    const Account a = RowAccount(0);
    EXPECT_EQ(std::tuple(a.Host, a.Authentication, a.OAuth2Issuer),
              std::tuple(std::string("imap.gmail.com"), aaOAuth2, std::string("https://accounts.google.com")));
    EXPECT_FALSE(settings->txtPassword->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), settings->pnlSignIn->btnSignIn);
}

TEST_F(FindDialogTest, CaptionOfTheUsersOwnStaysAndTheFoundSettingsGoToTheAccountFindWasFor)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    Find(1, QStringLiteral("ann@work.example"));
    AnswerBySrv("work.example", "imap.work.example");
    EXPECT_EQ(RowAccount(1).Caption, "Work");
    EXPECT_EQ(RowAccount(1).Host, "imap.work.example");
    EXPECT_EQ(RowAccount(0).Host, "POP3 Server");
}

TEST_F(FindDialogTest, FindStopsOnItsButtonOnAnotherRowAndOnCancel)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    const std::function<void()> stops[] = {
        [&] { Click(settings->btnFind); },
        [&] { ClickRow(1); },
        [&] { Click(settings->btnCancel); },
    };
    for (size_t i = 0; i < std::size(stops); ++i)
    {
        SCOPED_TRACE("stop " + std::to_string(i));
        if (!settings->isVisible())
            Reopen(), Page(settings->tabAccount);
        Find(0, QStringLiteral("ann@example.com"));
        ASSERT_TRUE(settings->AccountFinder().Running());
        stops[i]();
        EXPECT_FALSE(settings->AccountFinder().Running());
        EXPECT_EQ(Net->Waiting(), 0u);
        EXPECT_EQ(settings->btnFind->text(), ResText("&Find"));
        EXPECT_EQ(RowAccount(0).Host, "POP3 Server");
    }
}

TEST_F(FindDialogTest, NoAddressOrNoAnswerInTimeSaysSoAndKeepsTheFields)
{
    Find(0, QStringLiteral("not an address"));
    EXPECT_EQ(settings->lblFindResult->text(), "Type an e-mail address, such as ann@example.com.");
    EXPECT_FALSE(settings->AccountFinder().Running());

    Find(0, QStringLiteral("ann@example.com"));
    settings->AccountFinder().Expire();
    EXPECT_EQ(settings->lblFindResult->text(), "No answer in time for example.com: please type the settings.");
    EXPECT_EQ(RowAccount(0).Host, "POP3 Server");
    EXPECT_EQ(RowAccount(0).EmailAddress, "ann@example.com");
}

TEST(FindOutcome, LineSaysWhereTheSettingsCameFrom)
{
    const auto line = [](TFoundSource source, bool oauth2 = false) {
        TFindOutcome outcome;
        outcome.Server.Source = source;
        outcome.Server.SourceName = source == fsProbe ? "imap.example.com" : "example.com";
        outcome.Server.NeedsOAuth2 = oauth2;
        return FindOutcomeText(outcome, "ann@example.com");
    };
    EXPECT_EQ(line(fsProviderTable, true),
              "from the list of common providers (example.com) (the provider asks for a sign-in on its own page)");
    EXPECT_EQ(line(fsAutoconfig), "from example.com's own configuration");
    EXPECT_EQ(line(fsProbe), "tried and verified on imap.example.com");
    EXPECT_EQ(line(fsNone), "No settings found for example.com: please type them.");
}

TEST_F(SettingsDialogTest, TwoAccountsEditedAlternatelyKeepTheirOwnFields)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    ClickRow(0);
    Type(settings->txtUserName, QStringLiteral("alice"));
    Type(settings->txtPassword, QStringLiteral("alice-pw"));
    ClickRow(1);
    EXPECT_EQ(settings->txtUserName->text(), "User Name");
    EXPECT_EQ(settings->txtPassword->text(), "");
    Type(settings->txtUserName, QStringLiteral("bob"));
    Click(settings->rdbImap4);
    ClickRow(0);
    EXPECT_EQ(settings->txtUserName->text(), "alice");
    EXPECT_EQ(settings->txtPassword->text(), "alice-pw");
    EXPECT_TRUE(settings->rdbPop3->isChecked());
    Type(settings->txtHost, QStringLiteral("a.example.org"));
    ClickRow(1);
    EXPECT_EQ(settings->txtUserName->text(), "bob");
    EXPECT_EQ(settings->txtHost->text(), "POP3 Server");
    EXPECT_TRUE(settings->rdbImap4->isChecked());

    Click(settings->btnOk);
    const std::string a1 = AccountKey(1), a2 = AccountKey(2);
    EXPECT_EQ(String(a1, "UserName"), "alice");
    EXPECT_EQ(String(a1, "UserPassword"), "alice-pw");
    EXPECT_EQ(String(a1, "HostAddress"), "a.example.org");
    EXPECT_EQ(Integer(a1, "IMAP4"), 0);
    EXPECT_EQ(String(a2, "Caption"), "Work");
    EXPECT_EQ(String(a2, "UserName"), "bob");
    EXPECT_EQ(String(a2, "UserPassword"), "");
    EXPECT_EQ(String(a2, "HostAddress"), "POP3 Server");
    EXPECT_EQ(Integer(a2, "IMAP4"), 1);
}

TEST_F(SettingsDialogTest, RemoveAsksAndDeletesOnlyTheSelectedRow)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    settings->lvwAccounts->clearSelection();
    ASSERT_FALSE(Selected(0));
    Click(settings->btnRemove);
    ASSERT_EQ(Asked.size(), 1u);
    EXPECT_EQ(Asked[0].Caption, "Confirm");
    EXPECT_EQ(Asked[0].Text, "Are you sure you want to remove the selected account?");
    EXPECT_EQ(Asked[0].Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(Asked[0].Buttons, unsigned(mbYes | mbNo));
    EXPECT_EQ(Rows(), 2) << "no row selected: nothing removed";

    ClickRow(0);
    Answer = TModalResult::mrNo;
    Click(settings->btnRemove);
    EXPECT_EQ(Rows(), 2);
    Answer = TModalResult::mrYes;
    Click(settings->btnRemove);
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(RowAccount(0).Caption, "Work");
    EXPECT_TRUE(Selected(0)) << "the fields show a listed account, not the removed one";
    Type(settings->txtUserName, QStringLiteral("carol"));
    EXPECT_EQ(RowAccount(0).UserName, "carol");
    Click(settings->btnRemove);
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(settings->txtUserName->text(), "");
    Click(settings->btnOk);
    EXPECT_EQ(Integer(Main, "AccountsNo"), 0);
}

TEST_F(SettingsDialogTest, RenameTakesTheTypedCaptionAndEscKeepsTheOld)
{
    Open();
    Page(settings->tabAccount);
    const auto rename = [this](const QString& text, Qt::Key key) {
        Click(settings->btnRename);
        QLineEdit* editor = CaptionEditor();
        ASSERT_NE(editor, nullptr);
        Type(editor, text);
        QTest::keyClick(editor, key);
        ASSERT_TRUE(WaitUntil([this] { return CaptionEditor() == nullptr; }, 2000));
    };
    rename(QStringLiteral("Nope"), Qt::Key_Escape);
    EXPECT_EQ(RowAccount(0).Caption, "My Account");
    rename(QStringLiteral("Work"), Qt::Key_Return);
    EXPECT_EQ(RowAccount(0).Caption, "Work");
    EXPECT_TRUE(settings->isVisible()) << "Enter in the caption editor is not OK";
    rename(QString(), Qt::Key_Return);
    EXPECT_EQ(RowAccount(0).Caption, "");

    // The list's own way: a second, slow click on the selected row.
    QStyleHints* hints = QGuiApplication::styleHints();
    const int doubleClick = hints->mouseDoubleClickInterval();
    hints->setMouseDoubleClickInterval(50);
    ClickRow(0);
    EXPECT_TRUE(WaitUntil([this] { return CaptionEditor() != nullptr; }, 2000));
    hints->setMouseDoubleClickInterval(doubleClick);
}

TEST_F(SettingsDialogTest, PageChangesSelectTheFirstAccount)
{
    StoreAccount(2, "Work");
    Open();
    Page(settings->tabAccount);
    EXPECT_TRUE(Selected(0)) << "the fields are never blank beside accounts";
    ClickRow(1);
    Page(settings->tabNotification);
    EXPECT_TRUE(Selected(0));
    Page(settings->tabAccount);
    EXPECT_EQ(settings->txtHost->text(), "POP3 Server");

    // A load empties the selection; showing the Account page again selects.
    Store(AccountKey(1), "UserName", std::string("loaded"));
    Click(settings->btnCancel);
    ASSERT_FALSE(Selected(0));
    Reopen();
    EXPECT_TRUE(Selected(0));
    EXPECT_EQ(settings->txtUserName->text(), "loaded");
}

// The way a sign-in notice opens the settings: the Account page on that
// account. Its sign-in values, which no field shows, go through OK as read.
TEST_F(SettingsDialogTest, ShowAccountOpensTheAccountPageOnItAndKeepsItsSignInValues)
{
    StoreAccount(2, "Work");
    Store(AccountKey(2), "Authentication", 1);
    Store(AccountKey(2), "OAuth2Issuer", std::string("https://login.example"));
    Open();
    Page(settings->tabGeneral);
    settings->ShowAccount(1);
    EXPECT_EQ(settings->pagSettings->currentWidget(), settings->tabAccount);
    EXPECT_TRUE(Selected(1));
    settings->ShowAccount(7);
    EXPECT_TRUE(Selected(1)) << "no such account: left as it is";

    Click(settings->btnOk);
    EXPECT_EQ(Integer(AccountKey(2), "Authentication"), 1);
    EXPECT_EQ(String(AccountKey(2), "OAuth2Issuer"), "https://login.example");
}

// --- OK, Cancel, Default and the keys

TEST_F(SettingsDialogTest, EnterActsAsOkAndEscAsCancelLeavingTheHiveAsItWas)
{
    Open();
    Page(settings->tabAccount);
    Type(settings->txtHost, QStringLiteral("mail.example.org"));
    QTest::keyClick(settings->txtHost, Qt::Key_Return);
    EXPECT_FALSE(settings->isVisible());
    EXPECT_TRUE(tray->timMail->isActive());
    EXPECT_EQ(tray->timMail->interval(), 300 * 1000);
    EXPECT_EQ(String(AccountKey(1), "HostAddress"), "mail.example.org");

    Reopen();
    const std::string before = HiveText();
    Type(settings->txtHost, QStringLiteral("other"));
    Page(settings->tabGeneral);
    Type(settings->txtInterval, QStringLiteral("45"));
    QTest::keyClick(settings->cboPriority, Qt::Key_Escape);
    EXPECT_FALSE(settings->isVisible());
    EXPECT_TRUE(tray->timMail->isActive());
    EXPECT_EQ(HiveText(), before);
    EXPECT_EQ(RowAccount(0).Host, "mail.example.org");
    EXPECT_EQ(settings->spnInterval->Position(), 300);

    Reopen();
    QTest::keyClick(settings->lvwAccounts, Qt::Key_Enter);
    EXPECT_FALSE(settings->isVisible()) << "the keypad's Enter too";
}

TEST_F(SettingsDialogTest, CancelAfterDefaultKeepsTheDefaults)
{
    Store(Main, "CheckingTime", 60);
    Store(Main, "Execute", std::string("run me"));
    Store(Main, "PlaySound", std::string());
    Open();
    ASSERT_TRUE(settings->chkExecute->isChecked());
    Click(settings->btnDefault);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->spnInterval->Position(), 300);
    EXPECT_FALSE(settings->chkExecute->isChecked()) << "the ticks follow the restored values";
    EXPECT_FALSE(settings->txtExecute->isEnabled());
    EXPECT_TRUE(settings->chkSound->isChecked());
    Click(settings->btnCancel);
    EXPECT_EQ(settings->spnInterval->Position(), 300);
    EXPECT_EQ(Integer(Main, "CheckingTime"), 300);
    EXPECT_EQ(String(Main, "Execute"), "");
}

// A window built when it is first shown reads back, before and after, what
// a window built at once reads back of the same value.
TEST_F(UiFixture, WindowBuiltWhenShownGivesBackWhatItsControlsWould)
{
    TConfig wild;
    wild.EmailClient = std::string(32767 + 10, 'x');
    wild.CheckingTime = 1;
    wild.ScrLckBlinking = 9000;
    wild.FormAutoHide = -5;
    wild.DoubleClick = 7;
    wild.RequiredPriority = -3;
    wild.PlaySound = "caf\xe9 \x81";
    wild.FormStayOnTop = false;
    Account odd;
    odd.Caption = "Odd\xa0one";
    odd.Enabled = false;
    odd.IMAP4 = true;
    odd.Security = asImplicitTLS;
    odd.Push = false;
    odd.Unreadable = {{"HostPort", "The value 'HostPort' is not stored as text.", 1}};
    wild.Accounts = {odd, Account{}};
    TConfig longInterval;
    longInterval.CheckingTime = 9999;
    longInterval.ScrLckBlinking = 8000;
    longInterval.FormAutoHide = 100;
    const struct
    {
        const char* Name;
        std::optional<TConfig> Shown;
    } cases[] = {{"nothing shown yet", std::nullopt},
                 {"the defaults", TConfig{}},
                 {"values out of every range", wild},
                 {"times above the spinners' first maxima", longInterval}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TfrmSettings now;
        TfrmSettings later(nullptr, TfrmSettings::TBuild::WhenShown);
        ASSERT_FALSE(later.Built());
        for (TfrmSettings* window : {&now, &later})
        {
            window->frmNewMail = newMail.get();
            if (c.Shown)
                window->ShowConfig(*c.Shown);
        }
        EXPECT_TRUE(later.ConfigOfControls() == now.ConfigOfControls());
        // Held as shown: a row that dropped it would read as on.
        if (c.Shown && !c.Shown->Accounts.empty())
        {
            EXPECT_EQ(later.ConfigOfControls().Accounts[0].Push, c.Shown->Accounts[0].Push);
            EXPECT_EQ(later.ConfigOfControls().Accounts[0].Unreadable, c.Shown->Accounts[0].Unreadable);
        }
        now.show();
        later.show();
        ASSERT_TRUE(later.Built());
        EXPECT_TRUE(later.ConfigOfControls() == now.ConfigOfControls());
        EXPECT_EQ(later.txtInterval->text(), now.txtInterval->text());
        EXPECT_EQ(later.lvwAccounts->topLevelItemCount(), now.lvwAccounts->topLevelItemCount());
    }
}

// What the keyring side does to a window not yet built reaches its
// controls when it is.
TEST_F(UiFixture, WindowBuiltWhenShownKeepsOriginsForgottenPasswordsAndTheStore)
{
    Account ann;
    ann.UserName = "ann";
    ann.Password = "pw";
    Account bob;
    bob.UserName = "bob";
    bob.Password = "pw";
    TConfig config;
    config.Accounts = {ann, bob};
    TfrmSettings now;
    TfrmSettings later(nullptr, TfrmSettings::TBuild::WhenShown);
    for (TfrmSettings* window : {&now, &later})
    {
        window->ShowConfig(config);
        EXPECT_EQ(window->AccountOrigins().size(), 2u);
        EXPECT_FALSE(window->AccountOrigins()[0].has_value()) << "shown rows have no origin yet";
        const std::vector<TSecretKey> marked = window->MarkAccountOrigins();
        EXPECT_TRUE(marked == (std::vector<TSecretKey>{SecretKeyOf(ann), SecretKeyOf(bob)}));
        window->ForgetPassword(ann);
        window->ShowPasswordStore(TSecretStore::TPresence::Present);
    }
    later.show();
    ASSERT_TRUE(later.Built());
    EXPECT_TRUE(later.AccountOrigins() == now.AccountOrigins());
    ASSERT_TRUE(later.AccountOrigins()[1].has_value());
    EXPECT_EQ(later.AccountOrigins()[1]->User, "bob");
    EXPECT_EQ(later.EditedAccounts()[0].Password, "");
    EXPECT_EQ(later.EditedAccounts()[1].Password, "pw");
    EXPECT_FALSE(later.lblPasswordStore->text().isEmpty());
    EXPECT_EQ(later.lblPasswordStore->text(), now.lblPasswordStore->text());
}

} // namespace

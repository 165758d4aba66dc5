#include "config/AccountRows.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "desktop/UpDownControl.h"
#include "desktop/Animate.h"
#include "desktop/DecoderModule.h"
#include "desktop/MediaPlayer.h"
#include "platform/CodePage.h"
#include "platform/Hive.h"
#include "platform/Registry.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <functional>
#include <optional>
#include <fstream>
#include <variant>
#include <sys/stat.h>

namespace
{

const std::string Main = ConfigKey;
const std::string Account1 = AccountKey(1);

class ConfigStoreTest : public WiredUiFixture
{
protected:
    void Load() { keeper->Load(); }
    void Save() { keeper->Save(); }
    int Width(int column) const { return newMail->lvwMessages->header()->sectionSize(column); }
    QTreeWidgetItem* Row(int i) const { return settings->lvwAccounts->topLevelItem(i); }
    // The account the window shows in row i.
    Account RowAccount(int i) const { return settings->ConfigOfControls().Accounts.at(i); }
};

TEST_F(ConfigStoreTest, FirstStartCreatesEveryDefaultAndTheFirstAccount)
{
    ComputeStartupDefaults();
    ASSERT_FALSE(settings->isVisible());
    Load();

    EXPECT_EQ(String(Main, "EmailClient"), DefaultEmailClient);
    EXPECT_EQ(Integer(Main, "CheckingTime"), 300);
    EXPECT_EQ(Integer(Main, "DoubleClick"), 0);
    EXPECT_EQ(Integer(Main, "NotifyOnlyNewMsg"), 1);
    EXPECT_EQ(Integer(Main, "RequiredPriority"), 4);
    EXPECT_EQ(Integer(Main, "ShowForm"), 1);
    EXPECT_EQ(String(Main, "PlaySound"), DefaultSoundFile);
    EXPECT_EQ(Integer(Main, "ScrLckBlinking"), 0);
    EXPECT_EQ(String(Main, "ShowIcon"), DefaultIconFile);
    EXPECT_EQ(String(Main, "Execute"), "");
    EXPECT_EQ(Integer(Main, "FormAutoHide"), 0);
    EXPECT_EQ(String(Main, "FormAnimation"), DefaultAnimationFile);
    EXPECT_EQ(Integer(Main, "FormStayOnTop"), 1);
    EXPECT_EQ(Integer(Main, "FormSaveDetails"), 1);
    EXPECT_EQ(Integer(Main, "FormShowDetails"), 1);
    EXPECT_EQ(String(Main, "FormColumnsWidth"), "100,100,100,100,0");
    EXPECT_EQ(Integer(Main, "AccountsNo"), 1);

    EXPECT_EQ(String(Account1, "Caption"), "My Account");
    EXPECT_EQ(String(Account1, "UserName"), "User Name");
    EXPECT_EQ(String(Account1, "UserPassword"), "");
    EXPECT_EQ(String(Account1, "HostAddress"), "POP3 Server");
    EXPECT_EQ(String(Account1, "HostPort"), "110");
    EXPECT_EQ(Integer(Account1, "IMAP4"), 0);
    EXPECT_EQ(Integer(Account1, "AccountEnabled"), 1);

    ASSERT_EQ(settings->lvwAccounts->topLevelItemCount(), 1);
    const Account a = RowAccount(0);
    EXPECT_EQ(a.Caption, "My Account");
    EXPECT_TRUE(a.Enabled);
    EXPECT_EQ(a.UserName, "User Name");
    EXPECT_EQ(a.Password, "");
    EXPECT_EQ(a.Host, "POP3 Server");
    EXPECT_EQ(a.Port, "110");
    EXPECT_FALSE(a.IMAP4);

    EXPECT_EQ(tray->timMail->interval(), 300 * 1000);
    EXPECT_TRUE(settings->isVisible()) << "the first start shows the settings window";

    // A later load finds the key and leaves the window hidden.
    settings->hide();
    Load();
    EXPECT_FALSE(settings->isVisible());
}

TEST_F(ConfigStoreTest, StartupDefaultsLieBesideTheExecutable)
{
    ComputeStartupDefaults();
    const std::string folder = std::string(TERNBELL_BINARY_DIR) + "/tests/";
    EXPECT_EQ(DefaultSoundFile, folder + "notify.wav");
    EXPECT_EQ(DefaultIconFile, folder + "newmsg.ico");
    EXPECT_EQ(DefaultAnimationFile, folder + "notify.avi");
    EXPECT_EQ(ReaderCommand, folder + "ternview %ACCOUNT% %MSGID%");
}

TEST_F(ConfigStoreTest, DefaultEmailClientComesFromTheMailtoHandler)
{
    const QString home = FHome.path();
    setenv("XDG_DATA_HOME", (home + "/data").toLocal8Bit().constData(), 1);
    QDir().mkpath(home + "/data/applications");
    std::ofstream(QString(home + "/mimeapps.list").toStdString())
        << "[Default Applications]\nx-scheme-handler/mailto=fakemail.desktop\n";
    std::ofstream(QString(home + "/data/applications/fakemail.desktop").toStdString())
        << "[Desktop Entry]\nType=Application\nName=Fake\nExec=fakemail -compose %u\n";
    const std::string client = ReadDefaultEmailClient();
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(client, "fakemail -compose");
}

TEST_F(ConfigStoreTest, ReadOrCreateKeepsStoredValuesAndCreatesMissingOnes)
{
    Store(Main, "Name", std::string("stored"));
    Store(Main, "Number", 42);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Main, false));
    EXPECT_EQ(ReadOrCreateString(reg, "Name", "default"), "stored");
    EXPECT_EQ(ReadOrCreateInteger(reg, "Number", 7), 42);
    EXPECT_TRUE(ReadOrCreateBool(reg, "Number", false)) << "any non-zero number reads as true";
    EXPECT_EQ(ReadOrCreateString(reg, "NewName", "default"), "default");
    EXPECT_EQ(ReadOrCreateInteger(reg, "NewNumber", 7), 7);
    EXPECT_FALSE(ReadOrCreateBool(reg, "NewBool", false));
    EXPECT_EQ(reg.GetDataType("NewName"), TRegDataType::rdString);
    EXPECT_EQ(reg.GetDataType("NewNumber"), TRegDataType::rdInteger);
    EXPECT_EQ(reg.GetDataType("NewBool"), TRegDataType::rdInteger);
    reg.CloseKey();
    EXPECT_EQ(String(Main, "Name"), "stored");
    EXPECT_EQ(Integer(Main, "NewNumber"), 7);
    EXPECT_EQ(Integer(Main, "NewBool"), 0);
}

struct SpinnerCase
{
    int32_t interval, led, autoHide;
    int wantInterval, wantLed, wantAutoHide;
    bool wantSilent, wantAutoHideTick;
};

class SpinnerClampTest : public ConfigStoreTest, public ::testing::WithParamInterface<SpinnerCase>
{
};

TEST_P(SpinnerClampTest, StoredTimesAreBroughtIntoRange)
{
    const SpinnerCase c = GetParam();
    Store(Main, "CheckingTime", c.interval);
    Store(Main, "ScrLckBlinking", c.led);
    Store(Main, "FormAutoHide", c.autoHide);
    Load();
    EXPECT_EQ(settings->spnInterval->Position(), c.wantInterval);
    EXPECT_EQ(settings->txtInterval->text().toInt(), c.wantInterval);
    EXPECT_EQ(settings->spnLedActiveTime->Position(), c.wantLed);
    EXPECT_EQ(settings->spnAutoHide->Position(), c.wantAutoHide);
    EXPECT_EQ(settings->chkSilentMode->isChecked(), c.wantSilent);
    EXPECT_EQ(settings->chkAutoHide->isChecked(), c.wantAutoHideTick);
    EXPECT_EQ(tray->timMail->interval(), c.wantInterval * 1000);
    // The arrows stop at the interval too.
    settings->spnLedActiveTime->StepBy(1000);
    settings->spnAutoHide->StepBy(100000);
    EXPECT_EQ(settings->spnLedActiveTime->Position(), c.wantInterval);
    EXPECT_EQ(settings->spnAutoHide->Position(), c.wantInterval);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, SpinnerClampTest,
    ::testing::Values(SpinnerCase{300, 0, 0, 300, 0, 0, false, false},
                      SpinnerCase{2, 3, 1, 5, 3, 1, true, true},
                      SpinnerCase{9000, 7200, 100, 7200, 7200, 100, true, true},
                      SpinnerCase{60, 500, 61, 60, 60, 60, true, true},
                      SpinnerCase{180, -5, -1, 180, 0, 0, false, false},
                      // Above the designed auto-hide maximum of 60 but within the interval.
                      SpinnerCase{180, 0, 120, 180, 0, 120, false, true}));

// An account's own interval: absent or 0 is the common one; any other
// number is brought into the common interval's range, and the timer wakes
// for the soonest account.
TEST_F(ConfigStoreTest, AccountIntervalIsTheCommonOneOrBroughtIntoRange)
{
    const struct
    {
        std::optional<int32_t> Stored;
        int Want;
    } cases[] = {{std::nullopt, 0}, {0, 0}, {2, 5}, {60, 60}, {9000, 7200}, {-5, 5}};
    Store(Main, "AccountsNo", static_cast<int32_t>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i)
        if (cases[i].Stored)
            Store(AccountKey(static_cast<int>(i) + 1), "CheckingTime", *cases[i].Stored);
    Load();
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(RowAccount(static_cast<int>(i)).CheckingTime, cases[i].Want) << i;
    EXPECT_EQ(Integer(Account1, "CheckingTime"), 0) << "created with the common one";
    EXPECT_EQ(tray->timMail->interval(), 5 * 1000);
}

TEST_F(ConfigStoreTest, StayOnTopFollowsTheSettingAndKeepsTheWindowShown)
{
    Store(Main, "FormStayOnTop", 0);
    newMail->show();
    Load();
    EXPECT_FALSE(newMail->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(newMail->isVisible());
    Store(Main, "FormStayOnTop", 1);
    Load();
    EXPECT_TRUE(newMail->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(newMail->isVisible());
}

TEST_F(ConfigStoreTest, SaveDetailsOffNeitherReadsNorCreatesShowDetails)
{
    Store(Main, "FormSaveDetails", 0);
    newMail->actDetails->setChecked(false);
    newMail->show(); // at its designed size, the details shown
    Load();
    EXPECT_FALSE(Exists(Main, "FormShowDetails"));
    EXPECT_FALSE(newMail->actDetails->isChecked()) << "the action keeps its tick";
    EXPECT_TRUE(newMail->panDetails->isHidden());
    EXPECT_EQ(newMail->height(), 175) << "the designed 318 less the 143 of the details";

    // Loading again does not shrink the window a second time.
    Load();
    EXPECT_EQ(newMail->height(), 175);

    Save();
    ASSERT_TRUE(Exists(Main, "FormShowDetails"));
    EXPECT_EQ(Integer(Main, "FormShowDetails"), 0);
}

TEST_F(ConfigStoreTest, ShowDetailsIsRestoredWhenSaveDetailsIsOn)
{
    Store(Main, "FormShowDetails", 0);
    Load();
    EXPECT_FALSE(newMail->actDetails->isChecked());
    EXPECT_TRUE(newMail->panDetails->isHidden());
    newMail->show(); // sized at its first showing, without the details
    EXPECT_EQ(newMail->height(), 175);
    EXPECT_EQ(newMail->width(), 382);
}

TEST_F(ConfigStoreTest, NoAccountsOpensNoAccountKey)
{
    Store(Main, "AccountsNo", 0);
    Load();
    EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), 0);
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(Account1));
    Store(Main, "AccountsNo", -3);
    Load();
    EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), 0);
    EXPECT_FALSE(reg.KeyExists(Account1));
}

TEST_F(ConfigStoreTest, MissingAccountKeysAreCreatedWithTheDefaults)
{
    Store(Main, "AccountsNo", 3);
    Store(Account1, "Caption", std::string("Work"));
    Store(Account1, "IMAP4", 1);
    Store(Account1, "AccountEnabled", 0);
    Store(Account1, "HostPort", std::string("143"));
    Load();
    ASSERT_EQ(settings->lvwAccounts->topLevelItemCount(), 3);
    const Account work = RowAccount(0);
    EXPECT_EQ(work.Caption, "Work");
    EXPECT_TRUE(work.IMAP4);
    EXPECT_FALSE(work.Enabled);
    EXPECT_EQ(work.Port, "143");
    EXPECT_TRUE(RowAccount(0).IMAP4);
    // A key written before there was a push choice gets it, on.
    EXPECT_TRUE(work.Push);
    EXPECT_EQ(Integer(Account1, "Push"), 1);
    for (int i = 1; i < 3; ++i)
    {
        const Account a = RowAccount(i);
        EXPECT_EQ(a.Caption, "My Account");
        EXPECT_TRUE(a.Enabled);
        EXPECT_EQ(Row(i)->checkState(0), Qt::Checked);
        EXPECT_EQ(String(AccountKey(i + 1), "HostAddress"), "POP3 Server");
    }
}

TEST_F(ConfigStoreTest, SecurityIsReadWhenPresentAndWrittenOnlyWhenChosen)
{
    Store(Main, "AccountsNo", 5);
    Store(AccountKey(1), "Security", 1);
    Store(AccountKey(2), "Security", 2);
    // Values this program does not know, or of another type, mean none.
    Store(AccountKey(3), "Security", 7);
    Store(AccountKey(4), "Security", std::string("2"));
    Load();
    const TAccountSecurity expected[] = {asStartTLS, asImplicitTLS, asNone, asNone, asNone};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(RowAccount(i).Security, expected[i]) << i;
    TRegistry reg;
    // Reading creates no value: hives written before stay as they were.
    ASSERT_TRUE(reg.OpenKey(AccountKey(5), false));
    EXPECT_FALSE(reg.ValueExists("Security"));
    reg.CloseKey();

    Save();
    EXPECT_EQ(Integer(AccountKey(1), "Security"), 1);
    EXPECT_EQ(Integer(AccountKey(2), "Security"), 2);
    for (int i = 3; i <= 5; ++i)
    {
        ASSERT_TRUE(reg.OpenKey(AccountKey(i), false));
        EXPECT_FALSE(reg.ValueExists("Security")) << i;
        reg.CloseKey();
    }
}

TEST_F(ConfigStoreTest, SignInValuesAreReadWhenPresentAndWrittenOnlyWhenSet)
{
    Store(Main, "AccountsNo", 5);
    Store(AccountKey(1), "Authentication", 1);
    Store(AccountKey(1), "OAuth2Issuer", std::string("https://login.example/v2.0"));
    Store(AccountKey(1), "OAuth2ClientId", std::string("ternbell-test"));
    Store(AccountKey(1), "OAuth2Scope", std::string("mail offline_access"));
    // Numbers this program does not know are a password login; so is a
    // value of another type, which the account reports.
    Store(AccountKey(2), "Authentication", 9);
    Store(AccountKey(3), "Authentication", std::string("1"));
    // A JMAP account logging in with an API token.
    Store(AccountKey(5), "JMAP", 1);
    Store(AccountKey(5), "Authentication", 2);
    Load();
    EXPECT_EQ(std::tuple(RowAccount(4).JMAP, RowAccount(4).Authentication), std::tuple(true, aaBearer));
    const Account signedIn = RowAccount(0);
    EXPECT_EQ(signedIn.Authentication, aaOAuth2);
    EXPECT_EQ(signedIn.OAuth2Issuer, "https://login.example/v2.0");
    EXPECT_EQ(signedIn.OAuth2ClientId, "ternbell-test");
    EXPECT_EQ(signedIn.OAuth2Scope, "mail offline_access");
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(RowAccount(i).Authentication, aaPassword) << i;
    ASSERT_EQ(RowAccount(2).Unreadable.size(), 1u);
    EXPECT_EQ(RowAccount(2).Unreadable[0].Name, "Authentication");

    Save();
    EXPECT_EQ(Integer(AccountKey(1), "Authentication"), 1);
    EXPECT_EQ(String(AccountKey(1), "OAuth2Scope"), "mail offline_access");
    EXPECT_EQ(std::tuple(Integer(AccountKey(5), "JMAP"), Integer(AccountKey(5), "Authentication")), std::tuple(1, 2));
    TRegistry reg;
    // A password account's key gets none of them, nor the JMAP flag: hives
    // stay as they were.
    for (int i : {2, 4})
    {
        ASSERT_TRUE(reg.OpenKey(AccountKey(i), false));
        for (const char* name : {"Authentication", "OAuth2Issuer", "OAuth2ClientId", "OAuth2Scope", "JMAP"})
            EXPECT_FALSE(reg.ValueExists(name)) << i << name;
        reg.CloseKey();
    }
}

// An IMAP4 account's "Folders" sub-key: one dword a folder, names as the
// server lists them, odd characters and all.
TEST_F(ConfigStoreTest, FoldersSubKeyIsReadAsListedAndSavedToMatchTheList)
{
    const std::string folders1 = AccountKey(1) + "\\Folders";
    Store(Main, "AccountsNo", 2);
    Store(AccountKey(1), "IMAP4", 1);
    Store(folders1, "INBOX", 1);
    Store(folders1, "Lists/dev \"core\" \\ \xc3\xa9t\xc3\xa9", 1);
    Store(folders1, "Junk", 0);
    Store(folders1, "Odd", 7);          // only 1 watches
    Store(folders1, "Note", std::string("kept")); // not ours: passed over, kept
    Load();
    const std::vector<TAccountFolder> read = RowAccount(0).Folders;
    const std::vector<TAccountFolder> expected = {
        {"INBOX", true}, {"Lists/dev \"core\" \\ \xc3\xa9t\xc3\xa9", true}, {"Junk", false}, {"Odd", false}};
    EXPECT_EQ(read, expected);
    EXPECT_EQ(WatchedFolders(RowAccount(0)), (std::vector<std::string>{"INBOX", expected[1].Name}));
    // A load creates no sub-key: without one the inbox alone is checked.
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(AccountKey(2) + "\\Folders"));
    EXPECT_EQ(WatchedFolders(RowAccount(1)), std::vector<std::string>{"INBOX"});

    // A folder dropped from the list leaves the sub-key; one unticked stays, as 0.
    TConfig edited = settings->ConfigOfControls();
    edited.Accounts[0].Folders = {{"INBOX", false}, {"Team", true}};
    settings->ShowConfig(edited);
    Save();
    EXPECT_EQ(Integer(folders1, "INBOX"), 0);
    EXPECT_EQ(Integer(folders1, "Team"), 1);
    EXPECT_EQ(String(folders1, "Note"), "kept");
    ASSERT_TRUE(reg.OpenKeyReadOnly(folders1));
    EXPECT_FALSE(reg.ValueExists("Junk"));
    EXPECT_FALSE(reg.ValueExists(expected[1].Name));
    reg.CloseKey();
    EXPECT_FALSE(reg.KeyExists(AccountKey(2) + "\\Folders"));
    TConfig again;
    LoadConfig(again, newMail->lvwMessages->columnCount());
    EXPECT_EQ(again.Accounts[0].Folders, edited.Accounts[0].Folders);
}

// Which folders a check reads: the watched ones, the inbox first and once
// whatever its spelling; none watched, or POP3, the inbox.
TEST(WatchedFolders, InboxFirstOnceAndAloneWhenNothingIsWatched)
{
    struct
    {
        bool imap4;
        std::vector<TAccountFolder> folders;
        std::vector<std::string> watched;
    } const cases[] = {
        {true, {}, {"INBOX"}},
        {true, {{"Lists", false}}, {"INBOX"}},
        {true, {{"Lists", true}}, {"Lists"}},
        {true, {{"Lists", true}, {"inbox", true}, {"Team", true}}, {"INBOX", "Lists", "Team"}},
        {true, {{"Inbox", true}, {"INBOX", true}, {"", true}}, {"INBOX"}},
        {false, {{"Lists", true}}, {"INBOX"}},
    };
    for (const auto& c : cases)
    {
        Account a;
        a.IMAP4 = c.imap4;
        a.Folders = c.folders;
        EXPECT_EQ(WatchedFolders(a), c.watched) << c.folders.size();
    }
}

TEST_F(ConfigStoreTest, DropDownIndexOutsideItsListBecomesMinusOneAndIsSavedSo)
{
    Store(Main, "DoubleClick", 3);
    Store(Main, "RequiredPriority", -2);
    Load();
    EXPECT_EQ(settings->cboDoubleClick->currentIndex(), -1);
    EXPECT_EQ(settings->cboPriority->currentIndex(), -1);
    Save();
    EXPECT_EQ(Integer(Main, "DoubleClick"), -1);
    EXPECT_EQ(Integer(Main, "RequiredPriority"), -1);
}

TEST_F(ConfigStoreTest, StoredColumnWidthsNarrowTheSubjectAndSaveSixWidths)
{
    ASSERT_EQ(Width(2), 150);
    Load();
    EXPECT_EQ(Width(0), 100);
    EXPECT_EQ(Width(1), 100);
    EXPECT_EQ(Width(2), 100);
    EXPECT_EQ(Width(3), 100);
    EXPECT_EQ(Width(4), 0);
    EXPECT_EQ(Width(5), 0);
    newMail->lvwMessages->header()->resizeSection(5, 33);
    Save();
    EXPECT_EQ(String(Main, "FormColumnsWidth"), "100,100,100,100,0,33");

    // Quoted and blank-separated items, fewer than the columns.
    Store(Main, "FormColumnsWidth", std::string("\"120\" 80"));
    Load();
    EXPECT_EQ(Width(0), 120);
    EXPECT_EQ(Width(1), 80);
    EXPECT_EQ(Width(2), 100);
    EXPECT_EQ(Width(5), 33);
}

// The keyring's item is per protocol: a POP3 account that shares the rest
// with a JMAP account keeps its hive password when only the JMAP one is kept.
TEST_F(ConfigStoreTest, KeptPasswordIsEmptiedOnlyUnderItsOwnProtocol)
{
    Store(Main, "AccountsNo", 2);
    for (int i : {1, 2})
    {
        Store(AccountKey(i), "UserName", std::string("ann"));
        Store(AccountKey(i), "UserPassword", std::string("secret"));
        Store(AccountKey(i), "HostAddress", std::string("example.org"));
        Store(AccountKey(i), "HostPort", std::string("110"));
    }
    Store(AccountKey(2), "JMAP", 1);
    Account kept;
    kept.UserName = "ann";
    kept.Password = "secret";
    kept.Host = "example.org";
    kept.JMAP = true;
    EmptyStoredPassword(kept);
    EXPECT_EQ(std::tuple(String(AccountKey(1), "UserPassword"), String(AccountKey(2), "UserPassword")),
              std::tuple(std::string("secret"), std::string("")));
}

TEST_F(ConfigStoreTest, SavingFewerAccountsLeavesTheHigherKeys)
{
    Store(Main, "AccountsNo", 3);
    Load();
    ASSERT_EQ(settings->lvwAccounts->topLevelItemCount(), 3);
    Store(AccountKey(3), "Caption", std::string("Third"));
    delete Row(2);
    TConfig edited = settings->ConfigOfControls();
    edited.Accounts[1] = Account{"Second", false, "ann", "pa\"ss\\word", "mail.example", "995", true};
    settings->ShowConfig(edited);
    Save();
    EXPECT_EQ(Integer(Main, "AccountsNo"), 2);
    EXPECT_EQ(String(AccountKey(3), "Caption"), "Third");
    EXPECT_EQ(String(AccountKey(2), "Caption"), "Second");
    EXPECT_EQ(String(AccountKey(2), "UserPassword"), "pa\"ss\\word");
    EXPECT_EQ(Integer(AccountKey(2), "AccountEnabled"), 0);
    EXPECT_EQ(Integer(AccountKey(2), "IMAP4"), 1);

    Load();
    ASSERT_EQ(settings->lvwAccounts->topLevelItemCount(), 2);
    const Account second = RowAccount(1);
    EXPECT_EQ(second.Caption, "Second");
    EXPECT_EQ(second.Password, "pa\"ss\\word");
    EXPECT_EQ(second.Host, "mail.example");
    EXPECT_EQ(second.Port, "995");
    EXPECT_TRUE(second.IMAP4);
    EXPECT_FALSE(second.Enabled);
}

TEST_F(ConfigStoreTest, SaveStoresTheControlsAsTheyStand)
{
    Load();
    settings->txtApplication->setText(QStringLiteral("mutt"));
    settings->spnInterval->SetPosition(60);
    settings->cboDoubleClick->setCurrentIndex(1);
    settings->chkNotifyNewMsg->setChecked(false);
    settings->cboPriority->setCurrentIndex(2);
    settings->chkShowForm->setChecked(false);
    settings->txtSound->setText(QStringLiteral("/snd/bell.wav"));
    settings->spnLedActiveTime->SetPosition(15);
    settings->txtShowIcon->setText(QString());
    settings->txtExecute->setText(QStringLiteral("logger %FROM%"));
    settings->spnAutoHide->SetPosition(10);
    settings->txtAnimation->setText(QStringLiteral("/a.avi"));
    settings->chkStayOnTop->setChecked(false);
    settings->chkSaveDetails->setChecked(false);
    newMail->actDetails->setChecked(false);
    Save();
    EXPECT_EQ(String(Main, "EmailClient"), "mutt");
    EXPECT_EQ(Integer(Main, "CheckingTime"), 60);
    EXPECT_EQ(Integer(Main, "DoubleClick"), 1);
    EXPECT_EQ(Integer(Main, "NotifyOnlyNewMsg"), 0);
    EXPECT_EQ(Integer(Main, "RequiredPriority"), 2);
    EXPECT_EQ(Integer(Main, "ShowForm"), 0);
    EXPECT_EQ(String(Main, "PlaySound"), "/snd/bell.wav");
    EXPECT_EQ(Integer(Main, "ScrLckBlinking"), 15);
    EXPECT_EQ(String(Main, "ShowIcon"), "");
    EXPECT_EQ(String(Main, "Execute"), "logger %FROM%");
    EXPECT_EQ(Integer(Main, "FormAutoHide"), 10);
    EXPECT_EQ(String(Main, "FormAnimation"), "/a.avi");
    EXPECT_EQ(Integer(Main, "FormStayOnTop"), 0);
    EXPECT_EQ(Integer(Main, "FormSaveDetails"), 0);
    EXPECT_EQ(Integer(Main, "FormShowDetails"), 0);
}

// A value with every field away from its default, within the controls' ranges.
TConfig EditedConfig()
{
    TConfig c;
    c.EmailClient = "mutt -f \"~/Mail\"";
    c.CheckingTime = 60;
    c.DoubleClick = 2;
    c.NotifyOnlyNewMsg = false;
    c.RequiredPriority = 1;
    c.ShowForm = false;
    c.PlaySound = "/snd/gl\xC3\xB6" "ckchen.wav";
    c.ScrLckBlinking = 15;
    c.ShowIcon = "";
    c.Execute = "logger %FROM%";
    c.FormAutoHide = 10;
    c.FormAnimation = "/a.avi";
    c.FormStayOnTop = false;
    c.FormSaveDetails = true;
    c.FormShowDetails = false;
    c.ColumnWidths = {10, 20, 30, 40, 50, 0};
    c.QuietFrom = 22 * 60;
    c.QuietTo = 7 * 60 + 30;
    c.QuietDays = 31;
    c.QuietUntil = "2026-12-10T08:00:00Z";
    c.CommandWhenQuiet = true;
    c.Rules = {"important from *@boss.example*", "no rule at all", "quiet list <*.lists.example>"};
    Account imap;
    imap.Caption = "Work";
    imap.Enabled = false;
    imap.UserName = "ann";
    imap.Password = "pa\"ss\\word";
    imap.Host = "imap.example.org";
    imap.Port = "993";
    imap.IMAP4 = true;
    imap.Security = asImplicitTLS;
    imap.Push = false;
    imap.CheckingTime = 90;
    imap.Silent = true;
    imap.EmailAddress = "ann@example.org";
    imap.Sound = "-";
    imap.Notify = false;
    imap.Urgency = 2;
    c.Accounts = {Account{}, imap};
    return c;
}

TEST_F(ConfigStoreTest, ValueRoundTripsThroughTheHiveAndThroughTheControls)
{
    const TConfig edited = EditedConfig();
    SaveConfig(edited);
    TConfig read;
    EXPECT_TRUE(LoadConfig(read, newMail->lvwMessages->columnCount()));
    EXPECT_TRUE(read == edited) << HiveText();

    settings->ShowConfig(edited);
    EXPECT_TRUE(settings->ConfigOfControls() == edited);
    EXPECT_EQ(settings->cboDoubleClick->currentIndex(), 2);
    EXPECT_EQ(settings->lvwAccounts->topLevelItem(1)->text(acCaption), "Work");
    EXPECT_EQ(newMail->lvwMessages->header()->sectionSize(2), 30);

    // What the keeper hands the program after a load is what the controls
    // made of the stored values.
    Store(Main, "FormAutoHide", 500);
    Load();
    EXPECT_EQ(keeper->Config.FormAutoHide, 60);
    EXPECT_TRUE(keeper->Config == settings->ConfigOfControls());
}

// The hive files a first load and a save of a full configuration wrote
// before the value names were gathered into one table: names, types, order
// and defaults stay byte for byte. A mismatch leaves what was written beside
// the test for a diff.
TEST_F(ConfigStoreTest, FirstLoadAndSaveWriteTheBytesTheyAlwaysWrote)
{
    // Each test starts from the computed defaults again.
    DefaultEmailClient = "mail -compose";
    DefaultSoundFile = "/opt/ternbell/notify.wav";
    DefaultIconFile = "/opt/ternbell/newmsg.ico";
    DefaultAnimationFile = "/opt/ternbell/notify.avi";
    TConfig full = EditedConfig();
    Account unread;
    unread.Caption = "Hand edited";
    unread.Unreadable = {{"HostPort", "not text", 3}, {"IMAP4", "not a number", 3}};
    Account badPort;
    badPort.Port = "pop3";
    full.Accounts.push_back(unread);
    full.Accounts.push_back(badPort);
    const auto written = [](const std::function<void()>& write) {
        QFile::remove(QString::fromStdString(UserHivePath()));
        write();
        return ReadFile(UserHivePath());
    };
    const struct
    {
        const char* Fixture;
        std::string Text;
    } cases[] = {
        {"hive_first_load.reg", written([&] {
             TConfig loaded;
             LoadConfig(loaded, newMail->lvwMessages->columnCount());
         })},
        {"hive_saved.reg", written([&] { SaveConfig(full); })},
    };
    for (const auto& c : cases)
    {
        const std::string fixture = std::string(TERNBELL_SOURCE_DIR) + "/tests/config/" + c.Fixture;
        EXPECT_EQ(c.Text, ReadFile(fixture)) << c.Fixture;
        if (c.Text != ReadFile(fixture))
            WriteFile(std::string(TERNBELL_BINARY_DIR) + "/tests/" + c.Fixture + ".actual", c.Text);
    }
}

// Values a person may get wrong by hand are passed over with a note: the
// default stands, the load goes on, and the next save stores a usable value.
TEST_F(ConfigStoreTest, UnusableQuietValuesAreIgnoredWithANote)
{
    struct Case
    {
        const char* Name;
        std::variant<int32_t, std::string> Stored;
    };
    const Case cases[] = {
        {"QuietFrom", 5000},
        {"QuietFrom", std::string("22:00")},
        {"QuietTo", -1},
        {"QuietDays", 128},
        {"QuietUntil", std::string("tomorrow")},
        {"QuietUntil", 1},
        {"CommandWhenQuiet", std::string("1")},
    };
    const TConfig defaults;
    for (const Case& c : cases)
    {
        QFile::remove(QString::fromStdString(UserHivePath()));
        Store(Main, "AccountsNo", 1);
        Store(AccountKey(1), "Urgency", 3);
        std::visit([&](const auto& v) { Store(Main, c.Name, v); }, c.Stored);
        TConfig read;
        ASSERT_NO_THROW(LoadConfig(read, newMail->lvwMessages->columnCount())) << c.Name;
        EXPECT_EQ(read.QuietFrom, defaults.QuietFrom) << c.Name;
        EXPECT_EQ(read.QuietTo, defaults.QuietTo) << c.Name;
        EXPECT_EQ(read.QuietDays, defaults.QuietDays) << c.Name;
        EXPECT_EQ(read.QuietUntil, defaults.QuietUntil) << c.Name;
        EXPECT_EQ(read.CommandWhenQuiet, defaults.CommandWhenQuiet) << c.Name;
        EXPECT_EQ(read.Accounts.at(0).Urgency, 1) << c.Name;
        ASSERT_EQ(LoadNotes.size(), 2u) << c.Name;
        EXPECT_NE(LoadNotes[0].find(c.Name), std::string::npos) << LoadNotes[0];
        EXPECT_NE(LoadNotes[1].find("Urgency"), std::string::npos) << LoadNotes[1];
    }
    TConfig read;
    Store(Main, "QuietUntil", std::string("2026-12-10T09:00:00+01:00"));
    LoadConfig(read, newMail->lvwMessages->columnCount());
    EXPECT_EQ(read.QuietUntil, "2026-12-10T09:00:00+01:00");
}

// Rules are read in the order of their numbers, gaps closed, up to the
// bound; the sub-key is made only for a first rule and a save leaves it
// holding the list and what is not ours.
TEST_F(ConfigStoreTest, RulesSubKeyIsReadInOrderBoundedAndSavedToMatchTheList)
{
    const std::string rules = Main + "\\Rules";
    TConfig read;
    LoadConfig(read, newMail->lvwMessages->columnCount());
    EXPECT_TRUE(read.Rules.empty());
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(rules));

    Store(rules, "10", std::string("quiet from c"));
    Store(rules, "2", std::string("quiet from b"));
    Store(rules, "1", std::string("bogus"));
    Store(rules, "3", 1);                          // not a text: passed over
    Store(rules, "Note", std::string("kept"));     // not a number: not a rule
    LoadConfig(read, newMail->lvwMessages->columnCount());
    EXPECT_EQ(read.Rules, (std::vector<std::string>{"bogus", "quiet from b", "quiet from c"}));
    EXPECT_TRUE(LoadNotes.empty());

    read.Rules = {"quiet from z"};
    SaveConfig(read);
    EXPECT_EQ(String(rules, "1"), "quiet from z");
    EXPECT_EQ(String(rules, "Note"), "kept");
    ASSERT_TRUE(reg.OpenKeyReadOnly(rules));
    EXPECT_FALSE(reg.ValueExists("2"));
    EXPECT_FALSE(reg.ValueExists("10"));
    reg.CloseKey();

    {
        TRegistry many;
        many.DeferWrites();
        ASSERT_TRUE(many.OpenKey(rules, false));
        for (std::size_t i = 1; i <= MaxRules + 5; ++i)
            many.WriteString(std::to_string(i), "quiet subject " + std::to_string(i));
        many.CloseKey();
        many.Flush();
    }
    LoadConfig(read, newMail->lvwMessages->columnCount());
    ASSERT_EQ(read.Rules.size(), MaxRules);
    EXPECT_EQ(read.Rules.back(), "quiet subject " + std::to_string(MaxRules));
    EXPECT_EQ(LoadNotes.size(), 1u);
    // A save of what was read leaves the rules past the bound as they were.
    read.Rules.pop_back();
    SaveConfig(read);
    ASSERT_TRUE(reg.OpenKeyReadOnly(rules));
    EXPECT_FALSE(reg.ValueExists(std::to_string(MaxRules)));
    EXPECT_EQ(reg.ReadString(std::to_string(MaxRules + 5)), "quiet subject " + std::to_string(MaxRules + 5));
    reg.CloseKey();
}

TEST_F(ConfigStoreTest, DefaultKeepsPriorityAndAccountsAndStoresTheDefaultsAtOnce)
{
    Store(Main, "AccountsNo", 2);
    Store(Main, "RequiredPriority", 1);
    Store(Main, "CheckingTime", 60);
    Store(Main, "Execute", std::string("old command"));
    Store(Main, "FormColumnsWidth", std::string("10,20,30,40,50,60"));
    Store(Main, "Unknown", std::string("kept"));
    Store(AccountKey(2), "Caption", std::string("Second"));
    Load();
    settings->btnDefaultClick();
    EXPECT_EQ(Integer(Main, "RequiredPriority"), 1);
    EXPECT_EQ(settings->cboPriority->currentIndex(), 1);
    EXPECT_EQ(Integer(Main, "AccountsNo"), 2);
    EXPECT_EQ(String(AccountKey(2), "Caption"), "Second");
    EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), 2);
    EXPECT_EQ(Integer(Main, "CheckingTime"), 300);
    EXPECT_EQ(settings->spnInterval->Position(), 300);
    EXPECT_EQ(String(Main, "Execute"), "");
    EXPECT_EQ(settings->txtExecute->text(), "");
    EXPECT_EQ(String(Main, "FormColumnsWidth"), "100,100,100,100,0");
    EXPECT_EQ(String(Main, "Unknown"), "kept");

    // Cancel (a plain load) does not bring the old values back.
    Load();
    EXPECT_EQ(settings->spnInterval->Position(), 300);
}

TEST_F(ConfigStoreTest, WrongTypedValueStopsTheLoadWhereItFailed)
{
    // Values loaded before, one of them since taken out by hand.
    Store(Main, "DoubleClick", 2);
    Store(Main, "CheckingTime", 180);
    Store(Main, "AccountsNo", 0);
    Load();
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Main, false));
        reg.DeleteValue("DoubleClick");
    }
    Store(Main, "EmailClient", std::string("before"));
    Store(Main, "CheckingTime", std::string("300"));
    try
    {
        Load();
        FAIL() << "the load went through";
    }
    catch (const Exception& e)
    {
        EXPECT_EQ(e.Message, "Invalid data type for 'CheckingTime'");
    }
    EXPECT_EQ(settings->txtApplication->text(), "before");
    EXPECT_EQ(settings->cboDoubleClick->currentIndex(), 2) << "the rest keeps its values";
    EXPECT_FALSE(Exists(Main, "DoubleClick"));
    EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), 0);

    // A save over a wrong-typed value replaces it.
    Save();
    EXPECT_EQ(Integer(Main, "CheckingTime"), 180);
}

// A hand edit that gave an account's value another type costs that account
// only: the load goes on, the account carries what is wrong, and the hive
// keeps the edit until the field is changed in the window.
TEST_F(ConfigStoreTest, WrongTypedAccountValueIsKeptAndCostsOnlyItsAccount)
{
    const auto type = [](const std::string& key, const std::string& name) {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey(key, false));
        return reg.GetDataType(name);
    };
    Store(Main, "AccountsNo", 3);
    Store(AccountKey(2), "HostPort", 110);
    Store(AccountKey(2), "AccountEnabled", std::string("1"));
    Store(AccountKey(3), "Caption", std::string("Third"));
    Load();
    EXPECT_TRUE(SettingsLoaded);
    ASSERT_EQ(keeper->Config.Accounts.size(), 3u);
    EXPECT_EQ(keeper->Config.Accounts[2].Caption, "Third");
    const std::vector<TUnreadValue> unread = {
        {"HostPort", "The value 'HostPort' is not stored as text.", 2},
        {"AccountEnabled", "The value 'AccountEnabled' is not stored as a number (dword).", 2}};
    EXPECT_EQ(keeper->Config.Accounts[1].Unreadable, unread);
    EXPECT_TRUE(keeper->Config.Accounts[0].Unreadable.empty());

    Save();
    EXPECT_EQ(type(AccountKey(2), "HostPort"), TRegDataType::rdInteger);
    EXPECT_EQ(type(AccountKey(2), "AccountEnabled"), TRegDataType::rdString);
    // A port typed in the window replaces the edit; the other stays.
    settings->lvwAccounts->setCurrentItem(Row(1));
    settings->txtPort->setText(QStringLiteral("995"));
    Save();
    EXPECT_EQ(String(AccountKey(2), "HostPort"), "995");
    EXPECT_EQ(type(AccountKey(2), "AccountEnabled"), TRegDataType::rdString);
    ASSERT_EQ(keeper->Config.Accounts[1].Unreadable.size(), 1u);
    EXPECT_EQ(keeper->Config.Accounts[1].Unreadable[0].Name, "AccountEnabled");
    // Moved to another key by a removal above it, it is written there whole.
    delete Row(0);
    Save();
    EXPECT_EQ(String(AccountKey(1), "HostPort"), "995");
    EXPECT_EQ(Integer(AccountKey(1), "AccountEnabled"), 1);
}

TEST_F(ConfigStoreTest, BadColumnWidthStopsTheLoad)
{
    struct Case
    {
        std::string stored;
        std::string message;
        int firstWidth;
    } cases[] = {
        {"80,x,100", "'x' is not a valid integer value", 80},
        {"70,,100", "'' is not a valid integer value", 70},
        {"1,2,3,4,5,6,7", "List index out of bounds (6)", 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.stored);
        Store(Main, "FormColumnsWidth", c.stored);
        Store(Main, "AccountsNo", 1);
        settings->lvwAccounts->clear();
        try
        {
            Load();
            ADD_FAILURE() << "the load went through";
        }
        catch (const Exception& e)
        {
            EXPECT_EQ(e.Message, c.message);
        }
        EXPECT_EQ(Width(0), c.firstWidth) << "what came before the error stays loaded";
        EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), 0) << "the accounts are not reached";
    }
}

TEST_F(ConfigStoreTest, ExistingFilesAreAppliedAtLoad)
{
    const std::string runtime = TERNBELL_RUNTIME_DIR;
    Store(Main, "PlaySound", runtime + "/notify.wav");
    Store(Main, "FormAnimation", runtime + "/notify.avi");
    Store(Main, "ShowIcon", runtime + "/newmsg.ico");
    tray->triNewMsg->SetVisible(true);
    Load();
    EXPECT_TRUE(tray->mediaPlayer->IsOpen());
    EXPECT_EQ(tray->mediaPlayer->FileName, runtime + "/notify.wav");
    EXPECT_EQ(newMail->aniNotify->FileName(), runtime + "/notify.avi");
    EXPECT_TRUE(newMail->aniNotify->Active());
    EXPECT_FALSE(tray->triNewMsg->Visible());
    EXPECT_FALSE(tray->triNewMsg->Icon().isNull());
}

// A tray icon at rest, its window hidden, must not map the decoders and
// the audio output: they come with the first sound or the first show.
TEST_F(ConfigStoreTest, LoadWithTheWindowHiddenDecodesNothing)
{
    if (DecoderModuleLoaded())
        GTEST_SKIP() << "another test in this process decoded first";
    const std::string runtime = TERNBELL_RUNTIME_DIR;
    Store(Main, "PlaySound", runtime + "/notify.wav");
    Store(Main, "FormAnimation", runtime + "/notify.avi");
    Load();
    ASSERT_TRUE(tray->mediaPlayer->IsOpen());
    ASSERT_TRUE(newMail->aniNotify->Active());
    EXPECT_FALSE(DecoderModuleLoaded());

    newMail->show();
    EXPECT_TRUE(DecoderModuleLoaded());
    EXPECT_TRUE(newMail->aniNotify->Decoded());
}

TEST_F(ConfigStoreTest, SoundFileThePlayerCannotOpenStopsTheLoad)
{
    const std::string notWave = (FHome.path() + "/not-a-wave.wav").toStdString();
    std::ofstream(notWave) << "plain text, not a wave";
    Store(Main, "PlaySound", notWave);
    Store(Main, "FormStayOnTop", 0);
    EXPECT_THROW(Load(), Exception);
    EXPECT_FALSE(tray->mediaPlayer->IsOpen());
    EXPECT_TRUE(newMail->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        << "the stacking after the sound is not applied";
}

TEST(CommaText, SplitsLikeTheClassicListForm)
{
    struct Case
    {
        std::string text;
        std::vector<std::string> items;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"100,100,100,100,0", {"100", "100", "100", "100", "0"}},
        {"a b", {"a", "b"}},
        {" a , b ", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {"\"a b\",c", {"a b", "c"}},
        {"\"x\"\"y\"", {"x\"y"}},
        {"\"open", {"open"}},
        {"a\tb", {"a", "b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommaText(c.text), c.items) << "text: [" << c.text << "]";
}

} // namespace

namespace
{

// A damaged count made the load create keys without end, one file write each.
TEST_F(ConfigStoreTest, CorruptAccountCountIsRefusedAndWritesNothing)
{
    Store(Main, "AccountsNo", 0x7fffffff);
    const std::string before = HiveText();
    try
    {
        Load();
        FAIL() << "the load went through";
    }
    catch (const Exception& e)
    {
        EXPECT_NE(e.Message.find("2147483647"), std::string::npos) << e.Message;
        EXPECT_NE(e.Message.find("1000"), std::string::npos) << e.Message;
    }
    EXPECT_FALSE(SettingsLoaded);
    EXPECT_FALSE(Exists(Account1, "Caption"));
    // Only the main key's missing defaults were added.
    EXPECT_LT(HiveText().size(), before.size() + 1000);
}

TEST_F(ConfigStoreTest, LoadCreatingManyKeysWritesTheFileOnce)
{
    const int accounts = 200;
    Store(Main, "AccountsNo", accounts);
    int writes = 0;
    SetHiveReplaceHook([&](const std::string&) { ++writes; });
    Load();
    SetHiveReplaceHook({});
    EXPECT_EQ(writes, 1);
    EXPECT_TRUE(SettingsLoaded);
    EXPECT_EQ(settings->lvwAccounts->topLevelItemCount(), accounts);
    EXPECT_TRUE(Exists(AccountKey(accounts), "HostPort"));

    // Nothing left to create: the next load writes nothing.
    writes = 0;
    SetHiveReplaceHook([&](const std::string&) { ++writes; });
    Load();
    SetHiveReplaceHook({});
    EXPECT_EQ(writes, 0);
}

} // namespace

namespace
{

// Run as a copy of this program from a folder such as .../é/bin, the default
// paths were locale bytes taken for desktop text: mojibake, and none was found.
TEST_F(ConfigStoreTest, DefaultsBesideACopyInANonAsciiFolder)
{
    const char* expected = std::getenv("TERNBELL_EXPECT_FOLDER");
    if (!expected)
        GTEST_SKIP() << "run by NonAsciiExecutableFolderGivesUsableDefaults";
    ComputeStartupDefaults();
    const QString folder = QString::fromUtf8(expected);
    EXPECT_EQ(FromCodePage(DefaultSoundFile), folder + "notify.wav");
    EXPECT_EQ(FromCodePage(DefaultIconFile), folder + "newmsg.ico");
    EXPECT_TRUE(QFileInfo(FromCodePage(DefaultSoundFile)).isFile());
}

TEST(StartupDefaults, NonAsciiExecutableFolderGivesUsableDefaults)
{
    TempFolder root("exefolder");
    const std::string folder = root.File("\xc3\xa9");
    const std::string bin = folder + "/bin";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(bin.c_str(), 0700), 0);
    const std::string copy = bin + "/test_config_configstore";
    ASSERT_TRUE(QFile::copy(QStringLiteral("/proc/self/exe"), QString::fromUtf8(copy.c_str())));
    ASSERT_TRUE(QFile::setPermissions(QString::fromUtf8(copy.c_str()),
                                      QFile::ReadOwner | QFile::ExeOwner));
    std::ofstream(bin + "/notify.wav") << "RIFF";
    const std::string command = "TERNBELL_EXPECT_FOLDER='" + bin + "/' '" + copy +
                                "' --gtest_filter=ConfigStoreTest." +
                                "DefaultsBesideACopyInANonAsciiFolder >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

} // namespace

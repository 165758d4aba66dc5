// The settings window's quiet hours, per-account voice and rules: what the
// hive holds shows in the controls, and what the controls hold is stored.
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "config/RuleDialog.h"
#include "config/RuleList.h"
#include "platform/CodePage.h"
#include "support/Rows.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextDocument>
#include <QTimeEdit>
#include <QTreeWidget>

#include <tuple>
#include <vector>

namespace
{

const std::string Main = ConfigKey;
const std::string RulesKey = Main + "\\Rules";

class QuietSettingsTest : public WiredUiFixture
{
protected:
    void SetUp() override
    {
        WiredUiFixture::SetUp();
        SetFileAnswerer([this](const TFileRequest&) { return Chosen; });
    }

    void Open()
    {
        keeper->Load();
        settings->hide();
        tray->timMail->stop();
        settings->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(settings.get()));
    }
    void Ok() { QTest::mouseClick(settings->btnOk, Qt::LeftButton); }

    static void StoreRules(const std::vector<std::string>& rules)
    {
        for (std::size_t i = 0; i < rules.size(); ++i)
            Store(RulesKey, std::to_string(i + 1), rules[i]);
    }
    // The rules as stored, "1", "2", ... up to the first one missing.
    static std::vector<std::string> StoredRules()
    {
        std::vector<std::string> rules;
        for (int i = 1; Exists(RulesKey, std::to_string(i)); ++i)
            rules.push_back(String(RulesKey, std::to_string(i)));
        return rules;
    }

    int QuietDaysShown() const
    {
        int days = 0;
        for (std::size_t day = 0; day < settings->chkQuietDays.size(); ++day)
            days |= settings->chkQuietDays[day]->isChecked() ? 1 << day : 0;
        return days;
    }

    TRuleListModel& RulesShown() const { return *static_cast<TRuleListModel*>(settings->lvwRules->model()); }
    std::vector<std::string> RuleTexts() const { return RulesShown().Rules(); }
    void SelectRule(int row) { settings->lvwRules->setCurrentIndex(RulesShown().index(row)); }
    // The rule dialog a button opened, beside the window.
    TfrmRule* RuleDialog() const { return settings->findChild<TfrmRule*>(); }
    // Fills the open dialog and presses its OK.
    void AnswerRule(int action, int field, const QString& pattern)
    {
        TfrmRule* dialog = RuleDialog();
        ASSERT_TRUE(dialog);
        dialog->cboAction->setCurrentIndex(action);
        dialog->cboField->setCurrentIndex(field);
        dialog->txtPattern->setText(pattern);
        ASSERT_TRUE(dialog->btnOk->isEnabled()) << ToCodePage(dialog->lblRuleProblem->text());
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::optional<std::string> Chosen;
};

// --- hive -> controls -> hive

struct QuietRow
{
    std::string label;
    // Stored before the load; an absent value is left out (-1, nullptr).
    int From, To, Days, CommandWhenQuiet;
    const char* Sound;
    int Notify, Urgency;
    // What the controls show.
    bool Quiet;
    QTime ShownFrom, ShownTo;
    int ShownDays;
    int SoundItem;
    bool Notifies;
    int UrgencyItem;
    // What OK stores.
    int SavedFrom, SavedTo, SavedDays;
    std::string SavedSound;
};

class QuietRoundTripTest : public QuietSettingsTest, public testing::WithParamInterface<QuietRow>
{
};

TEST_P(QuietRoundTripTest, HiveShowsInTheControlsAndOkStoresThem)
{
    const QuietRow& r = GetParam();
    for (const auto& [name, value] : {std::pair{"QuietFrom", r.From}, {"QuietTo", r.To}, {"QuietDays", r.Days},
                                      {"CommandWhenQuiet", r.CommandWhenQuiet}})
        if (value >= 0)
            Store(Main, name, value);
    if (r.Sound)
        Store(AccountKey(1), "Sound", std::string(r.Sound));
    if (r.Notify >= 0)
        Store(AccountKey(1), "Notify", r.Notify);
    if (r.Urgency >= 0)
        Store(AccountKey(1), "Urgency", r.Urgency);
    Open();
    settings->pagSettings->setCurrentWidget(settings->tabAccount);

    EXPECT_EQ(std::tuple(settings->grpQuietHours->isChecked(), settings->dtpQuietFrom->time(),
                         settings->dtpQuietTo->time(), QuietDaysShown(), settings->chkCommandWhenQuiet->isChecked()),
              std::tuple(r.Quiet, r.ShownFrom, r.ShownTo, r.ShownDays, r.CommandWhenQuiet == 1));
    EXPECT_EQ(std::tuple(settings->cboAccountSound->currentIndex(), settings->chkNotify->isChecked(),
                         settings->cboUrgency->currentIndex(), settings->cboUrgency->isEnabled()),
              std::tuple(r.SoundItem, r.Notifies, r.UrgencyItem, r.Notifies));
    if (r.SoundItem == 2)
        EXPECT_EQ(ToCodePage(settings->cboAccountSound->currentText()), r.Sound);

    Ok();
    EXPECT_EQ(std::tuple(Integer(Main, "QuietFrom"), Integer(Main, "QuietTo"), Integer(Main, "QuietDays"),
                         Integer(Main, "CommandWhenQuiet")),
              std::tuple(r.SavedFrom, r.SavedTo, r.SavedDays, r.CommandWhenQuiet == 1 ? 1 : 0));
    EXPECT_EQ(std::tuple(String(AccountKey(1), "Sound"), Integer(AccountKey(1), "Notify"),
                         Integer(AccountKey(1), "Urgency")),
              std::tuple(r.SavedSound, r.Notifies ? 1 : 0, r.UrgencyItem));
}

const QuietRow kQuietRows[] = {
    // Nothing stored: no quiet hours, a night offered in the dimmed times.
    {"Defaults", -1, -1, -1, -1, nullptr, -1, -1, false, QTime(22, 0), QTime(7, 0), 127, 0, true, 1, 0, 0, 127, ""},
    {"NightOnWeekdays", 22 * 60 + 30, 6 * 60 + 45, 0x1f, 1, "/home/ann/bell.wav", 0, 2, true, QTime(22, 30),
     QTime(6, 45), 0x1f, 2, false, 2, 22 * 60 + 30, 6 * 60 + 45, 0x1f, "/home/ann/bell.wav"},
    {"DaytimeWeekend", 9 * 60, 17 * 60, 0x60, 0, "-", 1, 0, true, QTime(9, 0), QTime(17, 0), 0x60, 1, true, 0,
     9 * 60, 17 * 60, 0x60, "-"},
    // Equal times are no quiet hours, and a save says so plainly.
    {"EqualTimesAreNone", 600, 600, 127, 0, "", 1, 1, false, QTime(22, 0), QTime(7, 0), 127, 0, true, 1, 0, 0, 127,
     ""},
};
INSTANTIATE_TEST_SUITE_P(Rows, QuietRoundTripTest, testing::ValuesIn(kQuietRows), RowLabel());

TEST_F(QuietSettingsTest, EditedControlsReachTheHiveAndQuietUntilIsKept)
{
    Store(Main, "QuietUntil", std::string("2030-01-01T06:00:00Z"));
    Store(Main, "AccountsNo", 2);
    Store(AccountKey(2), "Sound", std::string("-"));
    Open();
    settings->grpQuietHours->setChecked(true);
    settings->dtpQuietFrom->setTime(QTime(23, 15));
    settings->dtpQuietTo->setTime(QTime(5, 0));
    QTest::mouseClick(settings->chkQuietDays[6], Qt::LeftButton, {}, QPoint(6, settings->chkQuietDays[6]->height() / 2));
    settings->chkCommandWhenQuiet->setChecked(true);

    settings->pagSettings->setCurrentWidget(settings->tabAccount);
    // The file chosen for the first account; the second keeps its own.
    Chosen = "/home/ann/own bell.wav";
    QTest::mouseClick(settings->btnAccountSound, Qt::LeftButton);
    EXPECT_EQ(settings->cboAccountSound->currentIndex(), 2);
    settings->cboUrgency->setCurrentIndex(2);
    settings->chkNotify->setChecked(false);
    EXPECT_FALSE(settings->cboUrgency->isEnabled());
    settings->ShowAccount(1);
    EXPECT_EQ(std::tuple(settings->cboAccountSound->currentIndex(), settings->cboAccountSound->count(),
                         settings->chkNotify->isChecked(), settings->cboUrgency->isEnabled()),
              std::tuple(1, 2, true, true));
    settings->cboAccountSound->setCurrentIndex(0);

    Ok();
    EXPECT_EQ(std::tuple(Integer(Main, "QuietFrom"), Integer(Main, "QuietTo"), Integer(Main, "QuietDays"),
                         Integer(Main, "CommandWhenQuiet"), String(Main, "QuietUntil")),
              std::tuple(23 * 60 + 15, 5 * 60, 0x3f, 1, std::string("2030-01-01T06:00:00Z")));
    EXPECT_EQ(std::tuple(String(AccountKey(1), "Sound"), Integer(AccountKey(1), "Notify"),
                         Integer(AccountKey(1), "Urgency"), String(AccountKey(2), "Sound")),
              std::tuple(std::string("/home/ann/own bell.wav"), 0, 2, std::string()));

    // Cleared, the times are kept nowhere: the hive says "none".
    settings->show();
    settings->grpQuietHours->setChecked(false);
    Ok();
    EXPECT_EQ(std::tuple(Integer(Main, "QuietFrom"), Integer(Main, "QuietTo")), std::tuple(0, 0));
}

// --- the Rules page

TEST_F(QuietSettingsTest, RulesAreAddedEditedMovedAndRemovedInOrder)
{
    StoreRules({"important from *@boss.example", "quiet list *.lists.example"});
    Open();
    settings->pagSettings->setCurrentWidget(settings->tabRules);
    ASSERT_EQ(RuleTexts(), (std::vector<std::string>{"important from *@boss.example", "quiet list *.lists.example"}));

    // Each step, then the rules in order and the row selected.
    struct Step
    {
        const char* What;
        std::function<void()> Do;
        std::vector<std::string> Rules;
        int Selected;
    } const steps[] = {
        {"add",
         [&] {
             QTest::mouseClick(settings->btnRuleAdd, Qt::LeftButton);
             AnswerRule(2, 1, QStringLiteral("*lottery*"));
         },
         {"important from *@boss.example", "quiet list *.lists.example", "ignore subject *lottery*"},
         2},
        {"up",
         [&] { QTest::mouseClick(settings->btnRuleUp, Qt::LeftButton); },
         {"important from *@boss.example", "ignore subject *lottery*", "quiet list *.lists.example"},
         1},
        {"up at the top stays",
         [&] {
             SelectRule(0);
             QTest::mouseClick(settings->btnRuleUp, Qt::LeftButton);
         },
         {"important from *@boss.example", "ignore subject *lottery*", "quiet list *.lists.example"},
         0},
        {"down",
         [&] { QTest::mouseClick(settings->btnRuleDown, Qt::LeftButton); },
         {"ignore subject *lottery*", "important from *@boss.example", "quiet list *.lists.example"},
         1},
        {"edit",
         [&] {
             QTest::mouseClick(settings->btnRuleEdit, Qt::LeftButton);
             EXPECT_EQ(RuleDialog()->txtPattern->text(), QStringLiteral("*@boss.example"));
             AnswerRule(0, 3, QStringLiteral("Work"));
         },
         {"ignore subject *lottery*", "important account Work", "quiet list *.lists.example"},
         1},
        {"remove",
         [&] { QTest::mouseClick(settings->btnRuleRemove, Qt::LeftButton); },
         {"ignore subject *lottery*", "quiet list *.lists.example"},
         1},
        {"down at the bottom stays",
         [&] { QTest::mouseClick(settings->btnRuleDown, Qt::LeftButton); },
         {"ignore subject *lottery*", "quiet list *.lists.example"},
         1},
    };
    for (const Step& s : steps)
    {
        SCOPED_TRACE(s.What);
        s.Do();
        EXPECT_EQ(RuleTexts(), s.Rules);
        EXPECT_EQ(settings->SelectedRule(), s.Selected);
    }
    Ok();
    EXPECT_EQ(StoredRules(), (std::vector<std::string>{"ignore subject *lottery*", "quiet list *.lists.example"}));
}

// A save over a hive edited by hand meanwhile merges the two: the rules
// edited in the window are the window's, the hand edit stays.
TEST_F(QuietSettingsTest, RulesEditedInTheWindowSurviveAHandEditOfTheHive)
{
    StoreRules({"quiet list *.lists.example"});
    Open();
    Store(Main, "CheckingTime", 600);
    settings->pagSettings->setCurrentWidget(settings->tabRules);
    QTest::mouseClick(settings->btnRuleAdd, Qt::LeftButton);
    AnswerRule(0, 0, QStringLiteral("*@boss.example"));
    Ok();
    EXPECT_EQ(StoredRules(), (std::vector<std::string>{"quiet list *.lists.example", "important from *@boss.example"}));
    EXPECT_EQ(Integer(Main, "CheckingTime"), 600);
}

TEST_F(QuietSettingsTest, RuleDialogSavesNoEmptyPatternAndCancelChangesNothing)
{
    Open();
    settings->pagSettings->setCurrentWidget(settings->tabRules);
    QTest::mouseClick(settings->btnRuleAdd, Qt::LeftButton);
    TfrmRule* dialog = RuleDialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->btnOk->isEnabled()) << "a new rule has no pattern yet";
    EXPECT_FALSE(dialog->lblRuleProblem->text().isEmpty());
    QTest::keyClicks(dialog->txtPattern, QStringLiteral("x"));
    EXPECT_TRUE(dialog->btnOk->isEnabled());
    EXPECT_TRUE(dialog->lblRuleProblem->isHidden());
    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(RuleDialog()) << "the dialog goes when it closes";
    EXPECT_TRUE(RuleTexts().empty());
}

TEST_F(QuietSettingsTest, BadRuleIsShownWithItsProblemAndKeptUntilEditedOrRemoved)
{
    const std::vector<std::string> stored = {"important from *@boss.example", "notify from *@example.org",
                                             "quiet sender x", "ignore subject"};
    StoreRules(stored);
    Open();
    settings->pagSettings->setCurrentWidget(settings->tabRules);
    const TRuleListModel& rules = RulesShown();
    ASSERT_EQ(rules.Count(), 4);
    for (int row = 0; row < rules.Count(); ++row)
    {
        SCOPED_TRACE(rules.Text(row));
        const QModelIndex index = rules.index(row);
        const bool bad = row > 0;
        EXPECT_EQ(rules.Problem(row).empty(), !bad);
        EXPECT_EQ(index.data(Qt::DecorationRole).isNull(), !bad);
        SelectRule(row);
        EXPECT_EQ(std::tuple(settings->lblRuleProblem->isVisible(), ToCodePage(settings->lblRuleProblem->text())),
                  std::tuple(bad, rules.Problem(row)));
        if (bad)
        {
            // The tooltip reads as the problem's plain text.
            QTextDocument tip;
            tip.setHtml(index.data(Qt::ToolTipRole).toString());
            EXPECT_EQ(tip.toPlainText(), FromCodePage(rules.Problem(row)));
        }
    }

    // Opened on a bad rule, the dialog shows what it knows and cannot be
    // saved until the unknown word is chosen; Cancel keeps the rule.
    SelectRule(1);
    QTest::mouseClick(settings->btnRuleEdit, Qt::LeftButton);
    TfrmRule* dialog = RuleDialog();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(std::tuple(dialog->cboAction->currentIndex(), dialog->cboField->currentIndex(),
                         dialog->txtPattern->text(), dialog->btnOk->isEnabled()),
              std::tuple(-1, 0, QStringLiteral("*@example.org"), false));
    EXPECT_EQ(ToCodePage(dialog->lblRuleProblem->text()), rules.Problem(1)) << "the stored word is named";
    QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    Ok();
    EXPECT_EQ(StoredRules(), stored) << "bad rules are stored as they were read";

    settings->show();
    SelectRule(1);
    QTest::mouseClick(settings->btnRuleEdit, Qt::LeftButton);
    AnswerRule(1, 0, QStringLiteral("*@example.org"));
    SelectRule(3);
    QTest::mouseClick(settings->btnRuleRemove, Qt::LeftButton);
    EXPECT_EQ(RulesShown().Problem(1), "");
    Ok();
    EXPECT_EQ(StoredRules(), (std::vector<std::string>{"important from *@boss.example", "quiet from *@example.org",
                                                       "quiet sender x"}));
}

// The store reads a bounded number of rules; the page takes whatever value
// it is given, ten thousand rules as readily as ten.
TEST_F(QuietSettingsTest, TenThousandRulesAreListedAndGivenBackWhole)
{
    Open();
    TConfig config = settings->ConfigOfControls();
    config.Rules.clear();
    for (int i = 0; i < 10000; ++i)
        config.Rules.push_back((i % 7 ? "quiet from *" : "bad from ") + std::to_string(i) + "@example.org");
    settings->ShowConfig(config);
    settings->pagSettings->setCurrentWidget(settings->tabRules);
    QCoreApplication::processEvents();
    EXPECT_EQ(RulesShown().Count(), 10000);
    EXPECT_EQ(RulesShown().Problem(7), RuleProblem("bad from 7@example.org"));
    SelectRule(9999);
    QTest::mouseClick(settings->btnRuleUp, Qt::LeftButton);
    std::swap(config.Rules[9998], config.Rules[9999]);
    EXPECT_EQ(settings->ConfigOfControls().Rules, config.Rules);
}

} // namespace

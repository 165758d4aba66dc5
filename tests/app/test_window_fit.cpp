// Every window in English, German and French, as the program shows it: each
// visible text control is as large as its text needs, lies wholly inside the
// widgets around it, and overlaps none of its siblings. The same test runs a
// second time at 1.5 times the scale (tests.cmake).

#include "app/AboutBox.h"
#include "app/ProcessEntry.h"
#include "app/TrayParts.h"
#include "config/RuleDialog.h"
#include "config/SettingsForm.h"
#include "desktop/Animate.h"
#include "desktop/Dialogs.h"
#include "desktop/UpDownControl.h"
#include "i18n/Catalogs.h"
#include "notify/NewMailForm.h"
#include "support/TestHelpers.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace
{

// Start-up chooses the language; the windows come after it, in the one asked for.
struct TStartup
{
    explicit TStartup(const std::string& language)
    {
        PrepareStartup();
        UseLanguage(language == "en" ? "C" : language + "_XX",
                    language == "en" ? "" : std::string(TERNBELL_RUNTIME_DIR) + "/locale");
    }
};

struct TWindows
{
    explicit TWindows(const std::string& language) : Startup(language) {}
    TStartup Startup;
    TTrayParts Tray;
    TfrmSettings Settings;
    TfrmNewMail NewMail;
    TfrmAboutBox AboutBox;
    // A stored rule the dialog cannot take whole shows what is wrong with it.
    TfrmRule Rule{nullptr, "notify from *@example.org"};

    QWidget* Page(int page)
    {
        Settings.pagSettings->setCurrentIndex(page);
        return &Settings;
    }
};

struct TWindowCase
{
    const char* Name;
    // The window in the state to look at, not yet shown.
    std::function<QWidget*(TWindows&)> Open;
};
void PrintTo(const TWindowCase& c, std::ostream* out)
{
    *out << c.Name;
}

const TWindowCase WindowCases[] = {
    {"SettingsGeneral", [](TWindows& w) { return w.Page(0); }},
    {"SettingsNotification", [](TWindows& w) { return w.Page(1); }},
    {"SettingsFormOptions", [](TWindows& w) { return w.Page(2); }},
    {"SettingsAccount",
     [](TWindows& w) {
         w.Settings.ShowPasswordStore(TSecretStore::TPresence::Absent);
         return w.Page(3);
     }},
    {"SettingsRules", [](TWindows& w) { return w.Page(4); }},
    {"RuleDialog", [](TWindows& w) { return &w.Rule; }},
    {"NewMail", [](TWindows& w) { return &w.NewMail; }},
    {"NewMailFolded", // the way a load folds it
     [](TWindows& w) {
         w.NewMail.FoldDetails();
         return &w.NewMail;
     }},
    {"AboutBox", [](TWindows& w) { return &w.AboutBox; }},
};
const std::string Languages[] = {"en", "de", "fr"};

// The controls whose text can be cut.
bool IsTextControl(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w))
        return !label->text().isEmpty();
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QTabBar*>(w);
}

// The controls that must not lie on one another; bevels and background
// shapes are drawn under the controls on purpose.
bool IsControl(const QWidget* w)
{
    return IsTextControl(w) || qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const TUpDown*>(w) || qobject_cast<const TAnimate*>(w);
}

// The parts a composite control draws itself with (a tab bar's scroll
// arrows, a spinner's buttons, a time edit's text) are the composite's
// business.
bool IsPartOfControl(const QWidget* w, const QWidget& window)
{
    for (const QWidget* outer = w->parentWidget(); outer != &window; outer = outer->parentWidget())
        if (qobject_cast<const QTabBar*>(outer) || qobject_cast<const QComboBox*>(outer) ||
            qobject_cast<const QAbstractSpinBox*>(outer) ||
            qobject_cast<const QAbstractItemView*>(outer) || qobject_cast<const TUpDown*>(outer))
            return true;
    return false;
}

std::string Name(const QWidget* w)
{
    return (w->objectName().isEmpty() ? QString::fromUtf8(w->metaObject()->className()) : w->objectName())
        .toStdString();
}

// What the control lacks to show its text whole, or empty.
std::string Shortfall(const QWidget* w)
{
    const QSize has = w->size();
    const QFontMetrics fm = w->fontMetrics();
    auto under = [&](const QSize& needs) {
        if (has.width() >= needs.width() && has.height() >= needs.height())
            return std::string();
        return "is " + std::to_string(has.width()) + "x" + std::to_string(has.height()) + ", needs " +
               std::to_string(needs.width()) + "x" + std::to_string(needs.height());
    };
    auto wider = [](const QString& text, int room) {
        return "cuts \"" + text.toStdString() + "\" to " + std::to_string(room) + " px";
    };
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->wordWrap() ? under({label->minimumSizeHint().width(), label->heightForWidth(has.width())})
                                 : under(label->sizeHint());
    if (auto* button = qobject_cast<const QPushButton*>(w))
    {
        // The style's smallest button width is a look, not a need: the text
        // has to fit the button's contents.
        QStyleOptionButton option;
        option.initFrom(button);
        if (button->autoDefault() || button->isDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        if (room < fm.size(Qt::TextShowMnemonic, button->text()).width())
            return wider(button->text(), room);
        return under({0, button->sizeHint().height()});
    }
    if (auto* combo = qobject_cast<const QComboBox*>(w))
    {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const int room =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
        for (int i = 0; i < combo->count(); ++i)
            if (fm.horizontalAdvance(combo->itemText(i)) > room)
                return wider(combo->itemText(i), room);
        return under({0, combo->minimumSizeHint().height()});
    }
    if (auto* bar = qobject_cast<const QTabBar*>(w))
    {
        for (QToolButton* scroll : bar->findChildren<QToolButton*>())
            if (scroll->isVisible())
                return "scrolls its tabs";
        for (int i = 0; i < bar->count(); ++i)
        {
            const QRect tab = bar->tabRect(i);
            if (!bar->rect().contains(tab) || tab.width() < fm.size(Qt::TextShowMnemonic, bar->tabText(i)).width())
                return wider(bar->tabText(i), bar->rect().intersected(tab).width());
        }
        return {};
    }
    // Check boxes and radios show their whole text at their hint; group box
    // titles and edits at their least.
    const bool box = qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w);
    return under(box ? w->sizeHint() : w->minimumSizeHint());
}

// Everything wrong with the shown window, one line each.
std::string Problems(QWidget& window)
{
    std::string problems;
    auto say = [&](const QWidget* w, const std::string& what) { problems += "\n  " + Name(w) + " " + what; };
    const QList<QWidget*> all = window.findChildren<QWidget*>();
    for (QWidget* w : all)
    {
        if (!w->isVisible() || w->isWindow() || IsPartOfControl(w, window))
            continue;
        if (IsTextControl(w))
        {
            if (const std::string lack = Shortfall(w); !lack.empty())
                say(w, lack);
            for (const QWidget* outer = w->parentWidget(); outer != window.parentWidget(); outer = outer->parentWidget())
                if (!outer->rect().contains(QRect(w->mapTo(outer, QPoint(0, 0)), w->size())))
                {
                    say(w, "reaches out of " + Name(outer));
                    break;
                }
        }
        if (IsControl(w))
            for (QWidget* other : all)
                if (w < other && other->parentWidget() == w->parentWidget() && other->isVisible() &&
                    IsControl(other) && w->geometry().intersects(other->geometry()))
                    say(w, "overlaps " + Name(other));
    }
    return problems;
}

class WindowFitTest : public ::testing::TestWithParam<std::tuple<TWindowCase, std::string>>
{
protected:
    void SetUp() override
    {
        Env.Set("XDG_CONFIG_HOME", Home.Path());
        SetMessageAnswerer([](const TMessageRequest& r) {
            ADD_FAILURE() << "unexpected box: " << r.Text;
            return TModalResult::mrOk;
        });
    }
    void TearDown() override
    {
        SetMessageAnswerer(nullptr);
        UseLanguage("C", "");
    }

    TempFolder Home{"fit"};
    ScopedEnvironment Env;
};

TEST_P(WindowFitTest, EveryTextFitsAndNoControlsOverlap)
{
    const auto& [windowCase, language] = GetParam();
    TWindows windows(language);
    if (language != "en")
        ASSERT_NE(windows.Settings.btnCancel->text(), QStringLiteral("&Cancel")) << "no catalog";
    QWidget* window = windowCase.Open(windows);
    window->show();
    QCoreApplication::processEvents();

    const std::string problems = Problems(*window);
    EXPECT_TRUE(problems.empty()) << "in a window of " << window->width() << "x" << window->height() << ":"
                                  << problems;
    window->hide();
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowFitTest,
                         ::testing::Combine(::testing::ValuesIn(WindowCases), ::testing::ValuesIn(Languages)),
                         [](const auto& info) {
                             return std::get<0>(info.param).Name + ("_" + std::get<1>(info.param));
                         });

} // namespace

// Every window in English, German and French, as the program shows it: each
// visible text control is as large as its text needs, lies wholly inside the
// widgets around it, and overlaps none of its siblings. The same test runs a
// second time at 1.5 times the scale (tests.cmake).

#include "app/AboutBox.h"
#include "app/ProcessEntry.h"
#include "app/TrayParts.h"
#include "config/SettingsForm.h"
#include "desktop/Animate.h"
#include "desktop/Dialogs.h"
#include "desktop/UpDownControl.h"
#include "i18n/Catalogs.h"
#include "notify/NewMailForm.h"
#include "support/TestHelpers.h"

#include <QAbstractItemView>
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
#include <sstream>
#include <string>
#include <vector>

namespace
{

// Start-up chooses the language; the windows come after it, in the one asked for.
struct TStartup
{
    explicit TStartup(const std::string& language)
    {
        PrepareStartup();
        if (language == "en")
            UseLanguage("C", "");
        else
            UseLanguage(language + "_XX", std::string(TERNBELL_RUNTIME_DIR) + "/locale");
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
};

struct TWindowCase
{
    const char* Name;
    // Brings the window into the state to look at and returns it, not yet shown.
    std::function<QWidget*(TWindows&)> Open;
};

QWidget* SettingsPage(TWindows& w, int page)
{
    w.Settings.pagSettings->setCurrentIndex(page);
    return &w.Settings;
}

const TWindowCase WindowCases[] = {
    {"SettingsGeneral", [](TWindows& w) { return SettingsPage(w, 0); }},
    {"SettingsNotification", [](TWindows& w) { return SettingsPage(w, 1); }},
    {"SettingsFormOptions", [](TWindows& w) { return SettingsPage(w, 2); }},
    {"SettingsAccount",
     [](TWindows& w) {
         w.Settings.ShowPasswordStore(TSecretStore::TPresence::Absent);
         return SettingsPage(w, 3);
     }},
    {"NewMail", [](TWindows& w) { return &w.NewMail; }},
    // Folded the way a load folds it.
    {"NewMailFolded",
     [](TWindows& w) {
         const int panel = w.NewMail.panDetails->height();
         w.NewMail.panDetails->hide();
         w.NewMail.resize(w.NewMail.width(), w.NewMail.height() - panel);
         return &w.NewMail;
     }},
    {"AboutBox", [](TWindows& w) { return &w.AboutBox; }},
};

void PrintTo(const TWindowCase& c, std::ostream* out)
{
    *out << c.Name;
}

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

// The controls that must not lie on one another: the text controls and the
// other working parts (lists, arrows, the animation). Bevels and background
// shapes are drawn under the controls on purpose.
bool IsControl(const QWidget* w)
{
    return IsTextControl(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const TUpDown*>(w) || qobject_cast<const TAnimate*>(w);
}

QString Where(const QWidget* w)
{
    return w->objectName().isEmpty() ? QString::fromUtf8(w->metaObject()->className()) : w->objectName();
}

std::string Text(const QSize& s)
{
    return std::to_string(s.width()) + "x" + std::to_string(s.height());
}

// What the control lacks to show its text whole, or empty.
std::string Shortfall(const QWidget* w)
{
    const QSize has = w->size();
    const QFontMetrics fm = w->fontMetrics();
    auto under = [&](const QSize& needs) {
        return has.width() < needs.width() || has.height() < needs.height()
                   ? "is " + Text(has) + ", needs " + Text(needs)
                   : std::string();
    };
    if (auto* label = qobject_cast<const QLabel*>(w))
    {
        if (!label->wordWrap())
            return under(label->sizeHint());
        return under({label->minimumSizeHint().width(), label->heightForWidth(has.width())});
    }
    if (auto* button = qobject_cast<const QPushButton*>(w))
    {
        // The style's minimum button width is a look, not a need: the text
        // has to fit the button's contents.
        QStyleOptionButton option;
        option.initFrom(button);
        if (button->autoDefault() || button->isDefault())
            option.features |= QStyleOptionButton::AutoDefaultButton;
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int text = fm.size(Qt::TextShowMnemonic, button->text()).width();
        if (contents.width() < text)
            return "has " + std::to_string(contents.width()) + " px for a text of " + std::to_string(text);
        return under({0, button->sizeHint().height()});
    }
    if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w))
        return under(w->sizeHint());
    if (qobject_cast<const QGroupBox*>(w) || qobject_cast<const QLineEdit*>(w))
        return under(w->minimumSizeHint());
    if (auto* combo = qobject_cast<const QComboBox*>(w))
    {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        const QRect field =
            combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        for (int i = 0; i < combo->count(); ++i)
            if (fm.horizontalAdvance(combo->itemText(i)) > field.width())
                return "item \"" + combo->itemText(i).toStdString() + "\" wider than " +
                       std::to_string(field.width()) + " px";
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
                return "cuts tab \"" + bar->tabText(i).toStdString() + "\"";
        }
    }
    return {};
}

// The parts a composite control draws itself with (a tab bar's scroll
// arrows, a spinner's buttons) are the composite's business.
bool IsPartOfControl(const QWidget* w, const QWidget& window)
{
    for (const QWidget* outer = w->parentWidget(); outer && outer != &window; outer = outer->parentWidget())
        if (qobject_cast<const QTabBar*>(outer) || qobject_cast<const QComboBox*>(outer) ||
            qobject_cast<const QAbstractItemView*>(outer) || qobject_cast<const TUpDown*>(outer))
            return true;
    return false;
}

// Everything wrong with the shown window, one line each.
std::vector<std::string> Problems(QWidget& window)
{
    std::vector<std::string> problems;
    auto say = [&](const QWidget* w, const std::string& what) {
        problems.push_back(Where(w).toStdString() + " " + what);
    };
    const QList<QWidget*> all = window.findChildren<QWidget*>();
    for (QWidget* w : all)
    {
        if (!w->isVisible() || w->isWindow() || IsPartOfControl(w, window))
            continue;
        if (IsTextControl(w))
        {
            if (const std::string lack = Shortfall(w); !lack.empty())
                say(w, lack);
            // Inside every widget around it, up to the window.
            for (const QWidget* outer = w->parentWidget(); outer && outer != window.parentWidget();
                 outer = outer->parentWidget())
            {
                const QRect inOuter(w->mapTo(outer, QPoint(0, 0)), w->size());
                if (!outer->rect().contains(inOuter))
                {
                    say(w, "reaches out of " + Where(outer).toStdString());
                    break;
                }
            }
        }
        if (!IsControl(w))
            continue;
        for (QWidget* other : all)
            if (other != w && other->parentWidget() == w->parentWidget() && other->isVisible() &&
                IsControl(other) && w < other && w->geometry().intersects(other->geometry()))
                say(w, "overlaps " + Where(other).toStdString());
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
    TWindows windows(std::get<1>(GetParam()));
    if (std::get<1>(GetParam()) != "en")
        ASSERT_NE(windows.Settings.btnCancel->text(), QStringLiteral("&Cancel")) << "no catalog";
    QWidget* window = std::get<0>(GetParam()).Open(windows);
    window->show();
    QCoreApplication::processEvents();

    std::ostringstream report;
    for (const std::string& problem : Problems(*window))
        report << "\n  " << problem;
    EXPECT_TRUE(report.str().empty()) << "window " << Text(window->size()) << ":" << report.str();
    window->hide();
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowFitTest,
                         ::testing::Combine(::testing::ValuesIn(WindowCases), ::testing::ValuesIn(Languages)),
                         [](const auto& info) {
                             return std::get<0>(info.param).Name + ("_" + std::get<1>(info.param));
                         });

} // namespace

// The shipped catalogs against the code: the template holds every text the
// program translates, and the German and French catalogs translate all of it
// with placeholders, line breaks and accelerators intact.

#include "app/AboutBox.h"
#include "app/ProcessEntry.h"
#include "app/TrayParts.h"
#include "config/RuleDialog.h"
#include "config/SettingsForm.h"
#include "i18n/Catalogs.h"
#include "i18n/Translate.h"
#include "desktop/WindowTexts.h"
#include "mail/IdExceptions.h"
#include "mail/Pop3Client.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"
#include "desktop/Dialogs.h"
#include "desktop/WakeWatch.h"
#include "support/TestHelpers.h"

#include <QAction>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

namespace
{

struct TPoEntry
{
    std::string Str;
    bool Fuzzy = false;
};
using TPoFile = std::map<std::string, TPoEntry>;

std::string Unquote(const std::string& line)
{
    const std::size_t open = line.find('"'), close = line.rfind('"');
    std::string out;
    for (std::size_t i = open + 1; i < close; ++i)
    {
        if (line[i] != '\\' || i + 1 >= close)
        {
            out += line[i];
            continue;
        }
        const char c = line[++i];
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
}

// The live entries of a .po or .pot file (the header and obsolete ones left out).
TPoFile ReadPo(const std::string& path)
{
    TPoFile file;
    std::istringstream in(ReadFile(path));
    std::string line, id, str;
    std::string* current = nullptr;
    bool fuzzy = false, any = false;
    auto flush = [&] {
        if (any && !id.empty())
            file[id] = TPoEntry{str, fuzzy};
        id.clear();
        str.clear();
        fuzzy = any = false;
        current = nullptr;
    };
    while (std::getline(in, line))
    {
        if (line.rfind("#,", 0) == 0 && line.find("fuzzy") != std::string::npos)
            fuzzy = true;
        else if (line.rfind("msgid ", 0) == 0)
        {
            if (any)
            {
                const bool keep = fuzzy;
                flush();
                fuzzy = keep;
            }
            any = true;
            id = Unquote(line);
            current = &id;
        }
        else if (line.rfind("msgstr ", 0) == 0)
        {
            str = Unquote(line);
            current = &str;
        }
        else if (line.rfind("\"", 0) == 0 && current)
            *current += Unquote(line);
        else if (line.empty())
            flush();
    }
    flush();
    return file;
}

const std::string PoFolder = std::string(TERNBELL_SOURCE_DIR) + "/po";
const std::string ShippedLocale = std::string(TERNBELL_RUNTIME_DIR) + "/locale";

const TPoFile& Template()
{
    static const TPoFile pot = ReadPo(PoFolder + "/ternbell.pot");
    return pot;
}

// The placeholders of a text, in order: %s, %d, ...
std::string Placeholders(const std::string& text)
{
    std::string found;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '%' && std::isalpha(static_cast<unsigned char>(text[i + 1])) &&
            (i + 2 >= text.size() || !std::isalpha(static_cast<unsigned char>(text[i + 2]))))
            found += text.substr(i, 2) + " ";
    return found;
}

// The accelerators of a text: the characters after single ampersands.
QString Accelerators(const QString& text)
{
    QString keys;
    for (qsizetype i = 0; i + 1 < text.size(); ++i)
        if (text[i] == QLatin1Char('&'))
        {
            if (text[i + 1] != QLatin1Char('&'))
                keys += text[i + 1].toLower();
            ++i;
        }
    return keys;
}

std::size_t Count(const std::string& text, char c)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

// The tray and the three windows the way the program creates them.
struct TStartup
{
    TStartup() { PrepareStartup(); }
};

struct TWindows
{
    TStartup Startup; // before any window
    TTrayParts Tray;
    TfrmSettings Settings;
    TfrmNewMail NewMail;
    TfrmAboutBox AboutBox;
    TfrmRule Rule{nullptr, "important from *@example.org"};

    std::vector<QObject*> All() { return {Tray.popMain, &Settings, &NewMail, &AboutBox, &Rule}; }
};

// The page of a tab control that holds the control, or null for one that
// shows on every page (a tab's caption, a button below the pages).
const QWidget* PageOf(const QObject* control)
{
    for (const QObject* o = control; o && o->parent(); o = o->parent())
        if (auto* stack = qobject_cast<const QStackedWidget*>(o->parent());
            stack && qobject_cast<const QTabWidget*>(stack->parent()) && o != control)
            return static_cast<const QWidget*>(o);
    return nullptr;
}

class CatalogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Template().empty());
        Env.Set("XDG_CONFIG_HOME", Home.Path());
        SetLocalizationProblemReporter(ShowWarningBox);
    }
    void TearDown() override
    {
        SetLocalizationProblemReporter(nullptr);
        UseLanguage("C", "");
    }

    TempFolder Home{"catalogs"};
    ScopedEnvironment Env;
};

TEST_F(CatalogTest, TheTemplateHoldsEveryTextMarkedInTheCode)
{
    TempFolder out("xgettext");
    const std::string command = "cmake -DXGETTEXT=xgettext -DSOURCE_DIR=" + std::string(TERNBELL_SOURCE_DIR) +
                                " -DOUTPUT=" + out.File("code.pot") + " -P " + PoFolder +
                                "/xgettext.cmake >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const TPoFile code = ReadPo(out.File("code.pot"));
    EXPECT_GT(code.size(), 20u);
    for (const auto& [id, entry] : code)
        EXPECT_TRUE(Template().count(id)) << "missing from po/ternbell.pot: " << id;
}

TEST_F(CatalogTest, TheTemplateHoldsEveryWindowText)
{
    UseLanguage("C", "");
    TWindows windows;
    int texts = 0;
    for (QObject* window : windows.All())
        ForEachWindowText(window, [&](const QString& text, const QString& where) {
            ++texts;
            EXPECT_TRUE(Template().count(text.toStdString()))
                << "missing from po/ternbell.pot: " << where.toStdString() << " \"" << text.toStdString() << "\"";
            return text;
        });
    EXPECT_GT(texts, 50);
}

TEST_F(CatalogTest, TheTemplateHoldsEveryMailErrorAnErrorRowShows)
{
    std::vector<std::string> texts = {
        EIdAlreadyConnected().what(), EIdConnectTimeout().what(), EIdConnClosedGracefully().what(),
        EIdClosedSocket().what(), EIdReadTimeout().what(), EIdReadLnMaxLineLengthExceeded().what(),
        EIdNotConnected().what(), EIdDoesNotSupportAPOP().what(), EIdSASLMechNeeded().what(),
        "Socket Error # %d", "'%s' is not a valid integer value",
    };
    for (int number : {Id_WSAEINTR, Id_WSAEBADF, Id_WSAEACCES, Id_WSAENOTSOCK, Id_WSAEADDRINUSE,
                       Id_WSAEADDRNOTAVAIL, Id_WSAENETDOWN, Id_WSAENETUNREACH, Id_WSAENETRESET,
                       Id_WSAECONNABORTED, Id_WSAECONNRESET, Id_WSAENOBUFS, Id_WSAENOTCONN,
                       Id_WSAESHUTDOWN, Id_WSAETIMEDOUT, Id_WSAECONNREFUSED, Id_WSAEHOSTDOWN,
                       Id_WSAEHOSTUNREACH, Id_WSAHOST_NOT_FOUND, Id_WSATRY_AGAIN, Id_WSANO_RECOVERY})
        texts.push_back(SocketErrorDescription(number));
    for (const std::string& text : texts)
        EXPECT_TRUE(Template().count(text)) << "missing from po/ternbell.pot: " << text;
}

class ShippedCatalogTest : public CatalogTest, public ::testing::WithParamInterface<const char*>
{
};

TEST_P(ShippedCatalogTest, TranslatesEveryEntryKeepingPlaceholdersBreaksAndAccelerators)
{
    const TPoFile po = ReadPo(PoFolder + "/" + GetParam() + ".po");
    for (const auto& [id, _] : Template())
    {
        const auto it = po.find(id);
        if (it == po.end())
        {
            ADD_FAILURE() << "not in the catalog: " << id;
            continue;
        }
        const TPoEntry& entry = it->second;
        EXPECT_FALSE(entry.Fuzzy) << "fuzzy: " << id;
        EXPECT_FALSE(entry.Str.empty()) << "untranslated: " << id;
        EXPECT_EQ(Placeholders(entry.Str), Placeholders(id)) << id;
        EXPECT_EQ(Count(entry.Str, '\n'), Count(id, '\n')) << id;
        EXPECT_EQ(Accelerators(QString::fromStdString(entry.Str)).size(),
                  Accelerators(QString::fromStdString(id)).size())
            << id << " -> " << entry.Str;
        // The catalogs are read as UTF-8, whatever the desktop's code page.
        std::string wide;
        EXPECT_TRUE(ConvertCharset(entry.Str, "UTF-8", "UTF-32LE", wide)) << "not UTF-8: " << entry.Str;
    }
    for (const auto& [id, entry] : po)
        if (!entry.Str.empty() && entry.Str.find("\xC2\xA0") == std::string::npos && entry.Str.back() == ' ')
            ADD_FAILURE() << "trailing space: " << entry.Str;
}

// Built with the program's own catalogs: every window text in the language,
// and no accelerator used twice in what shows at once: a window or menu, and
// of a window with pages its shared controls with one page (the toolkit
// takes no accelerator from a hidden page). A text shown twice, as an action
// and its button, counts once.
TEST_P(ShippedCatalogTest, WindowsAreTranslatedWithUniqueAccelerators)
{
    const TPoFile po = ReadPo(PoFolder + "/" + GetParam() + ".po");
    UseLanguage(std::string(GetParam()) + "_XX", ShippedLocale);
    SetMessageAnswerer([](const TMessageRequest& r) {
        ADD_FAILURE() << "unexpected box: " << r.Text;
        return TModalResult::mrOk;
    });
    TWindows windows;
    SetMessageAnswerer(nullptr);
    EXPECT_EQ(DefaultDomain(), "ternbell");

    for (QObject* window : windows.All())
    {
        std::map<const QObject*, std::set<QString>> scopes;
        std::set<const QObject*> pages;
        ForEachWindowText(window, [&](const QString& text, const QString& where) {
            const auto english = po.find(text.toStdString());
            if (english != po.end() && english->second.Str != english->first)
                ADD_FAILURE() << "left in English: " << where.toStdString();
            // "frmSettings.btnOk": the window, then the control the text is on.
            const QStringList parts = where.split(QLatin1Char('.'));
            const QObject* scope = window;
            if (parts.size() > 1)
                if (auto* action = window->findChild<QAction*>(parts[1]))
                    for (QObject* shown : action->associatedObjects())
                        if (qobject_cast<QMenu*>(shown))
                            scope = shown;
            if (parts.size() > 1 && scope == window)
                if (auto* control = window->findChild<QObject*>(parts[1]))
                    if (const QWidget* page = PageOf(control))
                        pages.insert(scope = page);
            if (!where.endsWith(QLatin1String(".hint")))
                scopes[scope].insert(text);
            return text;
        });
        const std::set<QString> shared = scopes[window];
        for (auto& [scope, texts] : scopes)
        {
            if (pages.count(scope))
                texts.insert(shared.begin(), shared.end());
            std::map<QChar, QString> seen;
            for (const QString& text : texts)
                for (const QChar key : Accelerators(text))
                {
                    EXPECT_FALSE(seen.count(key))
                        << window->objectName().toStdString() << ": \"" << text.toStdString()
                        << "\" and \"" << seen[key].toStdString() << "\" share the key";
                    seen[key] = text;
                }
        }
    }
}

// A text of a library below the catalogs comes through the toolkit's
// translator, as the program installs it at start.
TEST_P(ShippedCatalogTest, TheOfflineHintIsTranslatedThroughTheToolkit)
{
    const TPoFile po = ReadPo(PoFolder + "/" + GetParam() + ".po");
    TStartup startup;
    InstallToolkitTranslator();
    UseLanguage(std::string(GetParam()) + "_XX", ShippedLocale);
    const auto entry = po.find("Offline");
    ASSERT_NE(entry, po.end());
    EXPECT_EQ(TWakeWatch::OfflineHint().toStdString(), entry->second.Str);
    UseLanguage("C", "");
    EXPECT_EQ(TWakeWatch::OfflineHint().toStdString(), "Offline");
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedCatalogTest, ::testing::Values("de", "fr"));

} // namespace

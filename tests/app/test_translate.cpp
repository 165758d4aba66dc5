#include "i18n/Catalogs.h"
#include "i18n/Language.h"
#include "i18n/MoCatalog.h"
#include "i18n/Translate.h"
#include "desktop/Dialogs.h"
#include "desktop/WindowTexts.h"
#include "support/TestHelpers.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <thread>

namespace
{

const std::string Own = "ternbell";
const std::string Stock = ToolkitMessageDomain;

const char* const FrenchEntries =
    "msgid \"Hello\"\nmsgstr \"Bonjour\"\n\n"
    "msgid \"Bonjour\"\nmsgstr \"Salut\"\n\n"
    "msgid \"One\"\nmsgstr \"Un\"\n\n"
    "msgid \"Account\"\nmsgstr \"Compte\"\n\n"
    "msgid \"&Exit\"\nmsgstr \"&Quitter\"\n\n"
    "msgid \"General\"\nmsgstr \"G\xC3\xA9n\xC3\xA9ral\"\n\n"
    "msgid \"Window\"\nmsgstr \"Fen\xC3\xAAtre\"\n\n"
    "msgid \"Cancel\"\nmsgstr \"Laisser tomber\"\n\n"
    "msgid \"Line one\\nLine two\"\nmsgstr \"Ligne un\\nLigne deux\"\n";

// Compiles a catalog with msgfmt into <root>/<language>/LC_MESSAGES/<domain>.mo.
void Compile(const TempFolder& root, const std::string& language, const std::string& domain,
             const std::string& entries, const std::string& charset = "UTF-8")
{
    const std::string folder = root.Path() + "/" + language + "/LC_MESSAGES";
    const std::string po = root.Write(domain + ".po", "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=" +
                                                          charset + "\\n\"\n\n" + entries);
    const std::string command = "mkdir -p '" + folder + "' && msgfmt -o '" + folder + "/" + domain +
                                ".mo' '" + po + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Each test starts with the domains as the settings window leaves them and a
// message box answerer that counts.
class TranslateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const std::string& d : MessageDomains())
            RemoveMessageDomain(d);
        AddMessageDomain(Own);
        AddMessageDomain(Stock);
        SetDefaultDomain(Own);
        SetMessageAnswerer([this](const TMessageRequest& r) {
            Boxes.push_back(r);
            return TModalResult::mrOk;
        });
        SetLocalizationProblemReporter(ShowWarningBox);
    }

    void TearDown() override
    {
        SetLocalizationProblemReporter(nullptr);
        SetMessageAnswerer(nullptr);
        UseLanguage("C", "");
    }

    TempFolder Root{"locale"};
    std::vector<TMessageRequest> Boxes;
};

struct LanguageCase
{
    const char* Lang;
    const char* Language;
    const char* Country;
    const char* Code;
};

TEST(ChooseLanguage, FollowsLangThenTheDesktopLocaleThenC)
{
    const LanguageCase cases[] = {
        {"fr_FR.UTF-8", "de", "DE", "fr_FR"}, // LANG wins, cut at the full stop
        {"de_AT", "", "", "de_AT"},
        {"C.UTF-8", "", "", "C"},
        {"", "de", "CH", "de_CH"},            // no LANG: the desktop's names
        {"", "no", "NO", "nb_NO"},            // Norwegian is written nb
        {"", "deu", "DE", "C"},               // not two letters each
        {"", "de", "", "C"},
        {"", "", "", "C"},
    };
    for (const LanguageCase& c : cases)
        EXPECT_EQ(ChooseLanguage(c.Lang, c.Language, c.Country), c.Code)
            << "LANG=" << c.Lang << " locale " << c.Language << "_" << c.Country;
}

TEST(ChooseLanguage, NeedsNoGeneratedLocale)
{
    // A locale nobody generates: setlocale refuses it, the choice does not care.
    ScopedEnvironment env("LANG", "fr_FR.ISO-8859-15@ternbell");
    env.Set("LC_ALL", std::nullopt);
    env.Set("LC_MESSAGES", std::nullopt);
    ASSERT_EQ(std::setlocale(LC_MESSAGES, "fr_FR.ISO-8859-15@ternbell"), nullptr);
    EXPECT_EQ(LanguageOfEnvironment(), "fr_FR");
}

TEST_F(TranslateTest, TheFullCodeComesBeforeItsTwoLetters)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("fr_FR", Root.Path());
    EXPECT_EQ(ResText("Hello"), "Bonjour") << "found through the two-letter fall-back";

    Compile(Root, "fr_FR", Own, "msgid \"Hello\"\nmsgstr \"All\xC3\xB4\"\n");
    UseLanguage("fr_FR", Root.Path());
    EXPECT_EQ(ResText("Hello"), QString::fromUtf8("All\xC3\xB4"));
    EXPECT_EQ(ResText("One"), "One") << "the fr_FR catalog alone is used";
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TranslateTest, ALocaleNotInstalledStillGetsItsCatalog)
{
    Compile(Root, "fr", Own, FrenchEntries);
    ScopedEnvironment env("LANG", "fr_FR.UTF-8");
    env.Set("LC_ALL", std::nullopt);
    std::setlocale(LC_ALL, "C");
    UseLanguage(LanguageOfEnvironment(), Root.Path());
    EXPECT_EQ(LanguageCode(), "fr_FR");
    EXPECT_EQ(ResText("General"), QString::fromUtf8("G\xC3\xA9n\xC3\xA9ral"));
    EXPECT_EQ(ResStr("General"), "G\xC3\xA9n\xC3\xA9ral") << "in the desktop's code page";
}

TEST_F(TranslateTest, WithoutACatalogTextsStayEnglishAndNothingIsShown)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("de_DE", Root.Path());
    EXPECT_EQ(ResText("Hello"), "Hello");
    EXPECT_EQ(ResText("Hello"), "Hello");
    UseLanguage("C", Root.Path());
    EXPECT_EQ(ResText("Hello"), "Hello");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TranslateTest, ACatalogNotInUtf8IsTurnedOffAfterOneBox)
{
    Compile(Root, "fr", Own, "msgid \"Hello\"\nmsgstr \"Bonjour\"\n", "ISO-8859-1");
    UseLanguage("fr_BE", Root.Path());
    EXPECT_EQ(ResText("Hello"), "Hello");
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "Localization problem");
    EXPECT_EQ(Boxes[0].Text, "The translation for the language code fr_BE (in " + Root.Path() +
                                 "/fr/LC_MESSAGES/ternbell.mo) does not have charset=utf-8 in its "
                                 "Content-Type. Translations are turned off.");
    EXPECT_EQ(Boxes[0].Buttons, unsigned(mbOK));
    EXPECT_EQ(ResText("Hello"), "Hello");
    EXPECT_EQ(TranslateIn(Own, QStringLiteral("Hello")), "Hello");
    EXPECT_EQ(Boxes.size(), 1u) << "the box shows once";
}

// The catalogs open no box of their own: without a reporter the problem goes
// to the standard error, and the catalog is off all the same.
TEST_F(TranslateTest, WithoutAReporterACatalogNotInUtf8OpensNoBox)
{
    SetLocalizationProblemReporter(nullptr);
    Compile(Root, "fr", Own, "msgid \"Hello\"\nmsgstr \"Bonjour\"\n", "ISO-8859-1");
    UseLanguage("fr_BE", Root.Path());
    EXPECT_EQ(ResText("Hello"), "Hello");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TranslateTest, LineBreaksAreLookedUpAsLineFeedsAndComeBackAsWritten)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("fr", Root.Path());
    EXPECT_EQ(ResText("Line one\r\nLine two"), "Ligne un\r\nLigne deux");
    EXPECT_EQ(ResText("Line one\nLine two"), "Ligne un\nLigne deux");
}

TEST_F(TranslateTest, MessagesTryTheMessageDomainsInOrder)
{
    Compile(Root, "de", Own, "msgid \"One\"\nmsgstr \"Eins\"\n\nmsgid \"Cancel\"\nmsgstr \"Lieber nicht\"\n");
    UseLanguage("de_DE", Root.Path());
    EXPECT_EQ(ResText("&Yes"), "&Ja") << "only the toolkit's catalog has it";
    EXPECT_EQ(ResText("Cancel"), "Lieber nicht") << "the program's catalog comes first";
    EXPECT_EQ(ResText("Not in any catalog"), "Not in any catalog");

    RemoveMessageDomain(Own);
    RemoveMessageDomain("never added");
    EXPECT_EQ(ResText("Cancel"), "Abbrechen");
    AddMessageDomain(Stock); // already there: no second entry
    EXPECT_EQ(MessageDomains(), std::vector<std::string>{Stock});
}

TEST_F(TranslateTest, TheToolkitFetchesItsTextsThroughTheMessageDomains)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("fr_FR", Root.Path());
    InstallToolkitTranslator();
    InstallToolkitTranslator(); // once is enough
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Oui");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Laisser tomber");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Not a toolkit text"), "Not a toolkit text");
}

TEST_F(TranslateTest, WindowTextsAreTranslatedOnceInTheDefaultDomain)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("fr", Root.Path());
    QWidget window;
    window.setObjectName(QStringLiteral("Hello"));
    window.setWindowTitle(QStringLiteral("Window"));
    auto* label = new QLabel(QStringLiteral("Hello"), &window);
    label->setObjectName(QStringLiteral("Hello"));
    auto* combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("One"), QStringLiteral("Untranslated")});
    combo->setToolTip(QStringLiteral("Account"));
    auto* list = new QTreeWidget(&window);
    list->setHeaderLabels({QStringLiteral("Account"), QString()});
    auto* tabs = new QTabWidget(&window);
    auto* page = new QWidget;
    tabs->addTab(page, QStringLiteral("General"));
    auto* group = new QGroupBox(QStringLiteral("Account"), page);
    auto* edit = new QLineEdit(QStringLiteral("One"), group);
    auto* menu = new QMenu(QStringLiteral("Window"), &window);
    QAction* exit = menu->addAction(QStringLiteral("&Exit"));
    auto* own = new QAction(QStringLiteral("One"), &window);
    own->setToolTip(QStringLiteral("Hello"));

    TranslateComponent(&window);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Fen\xC3\xAAtre"));
    EXPECT_EQ(window.objectName(), "Hello") << "names are not texts";
    EXPECT_EQ(label->objectName(), "Hello");
    EXPECT_EQ(label->text(), "Bonjour");
    EXPECT_EQ(combo->itemText(0), "Un");
    EXPECT_EQ(combo->itemText(1), "Untranslated");
    EXPECT_EQ(combo->toolTip(), "Compte");
    EXPECT_EQ(list->headerItem()->text(0), "Compte");
    EXPECT_EQ(list->headerItem()->text(1), "");
    EXPECT_EQ(tabs->tabText(0), QString::fromUtf8("G\xC3\xA9n\xC3\xA9ral"));
    EXPECT_EQ(group->title(), "Compte");
    EXPECT_EQ(edit->text(), "Un");
    EXPECT_EQ(menu->title(), QString::fromUtf8("Fen\xC3\xAAtre"));
    EXPECT_EQ(exit->text(), "&Quitter");
    EXPECT_EQ(own->text(), "Un");
    EXPECT_EQ(own->toolTip(), "Bonjour");

    // "Bonjour" has an entry of its own; a second pass must not reach it.
    TranslateComponent(&window);
    EXPECT_EQ(label->text(), "Bonjour");
    EXPECT_EQ(own->toolTip(), "Bonjour");
}

TEST_F(TranslateTest, WindowTextsUseTheDefaultDomainOnly)
{
    Compile(Root, "fr", Own, FrenchEntries);
    Compile(Root, "fr", "other", "msgid \"Hello\"\nmsgstr \"Coucou\"\n");
    UseLanguage("fr", Root.Path());
    SetDefaultDomain("other");
    QWidget window;
    auto* hello = new QLabel(QStringLiteral("Hello"), &window);
    auto* one = new QLabel(QStringLiteral("One"), &window);
    TranslateComponent(&window);
    EXPECT_EQ(hello->text(), "Coucou");
    EXPECT_EQ(one->text(), "One");
}

TEST_F(TranslateTest, ReadersAndAWriterShareTheDomainList)
{
    Compile(Root, "fr", Own, FrenchEntries);
    UseLanguage("fr", Root.Path());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop)
            {
                const QString one = ResText("One");
                if (one != "Un" && one != "One")
                    ++wrong;
            }
        });
    for (int i = 0; i < 2000; ++i)
    {
        RemoveMessageDomain(Own);
        AddMessageDomain(Own);
    }
    stop = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(MoCatalog, DamagedFilesAreRefusedNotRead)
{
    TempFolder root("mo");
    Compile(root, "fr", "ternbell", FrenchEntries);
    const std::string path = root.Path() + "/fr/LC_MESSAGES/ternbell.mo";
    const std::optional<TMoCatalog> whole = TMoCatalog::Load(path);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->Size(), 9u);
    ASSERT_NE(whole->Find("Hello"), nullptr);
    EXPECT_EQ(*whole->Find("Hello"), "Bonjour");
    EXPECT_EQ(whole->HeaderField("content-type"), "text/plain; charset=UTF-8");

    const std::string bytes = ReadFile(path);
    // Every cut loses the strings at the end: the catalog is refused whole.
    for (std::size_t cut = 0; cut + 1 < bytes.size(); cut += 7)
        EXPECT_FALSE(TMoCatalog::Load(root.Write("cut.mo", bytes.substr(0, cut)))) << cut;
    std::string badOffset = bytes;
    badOffset[12] = '\xff'; // the table of originals far beyond the end
    badOffset[15] = '\x7f';
    EXPECT_FALSE(TMoCatalog::Load(root.Write("offset.mo", badOffset)));
    EXPECT_FALSE(TMoCatalog::Load(root.Write("text.mo", "msgid \"Hello\"\n")));
    EXPECT_FALSE(TMoCatalog::Load(root.Path() + "/missing.mo"));
}

} // namespace

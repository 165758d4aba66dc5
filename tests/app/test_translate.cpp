#include "i18n/Translate.h"
#include "platform/ExeFolder.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTreeWidget>
#include <QWidget>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

extern "C" int _nl_msg_cat_cntr; // bumped to make gettext forget cached lookups

namespace
{

// Catalogs of two test domains for the language "fr", built with msgfmt into
// the locale folder beside the test executable, removed afterwards. The
// domains carry the process id, so test processes running side by side do
// not remove each other's catalogs.
const std::string Own = "ternbell-test-" + std::to_string(getpid());
const std::string Stock = Own + "-stock";

class TranslateTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        FFolder = QString::fromStdString(ExecutableFolder()) + "locale/fr/LC_MESSAGES";
        QDir().mkpath(FFolder);
        Compile(Own, "msgid \"Hello\"\nmsgstr \"Bonjour\"\n\n"
                                 "msgid \"Bonjour\"\nmsgstr \"Salut\"\n\n"
                                 "msgid \"One\"\nmsgstr \"Un\"\n\n"
                                 "msgid \"Account\"\nmsgstr \"Compte\"\n\n"
                                 "msgid \"&Exit\"\nmsgstr \"&Quitter\"\n\n"
                                 "msgid \"Window\"\nmsgstr \"Fen\xC3\xAAtre\"\n\n"
                                 "msgid \"Line one\\nLine two\"\nmsgstr \"Ligne un\\nLigne deux\"\n");
        Compile(Stock, "msgid \"&Yes\"\nmsgstr \"&Oui\"\n\n"
                                       "msgid \"One\"\nmsgstr \"Une\"\n");
        setenv("LANGUAGE", "fr", 1);
        std::setlocale(LC_ALL, "C.UTF-8");
        ++_nl_msg_cat_cntr;
    }

    static void TearDownTestSuite()
    {
        unsetenv("LANGUAGE");
        ++_nl_msg_cat_cntr;
        QFile::remove(FFolder + "/" + QString::fromStdString(Own) + ".mo");
        QFile::remove(FFolder + "/" + QString::fromStdString(Stock) + ".mo");
    }

    static void Compile(const std::string& domain, const std::string& entries)
    {
        const QString po = FFolder + "/" + QString::fromStdString(domain) + ".po";
        std::ofstream(po.toStdString())
            << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n" << entries;
        const QString mo = FFolder + "/" + QString::fromStdString(domain) + ".mo";
        const std::string command = "msgfmt -o '" + mo.toStdString() + "' '" + po.toStdString() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        QFile::remove(po);
    }

    void SetUp() override
    {
        FSavedDefault = DefaultDomain();
        FSavedDomains = MessageDomains();
        for (const std::string& d : FSavedDomains)
            RemoveMessageDomain(d);
    }

    void TearDown() override
    {
        SetDefaultDomain(FSavedDefault);
        for (const std::string& d : MessageDomains())
            RemoveMessageDomain(d);
        for (const std::string& d : FSavedDomains)
            AddMessageDomain(d);
    }

    static QString FFolder;
    std::string FSavedDefault;
    std::vector<std::string> FSavedDomains;
};

QString TranslateTest::FFolder;

TEST_F(TranslateTest, WindowTextsAreTranslatedOnceInTheDefaultDomain)
{
    SetDefaultDomain(Own);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Window"));
    auto* label = new QLabel(QStringLiteral("Hello"), &window);
    auto* combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("One"), QStringLiteral("Untranslated")});
    auto* list = new QTreeWidget(&window);
    list->setHeaderLabels({QStringLiteral("Account"), QString()});
    auto* action = new QAction(QStringLiteral("&Exit"), &window);

    TranslateComponent(&window);
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Fen\xC3\xAAtre"));
    EXPECT_EQ(label->text(), "Bonjour");
    EXPECT_EQ(combo->itemText(0), "Un");
    EXPECT_EQ(combo->itemText(1), "Untranslated");
    EXPECT_EQ(list->headerItem()->text(0), "Compte");
    EXPECT_EQ(list->headerItem()->text(1), "");
    EXPECT_EQ(action->text(), "&Quitter");

    // "Bonjour" has an entry of its own; a second pass must not reach it.
    TranslateComponent(&window);
    EXPECT_EQ(label->text(), "Bonjour");
}

TEST_F(TranslateTest, MessagesTryTheMessageDomainsInOrder)
{
    AddMessageDomain(Own);
    AddMessageDomain(Stock);
    AddMessageDomain(Own); // already there: no second entry
    EXPECT_EQ(MessageDomains(), (std::vector<std::string>{Own, Stock}));

    EXPECT_EQ(ResText("One"), "Un") << "the program's own catalog comes first";
    EXPECT_EQ(ResText("&Yes"), "&Oui") << "a stock text the program leaves alone";
    EXPECT_EQ(ResText("Not in any catalog"), "Not in any catalog");
    EXPECT_EQ(ResStr("Hello"), "Bonjour");
    EXPECT_EQ(ResText("Line one\r\nLine two"), "Ligne un\nLigne deux")
        << "looked up with a line feed alone";

    RemoveMessageDomain(Own);
    RemoveMessageDomain("never added");
    EXPECT_EQ(ResText("One"), "Une");
}

TEST_F(TranslateTest, WithoutACatalogForTheLanguageTextsStayEnglish)
{
    AddMessageDomain(Own);
    setenv("LANGUAGE", "de", 1);
    ++_nl_msg_cat_cntr;
    EXPECT_EQ(ResText("One"), "One");
    setenv("LANGUAGE", "fr", 1);
    ++_nl_msg_cat_cntr;
    EXPECT_EQ(ResText("One"), "Un");
}

} // namespace

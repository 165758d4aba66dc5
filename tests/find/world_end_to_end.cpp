// A new user's first run in a private network: the address typed on the
// Account page, Find, the password, OK, and the first check lists the mail
// waiting on the server that Find found.

#include "check/MessageList.h"
#include "config/AccountFind.h"
#include "config/ConfigStore.h"
#include "config/SettingsForm.h"
#include "find/FindNetworkModule.h"
#include "support/PrivateWorld.h"
#include "support/WiredShell.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

namespace
{

class FindEndToEnd : public WiredUiFixture
{
protected:
    static void SetUpTestSuite()
    {
        if (!PrivateWorld::Unavailable().empty())
            return;
        World = std::make_unique<PrivateWorld>();
        World->Host("autoconfig.e2e.test", PrivateWorld::HttpsAddress);
        World->Serve("autoconfig.e2e.test/mail/config-v1.1.xml",
                     "{\"body\": " + PrivateWorld::Json(
                         "<clientConfig><emailProvider><incomingServer type=\"imap\"><hostname>mail.e2e.test"
                         "</hostname><port>993</port><socketType>SSL</socketType><username>%EMAILADDRESS%"
                         "</username></incomingServer></emailProvider></clientConfig>") + "}");
        World->Host("mail.e2e.test", PrivateWorld::MailAddress);
        World->Trust({"autoconfig.e2e.test", "mail.e2e.test"});
        World->Mail().AddUser("ann@e2e.test", "secret");
        World->Start();
        SetFindNetworkFolder(TERNBELL_RUNTIME_DIR);
    }
    static void TearDownTestSuite() { World.reset(); }

    void SetUp() override
    {
        if (!World)
            GTEST_SKIP() << PrivateWorld::Unavailable();
        WiredUiFixture::SetUp();
    }

    static std::unique_ptr<PrivateWorld> World;
};

std::unique_ptr<PrivateWorld> FindEndToEnd::World;

TEST_F(FindEndToEnd, AddressFindPasswordOkAndTheFirstCheckListsTheMail)
{
    World->Mail().Deliver("ann@e2e.test", "From: Bob <bob@e2e.test>\r\nSubject: Welcome\r\n\r\nHello\r\n");
    // Only the window tells of new mail: the test has no sound output.
    Store(ConfigKey, "PlaySound", std::string());
    keeper->Load();
    settings->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings.get()));
    settings->pagSettings->setCurrentWidget(settings->tabAccount);
    settings->lvwAccounts->setCurrentItem(settings->lvwAccounts->topLevelItem(0));
    ASSERT_TRUE(settings->lvwAccounts->topLevelItem(0)->isSelected());

    QTest::keyClicks(settings->txtEmailAddress, QStringLiteral("ann@e2e.test"));
    EXPECT_FALSE(FindNetworkLoaded()) << "the network module waits for Find";
    QTest::mouseClick(settings->btnFind, Qt::LeftButton);
    EXPECT_TRUE(FindNetworkLoaded());
    ASSERT_TRUE(settings->AccountFinder().Running()) << settings->lblFindResult->text().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return !settings->AccountFinder().Running(); }, 25000));
    EXPECT_EQ(settings->lblFindResult->text(), "from e2e.test's own configuration");
    ASSERT_EQ(QApplication::focusWidget(), settings->txtPassword);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("secret"));
    QTest::mouseClick(settings->btnOk, Qt::LeftButton);
    EXPECT_EQ(String(AccountKey(1), "HostAddress"), "mail.e2e.test");

    wired->shell.mnuCheckNowClick();
    wired->WaitForChecks();
    TMessageList& rows = wired->mailCheck.Rows();
    ASSERT_EQ(rows.Count(), 1);
    const TMessageRow row = rows.Row(0);
    EXPECT_EQ(row.Caption, "ann@e2e.test");
    ASSERT_GE(row.SubItems.size(), 2u);
    EXPECT_EQ(row.SubItems[0] + "|" + row.SubItems[1], "Bob <bob@e2e.test>|Welcome") << row.Hint;
}

} // namespace

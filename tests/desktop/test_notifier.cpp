// The desktop notification client against dunst on a private bus, and
// against a stand-in server that never answers; the tray's own balloon on a
// bus without a server. What the program's wiring
// shows and offers through it is tested in tests/app/test_notice_wired.cpp.

#include "desktop/DesktopNotifier.h"
#include "desktop/TrayIcon.h"
#include "support/BusConnections.h"
#include "support/PrivateNotifications.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <gtest/gtest.h>

#include <memory>

namespace
{

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

const TDesktopNotice Notice{QStringLiteral("There are 2 messages to read"),
                            QStringLiteral("Ann \u2014 <b>bold</b> & co\nBob \u2014 b"),
                            {{QStringLiteral("read"), QStringLiteral("Read")},
                             {QStringLiteral("show"), QStringLiteral("Show")}}};

class Notifier : public testing::Test
{
protected:
    QDBusConnection Connect(const std::string& address, const char* name)
    {
        return connections.Connect(address, name);
    }
    void TearDown() override { notifier.reset(); }
    void Start(const std::string& address)
    {
        notifier = std::make_unique<TDesktopNotifier>(Connect(address, "notifier"));
        ASSERT_TRUE(WaitUntil([this] { return notifier->Available(); }, 5000)) << "no capabilities";
    }
    void WaitSent() { ASSERT_TRUE(WaitUntil([this] { return !notifier->Sending(); }, 5000)); }

    TBusConnections connections;
    std::unique_ptr<TDesktopNotifier> notifier;
};

class WithDunst : public Notifier
{
protected:
    void SetUp() override
    {
        const std::string why = PrivateNotifications::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        server = std::make_unique<PrivateNotifications>();
        Start(server->Address());
    }
    void TearDown() override
    {
        Notifier::TearDown();
        server.reset();
    }
    std::unique_ptr<PrivateNotifications> server;
};

TEST_F(WithDunst, ShowsPlainTextAndReplacesAndWithdraws)
{
    EXPECT_TRUE(notifier->Capabilities().contains("body-markup"));
    TDesktopNotice second = Notice;
    second.Summary = QStringLiteral("There are 3 messages to read");
    // The second goes while the first's id is still on its way.
    ASSERT_TRUE(notifier->Show(Notice));
    ASSERT_TRUE(notifier->Show(second));
    WaitSent();
    ASSERT_NE(notifier->Id(), 0u);
    EXPECT_EQ(server->Displayed(), 1);

    const uint id = notifier->Id();
    notifier->Withdraw();
    EXPECT_EQ(notifier->Id(), 0u);
    EXPECT_TRUE(WaitUntil([this] { return server->Displayed() == 0; }, 5000));
    const std::vector<PrivateNotifications::TShown> history = server->CloseAllAndHistory();
    ASSERT_EQ(history.size(), 1u) << "the first was replaced, not kept";
    EXPECT_EQ(history[0].Id, static_cast<int>(id));
    EXPECT_EQ(history[0].AppName, "ternbell");
    EXPECT_EQ(history[0].Summary, "There are 3 messages to read");
    EXPECT_EQ(history[0].Body, "Ann \u2014 &lt;b&gt;bold&lt;/b&gt; &amp; co\nBob \u2014 b");
}

// Answers GetCapabilities; takes Notify and never answers it.
class THungServer : public QDBusVirtualObject
{
public:
    std::vector<uint> Replaces; // replaces_id of each Notify
    std::vector<int> Expires;   // and its expire_timeout

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == QLatin1String("GetCapabilities"))
            connection.send(message.createReply(QVariant(QStringList{"actions", "body"})));
        else if (message.member() == QLatin1String("Notify"))
        {
            Replaces.push_back(message.arguments().value(1).toUInt());
            Expires.push_back(message.arguments().value(7).toInt());
        }
        else
            return false;
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

class WithoutDunst : public Notifier
{
protected:
    void SetUp() override
    {
        const std::string why = PrivateKeyring::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        bus = std::make_unique<PrivateKeyring>(PrivateKeyring::TSetup::WithoutService);
    }
    void TearDown() override
    {
        Notifier::TearDown();
        bus.reset();
    }
    std::unique_ptr<PrivateKeyring> bus;
};

TEST_F(WithoutDunst, AServerThatHangsHoldsNothingUp)
{
    THungServer hung;
    QDBusConnection server = Connect(bus->Address(), "hung");
    ASSERT_TRUE(server.registerVirtualObject(Path, &hung));
    ASSERT_TRUE(server.registerService(Service));
    Start(bus->Address());
    notifier->CallTimeoutMs = 300;
    int undelivered = 0;
    TDesktopNotice kept = Notice;
    kept.ExpireMs = 0;
    ASSERT_TRUE(notifier->Show(Notice, [&] { ++undelivered; }));
    ASSERT_TRUE(notifier->Show(kept, [&] { ++undelivered; }));
    EXPECT_EQ(undelivered, 0) << "waited for the server";
    EXPECT_TRUE(WaitUntil([&] { return undelivered == 2; }, 5000));
    EXPECT_EQ(hung.Replaces, (std::vector<uint>{0, 0}));
    EXPECT_EQ(hung.Expires, (std::vector<int>{-1, 0}));

    server.unregisterService(Service);
    EXPECT_TRUE(WaitUntil([this] { return !notifier->Available(); }, 5000));
    EXPECT_FALSE(notifier->Show(Notice));
}

TEST_F(WithoutDunst, WithoutAServerNothingIsSent)
{
    TDesktopNotifier none(Connect(bus->Address(), "alone"));
    WaitUntil([&] { return none.Available(); }, 300);
    EXPECT_FALSE(none.Available());
    EXPECT_FALSE(none.Show(Notice));
    none.Withdraw();

    TDesktopNotifier noBus(QDBusConnection(QStringLiteral("never connected")));
    EXPECT_FALSE(noBus.Show(Notice));
}

// The tray's own balloon on a StatusNotifierItem tray goes out without
// waiting, and comes back as the toolkit's when no server takes it.
TEST_F(WithoutDunst, ATrayBalloonNoServerTookIsTheToolkitsOwn)
{
    TTrayIcon icon; // on the private bus: the fixture made it the session's
    icon.SetHost(TTrayHost::StatusNotifier);
    icon.ShowBalloon("ternbell", "a <b> & c");
    EXPECT_EQ(icon.LastBalloon().Text, "a &lt;b&gt; &amp; c") << "sent to the bus";
    ASSERT_TRUE(WaitUntil([&] { return icon.LastBalloon().TimeoutMs == 10000; }, 5000));
    EXPECT_EQ(icon.LastBalloon().Text, "a <b> & c");
}

} // namespace

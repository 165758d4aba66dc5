// The count on a launcher, as dbus-monitor on a private bus records the
// signal docks read: sent when what it says changes and never more often,
// moved with the desktop id, cleared at the end; answered when a dock asks.

#include "desktop/LauncherEntry.h"
#include "support/BusConnections.h"
#include "support/PrivateKeyring.h"

#include <QDBusMessage>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <memory>

namespace
{

class LauncherEntry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
            GTEST_SKIP() << "dbus-monitor is not installed";
        const std::string why = PrivateKeyring::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        bus = std::make_unique<PrivateKeyring>(PrivateKeyring::TSetup::WithoutService);
        monitor.start(QStringLiteral("dbus-monitor"),
                      {QStringLiteral("--address"), QString::fromStdString(bus->Address()),
                       QStringLiteral("type='signal',interface='com.canonical.Unity.LauncherEntry'")});
        ASSERT_TRUE(monitor.waitForStarted(5000));
        EndWithTest(monitor);
        // The monitor has subscribed once it printed its own greeting.
        ASSERT_TRUE(WaitUntil([this] { return Record().find("NameAcquired") != std::string::npos; }, 5000));
        recorded.clear();
    }
    void TearDown() override
    {
        if (monitor.state() != QProcess::NotRunning)
            StopProcess(monitor);
    }

    // What the monitor printed so far.
    const std::string& Record()
    {
        recorded += monitor.readAllStandardOutput().toStdString();
        return recorded;
    }
    // The signals recorded, each as "uri count visible urgent".
    std::vector<std::string> Signals()
    {
        std::vector<std::string> out;
        const std::string& text = Record();
        for (std::size_t at = 0; (at = text.find("member=Update", at)) != std::string::npos; ++at)
        {
            const std::size_t end = text.find("signal ", at);
            const std::string one = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
            const auto after = [&](const std::string& key, const std::string& type) {
                const std::size_t k = one.find("\"" + key + "\"");
                if (k == std::string::npos)
                    return std::string("?");
                const std::size_t v = one.find(type + " ", k);
                const std::size_t e = one.find_first_of("\n ", v + type.size() + 1);
                return one.substr(v + type.size() + 1, e - v - type.size() - 1);
            };
            const std::size_t uri = one.find("string \"application://");
            out.push_back(one.substr(uri + 22, one.find('"', uri + 22) - uri - 22) + " " +
                          after("count", "int64") + " " + after("count-visible", "boolean") + " " +
                          after("urgent", "boolean"));
        }
        return out;
    }
    // Waits until `count` signals are recorded, then a moment more for any
    // that should not have come.
    std::vector<std::string> SignalsAfter(std::size_t count)
    {
        WaitUntil([&] { return Signals().size() >= count; }, 5000);
        WaitUntil([] { return false; }, 200);
        return Signals();
    }

    TBusConnections connections;
    std::unique_ptr<PrivateKeyring> bus;
    QProcess monitor;
    std::string recorded;
};

TEST_F(LauncherEntry, SignalsOnlyChangesAndMovesWithTheDesktopId)
{
    {
        TLauncherEntry entry(connections.Connect(bus->Address(), "launcher"));
        entry.SetCount(0, false); // before any launcher: nothing to say
        entry.SetDesktopId(QStringLiteral("ternbell.desktop"));
        entry.SetCount(0, false); // nothing shown yet, nothing to clear
        entry.SetCount(3, false);
        entry.SetCount(3, false); // the same again: no signal
        entry.SetCount(2, true);
        entry.SetDesktopId(QStringLiteral("thunderbird.desktop"));
        entry.SetCount(0, false);
        EXPECT_EQ(entry.Sent(), 5);
        EXPECT_EQ(SignalsAfter(5), (std::vector<std::string>{
                                       "ternbell.desktop 3 true false",
                                       "ternbell.desktop 2 true true",
                                       "ternbell.desktop 0 false false",
                                       "thunderbird.desktop 2 true true",
                                       "thunderbird.desktop 0 false false",
                                   }));
        entry.SetCount(4, false);
    }
    // Ending clears the launcher it counted on.
    EXPECT_EQ(SignalsAfter(7).back(), "thunderbird.desktop 0 false false");
}

TEST_F(LauncherEntry, DockThatComesLaterAsks)
{
    TLauncherEntry entry(connections.Connect(bus->Address(), "launcher"));
    entry.SetDesktopId(QStringLiteral("thunderbird.desktop"));
    entry.SetCount(7, true);
    QDBusConnection dock = connections.Connect(bus->Address(), "dock");
    QDBusMessage query = QDBusMessage::createMethodCall(
        connections.Connect(bus->Address(), "launcher").baseService(),
        TLauncherEntry::ObjectPath(QStringLiteral("application://thunderbird.desktop")),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Query"));
    // Answered by this thread's event loop, so asked without blocking it.
    QDBusPendingCall pending = dock.asyncCall(query, 5000);
    ASSERT_TRUE(WaitUntil([&] { return pending.isFinished(); }, 6000));
    const QDBusMessage answer = pending.reply();
    ASSERT_EQ(answer.type(), QDBusMessage::ReplyMessage) << answer.errorMessage().toStdString();
    ASSERT_EQ(answer.arguments().size(), 2);
    EXPECT_EQ(answer.arguments()[0].toString(), QStringLiteral("application://thunderbird.desktop"));
    const QVariantMap properties = qdbus_cast<QVariantMap>(answer.arguments()[1]);
    EXPECT_EQ(properties.value(QStringLiteral("count")).toLongLong(), 7);
    EXPECT_TRUE(properties.value(QStringLiteral("urgent")).toBool());
}

} // namespace

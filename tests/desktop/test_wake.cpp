// The sleep and network watcher against stand-ins for logind and
// NetworkManager on a private bus, a bus without them, and no bus at all.

#include "desktop/WakeWatch.h"
#include "support/BusConnections.h"
#include "support/DesktopStandIns.h"
#include "support/PrivateKeyring.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

const QString NetworkService = NetworkManagerService;
const QString NetworkPath = NetworkManagerPath;

// What the watcher told, in order: "resumed", "offline", "online", "back".
struct TLog
{
    std::string Text;

    void Follow(TWakeWatch& watch)
    {
        QObject::connect(&watch, &TWakeWatch::Resumed, [this] { Add("resumed"); });
        QObject::connect(&watch, &TWakeWatch::NetworkBack, [this] { Add("back"); });
        QObject::connect(&watch, &TWakeWatch::OfflineChanged,
                         [this](bool offline) { Add(offline ? "offline" : "online"); });
    }
    void Add(const char* what) { Text += Text.empty() ? what : std::string(" ") + what; }

    // Waits for `expected`, then a little longer for anything more.
    void Expect(const std::string& expected, const std::string& step)
    {
        WaitUntil([&] { return Text == expected; }, 5000);
        WaitUntil([&] { return Text != expected; }, 300);
        EXPECT_EQ(Text, expected) << step;
    }
};

class Wake : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string why = PrivateKeyring::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        bus = std::make_unique<PrivateKeyring>(PrivateKeyring::TSetup::WithoutService);
    }
    void TearDown() override { watch.reset(); }

    QDBusConnection Connect(const char* name) { return connections.Connect(bus->Address(), name); }
    void Watch()
    {
        watch = std::make_unique<TWakeWatch>(Connect("watch"));
        log.Follow(*watch);
    }
    static void Emit(QDBusConnection& from, const QString& path, const QString& interfaceName, const char* member,
                     const QVariantList& arguments)
    {
        EmitSignal(from, path, interfaceName, member, arguments);
    }

    std::unique_ptr<PrivateKeyring> bus;
    TBusConnections connections;
    std::unique_ptr<TWakeWatch> watch;
    TLog log;
};

TEST_F(Wake, ResumesOnceWhenLogindsSleepEnds)
{
    QDBusConnection login = Connect("login1");
    ASSERT_TRUE(login.registerService(QStringLiteral("org.freedesktop.login1")));
    QDBusConnection other = Connect("other");
    Watch();
    struct TStep
    {
        QDBusConnection* From;
        bool Sleeping;
        const char* Expected;
    };
    // A signal with logind's path and interface from any other sender is
    // not logind's.
    for (const TStep& step : {TStep{&other, false, ""}, TStep{&login, true, ""}, TStep{&login, false, "resumed"}})
    {
        Emit(*step.From, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
             "PrepareForSleep", {step.Sleeping});
        log.Expect(step.Expected, (step.From == &other ? "other " : "logind ") + std::to_string(step.Sleeping));
    }
    EXPECT_FALSE(watch->Offline());
}

struct TNetworkCase
{
    const char* Name;
    quint32 Start;
    const char* AfterStart;
    // A state the manager announces, or Leaves (the manager leaves the bus),
    // or Device (a State announced for another interface), and the whole log
    // after it.
    std::vector<std::pair<int, const char*>> Steps;
    bool OfflineAtEnd;
};
void PrintTo(const TNetworkCase& c, std::ostream* os)
{
    *os << c.Name;
}
constexpr int Leaves = -1;
constexpr int Device = -2;

class WakeNetwork : public Wake, public testing::WithParamInterface<TNetworkCase>
{
};

TEST_P(WakeNetwork, FollowsTheManagersState)
{
    const TNetworkCase& c = GetParam();
    TFakeNetworkManager manager;
    manager.State = c.Start;
    QDBusConnection nm = Connect("nm");
    ASSERT_TRUE(nm.registerVirtualObject(NetworkPath, &manager));
    ASSERT_TRUE(nm.registerService(NetworkService));
    Watch();
    EXPECT_FALSE(watch->Offline()) << "answered inside the constructor";
    log.Expect(c.AfterStart, "start");
    for (const auto& [step, expected] : c.Steps)
    {
        if (step == Leaves)
            nm.unregisterService(NetworkService);
        else
            Emit(nm, NetworkPath, QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged",
                 {step == Device ? QStringLiteral("org.freedesktop.NetworkManager.Device") : NetworkService,
                  QVariantMap{{QStringLiteral("State"), static_cast<quint32>(step == Device ? 20 : step)}},
                  QStringList()});
        log.Expect(expected, "after " + std::to_string(step));
    }
    EXPECT_EQ(watch->Offline(), c.OfflineAtEnd);
}

// NMState: 0 unknown, 20 disconnected, 40 connecting, 50 local, 60 site, 70 global.
INSTANTIATE_TEST_SUITE_P(
    States, WakeNetwork,
    testing::Values(
        TNetworkCase{"BackWhenConnected", 20, "offline", {{70, "offline online back"}}, false},
        TNetworkCase{"ConnectingIsNotBackYet", 20, "offline",
                     {{40, "offline"}, {50, "offline online back"}, {60, "offline online back"}}, false},
        TNetworkCase{"LostWhenDisconnected", 70, "", {{20, "offline"}}, true},
        TNetworkCase{"UnknownIsNotOffline", 0, "", {{20, "offline"}, {0, "offline online"}}, false},
        TNetworkCase{"ManagerLeavingMeansUnknown", 20, "offline", {{Leaves, "offline online"}}, false},
        TNetworkCase{"OtherInterfacesStateIgnored", 70, "", {{Device, ""}}, false}),
    [](const testing::TestParamInfo<TNetworkCase>& info) { return std::string(info.param.Name); });

// Without a bus, or on one without logind and a network manager, the
// watcher is harmless: not offline, and silent.
TEST_F(Wake, WithoutTheServicesNothingChanges)
{
    {
        ScopedEnvironment nowhere("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ternbell-system-bus");
        TWakeWatch noBus;
        TLog silent;
        silent.Follow(noBus);
        silent.Expect("", "no system bus");
        EXPECT_FALSE(noBus.Offline());
    }
    Watch();
    log.Expect("", "a bare bus");
    EXPECT_FALSE(watch->Offline());
}

} // namespace

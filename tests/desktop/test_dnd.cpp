// The do-not-disturb follower against the real keepers of each desktop's
// switch on private buses: a notification server offering "Inhibited"
// (python-dbusmock), dunst, xfconfd, and GNOME's setting in a private dconf.

#include "desktop/DoNotDisturb.h"
#include "support/BusConnections.h"
#include "support/DesktopStandIns.h"
#include "support/PrivateKeyring.h"
#include "support/PrivateNotifications.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <ostream>
#include <string>

namespace
{

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");

// Runs a tool to its end, bounded; throws on a failure.
void Run(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForFinished(10000))
    {
        StopProcess(tool);
        throw std::runtime_error(program.toStdString() + " did not finish");
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " + tool.readAll().toStdString());
}

// The program a session bus would start for the service, from its
// activation file; "" when it is not installed.
QString ActivatedProgram(const QString& service)
{
    QFile file(QStringLiteral("/usr/share/dbus-1/services/") + service + QStringLiteral(".service"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QRegularExpressionMatch exec =
        QRegularExpression(QStringLiteral("^Exec=(\\S+)"), QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(file.readAll()));
    return exec.hasMatch() ? exec.captured(1) : QString();
}

std::string Missing(const QStringList& tools)
{
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool.toStdString() + " is not installed";
    return PrivateKeyring::Unavailable();
}

void WaitForName(const QDBusConnection& bus, const QString& name, bool present)
{
    if (!WaitUntil([&] { return bus.interface()->isServiceRegistered(name).value() == present; }, 10000))
        throw std::runtime_error(name.toStdString() + (present ? " did not come" : " did not go"));
}

// One desktop's switch, and the service that keeps it, on a private bus.
class TDesk
{
public:
    virtual ~TDesk() = default;
    virtual std::string Address() const = 0;
    // The service comes onto the bus with its switch so.
    virtual void Start(bool on) = 0;
    virtual void Set(bool on) = 0;
    // The switch holds the text "true" in place of a boolean.
    virtual void SetText() { throw std::logic_error("this desktop keeps the switch's type"); }
    // The service drops off the bus.
    virtual void Leave() = 0;
};

// A notification server with "Inhibited", as Plasma's, played by
// python-dbusmock from a template.
class TInhibitedDesk : public TDesk
{
public:
    static std::string Unavailable()
    {
        return Python().isEmpty() ? "python3-dbusmock is not installed" : Missing({});
    }

    // The first Python that has dbusmock: the one on the path may be one
    // of the user's own, without Debian's modules.
    static QString Python()
    {
        static const QString python = [] {
            for (const QString& candidate : {QStandardPaths::findExecutable(QStringLiteral("python3")),
                                             QStringLiteral("/usr/bin/python3")})
            {
                QProcess probe;
                probe.start(candidate, {QStringLiteral("-c"), QStringLiteral("import dbusmock")});
                if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
                    probe.exitCode() == 0)
                    return candidate;
            }
            return QString();
        }();
        return python;
    }

    TInhibitedDesk()
    {
        FFolder.Write("inhibited.py", "BUS_NAME = 'org.freedesktop.Notifications'\n"
                                      "MAIN_OBJ = '/org/freedesktop/Notifications'\n"
                                      "MAIN_IFACE = 'org.freedesktop.Notifications'\n"
                                      "SYSTEM_BUS = False\n"
                                      "def load(mock, parameters):\n"
                                      "    mock.AddProperties(MAIN_IFACE, {'Inhibited': parameters['Inhibited']})\n");
    }
    ~TInhibitedDesk() override { StopProcess(FMock); }

    std::string Address() const override { return FBus.Address(); }
    void Start(bool on) override
    {
        EndWithTest(FMock);
        FMock.start(Python(),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                     QString::fromStdString(FFolder.File("inhibited.py")), QStringLiteral("-p"),
                     on ? QStringLiteral("{\"Inhibited\": true}") : QStringLiteral("{\"Inhibited\": false}")});
        WaitForName(FControl, NotificationsService, true);
    }
    void Set(bool on) override { SetValue(on); }
    void SetText() override { SetValue(QStringLiteral("true")); }
    void Leave() override
    {
        StopProcess(FMock);
        WaitForName(FControl, NotificationsService, false);
    }

private:
    // dbusmock's Set tells the change through PropertiesChanged.
    void SetValue(const QVariant& value)
    {
        const QDBusMessage reply = FControl.call(QDBusMessage::createMethodCall(
                                                     NotificationsService,
                                                     QStringLiteral("/org/freedesktop/Notifications"),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("Set"))
                                                 << NotificationsService << QStringLiteral("Inhibited")
                                                 << QVariant::fromValue(QDBusVariant(value)));
        if (reply.type() == QDBusMessage::ErrorMessage)
            throw std::runtime_error(reply.errorMessage().toStdString());
    }

    PrivateKeyring FBus{PrivateKeyring::TSetup::WithoutService};
    TempFolder FFolder{"inhibited"};
    TBusConnections FConnections;
    QDBusConnection FControl = FConnections.Connect(FBus.Address(), "inhibited-control");
    QProcess FMock;
};

// dunst, paused and resumed with dunstctl.
class TDunstDesk : public TDesk
{
public:
    static std::string Unavailable() { return PrivateNotifications::Unavailable(); }

    TDunstDesk() { FServer.StopServer(); }

    std::string Address() const override { return FServer.Address(); }
    void Start(bool on) override
    {
        FServer.StartServer();
        Set(on);
    }
    void Set(bool on) override { FServer.SetPaused(on); }
    void Leave() override { FServer.StopServer(); }

private:
    PrivateNotifications FServer;
};

// xfconfd with xfce4-notifyd's channel, set with xfconf-query.
class TXfceDesk : public TDesk
{
public:
    static std::string Unavailable()
    {
        if (ActivatedProgram(QStringLiteral("org.xfce.Xfconf")).isEmpty())
            return "xfconfd is not installed";
        return Missing({QStringLiteral("xfconf-query")});
    }

    ~TXfceDesk() override { StopProcess(FDaemon); }

    std::string Address() const override { return FBus.Address(); }
    void Start(bool on) override
    {
        FDaemon.setProcessEnvironment(Environment());
        EndWithTest(FDaemon);
        FDaemon.start(ActivatedProgram(QStringLiteral("org.xfce.Xfconf")), {});
        WaitForName(FControl, QStringLiteral("org.xfce.Xfconf"), true);
        Set(on);
    }
    void Set(bool on) override
    {
        Run(QStringLiteral("xfconf-query"),
            {QStringLiteral("-c"), QStringLiteral("xfce4-notifyd"), QStringLiteral("-p"), QStringLiteral("/do-not-disturb"),
             QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("bool"), QStringLiteral("-s"),
             on ? QStringLiteral("true") : QStringLiteral("false")});
    }
    // xfconf-query keeps a property's type; xfconfd takes any.
    void SetText() override
    {
        const QDBusMessage reply = FControl.call(
            QDBusMessage::createMethodCall(QStringLiteral("org.xfce.Xfconf"), QStringLiteral("/org/xfce/Xfconf"),
                                           QStringLiteral("org.xfce.Xfconf"), QStringLiteral("SetProperty"))
            << QStringLiteral("xfce4-notifyd") << QStringLiteral("/do-not-disturb")
            << QVariant::fromValue(QDBusVariant(QStringLiteral("true"))));
        if (reply.type() == QDBusMessage::ErrorMessage)
            throw std::runtime_error(reply.errorMessage().toStdString());
    }
    void Leave() override
    {
        StopProcess(FDaemon);
        WaitForName(FControl, QStringLiteral("org.xfce.Xfconf"), false);
    }

private:
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(FFolder.Path()));
        return env;
    }
    PrivateKeyring FBus{PrivateKeyring::TSetup::WithoutService};
    TempFolder FFolder{"xfconf"};
    TBusConnections FConnections;
    QDBusConnection FControl = FConnections.Connect(FBus.Address(), "xfconf-control");
    QProcess FDaemon;
};

// GNOME's settings in a private dconf with its writer on a private bus:
// one for the whole test program, as GLib keeps the session bus and the
// settings folders it first sees.
class TPrivateDconf : public testing::Environment
{
public:
    static std::string Unavailable()
    {
        if (ActivatedProgram(QStringLiteral("ca.desrt.dconf")).isEmpty())
            return "dconf-service is not installed";
        const std::string missing = Missing({QStringLiteral("gsettings")});
        if (!missing.empty())
            return missing;
        QProcess probe;
        probe.start(QStringLiteral("gsettings"), {QStringLiteral("list-keys"),
                                                  QStringLiteral("org.gnome.desktop.notifications")});
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            return "GNOME's notification settings are not installed";
        return {};
    }

    const std::string& Address()
    {
        if (!FBus)
            Start();
        return FBus->Address();
    }

    void TearDown() override
    {
        StopProcess(FWriter);
        FEnvironment.reset();
        FBus.reset();
        FFolder.reset();
    }

private:
    void Start()
    {
        FFolder = std::make_unique<TempFolder>("dconf");
        FBus = std::make_unique<PrivateKeyring>(PrivateKeyring::TSetup::WithoutService);
        FEnvironment = std::make_unique<ScopedEnvironment>();
        FEnvironment->Set("XDG_CONFIG_HOME", FFolder->File("config"));
        FEnvironment->Set("XDG_RUNTIME_DIR", FFolder->Path());
        FEnvironment->Set("DCONF_PROFILE", FFolder->Write("profile", "user-db:user\n"));
        FEnvironment->Set("GSETTINGS_BACKEND", "dconf");
        EndWithTest(FWriter);
        FWriter.start(ActivatedProgram(QStringLiteral("ca.desrt.dconf")), {});
        TBusConnections connections;
        WaitForName(connections.Connect(FBus->Address(), "dconf-wait"), QStringLiteral("ca.desrt.dconf"), true);
    }

    std::unique_ptr<TempFolder> FFolder;
    std::unique_ptr<PrivateKeyring> FBus;
    std::unique_ptr<ScopedEnvironment> FEnvironment;
    QProcess FWriter;
};

TPrivateDconf* const Dconf = static_cast<TPrivateDconf*>(testing::AddGlobalTestEnvironment(new TPrivateDconf));

// GNOME Shell's name on the bus, and show-banners set with gsettings.
class TGnomeDesk : public TDesk
{
public:
    static std::string Unavailable() { return TPrivateDconf::Unavailable(); }

    ~TGnomeDesk() override
    {
        FShell.unregisterService(ShellService);
        try
        {
            Run(QStringLiteral("gsettings"), {QStringLiteral("reset"), Schema, QStringLiteral("show-banners")});
        }
        catch (const std::exception& e)
        {
            ADD_FAILURE() << e.what();
        }
    }

    std::string Address() const override { return Dconf->Address(); }
    void Start(bool on) override
    {
        Set(on);
        if (!FShell.registerService(ShellService))
            throw std::runtime_error("GNOME Shell's name is taken");
    }
    void Set(bool on) override
    {
        Run(QStringLiteral("gsettings"),
            {QStringLiteral("set"), Schema, QStringLiteral("show-banners"), on ? QStringLiteral("false") : QStringLiteral("true")});
    }
    void Leave() override { FShell.unregisterService(ShellService); }

private:
    const QString ShellService = QStringLiteral("org.gnome.Shell");
    const QString Schema = QStringLiteral("org.gnome.desktop.notifications");
    TBusConnections FConnections;
    QDBusConnection FShell = FConnections.Connect(Dconf->Address(), "gnome-shell");
};

struct TDeskKind
{
    const char* Name;
    std::function<std::string()> Unavailable;
    std::function<std::unique_ptr<TDesk>()> Make;
};

void PrintTo(const TDeskKind& kind, std::ostream* out)
{
    *out << kind.Name;
}

template <typename T>
TDeskKind Kind(const char* name)
{
    return {name, &T::Unavailable, [] { return std::make_unique<T>(); }};
}

const TDeskKind Inhibited = Kind<TInhibitedDesk>("Inhibited");
const TDeskKind Dunst = Kind<TDunstDesk>("Dunst");
const TDeskKind Xfce = Kind<TXfceDesk>("Xfce");
const TDeskKind Gnome = Kind<TGnomeDesk>("Gnome");

class DoNotDisturbDesk : public testing::TestWithParam<TDeskKind>
{
protected:
    void SetUp() override
    {
        const std::string why = GetParam().Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        desk = GetParam().Make();
    }
    void TearDown() override { follower.reset(); }

    void Follow()
    {
        follower = std::make_unique<TDoNotDisturb>(connections.Connect(desk->Address(), "follower"));
        QObject::connect(follower.get(), &TDoNotDisturb::Changed, [this](bool on) {
            log += log.empty() ? "" : " ";
            log += on ? "on" : "off";
        });
    }
    // Waits for the changes told to be `expected`, then a little longer for
    // anything more; IsOn must agree with the last.
    void Expect(const std::string& expected, const std::string& step)
    {
        WaitUntil([&] { return log == expected; }, 5000);
        WaitUntil([&] { return log != expected; }, 300);
        EXPECT_EQ(log, expected) << step;
        const bool on = expected.size() >= 2 && expected.compare(expected.size() - 2, 2, "on") == 0;
        EXPECT_EQ(follower->IsOn(), on) << step;
    }

    std::unique_ptr<TDesk> desk;
    TBusConnections connections;
    std::unique_ptr<TDoNotDisturb> follower;
    std::string log;
};

TEST_P(DoNotDisturbDesk, ReadsTheSwitchAtStartAndFollowsEachRealChange)
{
    desk->Start(true);
    Follow();
    Expect("on", "on before the start");
    desk->Set(false);
    Expect("on off", "switched off");
    desk->Set(true);
    desk->Set(true);
    Expect("on off on", "switched on twice");
}

TEST_P(DoNotDisturbDesk, FollowsAServiceThatComesLaterAndIsOffWhenItLeaves)
{
    Follow();
    Expect("", "nothing on the bus");
    desk->Start(true);
    Expect("on", "the service came, switched on");
    desk->Leave();
    Expect("on off", "the service left while on");
}

INSTANTIATE_TEST_SUITE_P(Desktops, DoNotDisturbDesk, testing::Values(Inhibited, Dunst, Xfce, Gnome),
                         [](const testing::TestParamInfo<TDeskKind>& info) { return info.param.Name; });

// Desktops whose switch can hold a value of another type.
using DoNotDisturbLooseDesk = DoNotDisturbDesk;

TEST_P(DoNotDisturbLooseDesk, ASwitchOfAnotherTypeIsOff)
{
    desk->Start(true);
    Follow();
    Expect("on", "on before the start");
    desk->SetText();
    Expect("on off", "the switch holds \"true\" as text");
}

INSTANTIATE_TEST_SUITE_P(Desktops, DoNotDisturbLooseDesk, testing::Values(Inhibited, Xfce),
                         [](const testing::TestParamInfo<TDeskKind>& info) { return info.param.Name; });

TEST(DoNotDisturb, OnlyTheServicesOwnSignalsCount)
{
    const std::string why = TInhibitedDesk::Unavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    TInhibitedDesk desk;
    desk.Start(false);
    TBusConnections connections;
    TDoNotDisturb follower(connections.Connect(desk.Address(), "follower"));
    QDBusConnection stranger = connections.Connect(desk.Address(), "stranger");
    bool told = false;
    QObject::connect(&follower, &TDoNotDisturb::Changed, [&told] { told = true; });
    EmitSignal(stranger, QStringLiteral("/org/freedesktop/Notifications"),
               QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged",
               {NotificationsService, QVariantMap{{QStringLiteral("Inhibited"), true}}, QStringList()});
    EmitSignal(stranger, QStringLiteral("/org/xfce/Xfconf"), QStringLiteral("org.xfce.Xfconf"), "PropertyChanged",
               {QStringLiteral("xfce4-notifyd"), QStringLiteral("/do-not-disturb"),
                QVariant::fromValue(QDBusVariant(true))});
    EXPECT_FALSE(WaitUntil([&] { return told; }, 500));
    EXPECT_FALSE(follower.IsOn());
}

} // namespace

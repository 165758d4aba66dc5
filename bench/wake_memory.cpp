// What watching sleep and the network costs in resident memory at rest: a
// bare Qt application; the same having asked for the session bus, as the
// program does for its tray (the base of the differences printed); and that
// with the wake watcher (NetworkManager asked over D-Bus) or with Qt's network
// information plug-in (the default backend loaded). Each runs in a process of its own for 2 s, in rotated
// order, on a private system bus with a stand-in NetworkManager and without a
// system bus; the medians of each are printed.
//   build/bench/wake_memory [rounds]      (default 5)
#include "desktop/WakeWatch.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkInformation>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace
{

long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Connected globally, as NetworkManager answers Get and GetAll.
class TStandInNetworkManager : public QDBusVirtualObject
{
public:
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QVariantMap all{{QStringLiteral("State"), 70u},
                              {QStringLiteral("Connectivity"), 4u},
                              {QStringLiteral("Metered"), 0u},
                              {QStringLiteral("PrimaryConnection"), QVariant::fromValue(QDBusObjectPath("/"))}};
        if (message.member() == QLatin1String("GetAll"))
            connection.send(message.createReply(QVariant::fromValue(all)));
        else if (message.member() == QLatin1String("Get"))
            connection.send(message.createReply(
                QVariant::fromValue(QDBusVariant(all.value(message.arguments().value(1).toString())))));
        else
            return false;
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

int Child(const char* mode)
{
    std::unique_ptr<TWakeWatch> watch;
    if (std::strcmp(mode, "bare") != 0)
        QDBusConnection::sessionBus();
    if (!std::strcmp(mode, "watch"))
        watch = std::make_unique<TWakeWatch>();
    else if (!std::strcmp(mode, "plugin"))
        QNetworkInformation::loadDefaultBackend();
    QTimer::singleShot(2000, [] {
        std::printf("%ld\n", ResidentKiB());
        QCoreApplication::quit();
    });
    return QApplication::exec();
}

long Median(std::vector<long> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 2 && !std::strcmp(argv[1], "--child"))
        return Child(argv[2]);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir folder;
    const QString address = QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("bus"));
    QFile config(folder.filePath(QStringLiteral("bus.conf")));
    config.open(QIODevice::WriteOnly);
    config.write("<busconfig><type>system</type><listen>" + address.toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>\n");
    config.close();
    QProcess daemon;
    daemon.setStandardErrorFile(QProcess::nullDevice());
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--nofork"), QStringLiteral("--config-file=") + config.fileName()});
    for (int i = 0; i < 100 && !QFile::exists(folder.filePath(QStringLiteral("bus"))); ++i)
        QThread::msleep(50);
    QDBusConnection nm = QDBusConnection::connectToBus(address, QStringLiteral("nm"));
    TStandInNetworkManager manager;
    if (!nm.registerVirtualObject(QStringLiteral("/org/freedesktop/NetworkManager"), &manager) ||
        !nm.registerService(QStringLiteral("org.freedesktop.NetworkManager")))
    {
        std::fprintf(stderr, "wake_memory: no private bus (is dbus-daemon installed?)\n");
        QDBusConnection::disconnectFromBus(QStringLiteral("nm"));
        return 1;
    }

    const std::vector<const char*> modes{"bare", "dbus", "watch", "plugin"};
    const std::vector<std::pair<const char*, QString>> buses{
        {"network manager on the bus", address},
        {"no system bus", QStringLiteral("unix:path=/nonexistent/ternbell-bench-bus")}};
    std::map<std::pair<int, int>, std::vector<long>> resident;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < static_cast<int>(buses.size()); ++b)
            for (int i = 0; i < static_cast<int>(modes.size()); ++i)
            {
                const int m = (i + r) % static_cast<int>(modes.size());
                QProcess child;
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), buses[b].second);
                env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/ternbell-bench-session"));
                child.setProcessEnvironment(env);
                child.setStandardErrorFile(QProcess::nullDevice());
                child.start(QCoreApplication::applicationFilePath(),
                            {QStringLiteral("--child"), QString::fromLatin1(modes[m])});
                // The stand-in answers on this thread, so wait through the event loop.
                QElapsedTimer clock;
                clock.start();
                while (child.state() != QProcess::NotRunning && clock.elapsed() < 60000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
                resident[{b, m}].push_back(child.readAllStandardOutput().trimmed().toLong());
            }

    for (int b = 0; b < static_cast<int>(buses.size()); ++b)
    {
        const long base = Median(resident[{b, 1}]);
        std::printf("%s (median of %d):\n", buses[b].first, rounds);
        for (int m = 0; m < static_cast<int>(modes.size()); ++m)
        {
            const long kib = Median(resident[{b, m}]);
            std::printf("  %-7s resident %6.1f MB  (%+6.0f KiB)\n", modes[m], kib / 1024.0,
                        static_cast<double>(kib - base));
        }
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("nm"));
    daemon.terminate();
    daemon.waitForFinished(5000);
    return 0;
}

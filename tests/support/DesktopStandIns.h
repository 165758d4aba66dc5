#pragma once

#include "support/BusConnections.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QVariantList>
#include <QVariantMap>

#include <string>

// What the sleep and network watcher (desktop/WakeWatch.h) hears, played on a
// private bus: stand-ins for logind and NetworkManager.

inline const QString NetworkManagerService = QStringLiteral("org.freedesktop.NetworkManager");
inline const QString NetworkManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");

// Answers Get(State) as NetworkManager does; nothing else.
class TFakeNetworkManager : public QDBusVirtualObject
{
public:
    quint32 State = 0;

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties") ||
            message.member() != QLatin1String("Get") ||
            message.arguments().value(1).toString() != QLatin1String("State"))
            return false;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(State))));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};

// A signal sent from `from`.
inline void EmitSignal(QDBusConnection& from, const QString& path, const QString& interfaceName, const char* member,
                       const QVariantList& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(path, interfaceName, QString::fromLatin1(member));
    signal.setArguments(arguments);
    from.send(signal);
}

// Both stand-ins on the bus at `address`, owning the services' names, the
// network connected globally (NMState 70) until told otherwise.
class TDesktopStandIns
{
public:
    TDesktopStandIns(TBusConnections& connections, const std::string& address)
        : FLogin(connections.Connect(address, "stand-in-login1")),
          FNetwork(connections.Connect(address, "stand-in-network"))
    {
        FManager.State = 70;
        EXPECT_TRUE(FLogin.registerService(QStringLiteral("org.freedesktop.login1")));
        EXPECT_TRUE(FNetwork.registerVirtualObject(NetworkManagerPath, &FManager));
        EXPECT_TRUE(FNetwork.registerService(NetworkManagerService));
    }
    ~TDesktopStandIns() { FNetwork.unregisterObject(NetworkManagerPath); }
    TDesktopStandIns(const TDesktopStandIns&) = delete;
    TDesktopStandIns& operator=(const TDesktopStandIns&) = delete;

    // logind's PrepareForSleep(true) before a sleep, (false) after it.
    void PrepareForSleep(bool sleeping)
    {
        EmitSignal(FLogin, QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                   "PrepareForSleep", {sleeping});
    }
    // NetworkManager's State changing (20 disconnected, 70 connected globally).
    void NetworkState(quint32 state)
    {
        FManager.State = state;
        EmitSignal(FNetwork, NetworkManagerPath, QStringLiteral("org.freedesktop.DBus.Properties"), "PropertiesChanged",
                   {NetworkManagerService, QVariantMap{{QStringLiteral("State"), state}}, QStringList()});
    }

private:
    QDBusConnection FLogin;
    QDBusConnection FNetwork;
    TFakeNetworkManager FManager;
};

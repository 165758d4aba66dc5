#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

// Hears from the system bus when the machine wakes from sleep (logind's
// PrepareForSleep(false)) and whether the desktop has a network
// (NetworkManager's State, asked once and then followed through
// PropertiesChanged). Only signals of the names' owners count: anyone on the
// bus may send a signal with logind's path and interface.
//
// Nothing here waits on a service: the state is asked asynchronously, so a
// network manager that hangs leaves the network unknown rather than the
// desktop frozen. The only waits are the bus connection itself and the bus
// daemon resolving the two names, both answered by the daemon. Without a
// system bus, logind or a network manager nothing changes: the network reads
// as not offline and no signal comes.
//
// NetworkManager is asked over D-Bus directly rather than through Qt's
// network information plug-in: the plug-in asks the same service
// synchronously at load (25 s with a hung service) and maps Qt Network and
// its libraries, some megabytes at rest, for one number.
class TWakeWatch : public QObject
{
    Q_OBJECT
public:
    // On the system bus.
    explicit TWakeWatch(QObject* parent = nullptr);
    // On the bus given (a disconnected one is no bus).
    explicit TWakeWatch(const QDBusConnection& bus, QObject* parent = nullptr);
    ~TWakeWatch() override;

    // True while the network manager reports no connection; false while it
    // reports one, and when there is none to ask or it has not answered.
    bool Offline() const { return FOffline; }

    // The tray hint while offline, in the user's language (through the
    // toolkit's translator, which searches the program's catalogs).
    static QString OfflineHint();

signals:
    // The machine came back from sleep.
    void Resumed();
    // A connection was reported after no connection.
    void NetworkBack();
    void OfflineChanged(bool offline);

private slots:
    void OnPrepareForSleep(bool sleeping);
    void OnNetworkProperties(const QString& interfaceName, const QVariantMap& changed,
                             const QStringList& invalidated);
    void OnNetworkOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void OnNetworkStateAnswer(QDBusPendingCallWatcher* call);

private:
    void AskNetworkState();
    void SetNetworkState(quint32 state);
    void SetOffline(bool offline);

    QDBusConnection FBus;
    QDBusServiceWatcher* FNetworkOwner = nullptr;
    bool FOffline = false;
    // Counts the states heard, so an answer to an older question that comes
    // after a newer signal does not overwrite it.
    unsigned FStatesHeard = 0;
};

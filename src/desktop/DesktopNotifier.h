#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QDBusServiceWatcher;

// One desktop notification: plain text throughout (it may come from a mail),
// and its actions as key, caption pairs.
struct TDesktopNotice
{
    QString Summary;
    QString Body;
    std::vector<std::pair<QString, QString>> Actions;
    // How long it shows: -1 leaves it to the server, 0 keeps it until read.
    int ExpireMs = -1;
    // An update of what is shown, with no sound of its own.
    bool Quiet = false;
    // The urgency hint: 0 low, 1 normal, 2 critical.
    int Urgency = 1;
};

// The client of the desktop's notification server
// (org.freedesktop.Notifications on the session bus). It keeps one
// notification: each Show replaces the one shown, Withdraw closes it, and
// the server's ActionInvoked and NotificationClosed for it are passed on.
//
// Nothing here waits on the server: every call is asynchronous and bounded
// by CallTimeoutMs, so a server that hangs costs a late balloon, never a
// frozen desktop. Only a server that runs counts: none is started for us.
// The capabilities are asked when the server comes onto the bus.
class TDesktopNotifier : public QObject
{
    Q_OBJECT
public:
    // On the session bus.
    explicit TDesktopNotifier(QObject* parent = nullptr);
    // On the bus given (a disconnected one is no bus).
    explicit TDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);
    ~TDesktopNotifier() override;

    // A server runs and has told its capabilities.
    bool Available() const { return FAvailable; }
    const QStringList& Capabilities() const { return FCapabilities; }

    // Sends the notice, in place of the one shown; `undelivered` runs when
    // the server refuses it or does not answer in time. False, and nothing
    // sent, without a server. The body is escaped where the server reads
    // markup; actions are left out where it has none.
    bool Show(const TDesktopNotice& notice, std::function<void()> undelivered = {});
    // Replaces the notification shown, in place and quietly; nothing when
    // none shows any more (the user closed it, or it expired). False when
    // nothing was sent.
    bool Update(TDesktopNotice notice);
    // Closes the notification shown, if any.
    void Withdraw();
    // The server's id of the notification shown; 0 when none.
    uint Id() const { return FId; }
    // A Notify is on its way to the server.
    bool Sending() const { return FSending; }

    int CallTimeoutMs = 3000;

signals:
    void ActionInvoked(const QString& key);
    // The notification shown was closed (reason as the server gave it).
    void Closed(uint reason);
    // The server answered its capabilities, or left the bus.
    void AvailabilityChanged(bool available);

private slots:
    void OnActionInvoked(uint id, const QString& key);
    void OnNotificationClosed(uint id, uint reason);
    void OnOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    void AskCapabilities();
    void Send(const TDesktopNotice& notice, std::function<void()> undelivered);
    void SetAvailable(bool available);

    QDBusConnection FBus;
    QDBusServiceWatcher* FOwner = nullptr;
    bool FAvailable = false;
    QStringList FCapabilities;
    // Counts the owners seen, so a late answer from a server gone is dropped.
    unsigned FOwners = 0;
    uint FId = 0;
    // While a Notify is on its way its id is not known yet: what comes
    // meanwhile waits, the latest notice or a withdrawal.
    bool FSending = false;
    struct TQueued
    {
        TDesktopNotice Notice;
        std::function<void()> Undelivered;
    };
    std::optional<TQueued> FQueued;
    bool FWithdrawQueued = false;
};

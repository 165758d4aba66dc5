#include "desktop/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include <algorithm>

namespace
{

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

// The name the menu entry and the icons are installed under.
const QString AppName = QStringLiteral("ternbell");

QDBusMessage Call(const char* member)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QString::fromLatin1(member));
    // Only a server that runs counts; none is started by asking.
    call.setAutoStartService(false);
    return call;
}

} // namespace

TDesktopNotifier::TDesktopNotifier(QObject* parent) : TDesktopNotifier(QDBusConnection::sessionBus(), parent)
{
}

TDesktopNotifier::TDesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), FBus(bus)
{
    if (!FBus.isConnected())
        return;
    FBus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    FBus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnNotificationClosed(uint, uint)));
    FOwner = new QDBusServiceWatcher(Service, FBus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(FOwner, &QDBusServiceWatcher::serviceOwnerChanged, this, &TDesktopNotifier::OnOwnerChanged);
    AskCapabilities();
}

TDesktopNotifier::~TDesktopNotifier() = default;

void TDesktopNotifier::AskCapabilities()
{
    auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(Call("GetCapabilities"), CallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, owners = FOwners](QDBusPendingCallWatcher* c) {
        c->deleteLater();
        const QDBusPendingReply<QStringList> reply = *c;
        if (owners != FOwners || reply.isError())
            return;
        FCapabilities = reply.value();
        SetAvailable(true);
    });
}

void TDesktopNotifier::OnOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(name);
    Q_UNUSED(oldOwner);
    // Another server (or none) knows nothing of our notification.
    ++FOwners;
    FId = 0;
    FCapabilities.clear();
    SetAvailable(false);
    if (!newOwner.isEmpty())
        AskCapabilities();
}

void TDesktopNotifier::SetAvailable(bool available)
{
    if (available == FAvailable)
        return;
    FAvailable = available;
    emit AvailabilityChanged(available);
}

bool TDesktopNotifier::Show(const TDesktopNotice& notice, std::function<void()> undelivered)
{
    if (!FAvailable)
        return false;
    if (FSending)
    {
        // Sent once the id it replaces is known; it replaces a withdrawal too.
        FQueued = TQueued{notice, std::move(undelivered)};
        FWithdrawQueued = false;
        return true;
    }
    Send(notice, std::move(undelivered));
    return true;
}

void TDesktopNotifier::Send(const TDesktopNotice& notice, std::function<void()> undelivered)
{
    // A server with body markup reads "<b>" in a subject as bold, and "<img>"
    // as a picture to load.
    const QString body =
        FCapabilities.contains(QStringLiteral("body-markup")) ? notice.Body.toHtmlEscaped() : notice.Body;
    QStringList actions;
    if (FCapabilities.contains(QStringLiteral("actions")))
        for (const auto& [key, caption] : notice.Actions)
            actions << key << caption;
    QVariantMap hints{{QStringLiteral("category"), QStringLiteral("email.arrived")},
                      {QStringLiteral("desktop-entry"), AppName}};
    if (notice.Quiet)
        hints.insert(QStringLiteral("suppress-sound"), true);
    // The hint is a byte on the wire; normal is the default.
    if (notice.Urgency != 1)
        hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(std::clamp(notice.Urgency, 0, 2))));
    QDBusMessage notify = Call("Notify");
    notify << AppName << FId << AppName << notice.Summary << body << actions << hints << notice.ExpireMs;
    FSending = true;
    auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(notify, CallTimeoutMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, owners = FOwners, undelivered = std::move(undelivered)](QDBusPendingCallWatcher* c) {
                c->deleteLater();
                FSending = false;
                const QDBusPendingReply<uint> reply = *c;
                if (reply.isError())
                {
                    if (undelivered)
                        undelivered();
                }
                else if (owners == FOwners)
                    FId = reply.value();
                if (std::exchange(FWithdrawQueued, false))
                    Withdraw();
                else if (FQueued)
                {
                    TQueued next = std::move(*FQueued);
                    FQueued.reset();
                    if (!Show(next.Notice, next.Undelivered) && next.Undelivered)
                        next.Undelivered();
                }
            });
}

bool TDesktopNotifier::Update(TDesktopNotice notice)
{
    // While a Notify is on its way, what follows it waits for its id.
    if (!FAvailable || (FId == 0 && !FSending) || (FSending && FWithdrawQueued))
        return false;
    notice.Quiet = true;
    return Show(notice);
}

void TDesktopNotifier::Withdraw()
{
    if (FSending)
    {
        FQueued.reset();
        FWithdrawQueued = true;
        return;
    }
    if (FId == 0)
        return;
    QDBusMessage close = Call("CloseNotification");
    close << std::exchange(FId, 0u);
    // The answer carries nothing we need; a server that hangs only delays it.
    FBus.asyncCall(close, CallTimeoutMs);
}

void TDesktopNotifier::OnActionInvoked(uint id, const QString& key)
{
    if (id != 0 && id == FId)
        emit ActionInvoked(key);
}

void TDesktopNotifier::OnNotificationClosed(uint id, uint reason)
{
    if (id == 0 || id != FId)
        return;
    FId = 0;
    emit Closed(reason);
}

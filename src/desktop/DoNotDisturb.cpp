#include "desktop/DoNotDisturb.h"

#include "desktop/GnomeBanners.h"

#include <QAbstractEventDispatcher>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace
{

const QString NotificationsService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString NotificationsInterface = NotificationsService;
const QString InhibitedProperty = QStringLiteral("Inhibited");
const QString DunstInterface = QStringLiteral("org.dunstproject.cmd0");
const QString PausedProperty = QStringLiteral("paused");

const QString XfconfService = QStringLiteral("org.xfce.Xfconf");
const QString XfconfPath = QStringLiteral("/org/xfce/Xfconf");
const QString XfconfInterface = XfconfService;
const QString XfceChannel = QStringLiteral("xfce4-notifyd");
const QString XfceProperty = QStringLiteral("/do-not-disturb");

const QString ShellService = QStringLiteral("org.gnome.Shell");

const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Anything but a boolean is off: a switch nobody can read cannot keep the
// program quiet.
bool TrueBoolean(const QVariant& value)
{
    return value.metaType().id() == QMetaType::Bool && value.toBool();
}

} // namespace

TDoNotDisturb::TDoNotDisturb(const QDBusConnection& bus, QObject* parent) : QObject(parent), FBus(bus)
{
    if (!FBus.isConnected())
        return;
    FBus.connect(NotificationsService, NotificationsPath, PropertiesInterface, QStringLiteral("PropertiesChanged"),
                 this, SLOT(OnNotificationProperties(QString, QVariantMap, QStringList)));
    FBus.connect(XfconfService, XfconfPath, XfconfInterface, QStringLiteral("PropertyChanged"), this,
                 SLOT(OnXfconfProperty(QString, QString, QDBusVariant)));
    FBus.connect(XfconfService, XfconfPath, XfconfInterface, QStringLiteral("PropertyRemoved"), this,
                 SLOT(OnXfconfRemoved(QString, QString)));
    auto watch = [this](const QString& service, void (TDoNotDisturb::*slot)(const QString&, const QString&,
                                                                           const QString&)) {
        auto* watcher = new QDBusServiceWatcher(service, FBus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, slot);
    };
    watch(NotificationsService, &TDoNotDisturb::OnNotificationsOwner);
    watch(XfconfService, &TDoNotDisturb::OnXfconfOwner);
    watch(ShellService, &TDoNotDisturb::OnShellOwner);
    Ask(Inhibited);
    Ask(DunstPaused);
    Ask(XfceSetting);
    AskShell();
}

TDoNotDisturb::~TDoNotDisturb() = default;

bool TDoNotDisturb::IsOn() const
{
    for (bool on : FOn)
        if (on)
            return true;
    return false;
}

void TDoNotDisturb::Ask(TSource source)
{
    QDBusMessage ask;
    if (source == XfceSetting)
    {
        ask = QDBusMessage::createMethodCall(XfconfService, XfconfPath, XfconfInterface,
                                             QStringLiteral("GetProperty"));
        ask << XfceChannel << XfceProperty;
    }
    else
    {
        ask = QDBusMessage::createMethodCall(NotificationsService, NotificationsPath, PropertiesInterface,
                                             QStringLiteral("Get"));
        if (source == Inhibited)
            ask << NotificationsInterface << InhibitedProperty;
        else
            ask << DunstInterface << PausedProperty;
    }
    // Asking must not start a notification server or xfconfd that the
    // desktop does not run.
    ask.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(ask), this);
    const unsigned heard = FHeard[source];
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, source, heard](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (heard != FHeard[source])
            return;
        // An error (no owner, a server without this property) is off.
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        SetSource(source, !reply.isError() && TrueBoolean(reply.value().variant()));
    });
}

void TDoNotDisturb::AskShell()
{
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("NameHasOwner"));
    ask << ShellService;
    auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(ask), this);
    const unsigned heard = FHeard[GnomeBanners];
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, heard](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        const QDBusPendingReply<bool> reply = *answer;
        if (heard == FHeard[GnomeBanners] && !reply.isError())
            FollowGnome(reply.value());
    });
}

void TDoNotDisturb::OnNotificationProperties(const QString& interfaceName, const QVariantMap& changed,
                                             const QStringList& invalidated)
{
    TSource source;
    QString property;
    if (interfaceName == NotificationsInterface)
        source = Inhibited, property = InhibitedProperty;
    else if (interfaceName == DunstInterface)
        source = DunstPaused, property = PausedProperty;
    else
        return;
    const auto value = changed.constFind(property);
    if (value != changed.constEnd())
    {
        ++FHeard[source];
        SetSource(source, TrueBoolean(*value));
    }
    else if (invalidated.contains(property))
    {
        ++FHeard[source];
        Ask(source);
    }
}

void TDoNotDisturb::OnNotificationsOwner(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(name);
    Q_UNUSED(oldOwner);
    for (TSource source : {Inhibited, DunstPaused})
        NewOwner(source, newOwner);
}

void TDoNotDisturb::NewOwner(TSource source, const QString& newOwner)
{
    // Whatever the earlier owner said, or is still to answer, no longer holds.
    ++FHeard[source];
    if (newOwner.isEmpty())
        SetSource(source, false);
    else
        Ask(source);
}

void TDoNotDisturb::OnXfconfProperty(const QString& channel, const QString& property, const QDBusVariant& value)
{
    if (channel != XfceChannel || property != XfceProperty)
        return;
    ++FHeard[XfceSetting];
    SetSource(XfceSetting, TrueBoolean(value.variant()));
}

void TDoNotDisturb::OnXfconfRemoved(const QString& channel, const QString& property)
{
    if (channel != XfceChannel || property != XfceProperty)
        return;
    ++FHeard[XfceSetting];
    SetSource(XfceSetting, false);
}

void TDoNotDisturb::OnXfconfOwner(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(name);
    Q_UNUSED(oldOwner);
    NewOwner(XfceSetting, newOwner);
}

void TDoNotDisturb::OnShellOwner(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(name);
    Q_UNUSED(oldOwner);
    ++FHeard[GnomeBanners];
    FollowGnome(!newOwner.isEmpty());
}

void TDoNotDisturb::FollowGnome(bool shellRunning)
{
    if (!shellRunning)
    {
        FGnome.reset();
        SetSource(GnomeBanners, false);
        return;
    }
    if (FGnome)
        return;
    // GSettings tells of changes through the GLib main context, which only
    // the toolkit's GLib event loop runs; without it the setting would be
    // read once and never followed.
    const QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance(thread());
    if (!loop || !loop->inherits("QEventDispatcherGlib"))
        return;
    auto gnome = std::make_unique<TGnomeBanners>([this](bool hidden) { SetSource(GnomeBanners, hidden); });
    if (!gnome->Start())
        return;
    FGnome = std::move(gnome);
    SetSource(GnomeBanners, FGnome->Hidden());
}

void TDoNotDisturb::SetSource(TSource source, bool on)
{
    if (FOn[source] == on)
        return;
    const bool was = IsOn();
    FOn[source] = on;
    if (IsOn() != was)
        emit Changed(IsOn());
}

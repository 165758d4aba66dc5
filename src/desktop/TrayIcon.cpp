#include "desktop/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

#include <xcb/xcb.h>

namespace
{

// The toolkit's default display time for its own balloon; the XEmbed tray has
// none of its own.
constexpr int ToolkitBalloonTime = 10000;

// How long a notification server may take to answer.
constexpr int NotifyTimeoutMs = 3000;

// Hands the balloon to the desktop's notification server without waiting
// for it; false when there is no bus. `undelivered` runs, in `context`, when
// the server refuses it, is not there, or does not answer in time.
bool NotifyDesktop(const TTrayIcon::TBalloon& balloon, QObject* context, std::function<void()> undelivered)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Only a server that runs counts; none is started by asking.
    notify.setAutoStartService(false);
    notify << QCoreApplication::applicationName() << uint(0) << QStringLiteral("dialog-information")
           << balloon.Title << balloon.Text << QStringList() << QVariantMap() << balloon.TimeoutMs;
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(notify, NotifyTimeoutMs), context);
    QObject::connect(call, &QDBusPendingCallWatcher::finished, context,
                     [undelivered = std::move(undelivered)](QDBusPendingCallWatcher* c) {
                         c->deleteLater();
                         if (c->isError())
                             undelivered();
                     });
    return true;
}

// Where StatusNotifierItem hosts register.
const QString Watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

bool NoDesktop()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace

bool StatusNotifierHostRegistered()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage ask = QDBusMessage::createMethodCall(Watcher, WatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    ask << Watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // Bounded: a hung bus must not hold the start.
    const QDBusMessage answer = bus.call(ask, QDBus::Block, 2000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return false;
    return qvariant_cast<QDBusVariant>(answer.arguments().constFirst()).variant().toBool();
}

TTrayHost DesktopTrayHost()
{
    const QString platform = QGuiApplication::platformName();
    if (NoDesktop())
        return TTrayHost::XEmbed;
    if (platform != QLatin1String("xcb"))
        return TTrayHost::StatusNotifier;
    return StatusNotifierHostRegistered() ? TTrayHost::StatusNotifier : TTrayHost::XEmbed;
}

bool DesktopTrayAvailable()
{
    if (NoDesktop())
        return false;
    if (StatusNotifierHostRegistered())
        return true;
    // Asked only on X: outside it the toolkit would settle on having no tray
    // for the rest of the run.
    return QGuiApplication::platformName() == QLatin1String("xcb")
           && QSystemTrayIcon::isSystemTrayAvailable();
}

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), FTray(nullptr), FHost(DesktopTrayHost())
{
    // Outside X the toolkit decides once, at its first tray icon, whether a
    // StatusNotifierItem host is there, and without one never shows the icon.
    // So the icon is made only when a host is registered.
    const bool waitForHost = !NoDesktop() && QGuiApplication::platformName() != QLatin1String("xcb")
                             && !StatusNotifierHostRegistered();
    if (waitForHost)
        WatchForHost();
    else
        CreateTray();
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::CreateTray()
{
    FTray = new QSystemTrayIcon(this);
    connect(FTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A StatusNotifierItem host sends one activation for what the
                // user does to open the icon (a click or a double click) and
                // never a double click, so there it stands for the double
                // click. On XEmbed a single left click does nothing. The
                // right button opens the context menu by itself.
                if (reason == QSystemTrayIcon::DoubleClick
                    || (reason == QSystemTrayIcon::Trigger && FHost == TTrayHost::StatusNotifier))
                    emit DblClick();
            });
    FTray->setIcon(FIcon);
    FTray->setToolTip(FHint);
    FTray->setContextMenu(FMenu);
    if (FVisible)
        SetVisible(true);
}

void TTrayIcon::WatchForHost()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return; // no bus now means none for this run
    // A watcher that comes up, or a host that registers with one already up.
    FHostWatch = new QDBusServiceWatcher(Watcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(FHostWatch, &QDBusServiceWatcher::serviceRegistered, this, &TTrayIcon::HostMayHaveCome);
    bus.connect(Watcher, WatcherPath, Watcher, QStringLiteral("StatusNotifierHostRegistered"), this,
                SLOT(HostMayHaveCome()));
}

void TTrayIcon::HostMayHaveCome()
{
    if (FTray || !StatusNotifierHostRegistered())
        return;
    QDBusConnection::sessionBus().disconnect(Watcher, WatcherPath, Watcher,
                                             QStringLiteral("StatusNotifierHostRegistered"), this,
                                             SLOT(HostMayHaveCome()));
    FHostWatch->deleteLater();
    FHostWatch = nullptr;
    CreateTray();
}

void TTrayIcon::SetImages(const QList<QIcon>& images)
{
    FImages = images;
    SetPictureIndex(FPictureIndex);
}

void TTrayIcon::SetPictureIndex(int index)
{
    FPictureIndex = index;
    if (index >= 0 && index < FImages.size())
        SetIcon(FImages[index]);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    FIcon = icon;
    if (FTray)
        FTray->setIcon(icon);
}

QIcon TTrayIcon::Icon() const
{
    return FIcon;
}

void TTrayIcon::SetHint(const QString& hint)
{
    FHint = hint;
    if (FTray)
        FTray->setToolTip(hint);
}

void TTrayIcon::SetVisible(bool visible)
{
    FVisible = visible;
    if (!FTray)
        return;
    FTray->setVisible(visible);
    // On X the request to dock goes out now rather than when the event loop
    // next runs, which at start is after every window has been built.
    if (!visible || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        if (xcb_connection_t* connection = x11->connection())
            xcb_flush(connection);
}

void TTrayIcon::SetPopupMenu(QMenu* menu)
{
    FMenu = menu;
    if (FTray)
        FTray->setContextMenu(menu);
}

bool TTrayIcon::Shown() const
{
    return FTray != nullptr;
}

void TTrayIcon::ShowBalloon(const QString& title, const QString& text, int timeoutMs)
{
    if (FHost == TTrayHost::StatusNotifier)
    {
        // The notification service reads the body as markup. Sent directly:
        // the toolkit's path cannot leave the time to the desktop.
        FLastBalloon = TBalloon{title, text.toHtmlEscaped(), timeoutMs};
        const TBalloon own{title, text, timeoutMs};
        if (Notify ? Notify(FLastBalloon) : NotifyDesktop(FLastBalloon, this, [this, own] { ShowOwnBalloon(own); }))
            return;
    }
    ShowOwnBalloon(TBalloon{title, text, timeoutMs});
}

void TTrayIcon::ShowOwnBalloon(TBalloon balloon)
{
    // The toolkit's own balloon shows plain text and stays until clicked
    // unless it is given a time.
    if (balloon.TimeoutMs == DesktopDisplayTime)
        balloon.TimeoutMs = ToolkitBalloonTime;
    FLastBalloon = balloon;
    if (FTray)
        FTray->showMessage(balloon.Title, balloon.Text, QSystemTrayIcon::Information, balloon.TimeoutMs);
}

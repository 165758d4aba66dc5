#include "desktop/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusMessage>
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

bool NotifyDesktop(const TTrayIcon::TBalloon& balloon)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    notify << QCoreApplication::applicationName() << uint(0) << QStringLiteral("dialog-information")
           << balloon.Title << balloon.Text << QStringList() << QVariantMap() << balloon.TimeoutMs;
    const QDBusMessage answer = bus.call(notify, QDBus::Block, 2000);
    return answer.type() == QDBusMessage::ReplyMessage;
}

} // namespace

TTrayHost DesktopTrayHost()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return TTrayHost::XEmbed;
    if (platform != QLatin1String("xcb"))
        return TTrayHost::StatusNotifier;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return TTrayHost::XEmbed;
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    ask << QStringLiteral("org.kde.StatusNotifierWatcher")
        << QStringLiteral("IsStatusNotifierHostRegistered");
    // Bounded: a hung bus must not hold the start.
    const QDBusMessage answer = bus.call(ask, QDBus::Block, 2000);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return TTrayHost::XEmbed;
    const bool registered =
        qvariant_cast<QDBusVariant>(answer.arguments().constFirst()).variant().toBool();
    return registered ? TTrayHost::StatusNotifier : TTrayHost::XEmbed;
}

TTrayIcon::TTrayIcon(QObject* parent)
    : QObject(parent), FTray(new QSystemTrayIcon(this)), FHost(DesktopTrayHost())
{
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
    Notify = [](const TBalloon& balloon) { return NotifyDesktop(balloon); };
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::SetImages(const QList<QIcon>& images)
{
    FImages = images;
    SetPictureIndex(FPictureIndex);
}

void TTrayIcon::SetPictureIndex(int index)
{
    FPictureIndex = index;
    if (index >= 0 && index < FImages.size())
        FTray->setIcon(FImages[index]);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    FTray->setIcon(icon);
}

QIcon TTrayIcon::Icon() const
{
    return FTray->icon();
}

void TTrayIcon::SetHint(const QString& hint)
{
    FHint = hint;
    FTray->setToolTip(hint);
}

void TTrayIcon::SetVisible(bool visible)
{
    FVisible = visible;
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
    FTray->setContextMenu(menu);
}

void TTrayIcon::ShowBalloon(const QString& title, const QString& text, int timeoutMs)
{
    FLastBalloon.Title = title;
    FLastBalloon.Text = text;
    FLastBalloon.TimeoutMs = timeoutMs;
    if (FHost == TTrayHost::StatusNotifier)
    {
        // The notification service reads the body as markup. Sent directly:
        // the toolkit's path cannot leave the time to the desktop.
        FLastBalloon.Text = text.toHtmlEscaped();
        if (Notify && Notify(FLastBalloon))
            return;
        FLastBalloon.Text = text;
    }
    // The toolkit's own balloon shows plain text and stays until clicked
    // unless it is given a time.
    if (FLastBalloon.TimeoutMs == DesktopDisplayTime)
        FLastBalloon.TimeoutMs = ToolkitBalloonTime;
    FTray->showMessage(FLastBalloon.Title, FLastBalloon.Text, QSystemTrayIcon::Information,
                       FLastBalloon.TimeoutMs);
}

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <memory>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;
class QDBusVariant;
class TGnomeBanners;

// Follows the desktop's do-not-disturb switch, wherever the running desktop
// keeps it:
//   - the notification server's "Inhibited" property (Plasma), and dunst's
//     "paused" (interface org.dunstproject.cmd0), both on the server's
//     /org/freedesktop/Notifications, followed through PropertiesChanged;
//   - xfce4-notifyd's "/do-not-disturb" in the xfconf channel
//     "xfce4-notifyd", followed through xfconfd's PropertyChanged;
//   - GNOME's show-banners (org.gnome.desktop.notifications) set to false,
//     through GSettings, while GNOME Shell is on the bus.
// It is on while any of them is. Each is read once at start and whenever its
// service gets a new owner, then followed by signal only: nothing polls, so
// at rest it costs no wake-up. Only signals of the services' owners count.
//
// A service that leaves the bus takes its switch with it (a notification
// server that crashed while paused must not keep the program quiet for
// ever); one that comes later is read then. Asking never starts a service,
// and never waits on one: a hung server leaves its switch off. A value of
// any type but boolean is off.
//
// GNOME's setting is read through GIO, loaded only once GNOME Shell is seen,
// which follows the process's own session bus; the others follow the bus
// given (a disconnected one: none of them).
class TDoNotDisturb : public QObject
{
    Q_OBJECT
public:
    explicit TDoNotDisturb(const QDBusConnection& bus, QObject* parent = nullptr);
    ~TDoNotDisturb() override;

    bool IsOn() const;

signals:
    // Only on a change of IsOn.
    void Changed(bool on);

private slots:
    void OnNotificationProperties(const QString& interfaceName, const QVariantMap& changed,
                                  const QStringList& invalidated);
    void OnNotificationsOwner(const QString& name, const QString& oldOwner, const QString& newOwner);
    void OnXfconfProperty(const QString& channel, const QString& property, const QDBusVariant& value);
    void OnXfconfRemoved(const QString& channel, const QString& property);
    void OnXfconfOwner(const QString& name, const QString& oldOwner, const QString& newOwner);
    void OnShellOwner(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    enum TSource
    {
        Inhibited,
        DunstPaused,
        XfceSetting,
        GnomeBanners,
        SourceCount
    };

    void Ask(TSource source);
    // The source's service has a new owner, or none ("").
    void NewOwner(TSource source, const QString& newOwner);
    void AskShell();
    void SetSource(TSource source, bool on);
    void FollowGnome(bool shellRunning);

    QDBusConnection FBus;
    std::array<bool, SourceCount> FOn{};
    // Counts what was heard per source, so an answer to an older question
    // that comes after a newer signal does not overwrite it.
    std::array<unsigned, SourceCount> FHeard{};
    std::unique_ptr<TGnomeBanners> FGnome;
};

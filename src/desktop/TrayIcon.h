#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

// How the desktop shows tray icons: the StatusNotifierItem protocol over
// D-Bus (most panels today) or the older XEmbed system tray. They differ in
// how a click arrives and in who draws a balloon.
enum class TTrayHost
{
    XEmbed,
    StatusNotifier
};

// The kind the toolkit uses in this session: StatusNotifierItem outside X11,
// and on X11 when a StatusNotifierItem host is registered on the session bus.
// Without a desktop (offscreen) XEmbed, so no notification service is asked.
TTrayHost DesktopTrayHost();

// A StatusNotifierItem host is registered with the watcher on the session
// bus (asked with a bounded wait).
bool StatusNotifierHostRegistered();

// Whether the desktop shows tray icons now: a StatusNotifierItem host, or on
// X11 an XEmbed tray. Never without a desktop (offscreen).
bool DesktopTrayAvailable();

// A tray icon that remembers what it shows (picture index, hint, visibility),
// so the program and its tests can read the state back whether or not the
// desktop has a tray.
class TTrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Pictures to choose from by index (the main icon's image list).
    void SetImages(const QList<QIcon>& images);
    int PictureIndex() const { return FPictureIndex; }
    void SetPictureIndex(int index);
    // A picture of its own (the new-mail icon's file), instead of the list.
    void SetIcon(const QIcon& icon);
    QIcon Icon() const;

    QString Hint() const { return FHint; }
    void SetHint(const QString& hint);

    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);

    // Found at creation; settable for hosts the detection gets wrong.
    TTrayHost Host() const { return FHost; }
    void SetHost(TTrayHost host) { FHost = host; }

    void SetPopupMenu(QMenu* menu);

    // Whether the icon is handed to the desktop. Outside X it waits for a
    // StatusNotifierItem host, and appears when one registers; on X the
    // toolkit docks it whenever an XEmbed tray comes and goes.
    bool Shown() const;

    // A display time that leaves the choice to the desktop.
    static constexpr int DesktopDisplayTime = -1;
    // `text` is plain text (it may come from a mail); it is never shown as
    // markup.
    void ShowBalloon(const QString& title, const QString& text, int timeoutMs = DesktopDisplayTime);

    // The last balloon as handed to the desktop.
    struct TBalloon
    {
        QString Title;
        QString Text;
        int TimeoutMs = 0;
    };
    const TBalloon& LastBalloon() const { return FLastBalloon; }

    // On a StatusNotifierItem host a balloon goes to the desktop's
    // notification service without waiting, and the toolkit's balloon
    // follows if the service does not take it. A test may set Notify to take
    // the balloons instead (false: the toolkit's balloon at once).
    std::function<bool(const TBalloon& balloon)> Notify;

signals:
    void DblClick();

private slots:
    void HostMayHaveCome();

private:
    void CreateTray();
    void WatchForHost();
    void ShowOwnBalloon(TBalloon balloon);

    QSystemTrayIcon* FTray;
    QDBusServiceWatcher* FHostWatch = nullptr;
    QIcon FIcon;
    QMenu* FMenu = nullptr;
    TTrayHost FHost;
    QList<QIcon> FImages;
    int FPictureIndex = 0;
    QString FHint;
    bool FVisible = false;
    TBalloon FLastBalloon;
};

#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

// The count on a dock's or panel's launcher icon, through the launcher entry
// signal that docks read (com.canonical.Unity.LauncherEntry.Update on the
// session bus): `count`, `count-visible` (false at 0) and `urgent`, for one
// desktop id's launcher. A signal goes out only when what it says changes;
// a dock that starts later asks with Query. Nothing here waits on the bus.
class TLauncherEntry : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.Unity.LauncherEntry")
public:
    // On the session bus.
    explicit TLauncherEntry(QObject* parent = nullptr);
    // On the bus given (a disconnected one is no bus).
    explicit TLauncherEntry(const QDBusConnection& bus, QObject* parent = nullptr);
    // The launcher it counted on is cleared.
    ~TLauncherEntry() override;

    // Whose launcher shows the count: a desktop id ("thunderbird.desktop");
    // "" for none. A change clears the old launcher and counts on the new.
    void SetDesktopId(const QString& desktopId);
    const QString& DesktopId() const { return FDesktopId; }
    void SetCount(int count, bool urgent);
    // Signals sent so far.
    int Sent() const { return FSent; }

    // The object path the entry is kept under, from its application URI.
    static QString ObjectPath(const QString& appUri);

public slots:
    // Asked by a dock: the application URI and what it shows now.
    Q_SCRIPTABLE QString Query(QVariantMap& properties);

private:
    QVariantMap Properties() const;
    QString AppUri() const;
    void Send(const QVariantMap& properties);
    void Register();
    void Unregister();

    QDBusConnection FBus;
    QString FDesktopId;
    QString FPath;
    int FCount = 0;
    bool FUrgent = false;
    // What the launcher was last told; none yet.
    bool FToldAny = false;
    int FToldCount = 0;
    bool FToldUrgent = false;
    int FSent = 0;
};

#include "desktop/LauncherEntry.h"

#include <QCryptographicHash>
#include <QDBusMessage>

namespace
{

const QString Interface = QStringLiteral("com.canonical.Unity.LauncherEntry");

} // namespace

TLauncherEntry::TLauncherEntry(QObject* parent) : TLauncherEntry(QDBusConnection::sessionBus(), parent)
{
}

TLauncherEntry::TLauncherEntry(const QDBusConnection& bus, QObject* parent) : QObject(parent), FBus(bus)
{
}

TLauncherEntry::~TLauncherEntry()
{
    SetDesktopId({});
}

QString TLauncherEntry::ObjectPath(const QString& appUri)
{
    // A path element takes only letters, digits and '_'.
    const QByteArray hash = QCryptographicHash::hash(appUri.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("/com/canonical/unity/launcherentry/") + QString::fromLatin1(hash.left(16));
}

QString TLauncherEntry::AppUri() const
{
    return QStringLiteral("application://") + FDesktopId;
}

QVariantMap TLauncherEntry::Properties() const
{
    // The count is an int64 on the bus, as docks read it.
    return {{QStringLiteral("count"), QVariant::fromValue<qlonglong>(FCount)},
            {QStringLiteral("count-visible"), FCount > 0},
            {QStringLiteral("urgent"), FUrgent}};
}

void TLauncherEntry::SetDesktopId(const QString& desktopId)
{
    if (desktopId == FDesktopId)
        return;
    // The old launcher shows nothing of ours any more.
    if (!FDesktopId.isEmpty() && FToldAny && (FToldCount != 0 || FToldUrgent))
        Send({{QStringLiteral("count"), QVariant::fromValue<qlonglong>(0)},
              {QStringLiteral("count-visible"), false},
              {QStringLiteral("urgent"), false}});
    Unregister();
    FDesktopId = desktopId;
    FToldAny = false;
    if (FDesktopId.isEmpty())
        return;
    Register();
    SetCount(FCount, FUrgent);
}

void TLauncherEntry::SetCount(int count, bool urgent)
{
    FCount = std::max(count, 0);
    FUrgent = urgent;
    if (FDesktopId.isEmpty() || (FToldAny && FToldCount == FCount && FToldUrgent == FUrgent))
        return;
    // Nothing to clear on a launcher never told anything.
    if (!FToldAny && FCount == 0 && !FUrgent)
    {
        FToldAny = true;
        FToldCount = 0;
        FToldUrgent = false;
        return;
    }
    FToldAny = true;
    FToldCount = FCount;
    FToldUrgent = FUrgent;
    Send(Properties());
}

void TLauncherEntry::Send(const QVariantMap& properties)
{
    if (!FBus.isConnected() || FPath.isEmpty())
        return;
    QDBusMessage update = QDBusMessage::createSignal(FPath, Interface, QStringLiteral("Update"));
    update << AppUri() << properties;
    if (FBus.send(update))
        ++FSent;
}

QString TLauncherEntry::Query(QVariantMap& properties)
{
    properties = Properties();
    return AppUri();
}

void TLauncherEntry::Register()
{
    FPath = ObjectPath(AppUri());
    if (FBus.isConnected())
        FBus.registerObject(FPath, this, QDBusConnection::ExportScriptableSlots);
}

void TLauncherEntry::Unregister()
{
    if (FBus.isConnected() && !FPath.isEmpty())
        FBus.unregisterObject(FPath);
    FPath.clear();
}

#include "desktop/WakeWatch.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

// Marks a text for the catalog template, like i18n's marker of the same name
// (that library stands above this one).
#define N_(text) text

namespace
{

const QString LoginService = QStringLiteral("org.freedesktop.login1");
const QString LoginPath = QStringLiteral("/org/freedesktop/login1");
const QString LoginInterface = QStringLiteral("org.freedesktop.login1.Manager");

const QString NetworkService = QStringLiteral("org.freedesktop.NetworkManager");
const QString NetworkPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString StateProperty = QStringLiteral("State");

// NetworkManager's NMState: asleep 10, disconnected 20, disconnecting 30,
// connecting 40; connected to the machine's link 50, the site 60, globally
// 70; 0 unknown. A mail server may sit on the local network, so every
// connected state counts as a network.
bool HasNoConnection(quint32 state)
{
    return state >= 10 && state < 50;
}

bool HasConnection(quint32 state)
{
    return state >= 50 && state <= 70;
}

} // namespace

TWakeWatch::TWakeWatch(QObject* parent) : TWakeWatch(QDBusConnection::systemBus(), parent)
{
}

TWakeWatch::TWakeWatch(const QDBusConnection& bus, QObject* parent) : QObject(parent), FBus(bus)
{
    if (!FBus.isConnected())
        return;
    FBus.connect(LoginService, LoginPath, LoginInterface, QStringLiteral("PrepareForSleep"), this,
                 SLOT(OnPrepareForSleep(bool)));
    FBus.connect(NetworkService, NetworkPath, PropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(OnNetworkProperties(QString, QVariantMap, QStringList)));
    FNetworkOwner = new QDBusServiceWatcher(NetworkService, FBus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(FNetworkOwner, &QDBusServiceWatcher::serviceOwnerChanged, this, &TWakeWatch::OnNetworkOwnerChanged);
    AskNetworkState();
}

TWakeWatch::~TWakeWatch() = default;

QString TWakeWatch::OfflineHint()
{
    return QCoreApplication::translate("TWakeWatch", N_("Offline"));
}

void TWakeWatch::OnPrepareForSleep(bool sleeping)
{
    if (!sleeping)
        emit Resumed();
}

void TWakeWatch::AskNetworkState()
{
    QDBusMessage ask = QDBusMessage::createMethodCall(NetworkService, NetworkPath, PropertiesInterface,
                                                      QStringLiteral("Get"));
    ask << NetworkService << StateProperty;
    // Asking must not start a network manager the user switched off.
    ask.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(FBus.asyncCall(ask), this);
    call->setProperty("heard", FStatesHeard);
    connect(call, &QDBusPendingCallWatcher::finished, this, &TWakeWatch::OnNetworkStateAnswer);
}

void TWakeWatch::OnNetworkStateAnswer(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (reply.isError() || call->property("heard").toUInt() != FStatesHeard)
        return;
    bool number = false;
    const quint32 state = reply.value().variant().toUInt(&number);
    if (number)
        SetNetworkState(state);
}

void TWakeWatch::OnNetworkProperties(const QString& interfaceName, const QVariantMap& changed,
                                     const QStringList& invalidated)
{
    Q_UNUSED(invalidated);
    if (interfaceName != NetworkService)
        return;
    const auto state = changed.constFind(StateProperty);
    if (state == changed.constEnd())
        return;
    bool number = false;
    const quint32 value = state->toUInt(&number);
    if (number)
        SetNetworkState(value);
}

void TWakeWatch::OnNetworkOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    Q_UNUSED(name);
    Q_UNUSED(oldOwner);
    // Whatever an earlier owner said, or is still to answer, no longer holds.
    ++FStatesHeard;
    if (newOwner.isEmpty())
        SetOffline(false);
    else
        AskNetworkState();
}

void TWakeWatch::SetNetworkState(quint32 state)
{
    ++FStatesHeard;
    const bool wasOffline = FOffline;
    SetOffline(HasNoConnection(state));
    if (wasOffline && HasConnection(state))
        emit NetworkBack();
}

void TWakeWatch::SetOffline(bool offline)
{
    if (offline == FOffline)
        return;
    FOffline = offline;
    emit OfflineChanged(offline);
}

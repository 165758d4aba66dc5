#include "app/SingleInstance.h"

#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>

namespace
{

const QByteArray ShowRequest = "show\n";
const QByteArray ShowReply = "ok\n";
// A request is one short line; anything longer is not ours.
const qint64 MaxRequest = 64;
// Connecting to a listening local socket is immediate; the time covers a
// loaded machine.
const int ConnectTimeout = 1000;
// Two starts at the same moment take turns deciding who listens.
const int LockWait = 5000;

} // namespace

TSingleInstance::TSingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), Path(std::move(socketPath))
{
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::DisplayName()
{
    QString name;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb"))
    {
        name = qEnvironmentVariable("DISPLAY");
        // ":0" and ":0.0" are the same display.
        name.remove(QRegularExpression(QStringLiteral("\\.[0-9]+$")));
    }
    else if (platform.startsWith(QLatin1String("wayland")))
        name = QStringLiteral("wayland-") + qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("0"));
    if (name.isEmpty())
        name = platform.isEmpty() ? QStringLiteral("none") : platform;
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return name;
}

QString TSingleInstance::DefaultSocketPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder + QStringLiteral("/ternbell-") + DisplayName() + QStringLiteral(".socket");
}

bool TSingleInstance::Claim()
{
    Acknowledged = false;
    // The lock is held only while deciding. QLockFile takes over a lock whose
    // owner is gone; if it cannot be had at all the start goes on without it.
    QLockFile lock(Path + QStringLiteral(".lock"));
    lock.tryLock(LockWait);

    if (AskRunning())
        return false;

    // Whatever is left at the path answers nobody.
    QLocalServer::removeServer(Path);
    Server = std::make_unique<QLocalServer>();
    Server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!Server->listen(Path))
    {
        qWarning("ternbell: cannot listen on %s: %s", qPrintable(Path),
                 qPrintable(Server->errorString()));
        Server.reset();
        return true;
    }
    connect(Server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = Server->nextPendingConnection())
        {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { Serve(peer); });
            // The request may have arrived with the connection.
            if (peer->bytesAvailable() > 0)
                Serve(peer);
        }
    });
    return true;
}

bool TSingleInstance::AskRunning()
{
    QLocalSocket socket;
    socket.connectToServer(Path);
    if (!socket.waitForConnected(ConnectTimeout))
        return false;
    socket.write(ShowRequest);
    socket.waitForBytesWritten(ConnectTimeout);
    // A running instance busy in a check answers once the check ends; the
    // request waits in the socket for it either way.
    while (socket.bytesAvailable() < ShowReply.size() && socket.waitForReadyRead(ReplyTimeout))
    {
    }
    Acknowledged = socket.read(ShowReply.size()) == ShowReply;
    socket.disconnectFromServer();
    return true;
}

void TSingleInstance::Serve(QLocalSocket* peer)
{
    if (!peer->canReadLine())
    {
        if (peer->bytesAvailable() > MaxRequest)
            peer->abort();
        return;
    }
    const QByteArray line = peer->readLine(MaxRequest);
    if (line != ShowRequest)
    {
        peer->abort();
        return;
    }
    peer->write(ShowReply);
    peer->flush();
    peer->disconnectFromServer();
    if (OnShowSettings)
        OnShowSettings();
}

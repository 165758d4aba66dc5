#include "app/SingleInstance.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace
{

const QByteArray ShowRequest = "show\n";
const QByteArray ShowReply = "ok\n";
// A request is one short line; anything longer is not ours.
const qsizetype MaxRequest = 64;
// Connecting to a listening local socket is immediate; the time covers a
// loaded machine.
const int ConnectTimeout = 1000;
// Two starts at the same moment take turns deciding who listens.
const int LockWait = 5000;
// Connections held at once; a newer one pushes out the oldest, so peers that
// never speak cannot crowd out a real start.
const std::size_t MaxPeers = 8;
const int Backlog = 8;
// How long accepting rests after the process ran out of descriptors.
const int AcceptPause = 1000;

bool SocketAddress(const QString& path, sockaddr_un& address)
{
    const QByteArray name = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || name.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), name.size());
    return true;
}

timeval TimeValue(int milliseconds)
{
    return {milliseconds / 1000, (milliseconds % 1000) * 1000};
}

// Reads up to `size` bytes, until the peer ends or `timeout` ms have passed.
QByteArray ReadFor(int fd, qsizetype size, int timeout)
{
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    char chunk[16];
    while (data.size() < size)
    {
        const qint64 left = timeout - clock.elapsed();
        if (left <= 0)
            break;
        pollfd wanted{fd, POLLIN, 0};
        const int ready = ::poll(&wanted, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t got = ::recv(fd, chunk, std::min<qsizetype>(sizeof chunk, size - data.size()), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(chunk, got);
    }
    return data;
}

// Held only while deciding who listens. The kernel lets go of it with its
// holder, so a killed start leaves nothing to take over; and unlike a lock
// file with contents it costs no write to the disk. If it cannot be had at
// all the start goes on without it.
TDescriptor LockDecision(const QString& path)
{
    TDescriptor file(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!file.Valid())
        return file;
    QElapsedTimer clock;
    clock.start();
    while (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
    {
        if ((errno != EWOULDBLOCK && errno != EINTR) || clock.elapsed() >= LockWait)
            return TDescriptor();
        ::usleep(5000);
    }
    return file;
}

} // namespace

// One accepted connection: what it has sent so far, and how long it may take.
class TSingleInstance::TPeer : public QObject
{
public:
    TPeer(TDescriptor socket, QObject* parent)
        : QObject(parent), Socket(std::move(socket)), Notifier(Socket.Get(), QSocketNotifier::Read)
    {
        Deadline.setSingleShot(true);
    }

    // Ends the connection now; the object itself goes later, as it may be in
    // one of its own signals.
    void Close()
    {
        Notifier.setEnabled(false);
        Deadline.stop();
        Socket.Reset();
    }

    TDescriptor Socket;
    QSocketNotifier Notifier;
    QTimer Deadline;
    QByteArray Request;
};

TSingleInstance::TSingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), Path(std::move(socketPath))
{
}

TSingleInstance::~TSingleInstance()
{
    FAcceptNotifier.reset();
    for (TPeer* peer : FPeers)
        peer->Close();
    if (!FServer.Valid())
        return;
    // A later instance may have taken the path over; its socket stays.
    const QByteArray name = QFile::encodeName(Path);
    struct stat file{};
    if (::stat(name.constData(), &file) == 0 && file.st_dev == FSocketDevice && file.st_ino == FSocketInode)
        ::unlink(name.constData());
}

QString TSingleInstance::DisplayName()
{
    return DisplayNameFor(QGuiApplication::platformName(), qEnvironmentVariable("DISPLAY"),
                          qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("0")));
}

QString TSingleInstance::DisplayNameFor(const QString& platform, const QString& x11Display,
                                        const QString& waylandDisplay)
{
    QString name;
    if (platform == QLatin1String("xcb"))
    {
        name = x11Display;
        // ":0" and ":0.0" are the same display.
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        const QStringView screen = QStringView(name).mid(dot + 1);
        if (dot >= 0 && !screen.isEmpty() &&
            std::all_of(screen.begin(), screen.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            name.truncate(dot);
    }
    else if (platform.startsWith(QLatin1String("wayland")))
        name = QStringLiteral("wayland-") + waylandDisplay;
    if (name.isEmpty())
        name = platform.isEmpty() ? QStringLiteral("none") : platform;
    // A plain file name part; the regular expression engine is not worth
    // its memory for this.
    for (QChar& c : name)
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' ||
              c == u'_' || c == u'-'))
            c = u'_';
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
    const TDescriptor lock = LockDecision(Path + QStringLiteral(".lock"));

    if (AskRunning())
        return false;
    if (!Listen())
        return true;
    FAcceptNotifier = std::make_unique<QSocketNotifier>(FServer.Get(), QSocketNotifier::Read);
    connect(FAcceptNotifier.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
    return true;
}

bool TSingleInstance::AskRunning()
{
    sockaddr_un address;
    if (!SocketAddress(Path, address))
        return false;
    TDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return false;
    // A connect blocks only while the running instance's backlog is full.
    const timeval limit = TimeValue(ConnectTimeout);
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int connected;
    do
        connected = ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (connected != 0 && errno == EINTR);
    if (connected != 0)
    {
        // Someone listens but has not taken the earlier connections yet:
        // that is a running instance, not a leftover to take over.
        return errno == EAGAIN;
    }
    ssize_t sent;
    do
        sent = ::send(socket.Get(), ShowRequest.constData(), ShowRequest.size(), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    // A running instance busy in a check answers once the check ends; the
    // request waits in the socket for it either way.
    if (sent == ShowRequest.size())
        Acknowledged = ReadFor(socket.Get(), ShowReply.size(), ReplyTimeout) == ShowReply;
    return true;
}

bool TSingleInstance::Listen()
{
    const QByteArray name = QFile::encodeName(Path);
    sockaddr_un address;
    TDescriptor server(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!SocketAddress(Path, address) || !server.Valid())
    {
        qWarning("ternbell: cannot listen on %s: %s", name.constData(),
                 server.Valid() ? "the path is too long" : std::strerror(errno));
        return false;
    }
    // Whatever is left at the path answers nobody.
    ::unlink(name.constData());
    // Only this user may connect, also in the moment between bind and chmod.
    const mode_t previousMask = ::umask(0177);
    const bool bound = ::bind(server.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(previousMask);
    struct stat file{};
    if (!bound || ::chmod(name.constData(), 0600) != 0 || ::listen(server.Get(), Backlog) != 0
        || ::stat(name.constData(), &file) != 0)
    {
        const int error = errno;
        if (bound)
            ::unlink(name.constData());
        qWarning("ternbell: cannot listen on %s: %s", name.constData(), std::strerror(error));
        return false;
    }
    FSocketDevice = file.st_dev;
    FSocketInode = file.st_ino;
    FServer = std::move(server);
    return true;
}

void TSingleInstance::Accept()
{
    for (;;)
    {
        TDescriptor socket(::accept4(FServer.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.Valid())
        {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
            {
                // Out of descriptors: the connection stays pending and would
                // wake the loop at once, again and again.
                FAcceptNotifier->setEnabled(false);
                QTimer::singleShot(AcceptPause, this, [this] {
                    if (FAcceptNotifier)
                        FAcceptNotifier->setEnabled(true);
                });
            }
            return;
        }
        // The socket is the user's own, but the folder may not be: anyone
        // else's process is closed on at once.
        ucred peerCredentials{};
        socklen_t size = sizeof peerCredentials;
        if (::getsockopt(socket.Get(), SOL_SOCKET, SO_PEERCRED, &peerCredentials, &size) != 0
            || peerCredentials.uid != ::geteuid())
            continue;

        if (FPeers.size() >= MaxPeers)
            Drop(FPeers.front());
        auto* peer = new TPeer(std::move(socket), this);
        FPeers.push_back(peer);
        connect(&peer->Notifier, &QSocketNotifier::activated, this, [this, peer] { Serve(peer); });
        connect(&peer->Deadline, &QTimer::timeout, this, [this, peer] { Drop(peer); });
        peer->Deadline.start(PeerTimeout);
        // The request may have arrived with the connection.
        Serve(peer);
    }
}

void TSingleInstance::Serve(TPeer* peer)
{
    bool ended = false;
    char chunk[MaxRequest + 1];
    while (peer->Request.size() <= MaxRequest && !peer->Request.contains('\n'))
    {
        const ssize_t got = ::recv(peer->Socket.Get(), chunk, sizeof chunk, 0);
        if (got > 0)
            peer->Request.append(chunk, got);
        else if (got < 0 && errno == EINTR)
            continue;
        else
        {
            ended = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
    }
    const qsizetype end = peer->Request.indexOf('\n');
    if (end < 0)
    {
        if (ended || peer->Request.size() > MaxRequest)
            Drop(peer);
        return;
    }
    if (const QByteArray request = peer->Request.left(end + 1);
        end < MaxRequest && request != ShowRequest && OnRequest)
    {
        // Its notifier goes quiet before the connection changes hands.
        peer->Notifier.setEnabled(false);
        OnRequest(request, peer->Socket);
        Drop(peer);
        return;
    }
    if (end >= MaxRequest || peer->Request.left(end + 1) != ShowRequest)
    {
        Drop(peer);
        return;
    }
    // Three bytes fit in the empty buffer of a new connection; a peer that
    // has gone meanwhile only misses the answer.
    ::send(peer->Socket.Get(), ShowReply.constData(), ShowReply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Drop(peer);
    if (OnShowSettings)
        OnShowSettings();
}

void TSingleInstance::Drop(TPeer* peer)
{
    FPeers.erase(std::remove(FPeers.begin(), FPeers.end(), peer), FPeers.end());
    peer->Close();
    peer->deleteLater();
}

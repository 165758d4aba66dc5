#include "platform/TermSignal.h"

#include "platform/Exception.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// Where the handler writes; only a handler may read it, so it is a plain int.
volatile sig_atomic_t WriteEnd = -1;
struct sigaction Previous;

void OnSigTerm(int)
{
    const int saved = errno;
    const char byte = 1;
    // A full socket already holds a wake-up; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::send(WriteEnd, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}

} // namespace

TTermSignalWatcher::TTermSignalWatcher(std::function<void()> onTerm, QObject* parent)
    : QObject(parent), FOnTerm(std::move(onTerm))
{
    if (WriteEnd >= 0)
        throw Exception("SIGTERM is watched already.");
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0)
        throw Exception(std::string("SIGTERM cannot be watched: ") + std::strerror(errno));
    FRead = ends[0];
    WriteEnd = ends[1];
    struct sigaction action{};
    action.sa_handler = OnSigTerm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, &Previous) != 0)
    {
        const int error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        WriteEnd = -1;
        throw Exception(std::string("SIGTERM cannot be watched: ") + std::strerror(error));
    }
    FNotifier = std::make_unique<QSocketNotifier>(FRead, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
}

TTermSignalWatcher::~TTermSignalWatcher()
{
    ::sigaction(SIGTERM, &Previous, nullptr);
    FNotifier.reset();
    ::close(FRead);
    ::close(WriteEnd);
    WriteEnd = -1;
}

void TTermSignalWatcher::Drain()
{
    char bytes[64];
    bool signalled = false;
    while (::recv(FRead, bytes, sizeof bytes, 0) > 0)
        signalled = true;
    if (signalled && FOnTerm)
        FOnTerm();
}

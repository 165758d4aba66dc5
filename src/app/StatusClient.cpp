#include "app/StatusClient.h"

#include "app/SingleInstance.h"
#include "app/StatusChannel.h"
#include "app/StatusLine.h"

#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace
{

// A one-shot answer comes at once from an instance that runs; a loaded
// machine gets this long.
constexpr int AnswerTimeoutMs = 5000;
// A reader dropped before its first line (the instance had too many
// connections waiting at once) asks again.
constexpr int Attempts = 10;
// More than any status line holds: the bound of what is kept unread.
constexpr std::size_t MaxLine = 4 * 1024 * 1024;

enum class TConnected
{
    Yes,
    NoInstance,
    Failed,
};

TConnected Connect(const std::string& path, TDescriptor& socket)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return TConnected::NoInstance;
    std::memcpy(address.sun_path, path.data(), path.size());
    socket = TDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return TConnected::Failed;
    // A connect waits only while the instance's backlog is full.
    const timeval limit{1, 0};
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    int connected;
    do
        connected = ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (connected != 0 && errno == EINTR);
    if (connected == 0)
        return TConnected::Yes;
    return errno == EAGAIN ? TConnected::Failed : TConnected::NoInstance;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size())
    {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

enum class TRead
{
    Ended,      // the instance closed the connection after at least one line
    NoAnswer,   // closed, or silent, before any line
    OutputGone, // our reader closed the output
    Failed,
};

// Reads lines from the connection and prints each, as the options ask.
TRead Relay(int socket, const TStatusOptions& options, int out, std::string& why)
{
    std::string buffer;
    bool any = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AnswerTimeoutMs);
    for (;;)
    {
        int timeout = -1;
        if (!options.Follow || !any)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
            {
                why = "ternbell does not answer";
                return any ? TRead::Ended : TRead::Failed;
            }
            timeout = static_cast<int>(left.count());
        }
        // The output is watched too: a bar that went away ends the follower
        // at once, not at the next change.
        pollfd watched[2] = {{socket, POLLIN, 0}, {out, 0, 0}};
        const int ready = ::poll(watched, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return TRead::Failed;
        if (watched[1].revents & (POLLERR | POLLHUP))
            return TRead::OutputGone;
        if (ready == 0 || !(watched[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char chunk[4096];
        const ssize_t got = ::recv(socket, chunk, sizeof chunk, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return any ? TRead::Ended : TRead::NoAnswer;
        buffer.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;)
        {
            const std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            std::string shown = line;
            if (options.Format)
            {
                const std::optional<std::string> formatted = FormatStatus(*options.Format, line);
                if (!formatted)
                {
                    why = "ternbell sent no status";
                    return TRead::Failed;
                }
                shown = *formatted;
            }
            any = true;
            if (!WriteAll(out, shown + '\n'))
                return TRead::OutputGone;
            if (!options.Follow)
                return TRead::Ended;
        }
        if (buffer.size() > MaxLine)
        {
            why = "ternbell sent no status";
            return TRead::Failed;
        }
    }
}

} // namespace

std::string QuietRequest(int minutes)
{
    return "quiet " + std::to_string(minutes) + "\n";
}

std::optional<int> QuietMinutesOf(const std::string& request)
{
    constexpr std::string_view prefix = "quiet ";
    if (request.size() < prefix.size() + 2 || request.compare(0, prefix.size(), prefix) != 0 || request.back() != '\n')
        return std::nullopt;
    const std::string digits = request.substr(prefix.size(), request.size() - prefix.size() - 1);
    if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int minutes = std::stoi(digits);
    return minutes > 0 ? std::optional<int>(minutes) : std::nullopt;
}

std::optional<TStatusOptions> StatusOptionsOf(int argc, const char* const* argv, std::string& misuse)
{
    bool status = false;
    TStatusOptions options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--quiet")
        {
            const std::optional<int> minutes =
                i + 1 < argc ? QuietMinutesOf(QuietRequest(0).substr(0, 6) + argv[i + 1] + "\n") : std::nullopt;
            if (!minutes)
            {
                misuse = "ternbell: --quiet needs a number of minutes, such as 30\n";
                return std::nullopt;
            }
            ++i;
            options.Request = QuietRequest(*minutes);
            status = true;
        }
        else if (arg == "--resume")
        {
            options.Request = ResumeRequest;
            status = true;
        }
        else if (arg == "--status")
            status = true;
        else if (arg == "--follow")
            options.Follow = true;
        else if (arg == "--format")
        {
            if (i + 1 >= argc)
            {
                misuse = "ternbell: --format needs a text, such as \"{count}\"\n";
                return std::nullopt;
            }
            options.Format = argv[++i];
        }
    }
    if (!status && (options.Follow || options.Format))
        misuse = "ternbell: --follow and --format go with --status\n";
    if (!status)
        return std::nullopt;
    return options;
}

std::vector<std::string> StatusSocketPaths()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString x11 = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY", QStringLiteral("0"));
    std::vector<QString> platforms;
    // The toolkit's choice where the session names it, then X and Wayland.
    const QString chosen = qEnvironmentVariable("QT_QPA_PLATFORM").section(QLatin1Char(';'), 0, 0);
    if (!chosen.isEmpty())
        platforms.push_back(chosen.section(QLatin1Char(':'), 0, 0));
    if (!x11.isEmpty())
        platforms.push_back(QStringLiteral("xcb"));
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        platforms.push_back(QStringLiteral("wayland"));
    std::vector<std::string> paths;
    for (const QString& platform : platforms)
    {
        const std::string path =
            (folder + QStringLiteral("/ternbell-") + TSingleInstance::DisplayNameFor(platform, x11, wayland) +
             QStringLiteral(".socket"))
                .toStdString();
        if (std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.push_back(path);
    }
    return paths;
}

int RunStatus(const TStatusOptions& options, const std::vector<std::string>& socketPaths, int out, int err)
{
    // A closed output is noticed by the failed write, not by a signal.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string request =
        !options.Request.empty()
            ? options.Request
            : (options.Follow ? TStatusChannel::FollowRequest : TStatusChannel::StatusRequest).toStdString();
    std::string why = "ternbell is not running";
    for (const std::string& path : socketPaths)
        for (int attempt = 0; attempt < Attempts; ++attempt)
        {
            TDescriptor socket;
            const TConnected connected = Connect(path, socket);
            if (connected == TConnected::NoInstance)
                break;
            if (connected == TConnected::Failed || !WriteAll(socket.Get(), request))
            {
                why = "ternbell does not answer";
                std::this_thread::sleep_for(std::chrono::milliseconds(50 * (attempt + 1)));
                continue;
            }
            switch (Relay(socket.Get(), options, out, why))
            {
            case TRead::Ended:
            case TRead::OutputGone:
                return 0;
            case TRead::NoAnswer:
                why = "ternbell does not answer";
                std::this_thread::sleep_for(std::chrono::milliseconds(50 * (attempt + 1)));
                continue;
            case TRead::Failed:
                WriteAll(err, why + '\n');
                return 1;
            }
        }
    WriteAll(err, why + '\n');
    return 1;
}

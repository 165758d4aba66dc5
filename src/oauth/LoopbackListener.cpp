#include "oauth/LoopbackListener.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"
#include "platform/AsciiText.h"

#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace
{

// What one browser request may send and take: far past a redirect's.
constexpr std::size_t MaxRequest = 16384;
constexpr int RequestMilliseconds = 5000;

std::string PercentDecode(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const int high = text[i] == '%' && i + 2 < text.size() ? AsciiText::HexDigitValue(text[i + 1]) : -1;
        const int low = high >= 0 ? AsciiText::HexDigitValue(text[i + 2]) : -1;
        if (text[i] == '+')
            out += ' ';
        else if (low >= 0)
        {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
        else
            out += text[i];
    }
    return out;
}

std::string Escaped(const QString& text)
{
    return text.toHtmlEscaped().toUtf8().toStdString();
}

void Answer(int socket, int status, const QString& title, const QString& text)
{
    const std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + Escaped(title) +
                             "</title></head><body><p>" + Escaped(text) + "</p></body></html>";
    const std::string answer = "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Bad Request") +
                               "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                               std::to_string(body.size()) +
                               "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body;
    // The page is a courtesy; a browser that went away changes nothing.
    std::size_t sent = 0;
    while (sent < answer.size())
    {
        const ssize_t n = ::send(socket, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace

std::string QueryValue(const std::string& target, const std::string& name)
{
    const std::size_t question = target.find('?');
    if (question == std::string::npos)
        return {};
    std::size_t p = question + 1;
    while (p <= target.size())
    {
        std::size_t end = target.find('&', p);
        if (end == std::string::npos)
            end = target.size();
        const std::string pair = target.substr(p, end - p);
        const std::size_t equals = pair.find('=');
        if (PercentDecode(pair.substr(0, equals)) == name)
            return equals == std::string::npos ? std::string() : PercentDecode(pair.substr(equals + 1));
        p = end + 1;
    }
    return {};
}

TLoopbackListener::TLoopbackListener()
{
    FListen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) == 0)
    {
        FWake[0].Reset(pipe[0]);
        FWake[1].Reset(pipe[1]);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (!FListen.Valid() || !FWake[0].Valid() ||
        ::bind(FListen.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(FListen.Get(), 8) != 0 ||
        ::getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw EOAuthUnreachable(FormatOne(ResStr("The sign-in cannot listen on this machine: %s"), "%s",
                                          std::strerror(errno)));
    FPort = ntohs(address.sin_port);
}

TLoopbackListener::~TLoopbackListener() = default;

std::string TLoopbackListener::RedirectUri() const
{
    return "http://127.0.0.1:" + std::to_string(FPort) + "/";
}

void TLoopbackListener::Cancel()
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWake[1].Get(), &byte, 1);
}

TLoopbackListener::TAwaited TLoopbackListener::AwaitReadable(int socket, TIdClock::TTimePoint deadline,
                                                             TIdClock& clock)
{
    for (;;)
    {
        const int left = clock.Left(deadline);
        if (left == 0)
            return TAwaited::TimedOut;
        pollfd p[2] = {{socket, POLLIN, 0}, {FWake[0].Get(), POLLIN, 0}};
        const int ready = ::poll(p, 2, clock.Block(left));
        if (ready == 0)
            clock.WaitedOut(left);
        else if (ready < 0 && errno == EINTR)
            continue;
        else if (ready < 0 || (p[1].revents & POLLIN))
            return TAwaited::Cancelled;
        else
            return TAwaited::Readable;
    }
}

std::string TLoopbackListener::ReadRequest(int socket, TIdClock& clock)
{
    const auto deadline = clock.After(RequestMilliseconds);
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos)
    {
        if (request.size() > MaxRequest)
            return {};
        if (AwaitReadable(socket, deadline, clock) != TAwaited::Readable)
            return {};
        char chunk[4096];
        const ssize_t n = ::recv(socket, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0)
        {
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            return {};
        }
        request.append(chunk, static_cast<std::size_t>(n));
    }
    return request.substr(0, request.find('\n'));
}

TLoopbackListener::TRedirect TLoopbackListener::Wait(const std::string& state, TIdClock& clock,
                                                     std::chrono::milliseconds limit)
{
    const auto deadline = clock.Now() + limit;
    while (true)
    {
        const TAwaited awaited = AwaitReadable(FListen.Get(), deadline, clock);
        if (awaited == TAwaited::TimedOut)
            throw EOAuthCancelled(ResStr("The sign-in ran out of time."));
        if (awaited == TAwaited::Cancelled)
            throw EOAuthCancelled(ResStr("The sign-in was cancelled."));
        TDescriptor connection(::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!connection.Valid())
            continue;
        // "GET /?code=...&state=... HTTP/1.1"
        const std::string line = ReadRequest(connection.Get(), clock);
        const std::size_t space = line.find(' ');
        const std::size_t end = space == std::string::npos ? space : line.find(' ', space + 1);
        const std::string target = end == std::string::npos ? std::string() : line.substr(space + 1, end - space - 1);
        const std::string path = target.substr(0, target.find('?'));
        if (line.compare(0, 4, "GET ") != 0 || path != "/" || state.empty() || QueryValue(target, "state") != state)
        {
            Answer(connection.Get(), 400, ResText("Sign-in"),
                   ResText("This is not the sign-in ternbell is waiting for."));
            continue;
        }
        TRedirect redirect{QueryValue(target, "code"), QueryValue(target, "error"), QueryValue(target, "iss")};
        if (redirect.Error.empty() && redirect.Code.empty())
        {
            Answer(connection.Get(), 400, ResText("Sign-in"),
                   ResText("This is not the sign-in ternbell is waiting for."));
            continue;
        }
        if (!redirect.Error.empty())
            Answer(connection.Get(), 200, ResText("Sign-in"),
                   ResText("The sign-in did not succeed. You can close this tab and return to ternbell."));
        else
            Answer(connection.Get(), 200, ResText("Sign-in"), ResText("You can close this tab and return to ternbell."));
        return redirect;
    }
}

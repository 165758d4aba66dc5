#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size())
        {
            out += c;
            continue;
        }
        char e = text[++i];
        switch (e)
        {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x':
            if (i + 2 < text.size())
            {
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            }
            throw std::invalid_argument("ScriptedServer: bad \\x escape");
        default: out += '\\'; out += e; break;
        }
    }
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string Shown(const std::string& s)
{
    std::string out;
    for (unsigned char c : s)
    {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 32 || c >= 127)
        {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
        else
            out += static_cast<char>(c);
    }
    if (out.size() > 200)
        out = out.substr(0, 200) + "...";
    return "'" + out + "'";
}

} // namespace

ScriptedServer::ScriptedServer(const std::string& script, int stepTimeoutMs)
    : FStepTimeout(stepTimeoutMs)
{
    Parse(script);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("ScriptedServer: pipe failed");
    FStopRead = fds[0];
    FStopWrite = fds[1];
    FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), len) != 0
        || ::listen(FListen, 16) != 0 || ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    {
        int err = errno;
        if (FListen >= 0)
            ::close(FListen);
        ::close(FStopRead);
        ::close(FStopWrite);
        throw std::runtime_error(std::string("ScriptedServer: cannot listen: ") + std::strerror(err));
    }
    FPort = ntohs(addr.sin_port);
    FThread = std::thread(&ScriptedServer::Run, this);
}

ScriptedServer::~ScriptedServer()
{
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(FStopWrite, &byte, 1);
    FThread.join();
    CloseConnection();
    ::close(FListen);
    ::close(FStopRead);
    ::close(FStopWrite);
    for (const std::string& failure : FFailures)
        ADD_FAILURE() << "scripted server: " << failure;
}

void ScriptedServer::Parse(const std::string& script)
{
    std::size_t start = 0;
    int lineNo = 0;
    while (start <= script.size())
    {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos)
            end = script.size();
        std::string line = script.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        line.erase(0, first);
        if (line[0] == '#')
            continue;
        auto rest = [&line](std::size_t prefixLength) {
            std::string r = line.substr(prefixLength);
            // "S: x" and "S:x" both mean x; one space after the colon is syntax.
            if (!r.empty() && r[0] == ' ')
                r.erase(0, 1);
            return r;
        };
        if (StartsWith(line, "S:"))
            FSteps.push_back({Send, rest(2) + "\r\n", lineNo, 0});
        else if (StartsWith(line, "R:"))
            FSteps.push_back({Send, Unescape(rest(2)), lineNo, 0});
        else if (StartsWith(line, "C:"))
            FSteps.push_back({Expect, rest(2), lineNo, 0});
        else if (StartsWith(line, "C~"))
            FSteps.push_back({ExpectPrefix, rest(2), lineNo, 0});
        else if (line == "CLOSE")
            FSteps.push_back({Close, {}, lineNo, 0});
        else if (line == "RESET")
            FSteps.push_back({Reset, {}, lineNo, 0});
        else if (line == "WAIT CLOSE")
            FSteps.push_back({WaitClose, {}, lineNo, 0});
        else if (line == "STALL")
            FSteps.push_back({Stall, {}, lineNo, 0});
        else if (line == "ACCEPT")
            FSteps.push_back({Accept, {}, lineNo, 0});
        else if (StartsWith(line, "FLOOD ") || StartsWith(line, "DRIP "))
        {
            const bool flood = StartsWith(line, "FLOOD ");
            std::istringstream words(line.substr(flood ? 6 : 5));
            long long number = 0;
            words >> number;
            std::string text;
            std::getline(words, text);
            text = Unescape(text.empty() ? text : text.substr(1));
            if (text.empty() || number < 0 || number > INT_MAX)
                throw std::invalid_argument("ScriptedServer: bad " + line);
            FSteps.push_back({flood ? Flood : Drip, text, lineNo, static_cast<int>(number)});
        }
        else if (StartsWith(line, "SLEEP "))
            FSteps.push_back({Sleep, {}, lineNo, std::stoi(line.substr(6))});
        else
            throw std::invalid_argument("ScriptedServer: cannot read script line " + std::to_string(lineNo) + ": " + line);
        if (end == script.size())
            break;
    }
}

bool ScriptedServer::Stopping()
{
    pollfd fd = {FStopRead, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

void ScriptedServer::Fail(const std::string& message)
{
    std::lock_guard<std::mutex> lock(FLock);
    FFailures.push_back(message);
}

void ScriptedServer::CloseConnection()
{
    if (FConn >= 0)
    {
        ::close(FConn);
        FConn = -1;
    }
    FPending.clear();
    FClientEof = false;
}

bool ScriptedServer::AcceptNext()
{
    CloseConnection();
    pollfd fds[2] = {{FListen, POLLIN, 0}, {FStopRead, POLLIN, 0}};
    int n = ::poll(fds, 2, FStepTimeout);
    if (n <= 0 || fds[1].revents)
    {
        if (n == 0)
            Fail("no client connected within " + std::to_string(FStepTimeout) + " ms");
        return false;
    }
    FConn = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (FConn < 0)
    {
        Fail(std::string("accept failed: ") + std::strerror(errno));
        return false;
    }
    std::lock_guard<std::mutex> lock(FLock);
    ++FConnections;
    return true;
}

int ScriptedServer::ReadSome(int timeoutMs)
{
    if (FConn < 0 || FClientEof)
        return 0;
    pollfd fds[2] = {{FConn, POLLIN, 0}, {FStopRead, POLLIN, 0}};
    int n = ::poll(fds, 2, timeoutMs);
    if (n <= 0 || fds[1].revents)
        return -1;
    char buf[65536];
    ssize_t got = ::recv(FConn, buf, sizeof buf, 0);
    if (got <= 0)
    {
        FClientEof = true;
        return 0;
    }
    FPending.append(buf, static_cast<std::size_t>(got));
    std::lock_guard<std::mutex> lock(FLock);
    FReceived.append(buf, static_cast<std::size_t>(got));
    return 1;
}

std::size_t ScriptedServer::SendSome(const char* bytes, std::size_t size)
{
    for (;;)
    {
        pollfd fds[2] = {{FConn, POLLOUT, 0}, {FStopRead, POLLIN, 0}};
        int ready = ::poll(fds, 2, FStepTimeout);
        if (ready > 0 && fds[1].revents)
            return 0;
        if (ready == 0)
        {
            Fail("the client took nothing for " + std::to_string(FStepTimeout) + " ms");
            return 0;
        }
        ssize_t n = ::send(FConn, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

bool ScriptedServer::RunStep(const Step& step)
{
    std::string where = "script line " + std::to_string(step.Line) + ": ";
    switch (step.What)
    {
    case Send:
    {
        // A client that stops reading must not hold the server: every send
        // waits with the step time-out and gives way to a stop.
        std::size_t sent = 0;
        while (sent < step.Text.size())
        {
            pollfd fds[2] = {{FConn, POLLOUT, 0}, {FStopRead, POLLIN, 0}};
            int ready = ::poll(fds, 2, FStepTimeout);
            if (ready > 0 && fds[1].revents)
                return false;
            if (ready == 0)
            {
                Fail(where + "the client took nothing for " + std::to_string(FStepTimeout) + " ms");
                return false;
            }
            ssize_t n = ::send(FConn, step.Text.data() + sent, step.Text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
            {
                Fail(where + "send failed: " + std::strerror(errno));
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    case Expect:
    case ExpectPrefix:
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FStepTimeout);
        std::size_t lf;
        while ((lf = FPending.find('\n')) == std::string::npos)
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            int r = left.count() > 0 ? ReadSome(static_cast<int>(left.count())) : -1;
            if (r == 0)
            {
                Fail(where + "expected " + Shown(step.Text) + ", the client closed the connection after "
                     + Shown(FPending));
                return false;
            }
            if (r < 0)
            {
                if (!Stopping())
                    Fail(where + "expected " + Shown(step.Text) + ", nothing came within "
                         + std::to_string(FStepTimeout) + " ms (pending " + Shown(FPending) + ")");
                return false;
            }
        }
        std::string line = FPending.substr(0, lf + 1);
        FPending.erase(0, lf + 1);
        std::string want = step.Text + "\r\n";
        bool ok = step.What == Expect ? line == want
                                      : line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0
                                            && StartsWith(line, step.Text);
        if (!ok)
        {
            Fail(where + "expected " + Shown(step.What == Expect ? want : step.Text + "...") + ", got "
                 + Shown(line));
            return false;
        }
        return true;
    }
    case Close:
        ::shutdown(FConn, SHUT_WR);
        return true;
    case Reset:
    {
        linger abort = {1, 0};
        ::setsockopt(FConn, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(FConn);
        FConn = -1;
        FPending.clear();
        return true;
    }
    case WaitClose:
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FStepTimeout);
        for (;;)
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            int r = left.count() > 0 ? ReadSome(static_cast<int>(left.count())) : -1;
            if (r == 0)
                return true;
            if (r < 0)
            {
                if (!Stopping())
                    Fail(where + "the client did not close within " + std::to_string(FStepTimeout) + " ms");
                return false;
            }
        }
    }
    case Stall:
        while (ReadSome(-1) > 0)
        {
        }
        return !Stopping();
    case Sleep:
    {
        pollfd fd = {FStopRead, POLLIN, 0};
        return ::poll(&fd, 1, step.Millis) == 0;
    }
    case Accept:
        return AcceptNext();
    case Flood:
    {
        std::string chunk;
        while (chunk.size() < 65536)
            chunk += step.Text;
        std::size_t left = static_cast<std::size_t>(step.Millis);
        std::size_t offset = 0; // into the repeating text
        while (left > 0)
        {
            const std::size_t size = std::min(left, chunk.size() - offset);
            const std::size_t sent = SendSome(chunk.data() + offset, size);
            if (sent == 0)
                return false;
            left -= sent;
            offset = (offset + sent) % step.Text.size();
        }
        return true;
    }
    case Drip:
        for (char c : step.Text)
        {
            pollfd fd = {FStopRead, POLLIN, 0};
            if (SendSome(&c, 1) == 0 || ::poll(&fd, 1, step.Millis) != 0)
                return false;
        }
        return true;
    }
    return false;
}

void ScriptedServer::Run()
{
    bool ok = AcceptNext();
    for (std::size_t i = 0; ok && i < FSteps.size(); ++i)
    {
        if (FConn < 0 && FSteps[i].What != Accept && FSteps[i].What != Sleep)
        {
            Fail("script line " + std::to_string(FSteps[i].Line) + ": no connection (after RESET, use ACCEPT)");
            ok = false;
            break;
        }
        ok = RunStep(FSteps[i]);
        if (!ok && FSteps[i].What != Stall && Stopping() && Failures().empty())
            Fail("the test ended while the script waited at line " + std::to_string(FSteps[i].Line));
    }
    if (!ok)
        CloseConnection(); // the client sees the end instead of waiting for a reply
    {
        std::lock_guard<std::mutex> lock(FLock);
        FDone = true;
        FScriptEnd = FReceived.size();
    }
    FChanged.notify_all();
    if (ok)
        while (ReadSome(-1) > 0)
        {
        }
    std::lock_guard<std::mutex> lock(FLock);
    FClosedAtEnd = FConn < 0 || FClientEof;
    FChanged.notify_all();
}

bool ScriptedServer::WaitDone(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FDone; });
}

bool ScriptedServer::WaitClientClosed(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return FClosedAtEnd; });
}

std::string ScriptedServer::Received() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FReceived;
}

std::string ScriptedServer::ReceivedAfterScript() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FScriptEnd == std::string::npos ? std::string() : FReceived.substr(FScriptEnd);
}

std::vector<std::string> ScriptedServer::ReceivedLines() const
{
    std::string all = Received();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < all.size())
    {
        std::size_t lf = all.find('\n', start);
        std::string line = all.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (!line.empty() && line.back() == '\r' && lf != std::string::npos)
            line.pop_back();
        lines.push_back(line);
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return lines;
}

std::vector<std::string> ScriptedServer::Failures() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FFailures;
}

int ScriptedServer::Connections() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FConnections;
}

int ScriptedServer::UnusedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

#include "mail/IdIOHandler.h"

#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"

#include <algorithm>

TIdIOHandler::TIdIOHandler() = default;

TIdIOHandler::~TIdIOHandler() = default;

void TIdIOHandler::DoStatus(TIdStatus status, const std::string& text)
{
    if (OnStatus)
        OnStatus(status, text);
}

void TIdIOHandler::Open()
{
    FIsOpen = false;
    FPeerClosed = false;
    FRecvBuffer.assign(static_cast<std::size_t>(std::max(RecvBufferSize, 1)), 0);
    FInputBuffer.Clear();
    FHasDeadline = OperationTimeout > 0;
    if (FHasDeadline)
        FDeadline = TimeSource().After(OperationTimeout);
    FIsOpen = true;
}

void TIdIOHandler::Close() noexcept
{
    FIsOpen = false;
}

void TIdIOHandler::CheckForDisconnect(bool raiseIfDisconnected, bool ignoreBuffer)
{
    if (FPeerClosed && SocketAllocated())
    {
        CloseSocket();
        DoStatus(hsDisconnected, "Disconnected.");
    }
    bool gone = FPeerClosed || !SocketAllocated();
    if (gone && raiseIfDisconnected && (ignoreBuffer || FInputBuffer.Empty()))
        throw EIdConnClosedGracefully();
}

int TIdIOHandler::ReceiveChunk(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout)
{
    if (timeout == -1)
        timeout = ReadTimeout > 0 ? ReadTimeout : -1;
    else if (timeout < -1)
        timeout = -1;
    CheckForDisconnect(raiseIfDisconnected, false);
    if (!SocketAllocated())
    {
        if (raiseIfDisconnected)
            throw EIdException("Not Connected");
        return 0;
    }
    int count = 0;
    do
    {
        // A wait shortened by the session's deadline raises rather than
        // returning a time-out: the whole session is over, not one read.
        bool deadlineWait = false;
        if (FHasDeadline && timeout != 0)
        {
            const int left = TimeSource().Left(FDeadline);
            if (left <= 0)
                throw EIdOperationTimeout();
            if (timeout < 0 || left < timeout)
            {
                timeout = left;
                deadlineWait = true;
            }
        }
        int size = static_cast<int>(std::min<std::size_t>(FRecvBuffer.size(),
                                                          static_cast<std::size_t>(std::max(RecvBufferSize, 1))));
        // One receive that waits at most the limit, as a bare blocking
        // receive would: no wait of its own before it.
        count = ReadDataWithin(FRecvBuffer.data(), size, timeout);
        if (count == NothingYet)
        {
            if (deadlineWait)
                throw EIdOperationTimeout();
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
        }
        if (count > 0)
            FInputBuffer.Write(FRecvBuffer.data(), static_cast<std::size_t>(count));
        else
            FPeerClosed = true;
        CheckForDisconnect(raiseIfDisconnected, false);
    } while (count == 0 && SocketAllocated());
    return count;
}

int TIdIOHandler::ReadDataWithin(char* buffer, int size, int milliseconds)
{
    if (milliseconds >= 0 && !WaitReadable(milliseconds))
        return NothingYet;
    return ReadDataFromSource(buffer, size);
}

bool TIdIOHandler::Connected()
{
    try
    {
        ReceiveChunk(false, 0, false);
    }
    catch (const EIdException&)
    {
        // A reset found by the poll: the connection is over, not the query.
        if (SocketAllocated())
        {
            CloseSocket();
            DoStatus(hsDisconnected, "Disconnected.");
        }
    }
    bool live = SocketAllocated() && FIsOpen && !(FPeerClosed && FInputBuffer.Empty());
    return live || !FInputBuffer.Empty();
}

void TIdIOHandler::Write(const std::string& bytes)
{
    CheckForDisconnect(true, true);
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1u << 30));
        int n = WriteDataToTarget(bytes.data() + sent, chunk);
        if (n <= 0)
        {
            FPeerClosed = true;
            CheckForDisconnect(true, false);
            // Bytes still queued: the peer is gone all the same.
            throw EIdConnClosedGracefully();
        }
        sent += static_cast<std::size_t>(n);
    }
}

void TIdIOHandler::WriteLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    Write(line);
}

std::string TIdIOHandler::ReadLine(const std::string& terminator, int timeout, int maxLength)
{
    static const std::string LF("\n");
    const std::string& term = terminator.empty() ? LF : terminator;
    if (maxLength < 0)
        maxLength = MaxLineLength;
    FLastReadSplit = false;
    FLastReadTimedOut = false;
    TIdClock& clock = TimeSource();
    TIdClock::TTimePoint end;
    if (timeout >= 0)
        end = clock.After(timeout);
    std::size_t searchFrom = 0;
    long pos;
    for (;;)
    {
        pos = FInputBuffer.IndexOf(term, searchFrom);
        std::size_t size = FInputBuffer.Size();
        if (maxLength > 0 && ((pos >= 0 && pos > maxLength) || (pos < 0 && size > static_cast<std::size_t>(maxLength))))
        {
            if (MaxLineAction == maException)
                throw EIdReadLnMaxLineLengthExceeded();
            FLastReadSplit = true;
            return FInputBuffer.Extract(static_cast<std::size_t>(maxLength));
        }
        if (pos >= 0)
            break;
        // Resume where this search stopped; a terminator may straddle the end.
        searchFrom = size >= term.size() ? size - term.size() + 1 : 0;
        CheckForDisconnect(true, true);
        int received = ReceiveChunk(true, timeout, false);
        if (received == -1)
        {
            FLastReadTimedOut = true;
            return {};
        }
        if (timeout >= 0)
        {
            if (clock.Left(end) <= 0)
            {
                FLastReadTimedOut = true;
                return {};
            }
        }
    }
    std::string line = FInputBuffer.Extract(static_cast<std::size_t>(pos));
    FInputBuffer.Remove(term.size());
    if (term == "\n" && !line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string TIdIOHandler::ReadLineOrTimeout()
{
    std::string line = ReadLine();
    if (FLastReadTimedOut)
        throw EIdReadTimeout();
    return line;
}

std::string TIdIOHandler::ReadLineSkippingBlanks(int attempts)
{
    for (int i = 0; i < attempts; ++i)
    {
        std::string line = ReadLineOrTimeout();
        AsciiText::TrimInPlace(line);
        if (!line.empty())
            return line;
    }
    return {};
}

void TIdIOHandler::ReadDotTerminated(TIdStrings& lines)
{
    int count = 0;
    std::size_t bytes = 0;
    for (;;)
    {
        std::string line = ReadLineOrTimeout();
        if (line == ".")
            return;
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.erase(0, 1);
        bytes += line.size();
        if (++count > MaxReplyLines || bytes > MaxReplyBytes)
            throw EIdReplyTooLarge();
        lines.push_back(std::move(line));
    }
}

std::string TIdIOHandler::ReadDotTerminatedStart(std::size_t keep, int* lines)
{
    std::string kept;
    int count = 0;
    std::size_t read = 0;
    bool lineStart = true; // the queue's head begins a line, not a line's rest
    const std::size_t maxLength = MaxLineLength > 0 ? static_cast<std::size_t>(MaxLineLength) : MaxReplyBytes;
    for (;;)
    {
        const std::string_view live = FInputBuffer.View();
        const std::size_t lf = live.find('\n');
        const bool whole = lf != std::string_view::npos && lf <= maxLength;
        if (!whole && live.size() <= maxLength)
        {
            CheckForDisconnect(true, true);
            if (ReceiveChunk(true, -1, false) == -1)
                throw EIdReadTimeout();
            continue;
        }
        std::string_view line = live.substr(0, whole ? lf : maxLength);
        const std::size_t consumed = whole ? lf + 1 : maxLength;
        if (whole && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (lineStart && whole && line == ".")
        {
            FInputBuffer.Remove(consumed);
            if (lines)
                *lines = count;
            return kept;
        }
        if ((lineStart && ++count > MaxReplyLines) || (read += consumed) / HeaderFloodFactor > MaxReplyBytes)
            throw EIdReplyTooLarge();
        if (lineStart && line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.remove_prefix(1);
        if (kept.size() < keep)
        {
            kept.append(line.substr(0, keep - kept.size()));
            if (whole)
                kept.append("\r\n", std::min<std::size_t>(2, keep - kept.size()));
        }
        FInputBuffer.Remove(consumed);
        lineStart = whole;
    }
}

std::string TIdIOHandler::ReadExactBytes(int count)
{
    if (count <= 0)
        return {};
    std::size_t wanted = static_cast<std::size_t>(count);
    std::string result = FInputBuffer.Extract(wanted);
    while (result.size() < wanted && Connected())
    {
        std::size_t chunk = std::min(wanted - result.size(), static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
        while (FInputBuffer.Size() < chunk && SocketAllocated())
            ReceiveChunk(true, -1, true);
        result += FInputBuffer.Extract(chunk);
    }
    return result;
}

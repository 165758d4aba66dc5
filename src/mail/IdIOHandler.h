#pragma once

#include "mail/IdBuffer.h"
#include "mail/IdClock.h"
#include "mail/IdLineAbort.h"
#include "mail/MailLimits.h"
#include "mail/MailTypes.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Where and how a client connects. The handler holds a copy, taken from its
// connection at each connect.
struct TIdConnectSettings
{
    std::string Host;
    int Port = 0;
    // 0: connect on the caller's thread, the system's own limit applies;
    // -1: on the connect thread without limit; else milliseconds.
    int ConnectTimeout = 0;
    // -1 or 0: reads wait without limit; else milliseconds per wait.
    int ReadTimeout = -1;
    // 0 or less: no limit; else milliseconds from the start of the connect
    // for the whole session, however the reads are paced.
    int OperationTimeout = 0;
    TIdIPVersion IPVersion = Id_IPv4;
    std::string BoundIP;
    int BoundPort = 0;
    // The time source of every limit above; null: the steady clock.
    std::shared_ptr<TIdClock> Clock;
    // Another thread's way to end the connection at once; null: none.
    std::shared_ptr<TIdLineAbort> LineAbort;
    // 0 or less: off. Else TCP keep-alive: the first probe after this many
    // seconds of silence, then five more a sixth of it apart, so a peer that
    // is gone without a word is noticed after about twice this time (unsent
    // data is given up after the same time).
    int KeepAlive = 0;
};

// Line and byte reading and writing over an input queue. The transport
// (a socket, in IdIOHandlerStack.h) is supplied by the subclasses; everything that parses the
// byte stream lives in this class.
class TIdIOHandler : public TIdConnectSettings
{
public:
    TIdIOHandler();
    virtual ~TIdIOHandler();
    TIdIOHandler(const TIdIOHandler&) = delete;
    TIdIOHandler& operator=(const TIdIOHandler&) = delete;

    int MaxLineLength = 16384;
    TIdMaxLineAction MaxLineAction = maException;
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;
    bool UseNagle = true;

    // Status observer; the connection forwards it to its own.
    std::function<void(TIdStatus, const std::string&)> OnStatus;

    bool IsOpen() const { return FIsOpen; }
    bool PeerClosed() const { return FPeerClosed; }
    bool LastReadTimedOut() const { return FLastReadTimedOut; }
    bool LastReadSplit() const { return FLastReadSplit; }
    TIdBuffer& InputBuffer() { return FInputBuffer; }
    TIdClock& TimeSource() const { return Clock ? *Clock : TIdSteadyClock::Instance(); }

    // Opens the handler with a fresh input queue; subclasses connect here.
    virtual void Open();
    // Releases the socket and clears IsOpen. Bytes already queued stay.
    virtual void Close() noexcept;
    // Polls without waiting, then: open with a live socket and not closed by
    // the peer, or bytes still queued.
    virtual bool Connected();
    // True when the socket has bytes to receive within the time (-1: no
    // limit). Does not look at the input queue.
    virtual bool WaitReadable(int milliseconds) = 0;

    // When the peer closed, closes the socket. Raises "Connection Closed
    // Gracefully." when the connection is gone and raising is asked for,
    // unless bytes are still queued and the queue is not ignored.
    void CheckForDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false);
    // One receive into the input queue. `timeout` -1 means ReadTimeout.
    // Returns the byte count, 0 without a socket, -1 on a time-out that does
    // not raise.
    int ReceiveChunk(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout);

    void Write(const std::string& bytes);
    // Sends `text` and CR LF in one write.
    void WriteLine(const std::string& text);

    // Reads up to `terminator` (empty: LF); a CR before an LF terminator is
    // dropped. A read that times out returns an empty line and sets
    // LastReadTimedOut.
    std::string ReadLine(const std::string& terminator = "\n", int timeout = -1, int maxLength = -1);
    // ReadLine with its defaults, except that a time-out raises "Read
    // Timeout": loops over lines must not take a time-out for an empty line.
    std::string ReadLineOrTimeout();
    // Returns the first line that is not blank after trimming; empty after
    // `attempts` blank lines.
    std::string ReadLineSkippingBlanks(int attempts = MaxBlankLinesSkipped);
    // Appends lines up to the one that is exactly "."; a leading ".." loses
    // one full stop. Raises EIdReplyTooLarge past MaxReplyLines or
    // MaxReplyBytes.
    void ReadDotTerminated(TIdStrings& lines);
    // Reads the lines up to the one that is exactly "." under the same
    // bounds, keeping only their first `keep` bytes, as CR LF lines, a
    // leading ".." losing one full stop; the lines are looked at in the
    // queue, not copied. A line longer than MaxLineLength is read in parts.
    // `lines`, where given, gets the number of lines read, kept or not.
    std::string ReadDotTerminatedStart(std::size_t keep, int* lines = nullptr);
    // Exactly `count` bytes, fewer only when the peer closed in between.
    std::string ReadExactBytes(int count);

protected:
    virtual bool SocketAllocated() const = 0;
    virtual void CloseSocket() noexcept = 0;
    // Receives at most `size` bytes; 0 when the peer closed. Raises on errors.
    virtual int ReadDataFromSource(char* buffer, int size) = 0;
    // As ReadDataFromSource, waiting at most `milliseconds` (0: not at all,
    // -1: without limit) for something to arrive; NothingYet when nothing did.
    static constexpr int NothingYet = -1;
    virtual int ReadDataWithin(char* buffer, int size, int milliseconds);
    // Sends at most `size` bytes; returns how many went. Raises on errors.
    virtual int WriteDataToTarget(const char* bytes, int size) = 0;

    void DoStatus(TIdStatus status, const std::string& text);

private:
    TIdBuffer FInputBuffer;
    std::vector<char> FRecvBuffer;
    bool FIsOpen = false;
    bool FPeerClosed = false;
    bool FLastReadTimedOut = false;
    bool FLastReadSplit = false;
    // When OperationTimeout runs out; set by Open.
    TIdClock::TTimePoint FDeadline;
    bool FHasDeadline = false;
};

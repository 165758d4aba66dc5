// The IDLE exchange of the IMAP4 client.
#include "mail/Imap4Client.h"

#include "mail/IdExceptions.h"
#include "mail/IdIOHandler.h"
#include "mail/Imap4Idle.h"
#include "platform/AsciiText.h"

#include <algorithm>

using namespace AsciiText;
using State = TIdIMAP4ConnectionState;
using Kind = TIdIMAP4IdleLineKind;

namespace
{

// The text after the tag and status word of a completion.
std::string CompletionText(const std::string& line)
{
    std::size_t at = line.find(' ');
    at = at == std::string::npos ? at : line.find(' ', at + 1);
    return at == std::string::npos ? std::string() : Trim(line.substr(at + 1));
}

// A line NOTIFY brings of a mailbox other than the selected one: a state
// that changed, a mailbox made, renamed or gone, or the server giving up.
// A name sent as a literal ("* STATUS {9}") is news all the same: it only
// makes the account be checked.
bool FolderNews(const std::string& line)
{
    const TIdIMAP4NotifyKind kind = ParseNotifyLine(line).Kind;
    if (kind == TIdIMAP4NotifyKind::Status || kind == TIdIMAP4NotifyKind::List ||
        kind == TIdIMAP4NotifyKind::Overflow)
        return true;
    const std::string start = UpperCase(Trim(line).substr(0, 9));
    return start.rfind("* STATUS ", 0) == 0 || start.rfind("* LIST ", 0) == 0;
}

} // namespace

bool TIdIMAP4::SupportsIdle() const
{
    return HasCapability("IDLE");
}

bool TIdIMAP4::ReadIdleLine(const TIdClock::TTimePoint* deadline, std::string& line)
{
    TIdIOHandler& handler = Handler();
    for (;;)
    {
        // Only a whole line, or one past the cap, is taken from the queue:
        // the read itself never waits, so the deadline alone decides.
        const TIdBuffer& queue = handler.InputBuffer();
        const bool pastCap = handler.MaxLineLength > 0
                             && queue.Size() > static_cast<std::size_t>(handler.MaxLineLength);
        if (pastCap || queue.IndexOf("\n") >= 0)
        {
            line = Trim(handler.ReadLine());
            return true;
        }
        // What is queued of a line the peer left unfinished never ends.
        if (handler.PeerClosed())
            throw EIdConnClosedGracefully();
        int wait = -2; // no limit
        if (deadline)
        {
            wait = handler.TimeSource().Left(*deadline);
            if (wait <= 0)
                return false;
        }
        handler.ReceiveChunk(true, wait, false);
    }
}

void TIdIMAP4::RethrowIdleFailure()
{
    FIdling = false;
    FIdleNews = false;
    ConnectionState = State::Lost;
    // A shut-down socket reads as closed by the peer; the caller ended it.
    if (LineAbort && LineAbort->Aborted())
        throw EIdLineAborted();
    throw;
}

TIdIMAP4IdleLineKind TIdIMAP4::ReadIdleAnswer(bool toContinuation, bool& news)
{
    TIdIOHandler& handler = Handler();
    const int limit = handler.ReadTimeout;
    const TIdClock::TTimePoint deadline = handler.TimeSource().After(std::max(limit, 0));
    std::string line;
    for (int lines = 0;; ++lines)
    {
        if (lines >= MaxReplyLines)
            throw EIdReplyTooLarge();
        if (!ReadIdleLine(limit > 0 ? &deadline : nullptr, line))
            throw EIdReadTimeout();
        const TIdIMAP4IdleLine parsed = ParseIdleLine(line, FIdleTag);
        switch (parsed.Kind)
        {
        case Kind::Continuation:
            if (toContinuation)
                return parsed.Kind;
            break;
        case Kind::News:
            news = true;
            break;
        case Kind::Bye:
            throw EIdDisconnectedProbablyIdledOut();
        case Kind::TaggedOk:
        case Kind::TaggedNo:
        case Kind::TaggedBad:
        {
            TIdReplyIMAP4& reply = LastReplyIMAP4();
            reply.Clear();
            reply.Code = parsed.Kind == Kind::TaggedOk ? "OK" : parsed.Kind == Kind::TaggedNo ? "NO" : "BAD";
            reply.SideLines = {CompletionText(line)};
            return parsed.Kind;
        }
        case Kind::Other:
            news = news || FolderNews(line);
            break;
        }
    }
}

bool TIdIMAP4::IdleStart()
{
    CheckConnectionState({State::Selected});
    if (FIdling)
        throw EIdConnectionStateError("Unable to execute command, IDLE is running already.");
    FIdleNews = false;
    FIdleTag = NextTag();
    try
    {
        // No drain first: what came since the last command is news too.
        WriteCommand(FIdleTag + " IDLE");
        bool news = false;
        FIdling = ReadIdleAnswer(true, news) == Kind::Continuation;
        // Refused (or ended at once): the mailbox stays selected and the
        // caller goes on without IDLE, checking as before.
        FIdleNews = FIdling && news;
        return FIdling;
    }
    catch (...)
    {
        RethrowIdleFailure();
    }
}

bool TIdIMAP4::IdleWait(int milliseconds, int anyLineAfter)
{
    if (!FIdling)
        throw EIdConnectionStateError("Unable to execute command, no IDLE is running.");
    if (FIdleNews)
    {
        FIdleNews = false;
        return true;
    }
    try
    {
        TIdClock& clock = Handler().TimeSource();
        const TIdClock::TTimePoint deadline = clock.After(std::max(milliseconds, 0));
        const TIdClock::TTimePoint anyLineFrom = clock.After(std::max(anyLineAfter, 0));
        std::string line;
        for (;;)
        {
            if (!ReadIdleLine(&deadline, line))
                return false;
            const TIdIMAP4IdleLine parsed = ParseIdleLine(line, FIdleTag);
            switch (parsed.Kind)
            {
            case Kind::News:
                return true;
            case Kind::Bye:
                throw EIdDisconnectedProbablyIdledOut();
            case Kind::TaggedOk:
            case Kind::TaggedNo:
            case Kind::TaggedBad:
                throw EIdReplyIMAP4Error("Unexpected: IDLE ended by the server, offending line: " + line);
            case Kind::Other:
                if (FolderNews(line))
                    return true;
                [[fallthrough]];
            case Kind::Continuation:
                if (anyLineAfter >= 0 && clock.Left(anyLineFrom) <= 0)
                    return false;
                break;
            }
            // A server that never stops talking must not hold the wait.
            if (clock.Left(deadline) <= 0)
                return false;
        }
    }
    catch (...)
    {
        RethrowIdleFailure();
    }
}

bool TIdIMAP4::IdleDone()
{
    if (!FIdling)
        throw EIdConnectionStateError("Unable to execute command, no IDLE is running.");
    FIdling = false;
    bool news = FIdleNews;
    FIdleNews = false;
    try
    {
        WriteCommand("DONE");
        // A continuation here is only the server being late; it means nothing.
        if (ReadIdleAnswer(false, news) != Kind::TaggedOk)
            LastReplyIMAP4().RaiseReplyFailure();
        return news;
    }
    catch (...)
    {
        RethrowIdleFailure();
    }
}

bool TIdIMAP4::IdleRenew(bool noop)
{
    if (!FIdling)
        throw EIdConnectionStateError("Unable to execute command, no IDLE is running.");
    FIdling = false;
    bool news = FIdleNews;
    FIdleNews = false;
    const std::string noopTag = noop ? NextTag() : std::string();
    const std::string tag = NextTag();
    try
    {
        // One write, so that a renewal wakes us once rather than for each
        // answer.
        WriteCommand("DONE\r\n" + (noop ? noopTag + " NOOP\r\n" : std::string()) + tag + " IDLE");
        if (ReadIdleAnswer(false, news) != Kind::TaggedOk)
            LastReplyIMAP4().RaiseReplyFailure();
        if (noop)
        {
            // The NOOP's completion is read as an IDLE's: its untagged
            // lines are news as they would be while idling.
            FIdleTag = noopTag;
            if (ReadIdleAnswer(false, news) != Kind::TaggedOk)
                LastReplyIMAP4().RaiseReplyFailure();
        }
        FIdleTag = tag;
        FIdling = ReadIdleAnswer(true, news) == Kind::Continuation;
        return news;
    }
    catch (...)
    {
        RethrowIdleFailure();
    }
}

#pragma once

#include "platform/Exception.h"

#include <string>
#include <utility>

// Every error the mail library raises. Messages are the untranslated English
// texts; the error box translates them when it shows them.

// Root of the mail library's errors.
class EIdException : public Exception
{
public:
    using Exception::Exception;
};

// The groups callers catch as one.

// The connection is gone or has stopped answering: closed by either side,
// ended from another thread, or silent past a time limit. Nothing more can
// be read from it.
class EIdConnectionLost : public EIdException
{
public:
    using EIdException::EIdException;
};

// The server is out of step with the protocol: a reply or a line the client
// cannot keep, or a line where the protocol allows none. Where the reply
// ends is unknown, so the session cannot go on.
class EIdProtocolError : public EIdException
{
public:
    using EIdException::EIdException;
};

// The server understood and said no (POP3 "-ERR", IMAP4 "NO" or "BAD").
class EIdServerRefusal : public EIdException
{
public:
    using EIdException::EIdException;
};

// The line connection.

class EIdAlreadyConnected : public EIdException
{
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdHostRequired : public EIdException
{
public:
    EIdHostRequired() : EIdException() {}
};

class EIdPortRequired : public EIdException
{
public:
    EIdPortRequired() : EIdException() {}
};

// The line was ended from another thread (the program is closing).
class EIdLineAborted : public EIdConnectionLost
{
public:
    EIdLineAborted() : EIdConnectionLost("Disconnected.") {}
};

class EIdConnectTimeout : public EIdException
{
public:
    EIdConnectTimeout() : EIdException("Connect timed out.") {}
};

// A connect failed on the connect thread without a socket error number.
class EIdConnectException : public EIdException
{
public:
    using EIdException::EIdException;
};

class EIdConnClosedGracefully : public EIdConnectionLost
{
public:
    EIdConnClosedGracefully() : EIdConnectionLost("Connection Closed Gracefully.") {}
};

class EIdClosedSocket : public EIdConnectionLost
{
public:
    EIdClosedSocket() : EIdConnectionLost("Disconnected.") {}
};

class EIdReadTimeout : public EIdConnectionLost
{
public:
    EIdReadTimeout() : EIdConnectionLost("Read Timeout") {}
};

// The session's overall time ran out; a server answering a byte at a time
// cannot hold the program longer than that.
class EIdOperationTimeout : public EIdReadTimeout
{
public:
    EIdOperationTimeout() { Message = "Operation timed out."; }
};

// A multi-line reply or a header went past the limits of MailLimits.h.
class EIdReplyTooLarge : public EIdProtocolError
{
public:
    EIdReplyTooLarge() : EIdProtocolError("Reply too large.") {}
};

class EIdReadLnMaxLineLengthExceeded : public EIdProtocolError
{
public:
    EIdReadLnMaxLineLengthExceeded() : EIdProtocolError("Max line length exceeded.") {}
};

class EIdNotConnected : public EIdException
{
public:
    EIdNotConnected() : EIdException("Not connected.") {}
};

// A socket call failed. LastError uses the socket error numbering below
// (10061 refused, 10054 reset, 11001 host not found, ...), not errno.
class EIdSocketError : public EIdException
{
public:
    EIdSocketError(int lastError, const std::string& message)
        : EIdException(message), LastError(lastError), OwnText(true)
    {
    }
    // With the table's message for the number (SocketErrorMessage).
    explicit EIdSocketError(int lastError);

    int LastError;
    // Whether the message is a text of its own rather than the table's.
    bool OwnText = false;
};

// The POP3 client.

class EIdDoesNotSupportAPOP : public EIdException
{
public:
    EIdDoesNotSupportAPOP() : EIdException("Server do not support APOP (no timestamp)") {}
};

class EIdSASLMechNeeded : public EIdException
{
public:
    EIdSASLMechNeeded() : EIdException("Need SASL mechanisms to login with it!!") {}
};

// A POP3 server refused a command (or sent a reply of an unexpected kind).
// The message is the reply's text lines, each ended by CR LF.
class EIdReplyPOP3Error : public EIdServerRefusal
{
public:
    EIdReplyPOP3Error(std::string code, std::string enhancedCode, const std::string& message)
        : EIdServerRefusal(message), Code(std::move(code)), EnhancedCode(std::move(enhancedCode))
    {
    }

    std::string Code;
    std::string EnhancedCode;
};

// A unique-id answer the client cannot trust: a listing past the caps of
// MailLimits.h or with a line that is not "number SP id", or a "UIDL n"
// answer that does not name message n. Raised after the whole answer was
// read: the session is still in step. `Line` is the listing's first bad
// line (from 1), 0 when no single line is to blame.
class EIdPOP3UidlInvalid : public EIdException
{
public:
    EIdPOP3UidlInvalid(const std::string& message, int line) : EIdException(message), Line(line) {}

    int Line;
};

// Address parsing.

// An at sign after a closing angle bracket, as in "<a@b.c> d@e.f".
class EIdEmailParseError : public EIdException
{
public:
    using EIdException::EIdException;
};

// Socket error numbers this library raises.
enum : int
{
    Id_WSAEINTR = 10004,
    Id_WSAEBADF = 10009,
    Id_WSAEACCES = 10013,
    Id_WSAENOTSOCK = 10038,
    Id_WSAEADDRINUSE = 10048,
    Id_WSAEADDRNOTAVAIL = 10049,
    Id_WSAENETDOWN = 10050,
    Id_WSAENETUNREACH = 10051,
    Id_WSAENETRESET = 10052,
    Id_WSAECONNABORTED = 10053,
    Id_WSAECONNRESET = 10054,
    Id_WSAENOBUFS = 10055,
    Id_WSAENOTCONN = 10057,
    Id_WSAESHUTDOWN = 10058,
    Id_WSAETIMEDOUT = 10060,
    Id_WSAECONNREFUSED = 10061,
    Id_WSAEHOSTDOWN = 10064,
    Id_WSAEHOSTUNREACH = 10065,
    Id_WSAHOST_NOT_FOUND = 11001,
    Id_WSATRY_AGAIN = 11002,
    Id_WSANO_RECOVERY = 11003
};

// Maps a Linux errno value onto the socket error numbering. Values without a
// counterpart are returned unchanged (they are all far below 10000).
int SocketErrorFromErrno(int err);

// Maps a getaddrinfo result code (with the errno it left, for EAI_SYSTEM).
int SocketErrorFromLookup(int gaiCode, int err);

// The description of a socket error number; numbers outside the table get
// the platform's own description of the errno they came from.
std::string SocketErrorDescription(int number);

// "Socket Error # <n>" CR LF and the description.
std::string SocketErrorMessage(int number);

[[noreturn]] void RaiseSocketError(int number);
[[noreturn]] void RaiseSocketErrorFromErrno(int err);

// ------------------------------------------------------------------ IMAP4

// An IMAP4 command was called in a state that does not allow it.
class EIdConnectionStateError : public EIdException
{
public:
    using EIdException::EIdException;
};

// A message number below 1 was given.
class EIdNumberInvalid : public EIdException
{
public:
    EIdNumberInvalid()
        : EIdException("Number parameter (relative message number or UID) is invalid; Must be 1 or greater.")
    {
    }
};

// The server said "* BYE" where no goodbye was asked for.
class EIdDisconnectedProbablyIdledOut : public EIdConnectionLost
{
public:
    EIdDisconnectedProbablyIdledOut()
        : EIdConnectionLost("Server has gracefully disconnected you, possibly because the connection "
                       "was idle for too long.")
    {
    }
};

// An IMAP4 reply broke the line rules; the message begins with "Unexpected:".
class EIdReplyIMAP4Error : public EIdProtocolError
{
public:
    using EIdProtocolError::EIdProtocolError;
};

// The secure layer. No credentials are ever sent after one of these.

// The TLS handshake failed, or the server broke the secure session.
class EIdTLSError : public EIdException
{
public:
    using EIdException::EIdException;
};

// The server's certificate did not verify; the text says why in plain words
// and `VerifyResult` keeps the library's code.
class EIdTLSCertificateError : public EIdTLSError
{
public:
    EIdTLSCertificateError(const std::string& text, long verifyResult)
        : EIdTLSError(text), VerifyResult(verifyResult)
    {
    }
    long VerifyResult;
};

// STARTTLS was asked for and the server does not offer it, or refused it.
class EIdTLSNotAvailable : public EIdTLSError
{
public:
    using EIdTLSError::EIdTLSError;
};

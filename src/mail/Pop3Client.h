#pragma once

#include "mail/IdExceptions.h"
#include "mail/MailTypes.h"
#include "mail/Pop3Reply.h"
#include "mail/IdTCPConnection.h"

#include <string>

class TIdMessage;

enum TIdPOP3AuthenticationType
{
    atUserPass,
    atAPOP,
    atSASL
};

// POP3 client (RFC 1939) as the mail check needs it: log in, count the
// messages, fetch a header, read a size, mark for deletion, quit. One
// instance is reused for many connections: set Host, Port, Username and
// Password, then Connect.
class TIdPOP3 : public TIdTCPClientCustom
{
public:
    TIdPOP3();
    // Closes without "QUIT": a client torn down mid-session must not make
    // the server carry out deletions nobody confirmed.
    ~TIdPOP3() override;

    std::string Username;
    std::string Password;
    bool AutoLogin = true;
    TIdPOP3AuthenticationType AuthType = atUserPass;
    TIdStrings SASLMechanisms;
    TIdUseTLS UseTLS = utNoTLSSupport;

    // Connection state, recomputed by every Connect.
    std::string GreetingTimestamp;
    bool CanApop = false;
    TIdStrings ServerCapabilities;
    bool CapaAnswered = false;

    TIdReplyPOP3& LastReplyPOP3() { return static_cast<TIdReplyPOP3&>(LastReply()); }

    // TCP connect, greeting, capability list, and the login when AutoLogin.
    void Connect() override;
    // A refused login disconnects ("QUIT" first) before the error is passed
    // on; when that "QUIT" fails, its error is the one passed on. A user
    // name or password with a CR or LF is refused before anything is sent.
    void Login();
    int CountMessages();
    // Reads the header of message `number` (body lines a server adds are
    // read too, up to the closing "."). Always true when it returns.
    bool FetchHeader(int number, TIdMessage& message);
    // Octets of message `number`; -1 when the server's answer has no number.
    int MessageSize(int number);
    bool DeleteMessage(int number);
    // "QUIT" when connected, then close; the server carries out the
    // deletions only when it accepts the "QUIT".
    void Disconnect() { Disconnect(true); }
    using TIdTCPClientCustom::Disconnect;

protected:
    void NotifyPeerOfDisconnect() override;

private:
    // "STLS", the handshake, and the capabilities asked again.
    void StartTLS();
};

// The parsing under the operations, apart so it can be checked on its own.

// The part of a greeting's first text line from the first "<" to the first
// ">" after it, both included; empty when either is missing.
std::string POP3GreetingTimestamp(const std::string& text);
// "APOP" digest: MD5 over the timestamp followed by the password, as 32
// lower-case hexadecimal digits.
std::string POP3ApopDigest(const std::string& timestamp, const std::string& password);
// The message count from the first text line of a "STAT" reply. Raises
// EConvertError when the word before the first space is not a number.
int POP3StatCount(const std::string& text);
// The size from the first text line of a "LIST n" reply, or -1 (also for a
// negative one).
int POP3ListSize(const std::string& text);

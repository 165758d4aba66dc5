#pragma once

#include "mail/Credentials.h"
#include "mail/IdExceptions.h"
#include "mail/MailTypes.h"
#include "mail/Pop3Reply.h"
#include "mail/Pop3Uidl.h"
#include "mail/IdTCPConnection.h"

#include <functional>

class TPreview;

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TIdMessage;
class TIdSASLMechanism;
struct TIdLoginChoice;

// What a "LIST n" reply said: the size, or the refusal, raised only when
// the size is taken.
struct TIdPOP3ListAnswer
{
    int Size = -1;
    std::optional<EIdReplyPOP3Error> Refusal;

    int Take() const
    {
        if (Refusal)
            throw *Refusal;
        return Size;
    }
};

enum TIdPOP3AuthenticationType
{
    atUserPass,
    atAPOP,
    atSASL
};

// POP3 client (RFC 1939) as the mail check needs it: log in, count the
// messages, list their unique ids, fetch a header, read a size, mark for
// deletion, quit. One
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
    // Where set, the login is SASL with an access token in place of the
    // password (OAUTHBEARER, else XOAUTH2, as offered): called for the token,
    // `refused` true for the one retry after the server refused the last.
    // What it raises ends the login, as a line error would.
    std::function<std::string(bool refused)> AccessToken;
    TIdUseTLS UseTLS = utNoTLSSupport;
    // The character set the login tries first (USER and PASS, or APOP's
    // digest); a refused password beyond ASCII gets one more try in the
    // other. After an accepted login, the one the server took.
    TIdCredentialCharset CredentialCharset = ccUTF8;

    // Connection state, recomputed by every Connect.
    std::string GreetingTimestamp;
    bool CanApop = false;
    TIdStrings ServerCapabilities;
    bool CapaAnswered = false;

    TIdReplyPOP3& LastReplyPOP3() { return static_cast<TIdReplyPOP3&>(LastReply()); }

    // TCP connect, greeting, capability list, and the login when AutoLogin.
    void Connect() override;
    // "AUTH" with `mechanism` (RFC 5034), each challenge answered; one the
    // mechanism cannot answer cancels ("*"). A refusal raises
    // EIdReplyPOP3Error.
    void Authenticate(TIdSASLMechanism& mechanism);
    // A refused login disconnects ("QUIT" first) before the error is passed
    // on; when that "QUIT" fails, its error is the one passed on. A user
    // name or password with a CR or LF is refused before anything is sent.
    // The login is USER and PASS, APOP or AUTH as AuthType asks; USER and
    // PASS a server's capabilities leave out go by a mechanism it offers and
    // the client speaks, where there is one (ChooseLogin).
    void Login();
    int CountMessages();
    // Reads the header of message `number` (body lines a server adds are
    // read too, up to the closing "."); one past the caps is kept in part,
    // as ReadHeaderLines keeps it. Always true when it returns. With
    // `preview`, "TOP number PreviewBodyLines": the body's first lines are
    // read too and kept there to make the preview from when it is shown;
    // with a string, the preview is made at once.
    bool FetchHeader(int number, TIdMessage& message, TPreview* preview = nullptr);
    bool FetchHeader(int number, TIdMessage& message, std::string* preview);
    // Octets of message `number`; -1 when the server's answer has no number.
    int MessageSize(int number);
    // True when the capability list of this connection names PIPELINING
    // (RFC 2449): the server then takes commands before it has answered
    // the ones sent earlier.
    bool CanPipeline() const;
    // FetchHeader and MessageSize for one round trip: "TOP number 0" and
    // "LIST number" go out in one write, the replies are read in order.
    // Only for a server that CanPipeline. A refused "TOP" is raised after
    // the "LIST" reply is read, so the next command reads its own reply; a
    // refused "LIST" is returned, not raised.
    TIdPOP3ListAnswer FetchHeaderAndSize(int number, TIdMessage& message, TPreview* preview = nullptr);
    TIdPOP3ListAnswer FetchHeaderAndSize(int number, TIdMessage& message, std::string* preview);
    // The first lines of each message's body ("TOP number lines" for each
    // (number, lines), sent at once where the server CanPipeline), at most
    // `bytes` of each kept, in their order; none for a message the server
    // refuses.
    std::vector<std::string> FetchBodyStarts(const std::vector<std::pair<int, int>>& messages, std::size_t bytes);
    // True when the capability list of this connection names UIDL. A server
    // may answer "UIDL" without announcing it.
    bool CanUIDL() const;
    // "UIDL": every message's unique id, in the server's order. False, with
    // `entries` empty, when the server refuses the command: it keeps no
    // unique ids, which is no error. Only the entries numbered `firstKept`
    // or above are kept; `listed` counts them all. The listing is read to
    // its closing "." before it is judged, so a listing past
    // MaxMailboxMessages lines, kept entries past MaxReplyLines or
    // MaxReplyBytes, or a line that ParseUidlLine refuses, raise
    // EIdPOP3UidlInvalid with the session in step; `entries` is then empty.
    // Only a flood far past the caps stops the reading early, with
    // EIdReplyTooLarge and the session out of step.
    // Duplicate ids, and numbers that disagree with "STAT" or come out of
    // order, are passed on as they came: the caller judges them.
    bool RetrieveUIDL(std::vector<TIdPOP3UidlEntry>& entries, int firstKept, int& listed);
    bool RetrieveUIDL(std::vector<TIdPOP3UidlEntry>& entries)
    {
        int listed = 0;
        return RetrieveUIDL(entries, 1, listed);
    }
    // "UIDL number": the unique id of one message. False, with `id` empty,
    // when the server refuses (no such message, or no unique ids); an
    // answer that is not "number SP id" for this number raises
    // EIdPOP3UidlInvalid.
    bool UIDL(int number, std::string& id);
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
    // "USER" and "PASS", "APOP", or "AUTH" as `choice` says, in each form
    // of CredentialTries until one is accepted; the first refusal is raised
    // when none is.
    void SendCredentials(const TIdLoginChoice& choice);
    // "AUTH" with an access token, and once more with a fresh one after the
    // server refused it; the last refusal is raised.
    void SendTokenLogins(const std::string& mechanism);
    // The header lines after an accepted "TOP", up to the closing "."; with
    // `preview`, the body lines after them make the preview.
    void ReadHeaderBody(TIdMessage& message, TPreview* preview = nullptr);
    static std::string TopCommand(int number, bool preview);
    // Whether the capability list names `tag`, in any case, alone or
    // followed by a space and arguments.
    bool Announces(std::string_view tag) const;
    // The lines after an accepted "UIDL", up to the closing ".".
    std::vector<TIdPOP3UidlEntry> ReadUidlListing(int firstKept, int& listed);
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

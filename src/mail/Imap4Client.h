#pragma once

#include "mail/Credentials.h"
#include "mail/MailTypes.h"
#include "mail/IdMessage.h"
#include "mail/IdTCPConnection.h"
#include "mail/MailLimits.h"
#include "mail/Imap4Folders.h"
#include "mail/Imap4Reply.h"
#include "mail/MessagePreview.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// What a line read during IDLE means (mail/Imap4Idle.h).
enum class TIdIMAP4IdleLineKind;
class TIdSASLMechanism;
struct TIdLoginChoice;

enum class TIdIMAP4ConnectionState
{
    Any,
    NonAuthenticated,
    Authenticated,
    Selected,
    Lost
};

// The display text of a state in the wrong-state error ("Lost" has none).
std::string ConnectionStateText(TIdIMAP4ConnectionState state);

enum class TIdIMAP4AuthenticationType
{
    atUserPass,
    atSASL
};

enum TIdRetrieveOnSelect
{
    rsDisabled,
    rsHeaders,
    rsMessages
};

// The selected mailbox; emptied when a mailbox is selected or closed.
struct TIdMailBox
{
    std::string MailboxName;
    int ExistsCount = 0;
    int RecentCount = 0;
    int FirstUnseen = 0;
    // The mailbox's UIDVALIDITY from the SELECT answer, 0 when it gave none:
    // UIDs keep standing for the same messages while it stays.
    uint32_t UIDValidity = 0;
    // Message numbers (or UIDs, after a UID search) of the last successful
    // search, in the server's order.
    std::vector<std::uint32_t> SearchHits;

    void Clear() { *this = TIdMailBox{}; }
};

// The capabilities a greeting's text announces in a leading "[CAPABILITY
// ...]" response code; none without one.
TIdStrings IMAP4GreetingCapabilities(const std::string& text);
// The capabilities an accepted login's answer announces (its side lines):
// the completion's "[CAPABILITY …]" code or an untagged CAPABILITY line;
// empty when it names none.
TIdStrings IMAP4LoginCapabilities(const TIdStrings& sideLines);

// The number of a "[UIDVALIDITY n]" response code in an answer line; 0 when
// the line has none or one that is no 32-bit number.
uint32_t IMAP4UidValidity(const std::string& line);

// A message number or UID as text: 1 to 4294967295, digits only.
bool TryIMAP4Number(std::string_view word, std::uint32_t& value);

// The search keys, numbered in this order.
enum TIdIMAP4SearchKey
{
    skAll, skAnswered, skBcc, skBefore, skBody, skCc, skDeleted, skDraft, skFlagged, skFrom,
    skHeader, skKeyword, skLarger, skNew, skNot, skOld, skOn, skOr, skRecent, skSeen,
    skSentBefore, skSentOn, skSentSince, skSince, skSmaller, skSubject, skText, skTo, skUID,
    skUnanswered, skUndeleted, skUndraft, skUnflagged, skUnKeyword, skUnseen
};

// The wire word of a key.
std::string SearchKeyWord(TIdIMAP4SearchKey key);

// One search criterion.
struct TIdIMAP4SearchRec
{
    double SearchDate = 0;
    int SearchSize = 0;
    std::string SearchText;
    TIdIMAP4SearchKey SearchKey = skAll;
};

// The criterion text of one record on the wire. Keys without an argument
// are their word; the others add theirs (date as dd-Mon-yyyy, size, text
// quoted).
std::string SearchCriterion(const TIdIMAP4SearchRec& rec);

// A user name or password as an IMAP4 string: an atom when it is one, a
// quoted string when it is 7-bit text, else a literal ("{n}" CR LF and the
// bytes; `literal` is set). A line break is refused by the caller.
std::string IMAP4AString(const std::string& text, bool& literal);

// One message of a batched header fetch: its UID, RFC822.SIZE (-1 when the
// server gave none) and header.
struct TIdIMAP4FetchedHeader
{
    std::uint32_t UID = 0;
    long long Size = -1;
    TIdMessage Message;
    // The start of the message's text as UTF-8, made when first read,
    // when previews were asked for; empty when it has none.
    TPreview Preview;
};

// The state of one mailbox as FolderStates found it.
struct TIdIMAP4MailboxStatus
{
    bool Found = false;
    TIdIMAP4FolderState State;
    // Why it was not found: the server's words, or none where it was just
    // left out of the answer.
    std::string Refusal;
};

// IMAP4rev1 client as the mail check needs it: connect and log in, select a
// mailbox, search it, fetch a header and a size, close and log out; and for
// Delete, the same by UID with storing the \Deleted flag and UID EXPUNGE.
// One instance serves one account after another.
class TIdIMAP4 : public TIdTCPClientCustom
{
public:
    TIdIMAP4();
    // Closes without "LOGOUT".
    ~TIdIMAP4() override;

    std::string Username;
    std::string Password;
    TIdIMAP4AuthenticationType AuthType = TIdIMAP4AuthenticationType::atUserPass;
    TIdStrings SASLMechanisms;
    // Where set, the login is SASL with an access token in place of the
    // password (OAUTHBEARER, else XOAUTH2, as offered): called for the token,
    // `refused` true for the one retry after the server refused the last.
    // What it raises ends the login, as a line error would.
    std::function<std::string(bool refused)> AccessToken;
    TIdUseTLS UseTLS = utNoTLSSupport;
    // The character set "LOGIN" tries first; a refused password beyond
    // ASCII gets one more try in the other. After an accepted login, the one
    // the server took.
    TIdCredentialCharset CredentialCharset = ccUTF8;
    int MilliSecsToWaitToClearBuffer = 10;
    TIdRetrieveOnSelect RetrieveOnSelect = rsDisabled;
    // The longest line a reply may carry; a SEARCH of a large mailbox is one
    // line.
    int MaxReplyLineLength = static_cast<int>(MaxReplyBytes);
    // The most bytes the lines of one reply may hold together (a SEARCH line
    // and the lines around it); at most MaxReplyLines lines.
    std::size_t MaxReplySize = 4 * MaxReplyBytes;
    // The most of a header literal kept whole. A larger one is read to its
    // end and kept as POP3's headers past the caps are (THeaderKeeper); one
    // past HeaderFloodFactor times this raises EIdReplyTooLarge.
    long long MaxHeaderSize = static_cast<long long>(MaxReplyBytes);
    // What the messages of one command of a batched fetch may hold, all
    // together: their header lines, or the fields a check keeps of them.
    // Honest headers of a chunk take a few megabytes.
    std::size_t MaxBatchSize = 16 * MaxReplyBytes;
    // The messages of a batched header fetch load only what a mail check
    // shows (TIdMessage::CheckFieldsOnly).
    bool CheckFieldsOnly = false;
    // A batched header fetch also asks for the first PreviewBodyBytes of
    // each body (BODY.PEEK[TEXT]<0.n>, which leaves \Seen alone), kept
    // for their previews.
    bool FetchPreviews = false;
    // The items a batched header fetch asks of each message.
    static std::string HeaderFetchItems(bool previews);

    const std::string& GreetingBanner() const { return FGreetingBanner; }

    // Layer state.
    TIdIMAP4ConnectionState ConnectionState = TIdIMAP4ConnectionState::NonAuthenticated;
    int CommandCounter = 0;
    TIdIMAPLineStruct FetchLine;

    TIdStrings ServerCapabilities;
    TIdMailBox MailBox;

    TIdReplyIMAP4& LastReplyIMAP4() { return static_cast<TIdReplyIMAP4&>(LastReply()); }

    // --- the tagged command layer

    std::string NextTag();
    std::string CurrentTag() const;
    // Raises the wrong-state error when ConnectionState is none of `allowed`.
    void CheckConnectionState(std::initializer_list<TIdIMAP4ConnectionState> allowed) const;
    // Drains stray lines, writes the tagged command, reads to its completion.
    std::string SendTaggedCommand(const std::string& tag, const std::string& command,
                                  const TIdStrings& expected);
    std::string ReadTaggedReply(const std::string& tag, const TIdStrings& expected, bool singleLine);
    std::string ReadGreeting();

    // --- the operations

    // TCP connect, greeting, Login when autoLogin. Always true.
    bool Connect(bool autoLogin);
    void Connect() override { Connect(true); }
    // A refused LOGIN raises nothing: the state stays NonAuthenticated. A
    // user name or password with a line break is refused before anything is
    // sent. The login is LOGIN, or AUTHENTICATE where the client is asked
    // for SASL (AuthType, SASLMechanisms) or the greeting's capabilities
    // disable LOGIN and offer a mechanism the client speaks (ChooseLogin).
    void Login();
    // "AUTHENTICATE" with `mechanism` (RFC 3501), its initial response on
    // the command where the server offers SASL-IR (RFC 4959), each challenge
    // answered; a challenge the mechanism cannot answer cancels ("*"). The
    // completion is in LastReply, as LOGIN's; a refusal raises nothing.
    void Authenticate(TIdSASLMechanism& mechanism);
    bool Capability(TIdStrings& list);
    bool SelectMailbox(const std::string& name);
    bool SearchMailbox(const std::vector<TIdIMAP4SearchRec>& criteria);
    bool FetchHeader(int number, TIdMessage& message);
    int MessageSize(int number);
    bool CloseMailbox();
    // "LOGOUT", then close; "Disconnected." when not connected. The socket is
    // closed also when the LOGOUT fails.
    void Disconnect();
    // With `notifyPeer` false: close without LOGOUT.
    void Disconnect(bool notifyPeer) override;

    // --- by UID (Delete)

    bool UIDSearchMailbox(const std::vector<TIdIMAP4SearchRec>& criteria);
    bool UIDFetchHeader(std::uint32_t uid, TIdMessage& message);
    // Headers and sizes of `uids` with "UID FETCH <set> (RFC822.SIZE
    // BODY.PEEK[HEADER])" (and the body's start with FetchPreviews), at most `chunk` UIDs a command (ascending, each
    // once; a UID of 0 raises EIdNumberInvalid before anything is sent),
    // each command's answer read as one stream; nothing sets \Seen. `out`
    // gets one record per message the server answered with a header, keyed
    // by the UID item of its response, in the server's order: a response
    // without a UID or
    // for a UID not asked is passed over, a second header or size for a UID
    // too, and UIDs left out are absent. A header literal is kept within
    // MaxHeaderSize, its lines as POP3's; what is passed over is bounded by
    // MaxReplySize and MaxReplyLines. A literal cut short or a connection closed
    // mid-stream raises. False when a chunk is answered NO or BAD; then, and
    // when one raises, `out` holds the chunks before it.
    bool UIDFetchHeadersAndSizes(const std::vector<std::uint32_t>& uids, std::vector<TIdIMAP4FetchedHeader>& out,
                                 std::size_t chunk = 250);
    // The first `bytes` of each message's body ("UID FETCH <set>
    // (BODY.PEEK[TEXT]<0.bytes>)", which leaves \Seen alone) in one command:
    // `texts` gets one per UID of `uids`, in their order, empty where the
    // server sent none. What is passed over is bounded as in a batched
    // header fetch. False when the command is answered NO or BAD.
    bool UIDFetchTextStarts(const std::vector<std::uint32_t>& uids, std::size_t bytes,
                            std::vector<std::string>& texts);
    int UIDMessageSize(std::uint32_t uid);
    // Sets \Deleted on the message silently.
    bool UIDStoreDeleted(std::uint32_t uid);
    // Sets \Seen on the message silently.
    bool UIDStoreSeen(std::uint32_t uid);
    // Removes the message if it is marked \Deleted; needs UIDPLUS.
    bool UIDExpunge(std::uint32_t uid);
    bool HasCapability(const std::string& word) const;

    // --- folders

    // The states of the mailboxes `names` (desktop text), in that order, in
    // one round trip: one LIST-STATUS command where the server offers it,
    // else one STATUS each, all sent in one write. A mailbox the server does
    // not list, or refuses, is not Found. Needs Authenticated or Selected;
    // a reply past the reply caps raises as any other.
    void FolderStates(const std::vector<std::string>& names, std::vector<TIdIMAP4MailboxStatus>& out);
    // The server's mailboxes ("LIST "" *", with the special-use attributes
    // where the server offers them), names as on the wire; lines that do not
    // parse are passed over. False when the server refuses.
    bool ListFolders(std::vector<TIdIMAP4Folder>& out);
    // "NOTIFY SET" (RFC 5465) for the mailboxes `names` (desktop text), the
    // selected one `selected` among them: while idling, news of any of them
    // (a STATUS line) ends IdleWait as the selected one's does. False where
    // the server does not offer NOTIFY or refuses.
    bool NotifySet(const std::vector<std::string>& names, const std::string& selected);

    // --- IDLE: the server tells of changes to the selected mailbox as they
    // happen. IdleStart, IdleWait as often as wanted, IdleDone; the same
    // again to renew. Untagged lines that are not news are read and dropped,
    // each within the line cap of the connection. Whatever raises once the
    // command is sent ends the session: the state is Lost, the socket is left
    // for the caller to close. A "* BYE" raises
    // EIdDisconnectedProbablyIdledOut, an abort through LineAbort
    // EIdLineAborted; a closed connection, a line past the cap and the like
    // raise the connection's own errors. ReadTimeout is the line's, as it
    // was at the connect.

    // "IDLE" among ServerCapabilities.
    bool SupportsIdle() const;
    // Sends "IDLE" and reads to the server's "+". Needs Selected and no IDLE
    // running (else EIdConnectionStateError, before anything is sent). True
    // once the server idles; false when it answered the command at once (NO,
    // BAD, or OK): the completion is in LastReply, the mailbox stays
    // selected, news that came with it is not kept. News before the "+" is
    // kept for IdleWait. All of it within ReadTimeout (EIdReadTimeout), at
    // most MaxReplyLines lines (EIdReplyTooLarge).
    bool IdleStart();
    // Waits at most `milliseconds` (0: only what has come already) for
    // EXISTS, EXPUNGE or FETCH; true at the first, false when the time passed
    // without, however the server paces its lines. With `anyLineAfter` 0 or
    // more, any other line (a server's "* OK still here") read once that
    // many milliseconds of the wait have passed also ends it, with false.
    // News kept from before is reported at once. The server ending the IDLE
    // on its own raises EIdReplyIMAP4Error. Needs an IDLE running (else
    // EIdConnectionStateError).
    bool IdleWait(int milliseconds, int anyLineAfter = -1);
    // Sends "DONE" and reads to the IDLE command's tagged OK; true when news
    // came meanwhile (or was kept and not yet reported). Within ReadTimeout
    // (EIdReadTimeout), at most MaxReplyLines lines (EIdReplyTooLarge). A NO
    // or BAD raises EIdReplyIMAP4Error. The IDLE is over in every case; on
    // success the state is Selected again. Needs an IDLE running (else
    // EIdConnectionStateError).
    bool IdleDone();
    // IdleDone and IdleStart in one exchange: "DONE" and the next "IDLE" go
    // out in one write, so the server can answer both in one. True when news
    // came; Idling() tells whether the server took the new IDLE. Fails as
    // IdleDone does. With `noop`, a "NOOP" goes between the two in the same
    // write, so a server that tells news only in answer to a command (one
    // whose IDLE is silent, or looks at the mailbox only now and then) tells
    // it now; its refusal raises as a refused DONE does.
    bool IdleRenew(bool noop = false);
    bool Idling() const { return FIdling; }

private:
    bool UIDStoreFlag(std::uint32_t uid, const std::string& flag);
    bool DoSearch(const std::string& prefix, const std::vector<TIdIMAP4SearchRec>& criteria);
    bool DoFetchHeader(const std::string& prefix, std::uint32_t number, TIdMessage& message);
    int DoMessageSize(const std::string& prefix, std::uint32_t number);
    // Sends one chunk of a batched fetch and reads its answer into `out`.
    bool FetchChunk(const std::vector<std::uint32_t>& uids, std::vector<TIdIMAP4FetchedHeader>& out, bool drain);
    // Reads the rest of an untagged response that began with `line`: each
    // literal it announces and the line after it. `text` gets the lines
    // joined by LF, `literals` the bytes.
    void ReadResponseRest(std::string line, std::string& text, std::vector<std::string>& literals);
    // Reads a literal of `size` bytes; a connection closed before its end raises.
    std::string ReadLiteral(long long size);
    // Reads a header literal of `size` bytes: whole when it is at most
    // `room` bytes, else to its end, kept within `room` as THeaderKeeper
    // keeps a header, as CR LF lines. One past HeaderFloodFactor times
    // MaxHeaderSize raises EIdReplyTooLarge before anything of it is read.
    std::string ReadHeaderLiteral(long long size, long long room);
    // A header literal into `message`, its lines bounded as POP3's.
    void LoadHeader(const std::string& bytes, TIdMessage& message) const;
    // Reads the next response of the answer to the FETCH tagged `tag` into
    // `text` and `literals`; false at its completion, which becomes the
    // last reply. A BYE or a line that is not untagged raises.
    bool NextFetchResponse(const std::string& tag, std::string& text, std::vector<std::string>& literals);
    // Reads what is left of an answer to a header fetch up to its completion.
    void SkipFetchAnswer(const std::string& tag);
    // Writes a command; a reset connection marks the state Lost, another
    // socket error is passed over (the reply is read all the same).
    void WriteCommand(const std::string& line);
    void DrainStrayLines();
    // "LOGIN" or "AUTHENTICATE" in each form of CredentialTries until one
    // is accepted or refused for another reason than the credentials.
    void SendLogins(const TIdLoginChoice& choice);
    // "AUTHENTICATE" with an access token, and once more with a fresh one
    // after the server refused it. Authenticated once the command after it
    // succeeds too.
    void SendTokenLogins(const std::string& mechanism);
    // The last completion refused the credentials themselves, on a line
    // still open: not a server that is unavailable, or one that hung up.
    bool CredentialsRefused();
    void SendLogin(const TIdCredentials& credentials);
    // "STARTTLS" after an OK greeting, the handshake, and the capabilities
    // asked again.
    void StartTLS();
    void CloseSession() noexcept;
    TIdIOHandler& Handler();

    // The next line of an IDLE exchange; false when `deadline` passed first.
    bool ReadIdleLine(const TIdClock::TTimePoint* deadline, std::string& line);
    // Called while an error of an IDLE exchange is handled: the session is
    // over (Lost), and an aborted line raises EIdLineAborted in place of
    // what the read saw.
    [[noreturn]] void RethrowIdleFailure();
    // Reads an IDLE exchange within ReadTimeout, at most MaxReplyLines lines,
    // up to the "+" (when `toContinuation`) or the IDLE command's completion,
    // which goes into LastReply. News sets `news`; a BYE raises.
    TIdIMAP4IdleLineKind ReadIdleAnswer(bool toContinuation, bool& news);

    std::string FGreetingBanner;
    TIdStrings FReplyLines;
    bool FIdling = false;
    // News read but not reported yet.
    bool FIdleNews = false;
    std::string FIdleTag;
};

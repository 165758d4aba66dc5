#pragma once

#include "check/Account.h"
#include "check/MailRules.h"
#include "check/NewMailNews.h"
#include "check/RowId.h"
#include "mail/IdExceptions.h"
#include "mail/MailLimits.h"
#include "mail/MessagePreview.h"

#include <cstddef>
#include <exception>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class TAnnounced;
class TIdMessage;
class TMessageList;

// One account's share of what waits.
struct TAccountState
{
    std::string Name; // its caption, desktop text
    int Count = 0;    // its messages listed, each counted once
    std::string Error; // why it could not be checked; "" when it could

    bool operator==(const TAccountState&) const = default;
};

// What waits after a summary, as the tray tells it: the count of its
// headline (silent accounts counted, as there), each account's share, and
// the tray's hint.
struct TMailState
{
    int Count = 0;
    std::vector<TAccountState> Accounts;
    bool Failed = false;    // an account could not be checked
    bool Important = false; // an important message waits
    bool Quiet = false;     // new mail is listed, not told
    std::string Hint;       // desktop text

    bool operator==(const TMailState&) const = default;
};

// Whether a message that a rule marked important waits in the list; the
// launcher's urgent flag follows it.
bool ImportantWaits(const TMessageList& rows);

// The settings a cycle reads.
struct TCycleSettings
{
    bool NotifyOnlyNewMsg = true;
    int RequiredPriority = 4; // 0 highest .. 4 lowest, -1 when none
    bool SilentMode = false;  // blink the Scroll Lock LED
    std::string Sound;        // "" for none
    bool ShowForm = true;
    std::string ShowIcon;     // "" for none
    std::string Execute;      // "" for none
    bool ShowPreview = true;  // read and show the start of each new message's text
    bool CommandWhenQuiet = false; // the command runs for new mail while quiet
    // "ACTION FIELD PATTERN" texts; those that do not parse are passed over.
    std::vector<std::string> Rules;
};

// What one round reads: a snapshot of the configuration taken as it starts.
struct TCycleConfig
{
    TCycleSettings Settings;
    std::vector<Account> Accounts;
    // Per account, why it cannot be checked this round (its password could
    // not be read), shown as its error row; "" or missing where it can.
    std::vector<std::string> Withheld;
};

// What one account may cost, whatever its server does: the whole check in
// milliseconds, the messages listed, and the characters a row keeps of a
// sender or a subject.
constexpr int AccountCheckTimeout = 120000;
constexpr int MaxListedMessages = 5000;
constexpr std::size_t MaxRowTextLength = 1024;
// A Message-ID is kept whole up to this much, so a mail client is given the
// very one; a longer one is no identifier any client would find.
constexpr std::size_t MaxMessageIdLength = 4096;
// Body bytes an account's rows keep for previews not yet shown, about a
// thousand messages' worth; new rows past it have none.
constexpr std::size_t MaxHeldPreviewBytes = 4 * 1024 * 1024;

// The header fields the cycle keeps of one message.
struct TFetchedHeader
{
    std::string From;    // display text of the sender
    std::string Subject; // decoded
    int Priority = 2;    // 0 highest .. 4 lowest, or an out-of-range byte
    // For the fingerprint of a message on a server without identities, and
    // for a mail client to open it by: the Message-ID field as it came, up
    // to MaxMessageIdLength.
    std::string MessageId;
    double Date = 0;
    // The start of the message's text, desktop text, made when first read;
    // empty when none was read.
    TPreview Preview{};
    // The mailing list it came through (List-Id), decoded; rules match it.
    std::string ListId{};
};

// A header with the message's size in octets (-1 when the server gives none).
struct TFetchedMessage
{
    TFetchedHeader Header;
    int Size = -1;
};

// A sender or subject cut to what a row keeps, not inside a character.
std::string RowText(std::string text);

// The Message-ID of a header field's value without its angle brackets and
// the blanks around them: the first "<...>" where there is one, else the
// trimmed text.
std::string BareMessageId(const std::string& fieldValue);

// A message's fingerprint: its Message-ID, else its date, sender, subject
// and size, hashed. Two copies of one mail share it.
std::string FingerprintOf(const TFetchedHeader& header, int size);

// What the cycle keeps of a message a client has fetched the header of: its
// texts cut to what a row keeps. The subject and Message-ID are moved out of
// the message.
TFetchedHeader FetchedHeaderOf(TIdMessage& message);

// The state of one folder as a client found it before searching it.
struct TFolderStatus
{
    bool Found = false;
    // The folder's state as one text, equal as long as nothing in it
    // changed; "" where the server gave none that can be trusted.
    std::string Stamp;
    std::string Refusal; // the server's words where it refused the folder
};

// The server refused to open a folder: that folder fails, the others are
// still checked.
class EFolderRefused : public EIdException
{
public:
    using EIdException::EIdException;
};

// A mail client as one account check drives it. Every failing call raises.
class TCheckClient
{
public:
    virtual ~TCheckClient() = default;

    // Whether fetching a header also reads the start of the message's text
    // for its preview; off, no body byte is asked for.
    bool ReadPreviews = false;
    // Of the messages FetchMessages reads, how many at each end are shown
    // with their previews (the notification's first; each where a command
    // shows them): theirs are made in the session, and where a body's start
    // shows no text, more of it is read (FurtherPreviews.h).
    std::size_t ShownPreviews = 0;

    // Aims the next Connect at the account, on the port its text gave. A
    // client that cannot secure the line as the account asks refuses rather
    // than log in in plain text.
    virtual void SetAccount(const Account& account, int port) = 0;
    // Connects and logs in.
    virtual void Connect() = 0;
    // The number of messages to list.
    virtual int MessageCount() = 0;
    // Header of message i (1-based), read into a fresh record.
    virtual TFetchedHeader FetchHeader(int i) = 0;
    // The same when MessageSize(i) is asked next: a client may ask the
    // server for both at once.
    virtual TFetchedHeader FetchHeaderThenSize(int i) { return FetchHeader(i); }
    // Size in octets, -1 when the server gives none that can be used.
    virtual int MessageSize(int i) = 0;
    // The server's identities of the `count` messages from number `first`
    // on, in its order, asked after MessageCount; empty when the server has
    // none. The cycle checks the list before it trusts it.
    virtual std::vector<std::string> MessageIds(int first, int count)
    {
        (void)first;
        (void)count;
        return {};
    }
    // Headers and sizes of the messages `numbers` (1-based), in that order:
    // one after another unless the client can ask for all at once.
    virtual std::vector<TFetchedMessage> FetchMessages(const std::vector<int>& numbers);
    // The states of `mailboxes`, in their order, asked all at once after
    // Connect. A client without folders finds each, without a state.
    virtual std::vector<TFolderStatus> FolderStates(const std::vector<std::string>& mailboxes)
    {
        return std::vector<TFolderStatus>(mailboxes.size(), TFolderStatus{true, {}, {}});
    }
    // Aims MessageCount and what follows at `mailbox`; MessageCount raises
    // EFolderRefused where the server refuses it.
    virtual void OpenFolder(const std::string& mailbox) { (void)mailbox; }
    virtual void Disconnect() = 0;
    // Ends what is left of a session after a failure; raises nothing.
    virtual void DisconnectAfterFailure() noexcept = 0;
};

// What a session found in one mailbox.
struct TFolderListing
{
    std::string Error; // why the session failed; empty when it did not
    // The account must be signed in again before it can log in.
    bool SignInNeeded = false;
    int Count = 0;     // messages on the server
    // The number of the first listed message: past the bound only the
    // newest are listed, so that new mail is always among them.
    int First = 1;
    // One per listed message, in the server's order: its identity, or
    // empty where the server gave none that can be keyed on.
    std::vector<std::string> Ids;
    bool ById = false;
    std::vector<int> Numbers;             // the messages fetched (1-based)
    std::vector<TFetchedMessage> Fetched; // their headers, in that order
};

// One watched folder of an account checked folder by folder.
struct TFolderReport : TFolderListing
{
    std::string Mailbox;
    std::string Error; // why this folder could not be checked
    std::string Stamp; // its state (TFolderStatus), "" when unknown
};

// What one account's session brought back: plain values, made without the
// rows, so that a session needs nothing of the user interface. An account
// that watches its inbox alone has its listing here; one with folders has
// them in Folders, in the order they are watched.
struct TAccountReport : TFolderListing
{
    std::string Error; // why the session failed; empty when it did not
    std::vector<TFolderReport> Folders;
};

// What a session knows of one watched folder: the identities its rows
// stand for, and what the last check found in it. A folder whose state is
// still that stamp, and whose rows are all still listed, is not searched.
struct TFolderOrder
{
    std::string Mailbox;
    std::unordered_set<std::string> Known;
    std::string LastStamp;
    TFolderListing Last; // its Ids and counts only
};

// One account's session on an aimed client: log in, count, the identities,
// the headers of the messages whose identity is not in `known`, log out.
// At most `maxMessages` are listed: the last in the server's order. Raises nothing: a failure is the
// report's Error, and the session is ended.
TAccountReport CheckSession(TCheckClient& client, int maxMessages, const std::unordered_set<std::string>& known);

// What a cycle tells the desktop: the tray, the headline and the
// notification actions.
class TCycleOutput
{
public:
    virtual ~TCycleOutput() = default;

    virtual int TrayPicture() = 0;
    virtual void SetTrayPicture(int index) = 0;
    virtual void SetTrayHint(const std::string& hint) = 0;
    virtual void SetHeadline(const std::string& text) = 0;
    virtual void SetNewMailIconVisible(bool visible) = 0;
    virtual std::string TimeText() = 0; // the current time, long format

    virtual void StartBlinking() = 0;
    virtual void PlaySound() = 0;
    // An account's own wave file in place of the common sound.
    virtual void PlaySoundFile(const std::string& file)
    {
        (void)file;
        PlaySound();
    }
    virtual bool NotificationVisible() = 0;
    virtual void ShowNotification() = 0;
    // Starts the program without a shell and without waiting; a failed
    // start is ignored.
    virtual void RunCommand(const std::vector<std::string>& arguments) = 0;
    // The balloon of the new-mail icon, with the rows it tells of.
    virtual void ShowBalloon(const TNewMailNews& news) = 0;
    // News told while the desktop's own do-not-disturb holds: only where a
    // notification server keeps it for later, never as a balloon.
    virtual void KeepNews(const TNewMailNews& news) { (void)news; }
    // The list holds no message any more: what the balloon told is past.
    virtual void WithdrawNews() = 0;
    // Some of the messages the last balloon told of left the list (read or
    // deleted elsewhere): what it tells is to show the rest, where it still
    // shows, without telling anything anew.
    virtual void NewsLeft(const TNewMailNews& rest) { (void)rest; }
    // After every summary: what waits now.
    virtual void MailStateChanged(const TMailState& state) { (void)state; }
};

// Tray pictures of the main icon.
enum TTrayPicture : int
{
    tpIdle = 0,
    tpChecking = 1,
    tpFailure = 2,
};

// What a session needs that only the rows and the account list know: the
// account, its port, and the identities its rows stand for.
struct TSessionOrder
{
    int Index = 0; // in the round's account list
    int Port = 0;
    std::unordered_set<std::string> Known;
    // An account with folders: each watched one, in order; none for the
    // inbox alone.
    std::vector<TFolderOrder> Folders;
};

// One account's session as its order asks: folder by folder in one session
// where it has folders (their states asked at once, a folder that failed
// reported in its place), else CheckSession with the order's known ones.
TAccountReport CheckSession(TCheckClient& client, int maxMessages, const TSessionOrder& order);

// The check cycle: logs in to every enabled account, brings the message list
// up to date, writes the summary and notifies. A round is begun, the
// accounts' reports are applied as they come (in any order, from sessions
// run elsewhere), and the round is ended.
class TCheckCycle
{
public:
    // rows: the message list the cycle keeps, the caller's, outliving it.
    TCheckCycle(TMessageList& rows, TCycleOutput& output) : FRows(rows), FOutput(output) {}

    // Begins a round over `config`: the list emptied first when `clearList`,
    // error rows gone, the tray picture "checking". Returns the sessions to
    // run; an account that cannot be checked (a withheld password, a value
    // the load could not read, a port that is no number or out of range)
    // has its error row at once. Any other error stops the list there: the
    // orders before it are returned, and the error is raised after them
    // through `failure`. `only`: the accounts
    // (indexes) this round checks, empty for every enabled one; the rows of
    // the others, their error rows too, stay as they are.
    std::vector<TSessionOrder> BeginRound(const TCycleConfig& config, bool clearList, std::exception_ptr& failure,
                                          const std::vector<int>& only = {});
    // Brings account `index`'s rows up to what its session found; the
    // headline, the tray hint and picture follow at once.
    void ApplyReport(int index, const TAccountReport& report);
    // Tells of the rows applied since the last telling: sound, window,
    // blinking and balloon once, the command once per new row.
    void Tell();
    // Ends the round: what is left untold is told.
    void EndRound();
    // While quiet, new mail is listed and counted but only what a rule marks
    // important is told; the command runs only where the settings ask.
    // When the quiet ends, what came meanwhile and still waits is told once,
    // as a summary. `desktopKeeps`: the quiet is the desktop's own
    // do-not-disturb alone, which keeps notifications for later: they are
    // sent to it all the same (KeepNews).
    void SetQuiet(bool quiet, bool desktopKeeps = false);
    bool Quiet() const { return FQuiet; }
    bool RoundRunning() const { return FRunning; }
    // Sessions of the round whose report has not come.
    int Pending() const { return FPending; }

    int NewCount = 0;
    int ListedCount = 0;
    // The identities announced before, kept between runs; none when null.
    // A round that empties the list ("Check now") announces everything again.
    TAnnounced* Announced = nullptr;
    // Messages listed per account; the owner may lower it.
    int MaxMessages = MaxListedMessages;

private:
    // The identities the rows of an account's block stand for.
    std::unordered_set<std::string> KnownIds(const TRowPlace& place) const;
    // Brings the block of an account's folder up to the server's listed messages.
    void ListMessages(int index, const TRowPlace& place, const TFolderListing& listing);
    // The same, with a note where messages were left out.
    void ListFolder(int index, const TRowPlace& place, const TFolderListing& listing);
    void AccountFailed(int index, const std::string& why);
    // One folder's rows give way to its error row.
    void FolderFailed(int index, const TRowPlace& place, const std::string& why);
    void DropUnwatchedRows(int index);
    static TFolderListing ListingIds(const TFolderListing& listing);
    TRowPlace FolderPlace(int index, const std::string& mailbox) const;
    // A folder's place among the account's watched ones; past them when it
    // is none of them.
    int FolderOrdinal(int index, const std::string& mailbox) const;
    // Where a new block of an account's folder goes.
    int PlaceOfFolder(int index, const std::string& mailbox) const;
    // Where a row of account `index` goes: message rows in the order of the
    // account list, then the error rows in that order, whatever order the
    // accounts finish in.
    int PlaceOf(int index, bool errorRow) const;
    int AccountOfRow(int r) const;
    void Summary();
    std::string CurrentHeadline() const;
    // The messages the headline counts: those listed, and those left out
    // past the bound.
    int WaitingCount() const;
    // Closes what the last balloon told; nothing is followed any more.
    void WithdrawShownNews();
    // A row of a silent account: listed and counted, never told of.
    bool SilentRow(int r) const;
    // The rows listed that may be told of.
    int TellableCount() const;
    // The rows listed, or those that may be told of; a message that rows
    // of two folders of one account stand for counts once.
    int CountedRows(bool tellableOnly) const;
    // The fingerprints of an account's rows in folders other than `place`'s;
    // none for an account that watches one folder.
    std::unordered_set<std::string> PrintsElsewhere(int index, const TRowPlace& place) const;
    // Whether the memory knows the message as told from another of the
    // account's watched folders.
    bool ToldElsewhere(int index, const TRowPlace& place, const std::string& print) const;
    void Notify(const std::string& headline);
    // The messages the last telling told of that have left the list: the
    // news shows the rest, or is withdrawn when none is left.
    void FollowTold();
    // What waits now, per account.
    TMailState MailState() const;
    // The told message of row r, the number-th of its account's block.
    TToldMessage ToldOf(int r, int number, bool preview) const;
    // The one sound of a telling of these rows: the first whose account
    // makes one decides, its own file or the common sound; none told, the
    // common sound.
    void PlaySoundFor(const std::vector<int>& told);
    void RunCommandFor(int r);
    // The rows held while quiet that still wait, told as one summary.
    void TellHeld();
    // The account of row r as the round has it; null for none.
    const Account* AccountOf(int r) const;

    TMessageList& FRows;
    TCycleOutput& FOutput;
    TCycleConfig FConfig; // the round's snapshot
    bool FAnnounceAll = false;
    bool FRunning = false;
    // Accounts whose error row stands: those that failed this round, and
    // in a round over some accounts those of the others that failed before.
    std::unordered_set<std::string> FFailed;
    std::vector<TRowPlace> FPlaces; // each account's, in the round's order
    std::vector<std::vector<std::string>> FFolders; // each account's watched folders
    // Per folder place (AccountText), its stamp and listing at its last check.
    std::unordered_map<std::string, std::pair<std::string, TFolderListing>> FLastListed;
    int FPending = 0;       // sessions whose report has not come
    // The accounts whose report has not come: their rows, cut or not, are
    // what the last round left and wait for it before they are told.
    std::unordered_set<int> FAwaited;
    // Per account (AccountText), the messages on the server left out of its block.
    std::unordered_map<std::string, int> FUnlisted;
    int FUntold = 0;        // new rows not told yet
    bool FToldInRound = false;
    std::unordered_set<std::string> FTold; // rows whose command ran this round
    bool FQuiet = false;
    bool FDesktopKeeps = false;
    // Rows (RowKeyText) not told because it was quiet.
    std::unordered_set<std::string> FHeld;
    TMailRules FRules;
    std::vector<std::string> FRuleTexts; // what FRules was made of
    // Per folder place (AccountText), the identities of the messages a rule
    // keeps out of the list, so they are not fetched again.
    std::unordered_map<std::string, std::unordered_set<std::string>> FIgnored;
    // What the last balloon told, and the rows it told of (RowKeyText).
    TNewMailNews FShownNews;
    std::vector<std::string> FShownKeys;
    bool FWithdrawnInRound = false;
};

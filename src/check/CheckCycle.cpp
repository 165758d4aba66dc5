#include "check/CheckCycle.h"

#include "check/AccessTokens.h"
#include "check/Announced.h"
#include "check/CheckRules.h"
#include "check/ExpandCommand.h"
#include "check/MailErrorText.h"
#include "check/MessageList.h"
#include "check/Utils.h"
#include "i18n/Translate.h"
#include "mail/IdHashMessageDigest5.h"
#include "mail/IdMessage.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

std::string RowText(std::string text)
{
    if (text.size() <= MaxRowTextLength)
        return text;
    return CutAtCharacter(text, MaxRowTextLength);
}

namespace
{

// A list of identities the cycle can key on: one per message, none empty,
// none twice.
bool UsableIds(const std::vector<std::string>& ids, int n)
{
    if (static_cast<int>(ids.size()) != n)
        return false;
    std::unordered_set<std::string_view> seen;
    seen.reserve(ids.size());
    for (const std::string& id : ids)
        if (id.empty() || !seen.insert(id).second)
            return false;
    return true;
}

// One text per account, for the cycle's own tables.
std::string AccountText(const TRowPlace& place)
{
    return RowKeyText(place, {});
}

bool InBlock(const TMessageRow& row, const TRowPlace& place)
{
    return row.Key == place.Key && row.Caption == place.Caption && row.Mailbox == place.Mailbox;
}

// The rows an account had before its check, looked up by identity and by
// fingerprint; each can stand for one message only. The keys are views of
// the rows' texts: it is used up before the list changes.
class TListedRows
{
public:
    TListedRows(const TMessageList& rows, const TRowPlace& place) : FList(rows)
    {
        for (int r = 0; r < rows.Count(); ++r)
            if (rows.ImageIndex(r) != riError && InBlock(rows.Row(r), place))
                FRows.push_back(r);
        FUsed.assign(FRows.size(), false);
        FById.Build(FRows, [&rows](int r) -> const std::string& { return rows.Id(r); });
    }

    // Takes the first row not taken yet with the key; -1 when none.
    int TakeById(const std::string& id) { return FById.Take(id, FUsed); }
    int TakeByPrint(const std::string& print)
    {
        // Only a check that fetched a header asks: a repeat check goes without.
        if (!FPrintsBuilt)
            FByPrint.Build(FRows, [this](int r) -> const std::string& { return FList.Print(r); });
        FPrintsBuilt = true;
        return FByPrint.Take(print, FUsed);
    }

    std::size_t Size() const { return FRows.size(); }
    // Where the account's block starts: its first row, else the end.
    int BlockStart(const TMessageList& rows) const { return FRows.empty() ? rows.Count() : FRows.front(); }
    int RowOf(int k) const { return FRows[k]; }
    bool Taken(int k) const { return FUsed[k]; }

private:
    // Per key, the first of the rows that have it, each linked to the next.
    struct TIndex
    {
        std::unordered_map<std::string_view, int> First;
        std::vector<int> Next;

        template <typename TKeyOf>
        void Build(const std::vector<int>& rows, const TKeyOf& keyOf)
        {
            const int n = static_cast<int>(rows.size());
            First.reserve(rows.size());
            Next.assign(rows.size(), -1);
            // From the last, so that each chain runs in list order.
            for (int k = n - 1; k >= 0; --k)
            {
                const auto [found, added] = First.try_emplace(std::string_view(keyOf(rows[k])), k);
                if (!added)
                {
                    Next[k] = found->second;
                    found->second = k;
                }
            }
        }
        int Take(const std::string& key, std::vector<bool>& used)
        {
            if (key.empty())
                return -1;
            const auto found = First.find(key);
            if (found == First.end())
                return -1;
            int k = found->second;
            while (k >= 0 && used[k])
                k = Next[k];
            if (k < 0)
                return -1;
            used[k] = true;
            if (k == found->second)
                found->second = Next[k] >= 0 ? Next[k] : k;
            return k;
        }
    };

    const TMessageList& FList;
    std::vector<int> FRows; // row indexes, in list order
    std::vector<bool> FUsed;
    TIndex FById;
    TIndex FByPrint;
    bool FPrintsBuilt = false;
};

// A fingerprint as a check made it before it read the Message-ID and date:
// a memory written then knows the messages of a server without identities
// by it.
std::string EarlierFingerprintOf(TFetchedHeader header, int size)
{
    header.MessageId.clear();
    header.Date = 0;
    return FingerprintOf(header, size);
}

} // namespace

TFetchedHeader FetchedHeaderOf(TIdMessage& message)
{
    // Cut here, not when the row is made: a session holds thousands of
    // these until its report is applied, and a header may be a megabyte.
    std::string messageId = std::move(message.MessageId);
    if (messageId.size() > MaxMessageIdLength)
        messageId = CutAtCharacter(messageId, MaxMessageIdLength);
    TFetchedHeader header{RowText(message.FromText()), RowText(std::move(message.Subject)),
                          static_cast<int>(message.Priority), std::move(messageId), message.Date};
    header.ListId = RowText(std::move(message.ListId));
    return header;
}

std::string BareMessageId(const std::string& fieldValue)
{
    const std::size_t open = fieldValue.find('<');
    const std::size_t close = open == std::string::npos ? open : fieldValue.find('>', open + 1);
    if (close != std::string::npos)
        return fieldValue.substr(open + 1, close - open - 1);
    const std::size_t first = fieldValue.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return fieldValue.substr(first, fieldValue.find_last_not_of(" \t\r\n") - first + 1);
}

bool ImportantWaits(const TMessageList& rows)
{
    for (int r = 0; r < rows.Count(); ++r)
        if (rows.Row(r).Important && rows.ImageIndex(r) != riError)
            return true;
    return false;
}

std::string FingerprintOf(const TFetchedHeader& header, int size)
{
    // Cut as rows were before whole Message-IDs were kept, so the memory of
    // what was told still knows them.
    const std::string key = !header.MessageId.empty()
                                ? "m\n" + RowText(header.MessageId)
                                : "d\n" + std::to_string(header.Date) + "\n" + header.From + "\n" +
                                      header.Subject + "\n" + std::to_string(size);
    return TRowId::Print(TIdHashMessageDigest5::HashStringAsHex(key)).Text;
}

std::vector<TFetchedMessage> TCheckClient::FetchMessages(const std::vector<int>& numbers)
{
    std::vector<TFetchedMessage> fetched;
    fetched.reserve(numbers.size());
    for (int i : numbers)
    {
        TFetchedMessage m;
        m.Header = FetchHeaderThenSize(i);
        m.Size = MessageSize(i);
        fetched.push_back(std::move(m));
    }
    return fetched;
}

namespace
{

// The messages of the mailbox a client is aimed at: count, the identities,
// the headers of the messages whose identity is not in `known`.
void ListMailbox(TCheckClient& client, int maxMessages, const std::unordered_set<std::string>& known,
                 TFolderListing& listing)
{
    listing.Count = client.MessageCount();
    if (listing.Count > MaxMailboxMessages)
        throw std::runtime_error(FormatOne(FormatOne(ResStr("The mailbox holds %1 messages; at most %2 can be "
                                                            "checked."),
                                                     "%1", std::to_string(listing.Count)),
                                           "%2", std::to_string(MaxMailboxMessages)));
    // A server's count is not trusted: past the limit only the newest
    // messages are listed, so that new mail is always among them.
    const int n = std::min(listing.Count, std::max(maxMessages, 0));
    listing.First = listing.Count - n + 1;
    listing.Ids = client.MessageIds(listing.First, n);
    listing.ById = UsableIds(listing.Ids, n);
    if (!listing.ById)
        listing.Ids.assign(n, std::string()); // fingerprints stand in
    // Only messages the rows do not know are fetched where the server
    // gives identities; without them every header is.
    for (int k = 0; k < n; ++k)
        if (!listing.ById || known.count(listing.Ids[k]) == 0)
            listing.Numbers.push_back(listing.First + k);
    listing.Fetched = client.FetchMessages(listing.Numbers);
    if (listing.Fetched.size() != listing.Numbers.size())
        throw std::runtime_error("The server's answer left messages out.");
}

// Whether a folder is as the last check left it, its rows all standing.
bool Unchanged(const TFolderOrder& order, const TFolderStatus& status)
{
    if (status.Stamp.empty() || status.Stamp != order.LastStamp || !order.Last.ById)
        return false;
    return std::all_of(order.Last.Ids.begin(), order.Last.Ids.end(),
                       [&order](const std::string& id) { return order.Known.count(id) > 0; });
}

std::string FolderFailure(const std::string& mailbox, const std::string& why)
{
    return FormatOne(FormatOne(ResStr("The folder \"%1\" could not be checked: %2"), "%1", mailbox), "%2", why);
}

} // namespace

TAccountReport CheckSession(TCheckClient& client, int maxMessages, const std::unordered_set<std::string>& known)
{
    TAccountReport report;
    try
    {
        client.Connect();
        ListMailbox(client, maxMessages, known, report);
        client.Disconnect();
    }
    catch (const std::exception& e)
    {
        report.Error = MailErrorText(e);
        report.SignInNeeded = dynamic_cast<const ESignInNeeded*>(&e) != nullptr;
        client.DisconnectAfterFailure();
    }
    return report;
}

TAccountReport CheckSession(TCheckClient& client, int maxMessages, const TSessionOrder& order)
{
    if (order.Folders.empty())
        return CheckSession(client, maxMessages, order.Known);
    TAccountReport report;
    try
    {
        client.Connect();
        std::vector<std::string> mailboxes;
        for (const TFolderOrder& folder : order.Folders)
            mailboxes.push_back(folder.Mailbox);
        const std::vector<TFolderStatus> states = client.FolderStates(mailboxes);
        for (std::size_t i = 0; i < order.Folders.size(); ++i)
        {
            const TFolderOrder& folder = order.Folders[i];
            TFolderReport& f = report.Folders.emplace_back();
            f.Mailbox = folder.Mailbox;
            const TFolderStatus status = i < states.size() ? states[i] : TFolderStatus{};
            if (!status.Found)
            {
                f.Error = status.Refusal.empty()
                              ? FormatOne(ResStr("The folder \"%1\" does not exist on the server."), "%1",
                                          folder.Mailbox)
                              : FolderFailure(folder.Mailbox, status.Refusal);
                continue;
            }
            f.Stamp = status.Stamp;
            if (Unchanged(folder, status))
            {
                static_cast<TFolderListing&>(f) = folder.Last;
                continue;
            }
            try
            {
                client.OpenFolder(folder.Mailbox);
                ListMailbox(client, maxMessages, folder.Known, f);
            }
            catch (const EFolderRefused& e)
            {
                static_cast<TFolderListing&>(f) = {};
                f.Stamp.clear();
                f.Error = FolderFailure(folder.Mailbox, e.Message);
            }
        }
        client.Disconnect();
    }
    catch (const std::exception& e)
    {
        report.Folders.clear();
        report.Error = MailErrorText(e);
        client.DisconnectAfterFailure();
    }
    return report;
}

std::unordered_set<std::string> TCheckCycle::KnownIds(const TRowPlace& place) const
{
    std::unordered_set<std::string> known;
    known.reserve(static_cast<std::size_t>(FRows.Count()));
    for (int r = 0; r < FRows.Count(); ++r)
    {
        const TMessageRow& row = FRows.Row(r);
        if (row.ImageIndex != riError && !row.Id.empty() && InBlock(row, place))
            known.insert(row.Id);
    }
    if (const auto ignored = FIgnored.find(AccountText(place)); ignored != FIgnored.end())
        known.insert(ignored->second.begin(), ignored->second.end());
    return known;
}

std::unordered_set<std::string> TCheckCycle::PrintsElsewhere(int index, const TRowPlace& place) const
{
    std::unordered_set<std::string> prints;
    if (FFolders[index].size() < 2)
        return prints;
    for (int r = 0; r < FRows.Count(); ++r)
        if (const TMessageRow& row = FRows.Row(r); row.ImageIndex != riError && !row.Print.empty() &&
                                                   SameAccount(row, place) && row.Mailbox != place.Mailbox)
            prints.insert(row.Print);
    return prints;
}

bool TCheckCycle::ToldElsewhere(int index, const TRowPlace& place, const std::string& print) const
{
    if (FAnnounceAll || !Announced || print.empty())
        return false;
    for (const std::string& mailbox : FFolders[index])
        if (mailbox != place.Mailbox && Announced->Contains(TAnnounced::KeyOf(place.Key, mailbox), print))
            return true;
    return false;
}

void TCheckCycle::ListMessages(int index, const TRowPlace& place, const TFolderListing& report)
{
    const Account& account = FConfig.Accounts[index];
    TMessageList& rows = FRows;
    const bool byId = report.ById;
    // Without the server's identities the fingerprints stand in; with them
    // the report's are used as they are.
    std::vector<std::string> printIds;
    if (!byId)
        printIds = report.Ids;
    const std::vector<std::string>& ids = byId ? report.Ids : printIds;
    const int n = static_cast<int>(ids.size());
    const std::vector<TFetchedMessage>& fetched = report.Fetched;
    const std::vector<int>& numbers = report.Numbers;
    // Identities are a folder's own: each folder is remembered apart.
    const std::string key = TAnnounced::KeyOf(place.Key, place.Mailbox);
    TListedRows listed(rows, place);

    // Which message each row of the new block stands for: a listed row
    // (matched by identity, else by fingerprint) or a fetched header.
    std::vector<int> match(n, -1);
    std::vector<bool> wasFetched(n, false);
    for (int k : numbers)
        wasFetched[k - report.First] = true;
    // A message a rule kept out of the list has no row; it is known by its
    // identity, and stays out while it is on the server.
    std::unordered_set<std::string>& ignoredIds = FIgnored[AccountText(place)];
    std::vector<bool> ignored(n, false);
    for (int k = 0; k < n; ++k)
        if (byId && !wasFetched[k] && !(ignored[k] = ignoredIds.count(ids[k]) > 0) &&
            (match[k] = listed.TakeById(ids[k])) < 0)
            throw std::logic_error("A listed message lost its row during the check.");
    std::vector<int> fetchedAt(n, -1);
    std::vector<std::string> prints(n);
    for (std::size_t f = 0; f < numbers.size(); ++f)
    {
        const int k = numbers[f] - report.First;
        fetchedAt[k] = static_cast<int>(f);
        prints[k] = FingerprintOf(fetched[f].Header, fetched[f].Size);
        if (!byId)
            printIds[k] = prints[k];
        // Also where the identity is new to the rows: a server that
        // renumbered (a new UIDVALIDITY) still sends the same mail.
        match[k] = listed.TakeByPrint(prints[k]);
    }
    // The rules speak of new messages only: a listed one keeps what they said.
    std::vector<std::optional<TRuleAction>> ruled(n);
    if (!FRules.Empty())
        for (std::size_t f = 0; f < numbers.size(); ++f)
            if (const int k = numbers[f] - report.First; match[k] < 0)
            {
                const TFetchedHeader& h = fetched[f].Header;
                ruled[k] = FRules.Decide(FoldedFields(h.From, h.Subject, h.ListId, account.Caption));
                ignored[k] = ruled[k] == TRuleAction::Ignore;
            }
    ignoredIds.clear();
    for (int k = 0; k < n; ++k)
        if (ignored[k] && byId)
            ignoredIds.insert(ids[k]);
    const bool anyIgnored = std::find(ignored.begin(), ignored.end(), true) != ignored.end();
    // The fingerprints of the kept rows too: the memory keeps both, so a
    // mailbox whose identities were given anew announces nothing twice.
    for (int k = 0; Announced && k < n; ++k)
        if (match[k] >= 0 && prints[k].empty())
            prints[k] = rows.Print(listed.RowOf(match[k]));
    const int offset = report.First - 1;

    const int required = FConfig.Settings.RequiredPriority;
    std::vector<TMessageRow> block(n);
    // The block's kept rows count against its bound too, so that checks
    // one after the other do not pile bytes up.
    std::size_t heldPreviewBytes = 0;
    for (int k = 0; k < n; ++k)
        if (match[k] >= 0)
            heldPreviewBytes += rows.Row(listed.RowOf(match[k])).Preview.HeldBytes();
    // The account's other folders share the bound.
    for (int r = 0; r < rows.Count(); ++r)
        if (const TMessageRow& row = rows.Row(r);
            row.Key == place.Key && row.Caption == place.Caption && row.Mailbox != place.Mailbox)
            heldPreviewBytes += row.Preview.HeldBytes();
    // Only new rows ask: a repeat check goes without.
    const std::unordered_set<std::string> elsewhere =
        numbers.empty() ? std::unordered_set<std::string>() : PrintsElsewhere(index, place);
    bool inPlace = true; // the kept rows stay in order, with their identities
    int lastKept = -1;
    for (int k = 0; k < n; ++k)
    {
        TMessageRow& row = block[k];
        if (match[k] >= 0)
        {
            const int r = listed.RowOf(match[k]);
            if (r < lastKept || rows.Id(r) != ids[k])
                inPlace = false;
            lastKept = r;
            continue; // copied below only if the block is written anew
        }
        if (ignored[k])
            continue;
        const TFetchedMessage& m = fetched[fetchedAt[k]];
        row.Caption = account.Caption;
        row.SubItems = {m.Header.From, m.Header.Subject, HumanSize(m.Size)};
        heldPreviewBytes += m.Header.Preview.HeldBytes();
        if (heldPreviewBytes <= MaxHeldPreviewBytes)
            row.Preview = m.Header.Preview;
        row.Id = ids[k];
        row.Print = prints[k];
        row.MessageId = BareMessageId(m.Header.MessageId);
        row.Key = place.Key;
        row.Mailbox = place.Mailbox;
        row.Offset = offset;
        row.Important = ruled[k] == TRuleAction::Important;
        row.QuietByRule = ruled[k] == TRuleAction::Quiet;
        // Told before this run began: listed, not announced again. So is
        // a copy of a message told from another folder of the account (a
        // label kept beside the inbox).
        row.Cut = (!FAnnounceAll && Announced &&
                   (Announced->Contains(key, ids[k]) || Announced->Contains(key, prints[k]) ||
                    (!byId && Announced->Contains(key, EarlierFingerprintOf(m.Header, m.Size))))) ||
                  elsewhere.count(prints[k]) > 0 || ToldElsewhere(index, place, prints[k]);
        if (!row.Cut && (row.Important || PriorityCounts(required, m.Header.Priority)))
        {
            ++NewCount;
            if (!account.Silent && !row.QuietByRule)
                ++FUntold;
        }
    }
    // Rows kept out shift the numbers of those after them: the block is
    // written anew, each row's offset counting them.
    if (anyIgnored)
        inPlace = false;

    TRowsUpdateGuard noRepaint(rows);
    const int blockStart = listed.Size() > 0 ? listed.BlockStart(rows) : PlaceOfFolder(index, place.Mailbox);
    if (inPlace)
    {
        // Rows whose message is gone leave; the kept ones stay where they
        // are, and the new ones go between them at their place, each run of
        // them at once.
        for (int k = static_cast<int>(listed.Size()) - 1; k >= 0;)
        {
            int first = k;
            if (!listed.Taken(k))
                while (first > 0 && !listed.Taken(first - 1) && listed.RowOf(first - 1) == listed.RowOf(first) - 1)
                    --first;
            if (!listed.Taken(k))
                rows.Delete(listed.RowOf(first), k - first + 1);
            k = first - 1;
        }
        for (int k = 0; k < n;)
        {
            const int p = blockStart + k;
            if (match[k] >= 0)
            {
                rows.SetCut(p, true);
                rows.SetImageIndex(p, riMessage);
                rows.SetOffset(p, offset);
                ++k;
                continue;
            }
            int end = k;
            while (end < n && match[end] < 0)
                ++end;
            rows.InsertBlock(p, std::vector<TMessageRow>(std::make_move_iterator(block.begin() + k),
                                                    std::make_move_iterator(block.begin() + end)));
            k = end;
        }
    }
    else
    {
        for (int k = 0; k < n; ++k)
            if (match[k] >= 0)
            {
                block[k] = rows.Row(listed.RowOf(match[k]));
                block[k].Id = ids[k];
                block[k].Cut = true;
                block[k].ImageIndex = riMessage;
                block[k].Offset = offset;
            }
        const int size = static_cast<int>(listed.Size());
        if (size > 0 && listed.RowOf(size - 1) - listed.RowOf(0) == size - 1)
            rows.Delete(listed.RowOf(0), size);
        else
            for (int k = size - 1; k >= 0; --k)
                rows.Delete(listed.RowOf(k));
        if (anyIgnored)
        {
            std::vector<TMessageRow> shown;
            int left = 0;
            for (int k = 0; k < n; ++k)
            {
                if (ignored[k])
                {
                    ++left;
                    continue;
                }
                block[k].Offset = offset + left;
                shown.push_back(std::move(block[k]));
            }
            block = std::move(shown);
        }
        rows.InsertBlock(blockStart, std::move(block));
    }
    if (Announced)
        for (int k = 0; k < n; ++k)
        {
            if (ignored[k])
                continue;
            Announced->Add(key, ids[k]);
            if (!prints[k].empty())
                Announced->Add(key, prints[k]);
        }
}

std::vector<TSessionOrder> TCheckCycle::BeginRound(const TCycleConfig& config, bool clearList,
                                                   std::exception_ptr& failure, const std::vector<int>& only)
{
    TMessageList& rows = FRows;
    FConfig = config;
    if (FConfig.Settings.Rules != FRuleTexts)
    {
        FRuleTexts = FConfig.Settings.Rules;
        FRules = TMailRules(FRuleTexts);
        // What the old rules kept out is looked at again.
        FIgnored.clear();
    }
    FPlaces = AccountPlaces(FConfig.Accounts);
    const std::vector<Account>& accounts = FConfig.Accounts;
    FFolders.clear();
    for (const Account& account : accounts)
        FFolders.push_back(WatchedFolders(account));
    std::vector<bool> inRound(accounts.size(), only.empty());
    for (int index : only)
        if (index >= 0 && index < static_cast<int>(accounts.size()))
            inRound[index] = true;
    FAnnounceAll = clearList;
    FRunning = true;
    if (only.empty())
        FFailed.clear();
    for (std::size_t i = 0; i < accounts.size(); ++i)
        if (inRound[i])
            FFailed.erase(AccountText(FPlaces[i]));
    FPending = 0;
    FAwaited.clear();
    FUntold = 0;
    // A round over some accounts (news pushed, a Delete, Mark as read) tells
    // of new mail only: a message read elsewhere is nothing to tell anew.
    FToldInRound = !only.empty();
    FWithdrawnInRound = false;
    FTold.clear();
    NewCount = 0;
    if (clearList)
    {
        rows.Clear();
        FIgnored.clear();
        FUnlisted.clear();
        FLastListed.clear();
        WithdrawShownNews();
    }
    FOutput.SetTrayPicture(tpChecking);
    for (int i = rows.Count() - 1; i >= 0; --i)
        if (rows.ImageIndex(i) == riError)
        {
            const int account = only.empty() ? -1 : AccountOfRow(i);
            if (only.empty() || account < 0 || inRound[account])
                rows.Delete(i);
        }

    std::vector<TSessionOrder> orders;
    for (std::size_t i = 0; i < accounts.size(); ++i)
    {
        const int index = static_cast<int>(i);
        if (!accounts[i].Enabled || !inRound[i])
            continue;
        if (i < FConfig.Withheld.size() && !FConfig.Withheld[i].empty())
        {
            AccountFailed(index, FConfig.Withheld[i]);
            continue;
        }
        if (!accounts[i].Unreadable.empty())
        {
            AccountFailed(index, accounts[i].Unreadable.front().Problem);
            continue;
        }
        TSessionOrder order;
        order.Index = index;
        try
        {
            // A port that cannot be used fails this account only.
            order.Port = PortOfText(accounts[i].Port);
        }
        catch (const EBadPort& e)
        {
            AccountFailed(index, e.Message);
            continue;
        }
        catch (...)
        {
            failure = std::current_exception();
            break;
        }
        order.Known = KnownIds(FPlaces[i]);
        if (FFolders[i].size() > 1 || FFolders[i].front() != InboxName)
            for (const std::string& mailbox : FFolders[i])
            {
                TFolderOrder& folder = order.Folders.emplace_back();
                folder.Mailbox = mailbox;
                const TRowPlace place = FolderPlace(index, mailbox);
                folder.Known = KnownIds(place);
                if (const auto last = FLastListed.find(AccountText(place)); last != FLastListed.end())
                {
                    folder.LastStamp = last->second.first;
                    folder.Last = last->second.second;
                }
            }
        orders.push_back(std::move(order));
    }
    FPending = static_cast<int>(orders.size());
    for (const TSessionOrder& order : orders)
        FAwaited.insert(order.Index);
    return orders;
}

void TCheckCycle::ApplyReport(int index, const TAccountReport& report)
{
    FPending = std::max(FPending - 1, 0);
    FAwaited.erase(index);
    for (const std::string& mailbox : FFolders[index])
        FUnlisted.erase(AccountText(FolderPlace(index, mailbox)));
    if (!report.Error.empty())
        AccountFailed(index, report.Error);
    else
        try
        {
            if (report.Folders.empty())
                ListFolder(index, FPlaces[index], report);
            else
                for (const TFolderReport& folder : report.Folders)
                {
                    const TRowPlace place = FolderPlace(index, folder.Mailbox);
                    FLastListed.erase(AccountText(place));
                    if (!folder.Error.empty())
                        FolderFailed(index, place, folder.Error);
                    else
                    {
                        ListFolder(index, place, folder);
                        if (!folder.Stamp.empty() && folder.ById)
                            FLastListed[AccountText(place)] = {folder.Stamp, ListingIds(folder)};
                    }
                }
            DropUnwatchedRows(index);
        }
        catch (const std::exception& e)
        {
            // The rows changed under the session: the next round lists the
            // account afresh.
            AccountFailed(index, MailErrorText(e));
        }
    Summary();
}

void TCheckCycle::ListFolder(int index, const TRowPlace& place, const TFolderListing& listing)
{
    const Account& account = FConfig.Accounts[index];
    ListMessages(index, place, listing);
    const int n = static_cast<int>(listing.Ids.size());
    if (listing.Count > n)
    {
        FUnlisted[AccountText(place)] = listing.Count - n;
        // Drawn as an error row, so the next cycle removes it first.
        TMessageRow note;
        note.Caption = account.Caption;
        note.Key = place.Key;
        note.Mailbox = place.Mailbox;
        note.ImageIndex = riError;
        note.Hint = FormatOne(FormatOne(ResStr("Only the newest %1 of %2 messages are listed."), "%1",
                                        std::to_string(n)),
                              "%2", std::to_string(listing.Count));
        FRows.Insert(PlaceOf(index, true), note);
    }
}

TFolderListing TCheckCycle::ListingIds(const TFolderListing& listing)
{
    TFolderListing kept;
    kept.Count = listing.Count;
    kept.First = listing.First;
    kept.Ids = listing.Ids;
    kept.ById = listing.ById;
    return kept;
}

TRowPlace TCheckCycle::FolderPlace(int index, const std::string& mailbox) const
{
    TRowPlace place = FPlaces[index];
    place.Mailbox = mailbox;
    return place;
}

int TCheckCycle::FolderOrdinal(int index, const std::string& mailbox) const
{
    const std::vector<std::string>& folders = FFolders[index];
    const auto found = std::find(folders.begin(), folders.end(), mailbox);
    return found == folders.end() ? static_cast<int>(folders.size()) : static_cast<int>(found - folders.begin());
}

int TCheckCycle::PlaceOfFolder(int index, const std::string& mailbox) const
{
    // After the account's blocks of the folders before it, before those after.
    const int ordinal = FolderOrdinal(index, mailbox);
    for (int r = 0; r < FRows.Count(); ++r)
    {
        if (FRows.ImageIndex(r) == riError)
            return r;
        const int account = AccountOfRow(r);
        if (account > index || (account == index && FolderOrdinal(index, FRows.Row(r).Mailbox) > ordinal))
            return r;
    }
    return FRows.Count();
}

void TCheckCycle::FolderFailed(int index, const TRowPlace& place, const std::string& why)
{
    TMessageList& rows = FRows;
    const int first = FirstRowOf(rows, place);
    if (first >= 0)
    {
        int end = first;
        while (end < rows.Count() && rows.ImageIndex(end) != riError && InBlock(rows.Row(end), place))
            ++end;
        rows.Delete(first, end - first);
    }
    TMessageRow error;
    error.Caption = FConfig.Accounts[index].Caption;
    error.Key = place.Key;
    error.Mailbox = place.Mailbox;
    error.ImageIndex = riError;
    error.Hint = why;
    rows.Insert(PlaceOf(index, true), error);
}

void TCheckCycle::DropUnwatchedRows(int index)
{
    // A folder no longer watched takes its rows with it.
    const TRowPlace& account = FPlaces[index];
    const std::vector<std::string>& folders = FFolders[index];
    for (int r = FRows.Count() - 1; r >= 0; --r)
    {
        const TMessageRow& row = FRows.Row(r);
        if (row.ImageIndex != riError && SameAccount(row, account) &&
            std::find(folders.begin(), folders.end(), row.Mailbox) == folders.end())
            FRows.Delete(r);
    }
}

void TCheckCycle::Tell()
{
    const TCycleSettings& settings = FConfig.Settings;
    // Whenever something is listed, where not only new mail is told: once
    // a round, and again only for new rows.
    if (ShouldNotify(settings.NotifyOnlyNewMsg, FUntold, TellableCount()) && (FUntold > 0 || !FToldInRound))
    {
        FToldInRound = true;
        Notify(CurrentHeadline());
    }
    FUntold = 0;
}

void TCheckCycle::EndRound()
{
    FPending = 0;
    FAwaited.clear();
    FRunning = false;
    Summary();
    Tell();
    // Once a round is enough: the summary may have withdrawn it already.
    if (ListedCount == 0 && !FWithdrawnInRound)
        WithdrawShownNews();
}

void TCheckCycle::WithdrawShownNews()
{
    FWithdrawnInRound = true;
    FShownNews = {};
    FShownKeys.clear();
    FOutput.WithdrawNews();
}

int TCheckCycle::AccountOfRow(int r) const
{
    const TMessageRow& row = FRows.Row(r);
    for (std::size_t i = 0; i < FPlaces.size(); ++i)
        if (SameAccount(row, FPlaces[i]))
            return static_cast<int>(i);
    return -1;
}

int TCheckCycle::PlaceOf(int index, bool errorRow) const
{
    for (int r = 0; r < FRows.Count(); ++r)
    {
        const bool error = FRows.ImageIndex(r) == riError;
        if (!errorRow && error)
            return r;
        if (error == errorRow && AccountOfRow(r) > index)
            return r;
    }
    return FRows.Count();
}

void TCheckCycle::AccountFailed(int index, const std::string& why)
{
    const Account& account = FConfig.Accounts[index];
    const TRowPlace& place = FPlaces[index];
    FFailed.insert(AccountText(place));
    for (const std::string& mailbox : FFolders[index])
    {
        FUnlisted.erase(AccountText(FolderPlace(index, mailbox)));
        FLastListed.erase(AccountText(FolderPlace(index, mailbox)));
    }
    FOutput.SetTrayHint(ResStr("The connection to mail server is not available"));
    if (FOutput.TrayPicture() != tpFailure)
        FOutput.SetTrayPicture(tpFailure);
    TMessageList& rows = FRows;
    // A run of rows at once: a long list is moved along once per run.
    for (int end = rows.Count(); end > 0;)
    {
        int first = end;
        while (first > 0 && SameAccount(rows.Row(first - 1), place))
            --first;
        if (first < end)
            rows.Delete(first, end - first);
        end = first == end ? end - 1 : first;
    }
    TMessageRow error;
    error.Caption = account.Caption;
    error.Key = place.Key;
    error.ImageIndex = riError;
    error.Hint = why;
    rows.Insert(PlaceOf(index, true), error);
}

void TCheckCycle::Summary()
{
    ListedCount = CountedRows(false);

    const std::string headline = CurrentHeadline();
    FOutput.SetHeadline(headline);
    // Checking while any session of the round runs; a failure shows from
    // the first until the next round.
    const int picture = !FFailed.empty() ? tpFailure : FPending > 0 ? tpChecking : tpIdle;
    std::string hint = ResStr("The connection to mail server is not available");
    if (FFailed.empty())
    {
        hint = TrayHint(headline, FOutput.TimeText());
        FOutput.SetTrayHint(hint);
    }
    if (FOutput.TrayPicture() != picture)
        FOutput.SetTrayPicture(picture);
    const TCycleSettings& settings = FConfig.Settings;
    FOutput.SetNewMailIconVisible(!settings.ShowIcon.empty() && ListedCount > 0);
    FollowTold();
    TMailState state = MailState();
    state.Hint = std::move(hint);
    FOutput.MailStateChanged(state);
}

void TCheckCycle::FollowTold()
{
    if (FShownKeys.empty())
        return;
    std::unordered_map<std::string, int> standing;
    for (int r = 0; r < FRows.Count(); ++r)
        if (FRows.ImageIndex(r) != riError)
            standing.try_emplace(RowKeyText(FRows.Place(r), FRows.Id(r)), r);
    TNewMailNews rest{FShownNews.Title, CurrentHeadline(), {}};
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < FShownKeys.size(); ++i)
    {
        const auto found = standing.find(FShownKeys[i]);
        if (found == standing.end())
            continue;
        TToldMessage told = FShownNews.Told[i];
        // Its number as the block stands now, for Mark as read.
        const int r = found->second;
        told.Number = r - FirstRowOf(FRows, FRows.Place(r)) + 1 + FRows.Offset(r);
        rest.Told.push_back(std::move(told));
        keys.push_back(FShownKeys[i]);
    }
    if (keys.size() == FShownKeys.size())
    {
        FShownNews.Told = std::move(rest.Told);
        return;
    }
    if (keys.empty())
        return WithdrawShownNews();
    FShownNews = rest;
    FShownKeys = std::move(keys);
    FOutput.NewsLeft(rest);
}

TMailState TCheckCycle::MailState() const
{
    TMailState state;
    state.Count = WaitingCount();
    state.Failed = !FFailed.empty();
    state.Important = ImportantWaits(FRows);
    state.Quiet = FQuiet;
    std::vector<TAccountState> accounts(FPlaces.size());
    for (std::size_t i = 0; i < FPlaces.size(); ++i)
        accounts[i].Name = FConfig.Accounts[i].Caption;
    // A block at a time, as the rows of an account stand together; a
    // message in two of an account's folders counts once.
    int account = -1;
    std::optional<TRowPlace> place;
    std::unordered_map<std::string_view, std::string_view> counted;
    for (int r = 0; r < FRows.Count(); ++r)
    {
        const TMessageRow& row = FRows.Row(r);
        if (!place || !InBlock(row, *place))
        {
            if (!place || !SameAccount(row, *place))
            {
                counted.clear();
                account = AccountOfRow(r);
            }
            place = FRows.Place(r);
        }
        if (account < 0)
            continue;
        TAccountState& share = accounts[static_cast<std::size_t>(account)];
        if (row.ImageIndex == riError)
        {
            // A note of messages left out is no failure.
            if (share.Error.empty() && FUnlisted.count(AccountText(*place)) == 0)
                share.Error = row.Hint;
            continue;
        }
        if (!row.Print.empty())
            if (const auto [first, added] = counted.try_emplace(row.Print, row.Mailbox);
                !added && first->second != row.Mailbox)
                continue;
        ++share.Count;
    }
    for (std::size_t i = 0; i < accounts.size(); ++i)
    {
        state.Failed = state.Failed || !accounts[i].Error.empty();
        if (FConfig.Accounts[i].Enabled || accounts[i].Count > 0 || !accounts[i].Error.empty())
            state.Accounts.push_back(std::move(accounts[i]));
    }
    return state;
}

bool TCheckCycle::SilentRow(int r) const
{
    const int account = AccountOfRow(r);
    return account >= 0 && FConfig.Accounts[static_cast<std::size_t>(account)].Silent;
}

int TCheckCycle::TellableCount() const
{
    const std::vector<Account>& accounts = FConfig.Accounts;
    if (FRules.Empty() && std::none_of(accounts.begin(), accounts.end(), [](const Account& a) { return a.Silent; }))
        return ListedCount;
    return CountedRows(true);
}

int TCheckCycle::CountedRows(bool tellableOnly) const
{
    const bool folders = std::any_of(FFolders.begin(), FFolders.end(),
                                     [](const std::vector<std::string>& f) { return f.size() > 1; });
    int count = 0;
    if (!tellableOnly && !folders)
    {
        for (int r = 0; r < FRows.Count(); ++r)
            if (FRows.ImageIndex(r) != riError)
                ++count;
        return count;
    }
    // An account's rows stand together: its voice and folders are looked up
    // once a block.
    std::optional<TRowPlace> place;
    bool silent = false;
    bool watchesFolders = false;
    // The fingerprints of the account's rows counted, each with the folder
    // it was first counted in.
    std::unordered_map<std::string_view, std::string_view> counted;
    for (int r = 0; r < FRows.Count(); ++r)
    {
        const TMessageRow& row = FRows.Row(r);
        if (row.ImageIndex == riError)
            continue;
        if (!place || !InBlock(row, *place))
        {
            if (!place || !SameAccount(row, *place))
            {
                counted.clear();
                const int account = AccountOfRow(r);
                watchesFolders = account >= 0 && FFolders[account].size() > 1;
                silent = tellableOnly && SilentRow(r);
            }
            place = FRows.Place(r);
        }
        if (silent || (tellableOnly && row.QuietByRule))
            continue;
        // A message in two of the account's folders counts once.
        if (watchesFolders && !row.Print.empty())
            if (const auto [first, added] = counted.try_emplace(row.Print, row.Mailbox);
                !added && first->second != row.Mailbox)
                continue;
        ++count;
    }
    return count;
}

std::string TCheckCycle::CurrentHeadline() const
{
    return Headline(ListedCount, WaitingCount());
}

int TCheckCycle::WaitingCount() const
{
    int waiting = ListedCount;
    for (std::size_t i = 0; i < FPlaces.size(); ++i)
        for (const std::string& mailbox : FFolders[i])
        {
            const auto unlisted = FUnlisted.find(AccountText(FolderPlace(static_cast<int>(i), mailbox)));
            if (unlisted != FUnlisted.end())
                waiting += unlisted->second;
        }
    return waiting;
}

void TCheckCycle::Notify(const std::string& headline)
{
    const TCycleSettings& settings = FConfig.Settings;
    TMessageList& rows = FRows;
    // The rows told now, with their numbers: while quiet only the important
    // ones; the others are held for the summary.
    std::vector<std::pair<int, int>> telling;
    std::vector<std::string> tellingKeys;
    std::vector<std::pair<int, int>> held;
    // Where each block starts, found once: a list of thousands of new
    // rows is told in one pass.
    std::unordered_map<std::string, int> blockStart;
    TRowPlace place;
    int start = 0;
    bool silent = false;
    for (int r = 0; r < rows.Count(); ++r)
    {
        if (r == 0 || !InBlock(rows.Row(r), place))
        {
            place = rows.Place(r);
            start = blockStart.try_emplace(AccountText(place), r).first->second;
            silent = SilentRow(r);
        }
        if (rows.Cut(r) || rows.ImageIndex(r) == riError || silent || rows.Row(r).QuietByRule)
            continue;
        // A row its account's session has yet to confirm is told with that
        // report, if it is still new then.
        if (!FAwaited.empty() && FAwaited.count(AccountOfRow(r)) > 0)
            continue;
        std::string key = RowKeyText(place, rows.Id(r));
        if (!FTold.insert(key).second)
            continue;
        if (FQuiet && !rows.Row(r).Important)
        {
            FHeld.insert(std::move(key));
            held.emplace_back(r, r - start + 1 + rows.Offset(r));
            continue;
        }
        telling.emplace_back(r, r - start + 1 + rows.Offset(r));
        tellingKeys.push_back(std::move(key));
    }
    if (FQuiet)
    {
        if (settings.CommandWhenQuiet)
            for (const auto& [r, number] : held)
                RunCommandFor(r);
        if (FDesktopKeeps && !settings.ShowIcon.empty())
        {
            TNewMailNews kept{"ternbell", headline, {}};
            for (const auto& [r, number] : held)
                if (const Account* account = AccountOf(r); !account || account->Notify)
                {
                    const int urgency = account ? std::clamp(account->Urgency, 0, 2) : 1;
                    kept.Urgency = kept.Told.empty() ? urgency : std::max(kept.Urgency, urgency);
                    kept.Told.push_back(ToldOf(r, number, kept.Told.size() < NoticePreviews));
                }
            if (!kept.Told.empty())
                FOutput.KeepNews(kept);
        }
        if (telling.empty())
            return;
    }

    if (settings.SilentMode)
        FOutput.StartBlinking();
    std::vector<int> toldRows;
    for (const auto& [r, number] : telling)
        toldRows.push_back(r);
    PlaySoundFor(toldRows); // "no device open" ends the remaining actions
    if (settings.ShowForm && !FOutput.NotificationVisible())
        FOutput.ShowNotification();
    TNewMailNews news{"ternbell", headline, {}};
    std::vector<std::string> toldKeys;
    for (std::size_t i = 0; i < telling.size(); ++i)
    {
        const auto [r, number] = telling[i];
        RunCommandFor(r);
        const Account* account = AccountOf(r);
        if (account && !account->Notify)
            continue;
        // Only the previews shown are made: the rest keep their bytes.
        news.Told.push_back(ToldOf(r, number, news.Told.size() < NoticePreviews));
        toldKeys.push_back(tellingKeys[i]);
        const int urgency = rows.Row(r).Important ? 2 : account ? std::clamp(account->Urgency, 0, 2) : 1;
        news.Urgency = news.Told.size() == 1 ? urgency : std::max(news.Urgency, urgency);
    }
    // Mail only of accounts that want no notification shows none.
    if (settings.ShowIcon.empty() || (!telling.empty() && news.Told.empty()))
        return;
    // What this telling tells of, to follow as its messages leave the list.
    FShownKeys = std::move(toldKeys);
    FShownNews = news;
    FOutput.ShowBalloon(news);
}

void TCheckCycle::RunCommandFor(int r)
{
    const TCycleSettings& settings = FConfig.Settings;
    if (settings.Execute.empty())
        return;
    const std::vector<std::string> arguments =
        ExpandCommandParts(settings.Execute, RowValues(FRows, FPlaces, r, UsesPreview(settings.Execute))).Arguments();
    if (!arguments.empty())
        FOutput.RunCommand(arguments);
}

const Account* TCheckCycle::AccountOf(int r) const
{
    const int account = AccountOfRow(r);
    return account >= 0 ? &FConfig.Accounts[static_cast<std::size_t>(account)] : nullptr;
}

void TCheckCycle::PlaySoundFor(const std::vector<int>& told)
{
    const std::string& common = FConfig.Settings.Sound;
    for (int r : told)
    {
        const Account* account = AccountOf(r);
        const std::string own = account ? account->Sound : std::string();
        if (own == "-" || (own.empty() && common.empty()))
            continue;
        if (own.empty())
            FOutput.PlaySound();
        else
            FOutput.PlaySoundFile(own);
        return;
    }
    if (told.empty() && !common.empty())
        FOutput.PlaySound();
}

void TCheckCycle::SetQuiet(bool quiet, bool desktopKeeps)
{
    FDesktopKeeps = quiet && desktopKeeps;
    if (FQuiet == quiet)
        return;
    FQuiet = quiet;
    if (!quiet)
        TellHeld();
    Summary();
}

void TCheckCycle::TellHeld()
{
    // Only what still waits: a message read or deleted meanwhile is gone
    // from the list.
    std::vector<int> waiting;
    std::vector<int> perAccount(FConfig.Accounts.size(), 0);
    int urgency = -1;
    for (int r = 0; r < FRows.Count(); ++r)
    {
        if (FRows.ImageIndex(r) == riError || FHeld.count(RowKeyText(FRows.Place(r), FRows.Id(r))) == 0)
            continue;
        waiting.push_back(r);
        const int account = AccountOfRow(r);
        if (account < 0 || !FConfig.Accounts[static_cast<std::size_t>(account)].Notify)
            continue;
        ++perAccount[static_cast<std::size_t>(account)];
        urgency = std::max(urgency, std::clamp(FConfig.Accounts[static_cast<std::size_t>(account)].Urgency, 0, 2));
    }
    FHeld.clear();
    if (waiting.empty())
        return;
    const TCycleSettings& settings = FConfig.Settings;
    if (settings.SilentMode)
        FOutput.StartBlinking();
    PlaySoundFor(waiting);
    if (settings.ShowForm && !FOutput.NotificationVisible())
        FOutput.ShowNotification();
    if (settings.ShowIcon.empty() || urgency < 0)
        return;
    int told = 0;
    for (const int n : perAccount)
        told += n;
    TNewMailNews news{"ternbell",
                      FormatOne(ResStr("%1 new messages arrived while notifications were quiet"), "%1",
                                std::to_string(told)),
                      {}};
    news.Urgency = urgency;
    for (std::size_t i = 0; i < perAccount.size(); ++i)
        if (perAccount[i] > 0)
            news.Lines.push_back(FConfig.Accounts[i].Caption + ": " + std::to_string(perAccount[i]));
    // The summary stands for messages that may leave one by one: it is not
    // followed, only replaced or withdrawn.
    FShownKeys.clear();
    FShownNews = news;
    FOutput.ShowBalloon(news);
}

TToldMessage TCheckCycle::ToldOf(int r, int number, bool preview) const
{
    TToldMessage told;
    told.Account = AccountOfRow(r);
    if (told.Account >= 0)
        // JMAP has the read flag too.
        told.IMAP4 = FConfig.Accounts[told.Account].IMAP4 || FConfig.Accounts[told.Account].JMAP;
    told.Number = number;
    told.Shown = RowMessageOf(FRows, r, preview);
    told.Mailbox = FRows.Row(r).Mailbox;
    return told;
}

#include "check/CheckCycle.h"

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
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace
{

// A sender or subject cut to what a row keeps, not inside a character.
std::string RowText(std::string text)
{
    if (text.size() <= MaxRowTextLength)
        return text;
    return CutAtCharacter(text, MaxRowTextLength);
}

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
    return TFetchedHeader{RowText(message.FromText()), RowText(std::move(message.Subject)),
                          static_cast<int>(message.Priority), RowText(std::move(message.MessageId)), message.Date};
}

std::string FingerprintOf(const TFetchedHeader& header, int size)
{
    const std::string key = !header.MessageId.empty()
                                ? "m\n" + header.MessageId
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

TAccountReport CheckSession(TCheckClient& client, int maxMessages, const std::unordered_set<std::string>& known)
{
    TAccountReport report;
    try
    {
        client.Connect();
        report.Count = client.MessageCount();
        if (report.Count > MaxMailboxMessages)
            throw std::runtime_error(FormatOne(FormatOne(ResStr("The mailbox holds %1 messages; at most %2 can be "
                                                                "checked."),
                                                         "%1", std::to_string(report.Count)),
                                               "%2", std::to_string(MaxMailboxMessages)));
        // A server's count is not trusted: past the limit only the newest
        // messages are listed, so that new mail is always among them.
        const int n = std::min(report.Count, std::max(maxMessages, 0));
        report.First = report.Count - n + 1;
        report.Ids = client.MessageIds(report.First, n);
        report.ById = UsableIds(report.Ids, n);
        if (!report.ById)
            report.Ids.assign(n, std::string()); // fingerprints stand in
        // Only messages the rows do not know are fetched where the server
        // gives identities; without them every header is.
        for (int k = 0; k < n; ++k)
            if (!report.ById || known.count(report.Ids[k]) == 0)
                report.Numbers.push_back(report.First + k);
        report.Fetched = client.FetchMessages(report.Numbers);
        if (report.Fetched.size() != report.Numbers.size())
            throw std::runtime_error("The server's answer left messages out.");
        client.Disconnect();
    }
    catch (const std::exception& e)
    {
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
    return known;
}

void TCheckCycle::ListMessages(int index, const TAccountReport& report)
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
    const TRowPlace& place = FPlaces[index];
    const std::string& key = place.Key;
    TListedRows listed(rows, place);

    // Which message each row of the new block stands for: a listed row
    // (matched by identity, else by fingerprint) or a fetched header.
    std::vector<int> match(n, -1);
    std::vector<bool> wasFetched(n, false);
    for (int k : numbers)
        wasFetched[k - report.First] = true;
    for (int k = 0; k < n; ++k)
        if (byId && !wasFetched[k] && (match[k] = listed.TakeById(ids[k])) < 0)
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
        const TFetchedMessage& m = fetched[fetchedAt[k]];
        row.Caption = account.Caption;
        row.SubItems = {m.Header.From, m.Header.Subject, HumanSize(m.Size)};
        heldPreviewBytes += m.Header.Preview.HeldBytes();
        if (heldPreviewBytes <= MaxHeldPreviewBytes)
            row.Preview = m.Header.Preview;
        row.Id = ids[k];
        row.Print = prints[k];
        row.Key = place.Key;
        row.Mailbox = place.Mailbox;
        row.Offset = offset;
        // Told before this run began: listed, not announced again.
        row.Cut = !FAnnounceAll && Announced &&
                  (Announced->Contains(key, ids[k]) || Announced->Contains(key, prints[k]) ||
                   (!byId && Announced->Contains(key, EarlierFingerprintOf(m.Header, m.Size))));
        if (!row.Cut && PriorityCounts(required, m.Header.Priority))
        {
            ++NewCount;
            ++FUntold;
        }
    }

    TRowsUpdateGuard noRepaint(rows);
    const int blockStart = listed.Size() > 0 ? listed.BlockStart(rows) : PlaceOf(index, false);
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
        rows.InsertBlock(blockStart, std::move(block));
    }
    if (Announced)
        for (int k = 0; k < n; ++k)
        {
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
    FPlaces = AccountPlaces(FConfig.Accounts);
    const std::vector<Account>& accounts = FConfig.Accounts;
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
    FToldInRound = false;
    FTold.clear();
    NewCount = 0;
    if (clearList)
    {
        rows.Clear();
        FUnlisted.clear();
        FOutput.WithdrawNews();
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
    const Account& account = FConfig.Accounts[index];
    FUnlisted.erase(AccountText(FPlaces[index]));
    if (!report.Error.empty())
        AccountFailed(index, report.Error);
    else
        try
        {
            ListMessages(index, report);
            const int n = static_cast<int>(report.Ids.size());
            if (report.Count > n)
            {
                FUnlisted[AccountText(FPlaces[index])] = report.Count - n;
                // Drawn as an error row, so the next cycle removes it first.
                TMessageRow note;
                note.Caption = account.Caption;
                note.Key = FPlaces[index].Key;
                note.ImageIndex = riError;
                note.Hint = FormatOne(FormatOne(ResStr("Only the newest %1 of %2 messages are listed."), "%1",
                                                std::to_string(n)),
                                      "%2", std::to_string(report.Count));
                FRows.Insert(PlaceOf(index, true), note);
            }
        }
        catch (const std::exception& e)
        {
            // The rows changed under the session: the next round lists the
            // account afresh.
            AccountFailed(index, MailErrorText(e));
        }
    Summary();
}

void TCheckCycle::Tell()
{
    const TCycleSettings& settings = FConfig.Settings;
    // Whenever something is listed, where not only new mail is told: once
    // a round, and again only for new rows.
    if (ShouldNotify(settings.NotifyOnlyNewMsg, FUntold, ListedCount) && (FUntold > 0 || !FToldInRound))
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
    if (ListedCount == 0)
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
    FUnlisted.erase(AccountText(place));
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
    TMessageList& rows = FRows;
    ListedCount = 0;
    for (int r = 0; r < rows.Count(); ++r)
        if (rows.ImageIndex(r) != riError)
            ++ListedCount;

    const std::string headline = CurrentHeadline();
    FOutput.SetHeadline(headline);
    // Checking while any session of the round runs; a failure shows from
    // the first until the next round.
    const int picture = !FFailed.empty() ? tpFailure : FPending > 0 ? tpChecking : tpIdle;
    if (FFailed.empty())
        FOutput.SetTrayHint(TrayHint(headline, FOutput.TimeText()));
    if (FOutput.TrayPicture() != picture)
        FOutput.SetTrayPicture(picture);
    const TCycleSettings& settings = FConfig.Settings;
    FOutput.SetNewMailIconVisible(!settings.ShowIcon.empty() && ListedCount > 0);
}

std::string TCheckCycle::CurrentHeadline() const
{
    int waiting = ListedCount;
    for (const TRowPlace& place : FPlaces)
    {
        const auto unlisted = FUnlisted.find(AccountText(place));
        if (unlisted != FUnlisted.end())
            waiting += unlisted->second;
    }
    return Headline(ListedCount, waiting);
}

void TCheckCycle::Notify(const std::string& headline)
{
    const TCycleSettings& settings = FConfig.Settings;
    if (settings.SilentMode)
        FOutput.StartBlinking();
    if (!settings.Sound.empty())
        FOutput.PlaySound(); // "no device open" ends the remaining actions
    if (settings.ShowForm && !FOutput.NotificationVisible())
        FOutput.ShowNotification();
    TMessageList& rows = FRows;
    TNewMailNews news{"ternbell", headline, {}};
    // Where each block starts, found once: a list of thousands of new
    // rows is told in one pass.
    std::unordered_map<std::string, int> blockStart;
    TRowPlace place;
    int start = 0;
    for (int r = 0; r < rows.Count(); ++r)
    {
        if (r == 0 || !InBlock(rows.Row(r), place))
        {
            place = rows.Place(r);
            start = blockStart.try_emplace(AccountText(place), r).first->second;
        }
        if (rows.Cut(r) || rows.ImageIndex(r) == riError)
            continue;
        // A row its account's session has yet to confirm is told with that
        // report, if it is still new then.
        if (!FAwaited.empty() && FAwaited.count(AccountOfRow(r)) > 0)
            continue;
        if (!FTold.insert(RowKeyText(place, rows.Id(r))).second)
            continue;
        // Only the previews shown are made: the rest keep their bytes.
        news.Told.push_back(ToldOf(r, r - start + 1 + rows.Offset(r), news.Told.size() < NoticePreviews));
        if (settings.Execute.empty())
            continue;
        const std::vector<std::string> arguments =
            ExpandCommandParts(settings.Execute, RowValues(rows, FPlaces, r, UsesPreview(settings.Execute)))
                .Arguments();
        if (!arguments.empty())
            FOutput.RunCommand(arguments);
    }
    if (!settings.ShowIcon.empty())
        FOutput.ShowBalloon(news);
}

TToldMessage TCheckCycle::ToldOf(int r, int number, bool preview) const
{
    TToldMessage told;
    told.Account = AccountOfRow(r);
    if (told.Account >= 0)
        told.IMAP4 = FConfig.Accounts[told.Account].IMAP4;
    told.Number = number;
    told.Shown = RowMessageOf(FRows, r, preview);
    return told;
}

#include "check/JmapCheckClient.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "mail/IdMessage.h"
#include "platform/CodePage.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>
#include <set>

namespace
{

// Changes asked for at once; more, and a full check is cheaper.
constexpr int MaxChanges = 5000;
constexpr int MaxFolderDepth = 64;

// The server's preview only where previews are shown: it is most of an
// answer's bytes.
QJsonArray EmailProperties(bool preview)
{
    QJsonArray properties;
    for (const char* const* p = JmapEmailProperties; *p; ++p)
        if (preview || std::string_view(*p) != "preview")
            properties.append(QLatin1String(*p));
    return properties;
}

QJsonObject Arguments(const std::string& accountId)
{
    return QJsonObject{{"accountId", QString::fromStdString(accountId)}};
}

std::string Desktop(const std::string& utf8)
{
    return ToCodePage(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

// Days since 1899-12-30 on this machine's clock, as header dates are kept.
double LocalDays(long long utcSeconds)
{
    if (utcSeconds < 0)
        return 0;
    const QDateTime t = QDateTime::fromSecsSinceEpoch(utcSeconds);
    return static_cast<double>(utcSeconds + t.offsetFromUtc()) / 86400.0 + 25569.0;
}

void RemoveIds(std::vector<TJmapListed>& listed, const std::set<std::string>& ids)
{
    listed.erase(std::remove_if(listed.begin(), listed.end(),
                                [&ids](const TJmapListed& l) { return ids.count(l.Id) > 0; }),
                 listed.end());
}

} // namespace

std::map<std::string, std::string> JmapFolderNames(const std::vector<TJmapMailbox>& mailboxes)
{
    std::map<std::string, const TJmapMailbox*> byId;
    for (const TJmapMailbox& m : mailboxes)
        byId[m.Id] = &m;
    std::map<std::string, std::string> names;
    for (const TJmapMailbox& m : mailboxes)
    {
        std::string name;
        const TJmapMailbox* at = &m;
        int depth = 0;
        // A parent chain that loops or runs past the depth names nothing.
        for (; at && depth < MaxFolderDepth; ++depth)
        {
            const std::string part = at->Role == "inbox" ? std::string(InboxName) : at->Name;
            name = name.empty() ? part : part + "/" + name;
            const auto parent = byId.find(at->ParentId);
            at = at->ParentId.empty() || parent == byId.end() ? nullptr : parent->second;
        }
        if (!at && !name.empty())
            names.emplace(name, m.Id);
    }
    return names;
}

TJmapCheckClient::TJmapCheckClient(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
    : FLink(limits, std::move(abort))
{
}

void TJmapCheckClient::SetAccount(const Account& account, int port)
{
    (void)port;
    FLink.SetAccount(account);
}

void TJmapCheckClient::Connect()
{
    FFetched.clear();
    FOpen = 0;
    FMemory = FLink.Open();
    const std::vector<std::string> watched = WatchedFolders(FLink.Aimed());
    const bool canRepeat = !FMemory.EmailState.empty() && FMemory.Watched == watched &&
                           FMemory.Repeats < JmapRepeatsBeforeFull;
    if (canRepeat && RepeatCheck())
    {
        ++FMemory.Repeats;
        return;
    }
    FMemory.Watched = watched;
    FMemory.Repeats = 0;
    FullCheck();
}

void TJmapCheckClient::ReadMailboxes()
{
    const std::vector<TJmapMailbox> mailboxes = FLink.Mailboxes(FMemory.Session, FMemory.MailboxState);
    FMemory.MailboxIds = JmapFolderNames(mailboxes);
    FMemory.Mailboxes.clear();
    for (const TJmapMailbox& m : mailboxes)
        FMemory.Mailboxes[m.Id] = m;
}

void TJmapCheckClient::FullCheck()
{
    if (std::any_of(FMemory.Watched.begin(), FMemory.Watched.end(),
                    [this](const std::string& w) { return FMemory.MailboxIds.count(w) == 0; }))
        ReadMailboxes();
    const std::string& account = FMemory.Session.AccountId;
    FMemory.Listed.assign(FMemory.Watched.size(), {});
    // The state first: changes after it are asked for next time, and one
    // that came while the folders were read is only read twice.
    QJsonObject state = Arguments(account);
    state["ids"] = QJsonArray{};
    std::vector<TJmapCall> calls{{"Email/get", state, "s"}};
    std::vector<std::size_t> asked;
    for (std::size_t k = 0; k < FMemory.Watched.size(); ++k)
    {
        const auto id = FMemory.MailboxIds.find(FMemory.Watched[k]);
        if (id == FMemory.MailboxIds.end())
            continue;
        const std::string n = std::to_string(k);
        QJsonObject query = Arguments(account);
        query["filter"] = QJsonObject{{"inMailbox", QString::fromStdString(id->second)}, {"notKeyword", "$seen"}};
        query["sort"] = QJsonArray{QJsonObject{{"property", "receivedAt"}, {"isAscending", false}}};
        query["limit"] = MaxListedMessages;
        query["calculateTotal"] = true;
        QJsonObject get = Arguments(account);
        get["#ids"] = JmapResultOf("q" + n, "Email/query", "/ids");
        get["properties"] = EmailProperties(ReadPreviews);
        calls.push_back({"Email/query", query, "q" + n});
        calls.push_back({"Email/get", get, "g" + n});
        asked.push_back(k);
    }
    const TJmapResponse response = FLink.Call(FMemory.Session, calls);
    std::string emailState;
    ReadJmapEmails(response.Answer("s", "Email/get"), 0, emailState);
    for (const std::size_t k : asked)
    {
        const std::string n = std::to_string(k);
        const TJmapQuery query = ReadJmapQuery(response.Answer("q" + n, "Email/query"), MaxListedMessages);
        try
        {
            std::string ignored;
            Take(ReadJmapEmails(response.Answer("g" + n, "Email/get"), query.Ids.size(), ignored));
        }
        catch (const EJmapMethodError& e)
        {
            // More than the server gives at once: FetchMessages reads them
            // in parts, and only those the rows do not know.
            if (e.Type != "requestTooLarge")
                throw;
        }
        std::vector<TJmapListed>& listed = FMemory.Listed[k];
        for (auto id = query.Ids.rbegin(); id != query.Ids.rend(); ++id)
        {
            const auto fetched = FFetched.find(*id);
            listed.push_back({*id, fetched == FFetched.end() ? 0 : JmapUtcSeconds(fetched->second.ReceivedAt)});
        }
    }
    FMemory.EmailState = emailState;
}

bool TJmapCheckClient::RepeatCheck()
{
    const std::string& account = FMemory.Session.AccountId;
    QJsonObject changes = Arguments(account);
    changes["sinceState"] = QString::fromStdString(FMemory.EmailState);
    changes["maxChanges"] = MaxChanges;
    QJsonObject created = Arguments(account);
    created["#ids"] = JmapResultOf("c", "Email/changes", "/created");
    created["properties"] = EmailProperties(ReadPreviews);
    QJsonObject updated = created;
    updated["#ids"] = JmapResultOf("c", "Email/changes", "/updated");
    QJsonObject mailboxes = Arguments(account);
    mailboxes["sinceState"] = QString::fromStdString(FMemory.MailboxState);
    mailboxes["maxChanges"] = 1000;
    // A mailbox's counts change with every message; only its name, place
    // or role matter here.
    QJsonObject renamed = Arguments(account);
    renamed["#ids"] = JmapResultOf("m", "Mailbox/changes", "/updated");
    renamed["properties"] = QJsonArray{"id", "name", "parentId", "role"};
    const TJmapResponse response = FLink.Call(FMemory.Session, {{"Email/changes", changes, "c"},
                                                                 {"Email/get", created, "n"},
                                                                 {"Email/get", updated, "u"},
                                                                 {"Mailbox/changes", mailboxes, "m"},
                                                                 {"Mailbox/get", renamed, "r"}});
    TJmapChanges emailChanges;
    TJmapChanges mailboxChanges;
    try
    {
        emailChanges = ReadJmapChanges(response.Answer("c", "Email/changes"), MaxChanges);
        mailboxChanges = ReadJmapChanges(response.Answer("m", "Mailbox/changes"), 1000);
    }
    catch (const EJmapMethodError& e)
    {
        if (e.Type == "cannotCalculateChanges")
            return false;
        throw;
    }
    // A folder renamed, moved, made or removed may change what is watched;
    // more changes than asked for are cheaper to read afresh.
    bool moved = mailboxChanges.HasMoreChanges || !mailboxChanges.Created.empty() || !mailboxChanges.Destroyed.empty();
    if (!moved && !mailboxChanges.Updated.empty())
    {
        std::string state;
        for (const TJmapMailbox& m :
             ReadJmapMailboxes(response.Answer("r", "Mailbox/get"), mailboxChanges.Updated.size(), state))
        {
            const auto known = FMemory.Mailboxes.find(m.Id);
            moved = moved || known == FMemory.Mailboxes.end() || known->second.Name != m.Name ||
                    known->second.ParentId != m.ParentId || known->second.Role != m.Role;
        }
    }
    if (moved)
        FMemory.MailboxIds.clear();
    if (moved || emailChanges.HasMoreChanges)
        return false;
    std::string ignored;
    const std::vector<TJmapEmail> made =
        ReadJmapEmails(response.Answer("n", "Email/get"), emailChanges.Created.size(), ignored);
    const std::vector<TJmapEmail> changed =
        ReadJmapEmails(response.Answer("u", "Email/get"), emailChanges.Updated.size(), ignored);
    std::set<std::string> touched(emailChanges.Destroyed.begin(), emailChanges.Destroyed.end());
    touched.insert(emailChanges.Updated.begin(), emailChanges.Updated.end());
    touched.insert(emailChanges.Created.begin(), emailChanges.Created.end());
    for (std::vector<TJmapListed>& listed : FMemory.Listed)
        RemoveIds(listed, touched);
    Take(made);
    Take(changed);
    for (const std::vector<TJmapEmail>* emails : {&made, &changed})
        for (const TJmapEmail& e : *emails)
            Insert(e);
    FMemory.EmailState = emailChanges.NewState;
    FMemory.MailboxState = mailboxChanges.NewState;
    return true;
}

void TJmapCheckClient::Take(const std::vector<TJmapEmail>& emails)
{
    for (const TJmapEmail& e : emails)
        FFetched[e.Id] = e;
}

void TJmapCheckClient::Insert(const TJmapEmail& email)
{
    if (email.Seen)
        return;
    const TJmapListed entry{email.Id, JmapUtcSeconds(email.ReceivedAt)};
    for (std::size_t k = 0; k < FMemory.Watched.size(); ++k)
    {
        const auto id = FMemory.MailboxIds.find(FMemory.Watched[k]);
        if (id == FMemory.MailboxIds.end() ||
            std::find(email.MailboxIds.begin(), email.MailboxIds.end(), id->second) == email.MailboxIds.end())
            continue;
        std::vector<TJmapListed>& listed = FMemory.Listed[k];
        // A message made and changed since may be named in both lists.
        if (std::any_of(listed.begin(), listed.end(), [&email](const TJmapListed& l) { return l.Id == email.Id; }))
            continue;
        const auto at = std::upper_bound(listed.begin(), listed.end(), entry,
                                         [](const TJmapListed& a, const TJmapListed& b) {
                                             return a.ReceivedAt < b.ReceivedAt;
                                         });
        listed.insert(at, entry);
        // Past the bound the oldest go, as a full check would list them.
        if (listed.size() > static_cast<std::size_t>(MaxListedMessages))
            listed.erase(listed.begin());
    }
}

const std::vector<TJmapListed>& TJmapCheckClient::Open() const
{
    static const std::vector<TJmapListed> none;
    return FOpen < FMemory.Listed.size() ? FMemory.Listed[FOpen] : none;
}

int TJmapCheckClient::MessageCount()
{
    return static_cast<int>(Open().size());
}

std::vector<std::string> TJmapCheckClient::MessageIds(int first, int count)
{
    const std::vector<TJmapListed>& listed = Open();
    std::vector<std::string> ids;
    for (int i = first; i < first + count && i >= 1 && i <= static_cast<int>(listed.size()); ++i)
        ids.push_back(TRowId::Jmap(listed[static_cast<std::size_t>(i - 1)].Id).Text);
    return ids;
}

TFetchedMessage TJmapCheckClient::MessageOf(const TJmapEmail& email) const
{
    TFetchedMessage m;
    m.Header.From = RowText(Desktop(email.From));
    m.Header.Subject = RowText(Desktop(email.Subject));
    m.Header.Priority = static_cast<int>(PriorityFromHeader(email.Priority));
    m.Header.MessageId = email.MessageId.size() > MaxMessageIdLength
                             ? CutAtCharacter(email.MessageId, MaxMessageIdLength)
                             : email.MessageId;
    m.Header.Date = LocalDays(JmapUtcSeconds(email.ReceivedAt));
    m.Header.ListId = RowText(Desktop(email.ListId));
    if (ReadPreviews)
        m.Header.Preview = TPreview(Desktop(email.Preview));
    m.Size = email.Size >= 0 && email.Size <= INT32_MAX ? static_cast<int>(email.Size) : -1;
    return m;
}

std::vector<TFetchedMessage> TJmapCheckClient::FetchMessages(const std::vector<int>& numbers)
{
    const std::vector<TJmapListed>& listed = Open();
    std::vector<std::string> ids;
    for (const int n : numbers)
    {
        if (n < 1 || n > static_cast<int>(listed.size()))
            throw EIdException("The server's answer left messages out.");
        ids.push_back(listed[static_cast<std::size_t>(n - 1)].Id);
    }
    std::vector<std::string> missing;
    for (const std::string& id : ids)
        if (FFetched.count(id) == 0)
            missing.push_back(id);
    const std::size_t slice = static_cast<std::size_t>(std::max(FMemory.Session.MaxObjectsInGet, 1));
    for (std::size_t from = 0; from < missing.size();)
    {
        std::vector<TJmapCall> calls;
        std::vector<std::size_t> sizes;
        for (; from < missing.size() && static_cast<int>(calls.size()) < FMemory.Session.MaxCallsInRequest;
             from += slice)
        {
            QJsonArray part;
            const std::size_t to = std::min(missing.size(), from + slice);
            for (std::size_t i = from; i < to; ++i)
                part.append(QString::fromStdString(missing[i]));
            QJsonObject get = Arguments(FMemory.Session.AccountId);
            get["ids"] = part;
            get["properties"] = EmailProperties(ReadPreviews);
            calls.push_back({"Email/get", get, "g" + std::to_string(calls.size())});
            sizes.push_back(to - from);
        }
        const TJmapResponse response = FLink.Call(FMemory.Session, calls);
        for (std::size_t c = 0; c < calls.size(); ++c)
        {
            std::string ignored;
            Take(ReadJmapEmails(response.Answer(calls[c].CallId, "Email/get"), sizes[c], ignored));
        }
    }
    std::vector<TFetchedMessage> fetched;
    fetched.reserve(ids.size());
    for (const std::string& id : ids)
    {
        const auto found = FFetched.find(id);
        // Gone since it was listed: the check fails rather than leave a row
        // without its message, as for IMAP4.
        if (found == FFetched.end())
            throw EIdException("The server's answer left messages out.");
        fetched.push_back(MessageOf(found->second));
    }
    return fetched;
}

TFetchedHeader TJmapCheckClient::FetchHeader(int i)
{
    return FetchMessages({i}).front().Header;
}

int TJmapCheckClient::MessageSize(int i)
{
    return FetchMessages({i}).front().Size;
}

std::vector<TFolderStatus> TJmapCheckClient::FolderStates(const std::vector<std::string>& mailboxes)
{
    std::vector<TFolderStatus> states;
    for (const std::string& m : mailboxes)
        states.push_back({FMemory.MailboxIds.count(m) > 0, {}, {}});
    return states;
}

void TJmapCheckClient::OpenFolder(const std::string& mailbox)
{
    const auto at = std::find(FMemory.Watched.begin(), FMemory.Watched.end(), mailbox);
    if (at == FMemory.Watched.end() || FMemory.MailboxIds.count(mailbox) == 0)
        throw EFolderRefused(ResStr("The folder is not on the server."));
    FOpen = static_cast<std::size_t>(at - FMemory.Watched.begin());
}

void TJmapCheckClient::Disconnect()
{
    FLink.Keep(std::move(FMemory));
    FMemory = {};
    FFetched.clear();
}

void TJmapCheckClient::DisconnectAfterFailure() noexcept
{
    // What failed may be the remembered session itself (moved, or its
    // account gone): the next check reads it afresh.
    try
    {
        FLink.Forget();
    }
    catch (...)
    {
    }
    FMemory = {};
    FFetched.clear();
}

#include "notify/JmapDeleteClient.h"

#include "check/JmapCheckClient.h"
#include "check/RowId.h"
#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "mail/Inbox.h"

#include <QJsonArray>

#include <algorithm>

TJmapDeleteClient::TJmapDeleteClient(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
    : FLink(limits, std::move(abort))
{
}

void TJmapDeleteClient::SetAccount(const Account& account, int port)
{
    (void)port;
    FLink.SetAccount(account);
}

void TJmapDeleteClient::Connect()
{
    FFound.clear();
    FMemory = FLink.Open();
    // The folders as the last check named them, else read now.
    if (FMemory.MailboxIds.empty())
    {
        std::string state;
        FMemory.MailboxIds = JmapFolderNames(FLink.Mailboxes(FMemory.Session, state));
    }
    OpenFolder(InboxName);
}

void TJmapDeleteClient::OpenFolder(const std::string& mailbox)
{
    const auto id = FMemory.MailboxIds.find(mailbox);
    if (id == FMemory.MailboxIds.end())
        throw EIdException(FormatOne(ResStr("The folder \"%1\" does not exist on the server."), "%1", mailbox));
    FMailboxId = id->second;
    FFound.clear();
}

bool TJmapDeleteClient::StillShows(int number, const TRowMessage& row)
{
    std::string id;
    if (!TRowId{row.Id}.JmapId(id) || !IsJmapId(id))
        return false;
    QJsonObject get{{"accountId", QString::fromStdString(FMemory.Session.AccountId)},
                    {"ids", QJsonArray{QString::fromStdString(id)}},
                    {"properties", QJsonArray{"id", "mailboxIds", "keywords"}}};
    const TJmapResponse response = FLink.Call(FMemory.Session, {{"Email/get", get, "g"}});
    std::string state;
    const std::vector<TJmapEmail> found = ReadJmapEmails(response.Answer("g", "Email/get"), 1, state);
    // Ids are never reused, so the id alone names the row's message; it
    // must still be where the row shows it, and unseen.
    if (found.empty() || found.front().Id != id || found.front().Seen ||
        std::find(found.front().MailboxIds.begin(), found.front().MailboxIds.end(), FMailboxId) ==
            found.front().MailboxIds.end())
        return false;
    FFound[number] = id;
    return true;
}

std::string TJmapDeleteClient::FoundId(int number) const
{
    const auto found = FFound.find(number);
    if (found == FFound.end())
        throw EIdException("The message was not read again before it was changed.");
    return found->second;
}

void TJmapDeleteClient::Set(const QJsonObject& change, const std::string& id)
{
    QJsonObject set = change;
    set["accountId"] = QString::fromStdString(FMemory.Session.AccountId);
    const TJmapResponse response = FLink.Call(FMemory.Session, {{"Email/set", set, "s"}});
    const std::vector<std::pair<std::string, std::string>> failed =
        ReadJmapSetFailures(response.Answer("s", "Email/set"));
    if (!failed.empty())
        throw EIdServerRefusal(FormatOne(ResStr("The JMAP server did not change the message: %1"), "%1",
                                         failed.front().second.empty() ? id : failed.front().second));
}

void TJmapDeleteClient::DeleteMessage(int number)
{
    const std::string id = FoundId(number);
    Set(QJsonObject{{"destroy", QJsonArray{QString::fromStdString(id)}}}, id);
}

void TJmapDeleteClient::MarkRead(int number)
{
    const std::string id = FoundId(number);
    Set(QJsonObject{{"update", QJsonObject{{QString::fromStdString(id), QJsonObject{{"keywords/$seen", true}}}}}},
        id);
}

void TJmapDeleteClient::Disconnect()
{
    // The memory is the check's: it keeps what the check found.
    FMemory = {};
    FFound.clear();
}

void TJmapDeleteClient::Abandon() noexcept
{
    FMemory = {};
    FFound.clear();
}

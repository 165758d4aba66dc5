#include "notify/Imap4DeleteClient.h"

#include "check/RowId.h"
#include "check/SessionOpen.h"
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"

#include <algorithm>

void TImap4DeleteClient::Connect()
{
    FMarked = false;
    FUids.clear();
    FFound.clear();
    const std::string mailbox = InboxName;
    switch (OpenSession(FClient, FLogin, mailbox))
    {
    case TSessionOpened::Ready:
        break;
    case TSessionOpened::LoginRefused:
        throw EIdServerRefusal("The server refused the login.");
    default:
        throw EIdServerRefusal("The server refused to open the mailbox \"" + mailbox + "\".");
    }
    Search(mailbox);
}

void TImap4DeleteClient::OpenFolder(const std::string& mailbox)
{
    // Selecting another mailbox closes this one without expunging it.
    if (!FClient.SelectMailbox(mailbox))
        throw EIdServerRefusal("The server refused to open the mailbox \"" + mailbox + "\".");
    Search(mailbox);
}

void TImap4DeleteClient::Search(const std::string& mailbox)
{
    FUids.clear();
    FFound.clear();
    TIdIMAP4SearchRec unseen;
    unseen.SearchKey = skUnseen;
    if (!FClient.UIDSearchMailbox({unseen}))
        throw EIdServerRefusal("The server refused to search the mailbox \"" + mailbox + "\".");
    FUids = FClient.MailBox.SearchHits;
}

std::uint32_t TImap4DeleteClient::UidOf(int number) const
{
    return number >= 1 && static_cast<std::size_t>(number) <= FUids.size() ? FUids[number - 1] : 0;
}

bool TImap4DeleteClient::StillShows(int number, const TRowMessage& row)
{
    std::uint32_t uid = 0;
    if (TRowId{row.Id}.Imap4Uid(FClient.MailBox.UIDValidity, uid))
    {
        // The row's own UID, as long as the message is still unseen.
        if (std::find(FUids.begin(), FUids.end(), uid) == FUids.end())
            return false;
        FFound[number] = uid;
        return true;
    }
    uid = UidOf(number);
    if (uid == 0)
        return false;
    TIdMessage message;
    if (!FClient.UIDFetchHeader(uid, message))
        return false;
    return SameMessage(row, message.FromText(), message.Subject, FClient.UIDMessageSize(uid));
}

std::uint32_t TImap4DeleteClient::FoundUid(int number) const
{
    const auto found = FFound.find(number);
    return found != FFound.end() ? found->second : UidOf(number);
}

void TImap4DeleteClient::MarkRead(int number)
{
    const std::uint32_t uid = FoundUid(number);
    if (uid == 0 || !FClient.UIDStoreSeen(uid))
        throw EIdServerRefusal("The server refused to mark the message as read.");
}

void TImap4DeleteClient::DeleteMessage(int number)
{
    const std::uint32_t uid = FoundUid(number);
    if (uid == 0 || !FClient.UIDStoreDeleted(uid))
        throw EIdServerRefusal("The server refused to mark the message as deleted.");
    if (!FClient.HasCapability("UIDPLUS"))
    {
        FMarked = true;
        return;
    }
    if (!FClient.UIDExpunge(uid))
        throw EIdServerRefusal("The server refused to remove the message.");
}

void TImap4DeleteClient::Disconnect()
{
    // LOGOUT without CLOSE: CLOSE would expunge every message marked deleted.
    if (FClient.HandlerOpen() && FClient.Connected())
        FClient.Disconnect();
    else
        FClient.Disconnect(false);
}

void TImap4DeleteClient::Abandon() noexcept
{
    FClient.Disconnect(false);
}

#include "notify/Imap4DeleteClient.h"

#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"

void TImap4DeleteClient::SetAccount(const std::string& userName, const std::string& password,
                                    const std::string& host, int port)
{
    SetImap4Account(Client, userName, password, host, port, ConnectTimeout, ReadTimeout);
}

void TImap4DeleteClient::SetSecurity(TAccountSecurity security)
{
    Client.UseTLS = UseTLSOf(security);
}

void TImap4DeleteClient::Connect()
{
    Marked = false;
    Uids.clear();
    Client.Connect(true);
    if (Client.ConnectionState != TIdIMAP4ConnectionState::Authenticated)
        throw EIdException("The server refused the login.");
    if (!Client.SelectMailbox("inbox"))
        throw EIdException("The server refused to open the mailbox \"inbox\".");
    TIdIMAP4SearchRec unseen;
    unseen.SearchKey = skUnseen;
    if (!Client.UIDSearchMailbox({unseen}))
        throw EIdException("The server refused to search the mailbox \"inbox\".");
    Uids = Client.MailBox.SearchHits;
}

int TImap4DeleteClient::UidOf(int number) const
{
    return number >= 1 && static_cast<std::size_t>(number) <= Uids.size() ? Uids[number - 1] : 0;
}

bool TImap4DeleteClient::StillShows(int number, const TRowMessage& row)
{
    const int uid = UidOf(number);
    if (uid < 1)
        return false;
    TIdMessage message;
    if (!Client.UIDFetchHeader(uid, message))
        return false;
    return SameMessage(row, message.FromText(), message.Subject, Client.UIDMessageSize(uid));
}

void TImap4DeleteClient::DeleteMessage(int number)
{
    const int uid = UidOf(number);
    if (uid < 1 || !Client.UIDStoreDeleted(uid))
        throw EIdException("The server refused to mark the message as deleted.");
    if (!Client.HasCapability("UIDPLUS"))
    {
        Marked = true;
        return;
    }
    if (!Client.UIDExpunge(uid))
        throw EIdException("The server refused to remove the message.");
}

void TImap4DeleteClient::Disconnect()
{
    // LOGOUT without CLOSE: CLOSE would expunge every message marked deleted.
    if (Client.HandlerOpen() && Client.Connected())
        Client.Disconnect();
    else
        Client.Disconnect(false);
}

void TImap4DeleteClient::Abandon() noexcept
{
    Client.Disconnect(false);
}

#include "notify/Pop3DeleteClient.h"

#include "check/RowId.h"
#include "check/SessionOpen.h"
#include "mail/IdMessage.h"
#include "mail/Pop3Client.h"
#include "mail/Pop3Reply.h"

void TPop3DeleteClient::Connect()
{
    OpenSession(FClient, FLogin);
}

bool TPop3DeleteClient::StillShows(int number, const TRowMessage& row)
{
    TIdMessage message;
    try
    {
        // The unique id says it where the check had one; a server that
        // answers none now falls back to the header and size.
        std::string id;
        if (TRowId{row.Id}.IsPop3() && FClient.UIDL(number, id))
            return TRowId::Pop3(id).Text == row.Id;
        FClient.FetchHeader(number, message);
        return SameMessage(row, message.FromText(), message.Subject, FClient.MessageSize(number));
    }
    catch (const EIdReplyPOP3Error&)
    {
        // No such message any more.
        return false;
    }
    catch (const EIdPOP3UidlInvalid&)
    {
        // An id that cannot be read is no proof: the message stays.
        return false;
    }
}

void TPop3DeleteClient::DeleteMessage(int number)
{
    FClient.DeleteMessage(number);
}

void TPop3DeleteClient::Disconnect()
{
    FClient.Disconnect(true);
}

void TPop3DeleteClient::Abandon() noexcept
{
    try
    {
        FClient.Disconnect(false);
    }
    catch (...)
    {
        // Closing a socket that is already gone has nothing left to report.
    }
}


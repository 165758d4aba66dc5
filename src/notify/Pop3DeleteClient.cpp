#include "notify/Pop3DeleteClient.h"

#include "mail/IdMessage.h"
#include "mail/Pop3Client.h"
#include "mail/Pop3Reply.h"

void TPop3DeleteClient::Connect()
{
    FClient.Connect();
}

bool TPop3DeleteClient::StillShows(int number, const TRowMessage& row)
{
    TIdMessage message;
    try
    {
        FClient.FetchHeader(number, message);
        return SameMessage(row, message.FromText(), message.Subject, FClient.MessageSize(number));
    }
    catch (const EIdReplyPOP3Error&)
    {
        // No such message any more.
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


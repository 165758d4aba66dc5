#include "check/Pop3CheckClient.h"

#include "check/SessionGuard.h"
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Pop3Client.h"

void TPop3CheckClient::Connect()
{
    FStalled = false;
    FSizeOf = 0;
    GuardSession(FStalled, [this] { FClient.Connect(); });
    FPipelining = FClient.CanPipeline();
}

int TPop3CheckClient::MessageCount()
{
    return GuardSession(FStalled, [this] { return FClient.CountMessages(); });
}

TFetchedHeader TPop3CheckClient::FetchHeader(int i)
{
    return GuardSession(FStalled, [this, i] {
        TIdMessage message;
        message.CheckFieldsOnly = true;
        FClient.FetchHeader(i, message);
        return FetchedHeaderOf(message);
    });
}

TFetchedHeader TPop3CheckClient::FetchHeaderThenSize(int i)
{
    if (!FPipelining)
        return FetchHeader(i);
    return GuardSession(FStalled, [this, i] {
        FSizeOf = 0;
        TIdMessage message;
        message.CheckFieldsOnly = true;
        FSize = FClient.FetchHeaderAndSize(i, message);
        FSizeOf = i;
        return FetchedHeaderOf(message);
    });
}

int TPop3CheckClient::MessageSize(int i)
{
    if (FSizeOf == i)
    {
        FSizeOf = 0;
        return FSize.Take();
    }
    return GuardSession(FStalled, [this, i] { return FClient.MessageSize(i); });
}

void TPop3CheckClient::Disconnect()
{
    GuardSession(FStalled, [this] { FClient.Disconnect(); });
}

void TPop3CheckClient::DisconnectAfterFailure() noexcept
{
    try
    {
        // A server that stopped answering would make "QUIT" wait out a
        // second time-out; it is only closed then.
        FClient.Disconnect(!FStalled);
    }
    catch (...)
    {
        // The account has failed already; its error row says why.
    }
}

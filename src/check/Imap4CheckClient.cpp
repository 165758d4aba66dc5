#include "check/Imap4CheckClient.h"

#include "check/SessionGuard.h"
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"

void TImap4CheckClient::Connect()
{
    FStalled = false;
    // A refused login raises nothing here; the select after it fails on the
    // connection state.
    GuardSession(FStalled, [this] { FClient.Connect(true); });
}

int TImap4CheckClient::MessageCount()
{
    return GuardSession(FStalled, [this] {
        FClient.SelectMailbox("inbox");
        TIdIMAP4SearchRec unseen;
        unseen.SearchKey = skUnseen;
        if (!FClient.UIDSearchMailbox({unseen}))
            return 0;
        return static_cast<int>(FClient.MailBox.SearchHits.size());
    });
}

std::vector<std::string> TImap4CheckClient::MessageIds(int count)
{
    std::vector<std::string> ids;
    const uint32_t validity = FClient.MailBox.UIDValidity;
    const std::vector<int>& hits = FClient.MailBox.SearchHits;
    if (validity == 0 || count > static_cast<int>(hits.size()))
        return ids;
    const std::string prefix = "i:" + std::to_string(validity) + ":";
    for (int i = 0; i < count; ++i)
        ids.push_back(prefix + std::to_string(hits[i]));
    return ids;
}

int TImap4CheckClient::Hit(int i) const
{
    return FClient.MailBox.SearchHits.at(static_cast<std::size_t>(i - 1));
}

TFetchedHeader TImap4CheckClient::FetchHeader(int i)
{
    return GuardSession(FStalled, [this, i] {
        TIdMessage message;
        message.CheckFieldsOnly = true;
        FClient.UIDFetchHeader(Hit(i), message);
        return FetchedHeaderOf(message);
    });
}

int TImap4CheckClient::MessageSize(int i)
{
    return GuardSession(FStalled, [this, i] { return FClient.UIDMessageSize(Hit(i)); });
}

void TImap4CheckClient::Disconnect()
{
    GuardSession(FStalled, [this] { FClient.Disconnect(); });
}

void TImap4CheckClient::DisconnectAfterFailure() noexcept
{
    try
    {
        if (FStalled)
        {
            // Every further command would wait out another time-out.
            FClient.Disconnect(false);
            return;
        }
        if (!FClient.Connected())
        {
            FClient.Disconnect(false);
            return;
        }
        if (FClient.ConnectionState == TIdIMAP4ConnectionState::Selected)
            FClient.CloseMailbox();
        FClient.Disconnect();
    }
    catch (...)
    {
        // The account has failed already; its error row says why. The socket
        // must not stay open for the next account.
        FClient.Disconnect(false);
    }
}

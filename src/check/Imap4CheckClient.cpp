#include "check/Imap4CheckClient.h"

#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"

template <typename F>
auto TImap4CheckClient::Guarded(F operation) -> decltype(operation())
{
    try
    {
        return operation();
    }
    catch (const EIdReadTimeout&)
    {
        Stalled = true;
        throw;
    }
    catch (const EIdReplyTooLarge&)
    {
        // Out of step with the server: a logout would read its flood.
        Stalled = true;
        throw;
    }
}

void SetImap4Account(TIdIMAP4& client, const std::string& userName, const std::string& password,
                     const std::string& host, int port, int connectTimeout, int readTimeout)
{
    client.Username = userName;
    client.Password = password;
    client.Host = host;
    client.Port = port;
    client.ConnectTimeout = connectTimeout;
    client.ReadTimeout = readTimeout;
    // Only lines already waiting are drained before a command: waiting 10 ms
    // for ones that may come made a first check of 1,000 unseen messages
    // take 11.7 s instead of about 1 (bench/bench_imap4.cpp).
    client.MilliSecsToWaitToClearBuffer = 0;
}

void TImap4CheckClient::SetAccount(const std::string& userName, const std::string& password,
                                   const std::string& host, int port)
{
    SetImap4Account(Client, userName, password, host, port, ConnectTimeout, ReadTimeout);
    Client.OperationTimeout = OperationTimeout;
}

void TImap4CheckClient::SetSecurity(TAccountSecurity security)
{
    Client.UseTLS = UseTLSOf(security);
}

void TImap4CheckClient::Connect()
{
    Stalled = false;
    // A refused login raises nothing here; the select after it fails on the
    // connection state.
    Guarded([this] { Client.Connect(true); });
}

int TImap4CheckClient::MessageCount()
{
    return Guarded([this] {
        Client.SelectMailbox("inbox");
        TIdIMAP4SearchRec unseen;
        unseen.SearchKey = skUnseen;
        if (!Client.SearchMailbox({unseen}))
            return 0;
        return static_cast<int>(Client.MailBox.SearchHits.size());
    });
}

int TImap4CheckClient::Hit(int i) const
{
    return Client.MailBox.SearchHits.at(static_cast<std::size_t>(i - 1));
}

TFetchedHeader TImap4CheckClient::FetchHeader(int i)
{
    return Guarded([this, i] {
        TIdMessage message;
        message.CheckFieldsOnly = true;
        Client.FetchHeader(Hit(i), message);
        return TFetchedHeader{message.FromText(), message.Subject,
                              static_cast<int>(message.Priority)};
    });
}

int TImap4CheckClient::MessageSize(int i)
{
    return Guarded([this, i] { return Client.MessageSize(Hit(i)); });
}

void TImap4CheckClient::Disconnect()
{
    Guarded([this] { Client.Disconnect(); });
}

void TImap4CheckClient::DisconnectAfterFailure() noexcept
{
    try
    {
        if (Stalled)
        {
            // Every further command would wait out another time-out.
            Client.Disconnect(false);
            return;
        }
        if (!Client.Connected())
        {
            Client.Disconnect(false);
            return;
        }
        if (Client.ConnectionState == TIdIMAP4ConnectionState::Selected)
            Client.CloseMailbox();
        Client.Disconnect();
    }
    catch (...)
    {
        // The account has failed already; its error row says why. The socket
        // must not stay open for the next account.
        Client.Disconnect(false);
    }
}

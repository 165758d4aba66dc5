#pragma once

#include "check/CheckCycle.h"

#include <string>

class TIdIMAP4;

// Limits every IMAP4 session of the cycle gets, in milliseconds.
constexpr int Imap4ConnectTimeout = 10000;
constexpr int Imap4ReadTimeout = 30000;

// Points the client at one account for the next Connect: a bounded connect,
// bounded reads, and no waiting for stray lines before each command.
void SetImap4Account(TIdIMAP4& client, const std::string& userName, const std::string& password,
                     const std::string& host, int port, int connectTimeout, int readTimeout);

// The IMAP4 client as the check cycle drives it: the unseen messages of
// "inbox", listed in the order of the search hits. A refused search counts as
// no messages. A server that stops answering costs one time-out.
class TImap4CheckClient : public TCheckClient
{
public:
    explicit TImap4CheckClient(TIdIMAP4& client, int connectTimeout = Imap4ConnectTimeout,
                               int readTimeout = Imap4ReadTimeout)
        : ConnectTimeout(connectTimeout), ReadTimeout(readTimeout), FClient(client)
    {
    }

    void SetAccount(const std::string& userName, const std::string& password,
                    const std::string& host, int port) override;
    void SetSecurity(TAccountSecurity security) override;
    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    int MessageSize(int i) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

    // Given to the client at each SetAccount, in milliseconds.
    int ConnectTimeout;
    int ReadTimeout;
    int OperationTimeout = AccountCheckTimeout;

private:
    int Hit(int i) const;

    TIdIMAP4& FClient;
    bool FStalled = false;
};

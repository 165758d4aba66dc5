#pragma once

#include "check/CheckCycle.h"
#include "mail/Pop3Client.h"

#include <string>

// Limits every POP3 session gets, in milliseconds: a server that accepts and
// then never answers must not hold the program.
constexpr int Pop3ConnectTimeout = 10000;
constexpr int Pop3ReadTimeout = 30000;

// Points the client at one account for the next Connect: automatic login, a
// bounded connect and bounded reads.
void SetPop3Account(TIdPOP3& client, const std::string& userName, const std::string& password,
                    const std::string& host, int port, int connectTimeout = Pop3ConnectTimeout,
                    int readTimeout = Pop3ReadTimeout);

// The POP3 client as the check cycle drives it: a server that accepts and then
// stays silent costs one time-out and becomes an error row.
class TPop3CheckClient : public TCheckClient
{
public:
    explicit TPop3CheckClient(TIdPOP3& client) : FClient(client) {}

    void SetAccount(const std::string& userName, const std::string& password,
                    const std::string& host, int port) override;
    void SetSecurity(TAccountSecurity security) override;
    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    // Header and size in one round trip where the server allows it.
    TFetchedHeader FetchHeaderThenSize(int i) override;
    int MessageSize(int i) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

    // Taken by SetAccount, in milliseconds; the owner may shorten them.
    int ConnectTimeout = Pop3ConnectTimeout;
    int ReadTimeout = Pop3ReadTimeout;
    int OperationTimeout = AccountCheckTimeout;

private:
    TIdPOP3& FClient;
    bool FStalled = false;
    // Whether the server of this session takes commands ahead.
    bool FPipelining = false;
    // The size read with the header of message FSizeOf (0: none).
    int FSizeOf = 0;
    TIdPOP3ListAnswer FSize;
};

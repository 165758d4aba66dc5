#pragma once

#include "check/CheckCycle.h"

class TIdPOP3;

// The POP3 client as the check cycle drives it: automatic login, a bounded
// connect and bounded reads, so a server that accepts and then stays silent
// costs one time-out and becomes an error row.
class TPop3CheckClient : public TCheckClient
{
public:
    explicit TPop3CheckClient(TIdPOP3& client) : Client(client) {}

    void SetAccount(const std::string& userName, const std::string& password,
                    const std::string& host, int port) override;
    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    int MessageSize(int i) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

private:
    // Runs one operation; remembers when the server stopped answering.
    template <typename F>
    auto Guarded(F operation) -> decltype(operation());

    TIdPOP3& Client;
    bool Stalled = false;
};

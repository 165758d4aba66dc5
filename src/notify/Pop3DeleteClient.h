#pragma once

#include "check/AccountSession.h"
#include "notify/DeleteClient.h"

class TIdPOP3;

// Delete for POP3 accounts: each row's number is the message number of the
// check, which the server keeps until the session ends.
class TPop3DeleteClient : public TAccountSession<TDeleteClient, TIdPOP3>
{
public:
    using TAccountSession::TAccountSession;

    void Connect() override;
    bool StillShows(int number, const TRowMessage& row) override;
    void DeleteMessage(int number) override;
    void Disconnect() override;
    void Abandon() noexcept override;
};

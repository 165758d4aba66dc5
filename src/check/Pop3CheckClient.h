#pragma once

#include "check/AccountSession.h"
#include "mail/Pop3Client.h"

// The POP3 client as the check cycle drives it: a server that accepts and then
// stays silent costs one time-out and becomes an error row.
class TPop3CheckClient : public TAccountSession<TCheckClient, TIdPOP3>
{
public:
    using TAccountSession::TAccountSession;

    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    // Header and size in one round trip where the server allows it.
    TFetchedHeader FetchHeaderThenSize(int i) override;
    int MessageSize(int i) override;
    // One after another as any client fetches them; where shown previews
    // came out empty, more of those bodies is read at once after them.
    std::vector<TFetchedMessage> FetchMessages(const std::vector<int>& numbers) override;
    // "u:" and the unique id of each message, from one "UIDL"; none when
    // the server keeps no unique ids or its listing cannot be trusted
    // (a malformed line, or numbers that are not those of "STAT").
    std::vector<std::string> MessageIds(int first, int count) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

private:
    bool FStalled = false;
    // The count "STAT" gave in this session.
    int FCount = 0;
    // Whether the server of this session takes commands ahead.
    bool FPipelining = false;
    // The size read with the header of message FSizeOf (0: none).
    int FSizeOf = 0;
    TIdPOP3ListAnswer FSize;
};

#pragma once

#include "check/JmapLink.h"
#include "notify/DeleteClient.h"

#include <map>
#include <memory>
#include <string>

// Delete and Mark as read for JMAP accounts, by the email id the row
// carries: the message is first read again and must still be in the
// folder, unseen; then Email/set destroys it or sets its "$seen" keyword.
// HTTP keeps no session, so nothing is left half done between calls.
class TJmapDeleteClient : public TDeleteClient
{
public:
    TJmapDeleteClient(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort);

    void SetAccount(const Account& account, int port) override;
    // The session resource and the account's folders.
    void Connect() override;
    void OpenFolder(const std::string& mailbox) override;
    bool StillShows(int number, const TRowMessage& row) override;
    void DeleteMessage(int number) override;
    void MarkRead(int number) override;
    void Disconnect() override;
    void Abandon() noexcept override;

private:
    // The email id StillShows found for row `number`.
    std::string FoundId(int number) const;
    void Set(const QJsonObject& change, const std::string& id);

    TJmapLink FLink;
    TJmapAccountMemory FMemory;
    std::string FMailboxId;
    std::map<int, std::string> FFound;
};

#pragma once

#include "check/CheckCycle.h"
#include "check/JmapLink.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The JMAP client as the check cycle drives it. Connect does the check: a
// full one (the watched folders' unseen messages, newest first, with their
// headers by back-reference, in one request) where the account's memory has
// no Email state, else one request for what changed since (Email/changes
// and Mailbox/changes, the created and updated messages fetched by
// back-reference). What follows is read from what came: only headers of
// messages neither request brought are asked for. After
// JmapRepeatsBeforeFull checks by changes comes a full one, so a server
// whose state never moves cannot hide mail for long.
constexpr int JmapRepeatsBeforeFull = 20;

class TJmapCheckClient : public TCheckClient
{
public:
    TJmapCheckClient(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort);

    void SetAccount(const Account& account, int port) override;
    void Connect() override;
    int MessageCount() override;
    TFetchedHeader FetchHeader(int i) override;
    int MessageSize(int i) override;
    // "j:" and each message's id.
    std::vector<std::string> MessageIds(int first, int count) override;
    std::vector<TFetchedMessage> FetchMessages(const std::vector<int>& numbers) override;
    // Found where the server has a mailbox of that name; no stamp, as the
    // check itself asks only what changed.
    std::vector<TFolderStatus> FolderStates(const std::vector<std::string>& mailboxes) override;
    void OpenFolder(const std::string& mailbox) override;
    void Disconnect() override;
    void DisconnectAfterFailure() noexcept override;

    // The HTTP requests of the last session.
    int Requests() const { return FLink.Requests(); }

private:
    void ReadMailboxes();
    void FullCheck();
    // False where the server cannot tell what changed: a full check follows.
    bool RepeatCheck();
    void Take(const std::vector<TJmapEmail>& emails);
    void Insert(const TJmapEmail& email);
    const std::vector<TJmapListed>& Open() const;
    TFetchedMessage MessageOf(const TJmapEmail& email) const;

    TJmapLink FLink;
    TJmapAccountMemory FMemory;
    std::unordered_map<std::string, TJmapEmail> FFetched;
    std::size_t FOpen = 0;
};

// The folder names of a mailbox tree as an account lists them: the inbox's
// as "INBOX", the others by their path from the top with "/" between.
std::map<std::string, std::string> JmapFolderNames(const std::vector<TJmapMailbox>& mailboxes);

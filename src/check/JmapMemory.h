#pragma once

#include "mail/JmapWire.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What the program keeps of a JMAP account between its checks, so that a
// check asks only what changed: the session resource, the watched folders'
// mailbox ids, the Email state and the unseen messages of each watched
// folder as of that state. Kept for the running program only; a restart
// begins with a full check.
struct TJmapListed
{
    std::string Id;
    long long ReceivedAt = 0; // seconds since 1970
};

struct TJmapAccountMemory
{
    std::string SessionUrl;
    TJmapSession Session;
    std::string MailboxState;
    std::map<std::string, std::string> MailboxIds; // folder name as the account lists it → id
    std::map<std::string, TJmapMailbox> Mailboxes; // by id, as last read
    std::string EmailState;                        // "" until a full check
    std::vector<std::string> Watched;              // the folders Listed is for, in order
    std::vector<std::vector<TJmapListed>> Listed;  // per watched folder, oldest first
    int Repeats = 0;                               // checks by changes since the last full one
};

// Shared by the sessions of every account; each takes a copy at its start
// and puts back what it ends with.
class TJmapMemory
{
public:
    std::optional<TJmapAccountMemory> Recall(const std::string& login) const;
    void Keep(const std::string& login, TJmapAccountMemory memory);
    void Forget(const std::string& login);

private:
    mutable std::mutex FLock;
    std::map<std::string, TJmapAccountMemory> FAccounts;
};

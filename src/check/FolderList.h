#pragma once

#include "check/Account.h"
#include "check/AccountSession.h"

#include <memory>
#include <string>
#include <vector>

// One folder of a server's list, its name decoded to desktop text.
struct TServerFolder
{
    std::string Name;
    bool SpecialUse = false; // Junk, Trash, Sent, Drafts, All, Archive, Flagged
    bool Selectable = true;
};

// What listing an account's folders brought back: plain values, made beside
// the windows.
struct TServerFolders
{
    std::string Error; // why the list could not be read; empty when it was
    std::vector<TServerFolder> Folders;
};

// Logs in to the IMAP4 account on `port` (a JMAP account's session) and
// lists its folders, the inbox
// first. Raises nothing: a failure is the answer's Error.
TServerFolders ListServerFolders(const Account& account, int port, const TSessionLimits& limits,
                                 std::shared_ptr<TIdLineAbort> abort);

// One row of the folder choice.
struct TFolderChoice
{
    std::string Name;
    bool Watched = false;
    bool SpecialUse = false;
    bool Selectable = true;
    bool OnServer = true;
    bool Stored = false; // the account's list has it

    bool operator==(const TFolderChoice&) const = default;
};

// The server's folders in its order, each ticked as the account stores it;
// an account that stores none watches the inbox. A special-use folder is
// never ticked unless the account stores it ticked. Folders the account
// stores that the server does not list follow, as stored.
std::vector<TFolderChoice> FolderChoices(const std::vector<TServerFolder>& server,
                                         const std::vector<TAccountFolder>& stored);
// What the account stores of a choice: the ticked rows, and the ones it
// stored before (unticked, they are kept as 0).
std::vector<TAccountFolder> ChosenFolders(const std::vector<TFolderChoice>& choices);

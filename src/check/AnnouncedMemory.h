#pragma once

#include "check/Account.h"
#include "check/Announced.h"

#include <optional>
#include <string>
#include <vector>

// The memory of the messages already told, in its file under the state
// folder: read before the first round, not at start, and written after each
// round when it changed.
class TAnnouncedMemory
{
public:
    // path: the file; empty for the program's own under the state folder.
    explicit TAnnouncedMemory(std::string path = {}) : FPath(std::move(path)) {}

    // The memory, read from its file on the first call.
    TAnnounced& Recall();
    // Keeps the accounts still configured and writes the file when the
    // memory changed. A write that fails keeps the memory here for the
    // session and is tried again after the next round; the first failure
    // after a write that worked returns the text telling the user so (it
    // names the folder), the others none.
    std::optional<std::string> Keep(const std::vector<Account>& accounts);

private:
    std::string FPath;
    bool FRecalled = false;
    TAnnounced FMemory;
    bool FLossTold = false;
};

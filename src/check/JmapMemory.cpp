#include "check/JmapMemory.h"

std::optional<TJmapAccountMemory> TJmapMemory::Recall(const std::string& login) const
{
    std::lock_guard<std::mutex> hold(FLock);
    const auto found = FAccounts.find(login);
    if (found == FAccounts.end())
        return std::nullopt;
    return found->second;
}

void TJmapMemory::Keep(const std::string& login, TJmapAccountMemory memory)
{
    std::lock_guard<std::mutex> hold(FLock);
    FAccounts[login] = std::move(memory);
}

void TJmapMemory::Forget(const std::string& login)
{
    std::lock_guard<std::mutex> hold(FLock);
    FAccounts.erase(login);
}

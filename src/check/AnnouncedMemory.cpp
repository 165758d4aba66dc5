#include "check/AnnouncedMemory.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/WholeFile.h"

#include <utility>

TAnnounced& TAnnouncedMemory::Recall()
{
    if (std::exchange(FRecalled, true))
        return FMemory;
    if (FPath.empty())
        FPath = UserStatePath("announced");
    FMemory = TAnnounced::Load(FPath);
    return FMemory;
}

std::optional<std::string> TAnnouncedMemory::Keep(const std::vector<Account>& accounts)
{
    std::vector<std::string> keys;
    for (const Account& a : accounts)
        for (const std::string& mailbox : WatchedFolders(a))
            keys.push_back(TAnnounced::KeyOf(TAnnounced::KeyOf(a), mailbox));
    FMemory.Retain(keys);
    if (!FRecalled || !FMemory.Changed())
        return std::nullopt;
    try
    {
        FMemory.Save(FPath);
        FLossTold = false;
    }
    catch (const Exception& e)
    {
        if (std::exchange(FLossTold, true))
            return std::nullopt;
        return FormatOne(ResStr("The messages already told cannot be remembered in %s, so a restart "
                                "tells them again."),
                         "%s", FileNameToCodePage(FolderOf(FPath))) +
               "\n" + e.Message;
    }
    return std::nullopt;
}

// LIST, STATUS and NOTIFY answers: every line parses or not without harm; a
// line NOTIFY calls a state or a listing parses as one with the same name; a
// parsed name holds no line break and comes back whole through the quoting
// the commands use.
#include "mail/Imap4Folders.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

void CheckName(const std::string& name)
{
    if (name.empty() || name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        std::abort();
    std::string back;
    TIdIMAP4FolderState state;
    if (!ParseStatusLine("* STATUS " + IMAP4Quoted(name) + " (UIDNEXT 5)", back, state) || back != name ||
        state.UIDNext != 5)
        std::abort();
    if (StatusCommand(name).find_first_of("\r\n") != std::string::npos ||
        NotifySetCommand({name, "INBOX"}, "INBOX").find_first_of("\r\n") != std::string::npos)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size())
    {
        const std::size_t lf = text.find('\n', start);
        const std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        TIdIMAP4Folder folder;
        if (ParseListLine(line, folder))
            CheckName(folder.Name);
        std::string name;
        TIdIMAP4FolderState state;
        if (ParseStatusLine(line, name, state))
            CheckName(name);
        const TIdIMAP4NotifyLine notified = ParseNotifyLine(line);
        if (notified.Kind == TIdIMAP4NotifyKind::Status &&
            (!ParseStatusLine(line, name, state) || name != notified.Name || !(state == notified.State)))
            std::abort();
        if (notified.Kind == TIdIMAP4NotifyKind::List && (!ParseListLine(line, folder) || folder.Name != notified.Name))
            std::abort();
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return 0;
}

#include "mail/Imap4Client.h"

#include "mail/IdExceptions.h"
#include "mail/IdIOHandler.h"
#include "mail/Inbox.h"
#include "mail/ModifiedUtf7.h"
#include "platform/AsciiText.h"

#include <unordered_map>

namespace
{

// The inbox is one name in any case; every other name is exact.
std::string NameKey(const std::string& wire)
{
    return IsInboxName(wire) ? std::string(InboxName) : wire;
}

std::string WireName(const std::string& name)
{
    std::string encoded;
    return TIdMUTF7::Encode(name, encoded) ? encoded : name;
}

} // namespace

void TIdIMAP4::FolderStates(const std::vector<std::string>& names, std::vector<TIdIMAP4MailboxStatus>& out)
{
    using State = TIdIMAP4ConnectionState;
    CheckConnectionState({State::Authenticated, State::Selected});
    out.assign(names.size(), {});
    if (names.empty())
        return;
    std::vector<std::string> wire;
    std::unordered_map<std::string, std::size_t> at;
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        wire.push_back(WireName(names[i]));
        at.emplace(NameKey(wire.back()), i);
    }
    // A server may list what it has no longer (\NonExistent), and give it
    // a state all the same.
    std::vector<bool> gone(names.size(), false);
    const auto take = [&](const TIdStrings& lines) {
        for (const std::string& line : lines)
        {
            std::string name;
            TIdIMAP4FolderState state;
            TIdIMAP4Folder listed;
            if (ParseStatusLine(line, name, state))
            {
                if (const auto found = at.find(NameKey(name)); found != at.end())
                {
                    out[found->second].Found = true;
                    out[found->second].State = state;
                }
            }
            else if (ParseListLine(line, listed) && !listed.Selectable())
                if (const auto found = at.find(NameKey(listed.Name)); found != at.end())
                    gone[found->second] = true;
        }
        for (std::size_t i = 0; i < out.size(); ++i)
            if (gone[i])
                out[i].Found = false;
    };
    if (HasCapability("LIST-STATUS") &&
        SendTaggedCommand(NextTag(), ListStatusCommand(wire), {"LIST", "STATUS"}) == "OK")
    {
        take(LastReply().Text);
        return;
    }
    // Pipelined: every STATUS goes out before the first answer is read.
    DrainStrayLines();
    std::vector<std::string> tags;
    std::string batch;
    for (const std::string& name : wire)
    {
        tags.push_back(NextTag());
        batch += tags.back() + " " + StatusCommand(name) + "\r\n";
    }
    try
    {
        Handler().Write(batch);
    }
    catch (const EIdSocketError& e)
    {
        if (e.LastError == Id_WSAECONNRESET)
            ConnectionState = State::Lost;
        throw;
    }
    for (std::size_t i = 0; i < tags.size(); ++i)
    {
        const std::string code = ReadTaggedReply(tags[i], {"STATUS"}, false);
        if (code == "OK")
            take(LastReply().Text);
        else
        {
            out[i].Found = false;
            const TIdStrings& side = LastReplyIMAP4().SideLines;
            out[i].Refusal = side.empty() ? code : side.front();
        }
    }
}

bool TIdIMAP4::ListFolders(std::vector<TIdIMAP4Folder>& out)
{
    using State = TIdIMAP4ConnectionState;
    CheckConnectionState({State::Authenticated, State::Selected});
    out.clear();
    const std::string command =
        HasCapability("SPECIAL-USE") ? "LIST \"\" \"*\" RETURN (SPECIAL-USE)" : "LIST \"\" \"*\"";
    if (SendTaggedCommand(NextTag(), command, {"LIST"}) != "OK")
        return false;
    for (const std::string& line : LastReply().Text)
    {
        TIdIMAP4Folder folder;
        if (ParseListLine(line, folder))
            out.push_back(std::move(folder));
    }
    return true;
}

bool TIdIMAP4::NotifySet(const std::vector<std::string>& names, const std::string& selected)
{
    if (!HasCapability("NOTIFY"))
        return false;
    std::vector<std::string> wire;
    for (const std::string& name : names)
        wire.push_back(WireName(name));
    return SendTaggedCommand(NextTag(), NotifySetCommand(wire, WireName(selected)), {}) == "OK";
}

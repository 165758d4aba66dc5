#include "check/FolderList.h"

#include "check/JmapCheckClient.h"
#include "check/JmapLink.h"
#include "check/MailErrorText.h"
#include "check/RowId.h"
#include "check/SessionOpen.h"
#include "mail/IdExceptions.h"
#include "mail/Inbox.h"
#include "mail/Imap4Client.h"
#include "mail/ModifiedUtf7.h"

#include "platform/CodePage.h"


#include <algorithm>
#include <unordered_set>

namespace
{

// A JMAP account's mailboxes, named as its check names them.
TServerFolders ListJmapFolders(const Account& account, const TSessionLimits& limits,
                               std::shared_ptr<TIdLineAbort> abort)
{
    TServerFolders answer;
    try
    {
        TJmapLink link(limits, std::move(abort));
        link.SetAccount(account);
        std::string state;
        const std::vector<TJmapMailbox> mailboxes = link.Mailboxes(link.Open().Session, state);
        std::map<std::string, std::string> roles;
        for (const TJmapMailbox& m : mailboxes)
            roles[m.Id] = m.Role;
        for (const auto& [name, id] : JmapFolderNames(mailboxes))
        {
            if (name.find_first_of("\r\n") != std::string::npos)
                continue;
            answer.Folders.push_back({ToCodePage(QString::fromStdString(name)),
                                      !roles[id].empty() && roles[id] != "inbox", true});
        }
        std::stable_partition(answer.Folders.begin(), answer.Folders.end(),
                              [](const TServerFolder& f) { return f.Name == InboxName; });
    }
    catch (const std::exception& e)
    {
        answer.Error = MailErrorText(e);
        answer.Folders.clear();
    }
    return answer;
}

} // namespace

TServerFolders ListServerFolders(const Account& account, int port, const TSessionLimits& limits,
                                 std::shared_ptr<TIdLineAbort> abort)
{
    if (account.JMAP)
        return ListJmapFolders(account, limits, std::move(abort));
    TServerFolders answer;
    TIdIMAP4 client;
    client.LineAbort = std::move(abort);
    try
    {
        AimSession(client, account, port, limits);
        if (LogInSession(client, LoginOf(account, port)) != TSessionOpened::Ready)
            throw EIdServerRefusal("The server refused the login.");
        std::vector<TIdIMAP4Folder> listed;
        if (!client.ListFolders(listed))
            throw EIdServerRefusal("The server refused to list its folders.");
        client.Disconnect();
        for (const TIdIMAP4Folder& f : listed)
        {
            TServerFolder folder;
            // A name that is no valid modified UTF-7 is shown as sent.
            if (!TIdMUTF7::Decode(f.Name, folder.Name))
                folder.Name = f.Name;
            // The settings hold no line break in a name: such a folder
            // could never be stored, and a save would fail on it.
            if (folder.Name.find_first_of("\r\n") != std::string::npos)
                continue;
            if (IsInboxName(folder.Name))
                folder.Name = InboxName;
            folder.SpecialUse = f.SpecialUse();
            folder.Selectable = f.Selectable();
            answer.Folders.push_back(std::move(folder));
        }
        std::stable_partition(answer.Folders.begin(), answer.Folders.end(),
                              [](const TServerFolder& f) { return f.Name == InboxName; });
    }
    catch (const std::exception& e)
    {
        answer.Error = MailErrorText(e);
        answer.Folders.clear();
        client.Disconnect(false);
    }
    return answer;
}

std::vector<TFolderChoice> FolderChoices(const std::vector<TServerFolder>& server,
                                         const std::vector<TAccountFolder>& stored)
{
    const auto storedAs = [&stored](const std::string& name) -> const TAccountFolder* {
        for (const TAccountFolder& f : stored)
            if (f.Name == name || (IsInboxName(name) && IsInboxName(f.Name)))
                return &f;
        return nullptr;
    };
    const bool anyWatched =
        std::any_of(stored.begin(), stored.end(), [](const TAccountFolder& f) { return f.Watched; });
    std::vector<TFolderChoice> choices;
    std::unordered_set<std::string> shown;
    for (const TServerFolder& f : server)
    {
        if (!shown.insert(f.Name).second)
            continue;
        TFolderChoice choice;
        choice.Name = f.Name;
        choice.SpecialUse = f.SpecialUse;
        choice.Selectable = f.Selectable;
        if (const TAccountFolder* s = storedAs(f.Name))
        {
            choice.Stored = true;
            choice.Watched = s->Watched && f.Selectable;
        }
        else
            choice.Watched = !anyWatched && f.Name == InboxName;
        choices.push_back(std::move(choice));
    }
    for (const TAccountFolder& s : stored)
        if (!s.Name.empty() && shown.insert(IsInboxName(s.Name) ? std::string(InboxName) : s.Name).second)
            choices.push_back({s.Name, s.Watched, false, true, false, true});
    return choices;
}

std::vector<TAccountFolder> ChosenFolders(const std::vector<TFolderChoice>& choices)
{
    std::vector<TAccountFolder> chosen;
    for (const TFolderChoice& c : choices)
        if (c.Watched || c.Stored)
            chosen.push_back({c.Name, c.Watched});
    return chosen;
}

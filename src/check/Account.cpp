#include "check/Account.h"

#include "check/RowId.h"
#include "mail/Inbox.h"

#include <algorithm>

std::string PartnerPort(const std::string& port, TAccountSecurity security)
{
    const bool tls = security == asImplicitTLS;
    if (tls && port == "110")
        return "995";
    if (tls && port == "143")
        return "993";
    if (!tls && port == "995")
        return "110";
    if (!tls && port == "993")
        return "143";
    return port;
}

std::vector<int> CheckIntervals(const std::vector<Account>& accounts, int common)
{
    std::vector<int> intervals;
    intervals.reserve(accounts.size());
    for (const Account& a : accounts)
        intervals.push_back((a.Enabled && a.CheckingTime > 0 ? a.CheckingTime : common) * 1000);
    return intervals;
}

TMailProtocol ProtocolOf(const Account& account)
{
    return account.JMAP ? mpJmap : account.IMAP4 ? mpImap4 : mpPop3;
}

const char* ProtocolWord(const Account& account)
{
    return account.JMAP ? "jmap" : account.IMAP4 ? "imap4" : "pop3";
}

std::vector<std::string> WatchedFolders(const Account& account)
{
    std::vector<std::string> folders;
    if (account.IMAP4 || account.JMAP)
        for (const TAccountFolder& f : account.Folders)
        {
            if (!f.Watched || f.Name.empty())
                continue;
            // The inbox's name is the server's to spell, in any case.
            const bool inbox = IsInboxName(f.Name);
            const std::string name = inbox ? std::string(InboxName) : f.Name;
            if (std::find(folders.begin(), folders.end(), name) != folders.end())
                continue;
            if (inbox)
                folders.insert(folders.begin(), name);
            else
                folders.push_back(name);
        }
    if (folders.empty())
        folders.push_back(InboxName);
    return folders;
}

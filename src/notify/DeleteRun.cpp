#include "notify/DeleteRun.h"

#include "check/CheckRules.h"
#include "check/MessageList.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "notify/Imap4DeleteClient.h"
#include "notify/JmapDeleteClient.h"
#include "notify/Pop3DeleteClient.h"

TDeleteTarget TargetOfRow(const TMessageList& rows, const std::vector<TRowPlace>& places, int index)
{
    return {AccountNumberOfRow(rows, places, index) - 1, MessageNumberOfRow(rows, index), RowMessageOf(rows, index),
            rows.Caption(index), rows.Row(index).Mailbox};
}

namespace
{

// Each target that still shows its message gets `act`, one session per
// account; see DeleteTargets.
TDeleteOutcome RunTargets(const TDeletePlan& plan, const std::function<TDeleteClient&(TMailProtocol protocol)>& clientFor,
                          void (TDeleteClient::*act)(int number))
{
    TDeleteOutcome outcome;
    TDeleteClient* client = nullptr;
    std::string mailbox; // the folder the session has open
    const auto end = [&outcome, &client] {
        client->Disconnect();
        outcome.LeftMarked = outcome.LeftMarked || client->LeftMarked();
    };
    try
    {
        for (const TDeleteTarget& target : plan.Targets)
        {
            if (outcome.Touched.empty() || target.Account != outcome.Touched.back())
            {
                if (client)
                    end();
                const Account& account = plan.Accounts.at(target.Account);
                outcome.Touched.push_back(target.Account);
                client = &clientFor(ProtocolOf(account));
                client->Disconnect();
                client->SetAccount(account, PortOfText(account.Port));
                client->Connect();
                mailbox = InboxName;
            }
            if (target.Mailbox != mailbox)
            {
                client->OpenFolder(target.Mailbox);
                mailbox = target.Mailbox;
            }
            if (client->StillShows(target.Message, target.Shown))
                (client->*act)(target.Message);
            else
                outcome.Skipped.push_back(target.Caption + ": " + target.Shown.From + " - " + target.Shown.Subject);
        }
        if (client)
            end();
    }
    catch (...)
    {
        // Without the goodbye the server drops what this session marked, so
        // a failed command leaves the failing account's maildrop as it was
        // and no session is left open for the next check.
        if (client)
            client->Abandon();
        outcome.Failure = std::current_exception();
    }
    return outcome;
}

} // namespace

TDeleteOutcome DeleteTargets(const TDeletePlan& plan, const std::function<TDeleteClient&(TMailProtocol protocol)>& clientFor)
{
    return RunTargets(plan, clientFor, &TDeleteClient::DeleteMessage);
}

TDeleteOutcome MarkTargetsRead(const TDeletePlan& plan, const std::function<TDeleteClient&(TMailProtocol protocol)>& clientFor)
{
    return RunTargets(plan, clientFor, &TDeleteClient::MarkRead);
}

std::unique_ptr<TDeleteClient> MakeDeleteClient(TMailProtocol protocol, const TSessionLimits& limits,
                                                std::shared_ptr<TIdLineAbort> abort)
{
    if (protocol == mpJmap)
        return std::make_unique<TJmapDeleteClient>(limits, std::move(abort));
    if (protocol == mpImap4)
        return std::make_unique<TOwningSession<TImap4DeleteClient, TIdIMAP4>>(limits, std::move(abort));
    return std::make_unique<TOwningSession<TPop3DeleteClient, TIdPOP3>>(limits, std::move(abort));
}

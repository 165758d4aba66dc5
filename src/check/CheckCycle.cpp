#include "check/CheckCycle.h"

#include "check/CheckRules.h"
#include "check/ExpandCommand.h"
#include "check/MailErrorText.h"
#include "check/MessageRows.h"
#include "check/Utils.h"
#include "i18n/Translate.h"

#include <exception>

void TCheckCycle::RunChecks()
{
    TMessageRows& rows = Host.Rows();
    if (Host.ClearListPending())
    {
        Host.ClearListPending() = false;
        rows.Clear();
    }
    Host.SetTrayPicture(tpChecking);
    NewCount = 0;

    try
    {
        for (int i = rows.Count() - 1; i >= 0; --i)
            if (rows.ImageIndex(i) == riError)
                rows.Delete(i);
        for (const TCycleAccount& account : Host.Accounts())
            if (account.Enabled)
                CheckAccount(account);
    }
    catch (...)
    {
        // A port that is no number ends the loop; the list as it stands is
        // still summed up before the error is reported.
        Summary();
        throw;
    }
    Summary();
}

void TCheckCycle::CheckAccount(const TCycleAccount& account)
{
    TCheckClient& client = Host.Client(account.IsImap4());
    // Outside the account's guard on purpose: a bad port stops the cycle.
    const int port = PortOfText(account.Port);
    client.SetAccount(account.UserName, account.Password, account.Host, port);

    TMessageRows& rows = Host.Rows();
    try
    {
        client.Connect();
        const int first = FirstRowOf(rows, account.Caption);
        const int blockStart = first >= 0 ? first : rows.Count();
        for (int r = 0; r < rows.Count(); ++r)
            if (rows.Caption(r) == account.Caption)
                rows.SetCut(r, false);

        {
            TRowsUpdateGuard noRepaint(rows);
            const int n = client.MessageCount();
            const int required = Host.Settings().RequiredPriority;
            for (int i = 1; i <= n; ++i)
            {
                const TFetchedHeader header = client.FetchHeader(i);
                const int p = blockStart + i - 1;
                if (p < rows.Count() && rows.Caption(p) == account.Caption)
                {
                    rows.SetCut(p, true);
                    continue;
                }
                if (PriorityCounts(required, header.Priority))
                    ++NewCount;
                TMessageRow row;
                row.Caption = account.Caption;
                row.SubItems = {header.From, header.Subject, HumanSize(client.MessageSize(i))};
                row.ImageIndex = riInserted;
                rows.Insert(p, row);
            }
        }

        // Rows listed before whose message did not turn up are gone.
        for (int r = 0; r < rows.Count();)
        {
            if (rows.Caption(r) != account.Caption)
            {
                ++r;
                continue;
            }
            if (!rows.Cut(r) && rows.ImageIndex(r) == riMessage)
            {
                rows.Delete(r);
                continue;
            }
            rows.SetImageIndex(r, riMessage);
            ++r;
        }
        client.Disconnect();
    }
    catch (const std::exception& e)
    {
        AccountFailed(account, MailErrorText(e));
        client.DisconnectAfterFailure();
    }
}

void TCheckCycle::AccountFailed(const TCycleAccount& account, const std::string& why)
{
    Host.SetTrayHint(ResStr("The connection to mail server is not available"));
    Host.SetTrayPicture(tpFailure);
    TMessageRows& rows = Host.Rows();
    for (int r = rows.Count() - 1; r >= 0; --r)
        if (rows.Caption(r) == account.Caption)
            rows.Delete(r);
    TMessageRow error;
    error.Caption = account.Caption;
    error.ImageIndex = riError;
    error.Hint = why;
    rows.Append(error);
}

void TCheckCycle::Summary()
{
    TMessageRows& rows = Host.Rows();
    ListedCount = 0;
    for (int r = 0; r < rows.Count(); ++r)
        if (rows.ImageIndex(r) != riError)
            ++ListedCount;

    const std::string headline = Headline(ListedCount);
    Host.SetHeadline(headline);
    if (Host.TrayPicture() != tpFailure)
    {
        Host.SetTrayHint(TrayHint(headline, Host.TimeText()));
        Host.SetTrayPicture(tpIdle);
    }
    const TCycleSettings settings = Host.Settings();
    Host.SetNewMailIconVisible(!settings.ShowIcon.empty() && ListedCount > 0);
    if (ShouldNotify(settings.NotifyOnlyNewMsg, NewCount, ListedCount))
        Notify(settings, headline);
}

void TCheckCycle::Notify(const TCycleSettings& settings, const std::string& headline)
{
    if (settings.SilentMode)
        Host.StartBlinking();
    if (!settings.Sound.empty())
        Host.PlaySound(); // "no device open" ends the remaining actions
    if (settings.ShowForm && !Host.NotificationVisible())
        Host.ShowNotification();
    if (!settings.Execute.empty())
    {
        TMessageRows& rows = Host.Rows();
        const std::vector<std::string> captions = AccountCaptions(Host.Accounts());
        for (int r = 0; r < rows.Count(); ++r)
        {
            if (rows.Cut(r) || rows.ImageIndex(r) == riError)
                continue;
            const std::vector<std::string> arguments =
                ExpandCommandParts(Host.Settings().Execute, RowValues(rows, captions, r))
                    .Arguments();
            if (!arguments.empty())
                Host.RunCommand(arguments);
        }
    }
    if (!settings.ShowIcon.empty())
        Host.ShowBalloon("ternbell", headline);
}

#include "check/CheckCycle.h"

#include "check/CheckRules.h"
#include "check/ExpandCommand.h"
#include "check/MailErrorText.h"
#include "check/MessageRows.h"
#include "check/Utils.h"
#include "i18n/Translate.h"
#include "mail/IdMessage.h"

#include <algorithm>
#include <exception>

namespace
{

// A sender or subject cut to what a row keeps, not inside a UTF-8 sequence.
std::string RowText(const std::string& text)
{
    if (text.size() <= MaxRowTextLength)
        return text;
    std::size_t end = MaxRowTextLength;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

TFetchedHeader FetchedHeaderOf(TIdMessage& message)
{
    return TFetchedHeader{message.FromText(), message.Subject, static_cast<int>(message.Priority)};
}

void TCheckCycle::RunChecks(const TCycleConfig& config, bool clearList)
{
    TMessageRows& rows = FRows;
    if (clearList)
        rows.Clear();
    FOutput.SetTrayPicture(tpChecking);
    NewCount = 0;

    try
    {
        for (int i = rows.Count() - 1; i >= 0; --i)
            if (rows.ImageIndex(i) == riError)
                rows.Delete(i);
        for (const Account& account : config.Accounts)
            if (account.Enabled)
                CheckAccount(config, account);
    }
    catch (...)
    {
        // A port that is no number ends the loop; the list as it stands is
        // still summed up before the error is reported.
        Summary(config);
        throw;
    }
    Summary(config);
}

void TCheckCycle::CheckAccount(const TCycleConfig& config, const Account& account)
{
    TCheckClient& client = account.IMAP4 ? FImap4 : FPop3;
    // Outside the account's guard on purpose: a port that is no number stops
    // the cycle. One that is no TCP port fails this account only.
    int port = 0;
    try
    {
        port = PortOfText(account.Port);
    }
    catch (const EPortOutOfRange& e)
    {
        AccountFailed(account, e.Message);
        return;
    }
    client.SetAccount(account, port);

    TMessageRows& rows = FRows;
    std::string cutNote;
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
            const int count = client.MessageCount();
            // A server's count is not trusted: past the limit only the first
            // messages are listed, and a row says so.
            const int n = std::min(count, std::max(MaxMessages, 0));
            if (count > n)
                cutNote = FormatOne(FormatOne(ResStr("Only the first %1 of %2 messages are listed."), "%1",
                                              std::to_string(n)),
                                    "%2", std::to_string(count));
            const int required = config.Settings.RequiredPriority;
            for (int i = 1; i <= n; ++i)
            {
                const int p = blockStart + i - 1;
                if (p < rows.Count() && rows.Caption(p) == account.Caption)
                {
                    client.FetchHeader(i);
                    rows.SetCut(p, true);
                    continue;
                }
                const TFetchedHeader header = client.FetchHeaderThenSize(i);
                if (PriorityCounts(required, header.Priority))
                    ++NewCount;
                TMessageRow row;
                row.Caption = account.Caption;
                row.SubItems = {RowText(header.From), RowText(header.Subject),
                                HumanSize(client.MessageSize(i))};
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
        if (!cutNote.empty())
        {
            // Drawn as an error row, so the next cycle removes it first.
            TMessageRow note;
            note.Caption = account.Caption;
            note.ImageIndex = riError;
            note.Hint = cutNote;
            rows.Append(note);
        }
    }
    catch (const std::exception& e)
    {
        AccountFailed(account, MailErrorText(e));
        client.DisconnectAfterFailure();
    }
}

void TCheckCycle::AccountFailed(const Account& account, const std::string& why)
{
    FOutput.SetTrayHint(ResStr("The connection to mail server is not available"));
    FOutput.SetTrayPicture(tpFailure);
    TMessageRows& rows = FRows;
    for (int r = rows.Count() - 1; r >= 0; --r)
        if (rows.Caption(r) == account.Caption)
            rows.Delete(r);
    TMessageRow error;
    error.Caption = account.Caption;
    error.ImageIndex = riError;
    error.Hint = why;
    rows.Append(error);
}

void TCheckCycle::Summary(const TCycleConfig& config)
{
    TMessageRows& rows = FRows;
    ListedCount = 0;
    for (int r = 0; r < rows.Count(); ++r)
        if (rows.ImageIndex(r) != riError)
            ++ListedCount;

    const std::string headline = Headline(ListedCount);
    FOutput.SetHeadline(headline);
    if (FOutput.TrayPicture() != tpFailure)
    {
        FOutput.SetTrayHint(TrayHint(headline, FOutput.TimeText()));
        FOutput.SetTrayPicture(tpIdle);
    }
    const TCycleSettings& settings = config.Settings;
    FOutput.SetNewMailIconVisible(!settings.ShowIcon.empty() && ListedCount > 0);
    if (ShouldNotify(settings.NotifyOnlyNewMsg, NewCount, ListedCount))
        Notify(config, headline);
}

void TCheckCycle::Notify(const TCycleConfig& config, const std::string& headline)
{
    const TCycleSettings& settings = config.Settings;
    if (settings.SilentMode)
        FOutput.StartBlinking();
    if (!settings.Sound.empty())
        FOutput.PlaySound(); // "no device open" ends the remaining actions
    if (settings.ShowForm && !FOutput.NotificationVisible())
        FOutput.ShowNotification();
    if (!settings.Execute.empty())
    {
        TMessageRows& rows = FRows;
        const std::vector<std::string> captions = AccountCaptions(config.Accounts);
        for (int r = 0; r < rows.Count(); ++r)
        {
            if (rows.Cut(r) || rows.ImageIndex(r) == riError)
                continue;
            const std::vector<std::string> arguments =
                ExpandCommandParts(settings.Execute, RowValues(rows, captions, r))
                    .Arguments();
            if (!arguments.empty())
                FOutput.RunCommand(arguments);
        }
    }
    if (!settings.ShowIcon.empty())
        FOutput.ShowBalloon("ternbell", headline);
}

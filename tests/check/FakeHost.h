#pragma once

// A check cycle's surroundings without windows or sockets: the list,
// clients that serve a scripted maildrop, and a record of what the cycle did.

#include "check/AccessTokens.h"
#include "check/CheckCycle.h"
#include "check/MessageList.h"
#include "check/RoundScheduler.h"
#include "mail/IdExceptions.h"
#include "support/FakeClock.h"

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// What a window would see of the list's batches.
struct TBatchCount : TMessageListView
{
    int UpdateDepth = 0;
    int Repaints = 0; // times a batch ended

    void Inserted(int, int) override {}
    void Deleted(int, int) override {}
    void Changed(int) override {}
    void Cleared() override {}
    void BatchBegun() override { ++UpdateDepth; }
    void BatchEnded() override
    {
        --UpdateDepth;
        ++Repaints;
    }
};

// The entries of a list, in its order.
inline std::vector<TMessageRow> Entries(const TMessageList& list)
{
    std::vector<TMessageRow> rows;
    for (int i = 0; i < list.Count(); ++i)
        rows.push_back(list.Row(i));
    return rows;
}

struct TFakeMessage
{
    std::string From;
    std::string Subject;
    int Priority = 2;
    int Size = 1000;
    std::string MessageId = {};
    // Handed out only to a client asked to read previews.
    std::string Preview = {};
    // Handed out as the body's start, made into the preview where shown.
    bool KeptBody = false;
    // The identity where WithIds is set; the Message-ID when empty.
    std::string Uid = {};
    std::string ListId = {};
};

// A server per host name; a host that is not there refuses the connect.
struct TFakeNetwork
{
    std::map<std::string, std::vector<TFakeMessage>> Maildrops;
    std::vector<std::string> Log; // "connect host:port user", "quit", "drop"
    // Sessions may run on workers side by side.
    void Note(std::string line)
    {
        std::lock_guard<std::mutex> lock(LogLock);
        Log.push_back(std::move(line));
    }
    std::mutex LogLock;
    std::string FailFetchOn;      // host whose header fetch fails ...
    int FailFetchAt = 1;          // ... at this message number
    std::string SignInNeededOn;   // host whose login needs a sign-in first
    // Folders beyond the inbox are maildrops named "host/folder". Where
    // WithIds is set a message's identity is its Message-ID; a folder's
    // stamp is in Stamps, and those in Refused refuse to be opened.
    bool WithIds = false;
    std::map<std::string, std::string> Stamps;
    std::vector<std::string> Refused;
};

class TFakeClient : public TCheckClient
{
public:
    explicit TFakeClient(TFakeNetwork& net) : Net(net) {}

    void SetAccount(const Account& account, int port) override
    {
        Aimed = account;
        Port = port;
    }
    void Connect() override
    {
        ++Connects;
        Mailbox = "INBOX";
        Net.Note("connect " + Aimed.Host + ":" + std::to_string(Port) + " " + Aimed.UserName);
        if (!Net.Maildrops.count(Aimed.Host))
            throw EIdException("Socket Error # 10061\nConnection refused.");
        if (Aimed.Host == Net.SignInNeededOn)
            throw ESignInNeeded("invalid_grant");
        Connected = true;
    }
    int MessageCount() override
    {
        if (std::find(Net.Refused.begin(), Net.Refused.end(), DropName()) != Net.Refused.end())
            throw EFolderRefused("Mailbox doesn't exist");
        return static_cast<int>(Drop().size());
    }
    std::vector<std::string> MessageIds(int first, int count) override
    {
        std::vector<std::string> ids;
        for (int i = first; Net.WithIds && i < first + count; ++i)
        {
            const TFakeMessage& m = Drop().at(i - 1);
            ids.push_back("i:" + (m.Uid.empty() ? m.MessageId : m.Uid));
        }
        return ids;
    }
    std::vector<TFolderStatus> FolderStates(const std::vector<std::string>& mailboxes) override
    {
        std::string line = "status";
        std::vector<TFolderStatus> states;
        for (const std::string& mailbox : mailboxes)
        {
            line += " " + mailbox;
            const std::string name = DropName(mailbox);
            const auto stamp = Net.Stamps.find(name);
            states.push_back({Net.Maildrops.count(name) > 0, stamp == Net.Stamps.end() ? "" : stamp->second, {}});
        }
        Net.Note(line);
        return states;
    }
    void OpenFolder(const std::string& mailbox) override
    {
        Net.Note("select " + mailbox);
        Mailbox = mailbox;
    }
    TFetchedHeader FetchHeader(int i) override
    {
        if (Aimed.Host == Net.FailFetchOn && i == Net.FailFetchAt)
            throw EIdException("-ERR no such message");
        const TFakeMessage& m = Drop().at(i - 1);
        TFetchedHeader header{m.From, m.Subject, m.Priority, m.MessageId, 0, m.Preview};
        header.ListId = m.ListId;
        if (!ReadPreviews)
            header.Preview = TPreview();
        else if (m.KeptBody)
            header.Preview = TPreview::Of("", m.Preview);
        return header;
    }
    int MessageSize(int i) override { return Drop().at(i - 1).Size; }
    void Disconnect() override
    {
        Net.Note("quit");
        Connected = false;
    }
    void DisconnectAfterFailure() noexcept override
    {
        Net.Note("drop");
        Connected = false;
    }

    bool Connected = false;
    int Connects = 0;

private:
    std::string DropName(const std::string& mailbox) const
    {
        return mailbox == "INBOX" ? Aimed.Host : Aimed.Host + "/" + mailbox;
    }
    std::string DropName() const { return DropName(Mailbox); }
    std::vector<TFakeMessage>& Drop() { return Net.Maildrops.at(DropName()); }

    TFakeNetwork& Net;
    std::string Mailbox = "INBOX";
    Account Aimed; // as the last SetAccount gave it
    int Port = 0;
};

class TFakeHost : public TCycleOutput
{
public:
    TFakeHost() { List.SetView(&ListView); }

    TMessageList List;
    TBatchCount ListView;
    TFakeNetwork Net;
    TFakeClient Pop3{Net};
    TFakeClient Imap4{Net};
    std::vector<Account> AccountList;
    TCycleSettings Config;

    bool ClearList = false;
    int Picture = 0;
    std::vector<int> Pictures;
    std::string Hint;
    std::string Headline;
    bool NewMailIcon = false;
    bool FormVisible = false;
    bool SoundFails = false;
    std::vector<std::string> Actions; // in the order they ran
    std::vector<std::vector<std::string>> Commands;
    std::string BalloonTitle;
    std::string BalloonText;
    std::vector<TToldMessage> BalloonTold;
    int Withdrawals = 0;

    // What a round reads, as the program hands it over.
    TCycleConfig Snapshot() const { return TCycleConfig{Config, AccountList, {}}; }
    int TrayPicture() override { return Picture; }
    void SetTrayPicture(int index) override
    {
        Picture = index;
        Pictures.push_back(index);
    }
    void SetTrayHint(const std::string& hint) override { Hint = hint; }
    void SetHeadline(const std::string& text) override { Headline = text; }
    void SetNewMailIconVisible(bool visible) override { NewMailIcon = visible; }
    std::string TimeText() override { return "12:34:56"; }
    void StartBlinking() override { Actions.push_back("blink"); }
    void PlaySound() override
    {
        Actions.push_back("sound");
        if (SoundFails)
            throw std::runtime_error("No MCI device open.");
    }
    void PlaySoundFile(const std::string& file) override { Actions.push_back("sound " + file); }
    bool NotificationVisible() override { return FormVisible; }
    void ShowNotification() override
    {
        Actions.push_back("show");
        FormVisible = true;
    }
    void RunCommand(const std::vector<std::string>& arguments) override
    {
        Actions.push_back("run");
        Commands.push_back(arguments);
    }
    void ShowBalloon(const TNewMailNews& news) override
    {
        Actions.push_back("balloon");
        BalloonTitle = news.Title;
        BalloonText = news.Headline;
        BalloonTold = news.Told;
        BalloonUrgency = news.Urgency;
        BalloonLines = news.Lines;
    }
    void KeepNews(const TNewMailNews& news) override
    {
        Actions.push_back("kept");
        BalloonTold = news.Told;
    }
    int BalloonUrgency = 1;
    std::vector<std::string> BalloonLines;
    void WithdrawNews() override { ++Withdrawals; }
    void NewsLeft(const TNewMailNews& rest) override
    {
        Actions.push_back("news left");
        BalloonText = rest.Headline;
        BalloonTold = rest.Told;
    }
    void MailStateChanged(const TMailState& state) override { States.push_back(state); }
    std::vector<TMailState> States;

    // Adds an enabled POP3 account on its own fake server.
    void AddAccount(const std::string& caption, const std::string& host, bool enabled = true)
    {
        Account a;
        a.Caption = caption;
        a.Enabled = enabled;
        a.UserName = "user-" + caption;
        a.Host = host;
        a.Port = "110";
        a.IMAP4 = false;
        AccountList.push_back(a);
    }
    // The same, IMAP4, with its folders.
    void AddImap4Account(const std::string& caption, const std::string& host, std::vector<TAccountFolder> folders)
    {
        AddAccount(caption, host);
        AccountList.back().IMAP4 = true;
        AccountList.back().Port = "143";
        AccountList.back().Folders = std::move(folders);
    }
};

// Runs rounds as the program does, but on this thread: the scheduler lets a
// round start, each account's session runs in turn on the client for its
// protocol, its report is applied, and the round ends. An error that stopped
// the round's list is raised after it, as the program reports it.
class TInlineRounds
{
public:
    TInlineRounds(TCheckCycle& cycle, TCheckClient& pop3, TCheckClient& imap4)
        : FCycle(cycle), FPop3(pop3), FImap4(imap4)
    {
    }

    void Run(const TCycleConfig& config, bool clearList = false)
    {
        if (!Scheduler.AskRound(clearList))
            throw std::logic_error("a round is under way");
        std::exception_ptr failure;
        for (const TSessionOrder& order : FCycle.BeginRound(config, clearList, failure))
        {
            const Account& account = config.Accounts[order.Index];
            TCheckClient& client = account.IMAP4 ? FImap4 : FPop3;
            client.SetAccount(account, order.Port);
            FCycle.ApplyReport(order.Index, CheckSession(client, FCycle.MaxMessages, order));
        }
        Scheduler.RoundEnded();
        FCycle.EndRound();
        if (failure)
            std::rethrow_exception(failure);
    }

    FakeClock Clock;
    TRoundScheduler Scheduler{Clock};

private:
    TCheckCycle& FCycle;
    TCheckClient& FPop3;
    TCheckClient& FImap4;
};

#pragma once

// A check cycle's surroundings without windows or sockets: the list,
// clients that serve a scripted maildrop, and a record of what the cycle did.

#include "check/CheckCycle.h"
#include "check/MessageList.h"
#include "check/RoundScheduler.h"
#include "mail/IdExceptions.h"
#include "support/FakeClock.h"

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
        Net.Note("connect " + Aimed.Host + ":" + std::to_string(Port) + " " + Aimed.UserName);
        if (!Net.Maildrops.count(Aimed.Host))
            throw EIdException("Socket Error # 10061\nConnection refused.");
        Connected = true;
    }
    int MessageCount() override { return static_cast<int>(Drop().size()); }
    TFetchedHeader FetchHeader(int i) override
    {
        if (Aimed.Host == Net.FailFetchOn && i == Net.FailFetchAt)
            throw EIdException("-ERR no such message");
        const TFakeMessage& m = Drop().at(i - 1);
        TFetchedHeader header{m.From, m.Subject, m.Priority, m.MessageId, 0, m.Preview};
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
    std::vector<TFakeMessage>& Drop() { return Net.Maildrops.at(Aimed.Host); }

    TFakeNetwork& Net;
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
    }
    void WithdrawNews() override { ++Withdrawals; }

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
            FCycle.ApplyReport(order.Index, CheckSession(client, FCycle.MaxMessages, order.Known));
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

// A repeat check of one IMAP4 account that watches 20 folders, nothing new
// in any, against a private Dovecot with folders:
//
//   FoldersRepeat        one session of the check over the folders as the
//                        last check left them: their states in one command,
//                        none searched again
//   Interleaved          that, Python imaplib selecting and searching each
//                        folder (warm, one process), and a bare socket
//                        sending our session's commands, once per round in
//                        rotating order; medians of the per-round ratios
//                        ours/imaplib (goal: at most 0.3) and ours/bound
//                        (goal: at most 1.3)
//   PushAtRest           connections to the server of one account with 10
//                        watched folders and push on, once its session idles
//                        (goal: at most 2; one IDLE line per folder: 10)
//
// The repeat also counts its round trips through a loopback relay (goal: at
// most 4 after the login).
//
// Run:  build/bench/bench_folders   (needs dovecot)
#include "check/CheckCycle.h"
#include "check/Imap4CheckClient.h"
#include "check/Imap4PushClient.h"
#include "check/PushSession.h"
#include "mail/Imap4Client.h"
#include "mail/Imap4Folders.h"
#include "support/Loopback.h"

#include "CheckTiming.h"
#include "TurnCounter.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr int FolderCount = 20;
constexpr int PerFolder = 5;
constexpr int Unseen = FolderCount * PerFolder;

std::vector<std::string> FolderNames()
{
    std::vector<std::string> names = {"INBOX"};
    for (int n = 1; n < FolderCount; ++n)
        names.push_back((n < 10 ? "F0" : "F") + std::to_string(n));
    return names;
}

std::unique_ptr<Dovecot>& ServerSlot()
{
    static std::unique_ptr<Dovecot> server;
    return server;
}

Dovecot& Server()
{
    std::unique_ptr<Dovecot>& slot = ServerSlot();
    if (!slot)
    {
        if (const std::string why = Dovecot::Unavailable(); !why.empty())
            throw std::runtime_error(why);
        slot = std::make_unique<Dovecot>();
        slot->AddUser(User, Password);
        slot->KeepProcesses();
        slot->EnableFolders();
        slot->Start();
        for (const std::string& folder : FolderNames())
        {
            if (folder != "INBOX")
                slot->CreateFolder(User, folder);
            for (int n = 1; n <= PerFolder; ++n)
                slot->DeliverTo(User, folder, SampleMessage(n));
        }
    }
    return *slot;
}

Account FoldersAccount(Dovecot& server, int port, int watched)
{
    Account account = BenchAccount(server, port);
    account.IMAP4 = true;
    const std::vector<std::string> names = FolderNames();
    for (int i = 0; i < watched; ++i)
        account.Folders.push_back({names[i], true});
    return account;
}

// Our check, with what its last check left: each folder's state and rows.
struct TFolderCheck
{
    TIdIMAP4 Imap;
    TImap4CheckClient Check{Imap};
    TSessionOrder Order;

    // One session on `port`; the messages it found unseen.
    int Run(Dovecot& server, int port)
    {
        const Account account = FoldersAccount(server, port, FolderCount);
        if (Order.Folders.empty())
            for (const std::string& name : FolderNames())
                Order.Folders.push_back({name, {}, {}, {}});
        Check.SetAccount(account, port);
        const TAccountReport report = CheckSession(Check, MaxListedMessages, Order);
        if (!report.Error.empty())
            throw std::runtime_error(report.Error);
        int found = 0;
        for (std::size_t i = 0; i < report.Folders.size(); ++i)
        {
            const TFolderReport& f = report.Folders[i];
            if (!f.Error.empty())
                throw std::runtime_error(f.Error);
            TFolderOrder& next = Order.Folders[i];
            next.Known = {f.Ids.begin(), f.Ids.end()};
            next.LastStamp = f.Stamp;
            next.Last = f;
            found += static_cast<int>(f.Ids.size());
        }
        return found;
    }
};

TFolderCheck& Ours()
{
    static TFolderCheck check;
    return check;
}

// Our repeat's commands on a bare socket: the login (whose answer names the
// capabilities), the folders' states in one command, the logout.
int SessionBound(Dovecot& server)
{
    TBareSocket s(server.ImapPort());
    const auto command = [&s](const std::string& tag, const std::string& text, int* unseen) {
        s.SendLine(tag + " " + text);
        for (;;)
        {
            const std::string line = s.ReadLine();
            std::string name;
            TIdIMAP4FolderState state;
            if (unseen && ParseStatusLine(line, name, state))
                *unseen += static_cast<int>(state.Unseen);
            if (line.rfind(tag + " ", 0) == 0)
                return;
        }
    };
    int unseen = 0;
    command("a", std::string("LOGIN ") + User + " " + Password, nullptr);
    command("d", ListStatusCommand(FolderNames()), &unseen);
    command("e", "LOGOUT", nullptr);
    return unseen;
}

void Warm(Dovecot& server)
{
    if (Ours().Run(server, server.ImapPort()) != Unseen)
        throw std::runtime_error("the first check did not see every message");
}

void BM_FoldersRepeat(benchmark::State& state)
{
    Dovecot& server = Server();
    Warm(server);
    TimeChecks(state, [](Dovecot& s) { return Ours().Run(s, s.ImapPort()); }, server, Unseen);
    TTurnCounter relay(server.ImapPort());
    if (Ours().Run(server, relay.Port()) != Unseen)
        throw std::runtime_error("a check through the relay missed messages");
    for (int i = 0; i < 200 && relay.Turns() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state.counters["round_trips"] = relay.Turns();
    state.counters["after_login"] = relay.Turns() - 1;
}

void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    Warm(server);
    static std::unique_ptr<TReferencePeer> peer;
    TReferencePeer& reference =
        TReferencePeer::Warm(peer, std::string(TERNBELL_BENCH_DIR) + "/imaplib_folders_check.py", server.Host(),
                             server.ImapPort(), User, Password, Unseen);
    const char* const names[3] = {"folders_repeat", "imaplib_select_search", "session_bound"};
    TimeRounds(
        state, server, Unseen, [](Dovecot& s) { return Ours().Run(s, s.ImapPort()); }, reference,
        [](Dovecot& s) { return SessionBound(s); }, names, 0.3, 1.3);
}

void BM_PushAtRest(benchmark::State& state)
{
    Dovecot& server = Server();
    const Account account = FoldersAccount(server, server.ImapPort(), 10);
    for (auto _ : state)
    {
        auto abort = std::make_shared<TIdLineAbort>();
        TPushStop stop;
        std::atomic<bool> healthy{false};
        TPushEvents events;
        events.Healthy = [&healthy](bool h) { healthy = h; };
        events.News = [] {};
        std::thread session([&] {
            RunPushSession([&] { return MakePushClient(account, {}, abort); }, TPushTimes{}, events, stop);
        });
        for (int i = 0; i < 1000 && !healthy; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int connections = ConnectionsTo(server.ImapPort());
        stop.Stop();
        abort->Abort();
        session.join();
        if (!healthy)
            throw std::runtime_error("the push session never heard every folder");
        state.counters["connections"] = connections;
        state.counters["folders"] = 10;
    }
}

} // namespace

BENCHMARK(BM_FoldersRepeat)->Name("FoldersRepeat")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->Name("Interleaved")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PushAtRest)->Name("PushAtRest")->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunCheckBenchmarks(argc, argv, "bench_folders", [] { ServerSlot().reset(); });
}

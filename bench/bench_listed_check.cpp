// A repeat check of an account whose 1,000 waiting messages are all listed,
// POP3 and IMAP4 against a private Dovecot, through the real check cycle: the
// rows know every message by its identity, so nothing is fetched again. Beside
// it, the same session fetching every header and size anew: what a repeat
// check cost while the rows were matched by position.
//
//   Pop3Repeat / Imap4Repeat     one round of the cycle over rows that list
//                                every message (the rows filled untimed)
//   Pop3Refetch / Imap4Refetch   one session that fetches every header and size
//   Interleaved/<protocol>       the two and a bare socket sending the
//                                repeat's commands (the server's own cost of
//                                the session) once per round in rotating
//                                order, with the medians of the per-round
//                                ratios repeat/refetch (goal: at most 0.05)
//                                and repeat/bound
//
// Each benchmark also counts the round trips of one of its checks, made
// untimed through a loopback relay that counts the turns from the server's
// answer back to the client's next words (goal for a repeat: at most 8).
//
// Run:  build-<dir>/bench/bench_listed_check   (needs dovecot)
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

#include "CheckTiming.h"
#include "TurnCounter.h"
// Rows in memory and a cycle output that records, with the test support.
#include "check/FakeHost.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

namespace
{

std::unique_ptr<Dovecot>& ServerSlot()
{
    static std::unique_ptr<Dovecot> server;
    return server;
}

// One protocol's account, clients and rows.
struct TProtocol
{
    bool Imap4;
    TIdPOP3 Pop;
    TIdIMAP4 Imap;
    TPop3CheckClient Pop3Check{Pop};
    TImap4CheckClient Imap4Check{Imap};
    TFakeHost Host;
    TCheckCycle Cycle{Host.List, Host};
    TInlineRounds Rounds{Cycle, Pop3Check, Imap4Check};

    explicit TProtocol(bool imap4) : Imap4(imap4) {}

    TCheckClient& Client() { return Imap4 ? static_cast<TCheckClient&>(Imap4Check) : Pop3Check; }
    uint16_t ServerPort(Dovecot& server) const { return Imap4 ? server.ImapPort() : server.Pop3Port(); }

    TCycleConfig Config(Dovecot& server, uint16_t port) const
    {
        Account account = BenchAccount(server, port);
        account.Caption = "bench";
        account.Enabled = true;
        account.IMAP4 = Imap4;
        account.Port = std::to_string(port);
        return TCycleConfig{TCycleSettings{}, {account}, {}};
    }

    // One round over the listed rows; the rows' count, which must not change.
    int Repeat(Dovecot& server, uint16_t port)
    {
        Rounds.Run(Config(server, port));
        return Host.List.Count();
    }

    int Refetch(Dovecot& server, uint16_t port)
    {
        TCheckClient& client = Client();
        client.SetAccount(BenchAccount(server, port), port);
        return RunCheck(client);
    }
};

Dovecot& Server()
{
    return FilledServer(ServerSlot(), [](Dovecot& server) {
        TProtocol imap4(true);
        return imap4.Refetch(server, server.ImapPort());
    });
}

TProtocol& Protocol(bool imap4)
{
    static std::unique_ptr<TProtocol> made[2];
    std::unique_ptr<TProtocol>& slot = made[imap4];
    if (!slot)
    {
        Dovecot& server = Server();
        slot = std::make_unique<TProtocol>(imap4);
        // The first round lists every message.
        if (slot->Repeat(server, slot->ServerPort(server)) != MessageCount)
            throw std::runtime_error("the first check did not list every message");
    }
    return *slot;
}

// A protocol whose account is reached through a relay, so that one check's
// round trips can be counted; its rows list every message, as the timed
// one's do. The port is part of an account's identity, so it needs rows of
// its own.
struct TCounted
{
    TTurnCounter Relay;
    TProtocol Check;

    TCounted(Dovecot& server, bool imap4) : Relay(imap4 ? server.ImapPort() : server.Pop3Port()), Check(imap4)
    {
        if (Check.Repeat(server, Relay.Port()) != MessageCount)
            throw std::runtime_error("the first check did not list every message");
    }
};

template <bool Repeat>
int CountTurns(Dovecot& server, bool imap4)
{
    static std::unique_ptr<TCounted> made[2];
    if (!made[imap4])
        made[imap4] = std::make_unique<TCounted>(server, imap4);
    TCounted& counted = *made[imap4];
    const uint16_t port = counted.Relay.Port();
    const int seen = Repeat ? counted.Check.Repeat(server, port) : counted.Check.Refetch(server, port);
    if (seen != MessageCount)
        throw std::runtime_error("a check through the relay saw " + std::to_string(seen) + " messages");
    // The relay records the count once it sees the connection close.
    for (int i = 0; i < 200 && counted.Relay.Turns() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return counted.Relay.Turns();
}

template <bool Imap4, bool Repeat>
void BM_Check(benchmark::State& state)
{
    TProtocol& p = Protocol(Imap4);
    Dovecot& server = Server();
    const uint16_t port = p.ServerPort(server);
    const auto check = [&p](Dovecot& s, uint16_t at) { return Repeat ? p.Repeat(s, at) : p.Refetch(s, at); };
    TimeChecks(state, [&](Dovecot& s) { return check(s, port); }, server, MessageCount);
    state.counters["round_trips"] = CountTurns<Repeat>(server, Imap4);
}

// The repeat's commands over a bare socket, nothing parsed: what the
// server's own session costs, login and logout included.
int SessionBound(Dovecot& server, bool imap4)
{
    TBareSocket s(imap4 ? server.ImapPort() : server.Pop3Port());
    int tag = 0;
    std::string uids;
    const auto command = [&](const std::string& line, bool multiLine) {
        if (imap4)
        {
            const std::string t = "C" + std::to_string(++tag);
            s.SendLine(t + " " + line);
            for (std::string reply = s.ReadLine(); reply.rfind(t + " ", 0) != 0; reply = s.ReadLine())
                if (reply.rfind("* SEARCH", 0) == 0)
                    uids = reply;
            return;
        }
        s.SendLine(line);
        if (s.ReadLine().rfind("+OK", 0) == 0 && multiLine)
            while (s.ReadLine() != ".")
                uids += '.';
    };
    if (imap4)
    {
        command(std::string("LOGIN ") + User + " " + Password, false);
        command("SELECT \"INBOX\"", false);
        command("UID SEARCH UNSEEN", false);
        command("LOGOUT", false);
        return static_cast<int>(std::count(uids.begin(), uids.end(), ' ')) - 1;
    }
    command("CAPA", true);
    command(std::string("USER ") + User, false);
    command(std::string("PASS ") + Password, false);
    command("STAT", false);
    uids.clear();
    command("UIDL", true);
    command("QUIT", false);
    return static_cast<int>(uids.size());
}

template <bool Imap4>
void BM_Interleaved(benchmark::State& state)
{
    TProtocol& p = Protocol(Imap4);
    Dovecot& server = Server();
    const uint16_t port = p.ServerPort(server);
    const char* const names[3] = {Imap4 ? "imap4_repeat" : "pop3_repeat", "refetch", "session_bound"};
    TimeRotatedRounds(
        state,
        [&](int k) {
            switch (k)
            {
            case 0:
                return TimedCheck([&](Dovecot& s) { return p.Repeat(s, port); }, server, MessageCount);
            case 1:
                return TimedCheck([&](Dovecot& s) { return p.Refetch(s, port); }, server, MessageCount);
            default:
                return TimedCheck([](Dovecot& s) { return SessionBound(s, Imap4); }, server, MessageCount);
            }
        },
        names, 0.05, 1.3);
}

} // namespace

BENCHMARK(BM_Check<false, true>)->Name("Pop3Repeat")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<false, false>)->Name("Pop3Refetch")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<true, true>)->Name("Imap4Repeat")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Check<true, false>)->Name("Imap4Refetch")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved<false>)->Name("Interleaved/pop3")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved<true>)->Name("Interleaved/imap4")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunCheckBenchmarks(argc, argv, "bench_listed_check", [] { ServerSlot().reset(); });
}

// One complete POP3 check of a 1,000-message maildrop against a private
// Dovecot, as the check cycle runs it: connect, CAPA, USER/PASS, STAT, UIDL,
// then TOP n 0 (header parsed into a TIdMessage) and LIST n for every message,
// QUIT. Dovecot announces PIPELINING, so the cycle's client sends each
// message's TOP and LIST together.
//
// Four ways, against the same server and maildrop:
//   Pop3Check         the cycle's client (TPop3CheckClient over TIdPOP3) with
//                     the program's connect, read and session limits
//   PoplibCheck       the same command sequence by Python's poplib, one
//                     command at a time, in one long-lived process
//                     (bench/poplib_check.py --serve), which times each check
//                     itself
//   RoundTripBound    the same commands over a bare socket, each reply only
//                     read up to its end: the floor for one command at a time
//   PipelinedBound    the same, each message's TOP and LIST in one write: the
//                     floor for what our client sends
//
// and Interleaved, which runs ours, poplib and the pipelined bound once per
// round in rotating order and reports the medians of the per-round ratios
// ours/poplib and ours/bound.
//
// Run:  build-<dir>/bench/bench_pop3   (needs dovecot and python3)
//       --benchmark_filter=Interleaved for the ratios alone
#include "check/Pop3CheckClient.h"
#include "mail/Pop3Client.h"

#include "CheckTiming.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

std::unique_ptr<Dovecot>& ServerSlot()
{
    static std::unique_ptr<Dovecot> server;
    return server;
}

int Pop3Check(Dovecot& server)
{
    TIdPOP3 pop;
    TPop3CheckClient check(pop);
    check.SetAccount(BenchAccount(server, server.Pop3Port()), server.Pop3Port());
    return RunCheck(check);
}

// Started on first use, with the maildrop filled and indexed once.
Dovecot& Server()
{
    return FilledServer(ServerSlot(), Pop3Check);
}

// A bare socket client: each command is written and its reply read up to
// its end marker, nothing parsed.
class BareSession : public TBareSocket
{
public:
    using TBareSocket::TBareSocket;

    std::string Command(const std::string& line, bool multiLine)
    {
        SendLine(line);
        return Reply(multiLine);
    }

    std::string Reply(bool multiLine)
    {
        std::string status = ReadLine();
        if (multiLine && status.rfind("+OK", 0) == 0)
            SkipBody();
        return status;
    }

private:
    // Up to and including the line that is a lone ".".
    void SkipBody()
    {
        for (;;)
        {
            if (Buffer.rfind(".\r\n", 0) == 0)
            {
                Buffer.erase(0, 3);
                return;
            }
            std::size_t at = Buffer.find("\r\n.\r\n");
            if (at != std::string::npos)
            {
                Buffer.erase(0, at + 5);
                return;
            }
            Receive();
        }
    }
};

template <bool Pipelined>
int BareCheck(Dovecot& server)
{
    BareSession s(server.Pop3Port());
    s.Command("CAPA", true);
    s.Command(std::string("USER ") + User, false);
    s.Command(std::string("PASS ") + Password, false);
    std::string stat = s.Command("STAT", false);
    int count = std::stoi(stat.substr(4));
    s.Command("UIDL", true);
    for (int n = 1; n <= count; ++n)
    {
        const std::string number = std::to_string(n);
        if (Pipelined)
        {
            s.SendLine("TOP " + number + " 0\r\nLIST " + number);
            s.Reply(true);
            s.Reply(false);
            continue;
        }
        s.Command("TOP " + number + " 0", true);
        s.Command("LIST " + number, false);
    }
    s.Command("QUIT", false);
    return count;
}

// The warm poplib peer, started once; its first check is not measured.
TReferencePeer& Poplib(Dovecot& server)
{
    static std::unique_ptr<TReferencePeer> peer;
    return TReferencePeer::Warm(peer, TERNBELL_BENCH_DIR "/poplib_check.py", server.Host(), server.Pop3Port(), User, Password,
                                MessageCount);
}

void BM_Pop3Check(benchmark::State& state)
{
    TimeChecks(state, Pop3Check, Server(), MessageCount);
}

void BM_PoplibCheck(benchmark::State& state)
{
    Dovecot& server = Server();
    Poplib(server).TimeChecks(state, MessageCount);
}

void BM_RoundTripBound(benchmark::State& state)
{
    TimeChecks(state, BareCheck<false>, Server(), MessageCount);
}

void BM_PipelinedBound(benchmark::State& state)
{
    TimeChecks(state, BareCheck<true>, Server(), MessageCount);
}

void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    const char* const names[3] = {"pop3", "poplib", "pipelined_bound"};
    TimeRounds(state, server, MessageCount, Pop3Check, Poplib(server), BareCheck<true>, names, 0.7, 1.2);
}

} // namespace

BENCHMARK(BM_Pop3Check)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoplibCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripBound)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipelinedBound)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Stops the server and removes its folder.
    return RunCheckBenchmarks(argc, argv, "bench_pop3", [] { ServerSlot().reset(); });
}

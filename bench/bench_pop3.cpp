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

#include "BareSessions.h"
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

template <bool Pipelined>
int BareCheck(Dovecot& server)
{
    return BarePop3Check(server.Pop3Port(), Pipelined);
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

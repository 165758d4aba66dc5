// The first check of an IMAP4 account with 1,000 unseen messages against a
// private Dovecot, as the check cycle runs it: LOGIN (its answer names the
// capabilities), SELECT "INBOX", UID SEARCH UNSEEN, then UID FETCH <set>
// (RFC822.SIZE BODY.PEEK[HEADER]) for every 250 hits (headers parsed into
// TIdMessages), LOGOUT.
//
// In the same run, against the same server and mailbox:
//   Imap4Check       the cycle's client (TImap4CheckClient), as the program sets it up
//   Imap4CheckDrain10  the same with the 10 ms wait for stray lines before
//                    each command that the client has by default
//   ImaplibBatchedCheck  the same commands by Python's imaplib in one
//                    long-lived process (bench/imaplib_batched_check.py
//                    --serve, which times each check itself)
//   ImaplibCheck     imaplib asking one message at a time, FETCH n
//                    (RFC822.HEADER) and FETCH n (RFC822.SIZE) per hit, as
//                    the check did before it fetched in batches
//                    (bench/imaplib_check.py)
//   RoundTripBound   our commands over a bare socket, each reply read up
//                    to its tagged line (literals skipped by their count)
//   Interleaved      ours, batched imaplib and the bound without the 10 ms
//                    wait once per round in rotating order, with the medians
//                    of the per-round ratios ours/imaplib and ours/bound
//
// Run:  build-<dir>/bench/bench_imap4   (needs dovecot and python3)
#include "check/Imap4CheckClient.h"
#include "mail/Imap4Client.h"

#include "BareSessions.h"
#include "CheckTiming.h"

#include <benchmark/benchmark.h>

#include <algorithm>
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

int Imap4Check(Dovecot& server, int drainMs = -1)
{
    TIdIMAP4 imap;
    TImap4CheckClient check(imap);
    check.SetAccount(BenchAccount(server, server.ImapPort()), server.ImapPort());
    if (drainMs >= 0)
        imap.MilliSecsToWaitToClearBuffer = drainMs;
    return RunCheck(check);
}

// Started on first use, with the mailbox filled and indexed once; every
// message is unseen.
Dovecot& Server()
{
    return FilledServer(ServerSlot(), [](Dovecot& server) { return Imap4Check(server); });
}

int BareCheck(Dovecot& server)
{
    return BareImap4Check(server.ImapPort());
}

// The warm imaplib peers, started once; their first checks are not measured.
TReferencePeer& Imaplib(Dovecot& server, bool batched)
{
    static std::unique_ptr<TReferencePeer> peers[2];
    return TReferencePeer::Warm(peers[batched],
                                batched ? TERNBELL_BENCH_DIR "/imaplib_batched_check.py"
                                        : TERNBELL_BENCH_DIR "/imaplib_check.py",
                                server.Host(), server.ImapPort(), User, Password, MessageCount);
}

void BM_Imap4Check(benchmark::State& state)
{
    TimeChecks(state, [](Dovecot& s) { return Imap4Check(s); }, Server(), MessageCount);
}

void BM_Imap4CheckDrain10(benchmark::State& state)
{
    TimeChecks(state, [](Dovecot& s) { return Imap4Check(s, 10); }, Server(), MessageCount);
}

void BM_ImaplibBatchedCheck(benchmark::State& state)
{
    Dovecot& server = Server();
    Imaplib(server, true).TimeChecks(state, MessageCount);
}

void BM_ImaplibCheck(benchmark::State& state)
{
    Dovecot& server = Server();
    Imaplib(server, false).TimeChecks(state, MessageCount);
}

void BM_RoundTripBound(benchmark::State& state)
{
    TimeChecks(state, BareCheck, Server(), MessageCount);
}

void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    const char* const names[3] = {"imap4", "imaplib_batched", "bound"};
    TimeRounds(state, server, MessageCount, [](Dovecot& s) { return Imap4Check(s); }, Imaplib(server, true), BareCheck,
               names, 1.0, 1.10);
}

} // namespace

BENCHMARK(BM_Imap4Check)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Imap4CheckDrain10)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImaplibBatchedCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImaplibCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripBound)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Stops the server and removes its folder.
    return RunCheckBenchmarks(argc, argv, "bench_imap4", [] { ServerSlot().reset(); });
}

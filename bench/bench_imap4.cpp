// The first check of an IMAP4 account with 1,000 unseen messages against a
// private Dovecot, as the check cycle runs it: LOGIN, CAPABILITY twice,
// SELECT "inbox", UID SEARCH UNSEEN, then UID FETCH <set> (RFC822.SIZE
// BODY.PEEK[HEADER]) for every 250 hits (headers parsed into TIdMessages),
// LOGOUT.
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

// A bare socket client: each command written, its reply read up to the
// tagged line, literals skipped by their count, nothing parsed.
class BareSession : public TBareSocket
{
public:
    using TBareSocket::TBareSocket;

    // The untagged lines of the reply.
    std::vector<std::string> Command(const std::string& command)
    {
        const std::string tag = "C" + std::to_string(++FCounter);
        SendLine(tag + " " + command);
        std::vector<std::string> lines;
        for (;;)
        {
            std::string line = ReadLine();
            if (line.rfind(tag + " ", 0) == 0)
                return lines;
            if (!line.empty() && line.back() == '}')
            {
                const std::size_t open = line.rfind('{');
                Skip(std::stoul(line.substr(open + 1)));
            }
            lines.push_back(line);
        }
    }

private:
    int FCounter = 0;
};

// "first:last" for a run of consecutive UIDs, else the list.
std::string SetText(const std::vector<unsigned long>& uids)
{
    if (uids.back() - uids.front() + 1 == uids.size())
        return std::to_string(uids.front()) + ":" + std::to_string(uids.back());
    std::string text;
    for (unsigned long uid : uids)
        text += (text.empty() ? "" : ",") + std::to_string(uid);
    return text;
}

int BareCheck(Dovecot& server)
{
    BareSession s(server.ImapPort());
    s.Command(std::string("LOGIN ") + User + " " + Password);
    s.Command("CAPABILITY");
    s.Command("CAPABILITY");
    s.Command("SELECT \"inbox\"");
    std::vector<unsigned long> uids;
    for (const std::string& line : s.Command("UID SEARCH UNSEEN"))
        if (line.rfind("* SEARCH", 0) == 0)
        {
            std::size_t pos = 8;
            while (pos < line.size())
            {
                std::size_t next = line.find(' ', pos + 1);
                uids.push_back(std::stoul(line.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1)));
                pos = next == std::string::npos ? line.size() : next;
            }
        }
    std::sort(uids.begin(), uids.end());
    for (std::size_t at = 0; at < uids.size(); at += 250)
    {
        const std::vector<unsigned long> part(uids.begin() + static_cast<std::ptrdiff_t>(at),
                                              uids.begin() + static_cast<std::ptrdiff_t>(std::min(at + 250, uids.size())));
        s.Command("UID FETCH " + SetText(part) + " (RFC822.SIZE BODY.PEEK[HEADER])");
    }
    s.Command("LOGOUT");
    return static_cast<int>(uids.size());
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

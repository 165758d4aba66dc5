// The first check of an IMAP4 account with 1,000 unseen messages against a
// private Dovecot, as the check cycle runs it: LOGIN, CAPABILITY twice,
// SELECT "inbox", SEARCH UNSEEN, then per hit FETCH n (RFC822.HEADER) (header
// parsed into a TIdMessage) and FETCH n (RFC822.SIZE), LOGOUT.
//
// In the same run, against the same server and mailbox:
//   Imap4Check       the cycle's client (TImap4CheckClient), as the program sets it up
//   Imap4CheckDrain10  the same with the 10 ms wait for stray lines before
//                    each command that the client has by default
//   ImaplibCheck     the same commands by Python's imaplib in one long-lived
//                    process (bench/imaplib_check.py --serve, which times
//                    each check itself)
//   RoundTripBound   the same commands over a bare socket, each reply read up
//                    to its tagged line (literals skipped by their count)
//   Interleaved      the three without the 10 ms wait once per round in
//                    rotating order, with the medians of the per-round
//                    ratios ours/imaplib and ours/bound
//
// Run:  build-<dir>/bench/bench_imap4   (needs dovecot and python3)
#include "check/Imap4CheckClient.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"
// The fixture lives with the test support, which the benchmarks do not link.
#include "support/Dovecot.h"

#include "CheckTiming.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
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
    check.SetAccount(User, Password, server.Host(), server.ImapPort());
    if (drainMs >= 0)
        imap.MilliSecsToWaitToClearBuffer = drainMs;
    check.Connect();
    const int count = check.MessageCount();
    long total = 0;
    for (int i = 1; i <= count; ++i)
    {
        TFetchedHeader header = check.FetchHeader(i);
        benchmark::DoNotOptimize(header.Subject);
        total += check.MessageSize(i);
    }
    check.Disconnect();
    benchmark::DoNotOptimize(total);
    return count;
}

// Started on first use, with the mailbox filled and indexed once.
Dovecot& Server()
{
    std::unique_ptr<Dovecot>& slot = ServerSlot();
    if (!slot)
    {
        std::string why = Dovecot::Unavailable();
        if (!why.empty())
            throw std::runtime_error(why);
        slot = std::make_unique<Dovecot>();
        slot->AddUser(User, Password);
        slot->Start();
        for (int n = 1; n <= MessageCount; ++n)
            slot->Deliver(User, SampleMessage(n));
        // The server indexes the Maildir at the first session; not measured.
        if (Imap4Check(*slot) != MessageCount)
            throw std::runtime_error("the mailbox does not hold the messages delivered as unseen");
    }
    return *slot;
}

// A bare socket client: each command written, its reply read up to the
// tagged line, literals skipped by their count, nothing parsed.
class BareSession
{
public:
    explicit BareSession(uint16_t port)
    {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (Fd < 0 || connect(Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("connect failed");
        ReadLine();
    }
    ~BareSession() { close(Fd); }
    BareSession(const BareSession&) = delete;
    BareSession& operator=(const BareSession&) = delete;

    // The untagged lines of the reply.
    std::vector<std::string> Command(const std::string& command)
    {
        const std::string tag = "C" + std::to_string(++Counter);
        std::string out = tag + " " + command + "\r\n";
        if (send(Fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()))
            throw std::runtime_error("send failed");
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
    void Receive()
    {
        char chunk[32768];
        ssize_t got = recv(Fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            throw std::runtime_error("connection closed");
        Buffer.append(chunk, static_cast<std::size_t>(got));
    }

    std::string ReadLine()
    {
        std::size_t at;
        while ((at = Buffer.find("\r\n")) == std::string::npos)
            Receive();
        std::string line = Buffer.substr(0, at);
        Buffer.erase(0, at + 2);
        return line;
    }

    void Skip(std::size_t count)
    {
        while (Buffer.size() < count)
            Receive();
        Buffer.erase(0, count);
    }

    int Fd = -1;
    int Counter = 0;
    std::string Buffer;
};

int BareCheck(Dovecot& server)
{
    BareSession s(server.ImapPort());
    s.Command(std::string("LOGIN ") + User + " " + Password);
    s.Command("CAPABILITY");
    s.Command("CAPABILITY");
    s.Command("SELECT \"inbox\"");
    std::vector<std::string> hits;
    for (const std::string& line : s.Command("SEARCH UNSEEN"))
        if (line.rfind("* SEARCH", 0) == 0)
        {
            std::size_t pos = 8;
            while (pos < line.size())
            {
                std::size_t next = line.find(' ', pos + 1);
                hits.push_back(line.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1));
                pos = next == std::string::npos ? line.size() : next;
            }
        }
    for (const std::string& n : hits)
    {
        s.Command("FETCH " + n + " (RFC822.HEADER)");
        s.Command("FETCH " + n + " (RFC822.SIZE)");
    }
    s.Command("LOGOUT");
    return static_cast<int>(hits.size());
}

// The warm imaplib peer, started once; its first check is not measured.
TReferencePeer& Imaplib(Dovecot& server)
{
    static std::unique_ptr<TReferencePeer> peer;
    return TReferencePeer::Warm(peer, TERNBELL_BENCH_DIR "/imaplib_check.py", server.Host(), server.ImapPort(), User, Password,
                                MessageCount);
}

void BM_Imap4Check(benchmark::State& state)
{
    TimeChecks(state, [](Dovecot& s) { return Imap4Check(s); }, Server(), MessageCount);
}

void BM_Imap4CheckDrain10(benchmark::State& state)
{
    TimeChecks(state, [](Dovecot& s) { return Imap4Check(s, 10); }, Server(), MessageCount);
}

void BM_ImaplibCheck(benchmark::State& state)
{
    Dovecot& server = Server();
    Imaplib(server).TimeChecks(state, MessageCount);
}

void BM_RoundTripBound(benchmark::State& state)
{
    TimeChecks(state, BareCheck, Server(), MessageCount);
}

void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    const char* const names[3] = {"imap4", "imaplib", "bound"};
    TimeRounds(state, server, MessageCount, [](Dovecot& s) { return Imap4Check(s); }, Imaplib(server), BareCheck, names);
}

} // namespace

BENCHMARK(BM_Imap4Check)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Imap4CheckDrain10)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImaplibCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripBound)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Stops the server and removes its folder.
    return RunCheckBenchmarks(argc, argv, "bench_imap4", [] { ServerSlot().reset(); });
}

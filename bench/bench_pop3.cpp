// One complete POP3 check of a 1,000-message maildrop against a private
// Dovecot, as the check cycle runs it: connect, CAPA, USER/PASS, STAT, then
// TOP n 0 (header parsed into a TIdMessage) and LIST n for every message,
// QUIT.
//
// Three ways, against the same server and maildrop:
//   Pop3Check       the cycle's client (TPop3CheckClient over TIdPOP3) with
//                   the program's connect, read and session limits
//   PoplibCheck     the same command sequence by Python's poplib in one
//                   long-lived process (bench/poplib_check.py --serve), which
//                   times each check itself
//   RoundTripBound  the same commands over a bare socket, each reply only
//                   read up to its end: the floor for one command at a time
//
// and Interleaved, which runs the three once per round in rotating order and
// reports the medians of the per-round ratios ours/poplib and ours/bound.
//
// Run:  build-<dir>/bench/bench_pop3   (needs dovecot and python3)
//       --benchmark_filter=Interleaved for the ratios alone
#include "check/Pop3CheckClient.h"
#include "mail/IdMessage.h"
#include "mail/Pop3Client.h"
// The fixture lives with the test support, which the benchmarks do not link.
#include "support/Dovecot.h"

#include "CheckTiming.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

struct Shared
{
    std::unique_ptr<Dovecot> Server;
};

Shared& State()
{
    static Shared shared;
    return shared;
}

// Started on first use, with the maildrop filled and indexed once.
Dovecot& Server()
{
    Shared& s = State();
    if (!s.Server)
    {
        std::string why = Dovecot::Unavailable();
        if (!why.empty())
            throw std::runtime_error(why);
        s.Server = std::make_unique<Dovecot>();
        s.Server->AddUser(User, Password);
        s.Server->Start();
        for (int n = 1; n <= MessageCount; ++n)
            s.Server->Deliver(User, SampleMessage(n));
        // The server indexes the Maildir at the first session; not measured.
        TIdPOP3 pop;
        pop.Host = s.Server->Host();
        pop.Port = s.Server->Pop3Port();
        pop.Username = User;
        pop.Password = Password;
        pop.Connect();
        if (pop.CountMessages() != MessageCount)
            throw std::runtime_error("the maildrop does not hold the messages delivered");
        pop.Disconnect();
    }
    return *s.Server;
}

int Pop3Check(Dovecot& server)
{
    TIdPOP3 pop;
    TPop3CheckClient check(pop);
    check.SetAccount(User, Password, server.Host(), server.Pop3Port());
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

// A bare socket client: each command is written and its reply read up to
// its end marker, nothing parsed.
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

    std::string Command(const std::string& line, bool multiLine)
    {
        std::string out = line + "\r\n";
        if (send(Fd, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()))
            throw std::runtime_error("send failed");
        std::string status = ReadLine();
        if (multiLine && status.rfind("+OK", 0) == 0)
            SkipBody();
        return status;
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

    int Fd = -1;
    std::string Buffer;
};

int BareCheck(Dovecot& server)
{
    BareSession s(server.Pop3Port());
    s.Command("CAPA", true);
    s.Command(std::string("USER ") + User, false);
    s.Command(std::string("PASS ") + Password, false);
    std::string stat = s.Command("STAT", false);
    int count = std::stoi(stat.substr(4));
    for (int n = 1; n <= count; ++n)
    {
        s.Command("TOP " + std::to_string(n) + " 0", true);
        s.Command("LIST " + std::to_string(n), false);
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
    TimeChecks(state, BareCheck, Server(), MessageCount);
}

void BM_Interleaved(benchmark::State& state)
{
    Dovecot& server = Server();
    const char* const names[3] = {"pop3", "poplib", "bound"};
    TimeRounds(state, server, MessageCount, Pop3Check, Poplib(server), BareCheck, names);
}

} // namespace

BENCHMARK(BM_Pop3Check)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoplibCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripBound)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Stops the server and removes its folder.
    return RunCheckBenchmarks(argc, argv, "bench_pop3", [] { State().Server.reset(); });
}

// Line reading over loopback against a plain recv loop that only counts LF
// bytes: the ceiling any line reader can reach on this machine.
#include "mail/IdExceptions.h"
#include "mail/IdTCPConnection.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int ReplyLines = 100000;
constexpr std::size_t BlockBytes = 10 * 1024 * 1024;

std::string MakeReplies()
{
    std::string s;
    for (int i = 0; i < ReplyLines; ++i)
        s += "+OK " + std::to_string(i + 1) + " 4711 message waiting\r\n";
    return s;
}

std::string MakeBlock()
{
    std::string s;
    const std::string line = "Received: from mail.example.org by mx.example.net; Mon, 7 Dec 2026 20:41:28\r\n";
    const std::string stuffed = "..a line that began with a full stop\r\n";
    int n = 0;
    while (s.size() < BlockBytes)
        s += (++n % 50 == 0) ? stuffed : line;
    return s + ".\r\n";
}

// Serves the same bytes to every connection, then closes it.
class TPayloadServer
{
public:
    explicit TPayloadServer(std::string payload) : FPayload(std::move(payload))
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(FListen, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(FListen, 8);
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
        FPort = ntohs(a.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TPayloadServer()
    {
        FStop = true;
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    int Port() const { return FPort; }
    std::size_t Lines() const { return static_cast<std::size_t>(std::count(FPayload.begin(), FPayload.end(), '\n')); }
    std::size_t Bytes() const { return FPayload.size(); }

private:
    void Serve()
    {
        while (!FStop)
        {
            int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                return;
            std::size_t sent = 0;
            while (sent < FPayload.size())
            {
                ssize_t n = ::send(c, FPayload.data() + sent, FPayload.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::close(c);
        }
    }

    std::string FPayload;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

class TOneLineReply : public TIdReply
{
public:
    bool EndsReply(const std::string&) const override { return true; }
    void SetFormattedReply(const TIdStrings& lines) override
    {
        Clear();
        const std::string& line = lines.front();
        std::size_t space = line.find(' ');
        Code = line.substr(0, space);
        Text.push_back(space == std::string::npos ? std::string() : line.substr(space + 1));
    }
    [[noreturn]] void RaiseReplyFailure() override { throw EIdException(Code); }
};

TPayloadServer& Replies()
{
    static TPayloadServer server(MakeReplies());
    return server;
}

TPayloadServer& Block()
{
    static TPayloadServer server(MakeBlock());
    return server;
}

void Report(benchmark::State& state, const TPayloadServer& server)
{
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * server.Lines()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * server.Bytes()));
}

// The ceiling: receive in 32 KB chunks and count LF bytes, nothing else.
void CountLines(benchmark::State& state, TPayloadServer& server)
{
    std::string buf(32768, '\0');
    for (auto _ : state)
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(server.Port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        std::size_t lines = 0;
        ssize_t n;
        while ((n = ::recv(fd, buf.data(), buf.size(), 0)) > 0)
        {
            const char* p = buf.data();
            const char* end = p + n;
            while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))))
            {
                ++lines;
                ++p;
            }
        }
        ::close(fd);
        if (lines != server.Lines())
            state.SkipWithError("short read");
        benchmark::DoNotOptimize(lines);
    }
    Report(state, server);
}

void BM_RecvCountLF_ReplyLines(benchmark::State& state)
{
    CountLines(state, Replies());
}

void BM_RecvCountLF_Block10MB(benchmark::State& state)
{
    CountLines(state, Block());
}

// Reads each connection's whole payload with `read`, the way a mail client
// would: a fresh connection per iteration.
template <typename Read>
void ReadConnections(benchmark::State& state, TPayloadServer& server, Read read)
{
    TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    for (auto _ : state)
    {
        client.Connect();
        read(client);
        client.Disconnect(false);
    }
    Report(state, server);
}

void BM_ReadReply_ReplyLines(benchmark::State& state)
{
    ReadConnections(state, Replies(), [](TIdTCPClientCustom& client) {
        for (int i = 0; i < ReplyLines; ++i)
            client.ReadReply("+OK");
        benchmark::DoNotOptimize(client.LastReply().Text);
    });
}

void BM_ReadLine_ReplyLines(benchmark::State& state)
{
    ReadConnections(state, Replies(), [](TIdTCPClientCustom& client) {
        TIdIOHandler* io = client.IOHandler();
        std::size_t bytes = 0;
        for (int i = 0; i < ReplyLines; ++i)
            bytes += io->ReadLine().size();
        benchmark::DoNotOptimize(bytes);
    });
}

void BM_ReadDotTerminated_Block10MB(benchmark::State& state)
{
    TPayloadServer& server = Block();
    ReadConnections(state, server, [&](TIdTCPClientCustom& client) {
        TIdStrings lines;
        client.IOHandler()->ReadDotTerminated(lines);
        if (lines.size() + 1 != server.Lines())
            state.SkipWithError("wrong line count");
        benchmark::DoNotOptimize(lines);
    });
}

} // namespace

BENCHMARK(BM_RecvCountLF_ReplyLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadLine_ReplyLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadReply_ReplyLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RecvCountLF_Block10MB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadDotTerminated_Block10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();

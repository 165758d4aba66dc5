// What a bounded connect costs: connect and close to a loopback listener
// with no limit of our own (ConnectTimeout 0, on the caller's thread) and
// with the program's 10 s limit. Reports connections per second.
#include "mail/IdReply.h"
#include "mail/IdTCPConnection.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// A listener whose connections the benchmark accepts itself, on its own
// thread: an acceptor that falls behind on a busy machine fills the listen
// queue, and a dropped handshake costs a second.
class TListener
{
public:
    TListener()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(FListen, 64) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no listener");
        FPort = ntohs(a.sin_port);
    }
    ~TListener() { ::close(FListen); }
    int Port() const { return FPort; }

    // Takes the connection just made and resets it, so that thousands of
    // them leave no TIME_WAIT behind to slow down the choice of ports.
    void AcceptAndReset()
    {
        int c = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            throw std::runtime_error("accept failed");
        linger reset{1, 0};
        ::setsockopt(c, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(c);
    }

private:
    int FListen = -1;
    int FPort = 0;
};

class TAnyReply : public TIdReply
{
public:
    bool EndsReply(const std::string&) const override { return true; }
    void SetFormattedReply(const TIdStrings&) override { Clear(); }
    [[noreturn]] void RaiseReplyFailure() override { throw std::runtime_error("reply"); }
};

// Range: the connect limit in milliseconds (0: none of our own).
void BM_Connect(benchmark::State& state)
{
    static TListener listener;
    TIdTCPClientCustom client(std::make_unique<TAnyReply>());
    client.Host = "127.0.0.1";
    client.Port = listener.Port();
    client.ConnectTimeout = static_cast<int>(state.range(0));
    for (auto _ : state)
    {
        client.Connect();
        listener.AcceptAndReset();
        client.Disconnect(false);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Connect)->Arg(0)->Arg(10000)->Iterations(3000)->Repetitions(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();

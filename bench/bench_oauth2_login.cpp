// A first check of an OAuth2 account beside the same check with a password,
// POP3 and IMAP4, at a private Dovecot that checks each token at the test
// authorization server (tests/support/oauth) by introspection.
//
//   Pop3Password / Pop3OAuth2 / Imap4Password / Imap4OAuth2
//       one first check of the mailbox per iteration, timed; the OAuth2
//       one's time includes the server's introspection request
//
// Counters, of one check made untimed through a loopback relay:
//   round_trips    the turns from the server's answer to the client's next
//                  words (goal: OAuth2 no more than the password login)
//   token_asks     tokens the session asked its source for (goal: 1)
//   fresh_asks     of them, asked fresh after a refusal (goal: 0 while the
//                  token is valid)
//
// Run:  build/bench/bench_oauth2_login   (needs dovecot and Node.js with the
// authorization server's packages; under scripts/offline.sh like the tests)
#include "check/AccessTokens.h"
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

#include "CheckTiming.h"
#include "TurnCounter.h"
#include "support/oauth/AuthServer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace
{

// Mailbox size: the login's share shows in a small one.
constexpr int Messages = 100;

// The bench's token source: one token minted for the user and kept while it
// is accepted, as a token store keeps a valid one.
class TKeptToken : public IAccessTokens
{
public:
    explicit TKeptToken(AuthServer& server) : FServer(server) {}

    std::string AccessToken(const Account& account, bool refused) override
    {
        std::lock_guard<std::mutex> hold(FLock);
        ++Asks;
        Fresh += refused;
        if (FToken.empty() || refused)
        {
            // The server answers in chunks: the token is read from the body.
            const std::string body = FServer.Request("/test/mint", "account=" + account.UserName).Body;
            const std::string key = "\"access_token\":\"";
            const std::size_t at = body.find(key);
            if (at == std::string::npos)
                throw ETokenUnavailable("no token minted");
            FToken = body.substr(at + key.size(), body.find('"', at + key.size()) - at - key.size());
        }
        return FToken;
    }

    int Asks = 0;
    int Fresh = 0;

private:
    AuthServer& FServer;
    std::mutex FLock;
    std::string FToken;
};

// Raises, before either server starts, why one cannot run here.
struct TRunnable
{
    TRunnable()
    {
        for (const std::string& why : {AuthServer::Unavailable(), Dovecot::Unavailable()})
            if (!why.empty())
                throw std::runtime_error(why);
    }
};

struct TServers
{
    TRunnable Runnable;
    AuthServer Auth;
    Dovecot Mail;
    std::shared_ptr<TKeptToken> Tokens;

    TServers() : Tokens(std::make_shared<TKeptToken>(Auth))
    {
        Mail.EnableOAuth2("http://dovecot:dovecot-secret@" + Auth.IntrospectionEndpoint().substr(7));
        Mail.AddUser(User, Password);
        Mail.KeepProcesses();
        Mail.Start();
        for (int n = 1; n <= Messages; ++n)
            Mail.Deliver(User, SampleMessage(n));
    }
};

std::unique_ptr<TServers>& ServersSlot()
{
    static std::unique_ptr<TServers> servers;
    return servers;
}

TServers& Servers()
{
    std::unique_ptr<TServers>& slot = ServersSlot();
    if (!slot)
        slot = std::make_unique<TServers>();
    return *slot;
}

// One first check of the account at `port`, through the program's session
// set-up (the token source in the limits).
int Check(bool imap4, bool oauth2, uint16_t port)
{
    TServers& servers = Servers();
    Account account = BenchAccount(servers.Mail, port);
    account.IMAP4 = imap4;
    if (oauth2)
    {
        account.Authentication = aaOAuth2;
        account.Password.clear();
    }
    TSessionLimits limits;
    limits.Tokens = servers.Tokens;
    TIdPOP3 pop;
    TIdIMAP4 imap;
    TPop3CheckClient pop3Check(pop, limits);
    TImap4CheckClient imap4Check(imap, limits);
    TCheckClient& client = imap4 ? static_cast<TCheckClient&>(imap4Check) : pop3Check;
    client.SetAccount(account, port);
    return RunCheck(client);
}

template <bool Imap4, bool OAuth2>
void BM_Login(benchmark::State& state)
{
    TServers& servers = Servers();
    const uint16_t port = Imap4 ? servers.Mail.ImapPort() : servers.Mail.Pop3Port();
    // The server's first session indexes the mailbox: not measured.
    Check(Imap4, OAuth2, port);
    TimeChecks(state, [&](TServers&) { return Check(Imap4, OAuth2, port); }, servers, Messages);

    TTurnCounter relay(port);
    const int asks = servers.Tokens->Asks;
    const int fresh = servers.Tokens->Fresh;
    if (Check(Imap4, OAuth2, relay.Port()) != Messages)
        throw std::runtime_error("a check through the relay missed messages");
    for (int i = 0; i < 200 && relay.Turns() < 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state.counters["round_trips"] = relay.Turns();
    state.counters["token_asks"] = servers.Tokens->Asks - asks;
    state.counters["fresh_asks"] = servers.Tokens->Fresh - fresh;
}

} // namespace

BENCHMARK(BM_Login<false, false>)->Name("Pop3Password")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Login<false, true>)->Name("Pop3OAuth2")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Login<true, false>)->Name("Imap4Password")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Login<true, true>)->Name("Imap4OAuth2")->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return RunCheckBenchmarks(argc, argv, "bench_oauth2_login", [] { ServersSlot().reset(); });
}

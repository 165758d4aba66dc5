// The checks of a JMAP account with 1,000 unseen messages in its inbox
// against a private Cyrus IMAP, as the check cycle runs them
// (MakeCheckClient, CheckSession):
//
//   JmapFirstCheck   a first check with nothing remembered: the session
//                    resource (the well-known address, its redirect, the
//                    resource), Mailbox/get, then one request with the
//                    unseen messages' query and their properties
//   BareFirstCheck   the same HTTP requests, byte for byte as ours sent
//                    them (recorded once through a relay), each on a fresh
//                    loopback connection with its answer read to its end
//                    and nothing parsed: the server's and the loopback's
//                    share of the check
//   Imap4FirstCheck  our IMAP4 check of the same mailbox on the same server
//   JmapRepeatCheck  a check with the states remembered and nothing new:
//                    one request (Email/changes and Mailbox/changes); every
//                    run must make exactly one
//   Interleaved/first   ours, the bare requests and IMAP4 once per round in
//                    rotating order: the medians of the per-round ratios
//                    jmap/bare (goal: at most 1.2) and jmap/imap4
//   Interleaved/repeat  the repeat, its bare request and a first check the
//                    same way
//
// Run:  build-<dir>/bench/bench_jmap   (needs the Cyrus tree scripts/setup.sh
//       unpacks into the build folder)
#include "check/CheckClients.h"
#include "check/JmapCheckClient.h"
#include "check/JmapMemory.h"

#include "CheckTiming.h"
// The fixture lives with the test support.
#include "support/Cyrus.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <poll.h>

namespace
{

std::unique_ptr<Cyrus>& ServerSlot()
{
    static std::unique_ptr<Cyrus> server;
    return server;
}

Account JmapAccount(const std::string& sessionUrl)
{
    Account account;
    account.JMAP = true;
    account.Host = sessionUrl;
    account.UserName = User;
    account.Password = Password;
    return account;
}

Account Imap4Account(Cyrus& server)
{
    Account account;
    account.IMAP4 = true;
    account.Security = asNone;
    account.Host = server.Host();
    account.Port = std::to_string(server.ImapPort());
    account.UserName = User;
    account.Password = Password;
    return account;
}

// The limits the program's sessions run with, and the memory of JMAP
// accounts between checks.
TSessionLimits Limits(std::shared_ptr<TJmapMemory> memory)
{
    TSessionLimits limits;
    limits.Jmap = std::move(memory);
    return limits;
}

struct TSession
{
    TAccountReport Report;
    int Requests = 0;
};

// One session as a worker of the cycle runs it; a failed one is no
// measurement.
TSession RunSession(TMailProtocol protocol, const Account& account, int port,
                    const std::shared_ptr<TJmapMemory>& memory, const std::unordered_set<std::string>& known = {})
{
    const std::unique_ptr<TCheckClient> client = MakeCheckClient(protocol, Limits(memory), nullptr);
    client->SetAccount(account, port);
    TSession session;
    session.Report = CheckSession(*client, MaxListedMessages, known);
    if (!session.Report.Error.empty())
        throw std::runtime_error("a check failed: " + session.Report.Error);
    if (const auto* jmap = dynamic_cast<const TJmapCheckClient*>(client.get()))
        session.Requests = jmap->Requests();
    return session;
}

// A first check: nothing remembered of the account.
int JmapFirstCheck(Cyrus& server)
{
    const TSession s = RunSession(mpJmap, JmapAccount(server.SessionUrl()), 0, std::make_shared<TJmapMemory>());
    return static_cast<int>(s.Report.Fetched.size());
}

int Imap4FirstCheck(Cyrus& server)
{
    const TSession s = RunSession(mpImap4, Imap4Account(server), server.ImapPort(), nullptr);
    return static_cast<int>(s.Report.Fetched.size());
}

// One MULTIAPPEND of every message: a thousand LMTP deliveries, each a
// connection and a process's turn of its own, take far longer.
void Fill(Cyrus& server)
{
    TBareSocket s(server.ImapPort());
    int tag = 0;
    const auto command = [&](const std::string& text) {
        const std::string t = "A" + std::to_string(++tag);
        s.SendLine(t + " " + text);
        std::string line;
        while ((line = s.ReadLine()).rfind(t + " ", 0) != 0)
            ;
        if (line.rfind(t + " OK", 0) != 0)
            throw std::runtime_error("filling the mailbox: " + line);
    };
    command(std::string("LOGIN ") + User + " " + Password);
    // No flags: unseen, as delivered mail is.
    std::string append = "APPEND INBOX";
    for (int n = 1; n <= MessageCount; ++n)
    {
        const std::string message = SampleMessage(n);
        append += " {" + std::to_string(message.size()) + "+}\r\n" + message;
    }
    command(append);
    command("LOGOUT");
}

// Started on first use, with the inbox filled; the first check, in which
// the server builds what it keeps of the mailbox, is not measured.
Cyrus& Server()
{
    std::unique_ptr<Cyrus>& slot = ServerSlot();
    if (!slot)
    {
        if (const std::string why = Cyrus::Unavailable(); !why.empty())
            throw std::runtime_error(why);
        slot = std::make_unique<Cyrus>();
        slot->AddUser(User, Password);
        slot->Start();
        const auto start = std::chrono::steady_clock::now();
        Fill(*slot);
        std::printf("filled the inbox with %d messages in %.1f s\n", MessageCount,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        std::fflush(stdout);
        if (JmapFirstCheck(*slot) != MessageCount || Imap4FirstCheck(*slot) != MessageCount)
            throw std::runtime_error("the mailbox does not hold the messages delivered");
    }
    return *slot;
}

// A relay on a loopback port of its own to `upstream` that keeps what the
// client sent on each connection, one connection at a time, as our HTTP
// requests come.
class TRecordingRelay
{
public:
    explicit TRecordingRelay(uint16_t upstream) : FUpstream(upstream)
    {
        FListen = ListenOnLoopback(FPort, 4);
        FThread = std::thread([this] { Serve(); });
    }
    ~TRecordingRelay()
    {
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    TRecordingRelay(const TRecordingRelay&) = delete;
    TRecordingRelay& operator=(const TRecordingRelay&) = delete;

    uint16_t Port() const { return FPort; }

    // What the client sent on each connection closed so far, and no more of
    // it kept; waits (bounded) until there are `count`.
    std::vector<std::string> Take(std::size_t count)
    {
        for (int i = 0; i < 400; ++i)
        {
            {
                std::lock_guard<std::mutex> lock(FLock);
                if (FSent.size() >= count)
                {
                    std::vector<std::string> sent;
                    sent.swap(FSent);
                    return sent;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        throw std::runtime_error("the relay did not see every request");
    }

private:
    void Serve()
    {
        for (;;)
        {
            const int client = ::accept(FListen, nullptr, nullptr);
            if (client < 0)
                return;
            std::string sent = Relay(client);
            ::close(client);
            std::lock_guard<std::mutex> lock(FLock);
            FSent.push_back(std::move(sent));
        }
    }

    std::string Relay(int client)
    {
        std::string sent;
        const int server = ConnectLoopback(FUpstream);
        if (server < 0)
            return sent;
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char chunk[65536];
        for (bool open = true; open;)
        {
            if (::poll(fds, 2, -1) < 0)
                break;
            for (int side = 0; side < 2 && open; ++side)
            {
                if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t got = ::recv(fds[side].fd, chunk, sizeof chunk, 0);
                if (got <= 0 || ::send(fds[1 - side].fd, chunk, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got)
                {
                    open = false;
                    break;
                }
                if (side == 0)
                    sent.append(chunk, static_cast<std::size_t>(got));
            }
        }
        ::close(server);
        return sent;
    }

    uint16_t FUpstream;
    int FListen = -1;
    uint16_t FPort = 0;
    std::mutex FLock;
    std::vector<std::string> FSent;
    std::thread FThread;
};

// An HTTP answer as the bare client reads it: status, the redirect's
// target and the body, framed by its length or its chunks.
struct TBareAnswer
{
    int Status = 0;
    std::string Location;
    std::string Body;
};

std::string HeaderOf(const std::string& head, const std::string& name)
{
    std::string lower = head;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos)
        return {};
    std::size_t from = at + 3 + name.size();
    while (from < head.size() && head[from] == ' ')
        ++from;
    return head.substr(from, head.find("\r\n", from) - from);
}

// One request on a fresh connection, as ours makes each.
TBareAnswer BareRequest(uint16_t port, const std::string& request)
{
    TBareSocket s(port, TBareSocket::NoGreeting);
    s.Send(request);
    std::size_t end;
    while ((end = s.Buffer.find("\r\n\r\n")) == std::string::npos)
        s.Receive();
    const std::string head = "\r\n" + s.Buffer.substr(0, end + 2);
    s.Buffer.erase(0, end + 4);
    TBareAnswer answer;
    answer.Status = std::stoi(head.substr(head.find(' ') + 1, 3));
    answer.Location = HeaderOf(head, "location");
    const std::string length = HeaderOf(head, "content-length");
    if (!length.empty())
    {
        const std::size_t count = std::stoul(length);
        while (s.Buffer.size() < count)
            s.Receive();
        answer.Body = s.Buffer.substr(0, count);
    }
    else if (HeaderOf(head, "transfer-encoding").find("chunked") != std::string::npos)
    {
        for (;;)
        {
            const std::size_t size = std::stoul(s.ReadLine(), nullptr, 16);
            if (size == 0)
                break;
            while (s.Buffer.size() < size + 2)
                s.Receive();
            answer.Body.append(s.Buffer, 0, size);
            s.Buffer.erase(0, size + 2);
        }
    }
    else
    {
        try
        {
            for (;;)
                s.Receive();
        }
        catch (const std::runtime_error&)
        {
            answer.Body = s.Buffer; // the server closed: the end of the body
        }
    }
    return answer;
}

// The request line's target.
std::string TargetOf(const std::string& request)
{
    const std::size_t from = request.find(' ') + 1;
    return request.substr(from, request.find(' ', from) - from);
}

// The path of a redirect's target, absolute or not.
std::string PathOf(const std::string& location)
{
    const std::size_t scheme = location.find("://");
    if (scheme == std::string::npos)
        return location;
    const std::size_t path = location.find('/', scheme + 3);
    return path == std::string::npos ? "/" : location.substr(path);
}

// The "total" of the first Email/query answer: the one number the bare
// client reads.
int TotalOf(const std::string& body)
{
    const std::size_t at = body.find("\"total\":");
    return at == std::string::npos ? -1 : std::stoi(body.substr(at + 8));
}

// Our requests as they went through the relay, aimed at the server itself.
struct TRecorded
{
    std::vector<std::string> First;  // the session's (redirect first), Mailbox/get, the check
    std::vector<std::string> Repeat; // the check by changes
};

std::string Unrelayed(std::string request, uint16_t relay, uint16_t server)
{
    const std::string from = "Host: 127.0.0.1:" + std::to_string(relay) + "\r\n";
    const std::size_t at = request.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("a recorded request has no Host line of the relay");
    return request.replace(at, from.size(), "Host: 127.0.0.1:" + std::to_string(server) + "\r\n");
}

// A first check and a repeat through the relay, with a memory of their own;
// each request is checked to have gone through it.
const TRecorded& Recorded(Cyrus& server)
{
    static std::unique_ptr<TRecorded> recorded;
    if (recorded)
        return *recorded;
    TRecordingRelay relay(server.HttpPort());
    const std::string url = "http://127.0.0.1:" + std::to_string(relay.Port()) + "/.well-known/jmap";
    const auto memory = std::make_shared<TJmapMemory>();
    const TSession first = RunSession(mpJmap, JmapAccount(url), 0, memory);
    std::vector<std::string> firstSent = relay.Take(static_cast<std::size_t>(first.Requests));
    const TSession repeat =
        RunSession(mpJmap, JmapAccount(url), 0, memory, {first.Report.Ids.begin(), first.Report.Ids.end()});
    std::vector<std::string> repeatSent = relay.Take(static_cast<std::size_t>(repeat.Requests));
    if (firstSent.size() != static_cast<std::size_t>(first.Requests) || firstSent.size() < 3 ||
        repeatSent.size() != 1 || repeat.Requests != 1)
        throw std::runtime_error("the recorded requests are not those of a first check and a repeat");
    recorded = std::make_unique<TRecorded>();
    for (std::string& r : firstSent)
        recorded->First.push_back(Unrelayed(std::move(r), relay.Port(), server.HttpPort()));
    recorded->Repeat.push_back(Unrelayed(std::move(repeatSent[0]), relay.Port(), server.HttpPort()));
    std::string line = "  jmap_first: " + std::to_string(first.Requests) + " HTTP requests:";
    for (const std::string& r : recorded->First)
        line += " " + r.substr(0, r.find(' ')) + " " + TargetOf(r) + " (" + std::to_string(r.size()) + " bytes);";
    RatioSummaries().push_back(line);
    return *recorded;
}

// The recorded first check over bare connections: the session's address,
// its redirect followed to the resource, then the API requests; the count
// is the query's total.
int BareFirstCheck(Cyrus& server)
{
    const std::vector<std::string>& sent = Recorded(server).First;
    std::size_t next = 0;
    TBareAnswer answer = BareRequest(server.HttpPort(), sent[next++]);
    for (; answer.Status / 100 == 3 && next < sent.size(); ++next)
    {
        // Ours went where the server sent it; so does this, by its path.
        if (PathOf(answer.Location) != TargetOf(sent[next]))
            throw std::runtime_error("the redirect goes elsewhere than the recorded request did");
        answer = BareRequest(server.HttpPort(), sent[next]);
    }
    if (answer.Status != 200)
        throw std::runtime_error("the bare session request failed");
    for (; next < sent.size(); ++next)
        if ((answer = BareRequest(server.HttpPort(), sent[next])).Status != 200)
            throw std::runtime_error("a bare API request failed");
    return TotalOf(answer.Body);
}

int BareRepeatCheck(Cyrus& server)
{
    const TBareAnswer answer = BareRequest(server.HttpPort(), Recorded(server).Repeat[0]);
    if (answer.Status != 200 || answer.Body.find("\"created\":[]") == std::string::npos)
        throw std::runtime_error("the bare repeat request failed or found changes");
    return MessageCount;
}

// The repeat's memory, primed by one first check, and the ids its rows list.
struct TPrimed
{
    std::shared_ptr<TJmapMemory> Memory;
    std::unordered_set<std::string> Known;
    int Repeats = 0;           // since the memory was primed
    std::vector<int> Requests; // of each repeat
};

TPrimed& Primed()
{
    static TPrimed primed;
    return primed;
}

// Untimed, before each repeat: every 20th check of an account is a full
// one, so the memory is primed afresh well before that.
void PrepareRepeat(Cyrus& server)
{
    TPrimed& primed = Primed();
    if (primed.Memory && primed.Repeats < 15)
        return;
    primed.Memory = std::make_shared<TJmapMemory>();
    primed.Repeats = 0;
    const TSession first = RunSession(mpJmap, JmapAccount(server.SessionUrl()), 0, primed.Memory);
    primed.Known = {first.Report.Ids.begin(), first.Report.Ids.end()};
}

// A check with nothing new; it must take one request.
int JmapRepeatCheck(Cyrus& server)
{
    TPrimed& primed = Primed();
    const TSession s = RunSession(mpJmap, JmapAccount(server.SessionUrl()), 0, primed.Memory, primed.Known);
    ++primed.Repeats;
    primed.Requests.push_back(s.Requests);
    if (s.Requests != 1 || !s.Report.Fetched.empty())
        throw std::runtime_error("a repeat with nothing new took " + std::to_string(s.Requests) +
                                 " requests and fetched " + std::to_string(s.Report.Fetched.size()));
    return static_cast<int>(s.Report.Ids.size());
}

double TimedRepeat(Cyrus& server)
{
    PrepareRepeat(server);
    return TimedCheck(JmapRepeatCheck, server, MessageCount);
}

void BM_JmapFirstCheck(benchmark::State& state)
{
    TimeChecks(state, JmapFirstCheck, Server(), MessageCount);
}

void BM_BareFirstCheck(benchmark::State& state)
{
    Cyrus& server = Server();
    Recorded(server);
    TimeChecks(state, BareFirstCheck, server, MessageCount);
}

void BM_Imap4FirstCheck(benchmark::State& state)
{
    TimeChecks(state, Imap4FirstCheck, Server(), MessageCount);
}

void BM_JmapRepeatCheck(benchmark::State& state)
{
    Cyrus& server = Server();
    for (auto _ : state)
        state.SetIterationTime(TimedRepeat(server));
    const std::vector<int>& requests = Primed().Requests;
    state.counters["requests_max"] = *std::max_element(requests.begin(), requests.end());
    state.counters["messages"] = MessageCount;
}

void BM_InterleavedFirst(benchmark::State& state)
{
    Cyrus& server = Server();
    Recorded(server);
    static int (*const checks[3])(Cyrus&) = {JmapFirstCheck, BareFirstCheck, Imap4FirstCheck};
    const char* const names[3] = {"jmap_first", "bare_http", "imap4_first"};
    TimeRotatedRounds(
        state, [&](int k) { return TimedCheck(checks[k], server, MessageCount); }, names, 1.2, 0);
}

void BM_InterleavedRepeat(benchmark::State& state)
{
    Cyrus& server = Server();
    Recorded(server);
    const char* const names[3] = {"jmap_repeat", "bare_repeat", "jmap_first"};
    TimeRotatedRounds(
        state,
        [&](int k) {
            switch (k)
            {
            case 0:
                return TimedRepeat(server);
            case 1:
                return TimedCheck(BareRepeatCheck, server, MessageCount);
            default:
                return TimedCheck(JmapFirstCheck, server, MessageCount);
            }
        },
        names, 0, 0);
    const std::vector<int>& requests = Primed().Requests;
    char line[160];
    std::snprintf(line, sizeof line, "  jmap_repeat: %zu repeats in all, at most %d HTTP request(s) each (goal: 1)",
                  requests.size(), *std::max_element(requests.begin(), requests.end()));
    RatioSummaries().push_back(line);
}

} // namespace

BENCHMARK(BM_JmapFirstCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareFirstCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Imap4FirstCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JmapRepeatCheck)->UseManualTime()->Iterations(Repetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterleavedFirst)->Name("Interleaved/first")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterleavedRepeat)->Name("Interleaved/repeat")->UseManualTime()->Iterations(Rounds)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Stops the server and removes its folder.
    return RunCheckBenchmarks(argc, argv, "bench_jmap", [] { ServerSlot().reset(); });
}

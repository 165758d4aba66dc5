// How soon pushed mail of a JMAP account is told: a message delivered to a
// private Cyrus IMAP, behind the tests' push relay, while ternbell listens
// on the account's event source, until the program's execute command is
// asked for it (through the real TMailCheck, its push session, the check it
// starts and the telling), beside a bare event-source client of the same
// relay: one socket holding the stream open, read until the state event.
// The relay looks at the server's states every 0.2 s, so both wait for that
// alike; what differs is ours. Deliveries one at a time, the bare client's
// first (to a user of its own), then the program's; medians and the worst
// are printed, and the goal: the program at most 100 ms more. After them,
// the share of the check the news starts: a check of a third user's
// account through the relay, a moment after each delivery, timed alone.
//
// Run:  build/bench/bench_jmap_push [deliveries]   (needs the Cyrus tree
//       scripts/setup.sh unpacks into the build folder)
#include "app/MailCheck.h"
#include "app/PushSessions.h"
#include "app/TrayParts.h"
#include "check/Account.h"
#include "check/CheckCycle.h"
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "check/Imap4PushClient.h"
#include "check/JmapMemory.h"
#include "check/JmapPushClient.h"
#include "check/PushSession.h"
#include "config/Config.h"
#include "notify/NewMailForm.h"
#include "support/Cyrus.h"
#include "support/JmapPushRelay.h"

#include "EventTiming.h"
#include "PrivateDesktop.h"

#include <QApplication>
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

using bench::Median;
using bench::MsSince;
using bench::TClock;
using bench::Until;

const char* const Password = "secret";

// Each user's messages tell whose they are, so a look at an inbox shows
// mail that went astray.
std::string Mail(const std::string& user, int n)
{
    return "From: bench@example.org\r\nTo: " + user + "@example.org\r\nMessage-ID: <" + user + "." +
           std::to_string(n) + "@bench.example.org>\r\nSubject: for " + user + " " + std::to_string(n) +
           "\r\n\r\nbody\r\n";
}

// A plain HTTP/1.1 client on one loopback connection, as little as a client
// of the event source needs.
class TBareHttp
{
public:
    explicit TBareHttp(uint16_t port)
    {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (FFd < 0 || ::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("the bare client cannot connect");
    }
    ~TBareHttp() { ::close(FFd); }
    TBareHttp(const TBareHttp&) = delete;
    TBareHttp& operator=(const TBareHttp&) = delete;

    // Sends a GET and reads the head; the status.
    int Get(const std::string& target, const std::string& user, const std::string& accept)
    {
        const std::string credentials = QByteArray::fromStdString(user + ":" + Password).toBase64().toStdString();
        const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic " +
                                    credentials + "\r\nAccept: " + accept + "\r\n\r\n";
        if (::send(FFd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
            throw std::runtime_error("the bare client cannot send");
        std::size_t end;
        while ((end = Buffer.find("\r\n\r\n")) == std::string::npos)
            if (!Receive(10000))
                throw std::runtime_error("the relay did not answer the bare client");
        const int status = std::atoi(Buffer.substr(9, 3).c_str());
        Buffer.erase(0, end + 4);
        return status;
    }

    // The rest of a body the server ends by closing.
    std::string ReadToEnd()
    {
        while (Receive(10000))
            ;
        return Buffer;
    }

    // Reads until an event named "state" has come whole; false after
    // `limitMs` without one.
    bool WaitForState(int limitMs)
    {
        const TClock::time_point start = TClock::now();
        for (;;)
        {
            const std::size_t at = Buffer.find("event: state\n");
            if (at != std::string::npos)
            {
                const std::size_t end = Buffer.find("\n\n", at);
                if (end != std::string::npos)
                {
                    Buffer.erase(0, end + 2);
                    return true;
                }
            }
            const int left = limitMs - static_cast<int>(MsSince(start));
            if (left <= 0 || !Receive(left))
                return false;
        }
    }

    // Drops whatever arrives until `quietMs` pass with nothing.
    void Drain(int quietMs)
    {
        while (Receive(quietMs))
            ;
        Buffer.clear();
    }

    std::string Buffer;

private:
    // False when nothing came within `limitMs`, or the server closed.
    bool Receive(int limitMs)
    {
        pollfd fd{FFd, POLLIN, 0};
        if (::poll(&fd, 1, limitMs) <= 0)
            return false;
        char chunk[16384];
        const ssize_t got = ::recv(FFd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        Buffer.append(chunk, static_cast<std::size_t>(got));
        return true;
    }

    int FFd = -1;
};

// The messages in the user's inbox, as EXAMINE counts them.
int Held(Cyrus& server, const std::string& user)
{
    const std::string answer = server.Imap(user, {"EXAMINE INBOX"});
    const std::size_t exists = answer.find(" EXISTS");
    const std::size_t from = answer.rfind("* ", exists);
    return exists == std::string::npos || from == std::string::npos ? -1 : std::atoi(answer.c_str() + from + 2);
}

// When the program's push session heard news and when the look it takes
// after it came back: where the time between the delivery and the command
// goes.
struct TPushMarks
{
    std::mutex Lock;
    std::vector<TClock::time_point> Heard;
    std::vector<TClock::time_point> Looked;
};

// The program's push client with its news and looks marked; all else as it
// is.
class TMarkedPush : public TPushClient
{
public:
    TMarkedPush(std::unique_ptr<TPushClient> client, std::shared_ptr<TPushMarks> marks)
        : FClient(std::move(client)), FMarks(std::move(marks))
    {
    }
    TOpened Open() override { return FClient->Open(); }
    void Start() override { FClient->Start(); }
    bool Wait(int milliseconds, int anyLineAfter) override
    {
        const bool news = FClient->Wait(milliseconds, anyLineAfter);
        if (news)
            Mark(FMarks->Heard);
        return news;
    }
    bool Renew() override
    {
        const bool news = FClient->Renew();
        Mark(FMarks->Looked);
        return news;
    }
    bool HearsEveryFolder() const override { return FClient->HearsEveryFolder(); }
    void Close() noexcept override { FClient->Close(); }

private:
    void Mark(std::vector<TClock::time_point>& marks)
    {
        const TClock::time_point now = TClock::now();
        std::lock_guard<std::mutex> lock(FMarks->Lock);
        marks.push_back(now);
    }

    std::unique_ptr<TPushClient> FClient;
    std::shared_ptr<TPushMarks> FMarks;
};

// The first mark at or after `start`, in ms from it; -1 when none.
double MarkAfter(TPushMarks& marks, const std::vector<TClock::time_point>& which, TClock::time_point start)
{
    std::lock_guard<std::mutex> lock(marks.Lock);
    for (const TClock::time_point at : which)
        if (at >= start)
            return std::chrono::duration<double, std::milli>(at - start).count();
    return -1;
}

// The event source's target on the relay, as the session resource names it.
std::string EventSourceTarget(uint16_t relayPort, const std::string& user)
{
    TBareHttp http(relayPort);
    if (http.Get("/jmap", user, "application/json") != 200)
        throw std::runtime_error("the bare client got no session");
    const QJsonObject session = QJsonDocument::fromJson(QByteArray::fromStdString(http.ReadToEnd())).object();
    std::string url = JmapEventSourceUrl(session.value("eventSourceUrl").toString().toStdString(), JmapPingSeconds);
    if (const std::size_t scheme = url.find("://"); scheme != std::string::npos)
        url = url.substr(url.find('/', scheme + 3));
    if (url.empty() || url[0] != '/')
        throw std::runtime_error("the session names no event source");
    return url;
}

// The check that pushed news starts, alone: a delivery, a moment for the
// server, then one check with the states and messages of the last
// remembered, as the program's would be.
std::vector<double> CheckShare(Cyrus& server, const std::string& sessionUrl, int deliveries)
{
    Account account;
    account.JMAP = true;
    account.Host = sessionUrl;
    account.UserName = "checked";
    account.Password = Password;
    TSessionLimits limits;
    limits.Jmap = std::make_shared<TJmapMemory>();
    const auto check = [&](const std::unordered_set<std::string>& known) {
        const std::unique_ptr<TCheckClient> client = MakeCheckClient(mpJmap, limits, nullptr);
        client->SetAccount(account, 0);
        const TAccountReport report = CheckSession(*client, MaxListedMessages, known);
        if (!report.Error.empty())
            throw std::runtime_error("a check failed: " + report.Error);
        return report;
    };
    std::unordered_set<std::string> known;
    for (const std::string& id : check(known).Ids)
        known.insert(id);
    std::vector<double> times;
    for (int n = 1; n <= deliveries; ++n)
    {
        server.Deliver("checked", Mail("checked", n));
        QThread::msleep(300);
        const TClock::time_point start = TClock::now();
        const TAccountReport report = check(known);
        times.push_back(MsSince(start));
        if (report.Fetched.size() != 1)
            throw std::runtime_error("the check did not find the one new message");
        for (const std::string& id : report.Ids)
            known.insert(id);
    }
    return times;
}

int Run(int deliveries)
{
    if (const std::string why = Cyrus::Unavailable(); !why.empty())
        throw std::runtime_error(why);
    Cyrus server;
    server.AddUser("pushed", Password);
    server.AddUser("bare", Password);
    server.AddUser("checked", Password);
    server.Start();
    JmapPushRelay relay(server.HttpPort());

    Account account;
    account.Caption = "Pushed";
    account.JMAP = true;
    account.Push = true;
    account.Host = relay.SessionUrl();
    account.UserName = "pushed";
    account.Password = Password;

    // The program's limits: one memory of JMAP states for checks and pushes.
    TSessionLimits limits;
    limits.Jmap = std::make_shared<TJmapMemory>();
    TTrayParts tray;
    TfrmNewMail newMail;
    TConfig config;
    config.Accounts = {account};
    config.Execute = "true %s";
    config.ShowForm = false;
    const auto marks = std::make_shared<TPushMarks>();
    TPushSessions push([limits, marks](const Account& a, std::shared_ptr<TIdLineAbort> abort) {
        return std::make_unique<TMarkedPush>(MakePushClient(a, limits, std::move(abort)), marks);
    });
    TMailCheck check(tray, newMail, config, [limits](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
        return MakeCheckClient(protocol, limits, std::move(abort));
    });
    int told = 0;
    check.RunCommand = [&told](const std::vector<std::string>&) { ++told; };
    check.UsePush(&push, [] { return true; });

    check.CheckAccounts();
    if (!Until([&] { return !check.Busy() && push.Healthy(account); }, 20000))
        throw std::runtime_error("the account's event source never opened");

    // The bare client's stream, held open for every delivery as ours is.
    TBareHttp bareStream(relay.Port());
    if (bareStream.Get(EventSourceTarget(relay.Port(), "bare"), "bare", "text/event-stream") != 200)
        throw std::runtime_error("the bare client got no event stream");
    // The relay takes the states it compares with after the head.
    bareStream.Drain(1000);

    // Each delivery at a random point of the relay's 200 ms between looks:
    // at a steady pace the deliveries would fall at one phase of them, and
    // each side's median with it.
    std::mt19937 random(48);
    std::uniform_int_distribution<int> phase(0, 199);
    const auto pause = [&] { Until([] { return false; }, phase(random)); };
    std::vector<double> program, bare, delivered, heard, looked;
    for (int n = 1; n <= deliveries; ++n)
    {
        pause();
        TClock::time_point start = TClock::now();
        server.Deliver("bare", Mail("bare", n));
        delivered.push_back(MsSince(start));
        if (!bareStream.WaitForState(10000))
            throw std::runtime_error("the bare client heard nothing of delivery " + std::to_string(n));
        bare.push_back(MsSince(start));
        // A second change of the same delivery, seen a poll later, is not
        // the next one's.
        bareStream.Drain(500);

        const int before = told;
        pause();
        start = TClock::now();
        server.Deliver("pushed", Mail("pushed", n));
        if (!Until([&] { return told > before; }, 20000))
            throw std::runtime_error("delivery " + std::to_string(n) + " was never told");
        program.push_back(MsSince(start));
        heard.push_back(MarkAfter(*marks, marks->Heard, start));
        looked.push_back(MarkAfter(*marks, marks->Looked, start));
        // The next delivery finds the session listening again.
        Until([&] { return !check.Busy(); }, 20000);
        Until([] { return false; }, 500);
    }
    // Heard the other side's mail is no measurement.
    for (const char* user : {"pushed", "bare"})
        if (const int held = Held(server, user); held != deliveries)
            throw std::runtime_error(std::string("the inbox of ") + user + " holds " + std::to_string(held) +
                                     " messages, not its " + std::to_string(deliveries) + " deliveries");
    const double difference = Median(program) - Median(bare);
    std::printf("%d deliveries to Cyrus behind the push relay (states polled every 200 ms), one at a time\n",
                deliveries);
    std::printf("  bare event-source client  median %7.1f ms   best %7.1f ms   worst %7.1f ms\n", Median(bare),
                *std::min_element(bare.begin(), bare.end()), *std::max_element(bare.begin(), bare.end()));
    std::printf("  delivery to command       median %7.1f ms   best %7.1f ms   worst %7.1f ms\n", Median(program),
                *std::min_element(program.begin(), program.end()),
                *std::max_element(program.begin(), program.end()));
    std::printf("  goal: the program at most 100 ms more than the bare client: %.1f ms more, %s\n", difference,
                difference <= 100 ? "met" : "NOT met");
    std::vector<double> heardToLooked, lookedToTold;
    for (std::size_t i = 0; i < program.size(); ++i)
        if (heard[i] >= 0 && looked[i] >= heard[i] && looked[i] <= program[i])
        {
            heardToLooked.push_back(looked[i] - heard[i]);
            lookedToTold.push_back(program[i] - looked[i]);
        }
    std::printf("  of the program's: heard on its stream median %7.1f ms after the delivery; then its look "
                "(one request) %5.1f ms; then the check and the telling %5.1f ms (medians of the %zu "
                "deliveries heard in that order)\n",
                Median(heard), Median(heardToLooked), Median(lookedToTold), heardToLooked.size());
    const std::vector<double> checks = CheckShare(server, relay.SessionUrl(), deliveries);
    std::printf("  the check it starts       median %7.1f ms   best %7.1f ms   worst %7.1f ms   "
                "(one new message, through the relay)\n",
                Median(checks), *std::min_element(checks.begin(), checks.end()),
                *std::max_element(checks.begin(), checks.end()));
    if (std::getenv("TERNBELL_BENCH_ALL"))
        for (std::size_t i = 0; i < program.size(); ++i)
            std::printf("    %2zu: bare %7.1f ms (its delivery %5.1f ms)   program %7.1f ms (heard %7.1f, "
                        "looked %7.1f)\n",
                        i + 1, bare[i], delivered[i], program[i], heard[i], looked[i]);
    check.Abort();
    check.Join(2000);
    push.CloseAll();
    push.Join(2000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return RunOnPrivateDesktop(argc, argv, "bench_jmap_push", "deliveries", Run);
}

// How long the user-interface thread goes without turning its event loop
// during a round of three accounts, and what the round costs against each
// account's session alone. The real TMailCheck runs the round: its worker
// threads, the real check clients and the notification window (offscreen
// unless QT_QPA_PLATFORM says otherwise).
//
//   pop3     1,000 messages on a private Dovecot, by POP3
//   imap4    1,000 messages on the same Dovecot, by IMAP4 (another user)
//   silent   a server that greets and then says nothing, given a short read
//            limit so a round does not wait the program's 30 s
//
// Each set of rounds runs the three together and each one alone, in rotating
// order. Two phases: "first", with the list emptied (untimed) before every
// round, so every row is fetched and applied again, and "repeat", with every
// message already listed.
//
// Per round it records:
//   stall   the largest gap between two ticks of a 1 ms timer on the
//           user-interface thread, from the round's start until 100 ms after
//           OnIdle (layout and painting left behind by the last result count),
//           with the processor time the thread used within that gap: far
//           less than the gap means it waited for a processor, not on us
//   busy    the most processor time the thread used within any one gap
//   wall    from the round's start to OnIdle
//   event   the longest single event delivered on that thread, and to whom
//
// A plain program printing tables rather than a Google Benchmark: each round
// yields several numbers at once, and the rounds alone and together have to
// interleave for their ratio to mean anything.
//
// Run:  build/bench/bench_ui_stall [sets]   (needs dovecot; 7 sets of four rounds
//       per phase unless given)
#include "app/MailCheck.h"
#include "app/TrayParts.h"
#include "check/Account.h"
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "check/CheckCycle.h"
#include "check/MessageList.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/DecoderModule.h"
#include "desktop/Dialogs.h"
#include "notify/NewMailForm.h"

#include "CheckTiming.h"

#include "PrivateDesktop.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cxxabi.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <poll.h>

namespace
{

using TClock = std::chrono::steady_clock;

double MsBetween(TClock::time_point from, TClock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Milliseconds of processor time the calling thread has used: a gap in
// which it used little was spent waiting for a processor, not working.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// One frame of a 60 Hz screen.
constexpr double StallGoalMs = 16;
constexpr double RatioGoal = 1.10;
// The silent server's read limit: long enough to dominate the round, as a
// silent server does, short enough for a run of a few minutes.
constexpr int SilentReadLimitMs = 2500;
// How long after OnIdle the probe keeps watching.
constexpr int AfterIdleMs = 100;
constexpr int RoundLimitMs = 60000;

// A loopback server that accepts, greets as a POP3 server and then says
// nothing, on every connection; it closes a connection when the client does.
class TSilentServer
{
public:
    TSilentServer()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        if (FListen < 0 || ::pipe2(FWake, O_CLOEXEC) != 0 ||
            ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(FListen, 8) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            throw std::runtime_error("the silent server cannot listen");
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TSilentServer()
    {
        const char stop = 0;
        if (::write(FWake[1], &stop, 1) != 1)
            std::fprintf(stderr, "the silent server did not hear the stop\n");
        FThread.join();
        ::close(FListen);
        ::close(FWake[0]);
        ::close(FWake[1]);
    }
    TSilentServer(const TSilentServer&) = delete;
    TSilentServer& operator=(const TSilentServer&) = delete;

    uint16_t Port() const { return FPort; }
    int Greeted() const { return FGreeted.load(); }

private:
    void Serve()
    {
        std::vector<int> open;
        for (;;)
        {
            std::vector<pollfd> fds{{FWake[0], POLLIN, 0}, {FListen, POLLIN, 0}};
            for (int fd : open)
                fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), -1) < 0)
                break;
            if (fds[0].revents)
                break;
            if (fds[1].revents & POLLIN)
            {
                const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
                static const char greeting[] = "+OK ready\r\n";
                if (client >= 0)
                {
                    if (::send(client, greeting, sizeof greeting - 1, MSG_NOSIGNAL) > 0)
                        ++FGreeted;
                    open.push_back(client);
                }
            }
            // What the client says is read and ignored; its close ends ours.
            for (std::size_t i = 2; i < fds.size(); ++i)
            {
                if (!fds[i].revents)
                    continue;
                char chunk[1024];
                if (::recv(fds[i].fd, chunk, sizeof chunk, 0) <= 0)
                {
                    ::close(fds[i].fd);
                    open.erase(std::find(open.begin(), open.end(), fds[i].fd));
                }
            }
        }
        for (int fd : open)
            ::close(fd);
    }

    int FListen = -1;
    int FWake[2] = {-1, -1};
    uint16_t FPort = 0;
    std::atomic<int> FGreeted{0};
    std::thread FThread;
};

std::string TypeName(const std::type_info& type)
{
    int status = 0;
    char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string text = status == 0 && name ? name : type.name();
    std::free(name);
    return text;
}

// Times every event the user-interface thread delivers from its event loop
// (not the ones sent from inside another's handler) and keeps the longest.
class TTimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (FDepth > 0 || !Watching)
        {
            ++FDepth;
            const bool result = QApplication::notify(receiver, event);
            --FDepth;
            return result;
        }
        // Only what is cheap to note before the delivery: the receiver may be
        // gone after it, and naming it costs more than most events.
        const QEvent::Type type = event->type();
        const std::type_info& whom = typeid(*receiver);
        ++FDepth;
        const auto start = TClock::now();
        const bool result = QApplication::notify(receiver, event);
        const double ms = MsBetween(start, TClock::now());
        --FDepth;
        if (ms > LongestMs)
        {
            LongestMs = ms;
            LongestType = &whom;
            LongestEventType = type;
        }
        return result;
    }

    // "TClass EventType" of the longest event since LongestMs was reset.
    std::string Longest() const
    {
        if (!LongestType)
            return "none";
        const char* key = QMetaEnum::fromType<QEvent::Type>().valueToKey(LongestEventType);
        return TypeName(*LongestType) + " " +
               (key ? key : "event " + std::to_string(static_cast<int>(LongestEventType)));
    }

    bool Watching = false;
    double LongestMs = 0;
    const std::type_info* LongestType = nullptr;
    QEvent::Type LongestEventType = QEvent::None;

private:
    int FDepth = 0;
};

TTimedApplication& App()
{
    return *static_cast<TTimedApplication*>(QCoreApplication::instance());
}

struct TRound
{
    double WallMs = 0;
    double StallMs = 0;
    double StallAtMs = 0;  // where in the round the longest gap ended
    double StallCpuMs = 0; // processor time the thread used in it
    double BusyMs = 0;     // the most processor time the thread used in any one gap
    double LongestEventMs = 0;
    std::string LongestEvent;
    std::vector<double> ResultsAtMs; // when each account's result had been applied
};

// One account list with a TMailCheck, tray and notification window of its
// own, so each keeps its own memory of what was told whatever the others do.
class TChecker
{
public:
    TChecker(std::vector<Account> accounts, const TSessionLimits& limits, int expectedRows)
        : FExpectedRows(expectedRows),
          FCheck(FTray, FNewMail, FConfig, [limits](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
              return MakeCheckClient(protocol, limits, std::move(abort));
          })
    {
        FConfig.Accounts = std::move(accounts);
        FConfig.ShowForm = true;
        FNewMail.show();
        QCoreApplication::processEvents();
    }

    void Empty()
    {
        FCheck.Rows().Clear();
        QCoreApplication::processEvents();
    }

    TRound Round()
    {
        TRound round;
        QEventLoop loop;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        TClock::time_point last;
        double lastCpu = 0;
        const TClock::time_point start = TClock::now();
        TClock::time_point idleAt{};
        int pending = -1;
        bool started = false;
        bool idle = false;
        const auto tick = [&] {
            const TClock::time_point now = TClock::now();
            const double cpu = ThreadCpuMs();
            const double gap = MsBetween(last, now);
            round.BusyMs = std::max(round.BusyMs, cpu - lastCpu);
            if (gap > round.StallMs)
            {
                round.StallMs = gap;
                round.StallAtMs = MsBetween(start, now);
                round.StallCpuMs = cpu - lastCpu;
            }
            last = now;
            lastCpu = cpu;
            const int left = FCheck.Cycle().Pending();
            if (pending >= 0 && left < pending)
                for (int k = left; k < pending; ++k)
                    round.ResultsAtMs.push_back(MsBetween(start, now));
            pending = left;
        };
        QObject::connect(&probe, &QTimer::timeout, &loop, tick);
        FCheck.OnIdle = [&] {
            idleAt = TClock::now();
            idle = true;
            QTimer::singleShot(AfterIdleMs, &loop, [&] {
                tick();
                loop.quit();
            });
        };
        // The round starts from a timer's handler, as the program's do.
        QTimer::singleShot(0, &loop, [&] {
            started = FCheck.CheckAccounts();
            if (!started)
                return loop.quit();
            pending = FCheck.Cycle().Pending();
        });
        // Every wait is bounded: a round that never ends is reported, not waited on.
        QTimer::singleShot(RoundLimitMs, &loop, [&] { loop.quit(); });
        App().LongestMs = 0;
        App().LongestType = nullptr;
        App().Watching = true;
        last = start;
        lastCpu = ThreadCpuMs();
        probe.start();
        loop.exec();
        App().Watching = false;
        FCheck.OnIdle = nullptr;
        if (!started)
            throw std::runtime_error("the round did not start");
        if (!idle)
            throw std::runtime_error("the round did not end within " + std::to_string(RoundLimitMs) + " ms");
        round.WallMs = MsBetween(start, idleAt);
        round.LongestEventMs = App().LongestMs;
        round.LongestEvent = App().Longest();
        // A round that lost rows measured something else.
        if (FCheck.Rows().Count() != FExpectedRows)
            throw std::runtime_error("a round listed " + std::to_string(FCheck.Rows().Count()) + " rows, not " +
                                     std::to_string(FExpectedRows));
        return round;
    }

private:
    TTrayParts FTray;
    TfrmNewMail FNewMail;
    TConfig FConfig;
    const int FExpectedRows;
    TMailCheck FCheck;
};

double Max(const std::vector<double>& v)
{
    return *std::max_element(v.begin(), v.end());
}

std::vector<double> Field(const std::vector<TRound>& rounds, double TRound::*field)
{
    std::vector<double> v;
    for (const TRound& r : rounds)
        v.push_back(r.*field);
    return v;
}

const char* Met(bool met)
{
    return met ? "met" : "NOT met";
}

// Kinds of round: all three accounts, then each alone.
constexpr int Kinds = 4;
const char* const KindNames[Kinds] = {"round", "pop3 alone", "imap4 alone", "silent alone"};

void Phase(const char* name, std::vector<std::unique_ptr<TChecker>>& checkers, bool emptyFirst, int sets)
{
    std::vector<TRound> rounds[Kinds];
    std::vector<double> ratios;
    for (int set = 0; set < sets; ++set)
    {
        double wall[Kinds] = {};
        // A different kind starts each set, so none always runs first.
        for (int step = 0; step < Kinds; ++step)
        {
            const int kind = (set + step) % Kinds;
            if (emptyFirst)
                checkers[kind]->Empty();
            rounds[kind].push_back(checkers[kind]->Round());
            wall[kind] = rounds[kind].back().WallMs;
        }
        ratios.push_back(wall[0] / std::max({wall[1], wall[2], wall[3]}));
    }

    std::printf("\n%s checks (%s), %d sets of rounds\n", name,
                emptyFirst ? "list emptied before each round" : "every message listed", sets);
    std::printf("  %-13s %10s %10s %10s %10s %9s %14s  %s\n", "", "wall med", "wall max", "stall med", "stall max",
                "busy max", "at, cpu in it", "longest event of the worst round");
    for (int kind = 0; kind < Kinds; ++kind)
    {
        const std::vector<TRound>& r = rounds[kind];
        const std::vector<double> stalls = Field(r, &TRound::StallMs);
        const TRound& worst = *std::max_element(
            r.begin(), r.end(), [](const TRound& a, const TRound& b) { return a.StallMs < b.StallMs; });
        std::printf("  %-13s %8.1fms %8.1fms %8.1fms %8.1fms %7.1fms %6.0fms %5.1fms  %.1f ms in %s\n",
                    KindNames[kind], Median(Field(r, &TRound::WallMs)), Max(Field(r, &TRound::WallMs)),
                    Median(stalls), Max(stalls), Max(Field(r, &TRound::BusyMs)), worst.StallAtMs, worst.StallCpuMs, worst.LongestEventMs, worst.LongestEvent.c_str());
    }
    std::vector<double> at[3];
    for (const TRound& r : rounds[0])
        for (std::size_t k = 0; k < r.ResultsAtMs.size() && k < 3; ++k)
            at[k].push_back(r.ResultsAtMs[k]);
    if (!at[0].empty() && !at[1].empty() && !at[2].empty())
        std::printf("  results applied in the round at (medians): %.0f ms, %.0f ms, %.0f ms\n", Median(at[0]),
                    Median(at[1]), Median(at[2]));
    const std::vector<double> stalls = Field(rounds[0], &TRound::StallMs);
    std::printf("  goal stall <= %.0f ms: median %.1f ms, max %.1f ms: %s (the thread's own work in one gap: "
                "at most %.1f ms)\n",
                StallGoalMs, Median(stalls), Max(stalls), Met(Max(stalls) <= StallGoalMs),
                Max(Field(rounds[0], &TRound::BusyMs)));
    std::printf("  goal round / slowest alone <= %.2f: median %.3f, max %.3f: %s\n", RatioGoal, Median(ratios),
                Max(ratios), Met(Median(ratios) <= RatioGoal));
    std::fflush(stdout);
}

Account DovecotAccount(Dovecot& server, const std::string& user, bool imap4)
{
    Account a;
    a.Caption = imap4 ? "Imap4" : "Pop3";
    a.UserName = user;
    a.Password = Password;
    a.Host = server.Host();
    a.IMAP4 = imap4;
    a.Port = std::to_string(imap4 ? server.ImapPort() : server.Pop3Port());
    return a;
}

int Run(int sets)
{
    const std::string why = Dovecot::Unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    Dovecot server;
    const std::string popUser = "benchpop";
    const std::string imapUser = "benchimap";
    server.AddUser(popUser, Password);
    server.AddUser(imapUser, Password);
    server.KeepProcesses();
    server.Start();
    for (int n = 1; n <= MessageCount; ++n)
    {
        server.Deliver(popUser, SampleMessage(n));
        server.Deliver(imapUser, SampleMessage(n));
    }
    TSilentServer silent;

    Account pop = DovecotAccount(server, popUser, false);
    Account imap = DovecotAccount(server, imapUser, true);
    Account quiet;
    quiet.Caption = "Silent";
    quiet.UserName = User;
    quiet.Password = Password;
    quiet.Host = "127.0.0.1";
    quiet.Port = std::to_string(silent.Port());

    TSessionLimits limits;
    limits.ReadTimeout = SilentReadLimitMs;
    // The silent account leaves an error row.
    std::vector<std::unique_ptr<TChecker>> checkers;
    checkers.push_back(std::make_unique<TChecker>(std::vector<Account>{pop, imap, quiet}, limits, 2 * MessageCount + 1));
    checkers.push_back(std::make_unique<TChecker>(std::vector<Account>{pop}, limits, MessageCount));
    checkers.push_back(std::make_unique<TChecker>(std::vector<Account>{imap}, limits, MessageCount));
    checkers.push_back(std::make_unique<TChecker>(std::vector<Account>{quiet}, limits, 1));

    // Untimed: the server indexes the Maildirs, and each checker tells its
    // messages once, as a first start would.
    for (auto& c : checkers)
        c->Round();
    const int greetedBefore = silent.Greeted();

    std::printf("bench_ui_stall: %d messages by POP3 and by IMAP4, a silent server with a %d ms read limit\n",
                MessageCount, SilentReadLimitMs);
    Phase("First", checkers, true, sets);
    Phase("Repeat", checkers, false, sets);
    // Two rounds per set and phase reach the silent server: else it was not measured.
    if (silent.Greeted() - greetedBefore != 4 * sets)
        throw std::runtime_error("the silent server saw " + std::to_string(silent.Greeted() - greetedBefore) +
                                 " sessions, not " + std::to_string(4 * sets));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int sets = argc > 1 ? std::atoi(argv[1]) : 7;
    if (sets < 1)
    {
        std::fprintf(stderr, "usage: bench_ui_stall [sets of rounds, at least 1]\n");
        return 2;
    }
    const std::unique_ptr<QTemporaryDir> home = UsePrivateHome();
    if (!home)
        return 1;
    int qtArgc = 1;
    TTimedApplication app(qtArgc, argv);
    QuietDesktop();
    try
    {
        return Run(sets);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "bench_ui_stall: %s\n", e.what());
        return 1;
    }
}

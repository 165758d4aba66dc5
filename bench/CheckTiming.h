#pragma once

// Timing shared by the mail check benchmarks: our client, a reference client
// kept warm in one long-lived process, and the bare round-trip bound, each
// checking the same mailbox, in rounds whose order rotates.

#include "check/CheckCycle.h"
// The fixture lives with the test support, which the benchmarks do not link.
#include "support/Dovecot.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The mailbox the check benchmarks use, and how often they check it.
inline constexpr int MessageCount = 1000;
inline constexpr int Repetitions = 10;
// Rounds of the interleaved comparison: enough for the medians of the
// per-round ratios to settle on a shared machine.
inline constexpr int Rounds = 21;
inline const char* const User = "bench";
inline const char* const Password = "bench-pw";

// The benchmark user's account on the server's port, as the settings hold it.
inline Account BenchAccount(Dovecot& server, int port)
{
    Account account;
    account.UserName = User;
    account.Password = Password;
    account.Host = server.Host();
    account.Port = std::to_string(port);
    return account;
}

// One message of the maildrop both benchmarks fill: a realistic header with
// encoded words, a priority and a short body.
inline std::string SampleMessage(int n)
{
    std::string id = std::to_string(n);
    std::string text =
        "Return-Path: <sender" + id + "@example.org>\r\n"
        "Received: from mx.example.org (mx.example.org [192.0.2.1])\r\n"
        "\tby mail.example.net with ESMTPS id " + id + "\r\n"
        "\tfor <bench@example.net>; Mon, 7 Dec 2026 10:00:00 +0100\r\n"
        "Message-ID: <" + id + ".bench@example.org>\r\n"
        "Date: Mon, 7 Dec 2026 10:00:00 +0100\r\n"
        "From: =?ISO-8859-1?Q?J=F6rg_Sender?= <sender" + id + "@example.org>\r\n"
        "To: Bench <bench@example.net>, other@example.net\r\n"
        "Cc: \"Carol C.\" <carol@example.org>\r\n"
        "Subject: =?ISO-8859-1?Q?Nachricht_Nr=2E_" + id + "_f=FCr_dich?=\r\n"
        "X-Priority: " + std::to_string(n % 5 + 1) + "\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=\"ISO-8859-1\"\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n";
    for (int line = 0; line < 30; ++line)
        text += "Body line " + std::to_string(line) + " of message " + id
                + ", long enough to look like ordinary prose.\r\n";
    return text;
}


// One first check as the cycle makes it: the identities, then every
// message's header and size, asked the way the client asks for many.
inline int RunCheck(TCheckClient& check)
{
    check.Connect();
    const int count = check.MessageCount();
    benchmark::DoNotOptimize(check.MessageIds(1, count));
    std::vector<int> numbers(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        numbers[static_cast<std::size_t>(i)] = i + 1;
    long total = 0;
    for (const TFetchedMessage& m : check.FetchMessages(numbers))
    {
        benchmark::DoNotOptimize(m.Header.Subject);
        total += m.Size;
    }
    check.Disconnect();
    benchmark::DoNotOptimize(total);
    return count;
}

// The server in `slot`, started on first use with the mailbox filled with
// `message`s (SampleMessage unless given); the first session, in which the
// server indexes the Maildir, is `index`'s and is not measured.
template <typename Index>
Dovecot& FilledServer(std::unique_ptr<Dovecot>& slot, Index index, std::string (*message)(int) = SampleMessage)
{
    if (!slot)
    {
        std::string why = Dovecot::Unavailable();
        if (!why.empty())
            throw std::runtime_error(why);
        slot = std::make_unique<Dovecot>();
        slot->AddUser(User, Password);
        slot->KeepProcesses();
        slot->Start();
        for (int n = 1; n <= MessageCount; ++n)
            slot->Deliver(User, message(n));
        if (index(*slot) != MessageCount)
            throw std::runtime_error("the mailbox does not hold the messages delivered");
    }
    return *slot;
}

// A bare socket client's connection: commands written as they are, replies
// read line by line; each protocol's session knows where a reply ends.
// A socket connected to a loopback port; -1 when that failed.
inline int ConnectLoopback(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// A socket listening on a free loopback port, which `port` gets; raises
// when it cannot.
inline int ListenOnLoopback(uint16_t& port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
    {
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error("the relay cannot listen");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

class TBareSocket
{
public:
    explicit TBareSocket(uint16_t port) : TBareSocket(port, NoGreeting)
    {
        ReadLine(); // the greeting
    }
    // For a protocol where the client speaks first (HTTP).
    enum TNoGreeting { NoGreeting };
    TBareSocket(uint16_t port, TNoGreeting)
    {
        FFd = ConnectLoopback(port);
        if (FFd < 0)
            throw std::runtime_error("connect failed");
    }
    ~TBareSocket() { ::close(FFd); }
    TBareSocket(const TBareSocket&) = delete;
    TBareSocket& operator=(const TBareSocket&) = delete;

    void SendLine(const std::string& line) { Send(line + "\r\n"); }

    void Send(const std::string& bytes)
    {
        if (::send(FFd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("send failed");
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

    void Receive()
    {
        char chunk[32768];
        const ssize_t got = ::recv(FFd, chunk, sizeof chunk, 0);
        if (got <= 0)
            throw std::runtime_error("connection closed");
        Buffer.append(chunk, static_cast<std::size_t>(got));
    }

    // What has arrived and is not read yet.
    std::string Buffer;

private:
    int FFd = -1;
};

// Seconds one check takes; a check that misses messages is no measurement.
template <typename Check, typename Server>
double TimedCheck(Check check, Server& server, int expected)
{
    auto start = std::chrono::steady_clock::now();
    if (check(server) != expected)
        throw std::runtime_error("a check did not see every message");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One check per iteration.
template <typename Check, typename Server>
void TimeChecks(benchmark::State& state, Check check, Server& server, int expected)
{
    for (auto _ : state)
        state.SetIterationTime(TimedCheck(check, server, expected));
    state.counters["messages"] = expected;
}

// A reference client in one Python process started once: each request
// (a line on its stdin) runs one check, which the script times itself and
// answers with "seconds count". Its interpreter, imports and caches stay
// warm between checks, as ours do.
class TReferencePeer
{
public:
    TReferencePeer(const std::string& script, const std::string& host, int port, const std::string& user,
                   const std::string& password)
    {
        int toChild[2];
        int fromChild[2];
        // Close-on-exec, so a second peer does not hold this one's input open.
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        if (::pipe2(fromChild, O_CLOEXEC) != 0)
        {
            ::close(toChild[0]);
            ::close(toChild[1]);
            throw std::runtime_error("pipe failed");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&actions, toChild[1]);
        posix_spawn_file_actions_addclose(&actions, fromChild[0]);
        const std::string portText = std::to_string(port);
        const char* argv[] = {"python3", script.c_str(), host.c_str(), portText.c_str(),
                              user.c_str(), password.c_str(), "--serve", nullptr};
        const int rc = posix_spawnp(&FPid, "python3", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        if (rc != 0)
        {
            ::close(toChild[1]);
            ::close(fromChild[0]);
            throw std::runtime_error("python3 could not be started");
        }
        FRequests = ::fdopen(toChild[1], "w");
        FAnswers = ::fdopen(fromChild[0], "r");
        if (!FRequests || !FAnswers)
            throw std::runtime_error("fdopen failed");
    }

    ~TReferencePeer()
    {
        if (FRequests)
            std::fclose(FRequests); // end of input ends the script
        if (FAnswers)
            std::fclose(FAnswers);
        if (FPid > 0)
        {
            int status = 0;
            ::waitpid(FPid, &status, 0);
        }
    }

    TReferencePeer(const TReferencePeer&) = delete;
    TReferencePeer& operator=(const TReferencePeer&) = delete;

    // Seconds of one check as the script timed it; throws when it failed or
    // saw a different count.
    double Check(int expected)
    {
        if (std::fputs("check\n", FRequests) < 0 || std::fflush(FRequests) != 0)
            throw std::runtime_error("the reference client is gone");
        double seconds = 0;
        int count = 0;
        if (std::fscanf(FAnswers, "%lf %d", &seconds, &count) != 2)
            throw std::runtime_error("the reference client did not answer");
        if (count != expected)
            throw std::runtime_error("the reference client did not see every message");
        return seconds;
    }

    // The peer kept in `slot`, started on first use; its first check, with a
    // cold interpreter, is not measured.
    static TReferencePeer& Warm(std::unique_ptr<TReferencePeer>& slot, const std::string& script,
                                const std::string& host, int port, const std::string& user,
                                const std::string& password, int expected)
    {
        if (!slot)
        {
            slot = std::make_unique<TReferencePeer>(script, host, port, user, password);
            slot->Check(expected);
        }
        return *slot;
    }

    // One check per iteration.
    void TimeChecks(benchmark::State& state, int expected)
    {
        for (auto _ : state)
            state.SetIterationTime(Check(expected));
        state.counters["messages"] = expected;
    }

private:
    pid_t FPid = -1;
    FILE* FRequests = nullptr;
    FILE* FAnswers = nullptr;
};

// The median of a non-empty sample.
inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Rounds of the three checks (0 ours, 1 reference, 2 bound), each once per
// round; the order walks through all six permutations so no one always runs
// first, last or right after another. Each one's seconds go to its list.
inline void RunRotatedRound(int round, const std::function<double(int)>& check, std::vector<double> (&times)[3])
{
    static const int orders[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {0, 2, 1}, {2, 1, 0}, {1, 0, 2}};
    for (int k : orders[round % 6])
        times[k].push_back(check(k));
}

// Medians of the per-round ratios (ours over the reference, ours over the
// bound) and of each one's times, as counters and as two plain lines kept
// for the end of the run, where they are easy to find.
inline std::vector<std::string>& RatioSummaries()
{
    static std::vector<std::string> lines;
    return lines;
}

inline void ReportRounds(benchmark::State& state, const std::vector<double> (&times)[3],
                         const char* const (&names)[3], double referenceGoal, double boundGoal)
{
    const std::size_t rounds = times[0].size();
    if (rounds == 0 || times[1].size() != rounds || times[2].size() != rounds)
        return;
    std::vector<double> overReference;
    std::vector<double> overBound;
    for (std::size_t r = 0; r < rounds; ++r)
    {
        overReference.push_back(times[0][r] / times[1][r]);
        overBound.push_back(times[0][r] / times[2][r]);
    }
    for (int k = 0; k < 3; ++k)
    {
        state.counters[std::string(names[k]) + "_median_ms"] = Median(times[k]) * 1e3;
        state.counters[std::string(names[k]) + "_best_ms"] = *std::min_element(times[k].begin(), times[k].end()) * 1e3;
    }
    const double a = Median(overReference);
    const double b = Median(overBound);
    state.counters[std::string(names[0]) + "_over_" + names[1]] = a;
    state.counters[std::string(names[0]) + "_over_" + names[2]] = b;
    char line[256];
    // A goal of 0: a measure of its own, with no goal to meet.
    char goals[2][32] = {"", ""};
    if (referenceGoal > 0)
        std::snprintf(goals[0], sizeof goals[0], " (goal <= %.2f)", referenceGoal);
    if (boundGoal > 0)
        std::snprintf(goals[1], sizeof goals[1], " (goal <= %.2f)", boundGoal);
    std::snprintf(line, sizeof line, "%s / %s = %.3f%s, %s / %s = %.3f%s; median of %zu rounds", names[0], names[1], a,
                  goals[0], names[0], names[2], b, goals[1], rounds);
    RatioSummaries().push_back(line);
    std::snprintf(line, sizeof line, "  medians: %s %.1f ms, %s %.1f ms, %s %.1f ms", names[0],
                  Median(times[0]) * 1e3, names[1], Median(times[1]) * 1e3, names[2], Median(times[2]) * 1e3);
    RatioSummaries().push_back(line);
}

// Three checks (0 ours, 1 the reference, 2 the bound; `check(k)` gives one's
// seconds) once per round in rotating order, so that load from elsewhere on
// the machine falls on all of them alike. Its time is ours; the counters give
// each one's median and best in milliseconds and the medians of the
// per-round ratios, against the goals for the reference and the bound.
inline void TimeRotatedRounds(benchmark::State& state, const std::function<double(int)>& check,
                              const char* const (&names)[3], double referenceGoal, double boundGoal)
{
    std::vector<double> times[3];
    int round = 0;
    for (auto _ : state)
    {
        RunRotatedRound(round++, check, times);
        state.SetIterationTime(times[0].back());
    }
    ReportRounds(state, times, names, referenceGoal, boundGoal);
}

// The same with a warm reference peer.
template <typename Ours, typename Bound, typename Server>
void TimeRounds(benchmark::State& state, Server& server, int expected, Ours ours, TReferencePeer& reference,
                Bound bound, const char* const (&names)[3], double referenceGoal, double boundGoal)
{
    TimeRotatedRounds(
        state,
        [&](int k) {
            switch (k)
            {
            case 0:
                return TimedCheck(ours, server, expected);
            case 1:
                return reference.Check(expected);
            default:
                return TimedCheck(bound, server, expected);
            }
        },
        names, referenceGoal, boundGoal);
}

inline void PrintRatioSummaries()
{
    for (const std::string& line : RatioSummaries())
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The main of a check benchmark: runs what was asked, prints the ratio
// summaries, and stops the server (`stop`) whatever happened.
inline int RunCheckBenchmarks(int argc, char** argv, const char* name, const std::function<void()>& stop)
{
    benchmark::Initialize(&argc, argv);
    try
    {
        benchmark::RunSpecifiedBenchmarks();
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        stop();
        return 1;
    }
    benchmark::Shutdown();
    PrintRatioSummaries();
    stop();
    return 0;
}

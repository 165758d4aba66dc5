// A repeat check of a large POP3 maildrop with one new message, through the
// real check cycle and POP3 client against a private Dovecot: past the bound
// only the newest messages are listed, every identity is read, and only the
// new message's header is fetched. Beside it, a bare socket sending the same
// commands (the server's own cost of the session), in alternating order.
// It prints the median of the per-round ratios (goal: at most 1.5) and the
// process's resident memory after the checks, to compare between sizes
// (goal: no more at 50,000 than at 10,000).
//
// Run:  scripts/offline.sh build/bench/bench_large_mailbox [messages ...]
//       (default 10000 and 50000, each in a process of its own)
#include "check/Pop3CheckClient.h"
#include "mail/Pop3Client.h"

#include "CheckTiming.h"
#include "check/FakeHost.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace
{

constexpr int RoundsPerSize = 15;

std::string ShortMessage(int n)
{
    const std::string id = std::to_string(n);
    return "Message-ID: <" + id + ".large@example.org>\r\nFrom: sender" + id +
           "@example.org\r\nSubject: message " + id + "\r\n\r\nbody\r\n";
}

long StatusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string(field).size()));
    return -1;
}

// The repeat's commands for a maildrop of `count`, the last one new.
int SessionBound(Dovecot& server, int count)
{
    TBareSocket s(server.Pop3Port());
    const auto multiLine = [&s](const std::string& command) {
        s.SendLine(command);
        if (s.ReadLine().rfind("+OK", 0) != 0)
            throw std::runtime_error(command + " refused");
        int lines = 0;
        while (s.ReadLine() != ".")
            ++lines;
        return lines;
    };
    const auto single = [&s](const std::string& command) {
        s.SendLine(command);
        return s.ReadLine();
    };
    multiLine("CAPA");
    single(std::string("USER ") + User);
    single(std::string("PASS ") + Password);
    single("STAT");
    const int listed = multiLine("UIDL");
    multiLine("TOP " + std::to_string(count) + " 0");
    single("LIST " + std::to_string(count));
    single("QUIT");
    return listed;
}

int RunSize(int messages)
{
    Dovecot server;
    server.AddUser(User, Password);
    server.KeepProcesses();
    server.Start();
    for (int n = 1; n <= messages; ++n)
        server.Deliver(User, ShortMessage(n));

    TIdPOP3 pop;
    TPop3CheckClient client(pop);
    TFakeHost host;
    TCheckCycle cycle(host.List, host);
    TInlineRounds rounds(cycle, client, client);
    Account account = BenchAccount(server, server.Pop3Port());
    account.Caption = "large";
    const TCycleConfig config{TCycleSettings{}, {account}, {}};
    rounds.Run(config); // lists the newest; the server indexes the maildrop
    if (host.List.Count() < MaxListedMessages)
        throw std::runtime_error("the first check did not list the newest messages");

    std::vector<double> ours;
    std::vector<double> bound;
    std::vector<double> ratios;
    int count = messages;
    for (int round = 0; round < RoundsPerSize; ++round)
    {
        server.Deliver(User, ShortMessage(++count));
        double times[2] = {0, 0};
        for (int k = 0; k < 2; ++k)
        {
            const int which = (round + k) % 2;
            const auto start = std::chrono::steady_clock::now();
            if (which == 0)
            {
                rounds.Run(config);
                if (cycle.NewCount != 1)
                    throw std::runtime_error("the new message was not told");
            }
            else if (SessionBound(server, count) != count)
                throw std::runtime_error("the bare session did not list every message");
            times[which] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        ours.push_back(times[0]);
        bound.push_back(times[1]);
        ratios.push_back(times[0] / times[1]);
    }
    std::printf("%d messages: repeat check %.1f ms, bare session %.1f ms, ratio %.3f (goal <= 1.5); "
                "VmRSS %ld kB, VmHWM %ld kB\n",
                messages, Median(ours) * 1e3, Median(bound) * 1e3, Median(ratios), StatusKilobytes("VmRSS:"),
                StatusKilobytes("VmHWM:"));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> sizes(argv + 1, argv + argc);
    if (sizes.empty())
    {
        // Each size in a fresh process, so that its memory is its own.
        for (const char* size : {"10000", "50000"})
        {
            const std::string command = std::string("'") + argv[0] + "' " + size;
            if (std::system(command.c_str()) != 0)
                return 1;
        }
        return 0;
    }
    try
    {
        for (const std::string& size : sizes)
            RunSize(std::stoi(size));
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "bench_large_mailbox: %s\n", e.what());
        return 1;
    }
    return 0;
}

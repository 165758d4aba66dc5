#include "platform/Exception.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <sys/socket.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include <string>
#include <vector>

TEST(Process, SplitCommandLine)
{
    using V = std::vector<std::string>;
    struct Case
    {
        const char* line;
        V expected;
    };
    const Case cases[] = {
        {"mail -compose", {"mail", "-compose"}},
        {"  mail \t -compose  ", {"mail", "-compose"}},
        {"\"/opt/Mail App/mail\" \"a b\" c", {"/opt/Mail App/mail", "a b", "c"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"say \"he said \"\"hi\"\"\"", {"say", "he said \"hi\""}},
        {"x \"\" y", {"x", "", "y"}},
        {"C:\\dir\\prog.exe %1", {"C:\\dir\\prog.exe", "%1"}},
        {"\"unterminated arg", {"unterminated arg"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

TEST(Process, ExitCodeAndWaitLimit)
{
    TChildProcess quick({"sh", "-c", "exit 7"}, "");
    ASSERT_TRUE(quick.WaitFor(-1));
    EXPECT_EQ(quick.ExitCode(), 7);
    EXPECT_TRUE(quick.WaitFor(0)); // asking again is harmless

    TChildProcess slow({"sleep", "30"}, "/");
    EXPECT_FALSE(slow.WaitFor(0));
    EXPECT_FALSE(slow.WaitFor(50));
    ASSERT_EQ(::kill(slow.Pid(), SIGTERM), 0);
    ASSERT_TRUE(slow.WaitFor(10000));
    EXPECT_EQ(slow.ExitCode(), 128 + SIGTERM);
}

TEST(Process, StartFailuresRaise)
{
    EXPECT_THROW(TChildProcess({"no-such-program-ternbell"}, ""), Exception);
    EXPECT_THROW(TChildProcess({"/nonexistent/prog"}, ""), Exception);
    EXPECT_THROW(TChildProcess({"sh", "-c", "true"}, "/nonexistent-folder"), Exception);
    EXPECT_THROW(TChildProcess({}, ""), Exception);
}

TEST(Process, OnlyTheStandardStreamsAreHandedOn)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0); // not close-on-exec on purpose
    const std::string probe = "test -e /proc/self/fd/" + std::to_string(fds[1]) + " && exit 1; exit 0";
    TChildProcess child({"sh", "-c", probe}, "");
    ASSERT_TRUE(child.WaitFor(-1));
    EXPECT_EQ(child.ExitCode(), 0);
    ::close(fds[0]);
    ::close(fds[1]);
}

// A descriptor handed on as the standard streams: the child reads its
// input from it and writes its output to it, and gets nothing else.
TEST(Process, AStreamsDescriptorIsTheChildsInputAndOutput)
{
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    const std::string script = "read line; echo \"got $line\"; test -e /proc/self/fd/" + std::to_string(ends[0]) +
                               " && echo leaked";
    TChildProcess child({"sh", "-c", script}, "", ends[1]);
    ::close(ends[1]);
    ASSERT_EQ(::write(ends[0], "hi\n", 3), 3);
    std::string answer;
    char chunk[64];
    for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;)
        answer.append(chunk, static_cast<std::size_t>(n));
    ::close(ends[0]);
    EXPECT_EQ(answer, "got hi\n");
    ASSERT_TRUE(child.WaitFor(10000));
}

TEST(Process, AChildLeftRunningIsReapedWhenItEnds)
{
    pid_t pid;
    {
        TChildProcess child({"sh", "-c", "sleep 0.2"}, "");
        pid = child.Pid();
        EXPECT_FALSE(child.WaitFor(0));
    }
    // Once reaped the pid is gone; a zombie would keep it.
    bool gone = false;
    for (int i = 0; i < 1000 && !gone; ++i) // up to 10 s
    {
        gone = ::kill(pid, 0) != 0 && errno == ESRCH;
        if (!gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

// The one way the program starts something whose failure it only reports.
TEST(RunProgram, ReportsAStartThatFailsAndWaitsWhenAsked)
{
    EXPECT_FALSE(RunProgram({}, ""));
    EXPECT_FALSE(RunProgram({"/nonexistent/ternbell-no-such-program"}, ""));
    char folder[] = "/tmp/ternbell-run-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string marker = std::string(folder) + "/ran";
    // Waited for without limit, so the file is there when it returns.
    EXPECT_TRUE(RunProgram({"sh", "-c", "sleep 0.2; : > ran"}, folder, -1));
    EXPECT_EQ(::access(marker.c_str(), F_OK), 0);
    ::unlink(marker.c_str());
    ::rmdir(folder);
}

namespace {

int ThreadCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task"))
    {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

} // namespace

// Each child left running took a thread of its own; where threads run out,
// the failed thread start ended the program.
TEST(Process, ChildrenLeftRunningShareOneReaper)
{
    const int before = ThreadCount();
    std::vector<pid_t> pids;
    for (int i = 0; i < 20; ++i)
    {
        TChildProcess child({"sh", "-c", "sleep 0.3"}, "");
        pids.push_back(child.Pid());
    }
    EXPECT_LE(ThreadCount(), before + 1);
    for (pid_t pid : pids)
    {
        bool gone = false;
        for (int i = 0; i < 1000 && !gone; ++i) // up to 10 s
        {
            gone = ::kill(pid, 0) != 0 && errno == ESRCH;
            if (!gone)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(gone) << pid;
    }
}

// 500 new messages started 502 processes at once.
TEST(Process, QueuedCommandsStartInOrderAFewAtATimeAndAllRun)
{
    char folder[] = "/tmp/queue-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string log = std::string(folder) + "/log";
    TCommandQueue queue(3);
    std::vector<std::string> failures;
    queue.OnStartFailed = [&](const std::string& m) { failures.push_back(m); };
    for (int i = 0; i < 10; ++i)
        queue.Add({"sh", "-c", "echo " + std::to_string(i) + " >> " + log + "; sleep 0.05"});
    EXPECT_EQ(queue.Running(), 3u);
    EXPECT_EQ(queue.Waiting(), 7u);
    size_t most = 0;
    for (int i = 0; i < 2000 && (queue.Running() || queue.Waiting()); ++i) // up to 10 s
    {
        queue.Pump();
        most = std::max(most, queue.Running());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LE(most, 3u);
    EXPECT_EQ(queue.Running() + queue.Waiting(), 0u);
    std::vector<int> seen;
    if (FILE* f = std::fopen(log.c_str(), "r"))
    {
        int n;
        while (std::fscanf(f, "%d", &n) == 1)
            seen.push_back(n);
        std::fclose(f);
    }
    std::sort(seen.begin(), seen.end());
    std::vector<int> all(10);
    for (int i = 0; i < 10; ++i)
        all[i] = i;
    EXPECT_EQ(seen, all);
    EXPECT_TRUE(failures.empty());

    // A start that fails is reported, and the queue goes on.
    queue.Add({std::string(folder) + "/missing-program"});
    queue.Add({"true"});
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("missing-program"), std::string::npos) << failures[0];
    EXPECT_EQ(queue.Running(), 1u);
    std::remove(log.c_str());
    ::rmdir(folder);
}

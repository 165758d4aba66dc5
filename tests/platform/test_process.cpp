#include "platform/Exception.h"
#include "platform/Process.h"

#include <gtest/gtest.h>

#include <cerrno>
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

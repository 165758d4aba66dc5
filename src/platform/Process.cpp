#include "platform/Process.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::string Native(const std::string& desktopText)
{
    return CodePageToFileName(desktopText);
}

std::string CurrentFolder()
{
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Owns spawn attributes and file Actions for the length of one start.
struct TSpawnSetup
{
    posix_spawn_file_actions_t Actions;
    posix_spawnattr_t Attr;
    TSpawnSetup()
    {
        posix_spawn_file_actions_init(&Actions);
        posix_spawnattr_init(&Attr);
    }
    ~TSpawnSetup()
    {
        posix_spawn_file_actions_destroy(&Actions);
        posix_spawnattr_destroy(&Attr);
    }
    TSpawnSetup(const TSpawnSetup&) = delete;
    TSpawnSetup& operator=(const TSpawnSetup&) = delete;
};

// Children nobody waits for any more. One thread reaps them all; if that
// thread cannot be started, each later start or hand-over looks for ended
// ones instead. Kept for the life of the process, never destroyed.
class TReaper
{
public:
    static TReaper& Instance()
    {
        static TReaper* reaper = new TReaper;
        return *reaper;
    }

    void Adopt(pid_t pid)
    {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FPids.push_back(pid);
            if (!FThreadStarted)
            {
                try
                {
                    std::thread([this] { Run(); }).detach();
                    FThreadStarted = true;
                }
                catch (const std::system_error&)
                {
                    // No thread now: reaped by the next Poll.
                }
            }
        }
        FWake.notify_one();
        Poll();
    }

    // Reaps whatever has ended, without waiting.
    void Poll()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        ReapEnded();
    }

private:
    void ReapEnded()
    {
        std::erase_if(FPids, [](pid_t pid) {
            const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
            return r == pid || (r < 0 && errno == ECHILD);
        });
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(FMutex);
        while (true)
        {
            ReapEnded();
            if (FPids.empty())
                FWake.wait(lock);
            else
                FWake.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::vector<pid_t> FPids;
    bool FThreadStarted = false;
};

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> args;
    std::string current;
    bool inArg = false, quoted = false;
    for (size_t i = 0; i < commandLine.size(); ++i)
    {
        const char c = commandLine[i];
        if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r'))
        {
            if (inArg)
                args.push_back(current);
            current.clear();
            inArg = false;
            continue;
        }
        inArg = true;
        if (c == '"')
        {
            if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == '"')
            {
                current += '"';
                ++i;
            }
            else
                quoted = !quoted;
            continue;
        }
        current += c;
    }
    if (inArg)
        args.push_back(current);
    return args;
}

TChildProcess::TChildProcess(const std::vector<std::string>& args, const std::string& workingDir, int streams)
{
    if (args.empty() || args[0].empty())
        throw Exception("No program to start");
    TReaper::Instance().Poll();
    std::vector<std::string> native;
    for (const auto& a : args)
        native.push_back(Native(a));
    // A relative path with a slash means ours, not the child's, folder.
    if (native[0].find('/') != std::string::npos && native[0][0] != '/')
        native[0] = CurrentFolder() + "/" + native[0];
    std::vector<char*> argv;
    for (auto& a : native)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    TSpawnSetup setup;
    const std::string dir = Native(workingDir);
    if (!dir.empty())
        posix_spawn_file_actions_addchdir_np(&setup.Actions, dir.c_str());
    if (streams >= 0)
    {
        posix_spawn_file_actions_adddup2(&setup.Actions, streams, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&setup.Actions, streams, STDOUT_FILENO);
    }
    // Only the standard streams are handed on.
    posix_spawn_file_actions_addclosefrom_np(&setup.Actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.Attr, &none);
    posix_spawnattr_setsigdefault(&setup.Attr, &all);
    posix_spawnattr_setflags(&setup.Attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

    const int rc = native[0].find('/') == std::string::npos
                       ? posix_spawnp(&FPid, native[0].c_str(), &setup.Actions, &setup.Attr, argv.data(), environ)
                       : posix_spawn(&FPid, native[0].c_str(), &setup.Actions, &setup.Attr, argv.data(), environ);
    if (rc != 0)
    {
        FPid = -1;
        throw Exception("Cannot start " + args[0] + ": " + std::strerror(rc));
    }
}

TChildProcess::~TChildProcess()
{
    if (FPid <= 0 || FEnded)
        return;
    TReaper::Instance().Adopt(FPid);
}

bool TChildProcess::WaitFor(int ms)
{
    if (FEnded)
        return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    while (true)
    {
        int status = 0;
        const pid_t r = ::waitpid(FPid, &status, ms < 0 ? 0 : WNOHANG);
        if (r == FPid)
        {
            FEnded = true;
            FExitCode = DecodeStatus(status);
            return true;
        }
        if (r < 0 && errno != EINTR)
        {
            // Reaped elsewhere (someone waited for every child): it has ended.
            FEnded = true;
            return true;
        }
        if (ms >= 0)
        {
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(5)));
        }
    }
}

bool RunProgram(const std::vector<std::string>& args, const std::string& workingDir, int waitMs)
{
    if (args.empty())
        return false;
    try
    {
        TChildProcess child(args, workingDir);
        if (waitMs != 0)
            child.WaitFor(waitMs < 0 ? -1 : waitMs);
        return true;
    }
    catch (const Exception&)
    {
        return false;
    }
}

void TCommandQueue::Add(std::vector<std::string> args)
{
    FWaiting.push_back(std::move(args));
    Pump();
}

void TCommandQueue::Pump()
{
    std::erase_if(FRunning, [](const std::unique_ptr<TChildProcess>& c) { return c->WaitFor(0); });
    while (FRunning.size() < FMaxRunning && !FWaiting.empty())
    {
        std::vector<std::string> args = std::move(FWaiting.front());
        FWaiting.pop_front();
        try
        {
            FRunning.push_back(std::make_unique<TChildProcess>(args, std::string()));
        }
        catch (const Exception& e)
        {
            if (OnStartFailed)
                OnStartFailed(e.Message);
        }
    }
}

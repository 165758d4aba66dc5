#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// Starting programs without a shell. Command lines and arguments are 8-bit
// desktop text; they reach the program in the file system's encoding.

// Splits a command line the way the program starter reads it: blanks
// separate arguments, double quotes group (also inside a word, a"b c"d is one
// argument), a doubled double quote inside quotes is one double quote, and
// the quotes themselves are dropped. Backslashes are ordinary characters.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the program (args as TChildProcess takes them) and, when waitMs is
// not 0, waits for it to end (negative: without limit). A program that cannot
// start is only reported: the answer is false, nothing is raised.
bool RunProgram(const std::vector<std::string>& args, const std::string& workingDir, int waitMs = 0);

// One started child. A child that has not ended when this is destroyed is
// reaped in the background when it ends, so none is left a zombie.
class TChildProcess
{
public:
    // args[0] is the program, looked up in PATH when it has no slash.
    // workingDir empty: ours. `streams`, when not -1: a descriptor the child
    // takes as its standard input and output. Raises Exception when the
    // program cannot start.
    TChildProcess(const std::vector<std::string>& args, const std::string& workingDir, int streams = -1);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    // Waits until the child ends or ms milliseconds pass (negative: no limit,
    // 0: only look). True when it has ended.
    bool WaitFor(int ms);
    // After WaitFor returned true: the exit code, or 128 + signal number.
    int ExitCode() const { return FExitCode; }

private:
    pid_t FPid = -1;
    bool FEnded = false;
    int FExitCode = -1;
};

// Starts commands in the order they are added, at most MaxRunning at a time;
// every command is started in the end. Pump, called now and then (and by
// Add), reaps the ended ones and starts the next. A start that fails is
// handed to OnStartFailed with its reason.
class TCommandQueue
{
public:
    explicit TCommandQueue(std::size_t maxRunning = 4) : FMaxRunning(maxRunning) {}
    ~TCommandQueue() = default;
    TCommandQueue(const TCommandQueue&) = delete;
    TCommandQueue& operator=(const TCommandQueue&) = delete;

    void Add(std::vector<std::string> args);
    void Pump();
    // Commands not yet started, and those started that have not ended.
    std::size_t Waiting() const { return FWaiting.size(); }
    std::size_t Running() const { return FRunning.size(); }

    std::function<void(const std::string& message)> OnStartFailed;

private:
    std::size_t FMaxRunning;
    std::deque<std::vector<std::string>> FWaiting;
    std::vector<std::unique_ptr<TChildProcess>> FRunning;
};

#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QProcess;

// A fresh folder under the temporary directory, named ternbell-<prefix>-XXXXXX,
// removed with all it holds when the object goes; a removal that fails is a
// test failure. Throws when the folder cannot be made.
class TempFolder
{
public:
    explicit TempFolder(const std::string& prefix = "test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }
    // Writes the bytes to the named file in the folder; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string FPath;
};

// A message's lines without their ends (LF, or CR LF), as a delivery
// writes them out again in its own form.
std::vector<std::string> TextLines(const std::string& raw);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file with the bytes, making missing parent folders; throws
// when it cannot.
void WriteFile(const std::string& path, const std::string& bytes);

// Environment variables changed for a scope: the destructor puts back what
// each one was before its first change.
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const std::string& name, const std::optional<std::string>& value) { Set(name, value); }
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    // No value unsets the variable.
    void Set(const std::string& name, const std::optional<std::string>& value);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// Runs the Qt event loop until `done` holds (true) or the limit passes (false).
bool WaitUntil(const std::function<bool()>& done, int limitMs);

// Ends a process the test started: politely first, then by force; each wait
// bounded to 5 s.
void StopProcess(QProcess& process);
// The process, once started, is killed when the test's process ends, however
// it ends: a daemon left behind by a crashed test would hold its output open.
void EndWithTest(QProcess& process);

// A mono 16-bit PCM wave of a tone, `ms` long.
std::string ToneWave(int ms, int amplitude = 3000, int rate = 8000);

// The message of the E that `action` raises; when it raises something else
// or nothing, a text that says so.
template <typename E, typename F>
std::string MessageOf(F&& action)
{
    try
    {
        action();
    }
    catch (const E& e)
    {
        return e.Message;
    }
    catch (const std::exception& e)
    {
        return std::string("unexpected error: ") + e.what();
    }
    return "no error";
}

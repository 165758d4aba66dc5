#include "support/TestHelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempFolder::TempFolder(const std::string& prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / ("ternbell-" + prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder like " + pattern);
    FPath = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    std::filesystem::remove_all(FPath, error);
    if (error)
        ADD_FAILURE() << "cannot remove " << FPath << ": " << error.message();
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = File(name);
    WriteFile(path, bytes);
    return path;
}

std::vector<std::string> TextLines(const std::string& raw)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < raw.size();)
    {
        const std::size_t end = raw.find('\n', at);
        std::string line = raw.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? raw.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored; // a folder that cannot be made shows as a failed open
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it)
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
}

void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value)
{
    bool saved = false;
    for (const auto& entry : FSaved)
        saved = saved || entry.first == name;
    if (!saved)
    {
        const char* old = std::getenv(name.c_str());
        FSaved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

bool WaitUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done())
    {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void EndWithTest(QProcess& process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void StopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
    {
        process.kill();
        process.waitForFinished(5000);
    }
}

namespace
{
void AppendLE(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}
}

std::string ToneWave(int ms, int amplitude, int rate)
{
    const uint32_t frames = uint32_t(rate) * uint32_t(ms) / 1000;
    std::string data;
    for (uint32_t i = 0; i < frames; ++i)
        AppendLE(data, uint32_t(int16_t(amplitude * std::sin(i * 0.3))) & 0xFFFF, 2);
    std::string wave = "RIFF";
    AppendLE(wave, uint32_t(36 + data.size()), 4);
    wave += "WAVEfmt ";
    AppendLE(wave, 16, 4);
    AppendLE(wave, 1, 2); // PCM
    AppendLE(wave, 1, 2); // mono
    AppendLE(wave, uint32_t(rate), 4);
    AppendLE(wave, uint32_t(rate) * 2, 4);
    AppendLE(wave, 2, 2);
    AppendLE(wave, 16, 2);
    wave += "data";
    AppendLE(wave, uint32_t(data.size()), 4);
    return wave + data;
}

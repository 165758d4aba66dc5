#include "check/Utils.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Process.h"

#include <QLocale>

#include <climits>
#include <cmath>
#include <unistd.h>

namespace {

std::string ProgramPathOf(const std::string& commandLine)
{
    if (commandLine.empty())
        return {};
    if (commandLine[0] == '"')
    {
        const size_t at = commandLine.find("\" ");
        return at == std::string::npos ? std::string() : commandLine.substr(0, at + 1);
    }
    const size_t space = commandLine.find(' ');
    return space == std::string::npos ? std::string() : commandLine.substr(0, space);
}

std::string Dequoted(const std::string& path)
{
    if (path.size() < 2 || path.front() != '"' || path.back() != '"')
        return path;
    const std::string inner = path.substr(1, path.size() - 2);
    std::string out;
    for (size_t i = 0; i < inner.size(); ++i)
    {
        out += inner[i];
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"')
            ++i;
    }
    return out;
}

std::string DecimalSeparatorOfUser()
{
    const std::string sep = ToCodePage(QLocale::system().decimalPoint());
    return sep.empty() ? "." : sep;
}

} // namespace

std::string StartFolderOf(const std::string& commandLine)
{
    std::string path = Dequoted(ProgramPathOf(commandLine));
    if (path.empty())
        return {};
    if (path[0] != '/')
    {
        char buf[PATH_MAX];
        if (::getcwd(buf, sizeof buf))
            path = FileNameToCodePage(buf) + "/" + path;
    }
    return path.substr(0, path.rfind('/') + 1);
}

bool StartProcess(const std::string& commandLine, int16_t /*showMode*/, int waitTime)
{
    // An empty folder leaves the program in ours.
    return RunProgram(SplitCommandLine(commandLine), StartFolderOf(commandLine), waitTime);
}

int PosFrom(const std::string& text, const std::string& pattern, int start)
{
    if (pattern.empty() || start < 1 || static_cast<size_t>(start) > text.size())
        return 0;
    const size_t at = text.find(pattern, static_cast<size_t>(start - 1));
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

std::string TextBetween(const std::string& text, const std::string& startMarker,
                        const std::string& endMarker, int start)
{
    int a = PosFrom(text, startMarker, start);
    int b;
    if (a == 0)
        b = PosFrom(text, endMarker, 1);
    else
    {
        a += static_cast<int>(startMarker.size());
        b = PosFrom(text, endMarker, a);
    }
    // a can point just past the end when the start marker ends the text.
    const auto from = [&](int pos) { return std::min(static_cast<size_t>(pos - 1), text.size()); };
    if (a > 0 && b > 0)
        return text.substr(from(a), static_cast<size_t>(b - a));
    if (a > 0)
        return text.substr(from(a));
    if (b > 0)
        return text.substr(0, static_cast<size_t>(b - 1));
    return {};
}

int ScaleBy1024(double& value)
{
    if (value <= 1024)
        return 0;
    value /= 1024;
    return 1 + ScaleBy1024(value);
}

std::string HumanSize(int32_t bytes, const std::string& decimalSeparator)
{
    static const char kUnits[] = " KMGTPEZY";
    double value = bytes;
    const int steps = ScaleBy1024(value);

    // "0.##": hundredths rounded half away from zero, trailing zeros dropped.
    const long long hundredths = std::llround(std::fabs(value) * 100);
    std::string number = (value < 0 && hundredths != 0) ? "-" : "";
    number += std::to_string(hundredths / 100);
    const int fraction = static_cast<int>(hundredths % 100);
    if (fraction != 0)
    {
        number += decimalSeparator;
        number += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0)
            number += static_cast<char>('0' + fraction % 10);
    }
    return number + " " + kUnits[steps] + "B";
}

std::string HumanSize(int32_t bytes)
{
    return HumanSize(bytes, DecimalSeparatorOfUser());
}

std::string ReplaceCount(const std::string& text, const std::string& pattern, const std::string& value,
                         int count, int start)
{
    std::string result = text;
    int p = start;
    while (count > 0 && p > 0)
    {
        p = PosFrom(result, pattern, p);
        if (p > 0)
        {
            result.replace(static_cast<size_t>(p - 1), pattern.size(), value);
            p += static_cast<int>(value.size());
            --count;
        }
    }
    return result;
}

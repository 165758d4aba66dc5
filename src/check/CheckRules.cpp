#include "check/CheckRules.h"

#include "check/Utils.h"
#include "platform/Numbers.h"
#include "i18n/Translate.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cstdint>
#include <langinfo.h>

bool PriorityCounts(int requiredIndex, int priority)
{
    return static_cast<uint8_t>(requiredIndex) >= static_cast<uint8_t>(priority);
}

bool ShouldNotify(bool onlyNewMessages, int newCount, int listedCount)
{
    return IIf(onlyNewMessages, newCount > 0, listedCount > 0);
}

std::string FormatOne(std::string format, const std::string& marker, const std::string& value)
{
    const std::size_t p = format.find(marker);
    if (p != std::string::npos)
        format.replace(p, marker.size(), value);
    return format;
}

std::string Headline(int listedCount, int waitingCount)
{
    if (waitingCount > std::max(listedCount, 0))
        return FormatOne(FormatOne(ResStr("There are %1 messages to read; the newest %2 are listed"), "%1",
                                   std::to_string(waitingCount)),
                         "%2", std::to_string(listedCount));
    if (listedCount < 1)
        return ResStr("There are no messages");
    if (listedCount == 1)
        return ResStr("There is a message to read");
    return FormatOne(ResStr("There are %d messages to read"), "%d", std::to_string(listedCount));
}

std::string TrayHint(const std::string& headline, const std::string& timeText)
{
    std::string hint = headline + " " + FormatOne(ResStr("(last check: %s)"), "%s", timeText);
    return CutAtCharacter(hint, TrayHintLimit);
}

std::string LongTimeText(const std::tm& time)
{
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%X", &time);
    std::string text(buffer, n);
    // strftime writes in the locale's own character set.
    std::string converted;
    if (ConvertCharset(text, nl_langinfo(CODESET), DesktopCodePage(), converted))
        return converted;
    return text;
}

std::string LongTimeTextNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LongTimeText(local);
}

int PortOfText(const std::string& text)
{
    int port = 0;
    try
    {
        port = DecimalOrHexToInt(text);
    }
    catch (const EConvertError&)
    {
        if (AsciiText::Trim(text).empty())
            throw EBadPort(ResStr("No port is given."));
        throw EBadPort(FormatOne(ResStr("The port '%s' is not a number."), "%s", text));
    }
    if (port < 1 || port > 65535)
        throw EPortOutOfRange(
            FormatOne(ResStr("Port %d is not between 1 and 65535."), "%d", std::to_string(port)));
    return port;
}

#include "config/LauncherBadge.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "platform/AsciiText.h"
#include "platform/MailClientLookup.h"
#include "platform/Process.h"

#include <algorithm>

namespace
{

const std::string DesktopSuffix = ".desktop";

} // namespace

bool IsDesktopId(const std::string& text)
{
    if (text.size() <= DesktopSuffix.size() || text.compare(text.size() - DesktopSuffix.size(),
                                                            DesktopSuffix.size(), DesktopSuffix) != 0)
        return false;
    if (text.front() == '.' || text.front() == '-')
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
    });
}

std::string BadgeDesktopId(const std::string& badgeFor)
{
    if (badgeFor.empty())
        return OwnDesktopId;
    if (badgeFor == NoBadge || !IsDesktopId(badgeFor))
        return {};
    return badgeFor;
}

std::string BadgeForProblem(const std::string& badgeFor)
{
    if (badgeFor.empty() || badgeFor == NoBadge || IsDesktopId(badgeFor))
        return {};
    return FormatOne(ResStr("\"%1\" is not a desktop id (such as thunderbird.desktop): no launcher shows the "
                            "count."),
                     "%1", badgeFor);
}

std::string MailClientDesktopId()
{
    return DefaultMailtoHandler(XdgPlacesFromEnvironment());
}

std::string MessageOpeningCommand(const std::string& desktopId, const std::string& defaultCommand)
{
    const std::vector<std::string> arguments = SplitCommandLine(defaultCommand);
    if (arguments.empty())
        return {};
    const std::string& program = arguments.front();
    const std::string name = AsciiText::LowerCase(program.substr(program.rfind('/') + 1));
    if (AsciiText::LowerCase(desktopId).find("thunderbird") == std::string::npos &&
        name.find("thunderbird") == std::string::npos)
        return {};
    // The program as the desktop starts it, quoted where it holds a blank.
    const std::string start = program.find(' ') != std::string::npos ? "\"" + program + "\"" : program;
    return start + " mid:%MESSAGEID%";
}

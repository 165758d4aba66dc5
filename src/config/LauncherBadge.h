#pragma once

#include <string>

// Whose launcher in a dock or panel shows the count of waiting mail: the
// main key's "BadgeFor", a desktop id ("thunderbird.desktop"); "" for
// ternbell's own launcher, "-" for none.
inline constexpr const char* OwnDesktopId = "ternbell.desktop";
inline constexpr const char* NoBadge = "-";

// A desktop file id: a name of letters, digits, '.', '_' and '-' that ends
// in ".desktop" (the file's path under applications/ with '-' for '/').
bool IsDesktopId(const std::string& text);
// The desktop id to count on; "" for none, also for a value that is no
// desktop id.
std::string BadgeDesktopId(const std::string& badgeFor);
// What the settings say under the value: "" when it can be used.
std::string BadgeForProblem(const std::string& badgeFor);

// The mail client the desktop opens mailto: links with, as its desktop id;
// "" when none is found.
std::string MailClientDesktopId();
// The mail client command that opens the message clicked, where the client
// found is one that can (Thunderbird: "<program> mid:%MESSAGEID%"); "" else.
// `defaultCommand` is the found client's command line.
std::string MessageOpeningCommand(const std::string& desktopId, const std::string& defaultCommand);

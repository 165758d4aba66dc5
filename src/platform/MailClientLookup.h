#pragma once

#include "platform/Hive.h"

#include <string>
#include <vector>

// The machine-wide "Software\Clients\Mail" keys, computed from the desktop's
// default handler of mailto: links (freedesktop mimeapps.list and desktop
// entries). The client's name is its desktop file id; its open command is the
// entry's Exec line without field codes. Nothing here is ever written.

// Where the lookup reads, taken from the environment: the mimeapps.list files
// in the order they are consulted, and the folders searched for desktop files.
struct TXdgPlaces
{
    std::vector<std::string> MimeappsLists;
    std::vector<std::string> ApplicationFolders;
};
TXdgPlaces XdgPlacesFromEnvironment();

// Desktop file id of the default mailto handler that is installed, or "".
std::string DefaultMailtoHandler(const TXdgPlaces& places);

// Full path of the desktop file with that id, or "".
std::string FindDesktopFile(const TXdgPlaces& places, const std::string& desktopId);

// The Exec line of a desktop entry's text, unescaped, field codes removed; "" when none.
std::string DesktopEntryCommand(const std::string& entryText);

// Exec value without its field codes (%f %U %i ...); "%%" stays a percent sign.
std::string RemoveFieldCodes(const std::string& exec);

// The view as a hive rooted at HKEY_LOCAL_MACHINE (UTF-8 texts): the key
// "Software\Clients\Mail" with the id as default value, and
// "Software\Clients\Mail\<id>\shell\open\command" with the command line.
// Empty when there is no handler.
THive MailClientHive(const TXdgPlaces& places);
THive MailClientHive();

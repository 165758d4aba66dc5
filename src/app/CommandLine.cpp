#include "app/CommandLine.h"

#include <cstring>

#ifndef TERNBELL_VERSION
#error "the build passes TERNBELL_VERSION"
#endif

std::string VersionText()
{
    return std::string("ternbell ") + TERNBELL_VERSION;
}

std::string LicenceText()
{
    return "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

std::optional<std::string> CommandLineAnswer(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0)
            return VersionText() + "\n" + LicenceText();
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
            return "Usage: ternbell [--help | --version | --status [--follow] [--format TEXT]]\n"
                   "Mail notifier for the system tray: checks POP3 and IMAP4 accounts and tells you\n"
                   "when new mail is waiting. Settings: ${XDG_CONFIG_HOME:-~/.config}/ternbell/user.reg.\n"
                   "--status prints the running instance's state as one line of JSON, or TEXT with\n"
                   "{count}, {accounts} and {class} filled; --follow adds one at every change.\n";
    }
    return std::nullopt;
}

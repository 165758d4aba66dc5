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
            return "Usage: ternbell [--help | --version | --status [--follow] [--format TEXT] |\n"
                   "                --quiet MINUTES | --resume]   Mail notifier for the system tray.\n"
                   "Settings: ${XDG_CONFIG_HOME:-~/.config}/ternbell/user.reg. --status prints the running\n"
                   "instance's state as JSON, or TEXT with {count}, {accounts} and {class}; --follow at every\n"
                   "change. --quiet keeps new mail from being told for MINUTES, --resume ends that.\n";
    }
    return std::nullopt;
}

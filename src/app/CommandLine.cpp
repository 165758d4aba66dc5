#include "app/CommandLine.h"

#include <cstring>

#ifndef TERNBELL_VERSION
#error "the build passes TERNBELL_VERSION"
#endif

std::string VersionText()
{
    return std::string("ternbell ") + TERNBELL_VERSION;
}

std::optional<std::string> CommandLineAnswer(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-v") == 0)
            return VersionText() + "\n";
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)
            return "Usage: ternbell [--help | --version]\n"
                   "Mail notifier for the system tray: checks POP3 and IMAP4 accounts and tells\n"
                   "you when new mail is waiting. Settings are kept in\n"
                   "${XDG_CONFIG_HOME:-~/.config}/ternbell/user.reg; see ternbell(1).\n";
    }
    return std::nullopt;
}

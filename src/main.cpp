#include "app/CommandLine.h"
#include "app/ProcessEntry.h"
#include "app/StatusClient.h"

#include <cstdio>

int main(int argc, char** argv)
{
    // Answered before the toolkit, the tray or the hive is touched.
    if (const auto answer = CommandLineAnswer(argc, argv))
    {
        std::fputs(answer->c_str(), stdout);
        return 0;
    }
    // The running instance's status, for a bar: no toolkit, no tray.
    std::string misuse;
    if (const auto status = StatusOptionsOf(argc, argv, misuse))
        return RunStatus(*status, StatusSocketPaths());
    if (!misuse.empty())
    {
        std::fputs(misuse.c_str(), stderr);
        return 2;
    }
    return RunTernbell(argc, argv);
}

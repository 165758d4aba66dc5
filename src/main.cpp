#include "app/CommandLine.h"
#include "app/ProcessEntry.h"

#include <cstdio>

int main(int argc, char** argv)
{
    // Answered before the toolkit, the tray or the hive is touched.
    if (const auto answer = CommandLineAnswer(argc, argv))
    {
        std::fputs(answer->c_str(), stdout);
        return 0;
    }
    return RunTernbell(argc, argv);
}

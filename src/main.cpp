#include "app/ProcessEntry.h"

int main(int argc, char** argv)
{
    return RunTernbell(argc, argv);
}

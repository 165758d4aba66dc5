#include "app/Application.h"

int main(int argc, char** argv)
{
    return RunTernbell(argc, argv);
}

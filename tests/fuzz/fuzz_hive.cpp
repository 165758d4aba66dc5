// The settings file's text: any text the parser accepts must save and read
// back to the very same text (saving is a fixed point), and never fail to
// read back.
#include "platform/Hive.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    THive hive;
    try
    {
        hive = ParseHive(text);
    }
    catch (const EHiveParseError&)
    {
        return 0;
    }
    const std::string saved = SerializeHive(hive);
    std::string again;
    try
    {
        again = SerializeHive(ParseHive(saved));
    }
    catch (const EHiveParseError& e)
    {
        std::fprintf(stderr, "saved text does not read back: %s\n", e.Message.c_str());
        std::abort();
    }
    if (again != saved)
    {
        std::fprintf(stderr, "save and read back is not a fixed point\n");
        std::abort();
    }
    return 0;
}

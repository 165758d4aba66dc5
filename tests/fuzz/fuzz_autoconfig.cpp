#include "find/Autoconfig.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// A configuration file as any web server may answer it: the reader keeps to
// its bounds and refuses document types and entities without a crash.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const TAddressParts address = SplitAddress("ann@example.com");
    const TAutoconfigResult result =
        ParseAutoconfig(std::string_view(reinterpret_cast<const char*>(data), size), address, "example.com");
    for (const TFoundServer& server : result.Servers)
    {
        if (server.Port < 1 || server.Port > 65535 || server.Host.empty() || server.Security == asNone)
            __builtin_trap();
    }
    return 0;
}

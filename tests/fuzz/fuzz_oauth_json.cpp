// What an authorization server sends as JSON: token and error answers,
// discovery and device documents, and the ID token's payload. The first byte
// picks the reader; a malformed document must end in EOAuthMalformed.
#include "oauth/OAuthErrors.h"
#include "oauth/OAuthJson.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try
    {
        switch (data[0] % 5)
        {
        case 0:
            ReadTokenGrant(text);
            break;
        case 1:
            ReadErrorAnswer(text);
            break;
        case 2:
            ReadDiscovery(text, "https://op.example");
            break;
        case 3:
            ReadDeviceCode(text);
            break;
        default:
            IdTokenName(text);
            break;
        }
    }
    catch (const EOAuthMalformed&)
    {
    }
    return 0;
}

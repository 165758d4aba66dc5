// Encoded-word decoding: any text gives a result or a conversion error.
#include "mail/IdCoderHeader.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try
    {
        // Without conversion a decoded word never outgrows its encoded form.
        const std::string raw = DecodeEncodedWords(text, "");
        if (raw.size() > text.size() || raw.find('\0') != std::string::npos)
            std::abort();
    }
    catch (const EConvertError&)
    {
    }
    try
    {
        const std::string converted = DecodeEncodedWords(text, "CP1252");
        if (converted.find('\0') != std::string::npos)
            std::abort();
    }
    catch (const EConvertError&)
    {
    }
    if (JisToShiftJis(text).size() > text.size())
        std::abort();
    return 0;
}

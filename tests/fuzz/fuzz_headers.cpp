// Whole header loads: lines split at LF as the connection delivers them.
#include "mail/IdMessage.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdMessage message;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        message.HeaderLines.Add(line);
        start = end + 1;
    }
    try
    {
        message.LoadFromHeaderLines();
    }
    catch (const EIdEmailParseError&)
    {
    }
    catch (const EConvertError&)
    {
    }
    (void)message.From().Text();
    for (std::size_t i = 0; i < message.HeaderLines.Count(); ++i)
    {
        (void)message.HeaderLines.FieldNameOfLine(i);
        (void)PriorityFromHeader(message.HeaderLines[i]);
        (void)DateTimeFromHeader(message.HeaderLines[i]);
    }
    return 0;
}

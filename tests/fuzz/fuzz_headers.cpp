// Whole header loads: lines split at LF as the connection delivers them.
// The same bytes as a fetched literal: the lines kept for a check must give
// the fields a check reads as the whole header's lines give them.
#include "mail/HeaderKeeper.h"
#include "mail/IdMessage.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

    TIdHeaderList whole;
    try
    {
        THeaderKeeper keeper(whole);
        keeper.AddBytes(text);
        keeper.Finish();
    }
    catch (const EIdReplyTooLarge&)
    {
        return 0;
    }
    TIdHeaderList checked;
    if (KeepCheckedFields(text, checked))
        for (const char* field : {"From", "Subject", "Message-Id", "Date", "Priority", "X-Priority"})
            if (checked.FieldValue(field) != whole.FieldValue(field))
                std::abort();
    return 0;
}

// FETCH lines: any line is taken apart or refused; a literal count is a
// number or "not a valid integer value".
#include "mail/Imap4Reply.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);
    static const TIdStrings choices[] = {{}, {"RFC822.HEADER"}, {"RFC822.SIZE"}, {"UID", "FLAGS"}};
    for (const TIdStrings& items : choices)
    {
        TIdIMAPLineStruct parsed;
        bool ok = false;
        try
        {
            ok = ParseFetchLine(line, "FETCH", items, parsed);
        }
        catch (const EConvertError&)
        {
            continue;
        }
        if (parsed.LiteralSize < -1)
            std::abort();
        if (parsed.Flags & ~0x3f)
            std::abort();
        if (ok && parsed.Command != "FETCH")
            std::abort();
        for (const std::string* part : {&parsed.MessageNumber, &parsed.Uid, &parsed.ItemName, &parsed.ItemValue})
            if (part->size() > size)
                std::abort();
        if (!parsed.MessageNumber.empty() && parsed.MessageNumber.find_first_not_of("0123456789") != std::string::npos)
            std::abort();
    }
    return 0;
}

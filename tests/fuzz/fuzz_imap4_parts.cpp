// Splitting into parts, against a reference splitter written as a plain
// state machine.
#include "mail/Imap4Reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

// Spaces separate parts; "..." and (...) (nested, with quotes inside
// ignored) are one part without their outer marks; what is open at the end
// is taken without its opening mark and without a closing one that ends it.
TIdStrings ReferenceSplit(const std::string& text)
{
    enum { Between, Word, Quote, Group } mode = Between;
    TIdStrings parts;
    std::string part;
    int depth = 0;
    bool inQuote = false;
    for (char c : text)
    {
        switch (mode)
        {
        case Between:
            if (c == ' ')
                break;
            part.clear();
            if (c == '"')
                mode = Quote;
            else if (c == '(')
            {
                mode = Group;
                depth = 1;
                inQuote = false;
            }
            else
            {
                mode = Word;
                part += c;
            }
            break;
        case Word:
            if (c == ' ')
            {
                parts.push_back(part);
                mode = Between;
            }
            else
                part += c;
            break;
        case Quote:
            if (c == '"')
            {
                parts.push_back(part);
                mode = Between;
            }
            else
                part += c;
            break;
        case Group:
            if (c == '"')
                inQuote = !inQuote;
            if (!inQuote && c == '(')
                ++depth;
            if (!inQuote && c == ')' && --depth == 0)
            {
                parts.push_back(part);
                mode = Between;
                break;
            }
            part += c;
            break;
        }
    }
    if (mode == Word || mode == Quote)
        parts.push_back(part);
    else if (mode == Group)
    {
        if (!part.empty() && part.back() == ')')
            part.pop_back();
        parts.push_back(part);
    }
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const TIdStrings parts = SplitParts(text);
    if (parts != ReferenceSplit(text))
        std::abort();
    std::size_t bytes = 0;
    for (const std::string& part : parts)
        bytes += part.size();
    if (bytes > size)
        std::abort();
    return 0;
}

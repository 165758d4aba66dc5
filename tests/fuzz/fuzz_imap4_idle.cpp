// Lines read during IDLE: every line has one meaning, the same with blanks
// around it, and news carries a keyword and a number that fit.
#include "mail/Imap4Idle.h"
#include "platform/AsciiText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The first byte picks the tag; the rest is one line per LF.
    static const std::string tags[] = {"C1", "C42", "", "c7"};
    const std::string& tag = tags[size > 0 ? data[0] % 4 : 0];
    std::size_t start = size > 0 ? 1 : 0;
    while (start <= text.size())
    {
        const std::size_t lf = text.find('\n', start);
        const std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        const TIdIMAP4IdleLine parsed = ParseIdleLine(line, tag);
        const TIdIMAP4IdleLine padded = ParseIdleLine(" \t" + line + " \r", tag);
        if (padded.Kind != parsed.Kind || padded.Number != parsed.Number || padded.Keyword != parsed.Keyword)
            std::abort();
        switch (parsed.Kind)
        {
        case TIdIMAP4IdleLineKind::News:
            if (parsed.Keyword != "EXISTS" && parsed.Keyword != "EXPUNGE" && parsed.Keyword != "FETCH")
                std::abort();
            if (parsed.Number == 0 && parsed.Keyword != "EXISTS")
                std::abort();
            break;
        case TIdIMAP4IdleLineKind::TaggedOk:
        case TIdIMAP4IdleLineKind::TaggedNo:
        case TIdIMAP4IdleLineKind::TaggedBad:
            if (tag.empty() || !AsciiText::SameText(AsciiText::Trim(line).substr(0, tag.size()), tag))
                std::abort();
            break;
        default:
            if (parsed.Number != 0 || !parsed.Keyword.empty())
                std::abort();
            break;
        }
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return 0;
}

// Preview extraction: any MIME fields and body start give a preview or
// none, never a crash or a hang, and a preview is one line of valid UTF-8
// text within its length. The input's first empty line parts the fields
// from the body.
#include "preview/FlowedText.h"
#include "preview/HtmlText.h"
#include "preview/TextPreview.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

constexpr std::size_t MaxChars = 200;

// Valid UTF-8 of at most `maxChars` characters, no controls, blanks single
// and inside; aborts otherwise.
void CheckLine(const std::string& text, std::size_t maxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++chars)
    {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size())
            std::abort();
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                std::abort();
        if (length == 1 && (b < 0x20 || b == 0x7F))
            std::abort();
        if (b == ' ' && (i == 0 || i + 1 == text.size() || text[i + 1] == ' '))
            std::abort();
        i += length;
    }
    if (chars > maxChars)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find("\n\n");
    const std::string head = split == std::string::npos ? std::string() : input.substr(0, split + 1);
    const std::string body = split == std::string::npos ? input : input.substr(split + 2);

    CheckLine(TextPreview(head, body, MaxChars), MaxChars);

    CheckLine(CollapsedText(HtmlText(input), 17), 17);
    CheckLine(CollapsedText(UnflowedText(input, size % 2 == 0), MaxChars), MaxChars);
    CheckLine(CollapsedText(input, MaxChars), MaxChars);
    return 0;
}

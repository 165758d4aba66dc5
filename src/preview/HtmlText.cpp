#include "preview/HtmlText.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace
{

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80)
        out += static_cast<char>(c);
    else if (c < 0x800)
    {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

struct TNamedReference
{
    std::uint16_t At; // in NamedReferenceText
    std::uint8_t Length;
    bool Legacy; // also taken without its ";"
    char32_t First;
    char32_t Second; // 0 for none
};

#include "preview/NamedReferences.inc"

std::string_view NameOf(const TNamedReference& r)
{
    return std::string_view(NamedReferenceText + r.At, r.Length);
}

const TNamedReference* FindReference(std::string_view name)
{
    const auto found = std::lower_bound(std::begin(NamedReferences), std::end(NamedReferences), name,
                                        [](const TNamedReference& r, std::string_view n) { return NameOf(r) < n; });
    return found != std::end(NamedReferences) && NameOf(*found) == name ? found : nullptr;
}

// What a numeric reference to a C1 control stands for: text written in
// Windows-1252 with its byte values as numbers.
constexpr std::array<char16_t, 32> Windows1252High{
    0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
    0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178,
};

// numeric := "&#" 1*digit [";"] / "&#" ("x" / "X") 1*hexdigit [";"]
bool NumericReference(std::string_view html, std::size_t& pos, std::string& out)
{
    std::size_t p = pos + 2;
    const bool hex = p < html.size() && (html[p] == 'x' || html[p] == 'X');
    if (hex)
        ++p;
    std::uint32_t code = 0;
    const std::size_t start = p;
    for (; p < html.size(); ++p)
    {
        const char c = Lower(html[p]);
        int digit = -1;
        if (IsDigit(c))
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            break;
        // Past the last character it stays past it, however long it goes on.
        code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit), 0x110000);
    }
    if (p == start)
        return false;
    if (code >= 0x80 && code <= 0x9F)
        code = Windows1252High[code - 0x80];
    AppendUtf8(out, static_cast<char32_t>(code));
    pos = p < html.size() && html[p] == ';' ? p + 1 : p;
    return true;
}

// named := "&" name ";", the longest name of the table; one of the legacy
// names may go without its ";", as browsers read it in text.
bool NamedReference(std::string_view html, std::size_t& pos, std::string& out)
{
    constexpr std::size_t longestName = 32;
    const std::size_t start = pos + 1;
    std::size_t p = start;
    while (p < html.size() && p - start <= longestName && (IsLetter(html[p]) || IsDigit(html[p])))
        ++p;
    const std::string_view run = html.substr(start, p - start);
    const TNamedReference* found = nullptr;
    std::size_t end = p + 1;
    if (p < html.size() && html[p] == ';')
        found = FindReference(run);
    for (std::size_t length = std::min<std::size_t>(run.size(), 6); !found && length >= 2; --length)
        if (const TNamedReference* legacy = FindReference(run.substr(0, length)); legacy && legacy->Legacy)
        {
            found = legacy;
            end = start + length;
        }
    if (!found)
        return false;
    AppendUtf8(out, found->First);
    if (found->Second)
        AppendUtf8(out, found->Second);
    pos = end;
    return true;
}

// reference := numeric / named, at `pos` (on the "&"); false, nothing
// moved, when it is neither.
bool Reference(std::string_view html, std::size_t& pos, std::string& out)
{
    if (pos + 1 < html.size() && html[pos + 1] == '#')
        return NumericReference(html, pos, out);
    return NamedReference(html, pos, out);
}

// Where `needle` (lower-case) next starts in `html` from `from` on, in any
// case; npos when nowhere.
std::size_t FindNoCase(std::string_view html, std::string_view needle, std::size_t from)
{
    for (std::size_t i = from; i + needle.size() <= html.size(); ++i)
    {
        std::size_t k = 0;
        while (k < needle.size() && Lower(html[i + k]) == needle[k])
            ++k;
        if (k == needle.size())
            return i;
    }
    return std::string_view::npos;
}

// Elements whose content is never shown.
constexpr std::array<std::string_view, 5> HiddenElements{"style", "script", "head", "title", "template"};
// Elements that end a line or a block.
constexpr std::array<std::string_view, 20> BlockElements{"p",  "br", "div", "tr",    "td",         "th",     "li",
                                                         "h1", "h2", "h3",  "h4",    "h5",         "h6",     "hr",
                                                         "ul", "ol", "pre", "table", "blockquote", "center"};

} // namespace

std::string HtmlText(std::string_view html)
{
    std::string out;
    out.reserve(html.size());
    std::size_t pos = 0;
    while (pos < html.size())
    {
        const char c = html[pos];
        if (c == '&')
        {
            if (!Reference(html, pos, out))
                out += html[pos++];
            continue;
        }
        const char next = pos + 1 < html.size() ? html[pos + 1] : '\0';
        if (c != '<' || !(IsLetter(next) || next == '/' || next == '!' || next == '?'))
        {
            out += c;
            ++pos;
            continue;
        }
        if (html.substr(pos, 4) == "<!--")
        {
            const std::size_t end = html.find("-->", pos + 4);
            if (end == std::string_view::npos)
                break;
            pos = end + 3;
            continue;
        }
        // tag := "<" ["/"] name *(attribute) ">", a quoted value may hold ">".
        const bool closing = next == '/';
        std::size_t p = pos + (closing ? 2 : 1);
        std::string name;
        while (p < html.size() && (IsLetter(html[p]) || IsDigit(html[p])) && name.size() < 16)
            name += Lower(html[p++]);
        char quote = '\0';
        for (; p < html.size(); ++p)
        {
            if (quote)
            {
                if (html[p] == quote)
                    quote = '\0';
            }
            else if (html[p] == '"' || html[p] == '\'')
                quote = html[p];
            else if (html[p] == '>')
                break;
        }
        if (p >= html.size())
            break;
        pos = p + 1;
        if (std::find(BlockElements.begin(), BlockElements.end(), name) != BlockElements.end())
            out += ' ';
        if (!closing && std::find(HiddenElements.begin(), HiddenElements.end(), name) != HiddenElements.end())
        {
            std::size_t end = FindNoCase(html, "</" + name, pos);
            // A head left open ends where the body begins.
            if (name == "head")
                end = std::min(end, FindNoCase(html, "<body", pos));
            if (end == std::string_view::npos)
                break;
            pos = end;
        }
    }
    return out;
}

namespace
{

// The next character of UTF-8 text; an invalid byte is U+FFFD and one byte.
char32_t NextCharacter(std::string_view text, std::size_t& pos)
{
    const auto b = static_cast<unsigned char>(text[pos]);
    int length = 0;
    char32_t c = 0;
    if (b < 0x80)
    {
        ++pos;
        return b;
    }
    if (b >= 0xC2 && b <= 0xDF)
        length = 2, c = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF)
        length = 3, c = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4)
        length = 4, c = b & 0x07;
    if (length == 0 || pos + static_cast<std::size_t>(length) > text.size())
    {
        ++pos;
        return 0xFFFD;
    }
    for (int k = 1; k < length; ++k)
    {
        const auto t = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(k)]);
        if ((t & 0xC0) != 0x80)
        {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and what lies past U+10FFFF.
    if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF))
    {
        ++pos;
        return 0xFFFD;
    }
    pos += static_cast<std::size_t>(length);
    return c;
}

std::size_t SequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
}

// The first bytes of a character that the end of the text cut off.
bool CutCharacter(std::string_view tail)
{
    const std::size_t length = SequenceLength(static_cast<unsigned char>(tail[0]));
    if (length < 2 || tail.size() >= length)
        return false;
    for (std::size_t k = 1; k < tail.size(); ++k)
        if ((static_cast<unsigned char>(tail[k]) & 0xC0) != 0x80)
            return false;
    return true;
}

bool IsBlank(char32_t c)
{
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Spacers and direction marks: nothing to see, and a direction override
// could make the rest of a line read backwards.
bool IsInvisible(char32_t c)
{
    return c == 0xAD || c == 0x34F || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF;
}

} // namespace

std::string CollapsedText(std::string_view utf8, std::size_t maxChars)
{
    std::string out;
    std::size_t count = 0;
    bool blank = false;
    for (std::size_t pos = 0; pos < utf8.size();)
    {
        const char32_t c = NextCharacter(utf8, pos);
        if (IsInvisible(c))
            continue;
        if (IsBlank(c))
        {
            blank = !out.empty();
            continue;
        }
        if (maxChars == 0)
            return {};
        if (count + (blank ? 2 : 1) > maxChars)
        {
            // Cut: the last character place takes the ellipsis.
            if (count >= maxChars)
            {
                std::size_t end = out.size();
                do
                    --end;
                while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80);
                out.erase(end);
            }
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            AppendUtf8(out, 0x2026);
            return out;
        }
        if (blank)
        {
            out += ' ';
            ++count;
            blank = false;
        }
        AppendUtf8(out, c);
        ++count;
    }
    return out;
}

bool IsUtf8PastAscii(std::string_view bytes)
{
    bool past = false;
    for (std::size_t pos = 0; pos < bytes.size();)
    {
        const std::size_t at = pos;
        const char32_t c = NextCharacter(bytes, pos);
        // U+FFFD itself takes three bytes; one is a byte that is no character.
        if (c == 0xFFFD && pos - at == 1)
            return past && CutCharacter(bytes.substr(at));
        past = past || c >= 0x80;
    }
    return past;
}

#include "mail/EncodedWords.h"

#include "mail/Base64Digit.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/RecentValues.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <tuple>

using namespace AsciiText;

namespace
{

constexpr auto npos = std::string::npos;

bool IsWhitespace(char c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '\t';
}

std::string DecodeQ(std::string_view data)
{
    std::string out;
    out.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i)
    {
        // Letters and digits stand for themselves: taken as one run.
        std::size_t run = i;
        while (run < data.size() && data[run] != '_' && data[run] != '=')
            ++run;
        if (run > i)
        {
            out.append(data.substr(i, run - i));
            i = run;
            if (i == data.size())
                break;
        }
        const char c = data[i];
        if (c == '_')
            out += ' ';
        else if (c == '=' && i + 2 < data.size())
        {
            const int hi = AsciiText::HexDigitValue(data[i + 1]);
            const int lo = AsciiText::HexDigitValue(data[i + 2]);
            if (hi < 0 || lo < 0)
                throw EConvertError("'" + std::string(data.substr(i + 1, 2)) + "' is not a valid integer value");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        else
            out += c;
    }
    return out;
}

int Base64Value(char c)
{
    // Padding and stray characters count as zero bits.
    const int digit = Base64Digit(c);
    return digit < 0 ? 0 : digit;
}

std::string DecodeBase64(std::string_view data)
{
    const std::size_t groups = data.size() / 4;
    std::string out;
    out.reserve(groups * 3);
    for (std::size_t g = 0; g < groups; ++g)
    {
        const char* q = data.data() + g * 4;
        const unsigned v = (static_cast<unsigned>(Base64Value(q[0])) << 18) |
                           (static_cast<unsigned>(Base64Value(q[1])) << 12) |
                           (static_cast<unsigned>(Base64Value(q[2])) << 6) |
                           static_cast<unsigned>(Base64Value(q[3]));
        out += static_cast<char>((v >> 16) & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
        out += static_cast<char>(v & 0xFF);
    }
    if (groups > 0)
    {
        const char* last = data.data() + (groups - 1) * 4;
        if (last[3] == '=')
            out.pop_back();
        if (last[3] == '=' && last[2] == '=')
            out.pop_back();
    }
    return out;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Mail often labels windows-1252 text as ISO-8859-1 (and windows-1254 as
// ISO-8859-9); reading the labels as the supersets keeps such characters.
// Windows names become the CP names the desktop code page uses. A language
// suffix ("*en") is dropped.
std::string ResolveCharset(const std::string& charset)
{
    const std::string name = UpperCase(charset.substr(0, charset.find('*')));
    if (name == "ISO-8859-1" || name == "ISO8859-1" || name == "ISO_8859-1")
        return "CP1252";
    if (name == "ISO-8859-9" || name == "ISO8859-9" || name == "ISO_8859-9")
        return "CP1254";
    if (StartsWith(name, "WINDOWS-"))
        return "CP" + name.substr(8);
    return name;
}

// The labels of one mailbox are few, so each thread keeps the last ones.
const std::string& SourceCharset(const std::string& charset)
{
    thread_local TRecentValues<std::string, std::string, 4> names;
    return *names.Get(charset, [&] { return std::make_unique<std::string>(ResolveCharset(charset)); });
}

// Charsets that hold ASCII as ASCII: text of ASCII bytes needs no conversion.
bool AsciiCompatible(const std::string& name)
{
    return StartsWith(name, "CP") || StartsWith(name, "ISO-8859") || StartsWith(name, "ISO8859") ||
           StartsWith(name, "ISO_8859") || StartsWith(name, "KOI8");
}

// Charsets of one byte per character with no state. CP1258 is not among
// them: iconv joins its accents to the letter before.
bool SingleByteCharset(const std::string& name)
{
    return StartsWith(name, "ISO-8859-") || StartsWith(name, "ISO8859-") || StartsWith(name, "ISO_8859-") ||
           StartsWith(name, "KOI8-") ||
           (name.size() == 6 && StartsWith(name, "CP125") && name[5] >= '0' && name[5] <= '7');
}

// What each byte of a single-byte charset becomes in a code page, found once
// through iconv: such a charset converts byte by byte, so the table gives
// what iconv gives for the whole word, at a fraction of the cost of a call.
struct ByteTable
{
    bool Known = false; // iconv knows the pair
    bool Bad[256] = {};
    // The byte stays itself, as ASCII does in most pairs.
    bool Same[256] = {};
    std::string Out[256];
};

// The table for the pair; each thread keeps the last few it used, as
// charset names come from mail.
const ByteTable& TableFor(const std::string& from, const std::string& to)
{
    thread_local TRecentValues<std::tuple<std::string, std::string>, ByteTable, 8> tables;
    return *tables.Get(std::tie(from, to), [&] {
        auto table = std::make_unique<ByteTable>();
        std::string none;
        table->Known = ConvertCharset({}, from, to, none);
        for (int b = 0; table->Known && b < 256; ++b)
        {
            table->Bad[b] = !ConvertCharset(std::string(1, static_cast<char>(b)), from, to, table->Out[b]);
            table->Same[b] = table->Out[b] == std::string(1, static_cast<char>(b));
        }
        return table;
    });
}

// False when a byte has no place in the code page, as for ConvertCharset.
bool ConvertByTable(const std::string& bytes, const ByteTable& table, std::string& out)
{
    if (!table.Known)
        return false;
    out.clear();
    out.reserve(bytes.size());
    for (char c : bytes)
    {
        const unsigned char b = static_cast<unsigned char>(c);
        if (table.Bad[b])
            return false;
        if (table.Same[b])
            out += c;
        else
            out += table.Out[b];
    }
    return true;
}

bool IsUtf8(const std::string& codePage)
{
    return SameText(codePage, "UTF-8") || SameText(codePage, "UTF8");
}

// Bytes kept as they came, or read as Windows-1252 where they are no text of
// the code page.
std::string KeptBytes(const std::string& bytes, const std::string& codePage);

// `translit` is the code page's iconv name with "//TRANSLIT".
std::string ToCodePage(const std::string& bytes, const std::string& charset, const std::string& codePage,
                       const std::string& translit)
{
    if (codePage.empty() || bytes.empty())
        return bytes;
    const std::string& from = SourceCharset(charset);
    if (SameText(from, codePage))
        return bytes;
    if (AsciiCompatible(from) &&
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
    std::string out;
    // Code pages and UTF-8 hold no shift state, so bytes can go one at a time.
    const bool byTable =
        SingleByteCharset(from) && (StartsWith(codePage, "CP") || StartsWith(codePage, "cp") || IsUtf8(codePage));
    if (byTable ? ConvertByTable(bytes, TableFor(from, translit), out) : ConvertCharset(bytes, from, translit, out))
        return out;
    // A byte the superset leaves unassigned is a control of the label's own.
    const std::string label = UpperCase(charset.substr(0, charset.find('*')));
    if (label != from && ConvertCharset(bytes, label, translit, out))
        return out;
    return KeptBytes(bytes, codePage);
}

// Charsets found through the first three markers keep their own rules; any
// other charset (UTF-8, US-ASCII, whatever iconv knows) is decoded only when
// there is a code page to convert to.
bool OldMarker(const std::string& up, std::size_t at)
{
    // A few bytes each: compared here rather than through calls.
    auto startsAt = [&](std::string_view marker) {
        if (up.size() - std::min(at, up.size()) < marker.size())
            return false;
        for (std::size_t k = 0; k < marker.size(); ++k)
            if (up[at + k] != marker[k])
                return false;
        return true;
    };
    return startsAt("=?ISO") || startsAt("=?WINDOWS") || startsAt("=?KOI8");
}

// A word of another charset, converted without transliteration: false when
// the charset is unknown or the code page cannot hold every character, and
// the word stays as it came.
bool StrictToCodePage(const std::string& bytes, const std::string& charset, const std::string& codePage,
                      std::string& out)
{
    const std::string from = SourceCharset(charset);
    // iconv reads an empty name as the locale's charset.
    if (from.empty())
        return false;
    if (SameText(from, codePage))
    {
        out = bytes;
        return true;
    }
    return ConvertCharsetCleanly(bytes, from, codePage, out);
}

bool HasEightBit(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size())
    {
        const unsigned c = static_cast<unsigned char>(text[i]);
        std::size_t more;
        unsigned min;
        unsigned value;
        if (c < 0x80)
        {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            more = 1, min = 0x80, value = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            more = 2, min = 0x800, value = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            more = 3, min = 0x10000, value = c & 0x07;
        else
            return false;
        if (text.size() - i <= more)
            return false;
        for (std::size_t k = 1; k <= more; ++k)
        {
            const unsigned t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            value = (value << 6) | (t & 0x3F);
        }
        if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

// What each byte of Windows-1252 is in UTF-8. Its five unassigned bytes are
// read as the C1 controls of the same number, as ISO-8859-1 has them.
const std::string& Cp1252Byte(unsigned char b)
{
    static const auto table = [] {
        auto t = std::make_unique<std::string[]>(256);
        for (int c = 0; c < 256; ++c)
        {
            const std::string byte(1, static_cast<char>(c));
            if (!ConvertCharsetCleanly(byte, "CP1252", "UTF-8", t[c]))
                t[c] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        }
        return t;
    }();
    return table[b];
}

// Bytes read as Windows-1252, the commonest legacy of mail, in the code page
// (characters it lacks are transliterated or become '?').
std::string FromWindows1252(const std::string& bytes, const std::string& codePage)
{
    std::string utf8;
    utf8.reserve(bytes.size() * 2);
    for (char c : bytes)
        utf8 += Cp1252Byte(static_cast<unsigned char>(c));
    if (IsUtf8(codePage))
        return utf8;
    std::string out;
    ConvertCharset(utf8, "UTF-8", codePage + "//TRANSLIT", out);
    return out;
}

// Whether 8-bit bytes are text of the code page as they stand.
bool ValidIn(const std::string& bytes, const std::string& codePage)
{
    if (codePage.empty() || !HasEightBit(bytes))
        return true;
    if (IsUtf8(codePage))
        return ValidUtf8(bytes);
    std::string scratch;
    return ConvertCharsetCleanly(bytes, codePage, "UTF-8", scratch);
}

// Bytes kept as they came: read as Windows-1252 when they are no text of the
// code page, so what reaches a widget is text.
std::string KeptBytes(const std::string& bytes, const std::string& codePage)
{
    return ValidIn(bytes, codePage) ? bytes : FromWindows1252(bytes, codePage);
}

// Raw 8-bit text, run by run between whitespace. In a legacy code page, text
// that is valid UTF-8 as a whole is read as UTF-8 and each run converted (a
// run the code page cannot hold stays as it came). A run that is still no
// text of the code page is read as Windows-1252.
std::string RawToCodePage(const std::string& text, const std::string& codePage)
{
    if (codePage.empty() || !HasEightBit(text))
        return text;
    const bool utf8 = IsUtf8(codePage);
    if (utf8 && ValidUtf8(text))
        return text;
    const bool fromUtf8 = !utf8 && ValidUtf8(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        if (IsWhitespace(text[i]))
        {
            out += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsWhitespace(text[end]))
            ++end;
        const std::string run = text.substr(i, end - i);
        std::string converted;
        if (HasEightBit(run) && fromUtf8 && StrictToCodePage(run, "UTF-8", codePage, converted))
            out += converted;
        else
            out += KeptBytes(run, codePage);
        i = end;
    }
    return out;
}

// C0 controls but tab, and DEL: the same bytes in every code page a locale
// can have.
bool IsControlByte(char c)
{
    return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F';
}

// C1 controls (U+0080 to U+009F) in UTF-8 become spaces.
std::string BlankC1InUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (text[i] == '\xC2' && next >= 0x80 && next <= 0x9F)
        {
            out += ' ';
            ++i;
        }
        else
            out += text[i];
    }
    return out;
}

// Control characters other than tab (C0, DEL and C1) become spaces: they
// would reach the rows, the notification and a command's arguments, where
// an escape sequence recolours the terminal of a script that prints them.
void BlankControls(std::string& text, const std::string& codePage)
{
    std::replace_if(text.begin(), text.end(), IsControlByte, ' ');
    if (codePage.empty() || !HasEightBit(text))
        return;
    if (IsUtf8(codePage))
    {
        if (text.find('\xC2') != npos)
            text = BlankC1InUtf8(text);
        return;
    }
    // Where a legacy code page has C1 controls depends on the page, but each
    // of them puts a byte from 0x80 to 0x9F into one.
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F; }))
        return;
    std::string utf8;
    if (!ConvertCharsetCleanly(text, codePage, "UTF-8", utf8) || utf8.find('\xC2') == npos)
        return;
    const std::string blanked = BlankC1InUtf8(utf8);
    std::string back;
    if (blanked != utf8 && ConvertCharsetCleanly(blanked, "UTF-8", codePage, back))
        text = std::move(back);
}

// The first occurrence of a pattern (or of any character of a set) at or after
// a position, remembered between calls. The decoder's searches move forward,
// so each stretch of text is scanned about once instead of once per candidate.
class TFinder
{
public:
    // `pattern` is a literal: six finders are made for every decoded value.
    TFinder(const std::string& text, std::string_view pattern, bool anyOf)
        : FText(text), FPattern(pattern), FAnyOf(anyOf)
    {
        for (std::size_t i = 0; i < FPattern.size(); ++i)
        {
            FHighest = std::max(FHighest, static_cast<unsigned char>(FPattern[i]));
            if (!FAnyOf && FPattern[i] == '?' && FAnchor == 0)
                FAnchor = i;
        }
    }

    std::size_t From(std::size_t pos)
    {
        if (!FValid || pos < FFrom || (FAt != npos && pos > FAt))
        {
            FFrom = pos;
            FAt = Search(pos, FText.size());
            FValid = true;
        }
        return FAt;
    }

    // [a, b) of the text was overwritten; later searches start beyond a.
    void Rewritten(std::size_t a, std::size_t b)
    {
        const std::size_t start = a + 1;
        const std::size_t hit = Search(start, b);
        if (hit != npos)
        {
            FFrom = start;
            FAt = hit;
            FValid = true;
        }
        else if (FValid && FFrom <= b && (FAt == npos || FAt >= b))
            FFrom = start; // what lies from b on is unchanged, and so is the answer
        else
            FValid = false;
    }

private:
    // First occurrence starting in [pos, limit).
    std::size_t Search(std::size_t pos, std::size_t limit) const
    {
        if (pos >= limit)
            return npos;
        if (FAnyOf)
        {
            // find_first_of would look each character up in the set with a
            // call of its own; the sets here are a few characters.
            const std::size_t end = std::min(FText.size(), limit);
            for (std::size_t i = pos; i < end; ++i)
            {
                if (static_cast<unsigned char>(FText[i]) > FHighest)
                    continue;
                for (char c : FPattern)
                    if (FText[i] == c)
                        return i;
            }
            return npos;
        }
        const std::size_t n = FPattern.size();
        const std::size_t end = std::min(FText.size(), limit + n - 1);
        if (end < pos + n)
            return npos;
        // Found by the pattern's '?': Q-encoded text is full of '=' but holds
        // '?' only where a word is delimited.
        const std::size_t lastStart = end - n;
        const char key = FPattern[FAnchor];
        const char* base = FText.data();
        std::size_t at = pos + FAnchor;
        while (at <= lastStart + FAnchor)
        {
            const void* hit = std::memchr(base + at, key, lastStart + FAnchor + 1 - at);
            if (!hit)
                return npos;
            const std::size_t start = static_cast<std::size_t>(static_cast<const char*>(hit) - base) - FAnchor;
            // A few bytes: a loop costs less than a call.
            std::size_t k = 0;
            while (k < n && base[start + k] == FPattern[k])
                ++k;
            if (k == n)
                return start;
            at = start + FAnchor + 1;
        }
        return npos;
    }

    const std::string& FText;
    const std::string_view FPattern;
    const bool FAnyOf;
    // Where the pattern's first '?' is, the byte searched for.
    std::size_t FAnchor = 0;
    // The highest code in the set: most text lies above a set of blanks.
    unsigned char FHighest = 0;
    bool FValid = false;
    std::size_t FFrom = 0;
    std::size_t FAt = npos;
};

} // namespace

std::string JisToShiftJis(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    bool doubleByte = false;
    std::size_t i = 0;
    while (i < text.size())
    {
        if (text[i] == '\x1B')
        {
            if (i + 2 < text.size())
            {
                if (text[i + 1] == '$' && text[i + 2] == 'B')
                    doubleByte = true;
                else if (text[i + 1] == '(' && text[i + 2] == 'B')
                    doubleByte = false;
                i += 3;
            }
            else
                ++i;
            continue;
        }
        if (!doubleByte)
        {
            out += text[i++];
            continue;
        }
        if (i + 1 >= text.size())
            break; // half a character
        const unsigned j1 = static_cast<unsigned char>(text[i]);
        const unsigned j2 = static_cast<unsigned char>(text[i + 1]);
        i += 2;
        const unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
        unsigned s2;
        if (j1 % 2 == 1)
            s2 = j2 + (j2 <= 0x5F ? 0x1F : 0x20);
        else
            s2 = j2 + 0x7E;
        out += static_cast<char>(s1 & 0xFF);
        out += static_cast<char>(s2 & 0xFF);
    }
    return out;
}

std::string DecodeEncodedWords(const std::string& text)
{
    return DecodeEncodedWords(text, DesktopCodePage());
}

namespace
{

// `keepBad`: a word that cannot be decoded stays as it came instead of
// raising.
std::string DecodeWords(const std::string& text, const std::string& codePage, bool keepBad)
{
    // The text is rewritten in place: a decoded word is never longer than the
    // word it replaces, so it is put right-aligned where the word ended and
    // positions after it do not move. What lies before `cur` is final and has
    // gone to `out`. `up` is the upper-cased twin in which markers are found.
    // Most header values hold no encoded word and no 8-bit byte: nothing
    // to decode, convert or remove.
    if (text.find("=?") == npos && !HasEightBit(text) &&
        std::none_of(text.begin(), text.end(), IsControlByte))
        return text;
    // The conversion target, made once per code page and thread.
    thread_local std::string lastPage;
    thread_local std::string translit = "//TRANSLIT";
    if (codePage != lastPage)
    {
        lastPage = codePage;
        translit = codePage + "//TRANSLIT";
    }

    std::string buf = RawToCodePage(text, codePage);
    std::string up = UpperCase(buf);
    std::string out;
    out.reserve(text.size());
    std::size_t cur = 0;

    TFinder iso(up, "=?ISO", false);
    TFinder windows(up, "=?WINDOWS", false);
    TFinder koi8(up, "=?KOI8", false);
    TFinder close(up, "?=", false);
    TFinder white(up, " \t\r\n", true);
    TFinder other(up, "=?", false);
    // Words of other charsets, only with a code page to convert them to.
    auto otherFrom = [&](std::size_t from) {
        std::size_t s = codePage.empty() ? npos : other.From(from);
        while (s != npos && OldMarker(up, s))
            s = other.From(s + 1);
        return s;
    };
    // Fall-back order among the three, not the earliest of them; a word of
    // another charset is taken where it comes first.
    auto candidate = [&](std::size_t from) {
        std::size_t s = iso.From(from);
        if (s == npos)
            s = windows.From(from);
        if (s == npos)
            s = koi8.From(from);
        return std::min(s, otherFrom(from));
    };

    std::size_t prevEnd = npos; // just after the previous decoded word
    std::size_t s = candidate(0);
    while (s != npos)
    {
        const bool old = OldMarker(up, s);
        const std::size_t q1 = up.find('?', s + (old ? 5 : 2));
        const std::size_t q2 = q1 == npos ? npos : up.find('?', q1 + 1);
        const std::size_t q3 = q2 == npos ? npos : close.From(q2 + 1);
        if (q3 == npos || white.From(s) < q3)
        {
            prevEnd = npos;
            s = candidate(s + 1);
            continue;
        }

        const std::string charset = buf.substr(s + 2, q1 - s - 2);
        const char letter = buf[q1 + 1];
        // Read before the word's place in `buf` is written.
        const std::string_view data = std::string_view(buf).substr(q2 + 1, q3 - q2 - 1);
        std::string word;
        try
        {
            word = letter == 'Q' || letter == 'q' ? DecodeQ(data) : DecodeBase64(data);
        }
        catch (const EConvertError&)
        {
            if (!keepBad)
                throw;
            prevEnd = npos;
            s = candidate(s + 1);
            continue;
        }
        if (!old)
        {
            std::string converted;
            if (!StrictToCodePage(word, charset, codePage, converted))
            {
                prevEnd = npos;
                s = candidate(s + 1);
                continue;
            }
            word = std::move(converted);
        }
        else if (SameText(charset, "ISO-2022-JP"))
            word = ToCodePage(JisToShiftJis(word), "CP932", codePage, translit);
        else
            word = ToCodePage(word, charset, codePage, translit);

        // Whitespace between two encoded words goes.
        std::size_t keep = s;
        if (prevEnd != npos && prevEnd <= s &&
            std::all_of(buf.begin() + static_cast<std::ptrdiff_t>(prevEnd),
                        buf.begin() + static_cast<std::ptrdiff_t>(s), IsWhitespace))
            keep = prevEnd;
        out.append(buf, cur, keep - cur);

        const std::size_t end = q3 + 2;
        std::size_t next;
        if (word.size() <= end - s)
        {
            // The decoded text is searched again from its second character on.
            cur = end - word.size();
            std::copy(word.begin(), word.end(), buf.begin() + static_cast<std::ptrdiff_t>(cur));
            std::transform(word.begin(), word.end(), up.begin() + static_cast<std::ptrdiff_t>(cur), UpperChar);
            for (TFinder* f : {&iso, &windows, &koi8, &close, &white, &other})
                f->Rewritten(cur, end);
            next = cur + 1;
        }
        else
        {
            // Grown by the conversion: not searched again, so that no text can
            // make the decoding go on for ever.
            out += word;
            cur = end;
            next = end;
        }
        prevEnd = end;
        s = candidate(next);
    }
    out.append(buf, cur, npos);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    BlankControls(out, codePage);
    return out;
}

} // namespace

std::string DecodeEncodedWords(const std::string& text, const std::string& codePage)
{
    return DecodeWords(text, codePage, false);
}

std::string DecodeEncodedWordsKeepingBad(const std::string& text)
{
    return DecodeWords(text, DesktopCodePage(), true);
}

// Encoded-word decoding: any text gives a result or a conversion error. The
// decoder works in place with remembered searches; without a code page its
// result must equal that of a plain, slow rewrite loop over the whole text.
// With one, a UTF-8 word made of the input's bytes is either converted
// exactly or left exactly as it came, and ASCII text without words passes.
#include "mail/EncodedWords.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

constexpr auto npos = std::string::npos;

bool IsWhite(char c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '\t';
}

bool AnyWhite(const std::string& t, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (IsWhite(t[i]))
            return true;
    return false;
}

int Hex(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ReferenceQ(const std::string& d)
{
    std::string out;
    for (std::size_t i = 0; i < d.size(); ++i)
    {
        if (d[i] == '_')
            out += ' ';
        else if (d[i] == '=' && d.size() - i >= 3)
        {
            if (Hex(d[i + 1]) < 0 || Hex(d[i + 2]) < 0)
                throw EConvertError("bad hex");
            out += static_cast<char>(Hex(d[i + 1]) * 16 + Hex(d[i + 2]));
            i += 2;
        }
        else
            out += d[i];
    }
    return out;
}

std::string ReferenceB(const std::string& d)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    const std::size_t groups = d.size() / 4;
    for (std::size_t g = 0; g < groups; ++g)
    {
        unsigned v = 0;
        for (int k = 0; k < 4; ++k)
        {
            const std::size_t at = alphabet.find(d[g * 4 + k]);
            v = v * 64 + (at == npos ? 0 : static_cast<unsigned>(at));
        }
        out += static_cast<char>(v >> 16);
        out += static_cast<char>((v >> 8) & 0xFF);
        out += static_cast<char>(v & 0xFF);
        if (g + 1 == groups && d[g * 4 + 3] == '=')
            out.erase(out.size() - (d[g * 4 + 2] == '=' ? 2 : 1));
    }
    return out;
}

std::size_t NextCandidate(const std::string& t, std::size_t from)
{
    const std::string up = AsciiText::UpperCase(t);
    std::size_t s = up.find("=?ISO", from);
    if (s == npos)
        s = up.find("=?WINDOWS", from);
    if (s == npos)
        s = up.find("=?KOI8", from);
    return s;
}

// The decoding loop as plainly as it can be written: edit the text and search
// the whole of it again every time.
// Controls other than tab (C0 and DEL) become spaces; without a code page,
// or in Windows-1252, there are no C1 controls to find.
std::string BlankControls(std::string t)
{
    for (char& c : t)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
            c = ' ';
    return t;
}

std::string Reference(std::string t)
{
    std::size_t prevEnd = npos;
    std::size_t s = NextCandidate(t, 0);
    while (s != npos)
    {
        bool decoded = false;
        const std::size_t q1 = t.find('?', s + 5);
        const std::size_t q2 = q1 == npos ? npos : t.find('?', q1 + 1);
        const std::size_t q3 = q2 == npos ? npos : t.find("?=", q2 + 1);
        if (q3 != npos && !AnyWhite(t, s, q3))
        {
            const std::string charset = t.substr(s + 2, q1 - s - 2);
            const char letter = t[q1 + 1];
            const std::string data = t.substr(q2 + 1, q3 - q2 - 1);
            std::size_t end = q3 + 2;
            bool allWhite = prevEnd != npos && prevEnd <= s;
            for (std::size_t i = prevEnd; allWhite && i < s; ++i)
                allWhite = IsWhite(t[i]);
            if (allWhite)
            {
                t.erase(prevEnd, s - prevEnd);
                end -= s - prevEnd;
                s = prevEnd;
            }
            std::string word = letter == 'Q' || letter == 'q' ? ReferenceQ(data) : ReferenceB(data);
            if (AsciiText::SameText(charset, "ISO-2022-JP"))
                word = JisToShiftJis(word);
            t.replace(s, end - s, word);
            prevEnd = s + word.size();
            decoded = true;
        }
        if (!decoded)
            prevEnd = npos;
        s = NextCandidate(t, s + 1);
    }
    std::string out;
    for (const char c : t)
        if (c != '\0')
            out += c;
    return BlankControls(out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string raw;
    bool rawFailed = false;
    try
    {
        raw = DecodeEncodedWords(text, "");
        // Without conversion a decoded word never outgrows its encoded form.
        if (raw.size() > text.size() || raw.find('\0') != npos)
            std::abort();
    }
    catch (const EConvertError&)
    {
        rawFailed = true;
    }
    std::string expected;
    bool expectedFailed = false;
    try
    {
        expected = Reference(text);
    }
    catch (const EConvertError&)
    {
        expectedFailed = true;
    }
    if (rawFailed != expectedFailed || (!rawFailed && raw != expected))
        std::abort();

    try
    {
        const std::string converted = DecodeEncodedWords(text, "CP1252");
        if (converted.find('\0') != npos)
            std::abort();
    }
    catch (const EConvertError&)
    {
    }
    try
    {
        const std::string converted = DecodeEncodedWords(text, "UTF-8");
        if (converted.find('\0') != npos)
            std::abort();
    }
    catch (const EConvertError&)
    {
    }

    // The input's first bytes as one Q-encoded UTF-8 word between plain text.
    const std::string bytes = text.substr(0, 24);
    std::string word = "=?UTF-8?Q?";
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : bytes)
    {
        word += '=';
        word += hex[static_cast<unsigned char>(c) >> 4];
        word += hex[static_cast<unsigned char>(c) & 15];
    }
    word += "?=";
    std::string strict;
    const bool fits = ConvertCharset(bytes, "UTF-8", "CP1252", strict);
    std::string want = "a " + (fits ? strict : word) + " z";
    want.erase(std::remove(want.begin(), want.end(), '\0'), want.end());
    want = BlankControls(want);
    // A converted word is searched again: only compare when it holds no marker.
    if ((!fits || strict.find("=?") == npos) && DecodeEncodedWords("a " + word + " z", "CP1252") != want)
        std::abort();

    bool plain = text.find("=?") == npos;
    for (const char c : text)
        plain = plain && static_cast<unsigned char>(c) < 0x80;
    if (plain)
    {
        std::string stripped = text;
        stripped.erase(std::remove(stripped.begin(), stripped.end(), '\0'), stripped.end());
        if (DecodeEncodedWords(text, "CP1252") != BlankControls(stripped))
            std::abort();
    }

    if (JisToShiftJis(text).size() > text.size())
        std::abort();
    return 0;
}

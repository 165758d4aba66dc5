#include "mail/ModifiedUtf7.h"

#include "platform/CodePage.h"

namespace
{

const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int ValueOf(char c)
{
    for (int i = 0; i < 64; ++i)
        if (Alphabet[i] == c)
            return i;
    return -1;
}

bool Printable(char16_t c)
{
    return c >= 0x20 && c <= 0x7e;
}

void EncodeRun(const std::u16string& run, std::string& out)
{
    std::string bytes;
    for (char16_t c : run)
    {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xff);
    }
    out += '&';
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3)
    {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16)
                           | (static_cast<unsigned char>(bytes[i + 1]) << 8)
                           | static_cast<unsigned char>(bytes[i + 2]);
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        out += Alphabet[(v >> 6) & 63];
        out += Alphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left == 1)
    {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
    }
    else if (left == 2)
    {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16)
                           | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        out += Alphabet[(v >> 6) & 63];
    }
    out += '-';
}

} // namespace

std::string TIdMUTF7::EncodeUtf16(const std::u16string& name)
{
    std::string out;
    std::u16string run;
    for (char16_t c : name)
    {
        if (Printable(c))
        {
            if (!run.empty())
            {
                EncodeRun(run, out);
                run.clear();
            }
            out += c == u'&' ? std::string("&-") : std::string(1, static_cast<char>(c));
        }
        else
        {
            run += c;
        }
    }
    if (!run.empty())
        EncodeRun(run, out);
    return out;
}

bool TIdMUTF7::DecodeUtf16(const std::string& text, std::u16string& name)
{
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (c != '&')
        {
            if (c < 0x20 || c > 0x7e)
                return false;
            name += static_cast<char16_t>(c);
            continue;
        }
        const std::size_t end = text.find('-', i + 1);
        if (end == std::string::npos)
            return false;
        if (end == i + 1)
        {
            name += u'&';
            i = end;
            continue;
        }
        unsigned bits = 0;
        int count = 0;
        std::string bytes;
        for (std::size_t j = i + 1; j < end; ++j)
        {
            const int v = ValueOf(text[j]);
            if (v < 0)
                return false;
            bits = (bits << 6) | static_cast<unsigned>(v);
            count += 6;
            if (count >= 8)
            {
                count -= 8;
                bytes += static_cast<char>((bits >> count) & 0xff);
            }
        }
        // Left-over bits must be padding zeros, and the bytes whole code units.
        if (count >= 6 || (bits & ((1u << count) - 1)) != 0 || bytes.empty() || bytes.size() % 2 != 0)
            return false;
        for (std::size_t k = 0; k < bytes.size(); k += 2)
            name += static_cast<char16_t>((static_cast<unsigned char>(bytes[k]) << 8)
                                          | static_cast<unsigned char>(bytes[k + 1]));
        i = end;
    }
    return true;
}

bool TIdMUTF7::Encode(const std::string& name, std::string& encoded)
{
    std::string utf16;
    if (!ConvertCharset(name, DesktopCodePage(), "UTF-16BE", utf16))
        return false;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2)
        units += static_cast<char16_t>((static_cast<unsigned char>(utf16[i]) << 8)
                                       | static_cast<unsigned char>(utf16[i + 1]));
    encoded = EncodeUtf16(units);
    return true;
}

bool TIdMUTF7::Decode(const std::string& text, std::string& name)
{
    std::u16string units;
    if (!DecodeUtf16(text, units))
        return false;
    std::string utf16;
    for (char16_t c : units)
    {
        utf16 += static_cast<char>(c >> 8);
        utf16 += static_cast<char>(c & 0xff);
    }
    return ConvertCharset(utf16, "UTF-16BE", DesktopCodePage(), name);
}

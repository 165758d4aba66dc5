#pragma once

#include <string>
#include <string_view>

// Text helpers for 8-bit protocol and file text: blanks are the codes 0 to
// 32, and casing touches the ASCII letters only, so bytes above 127 pass
// through whatever code page they are in.
namespace AsciiText
{

inline bool IsBlank(char c)
{
    return static_cast<unsigned char>(c) <= 32;
}

inline char UpperChar(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Trim(const std::string& s)
{
    std::string::size_type first = 0;
    std::string::size_type last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

// Trims spaces and tabs only: for text where other control characters are
// content (a line break kept inside a value).
inline std::string TrimSpacesAndTabs(const std::string& s)
{
    std::string::size_type first = 0;
    std::string::size_type last = s.size();
    while (first < last && (s[first] == ' ' || s[first] == '\t'))
        ++first;
    while (last > first && (s[last - 1] == ' ' || s[last - 1] == '\t'))
        --last;
    return s.substr(first, last - first);
}

inline std::string TrimLeft(const std::string& s)
{
    std::string::size_type first = 0;
    while (first < s.size() && IsBlank(s[first]))
        ++first;
    return s.substr(first);
}

// Trim without a copy.
inline void TrimInPlace(std::string& s)
{
    std::string::size_type last = s.size();
    while (last > 0 && IsBlank(s[last - 1]))
        --last;
    s.resize(last);
    std::string::size_type first = 0;
    while (first < s.size() && IsBlank(s[first]))
        ++first;
    s.erase(0, first);
}

inline std::string UpperCase(std::string s)
{
    for (char& c : s)
        c = UpperChar(c);
    return s;
}

inline std::string LowerCase(std::string s)
{
    for (char& c : s)
        c = LowerChar(c);
    return s;
}

// 0 to 15 for a hexadecimal digit in either case, -1 for anything else.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerChar(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Everything but RFC 3986's unreserved characters as %XX, whatever the
// locale says a letter is.
inline std::string PercentEncoded(std::string_view text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text)
    {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~')
            out += static_cast<char>(c);
        else
        {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

// Equal but for the case of ASCII letters.
inline bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i]))
            return false;
    return true;
}

} // namespace AsciiText

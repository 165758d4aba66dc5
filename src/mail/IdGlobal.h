#pragma once

#include <string>
#include <vector>

// Small shared types and text helpers of the mail library. Protocol text is
// 8-bit bytes; nothing here looks at character sets.

using TIdStrings = std::vector<std::string>;

enum TIdIPVersion
{
    Id_IPv4,
    Id_IPv6
};

// What a line read does with a line longer than the limit.
enum TIdMaxLineAction
{
    maException,
    maSplit
};

// Connection status, for an optional observer.
enum TIdStatus
{
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected
};

// Removes leading and trailing characters with codes 0 to 32.
inline std::string Trim(const std::string& s)
{
    std::string::size_type first = 0;
    std::string::size_type last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= 32)
        ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= 32)
        --last;
    return s.substr(first, last - first);
}

// Trim without a copy.
inline void TrimInPlace(std::string& s)
{
    std::string::size_type last = s.size();
    while (last > 0 && static_cast<unsigned char>(s[last - 1]) <= 32)
        --last;
    s.resize(last);
    std::string::size_type first = 0;
    while (first < s.size() && static_cast<unsigned char>(s[first]) <= 32)
        ++first;
    s.erase(0, first);
}

// Upper-cases the ASCII letters only; other bytes stay as they are.
inline std::string UpperCase(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// Compares without regard to the case of ASCII letters.
inline bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::string::size_type i = 0; i < a.size(); ++i)
    {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

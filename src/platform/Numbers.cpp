#include "platform/Numbers.h"

#include "platform/AsciiText.h"
#include "platform/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace
{

[[noreturn]] void NotAnInteger(const std::string& text)
{
    throw EConvertError("'" + text + "' is not a valid integer value");
}

} // namespace

namespace
{

bool TryDecimalToInt64(const std::string& text, long long& value)
{
    std::size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() == start || text.find_first_not_of("0123456789", start) != std::string::npos)
        return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return false;
    value = v;
    return true;
}

} // namespace

bool TryDecimalToInt(const std::string& text, int& value)
{
    long long v = 0;
    if (!TryDecimalToInt64(text, v) || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

int64_t DecimalToInt64(const std::string& text)
{
    long long value = 0;
    if (!TryDecimalToInt64(text, value))
        NotAnInteger(text);
    return value;
}

int DecimalToInt(const std::string& text)
{
    int value = 0;
    if (!TryDecimalToInt(text, value))
        NotAnInteger(text);
    return value;
}

int32_t DecimalOrHexToInt(const std::string& text)
{
    size_t p = 0;
    while (p < text.size() && text[p] == ' ')
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '-' || text[p] == '+'))
        negative = text[p++] == '-';
    int base = 10;
    if (p < text.size() && text[p] == '$')
    {
        base = 16;
        ++p;
    }
    else if (p + 1 < text.size() && text[p] == '0' && (text[p + 1] == 'x' || text[p + 1] == 'X'))
    {
        base = 16;
        p += 2;
    }
    if (p >= text.size())
        NotAnInteger(text);
    long long value = 0;
    for (; p < text.size(); ++p)
    {
        const int digit = AsciiText::HexDigitValue(text[p]);
        if (digit < 0 || digit >= base)
            NotAnInteger(text);
        value = value * base + digit;
        if (value > 0x100000000LL)
            NotAnInteger(text);
    }
    if (negative)
        value = -value;
    if (base == 10 && (value > INT32_MAX || value < INT32_MIN))
        NotAnInteger(text);
    // Hexadecimal text may spell any 32-bit pattern.
    if (value > UINT32_MAX || value < INT32_MIN)
        NotAnInteger(text);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

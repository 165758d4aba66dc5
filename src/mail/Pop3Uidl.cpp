#include "mail/Pop3Uidl.h"

#include <climits>

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// msg-number := 1*DIGIT; moves `pos` past the digits. Leading zeros are
// still a decimal; zero and values past int are no message number.
bool ParseMessageNumber(std::string_view text, std::size_t& pos, int& number)
{
    std::size_t at = pos;
    long long value = 0;
    while (at < text.size() && IsDigit(text[at]))
    {
        value = value * 10 + (text[at] - '0');
        // Stop before the value can overflow; the line is refused anyway.
        if (value > INT_MAX)
            return false;
        ++at;
    }
    if (at == pos || value == 0)
        return false;
    number = static_cast<int>(value);
    pos = at;
    return true;
}

} // namespace

bool IsPOP3UniqueId(std::string_view text)
{
    if (text.empty() || text.size() > MaxPOP3UniqueIdLength)
        return false;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    return true;
}

bool ParseUidlLine(std::string_view line, TIdPOP3UidlEntry& entry)
{
    std::size_t pos = 0;
    int number = 0;
    if (!ParseMessageNumber(line, pos, number))
        return false;
    if (pos >= line.size() || line[pos] != ' ')
        return false;
    const std::string_view id = line.substr(pos + 1);
    if (!IsPOP3UniqueId(id))
        return false;
    entry.Number = number;
    entry.Id.assign(id);
    return true;
}

#include "mail/Imap4Idle.h"

#include "mail/Imap4Client.h"
#include "platform/AsciiText.h"

using namespace AsciiText;
using Kind = TIdIMAP4IdleLineKind;

namespace
{

// Splits off the word up to the next space; `rest` is what follows that
// space (empty when there is none).
std::string TakeWord(const std::string& text, std::string& rest)
{
    const std::size_t space = text.find(' ');
    if (space == std::string::npos)
    {
        rest.clear();
        return text;
    }
    rest = text.substr(space + 1);
    return text.substr(0, space);
}

// number SP keyword, after the "* ".
bool ParseNews(const std::string& text, TIdIMAP4IdleLine& out)
{
    std::string rest;
    const std::string number = TakeWord(text, rest);
    std::uint32_t value = 0;
    const bool zero = !number.empty() && number.find_first_not_of('0') == std::string::npos;
    if (!zero && !TryIMAP4Number(number, value))
        return false;
    std::string after;
    const std::string keyword = UpperCase(TakeWord(rest, after));
    if (keyword == "EXISTS" || keyword == "EXPUNGE")
    {
        // An expunged message number is never 0.
        if (!after.empty() || (zero && keyword == "EXPUNGE"))
            return false;
    }
    else if (keyword == "FETCH")
    {
        if (zero || after.empty() || after[0] != '(')
            return false;
    }
    else
        return false;
    out.Kind = Kind::News;
    out.Number = value;
    out.Keyword = keyword;
    return true;
}

} // namespace

TIdIMAP4IdleLine ParseIdleLine(const std::string& line, const std::string& tag)
{
    TIdIMAP4IdleLine out;
    const std::string text = Trim(line);
    if (text.empty())
        return out;
    std::string rest;
    const std::string first = TakeWord(text, rest);
    if (first == "+")
    {
        out.Kind = Kind::Continuation;
        return out;
    }
    if (first == "*")
    {
        std::string after;
        if (SameText(TakeWord(rest, after), "BYE"))
            out.Kind = Kind::Bye;
        else
            ParseNews(rest, out);
        return out;
    }
    if (!tag.empty() && SameText(first, tag))
    {
        std::string after;
        const std::string status = UpperCase(TakeWord(rest, after));
        out.Kind = status == "OK" ? Kind::TaggedOk : status == "NO" ? Kind::TaggedNo : Kind::TaggedBad;
    }
    return out;
}

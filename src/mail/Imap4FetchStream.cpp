#include "mail/Imap4FetchStream.h"

#include "platform/AsciiText.h"

#include <climits>
#include <string_view>

using namespace AsciiText;

namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits as a number; false when there are none or the value passes `limit`.
bool DigitsValue(std::string_view digits, unsigned long long limit, unsigned long long& value)
{
    if (digits.empty())
        return false;
    value = 0;
    for (char c : digits)
    {
        if (!IsDigit(c))
            return false;
        const unsigned d = static_cast<unsigned>(c - '0');
        if (value > (limit - d) / 10)
            return false;
        value = value * 10 + d;
    }
    return true;
}

// Where one response is read, and which of its literals comes next.
struct TCursor
{
    const std::string& Text;
    std::vector<std::string>& Literals;
    std::size_t Pos = 0;
    std::size_t NextLiteral = 0;

    bool AtEnd() const { return Pos >= Text.size(); }
    char Peek() const { return AtEnd() ? '\0' : Text[Pos]; }
    bool Take(char c)
    {
        if (Peek() != c || AtEnd())
            return false;
        ++Pos;
        return true;
    }
};

// An atom character outside a section: not a space, a mark that starts or
// ends another kind of value, or a control character.
bool IsAtomChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u != 0x7f && c != '(' && c != ')' && c != '{' && c != '"' && c != '[' && c != '<';
}

// atom := 1*atom-char
bool Atom(TCursor& at, std::string_view& atom)
{
    const std::size_t start = at.Pos;
    while (!at.AtEnd() && IsAtomChar(at.Peek()))
        ++at.Pos;
    atom = std::string_view(at.Text).substr(start, at.Pos - start);
    return !atom.empty();
}

// name := atom ["[" *not-"]" "]"] ["<" *not-">" ">"]
bool Name(TCursor& at, std::string_view& name)
{
    const std::size_t start = at.Pos;
    std::string_view atom;
    if (!Atom(at, atom))
        return false;
    for (const auto& [open, close] : {std::pair{'[', ']'}, std::pair{'<', '>'}})
    {
        if (!at.Take(open))
            continue;
        const std::size_t end = at.Text.find(close, at.Pos);
        if (end == std::string::npos || at.Text.find('\n', at.Pos) < end)
            return false;
        at.Pos = end + 1;
    }
    name = std::string_view(at.Text).substr(start, at.Pos - start);
    return true;
}

// quoted := DQUOTE *(char / "\" char) DQUOTE, within one line
bool Quoted(TCursor& at, std::string& text)
{
    if (!at.Take('"'))
        return false;
    text.clear();
    while (!at.AtEnd())
    {
        char c = at.Text[at.Pos++];
        if (c == '\n')
            return false;
        if (c == '"')
            return true;
        if (c == '\\')
        {
            if (at.AtEnd())
                return false;
            c = at.Text[at.Pos++];
        }
        text += c;
    }
    return false;
}

// literal := "{" number "}" LF; the line ends after the announcement, the
// bytes stand in the next literal. Nothing is moved when it is none.
bool Literal(TCursor& at, std::string*& bytes)
{
    std::size_t p = at.Pos;
    if (at.Peek() != '{')
        return false;
    const std::size_t close = at.Text.find('}', p);
    if (close == std::string::npos || close + 1 >= at.Text.size() || at.Text[close + 1] != '\n')
        return false;
    unsigned long long count = 0;
    if (!DigitsValue(std::string_view(at.Text).substr(p + 1, close - p - 1), ULLONG_MAX, count))
        return false;
    if (at.NextLiteral >= at.Literals.size() || at.Literals[at.NextLiteral].size() != count)
        return false;
    bytes = &at.Literals[at.NextLiteral++];
    at.Pos = close + 2;
    return true;
}

// list := "(" [value *(SP value)] ")", passed over. Depth is counted, not
// recursed into, so a server's nesting cannot use up the stack.
bool SkipList(TCursor& at)
{
    if (!at.Take('('))
        return false;
    std::size_t depth = 1;
    std::string ignored;
    std::string* literal = nullptr;
    while (depth > 0)
    {
        if (at.AtEnd())
            return false;
        switch (at.Peek())
        {
        case '(': ++depth; ++at.Pos; break;
        case ')': --depth; ++at.Pos; break;
        case '"':
            if (!Quoted(at, ignored))
                return false;
            break;
        case '{':
            if (!Literal(at, literal))
                ++at.Pos;
            break;
        case '\n': return false;
        default: ++at.Pos; break;
        }
    }
    return true;
}

enum class TValueKind
{
    Nil,
    Atom,
    String,
    List
};

// value := "NIL" / atom / quoted / literal / list. A string's text is in
// `text`, or in `*literal` when it came as one.
bool Value(TCursor& at, TValueKind& kind, std::string_view& atom, std::string& text, std::string*& literal)
{
    literal = nullptr;
    switch (at.Peek())
    {
    case '(': kind = TValueKind::List; return SkipList(at);
    case '"': kind = TValueKind::String; return Quoted(at, text);
    case '{': kind = TValueKind::String; return Literal(at, literal);
    default:
        if (!Atom(at, atom))
            return false;
        kind = SameText(atom, "NIL") ? TValueKind::Nil : TValueKind::Atom;
        return true;
    }
}

// Takes one att into `items`; false when it breaks what a response may say.
bool TakeItem(std::string_view name, TValueKind kind, std::string_view atom, std::string& text,
              std::string* literal, bool& hasUID, TIdIMAP4FetchItems& items)
{
    unsigned long long number = 0;
    if (SameText(name, "UID"))
    {
        if (kind != TValueKind::Atom || !DigitsValue(atom, UINT32_MAX, number) || number == 0)
            return false;
        // Two different UIDs would make the response anybody's.
        if (hasUID && items.UID != number)
            return false;
        hasUID = true;
        items.UID = static_cast<std::uint32_t>(number);
    }
    else if (SameText(name, "RFC822.SIZE"))
    {
        items.Size = kind == TValueKind::Atom && DigitsValue(atom, LLONG_MAX, number) ? static_cast<long long>(number)
                                                                                     : -1;
    }
    else if (SameText(name, "BODY[HEADER]") || SameText(name, "RFC822.HEADER"))
    {
        items.HasHeader = kind == TValueKind::String;
        items.Header = !items.HasHeader ? std::string() : literal ? std::move(*literal) : std::move(text);
    }
    else if (SameText(name.substr(0, 10), "BODY[TEXT]"))
    {
        items.HasText = kind == TValueKind::String;
        items.Text = !items.HasText ? std::string() : literal ? std::move(*literal) : std::move(text);
    }
    return true;
}

} // namespace

std::string UIDSetText(const std::vector<std::uint32_t>& ascending)
{
    std::string set;
    for (std::size_t i = 0; i < ascending.size();)
    {
        std::size_t j = i;
        while (j + 1 < ascending.size() && ascending[j + 1] == ascending[j] + 1)
            ++j;
        if (!set.empty())
            set += ',';
        set += std::to_string(ascending[i]);
        if (j > i)
            set += ':' + std::to_string(ascending[j]);
        i = j + 1;
    }
    return set;
}

long long TrailingLiteralSize(const std::string& line)
{
    if (line.empty() || line.back() != '}')
        return -1;
    const std::size_t open = line.rfind('{');
    if (open == std::string::npos)
        return -1;
    const std::string_view digits = std::string_view(line).substr(open + 1, line.size() - open - 2);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return -1;
    unsigned long long count = 0;
    return DigitsValue(digits, LLONG_MAX, count) ? static_cast<long long>(count) : LLONG_MAX;
}

bool ParseFetchResponse(const std::string& text, std::vector<std::string>& literals, TIdIMAP4FetchItems& items)
{
    items = TIdIMAP4FetchItems{};
    TCursor at{text, literals};
    std::string_view word;
    if (!at.Take('*') || !at.Take(' ') || !Atom(at, word) || word.find_first_not_of("0123456789") != std::string_view::npos
        || !at.Take(' ') || !Atom(at, word) || !SameText(word, "FETCH") || !at.Take(' ') || !at.Take('('))
        return false;

    bool hasUID = false;
    std::string quoted;
    for (;;)
    {
        std::string_view name;
        TValueKind kind = TValueKind::Nil;
        std::string_view atom;
        std::string* literal = nullptr;
        if (!Name(at, name) || !at.Take(' ') || !Value(at, kind, atom, quoted, literal)
            || !TakeItem(name, kind, atom, quoted, literal, hasUID, items))
            return false;
        if (at.Take(')'))
            break;
        if (!at.Take(' '))
            return false;
    }
    return hasUID;
}

#include "mail/IdEMailAddress.h"

#include "platform/AsciiText.h"

#include <algorithm>

using namespace AsciiText;

const std::string LocalPartChars =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890!#$%&'*+-/=?_`{}|~";
const std::string NameChars = LocalPartChars + " ";

namespace
{

constexpr auto npos = std::string::npos;

// Backslash before every backslash and double quote, for a quoted string.
std::string Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (const char c : text)
    {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// A fixed set of characters as a table: find_first_of looks each character
// of the text up in the set with a call of its own, and addresses are
// parsed for every header fetched.
class TCharSet
{
public:
    explicit TCharSet(const std::string& chars)
    {
        for (char c : chars)
            FIn[static_cast<unsigned char>(c)] = true;
    }
    bool Has(char c) const { return FIn[static_cast<unsigned char>(c)]; }

    // Position of the first character at or after `from` that is in the set
    // (or, with `in` false, that is not); npos when there is none.
    std::size_t Find(const std::string& text, std::size_t from = 0, bool in = true) const
    {
        for (std::size_t i = from; i < text.size(); ++i)
            if (Has(text[i]) == in)
                return i;
        return npos;
    }

private:
    bool FIn[256] = {};
};

// Delimiters of one address outside quotes, comments and the address proper.
const TCharSet kItemDelimiters("(\"< @\t");
// Delimiters of an address list outside quotes and comments.
const TCharSet kListDelimiters(":;(\", \t");
const TCharSet kInComment("()\\");
const TCharSet kInQuote("\"\\");
const TCharSet kInBracketedDomain(".>(");
const TCharSet kInDomain(".( ");
const TCharSet kInAddress("\"(@>");
const TCharSet kLocalPart(LocalPartChars);
const TCharSet kName(NameChars);

} // namespace

std::size_t FirstPosOfAny(const std::string& set, const std::string& text)
{
    const std::size_t p = text.find_first_of(set);
    return p == npos ? 0 : p + 1;
}

std::size_t FirstPosNotIn(const std::string& set, const std::string& text)
{
    const std::size_t p = text.find_first_not_of(set);
    return p == npos ? 0 : p + 1;
}

std::string StripChars(const std::string& set, const std::string& text)
{
    const std::size_t first = text.find_first_not_of(set);
    if (first == npos)
        return {};
    const std::size_t last = text.find_last_not_of(set);
    return text.substr(first, last - first + 1);
}

std::string TIdEMailAddressItem::AddressForm() const
{
    if (Address.empty())
        return Name.empty() ? std::string() : std::string("<>");
    const std::size_t at = Address.rfind('@');
    const std::size_t localSize = at == npos ? Address.size() : at;
    std::size_t k = 0;
    while (k < localSize && kLocalPart.Has(Address[k]))
        ++k;
    if (k < localSize && Address[k] != '.')
        return "<\"" + Escape(Address.substr(0, localSize)) + "\"" + Address.substr(localSize) + ">";
    // The local part and the domain make the address again.
    if (Name.empty())
        return Address;
    return "<" + Address + ">";
}

std::string TIdEMailAddressItem::Text() const
{
    if (Name.empty() || (Name.size() == Address.size() &&
                         std::equal(Address.begin(), Address.end(), Name.begin(),
                                    [](char a, char n) { return UpperChar(a) == n; })))
        return AddressForm();
    if (kName.Find(Name, 0, false) == npos)
        return Name + " " + AddressForm();
    return "\"" + Escape(Name) + "\" " + AddressForm();
}

void TIdEMailAddressItem::SetText(const std::string& text)
{
    Name.clear();
    Address.clear();
    // Parsed into locals so a failing text leaves the item empty, not half filled.
    std::string name;
    std::string address;
    const std::string s = Trim(text);
    if (s.empty())
        return;
    std::size_t p = kItemDelimiters.Find(s);
    if (p == npos)
    {
        Address = s;
        return;
    }

    bool inAddress = false;
    bool bracketed = false;
    bool inQuote = false;
    bool domainStarted = false;
    int depth = 0;
    std::size_t at = 0; // start of the text not yet consumed
    auto before = [&](std::size_t pos) { return s.substr(at, pos - at); };
    auto through = [&](std::size_t pos) { return s.substr(at, pos + 1 - at); };

    while (p != npos)
    {
        switch (s[p])
        {
        case ' ':
        case '\t':
            if (p != at)
            {
                if (domainStarted)
                    address += Trim(before(p));
                else
                    name += through(p);
            }
            at = p + 1;
            break;
        case '"':
            if (inQuote)
            {
                (bracketed ? address : name) += Trim(before(p));
                inQuote = false;
            }
            else
            {
                // A quote glued to the end of a word: the word is kept where an
                // unquoted word would go, and the quoted part follows it.
                if (p != at)
                    (inAddress ? address : name) += before(p);
                inQuote = true;
            }
            at = p + 1;
            break;
        case '(':
            ++depth;
            // Text before a parenthesis nested in a comment is comment text
            // too, and must not reach the address.
            if (p != at && depth == 1)
            {
                if (inAddress)
                    address += Trim(before(p));
                else
                    name += before(p);
            }
            at = p + 1;
            break;
        case ')':
            --depth;
            at = p + 1;
            break;
        case '.':
            if (bracketed)
            {
                address += StripChars(" \t", Trim(before(p))) + ".";
                at = p + 1;
                while (at < s.size() && IsBlank(s[at]))
                    ++at;
            }
            else
            {
                address += through(p);
                at = p + 1;
            }
            break;
        case '<':
            if (p != at)
                name += before(p);
            name = StripChars(" \t", Trim(name));
            bracketed = true;
            inAddress = true;
            at = p + 1;
            break;
        case '>':
            inAddress = false;
            domainStarted = false;
            address += StripChars(" \t", Trim(before(p)));
            at = p + 1;
            break;
        case '@':
            domainStarted = true;
            if (!inAddress && bracketed)
                throw EIdEmailParseError("@ Outside address");
            inAddress = true;
            address += through(p);
            at = p + 1;
            break;
        case '\\':
            if (inQuote)
            {
                std::string& target = inAddress ? address : name;
                target += before(p);
                // A backslash ending the text has nothing to escape and is dropped.
                if (p + 1 < s.size())
                    target += s[p + 1];
            }
            at = std::min(p + 2, s.size());
            break;
        }

        const TCharSet* next;
        if (depth > 0)
            next = &kInComment;
        else if (inQuote)
            next = &kInQuote;
        else if (domainStarted)
            next = bracketed ? &kInBracketedDomain : &kInDomain;
        else if (inAddress)
            next = &kInAddress;
        else
            next = &kItemDelimiters;
        p = next->Find(s, at);
    }
    if (inAddress && !bracketed)
        address += StripChars(" \t", Trim(s.substr(at)));
    Name = std::move(name);
    Address = std::move(address);
}

std::string TIdEMailAddressItem::User() const
{
    const std::size_t at = Address.rfind('@');
    return at == npos ? Address : Address.substr(0, at);
}

std::string TIdEMailAddressItem::Domain() const
{
    const std::size_t at = Address.rfind('@');
    return at == npos ? std::string() : Address.substr(at + 1);
}

void TIdEMailAddressList::AddParsed(const std::string& text, bool dropEmpty)
{
    TIdEMailAddressItem item(text);
    // The shown text holds every byte of the address: one that is neither
    // blank nor a bracket means it shows something, without making the text.
    const bool showsAddress = std::any_of(item.Address.begin(), item.Address.end(),
                                          [](char c) { return !IsBlank(c) && c != '<' && c != '>'; });
    if (dropEmpty && !showsAddress)
    {
        const std::string shown = Trim(item.Text());
        if (shown.empty() || shown == "<>")
            return;
    }
    Items.push_back(std::move(item));
}

void TIdEMailAddressList::ParseAddressList(const std::string& text)
{
    Items.clear();
    if (Trim(text).empty())
        return;
    std::size_t p = kListDelimiters.Find(text);
    if (p == npos)
    {
        AddParsed(TrimLeft(text), false);
        return;
    }

    std::string acc;
    bool inQuote = false;
    int depth = 0;
    std::size_t at = 0;
    while (p != npos)
    {
        switch (text[p])
        {
        case ' ':
        case '\t':
            acc.append(text, at, p + 1 - at);
            at = p + 1;
            break;
        case '"':
            acc.append(text, at, p + 1 - at);
            at = p + 1;
            inQuote = !inQuote;
            break;
        case '(':
            acc.append(text, at, p + 1 - at);
            at = p + 1;
            ++depth;
            break;
        case ')':
            acc.append(text, at, p + 1 - at);
            at = p + 1;
            --depth;
            break;
        case ',':
            acc.append(text, at, p - at);
            AddParsed(acc, true);
            acc.clear();
            at = p + 1;
            break;
        case ':':
            // A group name is dropped.
            acc.clear();
            at = p + 1;
            break;
        case ';':
            acc.append(text, at, p - at);
            if (!Trim(acc).empty())
            {
                AddParsed(TrimLeft(acc), false);
                acc.clear();
            }
            at = p + 1;
            break;
        case '\\':
        {
            const std::size_t end = std::min(p + 2, text.size());
            acc.append(text, at, end - at);
            at = end;
            break;
        }
        }

        const TCharSet* next;
        if (depth > 0)
            next = &kInComment;
        else if (inQuote)
            next = &kInQuote;
        else
            next = &kListDelimiters;
        p = next->Find(text, at);
    }

    const std::string rest = text.substr(at);
    if (!Trim(acc).empty() || !Trim(rest).empty())
        AddParsed(TrimLeft(acc + rest), true);
}

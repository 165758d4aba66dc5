#include "mail/Imap4Folders.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <charconv>

namespace
{

using AsciiText::SameText;

// The grammar rules the answers need, each moving a cursor over the line and
// false when the text there is not what the rule reads.

bool Skip(std::string_view& s, char c)
{
    if (s.empty() || s.front() != c)
        return false;
    s.remove_prefix(1);
    return true;
}

void SkipBlanks(std::string_view& s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
}

// ATOM-CHAR: any CHAR but CTL, SP and the atom-specials; "]" is allowed, as
// in astring.
bool AtomChar(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= ' ' || u >= 0x7f)
        return false;
    switch (c)
    {
    case '(': case ')': case '{': case '"': case '\\': case '%': case '*':
        return false;
    default:
        return true;
    }
}

// atom := 1*ATOM-CHAR; list-wildcards and a leading "\" are allowed, for
// flags and LIST patterns a server echoes.
bool Atom(std::string_view& s, std::string& out)
{
    std::size_t n = 0;
    while (n < s.size() && (AtomChar(s[n]) || s[n] == '%' || s[n] == '*' || (n == 0 && s[n] == '\\')))
        ++n;
    if (n == 0)
        return false;
    out.assign(s.substr(0, n));
    s.remove_prefix(n);
    return true;
}

// quoted := DQUOTE *(any TEXT-CHAR but quoted-specials / "\" quoted-special) DQUOTE
bool QuotedString(std::string_view& s, std::string& out)
{
    std::string_view t = s;
    if (!Skip(t, '"'))
        return false;
    out.clear();
    while (!t.empty())
    {
        const char c = t.front();
        t.remove_prefix(1);
        if (c == '"')
        {
            s = t;
            return true;
        }
        if (c == '\\')
        {
            if (t.empty() || (t.front() != '"' && t.front() != '\\'))
                return false;
            out += t.front();
            t.remove_prefix(1);
            continue;
        }
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
        out += c;
    }
    return false;
}

// astring := atom / quoted (a literal is not read here)
bool AString(std::string_view& s, std::string& out)
{
    return QuotedString(s, out) || Atom(s, out);
}

bool Nil(std::string_view& s)
{
    if (s.size() < 3 || !SameText(s.substr(0, 3), "NIL") || (s.size() > 3 && AtomChar(s[3])))
        return false;
    s.remove_prefix(3);
    return true;
}

// number := 1*DIGIT, within 32 bits
bool Number(std::string_view& s, std::uint32_t& value)
{
    std::size_t n = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9')
        ++n;
    if (n == 0)
        return false;
    const auto [end, error] = std::from_chars(s.data(), s.data() + n, value);
    if (error != std::errc() || end != s.data() + n)
        return false;
    s.remove_prefix(n);
    return true;
}

// A parenthesised list, nested lists and quoted strings within counted,
// passed over whole.
bool SkipParenthesised(std::string_view& s)
{
    std::string_view t = s;
    if (!Skip(t, '('))
        return false;
    int depth = 1;
    std::string ignored;
    while (depth > 0)
    {
        if (t.empty())
            return false;
        if (t.front() == '"')
        {
            if (!QuotedString(t, ignored))
                return false;
            continue;
        }
        if (t.front() == '(')
            ++depth;
        else if (t.front() == ')')
            --depth;
        t.remove_prefix(1);
    }
    s = t;
    return true;
}

// "* WORD " or "WORD " at the start of a line; the cursor after it.
bool Keyword(std::string_view& s, std::string_view word)
{
    SkipBlanks(s);
    if (s.size() >= 2 && s[0] == '*' && s[1] == ' ')
        s.remove_prefix(2);
    if (s.size() <= word.size() || !SameText(s.substr(0, word.size()), word) || s[word.size()] != ' ')
        return false;
    s.remove_prefix(word.size() + 1);
    return true;
}

bool AtEnd(std::string_view s)
{
    SkipBlanks(s);
    return s.empty();
}

} // namespace

bool TIdIMAP4Folder::HasAttribute(std::string_view attribute) const
{
    return std::any_of(Attributes.begin(), Attributes.end(),
                       [attribute](const std::string& a) { return SameText(a, attribute); });
}

bool TIdIMAP4Folder::Selectable() const
{
    return !HasAttribute("\\Noselect") && !HasAttribute("\\NonExistent");
}

bool TIdIMAP4Folder::SpecialUse() const
{
    static const char* const uses[] = {"\\Junk", "\\Trash", "\\Sent", "\\Drafts", "\\All", "\\Archive", "\\Flagged"};
    return std::any_of(std::begin(uses), std::end(uses), [this](const char* u) { return HasAttribute(u); });
}

// mailbox-list := "(" [mbx-list-flags] ")" SP (DQUOTE QUOTED-CHAR DQUOTE / nil) SP mailbox
//                 [SP "(" mbox-list-extended ")"]
bool ParseListLine(std::string_view line, TIdIMAP4Folder& folder)
{
    std::string_view s = line;
    if (!Keyword(s, "LIST") && !(s = line, Keyword(s, "LSUB")))
        return false;
    TIdIMAP4Folder f;
    if (!Skip(s, '('))
        return false;
    for (;;)
    {
        SkipBlanks(s);
        if (Skip(s, ')'))
            break;
        std::string flag;
        if (!Atom(s, flag))
            return false;
        f.Attributes.push_back(std::move(flag));
    }
    if (!Skip(s, ' '))
        return false;
    std::string delimiter;
    if (Nil(s))
        f.Delimiter = 0;
    else if (QuotedString(s, delimiter) && delimiter.size() == 1)
        f.Delimiter = delimiter.front();
    else
        return false;
    if (!Skip(s, ' ') || !AString(s, f.Name) || f.Name.empty())
        return false;
    SkipBlanks(s);
    if (!s.empty() && !SkipParenthesised(s))
        return false;
    if (!AtEnd(s))
        return false;
    folder = std::move(f);
    return true;
}

// status-response := "STATUS" SP mailbox SP "(" [status-att-list] ")"
bool ParseStatusLine(std::string_view line, std::string& name, TIdIMAP4FolderState& state)
{
    std::string_view s = line;
    if (!Keyword(s, "STATUS"))
        return false;
    std::string n;
    if (!AString(s, n) || n.empty())
        return false;
    SkipBlanks(s);
    if (!Skip(s, '('))
        return false;
    TIdIMAP4FolderState st;
    for (;;)
    {
        SkipBlanks(s);
        if (Skip(s, ')'))
            break;
        std::string item;
        std::uint32_t value = 0;
        if (!Atom(s, item) || !Skip(s, ' '))
            return false;
        // HIGHESTMODSEQ and others may pass 32 bits: passed over.
        std::string_view digits = s;
        if (!Number(s, value))
        {
            std::size_t k = 0;
            while (k < digits.size() && digits[k] >= '0' && digits[k] <= '9')
                ++k;
            if (k == 0 || SameText(item, "MESSAGES") || SameText(item, "UIDNEXT") ||
                SameText(item, "UIDVALIDITY") || SameText(item, "UNSEEN"))
                return false;
            s.remove_prefix(k);
            continue;
        }
        if (SameText(item, "MESSAGES"))
            st.Messages = value;
        else if (SameText(item, "UIDNEXT"))
            st.UIDNext = value;
        else if (SameText(item, "UIDVALIDITY"))
            st.UIDValidity = value;
        else if (SameText(item, "UNSEEN"))
            st.Unseen = value;
    }
    if (!AtEnd(s))
        return false;
    name = std::move(n);
    state = st;
    return true;
}

TIdIMAP4NotifyLine ParseNotifyLine(std::string_view line)
{
    TIdIMAP4NotifyLine parsed;
    std::string_view s = line;
    SkipBlanks(s);
    if (s.size() < 2 || s[0] != '*' || s[1] != ' ')
        return parsed;
    TIdIMAP4Folder folder;
    if (ParseStatusLine(s, parsed.Name, parsed.State))
        parsed.Kind = TIdIMAP4NotifyKind::Status;
    else if (ParseListLine(s, folder))
    {
        parsed.Kind = TIdIMAP4NotifyKind::List;
        parsed.Name = std::move(folder.Name);
    }
    else
    {
        std::string_view news = s.substr(2);
        SkipBlanks(news);
        std::uint32_t number = 0;
        std::string word;
        std::string_view ok = s;
        if (Number(news, number) && Skip(news, ' ') && Atom(news, word) &&
            (SameText(word, "EXISTS") || SameText(word, "EXPUNGE") || SameText(word, "FETCH")))
            parsed.Kind = TIdIMAP4NotifyKind::Selected;
        else if (Keyword(ok, "OK") && (SkipBlanks(ok), ok.size() >= 22) &&
                 SameText(ok.substr(0, 22), "[NOTIFICATIONOVERFLOW]"))
            parsed.Kind = TIdIMAP4NotifyKind::Overflow;
    }
    return parsed;
}

std::string IMAP4Quoted(std::string_view name)
{
    std::string out = "\"";
    for (char c : name)
    {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

namespace
{

std::string QuotedList(const std::vector<std::string>& names)
{
    std::string list = "(";
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i > 0 ? " " : "") + IMAP4Quoted(names[i]);
    return list + ")";
}

} // namespace

std::string ListStatusCommand(const std::vector<std::string>& names)
{
    return "LIST \"\" " + QuotedList(names) + " RETURN (STATUS " + FolderStateItems + ")";
}

std::string StatusCommand(const std::string& name)
{
    return "STATUS " + IMAP4Quoted(name) + " " + FolderStateItems;
}

std::string NotifySetCommand(const std::vector<std::string>& names, const std::string& selected)
{
    // Without the STATUS indicator: no burst of states of every mailbox now.
    std::string command = "NOTIFY SET";
    if (!selected.empty())
        command += " (selected (MessageNew MessageExpunge FlagChange))";
    std::vector<std::string> others;
    for (const std::string& name : names)
        if (name != selected)
            others.push_back(name);
    if (!others.empty())
        command += " (mailboxes " + QuotedList(others) + " (MessageNew MessageExpunge FlagChange))";
    return command + " (personal (MailboxName))";
}

#include "check/MailRules.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include <cstring>

namespace
{

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

// The next word of `text` from `p`, moving `p` past it and the blanks after.
std::string NextWord(const std::string& text, std::size_t& p)
{
    const std::size_t start = p;
    while (p < text.size() && !IsBlankOrTab(text[p]))
        ++p;
    std::string word = text.substr(start, p - start);
    while (p < text.size() && IsBlankOrTab(text[p]))
        ++p;
    return word;
}

} // namespace

std::string FoldedText(std::string_view text)
{
    std::string folded(text);
    for (char& c : folded)
        c = AsciiText::LowerChar(c);
    return folded;
}

void TBytePairs::Add(unsigned char first, unsigned char second)
{
    const unsigned hash = (first * 0x9E37u + second * 0x79B9u) >> 3 & 511u;
    Bits[hash >> 6] |= std::uint64_t{1} << (hash & 63);
}

bool TBytePairs::Holds(const TBytePairs& needed) const
{
    std::uint64_t missing = 0;
    for (int i = 0; i < 8; ++i)
        missing |= needed.Bits[i] & ~Bits[i];
    return missing == 0;
}

TRuleText::TRuleText(std::string_view text) : Folded(FoldedText(text))
{
    for (std::size_t i = 1; i < Folded.size(); ++i)
        Pairs.Add(static_cast<unsigned char>(Folded[i - 1]), static_cast<unsigned char>(Folded[i]));
}

TWildcard::TWildcard(std::string_view pattern)
    : FUtf8(DesktopCodePage() == "UTF-8")
{
    const std::string folded = FoldedText(pattern);
    FOpenStart = !folded.empty() && folded.front() == '*';
    FOpenEnd = !folded.empty() && folded.back() == '*';
    std::string piece;
    for (const char c : folded)
    {
        if (c != '*')
        {
            piece += c;
            ++FFixedBytes;
        }
        else if (!piece.empty())
            FPieces.push_back(std::move(piece)), piece.clear();
    }
    if (!piece.empty() || FPieces.empty())
        FPieces.push_back(std::move(piece));
    for (const std::string& p : FPieces)
        for (std::size_t i = 1; i < p.size(); ++i)
            if (p[i - 1] != '?' && p[i] != '?')
                FPairs.Add(static_cast<unsigned char>(p[i - 1]), static_cast<unsigned char>(p[i]));
}

namespace
{

// Where `piece` matched at `at` ends, or npos; `?` takes one character.
std::size_t MatchAt(std::string_view piece, std::string_view text, std::size_t at, bool utf8)
{
    for (const char p : piece)
    {
        if (at >= text.size())
            return std::string_view::npos;
        if (p == '?')
        {
            ++at;
            while (utf8 && at < text.size() && IsContinuation(text[at]))
                ++at;
        }
        else if (text[at++] != p)
            return std::string_view::npos;
    }
    return at;
}

// The leftmost place in [from, to) where `piece` matches whole, as its
// start and end; {npos, npos} when there is none.
std::pair<std::size_t, std::size_t> Find(std::string_view piece, std::string_view text, std::size_t from,
                                         std::size_t to, bool utf8)
{
    const std::pair none{std::string_view::npos, std::string_view::npos};
    if (piece.find('?') == std::string_view::npos)
    {
        if (to - from < piece.size())
            return none;
        const void* hit = memmem(text.data() + from, to - from, piece.data(), piece.size());
        if (!hit)
            return none;
        const std::size_t at = static_cast<const char*>(hit) - text.data();
        return {at, at + piece.size()};
    }
    for (std::size_t at = from; at < to; ++at)
    {
        if (utf8 && IsContinuation(text[at]))
            continue;
        if (const std::size_t end = MatchAt(piece, text.substr(0, to), at, utf8); end != std::string_view::npos)
            return {at, end};
    }
    return none;
}

// Where the last `count` characters of text[from, end) begin, or npos.
std::size_t StartOfLast(std::string_view text, std::size_t from, std::size_t count, bool utf8)
{
    std::size_t at = text.size();
    for (std::size_t i = 0; i < count; ++i)
    {
        if (at <= from)
            return std::string_view::npos;
        --at;
        while (utf8 && at > from && IsContinuation(text[at]))
            --at;
    }
    return at;
}

} // namespace

bool TWildcard::Matches(std::string_view text) const
{
    if (text.size() < FFixedBytes)
        return false;
    if (FPieces.size() == 1 && !FOpenStart && !FOpenEnd)
        return MatchAt(FPieces[0], text, 0, FUtf8) == text.size();
    if (FPieces.size() == 1 && FPieces[0].empty())
        return true; // stars alone
    std::size_t first = 0;
    std::size_t last = FPieces.size();
    std::size_t pos = 0;
    std::size_t limit = text.size();
    if (!FOpenStart)
    {
        pos = MatchAt(FPieces[0], text, 0, FUtf8);
        if (pos == std::string_view::npos)
            return false;
        first = 1;
    }
    if (!FOpenEnd)
    {
        // The last piece ends the text: it starts as many characters before
        // the end as it holds.
        const std::string& tail = FPieces.back();
        std::size_t characters = 0;
        for (const char c : tail)
            characters += !FUtf8 || !IsContinuation(c) ? 1 : 0;
        const std::size_t start = StartOfLast(text, pos, characters, FUtf8);
        if (start == std::string_view::npos || start < pos || MatchAt(tail, text, start, FUtf8) != text.size())
            return false;
        limit = start;
        last = FPieces.size() - 1;
    }
    for (std::size_t i = first; i < last; ++i)
    {
        const auto [at, end] = Find(FPieces[i], text, pos, limit, FUtf8);
        if (at == std::string_view::npos || end > limit)
            return false;
        pos = end;
    }
    return true;
}

bool WildcardMatch(std::string_view pattern, std::string_view text)
{
    return TWildcard(pattern).Matches(FoldedText(text));
}

TRuleParse ParseMailRule(const std::string& text)
{
    const std::string trimmed = AsciiText::Trim(text);
    std::size_t p = 0;
    const std::string action = AsciiText::LowerCase(NextWord(trimmed, p));
    const std::string field = AsciiText::LowerCase(NextWord(trimmed, p));
    TMailRule rule;
    if (action == "important")
        rule.Action = TRuleAction::Important;
    else if (action == "quiet")
        rule.Action = TRuleAction::Quiet;
    else if (action == "ignore")
        rule.Action = TRuleAction::Ignore;
    else
        return {std::nullopt, FormatOne(ResStr("Unknown action '%s': use important, quiet or ignore."), "%s", action)};
    if (field == "from")
        rule.Field = TRuleField::From;
    else if (field == "subject")
        rule.Field = TRuleField::Subject;
    else if (field == "list")
        rule.Field = TRuleField::List;
    else if (field == "account")
        rule.Field = TRuleField::Account;
    else
        return {std::nullopt,
                FormatOne(ResStr("Unknown field '%s': use from, subject, list or account."), "%s", field)};
    rule.Pattern = trimmed.substr(p);
    if (rule.Pattern.empty())
        return {std::nullopt, ResStr("The rule has no pattern.")};
    rule.Match = TWildcard(rule.Pattern);
    return {std::move(rule), {}};
}

TRuleFields FoldedFields(std::string_view from, std::string_view subject, std::string_view list,
                         std::string_view account)
{
    return {TRuleText(from), TRuleText(subject), TRuleText(list), TRuleText(account)};
}

TMailRules::TMailRules(const std::vector<std::string>& texts)
{
    for (const std::string& text : texts)
        if (TRuleParse parsed = ParseMailRule(text); parsed.Rule)
            FRules.push_back(std::move(*parsed.Rule));
}

std::optional<TRuleAction> TMailRules::Decide(const TRuleFields& fields) const
{
    for (const TMailRule& rule : FRules)
    {
        const TRuleText* field = nullptr;
        switch (rule.Field)
        {
        case TRuleField::From: field = &fields.From; break;
        case TRuleField::Subject: field = &fields.Subject; break;
        case TRuleField::List: field = &fields.List; break;
        case TRuleField::Account: field = &fields.Account; break;
        }
        if (rule.Match.Matches(*field))
            return rule.Action;
    }
    return std::nullopt;
}

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Rules that say who gets through and who stays quiet: texts
// "ACTION FIELD PATTERN", matched on the decoded header fields a check
// keeps. The first rule that matches decides; none: as without rules.

enum class TRuleAction
{
    Important, // told even while quiet, with the urgency critical
    Quiet,     // listed and counted, never told
    Ignore,    // not listed at all
};

enum class TRuleField
{
    From,    // the sender's display text
    Subject,
    List,    // the List-Id header
    Account, // the account's caption
};

// A text in which the ASCII letters are lower case, as patterns and fields
// are compared.
std::string FoldedText(std::string_view text);

// The pairs of neighbouring bytes a text holds, hashed into 512 bits: a
// pattern whose fixed pairs are not all there cannot match, and most rules
// are passed over with a few instructions, not a search.
struct TBytePairs
{
    std::uint64_t Bits[8] = {};

    void Add(unsigned char first, unsigned char second);
    bool Holds(const TBytePairs& needed) const;
};

// A field as rules see it: folded, with its byte pairs.
struct TRuleText
{
    TRuleText() = default;
    explicit TRuleText(std::string_view text);
    std::string Folded;
    TBytePairs Pairs;
};

// A case-insensitive pattern with `*` (any run of characters) and `?` (one
// character), made once and matched against many texts. Time is bounded
// without backtracking: runs of `*` are one, a text shorter than the
// pattern's fixed part fails at once, and the pieces between stars are
// found left to right, each one searched for only past where the one before
// it was found, never again. A piece without `?` is found in linear time
// (glibc's memmem falls back to two-way search), one holding `?` costs at
// most its length per place tried; rows keep at most a few kilobytes of a
// field, which bounds that. Characters are the desktop code page's (UTF-8:
// a lead byte with its continuation bytes).
class TWildcard
{
public:
    explicit TWildcard(std::string_view pattern);
    // `folded` as FoldedText gives it.
    bool Matches(std::string_view folded) const;
    bool Matches(const TRuleText& text) const { return text.Pairs.Holds(FPairs) && Matches(text.Folded); }

private:
    std::vector<std::string> FPieces; // between the stars, folded
    bool FOpenStart = false;          // begins with a star
    bool FOpenEnd = false;            // ends with a star
    std::size_t FFixedBytes = 0;      // the fewest bytes a match needs
    bool FUtf8 = true;
    TBytePairs FPairs;                // of the pieces, `?` left out
};

bool WildcardMatch(std::string_view pattern, std::string_view text);

struct TMailRule
{
    TRuleAction Action = TRuleAction::Quiet;
    TRuleField Field = TRuleField::From;
    std::string Pattern; // as written
    TWildcard Match{""};
};

// A rule, or why the text is none (translated, for the settings to show).
struct TRuleParse
{
    std::optional<TMailRule> Rule;
    std::string Error;
};
TRuleParse ParseMailRule(const std::string& text);

// One message's fields as rules see them, each folded once.
struct TRuleFields
{
    TRuleText From;
    TRuleText Subject;
    TRuleText List;
    TRuleText Account;
};
TRuleFields FoldedFields(std::string_view from, std::string_view subject, std::string_view list,
                         std::string_view account);

// The rules of a configuration, the bad ones passed over.
class TMailRules
{
public:
    TMailRules() = default;
    explicit TMailRules(const std::vector<std::string>& texts);

    bool Empty() const { return FRules.empty(); }
    // What the first matching rule says; nothing when none matches.
    std::optional<TRuleAction> Decide(const TRuleFields& fields) const;

private:
    std::vector<TMailRule> FRules;
};

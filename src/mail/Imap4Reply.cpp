#include "mail/Imap4Reply.h"

#include "mail/IdExceptions.h"
#include "platform/Numbers.h"
#include "platform/AsciiText.h"
#include "platform/Exception.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

using namespace AsciiText;

namespace
{

const char* const StatusWords[] = {"OK", "NO", "BAD", "PREAUTH", "BYE", "+"};
const char* const CommandWords[] = {"CAPABILITY", "NOOP",   "LOGOUT", "AUTHENTICATE", "LOGIN",
                                    "SELECT",     "EXAMINE", "CREATE", "DELETE",       "RENAME",
                                    "SUBSCRIBE",  "UNSUBSCRIBE", "LIST", "LSUB",       "STATUS",
                                    "APPEND",     "CHECK",  "CLOSE",  "EXPUNGE",      "SEARCH",
                                    "FETCH",      "STORE",  "COPY",   "UID",          "X"};
const char* const FlagWords[] = {"\\Answered", "\\Flagged", "\\Deleted", "\\Draft", "\\Seen", "\\Recent"};

// A line split at its first space into the first word and the rest, both
// trimmed; a line without a space is all first word.
struct TSplit
{
    std::string First;
    std::string Rest;
};

TSplit SplitFirst(const std::string& line)
{
    std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return {Trim(line), {}};
    return {Trim(line.substr(0, space)), Trim(line.substr(space + 1))};
}

bool AllDigits(const std::string& word)
{
    return !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
}

bool IsCommandWord(const std::string& word)
{
    for (const char* entry : CommandWords)
        if (word == entry)
            return true;
    return false;
}

[[noreturn]] void Unexpected(const std::string& what)
{
    throw EIdReplyIMAP4Error("Unexpected: " + what);
}

[[noreturn]] void UnexpectedLine(const std::string& what, const std::string& line)
{
    throw EIdReplyIMAP4Error("Unexpected: " + what + ", offending line: " + line);
}

// The word that starts at `pos` and the position after the space ending it;
// npos as the position when no space follows.
std::string WordAt(const std::string& line, std::size_t pos, std::size_t& next)
{
    std::size_t space = line.find(' ', pos);
    if (space == std::string::npos)
    {
        next = std::string::npos;
        return line.substr(pos);
    }
    next = space + 1;
    return line.substr(pos, space - pos);
}

// Position of the index of `word` in `parts`, case ignored; npos when absent.
std::size_t FindPart(const TIdStrings& parts, const std::string& word)
{
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (SameText(parts[i], word))
            return i;
    return std::string::npos;
}

bool Contains(const TIdStrings& words, const std::string& word)
{
    for (const std::string& w : words)
        if (SameText(w, word))
            return true;
    return false;
}

} // namespace

bool IsIMAP4StatusWord(const std::string& word)
{
    for (const char* entry : StatusWords)
        if (word == entry)
            return true;
    return false;
}

bool IsIMAP4Tag(const std::string& word)
{
    return word.size() >= 2 && word[0] == 'C' && AllDigits(word.substr(1));
}

std::string IMAP4FirstWord(const std::string& line)
{
    std::size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : Trim(line.substr(0, space));
}

bool CarriesResponseWord(const std::string& line, const TIdStrings& expected)
{
    TSplit split = SplitFirst(line);
    if (AllDigits(split.First))
        split = SplitFirst(split.Rest);
    for (const std::string& word : expected)
        if (!split.First.empty() && split.First == word)
            return true;
    return false;
}

bool EndsGreeting(const std::string& line)
{
    TSplit split = SplitFirst(line);
    if (IsIMAP4StatusWord(split.First))
        return true;
    if (split.Rest.empty())
        return false;
    return IsIMAP4StatusWord(SplitFirst(split.Rest).First);
}

// ---------------------------------------------------------------- the reply

bool TIdReplyIMAP4::EndsReply(const std::string& line) const
{
    const std::string first = SplitFirst(line).First;
    return first != "*" || EndsGreeting(line);
}

void TIdReplyIMAP4::SetFormattedReply(const TIdStrings& lines)
{
    Clear();
    SideLines.clear();
    if (lines.empty())
        Unexpected("Logic error, SetFormattedReply called with an empty list of parameters");

    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    {
        const std::string& line = lines[i];
        if (line.empty())
            continue;
        TSplit split = SplitFirst(line);
        if (split.Rest.empty())
            UnexpectedLine("Non-last response line (i.e. a data line) only contained one word, "
                           "instead of a * followed by one or more words",
                           line);
        if (split.First != "*")
            UnexpectedLine("Non-last response line (i.e. a data line) did not start with a *", line);
        Text.push_back(split.Rest);
    }

    const std::string& last = lines.back();
    if (last.empty())
        Unexpected("Response (last) line was empty instead of containing a line with a response "
                   "code like OK, NO, BAD, etc");
    TSplit split = SplitFirst(last);
    if (IsIMAP4StatusWord(split.First))
    {
        Code = split.First;
        Text.push_back(split.Rest);
    }
    else if (split.First == "*")
    {
        if (split.Rest.empty())
            Unexpected("Response (last) line contained only a *");
        TSplit second = SplitFirst(split.Rest);
        if (second.Rest.empty())
            Unexpected("Response (last) line contained only a * (type 2)");
        if (!IsIMAP4StatusWord(second.First))
            UnexpectedLine("Response (last) line started with a * but next word was not a valid "
                           "response like OK, BAD, etc",
                           last);
        Code = second.First;
        Text.push_back(second.Rest);
    }
    else if (IsIMAP4Tag(split.First))
    {
        if (split.Rest.empty())
            UnexpectedLine("Response (last) line started with a command reference (like C41) but "
                           "nothing else",
                           last);
        TSplit second = SplitFirst(split.Rest);
        if (second.Rest.empty())
            UnexpectedLine("Logic error, line starts with a command reference (like C41) but "
                           "nothing else, why was an exception not thrown earlier?",
                           last);
        if (!IsIMAP4StatusWord(second.First))
            UnexpectedLine("Line starts with a command reference (like C41) but next word was not "
                           "a valid response like OK, BAD, etc",
                           last);
        Code = second.First;
        SideLines.push_back(second.Rest);
    }
    else
    {
        UnexpectedLine("Line does not start with a command reference (like C41), a *, or a valid "
                       "response like OK, BAD, etc",
                       last);
    }
}

void TIdReplyIMAP4::RaiseReplyFailure()
{
    std::string message = Code;
    for (const std::string& line : SideLines)
        message += (message.empty() ? "" : " ") + line;
    throw EIdReplyIMAP4Error(message);
}

void TIdReplyIMAP4::MoveUnsolicitedLines(const TIdStrings& expected)
{
    TIdStrings kept;
    for (std::string& line : Text)
    {
        if (line.empty())
            continue;
        if (CarriesResponseWord(line, expected))
            kept.push_back(std::move(line));
        else
            SideLines.push_back(std::move(line));
    }
    Text = std::move(kept);
}

// ------------------------------------------------------------------ FETCH lines

TIdMessageFlags FlagsOfWords(const std::string& words)
{
    TIdMessageFlags flags = 0;
    for (const std::string& word : SplitParts(words))
        for (std::size_t bit = 0; bit < std::size(FlagWords); ++bit)
            if (SameText(word, FlagWords[bit]))
                flags |= static_cast<TIdMessageFlags>(1u << bit);
    return flags;
}

bool ParseFetchLine(const std::string& line, const std::string& command, const TIdStrings& items,
                    TIdIMAPLineStruct& result)
{
    result = TIdIMAPLineStruct{};

    std::size_t next = 0;
    std::string word = WordAt(line, 0, next);
    if (next == std::string::npos)
        return false;
    if (word == "*")
    {
        result.Starred = true;
        word = WordAt(line, next, next);
        if (next == std::string::npos)
            return false;
    }
    if (AllDigits(word))
    {
        result.MessageNumber = word;
        word = WordAt(line, next, next);
        if (next == std::string::npos)
            return false;
    }
    if (!IsCommandWord(word))
        return false;
    result.Command = word;
    std::string rest = line.substr(next);

    if (rest.empty() || rest[0] != '(')
    {
        result.ItemValue = rest;
        return result.Command == command;
    }
    rest.erase(0, 1);
    if (!rest.empty() && rest.back() == ')')
        rest.pop_back();
    else
        result.Complete = false;
    TIdStrings parts = SplitParts(rest);

    if (!parts.empty())
    {
        const std::string& last = parts.back();
        if (last.size() >= 2 && last.front() == '{' && last.back() == '}')
        {
            const std::string count = last.substr(1, last.size() - 2);
            result.LiteralSize = SameText(count, "NIL") ? 0 : DecimalToInt64(count);
            if (result.LiteralSize < 0)
                throw EConvertError("'" + count + "' is not a valid integer value");
            parts.pop_back();
        }
    }
    if (!result.Complete && !parts.empty())
    {
        result.ItemName = parts.back();
        parts.pop_back();
    }

    bool found = false;
    std::size_t at = FindPart(parts, "UID");
    if (at != std::string::npos && at + 1 < parts.size())
    {
        result.Uid = parts[at + 1];
        parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(at), parts.begin() + static_cast<std::ptrdiff_t>(at) + 2);
        found = found || Contains(items, "UID");
    }
    at = FindPart(parts, "FLAGS");
    if (at != std::string::npos && at + 1 < parts.size())
    {
        result.Flags = FlagsOfWords(parts[at + 1]);
        parts.erase(parts.begin() + static_cast<std::ptrdiff_t>(at), parts.begin() + static_cast<std::ptrdiff_t>(at) + 2);
        found = found || Contains(items, "FLAGS");
    }

    for (const std::string& item : items)
    {
        if (SameText(result.ItemName, item))
        {
            found = true;
            break;
        }
        at = FindPart(parts, item);
        if (at != std::string::npos)
        {
            result.ItemName = parts[at];
            if (at + 1 < parts.size())
                result.ItemValue = parts[at + 1];
            found = true;
            break;
        }
    }
    return result.Command == command && (items.empty() || found);
}

TIdStrings SplitParts(const std::string& text)
{
    TIdStrings parts;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n)
    {
        if (text[i] == ' ')
        {
            ++i;
            continue;
        }
        if (text[i] == '"')
        {
            std::size_t close = text.find('"', i + 1);
            if (close == std::string::npos)
            {
                parts.push_back(text.substr(i + 1));
                break;
            }
            parts.push_back(text.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (text[i] == '(')
        {
            int depth = 0;
            bool quoted = false;
            std::size_t j = i;
            for (; j < n; ++j)
            {
                const char c = text[j];
                if (c == '"')
                    quoted = !quoted;
                else if (!quoted && c == '(')
                    ++depth;
                else if (!quoted && c == ')' && --depth == 0)
                    break;
            }
            if (j >= n)
            {
                // Unfinished at the end: without the opening mark and a
                // closing one that ends the text.
                std::string part = text.substr(i + 1);
                if (!part.empty() && part.back() == ')')
                    part.pop_back();
                parts.push_back(part);
                break;
            }
            parts.push_back(text.substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        std::size_t space = text.find(' ', i);
        if (space == std::string::npos)
            space = n;
        parts.push_back(text.substr(i, space - i));
        i = space;
    }
    return parts;
}

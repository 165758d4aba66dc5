#include "mail/Pop3Reply.h"

#include "platform/AsciiText.h"

using namespace AsciiText;

namespace
{

const char* const StatusWords[] = {"+OK", "-ERR", "+"};
const char* const ExtendedCodes[] = {"IN-USE", "LOGIN-DELAY", "SYS/PERM", "SYS/TEMP", "AUTH"};

std::string StatusWordOf(const std::string& line)
{
    return line.substr(0, POP3StatusBoundary(line) - 1);
}

std::string TextOf(const std::string& line)
{
    std::size_t boundary = POP3StatusBoundary(line);
    return boundary < line.size() ? line.substr(boundary) : std::string();
}

// The table's form of a status word, or empty when it is none of them.
std::string TableStatusWord(const std::string& word)
{
    for (const char* entry : StatusWords)
        if (SameText(word, entry))
            return entry;
    return {};
}

} // namespace

std::size_t POP3StatusBoundary(const std::string& line)
{
    // A leading "-" belongs to the status word ("-ERR"), not to the
    // continuation mark.
    bool dashFirst = !line.empty() && line[0] == '-';
    std::string s = dashFirst ? line.substr(1) : line;
    std::size_t space = s.find(' ');
    std::size_t dash = s.find('-');
    std::size_t boundary;
    if (space == std::string::npos)
        boundary = dash != std::string::npos ? dash + 1 : line.size() + 1;
    else
        boundary = dash != std::string::npos && dash < space ? dash + 1 : space + 1;
    return dashFirst ? boundary + 1 : boundary;
}

bool IsPOP3ExtendedCode(const std::string& word)
{
    if (Trim(word).empty())
        return true;
    if (word.size() < 2 || word.front() != '[' || word.back() != ']')
        return false;
    std::string inner = word.substr(1, word.find(']') - 1);
    for (const std::string entry : ExtendedCodes)
        if (inner.size() >= entry.size() && SameText(inner.substr(0, entry.size()), entry))
            return true;
    return false;
}

TIdReplyPOP3::TIdReplyPOP3()
{
    Code = "+OK";
}

bool TIdReplyPOP3::EndsReply(const std::string& line) const
{
    std::size_t boundary = POP3StatusBoundary(line);
    return boundary > line.size() || line[boundary - 1] != '-';
}

void TIdReplyPOP3::SetFormattedReply(const TIdStrings& lines)
{
    Clear();
    EnhancedCode.clear();
    if (!lines.empty())
        Code = TableStatusWord(StatusWordOf(lines.front()));
    bool anyStatus = false;
    for (const std::string& line : lines)
    {
        anyStatus = anyStatus || !TableStatusWord(StatusWordOf(line)).empty();
        std::string text = TextOf(line);
        if (Code == "-ERR")
        {
            std::size_t space = text.find(' ');
            std::string word = text.substr(0, space);
            if (IsPOP3ExtendedCode(word))
            {
                text = space == std::string::npos ? std::string() : text.substr(space + 1);
                EnhancedCode = word;
            }
        }
        Text.push_back(text);
    }
    if (!anyStatus)
        Code = "-ERR";
}

void TIdReplyPOP3::RaiseReplyFailure()
{
    throw Failure();
}

EIdReplyPOP3Error TIdReplyPOP3::Failure() const
{
    std::string message;
    for (const std::string& line : Text)
        message += line + "\r\n";
    return EIdReplyPOP3Error(Code, EnhancedCode, message);
}

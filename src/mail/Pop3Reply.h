#pragma once

#include "mail/IdExceptions.h"
#include "mail/IdReply.h"

#include <string>

// One POP3 reply: a status word ("+OK", "-ERR", "+") and text lines. A line
// whose status word is followed directly by "-" announces a further line.
class TIdReplyPOP3 : public TIdReply
{
public:
    TIdReplyPOP3();

    // The extended response code of an "-ERR" reply with its brackets, for
    // example "[IN-USE]"; empty otherwise.
    std::string EnhancedCode;

    bool EndsReply(const std::string& line) const override;
    void SetFormattedReply(const TIdStrings& lines) override;
    [[noreturn]] void RaiseReplyFailure() override;
    // The error RaiseReplyFailure raises, for a caller that must read on
    // before raising it.
    EIdReplyPOP3Error Failure() const;
};

// The parsing under the reply object, apart so it can be checked line by line.

// Position (from 1) of the boundary between a line's status word and its
// text: the text before it is the status word, the text after it the line's
// text; the character at it is a space, a "-" or beyond the line's end.
std::size_t POP3StatusBoundary(const std::string& line);

// Whether `word` counts as an extended response code ("[IN-USE]", "[AUTH]",
// ...; a blank word counts too).
bool IsPOP3ExtendedCode(const std::string& word);

#pragma once

#include "mail/MailTypes.h"
#include "mail/IdReply.h"

#include <cstdint>
#include <string>

// The IMAP4 reply and line syntax under the client: parsing replies, telling
// unsolicited lines apart, taking FETCH lines to pieces. Functions over text,
// no socket.

// One IMAP4 reply: the status word, the untagged data lines that carry an
// expected response word (and the text of an untagged last line), and the
// side lines (the tagged completion's text, data nobody asked for).
class TIdReplyIMAP4 : public TIdReply
{
public:
    TIdStrings SideLines;

    // A tagged or status line ends a reply; an untagged data line does not.
    bool EndsReply(const std::string& line) const override;
    // Raises EIdReplyIMAP4Error when the lines break the reply rules.
    void SetFormattedReply(const TIdStrings& lines) override;
    [[noreturn]] void RaiseReplyFailure() override;

    // Moves every line of Text that carries none of the expected response
    // words to the end of SideLines; empty lines go.
    void MoveUnsolicitedLines(const TIdStrings& expected);
};

// "OK", "NO", "BAD", "PREAUTH", "BYE" or "+", with regard to case.
bool IsIMAP4StatusWord(const std::string& word);
// "C" followed by one or more digits.
bool IsIMAP4Tag(const std::string& word);
// The text before the first space, trimmed; empty when there is no space.
std::string IMAP4FirstWord(const std::string& line);
// Whether the line's first word (a word of digits passed over) is one of the
// expected words, with regard to case. A line without a space is all first
// word.
bool CarriesResponseWord(const std::string& line, const TIdStrings& expected);
// Whether the greeting reader stops at this line: it, or the word after "*",
// is a status word.
bool EndsGreeting(const std::string& line);

// Message flags of a FETCH line, one bit each.
enum TIdMessageFlag : std::uint8_t
{
    mfAnswered = 1 << 0,
    mfFlagged = 1 << 1,
    mfDeleted = 1 << 2,
    mfDraft = 1 << 3,
    mfSeen = 1 << 4,
    mfRecent = 1 << 5,
};
using TIdMessageFlags = std::uint8_t;

// The flag bits of a list of flag words ("\Seen \Answered"), case ignored;
// unknown words are passed over.
TIdMessageFlags FlagsOfWords(const std::string& words);

// One FETCH data line taken apart.
struct TIdIMAPLineStruct
{
    bool Starred = false;
    std::string MessageNumber;
    std::string Command;
    std::string Uid;
    TIdMessageFlags Flags = 0;
    bool Complete = true;
    // Byte count of a trailing literal; -1 none, 0 for "NIL".
    long long LiteralSize = -1;
    std::string ItemName;
    std::string ItemValue;
};

// Parses `line` (with or without the leading "*") into `result`. True when
// its command word is `command` and, when `items` is not empty, one of the
// items was found. A literal count that is no number raises EConvertError.
bool ParseFetchLine(const std::string& line, const std::string& command, const TIdStrings& items,
                    TIdIMAPLineStruct& result);

// Splits at spaces; a part in double quotes or parentheses (nested ones
// counted, those in quotes ignored) is one part, without its outer marks.
TIdStrings SplitParts(const std::string& text);


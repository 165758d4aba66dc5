#pragma once

#include "mail/Inbox.h"

#include <cstddef>
#include <string>
#include <vector>

class TMessageList;
struct TRowPlace;

// What the placeholders of a command line stand for, for one message row.
struct TRowValues
{
    int MessageNumber = 0; // %MSGID%
    int AccountNumber = 0; // %ACCOUNT% is "Account" followed by it
    std::string From;      // %FROM%
    std::string Subject;   // %SUBJECT%
    std::string Size;      // %SIZE%
    std::string Folder = InboxName; // %FOLDER%: the message's mailbox
    std::string Preview;   // %PREVIEW%: the start of the text, "" when none was read
    std::string MessageId; // %MESSAGEID%: without angle brackets, "" when it has none
};

struct TToldMessage;

// The values of a message a telling told of, as its row gave them then.
TRowValues RowValuesOfTold(const TToldMessage& told);

// The row's values; its preview (made now if it is not yet) only with `preview`.
TRowValues RowValues(const TMessageList& rows, const std::vector<TRowPlace>& accounts,
                     int index, bool preview = true);

// Whether `command` shows a preview: only then are the rows' previews made.
bool UsesPreview(const std::string& command);

// An expanded command line whose characters remember where they came from.
// A character is structural when it was written in the command line itself,
// or is one of the double quotes put around a value there; only structural
// quotes group and only structural blanks separate arguments. Everything a
// value brought in (from the mail, so from anyone) is literal text.
struct TExpandedCommand
{
    std::string Text;
    std::vector<bool> Structural; // one flag per character of Text

    // The arguments: the first is the program.
    std::vector<std::string> Arguments() const;
};

// Longest text one placeholder inserts; the rest is cut off. One argument of
// the system may not exceed 128 KiB, so a mail's subject cannot stop the start.
inline constexpr std::size_t MaxInsertedValue = 32 * 1024;
// All values of one command together, as a value may bring in placeholders
// that are replaced again (a sender of "%SUBJECT%%SUBJECT%...").
inline constexpr std::size_t MaxInsertedTotal = 96 * 1024;

// Replaces, in this order, every %MSGID% (unquoted), %MESSAGEID%, %ACCOUNT%,
// %FOLDER%, %FROM%, %SUBJECT%, %SIZE% and %PREVIEW% (each between double
// quotes), case-sensitively. Each
// step searches the whole text, values inserted by earlier steps included,
// but not the values it inserts itself.
TExpandedCommand ExpandCommandParts(const std::string& command, const TRowValues& values);

// The expanded command line as text, as it is shown.
std::string ExpandCommand(const std::string& command, const TRowValues& values);
std::string ExpandCommand(const std::string& command, const TMessageList& rows,
                          const std::vector<TRowPlace>& accounts, int index);

// Whether the mail client's command names a message (%MESSAGEID% or
// %FOLDER%): only then is it started with one message's values.
bool NamesMessage(const std::string& command);
// The mail client's command as arguments (no shell): with a message's values
// filled in, or, for no message in particular, without the arguments that
// would name one.
std::vector<std::string> MailClientArguments(const std::string& command, const TRowValues& message);
std::vector<std::string> MailClientArguments(const std::string& command);

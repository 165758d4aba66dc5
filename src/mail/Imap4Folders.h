#pragma once

#include "mail/MailTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The folder syntax of IMAP4 under the client: LIST (RFC 3501, with the
// special-use attributes of RFC 6154), STATUS and LIST-STATUS (RFC 5819)
// answers, the untagged lines NOTIFY (RFC 5465) brings, and the commands
// that ask for them. Functions over text, no socket. Mailbox names here are
// as they go on the wire (modified UTF-7); a name sent as a literal is not
// taken (the line does not parse).

// One mailbox of a LIST answer.
struct TIdIMAP4Folder
{
    std::string Name;   // on the wire, unquoted
    char Delimiter = 0; // 0 for NIL: a flat namespace
    TIdStrings Attributes;

    bool HasAttribute(std::string_view attribute) const;
    // Neither \Noselect nor \NonExistent: it can be opened.
    bool Selectable() const;
    // One of \Junk \Trash \Sent \Drafts \All \Archive \Flagged: a folder a
    // user rarely wants to hear of.
    bool SpecialUse() const;
};

// "LIST (attributes) delimiter name" with or without "* ": false for any
// other line, a name that is no atom or quoted string, or anything after it
// but LIST-EXTENDED's parenthesised data.
bool ParseListLine(std::string_view line, TIdIMAP4Folder& folder);

// A mailbox's state as STATUS tells it; a value the answer left out is 0.
struct TIdIMAP4FolderState
{
    std::uint32_t Messages = 0;
    std::uint32_t UIDNext = 0;
    std::uint32_t UIDValidity = 0;
    std::uint32_t Unseen = 0;

    bool operator==(const TIdIMAP4FolderState&) const = default;
};

// "STATUS name (item value ...)" with or without "* ". Items it does not
// know are passed over; a value that is no 32-bit number, an item without a
// value or an unclosed list make it false.
bool ParseStatusLine(std::string_view line, std::string& name, TIdIMAP4FolderState& state);

// What an untagged line heard under NOTIFY tells.
enum class TIdIMAP4NotifyKind
{
    Status,   // a watched mailbox changed: Name and State
    List,     // a mailbox was made, renamed or deleted: Name
    Selected, // the selected mailbox changed (EXISTS, EXPUNGE, FETCH)
    Overflow, // the server gave up telling: everything must be checked
    Other,    // nothing of mail ("* OK still here", a tagged line)
};

struct TIdIMAP4NotifyLine
{
    TIdIMAP4NotifyKind Kind = TIdIMAP4NotifyKind::Other;
    std::string Name;
    TIdIMAP4FolderState State;
};

TIdIMAP4NotifyLine ParseNotifyLine(std::string_view line);

// A name as an IMAP4 quoted string, with "\" and '"' escaped.
std::string IMAP4Quoted(std::string_view name);

// The state items a check asks for.
inline constexpr const char* FolderStateItems = "(MESSAGES UIDNEXT UIDVALIDITY UNSEEN)";

// "LIST "" ("a" "b") RETURN (STATUS (...))": the states of the named
// mailboxes in one command, where LIST-STATUS is offered.
std::string ListStatusCommand(const std::vector<std::string>& names);
// "STATUS "a" (...)" for one mailbox.
std::string StatusCommand(const std::string& name);
// "NOTIFY SET (mailboxes ("a" ...) (MessageNew MessageExpunge FlagChange))
// (personal (MailboxName))": news of the named mailboxes, as STATUS lines,
// and of the mailbox list, so a renamed or deleted one is heard of.
// Where `selected` is given, that mailbox is told as the selected one.
std::string NotifySetCommand(const std::vector<std::string>& names, const std::string& selected = {});

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text of POP3 unique-id answers ("UIDL" and "UIDL n"), apart from the
// client so it can be checked line by line.

// One message as a unique-id answer names it: its number in this session
// and the id the server keeps for it across sessions.
struct TIdPOP3UidlEntry
{
    int Number = 0;
    std::string Id;
};

// Longest unique id a server may send.
constexpr std::size_t MaxPOP3UniqueIdLength = 70;

// unique-id := 1*70 (%x21-7E)
bool IsPOP3UniqueId(std::string_view text);

// uidl-line := msg-number SP unique-id
// msg-number := 1*DIGIT, above 0 and within int
// The whole line must match (no blanks around it, one space between);
// `entry` is set only when it does.
bool ParseUidlLine(std::string_view line, TIdPOP3UidlEntry& entry);

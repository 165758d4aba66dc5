#pragma once

#include <cstdint>
#include <string>

// What one line read while a mailbox is idling means. Functions over text,
// no socket.
//
//   continuation := "+" [SP text]
//   news         := "*" SP number SP ("EXISTS" / "EXPUNGE" / "FETCH" SP "(" ...)
//   bye          := "*" SP "BYE" [SP text]
//   completion   := tag SP ("OK" / "NO" / "BAD") [SP text]
//
// Keywords are matched without regard to case; anything else ("* OK still
// here", "* 4 RECENT", another tag) means nothing to the idle session.
enum class TIdIMAP4IdleLineKind
{
    Continuation,
    News,
    Bye,
    TaggedOk,
    TaggedNo,
    // Also a line with the tag but no status word after it: the command is
    // over either way.
    TaggedBad,
    Other
};

struct TIdIMAP4IdleLine
{
    TIdIMAP4IdleLineKind Kind = TIdIMAP4IdleLineKind::Other;
    // News: the message count of EXISTS, the message number of EXPUNGE or
    // FETCH (EXISTS may be 0, the others are 1 or more).
    std::uint32_t Number = 0;
    // News: "EXISTS", "EXPUNGE" or "FETCH" in upper case.
    std::string Keyword;
};

// `tag` is the IDLE command's tag; an empty tag matches no completion.
TIdIMAP4IdleLine ParseIdleLine(const std::string& line, const std::string& tag);

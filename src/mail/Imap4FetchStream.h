#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The answer to a batched UID FETCH taken apart: the UID set written on the
// command, the literal announcements that make a response go on over several
// lines, and the items of one response. Functions over text, no socket.

// The UIDs, ascending and each once, as a sequence set with runs written as
// ranges: {4, 5, 6, 7, 9} gives "4:7,9".
std::string UIDSetText(const std::vector<std::uint32_t>& ascending);

// The byte count of the literal a line announces at its end ("... {342}");
// -1 when it announces none. A count too large for 64 bits is the largest
// value, which no limit lets through.
long long TrailingLiteralSize(const std::string& line);

// What the batch reads from one FETCH response.
struct TIdIMAP4FetchItems
{
    std::uint32_t UID = 0;
    // RFC822.SIZE; -1 when absent or not a number.
    long long Size = -1;
    // BODY[HEADER] (or RFC822.HEADER) as a literal or quoted string; NIL is
    // no header.
    bool HasHeader = false;
    std::string Header;
    // BODY[TEXT]<0> (a partial fetch of the body's start), as the header.
    bool HasText = false;
    std::string Text;
};

// Parses one untagged FETCH response:
//   response := "*" SP number SP "FETCH" SP "(" att *(SP att) ")"
//   att      := name SP value
//   name     := atom, with a "[...]" section and a "<...>" origin
//   value    := "NIL" / atom / quoted / literal / list
//   list     := "(" [value *(SP value)] ")"
//   literal  := "{" number "}", standing for the next of `literals`
// `text` is the response's lines joined as read, each literal's bytes left
// out and its announcement kept; `literals` are those bytes in order (the
// header is moved out of them). False when the text is no FETCH response, is
// broken, or has no UID item: nothing of it may be used then.
bool ParseFetchResponse(const std::string& text, std::vector<std::string>& literals, TIdIMAP4FetchItems& items);

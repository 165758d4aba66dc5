#pragma once

#include <cstddef>

// What one server can make the program hold. A reply past these fails the
// operation instead of growing without end; a header past them is kept only
// in part.

// Lines of one multi-line reply ("CAPA", "+OK" continuations) or one header.
constexpr int MaxReplyLines = 10000;
// Bytes of one multi-line reply or one header, line ends not counted.
constexpr std::size_t MaxReplyBytes = 1u << 20;
// How far past the caps one header is still read to its end, its first part
// and the fields a check reads kept (mail/HeaderKeeper.h): well past any
// header a mail system lets through, and short of a server that never stops.
constexpr std::size_t HeaderFloodFactor = 32;
// Blank lines skipped while waiting for a reply line: enough for any honest
// server, far fewer than a loop that never ends.
constexpr int MaxBlankLinesSkipped = MaxReplyLines;
// Messages of the largest mailbox checked: a listing of every message's
// identity ("UIDL") may have this many lines, of which only a bounded part
// is kept.
constexpr int MaxMailboxMessages = 1000000;

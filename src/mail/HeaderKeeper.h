#pragma once

#include "mail/IdHeaderList.h"
#include "mail/MailLimits.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Keeps the lines of one header as they are read, within the caps. A header
// inside them is kept whole. Past them its first part stays, and the fields
// a check reads (sender, subject, identity, date, priority, list) are still kept
// where they come later, the last other fields of the first part giving way
// to them: a bounce with megabytes of "Received" lines is listed with its
// sender and subject, and the session reads on in step. Only the first of
// each such field counts past the caps, as only the first is ever looked up.
// A header far past the caps (HeaderFloodFactor) raises EIdReplyTooLarge.
class THeaderKeeper
{
public:
    // The kept lines go into `into`, emptied here; Finish completes them.
    explicit THeaderKeeper(TIdHeaderList& into, std::size_t maxBytes = MaxReplyBytes,
                           std::size_t maxLines = static_cast<std::size_t>(MaxReplyLines));

    // One line as it came, without its line end.
    void Add(std::string line);
    // A line read and not offered (POP3's blank lines): counted, not kept.
    void Skip();
    // Header bytes, split into lines at CR LF, LF or CR; a line may go on
    // into the next call. Of a line longer than maxBytes the start is kept.
    void AddBytes(std::string_view bytes);
    // Ends the header: the line AddBytes began and the fields kept past the
    // caps go into the list, in the order they came.
    void Finish();
    // Whether anything was left out.
    bool Cut() const { return FCut; }

private:
    // One more line of `bytes` read; raises once the header is a flood.
    void Count(std::size_t bytes);
    bool Fits(std::size_t bytes) const { return FBytes + bytes <= FMaxBytes && FLines + 1 <= FMaxLines; }
    // Lets other fields of the first part go until `bytes` fit; false, with
    // nothing gone, when they are not enough.
    bool MakeRoom(std::size_t bytes);
    void Keep(std::vector<std::string>& lines, std::string line);

    TIdHeaderList& FInto;
    std::size_t FMaxBytes;
    std::size_t FMaxLines;
    // Kept in all; of it, what other fields of the first part hold.
    std::size_t FBytes = 0;
    std::size_t FLines = 0;
    std::size_t FOtherBytes = 0;
    std::size_t FOtherLines = 0;
    // Read in all, for the flood bound.
    std::size_t FReadBytes = 0;
    std::size_t FReadLines = 0;
    bool FOver = false;
    bool FCut = false;
    // The field the last line belongs to is the first of a field a check reads.
    bool FCurrentWanted = false;
    unsigned FSeen = 0; // the fields a check reads met so far, one bit each
    // The first part is FInto's lines; where each of its fields starts and
    // whether a check reads it.
    std::vector<std::pair<std::size_t, bool>> FFields;
    // Fields a check reads that gave way at the end of the first part, last
    // first; then those that came past the caps.
    std::vector<std::vector<std::string>> FMoved;
    std::vector<std::string> FLater;
    // The line AddBytes is in, its start only when it is long.
    std::string FPartial;
    std::size_t FPartialBytes = 0;
    bool FPendingCR = false;
};

// The lines of the fields a check reads, the first of each with its folded
// lines, split into lines as AddBytes splits them: a lookup of those fields
// finds what it finds in a keeper's lines, without a string made for every
// other line. False, with `into` empty, when the header passes the caps and
// a keeper must choose what stays.
bool KeepCheckedFields(std::string_view bytes, TIdHeaderList& into);

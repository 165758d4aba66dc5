#include "mail/HeaderKeeper.h"

#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace
{

// What a check reads of a header (TIdMessage::CheckFieldsOnly) and what
// tells one message from another.
constexpr std::string_view WantedFields[] = {"From", "Subject", "Message-Id", "Date", "Priority", "X-Priority",
                                             "List-Id"};

// What one header may be, kept or not, before it is taken for a flood.
constexpr std::size_t FloodBytes = HeaderFloodFactor * MaxReplyBytes;
constexpr std::size_t FloodLines = HeaderFloodFactor * static_cast<std::size_t>(MaxReplyLines);

bool IsFolded(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// The index in WantedFields of the field the line starts; -1 for another.
// Named as lookups name it: the text before the first colon, blanks kept.
int WantedFieldOf(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return -1;
    const std::string_view name = line.substr(0, colon);
    for (int i = 0; i < static_cast<int>(std::size(WantedFields)); ++i)
        if (name.size() == WantedFields[i].size() && AsciiText::SameText(name, WantedFields[i]))
            return i;
    return -1;
}

} // namespace

THeaderKeeper::THeaderKeeper(TIdHeaderList& into, std::size_t maxBytes, std::size_t maxLines)
    : FInto(into), FMaxBytes(maxBytes), FMaxLines(maxLines)
{
    FInto.Clear();
}

void THeaderKeeper::Count(std::size_t bytes)
{
    ++FReadLines;
    FReadBytes += bytes;
    if (FReadLines > FloodLines || FReadBytes > FloodBytes)
        throw EIdReplyTooLarge();
}

void THeaderKeeper::Skip()
{
    Count(0);
}

void THeaderKeeper::Keep(std::vector<std::string>& lines, std::string line)
{
    FBytes += line.size();
    ++FLines;
    lines.push_back(std::move(line));
}

void THeaderKeeper::Add(std::string line)
{
    Count(line.size());
    const bool folded = IsFolded(line);
    if (!folded)
    {
        const int wanted = WantedFieldOf(line);
        const unsigned bit = wanted < 0 ? 0u : 1u << wanted;
        FCurrentWanted = bit != 0 && (FSeen & bit) == 0;
        FSeen |= bit;
    }
    if (!FOver)
    {
        if (Fits(line.size()))
        {
            if (!folded || FFields.empty())
                FFields.emplace_back(FInto.Lines.size(), FCurrentWanted);
            if (!FCurrentWanted)
            {
                FOtherBytes += line.size();
                ++FOtherLines;
            }
            Keep(FInto.Lines, std::move(line));
            return;
        }
        FOver = true;
        // A wanted field that runs on past the caps leaves the first part
        // whole, so the rest of it can follow it.
        if (folded && FCurrentWanted && !FFields.empty())
        {
            auto start = FInto.Lines.begin() + static_cast<std::ptrdiff_t>(FFields.back().first);
            FLater.assign(std::make_move_iterator(start), std::make_move_iterator(FInto.Lines.end()));
            FInto.Lines.erase(start, FInto.Lines.end());
            FFields.pop_back();
        }
    }
    if (!FCurrentWanted || !MakeRoom(line.size()))
    {
        // A wanted field that lost a line is not continued without it.
        FCurrentWanted = false;
        FCut = true;
        return;
    }
    Keep(FLater, std::move(line));
}

bool THeaderKeeper::MakeRoom(std::size_t bytes)
{
    if (FBytes - FOtherBytes + bytes > FMaxBytes || FLines - FOtherLines + 1 > FMaxLines)
        return false;
    std::vector<std::string>& lines = FInto.Lines;
    while (!Fits(bytes))
    {
        const auto [start, wanted] = FFields.back();
        FFields.pop_back();
        const auto first = lines.begin() + static_cast<std::ptrdiff_t>(start);
        if (wanted)
            FMoved.emplace_back(std::make_move_iterator(first), std::make_move_iterator(lines.end()));
        else
        {
            for (auto it = first; it != lines.end(); ++it)
            {
                FBytes -= it->size();
                FOtherBytes -= it->size();
                --FLines;
                --FOtherLines;
            }
            FCut = true;
        }
        lines.erase(first, lines.end());
    }
    return true;
}

void THeaderKeeper::AddBytes(std::string_view bytes)
{
    while (!bytes.empty())
    {
        if (FPendingCR && bytes.front() == '\n')
        {
            // The second half of a CR LF that straddled two calls.
            FPendingCR = false;
            bytes.remove_prefix(1);
            continue;
        }
        FPendingCR = false;
        const std::size_t end = bytes.find_first_of("\r\n");
        const std::string_view part = bytes.substr(0, end);
        // Past maxBytes a line cannot be kept whole: only its start is held.
        const std::size_t room = FMaxBytes - std::min(FPartial.size(), FMaxBytes);
        FPartial.append(part.substr(0, room));
        FPartialBytes += part.size();
        if (end == std::string_view::npos)
            return;
        FPendingCR = bytes[end] == '\r';
        bytes.remove_prefix(end + 1);
        const std::size_t dropped = FPartialBytes - FPartial.size();
        FPartialBytes = 0;
        if (dropped > 0)
        {
            // Counted as read; Add counts the kept start as a line.
            FReadBytes += dropped;
            FCut = true;
        }
        std::string line;
        line.swap(FPartial);
        Add(std::move(line));
    }
}

void THeaderKeeper::Finish()
{
    if (!FPartial.empty() || FPartialBytes > 0)
    {
        FReadBytes += FPartialBytes - FPartial.size();
        FPartialBytes = 0;
        std::string line;
        line.swap(FPartial);
        Add(std::move(line));
    }
    FPendingCR = false;
    std::vector<std::string>& lines = FInto.Lines;
    for (auto field = FMoved.rbegin(); field != FMoved.rend(); ++field)
        lines.insert(lines.end(), std::make_move_iterator(field->begin()), std::make_move_iterator(field->end()));
    lines.insert(lines.end(), std::make_move_iterator(FLater.begin()), std::make_move_iterator(FLater.end()));
    FMoved.clear();
    FLater.clear();
    FFields.clear();
}

bool KeepCheckedFields(std::string_view bytes, TIdHeaderList& into)
{
    into.Clear();
    // Within the caps a keeper keeps every line, so the first of each field
    // is the one it would keep.
    if (bytes.size() > MaxReplyBytes)
        return false;
    into.Lines.reserve(std::size(WantedFields) + 2);
    std::size_t lines = 0;
    unsigned seen = 0;
    bool wanted = false;
    for (std::size_t pos = 0; pos < bytes.size();)
    {
        // A line ends at the first CR or LF; both searched for as blocks.
        const char* const start = bytes.data() + pos;
        const auto* lf = static_cast<const char*>(std::memchr(start, '\n', bytes.size() - pos));
        const std::size_t limit = lf ? static_cast<std::size_t>(lf - bytes.data()) : bytes.size();
        const auto* cr = static_cast<const char*>(std::memchr(start, '\r', limit - pos));
        const std::size_t end = cr ? static_cast<std::size_t>(cr - bytes.data()) : limit;
        if (++lines > static_cast<std::size_t>(MaxReplyLines))
        {
            into.Clear();
            return false;
        }
        const std::string_view line = bytes.substr(pos, end - pos);
        if (!IsFolded(line))
        {
            const int field = WantedFieldOf(line);
            const unsigned bit = field < 0 ? 0u : 1u << field;
            wanted = bit != 0 && (seen & bit) == 0;
            seen |= bit;
        }
        if (wanted)
            into.Lines.emplace_back(line);
        pos = end + 1;
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            ++pos;
    }
    return true;
}

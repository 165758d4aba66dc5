#include "mail/EventStream.h"

bool TEventStreamReader::Feed(std::string_view bytes, std::vector<TServerEvent>& events)
{
    if (!FProblem.empty())
        return false;
    for (const char c : bytes)
    {
        if (c == '\n' && FAfterCr)
        {
            FAfterCr = false;
            continue;
        }
        FAfterCr = c == '\r';
        if (c == '\r' || c == '\n')
        {
            Line(events);
            FLine.clear();
            continue;
        }
        if (FLine.size() == MaxLine || FEvent.Data.size() + FLine.size() >= MaxLine)
        {
            FProblem = "an event line or event longer than " + std::to_string(MaxLine) + " bytes";
            FLine.clear();
            FEvent = {};
            return false;
        }
        FLine += c;
    }
    return true;
}

void TEventStreamReader::Line(std::vector<TServerEvent>& events)
{
    if (FLine.empty())
    {
        if (FHasData)
            events.push_back(std::move(FEvent));
        FEvent = {};
        FHasData = false;
        return;
    }
    if (FLine[0] == ':')
        return;
    const std::size_t colon = FLine.find(':');
    const std::string field = FLine.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : FLine.substr(colon + 1);
    if (!value.empty() && value[0] == ' ')
        value.erase(0, 1);
    if (field == "event")
        FEvent.Name = value.empty() ? "message" : value;
    else if (field == "data")
    {
        if (FHasData)
            FEvent.Data += '\n';
        FEvent.Data += value;
        FHasData = true;
    }
}

bool TChunkedReader::Feed(std::string_view bytes, std::string& out)
{
    std::size_t at = 0;
    while (at < bytes.size() && FProblem.empty() && !FEnded)
    {
        if (FPart == TPart::Data)
        {
            const std::size_t n = std::min(FLeft, bytes.size() - at);
            out.append(bytes.substr(at, n));
            at += n;
            FLeft -= n;
            if (FLeft == 0)
                FPart = TPart::DataEnd;
            continue;
        }
        const char c = bytes[at++];
        if (c != '\n')
        {
            if (FLine.size() == 64)
                FProblem = "a chunk line longer than 64 bytes";
            else
                FLine += c;
            continue;
        }
        if (!FLine.empty() && FLine.back() == '\r')
            FLine.pop_back();
        const std::string line = std::move(FLine);
        FLine.clear();
        if (FPart == TPart::DataEnd)
        {
            if (!line.empty())
                FProblem = "a chunk not ended by a line break";
            FPart = TPart::Size;
        }
        else if (FPart == TPart::Trailers)
            FEnded = line.empty();
        else
        {
            // Extensions after ';' carry nothing for us.
            const std::string size = line.substr(0, line.find(';'));
            std::size_t value = 0;
            bool digits = !size.empty() && size.size() <= 15;
            for (const char d : size)
            {
                const int v = d >= '0' && d <= '9'   ? d - '0'
                              : d >= 'a' && d <= 'f' ? d - 'a' + 10
                              : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                     : -1;
                digits = digits && v >= 0;
                value = value * 16 + static_cast<std::size_t>(v < 0 ? 0 : v);
            }
            if (!digits)
                FProblem = "a chunk size of \"" + size.substr(0, 20) + "\"";
            FLeft = value;
            FPart = value == 0 ? TPart::Trailers : TPart::Data;
        }
    }
    return FProblem.empty() && !FEnded;
}

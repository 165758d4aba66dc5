#include "mail/HttpAnswer.h"

#include <algorithm>
#include <cctype>

namespace
{

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Digits of the base only, and no more than a body bound can use.
bool Number(std::string_view text, int base, std::size_t& value)
{
    if (text.empty() || text.size() > 15)
        return false;
    value = 0;
    for (char c : text)
    {
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                              ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                              : -1;
        if (digit < 0)
            return false;
        value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
    }
    return true;
}

} // namespace

THttpAnswerReader::THttpAnswerReader(std::size_t maxBodyBytes) : MaxBody(maxBodyBytes)
{
}

std::string THttpAnswerReader::Header(std::string_view name) const
{
    const std::string key = Lower(name) + ":";
    std::size_t at = 0;
    while (at < FHeaders.size())
    {
        const std::size_t end = FHeaders.find('\n', at);
        const std::string_view line(FHeaders.data() + at, end - at);
        if (line.substr(0, key.size()) == key)
            return std::string(Trimmed(line.substr(key.size())));
        at = end + 1;
    }
    return {};
}

THttpAnswerReader::TState THttpAnswerReader::Fail(std::string problem)
{
    FState = TState::Failed;
    FProblem = std::move(problem);
    Pending.clear();
    // What arrived of the body before the fault depends on how the bytes
    // came in pieces; a failed answer has none.
    FBody.clear();
    return FState;
}

bool THttpAnswerReader::TakeLine(std::string& line)
{
    const std::size_t end = Pending.find('\n');
    if (end == std::string::npos)
        return false;
    line.assign(Pending, 0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    Pending.erase(0, end + 1);
    return true;
}

bool THttpAnswerReader::StatusLine(const std::string& line)
{
    std::size_t status = 0;
    if (line.compare(0, 7, "HTTP/1.") != 0 || line.size() < 12 || line[8] != ' '
        || !Number(std::string_view(line).substr(9, 3), 10, status) || (line.size() > 12 && line[12] != ' '))
        return false;
    FStatus = static_cast<int>(status);
    return true;
}

bool THttpAnswerReader::HeadersEnd()
{
    // An interim answer (100 Continue): the real one follows.
    if (FStatus >= 100 && FStatus < 200)
    {
        FHeaders.clear();
        Part = TPart::StatusLine;
        return true;
    }
    if (Lower(Header("Transfer-Encoding")).find("chunked") != std::string::npos)
    {
        Part = TPart::ChunkSize;
        return true;
    }
    const std::string length = Header("Content-Length");
    if (length.empty())
    {
        Part = TPart::BodyToEnd;
        return true;
    }
    if (!Number(length, 10, Left))
    {
        Fail("a Content-Length of \"" + length.substr(0, 40) + "\"");
        return false;
    }
    if (Left > MaxBody)
    {
        Fail("longer than " + std::to_string(MaxBody) + " bytes");
        return false;
    }
    Part = TPart::BodyByLength;
    if (Left == 0)
        FState = TState::Done;
    return true;
}

void THttpAnswerReader::AppendBody(std::string_view bytes)
{
    if (FBody.size() + bytes.size() > MaxBody)
    {
        Fail("longer than " + std::to_string(MaxBody) + " bytes");
        return;
    }
    FBody.append(bytes);
}

THttpAnswerReader::TState THttpAnswerReader::Feed(std::string_view bytes)
{
    if (FState != TState::Reading)
        return FState;
    Pending.append(bytes);
    std::string line;
    while (FState == TState::Reading)
    {
        switch (Part)
        {
        case TPart::StatusLine:
        case TPart::Headers:
        case TPart::ChunkSize:
        case TPart::ChunkDataEnd:
        case TPart::Trailers:
        {
            const bool header = Part == TPart::StatusLine || Part == TPart::Headers || Part == TPart::Trailers;
            if (!TakeLine(line))
            {
                // A line without end is bounded like the headers.
                if (Pending.size() + HeaderBytes > HeaderMaxBytes)
                    return Fail("headers longer than " + std::to_string(HeaderMaxBytes) + " bytes");
                return FState;
            }
            if (header && (HeaderBytes += line.size() + 2) > HeaderMaxBytes)
                return Fail("headers longer than " + std::to_string(HeaderMaxBytes) + " bytes");
            if (Part == TPart::StatusLine)
            {
                if (!StatusLine(line))
                    return Fail("not an HTTP answer: " + line.substr(0, 80));
                Part = TPart::Headers;
            }
            else if (Part == TPart::Headers)
            {
                if (!line.empty())
                {
                    const std::size_t colon = line.find(':');
                    if (colon == std::string::npos || colon == 0)
                        return Fail("a header without a name: " + line.substr(0, 80));
                    FHeaders += Lower(std::string_view(line).substr(0, colon)) + ":"
                                + std::string(Trimmed(std::string_view(line).substr(colon + 1))) + "\n";
                }
                else if (!HeadersEnd())
                    return FState;
            }
            else if (Part == TPart::ChunkSize)
            {
                // Chunk extensions after ';' carry nothing for us.
                const std::string_view size = Trimmed(std::string_view(line).substr(0, line.find(';')));
                if (!Number(size, 16, Left))
                    return Fail("a chunk size of \"" + line.substr(0, 40) + "\"");
                if (Left > MaxBody)
                    return Fail("longer than " + std::to_string(MaxBody) + " bytes");
                Part = Left == 0 ? TPart::Trailers : TPart::ChunkData;
            }
            else if (Part == TPart::ChunkDataEnd)
            {
                if (!line.empty())
                    return Fail("a chunk longer than its size");
                Part = TPart::ChunkSize;
            }
            else if (line.empty())
                FState = TState::Done;
            break;
        }
        case TPart::BodyByLength:
        case TPart::ChunkData:
        {
            if (Pending.empty())
                return FState;
            const std::size_t take = std::min(Left, Pending.size());
            AppendBody(std::string_view(Pending).substr(0, take));
            if (FState != TState::Reading)
                return FState;
            Pending.erase(0, take);
            Left -= take;
            if (Left == 0)
            {
                if (Part == TPart::BodyByLength)
                    FState = TState::Done;
                else
                    Part = TPart::ChunkDataEnd;
            }
            break;
        }
        case TPart::BodyToEnd:
            AppendBody(Pending);
            Pending.clear();
            return FState;
        }
    }
    return FState;
}

THttpAnswerReader::TState THttpAnswerReader::End()
{
    if (FState != TState::Reading)
        return FState;
    if (Part == TPart::BodyToEnd)
        return FState = TState::Done;
    return Fail(Part == TPart::StatusLine && FStatus == 0 && Pending.empty() ? "no answer"
                                                                             : "the answer ended early");
}

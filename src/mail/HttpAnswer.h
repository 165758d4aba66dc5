#pragma once

// Reads one HTTP/1.1 answer as it arrives, bounded: the status line and
// headers (at most HeaderMaxBytes), then a body framed by Content-Length,
// by chunks, or by the end of the connection, at most the size given.
// Plain C++, so that it is tested without a network.

#include <cstddef>
#include <string>
#include <string_view>

class THttpAnswerReader
{
public:
    static constexpr std::size_t HeaderMaxBytes = 65536;

    enum class TState
    {
        Reading,
        Done,
        Failed,
    };

    explicit THttpAnswerReader(std::size_t maxBodyBytes);

    // The next bytes from the server.
    TState Feed(std::string_view bytes);
    // The server closed the connection.
    TState End();

    TState State() const { return FState; }
    int Status() const { return FStatus; }
    // The first header of that name (case-insensitive), trimmed; empty if none.
    std::string Header(std::string_view name) const;
    // Empty once Failed.
    const std::string& Body() const { return FBody; }
    // Why Failed.
    const std::string& Problem() const { return FProblem; }

private:
    enum class TPart
    {
        StatusLine,
        Headers,
        BodyByLength,
        BodyToEnd,
        ChunkSize,
        ChunkData,
        ChunkDataEnd,
        Trailers,
    };

    bool TakeLine(std::string& line);
    bool StatusLine(const std::string& line);
    bool HeadersEnd();
    void AppendBody(std::string_view bytes);
    TState Fail(std::string problem);

    std::size_t MaxBody;
    TState FState = TState::Reading;
    TPart Part = TPart::StatusLine;
    std::string Pending; // bytes not yet taken
    std::size_t HeaderBytes = 0;
    int FStatus = 0;
    std::string FHeaders; // "name: value\n", names in lower case
    std::size_t Left = 0; // of the body or the current chunk
    std::string FBody;
    std::string FProblem;
};

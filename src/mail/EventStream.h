#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A server-sent event stream (the WHATWG "text/event-stream" format) as it
// arrives, free of the network: lines ended by CR LF, LF or CR; "event:",
// "data:" (joined by LF) and "id:" fields; a blank line ends an event;
// comments (":") and other fields are passed over. A line past `maxLine`
// breaks the stream: a peer cannot make us hold more than that.
struct TServerEvent
{
    std::string Name = "message";
    std::string Data;
};

class TEventStreamReader
{
public:
    explicit TEventStreamReader(std::size_t maxLine = 1024 * 1024) : MaxLine(maxLine) {}

    // Appends the events the bytes complete; false once the stream broke a
    // bound (then for good).
    bool Feed(std::string_view bytes, std::vector<TServerEvent>& events);
    const std::string& Problem() const { return FProblem; }

private:
    void Line(std::vector<TServerEvent>& events);

    std::size_t MaxLine;
    std::string FLine;
    bool FAfterCr = false;
    bool FHasData = false;
    TServerEvent FEvent;
    std::string FProblem;
};

// HTTP/1.1 chunked transfer coding taken off as the bytes arrive; a chunk
// size line past 64 characters or malformed breaks it.
class TChunkedReader
{
public:
    // Appends the decoded bytes to `out`; false once broken or ended.
    bool Feed(std::string_view bytes, std::string& out);
    bool Ended() const { return FEnded; }
    const std::string& Problem() const { return FProblem; }

private:
    enum class TPart
    {
        Size,
        Data,
        DataEnd,
        Trailers,
    };
    TPart FPart = TPart::Size;
    std::string FLine;
    std::size_t FLeft = 0;
    bool FEnded = false;
    std::string FProblem;
};

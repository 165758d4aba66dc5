// The POP3 reply object and the STAT/LIST number readers, line by line and as
// whole replies.
#include "mail/Pop3Client.h"
#include "mail/Pop3Reply.h"
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdStrings lines;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }

    TIdReplyPOP3 reply;
    for (const std::string& line : lines)
    {
        const std::size_t boundary = POP3StatusBoundary(line);
        // At the boundary: a space, a "-", or the end of the line (or past it).
        if (boundary < 1 || (boundary <= line.size() && line[boundary - 1] != ' ' && line[boundary - 1] != '-'))
            std::abort();
        (void)reply.EndsReply(line);
        (void)IsPOP3ExtendedCode(line);
        if (POP3ListSize(line) < -1)
            std::abort();
        try
        {
            if (POP3StatCount(line) < 0 && line.find('-') == std::string::npos)
                std::abort(); // a negative count needs a minus sign
        }
        catch (const EConvertError&)
        {
        }
        const std::string stamp = POP3GreetingTimestamp(line);
        if (!stamp.empty() && (stamp.front() != '<' || stamp.back() != '>'))
            std::abort();
    }

    reply.SetFormattedReply(lines);
    if (reply.Code != "+OK" && reply.Code != "-ERR" && reply.Code != "+" && !reply.Code.empty())
        std::abort();
    if (reply.Text.size() != lines.size())
        std::abort();
    if (!reply.EnhancedCode.empty() && reply.Code != "-ERR")
        std::abort();
    try
    {
        reply.RaiseReplyFailure();
    }
    catch (const EIdReplyPOP3Error& e)
    {
        if (e.Code != reply.Code)
            std::abort();
    }
    return 0;
}

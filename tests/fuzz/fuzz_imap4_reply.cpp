// IMAP4 replies: any list of lines is parsed or refused with a reply error,
// and what is kept comes from the lines.
#include "mail/IdExceptions.h"
#include "mail/Imap4Reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // One line per LF; the first byte picks the expected words.
    TIdStrings lines;
    std::size_t start = size > 0 ? 1 : 0;
    while (start <= text.size())
    {
        const std::size_t lf = text.find('\n', start);
        lines.push_back(text.substr(start, lf == std::string::npos ? std::string::npos : lf - start));
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    static const TIdStrings choices[] = {{}, {"FETCH"}, {"SEARCH"}, {"BYE"}, {"FLAGS", "OK", "EXISTS", "RECENT"}};
    const TIdStrings& expected = choices[size > 0 ? data[0] % 5 : 0];

    TIdReplyIMAP4 reply;
    try
    {
        reply.SetFormattedReply(lines);
    }
    catch (const EIdReplyIMAP4Error& e)
    {
        if (e.Message.rfind("Unexpected: ", 0) != 0)
            std::abort();
        return 0;
    }
    if (!IsIMAP4StatusWord(reply.Code))
        std::abort();
    const std::size_t before = reply.Text.size() + reply.SideLines.size();
    std::size_t bytes = 0;
    for (const std::string& line : reply.Text)
        bytes += line.size();
    for (const std::string& line : reply.SideLines)
        bytes += line.size();
    if (bytes > size)
        std::abort();
    reply.MoveUnsolicitedLines(expected);
    // Lines only move (empty ones go), and what stays carries a word asked for.
    if (reply.Text.size() + reply.SideLines.size() > before)
        std::abort();
    for (const std::string& line : reply.Text)
        if (!CarriesResponseWord(line, expected))
            std::abort();
    (void)reply.EndsReply(lines.back());
    (void)EndsGreeting(lines.back());
    return 0;
}

// The line reader and ReadReply over a scripted byte stream: whatever the
// peer sends, a read ends in a line, a reply or a mail error, and no reply
// holds more than the caps allow.
#include "ByteStream.h"

#include "mail/IdExceptions.h"
#include "mail/IdTCPConnection.h"
#include "mail/MailLimits.h"
#include "mail/Pop3Reply.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    // The first four bytes choose the reads, the rest is what the peer sends.
    const std::uint8_t* ops = data;
    auto stream = std::make_unique<TFuzzByteStream>(data + 4, size - 4);
    TFuzzByteStream& handler = *stream;
    handler.MaxLineLength = ops[0] & 1 ? 16384 : 64 + ops[0];
    handler.MaxLineAction = ops[0] & 2 ? maSplit : maException;

    TIdTCPConnection connection(std::make_unique<TIdReplyPOP3>());
    connection.SetIOHandler(std::move(stream));
    for (int round = 0; round < 12; ++round)
    {
        const std::uint8_t op = ops[1 + round % 3] >> (2 * (round / 3)) & 3;
        try
        {
            switch ((op + round) % 5)
            {
            case 0:
            {
                connection.ReadReply(round % 2 ? "+OK" : "");
                const TIdStrings& text = connection.LastReply().Text;
                std::size_t bytes = 0;
                for (const std::string& line : text)
                    bytes += line.size();
                // The line read past the cap is not kept.
                if (text.size() > static_cast<std::size_t>(MaxReplyLines) ||
                    bytes > MaxReplyBytes + static_cast<std::size_t>(handler.MaxLineLength))
                    std::abort();
                break;
            }
            case 1:
            {
                TIdStrings lines;
                handler.ReadDotTerminated(lines);
                if (lines.size() > static_cast<std::size_t>(MaxReplyLines))
                    std::abort();
                break;
            }
            case 2:
            {
                const std::string line = handler.ReadLineSkippingBlanks();
                if (line.size() > static_cast<std::size_t>(handler.MaxLineLength))
                    std::abort();
                break;
            }
            case 3:
            {
                const std::string line = handler.ReadLine(round % 2 ? "\n" : "\r\n.\r\n", 0);
                if (handler.MaxLineAction == maException && line.size() > static_cast<std::size_t>(handler.MaxLineLength))
                    std::abort();
                break;
            }
            case 4:
            {
                const int want = ops[3] * 37;
                const std::string bytes = handler.ReadExactBytes(want);
                if (bytes.size() > static_cast<std::size_t>(want))
                    std::abort();
                break;
            }
            }
        }
        catch (const EIdException&)
        {
            // A closed stream, a too-long line or reply, a refused reply.
        }
    }
    return 0;
}

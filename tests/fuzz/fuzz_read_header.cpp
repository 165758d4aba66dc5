// ReadHeaderLines over a scripted byte stream: a header ends at its
// terminator, at its flood bound or at the end of the stream, is kept within
// the caps, and no header field, however malformed, fails the load.
#include "ByteStream.h"

#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/MailLimits.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace
{

struct LineSource
{
    TIdIOHandler& Handler;
    std::string ReadLine() { return Handler.ReadLineOrTimeout(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    TFuzzByteStream stream(data + 1, size - 1);
    LineSource source{stream};
    TIdMessage message;
    const std::string terminator = data[0] & 1 ? "." : "";
    try
    {
        const std::string last = ReadHeaderLines(source, message, terminator);
        if (last != terminator && last != ".")
            std::abort();
    }
    catch (const EIdReplyTooLarge&)
    {
        if (!message.HeaderLines.Empty())
            std::abort();
        return 0;
    }
    catch (const EIdConnClosedGracefully&)
    {
        // The stream ended inside the header; load what came.
        message.LoadFromHeaderLines();
    }
    catch (const EIdReadLnMaxLineLengthExceeded&)
    {
        message.LoadFromHeaderLines();
    }
    if (message.HeaderLines.Count() > static_cast<std::size_t>(MaxReplyLines))
        std::abort();
    // Shown in a row: must not raise either.
    (void)message.FromText();
    return 0;
}

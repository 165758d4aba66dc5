// The batched header fetch over a scripted byte stream: whatever the server
// answers, the fetch ends in a result or an error of the mail library, every
// record is for a UID that was asked and appears once, and nothing it holds
// passes the caps.
#include "ByteStream.h"

#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/MailLimits.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{

// A stream that never looks readable before a command, so the client's
// drain of stray lines leaves the script to the answer.
class TAnswerStream : public TFuzzByteStream
{
public:
    using TFuzzByteStream::TFuzzByteStream;
    bool WaitReadable(int) override { return false; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte: UIDs 1 to 1 + (low three bits), chunks of 1 + (next two
    // bits), only the fields a check reads when the sixth bit is set, and
    // small caps when the top bit is set.
    const std::uint8_t control = data[0];
    std::vector<std::uint32_t> uids;
    for (std::uint32_t uid = 1; uid <= 1u + (control & 7); ++uid)
        uids.push_back(uid);
    const std::size_t chunk = 1 + ((control >> 3) & 3);

    TIdIMAP4 imap;
    if (control & 0x80)
    {
        imap.MaxReplySize = 4096;
        imap.MaxHeaderSize = 2048;
    }
    imap.CheckFieldsOnly = (control & 0x20) != 0;
    imap.SetIOHandler(std::make_unique<TAnswerStream>(data + 1, size - 1));
    imap.IOHandler()->MaxLineLength = imap.MaxReplyLineLength;
    imap.ConnectionState = TIdIMAP4ConnectionState::Selected;

    std::vector<TIdIMAP4FetchedHeader> out;
    try
    {
        (void)imap.UIDFetchHeadersAndSizes(uids, out, chunk);
    }
    catch (const EIdException&)
    {
        // The stream ended, broke a rule or passed a cap: what the chunks
        // before it kept is checked all the same.
    }
    std::vector<std::uint32_t> seen;
    for (const TIdIMAP4FetchedHeader& record : out)
    {
        if (std::find(uids.begin(), uids.end(), record.UID) == uids.end())
            std::abort();
        if (std::find(seen.begin(), seen.end(), record.UID) != seen.end())
            std::abort();
        seen.push_back(record.UID);
        if (record.Size < -1)
            std::abort();
        if (record.Message.HeaderLines.Count() > static_cast<std::size_t>(MaxReplyLines))
            std::abort();
        std::size_t bytes = 0;
        for (const std::string& line : record.Message.HeaderLines.Lines)
            bytes += line.size();
        if (bytes > static_cast<std::size_t>(imap.MaxHeaderSize))
            std::abort();
    }
    if (out.size() > uids.size())
        std::abort();
    return 0;
}

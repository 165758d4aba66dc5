// A login with an access token over a scripted byte stream: whatever the
// server's challenges and replies, the exchange ends in a reply or an error
// of the mail library, the token goes out once at most, and the mechanism
// answers one error challenge at most.
#include "ByteStream.h"

#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/MailLimits.h"
#include "mail/Pop3Client.h"
#include "mail/SaslMechanism.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace
{

// Keeps what the client writes, and never looks readable before a command,
// so the client's drain of stray lines leaves the script to the answer.
class TRecordingStream : public TFuzzByteStream
{
public:
    TRecordingStream(const std::uint8_t* data, std::size_t size, std::string& written)
        : TFuzzByteStream(data, size), FWrittenBytes(written)
    {
    }
    bool WaitReadable(int) override { return false; }

protected:
    int WriteDataToTarget(const char* data, int size) override
    {
        FWrittenBytes.append(data, static_cast<std::size_t>(size));
        return TFuzzByteStream::WriteDataToTarget(data, size);
    }

private:
    std::string& FWrittenBytes;
};

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte: POP3 when the low bit is set, XOAUTH2 when the next
    // is, SASL-IR offered (IMAP4) when the third is.
    const std::uint8_t control = data[0];
    const bool pop3 = control & 1;
    const std::string name = control & 2 ? "XOAUTH2" : "OAUTHBEARER";
    const std::string token = "ya29.fuzz-token_0123456789";
    std::unique_ptr<TIdSASLMechanism> mechanism = MakeSASLMechanism(name, {"ann@example.org", token});
    auto& bearer = static_cast<TIdSASLBearer&>(*mechanism);
    const std::string initial = SASLEncode(mechanism->InitialResponse());

    std::string written;
    auto stream = std::make_unique<TRecordingStream>(data + 1, size - 1, written);
    try
    {
        if (pop3)
        {
            TIdPOP3 pop;
            pop.SetIOHandler(std::move(stream));
            pop.Authenticate(*mechanism);
        }
        else
        {
            TIdIMAP4 imap;
            imap.SetIOHandler(std::move(stream));
            imap.IOHandler()->MaxLineLength = imap.MaxReplyLineLength;
            if (control & 4)
                imap.ServerCapabilities = {"IMAP4rev1", "SASL-IR"};
            imap.Authenticate(*mechanism);
        }
    }
    catch (const EIdException&)
    {
        // The stream ended, broke a rule or passed a cap.
    }
    if (Count(written, initial) > 1)
        std::abort();
    const std::size_t errorAnswers = Count(written, name == "XOAUTH2" ? "\r\n\r\n" : "\r\nAQ==\r\n");
    if (!bearer.Refused() && errorAnswers > 0)
        std::abort();
    if (Count(written, "\r\n") > static_cast<std::size_t>(MaxReplyLines) + 3)
        std::abort();
    return 0;
}

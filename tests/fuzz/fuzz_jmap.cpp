// What a JMAP server sends: the session resource, the answers a check reads
// and the push event stream (chunked or not). The first byte picks the
// reader; any input must end in a result, EJmapMalformed or EJmapNoMail,
// within the bounds the readers set.
#include "mail/EventStream.h"
#include "mail/JmapWire.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try
    {
        if (data[0] % 3 == 0)
        {
            ReadJmapSession(text, "https://mail.example/.well-known/jmap");
            return 0;
        }
        if (data[0] % 3 == 1)
        {
            // In pieces of a size the second byte picks, as a socket gives them.
            const std::size_t piece = text.empty() ? 1 : 1 + static_cast<unsigned char>(text[0]) % 64;
            TChunkedReader chunks;
            TEventStreamReader reader(4096);
            std::vector<TServerEvent> events;
            for (std::size_t at = 0; at < text.size(); at += piece)
            {
                std::string plain;
                const std::string_view bytes = std::string_view(text).substr(at, piece);
                if (data[0] & 8)
                    chunks.Feed(bytes, plain);
                else
                    plain = bytes;
                if (!reader.Feed(plain, events))
                    break;
            }
            for (const TServerEvent& e : events)
                JmapStateChanged(e.Data, "u1");
            return 0;
        }
        // One answer of each kind the check asks for, under the call ids it uses.
        const TJmapResponse response(text);
        std::string state;
        for (const auto& [id, method] : {std::pair{"s", "Email/get"}, {"q", "Email/query"}, {"c", "Email/changes"},
                                         {"m", "Mailbox/get"}, {"d", "Email/set"}})
        {
            try
            {
                const QJsonObject& answer = response.Answer(id, method);
                if (id[0] == 's')
                    ReadJmapEmails(answer, 64, state);
                else if (id[0] == 'q')
                    ReadJmapQuery(answer, 64);
                else if (id[0] == 'c')
                    ReadJmapChanges(answer, 64);
                else if (id[0] == 'm')
                    ReadJmapMailboxes(answer, 64, state);
                else
                    ReadJmapSetFailures(answer);
            }
            catch (const EJmapMethodError&)
            {
            }
            catch (const EJmapMalformed&)
            {
            }
        }
    }
    catch (const EJmapMalformed&)
    {
    }
    catch (const EJmapNoMail&)
    {
    }
    return 0;
}

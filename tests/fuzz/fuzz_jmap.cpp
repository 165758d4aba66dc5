// What a JMAP server sends: the session resource and the answers a check
// reads. The first byte picks the reader; any input must end in a result,
// EJmapMalformed or EJmapNoMail, within the bounds the readers set.
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
        if (data[0] % 2 == 0)
        {
            ReadJmapSession(text, "https://mail.example/.well-known/jmap");
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

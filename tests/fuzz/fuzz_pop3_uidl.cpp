// Unique-id answers over a scripted byte stream: whatever the server sends,
// "UIDL" and "UIDL n" end in ids that are valid, in a refusal with nothing
// kept, or in a mail error with nothing kept; a listing never holds more
// entries than the caps allow.
#include "ByteStream.h"

#include "mail/IdExceptions.h"
#include "mail/MailLimits.h"
#include "mail/Pop3Client.h"
#include "mail/Pop3Uidl.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace
{

void CheckEntry(const TIdPOP3UidlEntry& entry)
{
    if (entry.Number < 1 || !IsPOP3UniqueId(entry.Id))
        std::abort();
    // What the parser accepts it accepts again in its plain form.
    TIdPOP3UidlEntry again;
    if (!ParseUidlLine(std::to_string(entry.Number) + " " + entry.Id, again) || again.Number != entry.Number ||
        again.Id != entry.Id)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the commands, the rest is what the server sends.
    const std::uint8_t ops = data[0];

    TIdPOP3 pop;
    pop.SetIOHandler(std::make_unique<TFuzzByteStream>(data + 1, size - 1));
    for (int round = 0; round < 4; ++round)
    {
        const bool single = ops >> round & 1;
        const int number = (ops >> 4) + 1;
        // Left over from before; whichever is asked for must not keep it.
        std::vector<TIdPOP3UidlEntry> entries{{1, "stale"}};
        std::string id = "stale";
        auto nothingKept = [&] { return single ? id.empty() : entries.empty(); };
        try
        {
            if (single)
            {
                const bool named = pop.UIDL(number, id);
                if (named ? !IsPOP3UniqueId(id) : !id.empty())
                    std::abort();
            }
            else
            {
                const bool listed = pop.RetrieveUIDL(entries);
                if ((!listed && !entries.empty()) || entries.size() > static_cast<std::size_t>(MaxReplyLines))
                    std::abort();
                for (const TIdPOP3UidlEntry& entry : entries)
                    CheckEntry(entry);
            }
        }
        catch (const EIdPOP3UidlInvalid& e)
        {
            if (e.Line < 0 || e.Line > MaxReplyLines || !nothingKept())
                std::abort();
        }
        catch (const EIdException&)
        {
            // A closed stream, a time-out, a flood, an odd status word.
            if (!nothingKept())
                std::abort();
        }
    }
    return 0;
}

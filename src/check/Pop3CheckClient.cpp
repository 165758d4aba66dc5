#include "check/Pop3CheckClient.h"

#include "check/FurtherPreviews.h"
#include "check/RowId.h"
#include "check/SessionGuard.h"
#include "check/SessionOpen.h"
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/MessagePreview.h"
#include "mail/Pop3Client.h"

void TPop3CheckClient::Connect()
{
    FStalled = false;
    FSizeOf = 0;
    GuardSession(FStalled, [this] { OpenSession(FClient, FLogin); });
    FPipelining = FClient.CanPipeline();
}

int TPop3CheckClient::MessageCount()
{
    FCount = GuardSession(FStalled, [this] { return FClient.CountMessages(); });
    return FCount;
}

std::vector<std::string> TPop3CheckClient::MessageIds(int first, int count)
{
    return GuardSession(FStalled, [this, first, count] {
        std::vector<std::string> ids;
        std::vector<TIdPOP3UidlEntry> entries;
        int listed = 0;
        try
        {
            if (!FClient.RetrieveUIDL(entries, first, listed))
                return ids;
        }
        catch (const EIdPOP3UidlInvalid&)
        {
            // Read to its end: the session goes on, known by fingerprints.
            return ids;
        }
        // Every message listed, and exactly those asked for kept.
        if (listed != FCount || first < 1 || first + count - 1 > FCount ||
            static_cast<int>(entries.size()) != FCount - first + 1)
            return ids;
        ids.resize(count);
        for (const TIdPOP3UidlEntry& e : entries)
        {
            if (e.Number < first || e.Number > FCount)
                return std::vector<std::string>();
            if (e.Number < first + count)
            {
                std::string& id = ids[e.Number - first];
                if (!id.empty())
                    return std::vector<std::string>(); // a number listed twice
                id = TRowId::Pop3(e.Id).Text;
            }
        }
        return ids;
    });
}

TFetchedHeader TPop3CheckClient::FetchHeader(int i)
{
    return GuardSession(FStalled, [this, i] {
        TIdMessage message;
        message.CheckFieldsOnly = true;
        TPreview preview;
        FClient.FetchHeader(i, message, ReadPreviews ? &preview : nullptr);
        TFetchedHeader header = FetchedHeaderOf(message);
        header.Preview = std::move(preview);
        header.Preview.AsDesktopText();
        return header;
    });
}

TFetchedHeader TPop3CheckClient::FetchHeaderThenSize(int i)
{
    if (!FPipelining)
        return FetchHeader(i);
    return GuardSession(FStalled, [this, i] {
        FSizeOf = 0;
        TIdMessage message;
        message.CheckFieldsOnly = true;
        TPreview preview;
        FSize = FClient.FetchHeaderAndSize(i, message, ReadPreviews ? &preview : nullptr);
        FSizeOf = i;
        TFetchedHeader header = FetchedHeaderOf(message);
        header.Preview = std::move(preview);
        header.Preview.AsDesktopText();
        return header;
    });
}

std::vector<TFetchedMessage> TPop3CheckClient::FetchMessages(const std::vector<int>& numbers)
{
    std::vector<TFetchedMessage> fetched = TCheckClient::FetchMessages(numbers);
    if (!ReadPreviews)
        return fetched;
    if (const std::vector<std::size_t> further = PreviewsToReadFurther(fetched, ShownPreviews); !further.empty())
        GuardSession(FStalled, [&] {
            std::vector<std::pair<int, int>> again;
            for (std::size_t k : further)
                again.emplace_back(numbers[k], fetched[k].Header.Preview.FurtherLines());
            ReadPreviewsFurther(fetched, further, FClient.FetchBodyStarts(again, PreviewFurtherBytes));
        });
    return fetched;
}

int TPop3CheckClient::MessageSize(int i)
{
    if (FSizeOf == i)
    {
        FSizeOf = 0;
        return FSize.Take();
    }
    return GuardSession(FStalled, [this, i] { return FClient.MessageSize(i); });
}

void TPop3CheckClient::Disconnect()
{
    GuardSession(FStalled, [this] { FClient.Disconnect(); });
}

void TPop3CheckClient::DisconnectAfterFailure() noexcept
{
    try
    {
        // A server that stopped answering would make "QUIT" wait out a
        // second time-out; it is only closed then.
        FClient.Disconnect(!FStalled);
    }
    catch (...)
    {
        // The account has failed already; its error row says why.
    }
}

#include "check/JmapPushClient.h"

#include "check/JmapLink.h"
#include "mail/EventStream.h"
#include "mail/HttpLine.h"
#include "mail/IdIOHandler.h"

#include <QJsonArray>

#include <algorithm>
#include <cctype>

namespace
{

constexpr int MaxHeadLines = 100;

std::string Replaced(std::string text, const std::string& marker, const std::string& value)
{
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + value.size()))
        text.replace(at, marker.size(), value);
    return text;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class TJmapPushClient : public TPushClient
{
public:
    TJmapPushClient(const Account& account, const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
        : FLimits(limits), FAbort(abort), FLink(limits, std::move(abort))
    {
        FLink.SetAccount(account);
    }

    TOpened Open() override
    {
        try
        {
            FMemory = FLink.Open();
        }
        catch (const EIdServerRefusal&)
        {
            return TOpened::Refused;
        }
        THttpUrl url;
        if (FMemory.Session.EventSourceUrl.empty() ||
            !ReadHttpUrl(JmapEventSourceUrl(FMemory.Session.EventSourceUrl, JmapPingSeconds), url))
            return TOpened::NoIdle;
        for (int attempt = 0;; ++attempt)
        {
            THttpLineLimits limits;
            limits.ConnectTimeout = FLimits.ConnectTimeout;
            limits.ReadTimeout = FLimits.ReadTimeout;
            limits.OperationTimeout = 0; // each wait bounds itself
            limits.Clock = FLimits.Clock;
            limits.LineAbort = FAbort;
            FLine = HttpLineFor(url, limits);
            THttpRequest request;
            request.Url = url;
            request.Authorization = FLink.AuthorizationHeader(attempt > 0);
            std::string bytes = HttpRequestText(request, "text/event-stream");
            std::fill(request.Authorization.begin(), request.Authorization.end(), '\0');
            FLine->MaxLineLength = 8192;
            FLine->Open();
            FLine->Write(bytes);
            std::fill(bytes.begin(), bytes.end(), '\0');
            const int status = ReadHead();
            if (status == 200 && FStream)
                return TOpened::Ready;
            FLine->Close();
            if ((status == 401 || status == 403) && FLink.Aimed().Authentication == aaOAuth2 && attempt == 0)
                continue;
            return status == 401 || status == 403 ? TOpened::Refused : TOpened::NoIdle;
        }
    }

    void Start() override {}

    bool Wait(int milliseconds, int anyLineAfter) override
    {
        TIdClock& clock = FLine->TimeSource();
        const auto begun = clock.Now();
        const auto elapsed = [&] {
            return static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - begun).count());
        };
        while (true)
        {
            for (std::size_t i = 0; i < FEvents.size(); ++i)
            {
                const TServerEvent& e = FEvents[i];
                if (JmapStateChanged(e.Data, FMemory.Session.AccountId))
                {
                    FEvents.erase(FEvents.begin(), FEvents.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                    return true;
                }
            }
            FEvents.clear();
            const int left = milliseconds - elapsed();
            if (left <= 0 || (FHeardLine && elapsed() >= anyLineAfter))
                return false;
            FHeardLine = false;
            // Raises when the server closed the stream: the session is lost.
            if (FLine->InputBuffer().Size() == 0 && FLine->ReceiveChunk(true, left, false) < 0)
                return false;
            std::string bytes = FLine->InputBuffer().Extract(FLine->InputBuffer().Size());
            if (FChunked)
            {
                std::string plain;
                if (!FChunks.Feed(bytes, plain) && !FChunks.Problem().empty())
                    throw EIdProtocolError("The server's event stream cannot be read.");
                bytes.swap(plain);
            }
            if (!FReader.Feed(bytes, FEvents))
                throw EIdReplyTooLarge();
            FHeardLine = !bytes.empty();
        }
    }

    bool Renew() override
    {
        const std::optional<TJmapAccountMemory> kept = FLimits.Jmap ? FLimits.Jmap->Recall(FLink.Login())
                                                                     : std::nullopt;
        QJsonObject get{{"accountId", QString::fromStdString(FMemory.Session.AccountId)}, {"ids", QJsonArray{}}};
        const TJmapResponse response = FLink.Call(FMemory.Session, {{"Email/get", get, "s"}});
        std::string state;
        ReadJmapEmails(response.Answer("s", "Email/get"), 0, state);
        return !kept || kept->EmailState.empty() || kept->EmailState != state;
    }

    void Close() noexcept override
    {
        if (FLine)
            FLine->Close();
    }

private:
    // The answer's status; FStream and FChunked set for an event stream.
    int ReadHead()
    {
        FStream = false;
        FChunked = false;
        const std::string status = FLine->ReadLineOrTimeout();
        if (status.size() < 12 || status.compare(0, 7, "HTTP/1.") != 0 || status[8] != ' ' ||
            !std::isdigit(static_cast<unsigned char>(status[9])))
            throw EIdProtocolError("The server's HTTP answer cannot be read.");
        const int code = std::atoi(status.substr(9, 3).c_str());
        for (int i = 0;; ++i)
        {
            if (i == MaxHeadLines)
                throw EIdProtocolError("The server's HTTP answer cannot be read.");
            const std::string line = FLine->ReadLineOrTimeout();
            if (line.empty())
                break;
            const std::size_t colon = line.find(':');
            const std::string name = Lower(line.substr(0, colon));
            const std::string value = colon == std::string::npos ? std::string() : Lower(line.substr(colon + 1));
            if (name == "content-type")
                FStream = value.find("text/event-stream") != std::string::npos;
            else if (name == "transfer-encoding")
                FChunked = value.find("chunked") != std::string::npos;
        }
        return code;
    }

    TSessionLimits FLimits;
    std::shared_ptr<TIdLineAbort> FAbort;
    TJmapLink FLink;
    TJmapAccountMemory FMemory;
    std::unique_ptr<TIdIOHandler> FLine;
    bool FStream = false;
    bool FChunked = false;
    bool FHeardLine = false;
    TChunkedReader FChunks;
    TEventStreamReader FReader;
    std::vector<TServerEvent> FEvents;
};

} // namespace

std::string JmapEventSourceUrl(const std::string& urlTemplate, int pingSeconds)
{
    // Made absolute, the template may have its braces percent-encoded.
    std::string url = urlTemplate;
    for (const char* braces : {"%7B", "%7b"})
        url = Replaced(url, braces, "{");
    for (const char* braces : {"%7D", "%7d"})
        url = Replaced(url, braces, "}");
    return Replaced(Replaced(Replaced(url, "{types}", "Email,Mailbox"), "{closeafter}", "no"), "{ping}",
                    std::to_string(pingSeconds));
}

std::unique_ptr<TPushClient> MakeJmapPushClient(const Account& account, const TSessionLimits& limits,
                                                std::shared_ptr<TIdLineAbort> abort)
{
    return std::make_unique<TJmapPushClient>(account, limits, std::move(abort));
}

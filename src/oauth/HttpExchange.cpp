#include "oauth/HttpExchange.h"

#include "i18n/Translate.h"
#include "mail/IdExceptions.h"
#include "mail/HttpLine.h"
#include "mail/IdIOHandler.h"
#include "oauth/OAuthErrors.h"
#include "check/CheckRules.h"
#include "platform/AsciiText.h"


namespace
{

[[noreturn]] void BadUrl(const std::string& url)
{
    throw EOAuthSetup(FormatOne(ResStr("The address %s cannot be used: it must be an https address."), "%s", url));
}

[[noreturn]] void Malformed()
{
    throw EOAuthMalformed(ResStr("The authorization server sent an answer that cannot be read."));
}

// Header lines and their bytes: far past what an honest answer needs.
constexpr int MaxHeaderLines = 100;
constexpr int MaxHeaderLine = 8192;

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimmedValue(const std::string& line, std::size_t colon)
{
    std::size_t b = colon + 1;
    std::size_t e = line.size();
    while (b < e && (line[b] == ' ' || line[b] == '\t'))
        ++b;
    while (e > b && (line[e - 1] == ' ' || line[e - 1] == '\t' || line[e - 1] == '\r'))
        --e;
    return line.substr(b, e - b);
}

// A length or chunk size: decimal or hex digits only, bounded by `max`.
std::size_t Number(const std::string& text, int base, std::size_t max)
{
    if (text.empty() || text.size() > 16)
        Malformed();
    std::size_t value = 0;
    for (const char c : text)
    {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            Malformed();
        value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
        if (value > max)
            throw EOAuthMalformed(ResStr("The authorization server's answer is too large."));
    }
    return value;
}

struct THead
{
    int Status = 0;
    std::size_t Length = 0;
    bool HasLength = false;
    bool Chunked = false;
};

THead ReadHead(TIdIOHandler& line, std::size_t maxBody)
{
    THead head;
    const std::string status = line.ReadLineOrTimeout();
    // HTTP/1.x 200 Reason
    if (status.size() < 12 || status.compare(0, 7, "HTTP/1.") != 0 || status[8] != ' ')
        Malformed();
    head.Status = static_cast<int>(Number(status.substr(9, 3), 10, 999));
    for (int i = 0;; ++i)
    {
        if (i == MaxHeaderLines)
            Malformed();
        const std::string header = line.ReadLineOrTimeout();
        if (header.empty())
            break;
        const std::size_t colon = header.find(':');
        if (colon == std::string::npos)
            Malformed();
        const std::string name = Lower(header.substr(0, colon));
        if (name == "content-length")
        {
            head.Length = Number(TrimmedValue(header, colon), 10, maxBody);
            head.HasLength = true;
        }
        else if (name == "transfer-encoding")
            head.Chunked = Lower(TrimmedValue(header, colon)).find("chunked") != std::string::npos;
    }
    return head;
}

std::string ReadChunked(TIdIOHandler& line, std::size_t maxBody)
{
    std::string body;
    while (true)
    {
        std::string size = line.ReadLineOrTimeout();
        size = size.substr(0, size.find(';')); // chunk extensions
        while (!size.empty() && (size.back() == ' ' || size.back() == '\t'))
            size.pop_back();
        const std::size_t count = Number(size, 16, maxBody - body.size());
        if (count == 0)
            break;
        const std::string chunk = line.ReadExactBytes(static_cast<int>(count));
        if (chunk.size() != count)
            Malformed();
        body += chunk;
        if (!line.ReadLineOrTimeout().empty())
            Malformed();
    }
    // Trailer fields, up to the empty line.
    for (int i = 0; !line.ReadLineOrTimeout().empty(); ++i)
        if (i == MaxHeaderLines)
            Malformed();
    return body;
}

std::string ReadToClose(TIdIOHandler& line, std::size_t maxBody)
{
    while (line.InputBuffer().Size() <= maxBody && line.ReceiveChunk(false, -1, true) > 0)
    {
    }
    if (line.InputBuffer().Size() > maxBody)
        throw EOAuthMalformed(ResStr("The authorization server's answer is too large."));
    return line.InputBuffer().Extract(line.InputBuffer().Size());
}

} // namespace

THttpUrl ParseHttpUrl(const std::string& url)
{
    THttpUrl parsed;
    if (!ReadHttpUrl(url, parsed))
        BadUrl(url);
    return parsed;
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string form;
    for (const auto& [name, value] : fields)
    {
        if (!form.empty())
            form += '&';
        form += AsciiText::PercentEncoded(name) + "=" + AsciiText::PercentEncoded(value);
    }
    return form;
}

THttpAnswer HttpExchange(const std::string& url, const std::string& form, const THttpLimits& limits,
                         const std::string& authorization)
{
    const THttpUrl target = ParseHttpUrl(url);
    THttpLineLimits lineLimits;
    lineLimits.ConnectTimeout = limits.ConnectMilliseconds;
    lineLimits.ReadTimeout = limits.TotalMilliseconds;
    lineLimits.OperationTimeout = limits.TotalMilliseconds;
    lineLimits.Clock = limits.Clock;
    lineLimits.LineAbort = limits.LineAbort;
    std::unique_ptr<TIdIOHandler> line = HttpLineFor(target, lineLimits);
    line->MaxLineLength = MaxHeaderLine;
    THttpRequest sent;
    sent.Method = form.empty() ? "GET" : "POST";
    sent.Url = target;
    sent.Authorization = authorization;
    sent.ContentType = "application/x-www-form-urlencoded";
    sent.Body = form;
    std::string request = HttpRequestText(sent);
    // The form and the header may carry secrets: one copy, wiped once sent.
    std::fill(sent.Authorization.begin(), sent.Authorization.end(), '\0');
    std::fill(sent.Body.begin(), sent.Body.end(), '\0');
    try
    {
        line->Open();
        line->Write(request);
        std::fill(request.begin(), request.end(), '\0');
        const THead head = ReadHead(*line, limits.MaxBody);
        THttpAnswer answer;
        answer.Status = head.Status;
        if (head.Chunked)
            answer.Body = ReadChunked(*line, limits.MaxBody);
        else if (head.HasLength)
        {
            answer.Body = line->ReadExactBytes(static_cast<int>(head.Length));
            if (answer.Body.size() != head.Length)
                Malformed();
        }
        else
            answer.Body = ReadToClose(*line, limits.MaxBody);
        line->Close();
        if (answer.Status >= 300 && answer.Status < 400)
            throw EOAuthMalformed(ResStr("The authorization server sent the request elsewhere."));
        return answer;
    }
    catch (const EIdProtocolError&)
    {
        std::fill(request.begin(), request.end(), '\0');
        line->Close();
        Malformed();
    }
    catch (const EIdException& e)
    {
        std::fill(request.begin(), request.end(), '\0');
        line->Close();
        throw EOAuthUnreachable(FormatOne(ResStr("The authorization server cannot be reached: %s"), "%s", e.Message));
    }
}

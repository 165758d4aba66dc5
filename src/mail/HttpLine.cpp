#include "mail/HttpLine.h"

#include "mail/HttpAnswer.h"
#include "mail/IdIOHandlerStack.h"
#include "mail/TlsIOHandler.h"

#include <algorithm>

namespace
{

void Wipe(std::string& text)
{
    std::fill(text.begin(), text.end(), '\0');
}

} // namespace

std::unique_ptr<TIdIOHandler> HttpLineFor(const THttpUrl& url, const THttpLineLimits& limits)
{
    std::unique_ptr<TIdIOHandler> line;
    if (url.Tls)
        line = std::make_unique<TIdTlsIOHandler>();
    else
        line = std::make_unique<TIdIOHandlerStack>();
    line->Host = url.Host;
    line->Port = url.Port;
    line->IPVersion = url.Host.find(':') != std::string::npos ? Id_IPv6 : Id_IPv4;
    line->ConnectTimeout = limits.ConnectTimeout;
    line->ReadTimeout = limits.ReadTimeout;
    line->OperationTimeout = limits.OperationTimeout;
    line->Clock = limits.Clock;
    line->LineAbort = limits.LineAbort;
    return line;
}

std::string HttpRequestText(const THttpRequest& request, const std::string& accept)
{
    std::string bytes = request.Method + " " + request.Url.Target + " HTTP/1.1\r\nHost: " +
                        HostHeaderOf(request.Url) + "\r\nAccept: " + accept +
                        "\r\nConnection: close\r\nUser-Agent: ternbell\r\n";
    if (!request.Authorization.empty())
        bytes += "Authorization: " + request.Authorization + "\r\n";
    if (!request.Body.empty() || request.Method == "POST")
        bytes += "Content-Type: " + request.ContentType + "\r\nContent-Length: " +
                 std::to_string(request.Body.size()) + "\r\n";
    return bytes + "\r\n" + request.Body;
}

EHttpAnswer::EHttpAnswer(const std::string& problem)
    : EIdProtocolError("The server's HTTP answer cannot be read."), Problem(problem)
{
}

THttpReply HttpOnLine(THttpRequest request, const THttpLineLimits& limits)
{
    std::string bytes = HttpRequestText(request);
    Wipe(request.Authorization);
    std::unique_ptr<TIdIOHandler> line = HttpLineFor(request.Url, limits);
    try
    {
        line->Open();
        line->Write(bytes);
        Wipe(bytes);
        THttpAnswerReader reader(limits.MaxBody);
        while (reader.State() == THttpAnswerReader::TState::Reading)
        {
            if (line->InputBuffer().Size() == 0 && line->ReceiveChunk(false, -1, true) <= 0)
            {
                reader.End();
                break;
            }
            reader.Feed(line->InputBuffer().Extract(line->InputBuffer().Size()));
        }
        line->Close();
        if (reader.State() == THttpAnswerReader::TState::Failed)
            throw EHttpAnswer(reader.Problem());
        THttpReply reply;
        reply.Status = reader.Status();
        reply.Location = reader.Header("location");
        reply.ContentType = reader.Header("content-type");
        reply.Body = reader.Body();
        return reply;
    }
    catch (...)
    {
        Wipe(bytes);
        line->Close();
        throw;
    }
}

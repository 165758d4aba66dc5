#include "check/JmapLink.h"

#include "check/AccessTokens.h"
#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"

#include <QByteArray>
#include <QJsonArray>
#include <QUrl>

namespace
{

// Redirects of the session resource followed before giving up.
constexpr int MaxRedirects = 5;

THttpUrl UsableUrl(const std::string& url)
{
    THttpUrl parsed;
    if (!ReadHttpUrl(url, parsed))
        throw EIdException(FormatOne(ResStr("The JMAP address %1 cannot be used: it must be an https address."),
                                     "%1", url));
    return parsed;
}

bool IsRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

[[noreturn]] void Refused(int status)
{
    if (status == 401 || status == 403)
        throw EIdServerRefusal(ResStr("The JMAP server refused the user name or password."));
    throw EIdServerRefusal(FormatOne(ResStr("The JMAP server answered with HTTP status %1."), "%1",
                                     std::to_string(status)));
}

std::string Utf8(const std::string& desktopText)
{
    return FromCodePage(desktopText).toUtf8().toStdString();
}

} // namespace

std::string JmapSessionUrl(const Account& account)
{
    if (account.Host.rfind("https://", 0) == 0 || account.Host.rfind("http://", 0) == 0)
        return account.Host;
    const bool ipv6 = account.Host.find(':') != std::string::npos;
    return "https://" + (ipv6 ? "[" + account.Host + "]" : account.Host) + "/.well-known/jmap";
}

TJmapLink::TJmapLink(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
    : FLimits(limits), FAbort(std::move(abort))
{
}

void TJmapLink::SetAccount(const Account& account)
{
    FAccount = account;
    FLogin = LoginOf(account, 0);
    FRequests = 0;
}

TJmapAccountMemory TJmapLink::Open()
{
    const std::string url = JmapSessionUrl(FAccount);
    std::optional<TJmapAccountMemory> kept = FLimits.Jmap ? FLimits.Jmap->Recall(FLogin) : std::nullopt;
    if (kept && kept->SessionUrl == url)
        return *kept;
    TJmapAccountMemory fresh;
    fresh.SessionUrl = url;
    fresh.Session = ReadSession(url);
    return fresh;
}

void TJmapLink::Keep(TJmapAccountMemory memory)
{
    if (FLimits.Jmap)
        FLimits.Jmap->Keep(FLogin, std::move(memory));
}

void TJmapLink::Forget()
{
    if (FLimits.Jmap)
        FLimits.Jmap->Forget(FLogin);
}

TJmapSession TJmapLink::ReadSession(const std::string& url)
{
    std::string at = url;
    THttpUrl target = UsableUrl(at);
    const THttpUrl first = target;
    for (int redirects = 0;; ++redirects)
    {
        THttpRequest request;
        request.Url = target;
        const THttpReply reply = Send(std::move(request));
        if (reply.Status == 200)
            return ReadJmapSession(reply.Body, at);
        if (!IsRedirect(reply.Status) || reply.Location.empty())
            Refused(reply.Status);
        if (redirects == MaxRedirects)
            throw EIdProtocolError(ResStr("The JMAP server redirected its session resource too often."));
        // Only within the site, and never from https to plain text: the
        // credentials go wherever the session is read.
        const std::string next = QUrl(QString::fromStdString(at))
                                     .resolved(QUrl(QString::fromStdString(reply.Location)))
                                     .toString()
                                     .toStdString();
        THttpUrl moved;
        if (!ReadHttpUrl(next, moved) || moved.Host != first.Host || moved.Tls != first.Tls)
            throw EIdProtocolError(FormatOne(
                ResStr("The JMAP server sent its session resource to %1, which is not on the same site."), "%1",
                next.substr(0, 200)));
        at = next;
        target = moved;
    }
}

TJmapResponse TJmapLink::Call(const TJmapSession& session, const std::vector<TJmapCall>& calls)
{
    THttpRequest request;
    request.Method = "POST";
    request.Url = UsableUrl(session.ApiUrl);
    request.ContentType = "application/json";
    request.Body = JmapRequestText(calls);
    const THttpReply reply = Send(std::move(request));
    if (reply.Status != 200)
        Refused(reply.Status);
    return TJmapResponse(reply.Body);
}

std::vector<TJmapMailbox> TJmapLink::Mailboxes(const TJmapSession& session, std::string& state)
{
    // A tree of more is no honest one.
    constexpr std::size_t MaxMailboxes = 10000;
    QJsonObject get{{"accountId", QString::fromStdString(session.AccountId)}, {"ids", QJsonValue::Null}};
    get["properties"] = QJsonArray{"id", "name", "parentId", "role"};
    const TJmapResponse response = Call(session, {{"Mailbox/get", get, "m"}});
    return ReadJmapMailboxes(response.Answer("m", "Mailbox/get"), MaxMailboxes, state);
}

std::string TJmapLink::Authorization(bool refused)
{
    switch (FAccount.Authentication)
    {
    case aaOAuth2:
        if (!FLimits.Tokens)
            throw EIdException("This program cannot log in with an access token.");
        return "Bearer " + FLimits.Tokens->AccessToken(FAccount, refused);
    case aaBearer:
        return "Bearer " + Utf8(FAccount.Password);
    default:
        break;
    }
    QByteArray pair = QByteArray::fromStdString(Utf8(FAccount.UserName) + ":" + Utf8(FAccount.Password));
    std::string header = "Basic " + pair.toBase64().toStdString();
    pair.fill('\0');
    return header;
}

THttpReply TJmapLink::Send(THttpRequest request)
{
    THttpLineLimits limits;
    limits.ConnectTimeout = FLimits.ConnectTimeout;
    limits.ReadTimeout = FLimits.ReadTimeout;
    limits.OperationTimeout = FLimits.OperationTimeout;
    limits.MaxBody = MaxJmapAnswer;
    limits.Clock = FLimits.Clock;
    limits.LineAbort = FAbort;
    // An OAuth2 token the server refuses is asked for afresh once, as the
    // mail protocols' logins do.
    const bool oauth2 = FAccount.Authentication == aaOAuth2;
    for (int attempt = 0;; ++attempt)
    {
        THttpRequest sent = request;
        sent.Authorization = Authorization(attempt > 0);
        ++FRequests;
        THttpReply reply = HttpOnLine(std::move(sent), limits);
        if (reply.Status == 401 && oauth2 && attempt == 0)
            continue;
        if (reply.Status == 401 && oauth2)
            throw ESignInNeeded(ResStr("The JMAP server refused the access token."));
        return reply;
    }
}

#include "mail/JmapWire.h"

#include "platform/Json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

namespace
{

[[noreturn]] void Malformed(const std::string& problem)
{
    throw EJmapMalformed(problem);
}

QJsonObject ObjectOf(std::string_view body)
{
    QJsonObject object;
    std::string problem;
    if (!ReadJsonObject(body, MaxJmapAnswer, object, &problem))
        Malformed(problem);
    return object;
}

QJsonObject MemberObject(const QJsonObject& object, const char* name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (!value.isObject())
        Malformed(std::string("\"") + name + "\" is not an object");
    return value.toObject();
}

QJsonArray MemberArray(const QJsonObject& object, const char* name, std::size_t maxItems)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (!value.isArray())
        Malformed(std::string("\"") + name + "\" is not a list");
    const QJsonArray array = value.toArray();
    if (static_cast<std::size_t>(array.size()) > maxItems)
        Malformed(std::string("\"") + name + "\" holds " + std::to_string(array.size()) + " items, more than " +
                  std::to_string(maxItems) + " asked for");
    return array;
}

// A string member; null or absent gives empty where `optional`.
std::string MemberText(const QJsonObject& object, const char* name, bool optional)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isString())
        return value.toString().toStdString();
    if (optional && (value.isNull() || value.isUndefined()))
        return {};
    Malformed(std::string("\"") + name + "\" is not a string");
}

std::string IdOf(const QJsonValue& value, const char* what)
{
    const std::string id = value.isString() ? value.toString().toStdString() : std::string();
    if (!IsJmapId(id))
        Malformed(std::string("a ") + what + " that is not an id");
    return id;
}

std::vector<std::string> Ids(const QJsonObject& object, const char* name, std::size_t maxItems)
{
    std::vector<std::string> ids;
    for (const QJsonValue& v : MemberArray(object, name, maxItems))
        ids.push_back(IdOf(v, name));
    return ids;
}

long long Count(const QJsonValue& value, const char* name)
{
    // JSON numbers are doubles here; a count past 2^53 is no honest one.
    const double d = value.toDouble(-1);
    if (!value.isDouble() || d < 0 || d > 9007199254740992.0 || d != static_cast<double>(static_cast<long long>(d)))
        Malformed(std::string("\"") + name + "\" is not a count");
    return static_cast<long long>(d);
}

std::string Senders(const QJsonValue& from)
{
    if (from.isNull() || from.isUndefined())
        return {};
    if (!from.isArray())
        Malformed("\"from\" is not a list");
    std::string text;
    for (const QJsonValue& v : from.toArray())
    {
        if (!v.isObject())
            Malformed("a sender is not an object");
        const QJsonObject address = v.toObject();
        const std::string name = MemberText(address, "name", true);
        const std::string email = MemberText(address, "email", true);
        if (!text.empty())
            text += ", ";
        if (name.empty())
            text += email;
        else if (email.empty())
            text += name;
        else
            text += name + " <" + email + ">";
    }
    return text;
}

} // namespace

EJmapMalformed::EJmapMalformed(const std::string& problem)
    : EIdProtocolError("The server's JMAP answer cannot be read."), Problem(problem)
{
}

EJmapNoMail::EJmapNoMail() : EIdException("The server offers no mail over JMAP.") {}

EJmapMethodError::EJmapMethodError(const std::string& method, const std::string& type)
    : EIdProtocolError("The JMAP server refused the request."), Method(method), Type(type)
{
}

bool IsJmapId(std::string_view id)
{
    if (id.empty() || id.size() > 255)
        return false;
    for (const char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return false;
    return true;
}

TJmapSession ReadJmapSession(std::string_view body, const std::string& sessionUrl)
{
    const QJsonObject session = ObjectOf(body);
    const QJsonObject capabilities = MemberObject(session, "capabilities");
    if (!capabilities.contains(QLatin1String(JmapCoreCapability)))
        Malformed("the session resource has no core capability");
    TJmapSession s;
    const QJsonValue core = capabilities.value(QLatin1String(JmapCoreCapability));
    if (core.isObject())
    {
        const QJsonObject limits = core.toObject();
        const auto limit = [&](const char* name, int& value) {
            const QJsonValue v = limits.value(QLatin1String(name));
            if (v.isDouble() && v.toDouble() >= 1)
                value = static_cast<int>(std::min(v.toDouble(), 1e6));
        };
        limit("maxObjectsInGet", s.MaxObjectsInGet);
        limit("maxCallsInRequest", s.MaxCallsInRequest);
    }
    if (!capabilities.contains(QLatin1String(JmapMailCapability)))
        throw EJmapNoMail();
    const QJsonValue primary = session.value(QLatin1String("primaryAccounts"));
    const std::string account =
        primary.isObject() ? MemberText(primary.toObject(), JmapMailCapability, true) : std::string();
    if (account.empty())
        throw EJmapNoMail();
    s.AccountId = IdOf(QJsonValue(QString::fromStdString(account)), "mail account");
    const QUrl base(QString::fromStdString(sessionUrl));
    const auto absolute = [&](const std::string& url) {
        return url.empty() ? url : base.resolved(QUrl(QString::fromStdString(url))).toString().toStdString();
    };
    s.ApiUrl = absolute(MemberText(session, "apiUrl", false));
    if (s.ApiUrl.empty())
        Malformed("the session resource has no apiUrl");
    s.EventSourceUrl = absolute(MemberText(session, "eventSourceUrl", true));
    s.State = MemberText(session, "state", true);
    return s;
}

std::string JmapRequestText(const std::vector<TJmapCall>& calls)
{
    QJsonArray methodCalls;
    for (const TJmapCall& c : calls)
        methodCalls.append(
            QJsonArray{QString::fromStdString(c.Name), c.Arguments, QString::fromStdString(c.CallId)});
    const QJsonObject request{
        {"using", QJsonArray{QLatin1String(JmapCoreCapability), QLatin1String(JmapMailCapability)}},
        {"methodCalls", methodCalls}};
    return QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject JmapResultOf(const std::string& callId, const std::string& name, const std::string& path)
{
    return QJsonObject{{"resultOf", QString::fromStdString(callId)},
                       {"name", QString::fromStdString(name)},
                       {"path", QString::fromStdString(path)}};
}

TJmapResponse::TJmapResponse(std::string_view body)
{
    const QJsonObject response = ObjectOf(body);
    // An honest answer has one or a few answers per call; a request of
    // ours has at most a few dozen calls.
    for (const QJsonValue& v : MemberArray(response, "methodResponses", 256))
    {
        const QJsonArray invocation = v.toArray();
        if (!v.isArray() || invocation.size() != 3 || !invocation[0].isString() || !invocation[1].isObject() ||
            !invocation[2].isString())
            Malformed("a method answer is not [name, arguments, call id]");
        FAnswers.push_back({invocation[0].toString().toStdString(), invocation[1].toObject(),
                            invocation[2].toString().toStdString()});
    }
}

const QJsonObject& TJmapResponse::Answer(const std::string& callId, const std::string& method) const
{
    for (const TAnswer& a : FAnswers)
    {
        if (a.CallId != callId)
            continue;
        if (a.Name == "error")
            throw EJmapMethodError(method, MemberText(a.Arguments, "type", true));
        if (a.Name != method)
            Malformed("the answer to " + method + " is " + a.Name.substr(0, 64));
        return a.Arguments;
    }
    Malformed("no answer to " + method);
}

std::vector<TJmapMailbox> ReadJmapMailboxes(const QJsonObject& answer, std::size_t maxItems, std::string& state)
{
    state = MemberText(answer, "state", false);
    std::vector<TJmapMailbox> mailboxes;
    for (const QJsonValue& v : MemberArray(answer, "list", maxItems))
    {
        if (!v.isObject())
            Malformed("a mailbox is not an object");
        const QJsonObject m = v.toObject();
        TJmapMailbox mailbox;
        mailbox.Id = IdOf(m.value(QLatin1String("id")), "mailbox id");
        mailbox.Name = MemberText(m, "name", false);
        const QJsonValue parent = m.value(QLatin1String("parentId"));
        if (!parent.isNull() && !parent.isUndefined())
            mailbox.ParentId = IdOf(parent, "parent mailbox id");
        mailbox.Role = MemberText(m, "role", true);
        mailboxes.push_back(std::move(mailbox));
    }
    return mailboxes;
}

const char* const JmapEmailProperties[] = {
    "id",         "mailboxIds", "keywords", "from", "subject", "size", "messageId", "receivedAt", "preview",
    "header:X-Priority:asText", "header:List-Id:asText", nullptr};

std::vector<TJmapEmail> ReadJmapEmails(const QJsonObject& answer, std::size_t maxItems, std::string& state)
{
    state = MemberText(answer, "state", false);
    std::vector<TJmapEmail> emails;
    for (const QJsonValue& v : MemberArray(answer, "list", maxItems))
    {
        if (!v.isObject())
            Malformed("an email is not an object");
        const QJsonObject e = v.toObject();
        TJmapEmail email;
        email.Id = IdOf(e.value(QLatin1String("id")), "email id");
        const QJsonValue mailboxes = e.value(QLatin1String("mailboxIds"));
        if (mailboxes.isObject())
        {
            const QJsonObject in = mailboxes.toObject();
            if (static_cast<std::size_t>(in.size()) > 10000)
                Malformed("an email in more than 10000 mailboxes");
            for (auto it = in.begin(); it != in.end(); ++it)
                if (it.value().toBool())
                    email.MailboxIds.push_back(IdOf(QJsonValue(it.key()), "mailbox id"));
        }
        else if (!mailboxes.isUndefined())
            Malformed("\"mailboxIds\" is not an object");
        const QJsonValue keywords = e.value(QLatin1String("keywords"));
        if (keywords.isObject())
            email.Seen = keywords.toObject().value(QLatin1String("$seen")).toBool();
        else if (!keywords.isUndefined())
            Malformed("\"keywords\" is not an object");
        email.From = Senders(e.value(QLatin1String("from")));
        email.Subject = MemberText(e, "subject", true);
        const QJsonValue messageId = e.value(QLatin1String("messageId"));
        if (messageId.isArray())
        {
            const QJsonArray ids = messageId.toArray();
            if (!ids.isEmpty() && ids[0].isString())
                email.MessageId = "<" + ids[0].toString().toStdString() + ">";
        }
        else if (!messageId.isNull() && !messageId.isUndefined())
            Malformed("\"messageId\" is not a list");
        const QJsonValue size = e.value(QLatin1String("size"));
        if (!size.isUndefined() && !size.isNull())
            email.Size = Count(size, "size");
        email.ReceivedAt = MemberText(e, "receivedAt", true);
        email.Preview = MemberText(e, "preview", true);
        email.Priority = MemberText(e, "header:X-Priority:asText", true);
        email.ListId = MemberText(e, "header:List-Id:asText", true);
        emails.push_back(std::move(email));
    }
    return emails;
}

TJmapQuery ReadJmapQuery(const QJsonObject& answer, std::size_t maxItems)
{
    TJmapQuery query;
    query.Ids = Ids(answer, "ids", maxItems);
    const QJsonValue total = answer.value(QLatin1String("total"));
    if (!total.isUndefined())
        query.Total = Count(total, "total");
    return query;
}

TJmapChanges ReadJmapChanges(const QJsonObject& answer, std::size_t maxItems)
{
    TJmapChanges changes;
    changes.OldState = MemberText(answer, "oldState", false);
    changes.NewState = MemberText(answer, "newState", false);
    const QJsonValue more = answer.value(QLatin1String("hasMoreChanges"));
    if (!more.isBool())
        Malformed("\"hasMoreChanges\" is not true or false");
    changes.HasMoreChanges = more.toBool();
    changes.Created = Ids(answer, "created", maxItems);
    changes.Updated = Ids(answer, "updated", maxItems);
    changes.Destroyed = Ids(answer, "destroyed", maxItems);
    return changes;
}

std::vector<std::pair<std::string, std::string>> ReadJmapSetFailures(const QJsonObject& answer)
{
    std::vector<std::pair<std::string, std::string>> failures;
    for (const char* name : {"notDestroyed", "notUpdated"})
    {
        const QJsonValue v = answer.value(QLatin1String(name));
        if (v.isNull() || v.isUndefined())
            continue;
        if (!v.isObject())
            Malformed(std::string("\"") + name + "\" is not an object");
        const QJsonObject failed = v.toObject();
        for (auto it = failed.begin(); it != failed.end() && failures.size() < 1000; ++it)
            failures.emplace_back(it.key().toStdString(),
                                  it.value().isObject() ? MemberText(it.value().toObject(), "type", true) : "");
    }
    return failures;
}

bool JmapStateChanged(std::string_view data, const std::string& accountId)
{
    QJsonObject change;
    if (!ReadJsonObject(data, MaxJmapAnswer, change) || change.value(QLatin1String("@type")) != "StateChange")
        return false;
    const QJsonObject types =
        change.value(QLatin1String("changed")).toObject().value(QString::fromStdString(accountId)).toObject();
    return types.contains(QLatin1String("Email")) || types.contains(QLatin1String("Mailbox")) ||
           types.contains(QLatin1String("EmailDelivery"));
}

long long JmapUtcSeconds(const std::string& utcDate)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(utcDate), Qt::ISODate);
    return t.isValid() ? t.toSecsSinceEpoch() : -1;
}

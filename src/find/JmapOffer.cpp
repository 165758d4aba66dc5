#include "find/JmapOffer.h"

#include <QJsonDocument>
#include <QJsonObject>

std::string JmapWellKnownUrl(const std::string& host, int port)
{
    return "https://" + host + (port == 443 ? std::string() : ":" + std::to_string(port)) + "/.well-known/jmap";
}

bool JmapOffered(const TFetchAnswer& answer, std::string& problem)
{
    problem.clear();
    if (!answer.Ok)
    {
        if (answer.Status == 401)
            return true;
        problem = answer.Problem;
        return false;
    }
    QJsonParseError error{};
    const QJsonDocument session = QJsonDocument::fromJson(QByteArray::fromStdString(answer.Body), &error);
    const QJsonValue capabilities = session.isObject() ? session.object().value(QLatin1String("capabilities"))
                                                       : QJsonValue();
    if (!capabilities.isObject())
    {
        problem = "not a JMAP session";
        return false;
    }
    if (!capabilities.toObject().contains(QLatin1String("urn:ietf:params:jmap:mail")))
    {
        problem = "a JMAP session without mail";
        return false;
    }
    return true;
}

std::string JmapHostAddress(const std::string& host, int port, const std::string& answered)
{
    if (port == 443)
        return host;
    return answered.empty() ? JmapWellKnownUrl(host, port) : answered;
}

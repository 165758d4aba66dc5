#include "oauth/OAuthJson.h"

#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"
#include "platform/Json.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

[[noreturn]] void Malformed()
{
    throw EOAuthMalformed(ResStr("The authorization server sent an answer that cannot be read."));
}

QJsonObject ObjectOf(std::string_view body)
{
    QJsonObject object;
    if (!ReadJsonObject(body, MaxOAuthDocument, object))
        Malformed();
    return object;
}

// A member that must be a string when present; empty when absent.
std::string Text(const QJsonObject& object, const char* name, bool required = false)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined() || (value.isNull() && !required))
    {
        if (required)
            Malformed();
        return {};
    }
    if (!value.isString())
        Malformed();
    const std::string text = value.toString().toStdString();
    if (required && text.empty())
        Malformed();
    return text;
}

// A member that must be a whole number of seconds when present. Some
// servers send it as a string; a day's worth of years is plenty of range.
int Seconds(const QJsonObject& object, const char* name, int absent)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull())
        return absent;
    double seconds = 0;
    if (value.isDouble())
        seconds = value.toDouble();
    else if (value.isString())
    {
        bool ok = false;
        seconds = value.toString().toDouble(&ok);
        if (!ok)
            Malformed();
    }
    else
        Malformed();
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 100.0 * 365 * 24 * 3600)
        Malformed();
    // Past what an int holds (some 68 years) is as good as forever.
    return static_cast<int>(std::min(seconds, static_cast<double>(std::numeric_limits<int>::max())));
}

} // namespace

TTokenGrant ReadTokenGrant(std::string_view body)
{
    const QJsonObject object = ObjectOf(body);
    TTokenGrant grant;
    grant.AccessToken = Text(object, "access_token", true);
    // Only bearer tokens go on the wire; the type is compared without regard to case.
    if (QString::fromStdString(Text(object, "token_type", true)).compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0)
        Malformed();
    grant.RefreshToken = Text(object, "refresh_token");
    grant.IdToken = Text(object, "id_token");
    grant.Scope = Text(object, "scope");
    grant.ExpiresIn = Seconds(object, "expires_in", 0);
    return grant;
}

TOAuthErrorAnswer ReadErrorAnswer(std::string_view body)
{
    try
    {
        const QJsonObject object = ObjectOf(body);
        return {Text(object, "error"), Text(object, "error_description")};
    }
    catch (const EOAuthMalformed&)
    {
        return {};
    }
}

TEndpoints ReadDiscovery(std::string_view body, const std::string& issuer)
{
    const QJsonObject object = ObjectOf(body);
    TEndpoints endpoints;
    endpoints.Issuer = Text(object, "issuer", true);
    if (endpoints.Issuer != issuer)
        throw EOAuthMalformed(ResStr("The authorization server's discovery document names another issuer."));
    endpoints.Authorization = Text(object, "authorization_endpoint", true);
    endpoints.Token = Text(object, "token_endpoint", true);
    endpoints.Device = Text(object, "device_authorization_endpoint");
    endpoints.Revocation = Text(object, "revocation_endpoint");
    return endpoints;
}

TDeviceCode ReadDeviceCode(std::string_view body)
{
    const QJsonObject object = ObjectOf(body);
    TDeviceCode code;
    code.DeviceCode = Text(object, "device_code", true);
    code.UserCode = Text(object, "user_code", true);
    code.VerificationUri = Text(object, "verification_uri");
    if (code.VerificationUri.empty())
        code.VerificationUri = Text(object, "verification_url", true); // an older spelling some servers keep
    code.VerificationUriComplete = Text(object, "verification_uri_complete");
    code.ExpiresIn = Seconds(object, "expires_in", 600);
    // Below a second the poll would hammer the server; RFC 8628 says 5.
    code.Interval = std::max(Seconds(object, "interval", 5), 1);
    return code;
}

std::string IdTokenName(const std::string& idToken)
{
    const std::size_t first = idToken.find('.');
    const std::size_t second = first == std::string::npos ? first : idToken.find('.', first + 1);
    if (second == std::string::npos || idToken.size() > MaxOAuthDocument)
        return {};
    const QByteArray payload = QByteArray::fromBase64(
        QByteArray::fromStdString(idToken.substr(first + 1, second - first - 1)),
        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    try
    {
        const QJsonObject object = ObjectOf(std::string_view(payload.constData(), static_cast<std::size_t>(payload.size())));
        std::string name = Text(object, "email");
        return name.empty() ? Text(object, "preferred_username") : name;
    }
    catch (const EOAuthMalformed&)
    {
        return {};
    }
}

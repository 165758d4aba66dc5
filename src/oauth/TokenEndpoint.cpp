#include "oauth/TokenEndpoint.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"

namespace
{

using TFields = std::vector<std::pair<std::string, std::string>>;

void AddClient(const TProvider& provider, TFields& fields)
{
    fields.emplace_back("client_id", provider.ClientId);
    if (!provider.ClientSecret.empty())
        fields.emplace_back("client_secret", provider.ClientSecret);
}

// The request's secrets go once it is answered.
void Wipe(std::string& form, TFields& fields)
{
    std::fill(form.begin(), form.end(), '\0');
    for (auto& field : fields)
        std::fill(field.second.begin(), field.second.end(), '\0');
}

// The text of an error answer for the user: the server's own words, kept
// short, as plain text; only its code where its words repeat a secret of
// the request, which must not reach an error row.
std::string RefusalText(const TOAuthErrorAnswer& error, const TFields& sent)
{
    std::string said = error.Description.empty() ? error.Code : error.Description;
    for (const auto& field : sent)
        if (field.first != "grant_type" && field.first != "client_id" && !field.second.empty() &&
            (said.find(field.second) != std::string::npos || error.Code.find(field.second) != std::string::npos))
            said = error.Code.find(field.second) == std::string::npos ? error.Code : "?";
    if (said.size() > 200)
        said = said.substr(0, 200) + "...";
    return FormatOne(ResStr("The authorization server refused: %s"), "%s", said);
}

// Raises for anything but a 2xx answer.
THttpAnswer Checked(THttpAnswer answer, const TFields& sent)
{
    if (answer.Status >= 200 && answer.Status < 300)
        return answer;
    if (answer.Status == 429 || answer.Status >= 500)
        throw EOAuthUnreachable(ResStr("The authorization server cannot serve now; the next round tries again."));
    const TOAuthErrorAnswer error = ReadErrorAnswer(answer.Body);
    if (error.Code.empty())
        throw EOAuthMalformed(FormatOne(ResStr("The authorization server answered with status %s."), "%s",
                                        std::to_string(answer.Status)));
    throw EOAuthRefused(error.Code, RefusalText(error, sent));
}

TTokenGrant Tokens(const TProvider& provider, TFields fields, const THttpLimits& limits)
{
    AddClient(provider, fields);
    std::string form = FormEncode(fields);
    THttpAnswer answer;
    try
    {
        answer = Checked(HttpExchange(provider.Endpoints.Token, form, limits), fields);
    }
    catch (...)
    {
        Wipe(form, fields);
        throw;
    }
    Wipe(form, fields);
    return ReadTokenGrant(answer.Body);
}

} // namespace

TTokenGrant ExchangeCode(const TProvider& provider, const std::string& code, const std::string& verifier,
                         const std::string& redirectUri, const THttpLimits& limits)
{
    return Tokens(provider,
                  {{"grant_type", "authorization_code"},
                   {"code", code},
                   {"redirect_uri", redirectUri},
                   {"code_verifier", verifier}},
                  limits);
}

TTokenGrant RefreshTokens(const TProvider& provider, const std::string& refreshToken, const THttpLimits& limits)
{
    return Tokens(provider, {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}}, limits);
}

TDeviceCode StartDeviceGrant(const TProvider& provider, const THttpLimits& limits)
{
    if (provider.Endpoints.Device.empty())
        throw EOAuthSetup(ResStr("This provider offers no sign-in with a code."));
    TFields fields;
    if (!provider.Scope.empty())
        fields.emplace_back("scope", provider.Scope);
    AddClient(provider, fields);
    const THttpAnswer answer = Checked(HttpExchange(provider.Endpoints.Device, FormEncode(fields), limits), fields);
    TDeviceCode device = ReadDeviceCode(answer.Body);
    ParseHttpUrl(device.VerificationUri);
    if (!device.VerificationUriComplete.empty())
        ParseHttpUrl(device.VerificationUriComplete);
    return device;
}

std::optional<TTokenGrant> PollDeviceGrant(const TProvider& provider, const TDeviceCode& device, int& interval,
                                           const THttpLimits& limits)
{
    try
    {
        return Tokens(provider,
                      {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                       {"device_code", device.DeviceCode}},
                      limits);
    }
    catch (const EOAuthRefused& refused)
    {
        if (refused.Code == "authorization_pending")
            return std::nullopt;
        if (refused.Code == "slow_down")
        {
            interval += 5;
            return std::nullopt;
        }
        throw;
    }
}

void RevokeToken(const TProvider& provider, const std::string& refreshToken, const THttpLimits& limits)
{
    if (provider.Endpoints.Revocation.empty())
        return;
    TFields fields{{"token", refreshToken}, {"token_type_hint", "refresh_token"}};
    AddClient(provider, fields);
    std::string form = FormEncode(fields);
    try
    {
        Checked(HttpExchange(provider.Endpoints.Revocation, form, limits), fields);
    }
    catch (...)
    {
        std::fill(form.begin(), form.end(), '\0');
        throw;
    }
    std::fill(form.begin(), form.end(), '\0');
}

#include "mail/SaslMechanism.h"

#include "mail/Base64Digit.h"
#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"

#include <algorithm>

namespace
{

// What separates the fields of a bearer token mechanism's response.
constexpr char Kv = '\x01';

const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <typename TMechanism>
std::unique_ptr<TIdSASLMechanism> MakeOf(const TIdCredentials& credentials)
{
    return std::make_unique<TMechanism>(credentials);
}

struct TSpoken
{
    const char* Name;
    std::unique_ptr<TIdSASLMechanism> (*Make)(const TIdCredentials&);
    // Takes an access token, not a password.
    bool Token = false;
};

// The mechanisms the client speaks, best first: the order it picks in when
// the server leaves the choice to it.
const TSpoken Spoken[] = {
    {"PLAIN", MakeOf<TIdSASLPlain>},
    {"OAUTHBEARER", MakeOf<TIdSASLOAuthBearer>, true},
    {"XOAUTH2", MakeOf<TIdSASLXOAuth2>, true},
};

const TSpoken* SpokenByName(const std::string& name)
{
    for (const TSpoken& s : Spoken)
        if (AsciiText::SameText(s.Name, name))
            return &s;
    return nullptr;
}

bool Names(const TIdStrings& names, const std::string& name)
{
    for (const std::string& n : names)
        if (AsciiText::SameText(n, name))
            return true;
    return false;
}

} // namespace

std::string TIdSASLPlain::InitialResponse()
{
    // A NUL separates the fields: one inside them would move the password
    // into the user name.
    if ((FCredentials.Username + FCredentials.Password).find('\0') != std::string::npos)
        throw EIdException("User name or password contains a NUL character.");
    return std::string(1, '\0') + FCredentials.Username + std::string(1, '\0') + FCredentials.Password;
}

bool TIdSASLBearer::Respond(const std::string& challenge, std::string& response)
{
    // One error challenge ends the exchange; a server that asks again is
    // not speaking the mechanism.
    if (FRefused)
        return false;
    FRefused = true;
    FError = challenge;
    response = ErrorResponse();
    return true;
}

void TIdSASLBearer::CheckCredentials(const std::string& userBytesBanned) const
{
    // A bearer token is printable ASCII without spaces (RFC 6750); anything
    // else would break the response's fields apart.
    const std::string& token = FCredentials.Password;
    if (token.empty() || std::any_of(token.begin(), token.end(), [](char c) { return c <= ' ' || c > '~'; }))
        throw EIdException("The access token is not fit to send.");
    if (FCredentials.Username.find_first_of(userBytesBanned) != std::string::npos)
        throw EIdException("The user name holds a character the login cannot carry.");
}

std::string TIdSASLOAuthBearer::InitialResponse()
{
    CheckCredentials(std::string(1, Kv) + '\0');
    // The GS2 name escapes its separators (RFC 5801).
    std::string user;
    for (char c : FCredentials.Username)
        user += c == ',' ? std::string("=2C") : c == '=' ? std::string("=3D") : std::string(1, c);
    return "n,a=" + user + "," + Kv + "auth=Bearer " + FCredentials.Password + Kv + Kv;
}

std::string TIdSASLXOAuth2::InitialResponse()
{
    CheckCredentials(std::string(1, Kv) + '\0');
    return "user=" + FCredentials.Username + Kv + "auth=Bearer " + FCredentials.Password + Kv + Kv;
}

std::unique_ptr<TIdSASLMechanism> MakeSASLMechanism(const std::string& name, const TIdCredentials& credentials)
{
    const TSpoken* spoken = SpokenByName(name);
    return spoken ? spoken->Make(credentials) : nullptr;
}

TIdLoginChoice ChooseLogin(TIdLoginMethod asked, const TIdStrings& mechanisms, bool passwordDisabled,
                           const TIdStrings& offered)
{
    TIdLoginChoice choice;
    choice.Method = asked;
    if (asked == TIdLoginMethod::OAuth2)
    {
        // Only among the mechanisms asked for, where any are.
        for (const TSpoken& spoken : Spoken)
            if (spoken.Token && Names(offered, spoken.Name) && (mechanisms.empty() || Names(mechanisms, spoken.Name)))
                return TIdLoginChoice{asked, spoken.Name};
        return choice;
    }
    // A password never goes by a mechanism that expects a token.
    if (asked == TIdLoginMethod::SASL)
    {
        for (const std::string& name : mechanisms)
            if (const TSpoken* spoken = SpokenByName(name); spoken && !spoken->Token && Names(offered, name))
                return TIdLoginChoice{asked, spoken->Name};
        return choice;
    }
    if (asked == TIdLoginMethod::Password && passwordDisabled)
        for (const TSpoken& spoken : Spoken)
            if (!spoken.Token && Names(offered, spoken.Name))
                return TIdLoginChoice{TIdLoginMethod::SASL, spoken.Name};
    return choice;
}

std::string SASLEncode(const std::string& bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3)
    {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (n > 1)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2)
            v |= static_cast<unsigned char>(bytes[i + 2]);
        text += Alphabet[(v >> 18) & 63];
        text += Alphabet[(v >> 12) & 63];
        text += n > 1 ? Alphabet[(v >> 6) & 63] : '=';
        text += n > 2 ? Alphabet[v & 63] : '=';
    }
    return text;
}

bool SASLDecode(const std::string& text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4)
    {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pad == 1 && text[i + 2] == '=')
            return false; // "x=y="
        unsigned v = 0;
        for (int k = 0; k < 4 - pad; ++k)
        {
            const int d = Base64Digit(text[i + k]);
            if (d < 0)
                return false;
            v |= static_cast<unsigned>(d) << (18 - 6 * k);
        }
        bytes += static_cast<char>((v >> 16) & 0xff);
        if (pad < 2)
            bytes += static_cast<char>((v >> 8) & 0xff);
        if (pad < 1)
            bytes += static_cast<char>(v & 0xff);
    }
    return true;
}

void HideSecret(std::string& text, const std::string& secret, TIdSASLMechanism& mechanism)
{
    const std::string response = mechanism.InitialResponse();
    // Longest first: the secret is inside the other two.
    for (const std::string& copy : {SASLEncode(response), response, secret})
    {
        if (copy.empty())
            continue;
        for (std::size_t at = text.find(copy); at != std::string::npos; at = text.find(copy, at + 3))
            text.replace(at, copy.size(), "...");
    }
}

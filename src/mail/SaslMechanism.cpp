#include "mail/SaslMechanism.h"

#include "mail/Base64Digit.h"
#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"

#include <algorithm>

namespace
{

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
};

// The mechanisms the client speaks, best first: the order it picks in when
// the server leaves the choice to it.
const TSpoken Spoken[] = {{"PLAIN", MakeOf<TIdSASLPlain>}};

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
    if (asked == TIdLoginMethod::SASL)
    {
        for (const std::string& name : mechanisms)
            if (const TSpoken* spoken = SpokenByName(name); spoken && Names(offered, name))
                return TIdLoginChoice{asked, spoken->Name};
        return choice;
    }
    if (asked == TIdLoginMethod::Password && passwordDisabled)
        for (const TSpoken& spoken : Spoken)
            if (Names(offered, spoken.Name))
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

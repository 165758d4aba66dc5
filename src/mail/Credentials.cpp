#include "mail/Credentials.h"

#include "platform/CodePage.h"

#include <algorithm>

namespace
{

bool InCharset(const std::string& text, TIdCredentialCharset charset, std::string& out)
{
    return ConvertCharsetCleanly(text, DesktopCodePage(), charset == ccUTF8 ? "UTF-8" : "CP1252", out);
}

} // namespace

std::vector<std::pair<TIdCredentialCharset, TIdCredentials>> CredentialTries(const std::string& username,
                                                                            const std::string& password,
                                                                            TIdCredentialCharset first)
{
    std::vector<std::pair<TIdCredentialCharset, TIdCredentials>> tries;
    const TIdCredentialCharset second = first == ccUTF8 ? ccWindows1252 : ccUTF8;
    for (TIdCredentialCharset charset : {first, second})
    {
        TIdCredentials c;
        if (InCharset(username, charset, c.Username) && InCharset(password, charset, c.Password))
            tries.emplace_back(charset, std::move(c));
    }
    const bool eightBit = std::any_of(password.begin(), password.end(),
                                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (tries.empty())
        tries.emplace_back(first, TIdCredentials{username, password});
    // An ASCII password is the same in both: it goes once.
    if (!eightBit)
        tries.resize(1);
    return tries;
}

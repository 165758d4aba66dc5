#include "find/FoundServer.h"

#include "platform/AsciiText.h"

#include <array>
#include <string_view>

using namespace AsciiText;

namespace
{

bool IsHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The issuers of the servers whose sign-in the program knows. Where a file
// names its issuer only by a host name, it is a key of its own making
// ("login.yahoo.com"), not always an issuer the sign-in can discover.
struct TKnownIssuer
{
    std::string_view Host;
    std::string_view Issuer;
};

constexpr std::array<TKnownIssuer, 8> KnownIssuers{{
    {"outlook.office365.com", "https://login.microsoftonline.com/common/v2.0"},
    {"imap.gmail.com", "https://accounts.google.com"},
    {"pop.gmail.com", "https://accounts.google.com"},
    {"imap.mail.yahoo.com", "https://api.login.yahoo.com"},
    {"export.imap.mail.yahoo.com", "https://api.login.yahoo.com"},
    {"pop.mail.yahoo.com", "https://api.login.yahoo.com"},
    {"imap.aol.com", "https://api.login.aol.com"},
    {"pop.aol.com", "https://api.login.aol.com"},
}};

} // namespace

std::string CleanHostName(const std::string& text)
{
    std::string host = LowerCase(text);
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host.empty() || host.size() > 253)
        return {};
    std::size_t labelStart = 0;
    for (std::size_t i = 0; i <= host.size(); ++i)
    {
        if (i == host.size() || host[i] == '.')
        {
            const std::size_t length = i - labelStart;
            if (length == 0 || length > 63 || host[labelStart] == '-' || host[i - 1] == '-')
                return {};
            labelStart = i + 1;
        }
        else if (!IsHostChar(host[i]))
            return {};
    }
    return host;
}

TAddressParts SplitAddress(const std::string& address)
{
    TAddressParts parts;
    const std::string text = Trim(address);
    const std::size_t at = text.find('@');
    if (at == std::string::npos || at == 0 || text.find('@', at + 1) != std::string::npos)
        return parts;
    for (char c : text)
    {
        if (static_cast<unsigned char>(c) <= ' ' || c == '<' || c == '>' || c == '"' || c == '%')
            return parts;
    }
    const std::string domain = CleanHostName(text.substr(at + 1));
    // A one-label domain would send the lookups to whatever the resolver's
    // search list makes of it.
    if (domain.empty() || domain.find('.') == std::string::npos)
        return parts;
    parts.Address = text;
    parts.LocalPart = text.substr(0, at);
    parts.Domain = domain;
    return parts;
}

std::string ExpandUserName(const std::string& pattern, const TAddressParts& address)
{
    std::string text = pattern;
    ReplaceAll(text, "%EMAILADDRESS%", address.Address);
    ReplaceAll(text, "%EMAILLOCALPART%", address.LocalPart);
    ReplaceAll(text, "%EMAILDOMAIN%", address.Domain);
    return text;
}

std::string KnownOAuth2Issuer(const std::string& host)
{
    for (const TKnownIssuer& known : KnownIssuers)
    {
        if (known.Host == host)
            return std::string(known.Issuer);
    }
    return {};
}

std::string OAuth2IssuerFor(const std::string& named, const std::string& host)
{
    if (named.compare(0, 8, "https://") == 0)
        return named;
    if (std::string known = KnownOAuth2Issuer(host); !known.empty())
        return known;
    // Plain http is dropped: the user chooses.
    const std::string name = CleanHostName(named);
    return name.empty() ? std::string() : "https://" + name;
}

void FillAccount(Account& account, const TFoundServer& found, const std::string& address, bool defaultCaption)
{
    account.JMAP = found.JMAP;
    account.IMAP4 = found.IMAP4 && !found.JMAP;
    account.Host = found.Host;
    account.Port = std::to_string(found.Port);
    account.Security = found.Security;
    account.UserName = found.UserName;
    account.EmailAddress = Trim(address);
    // A provider that takes no password is signed in with on its own page.
    account.Authentication = found.NeedsOAuth2 ? aaOAuth2 : aaPassword;
    account.OAuth2Issuer = found.NeedsOAuth2 ? found.OAuth2Issuer : std::string();
    if (defaultCaption)
        account.Caption = account.EmailAddress;
}

#include "find/Providers.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <array>
#include <string_view>

using namespace AsciiText;

namespace
{

enum TUserForm
{
    ufAddress,  // the whole address
    ufLocalPart // the part before '@'
};

struct TProvider
{
    // Space-separated domains of its addresses, and mail exchanger host
    // suffixes that mark a domain it hosts.
    std::string_view Domains;
    std::string_view MxSuffixes;
    std::string_view Host;
    int Port;
    TUserForm User;
    std::string_view OAuth2Issuer; // empty: a (maybe app-specific) password
};

// All of them take IMAP4 over TLS on 993.
constexpr std::array<TProvider, 15> Providers{{
    {"gmail.com googlemail.com", ".google.com .googlemail.com", "imap.gmail.com", 993, ufAddress,
     "https://accounts.google.com"},
    {"outlook.com hotmail.com hotmail.co.uk hotmail.de hotmail.fr live.com live.de live.fr msn.com", "", "outlook.office365.com",
     993, ufAddress, "https://login.microsoftonline.com/common/v2.0"},
    // Microsoft 365 domains are known only by their exchanger.
    {"", ".mail.protection.outlook.com", "outlook.office365.com", 993, ufAddress,
     "https://login.microsoftonline.com/common/v2.0"},
    {"yahoo.com yahoo.co.uk yahoo.de yahoo.fr ymail.com rocketmail.com", ".yahoodns.net", "imap.mail.yahoo.com", 993,
     ufAddress, "https://api.login.yahoo.com"},
    {"icloud.com me.com mac.com", ".mail.icloud.com", "imap.mail.me.com", 993, ufLocalPart, ""},
    {"aol.com aim.com", "", "imap.aol.com", 993, ufAddress, "https://api.login.aol.com"},
    {"gmx.net gmx.de gmx.at gmx.ch", ".gmx.net", "imap.gmx.net", 993, ufAddress, ""},
    {"gmx.com gmx.us gmx.co.uk gmx.fr", ".gmx.com", "imap.gmx.com", 993, ufAddress, ""},
    {"web.de", ".web.de", "imap.web.de", 993, ufAddress, ""},
    {"fastmail.com fastmail.fm messagingengine.com", ".messagingengine.com", "imap.fastmail.com", 993, ufAddress, ""},
    {"zoho.com zohomail.com", ".zoho.com", "imap.zoho.com", 993, ufAddress, ""},
    {"yandex.ru yandex.com ya.ru", ".yandex.ru .yandex.net", "imap.yandex.com", 993, ufAddress, ""},
    {"mail.ru inbox.ru list.ru bk.ru", ".mail.ru", "imap.mail.ru", 993, ufAddress, ""},
    {"posteo.de posteo.net", ".posteo.de", "posteo.de", 993, ufAddress, ""},
    {"mailbox.org", ".mailbox.org", "imap.mailbox.org", 993, ufAddress, ""},
}};

bool ListHolds(std::string_view list, std::string_view word)
{
    while (!list.empty())
    {
        const std::size_t space = list.find(' ');
        if (list.substr(0, space) == word)
            return true;
        if (space == std::string_view::npos)
            break;
        list.remove_prefix(space + 1);
    }
    return false;
}

bool EndsWithAny(std::string_view suffixes, const std::string& host)
{
    while (!suffixes.empty())
    {
        const std::size_t space = suffixes.find(' ');
        const std::string_view suffix = suffixes.substr(0, space);
        if (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
        if (space == std::string_view::npos)
            break;
        suffixes.remove_prefix(space + 1);
    }
    return false;
}

TFoundServer Found(const TProvider& provider, const TAddressParts& address)
{
    TFoundServer found;
    found.IMAP4 = true;
    found.Host = std::string(provider.Host);
    found.Port = provider.Port;
    found.Security = asImplicitTLS;
    found.UserName = provider.User == ufLocalPart ? address.LocalPart : address.Address;
    found.NeedsOAuth2 = !provider.OAuth2Issuer.empty();
    found.OAuth2Issuer = std::string(provider.OAuth2Issuer);
    found.Source = fsProviderTable;
    found.SourceName = address.Domain;
    return found;
}

} // namespace

TFoundServer ProviderByDomain(const TAddressParts& address)
{
    for (const TProvider& provider : Providers)
    {
        if (ListHolds(provider.Domains, address.Domain))
            return Found(provider, address);
    }
    return {};
}

TFoundServer ProviderByMxHost(const std::string& mxHost, const TAddressParts& address)
{
    const std::string host = CleanHostName(mxHost);
    if (host.empty())
        return {};
    for (const TProvider& provider : Providers)
    {
        if (EndsWithAny(provider.MxSuffixes, host))
            return Found(provider, address);
    }
    return {};
}

std::string MxDomain(const std::string& mxHost)
{
    const std::string host = CleanHostName(mxHost);
    const std::size_t last = host.rfind('.');
    if (host.empty() || last == std::string::npos)
        return {};
    const std::size_t second = host.rfind('.', last - 1);
    if (second == std::string::npos)
        return host;
    // A domain registered under a country's second level keeps three labels.
    static constexpr std::array<std::string_view, 10> SecondLevels{
        "co.uk", "org.uk", "ac.uk", "com.au", "net.au", "co.jp", "co.nz", "co.za", "com.br", "com.tr"};
    const std::string_view tail = std::string_view(host).substr(second + 1);
    if (std::find(SecondLevels.begin(), SecondLevels.end(), tail) != SecondLevels.end())
    {
        const std::size_t third = host.rfind('.', second - 1);
        return third == std::string::npos ? host : host.substr(third + 1);
    }
    return host.substr(second + 1);
}

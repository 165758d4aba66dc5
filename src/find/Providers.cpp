#include "find/Providers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace
{

// The rows of the generated table: names are offsets into one text, so the
// table holds no pointer for the loader to relocate, and its pages are read
// from the file as they are, never copied into the program's own memory.
struct TText
{
    std::uint16_t Offset;
    std::uint8_t Length;
};

enum : std::uint8_t
{
    sfImap4 = 1,
    sfStartTls = 2,
    sfOAuth2 = 4,  // the file offers OAuth2
    sfPassword = 8 // the file offers a password
};

struct TServerRow
{
    TText Host; // may hold the address's parts, as a user name does
    TText User;
    std::uint16_t Port;
    std::uint8_t Flags;
};

struct TProviderRow
{
    std::uint16_t FirstServer;
    std::uint8_t Servers; // none: every server the file names is plain text
    TText Issuer;         // as the file names it
};

struct TDomainRow
{
    TText Name;
    std::uint16_t Provider;
};

#include "ProviderTable.inc"

std::string_view TextOf(TText text)
{
    return std::string_view(ProviderText + text.Offset, text.Length);
}

const TDomainRow* DomainRow(std::string_view domain)
{
    const auto* end = std::end(ProviderDomains);
    const auto* row = std::lower_bound(std::begin(ProviderDomains), end, domain,
                                       [](const TDomainRow& r, std::string_view name) { return TextOf(r.Name) < name; });
    return row != end && TextOf(row->Name) == domain ? row : nullptr;
}

// Lower is better: TLS from the first byte before STARTTLS, IMAP4 before POP3.
int Rank(const TServerRow& server)
{
    return ((server.Flags & sfStartTls) ? 2 : 0) + ((server.Flags & sfImap4) ? 0 : 1);
}

TFoundServer Found(const TProviderRow& provider, const TAddressParts& address)
{
    const TServerRow* best = nullptr;
    for (std::size_t i = provider.FirstServer; i < provider.FirstServer + provider.Servers; ++i)
    {
        if (!best || Rank(ProviderServers[i]) < Rank(*best))
            best = &ProviderServers[i];
    }
    if (!best)
        return {};
    TFoundServer found;
    found.Host = CleanHostName(ExpandUserName(std::string(TextOf(best->Host)), address));
    if (found.Host.empty())
        return {};
    found.IMAP4 = (best->Flags & sfImap4) != 0;
    found.Port = best->Port;
    found.Security = (best->Flags & sfStartTls) ? asStartTLS : asImplicitTLS;
    found.UserName = ExpandUserName(std::string(TextOf(best->User)), address);
    // Where a password is offered too, the sign-in is chosen only where the
    // program knows its issuer, so it can start.
    const bool known = !KnownOAuth2Issuer(found.Host).empty();
    found.NeedsOAuth2 = (best->Flags & sfOAuth2) && (!(best->Flags & sfPassword) || known);
    if (found.NeedsOAuth2)
        found.OAuth2Issuer = OAuth2IssuerFor(std::string(TextOf(provider.Issuer)), found.Host);
    found.Source = fsProviderTable;
    found.SourceName = address.Domain;
    return found;
}

} // namespace

TFoundServer ProviderByDomain(const TAddressParts& address)
{
    const TDomainRow* row = DomainRow(address.Domain);
    return row ? Found(ProviderRows[row->Provider], address) : TFoundServer{};
}

TFoundServer ProviderByMxHost(const std::string& mxHost, const TAddressParts& address)
{
    // The longest listed domain wins: an exchanger under
    // mail.gm0.yahoodns.net is AOL's, one elsewhere under yahoodns.net Yahoo's.
    const std::string host = CleanHostName(mxHost);
    std::string_view domain = host;
    while (domain.find('.') != std::string_view::npos)
    {
        if (const TDomainRow* row = DomainRow(domain))
            return Found(ProviderRows[row->Provider], address);
        domain.remove_prefix(domain.find('.') + 1);
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

#pragma once

#include "find/FoundServer.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The largest configuration file read; a longer answer is passed over.
inline constexpr std::size_t AutoconfigMaxBytes = 1024 * 1024;

struct TAutoconfigResult
{
    // The usable incoming servers in the file's order (the provider's
    // preference first): IMAP4 or POP3 over SSL or STARTTLS, with a host
    // name and a port from 1 to 65535. Source is fsAutoconfig.
    std::vector<TFoundServer> Servers;
    // Why nothing usable was found: a broken or hostile file. Empty when the
    // file was read, even with no usable server in it.
    std::string Problem;
};

// Reads a published mail configuration file (<clientConfig>, its
// <emailProvider> and <incomingServer> elements). A document with a DTD or
// an entity reference, or longer than AutoconfigMaxBytes, yields no server.
// The user name's %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN% are
// filled in from the address; `domain` names the answer's source. A server
// that takes OAuth2 alone gets its issuer by OAuth2IssuerFor, also where the
// file names none.
TAutoconfigResult ParseAutoconfig(std::string_view text, const TAddressParts& address,
                                  const std::string& domain);

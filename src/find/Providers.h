#pragma once

#include "find/FoundServer.h"

#include <string>

// The program's own table of mail providers, made when it is built from the
// providers' configuration files in data/ispdb and data/providers. By the
// address's domain, or (for a domain hosted by one of them) by its mail
// exchanger's host name: the longest domain a file lists that the host is
// or ends in. Of a provider's servers the first of IMAP4 over TLS, POP3 over
// TLS, IMAP4 with STARTTLS, POP3 with STARTTLS. Not found: Source is fsNone,
// also where the provider's servers are all plain text.
TFoundServer ProviderByDomain(const TAddressParts& address);
TFoundServer ProviderByMxHost(const std::string& mxHost, const TAddressParts& address);

// The domain a mail exchanger's host name belongs to, looked up again in
// place of the address's own: "mx1.mail.example.net" -> "example.net";
// under a country's second level one more label: "mx.example.co.uk" ->
// "example.co.uk". Empty for a name of fewer than two labels.
std::string MxDomain(const std::string& mxHost);

#pragma once

#include "find/FoundServer.h"

#include <string>

// The program's own list of the providers most people use, from their help
// pages. By the address's domain, or (for a domain hosted by one of them)
// by its mail exchanger's host name. Not found: Source is fsNone.
TFoundServer ProviderByDomain(const TAddressParts& address);
TFoundServer ProviderByMxHost(const std::string& mxHost, const TAddressParts& address);

// The domain a mail exchanger's host name belongs to, looked up again in
// place of the address's own: "mx1.mail.example.net" -> "example.net";
// under a country's second level one more label: "mx.example.co.uk" ->
// "example.co.uk". Empty for a name of fewer than two labels.
std::string MxDomain(const std::string& mxHost);

#pragma once

#include <string>
#include <vector>

// Small shared types of the mail library. Protocol text is 8-bit bytes; its
// text helpers are in platform/AsciiText.h.

using TIdStrings = std::vector<std::string>;

enum TIdIPVersion
{
    Id_IPv4,
    Id_IPv6
};

// What a line read does with a line longer than the limit.
enum TIdMaxLineAction
{
    maException,
    maSplit
};

// Connection status, for an optional observer.
enum TIdStatus
{
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected
};

// utNoTLSSupport: plain text throughout. utUseImplicitTLS: TLS from the first
// byte. utUseRequireTLS and utUseExplicitTLS: STARTTLS before the login, and
// no login at all when the server does not offer it or it fails.
enum TIdUseTLS
{
    utNoTLSSupport,
    utUseImplicitTLS,
    utUseRequireTLS,
    utUseExplicitTLS
};

#pragma once

#include "check/Account.h"

#include <string>

// Where a found server's settings came from; the settings window says it on
// one line.
enum TFoundSource
{
    fsNone,
    fsProviderTable, // the program's own list of common providers
    fsAutoconfig,    // the domain's published configuration file
    fsDnsRecords,    // the domain's SRV records
    fsProbe          // a verified TLS connection to a likely host name
};

// The incoming server found for an address: what the Account page fills in.
struct TFoundServer
{
    bool IMAP4 = true;
    // Speaks JMAP: Host is the server's host, or its session's https
    // address where that is not at the host's well-known place; IMAP4 is false.
    bool JMAP = false;
    std::string Host;
    int Port = 0;
    TAccountSecurity Security = asImplicitTLS;
    std::string UserName;
    // The provider refuses a password and wants a token from this issuer.
    bool NeedsOAuth2 = false;
    std::string OAuth2Issuer;

    TFoundSource Source = fsNone;
    // The domain whose table row, file or records answered, or the host that
    // was probed.
    std::string SourceName;

    bool Found() const { return Source != fsNone; }
    bool operator==(const TFoundServer&) const = default;
};

// The parts of an address that the user name templates use. An address
// without exactly one '@' and text on both sides, or holding a character a
// host name or line cannot, is refused: Valid() is false.
struct TAddressParts
{
    std::string Address;
    std::string LocalPart;
    std::string Domain; // lower case

    bool Valid() const { return !Domain.empty(); }
};

TAddressParts SplitAddress(const std::string& address);

// A host or user name template with the address's parts put in for
// %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN%.
std::string ExpandUserName(const std::string& pattern, const TAddressParts& address);

// A host name as DNS and TLS take it: letters, digits, '-' and '.', labels of
// 1 to 63, at most 253 in all; a trailing dot dropped; lower case. Empty when
// the text is not one.
std::string CleanHostName(const std::string& text);

// The OAuth2 issuer the program knows for a provider's incoming server
// (Microsoft's, Google's, Yahoo's and AOL's), as the sign-in takes it; empty
// for any other host.
std::string KnownOAuth2Issuer(const std::string& host);

// The OAuth2 issuer for an incoming server as the sign-in takes it: one a
// file names as an https address stays; else the known one for the host;
// else a host name the file names becomes its https address. Empty where
// none is known: the user chooses.
std::string OAuth2IssuerFor(const std::string& named, const std::string& host);

// The found server into an account as the Account page edits it: protocol
// (JMAP, else IMAP4 or POP3), host, port, security and user name; the address kept; a caption still at
// its default (`defaultCaption`) becomes the address. The password and the
// rest stay as they are.
void FillAccount(Account& account, const TFoundServer& found, const std::string& address, bool defaultCaption);

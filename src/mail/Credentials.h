#pragma once

#include <string>
#include <utility>
#include <vector>

// The character set a user name and password go to the server in. Servers
// today store and compare them in UTF-8; old ones compare the bytes that a
// Windows-1252 desktop used to send.
enum TIdCredentialCharset
{
    ccUTF8,
    ccWindows1252
};

// A user name and password as they go on the wire.
struct TIdCredentials
{
    std::string Username;
    std::string Password;
};

// The login's tries, in order: the credentials (desktop text) in `first`,
// then, only when the password holds characters beyond ASCII, in the other
// character set. A form that cannot hold every character is left out; text
// that is not valid in the desktop code page goes as it is, once.
std::vector<std::pair<TIdCredentialCharset, TIdCredentials>> CredentialTries(const std::string& username,
                                                                            const std::string& password,
                                                                            TIdCredentialCharset first);

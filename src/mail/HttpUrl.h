#pragma once

#include <string>

// An http(s) URL as the program's HTTP peers may use it: https, or plain
// http on this machine's loopback (127.0.0.1, ::1, localhost) only, where
// the tests' servers speak it.
struct THttpUrl
{
    bool Tls = true;
    std::string Host; // without brackets, in lower case
    int Port = 443;
    std::string Target = "/"; // path and query
};

// False for a scheme other than https off loopback, user info, a fragment,
// a control or non-ASCII byte, or a malformed port.
bool ReadHttpUrl(const std::string& url, THttpUrl& parsed);
// "https://host[:port]", the port only where it is not the scheme's own.
std::string OriginOf(const THttpUrl& url);
// The Host header's value: the host, bracketed when IPv6, and the port where
// it is not the scheme's own.
std::string HostHeaderOf(const THttpUrl& url);
// True for the addresses a plain-text peer may have.
bool IsLoopbackHost(const std::string& host);

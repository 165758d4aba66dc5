#pragma once

#include "find/FoundServer.h"
#include "finder/FindNetwork.h"

#include <cstddef>
#include <string>

// The largest session answer read while finding; a longer one is passed over.
inline constexpr std::size_t JmapSessionMaxBytes = 256 * 1024;

// Where a JMAP server's session is asked for: https://<host>[:port]/.well-known/jmap.
std::string JmapWellKnownUrl(const std::string& host, int port = 443);

// Whether an answer from that place offers JMAP with mail: a session (a JSON
// object whose "capabilities" name "urn:ietf:params:jmap:mail"), or 401, a
// server asking for the login first. Redirects are the network's: within
// the site they are followed, elsewhere they fail. Otherwise `problem` says
// why not, for the notes (empty for a name that does not exist).
bool JmapOffered(const TFetchAnswer& answer, std::string& problem);

// What a JMAP account keeps as its host: the host alone where its session
// is found at the default port's well-known place, else the address that
// answered there.
std::string JmapHostAddress(const std::string& host, int port, const std::string& answered);

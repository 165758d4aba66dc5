#pragma once

// The network calls of Find, in a module of their own (Qt Network) loaded
// when Find is first pressed. Plain C++ types only cross the module's edge.
// Every call answers exactly once, through its callback, on the thread that
// made it (its event loop must run), unless Cancel comes first; each is
// bounded by the time limit it is given.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TFetchAnswer
{
    bool Ok = false;
    std::string Body;    // the whole answer, at most the size asked for
    // Why not Ok: "Insecure redirect", "longer than 1048576 bytes"; empty
    // for a host name that does not exist.
    std::string Problem;
    // The last answer's HTTP status (0: none came) and the address that
    // gave it, after the redirects followed: a JMAP server that asks for a
    // login answers 401, and its session may sit elsewhere on the site.
    int Status = 0;
    std::string Url;
};

struct TSrvAnswer
{
    std::string Target;
    int Port = 0;
    int Priority = 0;
    int Weight = 0;
};

struct TDnsAnswer
{
    bool Ok = false; // false for a failed lookup; an empty Ok answer is "no records"
    std::vector<TSrvAnswer> Srv;
    std::vector<std::string> Mx; // by preference, best first
    std::string Problem;
};

struct TProbeAsk
{
    std::string Host;
    int Port = 0;
    bool IMAP4 = true;
    bool StartTLS = false; // else TLS from the first byte
};

struct TProbeAnswer
{
    // The server greeted in its protocol over TLS whose certificate the
    // system trusts for the host's name.
    bool Verified = false;
    std::string Problem; // empty for a host name that does not exist
};

class IFindNetwork
{
public:
    virtual ~IFindNetwork() = default;
    // https only, no redirect to another origin, at most maxBytes. Ok only
    // for a 200 answer.
    virtual void Fetch(const std::string& url, std::size_t maxBytes, int timeLimitMs,
                       std::function<void(TFetchAnswer)> done) = 0;
    virtual void LookupSrv(const std::string& name, int timeLimitMs, std::function<void(TDnsAnswer)> done) = 0;
    virtual void LookupMx(const std::string& domain, int timeLimitMs, std::function<void(TDnsAnswer)> done) = 0;
    virtual void Probe(const TProbeAsk& ask, int timeLimitMs, std::function<void(TProbeAnswer)> done) = 0;
    // Ends every call at once; their callbacks are not run.
    virtual void Cancel() = 0;
};

// The module's one entry point.
using TCreateFindNetwork = IFindNetwork* (*)();
inline constexpr const char* CreateFindNetworkName = "ternbell_create_find_network";
inline constexpr const char* FindNetworkModuleFileName = "ternbell-finder.so";

#pragma once

#include "finder/FindNetwork.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

// A network whose every call waits until the test answers it, by name, in
// the order the test chooses: "fetch https://...", "srv _imaps._tcp.x",
// "mx x", "probe imap.x:993". A call never answered stays waiting.
class TScriptedNetwork final : public IFindNetwork
{
public:
    void Fetch(const std::string& url, std::size_t, int, std::function<void(TFetchAnswer)> done) override
    {
        Fetches["fetch " + url] = std::move(done);
    }
    void LookupSrv(const std::string& name, int, std::function<void(TDnsAnswer)> done) override
    {
        Dns["srv " + name] = std::move(done);
    }
    void LookupMx(const std::string& domain, int, std::function<void(TDnsAnswer)> done) override
    {
        Dns["mx " + domain] = std::move(done);
    }
    void Probe(const TProbeAsk& ask, int, std::function<void(TProbeAnswer)> done) override
    {
        Probes["probe " + ask.Host + ":" + std::to_string(ask.Port)] = std::move(done);
    }
    void Cancel() override
    {
        Fetches.clear();
        Dns.clear();
        Probes.clear();
        ++Cancels;
    }

    template <typename TMap, typename TAnswer>
    static void Reply(TMap& calls, const std::string& name, TAnswer answer)
    {
        auto it = calls.find(name);
        ASSERT_NE(it, calls.end()) << "no call waits for " << name;
        auto done = std::move(it->second);
        calls.erase(it);
        done(std::move(answer));
    }
    void File(const std::string& url, const std::string& body)
    {
        Reply(Fetches, "fetch " + url, TFetchAnswer{true, body, {}, 200, url});
    }
    void NoFile(const std::string& url, int status = 404)
    {
        Reply(Fetches, "fetch " + url, TFetchAnswer{false, {}, "HTTP status " + std::to_string(status), status, url});
    }
    void Srv(const std::string& name, std::vector<TSrvAnswer> records = {})
    {
        TDnsAnswer a;
        a.Ok = true;
        a.Srv = std::move(records);
        Reply(Dns, "srv " + name, std::move(a));
    }
    void Mx(const std::string& domain, std::vector<std::string> hosts = {})
    {
        TDnsAnswer a;
        a.Ok = true;
        a.Mx = std::move(hosts);
        Reply(Dns, "mx " + domain, std::move(a));
    }
    void Probed(const std::string& target, bool verified)
    {
        Reply(Probes, "probe " + target, TProbeAnswer{verified, verified ? "" : "connection refused"});
    }
    // Every waiting call of a kind comes back empty.
    void NoSrv(const std::string& domain = "example.com")
    {
        for (const char* s : {"_imaps._tcp.", "_pop3s._tcp.", "_imap._tcp.", "_pop3._tcp."})
            Srv(std::string(s) + domain);
    }
    // The domain offers no JMAP: no record, nothing at its well-known place.
    void NoJmap(const std::string& domain = "example.com")
    {
        Srv("_jmap._tcp." + domain);
        NoFile("https://" + domain + "/.well-known/jmap");
    }
    // Every waiting probe but one fails, and so do those started meanwhile.
    void NoProbe(const std::string& except = {})
    {
        for (bool any = true; any;)
        {
            std::vector<std::string> names;
            for (const auto& [name, done] : Probes)
                if (name != "probe " + except)
                    names.push_back(name.substr(6));
            for (const std::string& name : names)
                Probed(name, false);
            any = !names.empty();
        }
    }
    std::size_t Waiting() const { return Fetches.size() + Dns.size() + Probes.size(); }

    std::map<std::string, std::function<void(TFetchAnswer)>> Fetches;
    std::map<std::string, std::function<void(TDnsAnswer)>> Dns;
    std::map<std::string, std::function<void(TProbeAnswer)>> Probes;
    int Cancels = 0;
};


#pragma once

#include "find/FindOrder.h"
#include "find/FoundServer.h"
#include "find/SrvOrder.h"
#include "finder/FindNetwork.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TFindOutcome
{
    TFoundServer Server;      // Found() is false when nothing was found
    bool TimedOut = false;    // the search was ended by its time limit
    std::vector<std::string> Notes; // answers passed over and why
};

// Finds the incoming server for an address: the provider table, the
// domain's JMAP session (through its "_jmap._tcp" record, then its
// well-known place), the domain's configuration files, its SRV records, its
// mail exchanger's provider or files, then probing, with the calls run side by side and the
// order deciding (TFindOrder); the STARTTLS probes only once every probe of
// TLS from the first byte has come back empty. Runs on one thread, on the network's
// callbacks; the caller ends it in time with Expire.
class TFinder
{
public:
    struct TLimits
    {
        int CallMs = 10000; // each lookup, file or probe
    };
    // The "_jmap._tcp" targets whose sessions are asked for, one after
    // another, before that place counts as empty.
    static constexpr std::size_t JmapSrvTries = 3;

    TFinder(IFindNetwork& network, TLimits limits, TWeightPick pick = RandomWeightPick());
    ~TFinder();
    TFinder(const TFinder&) = delete;
    TFinder& operator=(const TFinder&) = delete;

    // Starts a search; `done` runs once, maybe before Start returns, unless
    // Cancel comes first.
    void Start(const std::string& address, std::function<void(const TFindOutcome&)> done);
    // Ends the search without an answer; `done` does not run.
    void Cancel();
    // The time is up: places still waiting count as empty, and the best
    // answer so far wins.
    void Expire();
    bool Running() const { return Done != nullptr; }

private:
    void StartFetch(std::size_t place, const std::string& url, const std::string& domain);
    void StartSrv();
    void StartJmap();
    // Asks the session of the JMAP record's target `next`, then the next.
    void AskJmapTarget(std::size_t next);
    void StartMx();
    void StartProbes(std::size_t first, std::size_t end);
    // The probes that come first in the order: TLS from the first byte.
    std::size_t ImplicitProbes() const;
    void StartTlsProbesWhenDue();
    void Answer(std::size_t place, TFoundServer found);
    void Nothing(std::size_t place, std::string note = {});
    void Decide();
    void Finish(TFindOutcome outcome);

    IFindNetwork& Network;
    TLimits Limits;
    TWeightPick Pick;
    TAddressParts Address;
    std::unique_ptr<TFindOrder> Order;
    std::vector<TProbeTarget> Probes;
    TSrvAnswers Srv;
    std::vector<TFoundServer> JmapTargets;
    int SrvWaiting = 0;
    bool StartTlsProbesStarted = false;
    std::vector<std::string> Notes;
    bool Starting = false;
    std::function<void(const TFindOutcome&)> Done;
};

// The two configuration file addresses of a domain, for the address asked.
std::string AutoconfigHostUrl(const std::string& domain, const std::string& address);
std::string AutoconfigWellKnownUrl(const std::string& domain);

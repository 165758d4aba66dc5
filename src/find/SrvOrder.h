#pragma once

#include "find/FoundServer.h"
#include "finder/FindNetwork.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One SRV answer, as the resolver gave it.
using TSrvRecord = TSrvAnswer;

// The four services of a mail domain, in the order they are asked.
enum TMailService
{
    msImaps,
    msPop3s,
    msImap,
    msPop3,
    msServiceCount
};

// "_imaps._tcp." and so on, the name asked is this followed by the domain.
const char* SrvServicePrefix(TMailService service);
// JMAP's service, asked beside the four.
inline constexpr const char* JmapSrvPrefix = "_jmap._tcp.";

// More answers than this for one service are taken as hostile, not as a list.
inline constexpr std::size_t SrvMaxRecords = 100;

struct TSrvAnswers
{
    std::vector<TSrvRecord> Records[msServiceCount];
};

struct TSrvChoice
{
    // Best first: lower priority value, then implicit TLS before STARTTLS,
    // then IMAP4 before POP3, then by weight. Source is fsDnsRecords.
    std::vector<TFoundServer> Servers;
    // What was passed over and why, for the log; empty when nothing was.
    std::vector<std::string> Notes;
};

// Picks a number from 0 to `total` inclusive; tests pass a fixed one.
using TWeightPick = std::function<std::uint32_t(std::uint32_t total)>;
TWeightPick RandomWeightPick();

// Orders the answers of a domain's services. A service whose only target is
// "." is not offered; records with a port of 0, a target that is no host
// name, or a service with more than SrvMaxRecords answers are passed over.
// Within one priority the weights choose the order as SRV clients do.
TSrvChoice ChooseSrvServers(const TSrvAnswers& answers, const TAddressParts& address,
                            const TWeightPick& pick);

// The JMAP servers a domain's "_jmap._tcp" records name, best first by
// priority and weight, passed over as ChooseSrvServers does. Each is JMAP
// over https at the record's host and port (its session not yet asked for).
TSrvChoice ChooseJmapServers(const std::vector<TSrvRecord>& records, const TAddressParts& address,
                             const TWeightPick& pick);

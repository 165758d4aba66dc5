#include "find/SrvOrder.h"

#include <algorithm>
#include <map>
#include <memory>
#include <random>

namespace
{

struct TRanked
{
    TFoundServer Server;
    int Priority;
    int Weight;
    int Service;
};

// Weighted order within one priority: zero weights first in the running
// sums, so they are chosen only by a pick of 0 when others weigh more.
void WeightedOrder(std::vector<TRanked>& group, const TWeightPick& pick)
{
    std::stable_sort(group.begin(), group.end(),
                     [](const TRanked& a, const TRanked& b) { return a.Weight == 0 && b.Weight != 0; });
    std::vector<TRanked> ordered;
    while (!group.empty())
    {
        std::uint32_t total = 0;
        for (const TRanked& r : group)
            total += static_cast<std::uint32_t>(r.Weight);
        const std::uint32_t chosen = std::min(pick(total), total);
        std::uint32_t running = 0;
        auto it = group.begin();
        for (; it != group.end(); ++it)
        {
            running += static_cast<std::uint32_t>(it->Weight);
            if (running >= chosen)
                break;
        }
        if (it == group.end())
            it = group.end() - 1;
        ordered.push_back(std::move(*it));
        group.erase(it);
    }
    group = std::move(ordered);
}

using TGroups = std::map<std::pair<int, int>, std::vector<TRanked>>;

// One service's records into the groups by (priority, service), with a note
// for each passed over. `kind` makes a record's server.
void RankRecords(const std::vector<TSrvRecord>& records, const std::string& name, int service,
                 const TAddressParts& address, const std::function<void(TFoundServer&)>& kind,
                 std::vector<std::string>& notes, TGroups& groups)
{
    if (records.size() > SrvMaxRecords)
    {
        notes.push_back(name + ": " + std::to_string(records.size()) + " records, passed over");
        return;
    }
    if (records.size() == 1 && (records[0].Target == "." || records[0].Target.empty()))
        return; // the domain says it does not offer this service
    for (const TSrvRecord& record : records)
    {
        TRanked ranked{};
        ranked.Server.Host = CleanHostName(record.Target);
        if (ranked.Server.Host.empty() || record.Port < 1 || record.Port > 65535 || record.Priority < 0
            || record.Weight < 0 || record.Priority > 65535 || record.Weight > 65535)
        {
            notes.push_back(name + ": record for \"" + record.Target + "\" port " + std::to_string(record.Port)
                            + " passed over");
            continue;
        }
        ranked.Server.Port = record.Port;
        kind(ranked.Server);
        ranked.Server.UserName = address.Address;
        ranked.Server.Source = fsDnsRecords;
        ranked.Server.SourceName = address.Domain;
        ranked.Priority = record.Priority;
        ranked.Weight = record.Weight;
        ranked.Service = service;
        groups[{record.Priority, service}].push_back(std::move(ranked));
    }
}

void TakeInOrder(TGroups& groups, const TWeightPick& pick, TSrvChoice& choice)
{
    for (auto& [key, group] : groups)
    {
        WeightedOrder(group, pick);
        for (TRanked& r : group)
            choice.Servers.push_back(std::move(r.Server));
    }
}

} // namespace

const char* SrvServicePrefix(TMailService service)
{
    switch (service)
    {
    case msImaps: return "_imaps._tcp.";
    case msPop3s: return "_pop3s._tcp.";
    case msImap: return "_imap._tcp.";
    case msPop3: return "_pop3._tcp.";
    default: return "";
    }
}

TWeightPick RandomWeightPick()
{
    auto engine = std::make_shared<std::mt19937>(std::random_device{}());
    return [engine](std::uint32_t total) {
        return std::uniform_int_distribution<std::uint32_t>(0, total)(*engine);
    };
}

TSrvChoice ChooseSrvServers(const TSrvAnswers& answers, const TAddressParts& address, const TWeightPick& pick)
{
    TSrvChoice choice;
    // (priority, service) -> records; the service's rank in TMailService is
    // implicit TLS before STARTTLS and IMAP4 before POP3.
    TGroups groups;
    for (int service = 0; service < msServiceCount; ++service)
    {
        const auto kind = [service](TFoundServer& server) {
            server.IMAP4 = service == msImaps || service == msImap;
            server.Security = service == msImaps || service == msPop3s ? asImplicitTLS : asStartTLS;
        };
        RankRecords(answers.Records[service], SrvServicePrefix(static_cast<TMailService>(service)) + address.Domain,
                    service, address, kind, choice.Notes, groups);
    }
    TakeInOrder(groups, pick, choice);
    return choice;
}

TSrvChoice ChooseJmapServers(const std::vector<TSrvRecord>& records, const TAddressParts& address,
                             const TWeightPick& pick)
{
    TSrvChoice choice;
    TGroups groups;
    const auto kind = [](TFoundServer& server) {
        server.JMAP = true;
        server.IMAP4 = false;
        server.Security = asImplicitTLS;
    };
    RankRecords(records, JmapSrvPrefix + address.Domain, 0, address, kind, choice.Notes, groups);
    TakeInOrder(groups, pick, choice);
    return choice;
}

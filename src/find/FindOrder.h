#pragma once

#include "find/FoundServer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Where Find looks, in the order that decides: the first place that answers
// wins over every later one, whichever answered first in time.
enum TFindPlace : std::size_t
{
    fpTable,            // the provider table by the address's domain
    // JMAP where the domain offers it, before any other protocol.
    fpJmapSrv,          // the JMAP session of the "_jmap._tcp" record's target
    fpJmapWellKnown,    // https://<domain>/.well-known/jmap
    fpAutoconfigHost,   // https://autoconfig.<domain>/mail/config-v1.1.xml
    fpAutoconfigWellKnown, // https://<domain>/.well-known/autoconfig/...
    fpSrv,              // the SRV records
    fpMxTable,          // the provider table by the mail exchanger's host
    fpMxAutoconfigHost, // the two files of the exchanger's domain
    fpMxAutoconfigWellKnown,
    fpProbeFirst        // then one place per probe candidate
};

struct TProbeTarget
{
    std::string Host;
    int Port;
    bool IMAP4;
    TAccountSecurity Security;

    bool operator==(const TProbeTarget&) const = default;
};

// The hosts and ports tried, best first: TLS from the first byte (993, 995)
// before STARTTLS (143, 110), IMAP4 before POP3, then imap., mail., pop3.,
// pop. and the bare domain.
std::vector<TProbeTarget> ProbeTargets(const std::string& domain);

// Collects the places' answers as they come and names the winner as soon as
// every place before the best answer has come back empty.
class TFindOrder
{
public:
    explicit TFindOrder(std::size_t places);

    void Answer(std::size_t place, TFoundServer found);
    void Nothing(std::size_t place);

    // The winner once it is certain; nothing while an earlier place may
    // still answer.
    std::optional<TFoundServer> Winner() const;
    // Every place has come back and none answered.
    bool NothingFound() const;
    // No answer from this place can win any more: a place before it answered.
    bool Needless(std::size_t place) const;
    bool Settled(std::size_t place) const;
    std::size_t Places() const { return States.size(); }

private:
    enum TState
    {
        stWaiting,
        stEmpty,
        stAnswered
    };
    std::vector<TState> States;
    std::vector<TFoundServer> Answers;
};

#include "find/Finder.h"

#include "find/Autoconfig.h"
#include "find/JmapOffer.h"
#include "find/Providers.h"
#include "platform/AsciiText.h"

std::string AutoconfigHostUrl(const std::string& domain, const std::string& address)
{
    return "https://autoconfig." + domain + "/mail/config-v1.1.xml?emailaddress=" + AsciiText::PercentEncoded(address);
}

std::string AutoconfigWellKnownUrl(const std::string& domain)
{
    return "https://" + domain + "/.well-known/autoconfig/mail/config-v1.1.xml";
}

TFinder::TFinder(IFindNetwork& network, TLimits limits, TWeightPick pick)
    : Network(network), Limits(limits), Pick(std::move(pick))
{
}

TFinder::~TFinder()
{
    Cancel();
}

void TFinder::Start(const std::string& address, std::function<void(const TFindOutcome&)> done)
{
    Cancel();
    Done = std::move(done);
    Notes.clear();
    Srv = {};
    JmapTargets.clear();
    StartTlsProbesStarted = false;
    Address = SplitAddress(address);
    if (!Address.Valid())
    {
        Finish({});
        return;
    }
    Probes = ProbeTargets(Address.Domain);
    Order = std::make_unique<TFindOrder>(fpProbeFirst + Probes.size());
    // Answers that come at once are only collected until every call is out.
    Starting = true;
    TFoundServer table = ProviderByDomain(Address);
    if (table.Found())
        Order->Answer(fpTable, std::move(table));
    else
    {
        Order->Nothing(fpTable);
        StartJmap();
        StartFetch(fpAutoconfigHost, AutoconfigHostUrl(Address.Domain, Address.Address), Address.Domain);
        StartFetch(fpAutoconfigWellKnown, AutoconfigWellKnownUrl(Address.Domain), Address.Domain);
        StartSrv();
        StartMx();
        // TLS from the first byte first: STARTTLS only where none of it
        // answers, so a server that has both is not asked twice as often.
        StartProbes(0, ImplicitProbes());
    }
    Starting = false;
    Decide();
}

void TFinder::Cancel()
{
    if (!Done)
        return;
    Done = nullptr;
    Network.Cancel();
}

void TFinder::Expire()
{
    if (!Done || !Order)
        return;
    for (std::size_t place = 0; place < Order->Places(); ++place)
        Order->Nothing(place);
    if (!Order->Winner())
    {
        TFindOutcome outcome;
        outcome.TimedOut = true;
        Finish(std::move(outcome));
        return;
    }
    Decide();
}

void TFinder::StartFetch(std::size_t place, const std::string& url, const std::string& domain)
{
    Network.Fetch(url, AutoconfigMaxBytes, Limits.CallMs, [this, place, url, domain](TFetchAnswer answer) {
        if (!answer.Ok)
        {
            Nothing(place, answer.Problem.empty() ? std::string() : url + ": " + answer.Problem);
            return;
        }
        TAutoconfigResult result = ParseAutoconfig(answer.Body, Address, domain);
        if (!result.Servers.empty())
            Answer(place, std::move(result.Servers.front()));
        else
            Nothing(place, url + ": " + (result.Problem.empty() ? "no usable incoming server" : result.Problem));
    });
}

void TFinder::StartSrv()
{
    SrvWaiting = msServiceCount;
    for (int service = 0; service < msServiceCount; ++service)
    {
        const std::string name = SrvServicePrefix(static_cast<TMailService>(service)) + Address.Domain;
        Network.LookupSrv(name, Limits.CallMs, [this, service](TDnsAnswer answer) {
            Srv.Records[service] = std::move(answer.Srv);
            if (--SrvWaiting > 0)
                return;
            TSrvChoice choice = ChooseSrvServers(Srv, Address, Pick);
            Notes.insert(Notes.end(), choice.Notes.begin(), choice.Notes.end());
            if (choice.Servers.empty())
                Nothing(fpSrv);
            else
                Answer(fpSrv, std::move(choice.Servers.front()));
        });
    }
}

void TFinder::StartJmap()
{
    Network.LookupSrv(JmapSrvPrefix + Address.Domain, Limits.CallMs, [this](TDnsAnswer answer) {
        TSrvChoice choice = ChooseJmapServers(answer.Srv, Address, Pick);
        Notes.insert(Notes.end(), choice.Notes.begin(), choice.Notes.end());
        JmapTargets = std::move(choice.Servers);
        if (JmapTargets.size() > JmapSrvTries)
            JmapTargets.resize(JmapSrvTries);
        AskJmapTarget(0);
    });
    const std::string url = JmapWellKnownUrl(Address.Domain);
    Network.Fetch(url, JmapSessionMaxBytes, Limits.CallMs, [this, url](TFetchAnswer answer) {
        std::string problem;
        if (!JmapOffered(answer, problem))
        {
            Nothing(fpJmapWellKnown, problem.empty() ? std::string() : url + ": " + problem);
            return;
        }
        // The domain's own place: said like its own configuration file.
        TFoundServer found;
        found.JMAP = true;
        found.IMAP4 = false;
        found.Host = Address.Domain;
        found.Port = 443;
        found.UserName = Address.Address;
        found.Source = fsAutoconfig;
        found.SourceName = Address.Domain;
        Answer(fpJmapWellKnown, std::move(found));
    });
}

void TFinder::AskJmapTarget(std::size_t next)
{
    if (next >= JmapTargets.size())
    {
        Nothing(fpJmapSrv);
        return;
    }
    const TFoundServer& target = JmapTargets[next];
    const std::string url = JmapWellKnownUrl(target.Host, target.Port);
    Network.Fetch(url, JmapSessionMaxBytes, Limits.CallMs, [this, next, url](TFetchAnswer answer) {
        std::string problem;
        if (!JmapOffered(answer, problem))
        {
            if (!problem.empty())
                Notes.push_back(url + ": " + problem);
            AskJmapTarget(next + 1);
            return;
        }
        TFoundServer found = JmapTargets[next];
        found.Host = JmapHostAddress(found.Host, found.Port, answer.Url);
        Answer(fpJmapSrv, std::move(found));
    });
}

void TFinder::StartMx()
{
    Network.LookupMx(Address.Domain, Limits.CallMs, [this](TDnsAnswer answer) {
        const std::string host = answer.Mx.empty() ? std::string() : CleanHostName(answer.Mx.front());
        TFoundServer provider = ProviderByMxHost(host, Address);
        if (provider.Found())
            Answer(fpMxTable, std::move(provider));
        else
            Nothing(fpMxTable);
        const std::string domain = MxDomain(host);
        if (domain.empty() || domain == Address.Domain)
        {
            Nothing(fpMxAutoconfigHost);
            Nothing(fpMxAutoconfigWellKnown);
            return;
        }
        if (Order->Needless(fpMxAutoconfigHost))
            return;
        StartFetch(fpMxAutoconfigHost, AutoconfigHostUrl(domain, Address.Address), domain);
        StartFetch(fpMxAutoconfigWellKnown, AutoconfigWellKnownUrl(domain), domain);
    });
}

void TFinder::StartProbes(std::size_t first, std::size_t end)
{
    for (std::size_t i = first; i < end; ++i)
    {
        const TProbeTarget& target = Probes[i];
        const TProbeAsk ask{target.Host, target.Port, target.IMAP4, target.Security == asStartTLS};
        Network.Probe(ask, Limits.CallMs, [this, i](TProbeAnswer answer) {
            const TProbeTarget& target = Probes[i];
            if (!answer.Verified)
            {
                if (!answer.Problem.empty())
                    Notes.push_back(target.Host + ":" + std::to_string(target.Port) + ": " + answer.Problem);
                Nothing(fpProbeFirst + i);
                StartTlsProbesWhenDue();
                return;
            }
            TFoundServer found;
            found.IMAP4 = target.IMAP4;
            found.Host = target.Host;
            found.Port = target.Port;
            found.Security = target.Security;
            found.UserName = Address.Address;
            found.Source = fsProbe;
            found.SourceName = target.Host;
            Answer(fpProbeFirst + i, std::move(found));
        });
    }
}

std::size_t TFinder::ImplicitProbes() const
{
    std::size_t count = 0;
    while (count < Probes.size() && Probes[count].Security == asImplicitTLS)
        ++count;
    return count;
}

void TFinder::StartTlsProbesWhenDue()
{
    const std::size_t implicit = ImplicitProbes();
    if (!Done || StartTlsProbesStarted || implicit == Probes.size())
        return;
    for (std::size_t i = 0; i < implicit; ++i)
    {
        if (!Order->Settled(fpProbeFirst + i))
            return;
    }
    StartTlsProbesStarted = true;
    if (!Order->Needless(fpProbeFirst + implicit))
        StartProbes(implicit, Probes.size());
}

void TFinder::Answer(std::size_t place, TFoundServer found)
{
    if (!Done)
        return;
    Order->Answer(place, std::move(found));
    Decide();
}

void TFinder::Nothing(std::size_t place, std::string note)
{
    if (!Done)
        return;
    if (!note.empty())
        Notes.push_back(std::move(note));
    Order->Nothing(place);
    Decide();
}

void TFinder::Decide()
{
    if (Starting || !Done)
        return;
    if (std::optional<TFoundServer> winner = Order->Winner())
    {
        TFindOutcome outcome;
        outcome.Server = std::move(*winner);
        Finish(std::move(outcome));
    }
    else if (Order->NothingFound())
        Finish({});
}

void TFinder::Finish(TFindOutcome outcome)
{
    auto done = std::move(Done);
    Done = nullptr;
    Network.Cancel();
    outcome.Notes = std::move(Notes);
    Notes.clear();
    if (done)
        done(outcome);
}

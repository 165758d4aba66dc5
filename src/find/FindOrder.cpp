#include "find/FindOrder.h"

std::vector<TProbeTarget> ProbeTargets(const std::string& domain)
{
    struct TPortKind
    {
        int Port;
        bool IMAP4;
        TAccountSecurity Security;
    };
    static constexpr TPortKind Ports[] = {
        {993, true, asImplicitTLS}, {995, false, asImplicitTLS}, {143, true, asStartTLS}, {110, false, asStartTLS}};
    static constexpr const char* Prefixes[] = {"imap.", "mail.", "pop3.", "pop.", ""};
    std::vector<TProbeTarget> targets;
    for (const TPortKind& port : Ports)
    {
        for (const char* prefix : Prefixes)
            targets.push_back({prefix + domain, port.Port, port.IMAP4, port.Security});
    }
    return targets;
}

TFindOrder::TFindOrder(std::size_t places) : States(places, stWaiting), Answers(places) {}

void TFindOrder::Answer(std::size_t place, TFoundServer found)
{
    if (place >= States.size() || States[place] != stWaiting)
        return;
    States[place] = stAnswered;
    Answers[place] = std::move(found);
}

void TFindOrder::Nothing(std::size_t place)
{
    if (place < States.size() && States[place] == stWaiting)
        States[place] = stEmpty;
}

std::optional<TFoundServer> TFindOrder::Winner() const
{
    for (std::size_t i = 0; i < States.size(); ++i)
    {
        if (States[i] == stWaiting)
            return std::nullopt;
        if (States[i] == stAnswered)
            return Answers[i];
    }
    return std::nullopt;
}

bool TFindOrder::NothingFound() const
{
    for (TState state : States)
    {
        if (state != stEmpty)
            return false;
    }
    return true;
}

bool TFindOrder::Needless(std::size_t place) const
{
    for (std::size_t i = 0; i < place && i < States.size(); ++i)
    {
        if (States[i] == stAnswered)
            return true;
    }
    return false;
}

bool TFindOrder::Settled(std::size_t place) const
{
    return place >= States.size() || States[place] != stWaiting;
}

#include "config/AccountFind.h"

#include "check/CheckRules.h" // FormatOne
#include "i18n/Translate.h"

TAccountFind::TAccountFind(TNetworkMaker maker) : Maker(std::move(maker))
{
    Limit.setSingleShot(true);
    QObject::connect(&Limit, &QTimer::timeout, [this] { Expire(); });
}

TAccountFind::~TAccountFind()
{
    Cancel();
}

void TAccountFind::Start(const std::string& address, std::function<void(const TFindOutcome&)> done)
{
    Cancel();
    if (!Network)
    {
        Network = Maker();
        Finder = std::make_unique<TFinder>(*Network, TFinder::TLimits{});
    }
    Limit.start(LimitMs);
    Finder->Start(address, [this, done = std::move(done)](const TFindOutcome& outcome) {
        Limit.stop();
        done(outcome);
    });
}

void TAccountFind::Cancel()
{
    Limit.stop();
    if (Finder)
        Finder->Cancel();
}

void TAccountFind::Expire()
{
    Limit.stop();
    if (Finder)
        Finder->Expire();
}

std::string FindOutcomeText(const TFindOutcome& outcome, const std::string& address)
{
    const TFoundServer& found = outcome.Server;
    const TAddressParts parts = SplitAddress(address);
    if (!parts.Valid())
        return ResStr("Type an e-mail address, such as ann@example.com.");
    std::string text;
    switch (found.Source)
    {
    case fsProviderTable:
        text = FormatOne(ResStr("from the list of common providers (%s)"), "%s", found.SourceName);
        break;
    case fsAutoconfig:
        text = FormatOne(ResStr("from %s's own configuration"), "%s", found.SourceName);
        break;
    case fsDnsRecords:
        text = FormatOne(ResStr("from the DNS records of %s"), "%s", found.SourceName);
        break;
    case fsProbe:
        text = FormatOne(ResStr("tried and verified on %s"), "%s", found.SourceName);
        break;
    case fsNone:
        return FormatOne(outcome.TimedOut ? ResStr("No answer in time for %s: please type the settings.")
                                          : ResStr("No settings found for %s: please type them."),
                         "%s", parts.Domain);
    }
    if (found.NeedsOAuth2)
        text += " " + ResStr("(the provider asks for a sign-in on its own page)");
    return text;
}

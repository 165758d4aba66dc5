#pragma once

#include "find/Finder.h"

#include <QTimer>

#include <functional>
#include <memory>
#include <string>

// Find on the Account page: the search for an address's servers, run on the
// window's thread on the network module's callbacks (nothing waits), ended
// after at most LimitMs. The module is loaded at the first Start.
class TAccountFind
{
public:
    static constexpr int LimitMs = 20000;
    using TNetworkMaker = std::function<std::unique_ptr<IFindNetwork>()>;

    explicit TAccountFind(TNetworkMaker maker);
    ~TAccountFind();
    TAccountFind(const TAccountFind&) = delete;
    TAccountFind& operator=(const TAccountFind&) = delete;

    // `done` runs once, unless Cancel comes first. Raises Exception when the
    // network module cannot be loaded.
    void Start(const std::string& address, std::function<void(const TFindOutcome&)> done);
    void Cancel();
    // The limit has passed: what was found so far, or nothing.
    void Expire();
    bool Running() const { return Finder && Finder->Running(); }

private:
    TNetworkMaker Maker;
    std::unique_ptr<IFindNetwork> Network;
    std::unique_ptr<TFinder> Finder;
    QTimer Limit;
};

// The one line under the address saying where the settings came from, or why
// there are none; translated, plain text.
std::string FindOutcomeText(const TFindOutcome& outcome, const std::string& address);

#pragma once

#include "check/CheckCycle.h"

#include <functional>

// Stands in for a client this program does not have yet: every account it
// serves takes the failure path, with the reason in its error row.
class TUnavailableClient : public TCheckClient
{
public:
    // why: the reason, fetched (translated) each time it is raised.
    explicit TUnavailableClient(std::function<std::string()> why) : Why(std::move(why)) {}

    void SetAccount(const std::string&, const std::string&, const std::string&, int) override {}
    void Connect() override;
    int MessageCount() override { return 0; }
    TFetchedHeader FetchHeader(int) override { return {}; }
    int MessageSize(int) override { return -1; }
    void Disconnect() override {}
    void DisconnectAfterFailure() noexcept override {}

private:
    std::function<std::string()> Why;
};

#include "check/Account.h"

std::string PartnerPort(const std::string& port, TAccountSecurity security)
{
    const bool tls = security == asImplicitTLS;
    if (tls && port == "110")
        return "995";
    if (tls && port == "143")
        return "993";
    if (!tls && port == "995")
        return "110";
    if (!tls && port == "993")
        return "143";
    return port;
}

std::vector<int> CheckIntervals(const std::vector<Account>& accounts, int common)
{
    std::vector<int> intervals;
    intervals.reserve(accounts.size());
    for (const Account& a : accounts)
        intervals.push_back((a.Enabled && a.CheckingTime > 0 ? a.CheckingTime : common) * 1000);
    return intervals;
}

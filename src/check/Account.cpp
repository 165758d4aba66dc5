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

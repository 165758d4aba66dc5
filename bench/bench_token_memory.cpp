// What the token machinery leaves in a resting process: resident memory and
// mapped shared objects before any token, after the first (discovery and a
// refresh against the tests' authorization server), and after 200 more
// refreshes, which would show a leak. The server runs in a process of its
// own and is not counted. Run under scripts/offline.sh after a build.
#include "oauth/TokenKeeper.h"
#include "oauth/TokenVault.h"
#include "support/oauth/AuthServer.h"

#include <QCoreApplication>

#include <fstream>
#include <iostream>
#include <set>
#include <string>

namespace
{

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::size_t SharedObjects()
{
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> objects;
    for (std::string line; std::getline(maps, line);)
        if (line.find(".so") != std::string::npos)
            objects.insert(line.substr(line.find('/')));
    return objects.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string why = AuthServer::Unavailable();
    if (!why.empty())
    {
        std::cerr << "bench_token_memory: " << why << "\n";
        return 1;
    }
    AuthServer server;
    const Account account = server.SignInAccount();
    TMemoryTokenVault vault;
    vault.Write(account, server.Mint(account.UserName).RefreshToken);
    TAccessTokens tokens(vault, {});

    const long before = ResidentKiB();
    const std::size_t objectsBefore = SharedObjects();
    tokens.AccessToken(account, false);
    const long first = ResidentKiB();
    const std::size_t objectsFirst = SharedObjects();
    for (int i = 0; i < 200; ++i)
        tokens.AccessToken(account, true);
    const long many = ResidentKiB();
    std::cout << "resident KiB: before " << before << ", after the first token " << first << " (+"
              << first - before << "), after 200 refreshes " << many << " (+" << many - first << ")\n"
              << "shared objects: before " << objectsBefore << ", after " << objectsFirst << "\n"
              << "token requests: " << tokens.Requests() << "\n";
    return 0;
}

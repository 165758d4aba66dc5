#include "support/PrivateLink.h"

#include <net/if.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace
{

int FarNet = -1;
int NearNet = -1;

bool LoopbackUp()
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0
                    && (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    return up;
}

// A namespace can be made for the process as a whole only while it has one
// thread: before main, before Qt or any server starts one.
std::string EnterNamespaces()
{
    for (int* net : {&FarNet, &NearNet})
    {
        if (unshare(CLONE_NEWNET) != 0)
            return std::string("cannot make a network namespace: ") + strerror(errno);
        *net = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        if (*net < 0)
            return std::string("cannot hold a network namespace: ") + strerror(errno);
        if (!LoopbackUp())
            return std::string("cannot bring loopback up: ") + strerror(errno);
    }
    return {};
}

const std::string NamespaceProblem = EnterNamespaces();

bool Installed(const char* program)
{
    for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"})
        if (access((std::string(folder) + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// The calling thread in `net` for the guard's life; back in the near one after.
class TInNamespace
{
public:
    explicit TInNamespace(int net)
    {
        if (setns(net, CLONE_NEWNET) != 0)
            throw std::runtime_error(std::string("cannot enter the far namespace: ") + strerror(errno));
    }
    ~TInNamespace() { setns(NearNet, CLONE_NEWNET); }
    TInNamespace(const TInNamespace&) = delete;
    TInNamespace& operator=(const TInNamespace&) = delete;
};

// What drops every packet from `peer` on arrival.
std::string DropRules(const char* peer)
{
    return std::string("table inet ternbell_link {\n  chain input {\n    type filter hook input priority 0;\n"
                       "    ip saddr ") +
           peer + " drop\n  }\n}\n";
}

} // namespace

std::string PrivateLink::Unavailable()
{
    if (!NamespaceProblem.empty())
        return NamespaceProblem;
    if (geteuid() != 0)
        return "a veth pair needs root";
    if (!Installed("ip"))
        return "ip is not installed (Debian: iproute2)";
    if (!Installed("nft"))
        return "nft is not installed (Debian: nftables)";
    return {};
}

PrivateLink::PrivateLink()
{
    const std::string why = Unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    const std::string far = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(FarNet);
    Run("ip link add tlink0 type veth peer name tlink1 netns " + far);
    Run(std::string("ip addr add ") + NearAddress + "/24 dev tlink0 && ip link set tlink0 up");
    Run(std::string("ip addr add ") + FarAddress + "/24 dev tlink1 && ip link set tlink1 up", true);
}

PrivateLink::~PrivateLink()
{
    try
    {
        Restore();
        Run("ip link del tlink0");
    }
    catch (...)
    {
    }
}

void PrivateLink::OnFarSide(const std::function<void()>& work)
{
    TInNamespace far(FarNet);
    work();
}

void PrivateLink::Run(const std::string& command, bool far)
{
    const auto run = [&command] {
        if (std::system(command.c_str()) != 0)
            throw std::runtime_error("failed: " + command);
    };
    if (far)
        OnFarSide(run);
    else
        run();
}

void PrivateLink::Drop()
{
    if (FDropped)
        return;
    Run("nft -f " + FFolder.Write("near.nft", DropRules(FarAddress)));
    Run("nft -f " + FFolder.Write("far.nft", DropRules(NearAddress)), true);
    FDropped = true;
}

void PrivateLink::Restore()
{
    if (!FDropped)
        return;
    Run("nft delete table inet ternbell_link");
    Run("nft delete table inet ternbell_link", true);
    FDropped = false;
}

#include "support/PrivateWorld.h"


#include <QStandardPaths>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace
{

// Namespaces can only be entered while the process has one thread: before
// main, before Qt or any server starts one.
std::string EnterPrivateNamespaces()
{
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
        return std::string("cannot make a network and mount namespace: ") + strerror(errno);
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make the mounts private: ") + strerror(errno);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0
                    && (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    return up ? std::string() : std::string("cannot bring loopback up: ") + strerror(errno);
}

const std::string NamespaceProblem = EnterPrivateNamespaces();

std::string Program(const char* name, std::initializer_list<const char*> folders)
{
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (!found.isEmpty())
        return found.toStdString();
    for (const char* folder : folders)
    {
        const std::string path = std::string(folder) + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

std::string Dnsmasq()
{
    return Program("dnsmasq", {"/usr/sbin", "/sbin"});
}

void StartAndWait(QProcess& process, const std::string& program, const QStringList& args, const char* ready)
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(program), args);
    EndWithTest(process);
    if (!process.waitForStarted(5000))
        throw std::runtime_error(program + " did not start");
    std::string seen;
    // Bounded by the wait: a server that never says it is ready fails the set-up.
    for (int i = 0; i < 100 && seen.find(ready) == std::string::npos; ++i)
    {
        if (process.state() == QProcess::NotRunning)
            break;
        process.waitForReadyRead(100);
        seen += process.readAll().toStdString();
    }
    if (seen.find(ready) == std::string::npos)
        throw std::runtime_error(program + " did not come up: " + seen);
}

} // namespace

std::string PrivateWorld::Unavailable()
{
    if (!NamespaceProblem.empty())
        return NamespaceProblem;
    if (Dnsmasq().empty())
        return "dnsmasq is not installed (Debian: dnsmasq-base)";
    if (Program("python3", {"/usr/bin"}).empty())
        return "python3 is not installed";
    return Dovecot::Unavailable();
}

PrivateWorld::PrivateWorld() : FMail(std::make_unique<Dovecot>()) {}

PrivateWorld::~PrivateWorld()
{
    StopProcess(FHttps);
    StopProcess(FDns);
    FMail.reset();
    for (auto it = FMounts.rbegin(); it != FMounts.rend(); ++it)
        umount2(it->c_str(), MNT_DETACH);
}

void PrivateWorld::Host(const std::string& name, const std::string& address)
{
    FDnsLines.push_back("host-record=" + name + "," + address);
}

void PrivateWorld::Srv(const std::string& name, const std::string& target, int port, int priority, int weight)
{
    FDnsLines.push_back(target == "." ? "srv-host=" + name
                                      : "srv-host=" + name + "," + target + "," + std::to_string(port) + ","
                                            + std::to_string(priority) + "," + std::to_string(weight));
}

void PrivateWorld::Mx(const std::string& domain, const std::string& host, int preference)
{
    FDnsLines.push_back("mx-host=" + domain + "," + host + "," + std::to_string(preference));
}

void PrivateWorld::Trust(const std::vector<std::string>& names)
{
    FNames.insert(FNames.end(), names.begin(), names.end());
}

void PrivateWorld::Serve(const std::string& hostPath, const std::string& answerJson)
{
    FRoutes[hostPath] = answerJson;
}

std::string PrivateWorld::Json(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '"' || c == '\\')
            out += '\\', out += static_cast<char>(c);
        else if (c < 0x20)
        {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

void PrivateWorld::BindOver(const std::string& source, const std::string& target)
{
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        throw std::runtime_error("cannot bind " + source + " over " + target + ": " + strerror(errno));
    FMounts.push_back(target);
}

void PrivateWorld::Start()
{
    if (!NamespaceProblem.empty())
        throw std::runtime_error(NamespaceProblem);
    FCa = std::make_unique<TestCa>(FFolder.Path(), "Find Test CA");
    const TestCa::Issued issued = FCa->Issue("servers", FNames);

    // The trust store as OpenSSL and Qt read it: the bundle and a hashed name.
    const std::string certs = FFolder.Path() + "/certs";
    WriteFile(certs + "/ca-certificates.crt", ReadFile(FCa->CaFile()));
    QProcess rehash;
    rehash.start(QStringLiteral("openssl"), {QStringLiteral("rehash"), QString::fromStdString(certs)});
    if (!rehash.waitForFinished(10000) || rehash.exitCode() != 0)
        throw std::runtime_error("openssl rehash failed");
    BindOver(certs, "/etc/ssl/certs");
    BindOver(FFolder.Write("resolv.conf", "nameserver 127.0.0.1\noptions attempts:1 timeout:2\n"), "/etc/resolv.conf");

    std::ostringstream dns;
    dns << "port=53\nlisten-address=127.0.0.1\nbind-interfaces\nno-resolv\nno-hosts\nlocal=/test/\n"
           "user=root\npid-file=\nlog-facility=-\n";
    for (const std::string& line : FDnsLines)
        dns << line << "\n";
    const std::string dnsConf = FFolder.Write("dnsmasq.conf", dns.str());
    StartAndWait(FDns, Dnsmasq(), {QStringLiteral("--keep-in-foreground"), QStringLiteral("--conf-file=") + QString::fromStdString(dnsConf)},
                 "started");

    std::string routes = "{";
    for (const auto& [hostPath, answer] : FRoutes)
        routes += (routes.size() > 1 ? "," : "") + Json(hostPath) + ":" + answer;
    routes += "}";
    StartAndWait(FHttps, Program("python3", {"/usr/bin"}),
                 {QStringLiteral(TERNBELL_SOURCE_DIR "/tests/support/https_world.py"),
                  QString::fromStdString(FFolder.Write("routes.json", routes)), QString::fromStdString(issued.CertFile),
                  QString::fromStdString(issued.KeyFile), QString::fromLatin1(HttpsAddress),
                  QString::fromLatin1(StartTlsAddress)},
                 "ready");

    FMail->EnableTls(issued.CertFile, issued.KeyFile);
    FMail->ServeOn(MailAddress);
    FMail->Start();
}

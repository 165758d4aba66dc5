// Find in a private network (tests/support/PrivateWorld.h): the time from
// Start to the filled-in server, for a domain answered by its configuration
// file and for one answered only by probing, beside the bare round trips the
// answer needs on its own (name lookup, TCP and TLS handshake, the request or
// the greeting), timed one by one and summed. Every other place Find asks runs
// beside those, so the ratio shows what running side by side leaves over; for
// probing, also beside the sum with the lookups that come back empty before a
// probe may win (the places looked in earlier, asked one by one).
// Rounds alternate the two; medians are printed.
//
//     scripts/offline.sh build/bench/bench_find [rounds] [label=module.so ...]
//
// Further builds of the network module, given as label=path, are timed
// beside this build's in the same rounds, in turns, so that the load of a
// shared machine falls on all alike (bench/find_steps.sh builds them from
// earlier revisions).
//
// Qt keeps the host names it looked up for a minute, so each round asks for
// domains of its own, as a first Find does.

#include "find/FindNetworkModule.h"
#include "find/Finder.h"
#include "support/PrivateWorld.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QLibrary>
#include <QSslSocket>

#include <arpa/nameser.h>
#include <netdb.h>
#include <resolv.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

namespace
{

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct TVariant
{
    std::string Label;
    std::function<std::unique_ptr<IFindNetwork>()> Create;
    std::vector<double> FileFind, ProbeFind;
};

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The servers finish what a Find left them (a handshake it gave up) before
// the next one is timed, so that no variant pays for the one before it.
void Settle()
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 30)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

double FindMs(const TVariant& variant, const std::string& address, const std::string& expectedHost)
{
    std::unique_ptr<IFindNetwork> network = variant.Create();
    TFinder finder(*network, {10000});
    std::optional<TFindOutcome> outcome;
    QElapsedTimer timer;
    timer.start();
    finder.Start(address, [&](const TFindOutcome& o) { outcome = o; });
    while (!outcome && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (!outcome || outcome->Server.Host != expectedHost)
        throw std::runtime_error("Find for " + address + " did not find " + expectedHost);
    network.reset();
    Settle();
    return ms;
}

// One bare lookup, handshake and exchange, each timed on its own.
double BareMs(const std::string& host, int port, const QByteArray& request, const QByteArray& answerEnd)
{
    QElapsedTimer timer;
    timer.start();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0)
        throw std::runtime_error("cannot resolve " + host);
    char text[64] = {};
    getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(found);
    const double lookup = timer.nsecsElapsed() / 1e6;

    QSslSocket socket;
    timer.restart();
    socket.connectToHostEncrypted(QString::fromLatin1(text), static_cast<quint16>(port),
                                  QString::fromStdString(host));
    if (!socket.waitForEncrypted(5000))
        throw std::runtime_error("no TLS with " + host + ": " + socket.errorString().toStdString());
    const double handshake = timer.nsecsElapsed() / 1e6;

    timer.restart();
    socket.write(request);
    QByteArray answer;
    while (!answer.contains(answerEnd) && socket.waitForReadyRead(5000))
        answer += socket.readAll();
    if (!answer.contains(answerEnd))
        throw std::runtime_error("no answer from " + host);
    const double exchange = timer.nsecsElapsed() / 1e6;
    socket.abort();
    Settle();
    return lookup + handshake + exchange;
}

// The lookups a domain without a configuration file or SRV and MX records
// answers empty before the probes can win, each asked and timed on its own:
// the configuration files' hosts, the four SRV services and JMAP's, MX, and
// the probed names that do not exist.
double BareEmptyLookupsMs(const std::string& domain)
{
    QElapsedTimer timer;
    timer.start();
    for (const std::string& name : {"autoconfig." + domain, domain, "imap." + domain, "pop3." + domain, "pop." + domain})
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0)
            freeaddrinfo(found);
    }
    unsigned char answer[4096];
    for (const char* service : {"_jmap._tcp.", "_imaps._tcp.", "_pop3s._tcp.", "_imap._tcp.", "_pop3._tcp."})
        res_query((service + domain).c_str(), ns_c_in, ns_t_srv, answer, sizeof answer);
    res_query(domain.c_str(), ns_c_in, ns_t_mx, answer, sizeof answer);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 21;
    if (const std::string why = PrivateWorld::Unavailable(); !why.empty())
    {
        std::fprintf(stderr, "bench_find: %s\n", why.c_str());
        return 1;
    }
    std::vector<TVariant> variants{{"this build", [] { return CreateFindNetwork(); }, {}, {}}};
    for (int i = 2; i < argc; ++i)
    {
        const std::string arg = argv[i];
        const std::size_t equals = arg.find('=');
        auto* library = new QLibrary(QString::fromStdString(arg.substr(equals + 1))); // kept to the end
        auto create = reinterpret_cast<TCreateFindNetwork>(library->resolve(CreateFindNetworkName));
        if (equals == std::string::npos || !create)
        {
            std::fprintf(stderr, "bench_find: %s: %s\n", arg.c_str(), library->errorString().toUtf8().constData());
            return 1;
        }
        variants.push_back({arg.substr(0, equals), [create] { return std::unique_ptr<IFindNetwork>(create()); }, {}, {}});
    }
    const std::size_t count = variants.size();
    PrivateWorld world;
    const auto config = [](const std::string& host) {
        return "<clientConfig><emailProvider><incomingServer type=\"imap\"><hostname>" + host
               + "</hostname><port>993</port><socketType>SSL</socketType><username>%EMAILADDRESS%"
                 "</username></incomingServer></emailProvider></clientConfig>";
    };
    std::vector<std::string> names;
    for (int round = 0; round <= rounds; ++round)
    {
        const std::string n = std::to_string(round);
        // The bare clients' own names, so that they too ask afresh.
        world.Host("autoconfig.bare" + n + ".test", PrivateWorld::HttpsAddress);
        world.Serve("autoconfig.bare" + n + ".test/mail/config-v1.1.xml",
                    "{\"body\": " + PrivateWorld::Json(config("imap.file" + n + ".test")) + "}");
        world.Host("mail.bare" + n + ".test", PrivateWorld::MailAddress);
        for (const char* name : {"autoconfig.bare", "mail.bare"})
            names.push_back(name + n + ".test");
        for (std::size_t v = 0; v < count; ++v)
        {
            const std::string m = std::to_string(round * count + v);
            world.Host("autoconfig.file" + m + ".test", PrivateWorld::HttpsAddress);
            world.Serve("autoconfig.file" + m + ".test/mail/config-v1.1.xml",
                        "{\"body\": " + PrivateWorld::Json(config("imap.file" + m + ".test")) + "}");
            world.Host("mail.probe" + m + ".test", PrivateWorld::MailAddress);
            for (const char* name : {"autoconfig.file", "mail.probe"})
                names.push_back(name + m + ".test");
        }
    }
    world.Trust(names);
    world.Start();
    SetFindNetworkFolder(TERNBELL_RUNTIME_DIR);

    const std::string loadBefore = LoadAverage();
    std::vector<double> fileBare, probeBare, probeAllBare;
    double firstFind = 0;
    for (int round = 0; round <= rounds; ++round)
    {
        const std::string n = std::to_string(round);
        const QByteArray get = QByteArray("GET /mail/config-v1.1.xml?emailaddress=ann%40file") + n.c_str()
                               + ".test HTTP/1.1\r\nHost: autoconfig.bare" + n.c_str()
                               + ".test\r\nConnection: close\r\n\r\n";
        // Each round starts with another variant.
        for (std::size_t k = 0; k < count; ++k)
        {
            const std::size_t v = (static_cast<std::size_t>(round) + k) % count;
            const std::string m = std::to_string(round * count + v);
            const double a = FindMs(variants[v], "ann@file" + m + ".test", "imap.file" + m + ".test");
            const double c = FindMs(variants[v], "ann@probe" + m + ".test", "mail.probe" + m + ".test");
            if (round == 0 && k == 0)
                firstFind = a;
            if (round == 0)
                continue; // the modules' first load and the servers' first answers
            variants[v].FileFind.push_back(a);
            variants[v].ProbeFind.push_back(c);
        }
        const double b = BareMs("autoconfig.bare" + n + ".test", 443, get, "</clientConfig>");
        const double d = BareMs("mail.bare" + n + ".test", 993, {}, "\r\n");
        const double e = BareEmptyLookupsMs("bare" + n + ".test");
        if (round == 0)
            continue;
        fileBare.push_back(b);
        probeBare.push_back(d);
        probeAllBare.push_back(d + e);
    }
    std::printf("load average before %s, after %s; %d rounds\n", loadBefore.c_str(), LoadAverage().c_str(), rounds);
    std::printf("%-36s %-12s %10s %12s %7s\n", "case (median of rounds)", "module", "Find ms", "bare sum ms", "ratio");
    for (const TVariant& v : variants)
        std::printf("%-36s %-12s %10.2f %12.2f %7.2f\n", "answered by the configuration file", v.Label.c_str(),
                    Median(v.FileFind), Median(fileBare), Median(v.FileFind) / Median(fileBare));
    for (const TVariant& v : variants)
        std::printf("%-36s %-12s %10.2f %12.2f %7.2f\n", "answered only by probing", v.Label.c_str(),
                    Median(v.ProbeFind), Median(probeBare), Median(v.ProbeFind) / Median(probeBare));
    // The sum of every round trip the probing case needs, the empty answers
    // of the earlier places included.
    for (const TVariant& v : variants)
        std::printf("%-36s %-12s %10.2f %12.2f %7.2f\n", "probing, beside all it asks", v.Label.c_str(),
                    Median(v.ProbeFind), Median(probeAllBare), Median(v.ProbeFind) / Median(probeAllBare));
    std::printf("the first Find of the process (%s; loading the module, setting up TLS): %.2f ms\n",
                variants.front().Label.c_str(), firstFind);
    return 0;
}

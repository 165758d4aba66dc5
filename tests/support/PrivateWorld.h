#pragma once

#include "support/Dovecot.h"
#include "support/TestHelpers.h"
#include "support/TestTls.h"

#include <QProcess>

#include <map>
#include <memory>
#include <string>
#include <vector>

// A network of its own for the tests that look servers up by name: the
// process enters a new network and mount namespace before main (only
// loopback, up), and Start bind-mounts over /etc/resolv.conf (naming a
// dnsmasq on 127.0.0.1 that holds the test domains' A, SRV and MX records)
// and over /etc/ssl/certs (the test CA alone, as the system's trust store).
// An https server answers on port 443 of HttpsAddress, Dovecot with TLS on
// 110, 143, 993 and 995 of MailAddress, a greeter with STARTTLS alone on 143
// and 110 of StartTlsAddress; their certificate names every host given to
// Trust. Nothing of it is seen outside the process.
//
//     PrivateWorld world;
//     world.Host("autoconfig.example.test", PrivateWorld::HttpsAddress);
//     world.Trust({"autoconfig.example.test"});
//     world.Serve("autoconfig.example.test/mail/config-v1.1.xml", R"({"body": "..."})");
//     world.Start();
class PrivateWorld
{
public:
    static constexpr const char* HttpsAddress = "127.0.0.2";
    static constexpr const char* MailAddress = "127.0.0.3";
    // A mail server that offers TLS only through STARTTLS (143, 110).
    static constexpr const char* StartTlsAddress = "127.0.0.4";

    // Empty when a world can be made here, else why not.
    static std::string Unavailable();

    PrivateWorld();
    ~PrivateWorld();
    PrivateWorld(const PrivateWorld&) = delete;
    PrivateWorld& operator=(const PrivateWorld&) = delete;

    // The records, set before Start. A name not given has no record
    // (NXDOMAIN: every name under .test is the server's own).
    void Host(const std::string& name, const std::string& address);
    // A target of "." says the service is not offered.
    void Srv(const std::string& name, const std::string& target, int port, int priority = 0, int weight = 0);
    void Mx(const std::string& domain, const std::string& host, int preference = 10);
    // Host names the servers' certificate is good for.
    void Trust(const std::vector<std::string>& names);
    // "host/path" -> an answer of https_world.py, as JSON.
    void Serve(const std::string& hostPath, const std::string& answerJson);
    // A JSON string holding `text`.
    static std::string Json(const std::string& text);

    void Start();
    Dovecot& Mail() { return *FMail; }
    const TestCa& Ca() const { return *FCa; }

private:
    void BindOver(const std::string& source, const std::string& target);

    TempFolder FFolder{"world"};
    std::unique_ptr<TestCa> FCa;
    std::unique_ptr<Dovecot> FMail;
    std::vector<std::string> FDnsLines;
    std::vector<std::string> FNames;
    std::map<std::string, std::string> FRoutes;
    std::vector<std::string> FMounts;
    QProcess FDns;
    QProcess FHttps;
};

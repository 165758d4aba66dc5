// Find against real servers in a private network: dnsmasq with the test
// domains' records, an https server and Dovecot with TLS, and a test CA as
// the system's only trust. Started once for the whole program.

#include "find/Autoconfig.h"
#include "find/FindNetworkModule.h"
#include "find/Finder.h"
#include "support/PrivateWorld.h"

#include <QDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

const char* const ConfigPath = "/mail/config-v1.1.xml";
const char* const WellKnownPath = "/.well-known/autoconfig/mail/config-v1.1.xml";

std::string ConfigFile(const std::string& type, const std::string& host, int port, const std::string& socket)
{
    return "<?xml version=\"1.0\"?><clientConfig version=\"1.1\"><emailProvider id=\"x\"><incomingServer type=\""
           + type + "\"><hostname>" + host + "</hostname><port>" + std::to_string(port) + "</port><socketType>"
           + socket + "</socketType><username>%EMAILADDRESS%</username>"
             "<authentication>password-cleartext</authentication></incomingServer></emailProvider></clientConfig>";
}

std::string Body(const std::string& text)
{
    return "{\"body\": " + PrivateWorld::Json(text) + "}";
}

// The provider files the program's table is made from, with the domains
// each lists; the tests read their servers with the program's file reader.
const char* const ProviderFolders[] = {TERNBELL_SOURCE_DIR "/data/ispdb", TERNBELL_SOURCE_DIR "/data/providers"};

struct TListedFile
{
    std::string Name;
    std::string Text;
    std::vector<std::string> Domains;
};

const std::vector<TListedFile>& Listed()
{
    static const std::vector<TListedFile> files = [] {
        std::vector<TListedFile> found;
        for (const char* folder : ProviderFolders)
        {
            for (const QString& name : QDir(QString::fromLatin1(folder)).entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name))
            {
                TListedFile file{name.toStdString(), ReadFile(std::string(folder) + "/" + name.toStdString()), {}};
                QXmlStreamReader reader(QByteArray::fromStdString(file.Text));
                while (!reader.atEnd())
                {
                    if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("domain"))
                        file.Domains.push_back(reader.readElementText().trimmed().toLower().toStdString());
                }
                EXPECT_FALSE(reader.hasError()) << file.Name;
                found.push_back(std::move(file));
            }
        }
        return found;
    }();
    return files;
}

// A domain of its own whose mail exchanger is under a listed domain.
std::string HostedDomain(const std::string& listed)
{
    return listed + ".hosted.test";
}

class FindWorld : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!PrivateWorld::Unavailable().empty())
            return;
        World = new PrivateWorld();
        PrivateWorld& w = *World;
        const std::string https = PrivateWorld::HttpsAddress, mail = PrivateWorld::MailAddress;
        std::vector<std::string> trusted;
        const auto file = [&](const std::string& host, const std::string& path, const std::string& answer) {
            w.Host(host, https);
            trusted.push_back(host);
            w.Serve(host + path, answer);
        };
        const auto mailHost = [&](const std::string& host) {
            w.Host(host, mail);
            trusted.push_back(host);
        };
        // Answered by its file; its SRV record and a probe would answer too.
        file("autoconfig.step2.test", ConfigPath, Body(ConfigFile("imap", "imap.step2.test", 993, "SSL")));
        w.Srv("_imaps._tcp.step2.test", "srv.step2.test", 993);
        mailHost("imap.step2.test");
        // Answered by the file in the domain's own well-known place.
        file("wellknown.test", WellKnownPath, Body(ConfigFile("pop3", "mail.wellknown.test", 995, "SSL")));
        // Answered by SRV: IMAP over TLS not offered, POP3 over TLS before IMAP with STARTTLS.
        w.Srv("_imaps._tcp.step3.test", ".", 0);
        w.Srv("_pop3s._tcp.step3.test", "pop.step3.test", 995);
        w.Srv("_imap._tcp.step3.test", "imap.step3.test", 143);
        mailHost("imap.step3.test");
        // Answered by its mail exchanger's domain's file.
        w.Mx("step4.test", "mx.hoster.test");
        file("autoconfig.hoster.test", ConfigPath, Body(ConfigFile("imap", "imap.hoster.test", 993, "SSL")));
        mailHost("imap.step4.test");
        // Answered only by probing: mail. on 993 before pop. on 995.
        mailHost("mail.step5.test");
        mailHost("pop.step5.test");
        // Answered only by probing, and only with STARTTLS.
        w.Host("imap.starttls.test", PrivateWorld::StartTlsAddress);
        trusted.push_back("imap.starttls.test");
        // A server whose certificate does not name it.
        w.Host("imap.badcert.test", mail);
        // Hostile answers, each domain also reachable by probing.
        const std::string dtd = "<?xml version=\"1.0\"?><!DOCTYPE clientConfig [<!ENTITY a \"imap.evil.test\">]>"
                                + ConfigFile("imap", "&a;", 993, "SSL").substr(21);
        const std::vector<std::pair<std::string, std::string>> hostile = {
            {"dtd", Body(dtd)},
            {"huge", Body(ConfigFile("imap", "imap.evil.test", 993, "SSL") + std::string(2 << 20, ' '))},
            {"endless", R"({"endless": true})"},
            {"httpredirect", R"({"redirect": "http://autoconfig.httpredirect.test/mail/config-v1.1.xml"})"},
            {"othersite", R"({"redirect": "https://autoconfig.step2.test/mail/config-v1.1.xml"})"},
            {"stall", R"({"stall": true})"},
            {"manysrv", Body("<clientConfig/>")},
            {"badport", Body("<clientConfig/>")}};
        for (const auto& [name, answer] : hostile)
        {
            file("autoconfig." + name + ".test", ConfigPath, answer);
            mailHost("imap." + name + ".test");
        }
        // Redirects within the site: one followed, one that never ends.
        file("autoconfig.moved.test", ConfigPath, R"({"redirect": "/mail/moved.xml"})");
        w.Serve("autoconfig.moved.test/mail/moved.xml", Body(ConfigFile("imap", "imap.moved.test", 993, "SSL")));
        file("autoconfig.loop.test", ConfigPath, R"({"redirect": "https://autoconfig.loop.test/mail/config-v1.1.xml"})");
        mailHost("imap.loop.test");
        // Both files on one server, the first never answering.
        file("autoconfig.queued.test", ConfigPath, R"({"stall": true})");
        file("queued.test", WellKnownPath, Body(ConfigFile("imap", "imap.queued.test", 993, "SSL")));
        // A name whose other address refuses every connection.
        w.Host("imap.twoaddr.test", "127.0.0.9");
        mailHost("imap.twoaddr.test");
        for (int i = 0; i < 1000; ++i)
            w.Srv("_imaps._tcp.manysrv.test", "h" + std::to_string(i) + ".manysrv.test", 993);
        w.Srv("_imaps._tcp.badport.test", "imap.badport.test", 0);
        // The real exchangers of three consumer domains, and two domains
        // hosted on them.
        w.Mx("outlook.de", "outlook-de.olc.protection.outlook.com");
        w.Mx("verizon.net", "mx-aol.mail.gm0.yahoodns.net");
        w.Mx("netscape.net", "mx-aol.mail.gm0.yahoodns.net");
        w.Mx("olc.test", "outlook-de.olc.protection.outlook.com");
        w.Mx("aolhosted.test", "mx-aol.mail.gm0.yahoodns.net");
        // JMAP through the domain's record; its file names IMAP4 too.
        const std::string session = Body(R"({"capabilities": {"urn:ietf:params:jmap:core": {},)"
                                         R"( "urn:ietf:params:jmap:mail": {}}, "apiUrl": "/jmap/api/"})");
        w.Srv("_jmap._tcp.jmap.test", "api.jmap.test", 443);
        file("api.jmap.test", "/.well-known/jmap", session);
        file("autoconfig.jmap.test", ConfigPath, Body(ConfigFile("imap", "imap.jmap.test", 993, "SSL")));
        // JMAP at the domain's own well-known place.
        file("jmapwk.test", "/.well-known/jmap", R"({"redirect": "/jmap/session"})");
        w.Serve("jmapwk.test/jmap/session", R"({"status": 401})");
        // A domain's own file shaped like the consumer Microsoft one:
        // OAuth2 alone, no issuer named.
        file("autoconfig.ownms.test", ConfigPath, Body(ReadFile(std::string(ProviderFolders[0]) + "/hotmail.com.xml")));
        // Every domain a provider file lists, also as the exchanger's domain
        // of a domain of its own.
        for (const TListedFile& listed : Listed())
        {
            for (const std::string& domain : listed.Domains)
                w.Mx(HostedDomain(domain), "exchanger." + domain);
        }
        w.Trust(trusted);
        w.Mail().AddUser("ann@step5.test", "secret");
        try
        {
            w.Start();
        }
        catch (const std::exception& e)
        {
            Problem = e.what();
            TearDownTestSuite();
        }
        SetFindNetworkFolder(TERNBELL_RUNTIME_DIR);
    }

    static void TearDownTestSuite()
    {
        delete World;
        World = nullptr;
    }

    void SetUp() override
    {
        ASSERT_EQ(Problem, "");
        if (!World)
            GTEST_SKIP() << PrivateWorld::Unavailable();
    }

    // Runs one Find to its end; "host:port kind source" or "nothing".
    TFindOutcome Find(const std::string& address, int callMs = 5000)
    {
        std::unique_ptr<IFindNetwork> network = CreateFindNetwork();
        TFinder finder(*network, {callMs});
        std::optional<TFindOutcome> outcome;
        finder.Start(address, [&](const TFindOutcome& o) { outcome = o; });
        EXPECT_TRUE(WaitUntil([&] { return outcome.has_value(); }, 20000)) << address;
        return outcome.value_or(TFindOutcome{});
    }

    static std::string Brief(const TFindOutcome& outcome)
    {
        const TFoundServer& s = outcome.Server;
        if (!s.Found())
            return "nothing";
        static const char* const Kinds[] = {"none", "table", "file", "dns", "probe"};
        return std::string(s.JMAP ? "jmap " : s.IMAP4 ? "imap " : "pop3 ") + s.Host + ":" + std::to_string(s.Port)
               + (s.Security == asStartTLS ? " starttls " : " tls ") + Kinds[s.Source] + " " + s.SourceName
               + (s.NeedsOAuth2 ? " oauth2 " + s.OAuth2Issuer : "");
    }

    static bool NoteHas(const TFindOutcome& outcome, const std::string& text)
    {
        for (const std::string& note : outcome.Notes)
            if (note.find(text) != std::string::npos)
                return true;
        return false;
    }

    static PrivateWorld* World;
    static std::string Problem;
};

PrivateWorld* FindWorld::World = nullptr;
std::string FindWorld::Problem;

TEST_F(FindWorld, EachPlaceAnswersWhenItIsTheFirstWithAnAnswer)
{
    struct TCase
    {
        const char* Address;
        const char* Expected;
    };
    for (const TCase& c : {
             TCase{"ann@gmail.com", "imap imap.gmail.com:993 tls table gmail.com oauth2 https://accounts.google.com"},
             TCase{"ann@step2.test", "imap imap.step2.test:993 tls file step2.test"},
             TCase{"ann@wellknown.test", "pop3 mail.wellknown.test:995 tls file wellknown.test"},
             TCase{"ann@step3.test", "pop3 pop.step3.test:995 tls dns step3.test"},
             TCase{"ann@step4.test", "imap imap.hoster.test:993 tls file hoster.test"},
             TCase{"ann@step5.test", "imap mail.step5.test:993 tls probe mail.step5.test"},
             TCase{"ann@starttls.test", "imap imap.starttls.test:143 starttls probe imap.starttls.test"},
             // Before the file jmap.test also has.
             TCase{"ann@jmap.test", "jmap api.jmap.test:443 tls dns jmap.test"},
             // Its well-known place moves within the site to a session that
             // wants the login first.
             TCase{"ann@jmapwk.test", "jmap jmapwk.test:443 tls file jmapwk.test"},
         })
        EXPECT_EQ(Brief(Find(c.Address)), c.Expected) << c.Address;
}

TEST_F(FindWorld, CertificateThatDoesNotVerifyIsNeverFound)
{
    const TFindOutcome outcome = Find("ann@badcert.test");
    EXPECT_EQ(Brief(outcome), "nothing");
    EXPECT_TRUE(NoteHas(outcome, "imap.badcert.test:993: certificate refused")) << testing::PrintToString(outcome.Notes);
}

TEST_F(FindWorld, HostileAnswersArePassedOverWithANote)
{
    struct TCase
    {
        const char* Name;
        const char* Note;
    };
    for (const TCase& c : {TCase{"dtd", "the file declares a document type"}, TCase{"huge", "longer than"}, TCase{"endless", "longer than"},
                           TCase{"httpredirect", "Insecure redirect"}, TCase{"othersite", "Insecure redirect"},
                           TCase{"stall", "no answer within"}, TCase{"manysrv", "1000 records"},
                           TCase{"badport", "port 0"}})
    {
        const std::string domain = std::string(c.Name) + ".test";
        const std::string url = "https://autoconfig." + domain + ConfigPath + "?emailaddress=ann%40" + domain + ": ";
        const TFindOutcome outcome = Find("ann@" + domain, 1500);
        EXPECT_EQ(Brief(outcome), "imap imap." + domain + ":993 tls probe imap." + domain) << c.Name;
        const bool dns = c.Name == std::string("manysrv") || c.Name == std::string("badport");
        EXPECT_TRUE(NoteHas(outcome, (dns ? "" : url) + c.Note)) << c.Name << ": " << testing::PrintToString(outcome.Notes);
    }
}

TEST_F(FindWorld, RedirectsWithinTheSiteAreFollowedAtMostThreeTimes)
{
    EXPECT_EQ(Brief(Find("ann@moved.test")), "imap imap.moved.test:993 tls file moved.test");
    const TFindOutcome loop = Find("ann@loop.test");
    EXPECT_EQ(Brief(loop), "imap imap.loop.test:993 tls probe imap.loop.test");
    EXPECT_TRUE(NoteHas(loop, "Too many redirects")) << testing::PrintToString(loop.Notes);
}

TEST_F(FindWorld, AServerThatStallsHoldsUpTheNextCallToItOnlyBriefly)
{
    const TFindOutcome outcome = Find("ann@queued.test", 1000);
    EXPECT_EQ(Brief(outcome), "imap imap.queued.test:993 tls file queued.test") << testing::PrintToString(outcome.Notes);
}

TEST_F(FindWorld, ANameIsTriedAtItsNextAddressWhenOneRefuses)
{
    EXPECT_EQ(Brief(Find("ann@twoaddr.test")), "imap imap.twoaddr.test:993 tls probe imap.twoaddr.test");
}

TEST_F(FindWorld, ProvidersAreFoundByTheDomainsTheirFilesList)
{
    const std::string microsoft = "imap outlook.office365.com:993 tls ", aol = "imap imap.aol.com:993 tls ";
    struct TCase
    {
        const char* Address;
        std::string Expected;
    };
    for (const TCase& c : {
             TCase{"anna@outlook.de", microsoft + "table outlook.de oauth2 https://login.microsoftonline.com/common/v2.0"},
             TCase{"anna@olc.test", microsoft + "table olc.test oauth2 https://login.microsoftonline.com/common/v2.0"},
             TCase{"anna@verizon.net", aol + "table verizon.net oauth2 https://api.login.aol.com"},
             TCase{"anna@netscape.net", aol + "table netscape.net oauth2 https://api.login.aol.com"},
             TCase{"anna@aolhosted.test", aol + "table aolhosted.test oauth2 https://api.login.aol.com"},
             TCase{"anna@ownms.test", microsoft + "file ownms.test oauth2 https://login.microsoftonline.com/common/v2.0"},
         })
        EXPECT_EQ(Brief(Find(c.Address)), c.Expected) << c.Address;
}

// Each domain of every provider file, by the address and as a domain's mail
// exchanger: found in the table with the server its file names, the first
// of IMAP4 over TLS, POP3 over TLS, IMAP4 and POP3 with STARTTLS; a file
// whose servers are all plain text is passed over.
TEST_F(FindWorld, EveryProviderFileIsFoundAsItSays)
{
    const auto rank = [](const TFoundServer& s) { return (s.Security == asStartTLS ? 2 : 0) + (s.IMAP4 ? 0 : 1); };
    const auto server = [](const TFoundServer& s) {
        return std::string(s.JMAP ? "jmap " : s.IMAP4 ? "imap " : "pop3 ") + s.Host + ":" + std::to_string(s.Port)
               + (s.Security == asStartTLS ? " starttls " : " tls ") + s.UserName;
    };
    std::size_t domains = 0;
    for (const TListedFile& file : Listed())
    {
        for (const std::string& domain : file.Domains)
        {
            ++domains;
            for (const std::string& address : {"anna@" + domain, "anna@" + HostedDomain(domain)})
            {
                const TAddressParts parts = SplitAddress(address);
                std::vector<TFoundServer> named = ParseAutoconfig(file.Text, parts, parts.Domain).Servers;
                std::stable_sort(named.begin(), named.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
                const TFoundServer found = Find(address).Server;
                if (named.empty())
                {
                    EXPECT_NE(found.Source, fsProviderTable) << file.Name << ": " << address;
                    continue;
                }
                EXPECT_EQ(found.Source, fsProviderTable) << file.Name << ": " << address;
                EXPECT_EQ(server(found), server(named.front())) << file.Name << ": " << address;
                // A provider that takes OAuth2 alone is signed in with; no
                // sign-in is chosen that cannot start.
                if (named.front().NeedsOAuth2)
                    EXPECT_TRUE(found.NeedsOAuth2) << file.Name << ": " << address;
                if (found.NeedsOAuth2)
                    EXPECT_NE(found.OAuth2Issuer, "") << file.Name << ": " << address;
            }
        }
    }
    EXPECT_GT(domains, 960u);
}

} // namespace

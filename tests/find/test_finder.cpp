#include "find/Finder.h"
#include "support/ScriptedFindNetwork.h"

#include <gtest/gtest.h>


namespace
{

const std::string HostUrl = "https://autoconfig.example.com/mail/config-v1.1.xml?emailaddress=ann%40example.com";
const std::string WellKnownUrl = "https://example.com/.well-known/autoconfig/mail/config-v1.1.xml";

std::string ConfigFor(const std::string& host)
{
    return "<clientConfig><emailProvider><incomingServer type=\"imap\"><hostname>" + host
           + "</hostname><port>993</port><socketType>SSL</socketType><username>%EMAILLOCALPART%</username>"
             "</incomingServer></emailProvider></clientConfig>";
}

class FinderTest : public testing::Test
{
protected:
    void Start(const std::string& address = "ann@example.com")
    {
        Finder.Start(address, [this](const TFindOutcome& outcome) {
            ++Calls;
            Outcome = outcome;
        });
    }
    std::string Result() const
    {
        if (Calls == 0)
            return "waiting";
        return Outcome.Server.Found() ? Outcome.Server.Host + ":" + std::to_string(Outcome.Server.Port) + " from "
                                            + Outcome.Server.SourceName
                                      : "nothing";
    }

    TScriptedNetwork Net;
    TFinder Finder{Net, {}, [](std::uint32_t) { return 0u; }};
    TFindOutcome Outcome;
    int Calls = 0;
};

TEST_F(FinderTest, ProviderTableAnswersWithoutTheNetwork)
{
    Start("ann@gmail.com");
    EXPECT_EQ(Result(), "imap.gmail.com:993 from gmail.com");
    EXPECT_TRUE(Outcome.Server.NeedsOAuth2);
    EXPECT_EQ(Net.Waiting(), 0u);
}

TEST_F(FinderTest, EveryPlaceAsksAtOnce)
{
    Start();
    EXPECT_EQ(Net.Fetches.size(), 3u); // two files and JMAP's well-known place
    EXPECT_EQ(Net.Dns.size(), 6u);  // four services, JMAP's and the exchanger
    EXPECT_EQ(Net.Probes.size(), 10u); // TLS from the first byte on 993 and 995
    EXPECT_EQ(Result(), "waiting");
}

TEST_F(FinderTest, EarlierPlaceWinsOverALaterOneThatAnsweredFirst)
{
    Start();
    Net.NoJmap();
    Net.Probed("imap.example.com:993", true);
    Net.Srv("_imaps._tcp.example.com", {{"srv.example.com", 993, 0, 0}});
    Net.Srv("_pop3s._tcp.example.com");
    Net.Srv("_imap._tcp.example.com");
    Net.Srv("_pop3._tcp.example.com");
    EXPECT_EQ(Result(), "waiting"); // the files may still answer
    Net.NoFile(WellKnownUrl);
    EXPECT_EQ(Result(), "waiting");
    Net.File(HostUrl, ConfigFor("file.example.com"));
    EXPECT_EQ(Result(), "file.example.com:993 from example.com");
    EXPECT_EQ(Outcome.Server.UserName, "ann");
    EXPECT_EQ(Net.Waiting(), 0u); // the rest was cancelled
    EXPECT_EQ(Calls, 1);
}

TEST_F(FinderTest, EachPlaceWinsWhenTheEarlierOnesComeBackEmpty)
{
    Start();
    Net.NoJmap();
    Net.File(WellKnownUrl, "<!DOCTYPE x [<!ENTITY e \"e\">]><clientConfig/>"); // hostile: passed over
    Net.NoFile(HostUrl);
    EXPECT_EQ(Result(), "waiting");
    Net.Mx("example.com", {"mx.hoster.net"});
    Net.NoFile("https://autoconfig.hoster.net/mail/config-v1.1.xml?emailaddress=ann%40example.com");
    Net.File("https://hoster.net/.well-known/autoconfig/mail/config-v1.1.xml", ConfigFor("imap.hoster.net"));
    EXPECT_EQ(Result(), "waiting"); // the SRV records come before the exchanger
    Net.NoSrv();
    EXPECT_EQ(Result(), "imap.hoster.net:993 from hoster.net");
    EXPECT_NE(testing::PrintToString(Outcome.Notes).find("document type"), std::string::npos);
}

TEST_F(FinderTest, SrvRecordsWinOverTheExchangerAndProbes)
{
    Start();
    Net.NoJmap();
    Net.NoFile(HostUrl);
    Net.NoFile(WellKnownUrl);
    Net.Srv("_imaps._tcp.example.com");
    Net.Srv("_pop3s._tcp.example.com", {{"pop.example.com", 995, 0, 0}});
    Net.Srv("_imap._tcp.example.com");
    Net.Srv("_pop3._tcp.example.com");
    EXPECT_EQ(Result(), "pop.example.com:995 from example.com");
    EXPECT_EQ(Outcome.Server.Source, fsDnsRecords);
}

TEST_F(FinderTest, ExchangerOfAKnownProviderWins)
{
    Start();
    Net.NoJmap();
    Net.NoFile(HostUrl);
    Net.NoFile(WellKnownUrl);
    Net.NoSrv();
    Net.Mx("example.com", {"example-com.mail.protection.outlook.com"});
    EXPECT_EQ(Result(), "outlook.office365.com:993 from example.com");
    EXPECT_EQ(Outcome.Server.Source, fsProviderTable);
}

TEST_F(FinderTest, FirstVerifiedProbeInOrderWins)
{
    Start();
    Net.NoJmap();
    Net.NoFile(HostUrl);
    Net.NoFile(WellKnownUrl);
    Net.NoSrv();
    Net.Mx("example.com", {"mx.example.com"}); // its own domain: nothing more to fetch
    Net.Probed("example.com:995", true);
    Net.Probed("pop.example.com:995", true);
    EXPECT_EQ(Result(), "waiting");
    Net.NoProbe();
    EXPECT_EQ(Result(), "pop.example.com:995 from pop.example.com");
    EXPECT_EQ(Outcome.Server.Security, asImplicitTLS);
    EXPECT_FALSE(Outcome.Server.IMAP4);
}

TEST_F(FinderTest, StartTlsIsProbedOnlyWhereNoTlsFromTheFirstByteAnswers)
{
    Start();
    Net.NoJmap();
    Net.NoFile(HostUrl);
    Net.NoFile(WellKnownUrl);
    Net.NoSrv();
    Net.Mx("example.com");
    Net.NoProbe("example.com:995");
    EXPECT_EQ(Net.Probes.size(), 1u) << "STARTTLS waits for the last TLS probe";
    Net.Probed("example.com:995", false);
    ASSERT_EQ(Net.Probes.size(), 10u);
    EXPECT_EQ(Net.Probes.count("probe mail.example.com:143"), 1u);
    Net.Probed("pop.example.com:110", true);
    Net.NoProbe();
    EXPECT_EQ(Result(), "pop.example.com:110 from pop.example.com");
    EXPECT_EQ(Outcome.Server.Security, asStartTLS);

    Start();
    Net.Probed("mail.example.com:993", true);
    Net.NoProbe();
    EXPECT_EQ(Net.Probes.size(), 0u) << "no STARTTLS probe once TLS answered";
}

TEST_F(FinderTest, NothingAnywhereEndsWithNothing)
{
    Start();
    Net.NoJmap();
    Net.NoFile(HostUrl);
    Net.NoFile(WellKnownUrl);
    Net.NoSrv();
    Net.Mx("example.com");
    Net.NoProbe();
    EXPECT_EQ(Result(), "nothing");
    EXPECT_FALSE(Outcome.TimedOut);
}

const std::string JmapWellKnown = "https://example.com/.well-known/jmap";
const std::string MailSession = R"({"capabilities": {"urn:ietf:params:jmap:core": {}, "urn:ietf:params:jmap:mail": {}}})";

TEST_F(FinderTest, JmapWhereOfferedWinsOverTheFilesThatAnsweredFirst)
{
    Start();
    Net.File(HostUrl, ConfigFor("file.example.com"));
    Net.Srv("_jmap._tcp.example.com", {{"jmap.example.com", 443, 0, 0}});
    EXPECT_EQ(Result(), "waiting");
    Net.NoFile(JmapWellKnown);
    Net.File("https://jmap.example.com/.well-known/jmap", MailSession);
    EXPECT_EQ(Result(), "jmap.example.com:443 from example.com");
    EXPECT_TRUE(Outcome.Server.JMAP);
    EXPECT_FALSE(Outcome.Server.IMAP4);
    EXPECT_EQ(Outcome.Server.Source, fsDnsRecords);
    EXPECT_EQ(Outcome.Server.UserName, "ann@example.com");
}

// The record's targets are asked one after another; what none offers
// leaves the domain's own well-known place, then the rest.
TEST_F(FinderTest, JmapRecordTargetsAreAskedInTurnThenTheWellKnownPlace)
{
    Start();
    Net.Srv("_jmap._tcp.example.com", {{"b.example.com", 8443, 20, 0}, {"a.example.com", 443, 10, 0}});
    Net.File("https://a.example.com/.well-known/jmap", "<html>a web site</html>");
    EXPECT_EQ(Net.Fetches.count("fetch https://b.example.com:8443/.well-known/jmap"), 1u);
    Net.NoFile("https://b.example.com:8443/.well-known/jmap", 401);
    // Not at the default port: the address that answered is the account's.
    EXPECT_EQ(Result(), "https://b.example.com:8443/.well-known/jmap:8443 from example.com");
    EXPECT_TRUE(Outcome.Server.JMAP);
    EXPECT_NE(testing::PrintToString(Outcome.Notes).find("https://a.example.com/.well-known/jmap: not a JMAP session"),
              std::string::npos)
        << testing::PrintToString(Outcome.Notes);

    Calls = 0;
    Start();
    Net.Srv("_jmap._tcp.example.com", {{"a.example.com", 443, 0, 0}});
    Net.NoFile("https://a.example.com/.well-known/jmap");
    EXPECT_EQ(Result(), "waiting");
    Net.NoFile(JmapWellKnown, 401);
    EXPECT_EQ(Result(), "example.com:443 from example.com");
    EXPECT_TRUE(Outcome.Server.JMAP);
    EXPECT_EQ(Outcome.Server.Source, fsAutoconfig);
}

TEST_F(FinderTest, ExpiryTakesTheBestAnswerSoFarOrEndsEmpty)
{
    Start();
    Net.Probed("example.com:995", true);
    Finder.Expire();
    EXPECT_EQ(Result(), "example.com:995 from example.com");
    EXPECT_EQ(Net.Waiting(), 0u);

    Start();
    Finder.Expire();
    EXPECT_EQ(Result(), "nothing");
    EXPECT_TRUE(Outcome.TimedOut);
}

TEST_F(FinderTest, CancelStopsEveryCallAndNeverAnswers)
{
    Start();
    Finder.Cancel();
    EXPECT_EQ(Net.Waiting(), 0u);
    EXPECT_FALSE(Finder.Running());
    Finder.Expire();
    EXPECT_EQ(Calls, 0);
}

TEST_F(FinderTest, NoAddressAsksNothing)
{
    Start("not an address");
    EXPECT_EQ(Result(), "nothing");
    EXPECT_EQ(Net.Waiting(), 0u);
}

} // namespace

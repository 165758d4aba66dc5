#include "find/Autoconfig.h"
#include "find/FindOrder.h"
#include "find/JmapOffer.h"
#include "find/Providers.h"
#include "find/SrvOrder.h"
#include "mail/HttpAnswer.h"

#include <gtest/gtest.h>

namespace
{

const TAddressParts Ann = SplitAddress("ann.lee@Example.com");

std::string Config(const std::string& servers, const std::string& extra = {})
{
    return "<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\"><emailProvider id=\"example.com\">"
           "<domain>example.com</domain><displayName>Example</displayName>"
           + servers
           + "<outgoingServer type=\"smtp\"><hostname>smtp.example.com</hostname><port>465</port>"
             "</outgoingServer></emailProvider>"
           + extra + "</clientConfig>";
}

std::string Server(const std::string& type, const std::string& host, const std::string& port,
                   const std::string& socket, const std::string& user = "%EMAILADDRESS%",
                   const std::string& auth = "password-cleartext")
{
    return "<incomingServer type=\"" + type + "\"><hostname>" + host + "</hostname><port>" + port
           + "</port><socketType>" + socket + "</socketType><username>" + user + "</username><authentication>"
           + auth + "</authentication></incomingServer>";
}

// What a found server comes to in one line, so a table row states it whole.
std::string Brief(const TFoundServer& s)
{
    if (!s.Found())
        return "none";
    std::string text = std::string(s.IMAP4 ? "imap " : "pop3 ") + s.Host + ":" + std::to_string(s.Port)
                       + (s.Security == asImplicitTLS ? " tls " : s.Security == asStartTLS ? " starttls " : " plain ")
                       + s.UserName;
    if (s.NeedsOAuth2)
        text += " oauth2 " + s.OAuth2Issuer;
    return text;
}

struct TConfigCase
{
    const char* Name;
    std::string Text;
    std::string Expected; // Brief of the first server, or "problem" for a refused file
};

void PrintTo(const TConfigCase& c, std::ostream* os)
{
    *os << c.Name;
}

class AutoconfigTable : public testing::TestWithParam<TConfigCase>
{
};

TEST_P(AutoconfigTable, ReadsTheFirstUsableServerOrRefusesTheFile)
{
    const TAutoconfigResult result = ParseAutoconfig(GetParam().Text, Ann, "example.com");
    if (GetParam().Expected == "problem")
    {
        EXPECT_FALSE(result.Problem.empty());
        EXPECT_TRUE(result.Servers.empty());
        return;
    }
    EXPECT_EQ(result.Problem, "");
    ASSERT_FALSE(result.Servers.empty());
    EXPECT_EQ(Brief(result.Servers.front()), GetParam().Expected);
    EXPECT_EQ(result.Servers.front().Source, fsAutoconfig);
    EXPECT_EQ(result.Servers.front().SourceName, "example.com");
}

const std::string Dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE clientConfig [<!ENTITY a \"aaaaaaaaaa\">"
                        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>\n";

INSTANTIATE_TEST_SUITE_P(
    Files, AutoconfigTable,
    testing::Values(
        TConfigCase{"Imap", Config(Server("imap", "imap.example.com", "993", "SSL")),
                    "imap imap.example.com:993 tls ann.lee@Example.com"},
        TConfigCase{"LocalPartUser", Config(Server("pop3", "pop.example.com", "110", "STARTTLS", "%EMAILLOCALPART%")),
                    "pop3 pop.example.com:110 starttls ann.lee"},
        TConfigCase{"DomainInHostAndUser",
                    Config(Server("imap", "mail.%EMAILDOMAIN%", "143", "STARTTLS", "%EMAILLOCALPART%+%EMAILDOMAIN%")),
                    "imap mail.example.com:143 starttls ann.lee+example.com"},
        TConfigCase{"PlainSkippedForTheNext",
                    Config(Server("imap", "imap.example.com", "143", "plain")
                           + Server("pop3", "pop.example.com", "995", "SSL")),
                    "pop3 pop.example.com:995 tls ann.lee@Example.com"},
        TConfigCase{"ExchangeAndBadPortSkipped",
                    Config(Server("exchange", "ews.example.com", "443", "SSL")
                           + Server("imap", "imap.example.com", "99999", "SSL")
                           + Server("imap", "imap2.example.com", "0", "SSL")
                           + Server("imap", "bad host", "993", "SSL")
                           + Server("imap", "imap3.example.com", "993", "SSL")),
                    "imap imap3.example.com:993 tls ann.lee@Example.com"},
        TConfigCase{"OAuth2Only",
                    Config(Server("imap", "imap.example.com", "993", "SSL", "%EMAILADDRESS%", "OAuth2"),
                           "<oAuth2><issuer>login.example.com</issuer><scope>mail</scope></oAuth2>"),
                    "imap imap.example.com:993 tls ann.lee@Example.com oauth2 https://login.example.com"},
        TConfigCase{"OAuth2IssuerAsAddress",
                    Config(Server("imap", "imap.example.com", "993", "SSL", "%EMAILADDRESS%", "OAuth2"),
                           "<oAuth2><issuer>https://login.example.com/ann/v2.0</issuer></oAuth2>"),
                    "imap imap.example.com:993 tls ann.lee@Example.com oauth2 https://login.example.com/ann/v2.0"},
        TConfigCase{"OAuth2IssuerOverPlainHttpDropped",
                    Config(Server("imap", "imap.example.com", "993", "SSL", "%EMAILADDRESS%", "OAuth2"),
                           "<oAuth2><issuer>http://login.example.com</issuer></oAuth2>"),
                    "imap imap.example.com:993 tls ann.lee@Example.com oauth2 "},
        // A file shaped like the consumer Microsoft one: OAuth2 alone, no
        // issuer named, or only the file's key for it.
        TConfigCase{"OAuth2OnlyOnAKnownHostWithoutIssuer",
                    Config(Server("imap", "outlook.office365.com", "993", "SSL", "%EMAILADDRESS%", "OAuth2")),
                    "imap outlook.office365.com:993 tls ann.lee@Example.com oauth2 "
                    "https://login.microsoftonline.com/common/v2.0"},
        TConfigCase{"OAuth2IssuerKeyOfAKnownHost",
                    Config(Server("imap", "outlook.office365.com", "993", "SSL", "%EMAILADDRESS%", "OAuth2"),
                           "<oAuth2><issuer>login.microsoftonline.com</issuer></oAuth2>"),
                    "imap outlook.office365.com:993 tls ann.lee@Example.com oauth2 "
                    "https://login.microsoftonline.com/common/v2.0"},
        TConfigCase{"OAuth2BesidePassword",
                    Config("<incomingServer type=\"imap\"><hostname>imap.example.com</hostname><port>993</port>"
                           "<socketType>SSL</socketType><username>%EMAILADDRESS%</username>"
                           "<authentication>OAuth2</authentication>"
                           "<authentication>password-cleartext</authentication></incomingServer>"),
                    "imap imap.example.com:993 tls ann.lee@Example.com"},
        TConfigCase{"InternalEntities", Dtd + Config(Server("imap", "imap.example.com", "993", "SSL", "&b;")), "problem"},
        TConfigCase{"DoctypeWithoutEntities",
                    "<?xml version=\"1.0\"?>\n<!DOCTYPE clientConfig SYSTEM \"http://example.com/x.dtd\">\n"
                        + Config(Server("imap", "imap.example.com", "993", "SSL")).substr(22),
                    "problem"},
        TConfigCase{"Truncated", Config(Server("imap", "imap.example.com", "993", "SSL")).substr(0, 200), "problem"},
        TConfigCase{"OtherDocument", "<html><body>Not here</body></html>", "problem"},
        TConfigCase{"Empty", "", "problem"},
        TConfigCase{"OverOneMegabyte",
                    Config(Server("imap", "imap.example.com", "993", "SSL"),
                           "<!--" + std::string(AutoconfigMaxBytes, 'x') + "-->"),
                    "problem"}),
    [](const testing::TestParamInfo<TConfigCase>& info) { return std::string(info.param.Name); });

TEST(Autoconfig, FileWithoutUsableServerIsReadWithoutProblem)
{
    const TAutoconfigResult result =
        ParseAutoconfig(Config(Server("imap", "imap.example.com", "143", "plain")), Ann, "example.com");
    EXPECT_EQ(result.Problem, "");
    EXPECT_TRUE(result.Servers.empty());
}

TEST(Address, SplitsAndRefuses)
{
    struct TCase
    {
        const char* Text;
        const char* Local;
        const char* Domain;
    };
    for (const TCase& c : {TCase{"ann@example.com", "ann", "example.com"}, TCase{" Ann@Mail.Example.COM. ", "Ann", "mail.example.com"},
                           TCase{"ann", "", ""}, TCase{"@example.com", "", ""}, TCase{"ann@", "", ""},
                           TCase{"a@b@example.com", "", ""}, TCase{"ann@localhost", "", ""},
                           TCase{"ann lee@example.com", "", ""}, TCase{"ann@exa_mple.com", "", ""},
                           TCase{"ann@-example.com", "", ""}, TCase{"ann%x@example.com", "", ""}})
    {
        const TAddressParts parts = SplitAddress(c.Text);
        EXPECT_EQ(parts.LocalPart, c.Local) << c.Text;
        EXPECT_EQ(parts.Domain, c.Domain) << c.Text;
    }
    EXPECT_EQ(CleanHostName(std::string(64, 'a') + ".com"), "");
    EXPECT_EQ(CleanHostName(std::string(63, 'a') + ".com"), std::string(63, 'a') + ".com");
}

TEST(Providers, ByDomainAndByMailExchanger)
{
    struct TCase
    {
        const char* Address;
        const char* Mx; // nullptr: by the domain
        const char* Expected;
    };
    for (const TCase& c :
         {TCase{"ann@gmail.com", nullptr, "imap imap.gmail.com:993 tls ann@gmail.com oauth2 https://accounts.google.com"},
          TCase{"ann@hotmail.com", nullptr,
                "imap outlook.office365.com:993 tls ann@hotmail.com oauth2 https://login.microsoftonline.com/common/v2.0"},
          TCase{"ann@icloud.com", nullptr, "imap imap.mail.me.com:993 tls ann"},
          TCase{"ann@web.de", nullptr, "imap imap.web.de:993 tls ann"},
          TCase{"ann@example.com", nullptr, "none"},
          TCase{"ann@example.com", "example-com.mail.protection.outlook.com",
                "imap outlook.office365.com:993 tls ann@example.com oauth2 https://login.microsoftonline.com/common/v2.0"},
          TCase{"ann@example.com", "aspmx.l.google.com",
                "imap imap.gmail.com:993 tls ann@example.com oauth2 https://accounts.google.com"},
          TCase{"ann@example.com", "mx.example.com", "none"},
          // A suffix matches at a label's edge only.
          TCase{"ann@example.com", "evilgoogle.com", "none"},
          // Every domain its provider's file lists, also as an exchanger's.
          TCase{"ann@outlook.de", nullptr,
                "imap outlook.office365.com:993 tls ann@outlook.de oauth2 https://login.microsoftonline.com/common/v2.0"},
          TCase{"ann@example.com", "outlook-de.olc.protection.outlook.com",
                "imap outlook.office365.com:993 tls ann@example.com oauth2 https://login.microsoftonline.com/common/v2.0"},
          TCase{"ann@verizon.net", nullptr, "imap imap.aol.com:993 tls ann@verizon.net oauth2 https://api.login.aol.com"},
          // The longest listed domain wins: AOL's exchangers are under Yahoo's.
          TCase{"ann@example.com", "mx-aol.mail.gm0.yahoodns.net",
                "imap imap.aol.com:993 tls ann@example.com oauth2 https://api.login.aol.com"},
          TCase{"ann@example.com", "mta5.am0.yahoodns.net",
                "imap imap.mail.yahoo.com:993 tls ann@example.com oauth2 https://api.login.yahoo.com"},
          // IMAP4 over TLS before the POP3 server the file names first.
          TCase{"ann@centurylink.net", nullptr, "imap mail.centurylink.net:993 tls ann@centurylink.net"},
          TCase{"ann@dd.iij4u.or.jp", nullptr, "pop3 mbox.iij4u.or.jp:110 starttls ann.dd.iij4u.or.jp"},
          TCase{"ann@inbox.lt", nullptr, "imap mail.inbox.lt:993 tls ann@inbox.lt"},
          // Plain text only: nothing, not the servers of a shorter domain.
          TCase{"ann@goo.jp", nullptr, "none"},
          TCase{"ann@example.com", "mx.ji.jet.ne.jp", "none"},
          TCase{"ann@example.com", "mx.jet.ne.jp", "imap imap.jet.ne.jp:993 tls ann"}})
    {
        const TAddressParts parts = SplitAddress(c.Address);
        const TFoundServer found = c.Mx ? ProviderByMxHost(c.Mx, parts) : ProviderByDomain(parts);
        EXPECT_EQ(Brief(found), c.Expected) << c.Address << " " << (c.Mx ? c.Mx : "");
    }
}

TEST(Providers, MailExchangerDomain)
{
    for (const auto& [host, domain] : std::vector<std::pair<std::string, std::string>>{
             {"mx1.mail.example.net", "example.net"}, {"mx.example.co.uk.", "example.co.uk"},
             {"mx.web.de", "web.de"}, {"example.org", "example.org"}, {"localhost", ""}, {"bad host", ""}})
        EXPECT_EQ(MxDomain(host), domain) << host;
}

TSrvRecord Srv(const std::string& target, int port, int priority = 0, int weight = 0)
{
    return {target, port, priority, weight};
}

std::vector<std::string> Briefs(const TSrvChoice& choice)
{
    std::vector<std::string> out;
    for (const TFoundServer& s : choice.Servers)
        out.push_back(Brief(s));
    return out;
}

const TAddressParts Bob = SplitAddress("bob@example.com");
const TWeightPick PickZero = [](std::uint32_t) { return 0u; };

struct TSrvCase
{
    const char* Name;
    TSrvAnswers Answers;
    std::vector<std::string> Expected;
};

void PrintTo(const TSrvCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SrvTable : public testing::TestWithParam<TSrvCase>
{
};

TEST_P(SrvTable, OrdersTheServices)
{
    EXPECT_EQ(Briefs(ChooseSrvServers(GetParam().Answers, Bob, PickZero)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SrvTable,
    testing::Values(
        TSrvCase{"ImplicitTlsFirstAtEqualPriority",
                 {{{Srv("imap.example.com", 993)}, {Srv("pop.example.com", 995)}, {Srv("imap.example.com", 143)}, {}}},
                 {"imap imap.example.com:993 tls bob@example.com", "pop3 pop.example.com:995 tls bob@example.com",
                  "imap imap.example.com:143 starttls bob@example.com"}},
        TSrvCase{"PriorityBeforeKind",
                 {{{Srv("imap.example.com", 993, 20)}, {}, {Srv("mail.example.com", 143, 10)}, {}}},
                 {"imap mail.example.com:143 starttls bob@example.com", "imap imap.example.com:993 tls bob@example.com"}},
        TSrvCase{"ImapBeforePop3", {{{}, {}, {Srv("b.example.com", 143)}, {Srv("a.example.com", 110)}}},
                 {"imap b.example.com:143 starttls bob@example.com", "pop3 a.example.com:110 starttls bob@example.com"}},
        TSrvCase{"DotMeansNotOffered", {{{Srv(".", 0)}, {Srv("pop.example.com.", 995)}, {}, {}}},
                 {"pop3 pop.example.com:995 tls bob@example.com"}},
        TSrvCase{"BadRecordsPassedOver",
                 {{{Srv("imap.example.com", 0), Srv("bad_host", 993), Srv("imap.example.com", 70000)}, {}, {}, {}}}, {}},
        TSrvCase{"NothingAtAll", {}, {}}),
    [](const testing::TestParamInfo<TSrvCase>& info) { return std::string(info.param.Name); });

TEST(Srv, ThousandsOfRecordsArePassedOverWithANote)
{
    TSrvAnswers answers;
    for (int i = 0; i < 5000; ++i)
        answers.Records[msImaps].push_back(Srv("h" + std::to_string(i) + ".example.com", 993));
    answers.Records[msPop3s].push_back(Srv("pop.example.com", 995));
    const TSrvChoice choice = ChooseSrvServers(answers, Bob, PickZero);
    EXPECT_EQ(Briefs(choice), std::vector<std::string>{"pop3 pop.example.com:995 tls bob@example.com"});
    ASSERT_EQ(choice.Notes.size(), 1u);
    EXPECT_NE(choice.Notes[0].find("5000 records"), std::string::npos);
}

TEST(Srv, WeightsChooseWithinAPriority)
{
    TSrvAnswers answers;
    answers.Records[msImaps] = {Srv("zero.example.com", 993, 1, 0), Srv("light.example.com", 993, 1, 10),
                                Srv("heavy.example.com", 993, 1, 90)};
    // The pick falls in a record's share of the running sum: 0 -> the zero
    // weight; 11..100 -> the heavy one once the light one's 10 are passed.
    const auto first = [&](std::uint32_t pick) {
        return ChooseSrvServers(answers, Bob, [pick](std::uint32_t) { return pick; }).Servers.front().Host;
    };
    EXPECT_EQ(first(0), "zero.example.com");
    EXPECT_EQ(first(5), "light.example.com");
    EXPECT_EQ(first(11), "heavy.example.com");
    EXPECT_EQ(first(100), "heavy.example.com");
}

TEST(Srv, JmapRecordsAreOrderedAndPassedOverAsTheOthers)
{
    const auto hosts = [](const std::vector<TSrvRecord>& records) {
        std::vector<std::string> out;
        for (const TFoundServer& s : ChooseJmapServers(records, Bob, PickZero).Servers)
            out.push_back(s.Host + ":" + std::to_string(s.Port) + (s.JMAP && !s.IMAP4 ? " jmap " : " ") + s.UserName);
        return out;
    };
    using TList = std::vector<std::string>;
    EXPECT_EQ(hosts({Srv("b.example.com", 443, 20), Srv("a.example.com.", 8443, 10)}),
              (TList{"a.example.com:8443 jmap bob@example.com", "b.example.com:443 jmap bob@example.com"}));
    EXPECT_EQ(hosts({Srv(".", 0)}), TList{});
}

TEST(Jmap, AnAnswerOffersJmapWithMailOrAsksForTheLogin)
{
    const auto session = [](const std::string& body) { return TFetchAnswer{true, body, {}, 200, "https://x/"}; };
    const auto refused = [](int status, const std::string& problem) {
        return TFetchAnswer{false, {}, problem, status, "https://x/"};
    };
    const struct
    {
        TFetchAnswer Answer;
        bool Offered;
        std::string Problem;
    } rows[] = {
        {session(R"({"capabilities": {"urn:ietf:params:jmap:core": {}, "urn:ietf:params:jmap:mail": {}}})"), true, ""},
        {session(R"({"capabilities": {"urn:ietf:params:jmap:core": {}}})"), false, "a JMAP session without mail"},
        {session(R"({"capabilities": ["urn:ietf:params:jmap:mail"]})"), false, "not a JMAP session"},
        {session("<html>urn:ietf:params:jmap:mail</html>"), false, "not a JMAP session"},
        {refused(401, "HTTP status 401"), true, ""},
        {refused(404, "HTTP status 404"), false, "HTTP status 404"},
        {refused(302, "Insecure redirect"), false, "Insecure redirect"},
    };
    for (const auto& row : rows)
    {
        std::string problem = "left over";
        EXPECT_EQ(JmapOffered(row.Answer, problem), row.Offered) << row.Answer.Body << row.Answer.Status;
        EXPECT_EQ(problem, row.Problem);
    }
    EXPECT_EQ(JmapHostAddress("jmap.example.com", 443, "https://jmap.example.com/session"), "jmap.example.com");
}

TEST(Probe, TargetsTlsPortsFirstThenStartTls)
{
    const std::vector<TProbeTarget> targets = ProbeTargets("example.com");
    ASSERT_EQ(targets.size(), 20u);
    EXPECT_EQ(targets[0], (TProbeTarget{"imap.example.com", 993, true, asImplicitTLS}));
    EXPECT_EQ(targets[4], (TProbeTarget{"example.com", 993, true, asImplicitTLS}));
    EXPECT_EQ(targets[5], (TProbeTarget{"imap.example.com", 995, false, asImplicitTLS}));
    EXPECT_EQ(targets[10], (TProbeTarget{"imap.example.com", 143, true, asStartTLS}));
    EXPECT_EQ(targets[19], (TProbeTarget{"example.com", 110, false, asStartTLS}));
}

// An https answer as read off the wire: whole, and a byte at a time (framing
// that only works when a line or chunk arrives in one piece is a fault).
struct THttpCase
{
    const char* Name;
    std::string Wire;
    bool Closed; // the server closes the connection after the bytes
    std::string Expected; // "done STATUS BODY" or "failed PROBLEM"
};

void PrintTo(const THttpCase& c, std::ostream* out)
{
    *out << c.Name;
}

class HttpAnswerTable : public testing::TestWithParam<THttpCase>
{
protected:
    static std::string Read(const THttpCase& c, std::size_t piece)
    {
        THttpAnswerReader reader(10);
        for (std::size_t at = 0; at < c.Wire.size(); at += piece)
            reader.Feed(std::string_view(c.Wire).substr(at, piece));
        if (c.Closed)
            reader.End();
        switch (reader.State())
        {
        case THttpAnswerReader::TState::Reading:
            return "reading";
        case THttpAnswerReader::TState::Done:
            return "done " + std::to_string(reader.Status()) + " " + reader.Body()
                   + (reader.Header("location").empty() ? "" : " -> " + reader.Header("location"));
        case THttpAnswerReader::TState::Failed:
            break;
        }
        return "failed " + reader.Problem() + (reader.Body().empty() ? "" : " with a body");
    }
};

TEST_P(HttpAnswerTable, FramesTheBodyWithinItsBound)
{
    const THttpCase& c = GetParam();
    EXPECT_EQ(Read(c, c.Wire.size() + 1), c.Expected) << "whole";
    EXPECT_EQ(Read(c, 1), c.Expected) << "byte by byte";
}

const std::string Ok = "HTTP/1.1 200 OK\r\n";
const std::string Chunked = Ok + "Transfer-Encoding: chunked\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, HttpAnswerTable,
    testing::Values(
        THttpCase{"ByLength", Ok + "CONTENT-length: 5\r\n\r\nhello", false, "done 200 hello"},
        THttpCase{"ByLengthRestIgnored", Ok + "Content-Length: 2\r\n\r\nhello", false, "done 200 he"},
        THttpCase{"InChunks", Chunked + "3;name=x\r\nhel\r\n7\r\nlo, you\r\n0\r\nX-Trailer: 1\r\n\r\n", false,
                  "done 200 hello, you"},
        THttpCase{"ToTheEnd", "HTTP/1.0 200 OK\nServer: x\n\nhello", true, "done 200 hello"},
        THttpCase{"ToTheEndNotYetClosed", Ok + "\r\nhello", false, "reading"},
        THttpCase{"InterimThenRedirect",
                  "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 302 Found\r\nLocation:  /b.xml \r\nContent-Length: 0\r\n\r\n",
                  false, "done 302  -> /b.xml"},
        THttpCase{"LengthOverBound", Ok + "Content-Length: 11\r\n\r\n", false, "failed longer than 10 bytes"},
        THttpCase{"ChunksOverBound", Chunked + "6\r\nhello,\r\n6\r\n world\r\n", false, "failed longer than 10 bytes"},
        THttpCase{"EndOverBound", Ok + "\r\nhello, world", true, "failed longer than 10 bytes"},
        THttpCase{"HugeChunkSize", Chunked + "fffffffffffffffff\r\n", false, "failed a chunk size of \"fffffffffffffffff\""},
        THttpCase{"ChunkLongerThanItsSize", Chunked + "3\r\nhello\r\n", false, "failed a chunk longer than its size"},
        THttpCase{"NegativeLength", Ok + "Content-Length: -1\r\n\r\n", false, "failed a Content-Length of \"-1\""},
        THttpCase{"CutShort", Ok + "Content-Length: 5\r\n\r\nhel", true, "failed the answer ended early"},
        THttpCase{"ChunksCutShort", Chunked + "5\r\nhello\r\n", true, "failed the answer ended early"},
        THttpCase{"Nothing", "", true, "failed no answer"},
        THttpCase{"NotHttp", "* OK IMAP4rev1 ready\r\n", false, "failed not an HTTP answer: * OK IMAP4rev1 ready"},
        THttpCase{"HeaderWithoutName", Ok + ": x\r\n\r\n", false, "failed a header without a name: : x"},
        THttpCase{"HeaderWithoutEnd", Ok + "X-Long: " + std::string(THttpAnswerReader::HeaderMaxBytes, 'a'), false,
                  "failed headers longer than 65536 bytes"},
        THttpCase{"EndlessHeaders", Ok + [] {
                      std::string lines;
                      for (int i = 0; i < 10000; ++i)
                          lines += "X-" + std::to_string(i) + ": a\r\n";
                      return lines;
                  }(), false, "failed headers longer than 65536 bytes"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace

// The token endpoint, discovery and their JSON against scripted servers,
// honest and hostile, on a fake clock.

#include "oauth/LoopbackListener.h"
#include "oauth/OAuthErrors.h"
#include "oauth/Providers.h"
#include "oauth/SignIn.h"
#include "oauth/TokenEndpoint.h"
#include "support/FakeClock.h"
#include "support/Loopback.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <future>
#include <limits>
#include <thread>

namespace
{

enum class TEnd
{
    Tokens,      // the access token "at" and refresh token "rt2"
    Refused,     // EOAuthRefused
    Unreachable, // EOAuthUnreachable
    Malformed,   // EOAuthMalformed
};

struct TAnswerCase
{
    const char* Name;
    const char* Script; // after the request line
    TEnd End;
    const char* Code = ""; // the refusal's code
};

const std::string Grant = R"({"access_token":"at","token_type":"Bearer","expires_in":3600,"refresh_token":"rt2"})";

std::string Sized(const std::string& body)
{
    return "S: Content-Length: " + std::to_string(body.size()) + "\nS:\nR: " + body + "\n";
}

const std::string Ok = "S: HTTP/1.1 200 OK\nS: Content-Type: application/json\n";

const TAnswerCase AnswerCases[] = {
    {"LengthGiven", "", TEnd::Tokens},
    {"Chunked", "", TEnd::Tokens},
    {"ToTheClose", "", TEnd::Tokens},
    {"InvalidGrant", "", TEnd::Refused, "invalid_grant"},
    {"EchoesTheToken", "", TEnd::Refused, "invalid_request"},
    {"ServerError", "S: HTTP/1.1 503 Busy\nS: Content-Length: 0\nS:\n", TEnd::Unreachable},
    {"TooManyRequests", "S: HTTP/1.1 429 Slow down\nS: Content-Length: 0\nS:\n", TEnd::Unreachable},
    {"Redirect", "S: HTTP/1.1 302 Found\nS: Location: https://elsewhere.example/token\nS: Content-Length: 0\nS:\n",
     TEnd::Malformed},
    {"HugeLength", "S: HTTP/1.1 200 OK\nS: Content-Length: 99999999\nS:\n", TEnd::Malformed},
    {"HugeChunk", "S: HTTP/1.1 200 OK\nS: Transfer-Encoding: chunked\nS:\nS: fffffff\n", TEnd::Malformed},
    {"EndlessBody", "S: HTTP/1.1 200 OK\nS:\nFLOOD 600000 {\"a\":\n", TEnd::Malformed},
    {"EndlessHeaders", "S: HTTP/1.1 200 OK\nFLOOD 600000 X-Pad: 1\\r\\n\n", TEnd::Malformed},
    {"NeverEnds", "S: HTTP/1.1 200 OK\nS: Content-Length: 100\nS:\nR: {\"access\nSTALL\n", TEnd::Unreachable},
    {"NeverAnswers", "STALL\n", TEnd::Unreachable},
    {"NotJson", "", TEnd::Malformed},
    {"NotAnObject", "", TEnd::Malformed},
    {"WrongType", "", TEnd::Malformed},
    {"NotBearer", "", TEnd::Malformed},
    {"ErrorWithoutCode", "", TEnd::Malformed},
    {"NotHttp", "S: +OK POP3 ready\n", TEnd::Malformed},
};

std::string ScriptOf(const TAnswerCase& c)
{
    const std::string name = c.Name;
    std::string script = "C~ POST /token HTTP/1.1\n";
    if (name == "LengthGiven")
        return script + Ok + Sized(Grant);
    if (name == "Chunked")
        return script + Ok + "S: Transfer-Encoding: chunked\nS:\nS: 10\nR: " + Grant.substr(0, 16) + "\\r\\n\nS: " +
               [] {
                   char hex[16];
                   std::snprintf(hex, sizeof hex, "%zx", Grant.size() - 16);
                   return std::string(hex);
               }() +
               "\nR: " + Grant.substr(16) + "\\r\\n\nS: 0\nS:\n";
    if (name == "ToTheClose")
        return script + Ok + "S:\nR: " + Grant + "\nCLOSE\n";
    if (name == "InvalidGrant")
        return script + "S: HTTP/1.1 400 Bad Request\n" +
               Sized(R"({"error":"invalid_grant","error_description":"grant request is invalid"})");
    if (name == "EchoesTheToken")
        return script + "S: HTTP/1.1 400 Bad Request\n" +
               Sized(R"({"error":"invalid_request","error_description":"no such token: rt1"})");
    if (name == "NotJson")
        return script + Ok + Sized("{\"access_token\":");
    if (name == "NotAnObject")
        return script + Ok + Sized("[\"at\"]");
    if (name == "WrongType")
        return script + Ok + Sized(R"({"access_token":7,"token_type":"Bearer"})");
    if (name == "NotBearer")
        return script + Ok + Sized(R"({"access_token":"at","token_type":"mac"})");
    if (name == "ErrorWithoutCode")
        return script + "S: HTTP/1.1 400 Bad Request\n" + Sized("<html>no</html>");
    return script + c.Script;
}

void PrintTo(const TAnswerCase& c, std::ostream* out)
{
    *out << c.Name;
}

class TokenAnswers : public testing::TestWithParam<TAnswerCase>
{
};

TEST_P(TokenAnswers, EndAsTheAnswerDeservesWithinTheLimits)
{
    const TAnswerCase& c = GetParam();
    ScriptedServer server(ScriptOf(c));
    TProvider provider;
    provider.Endpoints.Token = "http://127.0.0.1:" + std::to_string(server.Port()) + "/token";
    provider.ClientId = "ternbell";
    THttpLimits limits;
    limits.Clock = std::make_shared<FakeClock>();
    try
    {
        const TTokenGrant grant = RefreshTokens(provider, "rt1", limits);
        ASSERT_EQ(c.End, TEnd::Tokens) << "tokens from a bad answer";
        EXPECT_EQ(grant.AccessToken, "at");
        EXPECT_EQ(grant.RefreshToken, "rt2");
        EXPECT_EQ(grant.ExpiresIn, 3600);
    }
    catch (const EOAuthRefused& e)
    {
        EXPECT_EQ(c.End, TEnd::Refused) << e.what();
        EXPECT_EQ(e.Code, c.Code);
        EXPECT_EQ(std::string(e.what()).find("rt1"), std::string::npos) << "a token in an error text";
    }
    catch (const EOAuthUnreachable& e)
    {
        EXPECT_EQ(c.End, TEnd::Unreachable) << e.what();
    }
    catch (const EOAuthMalformed& e)
    {
        EXPECT_EQ(c.End, TEnd::Malformed) << e.what();
    }
    // The request carried the grant as a form.
    EXPECT_TRUE(server.WaitClientClosed());
    EXPECT_NE(server.Received().find("grant_type=refresh_token&refresh_token=rt1&client_id=ternbell"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Answers, TokenAnswers, testing::ValuesIn(AnswerCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TUrlCase
{
    const char* Url;
    bool Accepted;
    const char* Host = "";
    int Port = 0;
    const char* Target = "";
};

TEST(HttpUrls, OnlyHttpsOrLoopbackWithoutUserOrFragment)
{
    const TUrlCase cases[] = {
        {"https://login.example.com/common/v2.0", true, "login.example.com", 443, "/common/v2.0"},
        {"https://Login.Example.com", true, "login.example.com", 443, "/"},
        {"https://h.example:8443?a=b", true, "h.example", 8443, "/?a=b"},
        {"http://127.0.0.1:8080/p", true, "127.0.0.1", 8080, "/p"},
        {"http://[::1]:9/", true, "::1", 9, "/"},
        {"http://localhost/", true, "localhost", 80, "/"},
        {"http://login.example.com/", false},
        {"http://localhost.example.com/", false},
        {"http://127.0.0.2/", false},
        {"https://user@h.example/", false},
        {"https://h.example:99999/", false},
        {"https://h.example:/", true, "h.example", 443, "/"},
        {"https://h.example/#frag", false},
        {"https://h.example/a b", false},
        {"ftp://h.example/", false},
        {"https://", false},
    };
    for (const TUrlCase& c : cases)
    {
        SCOPED_TRACE(c.Url);
        try
        {
            const THttpUrl url = ParseHttpUrl(c.Url);
            ASSERT_TRUE(c.Accepted);
            EXPECT_EQ(url.Host, c.Host);
            EXPECT_EQ(url.Port, c.Port);
            EXPECT_EQ(url.Target, c.Target);
        }
        catch (const EOAuthSetup&)
        {
            EXPECT_FALSE(c.Accepted);
        }
    }
}

TEST(OAuthDocuments, ReadWhatServersSendAndRefuseTheRest)
{
    const std::string issuer = "https://op.example";
    const TEndpoints endpoints = ReadDiscovery(
        R"({"issuer":"https://op.example","authorization_endpoint":"https://op.example/a",
            "token_endpoint":"https://op.example/t","device_authorization_endpoint":"https://op.example/d"})",
        issuer);
    EXPECT_EQ(endpoints.Token, "https://op.example/t");
    EXPECT_EQ(endpoints.Device, "https://op.example/d");
    EXPECT_EQ(endpoints.Revocation, "");
    // Another server's document passed off under this issuer.
    EXPECT_THROW(ReadDiscovery(R"({"issuer":"https://evil.example","authorization_endpoint":"a","token_endpoint":"t"})",
                               issuer),
                 EOAuthMalformed);
    EXPECT_THROW(ReadDiscovery(R"({"issuer":"https://op.example","authorization_endpoint":"a"})", issuer),
                 EOAuthMalformed);
    EXPECT_THROW(ReadDiscovery(std::string(MaxOAuthDocument + 1, ' '), issuer), EOAuthMalformed);
    EXPECT_THROW(ReadTokenGrant(R"({"access_token":"a","x":)" + std::string(100, '[') + std::string(100, ']') + "}"),
                 EOAuthMalformed)
        << "nested past the bound";

    EXPECT_EQ(ReadTokenGrant(R"({"access_token":"a","token_type":"bearer","expires_in":"60"})").ExpiresIn, 60);
    EXPECT_THROW(ReadTokenGrant(R"({"access_token":"a","token_type":"Bearer","expires_in":-1})"), EOAuthMalformed);
    EXPECT_EQ(ReadTokenGrant(R"({"access_token":"a","token_type":"Bearer","expires_in":3000000000})").ExpiresIn,
              std::numeric_limits<int>::max())
        << "past what the count holds: as long as it can say";
    EXPECT_THROW(ReadTokenGrant(R"({"access_token":"","token_type":"Bearer"})"), EOAuthMalformed);

    const TDeviceCode device =
        ReadDeviceCode(R"({"device_code":"d","user_code":"U-C","verification_url":"https://op.example/device",
                           "interval":0})");
    EXPECT_EQ(device.VerificationUri, "https://op.example/device");
    EXPECT_EQ(device.Interval, 1) << "a poll at least a second apart";
    EXPECT_EQ(device.ExpiresIn, 600);

    EXPECT_EQ(ReadErrorAnswer(R"({"error":"slow_down"})").Code, "slow_down");
    EXPECT_EQ(ReadErrorAnswer("not json").Code, "");

    // header.{"email":"ann@example.org"}.signature
    EXPECT_EQ(IdTokenName("e30.eyJlbWFpbCI6ImFubkBleGFtcGxlLm9yZyJ9.c2ln"), "ann@example.org");
    EXPECT_EQ(IdTokenName("garbage"), "");
}

struct TDeviceCase
{
    const char* Name;
    const char* Times; // the device answer's "expires_in" and "interval"
    bool Tokens;       // else the sign-in runs out of time without a poll
    std::chrono::seconds Waited;
};

// Lifetimes and intervals as large as a server may name are waited as
// named, up to the sign-in's own patience.
TEST(DeviceGrant, WaitsTheLifetimeAndIntervalTheServerNames)
{
    const TDeviceCase cases[] = {
        {"a code for thirty days", R"("expires_in":2592000,"interval":5)", true, std::chrono::seconds(5)},
        {"polls weeks apart", R"("expires_in":600,"interval":3000000)", false, std::chrono::minutes(10)},
    };
    for (const TDeviceCase& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer server("C~ POST /device HTTP/1.1\n" + Ok +
                              Sized(std::string(R"({"device_code":"d","user_code":"U",)") +
                                    R"("verification_uri":"https://op.example/device",)" + c.Times + "}") +
                              (c.Tokens ? "ACCEPT\nC~ POST /token HTTP/1.1\n" + Ok + Sized(Grant) : ""));
        const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
        TProvider provider;
        provider.Endpoints.Device = base + "/device";
        provider.Endpoints.Token = base + "/token";
        provider.ClientId = "ternbell";
        THttpLimits limits;
        limits.Clock = std::make_shared<FakeClock>();
        TSignIn signIn(provider, limits);
        auto waits = std::make_shared<FakeClock>();
        signIn.WaitClock = waits;
        try
        {
            EXPECT_EQ(signIn.WithCode({}).Grant.AccessToken, "at");
            EXPECT_TRUE(c.Tokens);
        }
        catch (const EOAuthCancelled& e)
        {
            EXPECT_FALSE(c.Tokens) << e.what();
        }
        EXPECT_GE(waits->Served(), c.Waited);
        EXPECT_TRUE(server.WaitDone());
        EXPECT_EQ(server.Connections(), c.Tokens ? 2 : 1);
    }
}

TEST(Providers, BuiltInEndpointsScopesAndTenants)
{
    const std::optional<TProvider> google = BuiltInProvider("https://accounts.google.com/", true);
    ASSERT_TRUE(google);
    EXPECT_EQ(google->Scope, "https://mail.google.com/");
    EXPECT_FALSE(google->DeviceGrant()) << "not for the mail scope";
    EXPECT_FALSE(google->Endpoints.Revocation.empty());

    const std::optional<TProvider> pop = BuiltInProvider(MicrosoftIssuer("consumers"), false);
    ASSERT_TRUE(pop);
    EXPECT_EQ(pop->Scope, "https://outlook.office.com/POP.AccessAsUser.All offline_access");
    EXPECT_EQ(pop->Endpoints.Token, "https://login.microsoftonline.com/consumers/oauth2/v2.0/token");
    EXPECT_TRUE(pop->DeviceGrant());
    const std::optional<TProvider> imap =
        BuiltInProvider(MicrosoftIssuer("0b5c7c36-7d2b-4e44-9f0a-3e2c6b1f9a10"), true);
    ASSERT_TRUE(imap);
    EXPECT_EQ(imap->Scope, "https://outlook.office.com/IMAP.AccessAsUser.All offline_access");

    EXPECT_THROW(BuiltInProvider("https://login.microsoftonline.com/x?y=1/v2.0", true), EOAuthSetup);
    EXPECT_FALSE(BuiltInProvider("https://op.example", true));
}

TEST(Providers, AnAccountWithoutAnyClientIdIsToldWhereToSetOne)
{
    Account account;
    account.Authentication = aaOAuth2;
    account.OAuth2Issuer = MicrosoftIssuer("common");
    TProvider provider;
    try
    {
        provider = ProviderOf(account, {});
        EXPECT_FALSE(provider.ClientId.empty()) << "a build with a client id of its own";
    }
    catch (const EOAuthSetup& e)
    {
        EXPECT_NE(std::string(e.what()).find("client id"), std::string::npos) << e.what();
    }
    account.OAuth2ClientId = "mine";
    account.OAuth2Scope = "one two";
    provider = ProviderOf(account, {});
    EXPECT_EQ(provider.ClientId, "mine");
    EXPECT_EQ(provider.Scope, "one two");
    EXPECT_EQ(provider.ClientSecret, "");
}

TEST(Discovery, FallsBackToTheAuthorizationServerDocumentAndChecksItsEndpoints)
{
    ScriptedServer server(R"(
        C: GET /tenant/.well-known/openid-configuration HTTP/1.1
        S: HTTP/1.1 404 Not Found
        S: Content-Length: 0
        S:
        ACCEPT
        C: GET /.well-known/oauth-authorization-server/tenant HTTP/1.1
        S: HTTP/1.1 200 OK
    )" + Sized(R"({"issuer":"https://op.example"})"));
    const std::string issuer = "http://127.0.0.1:" + std::to_string(server.Port()) + "/tenant";
    THttpLimits limits;
    limits.Clock = std::make_shared<FakeClock>();
    // The second document names another issuer: refused.
    EXPECT_THROW(DiscoverEndpoints(issuer, limits), EOAuthMalformed);
    EXPECT_TRUE(server.WaitDone());
}

// One request to the listener as a browser would send it; the status line
// of the answer.
std::string AskListener(int port, const std::string& request)
{
    const std::optional<std::string> answer = ExchangeOnLoopback(port, request);
    return answer ? answer->substr(0, answer->find("\r\n")) : "no connection";
}

TEST(Listener, TurnsAwayEveryRequestButTheOneWithItsState)
{
    TLoopbackListener listener;
    EXPECT_EQ(listener.RedirectUri(), "http://127.0.0.1:" + std::to_string(listener.Port()) + "/");
    std::vector<std::string> answers;
    auto browser = std::async(std::launch::async, [&] {
        for (const char* stray : {"GET /favicon.ico HTTP/1.1\r\n\r\n",
                                  "GET /?code=c&state=wrong HTTP/1.1\r\n\r\n",
                                  "GET /?code=c HTTP/1.1\r\n\r\n",
                                  "POST /?code=c&state=s%2Bt HTTP/1.1\r\n\r\n",
                                  "GET /?state=s%2Bt HTTP/1.1\r\n\r\n",
                                  "\x16\x03\x01 not http at all\r\n\r\n"})
            answers.push_back(AskListener(listener.Port(), stray));
        answers.push_back(AskListener(listener.Port(), "GET /?code=a%2Fb&state=s%2Bt&iss=https%3A%2F%2Fop HTTP/1.1\r\n"
                                                       "Host: 127.0.0.1\r\n\r\n"));
    });
    const TLoopbackListener::TRedirect redirect =
        listener.Wait("s+t", TIdSteadyClock::Instance(), std::chrono::seconds(30));
    browser.get();
    EXPECT_EQ(redirect.Code, "a/b");
    EXPECT_EQ(redirect.Issuer, "https://op");
    ASSERT_EQ(answers.size(), 7u);
    for (std::size_t i = 0; i + 1 < answers.size(); ++i)
        EXPECT_EQ(answers[i], "HTTP/1.1 400 Bad Request") << i;
    EXPECT_EQ(answers.back(), "HTTP/1.1 200 OK");
}

TEST(Listener, GivesUpAfterItsTimeOrWhenCancelled)
{
    TLoopbackListener listener;
    FakeClock clock;
    EXPECT_THROW(listener.Wait("s", clock, std::chrono::minutes(10)), EOAuthCancelled);
    EXPECT_GE(clock.Served(), std::chrono::minutes(10));
    EXPECT_LT(clock.Served(), std::chrono::minutes(11));

    auto cancel = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        listener.Cancel();
    });
    EXPECT_THROW(listener.Wait("s", TIdSteadyClock::Instance(), std::chrono::minutes(10)), EOAuthCancelled);
}

} // namespace

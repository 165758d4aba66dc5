// How the clients choose their login, and the base64 of SASL exchanges.
#include "mail/IdExceptions.h"
#include "mail/SaslMechanism.h"

#include <gtest/gtest.h>

namespace
{

using M = TIdLoginMethod;

TEST(Sasl, LoginChoice)
{
    struct Case
    {
        const char* Name;
        M Asked;
        TIdStrings Mechanisms;
        bool PasswordDisabled;
        TIdStrings Offered;
        TIdLoginChoice Chosen;
    };
    const Case cases[] = {
        {"PasswordAsToday", M::Password, {}, false, {"PLAIN"}, {M::Password, ""}},
        {"PasswordDisabledGoesByPlain", M::Password, {}, true, {"GSSAPI", "plain"}, {M::SASL, "PLAIN"}},
        {"PasswordDisabledNothingSpokenKeepsPassword", M::Password, {}, true, {"GSSAPI"}, {M::Password, ""}},
        {"ApopWhereAsked", M::APOP, {}, true, {"PLAIN"}, {M::APOP, ""}},
        {"SaslFirstAskedThatIsOfferedAndSpoken", M::SASL, {"GSSAPI", "Plain"}, false, {"GSSAPI", "PLAIN"},
         {M::SASL, "PLAIN"}},
        {"SaslNoneOffered", M::SASL, {"PLAIN"}, false, {"GSSAPI"}, {M::SASL, ""}},
        // A password never goes where a token is expected, however asked.
        {"PasswordDisabledOnlyTokensOffered", M::Password, {}, true, {"XOAUTH2", "OAUTHBEARER"}, {M::Password, ""}},
        {"SaslAskedForATokenMechanism", M::SASL, {"XOAUTH2"}, false, {"XOAUTH2"}, {M::SASL, ""}},
        {"TokenPrefersOauthbearer", M::OAuth2, {}, false, {"PLAIN", "XOAUTH2", "oauthbearer"},
         {M::OAuth2, "OAUTHBEARER"}},
        {"TokenTakesXoauth2WhereAlone", M::OAuth2, {}, true, {"xoauth2", "PLAIN"}, {M::OAuth2, "XOAUTH2"}},
        {"TokenNeverPlain", M::OAuth2, {}, false, {"PLAIN"}, {M::OAuth2, ""}},
        {"TokenAmongThoseAsked", M::OAuth2, {"xoauth2", "PLAIN"}, false, {"OAUTHBEARER", "XOAUTH2"},
         {M::OAuth2, "XOAUTH2"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ChooseLogin(c.Asked, c.Mechanisms, c.PasswordDisabled, c.Offered), c.Chosen);
    }
}

TEST(Sasl, PlainSaysItAllInTheInitialResponse)
{
    std::unique_ptr<TIdSASLMechanism> plain = MakeSASLMechanism("plain", {"ann", "s\xC3\xA9"});
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Name(), "PLAIN");
    EXPECT_EQ(plain->InitialResponse(), std::string("\0ann\0s\xC3\xA9", 8));
    std::string response;
    EXPECT_FALSE(plain->Respond("more?", response));
    EXPECT_FALSE(MakeSASLMechanism("CRAM-MD5", {}));
    EXPECT_THROW(MakeSASLMechanism("PLAIN", {"ann", std::string("pass\0word", 9)})->InitialResponse(), EIdException);
}

// The initial response carries the user and the token; the one error
// challenge is answered as the mechanism requires, a second cancels.
TEST(Sasl, BearerMechanisms)
{
    struct Case
    {
        const char* Name;
        std::string User;
        std::string Initial;
        std::string ErrorResponse;
    };
    const Case cases[] = {
        {"OAUTHBEARER", "ann,b=c@example.org", "n,a=ann=2Cb=3Dc@example.org,\x01" "auth=Bearer tok.en-1\x01\x01",
         "\x01"},
        {"XOAUTH2", "ann@example.org", "user=ann@example.org\x01" "auth=Bearer tok.en-1\x01\x01", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        std::unique_ptr<TIdSASLMechanism> mechanism = MakeSASLMechanism(c.Name, {c.User, "tok.en-1"});
        ASSERT_TRUE(mechanism);
        EXPECT_EQ(mechanism->Name(), c.Name);
        EXPECT_EQ(mechanism->InitialResponse(), c.Initial);
        auto& bearer = dynamic_cast<TIdSASLBearer&>(*mechanism);
        EXPECT_FALSE(bearer.Refused());
        std::string response = "unset";
        EXPECT_TRUE(mechanism->Respond(R"({"status":"invalid_token"})", response));
        EXPECT_EQ(response, c.ErrorResponse);
        EXPECT_TRUE(bearer.Refused());
        EXPECT_EQ(bearer.Error(), R"({"status":"invalid_token"})");
        EXPECT_FALSE(mechanism->Respond("again", response));
    }
}

// A token or user name that would break the response's fields apart is
// refused before anything is sent, and the text never holds the token.
TEST(Sasl, BearerRefusesWhatCannotBeSent)
{
    const std::pair<std::string, std::string> bad[] = {
        {"ann", ""},
        {"ann", "has space"},
        {"ann", "ctl\x01"},
        {"ann", "line\r\n"},
        {"ann", "8bit\xC3\xA9"},
        {"a\x01nn", "token"},
        {std::string("a\0nn", 4), "token"},
    };
    for (const char* name : {"OAUTHBEARER", "XOAUTH2"})
        for (const auto& [user, token] : bad)
        {
            SCOPED_TRACE(std::string(name) + " " + user + " " + token);
            try
            {
                MakeSASLMechanism(name, {user, token})->InitialResponse();
                ADD_FAILURE() << "sent";
            }
            catch (const EIdException& e)
            {
                if (!token.empty())
                    EXPECT_EQ(std::string(e.what()).find(token), std::string::npos);
            }
        }
}

TEST(Sasl, Base64)
{
    const std::pair<std::string, std::string> pairs[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {std::string("\0\xFF\x10", 3), "AP8Q"}};
    for (const auto& [bytes, text] : pairs)
    {
        EXPECT_EQ(SASLEncode(bytes), text);
        std::string decoded;
        EXPECT_TRUE(SASLDecode(text, decoded));
        EXPECT_EQ(decoded, bytes);
    }
    std::string decoded;
    for (const char* bad : {"Zg", "Zg=a", "Z===", "Zm9v!A==", "=Zm9"})
        EXPECT_FALSE(SASLDecode(bad, decoded)) << bad;
}

} // namespace

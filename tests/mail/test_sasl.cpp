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

// MD5 for the APOP login.
#include "mail/IdHashMessageDigest5.h"

#include <gtest/gtest.h>

namespace
{

TEST(Pop3Digest, KnownDigests)
{
    // RFC 1321's test suite, and the APOP example of RFC 1939.
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {"<1896.697170952@dbc.mtview.ca.us>tanstaaf", "c4c9334bac560ecc979e58001b3e22fb"},
    };
    for (const auto& [input, hex] : cases)
        EXPECT_EQ(TIdHashMessageDigest5::HashStringAsHex(input), hex) << input;
}

TEST(Pop3Digest, WorksOnBytesNotCharacters)
{
    // 8-bit and NUL bytes go in as they are.
    std::string bytes("\xe9t\xe9\0x", 5);
    EXPECT_EQ(TIdHashMessageDigest5::HashStringAsHex(bytes), "905a2adba5a61eab95ca94f965081da9");
    auto digest = TIdHashMessageDigest5::HashValue(bytes);
    EXPECT_EQ(digest[0], 0x90);
    EXPECT_EQ(digest[15], 0xa9);
}

} // namespace

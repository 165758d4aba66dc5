#pragma once

#include <array>
#include <string>

// MD5 (RFC 1321) over 8-bit text, for the APOP digest. Computed by OpenSSL's
// libcrypto; this class only adapts its interface.
class TIdHashMessageDigest5
{
public:
    using TIdHash128 = std::array<unsigned char, 16>;

    static TIdHash128 HashValue(const std::string& bytes);
    // The 16 bytes in order as 32 lower-case hexadecimal digits.
    static std::string HashStringAsHex(const std::string& bytes);
};

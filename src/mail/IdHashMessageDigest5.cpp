#include "mail/IdHashMessageDigest5.h"

#include "mail/IdExceptions.h"
#include "mail/OpenSsl.h"


TIdHashMessageDigest5::TIdHash128 TIdHashMessageDigest5::HashValue(const std::string& bytes)
{
    TIdHash128 digest{};
    unsigned int length = 0;
    if (OpenSsl().EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, OpenSsl().EVP_md5(), nullptr) != 1
        || length != digest.size())
        throw EIdException("MD5 is not available");
    return digest;
}

std::string TIdHashMessageDigest5::HashStringAsHex(const std::string& bytes)
{
    static const char Digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : HashValue(bytes))
    {
        hex += Digits[b >> 4];
        hex += Digits[b & 0x0f];
    }
    return hex;
}

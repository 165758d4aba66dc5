#include "oauth/Pkce.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace
{

std::string Base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals).toStdString();
}

std::string RandomText(int bytes)
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return Base64Url(QByteArray(reinterpret_cast<const char*>(words.data()), bytes));
}

} // namespace

std::string PkceChallenge(const std::string& verifier)
{
    return Base64Url(QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256));
}

TPkce MakePkce()
{
    TPkce pkce;
    pkce.Verifier = RandomText(32);
    pkce.Challenge = PkceChallenge(pkce.Verifier);
    pkce.State = RandomText(16);
    return pkce;
}

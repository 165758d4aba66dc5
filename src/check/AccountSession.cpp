#include "check/AccountSession.h"

#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

#include <mutex>
#include <set>

namespace
{

// STARTTLS is always required: a server that hides it gets no login.
TIdUseTLS UseTLSOf(TAccountSecurity security)
{
    switch (security)
    {
    case asStartTLS:
        return utUseRequireTLS;
    case asImplicitTLS:
        return utUseImplicitTLS;
    default:
        return utNoTLSSupport;
    }
}

struct TRememberedLogins
{
    std::mutex Lock;
    // Logins whose server took Windows-1252.
    std::set<std::string> Windows1252;
};

TRememberedLogins& RememberedLogins()
{
    static TRememberedLogins logins;
    return logins;
}

template <typename TClient>
void AimEither(TClient& client, const Account& account, int port, const TSessionLimits& limits)
{
    client.Username = account.UserName;
    client.Password = account.Password;
    client.Host = account.Host;
    client.Port = port;
    client.UseTLS = UseTLSOf(account.Security);
    client.ConnectTimeout = limits.ConnectTimeout;
    client.ReadTimeout = limits.ReadTimeout;
    client.OperationTimeout = limits.OperationTimeout;
    client.Clock = limits.Clock;
    client.CredentialCharset = RememberedCredentialCharset(LoginOf(account, port));
    client.AccessToken = nullptr;
    if (account.Authentication != aaOAuth2)
        return;
    client.AccessToken = [tokens = limits.Tokens, account](bool refused) -> std::string {
        if (!tokens)
            throw EIdException("This program cannot log in with an access token.");
        return tokens->AccessToken(account, refused);
    };
}

} // namespace

std::string LoginOf(const Account& account, int port)
{
    return std::string(ProtocolWord(account)) + "\n" + account.Host + "\n" + std::to_string(port) + "\n" +
           account.UserName;
}

TIdCredentialCharset RememberedCredentialCharset(const std::string& login)
{
    TRememberedLogins& logins = RememberedLogins();
    std::lock_guard<std::mutex> hold(logins.Lock);
    return logins.Windows1252.count(login) ? ccWindows1252 : ccUTF8;
}

void RememberCredentialCharset(const std::string& login, TIdCredentialCharset charset)
{
    TRememberedLogins& logins = RememberedLogins();
    std::lock_guard<std::mutex> hold(logins.Lock);
    if (charset == ccWindows1252)
        logins.Windows1252.insert(login);
    else
        logins.Windows1252.erase(login);
}

void AimSession(TIdPOP3& client, const Account& account, int port, const TSessionLimits& limits)
{
    AimEither(client, account, port, limits);
    client.AutoLogin = true;
}

void AimSession(TIdIMAP4& client, const Account& account, int port, const TSessionLimits& limits)
{
    AimEither(client, account, port, limits);
    // Only lines already waiting are drained before a command: waiting 10 ms
    // for ones that may come made a first check of 1,000 unseen messages
    // take 11.7 s instead of about 1 (bench/bench_imap4.cpp).
    client.MilliSecsToWaitToClearBuffer = 0;
}

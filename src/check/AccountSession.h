#pragma once

#include "check/AccessTokens.h"
#include "check/CheckCycle.h"
#include "mail/Credentials.h"
#include "mail/IdClock.h"
#include "mail/IdLineAbort.h"

#include <memory>
#include <string>
#include <utility>

class TIdIMAP4;
class TIdPOP3;
class TJmapMemory;

// What one session with a mail server may cost, in milliseconds, whatever the
// server does: a server that accepts and then never answers must not hold the
// program. Tests shorten them.
struct TSessionLimits
{
    int ConnectTimeout = 10000;
    int ReadTimeout = 30000;
    // The whole session from the connect on: as long as checking one account
    // may take.
    int OperationTimeout = AccountCheckTimeout;
    // What the limits are measured on; null: the steady clock.
    std::shared_ptr<TIdClock> Clock = nullptr;
    // Where an OAuth2 account's sessions get their access tokens; null: such
    // an account cannot log in.
    std::shared_ptr<IAccessTokens> Tokens = nullptr;
    // What JMAP accounts keep between checks; null: each check is a full one.
    std::shared_ptr<TJmapMemory> Jmap = nullptr;
};

// Aims a client at an account for its next Connect: the login (an OAuth2
// account's with a token from the limits' Tokens, asked at each login, so a
// session that reconnects takes a fresh one), the host, the port (the
// account's text as the caller converted it), the security, and the limits
// with their clock.
void AimSession(TIdPOP3& client, const Account& account, int port, const TSessionLimits& limits);
void AimSession(TIdIMAP4& client, const Account& account, int port, const TSessionLimits& limits);

// The character set an account's server took its credentials in, kept for
// the running program by protocol, host, port and user name: the account's
// next sessions try it first. UTF-8 until a server takes another.
TIdCredentialCharset RememberedCredentialCharset(const std::string& login);
void RememberCredentialCharset(const std::string& login, TIdCredentialCharset charset);
std::string LoginOf(const Account& account, int port);

// A check or Delete client (TInterface) over one client of the mail library,
// aimed by SetAccount with the limits, which its owner may change between
// sessions.
template <typename TInterface, typename TClient>
class TAccountSession : public TInterface, public TSessionLimits
{
public:
    explicit TAccountSession(TClient& client, const TSessionLimits& limits = {})
        : TSessionLimits(limits), FClient(client)
    {
    }

    void SetAccount(const Account& account, int port) override
    {
        AimSession(FClient, account, port, *this);
        FLogin = LoginOf(account, port);
    }

protected:
    TClient& FClient;
    std::string FLogin;
};

// The mail library client a session owns, held ahead of the session that
// drives it.
template <typename TClient>
struct TOwnedClient
{
    TClient Owned;
};

// A check or Delete client (TSession) with a mail library client of its own:
// one per session run beside the user interface, so no two sessions share a
// line. `abort` ends the line from another thread.
template <typename TSession, typename TClient>
class TOwningSession : private TOwnedClient<TClient>, public TSession
{
public:
    TOwningSession(const TSessionLimits& limits, std::shared_ptr<TIdLineAbort> abort)
        : TSession(this->Owned, limits)
    {
        this->Owned.LineAbort = std::move(abort);
    }
};

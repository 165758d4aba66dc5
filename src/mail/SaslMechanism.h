#pragma once

#include "mail/Credentials.h"
#include "mail/MailTypes.h"

#include <memory>
#include <string>

// One SASL mechanism (RFC 4422) as a client speaks it. IMAP4's AUTHENTICATE
// and POP3's AUTH carry every mechanism the same way, so a mechanism is one
// class of this kind and one entry in MakeSASLMechanism. Challenges and
// responses are the decoded bytes; the protocols do the base64.
class TIdSASLMechanism
{
public:
    virtual ~TIdSASLMechanism() = default;

    // The name the server announces and the command carries: "PLAIN".
    virtual std::string Name() const = 0;
    // The response the client opens with, sent with the command where the
    // protocol allows it, else to the server's first, empty challenge.
    virtual std::string InitialResponse() = 0;
    // The response to a later challenge; false when the mechanism has none,
    // and the client cancels the exchange.
    virtual bool Respond(const std::string& challenge, std::string& response) = 0;
};

// PLAIN (RFC 4616): no authorization identity, the user name and the
// password, all in the initial response.
class TIdSASLPlain : public TIdSASLMechanism
{
public:
    explicit TIdSASLPlain(TIdCredentials credentials) : FCredentials(std::move(credentials)) {}

    std::string Name() const override { return "PLAIN"; }
    std::string InitialResponse() override;
    bool Respond(const std::string&, std::string&) override { return false; }

private:
    TIdCredentials FCredentials;
};

// A mechanism that carries an OAuth2 access token (RFC 6750) in place of a
// password: the credentials' Password is the token. A refused token comes
// back as one error challenge, which the mechanism answers as it must so the
// server can end the exchange with its refusal.
class TIdSASLBearer : public TIdSASLMechanism
{
public:
    explicit TIdSASLBearer(TIdCredentials credentials) : FCredentials(std::move(credentials)) {}

    bool Respond(const std::string& challenge, std::string& response) override;
    // The server's error challenge (its JSON as sent), empty until one came.
    const std::string& Error() const { return FError; }
    bool Refused() const { return FRefused; }

protected:
    // What answers the error challenge.
    virtual std::string ErrorResponse() const = 0;
    // Raises when the user name or the token cannot go into the response.
    void CheckCredentials(const std::string& userBytesBanned) const;

    TIdCredentials FCredentials;

private:
    std::string FError;
    bool FRefused = false;
};

// OAUTHBEARER (RFC 7628): a GS2 header naming the user, then the token.
class TIdSASLOAuthBearer : public TIdSASLBearer
{
public:
    using TIdSASLBearer::TIdSASLBearer;

    std::string Name() const override { return "OAUTHBEARER"; }
    std::string InitialResponse() override;

protected:
    std::string ErrorResponse() const override { return std::string(1, '\x01'); }
};

// XOAUTH2, as the large providers speak it: the user and the token.
class TIdSASLXOAuth2 : public TIdSASLBearer
{
public:
    using TIdSASLBearer::TIdSASLBearer;

    std::string Name() const override { return "XOAUTH2"; }
    std::string InitialResponse() override;

protected:
    std::string ErrorResponse() const override { return {}; }
};

// The mechanism the client speaks by `name` (any case), for `credentials`;
// null for a name it does not speak.
std::unique_ptr<TIdSASLMechanism> MakeSASLMechanism(const std::string& name, const TIdCredentials& credentials);

// How a client logs in.
enum class TIdLoginMethod
{
    Password, // IMAP4 "LOGIN", POP3 "USER" and "PASS"
    APOP,
    SASL,
    // SASL with an access token: the first token mechanism offered.
    OAuth2
};

struct TIdLoginChoice
{
    TIdLoginMethod Method = TIdLoginMethod::Password;
    // With SASL: the mechanism's name; empty when no mechanism asked for is
    // both offered and spoken.
    std::string Mechanism;

    bool operator==(const TIdLoginChoice&) const = default;
};

// The login for what the client was asked (`asked`, with SASL the mechanisms
// `mechanisms` in order) and what the server offers: `passwordDisabled` when
// it announces that it takes no password login (IMAP4 LOGINDISABLED; POP3
// capabilities without USER), `offered` its SASL mechanisms. A password login
// the server disables goes by the first mechanism it offers that the client
// speaks; with none, the password is tried as before, and refused. Only
// OAuth2 picks a mechanism that carries a token, OAUTHBEARER before XOAUTH2,
// among `mechanisms` where any are named.
TIdLoginChoice ChooseLogin(TIdLoginMethod asked, const TIdStrings& mechanisms, bool passwordDisabled,
                           const TIdStrings& offered);

// Base64 (RFC 4648) of the exchange's lines.
std::string SASLEncode(const std::string& bytes);

// A server may quote what it was sent: every copy of a secret in `text`
// (as sent, or as the base64 of the mechanism's first response) becomes
// "...", so a refusal's text can be shown and logged.
void HideSecret(std::string& text, const std::string& secret, TIdSASLMechanism& mechanism);
// False for text that is not canonical base64.
bool SASLDecode(const std::string& text, std::string& bytes);

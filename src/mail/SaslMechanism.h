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

// The mechanism the client speaks by `name` (any case), for `credentials`;
// null for a name it does not speak.
std::unique_ptr<TIdSASLMechanism> MakeSASLMechanism(const std::string& name, const TIdCredentials& credentials);

// How a client logs in.
enum class TIdLoginMethod
{
    Password, // IMAP4 "LOGIN", POP3 "USER" and "PASS"
    APOP,
    SASL
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
// speaks; with none, the password is tried as before, and refused.
TIdLoginChoice ChooseLogin(TIdLoginMethod asked, const TIdStrings& mechanisms, bool passwordDisabled,
                           const TIdStrings& offered);

// Base64 (RFC 4648) of the exchange's lines.
std::string SASLEncode(const std::string& bytes);
// False for text that is not canonical base64.
bool SASLDecode(const std::string& text, std::string& bytes);

#pragma once

#include <string>

// How an account's connection is secured. The numbers are what the hive
// stores; an absent value is asNone.
enum TAccountSecurity
{
    asNone = 0,      // plain text, the port as given
    asStartTLS = 1,  // STLS / STARTTLS before the login; never without it
    asImplicitTLS = 2 // TLS from the first byte (995, 993)
};

// One configured mailbox. Texts are 8-bit desktop text.
struct Account
{
    std::string Caption = "My Account";
    bool Enabled = true;
    std::string UserName = "User Name";
    std::string Password;
    std::string Host = "POP3 Server";
    std::string Port = "110"; // decimal text; converted when the account is checked
    bool IMAP4 = false;
    TAccountSecurity Security = asNone;
    // IMAP4: keep a session in IDLE where the server offers it, so new mail
    // is heard of at once instead of at the next check.
    bool Push = true;

    bool operator==(const Account&) const = default;
};

// The port a security kind moves a well-known port to: 110 and 995, 143 and
// 993 are partners; any other port stays as it is.
std::string PartnerPort(const std::string& port, TAccountSecurity security);

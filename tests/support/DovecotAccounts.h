#pragma once

#include "check/Account.h"
#include "support/Dovecot.h"

#include <string>

// An account of `user` on `server`, POP3 or IMAP4, on the port its security
// asks for: the implicit TLS port, or the plain one (STARTTLS included).
inline Account AccountOn(const Dovecot& server, const std::string& caption, const std::string& user, bool imap4,
                         TAccountSecurity security = asNone, const std::string& password = "secret")
{
    const bool implicit = security == asImplicitTLS;
    const int port = imap4 ? (implicit ? server.ImapsPort() : server.ImapPort())
                           : (implicit ? server.Pop3sPort() : server.Pop3Port());
    Account account;
    account.Caption = caption;
    account.UserName = user;
    account.Password = password;
    account.Host = server.Host();
    account.Port = std::to_string(port);
    account.IMAP4 = imap4;
    account.Security = security;
    return account;
}

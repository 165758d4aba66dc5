#pragma once

#include "mail/MailTypes.h"

#include <string>

class TIdIMAP4;
class TIdPOP3;

// How far opening an IMAP4 session got.
enum class TSessionOpened
{
    Ready,          // logged in, `mailbox` selected
    LoginRefused,   // the server refused the login
    Lacking,        // the server lacks a capability the caller needs
    MailboxRefused  // the server refused to select the mailbox
};

// The one way every user of an account's session (the check, push, Delete,
// Mark as read) opens it, on a client aimed by AimSession: connect, secure
// the line as the account asks, read the capabilities, log in, and select
// `mailbox` once the server offers every capability in `needs`. An accepted
// login's character set is kept for the account's next sessions (`login`:
// LoginOf). What the line or the security fails with is raised.
TSessionOpened OpenSession(TIdIMAP4& client, const std::string& login, const std::string& mailbox,
                           const TIdStrings& needs = {});
// The same for POP3, whose account has one mailbox: a refused login raises
// the server's refusal.
void OpenSession(TIdPOP3& client, const std::string& login);
// OpenSession up to the login: Ready once logged in. For the check, whose
// select belongs to its count of the messages.
TSessionOpened LogInSession(TIdIMAP4& client, const std::string& login, const TIdStrings& needs = {});

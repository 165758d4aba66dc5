#pragma once

#include "support/TestHelpers.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

// GNU Mailutils' imap4d (Debian: mailutils-imap4d) on 127.0.0.1 for the
// tests: an IMAP4 server whose IDLE says nothing while it lasts; it tells
// of new mail only in answer to DONE or another command. Its users are
// virtual ("ann@ternbell.test" with a password of the test's own), each
// with an mbox inbox; its configuration, passwords, mail and log live in
// one temporary folder.
//
//     Imap4d server;
//     const std::string login = server.AddUser("ann", "secret");
//     server.Start();
//     server.Deliver("ann", "Subject: hi\r\n\r\nbody\r\n");
//
// Every wait is bounded; the destructor stops the server and every process
// it started.
class Imap4d
{
public:
    // Empty when the server is installed here, else what is missing.
    static std::string Unavailable();

    Imap4d() = default;
    ~Imap4d();
    Imap4d(const Imap4d&) = delete;
    Imap4d& operator=(const Imap4d&) = delete;

    // Before Start; returns the user's login.
    std::string AddUser(const std::string& user, const std::string& password);
    // Listens on a free port and waits (at most 10 s) for its greeting;
    // throws when it does not come.
    void Start();
    void Stop();
    uint16_t Port() const { return FPort; }
    std::string Host() const { return "127.0.0.1"; }

    // Appends the message to the user's inbox, as a local delivery does.
    void Deliver(const std::string& user, const std::string& raw);

private:
    std::string InboxOf(const std::string& user) const { return FFolder.Path() + "/home/" + user + "/INBOX"; }

    TempFolder FFolder{"imap4d"};
    std::string FPasswords;
    uint16_t FPort = 0;
    pid_t FPid = -1;
};

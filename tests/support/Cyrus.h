#pragma once

#include "support/TestHelpers.h"

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A private Cyrus IMAP on 127.0.0.1 for the tests: IMAP4 and JMAP over plain
// HTTP, run from the tree scripts/setup.sh unpacks into the build folder
// (its packages cannot be installed beside Dovecot's). Configuration, user
// database, mail and sockets live in one temporary folder. Users log in with
// their plain name and password (HTTP Basic for JMAP); their INBOX exists
// from the start and new mail comes unseen, through LMTP.
//
//     Cyrus server;
//     server.AddUser("ann", "secret");
//     server.Start();
//     server.Deliver("ann", "Subject: hi\r\n\r\nbody\r\n");
//     // GET server.SessionUrl() as ann, then POST to its apiUrl
//
// Run as root, the services run as nobody (they refuse root); as anyone
// else, as that user. Every wait is bounded; the destructor stops the master
// and every process it started.
class Cyrus
{
public:
    // Thrown when the server cannot be prepared, does not come up or refuses
    // a command; the message says why.
    class Failure : public std::runtime_error
    {
    public:
        using std::runtime_error::runtime_error;
    };

    // Empty when the unpacked server is there and can run here, else what is
    // missing.
    static std::string Unavailable();

    Cyrus();
    ~Cyrus();
    Cyrus(const Cyrus&) = delete;
    Cyrus& operator=(const Cyrus&) = delete;

    // One more imapd.conf option ("jmap_pushpoll", "1"); before Start.
    void Set(const std::string& option, const std::string& value) { Options[option] = value; }

    // Before or after Start. Names as Cyrus takes them: letters, digits, "-"
    // and "_".
    void AddUser(const std::string& user, const std::string& password);

    // Writes the configuration, starts the master and waits (at most 20 s)
    // for the IMAP4 greeting and an HTTP answer, then makes the INBOX of
    // every user added so far.
    void Start();
    // Stops the master and waits (bounded) until its processes are gone;
    // SIGKILL for what stays. Safe to call twice.
    void Stop();
    bool Running() const { return MasterPid > 0; }

    std::string Host() const { return "127.0.0.1"; }
    uint16_t ImapPort() const { return PortImap; }
    uint16_t HttpPort() const { return PortHttp; }
    // The well-known JMAP address; the server answers it with a redirect
    // (301) to http://127.0.0.1:<port>/jmap, which serves the session.
    std::string SessionUrl() const;
    const std::string& Folder() const { return Root.Path(); }

    // Puts the message in the folder, unseen: into INBOX over LMTP, as the
    // mail system delivers; elsewhere by an IMAP4 APPEND of the user's.
    void Deliver(const std::string& user, const std::string& raw, const std::string& folder = "INBOX");
    // A folder beside INBOX ("/" separates levels), made as the user.
    void CreateFolder(const std::string& user, const std::string& folder);
    // The flags of each message in the folder, in order, as IMAP4 FETCH
    // gives them ("\Seen \Flagged"; empty for none) but for \Recent;
    // read-only.
    std::vector<std::string> Flags(const std::string& user, const std::string& folder = "INBOX");
    // Logs in as the user, sends the commands one after the other and
    // returns what came back up to and including the last tagged answer;
    // each must be OK.
    std::string Imap(const std::string& user, const std::vector<std::string>& commands);

private:
    std::string Tree() const;
    void WriteConfig() const;
    bool StartOnce(std::string& why);
    void SetPassword(const std::string& user, const std::string& password) const;
    void MakeInbox(const std::string& user);
    std::string ImapAs(const std::string& login, const std::string& password,
                       const std::vector<std::string>& commands);
    void Chown(const std::string& path) const;

    TempFolder Root{"cyrus"};
    std::map<std::string, std::string> Users;
    std::map<std::string, std::string> Options;
    std::string RunAs;
    std::string RunAsGroup;
    bool AsRoot = false;
    uint16_t PortImap = 0;
    uint16_t PortHttp = 0;
    pid_t MasterPid = -1;
};

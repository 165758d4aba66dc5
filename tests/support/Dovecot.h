#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A message as a bounce or a spam run brings it: `receivedBytes` of folded
// "Received" lines before the fields its sender wrote (`fields`, each line
// ending in CR LF), then a short body.
std::string MailAfterReceivedLines(std::size_t receivedBytes, const std::string& fields);

// A private Dovecot (POP3 and IMAP) on 127.0.0.1 for the tests and benchmarks.
// Everything it needs lives in one temporary folder: config, base_dir, log,
// passwd file and one Maildir per user. Run as root, the login processes use
// dovenull, the internal ones dovecot, and the mail is owned by nobody; run
// as anyone else, every service runs as that user.
//
//     Dovecot server;
//     server.AddUser("ann", "secret");
//     server.Start();
//     server.Deliver("ann", "Subject: hi\r\n\r\nbody\r\n");
//
// The destructor stops the server (and every process it started) and
// removes the folder (kept when TERNBELL_KEEP_DOVECOT is set, to read the
// log afterwards). Every wait is bounded.
class Dovecot
{
public:
    // Thrown when the server cannot be prepared or does not come up; the
    // message says why and carries the tail of the server's log.
    class Failure : public std::runtime_error
    {
    public:
        using std::runtime_error::runtime_error;
    };

    // Empty when a server can be started here, else the reason it cannot.
    static std::string Unavailable();

    Dovecot();
    ~Dovecot();
    Dovecot(const Dovecot&) = delete;
    Dovecot& operator=(const Dovecot&) = delete;

    // Offers APOP (a timestamp in the POP3 greeting); set before Start.
    void EnableApop(bool enable = true);
    // Folders under one "/" namespace, Junk, Trash and Sent marked for their
    // special use, and the mailbox list index (NOTIFY needs it). Before Start.
    void EnableFolders(bool enable = true) { Folders = enable; }
    // Keeps login and mail processes for the next connection, as a busy
    // server is set up, instead of one process per login: a session then
    // costs the server little more than its commands. Set before Start.
    void KeepProcesses(bool keep = true) { Keep = keep; }
    // Serves TLS with this certificate and key (PEM files): STLS and
    // STARTTLS on the plain ports, and implicit TLS on Pop3sPort and
    // ImapsPort. Set before Start.
    void EnableTls(const std::string& certFile, const std::string& keyFile);
    // Also takes OAuth2 access tokens (XOAUTH2 and OAUTHBEARER), checked at
    // the authorization server's introspection endpoint as a confidential
    // client (`introspectionUrl` carries its id and secret); the token's
    // "sub" is the user. Set before Start.
    void EnableOAuth2(const std::string& introspectionUrl) { Introspection = introspectionUrl; }
    // Listens on this loopback address too, on the well-known ports (110,
    // 143, 995, 993), where a private network's host names lead; for a
    // process with a network namespace of its own. Set before Start.
    void ServeOn(const std::string& address) { ServedAddress = address; }

    // Users may be added before or after Start. User names are used as file
    // names: no "/", ":" or line breaks.
    void AddUser(const std::string& user, const std::string& password);
    // The same, with an empty Maildir even for a user added before: its
    // mailbox as if the account had been deleted and made again.
    void ReplaceUser(const std::string& user, const std::string& password);

    // Writes the config, starts the master in the foreground and waits (at
    // most 15 s) until both ports accept connections.
    void Start();
    // Stops and starts again on the ports it had, as a server restarted by
    // its administrator does.
    void Restart();
    // Stops the master and waits (bounded) until all of its processes are
    // gone; SIGKILL when they do not go in time. Safe to call twice.
    void Stop();
    bool Running() const { return MasterPid > 0; }
    // Whether any process of the group still runs. Zombies do not count: the
    // master's children are reparented when it ends, and reaping them is up
    // to whoever adopted them.
    static bool GroupAlive(pid_t group);
    // Starts `args` (the program first) as the leader of a process group of
    // its own, so that every process it starts can be seen and ended; its
    // output goes to `log`, its input is empty. The spawn's error number, 0
    // when it started.
    static int SpawnGroupLeader(pid_t& pid, std::vector<std::string> args, const std::string& log,
                                char* const* envp);
    // Ends a master started so: SIGTERM, then the whole group by force where
    // it does not end within the bounds; waits until the group is empty.
    static void EndGroupLeader(pid_t pid);

    // The master's pid, which is also the id of the process group of all its
    // processes; -1 when stopped.
    pid_t Master() const { return MasterPid; }

    std::string Host() const { return "127.0.0.1"; }
    uint16_t Pop3Port() const { return PortPop3; }
    uint16_t ImapPort() const { return PortImap; }
    // 0 unless TLS is enabled.
    uint16_t Pop3sPort() const { return PortPop3s; }
    uint16_t ImapsPort() const { return PortImaps; }
    const std::string& Folder() const { return Root; }

    // Puts one message, the raw text as given, into new/ of the user's
    // Maildir. Messages are numbered by the server in delivery order.
    // Returns the file's base name.
    std::string Deliver(const std::string& user, const std::string& raw);
    // The same, already read: into cur/ with the seen flag.
    std::string DeliverSeen(const std::string& user, const std::string& raw);
    // Through the server's own storage (doveadm), so its indexes and the
    // sessions that watch them learn of it: a folder made, mail saved into
    // a folder, a folder renamed or deleted. Raises Failure when doveadm
    // fails.
    void CreateFolder(const std::string& user, const std::string& folder);
    void DeliverTo(const std::string& user, const std::string& folder, const std::string& raw);
    void RenameFolder(const std::string& user, const std::string& from, const std::string& to);
    void DeleteFolder(const std::string& user, const std::string& folder);
    // Sets the read flag of the inbox's messages that `search` finds
    // (doveadm's search query, "all", "subject x"), as another client would.
    void MarkSeen(const std::string& user, const std::string& search);
    // The texts of the messages left in the user's Maildir (new/ and cur/),
    // in delivery order.
    std::vector<std::string> Messages(const std::string& user) const;
    std::size_t CountMessages(const std::string& user) const;

    std::string Log() const;

    // What a server on the loopback port sends on a fresh connection up to
    // the first line feed (kept apart from the mail client under test);
    // whatever came when no line ends within `seconds`.
    static std::string FirstLine(uint16_t port, int seconds = 5);

private:
    std::string MaildirOf(const std::string& user) const;
    void WritePasswd(const std::string& user) const;
    void WriteConfig() const;
    bool StartOnce(std::string& why, bool samePorts = false);
    void Chown(const std::string& path) const;

    std::string Root;
    bool Apop = false;
    bool Keep = false;
    bool Folders = false;
    // Runs doveadm on this server's configuration; `input` on its stdin.
    void Doveadm(const std::string& arguments, const std::string& input = {}) const;
    std::map<std::string, std::string> Users;
    uint16_t PortPop3 = 0;
    uint16_t PortImap = 0;
    uint16_t PortPop3s = 0;
    uint16_t PortImaps = 0;
    std::string TlsCert;
    std::string TlsKey;
    std::string Introspection;
    std::string ServedAddress;
    pid_t MasterPid = -1;
    unsigned Sequence = 0;
    unsigned Replaced = 0;
    bool AsRoot = false;
};

#include "support/Cyrus.h"

#include "support/Dovecot.h"
#include "support/ScriptedServer.h"

#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace fs = std::filesystem;

namespace
{

using Clock = std::chrono::steady_clock;

// The host name the server greets with, and the SASL realm of its users.
const char* const ServerName = "ternbell.test";
// Makes every user's INBOX; no test user can be named so.
const char* const Admin = "cyrus-admin";
const char* const AdminPassword = "cyrus-admin-secret";

std::string TreeRoot()
{
    return std::string(TERNBELL_BINARY_DIR) + "/cyrus";
}

std::string Bin(const std::string& tree, const std::string& program)
{
    return tree + "/usr/lib/cyrus/bin/" + program;
}

// The folder of the unpacked shared libraries: the multiarch one that holds
// Cyrus's own.
std::string LibraryFolder(const std::string& tree)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(tree + "/usr/lib", ec))
        if (fs::exists(entry.path() / "libcyrus_min.so.0"))
            return entry.path().string();
    return {};
}

uint16_t FreePort()
{
    const int port = ScriptedServer::UnusedPort();
    if (port == 0)
        throw Cyrus::Failure(std::string("no free port: ") + strerror(errno));
    return static_cast<uint16_t>(port);
}

// Whether the root of this process's user namespace can become `uid`: not
// so in one that maps only root (unshare --map-root-user).
bool Mapped(uid_t uid)
{
    std::ifstream map("/proc/self/uid_map");
    unsigned long inside = 0, outside = 0, count = 0;
    while (map >> inside >> outside >> count)
        if (uid >= inside && uid - inside < count)
            return true;
    return false;
}

// A connection with every read and write bounded to 10 s; closed with it.
class Connection
{
public:
    Connection(int family, const sockaddr* address, socklen_t length)
    {
        FFd = socket(family, SOCK_STREAM, 0);
        if (FFd < 0)
            throw Cyrus::Failure(std::string("socket: ") + strerror(errno));
        timeval bound{10, 0};
        setsockopt(FFd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        if (connect(FFd, address, length) != 0)
        {
            const int error = errno;
            close(FFd);
            throw Cyrus::Failure(std::string("connect: ") + strerror(error));
        }
    }
    ~Connection() { close(FFd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    static Connection Tcp(uint16_t port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return Connection(AF_INET, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    static Connection Local(const std::string& path)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path)
            throw Cyrus::Failure("socket path too long: " + path);
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        return Connection(AF_UNIX, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }

    void Send(const std::string& bytes)
    {
        for (std::size_t sent = 0; sent < bytes.size();)
        {
            const ssize_t n = send(FFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                throw Cyrus::Failure("the server stopped reading");
            sent += static_cast<std::size_t>(n);
        }
    }
    // One line, without its CR LF.
    std::string Line()
    {
        std::string line;
        char c = 0;
        while (true)
        {
            const ssize_t n = recv(FFd, &c, 1, 0);
            if (n <= 0)
                throw Cyrus::Failure("the server said no more after: " + line);
            if (c == '\n')
                break;
            line += c;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    // An LMTP reply, its continuation lines included; throws unless its code
    // starts with one of `good`.
    std::string Reply(const std::string& good)
    {
        std::string reply;
        std::string line;
        do
        {
            line = Line();
            reply += line + "\n";
        } while (line.size() > 3 && line[3] == '-');
        if (line.empty() || good.find(line[0]) == std::string::npos)
            throw Cyrus::Failure("LMTP: " + reply);
        return reply;
    }

private:
    int FFd = -1;
};

// An IMAP4 quoted string.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text)
    {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// One shell word, whatever it holds.
std::string ShellWord(const std::string& text)
{
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

// The first line an HTTP server answers a request for its root with.
std::string HttpStatusLine(uint16_t port)
{
    try
    {
        Connection link = Connection::Tcp(port);
        link.Send("HEAD / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        return link.Line();
    }
    catch (const Cyrus::Failure&)
    {
        return {};
    }
}

std::string Tail(const std::string& text, std::size_t bytes)
{
    return text.size() <= bytes ? text : text.substr(text.size() - bytes);
}

} // namespace

std::string Cyrus::Unavailable()
{
    const std::string tree = TreeRoot();
    if (!fs::exists(tree + "/.complete") || access(Bin(tree + "/root", "master").c_str(), X_OK) != 0)
        return "Cyrus IMAP is not unpacked in " + tree + " (scripts/setup.sh fetches it)";
    if (access((tree + "/root/usr/sbin/saslpasswd2").c_str(), X_OK) != 0)
        return "saslpasswd2 is not unpacked in " + tree + " (scripts/setup.sh fetches it)";
    if (geteuid() == 0)
    {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || !getgrnam("nogroup"))
            return "running as root needs the user nobody and the group nogroup";
        if (!Mapped(nobody->pw_uid))
            return "Cyrus's services refuse to run as root, and this user namespace maps no other user";
    }
    return {};
}

Cyrus::Cyrus()
{
    AsRoot = geteuid() == 0;
    if (AsRoot)
    {
        RunAs = "nobody";
        RunAsGroup = "nogroup";
    }
    else
    {
        const passwd* pw = getpwuid(geteuid());
        const group* gr = getgrgid(getegid());
        if (!pw || !gr)
            throw Failure("the current user has no passwd or group entry");
        RunAs = pw->pw_name;
        RunAsGroup = gr->gr_name;
    }
    // The services' user must reach its folders.
    chmod(Root.Path().c_str(), 0755);
    for (const char* sub : {"conf", "spool", "sieve", "run"})
    {
        const std::string dir = Root.File(sub);
        fs::create_directories(dir);
        Chown(dir);
    }
}

Cyrus::~Cyrus()
{
    Stop();
}

std::string Cyrus::Tree() const
{
    return TreeRoot() + "/root";
}

void Cyrus::Chown(const std::string& path) const
{
    if (!AsRoot)
        return;
    const passwd* pw = getpwnam(RunAs.c_str());
    const group* gr = getgrnam(RunAsGroup.c_str());
    if (!pw || !gr || lchown(path.c_str(), pw->pw_uid, gr->gr_gid) != 0)
        throw Failure("cannot give " + path + " to " + RunAs);
}

void Cyrus::SetPassword(const std::string& user, const std::string& password) const
{
    const std::string input = Root.Write("password.in", password);
    chmod(input.c_str(), 0600);
    const std::string database = Root.File("sasldb2");
    const std::string log = Root.File("saslpasswd2.log");
    const std::string command = ShellWord(Tree() + "/usr/sbin/saslpasswd2") + " -f " + ShellWord(database) +
                                " -u " + ServerName + " -c -p " + ShellWord(user) + " <" + ShellWord(input) +
                                " >>" + ShellWord(log) + " 2>&1";
    const int status = std::system(command.c_str());
    fs::remove(input);
    if (status != 0)
        throw Failure("saslpasswd2 failed for " + user + ": " + ReadFile(log));
    Chown(database);
}

void Cyrus::AddUser(const std::string& user, const std::string& password)
{
    if (user.empty() || user == Admin ||
        user.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") != std::string::npos)
        throw Failure("unusable user name: " + user);
    if (password.empty() || password.find('\n') != std::string::npos)
        throw Failure("unusable password for " + user);
    SetPassword(user, password);
    Users[user] = password;
    if (Running())
        MakeInbox(user);
}

void Cyrus::WriteConfig() const
{
    const std::string& dir = Root.Path();
    std::ostringstream conf;
    conf << "configdirectory: " << dir << "/conf\n"
         << "partition-default: " << dir << "/spool\n"
         << "sievedir: " << dir << "/sieve\n"
         << "lmtpsocket: " << dir << "/run/lmtp\n"
         << "idlesocket: " << dir << "/run/idle\n"
         << "notifysocket: " << dir << "/run/notify\n"
         << "cyrus_user: " << RunAs << "\n"
         << "cyrus_group: " << RunAsGroup << "\n"
         << "servername: " << ServerName << "\n"
         << "admins: " << Admin << "\n"
         << "allowplaintext: yes\n"
         << "sasl_pwcheck_method: auxprop\n"
         << "sasl_auxprop_plugin: sasldb\n"
         << "sasl_sasldb_path: " << dir << "/sasldb2\n"
         << "sasl_mech_list: PLAIN LOGIN\n"
         << "httpmodules: jmap\n"
         << "conversations: yes\n"
         << "conversations_db: twoskip\n"
         // A test may deliver the same message twice and count both.
         << "duplicatesuppression: no\n";
    for (const auto& [option, value] : Options)
        conf << option << ": " << value << "\n";
    const std::string config = Root.Write("imapd.conf", conf.str());

    // Each program is told the configuration: the master does not pass it on.
    const std::string bin = Tree() + "/usr/lib/cyrus/bin/";
    const std::string with = " -C " + config + "\"";
    const std::string imap = std::to_string(PortImap);
    const std::string http = std::to_string(PortHttp);
    Root.Write("cyrus.conf",
               "START {\n"
               "  recover cmd=\"" + bin + "ctl_cyrusdb -r" + with + "\n"
               "}\n"
               "SERVICES {\n"
               "  imap cmd=\"" + bin + "imapd" + with + " listen=\"127.0.0.1:" + imap + "\" prefork=0\n"
               "  http cmd=\"" + bin + "httpd" + with + " listen=\"127.0.0.1:" + http + "\" prefork=0\n"
               // On a local socket LMTP needs no login.
               "  lmtp cmd=\"" + bin + "lmtpd" + with + " listen=\"" + dir + "/run/lmtp\" prefork=0\n"
               "}\n"
               "EVENTS {\n"
               "}\n");
}

void Cyrus::Start()
{
    if (Running())
        return;
    if (const std::string why = Unavailable(); !why.empty())
        throw Failure(why);
    SetPassword(Admin, AdminPassword);
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        if (StartOnce(why))
        {
            // In one session: inboxes made on connections of their own, back
            // to back, were at times given one mailbox id, and so one store.
            std::vector<std::string> creates;
            for (const auto& user : Users)
                creates.push_back("CREATE " + Quoted("user/" + user.first));
            if (!creates.empty())
                ImapAs(Admin, AdminPassword, creates);
            return;
        }
    }
    throw Failure("cyrus did not start: " + why);
}

bool Cyrus::StartOnce(std::string& why)
{
    PortImap = FreePort();
    do
        PortHttp = FreePort();
    while (PortHttp == PortImap);
    WriteConfig();

    const std::string log = Root.File("master.log");
    std::vector<std::string> environment;
    const std::string libraries = LibraryFolder(Tree());
    const char* inherited = getenv("LD_LIBRARY_PATH");
    environment.push_back("LD_LIBRARY_PATH=" + libraries +
                          (inherited && *inherited ? ":" + std::string(inherited) : ""));
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "LD_LIBRARY_PATH=", 16) != 0)
            environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (auto& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const std::string master = Bin(Tree(), "master");
    pid_t pid = -1;
    // A group of its own, so Stop can see and end every process it started.
    const int rc = Dovecot::SpawnGroupLeader(pid,
                                             {master, "-C", Root.File("imapd.conf"), "-M", Root.File("cyrus.conf"),
                                              "-p", Root.File("run/master.pid")},
                                             log, envp.data());
    if (rc != 0)
        throw Failure("cannot start " + master + ": " + strerror(rc));
    MasterPid = pid;

    // The master listens at once and starts a service at its first
    // connection: the greeting and the HTTP answer show both can run.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline)
    {
        int status = 0;
        if (waitpid(MasterPid, &status, WNOHANG) == MasterPid)
        {
            MasterPid = -1;
            why = "the master ended (status " + std::to_string(status) + "): " + Tail(ReadFile(log), 2000);
            return false;
        }
        if (Dovecot::FirstLine(PortImap, 2).rfind("* OK", 0) == 0 &&
            HttpStatusLine(PortHttp).rfind("HTTP/1.", 0) == 0 && fs::exists(Root.File("run/lmtp")))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "no IMAP4 greeting or HTTP answer within 20 s: " + Tail(ReadFile(log), 2000);
    Stop();
    return false;
}

void Cyrus::Stop()
{
    if (MasterPid <= 0)
        return;
    // The master ends its services when it ends.
    Dovecot::EndGroupLeader(std::exchange(MasterPid, -1));
}

std::string Cyrus::SessionUrl() const
{
    return "http://127.0.0.1:" + std::to_string(PortHttp) + "/.well-known/jmap";
}

std::string Cyrus::ImapAs(const std::string& login, const std::string& password,
                          const std::vector<std::string>& commands)
{
    if (!Running())
        throw Failure("cyrus is not running");
    Connection link = Connection::Tcp(PortImap);
    link.Line();
    std::string answers;
    std::vector<std::string> all = {"LOGIN " + Quoted(login) + " " + Quoted(password)};
    all.insert(all.end(), commands.begin(), commands.end());
    all.push_back("LOGOUT");
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        const std::string tag = "t" + std::to_string(i);
        link.Send(tag + " " + all[i] + "\r\n");
        std::string line;
        do
        {
            line = link.Line();
            if (i > 0)
                answers += line + "\n";
        } while (line.rfind(tag + " ", 0) != 0);
        if (line.rfind(tag + " OK", 0) != 0)
            throw Failure("IMAP4 as " + login + ": " + all[i].substr(0, i == 0 ? 5 : std::string::npos) +
                          " -> " + line);
    }
    return answers;
}

std::string Cyrus::Imap(const std::string& user, const std::vector<std::string>& commands)
{
    const auto found = Users.find(user);
    if (found == Users.end())
        throw Failure("no such user: " + user);
    return ImapAs(user, found->second, commands);
}

void Cyrus::MakeInbox(const std::string& user)
{
    ImapAs(Admin, AdminPassword, {"CREATE " + Quoted("user/" + user)});
}

void Cyrus::CreateFolder(const std::string& user, const std::string& folder)
{
    Imap(user, {"CREATE " + Quoted(folder)});
}

std::vector<std::string> Cyrus::Flags(const std::string& user, const std::string& folder)
{
    // UID numbers: "1:*" of an empty folder is not an error.
    const std::string answers = Imap(user, {"EXAMINE " + Quoted(folder), "UID FETCH 1:* (FLAGS)"});
    std::vector<std::string> flags;
    std::istringstream lines(answers);
    std::string line;
    while (std::getline(lines, line))
    {
        const std::size_t fetch = line.find(" FETCH (");
        const std::size_t open = line.find("FLAGS (");
        if (line.rfind("* ", 0) != 0 || fetch == std::string::npos || open == std::string::npos)
            continue;
        std::string list = line.substr(open + 7, line.find(')', open) - open - 7);
        // Only says which session saw the message first.
        if (const std::size_t recent = list.find("\\Recent"); recent != std::string::npos)
            list.erase(recent, list.compare(recent, 8, "\\Recent ") == 0 ? 8 : 7);
        while (!list.empty() && list.back() == ' ')
            list.pop_back();
        flags.push_back(list);
    }
    return flags;
}

void Cyrus::Deliver(const std::string& user, const std::string& raw, const std::string& folder)
{
    if (!Users.count(user))
        throw Failure("no such user: " + user);
    if (!Running())
        throw Failure("cyrus is not running");
    std::string data;
    for (const std::string& line : TextLines(raw))
        data += line + "\r\n";
    if (folder != "INBOX")
    {
        // LMTP files into another folder only where anyone may post; an
        // APPEND without flags leaves the message as unseen.
        Imap(user, {"APPEND " + Quoted(folder) + " {" + std::to_string(data.size()) + "+}\r\n" + data});
        return;
    }
    // A dot that starts a line is doubled.
    std::string stuffed;
    for (std::size_t at = 0; at < data.size();)
    {
        const std::size_t end = data.find("\r\n", at) + 2;
        if (data[at] == '.')
            stuffed += '.';
        stuffed.append(data, at, end - at);
        at = end;
    }
    Connection link = Connection::Local(Root.File("run/lmtp"));
    link.Reply("2");
    link.Send("LHLO ternbell.test\r\n");
    link.Reply("2");
    link.Send("MAIL FROM:<sender@ternbell.test>\r\n");
    link.Reply("2");
    link.Send("RCPT TO:<" + user + ">\r\n");
    link.Reply("2");
    link.Send("DATA\r\n");
    link.Reply("3");
    link.Send(stuffed + ".\r\n");
    link.Reply("2");
    link.Send("QUIT\r\n");
}

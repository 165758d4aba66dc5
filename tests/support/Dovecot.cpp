#include "support/Dovecot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace fs = std::filesystem;

namespace
{

using Clock = std::chrono::steady_clock;

std::string FindDovecot()
{
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/local/sbin";
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':'))
    {
        if (dir.empty())
            continue;
        std::string candidate = dir + "/dovecot";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// A port the kernel just handed out and released; the race with other
// programs taking it in between is covered by retrying the start.
uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw Dovecot::Failure(std::string("socket: ") + strerror(errno));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    {
        int err = errno;
        close(fd);
        throw Dovecot::Failure(std::string("bind: ") + strerror(err));
    }
    close(fd);
    return ntohs(addr.sin_port);
}

// True when a server on the port answers a fresh connection with a line
// that begins with the prefix. Waiting for the greeting, not just the
// accept, lets the login process finish its start-up (it talks to the stats
// service first); a server stopped in the middle of that lingers for seconds.
bool Greets(uint16_t port, const std::string& prefix)
{
    return Dovecot::FirstLine(port, 2).rfind(prefix, 0) == 0;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
        throw Dovecot::Failure("cannot write " + path);
    chmod(path.c_str(), mode);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Maildir names start with the delivery time; the server orders new mail by
// it, so a counter in its place keeps delivery order.
unsigned long OrderOf(const std::string& name)
{
    return std::strtoul(name.c_str(), nullptr, 10);
}

std::string Tail(const std::string& text, std::size_t lines)
{
    std::size_t pos = text.size();
    while (lines-- > 0 && pos > 0)
    {
        std::size_t nl = text.rfind('\n', pos - 1);
        if (nl == std::string::npos)
            return text;
        pos = nl;
    }
    return text.substr(pos);
}

} // namespace

bool Dovecot::GroupAlive(pid_t group)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec))
    {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // Read through the stream, which turns a process gone meanwhile (a
        // read failing with ESRCH) into a failed read, not an exception.
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // pid (comm) state ppid pgrp ...; comm may hold spaces and parentheses.
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(stat.substr(close + 1));
        char state = 0;
        long ppid = 0, pgrp = 0;
        fields >> state >> ppid >> pgrp;
        if (pgrp == group && state != 'Z' && state != 'X')
            return true;
    }
    return false;
}

std::string Dovecot::Unavailable()
{
    if (FindDovecot().empty())
        return "dovecot is not installed (Debian: dovecot-pop3d dovecot-imapd); "
               "the tests that need a real mail server are skipped";
    if (geteuid() == 0 && (!getpwnam("dovenull") || !getpwnam("dovecot") || !getpwnam("nobody")
                           || !getgrnam("nogroup")))
        return "running as root needs the users dovenull, dovecot and nobody and the group "
               "nogroup (created by the Debian dovecot-core package)";
    return {};
}

Dovecot::Dovecot()
{
    AsRoot = geteuid() == 0;
    std::string base = getenv("TMPDIR") && *getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp";
    std::string pattern = base + "/ternbell-dovecot-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw Failure("mkdtemp " + pattern + ": " + strerror(errno));
    Root = buf.data();
    // The unprivileged login and internal users must reach base_dir.
    chmod(Root.c_str(), 0755);
    for (const char* sub : {"/home", "/passwd.d"})
    {
        fs::create_directories(Root + sub);
        chmod((Root + sub).c_str(), 0755);
    }
}

Dovecot::~Dovecot()
{
    Stop();
    std::error_code ignored;
    if (!getenv("TERNBELL_KEEP_DOVECOT"))
        fs::remove_all(Root, ignored);
}

void Dovecot::EnableApop(bool enable)
{
    Apop = enable;
}

void Dovecot::EnableTls(const std::string& certFile, const std::string& keyFile)
{
    TlsCert = certFile;
    TlsKey = keyFile;
}

void Dovecot::Chown(const std::string& path) const
{
    if (!AsRoot)
        return;
    const passwd* pw = getpwnam("nobody");
    const group* gr = getgrnam("nogroup");
    if (!pw || !gr || lchown(path.c_str(), pw->pw_uid, gr->gr_gid) != 0)
        throw Failure("cannot give " + path + " to nobody:nogroup");
}

std::string Dovecot::MaildirOf(const std::string& user) const
{
    return Root + "/home/" + user + "/Maildir";
}

void Dovecot::AddUser(const std::string& user, const std::string& password)
{
    if (user.empty() || user.find_first_of(":/\n") != std::string::npos
        || password.find('\n') != std::string::npos)
        throw Failure("unusable user name or password: " + user);
    Users[user] = password;
    std::string home = Root + "/home/" + user;
    for (const char* sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"})
    {
        std::string dir = home + sub;
        fs::create_directories(dir);
        chmod(dir.c_str(), 0700);
        Chown(dir);
    }
    WritePasswd(user);
}

void Dovecot::ReplaceUser(const std::string& user, const std::string& password)
{
    if (Users.count(user))
    {
        // Put aside, not removed: a session of the old user that is still
        // ending writes there. No user name starts with the dot.
        const std::string home = Root + "/home/" + user;
        fs::rename(home, Root + "/home/.replaced-" + std::to_string(++Replaced) + "-" + user);
    }
    AddUser(user, password);
}

void Dovecot::WritePasswd(const std::string& user) const
{
    // One file per user: the server caches a passwd file and re-reads it at
    // most once a second, so a user added to a shared one might not be seen
    // by a login right after; a file of its own is read at its first login.
    std::string path = Root + "/passwd.d/" + user;
    WriteFile(path + ".new", user + ":{PLAIN}" + Users.at(user) + "\n", 0644);
    fs::rename(path + ".new", path);
}

void Dovecot::WriteConfig() const
{
    std::string loginUser = "dovenull";
    std::string internalUser = "dovecot";
    std::string mailUser = "nobody";
    std::string mailGroup = "nogroup";
    std::string firstUid = "1";
    if (!AsRoot)
    {
        const passwd* pw = getpwuid(geteuid());
        const group* gr = getgrgid(getegid());
        if (!pw || !gr)
            throw Failure("the current user has no passwd or group entry");
        loginUser = internalUser = mailUser = pw->pw_name;
        mailGroup = gr->gr_name;
        firstUid = std::to_string(std::min<uid_t>(pw->pw_uid, 500));
    }
    std::ostringstream c;
    c << "protocols = pop3 imap\n"
      << "listen = 127.0.0.1" << (ServedAddress.empty() ? "" : ", " + ServedAddress) << "\n"
      << "base_dir = " << Root << "/run\n"
      << "state_dir = " << Root << "/state\n"
      << "log_path = " << Root << "/dovecot.log\n"
      << (TlsCert.empty() ? std::string("ssl = no\n")
                          : "ssl = yes\nssl_cert = <" + TlsCert + "\nssl_key = <" + TlsKey
                                + "\nssl_min_protocol = TLSv1.2\n")
      << "disable_plaintext_auth = no\n"
      << "auth_mechanisms = plain" << (Apop ? " apop" : "") << (Introspection.empty() ? "" : " xoauth2 oauthbearer")
      << "\n"
      << "auth_failure_delay = 0\n"
      // User names as given: the default lower-cases them.
      << "auth_username_format = %u\n"
      << "default_login_user = " << loginUser << "\n"
      << "default_internal_user = " << internalUser << "\n"
      << (AsRoot ? "" : "default_internal_group = " + mailGroup + "\n")
      << "first_valid_uid = " << firstUid << "\n"
      << "mail_location = maildir:~/Maildir\n"
      << (Introspection.empty() ? std::string()
                                : "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + Root +
                                      "/oauth2.conf.ext\n}\n")
      << (Folders ? "mailbox_list_index = yes\n"
                    "namespace inbox {\n  inbox = yes\n  separator = /\n"
                    "  mailbox Junk {\n    special_use = \\Junk\n  }\n"
                    "  mailbox Trash {\n    special_use = \\Trash\n  }\n"
                    "  mailbox Sent {\n    special_use = \\Sent\n  }\n}\n"
                  : "")
      << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " << Root << "/passwd.d/%u\n}\n"
      << "userdb {\n  driver = static\n  args = uid=" << mailUser << " gid=" << mailGroup
      << " home=" << Root << "/home/%u\n}\n"
      << (Keep ? "service pop3 {\n  service_count = 0\n  process_min_avail = 1\n}\n"
                 "service imap {\n  service_count = 0\n  process_min_avail = 1\n}\n"
               : "")
      << "service pop3-login {\n  chroot =\n" << (Keep ? "  service_count = 0\n  process_min_avail = 1\n" : "")
      << "  inet_listener pop3 {\n    port = " << PortPop3 << "\n  }\n"
      << "  inet_listener pop3s {\n    port = " << PortPop3s << "\n  }\n}\n"
      << "service imap-login {\n  chroot =\n" << (Keep ? "  service_count = 0\n  process_min_avail = 1\n" : "")
      << "  inet_listener imap {\n    port = " << PortImap << "\n  }\n"
      << "  inet_listener imaps {\n    port = " << PortImaps << "\n  }\n}\n"
      // Without the penalty socket a failed login does not slow down every
      // later one from the same address.
      << "service anvil {\n  chroot =\n"
      << "  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n";
    WriteFile(Root + "/dovecot.conf", c.str(), 0644);
    if (!Introspection.empty())
        WriteFile(Root + "/oauth2.conf.ext",
                  "introspection_mode = post\nintrospection_url = " + Introspection +
                      "\nusername_attribute = sub\nactive_attribute = active\nactive_value = true\n",
                  0644);
}

void Dovecot::Start()
{
    if (Running())
        return;
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        if (StartOnce(why))
            return;
    }
    throw Failure("dovecot did not start: " + why + "\n" + Tail(Log(), 15));
}

void Dovecot::Restart()
{
    Stop();
    std::string why;
    if (!StartOnce(why, true))
        throw Failure("dovecot did not start again: " + why + "\n" + Tail(Log(), 15));
}

bool Dovecot::StartOnce(std::string& why, bool samePorts)
{
    std::string binary = FindDovecot();
    if (binary.empty())
        throw Failure(Unavailable());
    if (!ServedAddress.empty())
    {
        PortPop3 = 110;
        PortImap = 143;
        PortPop3s = TlsCert.empty() ? 0 : 995;
        PortImaps = TlsCert.empty() ? 0 : 993;
    }
    else if (!samePorts)
    {
        PortPop3 = FreePort();
        do
            PortImap = FreePort();
        while (PortImap == PortPop3);
        if (!TlsCert.empty())
        {
            do
                PortPop3s = FreePort();
            while (PortPop3s == PortPop3 || PortPop3s == PortImap);
            do
                PortImaps = FreePort();
            while (PortImaps == PortPop3 || PortImaps == PortImap || PortImaps == PortPop3s);
        }
    }
    WriteConfig();

    std::string conf = Root + "/dovecot.conf";
    std::string out = Root + "/dovecot.out";
    pid_t pid = -1;
    const int rc = SpawnGroupLeader(pid, {binary, "-F", "-c", conf}, out, environ);
    if (rc != 0)
        throw Failure("cannot start " + binary + ": " + strerror(rc));
    MasterPid = pid;

    auto deadline = Clock::now() + std::chrono::seconds(15);
    while (Clock::now() < deadline)
    {
        int status = 0;
        if (waitpid(MasterPid, &status, WNOHANG) == MasterPid)
        {
            MasterPid = -1;
            why = "the master exited early (status " + std::to_string(status) + "); "
                  + ReadFile(out);
            return false;
        }
        if (Greets(PortPop3, "+OK") && Greets(PortImap, "* OK"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "the ports did not accept connections within 15 s";
    Stop();
    return false;
}

std::string Dovecot::FirstLine(uint16_t port, int seconds)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::string line;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    {
        timeval tv{seconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            line += c;
    }
    close(fd);
    return line;
}

void Dovecot::Stop()
{
    if (MasterPid <= 0)
        return;
    EndGroupLeader(std::exchange(MasterPid, -1));
}

int Dovecot::SpawnGroupLeader(pid_t& pid, std::vector<std::string> args, const std::string& log,
                              char* const* envp)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, &attr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        pid = -1;
    return rc;
}

void Dovecot::EndGroupLeader(pid_t pid)
{
    auto waitMaster = [pid](std::chrono::milliseconds bound) {
        auto deadline = Clock::now() + bound;
        while (Clock::now() < deadline)
        {
            pid_t r = waitpid(pid, nullptr, WNOHANG);
            if (r == pid || (r < 0 && errno == ECHILD))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };
    kill(pid, SIGTERM);
    if (!waitMaster(std::chrono::seconds(10)))
    {
        kill(-pid, SIGKILL);
        waitMaster(std::chrono::seconds(5));
    }
    // The master's children notice its end by themselves; wait for the group
    // to empty, and end what is left after the bound.
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (GroupAlive(pid) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (GroupAlive(pid))
        kill(-pid, SIGKILL);
}

std::string MailAfterReceivedLines(std::size_t receivedBytes, const std::string& fields)
{
    std::string mail;
    for (unsigned hop = 0; mail.size() < receivedBytes; ++hop)
        mail += "Received: from relay" + std::to_string(hop) + ".example.net (relay.example.net [192.0.2."
                + std::to_string(hop % 250 + 1) + "])\r\n\tby mx.example.org with ESMTP id " + std::to_string(hop)
                + "\r\n\tfor <ann@example.org>; Mon, 7 Dec 2026 20:41:28 +0000\r\n";
    return mail + fields + "\r\nbody\r\n";
}

std::string Dovecot::Deliver(const std::string& user, const std::string& raw)
{
    if (!Users.count(user))
        throw Failure("no such user: " + user);
    ++Sequence;
    std::string name = std::to_string(1700000000UL + Sequence) + ".M" + std::to_string(Sequence)
                       + "P" + std::to_string(getpid()) + ".ternbell";
    std::string tmp = MaildirOf(user) + "/tmp/" + name;
    WriteFile(tmp, raw, 0600);
    Chown(tmp);
    fs::rename(tmp, MaildirOf(user) + "/new/" + name);
    return name;
}

std::string Dovecot::DeliverSeen(const std::string& user, const std::string& raw)
{
    const std::string name = Deliver(user, raw);
    fs::rename(MaildirOf(user) + "/new/" + name, MaildirOf(user) + "/cur/" + name + ":2,S");
    return name + ":2,S";
}

namespace
{

// One shell word, whatever it holds.
std::string ShellWord(const std::string& text)
{
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

} // namespace

void Dovecot::Doveadm(const std::string& arguments, const std::string& input) const
{
    const std::string in = Root + "/doveadm.in";
    WriteFile(in, input, 0644);
    const std::string command = "doveadm -c " + ShellWord(Root + "/dovecot.conf") + " " + arguments + " <" +
                                ShellWord(in) + " >>" + ShellWord(Root + "/doveadm.log") + " 2>&1";
    if (std::system(command.c_str()) != 0)
        throw Failure("doveadm failed: " + arguments + "\n" + Tail(ReadFile(Root + "/doveadm.log"), 5));
}

void Dovecot::CreateFolder(const std::string& user, const std::string& folder)
{
    Doveadm("mailbox create -u " + ShellWord(user) + " " + ShellWord(folder));
}

void Dovecot::DeliverTo(const std::string& user, const std::string& folder, const std::string& raw)
{
    Doveadm("save -u " + ShellWord(user) + " -m " + ShellWord(folder), raw);
}

void Dovecot::RenameFolder(const std::string& user, const std::string& from, const std::string& to)
{
    Doveadm("mailbox rename -u " + ShellWord(user) + " " + ShellWord(from) + " " + ShellWord(to));
}

void Dovecot::DeleteFolder(const std::string& user, const std::string& folder)
{
    Doveadm("mailbox delete -u " + ShellWord(user) + " " + ShellWord(folder));
}

void Dovecot::MarkSeen(const std::string& user, const std::string& search)
{
    Doveadm("flags add -u " + ShellWord(user) + " '\\Seen' mailbox INBOX " + search);
}

std::vector<std::string> Dovecot::Messages(const std::string& user) const
{
    std::vector<fs::path> files;
    for (const char* sub : {"/new", "/cur"})
    {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(MaildirOf(user) + sub, ec))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return OrderOf(a.filename().string()) < OrderOf(b.filename().string());
    });
    std::vector<std::string> texts;
    for (const auto& f : files)
        texts.push_back(ReadFile(f.string()));
    return texts;
}

std::size_t Dovecot::CountMessages(const std::string& user) const
{
    return Messages(user).size();
}

std::string Dovecot::Log() const
{
    return ReadFile(Root + "/dovecot.log");
}

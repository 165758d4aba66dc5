#include "support/Imap4d.h"

#include "support/Dovecot.h"
#include "support/ScriptedServer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace
{

const char* const Program = "/usr/sbin/imap4d";
const char* const Domain = "ternbell.test";

uint16_t FreePort()
{
    const int port = ScriptedServer::UnusedPort();
    if (port == 0)
        throw std::runtime_error(std::string("no free port: ") + strerror(errno));
    return static_cast<uint16_t>(port);
}

// The SHA-512 crypt form the server's password check compares with.
std::string Hashed(const std::string& password)
{
    const std::string command = "openssl passwd -6 -salt ternbell '" + password + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run openssl passwd");
    std::string hash;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        hash += buffer;
    if (pclose(pipe) != 0 || hash.empty())
        throw std::runtime_error("openssl passwd failed");
    return hash.substr(0, hash.find('\n'));
}

} // namespace

std::string Imap4d::Unavailable()
{
    if (access(Program, X_OK) != 0)
        return "imap4d is not installed (Debian: mailutils-imap4d)";
    return {};
}

Imap4d::~Imap4d()
{
    Stop();
}

std::string Imap4d::AddUser(const std::string& user, const std::string& password)
{
    const std::string home = FFolder.Path() + "/home/" + user;
    WriteFile(home + "/INBOX", "");
    chmod(home.c_str(), 0700);
    // Uid and gid 0: the server takes the user's identity for the session,
    // and the test's files are root's.
    FPasswords += user + ":" + Hashed(password) + ":0:0::" + home + ":/bin/sh\n";
    WriteFile(FFolder.Path() + "/passwd/" + Domain, FPasswords);
    return user + "@" + Domain;
}

void Imap4d::Start()
{
    if (FPid > 0)
        return;
    FPort = FreePort();
    const std::string port = std::to_string(FPort);
    const std::string config = FFolder.Write(
        "imap4d.conf", "mode daemon;\nforeground yes;\nport " + port + ";\nserver 127.0.0.1:" + port +
                           " {\n  tls-mode false;\n};\ntls-mode false;\n"
                           "auth {\n  authentication generic;\n  authorization virtdomain;\n};\n"
                           "virtdomain {\n  passwd-dir \"" + FFolder.Path() + "/passwd\";\n};\n"
                           "logging {\n  syslog no;\n};\n");
    const std::string log = FFolder.File("imap4d.log");
    // A group of its own: every session is a child, ended with it.
    const int rc = Dovecot::SpawnGroupLeader(FPid, {Program, "--config-file=" + config}, log, environ);
    if (rc != 0)
    {
        FPid = -1;
        throw std::runtime_error(std::string("cannot start imap4d: ") + strerror(rc));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (Dovecot::FirstLine(FPort, 2).rfind("* OK", 0) == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop();
    throw std::runtime_error("imap4d did not greet: " + ReadFile(log));
}

void Imap4d::Stop()
{
    if (FPid <= 0)
        return;
    const pid_t pid = std::exchange(FPid, -1);
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, WNOHANG);
}

void Imap4d::Deliver(const std::string& user, const std::string& raw)
{
    // mbox: a "From " line first, LF line ends, a blank line after.
    std::string message = "From sender@" + std::string(Domain) + " Mon Jan  1 00:00:00 2024\n";
    for (std::string line : TextLines(raw))
    {
        if (line.rfind("From ", 0) == 0)
            line.insert(0, ">");
        message += line + "\n";
    }
    // Appended, never rewritten: the server may be reading the inbox.
    std::ofstream inbox(InboxOf(user), std::ios::binary | std::ios::app);
    inbox << message << "\n";
    if (!inbox.flush())
        throw std::runtime_error("cannot deliver to " + InboxOf(user));
}

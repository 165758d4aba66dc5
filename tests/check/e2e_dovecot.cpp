// A private Dovecot for the end-to-end scripts. Starts the server with the
// users "ann" and "bob" (password "secret"), prints "pop3 <port>", then
// serves commands from standard input, one per line, answering "ok" or
// "error <why>":
//   deliver <file>              puts the file's text into ann's Maildir
//   deliver-to <user> <file>    the same into the user's Maildir
//   imap                        answers "imap <port>" 
//   tls                         answers "tls <pop3s port> <imaps port>"
//   folder <user> <name>        makes the folder (with TERNBELL_E2E_FOLDERS
//                               set, the server has folders and NOTIFY)
// With TERNBELL_E2E_TLS_DIR set, a throw-away CA is made in that folder
// (ca.pem, to be trusted through SSL_CERT_FILE) and the server serves TLS
// for 127.0.0.1 with a certificate it issued.
// End of input stops the server and removes its folder.
#include "support/Dovecot.h"
#include "support/DovecotFixture.h"

#include <cstdlib>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main()
{
    const std::string why = Dovecot::Unavailable();
    if (!why.empty())
    {
        std::cout << "unavailable " << why << std::endl;
        return 77;
    }
    try
    {
        const char* tlsDir = std::getenv("TERNBELL_E2E_TLS_DIR");
        const bool tls = tlsDir && *tlsDir;
        const char* folders = std::getenv("TERNBELL_E2E_FOLDERS");
        StartedDovecot started({.Tls = tls, .Folders = folders && *folders}, tls ? tlsDir : "");
        Dovecot& server = started.Server();
        server.AddUser("ann", "secret");
        server.AddUser("bob", "secret");
        std::cout << "pop3 " << server.Pop3Port() << std::endl;
        for (std::string line; std::getline(std::cin, line);)
        {
            std::string user = "ann";
            std::string file;
            if (line == "imap")
            {
                std::cout << "imap " << server.ImapPort() << std::endl;
                continue;
            }
            if (line == "tls")
            {
                std::cout << "tls " << server.Pop3sPort() << " " << server.ImapsPort() << std::endl;
                continue;
            }
            if (line.rfind("folder ", 0) == 0 && line.find(' ', 7) != std::string::npos)
            {
                server.CreateFolder(line.substr(7, line.find(' ', 7) - 7), line.substr(line.find(' ', 7) + 1));
                std::cout << "ok" << std::endl;
                continue;
            }
            if (line.rfind("deliver ", 0) == 0)
                file = line.substr(8);
            else if (line.rfind("deliver-to ", 0) == 0 && line.find(' ', 11) != std::string::npos)
            {
                user = line.substr(11, line.find(' ', 11) - 11);
                file = line.substr(line.find(' ', 11) + 1);
            }
            if (!file.empty())
            {
                std::ifstream in(file, std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                if (!in)
                {
                    std::cout << "error cannot read " << file << std::endl;
                    continue;
                }
                server.Deliver(user, text.str());
                std::cout << "ok" << std::endl;
            }
            else
                std::cout << "error unknown command" << std::endl;
        }
    }
    catch (const std::exception& e)
    {
        std::cout << "error " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

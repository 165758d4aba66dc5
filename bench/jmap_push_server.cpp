// A private Cyrus IMAP behind the tests' JMAP push relay, for the scripts
// that run the real program on a JMAP account with push. Starts the server
// with the users "ann" and "bob" (password "secret") and the relay, prints
// "jmap <session url through the relay> <relay port> <server's HTTP port>",
// then serves commands from standard input, one per line, answering "ok" or
// "error <why>":
//   deliver-to <user> <file>    the file's text into the user's INBOX
//   quit                        stops, as the end of input does
// Where the server cannot run here, prints "unavailable <why>" and exits 77.
// The end of input, or quit, stops the relay and the server and removes its
// folder: a script whose later children hold the input open says quit.
#include "support/Cyrus.h"
#include "support/JmapPushRelay.h"

#include <QCoreApplication>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv)
{
    const std::string why = Cyrus::Unavailable();
    if (!why.empty())
    {
        std::cout << "unavailable " << why << std::endl;
        return 77;
    }
    QCoreApplication app(argc, argv);
    try
    {
        Cyrus server;
        server.AddUser("ann", "secret");
        server.AddUser("bob", "secret");
        server.Start();
        JmapPushRelay relay(server.HttpPort());
        std::cout << "jmap " << relay.SessionUrl() << " " << relay.Port() << " " << server.HttpPort() << std::endl;
        for (std::string line; std::getline(std::cin, line) && line != "quit";)
        {
            const std::size_t space = line.find(' ', 11);
            if (line.rfind("deliver-to ", 0) != 0 || space == std::string::npos)
            {
                std::cout << "error unknown command" << std::endl;
                continue;
            }
            const std::string file = line.substr(space + 1);
            std::ifstream in(file, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            if (!in)
            {
                std::cout << "error cannot read " << file << std::endl;
                continue;
            }
            server.Deliver(line.substr(11, space - 11), text.str());
            std::cout << "ok" << std::endl;
        }
    }
    catch (const std::exception& e)
    {
        std::cout << "error " << e.what() << std::endl;
        return 1;
    }
    return 0;
}

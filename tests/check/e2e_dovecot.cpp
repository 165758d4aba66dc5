// A private Dovecot for the end-to-end script. Starts the server with the
// user "ann" (password "secret"), prints "pop3 <port>", then serves commands
// from standard input, one per line, answering "ok" or "error <why>":
//   deliver <file>   puts the file's text into ann's Maildir
// End of input stops the server and removes its folder.
#include "support/Dovecot.h"

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
        Dovecot server;
        server.AddUser("ann", "secret");
        server.Start();
        std::cout << "pop3 " << server.Pop3Port() << std::endl;
        for (std::string line; std::getline(std::cin, line);)
        {
            if (line.rfind("deliver ", 0) == 0)
            {
                std::ifstream in(line.substr(8), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                if (!in)
                {
                    std::cout << "error cannot read " << line.substr(8) << std::endl;
                    continue;
                }
                server.Deliver("ann", text.str());
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

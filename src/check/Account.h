#pragma once

#include <string>

// One configured mailbox. Texts are 8-bit desktop text.
struct Account
{
    std::string Caption = "My Account";
    bool Enabled = true;
    std::string UserName = "User Name";
    std::string Password;
    std::string Host = "POP3 Server";
    std::string Port = "110"; // decimal text; converted when the account is checked
    bool IMAP4 = false;
};

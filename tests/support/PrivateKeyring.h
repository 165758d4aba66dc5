#pragma once

#include "support/TestHelpers.h"

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

// A session bus of the test's own, never the user's, optionally with a
// Secret Service on it: gnome-keyring-daemon with its files in a temporary
// folder, its login keyring made and unlocked with a test password. The bus
// has no service folders, so nothing on it starts by itself (no prompter:
// a locked keyring stays locked). DBUS_SESSION_BUS_ADDRESS points at it for
// the object's life.
//
//     PrivateKeyring keyring;
//     keyring.Store({"protocol", "pop3", "host", "h", "port", "110", "user", "ann"}, "secret");
//
// Every wait is bounded; the destructor stops both daemons.
class PrivateKeyring
{
public:
    // Empty when the daemons are installed here, else what is missing.
    static std::string Unavailable();

    enum class TSetup
    {
        Unlocked,          // a login keyring, unlocked
        WithoutCollection, // the service runs, but has no keyring and cannot ask for one
        WithoutService,    // the bus alone
    };
    explicit PrivateKeyring(TSetup setup = TSetup::Unlocked);
    ~PrivateKeyring();
    PrivateKeyring(const PrivateKeyring&) = delete;
    PrivateKeyring& operator=(const PrivateKeyring&) = delete;

    const std::string& Address() const { return FAddress; }

    // Through secret-tool, apart from the code under test. Attributes come
    // in name, value pairs.
    void Store(const std::vector<std::string>& attributes, const std::string& secret,
               const std::string& label = "test item");
    // The secret kept under the attributes; "" when none.
    std::string Lookup(const std::vector<std::string>& attributes);
    // The labels of the items kept under the attributes.
    std::vector<std::string> Labels(const std::vector<std::string>& attributes);
    // Locks the login keyring.
    void Lock();

private:
    void Start(TSetup setup);
    std::string Tool(const std::vector<std::string>& arguments, const std::string& input = {});

    TempFolder FFolder{"keyring"};
    std::string FAddress;
    ScopedEnvironment FEnvironment;
    QProcess FBus;
    QProcess FKeyring;
};

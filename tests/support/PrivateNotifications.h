#pragma once

#include "support/PrivateKeyring.h"

#include <QProcess>

#include <memory>
#include <string>
#include <vector>

// A real notification server (dunst) on a private session bus of its own
// (PrivateKeyring's, without a keyring) and a private X server (Xvfb), so a
// test never reaches the user's desktop. dunstctl reads its state; its
// action menu goes to a script that records what was offered and picks the
// action asked for, so an action is invoked without a mouse.
//
//     PrivateNotifications server;
//     QDBusConnection bus = QDBusConnection::connectToBus(server.Address(), "test");
//     ...
//     EXPECT_EQ(server.Displayed(), 1);
//     std::string menu = server.InvokeAction("read");
//
// Every wait is bounded; the destructor stops dunst, Xvfb and the bus.
class PrivateNotifications
{
public:
    // Empty when dunst, dunstctl, Xvfb and the bus are installed, else what
    // is missing.
    static std::string Unavailable();

    PrivateNotifications();
    ~PrivateNotifications();
    PrivateNotifications(const PrivateNotifications&) = delete;
    PrivateNotifications& operator=(const PrivateNotifications&) = delete;

    const std::string& Address() const { return FBus.Address(); }

    // Notifications on the screen now.
    int Displayed();
    // One notification as the server kept it.
    struct TShown
    {
        std::string AppName;
        std::string Summary;
        std::string Body; // as sent, markup and all
        int Id = 0;
    };
    // Closes what is shown; then every notification closed so far, newest
    // first.
    std::vector<TShown> CloseAllAndHistory();
    // Opens the action menu of the notification shown and picks the action
    // with `key`; returns the menu as offered, one "#caption (summary)
    // [id,key]" line per action ("" when the menu did not open).
    std::string InvokeAction(const std::string& key);

    // Takes dunst off the bus (the bus and the X server stay), and brings
    // it back; the same as dunstctl's pause.
    void StopServer();
    void StartServer();
    void SetPaused(bool paused);

private:
    void Start();
    std::string Control(const std::vector<std::string>& arguments);

    PrivateKeyring FBus{PrivateKeyring::TSetup::WithoutService};
    TempFolder FFolder{"notifications"};
    std::string FDisplay;
    QProcess FX;
    QProcess FDunst;
};

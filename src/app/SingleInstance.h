#pragma once

#include "platform/Descriptor.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <sys/types.h>
#include <vector>

class QSocketNotifier;

// One ternbell per user and display. The first start listens on a local
// socket in the user's runtime folder; a later start finds it there, asks the
// running one to show its settings window and ends, so there is never a
// second tray icon checking the same accounts. A socket or lock left behind by
// a killed instance answers nobody and is taken over.
class TSingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit TSingleInstance(QString socketPath, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // True when this process is now the one instance and listens from here
    // on (also when it cannot listen: a start is never refused for that);
    // false when another instance runs and has been asked to show its
    // settings.
    bool Claim();

    // Whether the running instance confirmed the request of the last Claim
    // that returned false (it may be busy in a check and answer later).
    bool Acknowledged = false;

    // Run in the one instance when a later start asks for the settings.
    std::function<void()> OnShowSettings;
    // Run in the one instance for a request line that is not the settings'
    // ("status\n"): true when it was taken, and the connection with it
    // (moved out of `connection`); any other is closed.
    std::function<bool(const QByteArray& request, TDescriptor& connection)> OnRequest;

    // How long a later start waits for the running one's answer.
    int ReplyTimeout = 3000;
    // How long the one instance holds a connection that has not yet sent a
    // whole request.
    int PeerTimeout = 5000;

    // "<runtime folder>/ternbell-<display>.socket": $XDG_RUNTIME_DIR, or
    // Qt's private runtime folder when that is not set.
    static QString DefaultSocketPath();
    // The display the program shows on, as a file name part.
    static QString DisplayName();
    static QString DisplayNameFor(const QString& platform, const QString& x11Display,
                                  const QString& waylandDisplay);

private:
    class TPeer;

    bool AskRunning();
    bool Listen();
    void Accept();
    void Serve(TPeer* peer);
    void Drop(TPeer* peer);

    QString Path;
    TDescriptor FServer;
    std::unique_ptr<QSocketNotifier> FAcceptNotifier;
    // The socket file this instance made, so that it removes only its own.
    dev_t FSocketDevice = 0;
    ino_t FSocketInode = 0;
    // Connections accepted and not yet answered or dropped, oldest first.
    std::vector<TPeer*> FPeers;
};

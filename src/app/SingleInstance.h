#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

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

    // How long a later start waits for the running one's answer.
    int ReplyTimeout = 3000;

    // "<runtime folder>/ternbell-<display>.socket": $XDG_RUNTIME_DIR, or
    // Qt's private runtime folder when that is not set.
    static QString DefaultSocketPath();
    // The display the program shows on, as a file name part.
    static QString DisplayName();

private:
    bool AskRunning();
    void Serve(QLocalSocket* peer);

    QString Path;
    std::unique_ptr<QLocalServer> Server;
};

#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TCheckClient;
class TCheckCycle;
class TMessageRows;
class TScrollLockBlinker;
class TfrmNewMail;
class TfrmSettings;

// The check cycle and the notification actions wired to the real windows:
// the settings window's controls are the configuration, the notification
// window's list holds the rows, the tray icons and timers are the settings
// window's. The shell's timer tick calls CheckAccounts after it has stopped
// the timer and loaded the configuration.
class TMailCheck : public QObject
{
public:
    // pop3, imap4: the clients that check the accounts, owned by the caller.
    TMailCheck(TfrmSettings& settings, TfrmNewMail& newMail, TCheckClient& pop3, TCheckClient& imap4,
               QObject* parent = nullptr);
    ~TMailCheck() override;

    // Steps after the load: see TCheckCycle::RunChecks.
    void CheckAccounts();

    TCheckCycle& Cycle();
    TScrollLockBlinker& Blinker();
    TMessageRows& Rows();

    // Queues one execute command (no shell, no wait): they start in order, a
    // few at a time; a failed start is shown in an error box. Replaceable so
    // tests can watch the calls.
    std::function<void(const std::vector<std::string>& arguments)> RunCommand;

private:
    class THost;
    std::unique_ptr<THost> FHost;
};

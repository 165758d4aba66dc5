#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TConfig;
class TAccountSecrets;
class TCheckClient;
class TCheckCycle;
struct TCycleConfig;
class TMessageRows;
class TScrollLockBlinker;
class TTrayParts;
class TfrmNewMail;

// The check cycle and the notification actions wired to the real windows:
// each round reads a copy of the configuration value, the notification
// window's list holds the rows, the tray icons and timers are the shell's.
// The shell's timer tick calls CheckAccounts after it has stopped the timer
// and loaded the configuration.
class TMailCheck : public QObject
{
public:
    // config: the program's configuration value; pop3, imap4: the clients
    // that check the accounts. All are the caller's and outlive this.
    TMailCheck(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config, TCheckClient& pop3,
               TCheckClient& imap4, QObject* parent = nullptr);
    ~TMailCheck() override;

    // One round over the configuration as it stands; the list is emptied
    // first when "Check now" asked for it. With a keyring the passwords the
    // round lacks are asked for first and the round runs when all answered
    // (at once where none is needed); a request while they are asked for
    // adds nothing.
    void CheckAccounts();
    // The keyring the passwords are read from; none: the value's own.
    void UseSecrets(TAccountSecrets* secrets);

    TCheckCycle& Cycle();
    TScrollLockBlinker& Blinker();
    TMessageRows& Rows();

    // Queues one execute command (no shell, no wait): they start in order, a
    // few at a time; a failed start is shown in an error box. Replaceable so
    // tests can watch the calls.
    std::function<void(const std::vector<std::string>& arguments)> RunCommand;

private:
    void RunRound(const TCycleConfig& config, bool clearList);

    class THost;
    std::unique_ptr<THost> FHost;
};

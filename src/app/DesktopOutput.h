#pragma once

#include "desktop/Blinker.h"
#include "check/CheckCycle.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TConfig;
class TDesktopNotifier;
class TMediaPlayer;
class TTrayParts;
class TfrmNewMail;

// What a cycle tells, on the real desktop: the tray icons, the notification
// window's headline, the Scroll Lock LED, the sound, and the news of new mail
// as a notification with actions where a notification server runs, else
// the new-mail icon's balloon.
class TDesktopOutput : public QObject, public TCycleOutput
{
public:
    // config: the program's configuration value, the caller's, outliving this.
    TDesktopOutput(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config);
    ~TDesktopOutput() override;

    // The caller's, outliving this; none: the balloon.
    TDesktopNotifier* Notifier = nullptr;
    // Where the execute commands go.
    std::function<void(const std::vector<std::string>& arguments)> Run;
    // Whether "Mark as read" is offered with the news.
    std::function<bool()> OffersMarkRead;
    // The messages the notification shown tells of.
    std::vector<TToldMessage> Shown;
    // What waits, after every summary of the cycle.
    std::function<void(const TMailState& state)> OnMailState;

    TScrollLockBlinker& Blinker() { return FBlink; }

    // While quiet the tray says so: the hint begins with `note` (when the
    // quiet ends), and the idle picture is the quiet one. "" when not quiet.
    void SetQuietNote(const std::string& note);

    int TrayPicture() override;
    void SetTrayPicture(int index) override;
    void SetTrayHint(const std::string& hint) override;
    void SetHeadline(const std::string& text) override;
    void SetNewMailIconVisible(bool visible) override;
    std::string TimeText() override;
    void StartBlinking() override;
    void PlaySound() override;
    void PlaySoundFile(const std::string& file) override;
    bool NotificationVisible() override;
    void ShowNotification() override;
    void RunCommand(const std::vector<std::string>& arguments) override;
    void ShowBalloon(const TNewMailNews& news) override;
    void KeepNews(const TNewMailNews& news) override;
    void WithdrawNews() override;
    void NewsLeft(const TNewMailNews& rest) override;
    void MailStateChanged(const TMailState& state) override;

private:
    void Balloon(const TNewMailNews& news);

    TTrayParts& FTray;
    TfrmNewMail& FNewMail;
    TScrollLockBlinker FBlink;
    // An account's own sound, opened when first played and again when the
    // file changes.
    std::unique_ptr<TMediaPlayer> FAccountSound;
    std::string FHint; // as the cycle last gave it
    std::string FQuietNote;
    void ShowHint();
};

#include "app/MailCheck.h"

#include "app/TrayParts.h"
#include "check/Announced.h"
#include "check/Blinker.h"
#include "check/CheckCycle.h"
#include "check/CheckRules.h"
#include "check/MessageRows.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/Application.h"
#include "desktop/MediaPlayer.h"
#include "desktop/ScrollLock.h"
#include "desktop/TrayIcon.h"
#include "i18n/Translate.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "platform/WholeFile.h"

#include <QLabel>
#include <QTimer>

#include <utility>

namespace
{

TCycleConfig CycleConfigOf(const TConfig& c)
{
    TCycleConfig cycle;
    cycle.Settings.NotifyOnlyNewMsg = c.NotifyOnlyNewMsg;
    cycle.Settings.RequiredPriority = c.RequiredPriority;
    cycle.Settings.SilentMode = c.ScrLckBlinking > 0;
    cycle.Settings.Sound = c.PlaySound;
    cycle.Settings.ShowForm = c.ShowForm;
    cycle.Settings.ShowIcon = c.ShowIcon;
    cycle.Settings.Execute = c.Execute;
    cycle.Accounts = c.Accounts;
    return cycle;
}

// The tray keeps at most this much of a balloon's title and text.
constexpr std::size_t BalloonTitleLimit = 63;
constexpr std::size_t BalloonTextLimit = 255;

} // namespace

class TMailCheck::THost : public TCycleOutput
{
public:
    THost(TMailCheck& owner, TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config,
          TCheckClient& pop3, TCheckClient& imap4)
        : Owner(owner), Tray(tray), NewMail(newMail), Config(config),
          Blink(*tray.timBlinking,
                [&config] { return static_cast<int>(static_cast<uint16_t>(config.ScrLckBlinking)); },
                TScrollLockLed{[] { return ScrollLockLedOn(); },
                               [](bool on) { SetScrollLockLed(on); }}),
          Cycle(newMail.Rows(), *this, pop3, imap4)
    {
    }

    // Before the first round, not at start: the memory of what was told.
    void RecallMemory()
    {
        if (Cycle.Announced)
            return;
        MemoryPath = UserStatePath("announced");
        Memory = TAnnounced::Load(MemoryPath);
        Cycle.Announced = &Memory;
    }

    // After a round: the memory, for the accounts still configured, on disk
    // when it changed. A write that fails costs only the memory.
    void KeepMemory(const std::vector<Account>& accounts)
    {
        std::vector<std::string> keys;
        for (const Account& a : accounts)
            keys.push_back(TAnnounced::KeyOf(a));
        Memory.Retain(keys);
        if (!Memory.Changed())
            return;
        try
        {
            Memory.Save(MemoryPath);
        }
        catch (const Exception&)
        {
        }
    }

    int TrayPicture() override { return Tray.triMail->PictureIndex(); }
    void SetTrayPicture(int index) override { Tray.triMail->SetPictureIndex(index); }
    void SetTrayHint(const std::string& hint) override { Tray.triMail->SetHint(FromCodePage(hint)); }
    void SetHeadline(const std::string& text) override
    {
        NewMail.lblNewMessage->setText(FromCodePage(text));
    }
    void SetNewMailIconVisible(bool visible) override { Tray.triNewMsg->SetVisible(visible); }
    std::string TimeText() override { return LongTimeTextNow(); }

    void StartBlinking() override { Blink.timBlinkingActivate(); }
    void PlaySound() override
    {
        // The player is not rewound before a play, but a chime that has played
        // to its end starts again, so every notification is heard.
        TMediaPlayer& player = *Tray.mediaPlayer;
        if (player.IsOpen() && !player.IsPlaying() && player.Position() >= player.Length())
            player.Rewind();
        player.Play();
    }
    bool NotificationVisible() override { return NewMail.isVisible(); }
    void ShowNotification() override { NewMail.show(); }
    void RunCommand(const std::vector<std::string>& arguments) override
    {
        if (Owner.RunCommand)
            Owner.RunCommand(arguments);
    }
    void ShowBalloon(const std::string& title, const std::string& text) override
    {
        Tray.triNewMsg->ShowBalloon(FromCodePage(title.substr(0, BalloonTitleLimit)),
                                    FromCodePage(text.substr(0, BalloonTextLimit)),
                                    TTrayIcon::DesktopDisplayTime);
    }

    TMailCheck& Owner;
    TTrayParts& Tray;
    TfrmNewMail& NewMail;
    const TConfig& Config;
    TScrollLockBlinker Blink;
    TCheckCycle Cycle;
    std::string MemoryPath;
    TAnnounced Memory;
    TAccountSecrets* Secrets = nullptr;
    bool Gathering = false; // passwords are being asked for a round
    // Execute commands: a few at a time, the rest wait their turn.
    TCommandQueue Commands;
    QTimer CommandPump;
};

TMailCheck::TMailCheck(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config,
                       TCheckClient& pop3, TCheckClient& imap4, QObject* parent)
    : QObject(parent), FHost(std::make_unique<THost>(*this, tray, newMail, config, pop3, imap4))
{
    FHost->Commands.OnStartFailed = [this](const std::string& message) {
        // Shown once the cycle is through, not in the middle of it.
        QMetaObject::invokeMethod(
            this, [message] { TApplication::ShowException(message); }, Qt::QueuedConnection);
    };
    FHost->CommandPump.setInterval(50);
    connect(&FHost->CommandPump, &QTimer::timeout, this, [this] {
        FHost->Commands.Pump();
        if (FHost->Commands.Waiting() == 0 && FHost->Commands.Running() == 0)
            FHost->CommandPump.stop();
    });
    RunCommand = [this](const std::vector<std::string>& arguments) {
        FHost->Commands.Add(arguments);
        if (!FHost->CommandPump.isActive())
            FHost->CommandPump.start();
    };
}

TMailCheck::~TMailCheck() = default;

void TMailCheck::CheckAccounts()
{
    // A copy: the round reads the configuration as it stood when it began.
    TCycleConfig config = CycleConfigOf(FHost->Config);
    if (!FHost->Secrets)
        return RunRound(config, std::exchange(ClearListPending, false));
    if (FHost->Gathering)
        return;
    FHost->Gathering = true;
    const bool clearList = std::exchange(ClearListPending, false);
    FHost->Secrets->Gather(config.Accounts, [this, config, clearList](std::vector<Account> accounts,
                                                                      std::vector<std::string> withheld) mutable {
        FHost->Gathering = false;
        config.Accounts = std::move(accounts);
        config.Withheld = std::move(withheld);
        RunRound(config, clearList);
    });
}

void TMailCheck::UseSecrets(TAccountSecrets* secrets)
{
    FHost->Secrets = secrets;
}

void TMailCheck::RunRound(const TCycleConfig& config, bool clearList)
{
    FHost->RecallMemory();
    try
    {
        FHost->Cycle.RunChecks(config, clearList);
    }
    catch (...)
    {
        FHost->KeepMemory(config.Accounts);
        throw;
    }
    FHost->KeepMemory(config.Accounts);
}

TCheckCycle& TMailCheck::Cycle()
{
    return FHost->Cycle;
}

TScrollLockBlinker& TMailCheck::Blinker()
{
    return FHost->Blink;
}

TMessageRows& TMailCheck::Rows()
{
    return FHost->NewMail.Rows();
}

#include "app/MailCheck.h"

#include "check/Blinker.h"
#include "check/CheckCycle.h"
#include "check/CheckRules.h"
#include "check/MessageRows.h"
#include "check/Imap4CheckClient.h"
#include "config/AccountRows.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "desktop/Application.h"
#include "desktop/TrayIcon.h"
#include "desktop/UpDownControl.h"
#include "i18n/Translate.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"
#include "desktop/MediaPlayer.h"
#include "platform/Process.h"
#include "desktop/ScrollLock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace
{

std::string Text(const QLineEdit* edit)
{
    return ToCodePage(edit->text());
}

// The tray keeps at most this much of a balloon's title and text.
constexpr std::size_t BalloonTitleLimit = 63;
constexpr std::size_t BalloonTextLimit = 255;

} // namespace

class TMailCheck::THost : public TCycleHost
{
public:
    THost(TMailCheck& owner, TfrmSettings& settings, TfrmNewMail& newMail, TCheckClient& pop3,
          TCheckClient& imap4)
        : Owner(owner), SettingsForm(settings), NewMail(newMail), Pop3(pop3), Imap4(imap4),
          List(*newMail.lvwMessages,
               [&newMail](int image) { return newMail.imlMessages.value(image); }),
          Blink(*settings.timBlinking,
                [&settings] { return static_cast<int>(static_cast<uint16_t>(
                                  settings.spnLedActiveTime->Position())); },
                TScrollLockLed{[] { return ScrollLockLedOn(); },
                               [](bool on) { SetScrollLockLed(on); }}),
          Cycle(*this)
    {
    }

    TMessageRows& Rows() override { return List; }

    std::vector<Account> Accounts() override { return AccountsOfList(*SettingsForm.lvwAccounts); }

    TCycleSettings Settings() override
    {
        TCycleSettings s;
        s.NotifyOnlyNewMsg = SettingsForm.chkNotifyNewMsg->isChecked();
        s.RequiredPriority = SettingsForm.cboPriority->currentIndex();
        s.SilentMode = SettingsForm.chkSilentMode->isChecked();
        s.Sound = Text(SettingsForm.txtSound);
        s.ShowForm = SettingsForm.chkShowForm->isChecked();
        s.ShowIcon = Text(SettingsForm.txtShowIcon);
        s.Execute = Text(SettingsForm.txtExecute);
        return s;
    }

    TCheckClient& Client(bool imap4) override
    {
        if (imap4)
            return Imap4;
        return Pop3;
    }

    bool& ClearListPending() override { return ::ClearListPending; }

    int TrayPicture() override { return SettingsForm.triMail->PictureIndex(); }
    void SetTrayPicture(int index) override { SettingsForm.triMail->SetPictureIndex(index); }
    void SetTrayHint(const std::string& hint) override
    {
        SettingsForm.triMail->SetHint(FromCodePage(hint));
    }
    void SetHeadline(const std::string& text) override
    {
        NewMail.lblNewMessage->setText(FromCodePage(text));
    }
    void SetNewMailIconVisible(bool visible) override { SettingsForm.triNewMsg->SetVisible(visible); }
    std::string TimeText() override { return LongTimeTextNow(); }

    void StartBlinking() override { Blink.timBlinkingActivate(); }
    void PlaySound() override
    {
        // The player is not rewound before a play, but a chime that has played
        // to its end starts again, so every notification is heard.
        TMediaPlayer& player = *SettingsForm.mediaPlayer;
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
        SettingsForm.triNewMsg->ShowBalloon(FromCodePage(title.substr(0, BalloonTitleLimit)),
                                         FromCodePage(text.substr(0, BalloonTextLimit)),
                                         TTrayIcon::DesktopDisplayTime);
    }

    TMailCheck& Owner;
    TfrmSettings& SettingsForm;
    TfrmNewMail& NewMail;
    TCheckClient& Pop3;
    TCheckClient& Imap4;
    TTreeWidgetRows List;
    TScrollLockBlinker Blink;
    TCheckCycle Cycle;
    // Execute commands: a few at a time, the rest wait their turn.
    TCommandQueue Commands;
    QTimer CommandPump;
};

TMailCheck::TMailCheck(TfrmSettings& settings, TfrmNewMail& newMail, TCheckClient& pop3,
                       TCheckClient& imap4, QObject* parent)
    : QObject(parent), FHost(std::make_unique<THost>(*this, settings, newMail, pop3, imap4))
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
    FHost->Cycle.RunChecks();
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
    return FHost->List;
}

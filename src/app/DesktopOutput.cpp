#include "app/DesktopOutput.h"

#include "app/TrayParts.h"
#include "check/CheckRules.h"
#include "config/Config.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/MediaPlayer.h"
#include "desktop/ScrollLock.h"
#include "desktop/TrayIcon.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"

#include <QLabel>
#include <QPointer>

#include <algorithm>

namespace
{

// The tray keeps at most this much of a balloon's title and text.
constexpr std::size_t BalloonTitleLimit = 63;
constexpr std::size_t BalloonTextLimit = 255;

} // namespace

TDesktopOutput::TDesktopOutput(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config)
    : FTray(tray), FNewMail(newMail),
      FBlink(*tray.timBlinking, [&config] { return static_cast<int>(static_cast<uint16_t>(config.ScrLckBlinking)); },
             TScrollLockLed{[] { return ScrollLockLedOn(); }, [](bool on) { SetScrollLockLed(on); }})
{
}

TDesktopOutput::~TDesktopOutput() = default;

int TDesktopOutput::TrayPicture()
{
    const int index = FTray.triMail->PictureIndex();
    return index == QuietTrayPictureIndex ? tpIdle : index;
}

void TDesktopOutput::SetTrayPicture(int index)
{
    FTray.ShowPicture(index == tpIdle && !FQuietNote.empty() ? QuietTrayPictureIndex : index);
}

void TDesktopOutput::SetTrayHint(const std::string& hint)
{
    FHint = hint;
    ShowHint();
}

void TDesktopOutput::SetQuietNote(const std::string& note)
{
    FQuietNote = note;
    ShowHint();
    const int index = FTray.triMail->PictureIndex();
    if (index == tpIdle || index == QuietTrayPictureIndex)
        SetTrayPicture(tpIdle);
}

void TDesktopOutput::ShowHint()
{
    const std::string hint = FQuietNote.empty() || FHint.empty() ? FQuietNote + FHint : FQuietNote + "\n" + FHint;
    FTray.triMail->SetHint(FromCodePage(CutAtCharacter(hint, TrayHintLimit)));
}

void TDesktopOutput::SetHeadline(const std::string& text)
{
    FNewMail.lblNewMessage->setText(FromCodePage(text));
}

void TDesktopOutput::SetNewMailIconVisible(bool visible)
{
    FTray.triNewMsg->SetVisible(visible);
}

std::string TDesktopOutput::TimeText()
{
    return LongTimeTextNow();
}

void TDesktopOutput::StartBlinking()
{
    FBlink.timBlinkingActivate();
}

void TDesktopOutput::PlaySound()
{
    // The player is not rewound before a play, but a chime that has played
    // to its end starts again, so every notification is heard.
    TMediaPlayer& player = *FTray.mediaPlayer;
    if (player.IsOpen() && !player.IsPlaying() && player.Position() >= player.Length())
        player.Rewind();
    player.Play();
}

void TDesktopOutput::PlaySoundFile(const std::string& file)
{
    // The file is the account's; it is opened like the common one, and a
    // file that cannot be opened fails as that one does.
    if (!FAccountSound || FAccountSound->FileName != file)
    {
        FAccountSound = std::make_unique<TMediaPlayer>();
        FAccountSound->FileName = file;
        FAccountSound->AutoRewind = true;
        FAccountSound->Open();
    }
    FAccountSound->Rewind();
    FAccountSound->Play();
}

bool TDesktopOutput::NotificationVisible()
{
    return FNewMail.isVisible();
}

void TDesktopOutput::ShowNotification()
{
    FNewMail.show();
}

void TDesktopOutput::RunCommand(const std::vector<std::string>& arguments)
{
    if (Run)
        Run(arguments);
}

void TDesktopOutput::ShowBalloon(const TNewMailNews& news)
{
    if (Notifier && Notifier->Available())
    {
        const TNewMailNotice text = NewMailNotice(news, OffersMarkRead && OffersMarkRead());
        QPointer<TDesktopOutput> self(this);
        Shown = news.Told;
        TDesktopNotice notice{text.Summary, text.Body, text.Actions};
        notice.Urgency = text.Urgency;
        if (Notifier->Show(notice, [self, news] {
                if (self)
                    self->Balloon(news);
            }))
            return;
    }
    Balloon(news);
}

void TDesktopOutput::KeepNews(const TNewMailNews& news)
{
    if (!Notifier || !Notifier->Available())
        return;
    const TNewMailNotice text = NewMailNotice(news, OffersMarkRead && OffersMarkRead());
    TDesktopNotice notice{text.Summary, text.Body, text.Actions};
    notice.Urgency = text.Urgency;
    Shown = news.Told;
    Notifier->Show(notice);
}

void TDesktopOutput::WithdrawNews()
{
    Shown.clear();
    if (Notifier)
        Notifier->Withdraw();
}

void TDesktopOutput::NewsLeft(const TNewMailNews& rest)
{
    // A balloon cannot be changed; a notification that still shows is.
    if (!Notifier || !Notifier->Available())
        return;
    const TNewMailNotice text = NewMailNotice(rest, OffersMarkRead && OffersMarkRead());
    if (Notifier->Update({text.Summary, text.Body, text.Actions}))
        Shown = rest.Told;
}

void TDesktopOutput::MailStateChanged(const TMailState& state)
{
    if (OnMailState)
        OnMailState(state);
}

void TDesktopOutput::Balloon(const TNewMailNews& news)
{
    QString text = FromCodePage(CutAtCharacter(news.Headline, BalloonTextLimit));
    // Without the notification's lines, the first message's preview tells
    // what it is about.
    const qsizetype room = static_cast<qsizetype>(BalloonTextLimit) - text.size() - 1;
    if (const QString preview = FirstPreview(news, std::min(room, NoticePreviewLength)); !preview.isEmpty())
        text += QLatin1Char('\n') + preview;
    FTray.triNewMsg->ShowBalloon(FromCodePage(CutAtCharacter(news.Title, BalloonTitleLimit)), text,
                                 TTrayIcon::DesktopDisplayTime);
}

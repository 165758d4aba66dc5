#include "app/MailStatus.h"

#include "app/StatusChannel.h"
#include "config/LauncherBadge.h"
#include "desktop/LauncherEntry.h"

#include <QDateTime>

TMailStatus::TMailStatus(TLauncherEntry& launcher, TStatusChannel& channel) : FLauncher(launcher), FChannel(channel)
{
    Publish();
}

void TMailStatus::SetMail(const TMailState& state)
{
    FStatus.Mail = state;
    const QDateTime now = QDateTime::currentDateTime();
    FStatus.Checked = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate).toStdString();
    Publish();
}

void TMailStatus::SetPaused(bool paused)
{
    if (paused == FStatus.Paused)
        return;
    FStatus.Paused = paused;
    Publish();
}

void TMailStatus::SetQuiet(bool quiet)
{
    if (quiet == FStatus.Quiet)
        return;
    FStatus.Quiet = quiet;
    Publish();
}

void TMailStatus::SetBadgeFor(const std::string& badgeFor)
{
    if (FBadgeForSet && badgeFor == FBadgeFor)
        return;
    FBadgeForSet = true;
    FBadgeFor = badgeFor;
    FLauncher.SetDesktopId(QString::fromStdString(BadgeDesktopId(badgeFor)));
}

void TMailStatus::Publish()
{
    FChannel.Publish(StatusJson(FStatus));
    FLauncher.SetCount(FStatus.Mail.Count, FStatus.Mail.Important);
}

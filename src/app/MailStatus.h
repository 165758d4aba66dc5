#pragma once

#include "app/StatusLine.h"

#include <string>

class TLauncherEntry;
class TStatusChannel;

// What the program tells of waiting mail beyond its tray: the count on a
// launcher and the status line of `ternbell --status`. It follows the
// cycle's summaries, the pause, the quiet time and the "BadgeFor" setting,
// and passes on only what changed.
class TMailStatus
{
public:
    // Both the caller's, outliving this.
    TMailStatus(TLauncherEntry& launcher, TStatusChannel& channel);

    // After a summary; the time of the check is taken now.
    void SetMail(const TMailState& state);
    void SetPaused(bool paused);
    void SetQuiet(bool quiet);
    // The stored "BadgeFor": whose launcher counts.
    void SetBadgeFor(const std::string& badgeFor);
    const TStatus& Status() const { return FStatus; }

private:
    void Publish();

    TLauncherEntry& FLauncher;
    TStatusChannel& FChannel;
    TStatus FStatus;
    std::string FBadgeFor;
    bool FBadgeForSet = false;
};

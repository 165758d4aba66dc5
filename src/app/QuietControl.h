#pragma once

#include "check/QuietState.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct TConfig;

// The program's quiet as the user and the desktop set it: the quiet hours
// of the configuration, a snooze from the tray or the command line (kept in
// the hive, so a restart stays quiet), and the desktop's do-not-disturb. It
// tells when the quiet begins or ends, and wakes itself only when the time
// of the next change by the clock comes. The clock is passed in.
class TQuietControl : public QObject
{
    Q_OBJECT
public:
    using TClock = std::function<std::int64_t()>;
    explicit TQuietControl(TClock now = SystemSeconds, QObject* parent = nullptr);

    static std::int64_t SystemSeconds();

    // After every load: the quiet hours, and the snooze as stored (one past
    // the bound is kept to it, and stored so).
    void ConfigLoaded(const TConfig& config);
    // The tray's and the command line's snooze, and its end.
    void QuietFor(int minutes);
    void QuietUntilTomorrow();
    void Resume();
    // The desktop's do-not-disturb as its follower reports it.
    void SetDesktopQuiet(bool on);

    bool IsQuiet() const { return FQuiet; }
    // The quiet is the desktop's do-not-disturb alone, which keeps
    // notifications for later.
    bool OnlyDesktop() const { return FOnlyDesktop; }
    // For the tray's hint: "Quiet until 07:00", or that the desktop keeps
    // it quiet; "" when not quiet. Desktop text.
    std::string HintText() const;
    // Looks at the clock again: a wake-up, a resume from sleep.
    void Update();

    // The quiet began or ended, or its end moved.
    std::function<void(bool quiet)> OnChanged;
    // Keeps the snooze's end in the hive ("" for none), UTC ISO 8601.
    std::function<void(const std::string& until)> StoreUntil;

    // The longest the timer sleeps: a clock set forward or a sleep of the
    // machine is noticed by then.
    static constexpr int MaxSleepMs = 30 * 60 * 1000;

private:
    void SetUntil(std::optional<std::int64_t> until);

    TClock FNow;
    TQuietState FState;
    QTimer FTimer;
    bool FQuiet = false;
    bool FOnlyDesktop = false;
    std::optional<std::int64_t> FEnds;
};

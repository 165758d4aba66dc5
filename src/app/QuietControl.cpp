#include "app/QuietControl.h"

#include "check/CheckRules.h"
#include "config/Config.h"
#include "i18n/Translate.h"

#include <algorithm>
#include <ctime>

TQuietControl::TQuietControl(TClock now, QObject* parent) : QObject(parent), FNow(std::move(now))
{
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { Update(); });
}

std::int64_t TQuietControl::SystemSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

void TQuietControl::ConfigLoaded(const TConfig& config)
{
    FState.SetHours({config.QuietFrom, config.QuietTo, config.QuietDays});
    const std::optional<std::int64_t> stored = ParseUtcTime(config.QuietUntil);
    const std::optional<std::int64_t> kept = FState.SetUntil(stored, FNow());
    // A snooze cut to the bound is stored so, or every start would grant
    // another day.
    if (kept && kept != stored && StoreUntil)
        StoreUntil(UtcTimeText(*kept));
    Update();
}

void TQuietControl::QuietFor(int minutes)
{
    SetUntil(FNow() + static_cast<std::int64_t>(std::max(minutes, 0)) * 60);
}

void TQuietControl::QuietUntilTomorrow()
{
    SetUntil(FState.Tomorrow(FNow()));
}

void TQuietControl::Resume()
{
    SetUntil(std::nullopt);
}

void TQuietControl::SetUntil(std::optional<std::int64_t> until)
{
    const std::optional<std::int64_t> kept = FState.SetUntil(until, FNow());
    if (StoreUntil)
        StoreUntil(kept ? UtcTimeText(*kept) : std::string());
    Update();
}

void TQuietControl::SetDesktopQuiet(bool on)
{
    FState.SetDesktopQuiet(on);
    Update();
}

std::string TQuietControl::HintText() const
{
    if (!FQuiet)
        return {};
    if (!FEnds)
        return ResStr("Quiet: the desktop asks not to be disturbed");
    const std::time_t t = static_cast<std::time_t>(*FEnds);
    std::tm local{};
    localtime_r(&t, &local);
    return FormatOne(ResStr("Quiet until %s"), "%s", LongTimeText(local));
}

void TQuietControl::Update()
{
    const std::int64_t now = FNow();
    // A snooze that has ended is forgotten, in the hive too.
    if (FState.Until() && *FState.Until() <= now)
    {
        FState.SetUntil(std::nullopt, now);
        if (StoreUntil)
            StoreUntil({});
    }
    const bool quiet = FState.IsQuiet(now);
    const std::optional<std::int64_t> ends = FState.QuietEnds(now);
    const bool onlyDesktop = FState.OnlyDesktopQuiet(now);
    const bool changed = quiet != FQuiet || ends != FEnds || onlyDesktop != FOnlyDesktop;
    FQuiet = quiet;
    FOnlyDesktop = onlyDesktop;
    FEnds = ends;
    FTimer.stop();
    if (const std::optional<std::int64_t> next = FState.NextChange(now))
        FTimer.start(static_cast<int>(std::clamp<std::int64_t>((*next - now) * 1000, 0, MaxSleepMs)));
    if (changed && OnChanged)
        OnChanged(quiet);
}

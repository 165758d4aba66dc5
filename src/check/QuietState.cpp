#include "check/QuietState.h"

#include <QDateTime>
#include <QString>

#include <ctime>

namespace
{

std::tm LocalOf(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

// Monday 0 .. Sunday 6.
int WeekdayOf(const std::tm& local)
{
    return (local.tm_wday + 6) % 7;
}

// The local time of `day` (a broken-down date) at `minute`, as seconds;
// mktime settles a minute that a clock change skips.
std::int64_t LocalAt(std::tm day, int minute)
{
    day.tm_hour = minute / 60;
    day.tm_min = minute % 60;
    day.tm_sec = 0;
    day.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&day));
}

} // namespace

std::optional<std::int64_t> ParseUtcTime(const std::string& text)
{
    QDateTime t = QDateTime::fromString(
        QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).trimmed(), Qt::ISODate);
    if (!t.isValid())
        return std::nullopt;
    if (t.timeSpec() == Qt::LocalTime)
        t.setTimeSpec(Qt::UTC);
    return t.toSecsSinceEpoch();
}

std::string UtcTimeText(std::int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate).toStdString();
}

bool TQuietHours::Contain(std::int64_t now) const
{
    if (None())
        return false;
    const std::tm local = LocalOf(now);
    const int minute = local.tm_hour * 60 + local.tm_min;
    const int today = WeekdayOf(local);
    const int yesterday = (today + 6) % 7;
    const auto on = [this](int day) { return (Days >> day & 1) != 0; };
    if (From < To)
        return on(today) && minute >= From && minute < To;
    // Across midnight: the evening belongs to today, the morning to the
    // night that began yesterday.
    return (on(today) && minute >= From) || (on(yesterday) && minute < To);
}

std::int64_t NextLocalMinute(std::int64_t now, int minute)
{
    std::tm day = LocalOf(now);
    for (int i = 0; i < 3; ++i)
    {
        const std::int64_t at = LocalAt(day, minute);
        if (at > now)
            return at;
        ++day.tm_mday; // mktime carries it into the next month
    }
    return now + 24 * 60 * 60;
}

std::optional<std::int64_t> TQuietState::SetUntil(std::optional<std::int64_t> until, std::int64_t now)
{
    if (until && *until > now)
        FUntil = std::min(*until, now + MaxSnoozeSeconds);
    else
        FUntil.reset();
    return FUntil;
}

bool TQuietState::IsQuiet(std::int64_t now) const
{
    return FDesktop || (FUntil && now < *FUntil) || FHours.Contain(now);
}

bool TQuietState::OnlyDesktopQuiet(std::int64_t now) const
{
    return FDesktop && !(FUntil && now < *FUntil) && !FHours.Contain(now);
}

std::optional<std::int64_t> TQuietState::QuietEnds(std::int64_t now) const
{
    if (FDesktop)
        return std::nullopt;
    // A snooze that ends inside the quiet hours ends with them, and the
    // other way round.
    std::int64_t end = now;
    for (int i = 0; i < 4; ++i)
    {
        const std::int64_t before = end;
        if (FUntil && end < *FUntil)
            end = *FUntil;
        if (FHours.Contain(end))
            end = NextLocalMinute(end, FHours.To);
        if (end == before)
            break;
    }
    if (end == now)
        return std::nullopt;
    return end;
}

std::optional<std::int64_t> TQuietState::NextChange(std::int64_t now) const
{
    std::optional<std::int64_t> next;
    const auto consider = [&next](std::int64_t at) {
        if (!next || at < *next)
            next = at;
    };
    if (FUntil && now < *FUntil)
        consider(*FUntil);
    if (!FHours.None())
    {
        consider(NextLocalMinute(now, FHours.From));
        consider(NextLocalMinute(now, FHours.To));
    }
    return next;
}

std::int64_t TQuietState::Tomorrow(std::int64_t now) const
{
    return NextLocalMinute(now, FHours.None() ? MorningMinute : FHours.To);
}

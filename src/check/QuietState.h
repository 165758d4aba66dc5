#pragma once

#include <cstdint>
#include <optional>
#include <string>

// When new mail is told and when it is only listed: quiet hours, a snooze
// from the tray or the command line, and the desktop's own do-not-disturb.
// Times are seconds since the epoch, passed in, so tests run on a fake
// clock; the hours and days are local time.

// A time kept in the hive ("QuietUntil"): ISO 8601, read as UTC where it
// names no offset. Nothing for a text that is no such time ("tomorrow").
std::optional<std::int64_t> ParseUtcTime(const std::string& text);
// Seconds since the epoch as the hive keeps them: "2026-12-10T08:00:00Z".
std::string UtcTimeText(std::int64_t seconds);

// The longest a snooze lasts from when it is set or read: a hand edit far
// in the future or a clock set back never keeps the program quiet for good.
inline constexpr std::int64_t MaxSnoozeSeconds = 24 * 60 * 60;
// "Until tomorrow" without quiet hours: this time of day, local.
inline constexpr int MorningMinute = 8 * 60;

// Quiet hours from `from` to `to` (minutes after local midnight; from > to
// spans midnight, equal is none) on `days` (bit 0 Monday .. bit 6 Sunday,
// the day they begin on).
struct TQuietHours
{
    int From = 0;
    int To = 0;
    int Days = 127;

    bool None() const { return From == To || (Days & 127) == 0; }
    // Whether `now` falls in them.
    bool Contain(std::int64_t now) const;
};

// The next time after `now` that local time reads `minute` after midnight.
std::int64_t NextLocalMinute(std::int64_t now, int minute);

class TQuietState
{
public:
    void SetHours(const TQuietHours& hours) { FHours = hours; }
    const TQuietHours& Hours() const { return FHours; }
    // Quiet until `until`, kept to MaxSnoozeSeconds from `now`; nothing
    // (or a time past) resumes. Returns the time kept.
    std::optional<std::int64_t> SetUntil(std::optional<std::int64_t> until, std::int64_t now);
    std::optional<std::int64_t> Until() const { return FUntil; }
    void SetDesktopQuiet(bool on) { FDesktop = on; }
    bool DesktopQuiet() const { return FDesktop; }

    bool IsQuiet(std::int64_t now) const;
    // Quiet by the desktop's do-not-disturb alone.
    bool OnlyDesktopQuiet(std::int64_t now) const;
    // When the quiet that holds at `now` ends, as far as time alone tells:
    // the later of the snooze and the quiet hours; nothing while only the
    // desktop keeps it, or when not quiet.
    std::optional<std::int64_t> QuietEnds(std::int64_t now) const;
    // The next time after `now` at which IsQuiet may change by time alone
    // (a snooze ending, quiet hours beginning or ending); nothing when none.
    std::optional<std::int64_t> NextChange(std::int64_t now) const;
    // "Until tomorrow": the end of tonight's quiet hours, else the next
    // MorningMinute.
    std::int64_t Tomorrow(std::int64_t now) const;

private:
    TQuietHours FHours;
    std::optional<std::int64_t> FUntil;
    bool FDesktop = false;
};

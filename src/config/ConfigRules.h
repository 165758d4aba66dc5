#pragma once

#include "check/Account.h"

#include <array>

struct TConfig;

// The rules of the configuration value: the ranges and lists its numbers
// keep to, and what a value becomes under them. The settings window's
// controls start with and keep to the same.

struct TSpinRange
{
    int Min;
    int Max;
    int Initial;
};
// The LED and auto-hide times stay within 0 and the interval once a value is
// shown; the maxima here hold only before that.
inline constexpr TSpinRange IntervalRange{5, 7200, 180};
inline constexpr TSpinRange LedRange{0, 7200, 180};
inline constexpr TSpinRange AutoHideRange{0, 60, 0};
inline constexpr bool InitialNotifyOnlyNewMsg = true;

inline constexpr std::array<const char*, 3> DoubleClickItems{
    "Open email client", "Show notification form", "Show settings (this window)"};
inline constexpr std::array<const char*, 5> PriorityItems{
    "Highest", "High", "Normal", "Low", "Lowest (notify all messages)"};
// What the quiet hours' times show while there are none (minutes after
// midnight), so ticking the switch offers a night.
inline constexpr int OfferedQuietFrom = 22 * 60;
inline constexpr int OfferedQuietTo = 7 * 60;

// An account's notification urgency, by its stored number.
inline constexpr std::array<const char*, 3> UrgencyItems{"Low", "Normal", "Critical"};

// A setting's text is kept to the toolkit's default maximum length of an
// edit (in UTF-16 units).
inline constexpr int EditMaxLength = 32767;

// The value before anything was loaded: texts empty, boxes cleared, the
// first item of each list, the times the window starts with.
TConfig InitialConfigOfControls();
// The value under its rules: the interval within its range, the LED and
// auto-hide times within 0 and the interval, a list item outside its list
// none (-1), texts as the desktop's code page holds them and cut to an
// edit's length, an unknown security none, an account's own interval
// (when it has one) within the interval's range, and an account's unread value
// kept only while its field holds the default shown in its place, a
// negative column width 0, quiet hours within a day, an account's urgency
// within low and critical.
TConfig SettledConfig(const TConfig& config);

#pragma once

#include <QStringList>

#include <array>

struct TConfig;

// What the settings window's controls start with and keep to, shared by the
// built controls and the value a window not yet built holds in their place.

struct TSpinRange
{
    int Min;
    int Max;
    int Initial;
};
// The LED and auto-hide maxima follow the interval once a value is shown.
inline constexpr TSpinRange IntervalRange{5, 7200, 180};
inline constexpr TSpinRange LedRange{0, 7200, 180};
inline constexpr TSpinRange AutoHideRange{0, 60, 0};
inline constexpr bool InitialNotifyOnlyNewMsg = true;

inline constexpr std::array<const char*, 3> DoubleClickItems{
    "Open email client", "Show notification form", "Show settings (this window)"};
inline constexpr std::array<const char*, 5> PriorityItems{
    "Highest", "High", "Normal", "Low", "Lowest (notify all messages)"};

// A line edit keeps no more of a text it is given than the toolkit's
// default maximum length.
inline constexpr int EditMaxLength = 32767;

template <std::size_t N> QStringList Items(const std::array<const char*, N>& items)
{
    QStringList list;
    for (const char* item : items)
        list << QString::fromUtf8(item);
    return list;
}

// What the controls give before any value was shown in them.
TConfig InitialConfigOfControls();
// A value as the controls give it back once it was shown in them (the
// notification window's part left out).
TConfig SettledConfig(const TConfig& config);

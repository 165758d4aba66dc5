// Quiet hours, snooze and the desktop's do-not-disturb on a fake clock, in
// a zone with summer time.

#include "check/QuietState.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <ctime>

namespace
{

class QuietStateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FZone.Set("TZ", "Europe/Berlin");
        tzset();
    }
    void TearDown() override { tzset(); }

    // Local time in Berlin, as seconds.
    static std::int64_t At(int year, int month, int day, int hour, int minute)
    {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_isdst = -1;
        return static_cast<std::int64_t>(std::mktime(&t));
    }

    ScopedEnvironment FZone;
};

// 2026-12-07 is a Monday.
TEST_F(QuietStateTest, QuietHoursOnTheirDaysAcrossMidnight)
{
    struct Case
    {
        TQuietHours Hours;
        int Day; // of December 2026
        int Hour;
        int Minute;
        bool Quiet;
    };
    const TQuietHours night{22 * 60, 7 * 60, 127};
    const TQuietHours weekdayNights{22 * 60, 7 * 60, 0b0011111}; // begin Monday .. Friday
    const TQuietHours lunch{12 * 60, 13 * 60, 127};
    const Case cases[] = {
        {night, 7, 21, 59, false},
        {night, 7, 22, 0, true},
        {night, 8, 3, 0, true},
        {night, 8, 6, 59, true},
        {night, 8, 7, 0, false},
        {weekdayNights, 11, 23, 0, true},   // Friday evening
        {weekdayNights, 12, 6, 0, true},    // Saturday morning: Friday's night
        {weekdayNights, 12, 23, 0, false},  // Saturday evening
        {weekdayNights, 13, 6, 0, false},   // Sunday morning
        {weekdayNights, 7, 6, 0, false},    // Monday morning: Sunday's night
        {lunch, 9, 12, 30, true},
        {lunch, 9, 13, 0, false},
        {{600, 600, 127}, 9, 10, 0, false},                    // equal: none
        {{22 * 60, 7 * 60, 0}, 9, 23, 0, false},               // no day: none
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.Hours.Contain(At(2026, 12, c.Day, c.Hour, c.Minute)), c.Quiet)
            << c.Hours.From << "-" << c.Hours.To << " days " << c.Hours.Days << " on " << c.Day << " "
            << c.Hour << ":" << c.Minute;
}

TEST_F(QuietStateTest, SnoozeEndsAndIsNeverForEver)
{
    TQuietState quiet;
    const std::int64_t now = At(2026, 12, 9, 10, 0);
    EXPECT_FALSE(quiet.IsQuiet(now));
    EXPECT_EQ(quiet.SetUntil(now + 1800, now), now + 1800);
    EXPECT_TRUE(quiet.IsQuiet(now + 1799));
    EXPECT_FALSE(quiet.IsQuiet(now + 1800));
    EXPECT_EQ(quiet.QuietEnds(now), now + 1800);
    EXPECT_EQ(quiet.NextChange(now), now + 1800);

    // A year ahead is a day; a time past resumes.
    EXPECT_EQ(quiet.SetUntil(now + 365 * 86400, now), now + MaxSnoozeSeconds);
    EXPECT_FALSE(quiet.IsQuiet(now + MaxSnoozeSeconds));
    EXPECT_EQ(quiet.SetUntil(now - 1, now), std::nullopt);
    EXPECT_FALSE(quiet.IsQuiet(now));

    // The desktop's do-not-disturb holds as long as it says; no end is known.
    quiet.SetDesktopQuiet(true);
    EXPECT_TRUE(quiet.IsQuiet(now));
    EXPECT_EQ(quiet.QuietEnds(now), std::nullopt);
    quiet.SetDesktopQuiet(false);
    EXPECT_FALSE(quiet.IsQuiet(now));

    EXPECT_FALSE(ParseUtcTime("tomorrow"));
    EXPECT_EQ(ParseUtcTime(UtcTimeText(now)), now);
    EXPECT_EQ(ParseUtcTime("2026-12-09T09:00:00Z"), now); // 10:00 in Berlin
    EXPECT_EQ(ParseUtcTime("2026-12-09T09:00:00"), now);  // no offset: UTC
}

TEST_F(QuietStateTest, TomorrowAndTheEndOfQuietFollowTheHours)
{
    TQuietState quiet;
    // Without quiet hours: the next 08:00, also across the change to summer time.
    EXPECT_EQ(quiet.Tomorrow(At(2026, 12, 9, 21, 0)), At(2026, 12, 10, 8, 0));
    EXPECT_EQ(quiet.Tomorrow(At(2026, 12, 10, 2, 0)), At(2026, 12, 10, 8, 0));
    EXPECT_EQ(quiet.Tomorrow(At(2027, 3, 27, 21, 0)), At(2027, 3, 28, 8, 0));
    EXPECT_EQ(At(2027, 3, 28, 8, 0) - At(2027, 3, 27, 21, 0), 10 * 3600);

    quiet.SetHours({22 * 60, 7 * 60, 127});
    const std::int64_t evening = At(2026, 12, 9, 21, 0);
    EXPECT_EQ(quiet.Tomorrow(evening), At(2026, 12, 10, 7, 0));
    EXPECT_EQ(quiet.NextChange(evening), At(2026, 12, 9, 22, 0));
    EXPECT_EQ(quiet.QuietEnds(evening), std::nullopt);
    // A snooze into the night lasts until the night's end; one past it, to its own.
    quiet.SetUntil(At(2026, 12, 9, 23, 0), evening);
    EXPECT_EQ(quiet.QuietEnds(evening), At(2026, 12, 10, 7, 0));
    quiet.SetUntil(At(2026, 12, 10, 9, 0), evening);
    EXPECT_EQ(quiet.QuietEnds(evening), At(2026, 12, 10, 9, 0));
}

} // namespace

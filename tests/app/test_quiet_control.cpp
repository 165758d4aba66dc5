// The program's quiet on a fake clock: the snooze kept in the hive and
// bounded, its end noticed, the desktop's switch, and what the tray says.

#include "app/QuietControl.h"
#include "config/Config.h"

#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <ctime>

namespace
{

class QuietControlTest : public ::testing::Test
{
protected:
    QuietControlTest()
    {
        Zone.Set("TZ", "UTC");
        tzset();
        quiet.StoreUntil = [this](const std::string& until) { Stored.push_back(until); };
        quiet.OnChanged = [this](bool on) { Changes.push_back(on); };
    }
    ~QuietControlTest() override { tzset(); }

    ScopedEnvironment Zone;
    std::int64_t Now = 1796803200; // 2026-12-09T08:00:00Z, a Wednesday
    TQuietControl quiet{[this] { return Now; }};
    std::vector<std::string> Stored;
    std::vector<bool> Changes;
};

TEST_F(QuietControlTest, SnoozeIsStoredEndsAndResumes)
{
    quiet.QuietFor(30);
    EXPECT_TRUE(quiet.IsQuiet());
    EXPECT_EQ(Stored, std::vector<std::string>{"2026-12-09T08:30:00Z"});
    EXPECT_EQ(quiet.HintText(), "Quiet until 08:30:00");
    Now += 30 * 60;
    quiet.Update();
    EXPECT_FALSE(quiet.IsQuiet());
    EXPECT_EQ(quiet.HintText(), "");
    EXPECT_EQ(Stored.back(), "");
    EXPECT_EQ(Changes, (std::vector<bool>{true, false}));

    quiet.QuietUntilTomorrow(); // no quiet hours: 08:00 tomorrow
    EXPECT_EQ(Stored.back(), "2026-12-10T08:00:00Z");
    quiet.Resume();
    EXPECT_FALSE(quiet.IsQuiet());
    EXPECT_EQ(Stored.back(), "");
}

// A stored snooze is taken up after a restart; one beyond a day is cut to a
// day and stored so; one that is no time or past keeps nothing quiet.
TEST_F(QuietControlTest, StoredSnoozeIsBoundedAndBadOnesAreNone)
{
    const struct
    {
        const char* Until;
        bool Quiet;
        std::vector<std::string> Stored;
    } cases[] = {
        {"2026-12-09T09:00:00Z", true, {}},
        {"2099-01-01T00:00:00Z", true, {"2026-12-10T08:00:00Z"}},
        {"2026-12-09T07:00:00Z", false, {}},
        {"", false, {}},
    };
    for (const auto& c : cases)
    {
        Stored.clear();
        TConfig config;
        config.QuietUntil = c.Until;
        quiet.ConfigLoaded(config);
        EXPECT_EQ(quiet.IsQuiet(), c.Quiet) << c.Until;
        EXPECT_EQ(Stored, c.Stored) << c.Until;
    }
}

TEST_F(QuietControlTest, QuietHoursAndTheDesktopSwitch)
{
    TConfig config;
    config.QuietFrom = 7 * 60;
    config.QuietTo = 9 * 60;
    quiet.ConfigLoaded(config);
    EXPECT_TRUE(quiet.IsQuiet());
    EXPECT_EQ(quiet.HintText(), "Quiet until 09:00:00");
    Now += 3600;
    quiet.Update();
    EXPECT_FALSE(quiet.IsQuiet());

    quiet.SetDesktopQuiet(true);
    EXPECT_TRUE(quiet.IsQuiet());
    EXPECT_TRUE(quiet.OnlyDesktop());
    quiet.QuietFor(5);
    EXPECT_FALSE(quiet.OnlyDesktop());
    quiet.Resume();
    EXPECT_EQ(quiet.HintText(), "Quiet: the desktop asks not to be disturbed");
    quiet.SetDesktopQuiet(false);
    EXPECT_FALSE(quiet.IsQuiet());
    EXPECT_EQ(Changes, (std::vector<bool>{true, false, true, true, true, false}));
}

} // namespace

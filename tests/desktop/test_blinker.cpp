// Scroll Lock blinking against a LED in memory.

#include "desktop/Blinker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

namespace
{

struct FakeLed
{
    bool On = false;
    std::vector<bool> Writes;

    TScrollLockLed Led()
    {
        return {[this] { return On; },
                [this](bool on) {
                    On = on;
                    Writes.push_back(on);
                }};
    }
};

// Ticks the blink timer by hand until it stops (at most 100 ticks).
int TickUntilIdle(TScrollLockBlinker& blinker, QTimer& timer)
{
    int ticks = 0;
    while (timer.isActive() && ticks < 100)
    {
        blinker.timBlinkingTimer();
        ++ticks;
    }
    return ticks;
}

TEST(Blinker, TogglesTwicePerSecondPlusOneThenRestores)
{
    struct Case
    {
        int seconds;
        bool ledBefore;
    };
    for (const Case c : {Case{3, false}, Case{3, true}, Case{0, false}, Case{0, true}, Case{1, false}})
    {
        SCOPED_TRACE(::testing::Message() << c.seconds << " s, LED " << c.ledBefore);
        QTimer timer;
        FakeLed led;
        led.On = c.ledBefore;
        int seconds = c.seconds;
        TScrollLockBlinker blinker(timer, [&] { return seconds; }, led.Led());
        blinker.timBlinkingActivate();
        EXPECT_TRUE(timer.isActive());
        EXPECT_EQ(timer.interval(), 500);
        const int ticks = TickUntilIdle(blinker, timer);
        EXPECT_EQ(ticks, 2 * c.seconds + 1);
        // One write per tick, alternating, then the restoring one.
        ASSERT_EQ(led.Writes.size(), static_cast<std::size_t>(ticks + 1));
        for (int i = 0; i < ticks; ++i)
            EXPECT_EQ(led.Writes[i], i % 2 == 0 ? !c.ledBefore : c.ledBefore) << i;
        EXPECT_EQ(led.On, c.ledBefore);
        EXPECT_FALSE(timer.isActive());
        EXPECT_FALSE(blinker.Blinking());
    }
}

TEST(Blinker, NewActivationWhileBlinkingRestoresTheFirstState)
{
    QTimer timer;
    FakeLed led;
    TScrollLockBlinker blinker(timer, [] { return 2; }, led.Led());
    blinker.timBlinkingActivate();
    blinker.timBlinkingTimer(); // the LED is on now
    ASSERT_TRUE(led.On);
    blinker.timBlinkingActivate();
    EXPECT_EQ(blinker.BlinkCount, 0);
    EXPECT_EQ(TickUntilIdle(blinker, timer), 5);
    EXPECT_FALSE(led.On);
}

TEST(Blinker, RunsOnTheTimerAndStops)
{
    QTimer timer;
    FakeLed led;
    TScrollLockBlinker blinker(timer, [] { return 1; }, led.Led());
    blinker.timBlinkingActivate();
    QElapsedTimer clock;
    clock.start();
    while (blinker.Blinking() && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_FALSE(blinker.Blinking());
    EXPECT_EQ(led.Writes.size(), 4u); // three toggles and the restore
    EXPECT_FALSE(led.On);
}

} // namespace

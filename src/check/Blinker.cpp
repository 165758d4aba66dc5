#include "check/Blinker.h"

#include <QCoreApplication>
#include <QTimer>

TScrollLockBlinker::TScrollLockBlinker(QTimer& timBlinking, std::function<int()> blinkSeconds,
                                       TScrollLockLed led)
    : Timer(timBlinking), BlinkSeconds(std::move(blinkSeconds)), Led(std::move(led))
{
    Timer.setInterval(500);
    connect(&Timer, &QTimer::timeout, this, [this] { timBlinkingTimer(); });
}

void TScrollLockBlinker::timBlinkingActivate()
{
    // A new notification while the LED is still blinking starts the count
    // again, but keeps the state found before the first toggle: the state of
    // this moment may be a toggled one, and restoring that would leave the
    // user's Scroll Lock inverted.
    if (!Active)
        SavedScrollLock = GetScrollLock();
    Active = true;
    BlinkCount = 0;
    Timer.start();
}

void TScrollLockBlinker::timBlinkingTimer()
{
    SetScrollLock(!GetScrollLock());
    ++BlinkCount;
    if (2 * BlinkSeconds() < BlinkCount)
        timBlinkingTerminate();
}

void TScrollLockBlinker::timBlinkingTerminate()
{
    Timer.stop();
    QCoreApplication::processEvents();
    // A check cycle run by those events may have started a new blink; it
    // restores the LED when it ends.
    if (Timer.isActive())
        return;
    SetScrollLock(SavedScrollLock);
    Active = false;
}

bool TScrollLockBlinker::GetScrollLock() const
{
    return Led.Read ? Led.Read() : false;
}

void TScrollLockBlinker::SetScrollLock(bool on)
{
    if (Led.Write && on != GetScrollLock())
        Led.Write(on);
}

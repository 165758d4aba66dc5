#include "desktop/Blinker.h"

#include <QCoreApplication>
#include <QTimer>

TScrollLockBlinker::TScrollLockBlinker(QTimer& timBlinking, std::function<int()> blinkSeconds,
                                       TScrollLockLed led)
    : FTimer(timBlinking), BlinkSeconds(std::move(blinkSeconds)), FLed(std::move(led))
{
    FTimer.setInterval(500);
    connect(&FTimer, &QTimer::timeout, this, [this] { timBlinkingTimer(); });
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
    FTimer.start();
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
    FTimer.stop();
    QCoreApplication::processEvents();
    // A check cycle run by those events may have started a new blink; it
    // restores the LED when it ends.
    if (FTimer.isActive())
        return;
    SetScrollLock(SavedScrollLock);
    Active = false;
}

bool TScrollLockBlinker::GetScrollLock() const
{
    return FLed.Read ? FLed.Read() : false;
}

void TScrollLockBlinker::SetScrollLock(bool on)
{
    if (FLed.Write && on != GetScrollLock())
        FLed.Write(on);
}

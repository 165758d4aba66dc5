#pragma once

#include <QObject>

#include <functional>

class QTimer;

// Reads and sets the Scroll Lock LED.
struct TScrollLockLed
{
    std::function<bool()> Read;
    std::function<void(bool on)> Write;
};

// Blinks the Scroll Lock LED for the configured number of seconds: one toggle
// per tick of the blink timer (500 ms), 2P + 1 toggles for P seconds, and
// then the LED as it was found.
class TScrollLockBlinker : public QObject
{
public:
    // blinkSeconds: the LED time as the settings window holds it now.
    TScrollLockBlinker(QTimer& timBlinking, std::function<int()> blinkSeconds, TScrollLockLed led);

    void timBlinkingActivate();
    void timBlinkingTimer();
    void timBlinkingTerminate();

    bool GetScrollLock() const;
    void SetScrollLock(bool on);

    bool Blinking() const { return Active; }
    bool SavedScrollLock = false;
    int BlinkCount = 0;

private:
    QTimer& FTimer;
    std::function<int()> BlinkSeconds;
    TScrollLockLed FLed;
    bool Active = false; // from activation until the LED is restored
};

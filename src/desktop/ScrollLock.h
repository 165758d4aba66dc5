#pragma once

// The Scroll Lock keyboard LED of the X display named by DISPLAY: LED 3 of
// the core keyboard, bit 2 of its LED mask (`xset q` reports it as
// "Scroll Lock"). Only the light changes; the Scroll Lock modifier is left as
// it is. Without a reachable display the LED reads as off and a write does
// nothing; neither reports an error, so a program without X stays quiet.

bool ScrollLockLedOn();
void SetScrollLockLed(bool on);

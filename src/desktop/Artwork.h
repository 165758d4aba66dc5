#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, compiled in from resources/artwork.

// Pictures of the main tray icon: 0 idle, 1 greyed (checking or paused),
// 2 connection failure. Any other index gives a null icon.
QIcon TrayPicture(int index);
// The idle picture marked as quiet: new mail is listed, not told.
QIcon QuietTrayPicture();

// The application icon in several sizes (16 to 128 pixels, 32x32 among them).
QIcon ApplicationIcon();

// Background of the about box's picture panel; drawn stretched.
QPixmap AboutBackground();

// Row icons of the notification list by image index: 0 error row,
// 1 message, 2 new message. Any other index gives a null icon.
QIcon MessageListIcon(int index);

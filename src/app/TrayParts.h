#pragma once

#include "desktop/TrayIcon.h"

#include <QIcon>
#include <QList>
#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QTimer;
class TMediaPlayer;

// The main tray icon's picture while quiet and idle, after the three of
// imlState's first.
inline constexpr int QuietTrayPictureIndex = 3;

// What runs while the program sits in the tray: the two tray icons, the tray
// menu, the check and blink timers and the sound player. Created first at
// start, as the tray icon is all a user sees of a start.
class TTrayParts : public QObject
{
    Q_OBJECT
public:
    explicit TTrayParts(QObject* parent = nullptr);
    ~TTrayParts() override;

    // Shows picture `index` of imlState on the main icon.
    void ShowPicture(int index);

    QList<QIcon> imlState;
    TTrayIcon* triMail;
    TTrayIcon* triNewMsg;
    QMenu* popMain;
    QAction* mnuAbout;
    QAction* mnuMailbox;
    QAction* mnuChecknow;
    QAction* actEnabled;
    QAction* mnuEnabled1; // the menu's view of actEnabled
    // "Quiet" and its items: snooze for a while or until the morning, and resume.
    QMenu* mnuQuiet;
    QAction* mnuQuiet30;
    QAction* mnuQuiet60;
    QAction* mnuQuietTomorrow;
    QAction* mnuResume;
    QAction* mnuSettings;
    QAction* mnuExit;
    QTimer* timMail;
    QTimer* timBlinking;
    TMediaPlayer* mediaPlayer;

private:
    // A menu is a widget and takes no object as its parent; it is owned here.
    std::unique_ptr<QMenu> FMenu;
};

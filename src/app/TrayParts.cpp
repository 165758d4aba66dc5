#include "app/TrayParts.h"

#include "desktop/Artwork.h"
#include "desktop/FormParts.h"
#include "desktop/MediaPlayer.h"
#include "desktop/TrayIcon.h"
#include "desktop/WindowTexts.h"
#include "i18n/Translate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>

TTrayParts::TTrayParts(QObject* parent) : QObject(parent)
{
    for (int i = 0; i < 3; ++i)
        imlState.append(TrayPicture(i));
    // Painted the first time the quiet shows: painting sets up the raster
    // engine, some 0.4 MB that a program never quiet does not need.
    imlState.append(QIcon());

    FMenu = std::make_unique<QMenu>();
    popMain = Named(FMenu.get(), "popMain");
    mnuAbout = Named(popMain->addAction(QStringLiteral("&About...")), "mnuAbout");
    mnuMailbox = Named(popMain->addAction(QStringLiteral("&Read")), "mnuMailbox");
    mnuChecknow = Named(popMain->addAction(QStringLiteral("&Check now")), "mnuChecknow");
    actEnabled = Named(new QAction(QStringLiteral("&Enabled"), popMain), "actEnabled");
    actEnabled->setCheckable(true);
    popMain->addAction(actEnabled);
    mnuEnabled1 = actEnabled;
    mnuQuiet = Named(new QMenu(QStringLiteral("&Quiet"), popMain), "mnuQuiet");
    popMain->addMenu(mnuQuiet);
    mnuQuiet30 = Named(mnuQuiet->addAction(QStringLiteral("For &30 minutes")), "mnuQuiet30");
    mnuQuiet60 = Named(mnuQuiet->addAction(QStringLiteral("For &1 hour")), "mnuQuiet60");
    mnuQuietTomorrow = Named(mnuQuiet->addAction(QStringLiteral("Until &tomorrow")), "mnuQuietTomorrow");
    mnuResume = Named(mnuQuiet->addAction(QStringLiteral("&Resume")), "mnuResume");
    mnuSettings = Named(popMain->addAction(QStringLiteral("&Settings")), "mnuSettings");
    mnuExit = Named(popMain->addAction(QStringLiteral("&Exit")), "mnuExit");

    triMail = Named(new TTrayIcon(this), "triMail");
    triMail->SetImages(imlState);
    triMail->SetPictureIndex(0);
    triMail->SetHint(QApplication::applicationName());
    triMail->SetPopupMenu(popMain);
    triMail->SetVisible(true);

    triNewMsg = Named(new TTrayIcon(this), "triNewMsg");
    triNewMsg->SetIcon(ApplicationIcon());
    triNewMsg->SetHint(QApplication::applicationName());

    mediaPlayer = new TMediaPlayer(this);
    timMail = Named(new QTimer(this), "timMail");
    // The first tick loads the configuration a second after the start.
    timMail->setInterval(1000);
    timBlinking = Named(new QTimer(this), "timBlinking");
    timBlinking->setInterval(500);
    TranslateComponent(popMain);
}

void TTrayParts::ShowPicture(int index)
{
    if (index == QuietTrayPictureIndex && imlState[index].isNull())
    {
        imlState[index] = QuietTrayPicture();
        triMail->SetImages(imlState);
    }
    triMail->SetPictureIndex(index);
}

TTrayParts::~TTrayParts() = default;

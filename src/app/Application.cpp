#include "app/Application.h"

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "config/SettingsForm.h"
#include "notify/NewMailForm.h"
#include "platform/Application.h"
#include "platform/Artwork.h"

int RunTernbell(int argc, char** argv)
{
    TApplication app(argc, argv);
    // No main window: the program lives in the tray until it is told to end.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    QApplication::setWindowIcon(ApplicationIcon());

    TfrmSettings frmSettings;
    TfrmNewMail frmNewMail;
    TfrmAboutBox frmAboutBox;
    frmSettings.frmNewMail = &frmNewMail;
    TTrayShell shell(frmSettings, frmNewMail, frmAboutBox);
    return app.exec();
}

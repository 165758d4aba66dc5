#include "app/Application.h"

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "check/MailCheck.h"
#include "check/Pop3CheckClient.h"
#include "config/SettingsForm.h"
#include "i18n/Translate.h"
#include "mail/IdPOP3.h"
#include "notify/NewMailController.h"
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
    InstallToolkitTranslator();

    TfrmSettings frmSettings;
    TfrmNewMail frmNewMail;
    TfrmAboutBox frmAboutBox;
    frmSettings.frmNewMail = &frmNewMail;
    TTrayShell shell(frmSettings, frmNewMail, frmAboutBox);

    // The one POP3 client serves the check cycle and the window's Delete.
    TIdPOP3 popMail;
    TPop3CheckClient pop3Check(popMail);
    TMailCheck mailCheck(frmSettings, frmNewMail, pop3Check);
    shell.CheckAccounts = [&mailCheck] { mailCheck.CheckAccounts(); };
    TPop3DeleteClient pop3Delete(popMail);
    TNewMailController newMailController(
        frmNewMail, NewMailEnvironment(frmSettings, pop3Delete, [&shell] { shell.mnuCheckNowClick(); }));

    return app.exec();
}

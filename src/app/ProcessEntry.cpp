#include "app/ProcessEntry.h"

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "app/MailCheck.h"
#include "app/NewMailEnvironment.h"
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "config/SettingsForm.h"
#include "i18n/Translate.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "notify/Imap4DeleteClient.h"
#include "notify/NewMailForm.h"
#include "desktop/Application.h"
#include "desktop/Artwork.h"
#include "desktop/Dialogs.h"

int RunTernbell(int argc, char** argv)
{
    TApplication app(argc, argv);
    // No main window: the program lives in the tray until it is told to end.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    QApplication::setWindowIcon(ApplicationIcon());
    ReportHiveProblemsInErrorBox();
    InstallToolkitTranslator();

    TfrmSettings frmSettings;
    TfrmNewMail frmNewMail;
    TfrmAboutBox frmAboutBox;
    frmSettings.frmNewMail = &frmNewMail;
    TTrayShell shell(frmSettings, frmNewMail, frmAboutBox);

    // The one POP3 client serves the check cycle and the window's Delete.
    TIdPOP3 popMail;
    TPop3CheckClient pop3Check(popMail);
    TIdIMAP4 imaMail;
    TImap4CheckClient imap4Check(imaMail);
    TMailCheck mailCheck(frmSettings, frmNewMail, pop3Check, imap4Check);
    shell.CheckAccounts = [&mailCheck] { mailCheck.CheckAccounts(); };
    TPop3DeleteClient pop3Delete(popMail);
    TImap4DeleteClient imap4Delete(imaMail);
    TNewMailController newMailController(
        frmNewMail, NewMailEnvironment(frmSettings, pop3Delete, [&shell] { shell.mnuCheckNowClick(); },
                                       &imap4Delete));

    return app.exec();
}

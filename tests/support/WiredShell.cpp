#include "support/WiredShell.h"

#include "config/ConfigKeeper.h"

WiredShell::WiredShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings,
                       TfrmNewMail& newMail)
    : shell(tray, keeper, settings, newMail, aboutBox),
      mailCheck(tray, newMail, keeper.Config, pop3Check, imap4Check)
{
    shell.CheckAccounts = [this] { mailCheck.CheckAccounts(); };
    // Ending the program would end the test's own event loops.
    shell.Terminate = [] {};
}

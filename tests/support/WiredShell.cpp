#include "support/WiredShell.h"

WiredShell::WiredShell(TfrmSettings& settings, TfrmNewMail& newMail)
    : shell(settings, newMail, aboutBox), mailCheck(settings, newMail, pop3Check, imap4Check)
{
    shell.CheckAccounts = [this] { mailCheck.CheckAccounts(); };
    // Ending the program would end the test's own event loops.
    shell.Terminate = [] {};
}

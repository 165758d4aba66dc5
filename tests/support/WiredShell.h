#pragma once

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "app/MailCheck.h"
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

class TfrmNewMail;
class TfrmSettings;

// The program's wiring of a timer tick: the tray shell runs the check cycle
// over the real windows, with the one POP3 client the notification window's
// Delete may share. The windows are the caller's and must outlive it.
struct WiredShell
{
    WiredShell(TfrmSettings& settings, TfrmNewMail& newMail);

    TIdPOP3 popMail;
    TPop3CheckClient pop3Check{popMail};
    TIdIMAP4 imaMail;
    TImap4CheckClient imap4Check{imaMail};
    TfrmAboutBox aboutBox;
    TTrayShell shell;
    TMailCheck mailCheck;
};

#pragma once

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "app/MailCheck.h"
#include "check/Imap4CheckClient.h"
#include "check/Pop3CheckClient.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/UiFixture.h"

#include <memory>

class TConfigKeeper;
class TTrayParts;
class TfrmNewMail;
class TfrmSettings;

// The program's wiring of a timer tick: the tray shell runs the check cycle
// over the real windows and the keeper's configuration, with the one POP3
// client the notification window's Delete may share. The parts are the
// caller's and must outlive it.
struct WiredShell
{
    WiredShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings, TfrmNewMail& newMail);

    TIdPOP3 popMail;
    TPop3CheckClient pop3Check{popMail};
    TIdIMAP4 imaMail;
    TImap4CheckClient imap4Check{imaMail};
    TfrmAboutBox aboutBox;
    TTrayShell shell;
    TMailCheck mailCheck;
};

// The window fixture with the program's wiring over it, so loads apply what
// acts outside the controls and OK and Cancel resume the check timer.
class WiredUiFixture : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
    }
    void TearDown() override
    {
        wired.reset();
        UiFixture::TearDown();
    }

    std::unique_ptr<WiredShell> wired;
};

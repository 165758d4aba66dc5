#pragma once

#include "support/DovecotFixture.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <memory>

// The windows and the wired check cycle over the suite's Dovecot. The
// configuration is the test's own: no accounts, only the window tells new
// mail, and no tick of the timer's own during a test.
class WiredDovecot : public DovecotFixture<UiFixture>
{
protected:
    void SetUp() override
    {
        DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        LoadPending = false;
        tray->timMail->setInterval(keeper->Config.CheckingTime * 1000);
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
    }

    void TearDown() override
    {
        wired.reset();
        if (settings)
            UiFixture::TearDown();
    }

    std::unique_ptr<WiredShell> wired;
};

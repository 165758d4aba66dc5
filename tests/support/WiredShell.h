#pragma once

#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "app/MailCheck.h"
#include "app/PushSessions.h"
#include "check/AccountSession.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/UiFixture.h"

#include <atomic>
#include <functional>
#include <memory>

class TConfigKeeper;
class TTrayParts;
class TfrmNewMail;
class TfrmSettings;

// Processes events until the checks and jobs under way have ended; a test
// fails rather than wait past `milliseconds`.
void WaitForChecks(TMailCheck& check, int milliseconds = 20000);

// The program's wiring of a timer tick: the tray shell runs the check cycle
// over the real windows and the keeper's configuration. The parts are the
// caller's and must outlive it.
struct WiredShell
{
    // clock: what the accounts' due times are read on; none: the steady clock.
    WiredShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings, TfrmNewMail& newMail,
               TIdClock* clock = nullptr);

    // The limits every check and Delete session gets.
    TSessionLimits limits;
    // Check sessions made so far (on the workers), and push sessions.
    std::atomic<int> checkSessions{0};
    std::atomic<int> pushSessions{0};
    // Run on the worker before each check session, when set before the round.
    std::function<void()> beforeSession;
    TfrmAboutBox aboutBox;
    TTrayShell shell;
    // Pushed mail, for the tests that start it; outlives the check.
    std::unique_ptr<TPushSessions> push;
    TMailCheck mailCheck;

    // Wires IDLE sessions as the program does, with the limits above; their
    // lines' waits on `lineClock` where one is given.
    void StartPush(const TPushTimes& times = {}, std::shared_ptr<TIdClock> lineClock = nullptr);

    void WaitForChecks(int milliseconds = 20000) { ::WaitForChecks(mailCheck, milliseconds); }
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

#include "support/WiredShell.h"

#include "check/CheckClients.h"
#include "check/Imap4PushClient.h"
#include "config/ConfigKeeper.h"
#include "mail/MessagePreview.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

WiredShell::WiredShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings,
                       TfrmNewMail& newMail, TIdClock* clock)
    : shell(tray, keeper, settings, newMail, aboutBox),
      mailCheck(tray, newMail, keeper.Config,
                [this](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
                    ++checkSessions;
                    if (beforeSession)
                        beforeSession();
                    return MakeCheckClient(protocol, limits, std::move(abort));
                },
                nullptr, clock ? *clock : TIdSteadyClock::Instance())
{
    // The test programs live apart from the executable and its modules.
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    shell.UseScheduler(mailCheck.Scheduler());
    shell.CheckAccounts = [this] { return mailCheck.CheckAccounts(); };
    shell.CheckEveryAccount = [this] { return mailCheck.CheckEvery(); };
    shell.AbortChecks = [this] { mailCheck.Abort(); };
    mailCheck.OnIdle = [this] { shell.ChecksEnded(); };
    // Ending the program would end the test's own event loops.
    shell.Terminate = [] {};
}

void WiredShell::StartPush(const TPushTimes& times, std::shared_ptr<TIdClock> lineClock)
{
    push = std::make_unique<TPushSessions>(
        [this, lineClock](const Account& account, std::shared_ptr<TIdLineAbort> abort) {
            ++pushSessions;
            TSessionLimits own = limits;
            if (lineClock)
                own.Clock = lineClock;
            return MakePushClient(account, own, std::move(abort));
        },
        times);
    shell.EndPush = [this] { push->CloseAll(); };
    mailCheck.UsePush(push.get(), [this] { return shell.PushAllowed(); });
    shell.ResumePush = [this] { mailCheck.ResumePush(); };
    shell.ReopenPush = [this] { push->Reopen(); };
}

void WaitForChecks(TMailCheck& mailCheck, int milliseconds)
{
    QElapsedTimer waited;
    waited.start();
    while (mailCheck.Busy() && waited.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    EXPECT_FALSE(mailCheck.Busy()) << "the checks did not end within " << milliseconds << " ms";
}

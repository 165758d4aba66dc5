// How soon a message read in another client leaves the status line: ternbell
// idles on an IMAP4 account with messages waiting; another client sets the
// read flag of one (doveadm), and the time is taken from the moment Dovecot's
// IDLE line reaches a bare session idling on the same mailbox until the
// status line that `ternbell --status --follow` readers get shows the lower
// count (through the real TMailCheck, its push session, the check it starts,
// the summary and the status channel). Medians and the worst are printed,
// and the goal: at most 100 ms after the bare session's line.
//
// Run:  build/bench/bench_read_elsewhere [reads]   (needs dovecot)
#include "app/MailCheck.h"
#include "app/MailStatus.h"
#include "app/StatusChannel.h"
#include "app/PushSessions.h"
#include "app/TrayParts.h"
#include "check/Account.h"
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "check/Imap4PushClient.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/DecoderModule.h"
#include "desktop/Dialogs.h"
#include "desktop/LauncherEntry.h"
#include "mail/Imap4Client.h"
#include "notify/NewMailForm.h"
#include "support/Dovecot.h"

#include "PrivateDesktop.h"
#include "EventTiming.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using bench::MsSince;
using bench::Median;
using bench::TClock;
using bench::Until;

std::string Mail(int n)
{
    return "From: bench@example.org\r\nSubject: waiting <" + std::to_string(n) + ">\r\n\r\nbody\r\n";
}

int Run(int reads)
{
    if (const std::string why = Dovecot::Unavailable(); !why.empty())
        throw std::runtime_error(why);
    Dovecot server;
    server.AddUser("pushed", "pw");
    server.KeepProcesses();
    server.Start();
    for (int n = 1; n <= reads; ++n)
        server.Deliver("pushed", Mail(n));

    Account account;
    account.Caption = "Pushed";
    account.UserName = "pushed";
    account.Password = "pw";
    account.Host = server.Host();
    account.Port = std::to_string(server.ImapPort());
    account.IMAP4 = true;

    TTrayParts tray;
    TfrmNewMail newMail;
    TConfig config;
    config.Accounts = {account};
    config.ShowForm = false;
    TPushSessions push([](const Account& a, std::shared_ptr<TIdLineAbort> abort) {
        return MakePushClient(a, TSessionLimits{}, std::move(abort));
    });
    TMailCheck check(tray, newMail, config, [](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
        return MakeCheckClient(protocol, TSessionLimits{}, std::move(abort));
    });
    check.UsePush(&push, [] { return true; });
    TStatusChannel channel;
    TLauncherEntry launcher(QDBusConnection(QStringLiteral("none")));
    TMailStatus status(launcher, channel);
    check.OnMailState = [&status](const TMailState& state) { status.SetMail(state); };
    const auto shows = [&channel](int count) {
        return channel.Line().find("\"count\": " + std::to_string(count) + ",") != std::string::npos;
    };

    check.CheckAccounts();
    if (!Until([&] { return !check.Busy() && push.Healthy(account) && shows(reads); }, 20000))
        throw std::runtime_error("the account never idled");

    std::vector<double> after;
    for (int n = 1; n <= reads; ++n)
    {
        TIdIMAP4 bare;
        bare.Host = server.Host();
        bare.Port = server.ImapPort();
        bare.Username = "pushed";
        bare.Password = "pw";
        bare.ReadTimeout = 10000;
        bare.Connect(true);
        if (!bare.SelectMailbox("inbox") || !bare.IdleStart())
            throw std::runtime_error("the bare session could not idle");
        std::atomic<bool> heard{false};
        TClock::time_point line;
        std::thread listener([&] {
            if (bare.IdleWait(10000))
                line = TClock::now();
            heard = true;
        });
        server.MarkSeen("pushed", "subject \"<" + std::to_string(n) + ">\"");
        const bool left = Until([&] { return shows(reads - n); }, 20000);
        const TClock::time_point shown = TClock::now();
        listener.join();
        if (!left)
            throw std::runtime_error("read " + std::to_string(n) + " never left the status");
        if (line == TClock::time_point{})
            throw std::runtime_error("the bare session heard nothing");
        after.push_back(std::chrono::duration<double, std::milli>(shown - line).count());
        bare.IdleDone();
        bare.Disconnect();
        Until([&] { return !check.Busy(); }, 20000);
        QThread::msleep(200);
    }
    std::printf("%d messages read elsewhere, one at a time\n", reads);
    std::printf("  status line after the bare session's IDLE line   median %7.1f ms   worst %7.1f ms\n",
                Median(after), *std::max_element(after.begin(), after.end()));
    std::printf("  goal: at most 100 ms: %s\n", Median(after) <= 100 ? "met" : "NOT met");
    check.Abort();
    check.Join(2000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return RunOnPrivateDesktop(argc, argv, "bench_read_elsewhere", "reads", Run);
}

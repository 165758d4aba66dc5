// How soon pushed mail is told: a message delivered to a private Dovecot
// while ternbell idles on the account, until the program's execute command
// is asked for it (through the real TMailCheck, its IDLE session, the check
// of the account it starts and the telling), beside how soon Dovecot tells
// a bare IDLE session of the same delivery. 20 deliveries, one at a time;
// medians and the worst are printed, and the goal: the program at most 1 s
// more than the bare session.
//
// Run:  build/bench/bench_push [deliveries]   (needs dovecot)
#include "app/MailCheck.h"
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
    return "From: bench@example.org\r\nSubject: pushed " + std::to_string(n) + "\r\n\r\nbody\r\n";
}

// A bare session idling on the mailbox: from the delivery to Dovecot's news.
double BareLatency(Dovecot& server, const std::string& user, int n)
{
    TIdIMAP4 client;
    client.Host = server.Host();
    client.Port = server.ImapPort();
    client.Username = user;
    client.Password = "pw";
    client.ReadTimeout = 10000;
    client.Connect(true);
    if (!client.SelectMailbox("inbox") || !client.IdleStart())
        throw std::runtime_error("the bare session could not idle");
    const TClock::time_point start = TClock::now();
    server.Deliver(user, Mail(n));
    if (!client.IdleWait(10000))
        throw std::runtime_error("the bare session heard nothing");
    const double ms = MsSince(start);
    client.IdleDone();
    client.Disconnect();
    return ms;
}

int Run(int deliveries)
{
    if (const std::string why = Dovecot::Unavailable(); !why.empty())
        throw std::runtime_error(why);
    Dovecot server;
    server.AddUser("pushed", "pw");
    server.AddUser("bare", "pw");
    server.KeepProcesses();
    server.Start();

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
    config.Execute = "true %s";
    config.ShowForm = false;
    TPushSessions push([](const Account& a, std::shared_ptr<TIdLineAbort> abort) {
        return MakePushClient(a, TSessionLimits{}, std::move(abort));
    });
    TMailCheck check(tray, newMail, config, [](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
        return MakeCheckClient(protocol, TSessionLimits{}, std::move(abort));
    });
    int told = 0;
    check.RunCommand = [&told](const std::vector<std::string>&) { ++told; };
    check.UsePush(&push, [] { return true; });

    check.CheckAccounts();
    if (!Until([&] { return !check.Busy() && push.Healthy(account); }, 20000))
        throw std::runtime_error("the account never idled");

    std::vector<double> program, bare;
    for (int n = 1; n <= deliveries; ++n)
    {
        bare.push_back(BareLatency(server, "bare", n));
        const int before = told;
        const TClock::time_point start = TClock::now();
        server.Deliver("pushed", Mail(n));
        if (!Until([&] { return told > before; }, 20000))
            throw std::runtime_error("delivery " + std::to_string(n) + " was never told");
        program.push_back(MsSince(start));
        // The next delivery finds the session idling again.
        Until([&] { return !check.Busy(); }, 20000);
        QThread::msleep(200);
    }
    const double difference = Median(program) - Median(bare);
    std::printf("%d deliveries, one at a time\n", deliveries);
    std::printf("  bare IDLE session     median %7.1f ms   worst %7.1f ms\n", Median(bare),
                *std::max_element(bare.begin(), bare.end()));
    std::printf("  delivery to command   median %7.1f ms   worst %7.1f ms\n", Median(program),
                *std::max_element(program.begin(), program.end()));
    std::printf("  goal: the program at most 1000 ms more than the bare session: %.1f ms more, %s\n", difference,
                difference <= 1000 ? "met" : "NOT met");
    check.Abort();
    check.Join(2000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return RunOnPrivateDesktop(argc, argv, "bench_push", "deliveries", Run);
}

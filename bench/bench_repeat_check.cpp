// What listing messages in the notification window costs per message: a first
// check that lists N messages (N = 1,000 and 5,000) into an empty list, and a
// repeat check of the same messages, all already listed. The real check cycle
// and the real windows (offscreen unless QT_QPA_PLATFORM says otherwise) do
// the work; the mail client is an in-memory one, so the network, which would
// hide the window's share, is left out. Each timed check ends with the event
// loop turned once, so layout and painting the check leaves behind count too.
//
//   FirstCheck/N    the list emptied (not timed), then one check
//   RepeatCheck/N   one check of messages that are all listed
//   Interleaved/N   the two in turn, the order rotating each round, with the
//                   medians per message and the median of the per-round
//                   ratios repeat/first (the goal: at most 1)
//
// Run:  build/bench/bench_repeat_check
#include "app/MailCheck.h"
#include "app/TrayParts.h"
#include "check/Account.h"
#include "check/CheckCycle.h"
#include "check/MessageList.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/DecoderModule.h"
#include "desktop/Dialogs.h"
#include "notify/NewMailForm.h"

#include "PrivateDesktop.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// A maildrop of `Count` messages that answers at once.
class TMemoryClient : public TCheckClient
{
public:
    explicit TMemoryClient(int count) : Count(count) {}

    void SetAccount(const Account&, int) override {}
    void Connect() override {}
    int MessageCount() override { return Count; }
    TFetchedHeader FetchHeader(int i) override
    {
        const std::string n = std::to_string(i);
        return {"Sender " + n + " <sender" + n + "@example.org>", "Report number " + n + " of the week", 2, {}, 0};
    }
    int MessageSize(int i) override { return 1500 + 37 * i; }
    void Disconnect() override {}
    void DisconnectAfterFailure() noexcept override {}

    int Count;
};

// The notification window and the tray as the program makes them, with one
// account and no notification but the window.
TConfig BenchConfig()
{
    TConfig config;
    Account account;
    account.Caption = "Bench";
    account.Host = "mail.example.org";
    config.Accounts = {account};
    config.ShowForm = true;
    return config;
}

class TCheckBench
{
public:
    explicit TCheckBench(int count)
        : FConfig(BenchConfig()), FCount(count),
          FCheck(FTray, FNewMail, FConfig,
                 [count](bool, std::shared_ptr<TIdLineAbort>) { return std::make_unique<TMemoryClient>(count); })
    {
        FNewMail.show();
        QCoreApplication::processEvents();
    }

    void Empty()
    {
        FCheck.Rows().Clear();
        QCoreApplication::processEvents();
    }

    // Seconds one check takes; a check that does not list every message is
    // no measurement.
    double TimedCheck()
    {
        const auto start = std::chrono::steady_clock::now();
        FCheck.CheckAccounts();
        while (FCheck.Busy())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        if (FCheck.Rows().Count() != FCount || FCheck.Cycle().ListedCount != FCount)
            throw std::runtime_error("a check did not list every message");
        return seconds.count();
    }

private:
    TTrayParts FTray;
    TfrmNewMail FNewMail;
    const TConfig FConfig;
    const int FCount;
    TMailCheck FCheck;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void PerMessage(benchmark::State& state, int count)
{
    state.counters["per_message"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FirstCheck(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    TCheckBench bench(count);
    for (auto _ : state)
    {
        bench.Empty();
        state.SetIterationTime(bench.TimedCheck());
    }
    PerMessage(state, count);
}

void BM_RepeatCheck(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    TCheckBench bench(count);
    bench.Empty();
    bench.TimedCheck();
    for (auto _ : state)
        state.SetIterationTime(bench.TimedCheck());
    PerMessage(state, count);
}

void BM_Interleaved(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    TCheckBench bench(count);
    bench.Empty();
    bench.TimedCheck();
    std::vector<double> first, repeat, ratio;
    for (auto _ : state)
    {
        double f, r;
        if (first.size() % 2 == 0)
        {
            bench.Empty();
            f = bench.TimedCheck();
            r = bench.TimedCheck();
        }
        else
        {
            r = bench.TimedCheck();
            bench.Empty();
            f = bench.TimedCheck();
        }
        first.push_back(f);
        repeat.push_back(r);
        ratio.push_back(r / f);
        state.SetIterationTime(f + r);
    }
    state.counters["first_us_per_msg"] = Median(first) * 1e6 / count;
    state.counters["repeat_us_per_msg"] = Median(repeat) * 1e6 / count;
    state.counters["repeat_over_first"] = Median(ratio);
    std::printf("%d messages: first %.2f us/message, repeat %.2f us/message, repeat/first %.2f "
                "(median of %zu rounds)\n",
                count, Median(first) * 1e6 / count, Median(repeat) * 1e6 / count, Median(ratio),
                ratio.size());
}

} // namespace

BENCHMARK(BM_FirstCheck)->Arg(1000)->Arg(5000)
    ->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepeatCheck)->Arg(1000)->Arg(5000)
    ->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interleaved)->Arg(1000)->Arg(5000)
    ->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    const std::unique_ptr<QTemporaryDir> home = UsePrivateHome();
    if (!home)
        return 1;
    QApplication app(argc, argv);
    QuietDesktop();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

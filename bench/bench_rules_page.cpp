// The Rules page with many rules: the list's rows made from 10,000 rule
// texts (one in seven bad), and the settings window shown on the page and
// painted, as the user opens it.
#include "config/Config.h"
#include "config/RuleList.h"
#include "config/SettingsForm.h"

#include <QApplication>
#include <QTabWidget>
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::string> ManyRules(int count)
{
    std::vector<std::string> rules;
    for (int i = 0; i < count; ++i)
        rules.push_back((i % 7 ? "quiet from *" : "bad from ") + std::to_string(i) + "@lists.example.org");
    return rules;
}

void BM_RuleRows(benchmark::State& state)
{
    const std::vector<std::string> rules = ManyRules(static_cast<int>(state.range(0)));
    TRuleListModel model;
    for (auto _ : state)
        model.SetRules(rules);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RuleRows)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_RulesPageShown(benchmark::State& state)
{
    TConfig config;
    config.Rules = ManyRules(static_cast<int>(state.range(0)));
    TfrmSettings settings;
    settings.pagSettings->setCurrentWidget(settings.tabRules);
    for (auto _ : state)
    {
        settings.ShowConfig(config);
        benchmark::DoNotOptimize(settings.grab());
    }
}
BENCHMARK(BM_RulesPageShown)->Arg(10)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}

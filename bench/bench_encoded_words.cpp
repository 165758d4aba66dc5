// Subject decoding into the desktop code page, the way every fetched header
// goes: a mix of subjects with Q and B words in ISO-8859-1, windows-1252,
// UTF-8 and KOI8-R, and plain ASCII ones. Reports subjects per second with
// conversion (into CP1252, CP1251 and UTF-8) and without (code page empty), and in
// Ratio the cost of conversion measured side by side in one run.
//
// Run:  build-<dir>/bench/bench_encoded_words
#include "mail/EncodedWords.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

const char* const kSubjects[] = {
    "=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=",
    "=?ISO-8859-1?B?UmVjaG51bmcgZvxyIE3kcno=?=",
    "Re: [dev] =?ISO-8859-1?Q?=DCberarbeitung_der?= =?ISO-8859-1?Q?_Schnittstelle?=",
    "Fwd: meeting notes (=?windows-1252?Q?=93Entwurf=94_=96_Protokoll?=)",
    "=?windows-1252?B?Q2Fm6SBjcuhtZSCAIDEy?=",
    "=?UTF-8?Q?=C3=9Cberarbeitung_der_Schnittstelle?=",
    "=?UTF-8?B?0J/RgNC40LLQtdGCLCDQutCw0Log0LTQtdC70LA/?=",
    "Re: =?UTF-8?B?UsOpc3Vtw6kgZW52b3nDqQ==?=",
    "=?KOI8-R?B?8NLJ18XUIMnaIO3P08vX2Q==?=",
    "=?KOI8-R?Q?=EF=D4=DE=A3=D4_=DA=C1_=CE=C5=C4=C5=CC=C0?=",
    "Your invoice 2026-1187 is ready",
    "Re: Re: lunch on Friday?",
    "[ternbell-dev] Build failed on main (3 commits)",
    "Weekly digest: 14 new posts in 3 topics",
};
constexpr int kCount = static_cast<int>(sizeof kSubjects / sizeof kSubjects[0]);

// One pass over the mix; the decoded lengths, so nothing is optimised away.
std::size_t DecodeAll(const std::vector<std::string>& subjects, const std::string& page)
{
    std::size_t total = 0;
    for (const std::string& s : subjects)
    {
        std::string decoded = DecodeEncodedWords(s, page);
        total += decoded.size();
        benchmark::DoNotOptimize(decoded);
    }
    return total;
}

const std::vector<std::string>& Subjects()
{
    static const std::vector<std::string> all(std::begin(kSubjects), std::end(kSubjects));
    return all;
}

// Range 0: no conversion; 1: into CP1252; 2: into CP1251; 3: into UTF-8,
// the code page of every current desktop.
void BM_DecodeSubjects(benchmark::State& state)
{
    static const char* const pages[] = {"", "CP1252", "CP1251", "UTF-8"};
    const std::string page = pages[state.range(0)];
    const auto& subjects = Subjects();
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeAll(subjects, page));
    state.SetItemsProcessed(state.iterations() * kCount);
    state.SetLabel(page.empty() ? "raw" : page);
}
BENCHMARK(BM_DecodeSubjects)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

// With and without conversion alternately, so load from elsewhere falls on
// both alike: subjects per second of each and their ratio.
void BM_Ratio(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const auto& subjects = Subjects();
    constexpr int Passes = 200;
    std::vector<double> with;
    std::vector<double> without;
    for (auto _ : state)
    {
        auto t0 = Clock::now();
        for (int i = 0; i < Passes; ++i)
            benchmark::DoNotOptimize(DecodeAll(subjects, "CP1252"));
        auto t1 = Clock::now();
        for (int i = 0; i < Passes; ++i)
            benchmark::DoNotOptimize(DecodeAll(subjects, ""));
        auto t2 = Clock::now();
        with.push_back(std::chrono::duration<double>(t1 - t0).count());
        without.push_back(std::chrono::duration<double>(t2 - t1).count());
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    const double perPass = static_cast<double>(Passes) * kCount;
    const double withRate = perPass / median(with);
    const double withoutRate = perPass / median(without);
    state.counters["converted_per_s"] = withRate;
    state.counters["raw_per_s"] = withoutRate;
    state.counters["raw_over_converted"] = withoutRate / withRate;
}
BENCHMARK(BM_Ratio)->Iterations(15)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

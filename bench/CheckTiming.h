#pragma once

// Timing shared by the mail check benchmarks: our client, a reference client
// in another process and the bare round-trip bound, each checking the same
// mailbox.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

// Seconds one check takes; a check that misses messages is no measurement.
template <typename Check, typename Server>
double TimedCheck(Check check, Server& server, int expected)
{
    auto start = std::chrono::steady_clock::now();
    if (check(server) != expected)
        throw std::runtime_error("a check did not see every message");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Hands the times another process measured to the benchmark, one per
// iteration; fewer than asked for is an error.
inline void ReplayTimes(benchmark::State& state, const std::vector<double>& times, const char* who)
{
    if (times.size() != static_cast<std::size_t>(state.max_iterations))
    {
        state.SkipWithError((std::string(who) + " did not report every check").c_str());
        for (auto _ : state)
        {
        }
        return;
    }
    std::size_t i = 0;
    for (auto _ : state)
        state.SetIterationTime(times[i++]);
}

// Medians and bests of the three in milliseconds, and the ratios of the
// medians: the reference's over ours, ours over the bound. A busy machine
// adds long outliers, not short ones.
inline void ReportInterleaved(benchmark::State& state, std::vector<double> (&times)[3],
                              const char* const (&names)[3])
{
    if (times[0].empty())
        return;
    double median[3];
    for (int k = 0; k < 3; ++k)
    {
        std::vector<double>& t = times[k];
        std::sort(t.begin(), t.end());
        median[k] = t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
        state.counters[std::string(names[k]) + "_median_ms"] = median[k] * 1e3;
        state.counters[std::string(names[k]) + "_best_ms"] = t.front() * 1e3;
    }
    state.counters[std::string(names[1]) + "_over_" + names[0]] = median[1] / median[0];
    state.counters[std::string(names[0]) + "_over_" + names[2]] = median[0] / median[2];
}

// Prepared execution with variables changed by handle before every run,
// against muparser evaluating the same expressions in the same process.
#include <benchmark/benchmark.h>
#include <muParser.h>

#include <chrono>
#include <cmath>

#include "PreparedEngines.h"
#include "zorvex/MathInterpreter.h"

namespace {

const char* const kExpressions[] = {
    "a + b * c",
    "(a + b) * (c - a) / 2.5",
    "Sin(a) * Cos(b) + Sqrt(c)",
    "a^2 + b^2 - 2*a*b*Cos(c)",
};
// muparser spells the same functions in lower case.
const char* const kMuExpressions[] = {
    "a + b * c",
    "(a + b) * (c - a) / 2.5",
    "sin(a) * cos(b) + sqrt(c)",
    "a^2 + b^2 - 2*a*b*cos(c)",
};

using Zorvex = bench::ZorvexPrepared;
using MuParser = bench::MuPrepared;

template <class Engine>
void BM_Prepared(benchmark::State& state, Engine& engine) {
    double x = 0.25, sum = 0;
    for (auto _ : state) {
        x += 0.001;
        sum += engine.Run(x, x + 1.0, x + 2.0);
    }
    benchmark::DoNotOptimize(sum);
}

void BM_ZorvexPrepared(benchmark::State& state) {
    Zorvex engine(kExpressions[state.range(0)]);
    BM_Prepared(state, engine);
    state.SetLabel(kExpressions[state.range(0)]);
}

void BM_MuParser(benchmark::State& state) {
    MuParser engine(kMuExpressions[state.range(0)]);
    BM_Prepared(state, engine);
    state.SetLabel(kMuExpressions[state.range(0)]);
}

// Both engines timed in alternating rounds of the same run; the counter
// "ratio" is our time divided by muparser's.
void BM_RatioToMuParser(benchmark::State& state) {
    Zorvex ours(kExpressions[state.range(0)]);
    MuParser theirs(kMuExpressions[state.range(0)]);
    using Clock = std::chrono::steady_clock;
    double oursNs = 0, theirsNs = 0, sum = 0;
    constexpr int kRound = 2000;
    for (auto _ : state) {
        double x = 0.25;
        auto t0 = Clock::now();
        for (int i = 0; i < kRound; ++i) sum += ours.Run(x + i * 1e-3, x + 1.0, x + 2.0);
        auto t1 = Clock::now();
        for (int i = 0; i < kRound; ++i) sum += theirs.Run(x + i * 1e-3, x + 1.0, x + 2.0);
        auto t2 = Clock::now();
        oursNs += std::chrono::duration<double, std::nano>(t1 - t0).count();
        theirsNs += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    benchmark::DoNotOptimize(sum);
    const double runs = static_cast<double>(state.iterations()) * kRound;
    state.counters["zorvex_ns"] = oursNs / runs;
    state.counters["muparser_ns"] = theirsNs / runs;
    state.counters["ratio"] = oursNs / theirsNs;
    state.SetLabel(kExpressions[state.range(0)]);
}

}  // namespace

BENCHMARK(BM_ZorvexPrepared)->DenseRange(0, 3);
BENCHMARK(BM_MuParser)->DenseRange(0, 3);
BENCHMARK(BM_RatioToMuParser)->DenseRange(0, 3);

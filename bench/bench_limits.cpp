// Operations that must stay near-linear on hostile sizes: substring search
// with a self-similar pattern, deleting a large table name by name, and
// defining and calling a function of very many parameters. Targets: well
// under a second each (deleting 100,000 variables, Pos over 10 MB).
// Budgets: a time limit stops long built-ins within 10 % + 10 ms of it
// (counter past_ms); a pattern longer than its text costs nothing; a tree
// takes under 100 bytes per byte of text (counter bytes_per_byte).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace {

void BM_PosPatternLongerThanText(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    interp.Execute("p = StringOfChar('a', 60000000)");
    const int handle = interp.PrepareExpression("Pos(p, 'b')");
    for (auto _ : state) benchmark::DoNotOptimize(interp.ExecutePreparedExpression(handle));
}

// How long past a 20 ms limit 40 long built-ins over 60 MB end.
void BM_TimeLimitPastLongBuiltIns(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    interp.Execute("s = StringOfChar('a', 60000000)");
    interp.SetEvaluationTimeLimit(20);
    std::string text = "0";
    for (int i = 0; i < 40; ++i) text += " + Length(UpperCase(s)) + Pos('b', s)";
    double past = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        try {
            interp.ExecuteExpression(text);
        } catch (const zorvex::EInterrupted&) {
        }
        past += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() - 20;
    }
    state.counters["past_ms"] = past / static_cast<double>(state.iterations());
}

// The memory of a prepared chain of a million sums, per byte of its text.
void BM_TreeBytesPerTextByte(benchmark::State& state) {
    std::string text = "1";
    for (int i = 0; i < 1000000; ++i) text += "+1";
    double perByte = 0;
    for (auto _ : state) {
        zorvex::TMathInterpreter interp;
        interp.PrepareExpression(text);
        perByte = static_cast<double>(interp.MemoryInUse()) / static_cast<double>(text.size());
    }
    state.counters["bytes_per_byte"] = perByte;
}

void BM_PosSelfSimilarPattern(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    interp.Execute("p = StringOfChar('a', 100000) + 'b'; t = StringOfChar('a', 10000000)");
    const int handle = interp.PrepareExpression("Pos(p, t)");
    for (auto _ : state) benchmark::DoNotOptimize(interp.ExecutePreparedExpression(handle));
}

void BM_Delete100000VariablesOneByOne(benchmark::State& state) {
    std::string create, remove;
    for (int i = 0; i < 100000; ++i) {
        create += "v" + std::to_string(i) + "=1;";
        remove += "delete v" + std::to_string(i) + ";";
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto interp = std::make_unique<zorvex::TMathInterpreter>();
        interp->Execute(create);
        state.ResumeTiming();
        interp->Execute(remove);
        benchmark::DoNotOptimize(interp->SymbolCount());
    }
}

void BM_Define20000Parameters(benchmark::State& state) {
    std::string params;
    for (int i = 0; i < 20000; ++i) params += (i ? ",p" : "p") + std::to_string(i);
    const std::string text = "f(" + params + ") := p0 + p19999";
    for (auto _ : state) {
        zorvex::TMathInterpreter interp;
        interp.ExecuteExpression(text);
        benchmark::DoNotOptimize(interp.SymbolCount());
    }
}

}  // namespace

BENCHMARK(BM_PosSelfSimilarPattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PosPatternLongerThanText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimeLimitPastLongBuiltIns)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TreeBytesPerTextByte)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Delete100000VariablesOneByOne)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Define20000Parameters)->Unit(benchmark::kMillisecond);

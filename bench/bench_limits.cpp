// Operations that must stay near-linear on hostile sizes: substring search
// with a self-similar pattern, deleting a large table name by name, and
// defining and calling a function of very many parameters. Targets: well
// under a second each (deleting 100,000 variables, Pos over 10 MB).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "zorvex/MathInterpreter.h"

namespace {

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
BENCHMARK(BM_Delete100000VariablesOneByOne)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Define20000Parameters)->Unit(benchmark::kMillisecond);

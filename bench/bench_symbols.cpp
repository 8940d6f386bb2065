// Building and loading large symbol tables.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "zorvex/MathInterpreter.h"

namespace {

std::string Variables(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "v" + std::to_string(i) + " = " + std::to_string(i) + ";";
    return text;
}

std::string Functions(int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "f" + std::to_string(i) + "(x) := x + v" + std::to_string(i) + " * f" + std::to_string(i / 2) + "(1);";
    return text;
}

void BM_Define10000Variables(benchmark::State& state) {
    const std::string text = Variables(10000);
    for (auto _ : state) {
        zorvex::TMathInterpreter interp;
        interp.Execute(text);
        benchmark::DoNotOptimize(interp.SymbolCount());
    }
}

void BM_Define10000Functions(benchmark::State& state) {
    const std::string variables = Variables(10000);
    const std::string functions = Functions(10000);
    for (auto _ : state) {
        state.PauseTiming();
        auto interp = std::make_unique<zorvex::TMathInterpreter>();
        interp->Execute(variables);
        state.ResumeTiming();
        interp->Execute(functions);
        benchmark::DoNotOptimize(interp->SymbolCount());
        state.PauseTiming();  // freeing the table is not part of the figure
        interp.reset();
        state.ResumeTiming();
    }
}

// A symbols file of 100,000 variables (integers and reals) and 10,000
// functions, loaded into a fresh interpreter.
void BM_LoadSymbolsFile(benchmark::State& state) {
    const std::string path = "zorvex_bench_symbols.txt";
    {
        zorvex::TMathInterpreter source;
        std::string text;
        for (int i = 0; i < 100000; ++i)
            text += "v" + std::to_string(i) + " = " + std::to_string(i) + (i % 3 == 0 ? ".25;" : ";");
        source.Execute(text);
        source.Execute(Functions(10000));
        source.SaveSymbolsToFile(path);
    }
    for (auto _ : state) {
        auto interp = std::make_unique<zorvex::TMathInterpreter>();
        interp->LoadSymbolsFromFile(path);
        benchmark::DoNotOptimize(interp->SymbolCount());
        state.PauseTiming();
        interp.reset();
        state.ResumeTiming();
    }
    std::remove(path.c_str());
}

}  // namespace

BENCHMARK(BM_Define10000Variables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Define10000Functions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSymbolsFile)->Unit(benchmark::kMillisecond);

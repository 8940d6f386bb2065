// Building and loading large symbol tables.
#include <benchmark/benchmark.h>

#include <cstdint>
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

// Table operations as the table and the number of prepared trees grow. Each
// figure is one pass (Iterations(1)); the rows of one benchmark double their
// argument, so near-linear growth shows as a doubling of the time.

// `setup` fills a fresh interpreter untimed; `work` on it is timed, freeing
// it is not.
template <class Setup, class Work>
void OnePass(benchmark::State& state, Setup setup, Work work) {
    for (auto _ : state) {
        state.PauseTiming();
        auto interp = std::make_unique<zorvex::TMathInterpreter>();
        setup(*interp);
        state.ResumeTiming();
        work(*interp);
        state.PauseTiming();
        interp.reset();
        state.ResumeTiming();
    }
}

std::string Readers(int n) {
    std::string text = "x = 0;";
    for (int i = 0; i < n; ++i) text += "f" + std::to_string(i) + " := x + " + std::to_string(i) + ";";
    return text;
}

void Repeat(zorvex::TMathInterpreter& interp, int64_t times, const std::string& text) {
    for (int64_t i = 0; i < times; ++i) interp.Execute(text);
}

// `delete y; y = 1` run `k` times beside a table of 100,000 variables.
void BM_DeleteThenAssign(benchmark::State& state) {
    const std::string table = Variables(100000) + "y = 1";
    OnePass(state, [&](auto& interp) { interp.Execute(table); },
            [&](auto& interp) { Repeat(interp, state.range(0), "delete y; y = 1"); });
}

// n variables, then n times `delete y; y = 1`: table and work grow together.
void BM_DeleteThenAssignTable(benchmark::State& state) {
    const std::string table = Variables(static_cast<int>(state.range(0))) + "y = 1";
    OnePass(state, [&](auto& interp) { interp.Execute(table); },
            [&](auto& interp) { Repeat(interp, state.range(0), "delete y; y = 1"); });
}

// n functions that read x, then `count` times `delete x; x = i`: each delete
// unbinds the n readers and each assignment binds them again.
void DeleteReadByMany(benchmark::State& state, int64_t count) {
    const std::string functions = Readers(static_cast<int>(state.range(0)));
    OnePass(state, [&](auto& interp) { interp.Execute(functions); }, [&](auto& interp) {
        for (int64_t i = 0; i < count; ++i) interp.Execute("delete x; x = " + std::to_string(i));
    });
}
void BM_DeleteWithReaders(benchmark::State& state) { DeleteReadByMany(state, state.range(0)); }
void BM_DeleteReadByMany(benchmark::State& state) { DeleteReadByMany(state, 100); }

void Prepare(zorvex::TMathInterpreter& interp, int64_t n) {
    for (int64_t i = 0; i < n; ++i) interp.PrepareExpression("a * b + " + std::to_string(i));
}

// n prepared expressions of their own text each.
void BM_PrepareMany(benchmark::State& state) {
    OnePass(state, [](auto& interp) { interp.Execute("a = 1.5; b = 2.5"); },
            [&](auto& interp) { Prepare(interp, state.range(0)); });
}

// n prepared trees that read a and b, then n times `delete y; y = 1`.
void BM_DeleteWithPreparedTrees(benchmark::State& state) {
    OnePass(state,
            [&](auto& interp) {
                interp.Execute("a = 1.5; b = 2.5; y = 1");
                Prepare(interp, state.range(0));
            },
            [&](auto& interp) { Repeat(interp, state.range(0), "delete y; y = 1"); });
}

}  // namespace

BENCHMARK(BM_DeleteThenAssign)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteThenAssignTable)->Arg(2000)->Arg(4000)->Arg(8000)->Arg(16000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteWithReaders)->Arg(1250)->Arg(2500)->Arg(5000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteReadByMany)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareMany)->Arg(25000)->Arg(50000)->Arg(100000)->Arg(200000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteWithPreparedTrees)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Define10000Variables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Define10000Functions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSymbolsFile)->Unit(benchmark::kMillisecond);

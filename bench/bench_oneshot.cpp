// Cost of evaluating a text once: tokenizing, tree building, evaluation and
// freeing, as a caller without prepared expressions pays it.
#include <benchmark/benchmark.h>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

namespace {

void BM_OneShotArithmetic(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    const std::string text =
        "(1.5 + 2.25) * 3 - 4 / (2 + 6) ^ 2 + 7 div 2 - 10 mod 4 + (8 - 3) * (2 + 1)";
    for (auto _ : state) {
        zorvex::Variant result = interp.ExecuteExpression(text);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OneShotArithmetic);

void BM_OneShotSplitText(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    const std::string text = "a = 2; b = a * 3 + 1; (a + b) * (b - a) / 2; 'x;y' + 'z'";
    for (auto _ : state) {
        for (const std::string& piece : zorvex::TMathInterpreter::SplitExpressions(text, '\0')) {
            zorvex::Variant result = interp.ExecuteExpression(piece);
            benchmark::DoNotOptimize(result);
        }
    }
}
BENCHMARK(BM_OneShotSplitText);

}  // namespace

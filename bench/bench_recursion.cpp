// User-function calls, where the interrupt and budget checks sit: fib(20)
// makes 21891 calls. Arg 0: no budget (one relaxed load per call); arg 1:
// time and step budgets set (the clock is read every 64 calls).
#include <benchmark/benchmark.h>

#include "zorvex/MathInterpreter.h"

namespace {

void BM_RecursiveCalls(benchmark::State& state) {
    zorvex::TMathInterpreter interp;
    interp.ExecuteExpression("fib(n) := IfF(n < 2, n, fib(n - 1) + fib(n - 2))");
    if (state.range(0) == 1) {
        interp.SetEvaluationTimeLimit(60000);
        interp.SetEvaluationStepLimit(1000000000);
    }
    const int handle = interp.PrepareExpression("fib(20)");
    for (auto _ : state) {
        zorvex::Variant result = interp.ExecutePreparedExpression(handle);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations() * 21891);
}
BENCHMARK(BM_RecursiveCalls)->Arg(0)->Arg(1);

}  // namespace

// Prepared E4 on one interpreter, alone and while a second interpreter
// assigns and deletes a variable between its evaluations: instructions per
// evaluation of the first interpreter only, counted by callgrind. One
// interpreter's work must not make another's compiled forms stale.
//
//   zorvex_isolation            prints the table (needs valgrind)
//   zorvex_isolation MODE N     runs N evaluations in MODE (alone, other, same)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "PreparedEngines.h"
#include "zorvex/MathInterpreter.h"

namespace {

const char* const kE4 = "a^2 + b^2 - 2*a*b*Cos(c)";

// The variables set by handle and the evaluation, as bench/compare does;
// only what runs in here is counted.
__attribute__((noinline)) double EvaluateA(bench::ZorvexPrepared& a, double x) {
    a.interp.SetVariablesByHandle(a.ha, x);
    a.interp.SetVariablesByHandle(a.hb, x + 1.0);
    a.interp.SetVariablesByHandle(a.hc, x + 2.0);
    return zorvex::VarToReal(a.interp.ExecutePreparedExpression(a.handle));
}

double Run(const std::string& mode, long n) {
    bench::ZorvexPrepared a(kE4);
    zorvex::TMathInterpreter b;
    zorvex::TMathInterpreter& worker = mode == "same" ? a.interp : b;
    const bool work = mode != "alone";
    double sum = 0, x = 0.25;
    for (long i = 0; i < n; ++i) {
        x += 1e-6;
        sum += EvaluateA(a, x);
        if (work) {
            worker.ExecuteExpression("y = 1+2*3");
            worker.ExecuteExpression("delete y");
        }
    }
    return sum;
}

long long Count(const std::string& self, const std::string& mode, long n) {
    const std::string cmd = "valgrind --tool=callgrind --callgrind-out-file=/dev/null '--toggle-collect=*EvaluateA*' '" +
                            self + "' " + mode + " " + std::to_string(n) + " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return -1;
    long long collected = -1;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
        if (const char* p = std::strstr(line, "Collected : ")) collected = std::atoll(p + 12);
    pclose(pipe);
    return collected;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        volatile double sink = Run(argv[1], std::atol(argv[2]));
        (void)sink;
        return 0;
    }
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = '\0';
    constexpr long kN = 2000;
    const char* const modes[] = {"alone", "other", "same"};
    const char* const labels[] = {"A alone", "B assigns and deletes y between", "A itself assigns and deletes y"};
    double alone = 0;
    std::printf("%-34s %12s %8s\n", "prepared E4 on interpreter A", "instr/eval", "ratio");
    for (int m = 0; m < 3; ++m) {
        const long long one = Count(self, modes[m], kN), two = Count(self, modes[m], 2 * kN);
        if (one < 0 || two < 0) return 1;
        const double per = static_cast<double>(two - one) / kN;
        if (m == 0) alone = per;
        std::printf("%-34s %12.0f %8.2f\n", labels[m], per, per / alone);
    }
    return 0;
}

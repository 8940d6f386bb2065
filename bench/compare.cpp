// One table of side-by-side figures: zorvex, muparser and native C++ on the
// same expressions, timed in one run (interleaved rounds, medians of 3 runs
// of 7 repetitions), plus instructions per evaluation counted by callgrind
// when valgrind is on the PATH. Built and run by bench/compare.
#include <muParser.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "PreparedEngines.h"
#include "zorvex/MathInterpreter.h"

namespace {

using NativeFn = double (*)(double, double, double);

// Out of line so the compiler cannot fold them into the timing loop.
__attribute__((noinline)) double NativeE1(double a, double b, double c) { return a + b * c; }
__attribute__((noinline)) double NativeE2(double a, double b, double c) { return (a + b) * (c - a) / 2.5; }
__attribute__((noinline)) double NativeE3(double a, double b, double c) {
    return std::sin(a) * std::cos(b) + std::sqrt(c);
}
__attribute__((noinline)) double NativeE4(double a, double b, double c) {
    return std::pow(a, 2.0) + std::pow(b, 2.0) - 2 * a * b * std::cos(c);
}
__attribute__((noinline)) double NativeE5(double a, double b, double c) { return (a > b ? a : b) + c; }
double Clamp(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }
__attribute__((noinline)) double NativeE6(double a, double b, double c) { return Clamp(a * b, 0, c); }

struct Case {
    const char* name;
    const char* zorvex;
    const char* muparser;
    NativeFn native;
};

const Case kCases[] = {
    {"E1", "a + b * c", "a + b * c", NativeE1},
    {"E2", "(a + b) * (c - a) / 2.5", "(a + b) * (c - a) / 2.5", NativeE2},
    {"E3", "Sin(a) * Cos(b) + Sqrt(c)", "sin(a) * cos(b) + sqrt(c)", NativeE3},
    {"E4", "a^2 + b^2 - 2*a*b*Cos(c)", "a^2 + b^2 - 2*a*b*cos(c)", NativeE4},
    {"E5", "IfF(a > b, a, b) + c", "(a > b ? a : b) + c", NativeE5},
};

// E6 calls a function of the host; it runs only where the variables are the
// host's.
const Case kClamp = {"E6", "clamp(a * b, 0, c)", "clamp(a * b, 0, c)", NativeE6};

// The host's own a, b and c, bound to the interpreter: the loop writes them
// as muparser's does, and `clamp` is the host's function.
struct ZorvexBound {
    zorvex::TMathInterpreter interp;
    double a = 1.5, b = 2.5, c = 3.5;
    int handle;
    explicit ZorvexBound(const char* text) {
        interp.BindVariable("a", &a);
        interp.BindVariable("b", &b);
        interp.BindVariable("c", &c);
        interp.DefineFunction("clamp", &Clamp, {.pure = true});
        handle = interp.PrepareExpression(text);
    }
    double Run(double x, double y, double z) {
        a = x;
        b = y;
        c = z;
        return zorvex::VarToReal(interp.ExecutePreparedExpression(handle));
    }
};

// A runner performs `n` evaluations and returns a checksum the optimiser
// must keep.
using Runner = std::function<double(long n)>;

// n evaluations of a prepared engine, the variables changing each time.
template <class Engine>
double RunPrepared(Engine& engine, long n) {
    double sum = 0, x = 0.25;
    for (long i = 0; i < n; ++i) {
        x += 1e-6;
        sum += engine.Run(x, x + 1.0, x + 2.0);
    }
    return sum;
}

// Each write as soon as its value is known, as a host would write them: no
// value is kept across a write.
template <>
double RunPrepared(bench::ZorvexPrepared& z, long n) {
    double sum = 0, x = 0.25;
    for (long i = 0; i < n; ++i) {
        x += 1e-6;
        z.interp.SetVariablesByHandle(z.ha, x);
        z.interp.SetVariablesByHandle(z.hb, x + 1.0);
        z.interp.SetVariablesByHandle(z.hc, x + 2.0);
        sum += zorvex::VarToReal(z.interp.ExecutePreparedExpression(z.handle));
    }
    return sum;
}

double RunNative(NativeFn fn, long n) {
    // Through a volatile pointer: a call per evaluation, as an engine pays.
    NativeFn volatile f = fn;
    double sum = 0, x = 0.25;
    for (long i = 0; i < n; ++i) {
        x += 1e-6;
        sum += f(x, x + 1.0, x + 2.0);
    }
    return sum;
}

// One-shot: a new text each time on an engine that already holds a, b, c.
struct ZorvexOneShot {
    zorvex::TMathInterpreter interp;
    std::string text;
    explicit ZorvexOneShot(const char* t) : text(t) { interp.Execute("a = 1.5; b = 2.5; c = 3.5"); }
    double Run(long n) {
        double sum = 0;
        for (long i = 0; i < n; ++i) sum += zorvex::VarToReal(interp.ExecuteExpression(text));
        return sum;
    }
};

struct MuOneShot {
    mu::Parser parser;
    double a = 1.5, b = 2.5, c = 3.5;
    std::string text;
    explicit MuOneShot(const char* t) : text(t) {
        parser.DefineVar("a", &a);
        parser.DefineVar("b", &b);
        parser.DefineVar("c", &c);
    }
    double Run(long n) {
        double sum = 0;
        for (long i = 0; i < n; ++i) {
            parser.SetExpr(text);
            sum += parser.Eval();
        }
        return sum;
    }
};

// A small script: definitions, a recursive function and a loop-like use.
const char* const kScript =
    "rate = 0.05 / 12; n = 360; pv = 250000;"
    "pay = Payment(rate, n, pv, 0, 0);"
    "fib(k) := IfF(k < 2, k, fib(k - 1) + fib(k - 2));"
    "f = fib(12); s = UpperCase('total: ') + FloatToStr(pay * n);"
    "delete fib; Length(s) + f";

std::string VariablesText(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "v" + std::to_string(i) + " = " + std::to_string(i) + ".25;";
    return text;
}

struct Row {
    std::string group, name, label;
    Runner zorvex, muparser, native;  // empty when the engine has no counterpart
    long work = 1;                    // evaluations per call of a runner with n = 1
};

double NowNs() {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The batch size that takes about `targetNs`.
long Calibrate(const Runner& run, double targetNs, volatile double& sink) {
    long n = 1;
    for (;;) {
        double t0 = NowNs();
        sink = sink + run(n);
        double dt = NowNs() - t0;
        if (dt > targetNs / 4 || n > (1L << 40)) return std::max<long>(1, static_cast<long>(n * targetNs / std::max(dt, 1.0)));
        n *= 4;
    }
}

double MedianOf(std::vector<double> samples) {
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// The median ns per evaluation of each runner over 3 runs of 7 repetitions.
// The engines take turns within each repetition, so that a slower or faster
// spell of a shared machine falls on all of them alike. -1 for an empty one.
std::vector<double> Medians(const std::vector<const Runner*>& runners, double targetNs, volatile double& sink) {
    std::vector<long> batch;
    for (const Runner* run : runners) batch.push_back(*run ? Calibrate(*run, targetNs, sink) : 0);
    std::vector<std::vector<double>> samples(runners.size());
    for (int r = 0; r < 3 * 7; ++r)
        for (std::size_t e = 0; e < runners.size(); ++e) {
            if (!*runners[e]) continue;
            double t0 = NowNs();
            sink = sink + (*runners[e])(batch[e]);
            samples[e].push_back((NowNs() - t0) / static_cast<double>(batch[e]));
        }
    std::vector<double> medians;
    for (auto& s : samples) medians.push_back(s.empty() ? -1 : MedianOf(std::move(s)));
    return medians;
}

std::vector<Row> BuildRows(const std::string& only) {
    std::vector<Row> rows;
    auto want = [&](const char* group) { return only.empty() || only == group; };
    if (want("prepared"))
    for (const Case& c : kCases) {
        auto z = std::make_shared<bench::ZorvexPrepared>(c.zorvex);
        auto m = std::make_shared<bench::MuPrepared>(c.muparser);
        NativeFn fn = c.native;
        rows.push_back({"prepared", c.name, c.zorvex, [z](long n) { return RunPrepared(*z, n); },
                        [m](long n) { return RunPrepared(*m, n); }, [fn](long n) { return RunNative(fn, n); }});
    }
    if (want("bound"))
    for (int k = 0; k <= static_cast<int>(std::size(kCases)); ++k) {
        const Case& c = k < static_cast<int>(std::size(kCases)) ? kCases[k] : kClamp;
        auto z = std::make_shared<ZorvexBound>(c.zorvex);
        auto m = std::make_shared<bench::MuPrepared>(c.muparser, [](mu::Parser& p) { p.DefineFun("clamp", &Clamp); });
        NativeFn fn = c.native;
        rows.push_back({"bound", c.name, c.zorvex, [z](long n) { return RunPrepared(*z, n); },
                        [m](long n) { return RunPrepared(*m, n); }, [fn](long n) { return RunNative(fn, n); }});
    }
    if (want("one-shot"))
    for (const Case& c : kCases) {
        auto z = std::make_shared<ZorvexOneShot>(c.zorvex);
        auto m = std::make_shared<MuOneShot>(c.muparser);
        rows.push_back({"one-shot", c.name, c.zorvex, [z](long n) { return z->Run(n); },
                        [m](long n) { return m->Run(n); }, {}});
    }
    if (want("script"))
    rows.push_back({"script", "loan+fib", "Execute of a 9-expression script",
                    [](long n) {
                        double sum = 0;
                        for (long i = 0; i < n; ++i) {
                            zorvex::TMathInterpreter interp;
                            sum += zorvex::VarToReal(interp.Execute(kScript).ArrayGet(8));
                        }
                        return sum;
                    },
                    {}, {}});
    if (!want("symbols")) return rows;
    auto variables = std::make_shared<std::string>(VariablesText(10000));
    rows.push_back({"symbols", "define", "10,000 variables defined by Execute",
                    [variables](long n) {
                        double sum = 0;
                        for (long i = 0; i < n; ++i) {
                            zorvex::TMathInterpreter interp;
                            interp.Execute(*variables);
                            sum += interp.SymbolCount();
                        }
                        return sum;
                    },
                    {}, {}});
    auto saved = std::make_shared<std::string>();
    {
        zorvex::TMathInterpreter source;
        source.Execute(*variables);
        *saved = source.DumpStreamable();
    }
    rows.push_back({"symbols", "load", "10,000 variables loaded from their saved text",
                    [saved](long n) {
                        double sum = 0;
                        for (long i = 0; i < n; ++i) {
                            zorvex::TMathInterpreter interp;
                            zorvex::TReader reader(*saved);
                            interp.ReadSymbols(reader);
                            sum += interp.SymbolCount();
                        }
                        return sum;
                    },
                    {}, {}});
    return rows;
}

const Runner* Pick(const Row& row, const std::string& engine) {
    const Runner* r = engine == "zorvex" ? &row.zorvex : engine == "muparser" ? &row.muparser : &row.native;
    return *r ? r : nullptr;
}

// Instructions of `n` evaluations counted by callgrind running this program.
long long CountInstructions(const std::string& self, const std::string& group, const std::string& name,
                            const std::string& engine, long n) {
    std::string cmd = "valgrind --tool=callgrind --callgrind-out-file=/dev/null '" + self + "' --count " + group +
                      " " + name + " " + engine + " " + std::to_string(n) + " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) return -1;
    long long collected = -1;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        const char* p = std::strstr(line, "Collected : ");
        if (p != nullptr) collected = std::atoll(p + 12);
    }
    pclose(pipe);
    return collected;
}

// Per evaluation: the difference between 2n and n evaluations removes
// start-up and set-up.
double InstructionsPerEvaluation(const std::string& self, const Row& row, const std::string& engine) {
    constexpr long kN = 2000;
    long long one = CountInstructions(self, row.group, row.name, engine, kN);
    long long two = CountInstructions(self, row.group, row.name, engine, 2 * kN);
    if (one < 0 || two < 0) return -1;
    return static_cast<double>(two - one) / kN;
}

bool HaveValgrind() { return std::system("command -v valgrind >/dev/null 2>&1") == 0; }

std::string Cell(double v, const char* fmt) {
    if (v < 0) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string Ratio(double a, double b) { return (a < 0 || b <= 0) ? "-" : Cell(a / b, "%.2f"); }

std::string Time(double ns) {
    if (ns < 0) return "-";
    if (ns >= 1e6) return Cell(ns / 1e6, "%.2f ms");
    if (ns >= 1e3) return Cell(ns / 1e3, "%.2f us");
    return Cell(ns, "%.1f ns");
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zorvex_compare [--no-callgrind] [--only GROUP]\n"
                 "       zorvex_compare --count GROUP NAME ENGINE N\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--count") {
        if (args.size() != 5) return Usage();
        for (const Row& row : BuildRows(args[1])) {
            if (row.group != args[1] || row.name != args[2]) continue;
            const Runner* run = Pick(row, args[3]);
            if (run == nullptr) return 1;
            volatile double sink = (*run)(std::atol(args[4].c_str()));
            (void)sink;
            return 0;
        }
        return 1;
    }
    bool callgrind = true;
    std::string only;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--no-callgrind") callgrind = false;
        else if (args[i] == "--only" && i + 1 < args.size()) only = args[++i];
        else return Usage();
    }
    callgrind = callgrind && HaveValgrind();
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) callgrind = false;
    else self[len] = '\0';

    std::printf("%-9s %-9s %-30s %11s %11s %11s %8s %8s", "group", "case", "expression", "zorvex", "muparser",
                "native", "z/mu", "z/nat");
    if (callgrind) std::printf(" %9s %9s %9s %8s %8s", "z instr", "mu instr", "nat instr", "z/mu", "z/nat");
    std::printf("\n");
    volatile double sink = 0;
    for (const Row& row : BuildRows(only)) {
        const double target = row.group == "symbols" || row.group == "script" ? 2e7 : 5e6;
        const std::vector<double> t = Medians({&row.zorvex, &row.muparser, &row.native}, target, sink);
        const double z = t[0], m = t[1], nat = t[2];
        std::string label = row.label.size() > 30 ? row.label.substr(0, 27) + "..." : row.label;
        std::printf("%-9s %-9s %-30s %11s %11s %11s %8s %8s", row.group.c_str(), row.name.c_str(), label.c_str(),
                    Time(z).c_str(), Time(m).c_str(), Time(nat).c_str(), Ratio(z, m).c_str(),
                    Ratio(z, nat).c_str());
        if (callgrind && (row.group == "prepared" || row.group == "bound" || row.group == "one-shot")) {
            double zi = InstructionsPerEvaluation(self, row, "zorvex");
            double mi = row.muparser ? InstructionsPerEvaluation(self, row, "muparser") : -1;
            double ni = row.native ? InstructionsPerEvaluation(self, row, "native") : -1;
            std::printf(" %9s %9s %9s %8s %8s", Cell(zi, "%.0f").c_str(), Cell(mi, "%.0f").c_str(),
                        Cell(ni, "%.0f").c_str(), Ratio(zi, mi).c_str(), Ratio(zi, ni).c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

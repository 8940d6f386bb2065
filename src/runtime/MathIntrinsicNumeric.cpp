// Numeric built-ins: elementary functions, angle units, rounding, Max/Min,
// Pi, RandG, Sign and Factorial.

#include <math.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>

#include "IntrinsicApply.h"
#include "IntrinsicEval.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

// Extended precision for the unit conversions, so that e.g. DegToRad(180)
// rounds to the double nearest to pi.
constexpr long double kPi = 3.14159265358979323846264338327950288L;

[[noreturn]] void RangeError() { throw ERangeError("Range check error"); }

// A whole real as a 32-bit integer; NaN and values beyond 32 bits raise
// rather than wrap.
std::int32_t WholeToInt32(double r) {
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) RangeError();
    return static_cast<std::int32_t>(r);
}

// A logarithm that is an intermediate result must not be infinite either.
long double CheckedLog(double x) {
    const long double r = std::log(static_cast<long double>(x));
    CheckReal(static_cast<double>(r));
    return r;
}

double LogN(double base, double x) {
    return static_cast<double>(CheckedLog(x) / CheckedLog(base));
}

std::int32_t Round(double x) { return WholeToInt32(std::nearbyint(x)); }
std::int32_t Trunc(double x) { return WholeToInt32(std::trunc(x)); }
std::int32_t Ceil(double x) { return WholeToInt32(std::ceil(x)); }
std::int32_t Floor(double x) { return WholeToInt32(std::floor(x)); }
std::int32_t Max(std::int32_t a, std::int32_t b) { return a > b ? a : b; }
std::int32_t Min(std::int32_t a, std::int32_t b) { return a < b ? a : b; }

double Pi() { return M_PI; }

std::int32_t Sign(Variant v) {
    const Variant zero(0);
    if (VarCmp(v, zero) > 0) return 1;
    if (VarCmp(v, zero) < 0) return -1;
    return 0;
}

// One process-wide generator, unseeded as the platform's is; RandG is the
// only user, so a mutex costs nothing measurable.
std::mutex randomMutex;
std::mt19937_64 randomEngine;

// Marsaglia's polar method.
double RandG(double mean, double stdDev) {
    double u, v, s;
    {
        std::lock_guard<std::mutex> lock(randomMutex);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        do {
            u = uniform(randomEngine);
            v = uniform(randomEngine);
            s = u * u + v * v;
        } while (s >= 1.0 || s == 0.0);
    }
    return mean + stdDev * u * std::sqrt(-2.0 * std::log(s) / s);
}

double Hypot(double x, double y) { return std::hypot(x, y); }
double ArcTan2(double y, double x) { return std::atan2(y, x); }
double Ldexp(double x, std::int32_t p) { return std::ldexp(x, p); }

}  // namespace

// Real functions of one real operand that are the C library's own: name,
// the library's function, and the SSE2 instruction (after F2 0F) that
// machine code may apply instead of a call, or 0. Each gets a function
// Real<Name> and its evaluator; compiled forms call the library's directly.
#define ZORVEX_LIBRARY_OF_REAL(X) \
    X(Abs, fabs, 0)               \
    X(ArcCos, acos, 0)            \
    X(ArcCosh, acosh, 0)          \
    X(ArcSin, asin, 0)            \
    X(ArcSinh, asinh, 0)          \
    X(ArcTan, atan, 0)            \
    X(ArcTanh, atanh, 0)          \
    X(Cos, cos, 0)                \
    X(Cosh, cosh, 0)              \
    X(Exp, exp, 0)                \
    X(Int, trunc, 0)              \
    X(Ln, log, 0)                 \
    X(LnXP1, log1p, 0)            \
    X(Log10, log10, 0)            \
    X(Log2, log2, 0)              \
    X(Sin, sin, 0)                \
    X(Sinh, sinh, 0)              \
    X(Sqrt, sqrt, 0x51)           \
    X(Tan, tan, 0)                \
    X(Tanh, tanh, 0)

// The others: name and value in terms of x.
#define ZORVEX_REAL_OF_REAL(X)                         \
    X(Cotan, 1.0 / std::tan(x))                        \
    X(CycleToRad, static_cast<double>(x * (2 * kPi)))  \
    X(DegToRad, static_cast<double>(x * (kPi / 180)))  \
    X(Frac, x - std::trunc(x))                         \
    X(GradToRad, static_cast<double>(x * (kPi / 200))) \
    X(RadToCycle, static_cast<double>(x / (2 * kPi)))  \
    X(RadToDeg, static_cast<double>(x * (180 / kPi)))  \
    X(RadToGrad, static_cast<double>(x * (200 / kPi))) \
    X(Sqr, x* x)

#define ZORVEX_DEFINE_LIBRARY_OF_REAL(Name, f, sse) \
    namespace {                                     \
    double Real##Name(double x) { return ::f(x); }  \
    }                                               \
    ZORVEX_APPLY_EVAL(Name, Real##Name)
ZORVEX_LIBRARY_OF_REAL(ZORVEX_DEFINE_LIBRARY_OF_REAL)
#undef ZORVEX_DEFINE_LIBRARY_OF_REAL

#define ZORVEX_DEFINE_REAL_OF_REAL(Name, expr)  \
    namespace {                                 \
    double Real##Name(double x) { return expr; } \
    }                                           \
    ZORVEX_APPLY_EVAL(Name, Real##Name)
ZORVEX_REAL_OF_REAL(ZORVEX_DEFINE_REAL_OF_REAL)
#undef ZORVEX_DEFINE_REAL_OF_REAL

RealFunction RealFunctionOf(const TMIntrinsicFunctionCall& call, std::uint8_t* sse) {
    const char* name = call.ClassName();
    if (sse != nullptr) *sse = 0;
#define ZORVEX_MATCH_LIBRARY_OF_REAL(Name, f, op) \
    if (std::strcmp(name, "TM" #Name) == 0) {     \
        if (sse != nullptr) *sse = op;            \
        return static_cast<RealFunction>(::f);    \
    }
    ZORVEX_LIBRARY_OF_REAL(ZORVEX_MATCH_LIBRARY_OF_REAL)
#undef ZORVEX_MATCH_LIBRARY_OF_REAL
#define ZORVEX_MATCH_REAL_OF_REAL(Name, expr) \
    if (std::strcmp(name, "TM" #Name) == 0) return Real##Name;
    ZORVEX_REAL_OF_REAL(ZORVEX_MATCH_REAL_OF_REAL)
#undef ZORVEX_MATCH_REAL_OF_REAL
    return nullptr;
}
#undef ZORVEX_LIBRARY_OF_REAL
#undef ZORVEX_REAL_OF_REAL

ZORVEX_APPLY_EVAL(ArcTan2, ArcTan2)
ZORVEX_APPLY_EVAL(Ceil, Ceil)
ZORVEX_APPLY_EVAL(Floor, Floor)
ZORVEX_APPLY_EVAL(Hypot, Hypot)
ZORVEX_APPLY_EVAL(Ldexp, Ldexp)
ZORVEX_APPLY_EVAL(LogN, LogN)
ZORVEX_APPLY_EVAL(Max, Max)
ZORVEX_APPLY_EVAL(Min, Min)
ZORVEX_APPLY_EVAL(Pi, Pi)
ZORVEX_APPLY_EVAL(RandG, RandG)
ZORVEX_APPLY_EVAL(Round, Round)
ZORVEX_APPLY_EVAL(Sign, Sign)
ZORVEX_APPLY_EVAL(Trunc, Trunc)

Variant EvalFactorial(TMIntrinsicFunctionCall& call) {
    const Variant v = call.Arg(0);
    const auto where = [&] { return ", position: " + IntToStr(call.ArgPosition(0)) + "."; };
    const std::int32_t n = WholeToInt32(std::trunc(VarToReal(v)));
    if (VarCmp(Variant(n), v) != 0)
        throw EArithmeticError("TMFactorial.GetValue() Operand of factorial must be integer value" + where(),
                               call.ArgPosition(0));
    if (n < 0)
        throw EArithmeticError("TMFactorial.GetValue() Operand of factorial must not be negative" + where(),
                               call.ArgPosition(0));
    call.CheckInterrupt();
    long double product = 1;
    for (std::int32_t k = 2; k <= n; ++k) {
        product *= k;
        // Stop here: further factors only keep it out of range, and n may be huge.
        if (product > DBL_MAX) throw EOverflow("Floating point overflow");
    }
    return Variant(static_cast<double>(product));
}

}  // namespace zorvex

// Built-in functions: the call base class, one class per function, the
// registry in catalogue order and the factory the tokenizer asks.
#pragma once

#include <cstdint>
#include <string>

#include "zorvex/Builtins.h"
#include "zorvex/Export.h"
#include "zorvex/MathItem.h"

namespace zorvex {

class TMIntrinsicFunctionCall;

// A class reference: the run-time class name, the operand count and a
// creator without arguments; then, for help texts, the operand names
// ("rate, n, pv, fv, when"), one line of meaning and the group.
struct TMIntrinsicFunctionCallClass {
    const char* ClassName;
    int NumberOfOperands;
    TMIntrinsicFunctionCall* (*Create)();
    const char* Operands;
    const char* Meaning;
    TIntrinsicGroup Group;
};

class ZORVEX_API TMIntrinsicFunctionCall : public TMOperator {
public:
    TMIntrinsicFunctionCall() { kinds_ |= ikIntrinsic; }
    ZORVEX_CLASS(TMIntrinsicFunctionCall)
    std::string Dump(TDumpFormat format) const override;
    std::string DumpOperator() const override;
    TOperatorAssociativity Associativity() const override { return oaRightToLeft; }
    TOperatorPriority Priority() const override { return opUnaryOperator; }

    // The function's name: the class name without its "TM".
    static std::string FuncName(const TMIntrinsicFunctionCallClass& cls);
    std::string FuncName() const;

    void SetMathInterpreter(TMathInterpreter* interpreter) override;

    // Operand i (0-based) evaluated, and the operand expression itself.
    Variant Arg(int index) const { return GetOperandValues(index); }
    int ArgPosition(int index) const;
    // The interpreter's interrupt and budget check, for built-ins whose work
    // grows with their operands.
    void CheckInterrupt() const;

    TMathInterpreter* Interpreter = nullptr;
};

// The catalogue, one row per built-in: name, operand count, operand names,
// one line of meaning, group. Order: alphabetical without regard to case,
// except that Length precedes Ldexp and QuotedStr comes last.
#define ZORVEX_INTRINSICS(X) \
    X(Abs, 1, "x", "absolute value", igArithmetic) \
    X(ArcCos, 1, "x", "inverse cosine in radians; x in -1..1", igTrigonometry) \
    X(ArcCosh, 1, "x", "inverse hyperbolic cosine; x >= 1", igTrigonometry) \
    X(ArcSin, 1, "x", "inverse sine in radians; x in -1..1", igTrigonometry) \
    X(ArcSinh, 1, "x", "inverse hyperbolic sine", igTrigonometry) \
    X(ArcTan, 1, "x", "inverse tangent in radians", igTrigonometry) \
    X(ArcTan2, 2, "y, x", "angle of the point (x, y) in radians", igTrigonometry) \
    X(ArcTanh, 1, "x", "inverse hyperbolic tangent; x between -1 and 1", igTrigonometry) \
    X(Ceil, 1, "x", "smallest integer not below x", igArithmetic) \
    X(ConvertBase, 3, "s, from, to", "number text s read in base from, written in base to", igNumberBase) \
    X(Copy, 3, "s, start, count", "up to count characters of s from position start", igText) \
    X(Cos, 1, "x", "cosine of x radians", igTrigonometry) \
    X(Cosh, 1, "x", "hyperbolic cosine", igTrigonometry) \
    X(Cotan, 1, "x", "cotangent of x radians", igTrigonometry) \
    X(CycleToRad, 1, "x", "cycles (full turns) to radians", igAngle) \
    X(DegToRad, 1, "x", "degrees to radians", igAngle) \
    X(DegToStr, 1, "v", "decimal degrees as degrees, minutes and seconds text", igAngle) \
    X(DeleteSubstr, 3, "s, start, count", "s without count characters from position start", igText) \
    X(DoubleDecliningBalance, 4, "cost, salvage, life, period", "depreciation in the period, twice the straight-line rate", igFinancial) \
    X(EncodeDeg, 3, "d, m, s", "degrees + minutes/60 + seconds/3600", igAngle) \
    X(Exp, 1, "x", "e to the power x", igExponential) \
    X(Factorial, 1, "n", "n! of a whole, non-negative n (a real)", igArithmetic) \
    X(FloatToStr, 1, "x", "real to decimal text", igConversion) \
    X(Floor, 1, "x", "largest integer not above x", igArithmetic) \
    X(Frac, 1, "x", "fractional part, with the sign of x", igArithmetic) \
    X(FromBase, 2, "s, base", "number text s in the base (2..36) to its value", igNumberBase) \
    X(FutureValue, 5, "rate, n, pmt, pv, when", "value of an investment after n periods", igFinancial) \
    X(GradToRad, 1, "x", "grads to radians", igAngle) \
    X(Hypot, 2, "x, y", "square root of x^2 + y^2", igArithmetic) \
    X(IfF, 3, "condition, then, else", "then if the Boolean condition holds, else else; runs only one", igConditional) \
    X(Insert, 3, "sub, s, pos", "s with sub inserted before position pos", igText) \
    X(Int, 1, "x", "integer part toward zero, as a real", igArithmetic) \
    X(InterestPayment, 6, "rate, period, n, pv, fv, when", "interest part of the payment in period 1..n", igFinancial) \
    X(InterestRate, 5, "n, pmt, pv, fv, when", "interest rate per period", igFinancial) \
    X(IntToStr, 1, "n", "integer to decimal text", igConversion) \
    X(Length, 1, "s", "number of characters of the text", igText) \
    X(Ldexp, 2, "x, p", "x times 2 to the power p", igExponential) \
    X(Ln, 1, "x", "natural logarithm; x > 0", igExponential) \
    X(LnXP1, 1, "x", "natural logarithm of 1 + x, accurate for small x", igExponential) \
    X(Log10, 1, "x", "base-10 logarithm", igExponential) \
    X(Log2, 1, "x", "base-2 logarithm", igExponential) \
    X(LogN, 2, "b, x", "logarithm of x to the base b", igExponential) \
    X(LowerCase, 1, "s", "letters A..Z in lower case", igText) \
    X(Max, 2, "a, b", "the larger of two integers", igArithmetic) \
    X(Min, 2, "a, b", "the smaller of two integers", igArithmetic) \
    X(NumberOfPeriods, 5, "rate, pmt, pv, fv, when", "number of periods of an investment", igFinancial) \
    X(Payment, 5, "rate, n, pv, fv, when", "constant payment per period of a loan or annuity", igFinancial) \
    X(PeriodPayment, 6, "rate, period, n, pv, fv, when", "principal part of the payment in period 1..n", igFinancial) \
    X(Pi, 0, "", "the constant pi", igArithmetic) \
    X(Pos, 2, "sub, s", "position of sub in s, 0 when absent", igText) \
    X(PresentValue, 5, "rate, n, pmt, fv, when", "present value of an investment", igFinancial) \
    X(RadToCycle, 1, "x", "radians to cycles (full turns)", igAngle) \
    X(RadToDeg, 1, "x", "radians to degrees", igAngle) \
    X(RadToGrad, 1, "x", "radians to grads", igAngle) \
    X(RandG, 2, "mean, sd", "normally distributed random number", igArithmetic) \
    X(Round, 1, "x", "nearest integer, a half to the even one", igArithmetic) \
    X(Sign, 1, "v", "-1, 0 or 1 by the sign of v", igArithmetic) \
    X(Sin, 1, "x", "sine of x radians", igTrigonometry) \
    X(Sinh, 1, "x", "hyperbolic sine", igTrigonometry) \
    X(SLNDepreciation, 3, "cost, salvage, life", "straight-line depreciation per period", igFinancial) \
    X(Sqr, 1, "x", "square, x * x", igArithmetic) \
    X(Sqrt, 1, "x", "square root; x >= 0", igExponential) \
    X(StringOfChar, 2, "c, count", "the one-character text c repeated count times", igText) \
    X(StrToFloat, 1, "s", "decimal text to real", igConversion) \
    X(StrToInt, 1, "s", "decimal text to integer", igConversion) \
    X(SYDDepreciation, 4, "cost, salvage, life, period", "sum-of-years'-digits depreciation in the period", igFinancial) \
    X(Tan, 1, "x", "tangent of x radians", igTrigonometry) \
    X(Tanh, 1, "x", "hyperbolic tangent", igTrigonometry) \
    X(ToBase, 2, "x, base", "x written in the base (2..36), fraction included", igNumberBase) \
    X(Trim, 1, "s", "s without leading and trailing blanks", igText) \
    X(TrimLeft, 1, "s", "s without leading blanks", igText) \
    X(TrimRight, 1, "s", "s without trailing blanks", igText) \
    X(Trunc, 1, "x", "integer part toward zero", igArithmetic) \
    X(UpperCase, 1, "s", "letters a..z in upper case", igText) \
    X(QuotedStr, 1, "s", "s in single quotes, inner quotes doubled", igText)

#define ZORVEX_DECLARE_INTRINSIC(Name, N, ...) \
    class ZORVEX_API TM##Name final : public TMIntrinsicFunctionCall { \
    public: \
        ZORVEX_CLASS(TM##Name) \
        int NumberOfOperands() const override { return N; } \
        Variant GetValue() override; \
    };
ZORVEX_INTRINSICS(ZORVEX_DECLARE_INTRINSIC)
#undef ZORVEX_DECLARE_INTRINSIC

constexpr int IntrinsicFunctionCount = 75;
extern ZORVEX_API const TMIntrinsicFunctionCallClass IntrinsicFunctionCallClasses[IntrinsicFunctionCount];

// A new call for a built-in name in any letter case, or null.
ZORVEX_API TMIntrinsicFunctionCall* CreateIntrinsicFunctionCall(const std::string& name);

}  // namespace zorvex

// Built-in functions: the call base class, one class per function, the
// registry in catalogue order and the factory the tokenizer asks.
#pragma once

#include <string>

#include "zorvex/Export.h"
#include "zorvex/MathItem.h"

namespace zorvex {

class TMIntrinsicFunctionCall;

// A class reference: the run-time class name, the operand count and a
// creator without arguments.
struct TMIntrinsicFunctionCallClass {
    const char* ClassName;
    int NumberOfOperands;
    TMIntrinsicFunctionCall* (*Create)();
};

class ZORVEX_API TMIntrinsicFunctionCall : public TMOperator {
public:
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

// Catalogue order: alphabetical without regard to case, except that Length
// precedes Ldexp and QuotedStr comes last.
#define ZORVEX_INTRINSICS(X)                                                                              \
    X(Abs, 1) X(ArcCos, 1) X(ArcCosh, 1) X(ArcSin, 1) X(ArcSinh, 1) X(ArcTan, 1) X(ArcTan2, 2)            \
    X(ArcTanh, 1) X(Ceil, 1) X(ConvertBase, 3) X(Copy, 3) X(Cos, 1) X(Cosh, 1) X(Cotan, 1)               \
    X(CycleToRad, 1) X(DegToRad, 1) X(DegToStr, 1) X(DeleteSubstr, 3) X(DoubleDecliningBalance, 4)      \
    X(EncodeDeg, 3) X(Exp, 1) X(Factorial, 1) X(FloatToStr, 1) X(Floor, 1) X(Frac, 1) X(FromBase, 2)     \
    X(FutureValue, 5) X(GradToRad, 1) X(Hypot, 2) X(IfF, 3) X(Insert, 3) X(Int, 1)                        \
    X(InterestPayment, 6) X(InterestRate, 5) X(IntToStr, 1) X(Length, 1) X(Ldexp, 2) X(Ln, 1)            \
    X(LnXP1, 1) X(Log10, 1) X(Log2, 1) X(LogN, 2) X(LowerCase, 1) X(Max, 2) X(Min, 2)                    \
    X(NumberOfPeriods, 5) X(Payment, 5) X(PeriodPayment, 6) X(Pi, 0) X(Pos, 2) X(PresentValue, 5)        \
    X(RadToCycle, 1) X(RadToDeg, 1) X(RadToGrad, 1) X(RandG, 2) X(Round, 1) X(Sign, 1) X(Sin, 1)         \
    X(Sinh, 1) X(SLNDepreciation, 3) X(Sqr, 1) X(Sqrt, 1) X(StringOfChar, 2) X(StrToFloat, 1)            \
    X(StrToInt, 1) X(SYDDepreciation, 4) X(Tan, 1) X(Tanh, 1) X(ToBase, 2) X(Trim, 1) X(TrimLeft, 1)     \
    X(TrimRight, 1) X(Trunc, 1) X(UpperCase, 1) X(QuotedStr, 1)

#define ZORVEX_DECLARE_INTRINSIC(Name, N)                                   \
    class ZORVEX_API TM##Name final : public TMIntrinsicFunctionCall {      \
    public:                                                                 \
        ZORVEX_CLASS(TM##Name)                                              \
        int NumberOfOperands() const override { return N; }                 \
        Variant GetValue() override;                                        \
    };
ZORVEX_INTRINSICS(ZORVEX_DECLARE_INTRINSIC)
#undef ZORVEX_DECLARE_INTRINSIC

constexpr int IntrinsicFunctionCount = 75;
extern ZORVEX_API const TMIntrinsicFunctionCallClass IntrinsicFunctionCallClasses[IntrinsicFunctionCount];

// A new call for a built-in name in any letter case, or null.
ZORVEX_API TMIntrinsicFunctionCall* CreateIntrinsicFunctionCall(const std::string& name);

}  // namespace zorvex

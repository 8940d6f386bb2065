#include <algorithm>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Financial.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/SysUtils.h"

using namespace zorvex;

namespace {

class Intrinsics : public ::testing::Test {
protected:
    TMathInterpreter interp;

    Variant Run(const std::string& text) { return interp.ExecuteExpression(text); }

    std::string ErrorOf(const std::string& text) {
        try {
            Run(text);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "<no error>";
    }

    // Same kind and same value.
    void Expect(const std::string& text, const Variant& expected) {
        SCOPED_TRACE(text);
        const Variant v = Run(text);
        EXPECT_EQ(v.VarType(), expected.VarType());
        EXPECT_TRUE(v.SameAs(expected)) << VarToStr(v) << " expected " << VarToStr(expected);
    }

    void ExpectReal(const std::string& text, double expected, double tolerance = 1e-12) {
        SCOPED_TRACE(text);
        const Variant v = Run(text);
        ASSERT_TRUE(v.IsReal()) << v.VarType();
        EXPECT_NEAR(v.AsReal(), expected, tolerance);
    }

    std::string Dump(const std::string& text, TDumpFormat format) {
        TMItems items;
        interp.ParseExpression(text, items);
        std::unique_ptr<TMValue> root(interp.RPN(items));
        items.FreeAndClear();
        return root->Dump(format);
    }
};

// ---------------------------------------------------------------- registry

TEST(IntrinsicRegistry, SeventyFiveEntriesInCatalogueOrder) {
    ASSERT_EQ(IntrinsicFunctionCount, 75);
    const auto name = [](int i) { return TMIntrinsicFunctionCall::FuncName(IntrinsicFunctionCallClasses[i]); };
    EXPECT_EQ(name(0), "Abs");
    EXPECT_EQ(name(35), "Length");
    EXPECT_EQ(name(36), "Ldexp");
    EXPECT_EQ(name(74), "QuotedStr");
    // Alphabetical without regard to case, apart from the two exceptions.
    std::string previous;
    for (int i = 0; i < 74; ++i) {
        if (i == 35) continue;
        const std::string upper = UpperCase(name(i));
        EXPECT_LT(previous, upper) << "index " << i;
        previous = upper;
    }
    EXPECT_LT(UpperCase(name(34)), UpperCase(name(36)));
}

TEST(IntrinsicRegistry, EntryCreatesItsClassWithItsOperandCount) {
    for (int i = 0; i < IntrinsicFunctionCount; ++i) {
        const auto& cls = IntrinsicFunctionCallClasses[i];
        std::unique_ptr<TMIntrinsicFunctionCall> call(cls.Create());
        EXPECT_STREQ(call->ClassName(), cls.ClassName);
        EXPECT_EQ(call->NumberOfOperands(), cls.NumberOfOperands);
        EXPECT_EQ(call->FuncName(), TMIntrinsicFunctionCall::FuncName(cls));
        EXPECT_EQ(call->Priority(), opUnaryOperator);
        EXPECT_EQ(call->Associativity(), oaRightToLeft);
        EXPECT_EQ(call->ParsePosition, 0);
        EXPECT_EQ(call->Operands.Count(), 0);
        // Help texts name one operand per operand the function takes.
        const std::string operands = cls.Operands;
        const long names = operands.empty() ? 0 : std::count(operands.begin(), operands.end(), ',') + 1;
        EXPECT_EQ(names, cls.NumberOfOperands) << cls.ClassName;
        EXPECT_STRNE(cls.Meaning, "") << cls.ClassName;
        EXPECT_STRNE(IntrinsicGroupName(cls.Group), "") << cls.ClassName;
    }
}

// The public list: the catalogue's facts, each name found in any case, and
// each built-in called with its operand count parses and runs (values of
// the wrong kind may still fail); one operand less or more does not parse.
TEST(IntrinsicRegistry, PublicListMatchesTheCatalogueAndItsCalls) {
    const std::span<const BuiltinInfo> list = Builtins();
    ASSERT_EQ(list.size(), 75u);
    TMathInterpreter mi;
    std::vector<std::string> upper;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const BuiltinInfo& b = list[i];
        const auto& cls = IntrinsicFunctionCallClasses[i];
        SCOPED_TRACE(std::string(b.Name));
        EXPECT_EQ(b.Name, TMIntrinsicFunctionCall::FuncName(cls));
        EXPECT_EQ(b.OperandCount, cls.NumberOfOperands);
        EXPECT_EQ(b.Operands, cls.Operands);
        EXPECT_EQ(b.Meaning, cls.Meaning);
        EXPECT_EQ(b.GroupName, IntrinsicGroupName(b.Group));
        EXPECT_EQ(FindBuiltin(LowerCase(std::string(b.Name))), &b);
        upper.push_back(UpperCase(std::string(b.Name)));

        const auto callWith = [&](int n) {
            std::string text = std::string(b.Name) + "(";
            for (int k = 0; k < n; ++k) text += k == 0 ? "1" : ", 1";
            return text + ")";
        };
        try {
            mi.ExecuteExpression(callWith(b.OperandCount));
        } catch (const ESyntaxError& e) {
            ADD_FAILURE() << callWith(b.OperandCount) << ": " << e.Message();
        } catch (const Exception&) {
            // Pos(1, 1), IfF(1, 1, 1) ...: the call itself was whole.
        }
        if (b.OperandCount > 0) {
            EXPECT_THROW(mi.ExecuteExpression(callWith(b.OperandCount - 1)), ESyntaxError);
        }
        EXPECT_THROW(mi.ExecuteExpression(callWith(b.OperandCount + 1)), ESyntaxError);
    }
    std::sort(upper.begin(), upper.end());
    EXPECT_EQ(std::adjacent_find(upper.begin(), upper.end()), upper.end()) << "names differ in more than case";
    EXPECT_EQ(FindBuiltin("Ab"), nullptr);
    EXPECT_EQ(FindBuiltin("Abs "), nullptr);
    EXPECT_EQ(FindBuiltin(""), nullptr);
    EXPECT_EQ(FindBuiltin("SQRT")->Meaning, "square root; x >= 0");
}

TEST(IntrinsicRegistry, LookupIgnoresCaseOnlyOfWholeNames) {
    for (const char* n : {"abs", "ABS", "aBs", "Abs"}) {
        std::unique_ptr<TMIntrinsicFunctionCall> call(CreateIntrinsicFunctionCall(n));
        ASSERT_NE(call, nullptr) << n;
        EXPECT_STREQ(call->ClassName(), "TMAbs");
    }
    std::unique_ptr<TMIntrinsicFunctionCall> lnxp1(CreateIntrinsicFunctionCall("LNXP1"));
    ASSERT_NE(lnxp1, nullptr);
    EXPECT_EQ(lnxp1->FuncName(), "LnXP1");
    for (const char* n : {"Ab", "Abs1", "Absx", " Abs", "Abs ", "", "TMAbs", "Sin2", "Quotedstrx"})
        EXPECT_EQ(CreateIntrinsicFunctionCall(n), nullptr) << '"' << n << '"';
}

// ------------------------------------------------------- tree building, dumps

TEST_F(Intrinsics, CallsBindLikePrefixOperators) {
    Expect("Pi", Variant(M_PI));
    Expect("Pi()", Variant(M_PI));
    Expect("Pi*2", Variant(2 * M_PI));
    Expect("Sqrt 16", Variant(4.0));
    Expect("Sin(Pi/2)^2", Variant(1.0));
    Expect("Max(3, 7)+1", Variant(8));
    Expect("-Abs(-3)", Variant(-3.0));
    Expect("PI*0+ABS(-2)", Variant(2.0));  // any letter case
}

TEST_F(Intrinsics, OperandCountErrors) {
    EXPECT_EQ(ErrorOf("Max(1)"), "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 1.");
    EXPECT_EQ(ErrorOf("Max(1,2,3)"),
              "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: 5.");
    EXPECT_EQ(ErrorOf("FutureValue(0.05, 10, -100, -1000)"),
              "TMOperator.PullOperands() 5 operand(s) expected, but only 4 found. Position: 1.");
}

TEST_F(Intrinsics, Dumps) {
    EXPECT_EQ(Dump("abs(x)", 0), "Abs(x)");
    EXPECT_EQ(Dump("Abs(x)", dfDetailed), "TMAbs(TMVarRef<\"x\">)");
    EXPECT_EQ(Dump("Pi", 0), "Pi()");
    EXPECT_EQ(Dump("Max(a, b)", 0), "Max(a,b)");
    EXPECT_EQ(Dump("abs(sin(x))", 0), "Abs(Sin(x))");
    EXPECT_EQ(Dump("-Abs(x)", 0), "-(Abs(x))");
    EXPECT_EQ(Dump("Abs(x)+1", 0), "Abs(x)+1");
    EXPECT_EQ(Dump("Abs(x)^2", 0), "Abs(x)^2");
    EXPECT_EQ(Dump("Abs(x+1)", 0), "Abs(x+1)");
}

TEST_F(Intrinsics, EachOperandIsEvaluatedOnce) {
    Run("x = 0");
    Run("Sqr(x = x + 1)");
    Run("Factorial(x = x + 1)");
    Run("Sign(x = x + 1)");
    Run("DegToStr(x = x + 1)");
    Run("EncodeDeg(x = x + 1, 0, 0)");
    Expect("x", Variant(5));
}

// ---------------------------------------------------------------- numeric

TEST_F(Intrinsics, RealFunctionsGiveRealsEvenForIntegers) {
    Expect("Abs(-3)", Variant(3.0));
    Expect("Sqr(3)", Variant(9.0));
    Expect("Int(-1.7)", Variant(-1.0));
    Expect("Ldexp(1.5, 3)", Variant(12.0));
    Expect("Hypot(3, 4)", Variant(5.0));
    Expect("LogN(2, 8)", Variant(3.0));
    Expect("LogN(10, 1000)", Variant(3.0));
    Expect("ArcTan2(1, 0)", Variant(M_PI / 2));
    Expect("Exp(0)", Variant(1.0));
    Expect("Sqrt(2)", Variant(std::sqrt(2.0)));
    ExpectReal("Frac(-1.7)", -0.7);
    ExpectReal("Frac(2.25)", 0.25);
    ExpectReal("Pi", 3.141592653589793, 0);
}

TEST_F(Intrinsics, ElementaryFunctions) {
    ExpectReal("ArcCos(0)", M_PI / 2);
    ExpectReal("ArcCosh(1)", 0);
    ExpectReal("ArcSin(1)", M_PI / 2);
    ExpectReal("ArcSinh(0)", 0);
    ExpectReal("ArcTan(1)", M_PI / 4);
    ExpectReal("ArcTanh(0.5)", std::atanh(0.5));
    ExpectReal("Cos(Pi)", -1);
    ExpectReal("Cosh(0)", 1);
    ExpectReal("Cotan(Pi/4)", 1);
    ExpectReal("Exp(1)", M_E);
    ExpectReal("Ln(Exp(2))", 2);
    ExpectReal("LnXP1(0)", 0);
    ExpectReal("LnXP1(1e-20)", 1e-20, 1e-30);
    ExpectReal("Log10(1000)", 3);
    ExpectReal("Log2(1024)", 10);
    ExpectReal("Sin(Pi/6)", 0.5);
    ExpectReal("Sinh(0)", 0);
    ExpectReal("Tan(Pi/4)", 1);
    ExpectReal("Tanh(0)", 0);
    ExpectReal("Ldexp(1, -2)", 0.25);
}

TEST_F(Intrinsics, AngleUnits) {
    Expect("DegToRad(180)", Variant(M_PI));
    Expect("RadToDeg(Pi)", Variant(180.0));
    Expect("GradToRad(200)", Variant(M_PI));
    Expect("RadToGrad(Pi)", Variant(200.0));
    Expect("CycleToRad(1)", Variant(2 * M_PI));
    Expect("RadToCycle(Pi)", Variant(0.5));
}

TEST_F(Intrinsics, RoundingToIntegers) {
    Expect("Ceil(1.2)", Variant(2));
    Expect("Ceil(-1.2)", Variant(-1));
    Expect("Floor(-1.2)", Variant(-2));
    Expect("Floor(1.9)", Variant(1));
    Expect("Trunc(-1.7)", Variant(-1));
    Expect("Trunc(1.7)", Variant(1));
    Expect("Round(2.5)", Variant(2));
    Expect("Round(3.5)", Variant(4));
    Expect("Round(-2.5)", Variant(-2));
    Expect("Round(-2.6)", Variant(-3));
    Expect("Round(2147483647.4)", Variant(2147483647));
    Expect("Trunc(-2147483648.9)", Variant(-2147483647 - 1));
    // Beyond 32 bits: a clear error rather than a wrapped value.
    for (const char* t : {"Round(1e10)", "Trunc(-1e10)", "Ceil(2147483647.5)", "Floor(-2147483649.0)",
                          "Round(2147483647.5)"})
        EXPECT_EQ(ErrorOf(t), "Range check error") << t;
}

TEST_F(Intrinsics, MaxMinSignOnIntegers) {
    Expect("Max(3, 7)", Variant(7));
    Expect("Min(-2, 5)", Variant(-2));
    Expect("Max(2.7, 2.2)", Variant(3));
    Expect("Min(2.5, 3.5)", Variant(2));
    Expect("Sign(-2.5)", Variant(-1));
    Expect("Sign(0.0)", Variant(0));
    Expect("Sign(7)", Variant(1));
    Expect("Sign('5')", Variant(1));
}

TEST_F(Intrinsics, RandG) {
    Expect("RandG(10, 0)", Variant(10.0));
    double sum = 0;
    for (int i = 0; i < 200; ++i) {
        const Variant v = Run("RandG(0, 1)");
        ASSERT_TRUE(v.IsReal());
        sum += v.AsReal();
    }
    EXPECT_LT(std::fabs(sum / 200), 0.5);
}

TEST_F(Intrinsics, Factorial) {
    Expect("Factorial(0)", Variant(1.0));
    Expect("Factorial(1)", Variant(1.0));
    Expect("Factorial(5)", Variant(120.0));
    Expect("Factorial(5.0)", Variant(120.0));
    Expect("Factorial(20)", Variant(2432902008176640000.0));
    ExpectReal("Factorial(170)", 7.257415615307994e306, 1e293);
    EXPECT_EQ(ErrorOf("Factorial(2.5)"),
              "TMFactorial.GetValue() Operand of factorial must be integer value, position: 11.");
    // The whole-number test comes first; positions are the operand's.
    Run("x = -1.5");
    EXPECT_EQ(ErrorOf("Factorial(x)"),
              "TMFactorial.GetValue() Operand of factorial must be integer value, position: 11.");
    Run("x = -3");
    EXPECT_EQ(ErrorOf("Factorial( x)"),
              "TMFactorial.GetValue() Operand of factorial must not be negative, position: 12.");
    EXPECT_EQ(ErrorOf("Factorial('a')"), "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf("Factorial(1e10)"), "Range check error");
    EXPECT_EQ(ErrorOf("Factorial(171)"), "Floating point overflow");
    // Stops at the first product out of range instead of looping 2e9 times.
    EXPECT_EQ(ErrorOf("Factorial(2000000000)"), "Floating point overflow");
}

TEST_F(Intrinsics, NoRealResultIsInfiniteOrNaN) {
    const char* overflow = "Floating point overflow";
    const char* invalid = "Invalid floating point operation";
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"Ln(0)", overflow},        {"Ln(-1)", invalid},       {"Sqrt(-1)", invalid},
        {"ArcSin(2)", invalid},     {"ArcCos(-1.5)", invalid}, {"ArcCosh(0.5)", invalid},
        {"ArcTanh(1)", overflow},   {"ArcTanh(2)", invalid},   {"Cotan(0)", overflow},
        {"Exp(1000)", overflow},    {"Cosh(1000)", overflow},  {"Sinh(-1000)", overflow},
        {"Log10(0)", overflow},     {"Log2(-8)", invalid},     {"LnXP1(-1)", overflow},
        {"LnXP1(-2)", invalid},     {"LogN(-2, 8)", invalid},  {"LogN(0, 8)", overflow},
        {"LogN(1, 2)", overflow},   {"LogN(1, 1)", invalid},   {"Sqr(1e200)", overflow},
        {"Ldexp(1, 5000)", overflow}, {"Hypot(1.5e308, 1.5e308)", overflow},
    };
    for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
}

TEST_F(Intrinsics, OperandConversionErrorsPropagate) {
    EXPECT_EQ(ErrorOf("Abs('a')"), "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf("Max('a', 1)"), "Could not convert variant of type (String) into type (Integer)");
    EXPECT_EQ(ErrorOf("Max(3e9, 1)"), "Overflow while converting variant of type (Double) into type (Integer)");
    EXPECT_EQ(ErrorOf("Sign(true)"), "Invalid variant operation");
    Expect("Abs(' -2 ')", Variant(2.0));
}

// ---------------------------------------------------------------- strings

TEST_F(Intrinsics, SubstringFunctions) {
    Expect("Copy('abcdef', 2, 3)", Variant("bcd"));
    Expect("DeleteSubstr('abcdef', 2, 3)", Variant("aef"));
    Expect("Insert('x', 'abc', 2)", Variant("axbc"));
    Expect("Pos('b', 'abc')", Variant(2));
    Expect("Pos('z', 'abc')", Variant(0));
    Expect("Pos('', 'abc')", Variant(0));
    Expect("Length('')", Variant(0));
    Expect("Length(123)", Variant(3));
    Expect("Length('ab' + 'c')", Variant(3));
}

TEST_F(Intrinsics, PositionsAndCountsOutOfRangeAreClamped) {
    Expect("Copy('abcdef', 0, 3)", Variant("abc"));
    Expect("Copy('abcdef', -5, 2)", Variant("ab"));
    Expect("Copy('abcdef', 5, 100)", Variant("ef"));
    Expect("Copy('abcdef', 7, 1)", Variant(""));
    Expect("Copy('abcdef', 2147483647, 2147483647)", Variant(""));
    Expect("Copy('abcdef', 2, -1)", Variant(""));
    Expect("DeleteSubstr('abcdef', 0, 2)", Variant("abcdef"));
    Expect("DeleteSubstr('abcdef', 7, 2)", Variant("abcdef"));
    Expect("DeleteSubstr('abcdef', 5, 100)", Variant("abcd"));
    Expect("DeleteSubstr('abcdef', 2, -3)", Variant("abcdef"));
    Expect("DeleteSubstr('abcdef', 1, 2147483647)", Variant(""));
    Expect("Insert('x', 'abc', -5)", Variant("xabc"));
    Expect("Insert('x', 'abc', 4)", Variant("abcx"));
    Expect("Insert('x', 'abc', 2147483647)", Variant("abcx"));
    Expect("Insert('', 'abc', 2)", Variant("abc"));
}

TEST_F(Intrinsics, TrimCaseAndQuote) {
    Expect("Trim('  a b \t')", Variant("a b"));
    Expect("TrimLeft('  a ')", Variant("a "));
    Expect("TrimRight('  a ')", Variant("  a"));
    Expect("UpperCase('abc\xE9z1')", Variant("ABC\xE9Z1"));
    Expect("LowerCase('ABC\xC9Z1')", Variant("abc\xC9z1"));
    Expect("QuotedStr('it''s')", Variant("'it''s'"));
    Expect("QuotedStr('')", Variant("''"));
    Expect("UpperCase(1.5)", Variant("1.5"));
}

TEST_F(Intrinsics, StringOfChar) {
    Expect("StringOfChar('x', 3)", Variant("xxx"));
    Expect("StringOfChar('x', 0)", Variant(""));
    Expect("StringOfChar('x', -5)", Variant(""));
    Expect("StringOfChar(7, 2)", Variant("77"));
    EXPECT_EQ(ErrorOf("StringOfChar('ab', 3)"),
              "TMStringOfChar.GetValue() Invalid length of the first operand on position: 14.");
    EXPECT_EQ(ErrorOf("StringOfChar('', 3)"),
              "TMStringOfChar.GetValue() Invalid length of the first operand on position: 14.");
    // The count is not evaluated once the first operand fails.
    EXPECT_EQ(ErrorOf("StringOfChar('ab', 1/0)"),
              "TMStringOfChar.GetValue() Invalid length of the first operand on position: 14.");
}

TEST_F(Intrinsics, TextResultsHaveASizeLimit) {
    const std::string limit =
        "Text result exceeds the maximum length of " + IntToStr(static_cast<std::int64_t>(MaxTextLength)) +
        " characters.";
    EXPECT_EQ(ErrorOf("StringOfChar('a', 2000000000)"), limit);
    const std::string half = IntToStr(static_cast<std::int64_t>(MaxTextLength / 2 + 1));
    Run("s = StringOfChar('''', " + half + ")");
    EXPECT_EQ(ErrorOf("Insert(s, s, 1)"), limit);
    EXPECT_EQ(ErrorOf("QuotedStr(s)"), limit);
    // Within the limit it is built.
    Expect("Length(StringOfChar('a', " + IntToStr(static_cast<std::int64_t>(MaxTextLength)) + "))",
           Variant(static_cast<int>(MaxTextLength)));
}

TEST_F(Intrinsics, DecimalConversions) {
    Expect("IntToStr(42)", Variant("42"));
    Expect("IntToStr(-2147483647 - 1)", Variant("-2147483648"));
    Expect("StrToInt('12')", Variant(12));
    Expect("StrToInt(' -7 ')", Variant(-7));
    Expect("FloatToStr(0.1 + 0.2)", Variant("0.3"));
    Expect("FloatToStr(1e20)", Variant("1E+20"));
    Expect("StrToFloat('2.5e1')", Variant(25.0));
    Expect("StrToFloat('3')", Variant(3.0));
    EXPECT_EQ(ErrorOf("StrToInt('1.5')"), "'1.5' is not a valid integer value");
    EXPECT_EQ(ErrorOf("StrToFloat('x')"), "'x' is not a valid floating point value");
}

TEST_F(Intrinsics, NumberBases) {
    Expect("ToBase(255.75, 16)", Variant("ff.c"));
    Expect("ToBase(255, 16)", Variant("ff"));
    Expect("ToBase(-1.5, 16)", Variant("-1.8"));
    Expect("FromBase('ff.c', 16)", Variant(255.75));
    Expect("FromBase('ff', 16)", Variant(255.0));
    Expect("ConvertBase('ff.c', 16, 2)", Variant("11111111.11"));
    Expect("ConvertBase('7', 8, 2)", Variant("111"));
    EXPECT_EQ(ErrorOf("ConvertBase('1', 10, 37)"), "Range check error");
    EXPECT_EQ(ErrorOf("ConvertBase('1', 0, 10)"), "Range check error");
    EXPECT_EQ(ErrorOf("ConvertBase('1', 10, 0)"), "Range check error");
    EXPECT_EQ(ErrorOf("ConvertBase('9', 8, 10)"), "StringToInt64Base() Digit '9' is larger then allowed by base 8.");
    EXPECT_EQ(ErrorOf("FromBase('1.2.3', 16)"), "CharToDigit() 'Ch' is not valid digit.");
    // Unusable bases raise in the conversion routines rather than hang.
    EXPECT_NE(ErrorOf("ToBase(255, 1)"), "<no error>");
    EXPECT_NE(ErrorOf("ToBase(255, 0)"), "<no error>");
    EXPECT_NE(ErrorOf("ConvertBase('0.5', 10, 1)"), "<no error>");
}

TEST_F(Intrinsics, Degrees) {
    Expect("DegToStr(10.5)", Variant("10\xB0" "30'0\""));
    Expect("DegToStr(0.25)", Variant("0\xB0" "15'0\""));
    Expect("DegToStr(-1.5)", Variant("-1\xB0-30'0\""));
    Expect("DegToStr(10.515625)", Variant("10\xB0" "30'56\""));
    Expect("DegToStr('10.5')", Variant("10\xB0" "30'0\""));
    EXPECT_EQ(ErrorOf("DegToStr(1e300)"), "Range check error");
    Expect("EncodeDeg(10, 30, 0)", Variant(10.5));
    ExpectReal("EncodeDeg(0, 0, 36)", 0.01, 1e-15);
    ExpectReal("EncodeDeg(-1, -30, 0)", -1.5);
}

TEST_F(Intrinsics, IfFEvaluatesOnlyTheChosenBranch) {
    Expect("IfF(1 < 2, 'a', 'b')", Variant("a"));
    Expect("IfF(1 > 2, 'a', 'b')", Variant("b"));
    Expect("IfF(true, 1, 1/0)", Variant(1));
    Expect("IfF(false, 1/0, 2.5)", Variant(2.5));
    Run("x = -1");
    Expect("IfF(x > 0, Ln(x), 0)", Variant(0));
    Run("IfF(true, y = 1, z = 2)");
    EXPECT_TRUE(interp.SymbolExists("y"));
    EXPECT_FALSE(interp.SymbolExists("z"));
    EXPECT_EQ(ErrorOf("IfF(1, 2, 3)"),
              "TMIfF.GetValue() IFF function (position: 1) expectc first argument (position: 5) to be boolean.");
    EXPECT_EQ(ErrorOf("2 + IfF('true', 2, 3)"),
              "TMIfF.GetValue() IFF function (position: 5) expectc first argument (position: 9) to be boolean.");
}

// ---------------------------------------------------------------- financial

// Each built-in hands its operands, in written order, to the routine of the
// same name; the routines' values are tested on their own.
TEST_F(Intrinsics, FinancialOperandsReachTheirRoutinesInOrder) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"FutureValue(0.05, 10, -100, -1000, 1)", FutureValue(0.05, 10, -100, -1000, ptStartOfPeriod)},
        {"PresentValue(0.0065, 60, -500, 100, 0)", PresentValue(0.0065, 60, -500, 100, ptEndOfPeriod)},
        {"Payment(0.005, 360, 200000, -1000, 1)", Payment(0.005, 360, 200000, -1000, ptStartOfPeriod)},
        {"PeriodPayment(0.01, 3, 12, 10000, -2000, 0)",
         PeriodPayment(0.01, 3, 12, 10000, -2000, ptEndOfPeriod)},
        {"InterestPayment(0.01, 7, 12, 10000, -2000, 1)",
         InterestPayment(0.01, 7, 12, 10000, -2000, ptStartOfPeriod)},
        {"InterestRate(48, -200, 8000, -500, 0)", InterestRate(48, -200, 8000, -500, ptEndOfPeriod)},
        {"NumberOfPeriods(0.01, -200, 8000, -500, 1)", NumberOfPeriods(0.01, -200, 8000, -500, ptStartOfPeriod)},
        {"DoubleDecliningBalance(10000, 1000, 5, 2)", DoubleDecliningBalance(10000, 1000, 5, 2)},
        {"SLNDepreciation(1000, 100, 9)", 100.0},
        {"SYDDepreciation(1000, 100, 9, 1)", 180.0},
        // Counts and the payment time are converted to integers first.
        {"Payment(0.005, 359.6, 200000, 0, 0.6)", Payment(0.005, 360, 200000, 0, ptStartOfPeriod)},
        {"SYDDepreciation(1000, 100, '9', 2.2)", SYDDepreciation(1000, 100, 9, 2)},
    };
    for (const auto& c : cases) Expect(c.text, Variant(c.expected));
}

TEST_F(Intrinsics, FinancialErrorsPropagate) {
    EXPECT_NE(ErrorOf("Payment(0.05, 10, 1000, 0, 2)"), "<no error>");
    EXPECT_EQ(ErrorOf("SLNDepreciation('a', 100, 9)"), "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(ErrorOf("SLNDepreciation(1000, 100, 9.5e9)"),
              "Overflow while converting variant of type (Double) into type (Integer)");
}

}  // namespace

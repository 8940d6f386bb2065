// Tree building (RPN, ExecuteExpression, Execute), operators
// (evaluation, priorities, associativity, plain and detailed dumps
// with the parenthesis rule) and deep input.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "zorvex/Component.h"
#include "TestSupport.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;
using zorvex::testing::Show;

namespace {


class Tree : public ::testing::Test {
protected:
    TMathInterpreter interp;

    // Parse, keyword processing and RPN; the caller owns the root.
    std::unique_ptr<TMValue> Build(const std::string& text) {
        TMItems items;
        try {
            interp.ParseExpression(text, items);
            interp.ProcessExpressionKeywords(items);
            std::unique_ptr<TMValue> root(interp.RPN(items));
            items.FreeAndClear();
            return root;
        } catch (...) {
            items.FreeAndClear();
            throw;
        }
    }
    std::string Plain(const std::string& text) {
        auto root = Build(text);
        return root ? root->Dump(0) : "<null>";
    }
    std::string Detailed(const std::string& text) {
        auto root = Build(text);
        return root ? root->Dump(dfDetailed) : "<null>";
    }
    std::string BuildError(const std::string& text) {
        return ErrorOf([&] { Build(text); });
    }
    std::string EvalError(const std::string& text) {
        return ErrorOf([&] { interp.ExecuteExpression(text); });
    }
    Variant Eval(const std::string& text) { return interp.ExecuteExpression(text); }

    void ExpectUsable() {
        Variant v = interp.ExecuteExpression("1+2");
        ASSERT_TRUE(v.IsInteger());
        EXPECT_EQ(v.AsInteger(), 3);
    }
};

#define EXPECT_EVAL_INT(text, value)                  \
    do {                                              \
        Variant v_ = Eval(text);                      \
        ASSERT_TRUE(v_.IsInteger()) << text << " kind " << v_.VarType(); \
        EXPECT_EQ(v_.AsInteger(), (value)) << text;   \
    } while (0)

#define EXPECT_EVAL_REAL(text, value)                                 \
    do {                                                              \
        Variant v_ = Eval(text);                                      \
        ASSERT_TRUE(v_.IsReal()) << text << " kind " << v_.VarType(); \
        EXPECT_DOUBLE_EQ(v_.AsReal(), (value)) << text;               \
    } while (0)

#define EXPECT_EVAL_BOOL(text, value)                 \
    do {                                              \
        Variant v_ = Eval(text);                      \
        ASSERT_TRUE(v_.IsBoolean()) << text << " kind " << v_.VarType(); \
        EXPECT_EQ(v_.AsBoolean(), (value)) << text;   \
    } while (0)

// ---------------------------------------------------------------- construction

TEST_F(Tree, FreshInterpreterState) {
    EXPECT_EQ(interp.DumpFormat(), dfQualified);
    EXPECT_EQ(interp.EscapeChar(), '\0');
    EXPECT_EQ(interp.MaxFunctionNesting(), 1000u);
    EXPECT_FALSE(interp.CaseSensitiveSymbols());
    EXPECT_EQ(interp.SymbolCount(), 0);
    EXPECT_EQ(interp.FunctionNestingLevel(), 0u);
}

// ---------------------------------------------------------------- RPN messages

TEST_F(Tree, UnclosedBrackets) {
    EXPECT_EQ(BuildError("(1+2"), "TMathInterpreter.RPN() Unclosed left bracket on position: 1.");
    EXPECT_EQ(BuildError("1+(2*(3"), "TMathInterpreter.RPN() Unclosed left bracket on position: 6.");
    EXPECT_EQ(BuildError("1+2)"), "TMathInterpreter.RPN() Unclosed right bracket, position: 4.");
    EXPECT_EQ(BuildError(")"), "TMathInterpreter.RPN() Unclosed right bracket, position: 1.");
    EXPECT_EQ(BuildError("(1))"), "TMathInterpreter.RPN() Unclosed right bracket, position: 4.");
    EXPECT_EQ(EvalError("(1+2"), "TMathInterpreter.RPN() Unclosed left bracket on position: 1.");
}

TEST_F(Tree, CommaOutsideParameterList) {
    EXPECT_EQ(BuildError("1,2"), "TMathInterpreter.RPN() Comma outside parameter list, position: 2.");
    EXPECT_EQ(BuildError(" ,"), "TMathInterpreter.RPN() Comma outside parameter list, position: 2.");
}

TEST_F(Tree, UnbalancedOperatorsAndOperands) {
    EXPECT_EQ(BuildError("(1,2)"), "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: 2.");
    EXPECT_EQ(BuildError("1 2"), "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: 3.");
    EXPECT_EQ(BuildError("x y z"),
              "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: 5.");
}

TEST_F(Tree, InvalidParsedItemType) {
    EXPECT_EQ(BuildError("1 + rename"), "TMathInterpreter.RPN() Invalid type \"TMRename\" of parsed item on index 2.");
    EXPECT_EQ(BuildError("rename"), "TMathInterpreter.RPN() Invalid type \"TMRename\" of parsed item on index 0.");
    // delete that is not leading
    EXPECT_EQ(BuildError("1 + delete x"),
              "TMathInterpreter.RPN() Invalid type \"TMDelete\" of parsed item on index 2.");
}

TEST_F(Tree, MissingOperands) {
    EXPECT_EQ(BuildError("1+"), "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 2.");
    EXPECT_EQ(BuildError("+3"), "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 1.");
    EXPECT_EQ(BuildError("*"), "TMOperator.PullOperands() 2 operand(s) expected, but only 0 found. Position: 1.");
    EXPECT_EQ(BuildError("-"), "TMOperator.PullOperands() 1 operand(s) expected, but only 0 found. Position: 1.");
    EXPECT_EQ(BuildError("not"), "TMOperator.PullOperands() 1 operand(s) expected, but only 0 found. Position: 1.");
    EXPECT_EQ(BuildError("(1+)"), "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 3.");
}

TEST_F(Tree, EmptyInputYieldsNoRoot) {
    EXPECT_EQ(Build(""), nullptr);
    EXPECT_EQ(Build("   "), nullptr);
    EXPECT_EQ(Build("()"), nullptr);
    EXPECT_TRUE(Eval("").IsNull());
    EXPECT_TRUE(Eval(" \t ").IsNull());
    EXPECT_TRUE(Eval("(())").IsNull());
}

TEST_F(Tree, RpnTakesOwnershipByNullingSlots) {
    TMItems items;
    interp.ParseExpression("(1+2)*3", items);
    const int count = items.Count();
    std::unique_ptr<TMValue> root(interp.RPN(items));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(items.Count(), count);
    for (int i = 0; i < items.Count(); ++i) EXPECT_EQ(items.Get(i), nullptr) << i;
    items.FreeAndClear();
    EXPECT_EQ(root->GetValue().AsInteger(), 9);
}

TEST_F(Tree, RpnLeavesUnreachedItemsInTheList) {
    TMItems items;
    interp.ParseExpression("1,2+3", items);
    ASSERT_EQ(items.Count(), 5);
    EXPECT_EQ(ErrorOf([&] { std::unique_ptr<TMValue>(interp.RPN(items)); }),
              "TMathInterpreter.RPN() Comma outside parameter list, position: 2.");
    EXPECT_EQ(items.Get(0), nullptr);
    EXPECT_EQ(items.Get(1), nullptr);
    EXPECT_NE(items.Get(2), nullptr);
    EXPECT_NE(items.Get(3), nullptr);
    EXPECT_NE(items.Get(4), nullptr);
    items.FreeAndClear();
}

TEST_F(Tree, RootIsBoundAndHasTheInterpreter) {
    Eval("x = 4");
    auto root = Build("x*2");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetValue().AsInteger(), 8);
    Eval("x = 5");
    EXPECT_EQ(root->GetValue().AsInteger(), 10);
}

TEST_F(Tree, EvaluationErrorLeavesTreeIntact) {
    Eval("x = 0");
    auto root = Build("1/x");
    EXPECT_EQ(ErrorOf([&] { root->GetValue(); }), "Floating point division by zero");
    Eval("x = 2");
    Variant v = root->GetValue();
    ASSERT_TRUE(v.IsReal());
    EXPECT_EQ(v.AsReal(), 0.5);
}

// ---------------------------------------------------------------- operator evaluation

TEST_F(Tree, ArithmeticKinds) {
    EXPECT_EVAL_REAL("7/2", 3.5);
    EXPECT_EVAL_REAL("6/3", 2.0);
    EXPECT_EVAL_INT("7 div 2", 3);
    EXPECT_EVAL_INT("7 mod 2", 1);
    EXPECT_EVAL_INT("-7 div 2", -3);
    EXPECT_EVAL_INT("-7 mod 2", -1);
    EXPECT_EVAL_REAL("2^3", 8.0);  // real, not integer
    EXPECT_EVAL_REAL("2^0.5", std::sqrt(2.0));
    EXPECT_EVAL_REAL("2^-1", 0.5);
    EXPECT_EVAL_REAL("0^0", 1.0);
    EXPECT_EVAL_INT("2+3", 5);
    EXPECT_EVAL_INT("2-3", -1);
    EXPECT_EVAL_INT("2*3", 6);
    EXPECT_EVAL_REAL("2*1.5", 3.0);
    EXPECT_EVAL_INT("-(3)", -3);
    EXPECT_EVAL_REAL("-(2.5)", -2.5);
    Variant s = Eval("'ab'+\"cd\"");
    ASSERT_TRUE(s.IsString());
    EXPECT_EQ(s.AsString(), "abcd");
}

TEST_F(Tree, PrioritiesAndAssociativity) {
    EXPECT_EVAL_REAL("2^3^2", 64.0);  // (2^3)^2
    EXPECT_EVAL_INT("2-3-4", -5);
    EXPECT_EVAL_INT("2*3+4", 10);
    EXPECT_EVAL_INT("2+3*4", 14);
    EXPECT_EVAL_INT("10-4-3", 3);
    EXPECT_EVAL_INT("100 div 10 div 5", 2);
    EXPECT_EVAL_REAL("8/4/2", 1.0);
    EXPECT_EVAL_INT("17 mod 10 mod 4", 3);
    EXPECT_EVAL_INT("2*(3+4)", 14);
    EXPECT_EVAL_BOOL("1+2<4", true);  // relations bind looser than arithmetic
    EXPECT_EVAL_BOOL("2*3==6", true);
    EXPECT_EVAL_INT("1 shl 2 + 1", 8);  // shl has the boolean priority
    EXPECT_EVAL_INT("16 shr 1 + 1", 4);
    EXPECT_EVAL_BOOL("1<2 and 2<3", true);
    EXPECT_EVAL_BOOL("1<2 and 3<2", false);
    EXPECT_EVAL_INT("1 or 2 and 3", 3);  // equal priority, left to right: (1 or 2) and 3
    EXPECT_EVAL_INT("6 and 3 or 8", 10);
    EXPECT_EVAL_REAL("-2^2", 4.0);   // the sign is part of the literal
    EXPECT_EVAL_REAL("2*3^2", 18.0);
    EXPECT_EVAL_REAL("-(2)^2", 4.0);  // prefix minus binds tighter than ^
    EXPECT_EVAL_BOOL("not true == false", true);  // (not true) == false
}

TEST_F(Tree, UnaryMinusOfVariableBindsTighterThanPower) {
    Eval("x = 3");
    EXPECT_EVAL_REAL("-x^2", 9.0);
    EXPECT_EVAL_REAL("-(x^2)", -9.0);
    EXPECT_EVAL_INT("- -x", 3);
    EXPECT_EVAL_INT("2 - -x", 5);
}

TEST_F(Tree, AssignmentIsRightToLeftAndLoosest) {
    EXPECT_EVAL_INT("a = b = 5", 5);
    EXPECT_EVAL_INT("a", 5);
    EXPECT_EVAL_INT("b", 5);
    EXPECT_EVAL_INT("c = 2 + 3 * 4", 14);
    EXPECT_EVAL_INT("c", 14);
    EXPECT_EVAL_BOOL("d = 1 < 2", true);
    EXPECT_EQ(Detailed("a = b = 5"),
              "TMAssignValue(TMVarRef<\"a\">,TMAssignValue(TMVarRef<\"b\">,TMLiteral(5)))");
}

TEST_F(Tree, Relations) {
    EXPECT_EVAL_BOOL("1<2", true);
    EXPECT_EVAL_BOOL("2<1", false);
    EXPECT_EVAL_BOOL("2<=2", true);
    EXPECT_EVAL_BOOL("3<=2", false);
    EXPECT_EVAL_BOOL("3==3", true);
    EXPECT_EVAL_BOOL("3==3.0", true);
    EXPECT_EVAL_BOOL("2>=3", false);
    EXPECT_EVAL_BOOL("3>=3", true);
    EXPECT_EVAL_BOOL("3>2", true);
    EXPECT_EVAL_BOOL("2>2", false);
    EXPECT_EVAL_BOOL("1!=1", false);
    EXPECT_EVAL_BOOL("1!=2", true);
    EXPECT_EVAL_BOOL("'a'<'b'", true);
    EXPECT_EVAL_BOOL("'B'<'a'", true);
    EXPECT_EVAL_BOOL("false<true", true);
}

TEST_F(Tree, BooleanAndBitwise) {
    EXPECT_EVAL_INT("1 and 3", 1);
    EXPECT_EVAL_INT("1 or 2", 3);
    EXPECT_EVAL_INT("1 xor 3", 2);
    EXPECT_EVAL_BOOL("(1<2) or (2<1)", true);
    EXPECT_EVAL_BOOL("true and false", false);
    EXPECT_EVAL_BOOL("true xor true", false);
    EXPECT_EVAL_BOOL("true xor false", true);
    EXPECT_EVAL_BOOL("not (1<2)", false);
    EXPECT_EVAL_BOOL("not false", true);
    EXPECT_EVAL_BOOL("not not true", true);
    EXPECT_EVAL_INT("1 shl 4", 16);
    EXPECT_EVAL_INT("256 shr 4", 16);
}

TEST_F(Tree, NotDemandsABoolean) {
    EXPECT_EQ(EvalError("not 1"),
              "TMNot.GetValue() NOT operator (position: 1) expects boolean operand (position: 5).");
    EXPECT_EQ(EvalError("  not 'x'"),
              "TMNot.GetValue() NOT operator (position: 3) expects boolean operand (position: 7).");
    EXPECT_EQ(EvalError("not (1+2)"),
              "TMNot.GetValue() NOT operator (position: 1) expects boolean operand (position: 7).");
    // not binds tighter than a relation: (not 1) < 2
    EXPECT_EQ(EvalError("not 1 < 2"),
              "TMNot.GetValue() NOT operator (position: 1) expects boolean operand (position: 5).");
}

TEST_F(Tree, BothSidesOfAndOrAreEvaluated) {
    EXPECT_EQ(EvalError("true or not 1"),
              "TMNot.GetValue() NOT operator (position: 9) expects boolean operand (position: 13).");
    EXPECT_EQ(EvalError("(1<2) or (1/0 > 0)"), "Floating point division by zero");
    EXPECT_EQ(EvalError("false and not 2"),
              "TMNot.GetValue() NOT operator (position: 11) expects boolean operand (position: 15).");
}

TEST_F(Tree, LeftOperandIsEvaluatedFirst) {
    // the left side's assignment happens before the right side reads x
    Eval("x = 1");
    EXPECT_EVAL_INT("(x = 10) + x", 20);
    EXPECT_EVAL_INT("x + (x = 5)", 15);
    // the error of the left operand wins
    EXPECT_EQ(EvalError("(1/0) + not 1"), "Floating point division by zero");
}

TEST_F(Tree, PowerConvertsBothOperandsToReals) {
    EXPECT_EVAL_REAL("'2'^3", 8.0);
    EXPECT_EVAL_REAL("2^'3'", 8.0);
    EXPECT_EVAL_REAL("4^0.5", 2.0);
    // the left operand is converted first
    EXPECT_EQ(EvalError("true^'abc'"), "Could not convert variant of type (Boolean) into type (Double)");
    EXPECT_EQ(EvalError("'abc'^true"), "Could not convert variant of type (String) into type (Double)");
}

TEST_F(Tree, IntegerArithmeticOverflowGivesReal) {
    EXPECT_EVAL_REAL("2147483647 + 1", 2147483648.0);
    EXPECT_EVAL_REAL("-2147483647 - 2", -2147483649.0);
    EXPECT_EVAL_INT("2147483647 - 1", 2147483646);
}

TEST_F(Tree, PlatformErrorsPropagate) {
    EXPECT_EQ(EvalError("1/0"), "Floating point division by zero");
    EXPECT_EQ(EvalError("1 div 0"), "Division by zero");
    EXPECT_EQ(EvalError("true + 1"), "Invalid variant operation");
    ExpectUsable();
}

// ---------------------------------------------------------------- dumps

TEST_F(Tree, PlainDumpParenthesisRule) {
    EXPECT_EQ(Plain("(1+2)*3"), "(1+2)*3");
    EXPECT_EQ(Plain("1+(2*3)"), "1+2*3");
    EXPECT_EQ(Plain("1-(2+3)"), "1-(2+3)");
    EXPECT_EQ(Plain("1+(2-3)"), "1+(2-3)");
    EXPECT_EQ(Plain("(1+2)-3"), "1+2-3");
    EXPECT_EQ(Plain("not (a and b)"), " not (a and b)");
    EXPECT_EQ(Plain("a-(b-c)"), "a-(b-c)");
    EXPECT_EQ(Plain("(a-b)-c"), "a-b-c");
    EXPECT_EQ(Plain("(a+b)*c"), "(a+b)*c");
    EXPECT_EQ(Plain("-(-x)"), "-(-x)");
    EXPECT_EQ(Plain("(2^3)^2"), "2^3^2");
    EXPECT_EQ(Plain("2^(3^2)"), "2^(3^2)");
    EXPECT_EQ(Plain("a*(b*c)"), "a*(b*c)");
    EXPECT_EQ(Plain("a/(b*c)"), "a/(b*c)");
    EXPECT_EQ(Plain("(a shl b)+1"), "(a shl b)+1");
    EXPECT_EQ(Plain("a shl (b+1)"), "a shl b+1");
    EXPECT_EQ(Plain("(a<b)==c"), "a<b==c");
    EXPECT_EQ(Plain("a<(b==c)"), "a<(b==c)");
    EXPECT_EQ(Plain("-(a+b)"), "-(a+b)");
    EXPECT_EQ(Plain("(-a)+b"), "-a+b");
    EXPECT_EQ(Plain("-x^2"), "-x^2");
    EXPECT_EQ(Plain("-(x^2)"), "-(x^2)");
    EXPECT_EQ(Plain("not a and b"), " not a and b");
    EXPECT_EQ(Plain("(((a)))"), "a");
    // prefix operators of equal priority, right to left: the inner one is bracketed
    EXPECT_EQ(Plain("not not a"), " not ( not a)");
    EXPECT_EQ(Plain("- -x"), "-(-x)");
    EXPECT_EQ(Plain("-not a"), "-( not a)");
    // built-in calls have the unary priority and are right to left too
    EXPECT_EQ(Plain("-sin x"), "-(Sin(x))");
    EXPECT_EQ(Plain("sin x ^ 2"), "Sin(x)^2");
    EXPECT_EQ(Plain("sin (-x)"), "Sin(-x)");
}

TEST_F(Tree, PlainDumpOperatorTexts) {
    EXPECT_EQ(Plain("a+b"), "a+b");
    EXPECT_EQ(Plain("a div b"), "a div b");
    EXPECT_EQ(Plain("a mod b"), "a mod b");
    EXPECT_EQ(Plain("a <= b"), "a<=b");
    EXPECT_EQ(Plain("a>=b"), "a>=b");
    EXPECT_EQ(Plain("a!=b"), "a!=b");
    EXPECT_EQ(Plain("a==b"), "a==b");
    EXPECT_EQ(Plain("a<b"), "a<b");
    EXPECT_EQ(Plain("a>b"), "a>b");
    EXPECT_EQ(Plain("a xor b or c and d"), "a xor b or c and d");
    EXPECT_EQ(Plain("a shr 2"), "a shr 2");
    EXPECT_EQ(Plain("'it''s' + 1.5"), "'it''s'+1.5");
    EXPECT_EQ(Plain("true and false"), "True and False");
    EXPECT_EQ(Plain("2 - -3"), "2--3");
}

TEST_F(Tree, DetailedDumps) {
    EXPECT_EQ(Detailed("1+2"), "TMPlus(TMLiteral(1),TMLiteral(2))");
    EXPECT_EQ(Detailed("(1+2)*x"), "TMMultiply(TMPlus(TMLiteral(1),TMLiteral(2)),TMVarRef<\"x\">)");
    EXPECT_EQ(Detailed("-x"), "TMUnaryMinus(TMVarRef<\"x\">)");
    EXPECT_EQ(Detailed("not true"), "TMNot(TMLiteral(True))");
    EXPECT_EQ(Detailed("'a'"), "TMLiteral('a')");
    EXPECT_EQ(Detailed("1.5"), "TMLiteral(1.5)");
}

TEST_F(Tree, AssignmentPlainDump) {
    EXPECT_EQ(Plain("x = 1"), "x=1");
    EXPECT_EQ(Plain("a = b = 1"), "a=b=1");
    EXPECT_EQ(Plain("(a = b) = 1"), "(a=b)=1");
    EXPECT_EQ(Plain("1 + (a = 2)"), "1+(a=2)");
    EXPECT_EQ(Detailed("x = 1"), "TMAssignValue(TMVarRef<\"x\">,TMLiteral(1))");
}

TEST_F(Tree, BuiltInFunctionTrees) {
    EXPECT_EQ(Detailed("sin x + 1"), "TMPlus(TMSin(TMVarRef<\"x\">),TMLiteral(1))");
    EXPECT_EQ(Plain("sin x + 1"), "Sin(x)+1");
    EXPECT_EQ(Plain("sin(x+1)"), "Sin(x+1)");
    EXPECT_EQ(Detailed("max(1, 2)"), "TMMax(TMLiteral(1),TMLiteral(2))");
    EXPECT_EQ(Detailed("2*max(1, 2+3)"),
              "TMMultiply(TMLiteral(2),TMMax(TMLiteral(1),TMPlus(TMLiteral(2),TMLiteral(3))))");
    EXPECT_EQ(Detailed("-sin x ^ 2"), "TMPower(TMUnaryMinus(TMSin(TMVarRef<\"x\">)),TMLiteral(2))");
}

TEST_F(Tree, PlainDumpReadsBackToTheSameValue) {
    Eval("a = 7");
    Eval("b = 3");
    Eval("c = 2");
    for (const char* text :
         {"a-(b-c)", "(a-b)-c", "(a+b)*c", "a/(b*c)", "-(a-b)", "2^(3^2)", "(2^3)^2", "-(-a)", "a*(b-c)^2",
          "(a shl c)+1", "a shl (c+1)", "not (a<b) and (b<c)", "(a<b)==(b<c)", "a div (b div c)", "a mod (b+c)",
          "2 - -3", "a-(-b)", "1.5e3*(a+0.25)", "'x''y'+'z'"}) {
        Variant original = Eval(text);
        std::string dump = Plain(text);
        Variant again = Eval(dump);
        EXPECT_TRUE(original.SameAs(again)) << text << " dumped as " << dump;
        EXPECT_EQ(Plain(dump), dump) << text;  // a fixed point
    }
    // a negative literal under a prefix minus keeps its brackets: "--3" is the literal 3
    EXPECT_EQ(Plain("-(-3)"), "-(-3)");
    EXPECT_EQ(Plain("-(0)"), "-(0)");  // "-0" would read back as the literal 0
    EXPECT_EQ(Plain("-(4)"), "-(4)");
    EXPECT_EQ(Plain("not -(2)"), " not (-(2))");
    EXPECT_EVAL_INT("--3", 3);
    EXPECT_EVAL_INT("-(-3)", 3);
}

// ---------------------------------------------------------------- user function calls

TEST_F(Tree, UserFunctionCallParameterCounts) {
    auto count = [&](const std::string& text) {
        auto root = Build(text);
        auto* call = dynamic_cast<TMFunctionCall*>(root.get());
        if (call == nullptr) {
            ADD_FAILURE() << text << " root " << (root ? root->ClassName() : "null");
            return -1;
        }
        return call->ParamExpressions.Count();
    };
    EXPECT_EQ(count("f((x))"), 1);
    EXPECT_EQ(count("f(1, (2))"), 2);
    EXPECT_EQ(count("f((1)+2)"), 1);
    EXPECT_EQ(count("f()"), 0);
    EXPECT_EQ(count("f(1,2,3)"), 3);
    EXPECT_EQ(count("f(g(1,2), h(3))"), 2);
    EXPECT_EQ(Plain("f(1, (2))"), "f(1,2)");
    EXPECT_EQ(Plain("f((1)+2)"), "f(1+2)");
    EXPECT_EQ(Detailed("f(1,x+1)"),
              "TMFunctionCall<\"f\">(TMParamExpression{TMLiteral(1)},TMParamExpression{TMPlus(TMVarRef<\"x\">,"
              "TMLiteral(1))})");
}

TEST_F(Tree, UnclosedCallIsCompleted) {
    auto root = Build("f(2");
    auto* call = dynamic_cast<TMFunctionCall*>(root.get());
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->ParamExpressions.Count(), 1);
    EXPECT_EQ(root->Dump(0), "f(2)");
    EXPECT_EQ(Plain("f(1, 2"), "f(1,2)");
    Eval("g(a) := a*10");
    EXPECT_EVAL_INT("g(2", 20);
    EXPECT_EVAL_INT("1 + g(3", 31);
}

TEST_F(Tree, UserFunctionCallsEvaluate) {
    Eval("f(a) := a*10");
    Eval("h(a, b) := a - b");
    EXPECT_EVAL_INT("f((3))", 30);
    EXPECT_EVAL_INT("f((1)+2)", 30);
    EXPECT_EVAL_INT("h(1, (2))", -1);
    EXPECT_EVAL_INT("h((5), 2*3)", -1);
    EXPECT_EVAL_INT("2*f(1)+1", 21);
    EXPECT_EVAL_INT("f(h(10, 4))", 60);
    EXPECT_EVAL_INT("-f(1)", -10);
}

// ---------------------------------------------------------------- Execute

std::vector<Variant> Elements(const Variant& v) {
    EXPECT_TRUE(v.IsArray());
    if (!v.IsArray()) return {};
    EXPECT_EQ(v.VarType(), 8204);
    return v.ArrayItems();
}

TEST_F(Tree, ExecuteSeveralExpressions) {
    TStrings errors;
    Variant r = interp.Execute("1;2;3", &errors);
    ASSERT_TRUE(r.IsArray());
    EXPECT_EQ(r.ArrayHighBound(), 2);
    auto e = Elements(r);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_TRUE(e[0].SameAs(Variant(1)));
    EXPECT_TRUE(e[1].SameAs(Variant(2)));
    EXPECT_TRUE(e[2].SameAs(Variant(3)));
    EXPECT_EQ(errors.Count(), 0);
    // without an error list too
    auto e2 = Elements(interp.Execute("1+1; 'a'"));
    ASSERT_EQ(e2.size(), 2u);
    EXPECT_TRUE(e2[0].SameAs(Variant(2)));
    EXPECT_TRUE(e2[1].SameAs(Variant("a")));
}

TEST_F(Tree, ExecuteEmptyText) {
    for (const char* text : {"", ";", ";;;"}) {
        Variant r = interp.Execute(text);
        ASSERT_TRUE(r.IsArray()) << text;
        EXPECT_EQ(r.ArrayHighBound(), 0) << text;
        EXPECT_TRUE(r.ArrayGet(0).IsEmpty()) << text;  // Unassigned
    }
}

TEST_F(Tree, ExecuteSkipsEmptySegments) {
    auto a = Elements(interp.Execute("1;;2"));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_TRUE(a[0].SameAs(Variant(1)));
    EXPECT_TRUE(a[1].SameAs(Variant(2)));
    auto b = Elements(interp.Execute(";1"));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_TRUE(b[0].SameAs(Variant(1)));
    auto c = Elements(interp.Execute("1;"));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_TRUE(c[0].SameAs(Variant(1)));
}

TEST_F(Tree, ExecuteBlankSegmentYieldsNull) {
    auto a = Elements(interp.Execute("1; ;2"));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_TRUE(a[0].SameAs(Variant(1)));
    EXPECT_TRUE(a[1].IsNull());
    EXPECT_TRUE(a[2].SameAs(Variant(2)));
    auto b = Elements(interp.Execute("  "));
    ASSERT_EQ(b.size(), 1u);
    EXPECT_TRUE(b[0].IsNull());
}

TEST_F(Tree, ExecuteErrorList) {
    TStrings errors;
    errors.Add("old line");  // cleared first
    auto a = Elements(interp.Execute("1;(;2", &errors));
    ASSERT_EQ(a.size(), 3u);
    EXPECT_TRUE(a[0].SameAs(Variant(1)));
    EXPECT_TRUE(a[1].IsNull());
    EXPECT_TRUE(a[2].SameAs(Variant(2)));
    EXPECT_EQ(errors.Lines(), std::vector<std::string>{"TMathInterpreter.RPN() Unclosed left bracket on position: 1."});
    // a successful run clears the list too
    interp.Execute("1", &errors);
    EXPECT_EQ(errors.Count(), 0);
}

TEST_F(Tree, ExecuteWithoutErrorListRaises) {
    EXPECT_EQ(ErrorOf([&] { interp.Execute("1;(;2"); }),
              "TMathInterpreter.RPN() Unclosed left bracket on position: 1.");
    // earlier segments keep their effects, later ones are not executed
    EXPECT_EQ(ErrorOf([&] { interp.Execute("x=1;not 1;y=2"); }),
              "TMNot.GetValue() NOT operator (position: 1) expects boolean operand (position: 5).");
    EXPECT_TRUE(interp.SymbolExists("x"));
    EXPECT_FALSE(interp.SymbolExists("y"));
    ExpectUsable();
}

TEST_F(Tree, ExecuteSplitsOnlyOutsideStringLiterals) {
    // The split respects string literals: x = 'a;b' assigns a;b.
    TStrings errors;
    auto a = Elements(interp.Execute("x = 'a;b'", &errors));
    EXPECT_EQ(errors.Count(), 0);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_TRUE(a[0].SameAs(Variant("a;b")));
    EXPECT_TRUE(interp.ExecuteExpression("x").SameAs(Variant("a;b")));
    auto b = Elements(interp.Execute("'it''s;ok';\"a';\";1", &errors));
    ASSERT_EQ(b.size(), 3u);
    EXPECT_TRUE(b[0].SameAs(Variant("it's;ok")));
    EXPECT_TRUE(b[1].SameAs(Variant("a';")));
    EXPECT_TRUE(b[2].SameAs(Variant(1)));
    EXPECT_EQ(errors.Count(), 0);
}

TEST_F(Tree, ExecuteUnclosedStringRunsToTheEnd) {
    TStrings errors;
    auto a = Elements(interp.Execute("1; 'abc;2", &errors));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_TRUE(a[0].SameAs(Variant(1)));
    EXPECT_TRUE(a[1].IsNull());
    EXPECT_EQ(errors.Lines(), std::vector<std::string>{"ParseString() Unclosed string starting at position: 2."});
}

TEST_F(Tree, ExecuteSplitHonoursTheEscapeChar) {
    TStrings errors;
    // without an escape character the backslash is ordinary and the quote closes
    auto a = Elements(interp.Execute("'a\\';1", &errors));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_TRUE(a[0].SameAs(Variant("a\\")));
    EXPECT_TRUE(a[1].SameAs(Variant(1)));
    interp.SetEscapeChar('\\');
    auto b = Elements(interp.Execute("'a\\';b';1", &errors));
    EXPECT_EQ(errors.Count(), 0) << (errors.Count() ? errors[0] : "");
    ASSERT_EQ(b.size(), 2u);
    EXPECT_TRUE(b[0].SameAs(Variant("a';b")));
    EXPECT_TRUE(b[1].SameAs(Variant(1)));
}

TEST_F(Tree, Execute600Expressions) {
    std::string text;
    for (int i = 0; i < 600; ++i) text += std::to_string(i) + "*2;";
    Variant r = interp.Execute(text);
    ASSERT_TRUE(r.IsArray());
    EXPECT_EQ(r.ArrayHighBound(), 599);
    auto e = Elements(r);
    ASSERT_EQ(e.size(), 600u);
    for (int i = 0; i < 600; ++i) {
        ASSERT_TRUE(e[static_cast<std::size_t>(i)].IsInteger()) << i;
        EXPECT_EQ(e[static_cast<std::size_t>(i)].AsInteger(), 2 * i) << i;
    }
}

TEST_F(Tree, ExecuteBatchBoundaries) {
    for (int n : {255, 256, 257, 512, 513}) {
        std::string text;
        for (int i = 0; i < n; ++i) text += std::to_string(i) + ";";
        auto e = Elements(interp.Execute(text));
        ASSERT_EQ(e.size(), static_cast<std::size_t>(n)) << n;
        EXPECT_TRUE(e.front().SameAs(Variant(0))) << n;
        EXPECT_TRUE(e.back().SameAs(Variant(n - 1))) << n;
    }
}

TEST_F(Tree, Execute600ExpressionsWithErrors) {
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 600; ++i) {
        if (i % 3 == 1) {
            // position of the bracket differs per expression
            text += std::string(static_cast<std::size_t>(i % 40), ' ') + "(" + std::to_string(i);
            expected.push_back("TMathInterpreter.RPN() Unclosed left bracket on position: " +
                               std::to_string(i % 40 + 1) + ".");
        } else {
            text += "v" + std::to_string(i) + " = " + std::to_string(i);
        }
        text += ";";
    }
    TStrings errors;
    auto e = Elements(interp.Execute(text, &errors));
    ASSERT_EQ(e.size(), 600u);
    for (int i = 0; i < 600; ++i) {
        const Variant& v = e[static_cast<std::size_t>(i)];
        if (i % 3 == 1) {
            EXPECT_TRUE(v.IsNull()) << i;
        } else {
            ASSERT_TRUE(v.IsInteger()) << i;
            EXPECT_EQ(v.AsInteger(), i);
        }
    }
    EXPECT_EQ(errors.Lines(), expected);
    EXPECT_EQ(interp.SymbolCount(), 400);
    EXPECT_TRUE(interp.ExecuteExpression("v599").SameAs(Variant(599)));
}

// ---------------------------------------------------------------- deep input

const char* const kTooDeep = "TMathInterpreter.RPN() Expression is nested too deeply (more than 2000 levels), position: ";

// Checks the nesting message and returns its position (0 when it does not match).
int DeepPosition(const std::string& message) {
    const std::string prefix = kTooDeep;
    if (message.compare(0, prefix.size(), prefix) != 0 || message.size() < prefix.size() + 2 ||
        message.back() != '.') {
        ADD_FAILURE() << "unexpected message: " << message.substr(0, 300);
        return 0;
    }
    return std::stoi(message.substr(prefix.size()));
}

TEST_F(Tree, DeepBracketsAroundALiteral) {
    const int n = 100000;
    std::string text = std::string(n, '(') + "42" + std::string(n, ')');
    Variant v = Eval(text);
    ASSERT_TRUE(v.IsInteger());
    EXPECT_EQ(v.AsInteger(), 42);
    std::string sum = std::string(n, '(') + "1+2" + std::string(n, ')');
    EXPECT_EVAL_INT(sum, 3);
    ExpectUsable();
}

TEST_F(Tree, DeepUnbalancedBrackets) {
    const int n = 100000;
    EXPECT_EQ(EvalError(std::string(n, '(') + "1"),
              "TMathInterpreter.RPN() Unclosed left bracket on position: " + std::to_string(n) + ".");
    EXPECT_EQ(EvalError("1" + std::string(n, ')')), "TMathInterpreter.RPN() Unclosed right bracket, position: 2.");
    ExpectUsable();
}

// A pasted column joined by one operator is a chain, not nesting: any length
// evaluates, dumps (plainly and in detail) and frees; brackets around each
// link make it nesting again.
TEST_F(Tree, FlatChainsOfAnyLengthEvaluateAndDump) {
    // A pasted column of 100,000 numbers; the other chains shorter.
    const int n = 100000, m = 4000;
    struct Case {
        const char* first;
        const char* link;
        int links;
        Variant value;
    } cases[] = {
        {"1", "+1", n, Variant(n + 1)},
        {"x", "-1", m, Variant(7.5 - m)},
        {"1", "*1", m, Variant(1)},
        {"x", "/2*2", m, Variant(7.5)},
        {"True", " and True", m, Variant(true)},
        {"False", " or False", m, Variant(false)},
        {"7", " xor 1", m, Variant(7 ^ (m % 2))},
    };
    Eval("x = 7.5");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        std::string text = c.first;
        for (int i = 0; i < c.links; ++i) text += c.link;
        EXPECT_VALUE(Eval(text), c.value);
        auto root = Build(text);
        EXPECT_TRUE(root->Dump(0) == text);
        EXPECT_EQ(root->Dump(dfDetailed).back(), ')');
        root.reset();
        // The same column through a prepared handle and a function body.
        const int handle = interp.PrepareExpression(text);
        EXPECT_VALUE(interp.ExecutePreparedExpression(handle), c.value);
        interp.FreePreparedExpression(handle);
        Eval("f := " + text);
        EXPECT_VALUE(Eval("f"), c.value);
        EXPECT_TRUE(interp.DumpSymbol("f", 0) == "f():=" + text);
    }
    EXPECT_EQ(Detailed("1+2-3+4"), "TMPlus(TMMinus(TMPlus(TMLiteral(1),TMLiteral(2)),TMLiteral(3)),TMLiteral(4))");
    // An error inside a long chain names its own position.
    std::string failing = "1";
    for (int i = 0; i < n; ++i) failing += i == n / 2 ? "+'a'" : "+1";
    EXPECT_EQ(EvalError(failing), "Could not convert variant of type (String) into type (Double)");
    ExpectUsable();
}

// A chain evaluated link by link follows each operator's value rules exactly
// as the same links nested in brackets do: kinds, Integer overflow, Null,
// texts, Booleans, and the errors with their positions.
TEST_F(Tree, ChainLinksFollowTheOperatorRulesOfTheNestedForm) {
    for (const char* set : {"i = 2147483647", "r = 0.5", "n = 0", "s = 'ab'", "t = True"}) Eval(set);
    interp.SetVariables("n", Variant::Null());
    const std::vector<std::vector<std::string>> chains = {
        {"i", "+1", "-1"},        {"i", "-1", "+1"},          {"1", "+r", "+2"},       {"2", "*i", " div 2"},
        {"7", " div 2", "*3"},    {"7", " mod 0", "*3"},      {"1", "/0", "+1"},       {"n", "+1", "+2"},
        {"1", "+n", "*2"},        {"s", "+'c'", "+1"},        {"s", "+1", "+'c'"},     {"'1'", "+2", "+3"},
        {"t", " and t", " or 0"}, {"t", " and 5", " xor 3"},  {"t", " or s", " or t"}, {"1", " shl 31", " shr 1"},
        {"r", "-r", "-1/(r-r)"},  {"x", "+1", "+2"},          {"1", "+f(1)", "+2"},    {"-i", "-2", "+1"},
    };
    const auto outcome = [&](const std::string& text) {
        std::string shown;
        const std::string error = ErrorOf([&] {
            const Variant v = Eval(text);
            shown = zorvex::testing::Show(v) + " #" + std::to_string(v.VarType());
        });
        return error == "<no exception>" ? shown : error;
    };
    for (const auto& links : chains) {
        // Each added bracket stands where the flat text has a blank, so that
        // positions agree.
        std::string flat = links[0], nested = links[0], plain = links[0];
        for (std::size_t k = 1; k < links.size(); ++k) {
            flat = " " + flat + links[k] + " ";
            nested = "(" + nested + links[k] + ")";
            plain += links[k];
        }
        SCOPED_TRACE(plain);
        EXPECT_EQ(outcome(flat), outcome(nested));
        EXPECT_EQ(Build(plain)->Dump(0), plain);
    }
    ExpectUsable();
}

// Links in brackets of their own nest: a million of them give the nesting
// error, as a million nested minus signs or calls do.
TEST_F(Tree, MillionNestedBracketsGiveTheNestingError) {
    const int n = 1000000;
    std::string bracketed = std::string(n, '(') + "1";
    for (int i = 0; i < n; ++i) bracketed += "+1)";
    const int position = DeepPosition(EvalError(bracketed));
    EXPECT_EQ(bracketed[static_cast<std::size_t>(position - 1)], '+');
    ExpectUsable();
}

TEST_F(Tree, DeepNestedUnaryMinusGivesClearError) {
    const int n = 100000;
    std::string text;
    text.reserve(4 * n + 1);
    for (int i = 0; i < n; ++i) text += "-(";
    text += "1";
    text += std::string(n, ')');
    const int position = DeepPosition(EvalError(text));
    ASSERT_GT(position, 0);
    EXPECT_EQ(text[static_cast<std::size_t>(position - 1)], '-');
    ExpectUsable();
    // prefix minus signs before an identifier, without brackets
    std::string bare = std::string(n, '-') + "x";
    DeepPosition(EvalError(bare));
    ExpectUsable();
}

TEST_F(Tree, ManyMinusSignsBeforeANumberFold) {
    // folded into the literal: no tree at all
    EXPECT_EVAL_INT(std::string(100000, '-') + "7", 7);
    EXPECT_EVAL_INT(std::string(99999, '-') + "7", -7);
}

TEST_F(Tree, DeepNotGivesClearError) {
    const int n = 100000;
    std::string text;
    text.reserve(4 * n + 4);
    for (int i = 0; i < n; ++i) text += "not ";
    text += "true";
    const int position = DeepPosition(EvalError(text));
    ASSERT_GT(position, 0);
    EXPECT_EQ(text.substr(static_cast<std::size_t>(position - 1), 3), "not");
    ExpectUsable();
}

TEST_F(Tree, DeepAssignmentChainAndCallsGiveClearError) {
    const int n = 100000;
    std::string assign;
    for (int i = 0; i < n; ++i) assign += "a=";
    assign += "1";
    DeepPosition(EvalError(assign));
    EXPECT_FALSE(interp.SymbolExists("a"));
    ExpectUsable();
    std::string calls;
    for (int i = 0; i < n; ++i) calls += "f(";
    calls += "1" + std::string(n, ')');
    DeepPosition(EvalError(calls));
    ExpectUsable();
    std::string power = "2";
    for (int i = 0; i < n; ++i) power += "^1";
    DeepPosition(EvalError(power));
    ExpectUsable();
}

TEST_F(Tree, DepthLimitBoundary) {
    // a leaf has depth 1; each nested operator adds one level; 2000 levels
    // are accepted
    std::string ok = "1+1";
    for (int i = 0; i < 1998; ++i) ok = "1+(" + ok + ")";
    EXPECT_EVAL_INT(ok, 2000);
    const std::string tooDeep = "1+(" + ok + ")";
    EXPECT_EQ(EvalError(tooDeep), std::string(kTooDeep) + "2.");
    std::string neg;
    for (int i = 0; i < 1999; ++i) neg += "-(";
    neg += "1" + std::string(1999, ')');
    EXPECT_EVAL_INT(neg, -1);
    // the plain dump of the deepest accepted tree works and reads back
    auto root = Build(ok);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(root->Dump(0) == ok);
    ExpectUsable();
}

}  // namespace

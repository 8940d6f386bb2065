// Prepared trees run in a compiled form when they can. Whatever the values,
// it must answer exactly as the tree does: the same value of the same kind,
// or the same error. Random expressions over random values of every kind,
// and the changes that make a compiled form stale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "InterpreterAccess.h"
#include "TestSupport.h"
#include "zorvex/MathInterpreter.h"

using namespace zorvex;
using zorvex::InterpreterAccess;
using zorvex::testing::ErrorOf;
using zorvex::testing::Show;

namespace {

std::uint32_t Seed() {
    if (const char* env = std::getenv("ZORVEX_PROPERTY_SEED")) return static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10));
    return 11;
}

int Cases() {
    if (const char* env = std::getenv("ZORVEX_PROPERTY_CASES")) return std::max(1, std::atoi(env));
    return 10000;
}

// The value or the error, as a text that tells kinds apart.
template <class F>
std::string Outcome(F&& f) {
    std::string shown;
    const std::string error = ErrorOf([&] {
        const Variant v = f();
        shown = Show(v) + " #" + std::to_string(v.VarType());
        if (v.IsReal()) shown += std::signbit(v.AsReal()) ? " -" : " +";
    });
    return error == "<no exception>" ? shown : "error: " + error;
}

class Generator {
public:
    // With `calls`, calls of the functions of kFunctionsDefined now and then.
    explicit Generator(std::uint32_t seed, bool calls = false) : rng_(seed), calls_(calls) {}

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    // Mostly numbers over the variables, with every other kind now and then.
    std::string Expression(int depth) {
        if (depth == 0 || Pick(5) == 0) return Leaf();
        if (calls_ && Pick(6) == 0) {
            // Name and number of parameters of each function defined.
            static const std::pair<const char*, int> kUser[] = {{"sq", 1},    {"hyp", 2},   {"pick", 3},
                                                                {"inc", 1},   {"neg", 1},   {"k", 0},
                                                                {"first", 2}, {"twice", 1}, {"rec", 1}};
            const auto& [name, n] = kUser[Pick(std::size(kUser))];
            std::string call = std::string(name) + "(";
            for (int i = 0; i < n; ++i) call += (i ? ", " : "") + Expression(depth - 1);
            return call + ")";
        }
        static const char* const kBinary[] = {"+", "-", "*", "/", "^", "+", "-", "*", "<", "<=", "==", ">=", ">",
                                              "!=", " and ", " or ", " xor ", " div ", " mod ", " shl "};
        static const char* const kFunctions[] = {"Sin", "Cos", "Sqrt", "Abs", "Exp", "Ln", "ArcTan", "Tanh", "Sqr",
                                                 "ArcSin", "Log10", "Round", "Frac", "Int"};
        switch (Pick(10)) {
            case 0: return "-(" + Expression(depth - 1) + ")";
            case 1: return " not (" + Expression(depth - 1) + ")";
            case 2: return std::string(kFunctions[Pick(std::size(kFunctions))]) + "(" + Expression(depth - 1) + ")";
            case 3:
                return "IfF(" + Expression(depth - 1) + ", " + Expression(depth - 1) + ", " + Expression(depth - 1) + ")";
            case 4: {  // a chain long enough to loop
                std::string chain = Expression(depth - 1);
                const char* op = Pick(2) ? "+" : (Pick(2) ? "*" : " and ");
                for (int n = 8 + Pick(8); n > 0; --n) chain += std::string(op) + Leaf();
                return "(" + chain + ")";
            }
            case 5: {  // nested to the right: each level holds a register
                std::string nest = Leaf();
                const char* op = Pick(2) ? "-" : "/";
                for (int n = 20 + Pick(20); n > 0; --n) nest = Leaf() + op + "(" + nest + ")";
                return "(" + nest + ")";
            }
            default:
                return "(" + Expression(depth - 1) + kBinary[Pick(std::size(kBinary))] + Expression(depth - 1) + ")";
        }
    }

    std::string Leaf() {
        static const char* const kLiterals[] = {"0", "1", "2", "2.5", "-3", "0.1", "1e308", "2147483647", "46341",
                                                "'7'", "'x'", "true", "false", "Pi", "2", "1e308", "-1e300"};
        if (Pick(3) > 0) return std::string(1, static_cast<char>('a' + Pick(5)));
        return kLiterals[Pick(std::size(kLiterals))];
    }

    // Near the ends of the range as often as in the middle, where overflow
    // and NaN come from.
    Variant Real() {
        static const double kEdges[] = {1e308, -1e308, 1e308, 1e200, 5e-324, 0.0, -0.0, 1.0, -1.0, 0.5};
        if (Pick(2)) return Variant(kEdges[Pick(std::size(kEdges))]);
        return Variant(std::uniform_real_distribution<double>(-4, 4)(rng_));
    }

    Variant Value() {
        switch (Pick(14)) {
            case 0: return Variant::Null();
            case 1: return Variant();
            case 2: return Variant(Pick(2) ? "12" : "abc");
            case 3: return Variant(Pick(2) == 1);
            case 4: return Variant(Pick(2) ? 2147483647 : -2147483647 - 1);
            case 5: return Variant(Pick(2) ? 46341 : -7);
            case 6: return Variant(0.0 * (Pick(2) ? 1 : -1));
            case 7: return Variant(Pick(2) ? 1e308 : -1e308);
            // NaN and infinities are refused as values; the smallest ones stand in.
            case 8: return Variant(Pick(2) ? -5e-324 : 2.2250738585072014e-308);
            case 9: return Variant(5e-324);
            default: return Variant(std::uniform_real_distribution<double>(-4, 4)(rng_));
        }
    }

private:
    std::mt19937 rng_;
    bool calls_;
};

// User functions the generator calls: nested, with Integer arithmetic, a
// Boolean parameter, one that ignores a parameter, and a recursive one.
const char* const kFunctionsDefined =
    "sq(x) := x * x; hyp(x, y) := Sqrt(sq(x) + sq(y)); pick(p, x, y) := IfF(p, x, y); inc(x) := x + 1;"
    "neg(x) := -x; k() := 7; first(x, y) := x; twice(x) := 2.5 * sq(x) - inc(x);"
    "rec(n) := IfF(n < 1, 0.5, rec(Sqrt(n) - 1) + 1)";

}  // namespace

// The compiled form against the tree it was made from, and against the same
// text run once, over thousands of random expressions and values; as
// machine code where there is some, and by the handlers.
class CompiledForms : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(CompiledForm, CompiledForms, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "MachineCode" : "Handlers"; });

TEST_P(CompiledForms, AnswersAsTheTreeForEveryValue) {
    const std::uint32_t seed = Seed();
    const int cases = Cases();
    std::cout << "property seed " << seed << ", " << cases << " expressions (ZORVEX_PROPERTY_SEED, ZORVEX_PROPERTY_CASES)\n";
    Generator gen(seed, true);
    TMathInterpreter mi;
    InterpreterAccess::SetMachineCode(mi, GetParam());
    mi.Execute("a = 1.5; b = -2.25; c = 3; d = 0.5; e = true");
    mi.Execute(kFunctionsDefined);
    int compiled = 0, compiledCalls = 0, evaluations = 0, failures = 0;
    for (int i = 0; i < cases && failures < 10; ++i) {
        const std::string text = gen.Expression(1 + gen.Pick(4));
        int handle = -1;
        const std::string prepared = ErrorOf([&] { handle = mi.PrepareExpression(text); });
        if (handle < 0) {
            // Then the text fails to build once as well.
            EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(text); }), prepared) << text;
            continue;
        }
        const bool isCompiled = mi.IsCompiledPreparedExpression(handle);
        compiled += isCompiled;
        compiledCalls += isCompiled && text.find("(x") == std::string::npos &&
                         (text.find("sq(") != std::string::npos || text.find("inc(") != std::string::npos ||
                          text.find("k()") != std::string::npos || text.find("pick(") != std::string::npos);
        auto* tree = static_cast<TMValue*>(mi.PreparedExpressions()[handle]);
        for (int round = 0; round < 4; ++round) {
            // Reals most of the time, so that the compiled form runs; typed
            // writes by handle now and then.
            for (char name = 'a'; name <= 'e'; ++name) {
                const Variant v = gen.Pick(3) ? gen.Real() : gen.Value();
                const int h = mi.GetVariableHandles(std::string(1, name));
                if (v.IsReal() && gen.Pick(2))
                    mi.SetVariablesByHandle(h, v.AsReal());
                else if (v.IsInteger() && gen.Pick(2))
                    mi.SetVariablesByHandle(h, static_cast<std::int32_t>(v.AsInteger()));
                else
                    mi.SetVariables(std::string(1, name), v);
            }
            const std::string fast = Outcome([&] { return mi.ExecutePreparedExpression(handle); });
            const std::string slow = Outcome([&] { return tree->GetValue(); });
            const std::string once = Outcome([&] { return mi.ExecuteExpression(text); });
            ++evaluations;
            if (fast != slow || once != slow) {
                ++failures;
                ADD_FAILURE() << text << "\n compiled: " << fast << "\n tree:     " << slow << "\n once:     " << once
                              << "\n a=" << Show(mi.GetVariables("a")) << " b=" << Show(mi.GetVariables("b"))
                              << " c=" << Show(mi.GetVariables("c")) << " d=" << Show(mi.GetVariables("d"))
                              << " e=" << Show(mi.GetVariables("e"));
            }
        }
        mi.FreePreparedExpression(handle);
    }
    std::cout << compiled << " of " << cases << " expressions compiled (" << compiledCalls
              << " with calls of user functions), " << evaluations << " evaluations compared\n";
    EXPECT_GT(compiled, cases / 5);
    EXPECT_GT(compiledCalls, cases / 100);
}

// Whatever changes what a compiled form read (a literal, a variable's symbol,
// an operand, the prepared slot), the next run answers from the tree as it is.
TEST(CompiledForm, FollowsChangesToItsTree) {
    TMathInterpreter mi;
    mi.Execute("x = 2.5; y = 4.0");
    const int h = mi.PrepareExpression("x * y + 0.5");
    ASSERT_TRUE(mi.IsCompiledPreparedExpression(h));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(10.5));
    // A literal set through the tree.
    auto* plus = static_cast<TMOperator*>(mi.PreparedExpressions()[h]);
    static_cast<TMValue*>(plus->Operands[1])->SetValue(Variant(1.5));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(11.5));
    // Integer values leave the compiled form: Integer arithmetic is the tree's.
    mi.SetVariables("x", Variant(3));
    mi.SetVariables("y", Variant(4));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(13.5));
    mi.SetVariablesByHandle(mi.GetVariableHandles("x"), 65536);
    mi.SetVariablesByHandle(mi.GetVariableHandles("y"), 65536);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(4294967297.5));
    // The variable deleted, then defined again: the tree stays unbound.
    mi.ExecuteExpression("delete x");
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }),
              "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.");
    mi.ExecuteExpression("x = 1.0");
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }),
              "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.");
    // A variable replaced by a function of the same name.
    const int g = mi.PrepareExpression("x / 2");
    EXPECT_VALUE(mi.ExecutePreparedExpression(g), Variant(0.5));
    mi.ExecuteExpression("x := 3.0");
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(g); }),
              "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.");
    // An operand replaced through the list.
    const int k = mi.PrepareExpression("y * 2.0");
    auto* times = static_cast<TMOperator*>(mi.PreparedExpressions()[k]);
    delete times->Operands[1];
    times->Operands.Put(1, new TMLiteral(Variant(3.0)));
    EXPECT_VALUE(mi.ExecutePreparedExpression(k), Variant(196608.0));
    // The slot given another tree.
    mi.FreePreparedExpression(g);
    EXPECT_EQ(mi.PrepareExpression("y - 1.5"), g);
    EXPECT_VALUE(mi.ExecutePreparedExpression(g), Variant(65534.5));
    mi.ClearSymbols();
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(g); }),
              "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 1.");
}

// Machine code where the processor has it: made for a form that runs often
// (not for calls of host functions, which may throw), released with its
// expression or when its tree changes, and at most a fixed number per
// interpreter, the rest running by the handlers with the same answers.
TEST(CompiledForm, MachineCodeIsMadeKeptAndReleased) {
#if defined(__x86_64__) && defined(__linux__)
    {
        // By default after some runs: a form run a few times costs no pages.
        TMathInterpreter mi;
        mi.Execute("a = 1.5; b = 2.5; c = 3.5");
        const int h = mi.PrepareExpression("a + b * c");
        const int runs = InterpreterAccess::MachineAfter(mi);
        ASSERT_GT(runs, 1);
        for (int k = 1; k < runs; ++k) ASSERT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(h)), 10.25);
        EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), 0);
        for (int k = 0; k < 3; ++k) ASSERT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(h)), 10.25);
        EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), 1);
    }
    TMathInterpreter mi;
    InterpreterAccess::SetMachineCode(mi, true);
    mi.Execute("a = 1.5; b = 2.5; c = 3.5; e = true");
    mi.DefineFunction("twice", [](double x) { return 2 * x; });
    const struct {
        const char* text;
        double value;
        bool machine;
    } kCases[] = {
        {"a + b * c", 10.25, true},
        {"(a + b) * (c - a) / 2.5", 3.2, true},
        {"a^2 + b^2 - 2*a*b*Cos(c)", 1.5 * 1.5 + 2.5 * 2.5 - 2 * 1.5 * 2.5 * std::cos(3.5), true},
        {"IfF(a > b, a, b) + c", 6.0, true},
        {"Sqrt(c) - Sqrt(a * b) + -a", std::sqrt(3.5) - std::sqrt(1.5 * 2.5) - 1.5, true},
        {"IfF(e and not (a >= b), b / a, 0.5)", 2.5 / 1.5, true},
        {"twice(a) + b", 5.5, false},
    };
    int machine = 0;
    std::vector<int> handles;
    for (const auto& c : kCases) {
        const int h = mi.PrepareExpression(c.text);
        handles.push_back(h);
        ASSERT_TRUE(mi.IsCompiledPreparedExpression(h)) << c.text;
        machine += c.machine;
        EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), machine) << c.text;
        EXPECT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(h)), c.value) << c.text;
    }
    // A change to the trees: compiled again, the old code released.
    const int lit = mi.PrepareExpression("a * 2 + 0.5");
    auto* plus = static_cast<TMOperator*>(mi.PreparedExpressions()[lit]);
    const std::uint64_t before = InterpreterAccess::Compilations(mi);
    for (int round = 0; round < 50; ++round) {
        static_cast<TMValue*>(plus->Operands[1])->SetValue(Variant(0.25 * round));
        EXPECT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(lit)), 3 + 0.25 * round);
        EXPECT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(handles[0])), 10.25);
    }
    EXPECT_GE(InterpreterAccess::Compilations(mi), before + 50);
    EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), machine + 1);
    mi.FreePreparedExpression(lit);
    mi.FreePreparedExpression(handles[0]);
    for (int h : handles) (void)(h != handles[0] && mi.IsCompiledPreparedExpression(h));
    EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), machine - 1);
    mi.ClearPreparedExpressions();
    EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), 0);

    // Past the limit, by the handlers.
    handles.clear();
    for (int k = 0; k < 1100; ++k) {
        handles.push_back(mi.PrepareExpression("a * " + std::to_string(k) + ".5 + b"));
        ASSERT_TRUE(mi.IsCompiledPreparedExpression(handles.back()));
    }
    EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), 1024);
    for (int k = 0; k < 1100; ++k)
        ASSERT_DOUBLE_EQ(VarToReal(mi.ExecutePreparedExpression(handles[k])), 1.5 * (k + 0.5) + 2.5) << k;
    mi.ClearPreparedExpressions();
    EXPECT_EQ(InterpreterAccess::MachinePrograms(mi), 0);
#else
    GTEST_SKIP() << "no machine code on this platform";
#endif
}

// Calls of user functions run inside the compiled form; whatever changes a
// function (defined again, a literal of its body, deleted) or would make the
// tree refuse its calls (the nesting limit, the memory budget) gives the
// tree's answer, by the handlers and as machine code.
TEST(CompiledForm, InlinedCallsFollowTheirFunctions) {
    for (const bool atOnce : {true, false}) {
        TMathInterpreter mi;
        InterpreterAccess::SetMachineCode(mi, atOnce);
        mi.Execute("a = 1.5; b = 2.5; sq(x) := x * x; hyp(x, y) := Sqrt(sq(x) + sq(y)); lin(x) := x * 2.5");
        const int h = mi.PrepareExpression("hyp(a, b) * 2");
        const int s = mi.PrepareExpression("sq(a) + 0.5");
        const int l = mi.PrepareExpression("lin(a) + 1");
        for (int handle : {h, s, l}) ASSERT_TRUE(mi.IsCompiledPreparedExpression(handle)) << handle;
        const auto check = [&](int handle, const std::string& expected, const char* when) {
            auto* tree = static_cast<TMValue*>(mi.PreparedExpressions()[handle]);
            for (int run = 0; run < 3; ++run) {
                EXPECT_EQ(Outcome([&] { return mi.ExecutePreparedExpression(handle); }), expected) << when;
                EXPECT_EQ(Outcome([&] { return tree->GetValue(); }), expected) << when;
            }
        };
        check(h, "5.8309518948453 (real) #5 +", "at first");
        check(s, "2.75 (real) #5 +", "at first");
        check(l, "4.75 (real) #5 +", "at first");
        mi.Execute("sq(x) := x * x * x");
        check(s, "3.875 (real) #5 +", "sq defined again");
        check(h, "8.71779788708135 (real) #5 +", "sq defined again");
        auto* call = static_cast<TMFunctionCall*>(static_cast<TMOperator*>(mi.PreparedExpressions()[l])->Operands[0]);
        auto* lin = static_cast<TMFunction*>(call->SymbolReference);
        static_cast<TMValue*>(static_cast<TMOperator*>(lin->Expression())->Operands[1])->SetValue(Variant(4.0));
        check(l, "7 (real) #5 +", "a literal of the body set");
        const std::string tooDeep =
            "error: TMFunction.GetValue() Function nesting level too deep (function: \"sq\", "
            "position: 1). Most outer function: \"hyp\".";
        mi.SetMaxFunctionNesting(1);
        check(h, tooDeep, "one level allowed");
        check(s, "3.875 (real) #5 +", "one level allowed");
        // A call folded into a constant still makes its checks.
        mi.Execute("k() := 7");
        const int folded = mi.PrepareExpression("k() * 2");
        ASSERT_TRUE(mi.IsCompiledPreparedExpression(folded));
        check(folded, "14 #3", "folded, one level allowed");
        mi.SetMaxFunctionNesting(0);
        check(folded, Outcome([&] { return mi.ExecuteExpression("k() * 2"); }), "folded, no level allowed");
        mi.SetMaxFunctionNesting(1000);
        check(h, "8.71779788708135 (real) #5 +", "nesting allowed again");
        // Under a memory budget, the tree's answer to the same text.
        const auto underBudget = [&](std::size_t bytes, int handle, const char* text, const char* when) {
            mi.SetMemoryBudget(bytes);
            check(handle, Outcome([&] { return mi.ExecuteExpression(text); }), when);
            mi.SetMemoryBudget(TMathInterpreter::DefaultMemoryBudget);
        };
        underBudget(8, s, "sq(a) + 0.5", "no memory for a frame");
        check(s, "3.875 (real) #5 +", "memory again");
        // A step budget counts the tree's calls.
        mi.SetEvaluationStepLimit(1);
        const std::string stepped = Outcome([&] { return mi.ExecuteExpression("hyp(a, b) * 2"); });
        EXPECT_NE(stepped.find("error"), std::string::npos) << stepped;
        EXPECT_EQ(Outcome([&] { return mi.ExecutePreparedExpression(h); }), stepped);
        mi.SetEvaluationStepLimit(0);
        // Run from a host function inside a call the tree makes: the nesting
        // counts from there.
        mi.DefineFunction("nested", [&](double) { return VarToReal(mi.ExecutePreparedExpression(h)); });
        mi.Execute("outer(x) := nested(x)");
        mi.SetMaxFunctionNesting(2);
        const std::string deep = Outcome([&] { return mi.ExecuteExpression("outer(1)"); });
        EXPECT_NE(deep.find("Function nesting level too deep (function: \"sq\", position: 1)"), std::string::npos)
            << deep;
        mi.SetMaxFunctionNesting(3);
        EXPECT_EQ(Outcome([&] { return mi.ExecuteExpression("outer(1)"); }), "8.71779788708135 (real) #5 +");
        mi.SetMaxFunctionNesting(1000);
        // A text passed, unused, is charged with the frame.
        mi.Execute("t = StringOfChar('x', 4000); ign(x, y) := y * 2");
        const int g = mi.PrepareExpression("ign(t, a) + 1");
        ASSERT_TRUE(mi.IsCompiledPreparedExpression(g));
        check(g, "4 (real) #5 +", "a text passed");
        underBudget(2000, g, "ign(t, a) + 1", "a text passed, over the budget");
        mi.Execute("delete sq");
        check(s, "error: TMFunctionCall.GetValue() Undefined function reference: \"sq\", position: 1.", "sq deleted");
    }
}

// Whatever makes a compiled form stale, done on another interpreter (on this
// thread or another), and work of its own interpreter that no compiled form
// reads, leave it alone: it is not compiled again.
TEST(CompiledForm, OtherWorkNeverMakesItStale) {
    TMathInterpreter a;
    a.Execute("a = 1.5; b = 2.5; c = 3.5; k = 2.0");
    const int h = a.PrepareExpression("a^2 + b^2 - 2*a*b*Cos(c)");
    const int g = a.PrepareExpression("k * 2.0 + 1");
    ASSERT_TRUE(a.IsCompiledPreparedExpression(h));
    ASSERT_TRUE(a.IsCompiledPreparedExpression(g));
    const Variant e4 = a.ExecutePreparedExpression(h);
    const std::uint64_t compiled = InterpreterAccess::Compilations(a);
    // Every kind of change that reaches a compiled form, made on `b`.
    auto work = [](TMathInterpreter& b) {
        b.Execute("y = 1+2*3; a = 1.5; f(x) := x + a; delete y");
        const int p = b.PrepareExpression("a * 2.0 + 1");
        b.ExecutePreparedExpression(p);
        static_cast<TMValue*>(static_cast<TMOperator*>(b.PreparedExpressions()[p])->Operands[1])->SetValue(Variant(3.0));
        b.ExecutePreparedExpression(p);
        static_cast<TMSymbol*>(b.Symbols()[0])->SetIdentifier("aa");
        b.PreparedExpressions().Put(p, b.PreparedExpressions()[p]);
        b.ExecuteExpression("aa := 2");
        EXPECT_EQ(ErrorOf([&] { b.ExecutePreparedExpression(p); }),
                  "TMVarRef.GetValue() Referenced symbol: \"a\" is not defied, position: 1.");
        b.FreePreparedExpression(p);
        b.ClearSymbols();
        b.ClearPreparedExpressions();
    };
    for (int i = 0; i < 20; ++i) {
        TMathInterpreter b;
        work(b);
        EXPECT_VALUE(a.ExecutePreparedExpression(h), e4);
    }
    std::thread other([&] {
        TMathInterpreter b;
        for (int i = 0; i < 200; ++i) work(b);
    });
    for (int i = 0; i < 2000; ++i) a.ExecutePreparedExpression(h);
    other.join();
    EXPECT_EQ(InterpreterAccess::Compilations(a), compiled);
    // Its own interpreter's work on symbols and trees that no compiled form reads.
    a.Execute("y = 1; delete y; f(x) := x * k");
    a.FreePreparedExpression(a.PrepareExpression("b * 2.0"));
    static_cast<TMSymbol*>(a.Symbols()[3])->SetIdentifier("kk");
    EXPECT_VALUE(a.ExecutePreparedExpression(h), e4);
    EXPECT_EQ(InterpreterAccess::Compilations(a), compiled + 1);  // "b * 2.0"
    // A change to what a form reads still reaches it.
    a.ExecuteExpression("delete kk");
    EXPECT_EQ(ErrorOf([&] { a.ExecutePreparedExpression(g); }),
              "TMVarRef.GetValue() Referenced symbol: \"k\" is not defied, position: 1.");
    EXPECT_VALUE(a.ExecutePreparedExpression(h), e4);
}

// Typed writes store what the Variant overload stores; other arguments take
// the Variant overload; errors are the same.
TEST(CompiledForm, TypedWritesByHandle) {
    TMathInterpreter mi;
    mi.Execute("v = 's'; f := 1");
    const int v = mi.GetVariableHandles("v");
    const std::size_t base = mi.MemoryInUse();
    mi.SetVariablesByHandle(v, 2.5);
    EXPECT_VALUE(mi.GetVariablesByHandle(v), Variant(2.5));
    EXPECT_LT(mi.MemoryInUse(), base);  // the text it held left the budget
    mi.SetVariablesByHandle(v, 7);
    EXPECT_VALUE(mi.GetVariablesByHandle(v), Variant(7));
    mi.SetVariablesByHandle(v, true);
    EXPECT_VALUE(mi.GetVariablesByHandle(v), Variant(true));
    mi.SetVariablesByHandle(v, "text");
    EXPECT_VALUE(mi.GetVariablesByHandle(v), Variant("text"));
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(5, 1.0); }), "List index out of bounds (5)");
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(1, 1.0); }), "Invalid class typecast");
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(-1, 1); }), "List index out of bounds (-1)");
    mi.ExecuteExpression("delete f");  // removed entries wait to be compacted
    mi.SetVariablesByHandle(v, 1.0);
    EXPECT_VALUE(mi.GetVariables("v"), Variant(1.0));
}

// Programs that outgrow the registers or the length the compiled form
// takes, and branches that skip code, answer as the tree does; the limits
// only decide whether the form is made.
TEST_P(CompiledForms, RegistersLengthBranchesAndCalls) {
    TMathInterpreter mi;
    InterpreterAccess::SetMachineCode(mi, GetParam());
    mi.Execute("a = 1.5; b = 2.5; t = true");
    // Calls nested nine deep (f9 calls f8 ... f1), recursion, and the kinds
    // of bodies and arguments a call takes or leaves to the tree.
    mi.Execute("f1(x) := x + 0.5");
    for (int i = 2; i <= 9; ++i) mi.Execute("f" + std::to_string(i) + "(x) := f" + std::to_string(i - 1) + "(x) * 1.5");
    mi.Execute(
        "rec(n) := IfF(n < 1, 0.5, rec(n - 1) + 1); first(x, y) := x; sq(x) := x * x; k() := 7;"
        "pick(p, x, y) := IfF(p, x, y); ign(x, y) := y * 2");
    auto nest = [](int levels) {
        std::string text = "a";
        for (int i = 0; i < levels; ++i) text = "b-(" + text + ")";
        return text;
    };
    auto chain = [](int links) {
        std::string text = "a";
        for (int i = 0; i < links; ++i) text += i % 2 ? "+b" : "*a";
        return text;
    };
    const struct {
        std::string text;
        bool compiled;
    } cases[] = {
        {nest(20), true},
        {nest(60), false},  // more registers than there are
        {chain(200), true},
        {chain(3000), false},  // longer than a program may be
        {"IfF(t, a*b, b-a) + IfF(not t, a^2, Sqrt(b))", true},
        {"IfF(a > b, IfF(b > 0, a, b), IfF(t and a < 2, b, a)) * 2.0", true},
        {"f8(a) - b", true},
        {"f9(a) - b", false},  // deeper than calls are taken in
        {"rec(a) + 0.5", false},
        {"first(a, b) * 2", true},
        {"first(a, b * 2) + 1", false},  // a variable of any kind, known when it runs
        {"sq('x') + 1", false},
        {"k() * 1.5 + sq(k())", true},
        {"pick(t, a, b) + pick(a > b, sq(a), -b)", true},
        {"sq(1e200) + a", false},              // folds to an overflow: the tree's error
        {"k() + sq(b * 1e200)", true},         // overflows when it runs: the tree's error
        {"ign(a * 1e308 * 10, b) + 1", true},  // an argument unused, overflowing
    };
    for (const auto& c : cases) {
        const int h = mi.PrepareExpression(c.text);
        EXPECT_EQ(mi.IsCompiledPreparedExpression(h), c.compiled) << c.text.substr(0, 60);
        auto* tree = static_cast<TMValue*>(mi.PreparedExpressions()[h]);
        for (const double x : {1.5, -0.75, 3.0}) {
            mi.SetVariablesByHandle(mi.GetVariableHandles("a"), x);
            mi.SetVariables("t", Variant(x > 0));
            EXPECT_EQ(Outcome([&] { return mi.ExecutePreparedExpression(h); }), Outcome([&] { return tree->GetValue(); }))
                << c.text.substr(0, 60);
        }
    }
}

// Typed writes by handle go to the variable the handle names now: after
// symbols are deleted, added, renamed or replaced, and into values of every
// kind.
TEST(CompiledForm, TypedWritesFollowTheTable) {
    TMathInterpreter mi;
    mi.Execute("p = 1.0; q = 2.0; r = 3.0; s = 'text'");
    const int h = mi.PrepareExpression("q * 10.0 + r");
    mi.SetVariablesByHandle(1, 5.0);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(53.0));
    mi.ExecuteExpression("delete p");  // q is handle 0 now, r handle 1
    mi.SetVariablesByHandle(1, 7.0);
    EXPECT_VALUE(mi.GetVariables("r"), Variant(7.0));
    EXPECT_VALUE(mi.GetVariables("q"), Variant(5.0));
    mi.SetVariablesByHandle(0, 4);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(47.0));
    mi.ExecuteExpression("z = 0.5");
    mi.SetVariablesByHandle(mi.GetVariableHandles("z"), 9.5);
    EXPECT_VALUE(mi.GetVariables("z"), Variant(9.5));
    // A function in a variable's place, and a variable holding a text.
    mi.ExecuteExpression("q := 1");
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(0, 1.0); }), "Invalid class typecast");
    mi.SetVariablesByHandle(mi.GetVariableHandles("s"), 2.0);
    EXPECT_VALUE(mi.GetVariables("s"), Variant(2.0));
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(1, std::numeric_limits<double>::infinity()); }),
              ErrorOf([&] { mi.SetVariables("r", Variant(std::numeric_limits<double>::infinity())); }));
    mi.ClearSymbols();
    EXPECT_EQ(ErrorOf([&] { mi.SetVariablesByHandle(0, 1.0); }), "List index out of bounds (0)");
}

// ---- the host's variables and functions in the compiled form

// The random expressions again, where a is the host's double, c the host's
// integer, d a constant, and some functions are the host's: over numbers
// (one pure, one that may throw) and over an integer giving a Boolean.
TEST_P(CompiledForms, HostBindingsAnswerAsTheTree) {
    const std::uint32_t seed = Seed() + 1;
    const int cases = std::max(1, Cases() / 4);
    Generator gen(seed);
    TMathInterpreter mi;
    InterpreterAccess::SetMachineCode(mi, GetParam());
    double a = 1.5;
    std::int32_t c = 3;
    mi.BindVariable("a", &a);
    mi.BindVariable("c", &c);
    mi.DefineConstant("d", Variant(0.5));
    mi.Execute("b = -2.25; e = true");
    mi.DefineFunction("hsq", [](double x) { return x * x; }, {.pure = true});
    mi.DefineFunction("habs", [](double x) {
        if (x > 1e300) throw std::runtime_error("too large");
        return std::fabs(x);
    });
    mi.DefineFunction("hpos", [](std::int32_t n) { return n > 0; });
    mi.DefineFunction("hclamp", [](double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; },
                      {.pure = true});
    const std::pair<const char*, const char*> kHost[] = {
        {"Sqr(", "hsq("}, {"Abs(", "habs("}, {"Round(", "hpos("}, {"IfF(", "hclamp("}};
    static const std::int32_t kIntegers[] = {0, 1, -7, 46341, 2147483647, -2147483647 - 1};
    int compiled = 0, failures = 0;
    for (int i = 0; i < cases && failures < 10; ++i) {
        std::string text = gen.Expression(1 + gen.Pick(4));
        for (const auto& [from, to] : kHost)
            for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
                text.replace(at, std::strlen(from), to);
        int handle = -1;
        if (ErrorOf([&] { handle = mi.PrepareExpression(text); }) != "<no exception>") continue;
        compiled += mi.IsCompiledPreparedExpression(handle);
        auto* tree = static_cast<TMValue*>(mi.PreparedExpressions()[handle]);
        for (int round = 0; round < 4; ++round) {
            a = gen.Pick(8) ? gen.Real().AsReal() : std::numeric_limits<double>::infinity();
            c = kIntegers[gen.Pick(std::size(kIntegers))];
            for (const char* name : {"b", "e"}) mi.SetVariables(name, gen.Pick(3) ? gen.Real() : gen.Value());
            const std::string fast = Outcome([&] { return mi.ExecutePreparedExpression(handle); });
            const std::string slow = Outcome([&] { return tree->GetValue(); });
            const std::string once = Outcome([&] { return mi.ExecuteExpression(text); });
            if (fast != slow || once != slow) {
                ++failures;
                ADD_FAILURE() << text << "\n compiled: " << fast << "\n tree:     " << slow << "\n once:     " << once
                              << "\n a=" << a << " b=" << Show(mi.GetVariables("b")) << " c=" << c
                              << " e=" << Show(mi.GetVariables("e"));
            }
        }
        mi.FreePreparedExpression(handle);
    }
    std::cout << compiled << " of " << cases << " expressions over host bindings compiled\n";
    EXPECT_GT(compiled, cases / 8);
}

// Whatever changes what a compiled form reads of the host (a binding, a
// constant, a host function) is followed at the next run.
TEST(CompiledForm, FollowsHostChanges) {
    TMathInterpreter mi;
    double x = 2, y = 10;
    mi.BindVariable("x", &x);
    mi.DefineFunction("f", [](double v) { return v + 1; });
    const int h = mi.PrepareExpression("f(x) * 2");
    ASSERT_TRUE(mi.IsCompiledPreparedExpression(h));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6.0));
    mi.BindVariable("x", &y);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(22.0));
    mi.DefineFunction("f", [](double v) { return v - 1; });
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(18.0));
    mi.UndefineFunction("f");
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }),
              "TMFunctionCall.GetValue() Undefined function reference: \"f\", position: 1.");
    mi.DefineFunction("f", [](std::int32_t v) { return v * 3; });  // no compiled call: an Integer result
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(60));
    mi.DefineConstant("x", Variant(1.5));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(12));
    mi.Execute("delete x");
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }),
              "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 3.");
    EXPECT_EQ(y, 10.0);
}

// Once a compiled form has run, later runs take the inline way, which makes
// no checks: whatever would need one must make them go into the library.
TEST(CompiledForm, InlineRunsLeaveNothingUnseen) {
    TMathInterpreter mi;
    mi.Execute("a = 1.5; b = 2.5");
    bool stopping = false;
    mi.DefineFunction("stop", [&](double v) {
        if (stopping) mi.Interrupt();
        return v;
    });
    const int h = mi.PrepareExpression("a * b + 1");
    const int s = mi.PrepareExpression("stop(a) + b");
    // Called from a compiled form, a host function runs other prepared
    // expressions of the same interpreter, inline too, with registers of its own.
    mi.DefineFunction("inner", [&](double v) { return v + VarToReal(mi.ExecutePreparedExpression(h)); });
    const int n = mi.PrepareExpression("inner(a) * 2 + inner(b)");
    for (const int handle : {h, s, n}) ASSERT_TRUE(mi.IsCompiledPreparedExpression(handle));
    for (int i = 0; i < 3; ++i) {
        EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(4.75));
        EXPECT_VALUE(mi.ExecutePreparedExpression(s), Variant(4.0));
        EXPECT_VALUE(mi.ExecutePreparedExpression(n), Variant(19.75));
    }
    auto reason = [&](int handle) {
        try {
            mi.ExecutePreparedExpression(handle);
        } catch (const EInterrupted& e) {
            return static_cast<int>(e.Reason());
        }
        return -1;
    };
    // A request made while nothing runs stops the next run only.
    mi.Interrupt();
    EXPECT_EQ(reason(h), EInterrupted::Request);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(4.75));
    // One made during an inline run is left to the next call.
    stopping = true;
    EXPECT_VALUE(mi.ExecutePreparedExpression(s), Variant(4.0));
    stopping = false;
    EXPECT_TRUE(mi.InterruptPending());
    EXPECT_EQ(reason(h), EInterrupted::Request);
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(4.75));
    // A budget set between runs is kept by the next one.
    mi.SetEvaluationStepLimit(1);
    EXPECT_EQ(reason(n), EInterrupted::StepLimit);
    mi.SetEvaluationStepLimit(0);
    EXPECT_VALUE(mi.ExecutePreparedExpression(n), Variant(19.75));
    // Writes by name and changes to the table are seen at once.
    mi.SetVariables("a", Variant(2.0));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6.0));
    mi.SetVariables("a", Variant(std::string("x")));
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }), ErrorOf([&] { mi.ExecuteExpression("a * b + 1"); }));
    mi.SetVariables("a", Variant(2.0));
    EXPECT_VALUE(mi.ExecutePreparedExpression(s), Variant(4.5));
    mi.Execute("delete b");
    auto* tree = static_cast<TMValue*>(mi.PreparedExpressions()[s]);
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(s); }), ErrorOf([&] { tree->GetValue(); }));
    mi.Execute("b = 2.5");
    // Freed and cleared handles answer as invalid, never with an old form.
    const std::string invalid = "TMathInterpreter.ExecutePreparedExpression() Invalid prepared expression handle.";
    mi.FreePreparedExpression(h);
    EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(h); }), invalid);
    mi.ClearPreparedExpressions();
    for (const int handle : {h, s, n}) EXPECT_EQ(ErrorOf([&] { mi.ExecutePreparedExpression(handle); }), invalid);
    const int again = mi.PrepareExpression("b - a");
    EXPECT_VALUE(mi.ExecutePreparedExpression(again), Variant(0.5));
    EXPECT_VALUE(mi.ExecutePreparedExpression(again), Variant(0.5));
}

// Host functions, variables bound to host memory and constants, through the
// one-shot, prepared and compiled paths and through saving and loading.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex {
namespace {

using testing::ErrorOf;
using testing::Show;

double Clamp(double x, double lo, double hi) { return x < lo ? lo : x > hi ? hi : x; }

// Every callable shape the interpreter adapts, and what a call gives.
TEST(HostFunctions, CallableShapes) {
    TMathInterpreter in;
    in.DefineFunction("clamp", &Clamp);
    in.DefineFunction("twice", [](std::int32_t n) { return 2 * n; });
    in.DefineFunction("negate", [](bool b) { return !b; });
    in.DefineFunction("shout", [](const std::string& s) { return s + "!"; });
    in.DefineFunction("kind", [](const Variant& v) { return std::string(VarKindName(v.Kind())); });
    in.DefineFunction("answer", [] { return 42.0; });
    in.DefineFunction("count", [](std::span<const Variant> args) { return static_cast<std::int32_t>(args.size()); },
                      0, 4);
    in.DefineFunction("joined", [](std::span<const Variant> args) {
        std::string s;
        for (const Variant& a : args) s += VarToText(a);
        return Variant(s);
    }, 1, 3);
    std::function<double(double)> half = [](double x) { return x / 2; };
    in.DefineFunction("half", half);
    struct Counter {
        int calls = 0;
        double operator()(double x) { return x + ++calls; }
    };
    in.DefineFunction("bump", Counter{});
    const struct {
        const char* text;
        Variant expected;
    } cases[] = {
        {"clamp(5, 0, 3)", 3.0},
        {"clamp(-1, 0, 3) + 1", 1.0},
        {"twice(21)", 42},
        {"twice(2.5)", 4},  // half to even, as the language converts
        {"negate(0)", true},
        {"shout('hey')", "hey!"},
        {"shout(12)", "12!"},
        {"kind(1 == 1)", "Boolean"},
        {"kind('a')", "String"},
        {"answer() * 2", 84.0},
        {"count()", 0},
        {"count(1, 'a', 3)", 3},
        {"joined('a', 1, true)", "a1True"},
        {"half(7)", 3.5},
        {"bump(10)", 11.0},
        {"bump(10)", 12.0},  // the callable keeps its state
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Variant v = in.ExecuteExpression(c.text);
        EXPECT_EQ(v.Kind(), c.expected.Kind()) << Show(v);
        EXPECT_TRUE(v.SameAs(c.expected)) << Show(v);
    }
    const std::vector<THostFunctionInfo> list = in.HostFunctions();
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list[0].name, "clamp");
    EXPECT_EQ(list[0].minCount, 3);
    EXPECT_EQ(list[6].name, "count");
    EXPECT_EQ(list[6].maxCount, 4);
}

// Counts, conversions, names and the callable's own failures give the
// language's errors; the table and prepared expressions stay usable.
TEST(HostFunctions, Errors) {
    TMathInterpreter in;
    in.DefineFunction("clamp", &Clamp);
    in.DefineFunction("fail", [](double x) -> double {
        if (x > 0) throw std::runtime_error("too big");
        throw 7;
    });
    in.DefineFunction("few", [](std::span<const Variant>) { return 1.0; }, 1, 2);
    in.DefineFunction("nan", [] { return 0.0 / 0.0; });
    in.DefineFunction("nothing", [] { return Variant(); });
    in.Execute("f(x) := fail(x) + 1; g(x) := f(x)");
    const int kept = in.PrepareExpression("clamp(2, 0, 1)");
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"clamp(1, 2)",
         "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 2, in function call \"clamp\", "
         "position: 1. Expected: 3 parameter(s)."},
        {"1 + CLAMP(1, 2, 3, 4)",
         "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 4, in function call \"CLAMP\", "
         "position: 5. Expected: 3 parameter(s)."},
        {"few()",
         "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 0, in function call \"few\", "
         "position: 1. Expected: 1 to 2 parameter(s)."},
        {"clamp('x', 0, 1)",
         "TMFunctionCall.GetValue() Error in function call \"clamp\", position: 1. Error message: \"Could not "
         "convert variant of type (String) into type (Double)\"."},
        {"2 * fail(1)",
         "TMFunctionCall.GetValue() Error in function call \"fail\", position: 5. Error message: \"too big\"."},
        {"fail(-1)",
         "TMFunctionCall.GetValue() Error in function call \"fail\", position: 1. Error message: \"unknown "
         "exception\"."},
        {"g(1)",
         "TMFunctionCall.GetValue() Error in function call \"fail\", position: 9. Error message: \"too big\". "
         "Most outer function: \"g\"."},
        {"nothing()",
         "TMFunctionCall.GetValue() Error in function call \"nothing\", position: 1. Error message: \"The function "
         "gave no value.\"."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ErrorOf([&] { in.ExecuteExpression(c.text); }), c.message);
    }
    EXPECT_NE(ErrorOf([&] { in.ExecuteExpression("nan()"); }).find("TMFunctionCall.GetValue"), std::string::npos);
    // A wrong count is a type error and every host error stands at its call.
    for (const auto& [text, position, typeError] :
         {std::tuple{"1 + CLAMP(1, 2, 3, 4)", 5, true}, {"2 * fail(1)", 5, false}, {"g(1)", 9, false}}) {
        SCOPED_TRACE(text);
        try {
            in.ExecuteExpression(text);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Position(), position);
            EXPECT_EQ(dynamic_cast<const ETypeError*>(&e) != nullptr, typeError);
        }
    }
    EXPECT_EQ(in.SymbolCount(), 2);
    EXPECT_TRUE(in.ExecutePreparedExpression(kept).SameAs(Variant(1.0)));
}

// Names: the table's case rule, no built-in or keyword, and a symbol of the
// table hides a host function while a host name never takes a table's.
TEST(HostFunctions, NamesAndTheTable) {
    TMathInterpreter in;
    in.DefineFunction("sq", [](double x) { return x * x; });
    EXPECT_TRUE(in.ExecuteExpression("SQ(3)").SameAs(Variant(9.0)));
    in.SetCaseSensitiveSymbols(true);
    EXPECT_EQ(ErrorOf([&] { in.ExecuteExpression("SQ(3)"); }),
              "TMFunctionCall.GetValue() Undefined function reference: \"SQ\", position: 1.");
    in.DefineFunction("SQ", [](double x) { return -x; });
    EXPECT_TRUE(in.ExecuteExpression("SQ(3) + sq(3)").SameAs(Variant(6.0)));
    in.SetCaseSensitiveSymbols(false);

    for (const char* name : {"sin", "SIN", "div", "delete", "a b", "", "1x"}) {
        SCOPED_TRACE(name);
        const std::string error = ErrorOf([&] { in.DefineFunction(name, [](double x) { return x; }); });
        EXPECT_TRUE(error.starts_with("TMathInterpreter.DefineFunction() Name: ")) << error;
    }
    in.Execute("v = 1; f(x) := x + 100");
    EXPECT_EQ(ErrorOf([&] { in.DefineFunction("F", [](double x) { return x; }); }),
              "TMathInterpreter.DefineFunction() Symbol: \"F\" already exists in the symbol table.");
    EXPECT_NE(ErrorOf([&] { in.BindVariable("sq", static_cast<double*>(nullptr)); }), "<no exception>");
    double d = 0;
    EXPECT_EQ(ErrorOf([&] { in.BindVariable("sq", &d); }),
              "TMathInterpreter.BindVariable() Name: \"sq\" is the name of a host function.");
    // A user function of a host function's name hides it, and gives it back
    // when deleted.
    in.Execute("sq(x) := x + 1");
    EXPECT_TRUE(in.ExecuteExpression("sq(3)").SameAs(Variant(4)));
    in.Execute("delete sq");
    EXPECT_TRUE(in.ExecuteExpression("sq(3)").SameAs(Variant(9.0)));

    // The unknown-symbol event answers after the host functions.
    in.SetOnUnknownSymbol([](TMathInterpreter&, const std::string& name, const Variant&, Variant& value) {
        value = Variant(name + "?");
    });
    EXPECT_TRUE(in.ExecuteExpression("sq(2)").SameAs(Variant(4.0)));
    EXPECT_TRUE(in.ExecuteExpression("other(2)").SameAs(Variant("other?")));
    // The first of the two names that now compare equal goes first.
    EXPECT_TRUE(in.UndefineFunction("SQ"));
    EXPECT_TRUE(in.ExecuteExpression("sq(2)").SameAs(Variant(-2.0)));
    EXPECT_TRUE(in.UndefineFunction("sq"));
    EXPECT_FALSE(in.UndefineFunction("sq"));
    EXPECT_TRUE(in.ExecuteExpression("sq(2)").SameAs(Variant("sq?")));
}

// A host function may evaluate on the same interpreter; it may not change the
// host functions or free what the evaluation holds.
TEST(HostFunctions, Reentrant) {
    TMathInterpreter in;
    in.Execute("base = 10");
    in.DefineFunction("inner", [&in](const std::string& text) { return in.ExecuteExpression(text); });
    in.DefineFunction("meddle", [&in](double) {
        in.UndefineFunction("inner");
        return 0.0;
    });
    in.DefineFunction("clear", [&in](double) {
        in.ClearSymbols();
        return 0.0;
    });
    EXPECT_TRUE(in.ExecuteExpression("inner('base * 2') + 1").SameAs(Variant(21)));
    EXPECT_TRUE(in.ExecuteExpression("inner('inner(''base'')')").SameAs(Variant(10)));
    const int h = in.PrepareExpression("inner('base') + 0.5");
    EXPECT_TRUE(in.ExecutePreparedExpression(h).SameAs(Variant(10.5)));
    EXPECT_FALSE(in.IsCompiledPreparedExpression(h));
    // From the compiled form too, into another prepared expression.
    in.DefineFunction("outer", [&in, h](double x) { return x * VarToReal(in.ExecutePreparedExpression(h)); });
    const int g = in.PrepareExpression("outer(2) + 1");
    EXPECT_TRUE(in.IsCompiledPreparedExpression(g));
    EXPECT_TRUE(in.ExecutePreparedExpression(g).SameAs(Variant(22.0)));
    const int m = in.PrepareExpression("meddle(1) + 1");
    for (const char* text : {"meddle(1)", "clear(1)"}) {
        SCOPED_TRACE(text);
        const std::string error = ErrorOf([&] { in.ExecuteExpression(text); });
        EXPECT_NE(error.find("while an expression is being evaluated"), std::string::npos) << error;
    }
    EXPECT_NE(ErrorOf([&] { in.ExecutePreparedExpression(m); }).find("being evaluated"), std::string::npos);
    EXPECT_EQ(in.HostFunctions().size(), 4u);
    EXPECT_TRUE(in.ExecuteExpression("base").SameAs(Variant(10)));
}

// Folded when pure and constant; called at every run otherwise.
TEST(HostFunctions, PureCallsFold) {
    TMathInterpreter in;
    int pureCalls = 0, plainCalls = 0;
    in.DefineFunction("p", [&](double x) { ++pureCalls; return x + 1; }, {.pure = true});
    in.DefineFunction("q", [&](double x) { ++plainCalls; return x + 1; });
    EXPECT_TRUE(in.HostFunctions()[0].pure);
    in.Execute("x = 1.5");
    const int hp = in.PrepareExpression("p(2) * x");
    const int hq = in.PrepareExpression("q(2) * x");
    pureCalls = plainCalls = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(in.ExecutePreparedExpression(hp).SameAs(Variant(4.5)));
        EXPECT_TRUE(in.ExecutePreparedExpression(hq).SameAs(Variant(4.5)));
    }
    EXPECT_EQ(pureCalls, 0);
    EXPECT_EQ(plainCalls, 3);
    EXPECT_TRUE(in.IsCompiledPreparedExpression(hp));
    EXPECT_TRUE(in.IsCompiledPreparedExpression(hq));
}

// A bound variable written on one side is read on the other, whichever path
// evaluates.
TEST(BoundVariables, BothSidesEveryPath) {
    TMathInterpreter in;
    double a = 2;
    std::int32_t n = 3;
    in.BindVariable("a", &a);
    in.BindVariable("N", &n);
    const int sum = in.PrepareExpression("a * 2 + n");
    const int text = in.PrepareExpression("a + n * length('')");  // not compiled
    const int assign = in.PrepareExpression("a = a + 1");
    EXPECT_TRUE(in.IsCompiledPreparedExpression(sum));
    EXPECT_FALSE(in.IsCompiledPreparedExpression(text));
    for (double value : {2.0, -0.5, 1e300}) {
        a = value;
        n = 7;
        SCOPED_TRACE(value);
        EXPECT_TRUE(in.ExecuteExpression("a * 2 + n").SameAs(Variant(value * 2 + 7)));
        EXPECT_TRUE(in.ExecutePreparedExpression(sum).SameAs(Variant(value * 2 + 7)));
        EXPECT_TRUE(in.GetVariables("a").SameAs(Variant(value)));
    }
    a = 0.25;
    EXPECT_TRUE(in.ExecutePreparedExpression(text).SameAs(Variant(0.25)));
    in.ExecutePreparedExpression(assign);
    EXPECT_EQ(a, 1.25);
    in.ExecuteExpression("n = 2.5 * 3");  // 7.5, half to even
    EXPECT_EQ(n, 8);
    in.SetVariables("n", Variant(-4));
    EXPECT_EQ(n, -4);
    in.SetVariablesByHandle(in.GetVariableHandles("a"), 9.0);
    EXPECT_EQ(a, 9.0);
    in.SetVariablesByHandle(in.GetVariableHandles("n"), 5);
    EXPECT_EQ(n, 5);
    EXPECT_TRUE(in.GetVariablesByHandle(in.GetVariableHandles("N")).SameAs(Variant(5)));
    EXPECT_EQ(in.DumpSymbol("a", 0), "a=9");
    // A function body reads the host's value too.
    in.Execute("f(k) := a * k");
    a = 3;
    EXPECT_TRUE(in.ExecuteExpression("f(2)").SameAs(Variant(6.0)));
}

// A value that does not convert is an error and nothing is written; a host
// value the language refuses is an error where it is read.
TEST(BoundVariables, Conversions) {
    TMathInterpreter in;
    double a = 1;
    std::int32_t n = 1;
    in.BindVariable("a", &a);
    in.BindVariable("n", &n);
    const int h = in.PrepareExpression("a * 2");
    const std::string prefix = "TMAssignValue.GetValue() Error on position: 3, while trying to assign a value to "
                               "position: 1. Error message: ";
    const struct {
        const char* text;
        std::string message;
    } cases[] = {
        {"a = 'x'", prefix + "\"Could not convert variant of type (String) into type (Double)\"."},
        {"a = (1 == 1)", prefix + "\"Could not convert variant of type (Boolean) into type (Double)\"."},
        {"n = 3e10", prefix + "\"Overflow while converting variant of type (Double) into type (Integer)\"."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ErrorOf([&] { in.ExecuteExpression(c.text); }), c.message);
        EXPECT_EQ(a, 1.0);
        EXPECT_EQ(n, 1);
    }
    in.ExecuteExpression("a = '2.5'");  // a text that reads as a number converts
    EXPECT_EQ(a, 2.5);
    a = 0.0 / 0.0;
    for (auto run : {+[](TMathInterpreter& i, int p) { i.ExecutePreparedExpression(p); },
                     +[](TMathInterpreter& i, int) { i.ExecuteExpression("a + 1"); }})
        EXPECT_EQ(ErrorOf([&] { run(in, h); }), "TMVar.GetValue() Value for \"a\" is NaN, which is no value of the language.");
    a = 4;
    EXPECT_TRUE(in.ExecutePreparedExpression(h).SameAs(Variant(8.0)));
}

// Binding an existing variable keeps the prepared trees bound to it; delete
// and clear end the binding and leave the host's memory as it was.
TEST(BoundVariables, RebindDeleteAndClear) {
    TMathInterpreter in;
    const std::size_t empty = in.MemoryInUse();
    in.Execute("x = '" + std::string(1000, 't') + "'; y = 2");
    const int h = in.PrepareExpression("x * y");
    const std::size_t holding = in.MemoryInUse();
    double x = 5;
    in.BindVariable("x", &x);
    EXPECT_LE(in.MemoryInUse() + 1000, holding);  // the text it held is let go
    EXPECT_GE(in.MemoryInUse(), empty);
    EXPECT_TRUE(in.ExecutePreparedExpression(h).SameAs(Variant(10.0)));
    double other = 7;
    in.BindVariable("x", &other);
    EXPECT_TRUE(in.ExecutePreparedExpression(h).SameAs(Variant(14.0)));
    in.Execute("delete x");
    EXPECT_EQ(other, 7.0);
    EXPECT_NE(ErrorOf([&] { in.ExecutePreparedExpression(h); }), "<no exception>");
    in.Execute("x = 1");
    EXPECT_EQ(other, 7.0);
    in.BindVariable("x", &x);
    in.ClearSymbols();
    EXPECT_EQ(x, 5.0);
    EXPECT_EQ(in.SymbolCount(), 0);
    in.Execute("x = 3");
    EXPECT_EQ(x, 5.0);
    in.Execute("g(k) := k");
    EXPECT_EQ(ErrorOf([&] { in.BindVariable("g", &x); }),
              "TMathInterpreter.BindVariable() Symbol: \"g\" has type: \"TMFunction\", but a variable is required.");
}

TEST(Constants, AssignmentFailsPreparedFolds) {
    TMathInterpreter in;
    in.DefineConstant("g", Variant(9.81));
    in.DefineConstant("greeting", Variant("hello"));
    EXPECT_TRUE(in.ExecuteExpression("g * 2").SameAs(Variant(19.62)));
    EXPECT_TRUE(in.ExecuteExpression("greeting + '!'").SameAs(Variant("hello!")));
    for (const char* text : {"g = 1", "greeting = 'x'"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(ErrorOf([&] { in.ExecuteExpression(text); }).find("is a constant"), std::string::npos);
    }
    EXPECT_NE(ErrorOf([&] { in.SetVariables("g", Variant(1.0)); }).find("is a constant"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { in.SetVariablesByHandle(in.GetVariableHandles("g"), 1.0); }).find("is a constant"),
              std::string::npos);
    double t = 2;
    in.BindVariable("t", &t);
    const int h = in.PrepareExpression("g * t");
    EXPECT_TRUE(in.IsCompiledPreparedExpression(h));
    EXPECT_TRUE(in.ExecutePreparedExpression(h).SameAs(Variant(19.62)));
    EXPECT_TRUE(in.ExecuteExpression("g").SameAs(Variant(9.81)));
}

// A saved table holds the bound variables' values and the calls of host
// functions, and no constant; loading writes into the bound variables.
TEST(SaveAndLoad, HostBindings) {
    double a = 1.5;
    std::int32_t n = 4;
    TMathInterpreter in;
    in.BindVariable("a", &a);
    in.BindVariable("n", &n);
    in.DefineConstant("k", Variant(2.0));
    in.DefineFunction("clamp", &Clamp);
    in.Execute("f(x) := clamp(x * k, 0, a); v = 3");
    std::stringstream saved;
    in.SaveSymbolsToStream(saved);
    EXPECT_EQ(saved.str(), "a=1.5;\r\nn=4;\r\nf(x):=clamp(x*k,0,a);\r\nv=3");

    a = 0;
    n = 0;
    saved.seekg(0);
    in.LoadSymbolsFromStream(saved);
    EXPECT_EQ(a, 1.5);
    EXPECT_EQ(n, 4);
    EXPECT_TRUE(in.ExecuteExpression("f(0.5)").SameAs(Variant(1.0)));
    EXPECT_TRUE(in.ExecuteExpression("k").SameAs(Variant(2.0)));
    a = 0.25;
    EXPECT_TRUE(in.ExecuteExpression("f(0.5)").SameAs(Variant(0.25)));

    // Where the host function and the constant do not exist the table loads
    // whole; the call fails clearly.
    TMathInterpreter plain;
    saved.clear();
    saved.seekg(0);
    plain.LoadSymbolsFromStream(saved);
    EXPECT_EQ(plain.SymbolCount(), 4);
    EXPECT_TRUE(plain.ExecuteExpression("a + n + v").SameAs(Variant(8.5)));
    plain.Execute("k = 2");
    const std::string error = ErrorOf([&] { plain.ExecuteExpression("f(1)"); });
    EXPECT_TRUE(error.starts_with("TMFunctionCall.GetValue() Undefined function reference: \"clamp\", position: "));
    EXPECT_TRUE(error.ends_with(" Most outer function: \"f\".")) << error;
    // Defined afterwards, the host function answers the loaded table's call.
    plain.DefineFunction("clamp", &Clamp);
    EXPECT_TRUE(plain.ExecuteExpression("f(1)").SameAs(Variant(1.5)));
}

}  // namespace
}  // namespace zorvex

// User functions and calls, recursion and its limits, assignments, and the
// delete statement.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;
using zorvex::testing::Show;

namespace {





bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), std::string::npos, tail) == 0;
}

int Count(const std::string& s, const std::string& part) {
    int n = 0;
    for (std::size_t p = s.find(part); p != std::string::npos; p = s.find(part, p + 1)) ++n;
    return n;
}

TMFunction* Function(TMathInterpreter& mi, const std::string& name) {
    return dynamic_cast<TMFunction*>(mi.Symbols().FindSymbol(name));
}

const std::string kNest = "TMFunction.GetValue() Function nesting level too deep (function: ";

}  // namespace

// ---------------------------------------------------------------- calls

TEST(Calls, ArgumentCountMustMatch) {
    TMathInterpreter mi;
    EXPECT_VALUE(mi.ExecuteExpression("f(x) := x*2"), Variant::Null());
    EXPECT_VALUE(mi.ExecuteExpression("f(3)"), Variant(6));
    EXPECT_VALUE(mi.ExecuteExpression("f((1)+2) + f(f(1))"), Variant(10));
    EXPECT_ERROR(mi.ExecuteExpression("f(3, 4)"),
                 "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 2, in function call \"f\", "
                 "position: 1. Expected: 1 parameter(s).");
    EXPECT_ERROR(mi.ExecuteExpression("1 + f()"),
                 "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 0, in function call \"f\", "
                 "position: 5. Expected: 1 parameter(s).");
    mi.ExecuteExpression("g := 5");
    EXPECT_ERROR(mi.ExecuteExpression("g(1)"),
                 "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 1, in function call \"g\", "
                 "position: 1. Expected: 0 parameter(s).");
    // An unclosed parameter list is completed at the end of the text.
    EXPECT_VALUE(mi.ExecuteExpression("f(2"), Variant(4));
}

TEST(Calls, ArgumentsInSourceOrderAndShadowing) {
    TMathInterpreter mi;
    mi.Execute("x = 100; y = 1; d(a, b) := a - b; s(x) := x + y");
    EXPECT_VALUE(mi.ExecuteExpression("d(10, 3)"), Variant(7));
    EXPECT_VALUE(mi.ExecuteExpression("d(1, (2))"), Variant(-1));
    EXPECT_VALUE(mi.ExecuteExpression("s(2)"), Variant(3));   // the parameter shadows x
    EXPECT_VALUE(mi.ExecuteExpression("s(x)"), Variant(101));  // the argument reads the variable
    EXPECT_VALUE(mi.ExecuteExpression("x"), Variant(100));
    mi.ExecuteExpression("y = 2");
    EXPECT_VALUE(mi.ExecuteExpression("s(2)"), Variant(4));
}

TEST(Calls, UndefinedFunctionsGoToTheHandler) {
    TMathInterpreter mi;
    EXPECT_ERROR(mi.ExecuteExpression("h(1, 2)"),
                 "TMFunctionCall.GetValue() Undefined function reference: \"h\", position: 1.");
    Variant received;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        EXPECT_EQ(name, "h");
        EXPECT_TRUE(value.IsEmpty());
        received = params;
        if (params.IsArray() && params.ArraySize() == 2) value = Variant("answer");
    });
    EXPECT_VALUE(mi.ExecuteExpression("h(1, 1 + 1)"), Variant("answer"));
    ASSERT_TRUE(received.IsArray());
    ASSERT_EQ(received.ArraySize(), 2u);
    EXPECT_VALUE(received.ArrayGet(0), Variant(1));
    EXPECT_VALUE(received.ArrayGet(1), Variant(2));
    EXPECT_ERROR(mi.ExecuteExpression("2 * h()"),
                 "TMFunctionCall.GetValue() Undefined function reference: \"h\", position: 5.");
    ASSERT_TRUE(received.IsArray());
    EXPECT_EQ(received.ArraySize(), 0u);
    EXPECT_EQ(mi.SymbolCount(), 0);
}

TEST(Calls, CallOfAVariable) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.ExecuteExpression("x(2)"), "Invalid class typecast");
    EXPECT_VALUE(mi.ExecuteExpression("x"), Variant(1));
}

TEST(Calls, DumpsOfFunctionsAndCalls) {
    TMathInterpreter mi;
    mi.ExecuteExpression("f(x, y) := x - y");
    EXPECT_EQ(mi.DumpSymbol("f", 0), "f(x,y):=x-y");
    EXPECT_EQ(mi.DumpSymbol("f", dfDetailed),
              "TMFunction[\"f\"](TMParam[\"x\"],TMParam[\"y\"]){TMMinus(TMVarRef<\"x\">,TMVarRef<\"y\">)}");
    mi.ExecuteExpression("g := f(1, x + 1) * (2 + 3)");
    EXPECT_EQ(mi.DumpSymbol("g", 0), "g():=f(1,x+1)*(2+3)");
    EXPECT_EQ(mi.DumpSymbol("g", dfDetailed),
              "TMFunction[\"g\"](){TMMultiply(TMFunctionCall<\"f\">(TMParamExpression{TMLiteral(1)},"
              "TMParamExpression{TMPlus(TMVarRef<\"x\">,TMLiteral(1))}),TMPlus(TMLiteral(2),TMLiteral(3)))}");

    // The plain dump re-executes to the same definitions.
    TMathInterpreter other;
    other.ExecuteExpression(mi.DumpSymbol("f", 0));
    other.ExecuteExpression(mi.DumpSymbol("g", 0));
    other.ExecuteExpression("x = 4");
    mi.ExecuteExpression("x = 4");
    EXPECT_VALUE(other.ExecuteExpression("f(5, 3)"), Variant(2));
    EXPECT_VALUE(other.ExecuteExpression("g"), mi.ExecuteExpression("g"));
    EXPECT_EQ(other.DumpSymbol("f", 0), "f(x,y):=x-y");
    EXPECT_EQ(other.DumpSymbol("g", 0), "g():=f(1,x+1)*(2+3)");
}

TEST(Calls, ParametersAreRestoredAfterEveryCall) {
    TMathInterpreter mi;
    mi.Execute("f(x) := x * 2; z(x) := x / 0; u(x) := x + nosuch");
    TMParam* fx = static_cast<TMParam*>(Function(mi, "f")->Parameters()[0]);
    EXPECT_TRUE(fx->GetValue().IsEmpty());
    EXPECT_VALUE(mi.ExecuteExpression("f(3)"), Variant(6));
    EXPECT_TRUE(fx->GetValue().IsEmpty());
    fx->SetValue(Variant(42));
    EXPECT_VALUE(mi.ExecuteExpression("f(f(2))"), Variant(8));
    EXPECT_VALUE(fx->GetValue(), Variant(42));

    TMParam* zx = static_cast<TMParam*>(Function(mi, "z")->Parameters()[0]);
    EXPECT_THROW(mi.ExecuteExpression("z(5)"), Exception);
    EXPECT_TRUE(zx->GetValue().IsEmpty());
    TMParam* ux = static_cast<TMParam*>(Function(mi, "u")->Parameters()[0]);
    EXPECT_ERROR(mi.ExecuteExpression("u(5)"),
                 "TMVarRef.GetValue() Referenced symbol: \"nosuch\" is not defied, position: 14. Most outer function: "
                 "\"u\".");
    EXPECT_TRUE(ux->GetValue().IsEmpty());
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
}

TEST(Calls, RecursiveCallBindsParametersInOrder) {
    // Inside g(a, b) the call g(b, a) gives a the value of b and then b the
    // new value of a.
    TMathInterpreter mi;
    std::vector<std::pair<int, int>> seen;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        if (name != "c") return;
        seen.emplace_back(VarToInt(params.ArrayGet(0)), VarToInt(params.ArrayGet(1)));
        value = Variant(0);
    });
    mi.ExecuteExpression("g(a, b) := c(a, b) + g(b, a)");
    mi.SetMaxFunctionNesting(3);
    EXPECT_ERROR(mi.ExecuteExpression("g(1, 2)"),
                 kNest + "\"g\", position: 1). Most outer function: \"g\".");
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}, {2, 2}}));
    TMFunction* g = Function(mi, "g");
    EXPECT_TRUE(g->Parameters()[0] != nullptr);
    EXPECT_TRUE(static_cast<TMParam*>(g->Parameters()[0])->GetValue().IsEmpty());
    EXPECT_TRUE(static_cast<TMParam*>(g->Parameters()[1])->GetValue().IsEmpty());
}

// ---------------------------------------------------------------- nesting limit

TEST(Nesting, LimitMessagesNameTheOutermostFunctionOnce) {
    TMathInterpreter mi;
    mi.Execute("b := 2; a := b + 1");
    EXPECT_VALUE(mi.ExecuteExpression("a"), Variant(3));
    mi.SetMaxFunctionNesting(1);
    EXPECT_ERROR(mi.ExecuteExpression("a"), kNest + "\"b\", position: 1). Most outer function: \"a\".");
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    mi.SetMaxFunctionNesting(0);
    EXPECT_ERROR(mi.ExecuteExpression("b"), kNest + "\"b\", position: 1). Most outer function: \"b\".");
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
}

TEST(Nesting, EndlessRecursionStopsAtTheDefaultLimit) {
    TMathInterpreter mi;
    int deepest = -1, calls = 0;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        if (name != "c") return;
        ++calls;
        deepest = std::max(deepest, VarToInt(params.ArrayGet(0)));
        value = Variant(0);
    });
    mi.ExecuteExpression("g(n) := c(n) + g(n+1)");
    const std::string message = ErrorOf([&] { mi.ExecuteExpression("g(0)"); });
    EXPECT_EQ(message, kNest + "\"g\", position: 1). Most outer function: \"g\".");
    EXPECT_EQ(Count(message, "Most outer function"), 1);
    EXPECT_EQ(calls, 1000);  // 1000 evaluations of g were active
    EXPECT_EQ(deepest, 999);
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    EXPECT_TRUE(static_cast<TMParam*>(Function(mi, "g")->Parameters()[0])->GetValue().IsEmpty());

    // The plain recursion of the definition binds the inner h to itself.
    mi.ExecuteExpression("h(n) := n * h(n - 1)");
    EXPECT_ERROR(mi.ExecuteExpression("h(3)"), kNest + "\"h\", position: 1). Most outer function: \"h\".");
    EXPECT_EQ(mi.DumpSymbol("h", 0), "h(n):=n*h(n-1)");
}

TEST(Nesting, HugeLimitRaisesInsteadOfCrashing) {
    TMathInterpreter mi;
    mi.SetMaxFunctionNesting(100000000u);
    mi.Execute("x = 5; g(n) := g(n+1); k := k + 1; m(a, b) := m(b, a) + 1");
    for (const char* text : {"g(1)", "k", "1 + m(1, 2)"}) {
        SCOPED_TRACE(text);
        const std::string message = ErrorOf([&] { mi.ExecuteExpression(text); });
        EXPECT_NE(message, "<no exception>");
        EXPECT_TRUE(EndsWith(message, "\".")) << message;
        EXPECT_EQ(Count(message, "Most outer function"), 1) << message;
        EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    }
    EXPECT_TRUE(static_cast<TMParam*>(Function(mi, "g")->Parameters()[0])->GetValue().IsEmpty());
    EXPECT_TRUE(static_cast<TMParam*>(Function(mi, "m")->Parameters()[1])->GetValue().IsEmpty());
    // The interpreter goes on working.
    EXPECT_VALUE(mi.ExecuteExpression("x * 2"), Variant(10));
    mi.ExecuteExpression("f(a) := a + x");
    EXPECT_VALUE(mi.ExecuteExpression("f(1)"), Variant(6));
    // Also through a prepared expression.
    const int h = mi.PrepareExpression("g(0)");
    EXPECT_THROW(mi.ExecutePreparedExpression(h), Exception);
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    EXPECT_VALUE(mi.ExecuteExpression("f(2)"), Variant(7));
}

TEST(Nesting, HandlerRecursionRaisesInsteadOfCrashing) {
    // A host handler that evaluates the name it was asked about recurses
    // without any user function.
    TMathInterpreter mi;
    int depth = 0;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string& name, const Variant&, Variant& value) {
        if (name != "loop") return;
        ++depth;
        value = sender.ExecuteExpression("loop + 1");
    });
    EXPECT_THROW(mi.ExecuteExpression("loop"), Exception);
    EXPECT_GT(depth, 10);
    mi.SetOnUnknownSymbol(nullptr);
    EXPECT_VALUE(mi.ExecuteExpression("1 + 1"), Variant(2));
}

TEST(Nesting, ConditionalRecursion) {
    TMathInterpreter mi;
    mi.ExecuteExpression("h(n) := IfF(n < 1, 1, n * h(n - 1))");
    const std::string probe = ErrorOf([&] { mi.ExecuteExpression("IfF(true, 1, 2)"); });
    if (probe.find("Not available yet") != std::string::npos) GTEST_SKIP() << probe;
    EXPECT_VALUE(mi.ExecuteExpression("h(5)"), Variant(120));
    EXPECT_VALUE(mi.ExecuteExpression("h(0)"), Variant(1));
    mi.SetMaxFunctionNesting(5);
    EXPECT_VALUE(mi.ExecuteExpression("h(4)"), Variant(24));
    EXPECT_ERROR(mi.ExecuteExpression("h(5)"), kNest + "\"h\", position: 1). Most outer function: \"h\".");
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
}

// ---------------------------------------------------------------- value assignment

TEST(Assignment, CreatesAndUpdatesVariables) {
    TMathInterpreter mi;
    EXPECT_VALUE(mi.ExecuteExpression("x = 5"), Variant(5));
    EXPECT_EQ(mi.SymbolCount(), 1);
    EXPECT_VALUE(mi.ExecuteExpression("x = x + 1"), Variant(6));
    EXPECT_VALUE(mi.GetVariables("x"), Variant(6));
    EXPECT_VALUE(mi.ExecuteExpression("a = b = 2"), Variant(2));
    EXPECT_VALUE(mi.GetVariables("a"), Variant(2));
    EXPECT_VALUE(mi.GetVariables("b"), Variant(2));
    EXPECT_EQ(mi.Dump(",", 0), "x=6,b=2,a=2");
    EXPECT_VALUE(mi.ExecuteExpression("s = 'q' + 'r'"), Variant("qr"));
    // A body that names a variable created later sees it.
    mi.ExecuteExpression("f := later * 2");
    mi.ExecuteExpression("later = 21");
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(42));
}

TEST(Assignment, LeftSideErrors) {
    TMathInterpreter mi;
    EXPECT_ERROR(mi.ExecuteExpression("1 = 2"),
                 "TMAssignValue.PullOperands() Left operand (position: 1) of value assignment (postiton: 3) must be "
                 "variable reference, not \"TMLiteral\".");
    EXPECT_ERROR(mi.ExecuteExpression("(a + 1) = 2"),
                 "TMAssignValue.PullOperands() Left operand (position: 4) of value assignment (postiton: 9) must be "
                 "variable reference, not \"TMPlus\".");
    mi.ExecuteExpression("g := 5");
    EXPECT_ERROR(mi.ExecuteExpression("g = 3"),
                 "TMAssignValue.PullOperands() Left operand (position: 1) of value assignment (position: 3) must "
                 "reference to variable, not to\"TMFunction\".");
    mi.ExecuteExpression("f(x) := x");
    EXPECT_ERROR(mi.ExecuteExpression("f = 3"),
                 "TMVarRef.Rewire() Reference: \"f\" (position: 1) must point to parameterless function.");
    EXPECT_EQ(mi.SymbolCount(), 2);
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(5));
}

TEST(Assignment, HandlerCanTakeTheAssignment) {
    TMathInterpreter mi;
    Variant offered;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        if (name != "y") return;
        EXPECT_TRUE(params.IsNull());
        offered = value;
        value.Clear();
    });
    EXPECT_VALUE(mi.ExecuteExpression("y = 1"), Variant(1));
    EXPECT_VALUE(offered, Variant(1));
    EXPECT_FALSE(mi.SymbolExists("y"));
    // Other names are left to the table.
    EXPECT_VALUE(mi.ExecuteExpression("z = 2"), Variant(2));
    EXPECT_TRUE(mi.SymbolExists("z"));
}

TEST(Assignment, DetailedAndPlainDumpsOfAssignmentTrees) {
    TMathInterpreter mi;
    const int hv = mi.PrepareExpression("x = 5");
    EXPECT_EQ(mi.PreparedExpressions()[hv]->Dump(dfDetailed), "TMAssignValue(TMVarRef<\"x\">,TMLiteral(5))");
    EXPECT_EQ(mi.PreparedExpressions()[hv]->Dump(0), "x=5");
    const int hs = mi.PrepareExpression("f(x) := x");
    EXPECT_EQ(mi.PreparedExpressions()[hs]->Dump(dfDetailed),
              "TMAssignSymbolic(TMFunctionCall<\"f\">(TMParamExpression{TMVarRef<\"x\">}),Null)");
    // The definition took effect while the tree was built.
    EXPECT_TRUE(mi.SymbolExists("f"));
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_VALUE(mi.ExecutePreparedExpression(hs), Variant::Null());
}

// ---------------------------------------------------------------- symbolic definition

TEST(Definition, VariableBecomesFunctionInPlace) {
    TMathInterpreter mi;
    mi.Execute("a = 0; V = 1; z = 3; f := v * 10");
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(10));
    EXPECT_VALUE(mi.ExecuteExpression("v := 2"), Variant::Null());
    EXPECT_EQ(mi.SymbolCount(), 4);
    auto* fn = dynamic_cast<TMFunction*>(mi.Symbols()[1]);
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn->Identifier(), "V");  // keeps the variable's spelling
    EXPECT_VALUE(mi.ExecuteExpression("v"), Variant(2));
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(20));  // the body follows the replacement
    EXPECT_EQ(mi.Dump(",", 0), "a=0,V():=2,z=3,f():=v*10");
    EXPECT_ERROR(mi.GetVariableHandles("v"),
                 "TMathInterpreter.GetVariableHandles() Symbol: \"v\" has type: \"TMFunction\", but type \"TMVarRef\" is "
                 "required.");
}

TEST(Definition, RedefinitionKeepsReferencesBound) {
    TMathInterpreter mi;
    mi.Execute("f(x) := x + 1; k := f(2)");
    const int call = mi.PrepareExpression("f(2)");
    EXPECT_VALUE(mi.ExecuteExpression("k"), Variant(3));
    mi.ExecuteExpression("f(x, y) := x * y");
    EXPECT_EQ(mi.SymbolCount(), 2);
    EXPECT_ERROR(mi.ExecuteExpression("k"),
                 "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 1, in function call \"f\", "
                 "position: 7. Expected: 2 parameter(s). Most outer function: \"k\".");
    EXPECT_ERROR(mi.ExecutePreparedExpression(call),
                 "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 1, in function call \"f\", "
                 "position: 1. Expected: 2 parameter(s).");
    EXPECT_VALUE(mi.ExecuteExpression("f(2, 5)"), Variant(10));
    mi.ExecuteExpression("f(q) := q - 1");
    EXPECT_VALUE(mi.ExecuteExpression("k"), Variant(1));
    EXPECT_VALUE(mi.ExecutePreparedExpression(call), Variant(1));
}

TEST(Definition, Errors) {
    TMathInterpreter mi;
    EXPECT_ERROR(mi.ExecuteExpression("f(x, x) := x"),
                 "TMSymbol.SetIdentifier() Symbol: \"x\" (position: 6) already exists.");
    EXPECT_ERROR(mi.ExecuteExpression("f(1) := 2"),
                 "TMAssignSymbolic.PullOperands() Invalid declaration of parameter on index: 0, position: 3, for "
                 "function: \"f\" (position: 1).");
    ASSERT_NE(Function(mi, "f"), nullptr);
    EXPECT_EQ(Function(mi, "f")->Parameters().Count(), 0);
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(2));
    EXPECT_ERROR(mi.ExecuteExpression("p(a, b + 1) := a"),
                 "TMAssignSymbolic.PullOperands() Invalid declaration of parameter on index: 1, position: 8, for "
                 "function: \"p\" (position: 1).");
    EXPECT_EQ(Function(mi, "p")->Parameters().Count(), 1);
    EXPECT_ERROR(mi.ExecuteExpression("1 := 2"),
                 "TMAssignSymbolic.PullOperands() Left operand (position: 1, type = \"TMLiteral\") of symbolic "
                 "assignment (position: 4) must be symbol reference (var. ref. or function call).");
    EXPECT_ERROR(mi.ExecuteExpression("q := g := 1"),
                 "TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: 4 can not be a "
                 "symbolic assignment.");
    EXPECT_TRUE(mi.SymbolExists("g"));
    EXPECT_FALSE(mi.SymbolExists("q"));
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(1));
    // Everything defined so far still works.
    EXPECT_VALUE(mi.ExecuteExpression("f + g + p(3)"), Variant(6));
}

// ---------------------------------------------------------------- delete

TEST(Delete, RemovesSymbols) {
    TMathInterpreter mi;
    mi.Execute("x = 1; y = 2; z = 3");
    EXPECT_VALUE(mi.ExecuteExpression("delete x"), Variant::Null());
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_ERROR(mi.ExecuteExpression("x"), "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.");
    mi.Execute("x = 1; w = 4");
    mi.ExecuteExpression("delete x, y");
    EXPECT_EQ(mi.Dump(",", 0), "z=3,w=4");
    mi.Execute("x = 1; y = 2");
    mi.ExecuteExpression("delete X y");  // no comma needed; case follows the table
    EXPECT_EQ(mi.Dump(",", 0), "z=3,w=4");
    EXPECT_VALUE(mi.ExecuteExpression("delete"), Variant::Null());
    EXPECT_VALUE(mi.ExecuteExpression("  delete  "), Variant::Null());
    EXPECT_EQ(mi.SymbolCount(), 2);
}

TEST(Delete, Errors) {
    TMathInterpreter mi;
    const std::string P = "TMathInterpreter.ProcessExpressionKeywords() ";
    mi.Execute("x = 1; y = 2");
    EXPECT_ERROR(mi.ExecuteExpression("delete x,"), P + "End of expression encountered after comma on position: 9.");
    EXPECT_FALSE(mi.SymbolExists("x"));
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.ExecuteExpression("delete ,x"), P + "Reference must exist left of comma on position: 8.");
    EXPECT_TRUE(mi.SymbolExists("x"));
    EXPECT_ERROR(mi.ExecuteExpression("delete x,,y"), P + "Duplicated comma on position: 10.");
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_TRUE(mi.SymbolExists("y"));
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.ExecuteExpression("delete x, 5"), P + "Delete - invalid parameter on index: 2, position: 11.");
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_ERROR(mi.ExecuteExpression("delete nosuch"),
                 P + "Delete - parameter on index: 0, position: 8, references non-existent symbol: \"nosuch\".");
    EXPECT_ERROR(mi.ExecuteExpression("delete sin"), P + "Delete - invalid parameter on index: 0, position: 8.");
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.ExecuteExpression("delete x, x"),
                 P + "Delete - parameter on index: 2, position: 11, references non-existent symbol: \"x\".");
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_ERROR(mi.ExecuteExpression("delete f(1)"), P + "Delete - invalid parameter on index: 0, position: 8.");
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.ExecuteExpression("x + delete"), "TMathInterpreter.RPN() Invalid type \"TMDelete\" of parsed item on index 2.");
    EXPECT_TRUE(mi.SymbolExists("x"));
    EXPECT_VALUE(mi.ExecuteExpression("x + y"), Variant(3));
}

TEST(Delete, FunctionsAndTheBodiesThatUseThem) {
    TMathInterpreter mi;
    mi.Execute("f := 1; g := f + 1; h(f) := f * 2; r(n) := r(n)");
    mi.ExecuteExpression("delete f");
    EXPECT_ERROR(mi.ExecuteExpression("g"),
                 "TMVarRef.GetValue() Referenced symbol: \"f\" is not defied, position: 7. Most outer function: \"g\".");
    EXPECT_VALUE(mi.ExecuteExpression("h(4)"), Variant(8));  // its parameter was never the function
    mi.ExecuteExpression("F := 10");
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(11));
    mi.ExecuteExpression("delete g");
    mi.ExecuteExpression("delete r");  // a body that names its own function
    mi.ExecuteExpression("delete h");
    EXPECT_EQ(mi.Dump(",", 0), "F():=10");
}

TEST(Delete, WithFreedPreparedSlots) {
    TMathInterpreter mi;
    mi.Execute("x = 1; y = 2");
    const int a = mi.PrepareExpression("x + y");
    const int b = mi.PrepareExpression("y");
    mi.FreePreparedExpression(a);
    EXPECT_NO_THROW(mi.ExecuteExpression("delete x"));
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_VALUE(mi.ExecutePreparedExpression(b), Variant(2));
}

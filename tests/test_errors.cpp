// Structured errors: each kind of error has its class, the position its
// message states and the index of the expression that failed; catching by
// the older classes and by the base keeps working, and nothing is lost.
#include <cctype>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "TestSupport.h"
#include "zorvex/MathInterpreter.h"

namespace {

using namespace zorvex;

enum class Kind { Syntax, UnknownName, Type, Arithmetic, Limit, File, Other };

// The one kind an error is of; Other when it is of none or of several.
Kind KindOf(const Exception& e) {
    const bool kinds[] = {
        dynamic_cast<const ESyntaxError*>(&e) != nullptr,  dynamic_cast<const EUnknownName*>(&e) != nullptr,
        dynamic_cast<const ETypeError*>(&e) != nullptr,    dynamic_cast<const EArithmeticError*>(&e) != nullptr,
        dynamic_cast<const ELimitError*>(&e) != nullptr,   dynamic_cast<const EStreamError*>(&e) != nullptr,
    };
    int found = -1;
    for (int i = 0; i < 6; ++i)
        if (kinds[i]) {
            if (found >= 0) return Kind::Other;
            found = i;
        }
    return found < 0 ? Kind::Other : static_cast<Kind>(found);
}

// The first position a message states in any of its spellings ("Position:
// 3.", "position: 1", "on position: 10", "position :5"), or 0.
int StatedPosition(const std::string& message) {
    for (std::size_t at = 0; (at = message.find("osition", at)) != std::string::npos;) {
        at += 7;
        while (at < message.size() && (message[at] == ' ' || message[at] == ':')) ++at;
        int value = 0;
        bool digits = false;
        while (at < message.size() && std::isdigit(static_cast<unsigned char>(message[at]))) {
            value = value * 10 + (message[at++] - '0');
            digits = true;
        }
        if (digits) return value;
    }
    return 0;
}

struct Caught {
    bool thrown = false;
    const std::type_info* type = nullptr;
    Kind kind = Kind::Other;
    int position = 0, index = 0;
    std::string message;
};

template <class F>
Caught Catch(F&& f) {
    Caught c;
    try {
        f();
    } catch (const Exception& e) {
        c = {true, &typeid(e), KindOf(e), e.Position(), e.ExpressionIndex(), e.Message()};
    }
    return c;
}

class StructuredErrors : public ::testing::Test {
protected:
    void SetUp() override {
        mi.Execute("one(x) := x; n = 5; s = 'abc'; f(x) := 1/x; k := 5");
        prepared = mi.PrepareExpression("n * 2 + one(3)");
        table = mi.DumpStreamable();
    }
    // After any failure the table and the prepared expression are as they were.
    void ExpectIntact() {
        EXPECT_EQ(mi.DumpStreamable(), table);
        EXPECT_EQ(VarToStr(mi.ExecutePreparedExpression(prepared)), "13");
        EXPECT_EQ(VarToStr(mi.ExecuteExpression("n + one(2)")), "7");
    }
    TMathInterpreter mi;
    int prepared = -1;
    std::string table;
};

// Text given to Execute; the failing piece's class, position, index and message.
TEST_F(StructuredErrors, EachKindCarriesClassPositionIndexAndMessage) {
    const struct {
        const char* text;
        Kind kind;
        const std::type_info& type;
        int position, index;
        const char* message;
    } cases[] = {
        // syntax
        {"1 +", Kind::Syntax, typeid(ESyntaxError), 3, 0,
         "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 3."},
        {"1; (2", Kind::Syntax, typeid(ESyntaxError), 2, 1,
         "TMathInterpreter.RPN() Unclosed left bracket on position: 2."},
        {"1;; 2;  2 $ 3", Kind::Syntax, typeid(ESyntaxError), 5, 2,
         "TMathInterpreter.Parse() Unknown char - ASCII code: #36, on position: 5."},
        {"a :b", Kind::Syntax, typeid(ESyntaxError), 3, 0,
         "TMathInterpreter.Parse() \":=\" expected, but only \":\" found on position: 3"},
        {"x = 'abc", Kind::Syntax, typeid(ESyntaxError), 5, 0,
         "ParseString() Unclosed string starting at position: 5."},
        {"1 + rename", Kind::Syntax, typeid(ESyntaxError), 5, 0,
         "TMathInterpreter.RPN() Invalid type \"TMRename\" of parsed item on index 2."},
        {"n; 1 := 2", Kind::Syntax, typeid(ESyntaxError), 2, 1,
         "TMAssignSymbolic.PullOperands() Left operand (position: 2, type = \"TMLiteral\") of symbolic assignment "
         "(position: 5) must be symbol reference (var. ref. or function call)."},
        {"1 = 2", Kind::Syntax, typeid(ESyntaxError), 1, 0,
         "TMAssignValue.PullOperands() Left operand (position: 1) of value assignment (postiton: 3) must be "
         "variable reference, not \"TMLiteral\"."},
        {"one(1 2)", Kind::Syntax, typeid(ESyntaxError), 7, 0,
         "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: 7."},
        // unknown names
        {"n; y + 1", Kind::UnknownName, typeid(EUnknownName), 2, 1,
         "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 2."},
        {"2 * h(1)", Kind::UnknownName, typeid(EUnknownName), 5, 0,
         "TMFunctionCall.GetValue() Undefined function reference: \"h\", position: 5."},
        {"delete nosuch", Kind::UnknownName, typeid(EUnknownName), 8, 0,
         "TMathInterpreter.ProcessExpressionKeywords() Delete - parameter on index: 0, position: 8, references "
         "non-existent symbol: \"nosuch\"."},
        // types and conversions: an operation's own error stands at its operator
        {"1 + s", Kind::Type, typeid(EVariantError), 3, 0,
         "Could not convert variant of type (String) into type (Double)"},
        {"2 + Sqrt('a')", Kind::Type, typeid(EVariantError), 5, 0,
         "Could not convert variant of type (String) into type (Double)"},
        {"1 + 2 + true", Kind::Type, typeid(EVariantError), 7, 0, "Invalid variant operation"},
        {"2 ^ s", Kind::Type, typeid(EVariantError), 3, 0,
         "Could not convert variant of type (String) into type (Double)"},
        {" -s", Kind::Type, typeid(EVariantError), 2, 0,
         "Could not convert variant of type (String) into type (Double)"},
        {"not 1", Kind::Type, typeid(ETypeError), 1, 0,
         "TMNot.GetValue() NOT operator (position: 1) expects boolean operand (position: 5)."},
        {"StrToInt('x1')", Kind::Type, typeid(EConvertError), 1, 0, "'x1' is not a valid integer value"},
        {"one(1, 2)", Kind::Type, typeid(ETypeError), 1, 0,
         "TMFunctionCall.GetValue() Incorrect number of parameter expressions: 2, in function call \"one\", "
         "position: 1. Expected: 1 parameter(s)."},
        {"IfF(1, 2, 3)", Kind::Type, typeid(ETypeError), 1, 0,
         "TMIfF.GetValue() IFF function (position: 1) expectc first argument (position: 5) to be boolean."},
        {"k = 2", Kind::Type, typeid(ETypeError), 1, 0,
         "TMAssignValue.PullOperands() Left operand (position: 1) of value assignment (position: 3) must reference "
         "to variable, not to\"TMFunction\"."},
        {"1 + one", Kind::Type, typeid(ETypeError), 5, 0,
         "TMVarRef.Rewire() Reference: \"one\" (position: 5) must point to parameterless function."},
        {"FromBase('19', 8)", Kind::Type, typeid(ETypeError), 1, 0,
         "StringToInt64Base() Digit '9' is larger then allowed by base 8."},
        // arithmetic
        {"1 / 0", Kind::Arithmetic, typeid(EZeroDivide), 3, 0, "Floating point division by zero"},
        {"1; 2; 7 div 0", Kind::Arithmetic, typeid(EDivByZero), 4, 2, "Division by zero"},
        {"2 * Ln(0)", Kind::Arithmetic, typeid(EOverflow), 5, 0, "Floating point overflow"},
        {"Sqrt(-1)", Kind::Arithmetic, typeid(EInvalidOp), 1, 0, "Invalid floating point operation"},
        {"Factorial(-1)", Kind::Arithmetic, typeid(EArithmeticError), 12, 0,
         "TMFactorial.GetValue() Operand of factorial must not be negative, position: 12."},
        {"n - ConvertBase('1', 10, 99)", Kind::Arithmetic, typeid(ERangeError), 5, 0, "Range check error"},
        // an error in a user function's body: the position is in the body as defined
        {"n + f(0)", Kind::Arithmetic, typeid(EZeroDivide), 11, 0,
         "Floating point division by zero Most outer function: \"f\"."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Caught e = Catch([&] { mi.Execute(c.text); });
        ASSERT_TRUE(e.thrown);
        EXPECT_EQ(e.message, c.message);
        EXPECT_TRUE(*e.type == c.type) << e.type->name();
        EXPECT_EQ(static_cast<int>(e.kind), static_cast<int>(c.kind));
        EXPECT_EQ(e.position, c.position);
        EXPECT_EQ(e.index, c.index);
        const int stated = StatedPosition(e.message);
        if (stated != 0) {
            EXPECT_EQ(e.position, stated) << "the position the message states";
        }
        ExpectIntact();
    }
}

// The same errors one expression at a time, prepared or not: index 0. With
// an error list the failing piece's line is the message and its result Null.
TEST_F(StructuredErrors, SingleExpressionsAndErrorLists) {
    Caught e = Catch([&] { mi.ExecuteExpression("n + "); });
    EXPECT_EQ(e.position, 3);
    EXPECT_EQ(e.index, 0);
    e = Catch([&] { mi.PrepareExpression("(n"); });
    EXPECT_EQ(e.kind, Kind::Syntax);
    EXPECT_EQ(e.position, 1);
    EXPECT_EQ(e.index, 0);
    const int p = mi.PrepareExpression("n / (n - 5)");
    e = Catch([&] { mi.ExecutePreparedExpression(p); });
    EXPECT_TRUE(*e.type == typeid(EZeroDivide));
    EXPECT_EQ(e.position, 3);
    EXPECT_EQ(e.index, 0);
    // Errors of no expression.
    for (auto f : {+[](TMathInterpreter& m) { m.ExecutePreparedExpression(99); },
                   +[](TMathInterpreter& m) { m.DumpSymbol("nosuch", 0); },
                   +[](TMathInterpreter& m) { m.GetVariableHandles("one"); }}) {
        e = Catch([&] { f(mi); });
        ASSERT_TRUE(e.thrown);
        EXPECT_EQ(e.position, 0) << e.message;
        EXPECT_EQ(e.index, -1) << e.message;
    }
    TStrings errors;
    const Variant r = mi.Execute("1; 2 +; 3", &errors);
    ASSERT_EQ(errors.Count(), 1);
    EXPECT_EQ(errors[0], "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 4.");
    EXPECT_TRUE(r.ArrayGet(1).IsNull());
    ExpectIntact();
}

// The index finds the failing piece among those the splitting gives, and the
// position its place in that piece.
TEST_F(StructuredErrors, IndexAndPositionFindTheFailingText) {
    const std::string text = "r = 2;; area := Pi * (r^2; area";
    const Caught e = Catch([&] { mi.Execute(text); });
    const std::vector<std::string> pieces = TMathInterpreter::SplitExpressions(text, mi.EscapeChar());
    ASSERT_EQ(e.index, 1);
    EXPECT_EQ(pieces[1], " area := Pi * (r^2");
    EXPECT_EQ(pieces[1][static_cast<std::size_t>(e.position - 1)], '(');
}

// A failure while storing keeps the cause's class under the assignment's
// message, which states the assignment's position first.
TEST_F(StructuredErrors, AssignmentKeepsTheCauseClass) {
    mi.Execute("big = StringOfChar('a', 100000)");
    mi.SetMemoryBudget(mi.MemoryInUse() + 150000);
    mi.Execute("dup = big + 'b'");
    const Caught e = Catch([&] { mi.Execute("n; more = big"); });
    EXPECT_TRUE(*e.type == typeid(ELimitError));
    EXPECT_EQ(e.message,
              "TMAssignValue.GetValue() Error on position: 7, while trying to assign a value to position: 2. Error "
              "message: \"TMathInterpreter.MemoryBudget() Memory budget of " +
                  std::to_string(mi.MemoryBudget()) + " bytes exceeded.\".");
    EXPECT_EQ(e.index, 1);
    EXPECT_EQ(e.position, 7);
    EXPECT_EQ(VarToStr(mi.GetVariables("more")), "");
    EXPECT_EQ(mi.ExecuteExpression("Length(dup)").AsInteger(), 100001);
    EXPECT_EQ(VarToStr(mi.ExecutePreparedExpression(prepared)), "13");
}

// A host's own error from the unknown-symbol handler stands where the name does.
TEST_F(StructuredErrors, HandlerErrorsStandAtTheName) {
    mi.SetOnUnknownSymbol([](TMathInterpreter&, const std::string& name, const Variant&, Variant&) {
        throw Exception("no " + name);
    });
    const Caught e = Catch([&] { mi.ExecuteExpression("n * (1 + host)"); });
    EXPECT_EQ(e.message, "no host");
    EXPECT_EQ(e.kind, Kind::Other);
    EXPECT_EQ(e.position, 10);
    EXPECT_EQ(Catch([&] { mi.ExecuteExpression("2 + call(1)"); }).position, 5);
}

// Files and streams are the file kind; limits and stops the limit kind, with
// no position for a stop.
TEST_F(StructuredErrors, FilesLimitsAndStops) {
    Caught e = Catch([&] { mi.ExecuteFromFile("/nonexistent/dir/file.txt"); });
    EXPECT_TRUE(*e.type == typeid(EFileError));
    EXPECT_EQ(e.kind, Kind::File);
    EXPECT_EQ(e.index, -1);
    std::istringstream text("x = 1;\r\ny = (2;\r\nz = 3");
    e = Catch([&] { mi.ExecuteFromStream(text); });
    EXPECT_EQ(e.kind, Kind::Syntax);
    EXPECT_EQ(e.index, 1);
    EXPECT_EQ(e.position, 7);
    mi.SetMaxFunctionNesting(0);
    e = Catch([&] { mi.Execute("1; one(1)"); });
    EXPECT_EQ(e.kind, Kind::Limit);
    EXPECT_EQ(e.index, 1);
    EXPECT_EQ(e.position, StatedPosition(e.message)) << e.message;
    mi.SetMaxFunctionNesting(1000);
    mi.Execute("fib(k) := IfF(k < 2, k, fib(k - 1) + fib(k - 2))");
    mi.SetEvaluationStepLimit(50);
    e = Catch([&] { mi.Execute("1; 2; 1 + fib(20)"); });
    EXPECT_TRUE(*e.type == typeid(EInterrupted));
    EXPECT_EQ(e.kind, Kind::Limit);
    EXPECT_EQ(e.index, 2);
    EXPECT_EQ(e.position, 0);
}

// Catch sites written for the older classes, or for the base, still catch.
TEST(StructuredErrorClasses, OlderCatchSitesKeepWorking) {
    static_assert(std::is_base_of_v<EMathError, EZeroDivide> && std::is_base_of_v<EMathError, EOverflow> &&
                  std::is_base_of_v<EMathError, EInvalidOp> && std::is_base_of_v<EArithmeticError, EMathError> &&
                  std::is_base_of_v<EArithmeticError, EDivByZero> && std::is_base_of_v<EArithmeticError, EIntOverflow> &&
                  std::is_base_of_v<EArithmeticError, ERangeError> && std::is_base_of_v<ETypeError, EVariantError> &&
                  std::is_base_of_v<ETypeError, EConvertError> && std::is_base_of_v<ETypeError, EInvalidCast> &&
                  std::is_base_of_v<EStreamError, EFileError> && std::is_base_of_v<ELimitError, EInterrupted> &&
                  std::is_base_of_v<ELimitError, EOutOfMemory> && std::is_base_of_v<std::exception, Exception>);
    TMathInterpreter mi;
    auto caughtAs = [&]<class E>(const char* text) {
        try {
            mi.ExecuteExpression(text);
        } catch (const E& e) {
            return std::string(e.what());
        } catch (...) {
        }
        return std::string("<not caught>");
    };
    EXPECT_EQ(caughtAs.operator()<EMathError>("1/0"), "Floating point division by zero");
    EXPECT_EQ(caughtAs.operator()<EVariantError>("1 + 'a'"),
              "Could not convert variant of type (String) into type (Double)");
    EXPECT_EQ(caughtAs.operator()<std::exception>("y"),
              "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 1.");
    // Copies keep where the error stands.
    try {
        mi.ExecuteExpression("2 * (3 + y)");
    } catch (const Exception& e) {
        const Exception copy = e;
        EXPECT_EQ(copy.Position(), 10);
        EXPECT_EQ(copy.ExpressionIndex(), 0);
        EXPECT_EQ(copy.Message(), e.Message());
    }
    Exception own("mine", 4);
    EXPECT_EQ(own.Position(), 4);
    EXPECT_EQ(own.ExpressionIndex(), -1);
    own.Locate(9);
    EXPECT_EQ(own.Position(), 4);
}

}  // namespace

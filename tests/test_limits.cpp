// Hostile and unlucky input: saved tables load back, no assertion is
// reachable, small thread stacks end in errors, memory and text limits hold.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "zorvex/ConvertNumberBase.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;

namespace {

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// Saves, loads into a fresh interpreter and compares the tables.
void ExpectReloads(TMathInterpreter& mi, const std::string& script) {
    std::stringstream saved;
    mi.SaveSymbolsToStream(saved);
    TMathInterpreter fresh;
    std::stringstream in(saved.str());
    ASSERT_EQ(ErrorOf([&] { fresh.LoadSymbolsFromStream(in); }), "<no exception>") << script;
    EXPECT_EQ(fresh.Dump(";", dfDetailed), mi.Dump(";", dfDetailed)) << script;
}

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs `body` on a thread with the given stack size.
void OnThread(std::size_t stackSize, const std::function<void()>& body) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    auto* f = new std::function<void()>(body);
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* fn = static_cast<std::function<void()>*>(p);
                      (*fn)();
                      delete fn;
                      return nullptr;
                  },
                  f),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace

// ---------------------------------------------------------------- saving

TEST(SavedTables, EveryAcceptedTableLoadsBackInOrder) {
    const char* scripts[] = {
        "a = 5; f(v) := y = v",                               // assignment in a body
        "f := 10; h := f; f(x) := x + 5; important = 42",     // reference outgrew its target
        "f(x) := 1; g := f; k = 2",                           // defined with a misfit
        "h := f; f(x) := x; t = 1",                           // bound before the target took parameters
        "v = 1; h := v; v(x) := x",                           // variable became a function
        "g(a) := (b = a) + 1; c := 1 + (d = 2) * 3; e := x = y = 3",
        "k := -(-3); m := - -x; n := 2 - -3",
        "f(f) := f + 1; g(a, f) := f(a)",                     // parameters named like functions
        "s = 'it''s;'; t = \"\"; n = 2147483648; r = 0.1",
    };
    for (const char* script : scripts) {
        TMathInterpreter mi;
        TStrings errors;
        mi.Execute(script, &errors);
        ExpectReloads(mi, script);
    }
}

TEST(SavedTables, MisfitReferenceFailsAtTheCallAndWorksOnceItFits) {
    TMathInterpreter mi;
    mi.Execute("f := 10; h := f; f(x) := x + 5");
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("h"); }),
              "TMVarRef.GetValue() Reference: \"f\" (position: 7) must point to parameterless function. Most "
              "outer function: \"h\".");
    // Defining with a misfit keeps the Part's error, and the binding.
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("g := f"); }),
              "TMVarRef.Rewire() Reference: \"f\" (position: 6) must point to parameterless function.");
    mi.ExecuteExpression("f := 7");
    EXPECT_VALUE(mi.ExecuteExpression("h"), Variant(7));
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(7));
}

TEST(SavedTables, FailingSaveLeavesTheFileAsItWas) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zorvex-limits-save";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "s.sym").string();
    {
        std::ofstream(file, std::ios::binary) << "keep=1";
    }
    TMathInterpreter mi;
    mi.ExecuteExpression("s = 'a'");
    mi.SetVariables("s", Variant(std::string("a\0b", 3)));
    const std::string refusal = "TMathInterpreter.DumpStreamable() Symbol: \"s\" can not be saved: a text in it "
                                "holds a zero character, which symbols text can not hold.";
    EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToFile(file); }), refusal);
    std::ostringstream stream;
    EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToStream(stream); }), refusal);
    EXPECT_EQ(stream.str(), "");
    // A literal in a body is refused the same way.
    TMathInterpreter body;
    body.ExecuteExpression(std::string("f := '\0'", 8));
    EXPECT_NE(ErrorOf([&] { body.SaveSymbolsToFile(file); }).find("zero character"), std::string::npos);
    // A name the language cannot write, given by a host.
    TMathInterpreter host;
    auto* var = new TMVar();
    var->List = &host.Symbols();
    var->SetIdentifier("two words");
    host.Symbols().Add(var);
    EXPECT_EQ(ErrorOf([&] { host.SaveSymbolsToFile(file); }),
              "TMathInterpreter.DumpStreamable() Symbol: \"two words\" can not be saved: its name is no identifier.");
    EXPECT_EQ(Slurp(file), "keep=1");
    // A good save replaces the file and leaves nothing beside it.
    mi.SetVariables("s", Variant(std::string("ab")));
    mi.SaveSymbolsToFile(file);
    EXPECT_EQ(Slurp(file), "s='ab'");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------- binding and trees

TEST(NoAssertion, FunctionsKeptAfterBindingErrorsGiveLanguageErrors) {
    struct Case {
        const char* setup;
        const char* call;
        const char* error;  // null: the call yields 1
    } cases[] = {
        {"f(x) := 1; g := f", "g",
         "TMVarRef.GetValue() Reference: \"f\" (position: 7) must point to parameterless function. Most outer "
         "function: \"g\"."},
        {"f(a) := 1; g := (f = 2)", "g",
         "TMAssignValue.PullOperands() Left operand (position: 8) of value assignment (position: 10) must reference to "
         "variable, not to\"TMFunction\". Most outer function: \"g\"."},
        {"f(x) := 1; g(1, y) := y + f", "g()", nullptr},
        {"F(x) := x; g := f(1)", "g", nullptr},
    };
    for (const Case& c : cases) {
        TMathInterpreter mi;
        TStrings errors;
        mi.Execute(c.setup, &errors);
        if (std::string(c.setup).rfind("F(", 0) == 0) mi.SetCaseSensitiveSymbols(true);
        const std::string result = ErrorOf([&] { mi.ExecuteExpression(c.call); });
        if (c.error != nullptr)
            EXPECT_EQ(result, c.error) << c.setup;
        else
            EXPECT_EQ(result.find("<assertion>"), std::string::npos) << c.setup << ": " << result;
    }
}

TEST(Binding, ParametersHideFunctionsWithoutError) {
    TMathInterpreter mi;
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("f(f) := 3"); }), "<no exception>");
    EXPECT_VALUE(mi.ExecuteExpression("f(2)"), Variant(3));
    EXPECT_EQ(ErrorOf([&] { mi.Execute("f(a) := a; g(f) := f + 1"); }), "<no exception>");
    EXPECT_VALUE(mi.ExecuteExpression("g(3)"), Variant(4));
}

TEST(Binding, BodiesHoldNoDefinitions) {
    TMathInterpreter mi;
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("f := 1 + (g := 2)"); }),
              "TMAssignSymbolic.PullOperands() Right operand of the symbolic assignment on position: 4 can not hold a "
              "symbolic assignment (position: 14).");
    EXPECT_FALSE(mi.SymbolExists("f"));
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(2));
}

TEST(Arguments, EachPieceIsOneExpression) {
    const std::string unbalanced = "TMathInterpreter.RPN() Unbalanced number of operators and operands, position: ";
    struct Case {
        const char* text;
        int position;
    } cases[] = {{"f(1 2)", 5},         {"Copy(3 2 'abcdef')", 10}, {"ArcTan2(1 0)", 11}, {"f(1,,2)", 5},
                 {"f(1,2,)", 7},        {"g(x,) := x", 5},          {"Max(1,)", 7},       {"f(,1)", 3},
                 {"(1 2) + 3", 4},      {"f(1, 2 3", 8}};
    for (const Case& c : cases) {
        TMathInterpreter mi;
        mi.Execute("f(a,b) := a*10+b");
        EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(c.text); }), unbalanced + std::to_string(c.position) + ".")
            << c.text;
        EXPECT_FALSE(mi.SymbolExists("g")) << c.text;
    }
    TMathInterpreter mi;
    mi.Execute("f(a,b) := a*10+b; h := 5");
    for (auto [text, value] : {std::pair{"f(1,2)", 12}, {"Max(1,(2))", 2}, {"f((1),2+0)", 12}, {"Round(Pi())", 3},
                               {"h()", 5}, {"f(1,2", 12}})
        EXPECT_VALUE(mi.ExecuteExpression(text), Variant(value));
}

// ---------------------------------------------------------------- numbers

TEST(Numbers, LongFractionsAndTheRateOfMinusOne) {
    TMathInterpreter mi;
    EXPECT_VALUE(mi.ExecuteExpression("FromBase('0.50000000000000000000', 10)"), Variant(0.5));
    EXPECT_VALUE(mi.ExecuteExpression("FromBase('0.' + StringOfChar('1', 200), 2)"), Variant(1.0));
    EXPECT_VALUE(mi.ExecuteExpression("Payment(-1, 10, 1000, 500, 0)"), Variant(-500.0));
    EXPECT_VALUE(mi.ExecuteExpression("InterestPayment(-1, 1, 10, 1000, 500, 0)"), Variant(1000.0));
    EXPECT_VALUE(mi.ExecuteExpression("InterestPayment(-1, 2, 10, 1000, 500, 0)"), Variant(-500.0));
    EXPECT_VALUE(mi.ExecuteExpression("PeriodPayment(-1, 1, 10, 1000, 500, 0)"), Variant(-1500.0));
    EXPECT_VALUE(mi.ExecuteExpression("PeriodPayment(-1, 3, 10, 1000, 500, 0)"), Variant(0.0));
    // The limit from above agrees.
    EXPECT_NEAR(VarToReal(mi.ExecuteExpression("InterestPayment(-0.9999999, 1, 10, 1000, 500, 0)")), 1000, 1e-3);
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("Payment(-1, 10, 1000, 500, 1)"); }),
              "Payment: rate -1 is not above -1");
}

TEST(Text, PosFindsTheFirstOccurrenceOfAnyPattern) {
    std::mt19937 rng(5);
    TMathInterpreter mi;
    mi.Execute("p = ''; t = ''");
    for (int i = 0; i < 300; ++i) {
        std::string p, t;
        for (int n = rng() % 40 + 1; n > 0; --n) p += static_cast<char>('a' + rng() % 2);
        for (int n = rng() % 200; n > 0; --n) t += static_cast<char>('a' + rng() % 2);
        mi.SetVariables("p", Variant(p));
        mi.SetVariables("t", Variant(t));
        const std::size_t at = t.find(p);
        EXPECT_VALUE(mi.ExecuteExpression("Pos(p, t)"),
                     Variant(static_cast<std::int32_t>(at == std::string::npos ? 0 : at + 1)));
    }
}

// Long texts are searched in pieces: a match across the seam of two, a
// pattern longer than the text, patterns of both search methods.
TEST(Text, PosOverLongTexts) {
    TMathInterpreter mi;
    mi.Execute("t = StringOfChar('a', 262140) + 'bcdefghijklmnopqrstuvwxyz' + StringOfChar('a', 300000) + '!'");
    const struct {
        const char* text;
        int position;
    } cases[] = {
        {"Pos('bcd', t)", 262141},
        {"Pos('bcdefghijklmnopqrstuvwxyz', t)", 262141},
        {"Pos('aaaab', t)", 262137},
        {"Pos(StringOfChar('a', 300000) + '!', t)", 262166},
        {"Pos('!', t)", 562166},
        {"Pos(t + 'a', t)", 0},
        {"Pos(t, t)", 1},
        {"Pos(StringOfChar('a', 20) + 'z', t)", 0},
        {"Pos('z', t)", 262165},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_VALUE(mi.ExecuteExpression(c.text), Variant(c.position));
    }
}

TEST(Text, DeletingManySymbolsKeepsTheTableInOrder) {
    TMathInterpreter mi;
    std::string create, remove;
    for (int i = 0; i < 3000; ++i) create += "v" + std::to_string(i) + "=" + std::to_string(i) + ";";
    for (int i = 0; i < 3000; i += 2) remove += "delete v" + std::to_string(i) + ";";
    mi.Execute(create);
    mi.Execute(remove);
    EXPECT_EQ(mi.SymbolCount(), 1500);
    EXPECT_EQ(mi.GetVariableHandles("v1"), 0);
    EXPECT_EQ(mi.GetVariableHandles("v2999"), 1499);
    EXPECT_VALUE(mi.GetVariablesByHandle(1), Variant(3));
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("v4"); }),
              "TMVarRef.GetValue() Referenced symbol: \"v4\" is not defied, position: 1.");
    mi.Execute("delete v1, v3; w = 1");
    EXPECT_EQ(mi.GetVariableHandles("w"), 1498);
}

// ---------------------------------------------------------------- limits

TEST(Limits, MemoryBudgetEndsTheEvaluationAndKeepsTheInterpreter) {
    TMathInterpreter mi;
    EXPECT_EQ(mi.MemoryBudget(), std::size_t{1} << 30);
    mi.SetMemoryBudget(4 << 20);
    const std::string exceeded = "TMathInterpreter.MemoryBudget() Memory budget of 4194304 bytes exceeded.";
    mi.Execute("f(s, n) := IfF(n > 0, f(s + 'y', n - 1), Length(s)); keep = 'k'");
    const std::size_t base = mi.MemoryInUse();
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("f(StringOfChar('x', 1000000), 100)"); }),
              exceeded + " Most outer function: \"f\".");
    EXPECT_EQ(mi.MemoryInUse(), base);
    EXPECT_VALUE(mi.ExecuteExpression("f('ab', 3)"), Variant(5));
    // Many parameters deep: the frames themselves count.
    std::string params, args;
    for (int i = 0; i < 2000; ++i) {
        params += (i ? ",p" : "p") + std::to_string(i);
        args += i ? ",0" : "n - 1";
    }
    mi.ExecuteExpression("w(" + params + ") := IfF(p0 > 0, w(" + args + "), 0)");
    EXPECT_GT(mi.MemoryInUse(), base + 100000);  // the body's tree counts
    const std::size_t withW = mi.MemoryInUse();
    mi.ExecuteExpression("n = 10000");
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("w(" + args + ")"); }).substr(0, exceeded.size()),
              exceeded);
    // Variables: the value that would pass the budget is not stored.
    EXPECT_NE(ErrorOf([&] { mi.Execute("a = StringOfChar('x', 3000000); b = a + a"); }).find(exceeded),
              std::string::npos);
    EXPECT_VALUE(mi.ExecuteExpression("Length(a)"), Variant(3000000));
    EXPECT_FALSE(mi.SymbolExists("b"));  // the sum is refused before it is made
    mi.ExecuteExpression("delete a");
    EXPECT_EQ(mi.MemoryInUse(), withW);
    mi.ExecuteExpression("delete w");
    EXPECT_EQ(mi.MemoryInUse(), base);
    EXPECT_VALUE(mi.ExecuteExpression("keep"), Variant(std::string("k")));
}

// What one evaluation makes counts while it is held: the operands waiting
// for the next one, call frames, the results Execute gathers, the trees and
// their literals. Each text ends with the budget error, promptly, and leaves
// the interpreter as it was.
TEST(Limits, BudgetCoversTreesHeldValuesAndResults) {
    const std::string exceeded = "TMathInterpreter.MemoryBudget() Memory budget of 8388608 bytes exceeded.";
    const std::string mb = "StringOfChar('a', 1000000)";
    const std::string chain = "1" + Repeat("+1", 300000);
    struct Case {
        std::string text;
        bool fits;
    } cases[] = {
        {Repeat("Pos(" + mb + ", ", 12) + "'b'" + Repeat(")", 12), false},  // held operands
        {Repeat("(" + mb + " + ", 12) + "''" + Repeat(")", 12), false},
        {"Pos(" + mb + ", 'b')", true},                                     // a pattern longer than the text
        {Repeat(mb + ";", 12), false},                                      // results of Execute
        {Repeat("Length(" + mb + ");", 12), true},
        {chain, false},                                                     // a tree
        {"'" + std::string(9000000, 'x') + "'", false},                     // a literal
        {"g(n) := IfF(n > 0, Length((x = " + mb + ") + IntToStr(0 * Length(x = 0) + g(n - 1))), 0); g(12)",
         false},  // a held text whose variable let go of it
        {Repeat("1;", 100000), true},
    };
    for (const Case& c : cases) {
        TMathInterpreter mi;
        mi.SetMemoryBudget(8 << 20);
        mi.Execute("keep = 'k'; f(n) := n");
        const std::size_t base = mi.MemoryInUse();
        const std::string result = ErrorOf([&] { mi.Execute(c.text); });
        if (c.fits)
            EXPECT_EQ(result, "<no exception>") << c.text.substr(0, 80);
        else
            EXPECT_NE(result.find(exceeded), std::string::npos) << c.text.substr(0, 80) << ": " << result;
        for (const char* name : {"g", "x"})
            if (mi.SymbolExists(name)) mi.ExecuteExpression(std::string("delete ") + name);
        EXPECT_EQ(mi.MemoryInUse(), base) << c.text.substr(0, 80);
        EXPECT_VALUE(mi.ExecuteExpression("keep + IntToStr(f(2))"), Variant(std::string("k2")));
    }
}

// Held values count once: a text shared with a variable is the variable's.
TEST(Limits, MemoryInUseDuringAnEvaluation) {
    TMathInterpreter mi;
    std::size_t seen = 0;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string&, const Variant&, Variant& value) {
        seen = sender.MemoryInUse();
        value = Variant(std::string("z"));
    });
    mi.ExecuteExpression("s = StringOfChar('a', 1000000)");
    const std::size_t base = mi.MemoryInUse();
    EXPECT_GE(base, 1000000u);
    const struct {
        const char* text;
        std::size_t held;
    } cases[] = {
        {"Length(s + zz)", 0},
        {"Length(StringOfChar('b', 500000) + zz)", 500000},
        {"Pos(StringOfChar('b', 500000), Copy(s, 1, 300000) + zz)", 800000},
        {"Length(Copy(s, 1, 200000) + Copy(s, 1, 300000) + zz)", 500000},
    };
    for (const auto& c : cases) {
        mi.ExecuteExpression(c.text);
        EXPECT_GE(seen, base + c.held) << c.text;
        EXPECT_LT(seen, base + c.held + 100000) << c.text;
        EXPECT_EQ(mi.MemoryInUse(), base) << c.text;
    }
    // Results gathered by Execute count until it returns them.
    mi.Execute("Copy(s, 1, 400000); zz");
    EXPECT_GE(seen, base + 400000);
    EXPECT_EQ(mi.MemoryInUse(), base);
}

// A failed allocation anywhere leaves an entry point as the language's error.
TEST(Limits, OutOfMemoryIsTheLanguagesError) {
    TMathInterpreter mi;
    mi.SetOnUnknownSymbol([](TMathInterpreter&, const std::string& name, const Variant&, Variant& value) {
        if (name == "huge") throw std::bad_alloc();
        value = Variant(1);
    });
    mi.Execute("keep = 1");
    const int prepared = mi.PrepareExpression("huge + 1");
    const std::function<void()> calls[] = {
        [&] { mi.ExecuteExpression("huge"); },
        [&] { mi.ExecutePreparedExpression(prepared); },
        [&] { mi.Execute("1; huge; 2"); },
        [&] {
            std::istringstream in("a = 1; b = huge");
            mi.LoadSymbolsFromStream(in);
        },
        [&] {
            std::istringstream in("huge");
            mi.ExecuteFromStream(in);
        },
    };
    for (const auto& call : calls) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const EOutOfMemory& e) {
            EXPECT_EQ(e.Message(), "Out of memory");
        }
    }
    TStrings errors;
    const Variant results = mi.Execute("1; huge; 2", &errors);
    EXPECT_EQ(results.ArraySize(), 3u);
    EXPECT_EQ(errors.Count(), 1);
    EXPECT_EQ(errors[0], "Out of memory");
    EXPECT_VALUE(mi.ExecuteExpression("a + 1"), Variant(2));
}

TEST(Limits, TextLimitHoldsWhereverTextIsMade) {
    TMathInterpreter mi;
    const std::string big(MaxTextLength + 1, 'x');
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("'" + big + "'"); }),
              "ParseString() String starting at position: 1 is longer than the maximum length of 67108864 "
              "characters.");
    mi.ExecuteExpression("s = ''");
    mi.SetVariables("s", Variant(big));
    const std::string tooLong = "Text result exceeds the maximum length of 67108864 characters.";
    for (const char* text : {"Copy(s, 1, Length(s))", "Trim(s)"})
        EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(text); }), tooLong) << text;
    EXPECT_VALUE(mi.ExecuteExpression("Length(Copy(s, 1, 10))"), Variant(10));
}

TEST(Limits, MessagesQuoteLongInputShortened) {
    TMathInterpreter mi;
    const std::string digits(1000000, '1');
    const std::string message = ErrorOf([&] { mi.ExecuteExpression(digits + "e"); });
    EXPECT_EQ(message, "TMathInterpreter.Parse() Bad number literal: \"" + std::string(60, '1') +
                           "...\" on position: 1000002.");
    const std::string name(100000, 'n');
    EXPECT_LT(ErrorOf([&] { mi.ExecuteExpression(name); }).size(), 200u);
    EXPECT_LT(ErrorOf([&] { mi.ExecuteExpression("StrToInt('" + digits + "')"); }).size(), 200u);
}

// Deep input on a 256 KiB stack ends in the library's errors, in every build.
TEST(Limits, SmallStackRunsDeepInputToClearErrors) {
    TMathInterpreter big;  // trees built on the main thread, used on the small one
    big.SetMaxFunctionNesting(1000000);
    big.Execute("d := " + Repeat("-(", 1990) + "1" + Repeat(")", 1990) + "; r(n) := IfF(n > 0, r(n - 1), 0)");
    OnThread(256 * 1024, [&] {
        TMathInterpreter mi;
        mi.SetMaxFunctionNesting(1000000);
        mi.Execute("r(n) := IfF(n > 0, r(n - 1), 0); e := " + Repeat("-(", 1990) + "1" + Repeat(")", 1990) +
                   "; u(n) := h(Abs(a = Max(u(n - 1), 1)), 2)");
        const std::string texts[] = {
            Repeat("IfF(true, ", 1990) + "1" + Repeat(", 0)", 1990),
            Repeat("IfF(true, ", 1990) + "r(100)" + Repeat(", 0)", 1990),
            Repeat("((", 5000) + "1" + Repeat("))", 5000),
            "1" + Repeat("+1", 1999),
            Repeat("-(", 1990) + "1" + Repeat(")", 1990),
            "r(100000)",
            "u(100000)",  // recursion inside arguments, also of unknown functions
            "e",
        };
        for (const std::string& text : texts) {
            const std::string result = ErrorOf([&] { mi.ExecuteExpression(text); });
            EXPECT_TRUE(result == "<no exception>" || result.find("stack space") != std::string::npos)
                << result.substr(0, 200);
        }
        EXPECT_NE(ErrorOf([&] { mi.DumpSymbol("e", 0); }).find("stack space"), std::string::npos);
        EXPECT_NE(ErrorOf([&] { mi.DumpStreamable(); }).find("stack space"), std::string::npos);
        EXPECT_NE(ErrorOf([&] { big.ExecuteExpression("d"); }).find("stack space"), std::string::npos);
        EXPECT_NE(ErrorOf([&] { big.ExecuteExpression("r(100000)"); }).find("stack space"), std::string::npos);
        EXPECT_NE(ErrorOf([&] { big.Dump(";", dfDetailed); }).find("stack space"), std::string::npos);
        mi.ExecuteExpression("delete e");
        EXPECT_VALUE(mi.ExecuteExpression("r(10)"), Variant(0));
        big.ClearSymbols();  // deep frees on the small stack
    });
    EXPECT_EQ(big.SymbolCount(), 0);
}

// Stopping evaluations from outside: Interrupt from another thread or a
// signal handler, and the time and step budgets. The interpreter stays whole.
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "InterpreterAccess.h"
#include "TestSupport.h"
#include "zorvex/MathInterpreter.h"

namespace {

using namespace zorvex;
using Clock = std::chrono::steady_clock;
using zorvex::testing::ErrorOf;

// Minutes of work unless stopped.
constexpr char kFib[] = "fib(n) := IfF(n < 2, n, fib(n - 1) + fib(n - 2))";
constexpr char kSlow[] = "fib(40)";

// The cause of the EInterrupted raised by `f`, or -1.
template <class F>
int CauseOf(F&& f) {
    try {
        f();
    } catch (const EInterrupted& e) {
        return e.Reason();
    } catch (const Exception& e) {
        ADD_FAILURE() << "other error: " << e.Message();
    }
    return -1;
}

void ExpectIntact(TMathInterpreter& mi, int prepared) {
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    EXPECT_FALSE(mi.InterruptPending());
    EXPECT_VALUE(mi.GetVariables("x"), Variant(7));
    EXPECT_VALUE(mi.ExecuteExpression("fib(10) + x"), Variant(62));
    EXPECT_VALUE(mi.ExecutePreparedExpression(prepared), Variant(14));
    EXPECT_EQ(mi.DumpText(), "x=7;\r\nfib(n):=IfF(fib.n<2,fib.n,fib(fib.n-1)+fib(fib.n-2))");
}

class Interruption : public ::testing::Test {
protected:
    void SetUp() override {
        mi.Execute(std::string("x = 7; ") + kFib);
        prepared = mi.PrepareExpression("x * 2");
    }
    TMathInterpreter mi;
    int prepared = -1;
};

TEST_F(Interruption, FromAnotherThreadStopsRecursionAndKeepsState) {
    for (const char* text : {kSlow, "y = fib(40)", "1; fib(40); z = 3"}) {
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            mi.Interrupt();
        });
        const auto start = Clock::now();
        TStrings errors;  // an error list does not swallow the interruption
        EXPECT_EQ(CauseOf([&] { mi.Execute(text, &errors); }), EInterrupted::Request) << text;
        stopper.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << text;
        EXPECT_FALSE(mi.SymbolExists("y"));
        EXPECT_FALSE(mi.SymbolExists("z"));  // the rest of the text did not run
        ExpectIntact(mi, prepared);
    }
}

TEST_F(Interruption, FromSignalHandlerAndInPreparedExpressions) {
    static TMathInterpreter* target = nullptr;
    target = &mi;
    struct sigaction action {};
    action.sa_handler = [](int) { target->Interrupt(); };
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 50000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    const int slow = mi.PrepareExpression(kSlow);
    EXPECT_EQ(CauseOf([&] { mi.ExecutePreparedExpression(slow); }), EInterrupted::Request);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_TRUE(mi.IsValidPreparedExpression(slow));
    ExpectIntact(mi, prepared);
}

TEST_F(Interruption, RequestWhileIdleStopsTheNextEvaluationOnly) {
    mi.Interrupt();
    EXPECT_TRUE(mi.InterruptPending());
    EXPECT_EQ(CauseOf([&] { mi.ExecuteExpression("fib(3)"); }), EInterrupted::Request);
    ExpectIntact(mi, prepared);
    mi.Interrupt();
    mi.ClearInterrupt();  // a host may withdraw it
    EXPECT_VALUE(mi.ExecuteExpression("fib(3)"), Variant(2));
}

TEST_F(Interruption, StepBudgetCountsCallsAndLongBuiltIns) {
    mi.SetEvaluationStepLimit(3);
    // One step on entry; then one per user-function call or long built-in.
    const struct {
        const char* text;
        bool stops;
    } cases[] = {
        {"1 + 2 * x", false},          {"Sqrt(16) + Sin(0)", false},    {"fib(1)", false},
        {"fib(2)", true},              {"StringOfChar('a', 3) + StringOfChar('b', 2)", false},
        {"Factorial(3) + Factorial(4) + Factorial(5)", true},
        {"Length(ToBase(255, 16)) + FromBase('ff', 16) + Length(ConvertBase('7', 10, 2))", true},
    };
    for (const auto& c : cases) {
        const int cause = CauseOf([&] { mi.ExecuteExpression(c.text); });
        EXPECT_EQ(cause, c.stops ? EInterrupted::StepLimit : -1) << c.text;
    }
    // Each call has the whole budget.
    EXPECT_VALUE(mi.ExecuteExpression("fib(1)"), Variant(1));
    EXPECT_VALUE(mi.ExecuteExpression("fib(1)"), Variant(1));
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("fib(9)"); }),
              "TMathInterpreter.EvaluationStepLimit Evaluation stopped at its limit of 3 steps.");
    mi.SetEvaluationStepLimit(0);
    ExpectIntact(mi, prepared);
}

TEST_F(Interruption, TimeBudgetStopsLongWorkAndSparesShortWork) {
    mi.SetEvaluationTimeLimit(100);
    EXPECT_EQ(mi.EvaluationTimeLimit(), 100u);
    EXPECT_VALUE(mi.ExecuteExpression("fib(12)"), Variant(144));
    // Recursion, and built-ins that never call back into the tree.
    mi.ExecuteExpression("Length(s = StringOfChar('a', 8000000))");
    std::string upper = "0";
    for (int i = 0; i < 400; ++i) upper += " + Length(UpperCase(s))";
    for (const std::string& text : {std::string(kSlow), upper}) {
        const auto start = Clock::now();
        EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(text); }),
                  "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of 100 ms.");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    }
    mi.ExecuteExpression("delete s");
    mi.SetEvaluationTimeLimit(0);
    ExpectIntact(mi, prepared);
}

TEST_F(Interruption, ProgressHandlerRunsDuringLongWorkAndMayStopIt) {
    // A GUI keeps its window alive from the handler and stops on a key.
    int calls = 0;
    mi.SetOnProgress(
        [&](TMathInterpreter& sender) {
            EXPECT_EQ(&sender, &mi);
            // Re-entering the interpreter from the handler is refused, not run.
            EXPECT_NE(ErrorOf([&] { sender.ExecuteExpression("delete x"); }), "");
            if (++calls == 3) sender.Interrupt();
        },
        5);
    EXPECT_VALUE(mi.ExecuteExpression("fib(5)"), Variant(5));
    EXPECT_EQ(CauseOf([&] { mi.ExecuteExpression(kSlow); }), EInterrupted::Request);
    EXPECT_EQ(calls, 3);
    // A handler that throws stops the evaluation with its error.
    mi.SetOnProgress([](TMathInterpreter&) { throw Exception("stop"); }, 1);
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(kSlow); }), "stop Most outer function: \"fib\".");
    mi.SetOnProgress(nullptr);
    ExpectIntact(mi, prepared);
}

// Work that grows with its operands checks at intervals of bounded work:
// a megabyte of it passes several checks, so a request, a step or time
// budget or a progress handler is heard within it.
TEST_F(Interruption, LongBuiltInsCheckAsTheyGo) {
    mi.Execute("s = StringOfChar('a', 1000000); b = StringOfChar(' ', 1000000); q = StringOfChar('''', 1000000); "
               "z = StringOfChar('0', 1000000) + '1'; o = '0.' + StringOfChar('1', 1000000); "
               "k = StringOfChar('a', 40) + 'b'");
    const char* texts[] = {
        "Pos('b', s)",       "Pos(k, s)",      "StringOfChar('a', 1000000)", "Copy(s, 2, 1000000)",
        "Insert('x', s, 5)", "DeleteSubstr(s, 5, 3)", "Trim(b)",             "TrimLeft(b)",
        "TrimRight(b)",      "UpperCase(s)",   "LowerCase(s)",               "QuotedStr(q)",
        "s + s",             "StrToFloat(z)",  "StrToInt(z)",                "z + 1",
        "FromBase(o, 2)",    "ConvertBase(b + '1', 10, 2)",
    };
    mi.SetEvaluationStepLimit(1000000000);
    for (const char* text : texts) {
        mi.ExecuteExpression(text);
        EXPECT_GE(zorvex::InterpreterAccess::Steps(mi), 4u) << text;
    }
    // One step on entry: the next check is inside the long work.
    mi.SetEvaluationStepLimit(1);
    for (const char* text : texts)
        EXPECT_EQ(CauseOf([&] { mi.ExecuteExpression(text); }), EInterrupted::StepLimit) << text;
    mi.SetEvaluationStepLimit(0);
    // Long texts of tokens and long chains are long work too.
    std::string sum = "x";
    for (int i = 0; i < 100000; ++i) sum += "+x";
    mi.SetOnProgress([](TMathInterpreter& sender) { sender.Interrupt(); }, 0);
    for (const std::string& text : {"1" + std::string(400000, '+') + "1", sum})
        EXPECT_EQ(CauseOf([&] { mi.ExecuteExpression(text); }), EInterrupted::Request);
    mi.SetOnProgress(nullptr);
    mi.Execute("delete s, b, q, z, o, k");
    ExpectIntact(mi, prepared);
}

// A load, like a file or a stream, is one evaluation: a request made during
// one entry, and a time budget, hold for the rest of it.
TEST_F(Interruption, LoadsKeepTheRequestAndTheBudgetsToTheEnd) {
    const std::string text = "a = 1;\r\nc = stop;\r\nd = 4;\r\nb = 2";
    TMathInterpreter loader;
    loader.SetOnUnknownSymbol([](TMathInterpreter& sender, const std::string& name, const Variant&, Variant& value) {
        if (name != "stop") return;
        sender.Interrupt();
        value = Variant(3);
    });
    const std::function<void()> loads[] = {
        [&] {
            std::istringstream in(text);
            loader.LoadSymbolsFromStream(in);
        },
        [&] {
            std::istringstream in(text);
            loader.ExecuteFromStream(in);
        },
        [&] {
            TReader reader(text);
            loader.ClearSymbols();
            loader.ReadSymbols(reader);
        },
        [&] { loader.Execute(text); },
    };
    for (const auto& load : loads) {
        loader.ClearSymbols();
        EXPECT_EQ(CauseOf(load), EInterrupted::Request);
        EXPECT_TRUE(loader.SymbolExists("c"));  // the entry that asked ran to its end
        EXPECT_FALSE(loader.SymbolExists("d"));
        EXPECT_FALSE(loader.InterruptPending());
    }
    loader.SetOnUnknownSymbol(nullptr);
    loader.SetEvaluationTimeLimit(50);
    std::istringstream in("a = 1;\r\n" + std::string(kFib) + ";\r\ne = fib(40);\r\nb = 2");
    const auto start = Clock::now();
    EXPECT_EQ(CauseOf([&] { loader.LoadSymbolsFromStream(in); }), EInterrupted::TimeLimit);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(loader.SymbolExists("fib"));
    EXPECT_FALSE(loader.SymbolExists("e"));
}

// One interpreter used from a second thread while the first runs it: the
// second gets a clear error, the first goes on undisturbed.
TEST_F(Interruption, SecondThreadIsRefusedWhileTheFirstRuns) {
    std::atomic<bool> inside{false};
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string&, const Variant&, Variant& value) {
        inside = true;
        value = Variant(0);
    });
    const int compiled = mi.PrepareExpression("x * 2 + 1");
    ASSERT_TRUE(mi.IsCompiledPreparedExpression(compiled));
    // Run once: later runs would take the inline way if nothing shut it.
    const Variant before = mi.ExecutePreparedExpression(compiled);
    int first = -1;
    std::thread runner([&] { first = CauseOf([&] { mi.ExecuteExpression("started + fib(40)"); }); });
    while (!inside) std::this_thread::yield();
    const std::string refused =
        "TMathInterpreter is in use by another thread; an interpreter serves one thread at a time.";
    const std::function<void()> calls[] = {
        [&] { mi.ExecuteExpression("x = 1"); },
        [&] { mi.Execute("x = 1; 2"); },
        [&] { mi.PrepareExpression("x"); },
        [&] { mi.ExecutePreparedExpression(compiled); },
        [&] { mi.ExecutePreparedExpression(prepared); },
        [&] {
            std::istringstream in("x = 1");
            mi.LoadSymbolsFromStream(in);
        },
    };
    for (const auto& call : calls) EXPECT_EQ(ErrorOf(call), refused);
    mi.Interrupt();
    runner.join();
    EXPECT_EQ(first, EInterrupted::Request);
    mi.SetOnUnknownSymbol(nullptr);
    EXPECT_VALUE(mi.ExecutePreparedExpression(compiled), before);
    ExpectIntact(mi, prepared);
}

}  // namespace

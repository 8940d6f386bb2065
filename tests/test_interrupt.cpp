// Stopping evaluations from outside: Interrupt from another thread or a
// signal handler, and the time and step budgets. The interpreter stays whole.
#include <signal.h>
#include <sys/time.h>

#include <chrono>
#include <thread>

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
    EXPECT_EQ(mi.FunctionNestingLevel, 0u);
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
    const auto start = Clock::now();
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(kSlow); }),
              "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of 100 ms.");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
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

}  // namespace

// Embedding in five minutes: each task is at most three lines of C++.
#include <algorithm>
#include <cstdio>

#include <zorvex/MathInterpreter.h>

int main() {
    zorvex::TMathInterpreter zx;

    // 1. Evaluate a text to a double.
    const double area = zorvex::VarToReal(zx.ExecuteExpression("Pi * 2^2"));
    std::printf("area: %.4f\n", area);

    // 2. Bind a variable: the expression reads and writes the host's double.
    double rate = 0.04;
    zx.BindVariable("rate", &rate);

    // 3. Register a function (pure: constant calls fold when prepared).
    auto clamp = [](double x, double lo, double hi) { return std::clamp(x, lo, hi); };
    zx.DefineFunction("clamp", clamp, {.pure = true});

    // 4. Prepare once, run in a loop.
    const int growth = zx.PrepareExpression("clamp(1000 * (1 + rate), 0, 1100)");
    for (rate = 0.04; rate < 0.15; rate += 0.04)
        std::printf("rate %.2f: %.2f\n", rate, zorvex::VarToReal(zx.ExecutePreparedExpression(growth)));

    // 5. Catch an error.
    try { zx.ExecuteExpression("rate * clamp(2, 3)"); }
    catch (const zorvex::Exception& e) { std::printf("error at %d: %s\n", e.Position(), e.what()); }
    return 0;
}

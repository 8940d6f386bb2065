#include <cstdio>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

int main() {
    try {
        zorvex::TMathInterpreter interp;
        zorvex::Variant v = interp.ExecuteExpression("1+2");
        if (v.IsInteger() && v.AsInteger() == 3) return 0;
        std::fprintf(stderr, "1+2 gave '%s'\n", zorvex::VarToStr(v).c_str());
    } catch (const zorvex::Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}

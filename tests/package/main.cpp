#include <cstdio>

#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"

int main() {
    try {
        zorvex::TMathInterpreter interp;
        if (zorvex::Builtins().size() != 75 || zorvex::FindBuiltin("sqrt") == nullptr) {
            std::fprintf(stderr, "the list of built-ins is not whole\n");
            return 1;
        }
        try {
            interp.ExecuteExpression("2 * (1 +");
        } catch (const zorvex::ESyntaxError& e) {
            if (e.Position() != 5 || e.ExpressionIndex() != 0) {
                std::fprintf(stderr, "error at %d in %d\n", e.Position(), e.ExpressionIndex());
                return 1;
            }
        }
        zorvex::Variant v = interp.ExecuteExpression("1+2");
        if (v.IsInteger() && v.AsInteger() == 3) return 0;
        std::fprintf(stderr, "1+2 gave '%s'\n", zorvex::VarToStr(v).c_str());
    } catch (const zorvex::Exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}

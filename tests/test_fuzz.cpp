// Random texts built from the language's own tokens: whatever they hold, the
// interpreter raises its own errors, never crashes, and stays usable. The
// sanitizer build turns any stray memory access into a failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zorvex/MathInterpreter.h"

using namespace zorvex;

namespace {

const char* const kTokens[] = {
    "x", "y", "f", "g", "h", "s", "x", "y", "f", "(", ")", "(", ")", ",", ",", "+", "-", "-", "*", "/", "^",
    " div ", " mod ", " and ", " or ", " xor ", " shl ", " shr ", " not ", "<", "<=", "==", ">=", ">", "!=",
    "=", ":=", "=", ":=", ";", "0", "1", "2", "7", "2.5", "1e3", "1.", "2147483647", "0.1", "'a'", "'a;b'",
    "\"it's\"", "''''", "true", "false", "delete ", "rename", "IfF", "Abs", "Max", "Copy", "Pi", "Sqrt", "Ln",
    "Factorial", "StringOfChar", "ToBase", "FromBase", "Payment", "Round", "Length", "Insert", "QuotedStr",
    "DegToStr", " ", "\\", "'", "#", "..", "1e999",
};

std::string RandomText(std::mt19937& rng) {
    std::uniform_int_distribution<int> length(1, 24);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(kTokens)) - 1);
    std::string text;
    for (int n = length(rng); n > 0; --n) text += kTokens[pick(rng)];
    return text;
}

int Iterations() {
    if (const char* env = std::getenv("ZORVEX_FUZZ_ITERATIONS")) return std::max(1, std::atoi(env));
    return 4000;
}

// The interpreter still answers, and its table still dumps and reloads.
void ExpectUsable(TMathInterpreter& mi, const std::string& after) {
    ASSERT_EQ(VarToStr(mi.ExecuteExpression("1+1")), "2") << "after: " << after;
    std::string dump;
    try {
        dump = mi.Dump(";", dfDetailed);
    } catch (const Exception&) {
        // A function whose plain dump raises (an assignment in its body) is fine.
    }
    EXPECT_EQ(mi.FunctionNestingLevel, 0u) << "after: " << after;
}

}  // namespace

TEST(Fuzz, RandomTextsRaiseOwnErrorsAndLeaveTheInterpreterUsable) {
    std::mt19937 rng(20261208);
    TMathInterpreter mi;
    mi.SetMaxFunctionNesting(200);
    mi.SetOnUnknownSymbol([](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        if (name == "y" && params.IsNull() && value.IsEmpty()) value = Variant(3);
    });
    const int iterations = Iterations();
    for (int i = 0; i < iterations; ++i) {
        const std::string text = RandomText(rng);
        TStrings errors;
        try {
            mi.Execute(text, &errors);
        } catch (const Exception&) {
            // Only errors of the library may leave Execute.
        }
        // Preparing and running the same text goes through the other path.
        try {
            const int handle = mi.PrepareExpression(text);
            try {
                mi.ExecutePreparedExpression(handle);
            } catch (const Exception&) {
            }
            if (i % 3 == 0) mi.FreePreparedExpression(handle);
        } catch (const Exception&) {
        }
        if (i % 97 == 0) {
            // A body holding an assignment has no plain form, so saving may raise.
            std::string text;
            try {
                text = mi.DumpStreamable();
            } catch (const Exception&) {
                text.clear();
            }
            if (!text.empty()) {
                std::stringstream saved(text);
                bool loaded = true;
                try {
                    mi.LoadSymbolsFromStream(saved);
                } catch (const Exception& e) {
                    loaded = false;
                    ADD_FAILURE() << "saved symbols do not load: " << e.what() << "\n" << text;
                }
                // What was saved loads back exactly.
                if (loaded) EXPECT_EQ(mi.DumpStreamable(), text);
            }
        }
        if (i % 251 == 0) mi.SetCaseSensitiveSymbols(!mi.CaseSensitiveSymbols());
        if (i % 500 == 0) mi.ClearPreparedExpressions();
        ExpectUsable(mi, text);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Fuzz, RandomBytesNeverCrashTheTokenizer) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
    TMathInterpreter mi;
    for (int i = 0; i < Iterations(); ++i) {
        std::string text;
        for (int n = length(rng); n > 0; --n) text += static_cast<char>(byte(rng));
        TStrings errors;
        try {
            mi.Execute(text, &errors);
        } catch (const Exception&) {
        }
    }
    ExpectUsable(mi, "random bytes");
}

// Random texts built from the language's own tokens: whatever they hold, the
// interpreter raises its own errors, never crashes, and stays usable. The
// sanitizer build turns any stray memory access into a failure.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

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
    EXPECT_NO_THROW(mi.Dump(";", 0)) << "after: " << after;
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u) << "after: " << after;
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
            std::string text;
            try {
                text = mi.DumpStreamable();
            } catch (const Exception& e) {
                ADD_FAILURE() << "the table does not save: " << e.what();
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
                if (loaded) {
                    EXPECT_EQ(mi.DumpStreamable(), text);
                }
            }
        }
        if (i % 251 == 0) mi.SetCaseSensitiveSymbols(!mi.CaseSensitiveSymbols());
        // Saves write the strings of earlier texts for the escape character of the day.
        if (i % 173 == 0) mi.SetEscapeChar("\0\\'\""[(i / 173) % 4]);
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

namespace {

// Random programs of definitions, assignments, redefinitions and calls, in
// the shapes that once broke saving: assignments in bodies, parameter counts
// that change, parameters named like functions, texts of any byte, argument
// lists with missing and surplus commas.
class ProgramGenerator {
public:
    explicit ProgramGenerator(std::uint32_t seed) : rng_(seed) {}

    struct Statement {
        std::string text;
        bool malformed;              // an argument list with a missing or surplus comma
        std::string name;                     // of a definition
        std::vector<std::string> parameters;  // of a definition
    };

    // Each program picks an escape character (none a third of the time) and
    // writes its strings for it.
    std::vector<Statement> Program() {
        static const char escapes[] = {'\\', '\'', '"', ';', '#', 'a', ' ', ',', '(', '\x01', '\r', '\xff'};
        escape_ = Chance(33) ? '\0' : escapes[Pick(0, static_cast<int>(std::size(escapes)) - 1)];
        std::vector<Statement> program;
        for (int n = Pick(3, 10); n > 0; --n) {
            malformed_ = false;
            parameters_.clear();
            name_.clear();
            std::string text = NextStatement();
            program.push_back({text, malformed_, name_, parameters_});
        }
        return program;
    }

    char Escape() const { return escape_; }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool Chance(int percent) { return Pick(1, 100) <= percent; }
    const char* Name() {
        static const char* const names[] = {"f", "g", "h", "x", "y", "a", "b"};
        return names[Pick(0, 6)];
    }

    std::string NextStatement() {
        switch (Pick(0, 5)) {
            case 0:
            case 1: {  // a definition, often changing the parameter count
                std::string params;
                name_ = Name();
                for (int n = Pick(0, 3); n > 0; --n) {
                    parameters_.push_back(Name());
                    params += std::string(params.empty() ? "" : ",") + parameters_.back();
                }
                return name_ + (params.empty() && Chance(50) ? "" : "(" + params + ")") +
                       " := " + Expression(3);
            }
            case 2: return std::string(Name()) + " = " + Expression(2);
            case 3: return "delete " + std::string(Name());
            default: return Expression(3);
        }
    }

    std::string Text() {
        std::string bytes;
        for (int n = Pick(0, 6); n > 0; --n) bytes += static_cast<char>(Pick(0, 255));
        if (escape_ != '\0' && Chance(30)) bytes += escape_;  // ends in it
        // Mostly well quoted; sometimes as it comes, quotes and all (but no
        // escape character, which could take the rest of the statement in).
        if (!Chance(85)) {
            if (escape_ != '\0') std::erase(bytes, escape_);
            return "'" + bytes + "'";
        }
        if (escape_ == '\0') return QuotedStr(bytes);
        // Quotes doubled or escaped, the escape character escaped, and now
        // and then an ordinary character escaped too.
        std::string text = "'";
        for (char c : bytes) {
            if (c == '\'')
                text += escape_ == '\'' || Chance(50) ? "''" : std::string{escape_, c};
            else if (c == escape_ || Chance(10))
                text += std::string{escape_, c};
            else
                text += c;
        }
        return text + "'";
    }

    std::string Arguments(int depth) {
        std::string list;
        const int count = Pick(0, 3);
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                const bool good = Chance(90);
                // A missing comma between two numbers, which nothing can
                // take as an operand, or a doubled one.
                list += good ? "," : (Chance(50) ? ",1 2," : ",,");
                malformed_ |= !good;
            }
            list += Expression(depth);
        }
        if (Chance(5)) {
            list += ",";
            malformed_ = true;
        }
        return list;
    }

    std::string Expression(int depth) {
        if (depth <= 0 || Chance(30)) {
            switch (Pick(0, 5)) {
                case 0: return std::to_string(Pick(-3, 100));
                case 1: return Chance(50) ? "0.5" : "true";
                case 2: return Text();
                default: return Name();
            }
        }
        static const char* const ops[] = {"+", "-", "*", "/", " div ", " mod ", "^", "<", "==", " and ", " or "};
        static const char* const builtins[] = {"Copy", "Max", "Length", "IfF", "Abs", "Pos", "Trim"};
        switch (Pick(0, 6)) {
            case 0:
            case 1: return Expression(depth - 1) + ops[Pick(0, 10)] + Expression(depth - 1);
            case 2: return "(" + std::string(Name()) + " = " + Expression(depth - 1) + ")";
            case 3: return std::string(Name()) + "(" + Arguments(depth - 1) + ")";
            case 4: return std::string(builtins[Pick(0, 6)]) + "(" + Arguments(depth - 1) + ")";
            case 5: return "-" + Expression(depth - 1);
            default: return "(" + Expression(depth - 1) + ")";
        }
    }

    std::mt19937 rng_;
    char escape_ = '\0';
    bool malformed_ = false;
    std::string name_;
    std::vector<std::string> parameters_;
};

// Whether the table holds the function as the statement declared it.
bool DefinedAsWritten(TMathInterpreter& mi, const std::string& name, const std::vector<std::string>& parameters) {
    auto* f = dynamic_cast<TMFunction*>(mi.Symbols().FindSymbol(name));
    if (f == nullptr || f->Parameters().Count() != static_cast<int>(parameters.size())) return false;
    for (int i = 0; i < f->Parameters().Count(); ++i)
        if (static_cast<TMSymbol*>(f->Parameters().At(i))->Identifier() != parameters[i]) return false;
    return true;
}

std::uint32_t ProgramSeed() {
    if (const char* env = std::getenv("ZORVEX_FUZZ_SEED")) return static_cast<std::uint32_t>(std::strtoul(env, nullptr, 10));
    return 20261208;
}

int ProgramCount() {
    if (const char* env = std::getenv("ZORVEX_FUZZ_PROGRAMS")) return std::max(1, std::atoi(env));
    return 2500;
}

}  // namespace

TEST(Fuzz, RandomProgramsSaveAndLoadBackIntoAFreshInterpreter) {
    const std::uint32_t seed = ProgramSeed();
    const int count = ProgramCount();
    std::cout << "random programs: " << count << ", seed " << seed << " (ZORVEX_FUZZ_SEED)\n";
    ProgramGenerator generator(seed);
    int saved = 0;
    for (int i = 0; i < count; ++i) {
        TMathInterpreter mi;
        mi.SetMaxFunctionNesting(50);
        if (i % 7 == 0) mi.SetCaseSensitiveSymbols(true);
        std::string program;
        const auto statements = generator.Program();
        mi.SetEscapeChar(generator.Escape());
        for (const auto& statement : statements) {
            program += statement.text + ";";
            TStrings errors;
            try {
                mi.Execute(statement.text, &errors);
            } catch (const Exception& e) {
                ADD_FAILURE() << "Execute with an error list raised: " << e.what() << "\n" << statement.text;
            }
            const bool asWritten = DefinedAsWritten(mi, statement.name, statement.parameters);
            for (int k = 0; k < errors.Count(); ++k) {
                ASSERT_EQ(errors[k].find("Assertion failed"), std::string::npos) << errors[k] << "\n" << program;
                // A parameter hides a function of its name: no binding error for it.
                for (const std::string& p : statement.parameters) {
                    if (asWritten) {
                        EXPECT_EQ(errors[k].find("Reference: \"" + p + "\""), std::string::npos)
                            << errors[k] << "\n" << program;
                    }
                }
            }
            if (statement.malformed) {
                EXPECT_GT(errors.Count(), 0) << "malformed arguments accepted: " << statement.text;
            }
        }
        std::ostringstream out;
        try {
            mi.SaveSymbolsToStream(out);
        } catch (const Exception& e) {
            // The one refusal: a text holding a zero character.
            EXPECT_NE(std::string(e.what()).find("zero character"), std::string::npos) << e.what() << "\n" << program;
            EXPECT_NE(program.find('\0'), std::string::npos) << program;
            EXPECT_EQ(out.str(), "");
            continue;
        }
        TMathInterpreter fresh;
        fresh.SetCaseSensitiveSymbols(mi.CaseSensitiveSymbols());
        fresh.SetEscapeChar(mi.EscapeChar());
        std::istringstream in(out.str());
        try {
            fresh.LoadSymbolsFromStream(in);
        } catch (const Exception& e) {
            ADD_FAILURE() << "saved table does not load: " << e.what() << "\n" << out.str() << "\nfrom: " << program;
            continue;
        }
        const std::string escape = "escape character " + std::to_string(static_cast<unsigned char>(mi.EscapeChar()));
        EXPECT_EQ(fresh.DumpStreamable(), out.str()) << escape << "\n" << program;
        EXPECT_EQ(fresh.Dump(";", dfQualified), mi.Dump(";", dfQualified)) << escape << "\n" << program;
        ++saved;
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(saved, count / 2);
}

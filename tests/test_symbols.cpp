// Symbols and the symbol table, references, and the interpreter's published
// face: properties, dumps and the unknown-symbol event.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <sstream>
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





// A variable created the way a host creates one: position and list first,
// then the name, then the table entry.
TMVar* AddVar(TMSymbols& list, const std::string& name, int position = 0) {
    auto var = std::make_unique<TMVar>();
    var->ParsePosition = position;
    var->List = &list;
    var->SetIdentifier(name);
    list.Add(var.get());
    return var.release();
}

const char* const kBusy = " while an expression is being evaluated.";

bool IsBusyError(const std::string& message) {
    return message.rfind("TMathInterpreter can't ", 0) == 0 && message.size() > std::string(kBusy).size() &&
           message.compare(message.size() - std::string(kBusy).size(), std::string::npos, kBusy) == 0;
}

}  // namespace

// ---------------------------------------------------------------- identifiers

TEST(Identifiers, CaseInsensitiveTableFindsAndRejectsOtherSpelling) {
    TMathInterpreter mi;
    mi.ExecuteExpression("X = 1");
    EXPECT_VALUE(mi.ExecuteExpression("x"), Variant(1));
    EXPECT_TRUE(mi.SymbolExists("x"));
    EXPECT_EQ(mi.Symbols().FindSymbolIndex("x"), 0);
    // An assignment to the other spelling reaches the same variable.
    mi.ExecuteExpression("x = 2");
    EXPECT_EQ(mi.SymbolCount(), 1);
    EXPECT_VALUE(mi.ExecuteExpression("X"), Variant(2));
    EXPECT_EQ(mi.Symbols().FindSymbol("x")->Identifier(), "X");

    auto other = std::make_unique<TMVar>();
    other->ParsePosition = 7;
    other->List = &mi.Symbols();
    EXPECT_ERROR(other->SetIdentifier("x"), "TMSymbol.SetIdentifier() Symbol: \"x\" (position: 7) already exists.");
    EXPECT_EQ(other->Identifier(), "");
}

TEST(Identifiers, CaseSensitiveTableKeepsSpellingsApart) {
    TMathInterpreter mi;
    mi.SetCaseSensitiveSymbols(true);
    mi.ExecuteExpression("X = 1");
    mi.ExecuteExpression("x = 2");
    EXPECT_EQ(mi.SymbolCount(), 2);
    EXPECT_VALUE(mi.ExecuteExpression("X"), Variant(1));
    EXPECT_VALUE(mi.ExecuteExpression("x"), Variant(2));
    mi.ExecuteExpression("Y = x");
    EXPECT_VALUE(mi.ExecuteExpression("Y"), Variant(2));
    EXPECT_ERROR(mi.ExecuteExpression("y"), "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 1.");
}

TEST(Identifiers, CaseSensitivityAppliesToLargeTables) {
    // Many symbols: the lookup must follow the same rule as for a few.
    TMathInterpreter mi;
    for (int i = 0; i < 40; ++i) mi.ExecuteExpression("v" + std::to_string(i) + " = " + std::to_string(i));
    EXPECT_EQ(mi.Symbols().FindSymbolIndex("V17"), 17);
    mi.SetCaseSensitiveSymbols(true);
    EXPECT_EQ(mi.Symbols().FindSymbolIndex("V17"), -1);
    EXPECT_EQ(mi.Symbols().FindSymbolIndex("v17"), 17);
    mi.ExecuteExpression("V17 = 100");
    EXPECT_EQ(mi.SymbolCount(), 41);
    EXPECT_VALUE(mi.ExecuteExpression("v17"), Variant(17));
    EXPECT_VALUE(mi.ExecuteExpression("V17"), Variant(100));
}

TEST(Identifiers, OnlyAsciiLettersAreFolded) {
    TMathInterpreter mi;
    AddVar(mi.Symbols(), "\xE9t\xE9");  // Latin-1 e acute
    EXPECT_TRUE(mi.SymbolExists("\xE9t\xE9"));
    EXPECT_TRUE(mi.SymbolExists("\xE9T\xE9"));
    EXPECT_FALSE(mi.SymbolExists("\xC9T\xC9"));  // E acute is another letter here
    EXPECT_TRUE(mi.IsEqualString("abc", "ABC"));
    EXPECT_FALSE(mi.IsEqualString("\xE9", "\xC9"));
    EXPECT_FALSE(mi.IsEqualString("a", "a "));
    mi.SetCaseSensitiveSymbols(true);
    EXPECT_FALSE(mi.IsEqualString("abc", "ABC"));
    EXPECT_TRUE(mi.IsEqualString("abc", "abc"));
}

TEST(Identifiers, BlankAndPaddedNames) {
    TMathInterpreter mi;
    auto blank = std::make_unique<TMVar>();
    blank->List = &mi.Symbols();
    EXPECT_ERROR(blank->SetIdentifier(""), "TMSymbol.SetIdentifier() Symbol identifier can't be empty string.");
    EXPECT_ERROR(blank->SetIdentifier(" \t\r\n "), "TMSymbol.SetIdentifier() Symbol identifier can't be empty string.");

    TMVar* padded = AddVar(mi.Symbols(), " a ");
    EXPECT_EQ(padded->Identifier(), " a ");
    // The padded name is stored as given, so lookup by the bare name misses it.
    EXPECT_FALSE(mi.SymbolExists("a"));
    EXPECT_TRUE(mi.SymbolExists(" a "));

    TMathInterpreter other;
    AddVar(other.Symbols(), "a");
    auto dup = std::make_unique<TMVar>();
    dup->ParsePosition = 4;
    dup->List = &other.Symbols();
    // The duplicate check uses the trimmed name.
    EXPECT_ERROR(dup->SetIdentifier("  a\t"), "TMSymbol.SetIdentifier() Symbol: \"a\" (position: 4) already exists.");
}

TEST(Identifiers, RenamingToOwnNameAndToTakenName) {
    TMathInterpreter mi;
    mi.Execute("a = 1; b = 2");
    auto* a = mi.Symbols().FindSymbol("a");
    ASSERT_NE(a, nullptr);
    EXPECT_NO_THROW(a->SetIdentifier("a"));
    EXPECT_NO_THROW(a->SetIdentifier("A"));
    EXPECT_EQ(a->Identifier(), "A");
    EXPECT_ERROR(a->SetIdentifier("B"), "TMSymbol.SetIdentifier() Symbol: \"B\" (position: 1) already exists.");
    EXPECT_EQ(a->Identifier(), "A");
    a->SetIdentifier("c");
    EXPECT_TRUE(mi.SymbolExists("c"));
    EXPECT_FALSE(mi.SymbolExists("a"));
    EXPECT_VALUE(mi.ExecuteExpression("c + b"), Variant(3));
}

TEST(Identifiers, NullEntriesAreSkipped) {
    TMathInterpreter mi;
    for (int size : {1, 20}) {
        TMSymbols list;
        list.Interpreter = &mi;
        list.Add(nullptr);
        for (int i = 0; i < size; ++i) AddVar(list, "v" + std::to_string(i));
        list.Add(nullptr);
        EXPECT_EQ(list.FindSymbolIndex("v0"), 1);
        EXPECT_EQ(list.FindSymbolIndex("V" + std::to_string(size - 1)), size);
        EXPECT_EQ(list.FindSymbolIndex("nosuch"), -1);
        EXPECT_EQ(list.FindSymbol("nosuch"), nullptr);
        list.FreeAndClear();
    }
}

TEST(Identifiers, TablesOfTwoInterpretersAreIndependent) {
    TMathInterpreter one, two;
    two.SetCaseSensitiveSymbols(true);
    one.ExecuteExpression("X = 1");
    two.ExecuteExpression("X = 1");
    EXPECT_TRUE(one.SymbolExists("x"));
    EXPECT_FALSE(two.SymbolExists("x"));
}

// The name index follows every change of a large table (values, deletes
// left waiting to be compacted, variables replaced by functions, renames):
// lookups, handles and the table order agree with a plain list of the names.
TEST(Identifiers, IndexFollowsEveryChangeOfTheTable) {
    TMathInterpreter mi;
    std::vector<std::string> model;  // as spelled, in table order; "()" marks a function
    for (int i = 0; i < 20; ++i) {
        model.push_back("v" + std::to_string(i));
        mi.ExecuteExpression(model.back() + " = " + std::to_string(i));
    }
    const std::vector<std::string> pool = {"x", "X", "y", "Long_Name", "LONG_NAME", "z9", "f", "v3"};
    auto upper = [](std::string t) {
        for (char& c : t) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        return t;
    };
    auto name = [](const std::string& entry) { return entry.substr(0, entry.find('(')); };
    auto find = [&](const std::string& n) {
        for (std::size_t i = 0; i < model.size(); ++i)
            if (upper(name(model[i])) == upper(n)) return static_cast<int>(i);
        return -1;
    };
    std::mt19937 rng(16u);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (int step = 0; step < 1500; ++step) {
        const std::string n = pool[pick(pool.size())];
        const int at = find(n);
        const bool function = at >= 0 && model[static_cast<std::size_t>(at)].find('(') != std::string::npos;
        switch (pick(4)) {
            case 0: {
                const std::string error = ErrorOf([&] { mi.ExecuteExpression(n + " = 1"); });
                EXPECT_EQ(error.find("must reference to variable") != std::string::npos, function) << error;
                if (at < 0) model.push_back(n);
                break;
            }
            case 1:
                EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("delete " + n); }) == "<no exception>", at >= 0);
                if (at >= 0) model.erase(model.begin() + at);
                break;
            case 2:
                mi.ExecuteExpression(n + " := 1");
                if (at < 0) model.push_back(n + "()");
                else model[static_cast<std::size_t>(at)] = name(model[static_cast<std::size_t>(at)]) + "()";
                break;
            case 3:
                if (at >= 0) {
                    const std::string to = pool[pick(pool.size())];
                    const int taken = find(to);
                    auto* symbol = static_cast<TMSymbol*>(mi.Symbols().Get(at));
                    symbol->UpdateReferences = pick(2) == 0;
                    const std::string error = ErrorOf([&] { symbol->SetIdentifier(to); });
                    EXPECT_EQ(error == "<no exception>", taken < 0 || taken == at) << error;
                    if (taken < 0 || taken == at)
                        model[static_cast<std::size_t>(at)] = to + (function ? "()" : "");
                }
                break;
        }
        // Lookups by name leave deleted entries waiting; the full check,
        // every few steps, compacts them.
        for (const std::string& p : pool)
            EXPECT_EQ(ErrorOf([&] { mi.DumpSymbol(p, 0); }) == "<no exception>", find(p) >= 0) << p << " step " << step;
        if (step % 7 != 0) continue;
        ASSERT_EQ(mi.SymbolCount(), static_cast<int>(model.size())) << "step " << step;
        for (std::size_t i = 0; i < model.size(); ++i) {
            EXPECT_EQ(static_cast<TMSymbol*>(mi.Symbols()[static_cast<int>(i)])->Identifier(), name(model[i]));
            if (model[i].find('(') == std::string::npos) {
                EXPECT_EQ(mi.GetVariableHandles(upper(name(model[i]))), static_cast<int>(i));
            }
        }
    }
}

// ---------------------------------------------------------------- symbol dumps

TEST(SymbolDump, VariablesPlainAndDetailed) {
    TMathInterpreter mi;
    mi.ExecuteExpression("s = 'it''s'");
    EXPECT_EQ(mi.DumpSymbol("s", 0), "s='it''s'");
    EXPECT_EQ(mi.DumpSymbol("s", dfDetailed), "TMVar[\"s\"]('it''s')");
    mi.ExecuteExpression("x = 5");
    EXPECT_EQ(mi.DumpSymbol("X", 0), "x=5");
    EXPECT_EQ(mi.DumpSymbol("x", dfDetailed | dfQualified), "TMVar[\"x\"](5)");
    mi.ExecuteExpression("b = 1 < 2");
    EXPECT_EQ(mi.DumpSymbol("b", 0), "b=True");
    mi.ExecuteExpression("r = 7 / 2");
    EXPECT_EQ(mi.DumpSymbol("r", 0), "r=3.5");
    mi.SetVariables("x", Variant::Null());
    EXPECT_EQ(mi.DumpSymbol("x", 0), "x=");
    mi.SetVariables("x", Variant());
    EXPECT_EQ(mi.DumpSymbol("x", 0), "x=");
    EXPECT_ERROR(mi.DumpSymbol("nosuch", 0), "TMathInterpreter.DumpSymbol() Symbol: \"nosuch\" does not exist.");
}

TEST(SymbolDump, EscapeCharacterInPlainDumps) {
    TMathInterpreter mi;
    mi.SetEscapeChar('\\');
    mi.ExecuteExpression("s = 'a\\\\b\\'c'");
    EXPECT_VALUE(mi.GetVariables("s"), Variant("a\\b'c"));
    const std::string plain = mi.DumpSymbol("s", 0);
    // The symbol's own dump reads the setting through its interpreter.
    EXPECT_EQ(mi.Symbols().Get(0)->Dump(0), plain);
    // Read back under the same escape character, the text gives the same value.
    TMathInterpreter back;
    back.SetEscapeChar('\\');
    back.ExecuteExpression(plain);
    EXPECT_VALUE(back.GetVariables("s"), Variant("a\\b'c"));
    mi.ExecuteExpression("f := 'x\\\\y'");
    TMathInterpreter back2;
    back2.SetEscapeChar('\\');
    back2.ExecuteExpression(mi.DumpSymbol("f", 0));
    EXPECT_VALUE(back2.ExecuteExpression("f"), Variant("x\\y"));
    EXPECT_EQ(mi.Symbols().Get(1)->Dump(0), mi.DumpSymbol("f", 0));
}

// ---------------------------------------------------------------- references

TEST(References, UndefinedNameAsksTheHandlerEachTime) {
    TMathInterpreter mi;
    EXPECT_ERROR(mi.ExecuteExpression("x"), "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.");
    EXPECT_ERROR(mi.ExecuteExpression("1 + zz"),
                 "TMVarRef.GetValue() Referenced symbol: \"zz\" is not defied, position: 5.");
    int calls = 0;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string& name, const Variant& params, Variant& value) {
        ++calls;
        EXPECT_EQ(&sender, &mi);
        EXPECT_TRUE(params.IsNull());
        EXPECT_TRUE(value.IsEmpty());
        if (name == "x") value = Variant(7);
    });
    EXPECT_VALUE(mi.ExecuteExpression("x"), Variant(7));
    EXPECT_VALUE(mi.ExecuteExpression("x * x"), Variant(49));
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_EQ(mi.SymbolCount(), 0);
    EXPECT_ERROR(mi.ExecuteExpression("y"), "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 1.");
}

TEST(References, ParameterlessFunctionsOnly) {
    TMathInterpreter mi;
    mi.ExecuteExpression("f(x) := x * 2");
    EXPECT_ERROR(mi.ExecuteExpression("f"),
                 "TMVarRef.Rewire() Reference: \"f\" (position: 1) must point to parameterless function.");
    EXPECT_ERROR(mi.ExecuteExpression("1 + f"),
                 "TMVarRef.Rewire() Reference: \"f\" (position: 5) must point to parameterless function.");
    mi.ExecuteExpression("g := 5");
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(5));
    EXPECT_VALUE(mi.ExecuteExpression("g()"), Variant(5));
    // A body that names a function with parameters without brackets.
    EXPECT_ERROR(mi.ExecuteExpression("h := f + 1"),
                 "TMVarRef.Rewire() Reference: \"f\" (position: 6) must point to parameterless function.");
}

TEST(References, WritesThroughReferences) {
    TMathInterpreter mi;
    int h = mi.PrepareExpression("y");
    auto* root = static_cast<TMValue*>(mi.PreparedExpressions()[h]);
    EXPECT_ERROR(root->SetValue(Variant(5)), "TMReference.SetValue() Referenced symbol: \"y\" is not defied, position: 1.");
    Variant seen;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        EXPECT_EQ(name, "y");
        EXPECT_TRUE(params.IsNull());
        seen = value;
        value.Clear();  // taken
    });
    EXPECT_NO_THROW(root->SetValue(Variant(5)));
    EXPECT_VALUE(seen, Variant(5));
    EXPECT_EQ(mi.SymbolCount(), 0);

    mi.SetOnUnknownSymbol(nullptr);
    mi.Execute("x = 1; g := 5");
    int hx = mi.PrepareExpression("x");
    static_cast<TMValue*>(mi.PreparedExpressions()[hx])->SetValue(Variant("new"));
    EXPECT_VALUE(mi.GetVariables("x"), Variant("new"));
    int hg = mi.PrepareExpression("g");
    EXPECT_ERROR(static_cast<TMValue*>(mi.PreparedExpressions()[hg])->SetValue(Variant(1)),
                 "TMValue.SetValue() Read only value.");
    EXPECT_VALUE(mi.ExecuteExpression("g"), Variant(5));
}

TEST(References, RenameFollowsOrCutsBodies) {
    for (bool update : {false, true}) {
        TMathInterpreter mi;
        mi.Execute("a = 1; f := a + 1");
        TMSymbol* a = mi.Symbols().FindSymbol("a");
        a->UpdateReferences = update;
        a->SetIdentifier("b");
        if (update) {
            EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(2));
            EXPECT_EQ(mi.DumpSymbol("f", 0), "f():=b+1");
        } else {
            EXPECT_ERROR(mi.ExecuteExpression("f"),
                         "TMVarRef.GetValue() Referenced symbol: \"a\" is not defied, position: 7. Most outer "
                         "function: \"f\".");
            EXPECT_EQ(mi.DumpSymbol("f", 0), "f():=a+1");
            // A new symbol of the old name binds again.
            mi.ExecuteExpression("a = 10");
            EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(11));
        }
    }
}

TEST(References, NewSymbolBindsExistingBodiesUnlessShadowed) {
    TMathInterpreter mi;
    mi.Execute("f := k * 2; p(k) := k + 1");
    EXPECT_ERROR(mi.ExecuteExpression("f"),
                 "TMVarRef.GetValue() Referenced symbol: \"k\" is not defied, position: 6. Most outer function: \"f\".");
    mi.ExecuteExpression("k = 4");
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(8));
    EXPECT_VALUE(mi.ExecuteExpression("p(1)"), Variant(2));  // the parameter shadows the variable
    mi.ExecuteExpression("K := 10");                          // variable replaced by a function
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(20));
    EXPECT_VALUE(mi.ExecuteExpression("p(1)"), Variant(2));
}

TEST(References, ParameterReferenceDumps) {
    TMathInterpreter mi;
    mi.Execute("y = 1; f(x) := x * 2 + y");
    EXPECT_EQ(mi.DumpSymbol("f", 0), "f(x):=x*2+y");
    EXPECT_EQ(mi.DumpSymbol("f", dfQualified), "f(x):=f.x*2+y");
    EXPECT_EQ(mi.DumpSymbol("f", dfDetailed),
              "TMFunction[\"f\"](TMParam[\"x\"]){TMPlus(TMMultiply(TMVarRef<\"x\">,TMLiteral(2)),TMVarRef<\"y\">)}");
    EXPECT_EQ(mi.DumpSymbol("f", dfDetailed | dfQualified),
              "TMFunction[\"f\"](TMParam[\"x\"]){TMPlus(TMMultiply(TMVarRef<\"f.x\">,TMLiteral(2)),TMVarRef<\"y\">)}");
}

// ---------------------------------------------------------------- properties

TEST(Properties, InitialValues) {
    TMathInterpreter mi;
    EXPECT_FALSE(mi.CaseSensitiveSymbols());
    EXPECT_EQ(mi.DumpFormat(), dfQualified);
    EXPECT_EQ(mi.EscapeChar(), '\0');
    EXPECT_EQ(mi.Expression(), "");
    EXPECT_EQ(mi.ExpressionResult(), "");
    EXPECT_EQ(mi.MaxFunctionNesting(), 1000u);
    EXPECT_FALSE(static_cast<bool>(mi.OnUnknownSymbol()));
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    EXPECT_EQ(mi.SymbolCount(), 0);
    EXPECT_EQ(mi.DumpText(), "");
}

TEST(Properties, ExpressionAndResult) {
    TMathInterpreter mi;
    mi.SetExpression("1+2");
    EXPECT_EQ(mi.Expression(), "1+2");
    EXPECT_EQ(mi.ExpressionResult(), "3");
    mi.SetExpression("x = 'abc'");
    EXPECT_EQ(mi.ExpressionResult(), "abc");
    EXPECT_VALUE(mi.GetVariables("x"), Variant("abc"));
    mi.SetExpression("0.1 + 0.2");
    EXPECT_EQ(mi.ExpressionResult(), "0.3");

    const std::string err = ErrorOf([&] { mi.ExecuteExpression("1+"); });
    ASSERT_NE(err, "<no exception>");
    EXPECT_THROW(mi.SetExpression("1+"), Exception);
    EXPECT_EQ(mi.Expression(), "1+");  // kept although it failed
    EXPECT_EQ(mi.ExpressionResult(), "");

    std::vector<std::string> shown;
    mi.SetDesigning(true);
    mi.ShowException = [&](const Exception& e) { shown.push_back(e.Message()); };
    EXPECT_NO_THROW(mi.SetExpression("1+"));
    EXPECT_EQ(mi.ExpressionResult(), err);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], err);
    mi.SetExpression("2*3");
    EXPECT_EQ(mi.ExpressionResult(), "6");
}

TEST(Properties, DisplayOnlyProperties) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.SetDumpText("y = 2"), "TMathInterpreter.DumpText property is for display purposes only.");
    EXPECT_ERROR(mi.SetExpressionResult("5"), "TMathInterpreter.ExpressionResult property is for display purposes only.");
    EXPECT_EQ(mi.SymbolCount(), 1);
    EXPECT_EQ(mi.DumpText(), "x=1");
    EXPECT_EQ(mi.ExpressionResult(), "");
}

TEST(Properties, DumpOfTheTable) {
    TMathInterpreter mi;
    EXPECT_EQ(mi.Dump(";\r\n", 0), "");
    mi.ExecuteExpression("x = 5");
    mi.ExecuteExpression("s = 'a'");
    EXPECT_EQ(mi.Dump(";\r\n", 0), "x=5;\r\ns='a'");
    EXPECT_EQ(mi.Dump("|", dfDetailed), "TMVar[\"x\"](5)|TMVar[\"s\"]('a')");
    mi.ExecuteExpression("f(a) := a * x");
    // DumpText follows DumpFormat, qualified at first.
    EXPECT_EQ(mi.DumpText(), "x=5;\r\ns='a';\r\nf(a):=f.a*x");
    mi.SetDumpFormat(0);
    EXPECT_EQ(mi.DumpText(), "x=5;\r\ns='a';\r\nf(a):=a*x");
    mi.SetDumpFormat(dfDetailed);
    EXPECT_EQ(mi.DumpText(),
              "TMVar[\"x\"](5);\r\nTMVar[\"s\"]('a');\r\nTMFunction[\"f\"](TMParam[\"a\"]){TMMultiply(TMVarRef<\"a\">,"
              "TMVarRef<\"x\">)}");
}

TEST(Properties, SymbolExistsFollowsCaseSensitivity) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    EXPECT_TRUE(mi.SymbolExists("X"));
    EXPECT_FALSE(mi.SymbolExists("y"));
    mi.SetCaseSensitiveSymbols(true);  // false to true keeps the table
    EXPECT_EQ(mi.SymbolCount(), 1);
    EXPECT_FALSE(mi.SymbolExists("X"));
    EXPECT_TRUE(mi.SymbolExists("x"));
    mi.SetCaseSensitiveSymbols(true);  // same value again keeps it too
    EXPECT_EQ(mi.SymbolCount(), 1);
    mi.Execute("X = 2; f := x + X");
    EXPECT_VALUE(mi.ExecuteExpression("f"), Variant(3));
    mi.SetCaseSensitiveSymbols(false);  // true to false empties it
    EXPECT_FALSE(mi.CaseSensitiveSymbols());
    EXPECT_EQ(mi.SymbolCount(), 0);
    EXPECT_EQ(mi.DumpText(), "");
    mi.SetCaseSensitiveSymbols(false);
    mi.ExecuteExpression("x = 3");
    EXPECT_VALUE(mi.ExecuteExpression("X"), Variant(3));
}

TEST(Properties, ClearSymbols) {
    TMathInterpreter mi;
    mi.Execute("a = 1; f(x) := x + a; g := f(2)");
    EXPECT_EQ(mi.SymbolCount(), 3);
    mi.ClearSymbols();
    EXPECT_EQ(mi.SymbolCount(), 0);
    EXPECT_FALSE(mi.SymbolExists("f"));
    mi.ClearSymbols();
    mi.ExecuteExpression("a = 2");
    EXPECT_VALUE(mi.ExecuteExpression("a"), Variant(2));
}

TEST(Properties, MaxFunctionNestingIsReadByCalls) {
    TMathInterpreter mi;
    mi.Execute("b := 2; a := b + 1");
    mi.SetMaxFunctionNesting(1);
    EXPECT_EQ(mi.MaxFunctionNesting(), 1u);
    EXPECT_VALUE(mi.ExecuteExpression("b"), Variant(2));
    EXPECT_ERROR(mi.ExecuteExpression("a"),
                 "TMFunction.GetValue() Function nesting level too deep (function: \"b\", position: 1). Most outer "
                 "function: \"a\".");
    mi.SetMaxFunctionNesting(4294967295u);
    EXPECT_VALUE(mi.ExecuteExpression("a"), Variant(3));
}

// ---------------------------------------------------------------- the unknown-symbol event

TEST(UnknownSymbolEvent, CallsGetTheArguments) {
    TMathInterpreter mi;
    std::vector<std::string> names;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant& params, Variant& value) {
        names.push_back(name);
        if (name == "Seven") value = Variant(7);
        if (name == "sum" && params.IsArray()) {
            int total = 0;
            for (const Variant& p : params.ArrayItems()) total += VarToInt(p);
            value = Variant(total);
        }
    });
    EXPECT_VALUE(mi.ExecuteExpression("Seven + sum(1, 2, 3) + sum()"), Variant(13));
    EXPECT_EQ(names, (std::vector<std::string>{"Seven", "sum", "sum"}));
    EXPECT_ERROR(mi.ExecuteExpression("seven"),
                 "TMVarRef.GetValue() Referenced symbol: \"seven\" is not defied, position: 1.");
    mi.SetOnUnknownSymbol(nullptr);
    EXPECT_ERROR(mi.ExecuteExpression("Seven"),
                 "TMVarRef.GetValue() Referenced symbol: \"Seven\" is not defied, position: 1.");
}

TEST(UnknownSymbolEvent, DoUnknownSymbolCanBeOverridden) {
    struct Answering : TMathInterpreter {
        void DoUnknownSymbol(const std::string& name, const Variant&, Variant& value) override {
            value = Variant(std::string("<") + name + ">");
        }
    } mi;
    EXPECT_VALUE(mi.ExecuteExpression("abc + q(1)"), Variant("<abc><q>"));
}

TEST(UnknownSymbolEvent, HandlerErrorsPropagateAndLeaveStateIntact) {
    TMathInterpreter mi;
    mi.Execute("x = 1; f(a) := a + u");
    mi.SetOnUnknownSymbol([](TMathInterpreter&, const std::string&, const Variant&, Variant&) {
        throw Exception("host says no");
    });
    EXPECT_ERROR(mi.ExecuteExpression("u"), "host says no");
    EXPECT_ERROR(mi.ExecuteExpression("f(1)"), "host says no Most outer function: \"f\".");
    EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
    EXPECT_EQ(mi.SymbolCount(), 2);
    EXPECT_VALUE(mi.ExecuteExpression("x + 1"), Variant(2));
}

// Freeing what an evaluation is using must be refused while it runs.
TEST(UnknownSymbolEvent, HandlerCannotFreeWhatTheEvaluationUses) {
    TMathInterpreter mi;
    mi.Execute("x = 1; f := 2; v = 3; g(a) := a + u");
    const int prepared = mi.PrepareExpression("x + f");
    std::string action;
    std::string caught;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string&, const Variant&, Variant& value) {
        try {
            if (action == "clear") sender.ClearSymbols();
            if (action == "delete") sender.ExecuteExpression("delete x");
            if (action == "redefine") sender.ExecuteExpression("f := 5");
            if (action == "redefine-var") sender.ExecuteExpression("v := 5");
            if (action == "free") sender.FreePreparedExpression(prepared);
            if (action == "clear-prepared") sender.ClearPreparedExpressions();
            if (action == "prepare-delete") sender.PrepareExpression("delete x");
            if (action == "load") {
                std::istringstream in("y=1");
                sender.LoadSymbolsFromStream(in);
            }
        } catch (const Exception& e) {
            caught = e.Message();
            throw;
        }
        value = Variant(100);
    });
    const std::string dumpBefore = mi.Dump(";", 0);
    for (const char* a : {"clear", "delete", "redefine", "redefine-var", "free", "clear-prepared", "prepare-delete",
                          "load"}) {
        SCOPED_TRACE(a);
        action = a;
        caught.clear();
        const std::string direct = ErrorOf([&] { mi.ExecuteExpression("u + 1"); });
        EXPECT_TRUE(IsBusyError(caught)) << caught;
        EXPECT_EQ(direct, caught);
        caught.clear();
        const std::string nested = ErrorOf([&] { mi.ExecuteExpression("g(1)"); });
        EXPECT_TRUE(IsBusyError(caught)) << caught;
        EXPECT_EQ(nested, caught + " Most outer function: \"g\".");
        EXPECT_EQ(mi.FunctionNestingLevel(), 0u);
        EXPECT_EQ(mi.Dump(";", 0), dumpBefore);
        ASSERT_TRUE(mi.IsValidPreparedExpression(prepared));
        EXPECT_VALUE(mi.ExecutePreparedExpression(prepared), Variant(3));
    }
    // Harmless work from the handler is allowed: reading, assigning, new names.
    action = "";
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string& name, const Variant&, Variant& value) {
        if (name != "u") return;
        sender.ExecuteExpression("w = x + 10");
        if (!sender.SymbolExists("nf")) sender.ExecuteExpression("nf(q) := q * 2");
        value = sender.ExecuteExpression("nf(w)");
    });
    EXPECT_VALUE(mi.ExecuteExpression("u"), Variant(22));
    EXPECT_VALUE(mi.ExecuteExpression("g(1)"), Variant(23));
    // Outside any evaluation the same operations work again.
    mi.ExecuteExpression("delete x");
    mi.FreePreparedExpression(prepared);
    mi.ClearSymbols();
    EXPECT_EQ(mi.SymbolCount(), 0);
}

TEST(UnknownSymbolEvent, HandlerCannotSwitchCaseSensitivityOff) {
    TMathInterpreter mi;
    mi.SetCaseSensitiveSymbols(true);
    mi.ExecuteExpression("x = 1");
    const int prepared = mi.PrepareExpression("x + u");
    std::string caught;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string&, const Variant&, Variant& value) {
        try {
            sender.SetCaseSensitiveSymbols(false);
        } catch (const Exception& e) {
            caught = e.Message();
        }
        value = Variant(1);
    });
    EXPECT_VALUE(mi.ExecutePreparedExpression(prepared), Variant(2));
    EXPECT_TRUE(IsBusyError(caught)) << caught;
    EXPECT_TRUE(mi.CaseSensitiveSymbols());
    EXPECT_EQ(mi.SymbolCount(), 1);
    EXPECT_VALUE(mi.ExecutePreparedExpression(prepared), Variant(2));
}

// Prepared expressions and variable handles, symbol persistence through
// streams, files and the form property, and the life of prepared trees while
// the symbols they name come and go.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "TestSupport.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;
using zorvex::testing::Show;
namespace fs = std::filesystem;

namespace {





Variant Array(std::initializer_list<Variant> items) {
    Variant a = Variant::Array(items.size());
    int i = 0;
    for (const Variant& v : items) a.ArrayPut(i++, v);
    return a;
}

std::string Saved(TMathInterpreter& mi) {
    std::ostringstream out(std::ios::binary);
    mi.SaveSymbolsToStream(out);
    return out.str();
}

void Load(TMathInterpreter& mi, const std::string& text) {
    std::istringstream in(text, std::ios::binary);
    mi.LoadSymbolsFromStream(in);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zorvex-prepared-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

const std::string kUndefinedX = "TMVarRef.GetValue() Referenced symbol: \"x\" is not defied, position: 1.";

}  // namespace

// ---------------------------------------------------------------- handles

TEST(Prepared, HandlesAreReusedLowestFirst) {
    TMathInterpreter mi;
    EXPECT_EQ(mi.PrepareExpression("1"), 0);
    EXPECT_EQ(mi.PrepareExpression("2"), 1);
    EXPECT_EQ(mi.PrepareExpression("3"), 2);
    mi.FreePreparedExpression(0);
    mi.FreePreparedExpression(1);
    EXPECT_FALSE(mi.IsValidPreparedExpression(0));
    EXPECT_EQ(mi.PrepareExpression("4"), 0);
    EXPECT_EQ(mi.PrepareExpression("5"), 1);
    EXPECT_EQ(mi.PrepareExpression("6"), 3);
    EXPECT_VALUE(mi.ExecutePreparedExpression(0), Variant(4));
    EXPECT_VALUE(mi.ExecutePreparedExpression(2), Variant(3));
    EXPECT_VALUE(mi.ExecutePreparedExpression(2), Variant(3));  // stays prepared
    mi.ClearPreparedExpressions();
    EXPECT_FALSE(mi.IsValidPreparedExpression(0));
    EXPECT_EQ(mi.PrepareExpression("7"), 0);
}

TEST(Prepared, EmptyAndFailingTextsLeaveTheSlotFree) {
    TMathInterpreter mi;
    EXPECT_ERROR(mi.PrepareExpression(""), "TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    EXPECT_ERROR(mi.PrepareExpression("  \t"), "TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    EXPECT_FALSE(mi.IsValidPreparedExpression(0));
    EXPECT_ERROR(mi.PrepareExpression("(1+2"), "TMathInterpreter.RPN() Unclosed left bracket on position: 1.");
    EXPECT_FALSE(mi.IsValidPreparedExpression(0));
    EXPECT_EQ(mi.PrepareExpression("1+2"), 0);
    EXPECT_EQ(mi.PreparedExpressions().Count(), 1);

    mi.ExecuteExpression("x = 1");
    EXPECT_ERROR(mi.PrepareExpression("delete x"), "TMathInterpreter.PrepareExpression() Can't prepare empty expression.");
    EXPECT_FALSE(mi.SymbolExists("x"));
    EXPECT_FALSE(mi.IsValidPreparedExpression(1));
    EXPECT_EQ(mi.PrepareExpression("2"), 1);
}

TEST(Prepared, InvalidHandles) {
    TMathInterpreter mi;
    const std::string exec = "TMathInterpreter.ExecutePreparedExpression() Invalid prepared expression handle.";
    const std::string fre = "TMathInterpreter.FreePreparedExpression() Invalid prepared expression handle.";
    EXPECT_ERROR(mi.ExecutePreparedExpression(0), exec);
    mi.PrepareExpression("1");
    mi.PrepareExpression("2");
    EXPECT_ERROR(mi.ExecutePreparedExpression(-1), exec);
    EXPECT_ERROR(mi.ExecutePreparedExpression(2), exec);
    EXPECT_FALSE(mi.IsValidPreparedExpression(-1));
    EXPECT_FALSE(mi.IsValidPreparedExpression(2));
    mi.FreePreparedExpression(1);
    EXPECT_ERROR(mi.ExecutePreparedExpression(1), exec);
    EXPECT_ERROR(mi.FreePreparedExpression(1), fre);
    EXPECT_ERROR(mi.FreePreparedExpression(-1), fre);
    EXPECT_ERROR(mi.FreePreparedExpression(7), fre);
    EXPECT_VALUE(mi.ExecutePreparedExpression(0), Variant(1));
}

TEST(Prepared, VariablesByHandleAndByName) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 3");
    const int h = mi.PrepareExpression("x*2");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6));
    const int vx = mi.GetVariableHandles("X");
    EXPECT_EQ(vx, 0);
    mi.SetVariablesByHandle(vx, Variant(5));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(10));
    EXPECT_VALUE(mi.GetVariablesByHandle(vx), Variant(5));
    mi.SetVariables("x", Variant(2.5));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(5.0));
    EXPECT_VALUE(mi.GetVariables("x"), Variant(2.5));
    // The value is copied in.
    Variant s("abc");
    mi.SetVariables("x", s);
    s = Variant("changed");
    EXPECT_VALUE(mi.GetVariables("x"), Variant("abc"));
    // A prepared assignment writes the table each time it runs.
    mi.ExecuteExpression("n = 0");
    const int inc = mi.PrepareExpression("n = n + 1");
    mi.ExecutePreparedExpression(inc);
    mi.ExecutePreparedExpression(inc);
    EXPECT_VALUE(mi.GetVariables("n"), Variant(2));
}

TEST(Prepared, VariableHandleErrors) {
    TMathInterpreter mi;
    mi.Execute("x = 1; f := 2");
    EXPECT_ERROR(mi.GetVariableHandles("nosuch"), "TMathInterpreter.GetVariableHandles() Symbol: \"nosuch\" is not defined.");
    EXPECT_ERROR(mi.GetVariableHandles("f"),
                 "TMathInterpreter.GetVariableHandles() Symbol: \"f\" has type: \"TMFunction\", but type \"TMVarRef\" is "
                 "required.");
    EXPECT_ERROR(mi.GetVariables("nosuch"), "TMathInterpreter.GetVariableHandles() Symbol: \"nosuch\" is not defined.");
    EXPECT_ERROR(mi.SetVariables("f", Variant(1)),
                 "TMathInterpreter.GetVariableHandles() Symbol: \"f\" has type: \"TMFunction\", but type \"TMVarRef\" is "
                 "required.");
    const std::string before = mi.Dump(",", 0);
    EXPECT_THROW(mi.GetVariablesByHandle(2), Exception);
    EXPECT_THROW(mi.GetVariablesByHandle(-1), Exception);
    EXPECT_THROW(mi.SetVariablesByHandle(5, Variant(1)), Exception);
    EXPECT_ERROR(mi.SetVariablesByHandle(1, Variant(1)), "Invalid class typecast");
    EXPECT_ERROR(mi.GetVariablesByHandle(1), "Invalid class typecast");
    EXPECT_EQ(mi.Dump(",", 0), before);
}

TEST(Prepared, HandlesShiftWhenSymbolsAreDeleted) {
    TMathInterpreter mi;
    mi.Execute("a = 1; b = 2; c = 3");
    const int hb = mi.GetVariableHandles("b");
    mi.ExecuteExpression("d = 4");  // appending keeps handles
    EXPECT_VALUE(mi.GetVariablesByHandle(hb), Variant(2));
    mi.ExecuteExpression("delete a");
    EXPECT_VALUE(mi.GetVariablesByHandle(hb), Variant(3));  // now c
}

TEST(Prepared, DeletedAndLaterSymbolsGoThroughTheHandler) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    const int hx = mi.PrepareExpression("x");
    const int hy = mi.PrepareExpression("y");
    EXPECT_VALUE(mi.ExecutePreparedExpression(hx), Variant(1));
    mi.ExecuteExpression("delete x");
    EXPECT_ERROR(mi.ExecutePreparedExpression(hx), kUndefinedX);
    std::vector<std::string> asked;
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant&, Variant& value) {
        asked.push_back(name);
        if (name == "x") value = Variant(9);
        if (name == "y") value = Variant(8);
    });
    EXPECT_VALUE(mi.ExecutePreparedExpression(hx), Variant(9));
    EXPECT_VALUE(mi.ExecutePreparedExpression(hy), Variant(8));
    mi.SetOnUnknownSymbol(nullptr);
    mi.ExecuteExpression("y = 5");
    mi.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string& name, const Variant&, Variant& value) {
        asked.push_back(name);
        value = Variant(7);
    });
    EXPECT_VALUE(mi.ExecutePreparedExpression(hy), Variant(7));  // still asks for y
    EXPECT_EQ(asked, (std::vector<std::string>{"x", "y", "y"}));
    EXPECT_VALUE(mi.ExecuteExpression("y"), Variant(5));
}

// In any order of preparing and freeing, the next handle is the lowest free
// slot, also after the list was changed through its own operations.
TEST(Prepared, FreeSlotsAreTakenLowestFirstInAnyOrder) {
    TMathInterpreter mi;
    std::vector<bool> used;
    std::mt19937 rng(17u);
    for (int step = 0; step < 3000; ++step) {
        const int r = static_cast<int>(rng() % 10);
        if (r < 5) {
            const auto lowest = static_cast<int>(std::find(used.begin(), used.end(), false) - used.begin());
            if (r == 0) {
                EXPECT_ERROR(mi.PrepareExpression("(1"), "TMathInterpreter.RPN() Unclosed left bracket on position: 1.");
                if (lowest == static_cast<int>(used.size())) used.push_back(false);  // the slot was added
                continue;
            }
            ASSERT_EQ(mi.PrepareExpression(std::to_string(step)), lowest) << "step " << step;
            if (lowest == static_cast<int>(used.size())) used.push_back(true);
            used[static_cast<std::size_t>(lowest)] = true;
        } else if (r < 9 && !used.empty()) {
            const int h = static_cast<int>(rng() % used.size());
            EXPECT_EQ(mi.IsValidPreparedExpression(h), used[static_cast<std::size_t>(h)]);
            if (used[static_cast<std::size_t>(h)]) mi.FreePreparedExpression(h);
            used[static_cast<std::size_t>(h)] = false;
        } else if (!used.empty()) {
            // Freed and emptied by hand: the slot becomes free as well.
            const int h = static_cast<int>(rng() % used.size());
            delete mi.PreparedExpressions()[h];
            mi.PreparedExpressions().Put(h, nullptr);
            used[static_cast<std::size_t>(h)] = false;
        }
    }
}

// ---------------------------------------------------------------- trees outliving symbols

// A prepared tree is not offered a rename: it keeps the symbol under its new
// name, and deleting it by that name still unbinds the tree.
TEST(PreparedLifetime, RenamedSymbolStaysBoundUntilDeleted) {
    for (bool update : {false, true}) {
        TMathInterpreter mi;
        mi.Execute("x = 3; w = 1");
        const int h = mi.PrepareExpression("x * 2");
        auto* x = static_cast<TMSymbol*>(mi.Symbols()[0]);
        x->UpdateReferences = update;
        x->SetIdentifier("y");
        x->SetIdentifier("z");
        EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6));
        mi.ExecuteExpression("x = 5");
        EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6));
        mi.ExecuteExpression("delete z");
        EXPECT_ERROR(mi.ExecutePreparedExpression(h), kUndefinedX);
    }
}

// Trees moved or replaced through the list itself are still found when a
// symbol they read goes.
TEST(PreparedLifetime, TreesMovedThroughTheListAreStillUnbound) {
    TMathInterpreter mi;
    mi.Execute("x = 3.5; y = 4.5");
    mi.PrepareExpression("x + 1.0");
    mi.PrepareExpression("y + 1.0");
    mi.PreparedExpressions().Exchange(0, 1);
    mi.ExecuteExpression("delete x");
    EXPECT_VALUE(mi.ExecutePreparedExpression(0), Variant(5.5));
    EXPECT_ERROR(mi.ExecutePreparedExpression(1), kUndefinedX);
    TMItem* tree = mi.PreparedExpressions()[0];
    mi.PreparedExpressions().Put(0, nullptr);
    mi.PreparedExpressions().Add(tree);
    mi.ExecuteExpression("delete y");
    EXPECT_ERROR(mi.ExecutePreparedExpression(2),
                 "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied, position: 1.");
    EXPECT_EQ(mi.PrepareExpression("1"), 0);
}

TEST(PreparedLifetime, ClearSymbolsUnbindsPreparedTrees) {
    TMathInterpreter mi;
    mi.Execute("x = 1; f(a) := a + x; g := 3");
    const int h1 = mi.PrepareExpression("x + g");
    const int h2 = mi.PrepareExpression("f(2)");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h1), Variant(4));
    EXPECT_VALUE(mi.ExecutePreparedExpression(h2), Variant(3));
    mi.ClearSymbols();
    EXPECT_ERROR(mi.ExecutePreparedExpression(h1), kUndefinedX);
    EXPECT_ERROR(mi.ExecutePreparedExpression(h2), "TMFunctionCall.GetValue() Undefined function reference: \"f\", position: 1.");
    mi.Execute("x = 1; f(a) := a; g := 3");
    // Whether or not the trees follow new symbols of the old names, they must
    // never reach the freed ones.
    ErrorOf([&] { mi.ExecutePreparedExpression(h1); });
    ErrorOf([&] { mi.ExecutePreparedExpression(h2); });
    mi.FreePreparedExpression(h1);
    mi.FreePreparedExpression(h2);
}

TEST(PreparedLifetime, SwitchingCaseSensitivityOffUnbindsPreparedTrees) {
    TMathInterpreter mi;
    mi.SetCaseSensitiveSymbols(true);
    mi.Execute("x = 1; X = 2; k := x + X");
    const int h = mi.PrepareExpression("x + X + k");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(6));
    mi.SetCaseSensitiveSymbols(false);
    EXPECT_EQ(mi.SymbolCount(), 0);
    EXPECT_ERROR(mi.ExecutePreparedExpression(h), kUndefinedX);
}

TEST(PreparedLifetime, VariableRedefinedAsFunction) {
    TMathInterpreter mi;
    mi.Execute("v = 1; w = 2");
    const int h = mi.PrepareExpression("v + w");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(3));
    mi.ExecuteExpression("v := 10");
    // Either bound to the replacing function or unbound; never the freed variable.
    const std::string e = ErrorOf([&] {
        Variant r = mi.ExecutePreparedExpression(h);
        EXPECT_VALUE(r, Variant(12));
    });
    if (e != "<no exception>") {
        EXPECT_EQ(e, "TMVarRef.GetValue() Referenced symbol: \"v\" is not defied, position: 1.");
    }
    mi.ExecuteExpression("w := 20");
    ErrorOf([&] { mi.ExecutePreparedExpression(h); });
    mi.ExecuteExpression("v(p) := p");  // the function gets parameters
    ErrorOf([&] { mi.ExecutePreparedExpression(h); });
}

TEST(PreparedLifetime, LoadingReplacesTheSymbolsUnderPreparedTrees) {
    TMathInterpreter mi;
    mi.Execute("x = 1; f(a) := a * x");
    const int h = mi.PrepareExpression("f(x)");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(1));
    Load(mi, "x=7;\r\nf(a):=a+x");
    EXPECT_EQ(mi.Dump(",", 0), "x=7,f(a):=a+x");
    const std::string e = ErrorOf([&] {
        Variant r = mi.ExecutePreparedExpression(h);
        EXPECT_VALUE(r, Variant(14));
    });
    if (e != "<no exception>") {
        EXPECT_NE(e.find(" is not defied, position: "), std::string::npos) << e;
    }
    TReader reader("y=1");
    mi.ClearSymbols();
    mi.ReadSymbols(reader);
    ErrorOf([&] { mi.ExecutePreparedExpression(h); });
}

TEST(PreparedLifetime, FunctionRedefinedUnderPreparedCall) {
    TMathInterpreter mi;
    mi.Execute("f(x) := x * 2; g := f(1)");
    const int h = mi.PrepareExpression("f(3) + g");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(8));
    mi.ExecuteExpression("f(x) := x * 3");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(12));
    mi.ExecuteExpression("delete f");
    EXPECT_ERROR(mi.ExecutePreparedExpression(h), "TMFunctionCall.GetValue() Undefined function reference: \"f\", position: 1.");
}

// ---------------------------------------------------------------- persistence

TEST(Persistence, SavedTextIsByteExact) {
    TMathInterpreter mi;
    EXPECT_EQ(Saved(mi), "");
    EXPECT_EQ(mi.DumpStreamable(), "");
    mi.ExecuteExpression("x = 5");
    mi.ExecuteExpression("s = 'a'");
    const std::string text = Saved(mi);
    EXPECT_EQ(text, std::string("x=5;\r\ns='a'"));
    EXPECT_EQ(text.size(), 11u);
    mi.SetDumpFormat(dfDetailed | dfQualified);  // does not change the saved form
    mi.ExecuteExpression("f(a) := a * x");
    EXPECT_EQ(Saved(mi), "x=5;\r\ns='a';\r\nf(a):=a*x");
}

TEST(Persistence, LoadRecreatesSymbolsInOrder) {
    TMathInterpreter mi;
    mi.Execute("x = 5; s = 'a'; b = 1 > 2; q = 'say \"hi\" it''s'; r = 4 / 2; f(a, b) := (a - b) * x; g := f(2, 1)");
    const std::string text = Saved(mi);
    TMathInterpreter other;
    other.ExecuteExpression("old = 1");
    Load(other, text);
    EXPECT_FALSE(other.SymbolExists("old"));
    EXPECT_EQ(other.SymbolCount(), 7);
    EXPECT_EQ(static_cast<TMSymbol*>(other.Symbols()[0])->Identifier(), "x");
    EXPECT_EQ(static_cast<TMSymbol*>(other.Symbols()[1])->Identifier(), "s");
    EXPECT_VALUE(other.GetVariables("x"), Variant(5));
    EXPECT_VALUE(other.GetVariables("s"), Variant("a"));
    EXPECT_VALUE(other.GetVariables("b"), Variant(false));
    EXPECT_VALUE(other.GetVariables("q"), Variant("say \"hi\" it's"));
    EXPECT_VALUE(other.GetVariables("r"), Variant(2));  // a whole real comes back as integer
    EXPECT_VALUE(other.ExecuteExpression("g"), Variant(5));
    EXPECT_EQ(Saved(other), text);
}

TEST(Persistence, FunctionsNamingLaterSymbolsLoad) {
    TMathInterpreter mi;
    mi.Execute("f := g + y; g := 2; y = 3");
    TMathInterpreter other;
    Load(other, Saved(mi));
    EXPECT_VALUE(other.ExecuteExpression("f"), Variant(5));
}

TEST(Persistence, RealsKeepTheirExactValue) {
    TMathInterpreter mi;
    mi.Execute("r = 0.1+0.2; n = 2147483647+1; e = 1e20 * 3; t = 1.5e-7; m = -0.1; w = -2147483647 - 2");
    const std::string text = Saved(mi);
    EXPECT_NE(text.find("r=0.30000000000000004"), std::string::npos) << text;
    EXPECT_NE(text.find("n=2147483648.0"), std::string::npos) << text;
    TMathInterpreter other;
    Load(other, text);
    for (const char* name : {"r", "n", "e", "t", "m", "w"}) {
        SCOPED_TRACE(name);
        EXPECT_VALUE(other.GetVariables(name), mi.GetVariables(name));
    }
    EXPECT_TRUE(other.GetVariables("n").IsReal());
}

TEST(Persistence, SmallestIntegerSurvives) {
    TMathInterpreter mi;
    mi.ExecuteExpression("i = -2147483647 - 1");
    EXPECT_VALUE(mi.GetVariables("i"), Variant(-2147483647 - 1));
    TMathInterpreter other;
    const std::string text = Saved(mi);
    EXPECT_EQ(ErrorOf([&] { Load(other, text); }), "<no exception>") << text;
    EXPECT_VALUE(other.GetVariables("i"), Variant(-2147483647 - 1));
}

TEST(Persistence, StringsWithSeparatorsAndEscapes) {
    TMathInterpreter mi;
    mi.Execute("x = 'a;b'; y = \"it's; ok\"; f := 'p;q' + x");
    const std::string text = Saved(mi);
    TMathInterpreter other;
    Load(other, text);
    EXPECT_VALUE(other.GetVariables("x"), Variant("a;b"));
    EXPECT_VALUE(other.GetVariables("y"), Variant("it's; ok"));
    EXPECT_VALUE(other.ExecuteExpression("f"), Variant("p;qa;b"));

    TMathInterpreter esc;
    esc.SetEscapeChar('\\');
    esc.ExecuteExpression("s = 'back\\\\slash;\\'q'");
    EXPECT_VALUE(esc.GetVariables("s"), Variant("back\\slash;'q"));
    TMathInterpreter back;
    back.SetEscapeChar('\\');
    Load(back, Saved(esc));
    EXPECT_VALUE(back.GetVariables("s"), Variant("back\\slash;'q"));
}

TEST(Persistence, EmptyVariablesSaveAndLoad) {
    TMathInterpreter mi;
    mi.Execute("a = 1; x = 2; b = 3");
    mi.SetVariables("x", Variant::Null());
    mi.SetVariables("b", Variant());
    const std::string text = Saved(mi);
    EXPECT_EQ(text, "a=1;\r\nx=;\r\nb=");
    TMathInterpreter other;
    Load(other, text);
    EXPECT_EQ(other.SymbolCount(), 3);
    EXPECT_VALUE(other.GetVariables("a"), Variant(1));
    EXPECT_TRUE(other.GetVariables("x").IsNull());
    EXPECT_TRUE(other.GetVariables("b").IsNull());
    Load(other, " y =  ;\r\nz=4");
    EXPECT_TRUE(other.GetVariables("y").IsNull());
    EXPECT_VALUE(other.GetVariables("z"), Variant(4));
    // Only loading accepts the bare form; plain execution still rejects it.
    TMathInterpreter plain;
    EXPECT_THROW(plain.ExecuteExpression("x="), Exception);
    std::istringstream in("x=");
    EXPECT_THROW(plain.ExecuteFromStream(in), Exception);
    EXPECT_FALSE(plain.SymbolExists("x"));
    // A built-in name is no variable.
    EXPECT_THROW(Load(plain, "sin="), Exception);
}

TEST(Persistence, FailingLoadKeepsTheEntriesBeforeIt) {
    TMathInterpreter mi;
    mi.ExecuteExpression("old = 1");
    EXPECT_ERROR(Load(mi, "a=1;\r\nb=(2;\r\nc=3"), "TMathInterpreter.RPN() Unclosed left bracket on position: 5.");
    EXPECT_EQ(mi.Dump(",", 0), "a=1");
    EXPECT_THROW(Load(mi, "a=1;\r\nf(x,x):=1;\r\nc=3"), Exception);
    EXPECT_TRUE(mi.SymbolExists("a"));
    EXPECT_FALSE(mi.SymbolExists("c"));
}

TEST(Persistence, ExecuteFromStream) {
    TMathInterpreter mi;
    std::istringstream s1("1;2");
    EXPECT_VALUE(mi.ExecuteFromStream(s1), Array({Variant(1), Variant(2)}));
    std::istringstream s2("");
    EXPECT_VALUE(mi.ExecuteFromStream(s2), Array({Variant()}));
    std::istringstream s3(std::string("1;2\0;3", 6));
    EXPECT_VALUE(mi.ExecuteFromStream(s3), Array({Variant(1), Variant(2)}));
    TStrings errors;
    std::istringstream s4("x = 4;\n(;\nx * 2");
    EXPECT_VALUE(mi.ExecuteFromStream(s4, &errors), Array({Variant(4), Variant::Null(), Variant(8)}));
    ASSERT_EQ(errors.Count(), 1);
    EXPECT_EQ(errors[0], "TMathInterpreter.RPN() Unclosed left bracket on position: 2.");
    std::istringstream s5("1;(;3");
    EXPECT_THROW(mi.ExecuteFromStream(s5), Exception);
}

TEST_F(TempDir, FilesRoundTrip) {
    TMathInterpreter mi;
    const fs::path empty = dir / "empty.sym";
    mi.SaveSymbolsToFile(empty.string());
    ASSERT_TRUE(fs::exists(empty));
    EXPECT_EQ(fs::file_size(empty), 0u);

    mi.Execute("x = 5; s = 'a'");
    const fs::path file = dir / "table.sym";
    WriteFile(file, "something much longer than the table that must be truncated");
    mi.SaveSymbolsToFile(file.string());
    EXPECT_EQ(ReadFile(file), "x=5;\r\ns='a'");

    TMathInterpreter other;
    other.ExecuteExpression("old = 1");
    other.LoadSymbolsFromFile(file.string());
    EXPECT_EQ(other.Dump(",", 0), "x=5,s='a'");

    const fs::path exprs = dir / "exprs.txt";
    WriteFile(exprs, std::string("1;2\0;3", 6));
    EXPECT_VALUE(other.ExecuteFromFile(exprs.string()), Array({Variant(1), Variant(2)}));
    WriteFile(exprs, "y = 2;\r\n1 +;\r\ny * 3");
    TStrings errors;
    Variant r = other.ExecuteFromFile(exprs.string(), &errors);
    ASSERT_TRUE(r.IsArray());
    ASSERT_EQ(r.ArraySize(), 3u);
    EXPECT_VALUE(r.ArrayGet(2), Variant(6));
    EXPECT_EQ(errors.Count(), 1);
}

TEST_F(TempDir, UnreadableAndUnwritableFilesRaise) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    const std::string missing = (dir / "missing.sym").string();
    EXPECT_THROW(mi.LoadSymbolsFromFile(missing), Exception);
    EXPECT_THROW(mi.ExecuteFromFile(missing), Exception);
    EXPECT_THROW(mi.SaveSymbolsToFile((dir / "no" / "such" / "dir.sym").string()), Exception);
    // A directory cannot be read as a file.
    EXPECT_THROW(mi.ExecuteFromFile(dir.string()), Exception);
    EXPECT_THROW(mi.LoadSymbolsFromFile(dir.string()), Exception);
    EXPECT_THROW(mi.SaveSymbolsToFile(dir.string()), Exception);
    EXPECT_VALUE(mi.ExecuteExpression("1 + 1"), Variant(2));
}

TEST_F(TempDir, OverridesOfTheStreamOperations) {
    struct Custom : TMathInterpreter {
        int loads = 0;
        void SaveSymbolsToStream(std::ostream& out) override { out << "custom=1"; }
        void LoadSymbolsFromStream(std::istream& in) override {
            ++loads;
            TMathInterpreter::LoadSymbolsFromStream(in);
        }
    } mi;
    const fs::path file = dir / "c.sym";
    mi.SaveSymbolsToFile(file.string());
    EXPECT_EQ(ReadFile(file), "custom=1");
    mi.LoadSymbolsFromFile(file.string());
    EXPECT_EQ(mi.loads, 0);  // loading a file does not go through the stream operation
    EXPECT_VALUE(mi.GetVariables("custom"), Variant(1));
}

// ---------------------------------------------------------------- form property

namespace {
struct RecordingFiler : TFiler {
    using TFiler::TFiler;
    void DefineProperty(const std::string& name, std::function<void(TReader&)> reader,
                        std::function<void(TWriter&)> writer, bool hasData) override {
        names.push_back(name);
        this->hasData = hasData;
        this->reader = std::move(reader);
        this->writer = std::move(writer);
    }
    std::vector<std::string> names;
    bool hasData = false;
    std::function<void(TReader&)> reader;
    std::function<void(TWriter&)> writer;
};
}  // namespace

TEST(FormProperty, SymbolsPropertyWrittenOnlyWhenItDiffers) {
    TMathInterpreter mi;
    RecordingFiler none;
    mi.DefineProperties(none);
    ASSERT_EQ(none.names, std::vector<std::string>{"Symbols"});
    EXPECT_FALSE(none.hasData);

    mi.Execute("x = 5; f(a) := a + x");
    RecordingFiler plain;
    mi.DefineProperties(plain);
    EXPECT_TRUE(plain.hasData);
    TWriter writer;
    plain.writer(writer);
    EXPECT_EQ(writer.Value(), "x=5;\r\nf(a):=a+x");

    TMathInterpreter ancestor;
    ancestor.Execute("x = 5; f(a) := a + x");
    RecordingFiler same(&ancestor);
    mi.DefineProperties(same);
    EXPECT_FALSE(same.hasData);
    ancestor.ExecuteExpression("x = 6");
    RecordingFiler differs(&ancestor);
    mi.DefineProperties(differs);
    EXPECT_TRUE(differs.hasData);

    TMathInterpreter loaded;
    TReader reader(writer.Value());
    loaded.ReadSymbols(reader);
    EXPECT_EQ(loaded.DumpStreamable(), writer.Value());
    TReader again("y=1");
    EXPECT_THROW(loaded.ReadSymbols(again), EAssertionFailed);
    EXPECT_EQ(loaded.DumpStreamable(), writer.Value());
}

// ---------------------------------------------------------------- stress

// Prepared trees, function bodies and the handler must survive any order of
// operations that create, replace and free symbols.
TEST(Stress, InterleavedOperationsNeverReachFreedSymbols) {
    TMathInterpreter mi;
    mi.SetMaxFunctionNesting(40);
    std::mt19937 rng(20240611u);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::vector<std::string> names = {"a", "b", "c", "f", "g", "A", "F"};
    const std::vector<std::string> exprs = {
        "a + 1",       "f(1)",          "g",           "a * b + c",        "f(a) + g",  "F(b, c)",
        "a = b + 1",   "b = 2",         "c = a",       "f(x) := x + a",    "g := f(b)", "F(p, q) := p * q + f(q)",
        "A := a + b",  "r(n) := r(n+1)", "r(1)",       "h(u) := h(u) + a", "g()",       "'s;t' + a",
        "f(f(f(2)))",  "b := g + 1",    "delete a",    "delete f, g",      "a",         "z"};
    std::vector<int> handles;
    std::string snapshot = "a=1;\r\nb=2;\r\nf(x):=x*b;\r\ng():=f(a)+c";
    int handlerMode = 0;
    mi.SetOnUnknownSymbol([&](TMathInterpreter& sender, const std::string& name, const Variant&, Variant& value) {
        switch (handlerMode) {
            case 1: value = Variant(1); break;
            case 2:
                try {
                    sender.ExecuteExpression("delete " + name);
                } catch (const Exception&) {
                }
                try {
                    sender.ClearSymbols();
                } catch (const Exception&) {
                }
                value = Variant(2);
                break;
            case 3:
                if (name != "z") value = sender.ExecuteExpression("z = 3");
                break;
            default: break;
        }
    });
    int executed = 0;
    for (int step = 0; step < 6000; ++step) {
        try {
            switch (pick(17)) {
                case 0:
                case 1:
                case 2: handles.push_back(mi.PrepareExpression(exprs[pick(static_cast<int>(exprs.size()))])); break;
                case 3:
                case 4:
                case 5:
                    if (!handles.empty()) {
                        const int h = handles[pick(static_cast<int>(handles.size()))];
                        if (mi.IsValidPreparedExpression(h)) {
                            ++executed;
                            mi.ExecutePreparedExpression(h);
                        }
                    }
                    break;
                case 6: mi.ExecuteExpression(exprs[pick(static_cast<int>(exprs.size()))]); break;
                case 7: mi.ExecuteExpression("delete " + names[pick(static_cast<int>(names.size()))]); break;
                case 8: mi.ExecuteExpression(names[pick(static_cast<int>(names.size()))] + " := a + 1"); break;
                case 9: mi.ExecuteExpression(names[pick(static_cast<int>(names.size()))] + "(x) := x * 2 + c"); break;
                case 10:
                    if (pick(4) == 0) mi.ClearSymbols();
                    else mi.SetCaseSensitiveSymbols(pick(2) == 0);
                    break;
                case 11:
                    if (pick(2) == 0) {
                        snapshot = Saved(mi);
                    } else {
                        Load(mi, snapshot);
                    }
                    break;
                case 12:
                    if (!handles.empty()) {
                        const int i = pick(static_cast<int>(handles.size()));
                        if (mi.IsValidPreparedExpression(handles[i])) mi.FreePreparedExpression(handles[i]);
                        handles.erase(handles.begin() + i);
                    }
                    if (pick(20) == 0) {
                        mi.ClearPreparedExpressions();
                        handles.clear();
                    }
                    break;
                case 13: {
                    const std::string& n = names[pick(static_cast<int>(names.size()))];
                    mi.SetVariables(n, Variant(pick(100)));
                    break;
                }
                case 14: handlerMode = pick(4); break;
                case 15:
                    mi.DumpText();
                    mi.Dump(";", dfDetailed | dfQualified);
                    for (int i = 0; i < mi.PreparedExpressions().Count(); ++i)
                        if (mi.PreparedExpressions()[i] != nullptr) mi.PreparedExpressions()[i]->Dump(dfDetailed);
                    break;
                case 16:  // renamed by the host, with or without its references
                    if (mi.SymbolCount() > 0) {
                        auto* symbol = static_cast<TMSymbol*>(mi.Symbols()[pick(mi.SymbolCount())]);
                        symbol->UpdateReferences = pick(2) == 0;
                        symbol->SetIdentifier(names[pick(static_cast<int>(names.size()))] + (pick(2) ? "" : "2"));
                    }
                    break;
            }
        } catch (const Exception&) {
            // Errors are expected; only crashes and freed memory are not.
        }
        ASSERT_EQ(mi.FunctionNestingLevel(), 0u) << "step " << step;
    }
    EXPECT_GT(executed, 200);
    mi.SetOnUnknownSymbol(nullptr);
    mi.SetCaseSensitiveSymbols(false);
    mi.ClearSymbols();
    mi.ClearPreparedExpressions();
    mi.ExecuteExpression("x = 1");
    EXPECT_VALUE(mi.ExecuteExpression("x + 1"), Variant(2));
    EXPECT_EQ(mi.PrepareExpression("x * 3"), 0);
    EXPECT_VALUE(mi.ExecutePreparedExpression(0), Variant(3));
}

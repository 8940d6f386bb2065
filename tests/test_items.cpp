// The item model and lists, and the operator framework's
// item-level operations: list operations, dumps, literals,
// QuotedVar, Pop, Reverse, FreeAndClear, PullFromStack1, read-only values,
// parse-only items and the class table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zorvex/Exception.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/MathItem.h"
#include "zorvex/Variant.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;
using zorvex::testing::Show;

namespace {


template <typename F>
void ExpectAssertion(F&& f, const char* unit) {
    try {
        f();
        ADD_FAILURE() << "no assertion failure";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find(unit), std::string::npos) << e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception: " << e.what();
    }
}

// A literal that counts its destruction.
int g_destroyed = 0;
class CountedLiteral : public TMLiteral {
public:
    explicit CountedLiteral(Variant v, int position = 0) : TMLiteral(std::move(v)) { ParsePosition = position; }
    ~CountedLiteral() override { ++g_destroyed; }
};

// A list that frees what it still holds.
struct OwnedItems : TMItems {
    ~OwnedItems() override { FreeAndClear(); }
};

TMLiteral* Lit(Variant v, int position = 0) {
    auto* l = new TMLiteral(std::move(v));
    l->ParsePosition = position;
    return l;
}

const char* const kReadOnly = "TMValue.SetValue() Read only value.";
const char* const kMustOverride =
    "TMItem.Dump() Child classes must override Dump method when dfDetailed is not in DumpFormat.";

// ---------------------------------------------------------------- list basics

TEST(ItemList, BasicOperations) {
    OwnedItems list;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Last(), nullptr);
    TMItem* a = Lit(Variant(1));
    TMItem* b = Lit(Variant(2));
    EXPECT_EQ(list.Add(a), 0);
    EXPECT_EQ(list.Add(nullptr), 1);
    EXPECT_EQ(list.Add(b), 2);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Get(0), a);
    EXPECT_EQ(list.Get(1), nullptr);
    EXPECT_EQ(list.Last(), b);
    list.Exchange(0, 2);
    EXPECT_EQ(list.Get(0), b);
    EXPECT_EQ(list.Get(2), a);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf(a), 1);
    list.Put(0, nullptr);
    delete b;
    EXPECT_EQ(list.Get(0), nullptr);
}

TEST(ItemList, IndexingIsRangeChecked) {
    OwnedItems list;
    list.Add(Lit(Variant(1)));
    EXPECT_EQ(ErrorOf([&] { list.Get(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ErrorOf([&] { list.Get(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(ErrorOf([&] { list.Put(3, nullptr); }), "List index out of bounds (3)");
    EXPECT_EQ(ErrorOf([&] { list.Delete(1); }), "List index out of bounds (1)");
    EXPECT_THROW(list.Get(1), EListError);
    EXPECT_EQ(list.Count(), 1);
}

// ---------------------------------------------------------------- TMItems.Dump

TEST(ItemListDump, EmptyListIsEmptyText) {
    OwnedItems list;
    EXPECT_EQ(list.Dump(",", 0), "");
    EXPECT_EQ(list.Dump(",", dfDetailed), "");
    EXPECT_EQ(TMItem::DumpList(list, 0), "");
}

TEST(ItemListDump, NullEntryIsNull) {
    OwnedItems list;
    list.Add(nullptr);
    EXPECT_EQ(list.Dump(",", 0), "Null");
    EXPECT_EQ(list.Dump(",", dfDetailed), "Null");
    list.Add(Lit(Variant(1)));
    EXPECT_EQ(list.Dump(",", 0), "Null,1");
}

TEST(ItemListDump, SeparatorBetweenEntries) {
    OwnedItems list;
    list.Add(Lit(Variant(1)));
    list.Add(Lit(Variant("a")));
    list.Add(Lit(Variant(true)));
    EXPECT_EQ(list.Dump(",", 0), "1,'a',True");
    EXPECT_EQ(list.Dump(";\r\n", 0), "1;\r\n'a';\r\nTrue");
    EXPECT_EQ(TMItem::DumpList(list, 0), "1,'a',True");
    EXPECT_EQ(TMItem::DumpList(list, dfDetailed), "TMLiteral(1),TMLiteral('a'),TMLiteral(True)");
}

TEST(ItemListDump, LeadingEmptyEntryGetsNoSeparator) {
    // "of two entries dumping to empty text and a, it is a"
    OwnedItems list;
    list.Add(Lit(Variant::Null()));
    list.Add(Lit(Variant("a")));
    EXPECT_EQ(list.Dump(",", 0), "'a'");
    OwnedItems list2;
    list2.Add(Lit(Variant()));  // Empty dumps to empty text too
    list2.Add(Lit(Variant::Null()));
    list2.Add(Lit(Variant(7)));
    EXPECT_EQ(list2.Dump(",", 0), "7");
}

TEST(ItemListDump, EmptyEntryInTheMiddleGivesNoDoubledSeparator) {
    // "of three entries dumping to a, empty text and b, with
    // the separator ",", it is a,b (no doubled separator)"
    OwnedItems list;
    list.Add(Lit(Variant(1)));
    list.Add(Lit(Variant::Null()));
    list.Add(Lit(Variant(2)));
    EXPECT_EQ(list.Dump(",", 0), "1,2");
}

// ---------------------------------------------------------------- literals and QuotedVar

TEST(Literal, StringDumps) {
    TMLiteral l(Variant("O'Brien"));
    EXPECT_EQ(l.Dump(0), "'O''Brien'");
    EXPECT_EQ(l.Dump(dfDetailed), "TMLiteral('O''Brien')");
    EXPECT_EQ(l.Dump(dfQualified), "'O''Brien'");
    EXPECT_EQ(l.Dump(dfDetailed | dfQualified), "TMLiteral('O''Brien')");
    TMLiteral abc(Variant("abc"));
    EXPECT_EQ(abc.Dump(dfDetailed), "TMLiteral('abc')");
    TMLiteral empty(Variant(""));
    EXPECT_EQ(empty.Dump(0), "''");
    TMLiteral dq(Variant("say \"hi\""));
    EXPECT_EQ(dq.Dump(0), "'say \"hi\"'");
}

TEST(Literal, NumberAndBooleanDumps) {
    TMLiteral five(Variant(5));
    EXPECT_EQ(five.Dump(0), "5");
    EXPECT_EQ(five.Dump(dfDetailed), "TMLiteral(5)");
    TMLiteral neg(Variant(-5));
    EXPECT_EQ(neg.Dump(0), "-5");
    TMLiteral real(Variant(3.5));
    EXPECT_EQ(real.Dump(0), "3.5");
    EXPECT_EQ(real.Dump(dfDetailed), "TMLiteral(3.5)");
    TMLiteral t(Variant(true));
    EXPECT_EQ(t.Dump(0), "True");  // not quoted
    EXPECT_EQ(t.Dump(dfDetailed), "TMLiteral(True)");
    TMLiteral f(Variant(false));
    EXPECT_EQ(f.Dump(0), "False");
    TMLiteral n(Variant::Null());
    EXPECT_EQ(n.Dump(0), "");
    EXPECT_EQ(n.Dump(dfDetailed), "TMLiteral()");
}

TEST(Literal, QuotedVar) {
    EXPECT_EQ(TMItem::QuotedVar(Variant(5)), "5");
    // No literal spells the smallest integer; the dump is an expression that reads back as it.
    EXPECT_EQ(TMItem::QuotedVar(Variant(-2147483647 - 1)), "(-2147483647-1)");
    EXPECT_EQ(TMItem::QuotedVar(Variant(true)), "True");
    EXPECT_EQ(TMItem::QuotedVar(Variant(false)), "False");
    EXPECT_EQ(TMItem::QuotedVar(Variant("a'b''c")), "'a''b''''c'");
    EXPECT_EQ(TMItem::QuotedVar(Variant("")), "''");
    EXPECT_EQ(TMItem::QuotedVar(Variant::Null()), "");
    EXPECT_EQ(TMItem::QuotedVar(Variant()), "");
}

TEST(Literal, QuotedVarRealsInExactForm) {
    // Every dump writes reals in the exact form
    EXPECT_EQ(TMItem::QuotedVar(Variant(2.0)), "2");
    EXPECT_EQ(TMItem::QuotedVar(Variant(100000.0)), "100000");
    EXPECT_EQ(TMItem::QuotedVar(Variant(-5.0)), "-5");
    EXPECT_EQ(TMItem::QuotedVar(Variant(2147483648.0)), "2147483648.0");
    EXPECT_EQ(TMItem::QuotedVar(Variant(0.1 + 0.2)), "0.30000000000000004");
    EXPECT_EQ(TMItem::QuotedVar(Variant(1e20)), "1e+20");
    EXPECT_EQ(TMItem::QuotedVar(Variant(1.5e-7)), "1.5e-07");
    EXPECT_EQ(TMItem::QuotedVar(Variant(9007199254740992.0)), "9007199254740992.0");
    EXPECT_EQ(TMItem::QuotedVar(Variant(-0.0)), "-0.0");
}

TEST(Literal, ValueIsWritableAndCopied) {
    TMLiteral l(Variant(1));
    l.SetValue(Variant("x"));
    EXPECT_TRUE(l.GetValue().SameAs(Variant("x")));
    Variant got = l.GetValue();
    got = Variant(9);  // a copy: the literal keeps its value
    EXPECT_TRUE(l.Value.SameAs(Variant("x")));
    TMValue& asValue = l;
    asValue.SetValue(Variant(2.5));
    EXPECT_TRUE(l.GetValue().SameAs(Variant(2.5)));
}

TEST(Literal, ParsePositionStartsAtZero) {
    TMLiteral l;
    EXPECT_EQ(l.ParsePosition, 0);
    TMPlus p;
    EXPECT_EQ(p.ParsePosition, 0);
    TMComma c;
    EXPECT_EQ(c.ParsePosition, 0);
}

// ---------------------------------------------------------------- Pop, Reverse, FreeAndClear

TEST(ItemList, PopOnEmptyList) {
    OwnedItems list;
    EXPECT_EQ(ErrorOf([&] { list.Pop(); }), "TMItems.Pop() List is empty.");
    EXPECT_EQ(list.Count(), 0);
    // still usable afterwards
    list.Add(Lit(Variant(1)));
    EXPECT_EQ(list.Count(), 1);
}

TEST(ItemList, PopTakesTheLastEntry) {
    OwnedItems list;
    TMItem* a = Lit(Variant(1));
    TMItem* b = Lit(Variant(2));
    list.Add(a);
    list.Add(b);
    std::unique_ptr<TMItem> popped(list.Pop());
    EXPECT_EQ(popped.get(), b);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Last(), a);
    list.Add(nullptr);
    EXPECT_EQ(list.Pop(), nullptr);  // a null entry is popped as null
    EXPECT_EQ(list.Count(), 1);
}

TEST(ItemList, ReverseZeroAndOne) {
    OwnedItems list;
    list.Reverse();
    EXPECT_EQ(list.Count(), 0);
    TMItem* a = Lit(Variant(1));
    list.Add(a);
    list.Reverse();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Get(0), a);
}

TEST(ItemList, ReverseEvenAndOdd) {
    OwnedItems list;
    std::vector<TMItem*> items;
    for (int i = 0; i < 4; ++i) {
        items.push_back(Lit(Variant(i)));
        list.Add(items.back());
    }
    list.Reverse();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list.Get(i), items[static_cast<std::size_t>(3 - i)]);
    list.Add(nullptr);  // five entries: the middle one stays
    list.Reverse();
    EXPECT_EQ(list.Get(0), nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list.Get(i + 1), items[static_cast<std::size_t>(i)]);
    list.Reverse();
    EXPECT_EQ(list.Get(2), items[1]);
    EXPECT_EQ(list.Get(4), nullptr);
    OwnedItems two;
    TMItem* x = Lit(Variant(1));
    TMItem* y = Lit(Variant(2));
    two.Add(x);
    two.Add(y);
    two.Reverse();
    EXPECT_EQ(two.Get(0), y);
    EXPECT_EQ(two.Get(1), x);
}

TEST(ItemList, FreeAndClearDestroysNonNullEntries) {
    g_destroyed = 0;
    {
        TMItems list;
        list.Add(new CountedLiteral(Variant(1)));
        list.Add(nullptr);
        list.Add(new CountedLiteral(Variant(2)));
        list.Add(nullptr);
        list.FreeAndClear();
        EXPECT_EQ(g_destroyed, 2);
        EXPECT_EQ(list.Count(), 0);
        list.FreeAndClear();  // on an empty list
        EXPECT_EQ(g_destroyed, 2);
    }
}

TEST(ItemList, DestroyingAListNeverDestroysEntries) {
    g_destroyed = 0;
    auto* a = new CountedLiteral(Variant(1));
    {
        TMItems list;
        list.Add(a);
        list.Clear();
        EXPECT_EQ(list.Count(), 0);
        list.Add(a);
    }
    EXPECT_EQ(g_destroyed, 0);
    delete a;
    EXPECT_EQ(g_destroyed, 1);
}

TEST(ItemList, OperatorDestroysItsOperands) {
    g_destroyed = 0;
    {
        TMPlus plus;
        plus.Operands.Add(new CountedLiteral(Variant(1)));
        plus.Operands.Add(new CountedLiteral(Variant(2)));
    }
    EXPECT_EQ(g_destroyed, 2);
}

// ---------------------------------------------------------------- PullFromStack1 and PullOperands

TEST(PullFromStack1, EmptySourceIsAnAssertionFailure) {
    OwnedItems output, source;
    ExpectAssertion([&] { output.PullFromStack1(source, nullptr); }, "Source/MathItem");
    EXPECT_EQ(output.Count(), 0);
}

TEST(PullFromStack1, MovesAValue) {
    OwnedItems output, source;
    TMItem* a = Lit(Variant(1));
    TMItem* b = Lit(Variant(2));
    source.Add(a);
    source.Add(b);
    output.PullFromStack1(source, nullptr);
    ASSERT_EQ(source.Count(), 1);
    ASSERT_EQ(output.Count(), 1);
    EXPECT_EQ(output.Get(0), b);
    EXPECT_EQ(source.Get(0), a);
}

TEST(PullFromStack1, OperatorTakesItsOperandsInSourceOrder) {
    OwnedItems output, source;
    TMItem* a = Lit(Variant(1), 1);
    TMItem* b = Lit(Variant(2), 3);
    output.Add(a);
    output.Add(b);
    auto* minus = new TMMinus();
    minus->ParsePosition = 2;
    source.Add(minus);
    output.PullFromStack1(source, nullptr);
    EXPECT_EQ(source.Count(), 0);
    ASSERT_EQ(output.Count(), 1);
    EXPECT_EQ(output.Get(0), minus);
    ASSERT_EQ(minus->Operands.Count(), 2);
    EXPECT_EQ(minus->Operands.Get(0), a);  // entry 0 is the leftmost operand
    EXPECT_EQ(minus->Operands.Get(1), b);
    EXPECT_EQ(minus->LeftOperand(), a);
    EXPECT_EQ(minus->RightOperand(), b);
    EXPECT_EQ(minus->Dump(0), "1-2");
    EXPECT_EQ(minus->GetValue().AsInteger(), -1);
}

TEST(PullFromStack1, UnaryOperatorTakesOneOperand) {
    OwnedItems output, source;
    output.Add(Lit(Variant(1)));
    output.Add(Lit(Variant(4)));
    source.Add(new TMUnaryMinus());
    output.PullFromStack1(source, nullptr);
    ASSERT_EQ(output.Count(), 2);
    auto* neg = dynamic_cast<TMUnaryMinus*>(output.Get(1));
    ASSERT_NE(neg, nullptr);
    EXPECT_EQ(neg->Operands.Count(), 1);
    EXPECT_EQ(neg->Dump(0), "-(4)");
    EXPECT_EQ(neg->GetValue().AsInteger(), -4);
}

TEST(PullFromStack1, TooFewOperands) {
    OwnedItems output, source;
    output.Add(Lit(Variant(1), 1));
    auto* plus = new TMPlus();
    plus->ParsePosition = 7;
    source.Add(plus);
    EXPECT_EQ(ErrorOf([&] { output.PullFromStack1(source, nullptr); }),
              "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 7.");
    // the popped operator is in neither list (it is freed with the operand it took)
    EXPECT_EQ(source.Count(), 0);
    EXPECT_EQ(output.Count(), 0);
}

TEST(PullFromStack1, ParseOnlyItemEndsTheOperandSearch) {
    OwnedItems output, source;
    output.Add(new TMLeftBracket());
    output.Add(Lit(Variant(1)));
    auto* plus = new TMPlus();
    plus->ParsePosition = 4;
    source.Add(plus);
    EXPECT_EQ(ErrorOf([&] { output.PullFromStack1(source, nullptr); }),
              "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 4.");
    ASSERT_EQ(output.Count(), 1);
    EXPECT_STREQ(output.Get(0)->ClassName(), "TMLeftBracket");
    auto* neg = new TMUnaryMinus();
    neg->ParsePosition = 9;
    source.Add(neg);
    EXPECT_EQ(ErrorOf([&] { output.PullFromStack1(source, nullptr); }),
              "TMOperator.PullOperands() 1 operand(s) expected, but only 0 found. Position: 9.");
    OwnedItems empty;
    auto* times = new TMMultiply();
    times->ParsePosition = 2;
    source.Add(times);
    EXPECT_EQ(ErrorOf([&] { empty.PullFromStack1(source, nullptr); }),
              "TMOperator.PullOperands() 2 operand(s) expected, but only 0 found. Position: 2.");
}

TEST(PullFromStack1, RepeatedPullReplacesOperands) {
    g_destroyed = 0;
    TMPlus plus;
    OwnedItems stack;
    stack.Add(new CountedLiteral(Variant(1)));
    stack.Add(new CountedLiteral(Variant(2)));
    plus.PullOperands(stack, nullptr);
    EXPECT_EQ(plus.Dump(0), "1+2");
    stack.Add(new CountedLiteral(Variant(3)));
    stack.Add(new CountedLiteral(Variant(4)));
    plus.PullOperands(stack, nullptr);
    EXPECT_EQ(g_destroyed, 2);  // the first operands were freed
    EXPECT_EQ(plus.Dump(0), "3+4");
    EXPECT_EQ(stack.Count(), 0);
}

TEST(PullFromStack1, UserFunctionCallTakesItsParameters) {
    OwnedItems output, source;
    output.Add(Lit(Variant(0)));  // below the marker: not taken
    output.Add(new TMLeftBracket());
    output.Add(Lit(Variant(1)));
    output.Add(Lit(Variant(2)));
    auto* call = new TMFunctionCall();
    call->ReferencedSymbolName = "f";
    source.Add(call);
    output.PullFromStack1(source, nullptr);
    ASSERT_EQ(output.Count(), 2);
    EXPECT_EQ(output.Get(1), call);
    ASSERT_EQ(call->ParamExpressions.Count(), 2);
    EXPECT_EQ(call->Dump(0), "f(1,2)");
    EXPECT_EQ(call->Dump(dfDetailed),
              "TMFunctionCall<\"f\">(TMParamExpression{TMLiteral(1)},TMParamExpression{TMLiteral(2)})");
}

// ---------------------------------------------------------------- read-only values

TEST(ReadOnly, OperatorsAreReadOnly) {
    TMPlus plus;
    EXPECT_EQ(ErrorOf([&] { plus.SetValue(Variant(1)); }), kReadOnly);
    TMNot n;
    EXPECT_EQ(ErrorOf([&] { n.SetValue(Variant(true)); }), kReadOnly);
    TMUnaryMinus m;
    EXPECT_EQ(ErrorOf([&] { m.SetValue(Variant(1)); }), kReadOnly);
    TMAssignValue a;
    EXPECT_EQ(ErrorOf([&] { a.SetValue(Variant(1)); }), kReadOnly);
    std::unique_ptr<TMIntrinsicFunctionCall> sin(CreateIntrinsicFunctionCall("Sin"));
    ASSERT_NE(sin, nullptr);
    EXPECT_EQ(ErrorOf([&] { sin->SetValue(Variant(1)); }), kReadOnly);
}

TEST(ReadOnly, OperatorInATreeIsReadOnly) {
    TMathInterpreter interp;
    TMItems items;
    interp.ParseExpression("1+2*3", items);
    std::unique_ptr<TMValue> root(interp.RPN(items));
    items.FreeAndClear();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(ErrorOf([&] { root->SetValue(Variant(1)); }), kReadOnly);
    EXPECT_EQ(root->GetValue().AsInteger(), 7);  // unchanged
}

TEST(ReadOnly, FunctionsAndParameterExpressionsAreReadOnly) {
    TMParamExpression pe;
    EXPECT_EQ(ErrorOf([&] { pe.SetValue(Variant(1)); }), kReadOnly);
    TMFunction f;
    EXPECT_EQ(ErrorOf([&] { f.SetValue(Variant(1)); }), kReadOnly);
}

TEST(ReadOnly, LiteralIsWritable) {
    TMLiteral l(Variant(1));
    EXPECT_EQ(ErrorOf([&] { l.SetValue(Variant(2)); }), "<no exception>");
    EXPECT_EQ(l.GetValue().AsInteger(), 2);
}

// ---------------------------------------------------------------- parse-only items

TEST(ParseOnlyItems, DumpOnlyInDetail) {
    TMComma comma;
    EXPECT_EQ(comma.Dump(dfDetailed), "TMComma");
    EXPECT_EQ(comma.Dump(dfDetailed | dfQualified), "TMComma");
    EXPECT_EQ(ErrorOf([&] { comma.Dump(0); }), kMustOverride);
    EXPECT_EQ(ErrorOf([&] { comma.Dump(dfQualified); }), kMustOverride);
    TMLeftBracket lb;
    TMRightBracket rb;
    TMDelete del;
    TMRename ren;
    EXPECT_EQ(lb.Dump(dfDetailed), "TMLeftBracket");
    EXPECT_EQ(rb.Dump(dfDetailed), "TMRightBracket");
    EXPECT_EQ(del.Dump(dfDetailed), "TMDelete");
    EXPECT_EQ(ren.Dump(dfDetailed), "TMRename");
    for (TMItem* item : std::vector<TMItem*>{&lb, &rb, &del, &ren})
        EXPECT_EQ(ErrorOf([&] { item->Dump(0); }), kMustOverride) << item->ClassName();
}

TEST(ParseOnlyItems, ParsedListDumpsInDetail) {
    TMathInterpreter interp;
    OwnedItems items;
    interp.ParseExpression("f(a, 1) delete", items);
    EXPECT_EQ(items.Dump(",", dfDetailed),
              "TMFunctionCall<\"f\">(),TMLeftBracket,TMVarRef<\"a\">,TMComma,TMLiteral(1),TMRightBracket,TMDelete");
    EXPECT_EQ(ErrorOf([&] { items.Dump(",", 0); }), kMustOverride);
}

TEST(ParseOnlyItems, ParseItemsAreNotValues) {
    TMComma comma;
    TMItem* item = &comma;
    EXPECT_EQ(dynamic_cast<TMValue*>(item), nullptr);
    EXPECT_NE(dynamic_cast<TMParseItem*>(item), nullptr);
    TMDelete del;
    item = &del;
    EXPECT_NE(dynamic_cast<TMKeyword*>(item), nullptr);
    EXPECT_NE(dynamic_cast<TMParseItem*>(item), nullptr);
}

// ---------------------------------------------------------------- operator framework

// An operator class without its own plain form.
class BareOperator : public TMOperator {
public:
    std::string DumpOperator() const override { return "?"; }
    int NumberOfOperands() const override { return 1; }
    TOperatorAssociativity Associativity() const override { return oaLeftToRight; }
    TOperatorPriority Priority() const override { return opPlus; }
    Variant GetValue() override { return Variant(); }
};

TEST(OperatorFramework, BaseDumpNeedsDetailed) {
    BareOperator op;
    op.Operands.Add(Lit(Variant(1)));
    EXPECT_EQ(ErrorOf([&] { op.Dump(0); }),
              "TMOperator.Dump() Must be implemented in child classes when DumpFormat <> dfDetailed");
    EXPECT_EQ(op.Dump(dfDetailed), "TMOperator(TMLiteral(1))");
}

TEST(OperatorFramework, DetailedDumpOfOperators) {
    TMPlus plus;
    plus.Operands.Add(Lit(Variant(1)));
    plus.Operands.Add(Lit(Variant(2)));
    EXPECT_EQ(plus.Dump(dfDetailed), "TMPlus(TMLiteral(1),TMLiteral(2))");
    EXPECT_EQ(plus.Dump(0), "1+2");
    TMNot n;
    n.Operands.Add(Lit(Variant(true)));
    EXPECT_EQ(n.Dump(dfDetailed), "TMNot(TMLiteral(True))");
    EXPECT_EQ(n.Dump(0), " not True");
    TMAnd a;
    a.Operands.Add(Lit(Variant(1)));
    a.Operands.Add(nullptr);
    EXPECT_EQ(a.Dump(dfDetailed), "TMAnd(TMLiteral(1),Null)");
}

TEST(OperatorFramework, DumpOperandIndexChecks) {
    TMPlus plus;
    plus.Operands.Add(Lit(Variant(1)));
    plus.Operands.Add(Lit(Variant(2)));
    EXPECT_EQ(plus.DumpOperand(0, 0), "1");
    EXPECT_EQ(plus.DumpOperand(1, 0), "2");
    EXPECT_EQ(ErrorOf([&] { plus.DumpOperand(-1, 0); }),
              "TMBinaryOperator.DumpOperand() OperandIndex (-1) must not be negative.");
    EXPECT_EQ(ErrorOf([&] { plus.DumpOperand(2, 0); }),
              "TMBinaryOperator.DumpOperand() OperandIndex (2) exceeds index of last operand (1).");
    ExpectAssertion([&] { plus.DumpOperand(0, dfDetailed); }, "Source/MathItem");
    TMUnaryMinus neg;
    EXPECT_EQ(ErrorOf([&] { neg.DumpOperand(0, 0); }),
              "TMBinaryOperator.DumpOperand() OperandIndex (0) exceeds index of last operand (-1).");
}

TEST(OperatorFramework, CheckOperatorCount) {
    TMPlus plus;
    plus.Operands.Add(Lit(Variant(1)));
    ExpectAssertion([&] { plus.CheckOperatorCount(); }, "Source/MathItem");
    // TMPlus checks the count before reading operands
    ExpectAssertion([&] { plus.GetValue(); }, "Source/MathItem");
    plus.Operands.Add(Lit(Variant(2)));
    EXPECT_NO_THROW(plus.CheckOperatorCount());
    TMUnaryMinus neg;
    ExpectAssertion([&] { neg.GetValue(); }, "Source/MathItem");
    TMPower pw;
    ExpectAssertion([&] { pw.GetValue(); }, "Source/MathItem");
}

TEST(OperatorFramework, OperatorsWithoutCountCheckUseRangeCheckedOperands) {
    // TMNot does not check the count first; reading a missing operand is a
    // range-checked list access ("List index out of bounds (N)").
    TMNot n;
    EXPECT_EQ(ErrorOf([&] { n.GetValue(); }), "List index out of bounds (0)");
}

TEST(OperatorFrameworkDeathTest, BinaryOperatorsWithoutCountCheckDoNotReadPastOperands) {
    // TMAnd/TMLess have no count check first, so their operands
    // are read with GetOperandValues, whose list access is range-checked. With one
    // operand, the right operand read must raise "List index out of bounds (1)",
    // never read past the list. Run in a child process: a crash must not take
    // the whole suite down.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto probe = [](TMBinaryOperator* op) {
        op->Operands.Add(new TMLiteral(Variant(1)));
        int code = 3;
        try {
            op->GetValue();
            code = 2;
        } catch (const Exception& e) {
            code = e.Message() == "List index out of bounds (1)" ? 0 : 1;
        }
        delete op;
        std::exit(code);
    };
    EXPECT_EXIT(probe(new TMAnd()), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(probe(new TMLess()), ::testing::ExitedWithCode(0), "");
}

TEST(OperatorFramework, GetOperandExpressions) {
    TMAssignValue a;
    a.Operands.Add(Lit(Variant(1)));
    a.Operands.Add(nullptr);
    EXPECT_NE(a.GetOperandExpressions(0), nullptr);
    EXPECT_EQ(a.GetOperandExpressions(1), nullptr);  // a null entry is returned as null
    EXPECT_EQ(a.GetOperandValues(0).AsInteger(), 1);
    EXPECT_EQ(ErrorOf([&] { a.GetOperandExpressions(2); }), "List index out of bounds (2)");
}

TEST(OperatorFramework, SetOperandsTakesTheList) {
    TMMultiply times;
    auto* list = new TMExpressions();
    list->Add(Lit(Variant(6)));
    list->Add(Lit(Variant(7)));
    times.SetOperands(list);  // takes ownership of the list
    EXPECT_EQ(times.Dump(0), "6*7");
    EXPECT_EQ(times.GetValue().AsInteger(), 42);
}

TEST(OperatorFramework, AssignmentPlainDumpIsTheLanguagesForm) {
    TMAssignValue a;
    EXPECT_EQ(a.DumpOperator(), "=");
    TMAssignSymbolic s;
    EXPECT_EQ(s.DumpOperator(), ":=");
    a.Operands.Add(Lit(Variant(1)));
    a.Operands.Add(Lit(Variant(5)));
    EXPECT_EQ(a.Dump(0), "1=5");
    EXPECT_EQ(a.Dump(dfDetailed), "TMAssignValue(TMLiteral(1),TMLiteral(5))");
}

// ---------------------------------------------------------------- class table

struct ClassRow {
    std::unique_ptr<TMOperator> op;
    const char* name;
    TOperatorPriority priority;
    TOperatorAssociativity associativity;
    int operands;
    const char* text;  // null: DumpOperator raises
};

TEST(ClassTable, PriorityAssociativityOperandsText) {
    std::vector<ClassRow> rows;
    auto add = [&](TMOperator* op, const char* name, TOperatorPriority p, TOperatorAssociativity a, int n,
                   const char* text) { rows.push_back({std::unique_ptr<TMOperator>(op), name, p, a, n, text}); };
    add(new TMUnaryMinus, "TMUnaryMinus", opUnaryOperator, oaRightToLeft, 1, "-");
    add(new TMNot, "TMNot", opUnaryOperator, oaRightToLeft, 1, " not ");
    add(new TMAnd, "TMAnd", opBoolean, oaLeftToRight, 2, " and ");
    add(new TMOr, "TMOr", opBoolean, oaLeftToRight, 2, " or ");
    add(new TMXor, "TMXor", opBoolean, oaLeftToRight, 2, " xor ");
    add(new TMShl, "TMShl", opBoolean, oaLeftToRight, 2, " shl ");
    add(new TMShr, "TMShr", opBoolean, oaLeftToRight, 2, " shr ");
    add(new TMLess, "TMLess", opRelation, oaLeftToRight, 2, "<");
    add(new TMLessOrEqual, "TMLessOrEqual", opRelation, oaLeftToRight, 2, "<=");
    add(new TMEqual, "TMEqual", opRelation, oaLeftToRight, 2, "==");
    add(new TMLargerOrEqual, "TMLargerOrEqual", opRelation, oaLeftToRight, 2, ">=");
    add(new TMLarger, "TMLarger", opRelation, oaLeftToRight, 2, ">");
    add(new TMNotEqual, "TMNotEqual", opRelation, oaLeftToRight, 2, "!=");
    add(new TMPlus, "TMPlus", opPlus, oaLeftToRight, 2, "+");
    add(new TMMinus, "TMMinus", opPlus, oaLeftToRight, 2, "-");
    add(new TMMultiply, "TMMultiply", opMultiply, oaLeftToRight, 2, "*");
    add(new TMDivide, "TMDivide", opMultiply, oaLeftToRight, 2, "/");
    add(new TMIntDiv, "TMIntDiv", opMultiply, oaLeftToRight, 2, " div ");
    add(new TMMod, "TMMod", opMultiply, oaLeftToRight, 2, " mod ");
    add(new TMPower, "TMPower", opPower, oaLeftToRight, 2, "^");
    add(new TMAssignValue, "TMAssignValue", opAssign, oaRightToLeft, 2, "=");
    add(new TMAssignSymbolic, "TMAssignSymbolic", opAssign, oaRightToLeft, 2, ":=");
    for (const auto& r : rows) {
        EXPECT_STREQ(r.op->ClassName(), r.name);
        EXPECT_EQ(r.op->Priority(), r.priority) << r.name;
        EXPECT_EQ(r.op->Associativity(), r.associativity) << r.name;
        EXPECT_EQ(r.op->NumberOfOperands(), r.operands) << r.name;
        if (r.text != nullptr)
            EXPECT_EQ(r.op->DumpOperator(), r.text) << r.name;
        else
            EXPECT_THROW(r.op->DumpOperator(), Exception) << r.name;
        EXPECT_EQ(r.op->Operands.Count(), 0) << r.name;  // created with an empty operand list
    }
    EXPECT_EQ(static_cast<int>(opSuper), 0);
    EXPECT_EQ(static_cast<int>(opAssign), 7);
    EXPECT_EQ(static_cast<int>(oaLeftToRight), 0);
    EXPECT_EQ(static_cast<int>(oaRightToLeft), 1);
    EXPECT_EQ(dfDetailed, 1);
    EXPECT_EQ(dfQualified, 2);
}

TEST(ClassTable, Hierarchy) {
    TMPower power;
    TMItem* p = &power;
    EXPECT_NE(dynamic_cast<TMLeftToRightAssociative*>(p), nullptr);
    EXPECT_EQ(dynamic_cast<TMRightToLeftAssociative*>(p), nullptr);
    TMShl shl;
    EXPECT_NE(dynamic_cast<TMBinaryOperatorBoolean*>(static_cast<TMItem*>(&shl)), nullptr);
    TMNot n;
    EXPECT_NE(dynamic_cast<TMUnaryPrefixOperator*>(static_cast<TMItem*>(&n)), nullptr);
    TMAssignValue av;
    EXPECT_NE(dynamic_cast<TMRightToLeftAssociative*>(static_cast<TMItem*>(&av)), nullptr);
    EXPECT_NE(dynamic_cast<TMAssign*>(static_cast<TMItem*>(&av)), nullptr);
    TMLiteral lit;
    EXPECT_NE(dynamic_cast<TMExpression*>(static_cast<TMItem*>(&lit)), nullptr);
    EXPECT_EQ(dynamic_cast<TMOperator*>(static_cast<TMItem*>(&lit)), nullptr);
    TMFunctionCall call;
    EXPECT_NE(dynamic_cast<TMSymbolRef*>(static_cast<TMItem*>(&call)), nullptr);
    EXPECT_EQ(dynamic_cast<TMVarRef*>(static_cast<TMItem*>(&call)), nullptr);
    EXPECT_EQ(dynamic_cast<TMOperator*>(static_cast<TMItem*>(&call)), nullptr);
    std::unique_ptr<TMIntrinsicFunctionCall> sin(CreateIntrinsicFunctionCall("sin"));
    ASSERT_NE(sin, nullptr);
    EXPECT_NE(dynamic_cast<TMOperator*>(static_cast<TMItem*>(sin.get())), nullptr);
}

// ---------------------------------------------------------------- parse-only item dumps of trees

TEST(TreeItems, ReferenceDumps) {
    TMVarRef ref;
    ref.ReferencedSymbolName = "xY";
    EXPECT_EQ(ref.Dump(0), "xY");
    EXPECT_EQ(ref.Dump(dfDetailed), "TMVarRef<\"xY\">");
    EXPECT_EQ(ref.Dump(dfQualified), "xY");
}

}  // namespace

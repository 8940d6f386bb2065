// The value type: kinds, operations, conversions and text forms.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"
#include "zorvex/Variant.h"

using namespace zorvex;

namespace {

const Variant kNull = Variant::Null();
const Variant kEmpty;

// Runs `f`, expects an exception of type E with exactly `message`.
template <typename E, typename F>
void ExpectError(F&& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong exception type: " << e.what() << ", expected: " << message;
    }
}

const char* const kInvalidOp = "Invalid variant operation";
const char* const kStrToDouble = "Could not convert variant of type (String) into type (Double)";

#define EXPECT_INT(expr, value)                      \
    do {                                             \
        Variant r_ = (expr);                         \
        ASSERT_TRUE(r_.IsInteger()) << #expr;        \
        EXPECT_EQ(r_.AsInteger(), (value)) << #expr; \
    } while (0)

#define EXPECT_REAL(expr, value)                            \
    do {                                                    \
        Variant r_ = (expr);                                \
        ASSERT_TRUE(r_.IsReal()) << #expr;                  \
        EXPECT_EQ(r_.AsReal(), static_cast<double>(value)) << #expr; \
    } while (0)

#define EXPECT_BOOL(expr, value)                     \
    do {                                             \
        Variant r_ = (expr);                         \
        ASSERT_TRUE(r_.IsBoolean()) << #expr;        \
        EXPECT_EQ(r_.AsBoolean(), (value)) << #expr; \
    } while (0)

#define EXPECT_STR(expr, value)                      \
    do {                                             \
        Variant r_ = (expr);                         \
        ASSERT_TRUE(r_.IsString()) << #expr;         \
        EXPECT_EQ(r_.AsString(), (value)) << #expr;  \
    } while (0)

#define EXPECT_NULL(expr) EXPECT_TRUE(Variant(expr).IsNull()) << #expr

std::string Printf15G(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", v);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------------------
// Kinds, type codes, copies

TEST(VariantKinds, ConstructorsAndTypeCodes) {
    EXPECT_EQ(Variant().VarType(), 0);
    EXPECT_EQ(Variant::Null().VarType(), 1);
    EXPECT_EQ(Variant(5).VarType(), 3);
    EXPECT_EQ(Variant(2.5).VarType(), 5);
    EXPECT_EQ(Variant(true).VarType(), 11);
    EXPECT_EQ(Variant("x").VarType(), 256);
    EXPECT_EQ(Variant(std::string("x")).VarType(), 256);
    EXPECT_EQ(Variant(std::string_view("x")).VarType(), 256);
    EXPECT_EQ(Variant::Array(2).VarType(), 8204);
    EXPECT_TRUE(Variant().IsEmpty());
    EXPECT_FALSE(Variant().IsNull());
    EXPECT_TRUE(Variant::Null().IsNull());
    EXPECT_FALSE(Variant::Null().IsEmpty());
    EXPECT_TRUE(Variant(1).IsNumber());
    EXPECT_TRUE(Variant(1.0).IsNumber());
    EXPECT_FALSE(Variant("1").IsNumber());
}

TEST(VariantKinds, KindNames) {
    EXPECT_STREQ(VarKindName(VarKind::Empty), "Empty");
    EXPECT_STREQ(VarKindName(VarKind::Null), "Null");
    EXPECT_STREQ(VarKindName(VarKind::Integer), "Integer");
    EXPECT_STREQ(VarKindName(VarKind::Real), "Double");
    EXPECT_STREQ(VarKindName(VarKind::Boolean), "Boolean");
    EXPECT_STREQ(VarKindName(VarKind::String), "String");
    EXPECT_STREQ(VarKindName(VarKind::Array), "Array");
}

TEST(VariantKinds, CopiesAreIndependent) {
    Variant s("abc");
    Variant t = s;
    EXPECT_EQ(t.AsString(), "abc");
    EXPECT_EQ(&s.AsString(), &t.AsString());  // an unchanging text is shared
    s = Variant("changed");
    EXPECT_EQ(t.AsString(), "abc");

    Variant a = Variant::Array(2);
    a.ArrayPut(0, Variant("x"));
    Variant inner = Variant::Array(1);
    inner.ArrayPut(0, Variant(1));
    a.ArrayPut(1, inner);
    Variant b = a;
    a.ArrayPut(0, Variant(7));
    a.ArrayItems()[1].ArrayPut(0, Variant(99));
    EXPECT_STR(b.ArrayGet(0), "x");
    EXPECT_INT(b.ArrayGet(1).ArrayGet(0), 1);

    Variant c;
    c = b;  // copy assignment
    b.ArrayRedim(-1);
    EXPECT_EQ(c.ArraySize(), 2u);
    c = c;  // self-assignment keeps the value
    EXPECT_EQ(c.ArraySize(), 2u);
}

TEST(VariantKinds, MovesAndClear) {
    Variant s("abc");
    Variant t = std::move(s);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_STR(t, "abc");
    Variant u(3);
    u = std::move(t);
    EXPECT_STR(u, "abc");
    EXPECT_TRUE(t.IsEmpty());
    u.Clear();
    EXPECT_TRUE(u.IsEmpty());
    Variant n = Variant::Null();
    n = Variant(2.5);
    EXPECT_REAL(n, 2.5);
    n = Variant("s");
    n = Variant(1);  // releases the string
    EXPECT_INT(n, 1);
}

TEST(VariantKinds, SameAs) {
    EXPECT_TRUE(Variant(1).SameAs(Variant(1)));
    EXPECT_FALSE(Variant(1).SameAs(Variant(1.0)));
    EXPECT_FALSE(Variant(1).SameAs(Variant(2)));
    EXPECT_TRUE(Variant("a").SameAs(Variant("a")));
    EXPECT_FALSE(Variant("a").SameAs(Variant("A")));
    EXPECT_TRUE(kNull.SameAs(Variant::Null()));
    EXPECT_FALSE(kNull.SameAs(kEmpty));
    EXPECT_TRUE(Variant(true).SameAs(Variant(true)));
    EXPECT_FALSE(Variant(true).SameAs(Variant(false)));
    EXPECT_FALSE(Variant(0.0).SameAs(Variant(-0.0)));
    Variant a = Variant::Array(2);
    Variant b = Variant::Array(2);
    EXPECT_TRUE(a.SameAs(b));
    b.ArrayPut(1, Variant(1));
    EXPECT_FALSE(a.SameAs(b));
    a.ArrayPut(1, Variant(1));
    EXPECT_TRUE(a.SameAs(b));
    EXPECT_FALSE(a.SameAs(Variant::Array(1)));
}

// ---------------------------------------------------------------------------
// Arrays

TEST(VariantArray, CreateGetPutRedim) {
    Variant a = Variant::Array(3);
    EXPECT_EQ(a.ArrayHighBound(), 2);
    EXPECT_EQ(a.ArraySize(), 3u);
    for (int i = 0; i <= 2; ++i) EXPECT_TRUE(a.ArrayGet(i).IsEmpty());
    a.ArrayPut(0, Variant(10));
    a.ArrayPut(2, Variant("z"));
    a.ArrayRedim(4);
    EXPECT_EQ(a.ArrayHighBound(), 4);
    EXPECT_INT(a.ArrayGet(0), 10);
    EXPECT_STR(a.ArrayGet(2), "z");
    EXPECT_TRUE(a.ArrayGet(4).IsEmpty());
    a.ArrayRedim(0);
    EXPECT_EQ(a.ArrayHighBound(), 0);
    EXPECT_INT(a.ArrayGet(0), 10);
    a.ArrayRedim(-1);
    EXPECT_EQ(a.ArrayHighBound(), -1);
    EXPECT_EQ(Variant::Array(0).ArrayHighBound(), -1);
    EXPECT_TRUE(Variant::Array(0).ArrayItems().empty());
}

TEST(VariantArray, IndexOutOfRange) {
    Variant a = Variant::Array(2);
    ExpectError<ERangeError>([&] { a.ArrayGet(2); }, "Range check error");
    ExpectError<ERangeError>([&] { a.ArrayGet(-1); }, "Range check error");
    ExpectError<ERangeError>([&] { a.ArrayPut(5, Variant(1)); }, "Range check error");
    ExpectError<ERangeError>([&] { a.ArrayRedim(-2); }, "Range check error");
    ExpectError<EVariantError>([&] { Variant(1).ArrayHighBound(); }, "Variant is not an array");
}

TEST(VariantArray, ArrayInOperations) {
    Variant a = Variant::Array(1);
    ExpectError<EVariantError>([&] { VarAdd(a, Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([&] { VarCmp(a, a); }, kInvalidOp);
    ExpectError<EVariantError>([&] { VarToText(a); },
                               "Could not convert variant of type (Array) into type (String)");
    ExpectError<EVariantError>([&] { VarToStr(a); },
                               "Could not convert variant of type (Array) into type (String)");
    ExpectError<EVariantError>([&] { VarToReal(a); },
                               "Could not convert variant of type (Array) into type (Double)");
}

// ---------------------------------------------------------------------------
// + - *

TEST(VariantArithmetic, IntegerStaysInteger) {
    EXPECT_INT(VarAdd(Variant(2), Variant(3)), 5);
    EXPECT_INT(VarSub(Variant(2), Variant(3)), -1);
    EXPECT_INT(VarMul(Variant(-4), Variant(3)), -12);
    EXPECT_INT(VarAdd(Variant(2147483646), Variant(1)), 2147483647);
    EXPECT_INT(VarSub(Variant(-2147483647), Variant(1)), -2147483647 - 1);
}

TEST(VariantArithmetic, IntegerOverflowGivesExactReal) {
    EXPECT_REAL(VarAdd(Variant(2147483647), Variant(1)), 2147483648.0);
    EXPECT_REAL(VarSub(Variant(-2147483647 - 1), Variant(1)), -2147483649.0);
    EXPECT_REAL(VarMul(Variant(65536), Variant(65536)), 4294967296.0);
    EXPECT_REAL(VarMul(Variant(-2147483647 - 1), Variant(-2147483647 - 1)), 4611686018427387904.0);
    EXPECT_REAL(VarMul(Variant(2147483647), Variant(2147483647)), 4611686014132420609.0);
    EXPECT_REAL(VarAdd(Variant(-2147483647 - 1), Variant(-2147483647 - 1)), -4294967296.0);
}

TEST(VariantArithmetic, RealOperands) {
    EXPECT_REAL(VarAdd(Variant(1), Variant(0.5)), 1.5);
    EXPECT_REAL(VarAdd(Variant(0.5), Variant(1)), 1.5);
    EXPECT_REAL(VarMul(Variant(2.0), Variant(3.0)), 6.0);
    EXPECT_REAL(VarSub(Variant(2.0), Variant(3)), -1.0);
    EXPECT_REAL(VarAdd(Variant(1.0), Variant(1.0)), 2.0);  // stays Real even when whole
}

TEST(VariantArithmetic, RealOverflowRaises) {
    ExpectError<EOverflow>([] { VarMul(Variant(1e308), Variant(10.0)); }, "Floating point overflow");
    ExpectError<EOverflow>([] { VarAdd(Variant(DBL_MAX), Variant(DBL_MAX)); }, "Floating point overflow");
    ExpectError<EOverflow>([] { VarSub(Variant(-DBL_MAX), Variant(DBL_MAX)); }, "Floating point overflow");
    ExpectError<EOverflow>([] { VarMul(Variant(1e300), Variant(1000000000)); }, "Floating point overflow");
}

TEST(VariantArithmetic, Strings) {
    EXPECT_STR(VarAdd(Variant("ab"), Variant("cd")), "abcd");
    EXPECT_STR(VarAdd(Variant("1"), Variant("2")), "12");  // + concatenates two Strings
    EXPECT_INT(VarSub(Variant("5"), Variant("2")), 3);      // - converts them
    EXPECT_REAL(VarMul(Variant("1.5"), Variant("2")), 3.0);
    EXPECT_INT(VarAdd(Variant("5"), Variant(2)), 7);
    EXPECT_INT(VarAdd(Variant(2), Variant(" 5 ")), 7);
    EXPECT_REAL(VarAdd(Variant("2.5"), Variant(1)), 3.5);
    EXPECT_REAL(VarAdd(Variant("2147483647"), Variant(1)), 2147483648.0);
    EXPECT_REAL(VarMul(Variant("1e2"), Variant(2)), 200.0);
    ExpectError<EVariantError>([] { VarAdd(Variant("abc"), Variant(1)); }, kStrToDouble);
    ExpectError<EVariantError>([] { VarSub(Variant("a"), Variant("b")); }, kStrToDouble);
    ExpectError<EVariantError>([] { VarMul(Variant(2), Variant("")); }, kStrToDouble);
}

TEST(VariantArithmetic, Empty) {
    EXPECT_INT(VarAdd(kEmpty, kEmpty), 0);
    EXPECT_INT(VarAdd(kEmpty, Variant(3)), 3);
    EXPECT_INT(VarSub(kEmpty, Variant(3)), -3);
    EXPECT_REAL(VarMul(Variant(2.5), kEmpty), 0.0);
    EXPECT_STR(VarAdd(kEmpty, Variant("ab")), "ab");
    EXPECT_STR(VarAdd(Variant("ab"), kEmpty), "ab");
    EXPECT_INT(VarSub(Variant("5"), kEmpty), 5);
}

TEST(VariantArithmetic, NullFirst) {
    EXPECT_NULL(VarAdd(kNull, Variant(1)));
    EXPECT_NULL(VarAdd(Variant("a"), kNull));
    EXPECT_NULL(VarSub(kNull, Variant(true)));  // Null before the Boolean check
    EXPECT_NULL(VarMul(Variant::Array(1), kNull));
    EXPECT_NULL(VarRDiv(kNull, Variant(0)));
    EXPECT_NULL(VarDiv(Variant(1), kNull));
    EXPECT_NULL(VarMod(kNull, Variant(0)));
    EXPECT_NULL(VarAnd(kNull, Variant(true)));
    EXPECT_NULL(VarOr(Variant(1), kNull));
    EXPECT_NULL(VarXor(kNull, kNull));
    EXPECT_NULL(VarShl(kNull, Variant(1)));
    EXPECT_NULL(VarShr(Variant(1), kNull));
    EXPECT_NULL(VarNeg(kNull));
}

TEST(VariantArithmetic, BooleanAndArrayRaise) {
    ExpectError<EVariantError>([] { VarAdd(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarAdd(Variant(true), Variant(true)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarSub(Variant(1), Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarMul(Variant("x"), Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarAdd(Variant("x"), Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarNeg(Variant(true)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarNeg(Variant::Array(0)); }, kInvalidOp);
}

TEST(VariantArithmetic, ConcatenationLimit) {
    std::string big(MaxTextLength / 2 + 1, 'x');
    Variant a(big);
    EXPECT_THROW(VarAdd(a, a), Exception);
}

// ---------------------------------------------------------------------------
// /

TEST(VariantDivision, RealDivision) {
    EXPECT_REAL(VarRDiv(Variant(1), Variant(2)), 0.5);
    EXPECT_REAL(VarRDiv(Variant(4), Variant(2)), 2.0);  // always Real
    EXPECT_REAL(VarRDiv(Variant(1.0), Variant(4.0)), 0.25);
    EXPECT_REAL(VarRDiv(Variant("3"), Variant(2)), 1.5);
    EXPECT_REAL(VarRDiv(kEmpty, Variant(2)), 0.0);
    ExpectError<EZeroDivide>([] { VarRDiv(Variant(1), Variant(0)); }, "Floating point division by zero");
    ExpectError<EZeroDivide>([] { VarRDiv(Variant(-1.5), Variant(0.0)); },
                             "Floating point division by zero");
    ExpectError<EZeroDivide>([] { VarRDiv(Variant(1), kEmpty); }, "Floating point division by zero");
    ExpectError<EInvalidOp>([] { VarRDiv(Variant(0), Variant(0)); }, "Invalid floating point operation");
    ExpectError<EInvalidOp>([] { VarRDiv(Variant(0.0), Variant(-0.0)); },
                            "Invalid floating point operation");
    ExpectError<EOverflow>([] { VarRDiv(Variant(1e308), Variant(1e-308)); }, "Floating point overflow");
    ExpectError<EVariantError>([] { VarRDiv(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarRDiv(Variant(1), Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarRDiv(Variant("x"), Variant(1)); }, kStrToDouble);
}

TEST(VariantDivision, DivMod) {
    EXPECT_INT(VarDiv(Variant(7), Variant(2)), 3);
    EXPECT_INT(VarDiv(Variant(-7), Variant(2)), -3);
    EXPECT_INT(VarDiv(Variant(7), Variant(-2)), -3);
    EXPECT_INT(VarMod(Variant(7), Variant(2)), 1);
    EXPECT_INT(VarMod(Variant(-7), Variant(2)), -1);
    EXPECT_INT(VarMod(Variant(7), Variant(-2)), 1);
    EXPECT_INT(VarMod(Variant(-7), Variant(-2)), -1);
    EXPECT_INT(VarDiv(Variant(7.0), Variant(2)), 3);  // whole Reals are accepted
    EXPECT_INT(VarMod(Variant(7), Variant(2.0)), 1);
    EXPECT_INT(VarDiv(Variant("9"), Variant(" 2 ")), 4);
    EXPECT_INT(VarDiv(Variant("9.0"), Variant(2)), 4);
    EXPECT_INT(VarDiv(kEmpty, Variant(2)), 0);
}

TEST(VariantDivision, DivModEdges) {
    const int kMin = std::numeric_limits<int>::min();
    EXPECT_REAL(VarDiv(Variant(kMin), Variant(-1)), 2147483648.0);
    EXPECT_INT(VarMod(Variant(kMin), Variant(-1)), 0);
    EXPECT_INT(VarDiv(Variant(kMin), Variant(1)), kMin);
    EXPECT_INT(VarDiv(Variant(-2147483648.0), Variant(2)), -1073741824);
    ExpectError<EDivByZero>([] { VarDiv(Variant(1), Variant(0)); }, "Division by zero");
    ExpectError<EDivByZero>([] { VarMod(Variant(1), Variant(0)); }, "Division by zero");
    ExpectError<EDivByZero>([] { VarMod(Variant(0), Variant(0.0)); }, "Division by zero");
    ExpectError<EDivByZero>([] { VarDiv(Variant(1), kEmpty); }, "Division by zero");
    ExpectError<EVariantError>([] { VarDiv(Variant(7.5), Variant(2)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarMod(Variant(7), Variant(2.5)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarDiv(Variant(2147483648.0), Variant(2)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarDiv(Variant("2147483648"), Variant(2)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarDiv(Variant(1.5), Variant(0)); }, kInvalidOp);  // whole check first
    ExpectError<EVariantError>([] { VarDiv(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarMod(Variant("x"), Variant(1)); }, kStrToDouble);
}

// ---------------------------------------------------------------------------
// ^

TEST(VariantPower, Rules) {
    EXPECT_EQ(Power(0, 0), 1.0);
    EXPECT_EQ(Power(5, 0), 1.0);
    EXPECT_EQ(Power(-5, 0), 1.0);
    EXPECT_EQ(Power(2, 10), 1024.0);
    EXPECT_EQ(Power(2, -1), 0.5);
    EXPECT_EQ(Power(-2, 3), -8.0);
    EXPECT_EQ(Power(-2, 2), 4.0);
    EXPECT_EQ(Power(-2, -1), -0.5);
    EXPECT_EQ(Power(0, 3), 0.0);
    EXPECT_EQ(Power(0, 0.5), 0.0);
    EXPECT_EQ(Power(4, 0.5), 2.0);
    EXPECT_EQ(Power(10, -400), 0.0);  // underflow is no error
    ExpectError<EInvalidOp>([] { Power(-8, 1.0 / 3); }, "Invalid floating point operation");
    ExpectError<EInvalidOp>([] { Power(-1, 0.5); }, "Invalid floating point operation");
    ExpectError<EZeroDivide>([] { Power(0, -1); }, "Floating point division by zero");
    ExpectError<EZeroDivide>([] { Power(0, -0.5); }, "Floating point division by zero");
    ExpectError<EZeroDivide>([] { Power(-0.0, -2); }, "Floating point division by zero");
    ExpectError<EOverflow>([] { Power(10, 400); }, "Floating point overflow");
    ExpectError<EOverflow>([] { Power(-10, 401); }, "Floating point overflow");
}

// ---------------------------------------------------------------------------
// Unary minus, not, and/or/xor, shifts

TEST(VariantUnary, Negation) {
    EXPECT_INT(VarNeg(Variant(5)), -5);
    EXPECT_INT(VarNeg(Variant(-2147483647)), 2147483647);
    EXPECT_REAL(VarNeg(Variant(std::numeric_limits<int>::min())), 2147483648.0);
    EXPECT_REAL(VarNeg(Variant(2.5)), -2.5);
    EXPECT_INT(VarNeg(Variant("7")), -7);
    EXPECT_REAL(VarNeg(Variant("-2147483648")), 2147483648.0);
    EXPECT_REAL(VarNeg(Variant("0.5")), -0.5);
    EXPECT_INT(VarNeg(kEmpty), 0);
    ExpectError<EVariantError>([] { VarNeg(Variant("x")); }, kStrToDouble);
}

TEST(VariantUnary, Not) {
    EXPECT_BOOL(VarNot(Variant(true)), false);
    EXPECT_BOOL(VarNot(Variant(false)), true);
    EXPECT_INT(VarNot(Variant(0)), -1);
    EXPECT_INT(VarNot(Variant(5)), -6);
    EXPECT_INT(VarNot(Variant(5.0)), -6);
    ExpectError<EVariantError>([] { VarNot(Variant::Null()); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarNot(Variant::Array(0)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarNot(Variant(0.5)); }, kInvalidOp);
}

TEST(VariantLogic, BooleansAndBitwise) {
    EXPECT_BOOL(VarAnd(Variant(true), Variant(false)), false);
    EXPECT_BOOL(VarAnd(Variant(true), Variant(true)), true);
    EXPECT_BOOL(VarOr(Variant(false), Variant(true)), true);
    EXPECT_BOOL(VarOr(Variant(false), Variant(false)), false);
    EXPECT_BOOL(VarXor(Variant(true), Variant(true)), false);
    EXPECT_BOOL(VarXor(Variant(true), Variant(false)), true);
    EXPECT_INT(VarAnd(Variant(1), Variant(3)), 1);
    EXPECT_INT(VarOr(Variant(12), Variant(3)), 15);
    EXPECT_INT(VarXor(Variant(6), Variant(3)), 5);
    EXPECT_INT(VarAnd(Variant(-1), Variant(0x7fffffff)), 0x7fffffff);
    EXPECT_INT(VarOr(Variant(4.0), Variant("1")), 5);
    ExpectError<EVariantError>([] { VarAnd(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarOr(Variant(0), Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarXor(Variant(1.5), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarAnd(Variant::Array(1), Variant(1)); }, kInvalidOp);
}

TEST(VariantLogic, Shifts) {
    EXPECT_INT(VarShl(Variant(1), Variant(4)), 16);
    EXPECT_INT(VarShl(Variant(1), Variant(31)), std::numeric_limits<int>::min());
    EXPECT_INT(VarShl(Variant(1), Variant(32)), 1);  // count modulo 32
    EXPECT_INT(VarShl(Variant(1), Variant(33)), 2);
    EXPECT_INT(VarShl(Variant(1), Variant(-1)), std::numeric_limits<int>::min());
    EXPECT_INT(VarShr(Variant(16), Variant(2)), 4);
    EXPECT_INT(VarShr(Variant(-1), Variant(28)), 15);  // zero fill
    EXPECT_INT(VarShr(Variant(-8), Variant(0)), -8);
    EXPECT_INT(VarShr(Variant(256), Variant(36)), 16);
    EXPECT_INT(VarShl(Variant("3"), Variant(2.0)), 12);
    ExpectError<EVariantError>([] { VarShl(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarShr(Variant(1), Variant(0.5)); }, kInvalidOp);
}

// ---------------------------------------------------------------------------
// Comparison

TEST(VariantCompare, Numbers) {
    EXPECT_EQ(VarCmp(Variant(1), Variant(2)), -1);
    EXPECT_EQ(VarCmp(Variant(2), Variant(2)), 0);
    EXPECT_EQ(VarCmp(Variant(3), Variant(2)), 1);
    EXPECT_EQ(VarCmp(Variant(2), Variant(2.0)), 0);
    EXPECT_EQ(VarCmp(Variant(2), Variant(2.5)), -1);
    EXPECT_EQ(VarCmp(Variant(-0.0), Variant(0.0)), 0);
    EXPECT_EQ(VarCmp(Variant(2147483647), Variant(2147483648.0)), -1);
    EXPECT_EQ(VarCmp(Variant(std::numeric_limits<int>::min()), Variant(2147483647)), -1);
}

TEST(VariantCompare, Strings) {
    EXPECT_EQ(VarCmp(Variant("a"), Variant("b")), -1);
    EXPECT_EQ(VarCmp(Variant("b"), Variant("a")), 1);
    EXPECT_EQ(VarCmp(Variant("abc"), Variant("abc")), 0);
    EXPECT_EQ(VarCmp(Variant("ab"), Variant("abc")), -1);
    EXPECT_EQ(VarCmp(Variant("B"), Variant("a")), -1);   // case-sensitive
    EXPECT_EQ(VarCmp(Variant("\xe9"), Variant("z")), 1);  // unsigned bytes
    EXPECT_EQ(VarCmp(Variant("10"), Variant("9")), -1);   // two Strings: bytes, not numbers
    EXPECT_EQ(VarCmp(Variant("10"), Variant(9)), 1);      // String with number: numeric
    EXPECT_EQ(VarCmp(Variant(9), Variant(" 10 ")), -1);
    EXPECT_EQ(VarCmp(Variant("2.0"), Variant(2)), 0);
    ExpectError<EVariantError>([] { VarCmp(Variant("abc"), Variant(1)); }, kStrToDouble);
}

TEST(VariantCompare, NullEmptyBoolean) {
    EXPECT_EQ(VarCmp(kNull, kNull), 0);
    EXPECT_EQ(VarCmp(kNull, Variant(-1000)), -1);
    EXPECT_EQ(VarCmp(Variant(-1000), kNull), 1);
    EXPECT_EQ(VarCmp(kNull, Variant("")), -1);
    EXPECT_EQ(VarCmp(kNull, kEmpty), -1);
    EXPECT_EQ(VarCmp(kEmpty, kNull), 1);
    EXPECT_EQ(VarCmp(kNull, Variant(false)), -1);
    EXPECT_EQ(VarCmp(Variant(false), kNull), 1);
    EXPECT_EQ(VarCmp(kEmpty, kEmpty), 0);
    EXPECT_EQ(VarCmp(kEmpty, Variant(0)), 0);
    EXPECT_EQ(VarCmp(kEmpty, Variant(1)), -1);
    EXPECT_EQ(VarCmp(Variant(-0.5), kEmpty), -1);
    EXPECT_EQ(VarCmp(kEmpty, Variant("")), 0);
    EXPECT_EQ(VarCmp(kEmpty, Variant("a")), -1);
    EXPECT_EQ(VarCmp(Variant("a"), kEmpty), 1);
    EXPECT_EQ(VarCmp(Variant(false), Variant(true)), -1);
    EXPECT_EQ(VarCmp(Variant(true), Variant(false)), 1);
    EXPECT_EQ(VarCmp(Variant(true), Variant(true)), 0);
    ExpectError<EVariantError>([] { VarCmp(Variant(true), Variant(1)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarCmp(Variant("True"), Variant(true)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarCmp(kEmpty, Variant(false)); }, kInvalidOp);
    ExpectError<EVariantError>([] { VarCmp(Variant(1), Variant::Array(1)); }, kInvalidOp);
}

// ---------------------------------------------------------------------------
// Conversions

TEST(VariantConvert, ToReal) {
    EXPECT_EQ(VarToReal(Variant(3)), 3.0);
    EXPECT_EQ(VarToReal(Variant(2.5)), 2.5);
    EXPECT_EQ(VarToReal(Variant(" 1e3 ")), 1000.0);
    EXPECT_EQ(VarToReal(kEmpty), 0.0);
    ExpectError<EVariantError>([] { VarToReal(Variant::Null()); },
                               "Could not convert variant of type (Null) into type (Double)");
    ExpectError<EVariantError>([] { VarToReal(Variant(true)); },
                               "Could not convert variant of type (Boolean) into type (Double)");
    ExpectError<EVariantError>([] { VarToReal(Variant("x")); }, kStrToDouble);
}

TEST(VariantConvert, ToInt) {
    EXPECT_EQ(VarToInt(Variant(3)), 3);
    EXPECT_EQ(VarToInt(kEmpty), 0);
    EXPECT_EQ(VarToInt(Variant(2.5)), 2);  // half to even
    EXPECT_EQ(VarToInt(Variant(3.5)), 4);
    EXPECT_EQ(VarToInt(Variant(-2.5)), -2);
    EXPECT_EQ(VarToInt(Variant(-3.5)), -4);
    EXPECT_EQ(VarToInt(Variant(2.4999999999999996)), 2);
    EXPECT_EQ(VarToInt(Variant(0.49999999999999994)), 0);
    EXPECT_EQ(VarToInt(Variant(-0.49999999999999994)), 0);
    EXPECT_EQ(VarToInt(Variant(2.6)), 3);
    EXPECT_EQ(VarToInt(Variant(2147483647.4)), 2147483647);
    EXPECT_EQ(VarToInt(Variant(-2147483648.5)), std::numeric_limits<int>::min());
    EXPECT_EQ(VarToInt(Variant("12")), 12);
    EXPECT_EQ(VarToInt(Variant("12.5")), 12);
    EXPECT_EQ(VarToInt(Variant("-2147483648")), std::numeric_limits<int>::min());
    const std::string overflow = "Overflow while converting variant of type (Double) into type (Integer)";
    ExpectError<EVariantError>([] { VarToInt(Variant(2147483647.5)); }, overflow);
    ExpectError<EVariantError>([] { VarToInt(Variant(-2147483648.6)); }, overflow);
    ExpectError<EVariantError>([] { VarToInt(Variant(1e300)); }, overflow);
    ExpectError<EVariantError>([] { VarToInt(Variant("2147483648")); }, overflow);
    ExpectError<EVariantError>([] { VarToInt(Variant("abc")); },
                               "Could not convert variant of type (String) into type (Integer)");
    ExpectError<EVariantError>([] { VarToInt(Variant(true)); },
                               "Could not convert variant of type (Boolean) into type (Integer)");
    ExpectError<EVariantError>([] { VarToInt(Variant::Null()); },
                               "Could not convert variant of type (Null) into type (Integer)");
    ExpectError<EVariantError>([] { VarToInt(Variant::Array(0)); },
                               "Could not convert variant of type (Array) into type (Integer)");
}

TEST(VariantConvert, ToBool) {
    EXPECT_TRUE(VarToBool(Variant(true)));
    EXPECT_FALSE(VarToBool(Variant(false)));
    EXPECT_TRUE(VarToBool(Variant(-1)));
    EXPECT_FALSE(VarToBool(Variant(0)));
    EXPECT_TRUE(VarToBool(Variant(0.1)));
    EXPECT_FALSE(VarToBool(Variant(0.0)));
    EXPECT_FALSE(VarToBool(kEmpty));
    EXPECT_TRUE(VarToBool(Variant("true")));
    EXPECT_TRUE(VarToBool(Variant("TrUe")));
    EXPECT_FALSE(VarToBool(Variant("FALSE")));
    EXPECT_TRUE(VarToBool(Variant(" 2 ")));
    EXPECT_FALSE(VarToBool(Variant("0.0")));
    ExpectError<EVariantError>([] { VarToBool(Variant("yes")); },
                               "Could not convert variant of type (String) into type (Boolean)");
    ExpectError<EVariantError>([] { VarToBool(Variant::Null()); },
                               "Could not convert variant of type (Null) into type (Boolean)");
    ExpectError<EVariantError>([] { VarToBool(Variant::Array(1)); },
                               "Could not convert variant of type (Array) into type (Boolean)");
}

TEST(VariantConvert, ToText) {
    EXPECT_EQ(VarToText(Variant(-42)), "-42");
    EXPECT_EQ(VarToText(Variant(2.0)), "2");
    EXPECT_EQ(VarToText(Variant(0.5)), "0.5");
    EXPECT_EQ(VarToText(Variant(true)), "True");
    EXPECT_EQ(VarToText(Variant(false)), "False");
    EXPECT_EQ(VarToText(Variant("it's")), "it's");
    EXPECT_EQ(VarToText(kEmpty), "");
    ExpectError<EVariantError>([] { VarToText(Variant::Null()); },
                               "Could not convert variant of type (Null) into type (String)");
    EXPECT_EQ(VarToStr(Variant::Null()), "");
    EXPECT_EQ(VarToStr(kEmpty), "");
    EXPECT_EQ(VarToStr(Variant(1e20)), "1E+20");
    EXPECT_EQ(VarToStr(Variant(7)), "7");
}

// ---------------------------------------------------------------------------
// Numeric text rule

namespace {

Variant Parse(const char* text, bool expectOk = true) {
    Variant v = Variant("unchanged");
    bool ok = ParseNumberText(text, v);
    EXPECT_EQ(ok, expectOk) << "'" << text << "'";
    return v;
}

}  // namespace

TEST(VariantNumericText, IntegerForm) {
    EXPECT_INT(Parse("0"), 0);
    EXPECT_INT(Parse("42"), 42);
    EXPECT_INT(Parse("+42"), 42);
    EXPECT_INT(Parse("-42"), -42);
    EXPECT_INT(Parse("-0"), 0);
    EXPECT_INT(Parse(" 2 "), 2);
    EXPECT_INT(Parse("\t\r\n 7\x01"), 7);
    EXPECT_INT(Parse("007"), 7);
    EXPECT_INT(Parse("0000000000000000000000012"), 12);
    EXPECT_INT(Parse("2147483647"), 2147483647);
    EXPECT_INT(Parse("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_REAL(Parse("2147483648"), 2147483648.0);
    EXPECT_REAL(Parse("-2147483649"), -2147483649.0);
    EXPECT_REAL(Parse("99999999999"), 99999999999.0);
    EXPECT_REAL(Parse("123456789012345678901234567890"), 1.2345678901234568e29);
}

TEST(VariantNumericText, RealForms) {
    EXPECT_REAL(Parse("1."), 1.0);
    EXPECT_REAL(Parse(".5"), 0.5);
    EXPECT_REAL(Parse("-.5"), -0.5);
    EXPECT_REAL(Parse("2.0"), 2.0);
    EXPECT_REAL(Parse("1e3"), 1000.0);
    EXPECT_REAL(Parse("1E+3"), 1000.0);
    EXPECT_REAL(Parse("1.e-2"), 0.01);
    EXPECT_REAL(Parse(".5e1"), 5.0);
    EXPECT_REAL(Parse("0.1"), 0.1);
    EXPECT_REAL(Parse("1.7976931348623157e308"), DBL_MAX);
    EXPECT_REAL(Parse("4.9406564584124654e-324"), 4.9406564584124654e-324);
    EXPECT_REAL(Parse("1e-400"), 0.0);  // below the smallest subnormal: zero
    EXPECT_REAL(Parse("0e99999999999999999999"), 0.0);
    Variant negZero = Parse("-0.0");
    ASSERT_TRUE(negZero.IsReal());
    EXPECT_TRUE(std::signbit(negZero.AsReal()));
}

TEST(VariantNumericText, NoNumber) {
    for (const char* t : {"", "   ", "1e", "1e+", "e5", ".", "-", "+", "+-1", "--1", "1 2", "1..2", "1.2.3",
                          "0x10", "$10", "1,5", "inf", "nan", "Infinity", "1e400", "-1e400",
                          "1.7976931348623159e308", "1e99999999999999999999", "abc", "1a", "a1", "1_000",
                          "١", "1e5.0", "++1"}) {
        Variant v = Variant("unchanged");
        EXPECT_FALSE(ParseNumberText(t, v)) << "'" << t << "'";
        EXPECT_STR(v, "unchanged");
    }
    std::string huge = "1" + std::string(400, '0');
    Variant v;
    EXPECT_FALSE(ParseNumberText(huge, v));
    std::string tiny = "0." + std::string(400, '0') + "1";
    EXPECT_TRUE(ParseNumberText(tiny, v));
    EXPECT_REAL(v, 0.0);
}

// Thousands of digits read as the library's exact reader reads them all,
// halfway cases and their neighbours included, with leading zeros and the
// point anywhere.
TEST(VariantNumericText, VeryLongMantissasRoundAsTheWholeText) {
    std::mt19937 rng(11);
    const std::string halfway = "9007199254740993";  // 2^53 + 1: halfway between two doubles
    for (int i = 0; i < 400; ++i) {
        std::string digits = i % 4 == 0 ? halfway : "";
        const std::size_t n = 1700 + rng() % 2500;
        const bool tail = rng() % 2;
        while (digits.size() < n) digits += i % 4 == 0 && !tail ? '0' : static_cast<char>('0' + rng() % 10);
        if (i % 4 == 0 && tail) digits.back() = '1';  // just above halfway
        const std::size_t zeros = rng() % 3 == 0 ? rng() % 900 : 0;
        std::string text = std::string(zeros, '0') + digits;
        const std::size_t point = rng() % (text.size() + 1);
        if (rng() % 2) text.insert(point, ".");
        const int exponent = static_cast<int>(rng() % 700) - 350 - static_cast<int>(digits.size());
        text += "e" + std::to_string(exponent);
        double expected = 0;
        const auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
        Variant v;
        if (r.ec != std::errc() || !std::isfinite(expected)) continue;
        ASSERT_TRUE(ParseNumberText(text, v)) << text.substr(0, 40);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(v.AsReal()), std::bit_cast<std::uint64_t>(expected))
            << text.substr(0, 40) << "... " << text.size();
    }
}

TEST(VariantNumericText, StrToIntAndStrToFloat) {
    EXPECT_EQ(StrToInt("123"), 123);
    EXPECT_EQ(StrToInt(" -5 "), -5);
    EXPECT_EQ(StrToInt("-2147483648"), std::numeric_limits<int>::min());
    ExpectError<EConvertError>([] { StrToInt("2147483648"); }, "'2147483648' is not a valid integer value");
    ExpectError<EConvertError>([] { StrToInt("1.0"); }, "'1.0' is not a valid integer value");
    ExpectError<EConvertError>([] { StrToInt("1e2"); }, "'1e2' is not a valid integer value");
    ExpectError<EConvertError>([] { StrToInt(" abc"); }, "' abc' is not a valid integer value");
    ExpectError<EConvertError>([] { StrToInt(""); }, "'' is not a valid integer value");
    EXPECT_EQ(StrToFloat("1."), 1.0);
    EXPECT_EQ(StrToFloat("7"), 7.0);
    EXPECT_EQ(StrToFloat(" 2.5e1 "), 25.0);
    ExpectError<EConvertError>([] { StrToFloat("1e"); }, "'1e' is not a valid floating point value");
    ExpectError<EConvertError>([] { StrToFloat("1e400"); }, "'1e400' is not a valid floating point value");
    ExpectError<EConvertError>([] { StrToFloat("x y"); }, "'x y' is not a valid floating point value");
}

// ---------------------------------------------------------------------------
// Text forms of reals

TEST(VariantRealText, DisplayForm) {
    EXPECT_EQ(FormatRealDisplay(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatRealDisplay(1e20), "1E+20");
    EXPECT_EQ(FormatRealDisplay(1e-5), "1E-05");
    EXPECT_EQ(FormatRealDisplay(2.0), "2");
    EXPECT_EQ(FormatRealDisplay(0.0), "0");
    EXPECT_EQ(FormatRealDisplay(-2.5), "-2.5");
    EXPECT_EQ(FormatRealDisplay(1e15), "1E+15");
    EXPECT_EQ(FormatRealDisplay(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatRealDisplay(0.0001), "0.0001");
    EXPECT_EQ(FormatRealDisplay(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FormatRealDisplay(2147483648.0), "2147483648");
    EXPECT_EQ(FormatRealDisplay(DBL_MAX), "1.79769313486232E+308");
    EXPECT_EQ(FloatToStr(0.5), "0.5");
}

TEST(VariantRealText, DisplayFormMatchesPrintf) {
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<std::uint64_t> bits;
    std::uniform_real_distribution<double> small(-1e6, 1e6);
    for (int k = 0; k < 20000; ++k) {
        double v = std::bit_cast<double>(bits(rng));
        if (!std::isfinite(v)) continue;
        ASSERT_EQ(FormatRealDisplay(v), Printf15G(v)) << v;
        double w = small(rng);
        ASSERT_EQ(FormatRealDisplay(w), Printf15G(w)) << w;
        double r = std::round(w * 1000) / 1000;
        ASSERT_EQ(FormatRealDisplay(r), Printf15G(r)) << r;
    }
    for (double v : {1e-320, 5e-324, 0.5, 9.999999999999995e14, 999999999999999.5, 1e16, 1e-4, 9.99999999999999e-5,
                     123456789.123456789, -0.0})
        EXPECT_EQ(FormatRealDisplay(v), Printf15G(v)) << v;
}

TEST(VariantRealText, ExactForm) {
    EXPECT_EQ(FormatRealExact(2.0), "2");
    EXPECT_EQ(FormatRealExact(100000.0), "100000");
    EXPECT_EQ(FormatRealExact(-5.0), "-5");
    EXPECT_EQ(FormatRealExact(2147483647.0), "2147483647");
    EXPECT_EQ(FormatRealExact(2147483648.0), "2147483648.0");
    EXPECT_EQ(FormatRealExact(-2147483647.0), "-2147483647");
    EXPECT_EQ(FormatRealExact(-2147483648.0), "-2147483648.0");
    EXPECT_EQ(FormatRealExact(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(FormatRealExact(1e20), "1e+20");
    EXPECT_EQ(FormatRealExact(1.5e-7), "1.5e-07");
    EXPECT_EQ(FormatRealExact(9007199254740992.0), "9007199254740992.0");
    EXPECT_EQ(FormatRealExact(9007199254740991.0), "9007199254740991.0");
    EXPECT_EQ(FormatRealExact(-9007199254740992.0), "-9007199254740992.0");
    EXPECT_EQ(FormatRealExact(1e16), "1e+16");
    EXPECT_EQ(FormatRealExact(-0.0), "-0.0");
    EXPECT_EQ(FormatRealExact(0.0), "0");
    EXPECT_EQ(FormatRealExact(0.5), "0.5");
    EXPECT_EQ(FormatRealExact(-2.5), "-2.5");
    EXPECT_EQ(FormatRealExact(DBL_MAX), "1.7976931348623157e+308");
}

TEST(VariantRealText, ExactFormReadsBack) {
    std::mt19937_64 rng(777);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int k = 0; k < 20000; ++k) {
        double v = std::bit_cast<double>(bits(rng));
        if (!std::isfinite(v)) continue;
        std::string text = FormatRealExact(v);
        Variant back;
        ASSERT_TRUE(ParseNumberText(text, back)) << text;
        ASSERT_EQ(VarToReal(back), v == 0 ? 0.0 : v) << text;
        if (back.IsInteger()) {
            ASSERT_EQ(v, std::trunc(v)) << text;
        }
    }
}

// ---------------------------------------------------------------------------
// No inf or NaN ever comes out

TEST(VariantFinite, CheckReal) {
    EXPECT_EQ(CheckReal(1.5), 1.5);
    ExpectError<EOverflow>([] { CheckReal(std::numeric_limits<double>::infinity()); }, "Floating point overflow");
    ExpectError<EOverflow>([] { CheckReal(-std::numeric_limits<double>::infinity()); },
                           "Floating point overflow");
    ExpectError<EInvalidOp>([] { CheckReal(std::numeric_limits<double>::quiet_NaN()); },
                            "Invalid floating point operation");
}

TEST(VariantFinite, OperationsNeverReturnNonFinite) {
    const Variant values[] = {Variant(0), Variant(1), Variant(-1), Variant(2147483647),
                              Variant(std::numeric_limits<int>::min()), Variant(0.0), Variant(-0.0),
                              Variant(DBL_MAX), Variant(-DBL_MAX), Variant(DBL_MIN), Variant(5e-324),
                              Variant(1e154), Variant("1e308"), Variant("-1.5"), Variant(kEmpty)};
    using Op = Variant (*)(const Variant&, const Variant&);
    const Op ops[] = {VarAdd, VarSub, VarMul, VarRDiv, VarDiv, VarMod};
    for (Op op : ops)
        for (const Variant& a : values)
            for (const Variant& b : values) {
                try {
                    Variant r = op(a, b);
                    if (r.IsReal()) {
                        EXPECT_TRUE(std::isfinite(r.AsReal()));
                    }
                } catch (const Exception&) {
                }
            }
    for (const Variant& a : values)
        for (const Variant& b : values) {
            try {
                EXPECT_TRUE(std::isfinite(Power(VarToReal(a), VarToReal(b))));
            } catch (const Exception&) {
            }
        }
}

// ---------------------------------------------------------------------------
// SysUtils and assertions

TEST(SysUtilsText, Helpers) {
    EXPECT_EQ(Trim(" \t a b \n"), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  ab "), "ab ");
    EXPECT_EQ(TrimRight("  ab "), "  ab");
    EXPECT_EQ(UpperCase("abZ\xe9"), "ABZ\xe9");
    EXPECT_EQ(LowerCase("ABz\xc9"), "abz\xc9");
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(QuotedStr(""), "''");
    EXPECT_EQ(IntToStr(-9223372036854775807LL - 1), "-9223372036854775808");
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_NO_THROW(CheckTextLength(MaxTextLength));
    ExpectError<Exception>([] { CheckTextLength(MaxTextLength + 1); },
                           "Text result exceeds the maximum length of 67108864 characters.");
}

TEST(SysUtilsText, AssertionFailed) {
    ExpectError<EAssertionFailed>([] { AssertionFailed("Source/MathItem", "x != nullptr"); },
                                  "Assertion failed (Source/MathItem): x != nullptr");
    ExpectError<EAssertionFailed>([] { ZORVEX_ASSERT(1 + 1 == 3, "Source/MathInterpreter"); },
                                  "Assertion failed (Source/MathInterpreter): 1 + 1 == 3");
}

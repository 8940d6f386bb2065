#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "Financial.h"
#include "zorvex/Exception.h"

using namespace zorvex;

namespace {

struct CalcCase {
    const char* formula;
    double (*compute)();
    double expected;
};

// Expected values computed with LibreOffice Calc 7.4 (headless), from the
// formulas shown; Calc takes the arguments in the same order, its type 0/1 is
// ptEndOfPeriod/ptStartOfPeriod. Values read back to 17 significant digits.
const CalcCase kCalcCases[] = {
    {"=FV(0.05;10;-100;-1000;0)", [] { return FutureValue(0.05, 10, -100, -1000, ptEndOfPeriod); }, 2886.6838803323262},
    {"=FV(0.05;10;-100;-1000;1)", [] { return FutureValue(0.05, 10, -100, -1000, ptStartOfPeriod); }, 2949.5733430100699},
    {"=FV(0;10;-100;-1000;0)", [] { return FutureValue(0, 10, -100, -1000, ptEndOfPeriod); }, 2000},
    {"=FV(0;10;-100;-1000;1)", [] { return FutureValue(0, 10, -100, -1000, ptStartOfPeriod); }, 2000},
    {"=FV(-0.03;24;-50;2000;0)", [] { return FutureValue(-0.03, 24, -50, 2000, ptEndOfPeriod); }, -98.529813676319009},
    {"=FV(-0.03;24;-50;2000;1)", [] { return FutureValue(-0.03, 24, -50, 2000, ptStartOfPeriod); }, -124.4589525807329},
    {"=FV(0.0075;360;-1200;0;1)", [] { return FutureValue(0.0075, 360, -1200, 0, ptStartOfPeriod); }, 2213368.8710341188},
    {"=FV(0.05;-3;-100;-1000;0)", [] { return FutureValue(0.05, -3, -100, -1000, ptEndOfPeriod); }, 591.5127955944281},
    {"=FV(-2;3;-100;-1000;0)", [] { return FutureValue(-2, 3, -100, -1000, ptEndOfPeriod); }, -900},
    {"=PV(0.0065;60;-500;0;0)", [] { return PresentValue(0.0065, 60, -500, 0, ptEndOfPeriod); }, 24776.009015528583},
    {"=PV(0.0065;60;-500;0;1)", [] { return PresentValue(0.0065, 60, -500, 0, ptStartOfPeriod); }, 24937.053074129519},
    {"=PV(0;60;-500;1000;0)", [] { return PresentValue(0, 60, -500, 1000, ptEndOfPeriod); }, 29000},
    {"=PV(-0.02;12;100;-500;1)", [] { return PresentValue(-0.02, 12, 100, -500, ptStartOfPeriod); }, -707.11893466285858},
    {"=PV(0.1;5;0;-10000;0)", [] { return PresentValue(0.1, 5, 0, -10000, ptEndOfPeriod); }, 6209.2132305915493},
    {"=PV(0.03;-4;-100;500;1)", [] { return PresentValue(0.03, -4, -100, 500, ptStartOfPeriod); }, -993.66798600000004},
    {"=PMT(0.005;360;200000;0;0)", [] { return Payment(0.005, 360, 200000, 0, ptEndOfPeriod); }, -1199.1010503055049},
    {"=PMT(0.005;360;200000;0;1)", [] { return Payment(0.005, 360, 200000, 0, ptStartOfPeriod); }, -1193.1353734383133},
    {"=PMT(0;36;9000;-1000;0)", [] { return Payment(0, 36, 9000, -1000, ptEndOfPeriod); }, -222.22222222222223},
    {"=PMT(0;36;9000;-1000;1)", [] { return Payment(0, 36, 9000, -1000, ptStartOfPeriod); }, -222.22222222222223},
    {"=PMT(-0.01;24;5000;-1000;0)", [] { return Payment(-0.01, 24, 5000, -1000, ptEndOfPeriod); }, -136.63518574659375},
    {"=PMT(-0.01;24;5000;-1000;1)", [] { return Payment(-0.01, 24, 5000, -1000, ptStartOfPeriod); }, -138.01533913797348},
    {"=PMT(0.05;-3;1000;0;0)", [] { return Payment(0.05, -3, 1000, 0, ptEndOfPeriod); }, 317.208564631245},
    {"=PMT(0.07;1;1000;500;1)", [] { return Payment(0.07, 1, 1000, 500, ptStartOfPeriod); }, -1467.2897196261683},
    {"=IPMT(0.01;1;12;10000;0;0)", [] { return InterestPayment(0.01, 1, 12, 10000, 0, ptEndOfPeriod); }, -100},
    {"=IPMT(0.01;1;12;10000;0;1)", [] { return InterestPayment(0.01, 1, 12, 10000, 0, ptStartOfPeriod); }, 0},
    {"=IPMT(0.01;2;12;10000;0;1)", [] { return InterestPayment(0.01, 2, 12, 10000, 0, ptStartOfPeriod); }, -91.203090229867158},
    {"=IPMT(0.01;7;12;10000;-2000;0)", [] { return InterestPayment(0.01, 7, 12, 10000, -2000, ptEndOfPeriod); }, -61.193685166415875},
    {"=IPMT(0.01;12;12;10000;-2000;1)", [] { return InterestPayment(0.01, 12, 12, 10000, -2000, ptStartOfPeriod); }, -26.769829520897307},
    {"=IPMT(0;5;12;10000;0;0)", [] { return InterestPayment(0, 5, 12, 10000, 0, ptEndOfPeriod); }, 0},
    {"=IPMT(-0.02;3;10;1000;100;0)", [] { return InterestPayment(-0.02, 3, 10, 1000, 100, ptEndOfPeriod); }, 15.237449472783206},
    {"=IPMT(-0.02;3;10;1000;100;1)", [] { return InterestPayment(-0.02, 3, 10, 1000, 100, ptStartOfPeriod); }, 15.548417829370626},
    {"=IPMT(0.004;359;360;250000;0;0)", [] { return InterestPayment(0.004, 359, 360, 250000, 0, ptEndOfPeriod); }, -10.430681359224021},
    {"=PPMT(0.01;1;12;10000;0;0)", [] { return PeriodPayment(0.01, 1, 12, 10000, 0, ptEndOfPeriod); }, -788.48788678341725},
    {"=PPMT(0.01;1;12;10000;0;1)", [] { return PeriodPayment(0.01, 1, 12, 10000, 0, ptStartOfPeriod); }, -879.69097701328428},
    {"=PPMT(0.01;6;12;10000;-2000;1)", [] { return PeriodPayment(0.01, 6, 12, 10000, -2000, ptStartOfPeriod); }, -656.40292545859984},
    {"=PPMT(0;4;12;10000;-2000;0)", [] { return PeriodPayment(0, 4, 12, 10000, -2000, ptEndOfPeriod); }, -666.66666666666663},
    {"=PPMT(-0.02;10;10;1000;100;0)", [] { return PeriodPayment(-0.02, 10, 10, 1000, 100, ptEndOfPeriod); }, -100.27186474996866},
    {"=PPMT(0.004;360;360;250000;0;1)", [] { return PeriodPayment(0.004, 360, 360, 250000, 0, ptStartOfPeriod); }, -1301.2327044941123},
    {"=RATE(48;-200;8000;0;0)", [] { return InterestRate(48, -200, 8000, 0, ptEndOfPeriod); }, 0.0077014724882327867},
    {"=RATE(48;-200;8000;0;1)", [] { return InterestRate(48, -200, 8000, 0, ptStartOfPeriod); }, 0.0080529819239392054},
    {"=RATE(10;-100;-1000;2500;0)", [] { return InterestRate(10, -100, -1000, 2500, ptEndOfPeriod); }, 0.030527949869892209},
    {"=RATE(12;-100;1000;0;1)", [] { return InterestRate(12, -100, 1000, 0, ptStartOfPeriod); }, 0.035031530362282966},
    {"=RATE(20;40;-1000;0;0)", [] { return InterestRate(20, 40, -1000, 0, ptEndOfPeriod); }, -0.020371621700694273},
    {"=RATE(20;40;-1000;0;1)", [] { return InterestRate(20, 40, -1000, 0, ptStartOfPeriod); }, -0.022343348150128648},
    // Two roots (about 0.073 and 0.110) and a first step that overshoots both.
    {"=RATE(109;-4.8323576268111452;48.1888;49650.9;1)", [] { return InterestRate(109, -4.8323576268111452, 48.1888, 49650.9, ptStartOfPeriod); }, 0.1100108401},
    {"=RATE(5;0;-1000;1500;0)", [] { return InterestRate(5, 0, -1000, 1500, ptEndOfPeriod); }, 0.084471771197698609},
    {"=RATE(5;0;-1000;800;1)", [] { return InterestRate(5, 0, -1000, 800, ptStartOfPeriod); }, -0.043647500209962983},
    {"=NPER(0.01;-100;5000;0;0)", [] { return NumberOfPeriods(0.01, -100, 5000, 0, ptEndOfPeriod); }, 69.660716893574886},
    {"=NPER(0.01;-100;5000;0;1)", [] { return NumberOfPeriods(0.01, -100, 5000, 0, ptStartOfPeriod); }, 68.670569270506178},
    {"=NPER(0;-100;5000;-1000;0)", [] { return NumberOfPeriods(0, -100, 5000, -1000, ptEndOfPeriod); }, 40},
    {"=NPER(0;-100;5000;-1000;1)", [] { return NumberOfPeriods(0, -100, 5000, -1000, ptStartOfPeriod); }, 40},
    {"=NPER(-0.01;-100;5000;0;0)", [] { return NumberOfPeriods(-0.01, -100, 5000, 0, ptEndOfPeriod); }, 40.343438668957937},
    {"=NPER(0.05;-100;-1000;5000;1)", [] { return NumberOfPeriods(0.05, -100, -1000, 5000, ptStartOfPeriod); }, 16.984830583442911},
    {"=DDB(10000;1000;5;1)", [] { return DoubleDecliningBalance(10000, 1000, 5, 1); }, 4000},
    {"=DDB(10000;1000;5;2)", [] { return DoubleDecliningBalance(10000, 1000, 5, 2); }, 2400},
    {"=DDB(10000;1000;5;4)", [] { return DoubleDecliningBalance(10000, 1000, 5, 4); }, 864},
    {"=DDB(10000;1000;5;5)", [] { return DoubleDecliningBalance(10000, 1000, 5, 5); }, 296},
    {"=DDB(1000;100;1;1)", [] { return DoubleDecliningBalance(1000, 100, 1, 1); }, 900},
    {"=DDB(1000;100;2;2)", [] { return DoubleDecliningBalance(1000, 100, 2, 2); }, 0},
    {"=DDB(2400;300;10;3)", [] { return DoubleDecliningBalance(2400, 300, 10, 3); }, 307.19999999999999},
    {"=DDB(2400;300;10;10)", [] { return DoubleDecliningBalance(2400, 300, 10, 10); }, 22.122547200000156},
    {"=SLN(1000;100;9)", [] { return SLNDepreciation(1000, 100, 9); }, 100},
    {"=SLN(30000;7500;10)", [] { return SLNDepreciation(30000, 7500, 10); }, 2250},
    {"=SLN(100;250;3)", [] { return SLNDepreciation(100, 250, 3); }, -50},
    {"=SYD(1000;100;9;1)", [] { return SYDDepreciation(1000, 100, 9, 1); }, 180},
    {"=SYD(1000;100;9;9)", [] { return SYDDepreciation(1000, 100, 9, 9); }, 20},
    {"=SYD(30000;7500;10;4)", [] { return SYDDepreciation(30000, 7500, 10, 4); }, 2863.6363636363635},
};

void ExpectRelative(double actual, double expected, double tolerance = 1e-9) {
    if (expected == 0.0)
        EXPECT_EQ(actual, 0.0);
    else
        EXPECT_NEAR(actual, expected, std::fabs(expected) * tolerance);
}

template <class E, class F>
void ExpectError(F&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "wrong error: " << e.what();
    }
}

const std::string kOverflow = "Floating point overflow";
const std::string kInvalidOp = "Invalid floating point operation";
const std::string kZeroDivide = "Floating point division by zero";

}  // namespace

TEST(Financial, MatchesCalc) {
    for (const CalcCase& c : kCalcCases) {
        SCOPED_TRACE(c.formula);
        ExpectRelative(c.compute(), c.expected);
    }
}

// Each routine must undo the others: a rate, term, present or future value
// recovered from a payment is the one that produced it.
TEST(Financial, RoutinesAreConsistent) {
    struct Loan { double rate; int n; double pv, fv; };
    const Loan loans[] = {{0.05, 10, 1000, 0},      {0.004, 360, 250000, -50000},
                          {-0.03, 24, 5000, -1000}, {2.5, 12, 100, 0},
                          {1e-7, 120, 10000, 0},    {0.01, 1, -500, 700}};
    for (const Loan& l : loans) {
        for (TPaymentTime t : {ptEndOfPeriod, ptStartOfPeriod}) {
            SCOPED_TRACE(testing::Message() << l.rate << " " << l.n << " " << t);
            double pmt = Payment(l.rate, l.n, l.pv, l.fv, t);
            ExpectRelative(InterestRate(l.n, pmt, l.pv, l.fv, t), l.rate, 1e-7);
            ExpectRelative(NumberOfPeriods(l.rate, pmt, l.pv, l.fv, t), l.n, 1e-7);
            ExpectRelative(PresentValue(l.rate, l.n, pmt, l.fv, t), l.pv);
            double size = std::fabs(l.pv) + std::fabs(l.fv);
            EXPECT_NEAR(FutureValue(l.rate, l.n, pmt, l.pv, t), l.fv, 1e-9 * size);
            double principal = 0;
            for (int p = 1; p <= l.n; ++p) {
                double ppmt = PeriodPayment(l.rate, p, l.n, l.pv, l.fv, t);
                EXPECT_NEAR(ppmt + InterestPayment(l.rate, p, l.n, l.pv, l.fv, t), pmt,
                            std::fabs(pmt) * 1e-12);
                principal += ppmt;
            }
            // In advance, the last period's interest is left in the future value.
            double left = t == ptStartOfPeriod ? l.fv / (1 + l.rate) : l.fv;
            EXPECT_NEAR(principal, -(l.pv + left), 1e-9 * size);
        }
    }
}

// Growth terms that overflow or cancel must not spoil results that are small.
TEST(Financial, LongTermsStayAccurate) {
    // Last interest of a 1000-period loan: the naive balance cancels 1e24-size terms.
    double pmt = Payment(0.05, 1000, 1000, 0, ptEndOfPeriod);
    ExpectRelative(pmt, -1000 * 0.05 / -std::expm1(-1000 * std::log1p(0.05)));
    ExpectRelative(InterestPayment(0.05, 1000, 1000, 1000, 0, ptEndOfPeriod),
                   0.05 * pmt / 1.05);
    // 2^5000 overflows, yet interest-only payments are plain.
    ExpectRelative(Payment(1, 5000, 1000, 0, ptEndOfPeriod), -1000);
    ExpectRelative(InterestPayment(1, 4000, 5000, 1000, 0, ptEndOfPeriod), -1000);
    // Payments equal to the interest keep the balance, however large the growth.
    ExpectRelative(FutureValue(0.5, 2000, -50, 100, ptEndOfPeriod), -100);
    // An early principal part is a tiny difference of two payments of 4447;
    // expected from 50-digit arithmetic (Calc's -2.41863850533e-4 lost digits).
    ExpectRelative(PeriodPayment(0.1882, 33, 128, 23617.82, 0, ptStartOfPeriod),
                   -0.00024186513419334362, 1e-12);
    // A zero rate is found exactly (Calc stops at about 6e-11).
    EXPECT_NEAR(InterestRate(10, -100, 1000, 0, ptEndOfPeriod), 0, 1e-13);
    EXPECT_FALSE(std::signbit(InterestPayment(0, 5, 12, 10000, 0, ptEndOfPeriod)));
}

// Near rate 0 every routine meets its value at 0, the limit there: no term
// cancels to nothing (NumberOfPeriods(1e-20, -1, 1000, 0, 0) once gave 0).
TEST(Financial, RatesNearZeroMeetTheValueAtZero) {
    struct Routine {
        const char* name;
        double (*at)(double rate, TPaymentTime t);
    };
    const Routine routines[] = {
        {"FutureValue", [](double r, TPaymentTime t) { return FutureValue(r, 120, -10, 1000, t); }},
        {"PresentValue", [](double r, TPaymentTime t) { return PresentValue(r, 120, -10, 100, t); }},
        {"Payment", [](double r, TPaymentTime t) { return Payment(r, 120, 1000, 50, t); }},
        {"PeriodPayment", [](double r, TPaymentTime t) { return PeriodPayment(r, 3, 120, 1000, 50, t); }},
        {"InterestPayment", [](double r, TPaymentTime t) { return InterestPayment(r, 3, 120, 1000, 50, t); }},
        {"NumberOfPeriods", [](double r, TPaymentTime t) { return NumberOfPeriods(r, -1, 1000, 0, t); }},
        {"NumberOfPeriods", [](double r, TPaymentTime t) { return NumberOfPeriods(r, -10, 1000, 200, t); }},
    };
    for (const Routine& routine : routines) {
        for (TPaymentTime t : {ptEndOfPeriod, ptStartOfPeriod}) {
            const double atZero = routine.at(0, t);
            for (double rate : {1e-20, -1e-20, 1e-17, -1e-17, 1e-14}) {
                SCOPED_TRACE(testing::Message() << routine.name << " at " << rate << ", time " << t);
                // The slope in the rate is at most about 1e5 times the value here.
                EXPECT_NEAR(routine.at(rate, t), atZero, 1e5 * std::fabs(rate) * (std::fabs(atZero) + 1) + 1e-12);
            }
        }
    }
    ExpectRelative(NumberOfPeriods(1e-20, -1, 1000, 0, ptEndOfPeriod), 1000, 1e-14);
}

TEST(Financial, PaymentTime) {
    EXPECT_EQ(PaymentTimeFromCode(0), ptEndOfPeriod);
    EXPECT_EQ(PaymentTimeFromCode(1), ptStartOfPeriod);
    const std::string message = "Invalid payment time (2): 0 is the end of each period, 1 the start";
    ExpectError<EInvalidOp>([] { PaymentTimeFromCode(2); }, message);
    ExpectError<EInvalidOp>([] { PaymentTimeFromCode(-1); },
                            "Invalid payment time (-1): 0 is the end of each period, 1 the start");
    ExpectError<EInvalidOp>(
        [] { FutureValue(0.05, 10, -100, 0, static_cast<TPaymentTime>(2)); }, message);
    ExpectError<EInvalidOp>(
        [] { InterestRate(10, -100, 1000, 0, static_cast<TPaymentTime>(2)); }, message);
}

TEST(Financial, TimeValueErrors) {
    // Poles.
    ExpectError<EZeroDivide>([] { Payment(0.05, 0, 1000, 0, ptEndOfPeriod); }, kZeroDivide);
    ExpectError<EZeroDivide>([] { Payment(0, 0, 1000, 0, ptStartOfPeriod); }, kZeroDivide);
    ExpectError<EZeroDivide>([] { PresentValue(-1, 3, -100, -1000, ptEndOfPeriod); }, kZeroDivide);
    ExpectError<EZeroDivide>([] { FutureValue(-1, -3, -100, -1000, ptEndOfPeriod); }, kZeroDivide);
    ExpectError<EZeroDivide>([] { NumberOfPeriods(0, 0, 1000, 0, ptEndOfPeriod); }, kZeroDivide);
    ExpectError<EZeroDivide>([] { NumberOfPeriods(0.01, -10, 1000, 0, ptEndOfPeriod); },
                             kZeroDivide);
    // Out of the domain.
    ExpectError<EInvalidOp>([] { Payment(-1, 10, 1000, 0, ptStartOfPeriod); },
                            "Payment: rate -1 is not above -1");
    ExpectError<EInvalidOp>([] { Payment(-1.5, 10, 1000, 0, ptEndOfPeriod); },
                            "Payment: rate -1.5 is not above -1");
    ExpectError<EInvalidOp>([] { NumberOfPeriods(-2, -100, 1000, 0, ptEndOfPeriod); },
                            "NumberOfPeriods: rate -2 is not above -1");
    ExpectError<EInvalidOp>([] { NumberOfPeriods(0.01, -5, 1000, 0, ptEndOfPeriod); },
                            "NumberOfPeriods: the future value is never reached");
    ExpectError<EInvalidOp>([] { InterestPayment(0.01, 0, 12, 10000, 0, ptEndOfPeriod); },
                            "InterestPayment: period 0 is outside 1..12");
    ExpectError<EInvalidOp>([] { PeriodPayment(0.01, 13, 12, 10000, 0, ptStartOfPeriod); },
                            "PeriodPayment: period 13 is outside 1..12");
    ExpectError<EInvalidOp>([] { InterestPayment(0.01, 1, 0, 10000, 0, ptEndOfPeriod); },
                            "InterestPayment: period 1 is outside 1..0");
    ExpectError<EInvalidOp>([] { InterestRate(0, -100, 1000, 0, ptEndOfPeriod); },
                            "InterestRate: number of periods 0 is below 1");
    ExpectError<EInvalidOp>([] { InterestRate(10, 0, 0, 0, ptEndOfPeriod); },
                            "InterestRate: every rate fits when all amounts are 0");
    ExpectError<EInvalidOp>([] { InterestRate(10, 100, 1000, 0, ptStartOfPeriod); },
                            "InterestRate: no rate fits these amounts");
    ExpectError<EInvalidOp>([] { InterestRate(10, 0, 0, 500, ptEndOfPeriod); },
                            "InterestRate: no rate fits these amounts");
    // Results out of range, and arguments that are no numbers.
    ExpectError<EOverflow>([] { FutureValue(1, 2000, 0, 1000, ptEndOfPeriod); }, kOverflow);
    ExpectError<EOverflow>([] { PresentValue(-0.99, 1000, 0, 1000, ptStartOfPeriod); }, kOverflow);
    ExpectError<EOverflow>([] { FutureValue(0.1, 10, 1e308, 1e308, ptEndOfPeriod); }, kOverflow);
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    ExpectError<EInvalidOp>([] { FutureValue(kNaN, 10, -100, 0, ptEndOfPeriod); }, kInvalidOp);
    ExpectError<EInvalidOp>([] { Payment(0.05, 10, kInf, 0, ptEndOfPeriod); }, kInvalidOp);
    ExpectError<EInvalidOp>([] { InterestRate(10, -100, kNaN, 0, ptEndOfPeriod); }, kInvalidOp);
}

TEST(Financial, DepreciationErrors) {
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(1000, 100, 9, 0); },
                            "DoubleDecliningBalance: period 0 is outside 1..9");
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(1000, 100, 9, 10); },
                            "DoubleDecliningBalance: period 10 is outside 1..9");
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(1000, 100, 0, 1); },
                            "DoubleDecliningBalance: life 0 is below 1");
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(1000, 1100, 9, 1); },
                            "DoubleDecliningBalance: salvage 1100 exceeds cost 1000");
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(-1000, 100, 9, 1); },
                            "DoubleDecliningBalance: cost and salvage must not be negative");
    ExpectError<EInvalidOp>([] { DoubleDecliningBalance(1000, -100, 9, 1); },
                            "DoubleDecliningBalance: cost and salvage must not be negative");
    ExpectError<EInvalidOp>([] { SLNDepreciation(1000, 100, 0); },
                            "SLNDepreciation: life 0 is below 1");
    ExpectError<EInvalidOp>([] { SLNDepreciation(1000, 100, -9); },
                            "SLNDepreciation: life -9 is below 1");
    ExpectError<EInvalidOp>([] { SYDDepreciation(1000, 100, 0, 1); },
                            "SYDDepreciation: life 0 is below 1");
    ExpectError<EInvalidOp>([] { SYDDepreciation(1000, 100, 9, 10); },
                            "SYDDepreciation: period 10 is outside 1..9");
    ExpectError<EOverflow>([] { SLNDepreciation(1.7e308, -1.7e308, 1); }, kOverflow);
    ExpectError<EInvalidOp>(
        [] { SYDDepreciation(std::numeric_limits<double>::infinity(), 0, 9, 1); }, kInvalidOp);
}

#include "Financial.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "zorvex/Exception.h"

namespace zorvex {

namespace {

constexpr const char* kOverflow = "Floating point overflow";
constexpr const char* kInvalidOp = "Invalid floating point operation";
constexpr const char* kZeroDivide = "Floating point division by zero";

std::string Num(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    return buf;
}

[[noreturn]] void InvalidArgument(const char* routine, const std::string& what) {
    throw EInvalidOp(std::string(routine) + ": " + what);
}

[[noreturn]] void ZeroDivide() { throw EZeroDivide(kZeroDivide); }

void RequireFinite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) throw EInvalidOp(kInvalidOp);
}

// Every routine returns through here, so no inf or NaN escapes; -0 becomes 0.
double Finite(double value) {
    if (std::isnan(value)) throw EInvalidOp(kInvalidOp);
    if (std::isinf(value)) throw EOverflow(kOverflow);
    return value + 0.0;
}

double Due(TPaymentTime time) {
    switch (time) {
        case ptEndOfPeriod: return 0.0;
        case ptStartOfPeriod: return 1.0;
    }
    throw EInvalidOp("Invalid payment time (" + std::to_string(static_cast<int>(time)) +
                     "): 0 is the end of each period, 1 the start");
}

void RequireRateAboveMinusOne(const char* routine, double rate) {
    if (!(rate > -1.0))
        InvalidArgument(routine, "rate " + Num(rate) + " is not above -1");
}

void RequirePeriodInRange(const char* routine, int period, int last) {
    if (period < 1 || period > last)
        InvalidArgument(routine, "period " + std::to_string(period) + " is outside 1.." +
                                     std::to_string(last));
}

// A zero factor wins over an infinite one: nothing times any growth is nothing.
double Mul(double a, double b) { return a == 0.0 || b == 0.0 ? 0.0 : a * b; }

// (1 + rate)^k. Through log1p/expm1 above -1 so that small rates keep their
// digits; integral k below that.
double Growth(double rate, double k) {
    if (rate > -1.0) return std::exp(k * std::log1p(rate));
    if (rate == -1.0 && k < 0.0) ZeroDivide();
    return std::pow(1.0 + rate, k);
}

double GrowthMinusOne(double rate, double k) {
    if (rate > -1.0) return std::expm1(k * std::log1p(rate));
    return Growth(rate, k) - 1.0;
}

// ((1 + rate)^k - 1) / rate: value after k periods of 1 per period.
double AnnuityFactor(double rate, double k) {
    return rate == 0.0 ? k : GrowthMinusOne(rate, k) / rate;
}

// Value after k periods of `amount` with `flow` added at each period's end.
double Accumulate(double rate, double k, double amount, double flow) {
    double growth = Growth(rate, k);
    double value = Mul(amount, growth) + Mul(flow, AnnuityFactor(rate, k));
    // inf - inf: the growth overflowed but the two parts may balance.
    if (std::isnan(value) && rate != 0.0)
        value = Mul(growth, amount + flow / rate) - flow / rate;
    return value;
}

// Payment per period, scaled by (1 + rate * due), that takes presentValue to
// -futureValue in n periods.
double ScaledPayment(double rate, double n, double presentValue, double futureValue) {
    if (n == 0.0) ZeroDivide();
    if (rate == 0.0) return -(presentValue + futureValue) / n;
    double exponent = n * std::log1p(rate);
    if (exponent > 0.0)  // divided through by the growth, which may overflow
        return -(presentValue + futureValue * std::exp(-exponent)) * rate /
               -std::expm1(-exponent);
    return -(presentValue * std::exp(exponent) + futureValue) * rate / std::expm1(exponent);
}

// Outstanding balance after k of n periods of an annuity that takes
// presentValue to -futureValue, in closed form so that no large growth terms
// cancel. rate above -1 and not 0.
double Balance(double rate, double k, double n, double presentValue, double futureValue) {
    double log1 = std::log1p(rate);
    double nl = n * log1;
    double kl = k * log1;
    if (nl > 0.0) {
        double leftFactor = -std::expm1(kl - nl);
        double grownBack = kl <= 1.0 ? std::exp(-nl) * std::expm1(kl)
                                     : std::exp(kl - nl) - std::exp(-nl);
        return (presentValue * leftFactor - futureValue * grownBack) / -std::expm1(-nl);
    }
    return (presentValue * std::exp(kl) * std::expm1(nl - kl) -
            futureValue * std::expm1(kl)) /
           std::expm1(nl);
}

// rate * (1 + rate)^k / ((1 + rate)^n - 1): the share of presentValue +
// futureValue repaid in period k + 1 of n. rate above -1 and not 0.
double PrincipalShare(double rate, double k, double n) {
    double log1 = std::log1p(rate);
    double nl = n * log1;
    if (nl > 0.0) return rate * std::exp(k * log1 - nl) / -std::expm1(-nl);
    return rate * std::exp(k * log1) / std::expm1(nl);
}

// A rate of -1 wipes out whatever is owed within one period; payments at the
// end of each period then only meet the future value. The limits are exact.
bool TotalLoss(double rate, double due) { return rate == -1.0 && due == 0.0; }

void CheckPeriodArguments(const char* routine, double rate, int period, int nPeriods,
                          double presentValue, double futureValue, double due) {
    RequireFinite({rate, presentValue, futureValue});
    if (!TotalLoss(rate, due)) RequireRateAboveMinusOne(routine, rate);
    RequirePeriodInRange(routine, period, nPeriods);
}

double Interest(const char* routine, double rate, int period, int nPeriods,
                double presentValue, double futureValue, double due) {
    CheckPeriodArguments(routine, rate, period, nPeriods, presentValue, futureValue, due);
    if (rate == 0.0) return 0.0;
    // The interest of period k is the balance after period k - 1.
    if (TotalLoss(rate, due)) return period == 1 ? presentValue : -futureValue;
    // With payments in advance the first one carries no interest, and payment
    // p pays the interest of period p - 1.
    if (due != 0.0 && period == 1) return 0.0;
    double balance = Balance(rate, period - 1.0, nPeriods, presentValue, futureValue);
    double interest = -rate * balance;
    return due != 0.0 ? interest / (1.0 + rate) : interest;
}

// Residual of the annuity equation and its derivative in the rate.
struct RateEquation {
    double n, payment, presentValue, futureValue, due;

    double Value(double rate) const {
        return Accumulate(rate, n, presentValue, payment * (1.0 + rate * due)) + futureValue;
    }

    double Slope(double rate) const {
        double growth = Growth(rate, n);
        double dGrowth = n * growth / (1.0 + rate);
        double factor = AnnuityFactor(rate, n);
        double dFactor = std::fabs(rate) < 1e-9
                             ? n * (n - 1.0) / 2.0 + n * (n - 1.0) * (n - 2.0) / 6.0 * rate
                             : (dGrowth - factor) / rate;
        return presentValue * dGrowth + payment * due * factor +
               payment * (1.0 + rate * due) * dFactor;
    }

    // A root only if the residual is rounding noise beside the terms; Newton's
    // steps also shrink where the function merely flattens out.
    bool Fits(double rate) const {
        double growth = Growth(rate, n);
        double terms = std::fabs(presentValue * growth) +
                       std::fabs(payment * (1.0 + rate * due) * AnnuityFactor(rate, n)) +
                       std::fabs(futureValue);
        double residual = std::fabs(Value(rate));
        return std::isfinite(terms) && residual <= 1e-10 * terms;
    }
};

double Scale(double rate) { return std::max(std::fabs(rate), 1e-3); }

bool NewtonRate(const RateEquation& eq, double& rate) {
    double r = 0.1;  // the customary first guess
    // Once close, a few more steps reach full precision; beyond that the
    // residual is rounding noise and further steps only wander.
    int polish = -1;
    for (int i = 0; i < 100; ++i) {
        // Halving towards -1 can round onto it, where payments in advance
        // vanish and the equation holds trivially.
        if (!(r > -1.0)) return false;
        double f = eq.Value(r);
        if (f == 0.0) {
            rate = r;
            return true;
        }
        double d = eq.Slope(r);
        if (!std::isfinite(f) || !std::isfinite(d) || d == 0.0) return false;
        double next = r - f / d;
        if (!std::isfinite(next)) return false;
        if (next <= -1.0) {  // stay in the domain
            r = (r - 1.0) / 2.0;
            continue;
        }
        double step = next - r;
        r = next;
        if (std::fabs(step) <= 4e-16 * Scale(r)) break;
        if (polish < 0 && std::fabs(step) <= 1e-9 * Scale(r)) polish = 3;
        if (polish >= 0 && polish-- == 0) break;
        if (i == 99) return false;
    }
    if (!eq.Fits(r)) return false;
    rate = r;
    return true;
}

int Sign(double v) { return v > 0.0 ? 1 : v < 0.0 ? -1 : 0; }

// Scans 1 + rate from 2^-20 to 2^20 in steps of 2^(1/32) for a sign change,
// preferring the one nearest the first guess, and bisects it to full
// precision. Steps that fine keep both roots of the usual two-root cases apart.
bool BracketRate(const RateEquation& eq, double& rate) {
    auto sign = [&](double r) {
        double f = eq.Value(r);
        return std::isnan(f) ? 2 : Sign(f);
    };
    double bestLow = 0.0, bestHigh = 0.0, bestDistance = INFINITY;
    double prevRate = std::ldexp(1.0, -20) - 1.0;
    int prevSign = sign(prevRate);
    for (int j = -639; j <= 640; ++j) {
        double r = std::exp2(j / 32.0) - 1.0;
        int s = sign(r);
        if (s == 0) {
            rate = r;
            return true;
        }
        if (s != 2 && prevSign != 2 && s != prevSign) {
            double distance = std::fabs((prevRate + r) / 2.0 - 0.1);
            if (distance < bestDistance) {
                bestDistance = distance;
                bestLow = prevRate;
                bestHigh = r;
            }
        }
        prevRate = r;
        prevSign = s;
    }
    if (bestDistance == INFINITY) return false;
    int lowSign = sign(bestLow);
    for (int i = 0; i < 200; ++i) {
        double mid = bestLow + (bestHigh - bestLow) / 2.0;
        if (mid <= bestLow || mid >= bestHigh) break;
        int s = sign(mid);
        if (s == 0) {
            bestLow = bestHigh = mid;
            break;
        }
        if (s == lowSign) bestLow = mid;
        else bestHigh = mid;
    }
    rate = bestLow + (bestHigh - bestLow) / 2.0;
    return eq.Fits(rate);
}

}  // namespace

TPaymentTime PaymentTimeFromCode(int code) {
    TPaymentTime time = static_cast<TPaymentTime>(code);
    Due(time);
    return time;
}

double FutureValue(double rate, int nPeriods, double payment, double presentValue,
                   TPaymentTime paymentTime) {
    RequireFinite({rate, payment, presentValue});
    double flow = payment * (1.0 + rate * Due(paymentTime));
    return Finite(-Accumulate(rate, nPeriods, presentValue, flow));
}

double PresentValue(double rate, int nPeriods, double payment, double futureValue,
                    TPaymentTime paymentTime) {
    RequireFinite({rate, payment, futureValue});
    double flow = payment * (1.0 + rate * Due(paymentTime));
    // Discounting is accumulation backwards: -n periods, flows reversed.
    return Finite(-Accumulate(rate, -static_cast<double>(nPeriods), futureValue, -flow));
}

double Payment(double rate, int nPeriods, double presentValue, double futureValue,
               TPaymentTime paymentTime) {
    RequireFinite({rate, presentValue, futureValue});
    double due = Due(paymentTime);
    if (TotalLoss(rate, due) && nPeriods >= 1) return Finite(-futureValue);
    RequireRateAboveMinusOne("Payment", rate);
    double scaled = ScaledPayment(rate, nPeriods, presentValue, futureValue);
    return Finite(scaled / (1.0 + rate * due));
}

double InterestPayment(double rate, int period, int nPeriods, double presentValue,
                       double futureValue, TPaymentTime paymentTime) {
    double due = Due(paymentTime);
    return Finite(Interest("InterestPayment", rate, period, nPeriods, presentValue,
                           futureValue, due));
}

double PeriodPayment(double rate, int period, int nPeriods, double presentValue,
                     double futureValue, TPaymentTime paymentTime) {
    double due = Due(paymentTime);
    CheckPeriodArguments("PeriodPayment", rate, period, nPeriods, presentValue, futureValue, due);
    if (TotalLoss(rate, due)) return Finite(period == 1 ? -futureValue - presentValue : 0.0);
    // The payment less its interest, in closed form: early principal parts
    // are small differences of large numbers.
    if (rate == 0.0 || (due != 0.0 && period == 1))
        return Finite(ScaledPayment(rate, nPeriods, presentValue, futureValue) /
                      (1.0 + rate * due));
    double k = period - 1.0 - due;
    return Finite(-(presentValue + futureValue) * PrincipalShare(rate, k, nPeriods));
}

double InterestRate(int nPeriods, double payment, double presentValue, double futureValue,
                    TPaymentTime paymentTime) {
    RequireFinite({payment, presentValue, futureValue});
    double due = Due(paymentTime);
    if (nPeriods < 1)
        InvalidArgument("InterestRate",
                        "number of periods " + std::to_string(nPeriods) + " is below 1");
    if (payment == 0.0 && presentValue == 0.0 && futureValue == 0.0)
        InvalidArgument("InterestRate", "every rate fits when all amounts are 0");
    RateEquation eq{static_cast<double>(nPeriods), payment, presentValue, futureValue, due};
    double rate = 0.0;
    if (NewtonRate(eq, rate) || BracketRate(eq, rate)) return Finite(rate);
    InvalidArgument("InterestRate", "no rate fits these amounts");
}

double NumberOfPeriods(double rate, double payment, double presentValue, double futureValue,
                       TPaymentTime paymentTime) {
    RequireFinite({rate, payment, presentValue, futureValue});
    double due = Due(paymentTime);
    RequireRateAboveMinusOne("NumberOfPeriods", rate);
    if (rate == 0.0) {
        if (payment == 0.0) ZeroDivide();
        return Finite(-(presentValue + futureValue) / payment);
    }
    double flow = payment * (1.0 + rate * due);
    double numerator = flow - rate * futureValue;
    double denominator = flow + rate * presentValue;
    // The payment only covers the interest: the balance never moves.
    if (denominator == 0.0) ZeroDivide();
    double ratio = numerator / denominator;
    if (!(ratio > 0.0))
        InvalidArgument("NumberOfPeriods", "the future value is never reached");
    // log(ratio) through log1p of ratio - 1, written without the difference:
    // near rate 0 the ratio rounds to 1 and all its digits would be lost.
    double excess = -(rate * presentValue + rate * futureValue) / denominator;
    double logRatio = std::isfinite(excess) && excess > -1.0 ? std::log1p(excess) : std::log(ratio);
    return Finite(logRatio / std::log1p(rate));
}

double DoubleDecliningBalance(double cost, double salvage, int life, int period) {
    constexpr const char* kName = "DoubleDecliningBalance";
    RequireFinite({cost, salvage});
    if (life < 1) InvalidArgument(kName, "life " + std::to_string(life) + " is below 1");
    RequirePeriodInRange(kName, period, life);
    if (cost < 0.0 || salvage < 0.0)
        InvalidArgument(kName, "cost and salvage must not be negative");
    if (salvage > cost)
        InvalidArgument(kName, "salvage " + Num(salvage) + " exceeds cost " + Num(cost));
    double rate = 2.0 / life;
    double before;
    if (rate >= 1.0) {
        // A life of 1 or 2 periods writes everything off in the first.
        rate = 1.0;
        before = period == 1 ? cost : 0.0;
    } else {
        before = cost * std::pow(1.0 - rate, period - 1.0);
    }
    double after = cost * std::pow(1.0 - rate, static_cast<double>(period));
    double depreciation = after < salvage ? before - salvage : before - after;
    return Finite(std::max(depreciation, 0.0));
}

double SLNDepreciation(double cost, double salvage, int life) {
    RequireFinite({cost, salvage});
    if (life < 1)
        InvalidArgument("SLNDepreciation", "life " + std::to_string(life) + " is below 1");
    return Finite((cost - salvage) / life);
}

double SYDDepreciation(double cost, double salvage, int life, int period) {
    constexpr const char* kName = "SYDDepreciation";
    RequireFinite({cost, salvage});
    if (life < 1) InvalidArgument(kName, "life " + std::to_string(life) + " is below 1");
    RequirePeriodInRange(kName, period, life);
    double years = life;
    return Finite((cost - salvage) * (years - period + 1.0) * 2.0 / (years * (years + 1.0)));
}

}  // namespace zorvex

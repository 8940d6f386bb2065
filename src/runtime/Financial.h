// Time-value-of-money and depreciation routines behind the financial
// built-ins. Internal to the runtime; exported only so tests can call them.
//
// Conventions are the spreadsheet ones: money received is positive, money paid
// is negative, so a loan of 1000 (pv = 1000) has a negative payment. Rates are
// per period (0.05 is 5 %). Every result is finite: a value out of range
// raises EOverflow, an argument out of the routine's domain raises EInvalidOp,
// and a pole raises EZeroDivide.
#pragma once

#include "zorvex/Export.h"

namespace zorvex {

// Fixed underlying type so that any ordinal can be held and checked.
enum TPaymentTime : int { ptEndOfPeriod = 0, ptStartOfPeriod = 1 };

// 0 and 1 as above; any other code raises EInvalidOp.
ZORVEX_API TPaymentTime PaymentTimeFromCode(int code);

// Value at the end of nPeriods of `presentValue` plus a constant `payment`
// per period. Any rate except a pole (-1 with a negative nPeriods).
ZORVEX_API double FutureValue(double rate, int nPeriods, double payment,
                              double presentValue, TPaymentTime paymentTime);

// Value at the start; rate -1 with a positive nPeriods is a pole.
ZORVEX_API double PresentValue(double rate, int nPeriods, double payment,
                               double futureValue, TPaymentTime paymentTime);

// Constant payment per period; rate above -1, nPeriods not 0.
ZORVEX_API double Payment(double rate, int nPeriods, double presentValue,
                          double futureValue, TPaymentTime paymentTime);

// Principal part of the payment in `period` (1..nPeriods); rate above -1.
ZORVEX_API double PeriodPayment(double rate, int period, int nPeriods,
                                double presentValue, double futureValue,
                                TPaymentTime paymentTime);

// Interest part of the payment in `period` (1..nPeriods); rate above -1.
ZORVEX_API double InterestPayment(double rate, int period, int nPeriods,
                                  double presentValue, double futureValue,
                                  TPaymentTime paymentTime);

// Rate per period (above -1) that makes the values consistent, found by
// Newton's method from 0.1 with a bracketing search as fallback. nPeriods at
// least 1; raises EInvalidOp when no rate, or every rate, fits.
ZORVEX_API double InterestRate(int nPeriods, double payment, double presentValue,
                               double futureValue, TPaymentTime paymentTime);

// Number of periods (possibly fractional or negative); rate above -1.
ZORVEX_API double NumberOfPeriods(double rate, double payment, double presentValue,
                                  double futureValue, TPaymentTime paymentTime);

// Depreciation in `period` (1..life) at twice the straight-line rate, never
// taking the book value below `salvage`; 0 <= salvage <= cost.
ZORVEX_API double DoubleDecliningBalance(double cost, double salvage, int life,
                                         int period);

// (cost - salvage) / life, life at least 1.
ZORVEX_API double SLNDepreciation(double cost, double salvage, int life);

// Sum-of-years'-digits depreciation in `period` (1..life).
ZORVEX_API double SYDDepreciation(double cost, double salvage, int life, int period);

}  // namespace zorvex

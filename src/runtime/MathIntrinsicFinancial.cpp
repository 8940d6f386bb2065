// Financial built-ins: operands in written order, converted to the routine's
// parameter types (money and rates real, counts and periods integer, the
// payment time a code 0 or 1).

#include "Financial.h"
#include "IntrinsicApply.h"
#include "IntrinsicEval.h"

namespace zorvex {

ZORVEX_APPLY_EVAL(FutureValue, FutureValue)
ZORVEX_APPLY_EVAL(PresentValue, PresentValue)
ZORVEX_APPLY_EVAL(Payment, Payment)
ZORVEX_APPLY_EVAL(PeriodPayment, PeriodPayment)
ZORVEX_APPLY_EVAL(InterestPayment, InterestPayment)
ZORVEX_APPLY_EVAL(InterestRate, InterestRate)
ZORVEX_APPLY_EVAL(NumberOfPeriods, NumberOfPeriods)
ZORVEX_APPLY_EVAL(DoubleDecliningBalance, DoubleDecliningBalance)
ZORVEX_APPLY_EVAL(SLNDepreciation, SLNDepreciation)
ZORVEX_APPLY_EVAL(SYDDepreciation, SYDDepreciation)

}  // namespace zorvex

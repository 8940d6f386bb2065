#include "OperatorTable.h"

#include <string>

#include "zorvex/Exception.h"

namespace zorvex::op {

Variant Apply(Operation o, const Variant& l, const Variant& r) {
    return Dispatch(o, [&]<Operation O>() -> Variant {
        using R = RulesOf<O>;
        if constexpr (R::kOperands == 2 && !R::kOwnValue) {
            if constexpr (R::kToReal)
                return R::Value(Variant(VarToReal(l)), Variant(VarToReal(r)));
            else
                return R::Value(l, r);
        } else {
            AssertionFailed("Source/MathItem", "no binary operator");
        }
    });
}

void NotRule::Check(const TMOperator& op, const TMExpression& operand, const Variant& x) {
    if (x.VarType() != varBoolean)
        throw ETypeError("TMNot.GetValue() NOT operator (position: " + std::to_string(op.ParsePosition) +
                             ") expects boolean operand (position: " + std::to_string(operand.ParsePosition) + ").",
                         op.ParsePosition);
}

}  // namespace zorvex::op

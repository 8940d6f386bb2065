// Internal: the one pattern behind most built-ins. Apply<F> evaluates the
// call's operands in written order, converts each to the type of F's matching
// parameter, calls F and turns its result into a Variant.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Financial.h"
#include "zorvex/SysUtils.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/Variant.h"

namespace zorvex::intrinsic {

// Operand conversions, chosen by parameter type. A Variant parameter takes the
// operand unconverted.
template <typename T>
T FromOperand(const Variant& v);
template <>
inline Variant FromOperand<Variant>(const Variant& v) { return v; }
template <>
inline double FromOperand<double>(const Variant& v) { return VarToReal(v); }
template <>
inline std::int32_t FromOperand<std::int32_t>(const Variant& v) { return VarToInt(v); }
template <>
inline std::string FromOperand<std::string>(const Variant& v) { return VarToText(v); }
template <>
inline TPaymentTime FromOperand<TPaymentTime>(const Variant& v) { return PaymentTimeFromCode(VarToInt(v)); }

// Results: reals are checked so that no built-in hands out inf or NaN.
inline Variant ToResult(double r) { return Variant(CheckReal(r)); }
inline Variant ToResult(std::int32_t r) { return Variant(r); }
inline Variant ToResult(std::string r) {
    CheckTextLength(r.size());
    return Variant(std::move(r));
}
inline Variant ToResult(Variant r) { return r; }

template <auto F>
struct Applier;

template <typename R, typename... A, R (*F)(A...)>
struct Applier<F> {
    static Variant Run(TMIntrinsicFunctionCall& call) { return Run(call, std::index_sequence_for<A...>{}); }

    template <std::size_t... I>
    static Variant Run(TMIntrinsicFunctionCall& call, std::index_sequence<I...>) {
        // Braced initialisation evaluates the operands left to right.
        std::tuple<std::decay_t<A>...> args{FromOperand<std::decay_t<A>>(call.Arg(static_cast<int>(I)))...};
        return ToResult(std::apply(F, std::move(args)));
    }
};

template <auto F>
Variant Apply(TMIntrinsicFunctionCall& call) {
    return Applier<F>::Run(call);
}

}  // namespace zorvex::intrinsic

// Defines Eval<Name> as Apply of the function Impl.
#define ZORVEX_APPLY_EVAL(Name, Impl) \
    Variant Eval##Name(TMIntrinsicFunctionCall& call) { return intrinsic::Apply<Impl>(call); }

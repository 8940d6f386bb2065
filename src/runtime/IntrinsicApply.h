// Internal: the one pattern behind most built-ins. Apply<F> evaluates the
// call's operands in written order, converts each to the type of F's matching
// parameter, calls F and turns its result into a Variant. A text parameter
// (std::string_view) reads a text operand in place; the operands that hold
// texts count against the memory budget until F returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Financial.h"
#include "ResourceLimits.h"
#include "zorvex/SysUtils.h"
#include "zorvex/MathIntrinsic.h"
#include "zorvex/Variant.h"

namespace zorvex::intrinsic {

// Operand conversions, chosen by parameter type. A Variant parameter takes the
// operand unconverted.
template <typename T>
T FromOperand(const Variant& v);
template <>
inline double FromOperand<double>(const Variant& v) { return VarToReal(v); }
template <>
inline std::int32_t FromOperand<std::int32_t>(const Variant& v) { return VarToInt(v); }
template <>
inline TPaymentTime FromOperand<TPaymentTime>(const Variant& v) { return PaymentTimeFromCode(VarToInt(v)); }

// An operand converted for a parameter of type T, kept until F returns.
template <typename T>
struct Operand {
    static constexpr bool kHolds = false;
    void Take(Variant&& v) { value = FromOperand<T>(v); }
    T Get() const { return value; }
    const Variant* Kept() const { return nullptr; }
    T value;
};
template <>
struct Operand<Variant> {
    static constexpr bool kHolds = true;
    void Take(Variant&& v) { value = std::move(v); }
    Variant Get() const { return value; }
    const Variant* Kept() const { return &value; }
    Variant value;
};
template <>
struct Operand<std::string_view> {
    static constexpr bool kHolds = true;
    void Take(Variant&& v) {
        if (v.IsString())
            source = std::move(v);
        else
            source = Variant(VarToText(v));
    }
    std::string_view Get() const { return source.AsString(); }
    const Variant* Kept() const { return &source; }
    Variant source;
};

// Results: reals are checked so that no built-in hands out inf or NaN.
inline Variant ToResult(double r) { return Variant(CheckReal(r)); }
inline Variant ToResult(std::int32_t r) { return Variant(r); }
inline Variant ToResult(std::string r) {
    CheckTextLength(r.size());
    return Variant(std::move(r));
}
inline Variant ToResult(Variant r) { return r; }

struct NoHold {
    void Add(const Variant&) {}
};

template <auto F>
struct Applier;

template <typename R, typename... A, R (*F)(A...)>
struct Applier<F> {
    static Variant Run(TMIntrinsicFunctionCall& call) { return Run(call, std::index_sequence_for<A...>{}); }

    template <std::size_t... I>
    static Variant Run(TMIntrinsicFunctionCall& call, std::index_sequence<I...>) {
        std::tuple<Operand<std::decay_t<A>>...> operands;
        [[maybe_unused]] std::conditional_t<(Operand<std::decay_t<A>>::kHolds || ...), guard::Held, NoHold> held;
        // The comma operator evaluates the operands left to right.
        (Keep(std::get<I>(operands), call.Arg(static_cast<int>(I)), held), ...);
        return ToResult(F(std::get<I>(operands).Get()...));
    }

    template <class O, class H>
    static void Keep(O& operand, Variant&& value, H& held) {
        operand.Take(std::move(value));
        if constexpr (O::kHolds) held.Add(*operand.Kept());
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

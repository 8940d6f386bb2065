// Functions of the host program called from expressions: what
// TMathInterpreter::DefineFunction makes of a callable. The callable is kept
// behind entries that take the arguments as Variants (and, for a callable
// over numbers, as doubles); the interpreter sees nothing of its type.
#pragma once

#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "zorvex/Variant.h"

namespace zorvex {

// How a host function may be used. A pure one gives a value that depends on
// its operands alone and does nothing else, so a prepared expression calls
// it once, when it is prepared, where its operands are constants.
struct FunctionOptions {
    bool pure = false;
};

// A host function as the interpreter keeps it.
struct THostFunction {
    std::shared_ptr<void> callable;
    // Converts the arguments, calls, makes the result a Variant; raises what
    // the conversions or the callable raise.
    Variant (*invoke)(void* callable, const Variant* args, std::size_t count) = nullptr;
    // For a callable over numbers that gives a double or a bool: arguments and
    // result as doubles. NaN when an argument does not convert or the
    // callable raises; the call is then evaluated through `invoke`.
    double (*raw)(const void* callable, const double* args) = nullptr;
    // Whether `raw` answers a bool (0 or 1) rather than a double.
    bool rawBoolean = false;
    int minCount = 0;
    int maxCount = 0;
    bool pure = false;
};

// One host function as TMathInterpreter::HostFunctions lists it.
struct THostFunctionInfo {
    std::string name;
    int minCount = 0;
    int maxCount = 0;
    bool pure = false;
};

namespace detail {

template <class T>
struct HostSignature;
template <class R, class... A>
struct HostSignature<R(A...)> {
    using Result = R;
    using Args = std::tuple<std::remove_cvref_t<A>...>;
};
template <class R, class... A>
struct HostSignature<R(A...) noexcept> : HostSignature<R(A...)> {};
template <class R, class... A>
struct HostSignature<R (*)(A...)> : HostSignature<R(A...)> {};
template <class R, class... A>
struct HostSignature<R (*)(A...) noexcept> : HostSignature<R(A...)> {};
template <class C, class R, class... A>
struct HostSignature<R (C::*)(A...)> : HostSignature<R(A...)> {};
template <class C, class R, class... A>
struct HostSignature<R (C::*)(A...) const> : HostSignature<R(A...)> {};
template <class C, class R, class... A>
struct HostSignature<R (C::*)(A...) noexcept> : HostSignature<R(A...)> {};
template <class C, class R, class... A>
struct HostSignature<R (C::*)(A...) const noexcept> : HostSignature<R(A...)> {};

template <class F>
concept HasCallOperator = requires { &F::operator(); };

template <class F>
struct CallableSignature : HostSignature<F> {};
template <HasCallOperator F>
struct CallableSignature<F> : HostSignature<decltype(&F::operator())> {};

template <class T>
concept HostNumber = std::same_as<T, double> || std::same_as<T, std::int32_t> || std::same_as<T, bool>;
template <class T>
concept HostValue = HostNumber<T> || std::same_as<T, std::string> || std::same_as<T, Variant>;

template <class T>
T FromVariant(const Variant& v) {
    if constexpr (std::same_as<T, double>)
        return VarToReal(v);
    else if constexpr (std::same_as<T, std::int32_t>)
        return VarToInt(v);
    else if constexpr (std::same_as<T, bool>)
        return VarToBool(v);
    else if constexpr (std::same_as<T, std::string>)
        return VarToText(v);
    else
        return v;
}

template <class T>
Variant ToVariant(T&& value) {
    return Variant(std::forward<T>(value));
}

// A double as the language turns it into T: an integer is rounded half to
// even and must fit. False when it does not convert.
template <class T>
bool FromDouble(double x, T& out) {
    if constexpr (std::same_as<T, double>) {
        out = x;
    } else if constexpr (std::same_as<T, bool>) {
        out = x != 0.0;
    } else {
        const double r = std::nearbyint(x);
        if (!(r >= -2147483648.0 && r <= 2147483647.0)) return false;
        out = static_cast<std::int32_t>(r);
    }
    return true;
}

template <class F, class Args, std::size_t... I>
Variant InvokeFixed(F& f, const Variant* args, std::index_sequence<I...>) {
    // A braced list converts the arguments left to right.
    Args values{FromVariant<std::tuple_element_t<I, Args>>(args[I])...};
    return ToVariant(f(std::move(std::get<I>(values))...));
}

template <class F, class Args, std::size_t... I>
double InvokeRaw(F& f, const double* args, std::index_sequence<I...>) {
    Args values{};
    if (!(FromDouble(args[I], std::get<I>(values)) && ...)) return std::numeric_limits<double>::quiet_NaN();
    try {
        if constexpr (std::same_as<decltype(f(std::get<I>(values)...)), bool>)
            return f(std::get<I>(values)...) ? 1.0 : 0.0;
        else
            return f(std::get<I>(values)...);
    } catch (...) {
        return std::numeric_limits<double>::quiet_NaN();
    }
}

}  // namespace detail

// A callable of a fixed number of operands, each a double, a 32-bit integer,
// a bool, a std::string or a Variant (taken by value or const reference),
// giving one of these.
template <class F>
THostFunction MakeHostFunction(F&& callable, FunctionOptions options = {}) {
    using Fn = std::decay_t<F>;
    using Sig = detail::CallableSignature<Fn>;
    using R = std::remove_cvref_t<typename Sig::Result>;
    using Args = typename Sig::Args;
    constexpr std::size_t n = std::tuple_size_v<Args>;
    static_assert(detail::HostValue<R>, "a host function gives a double, std::int32_t, bool, std::string or Variant");
    static_assert([]<std::size_t... I>(std::index_sequence<I...>) {
        return (detail::HostValue<std::tuple_element_t<I, Args>> && ...);
    }(std::make_index_sequence<n>{}),
                  "a host function takes doubles, std::int32_t, bools, std::strings or Variants");
    THostFunction h;
    h.callable = std::make_shared<Fn>(std::forward<F>(callable));
    h.invoke = [](void* c, const Variant* args, std::size_t) -> Variant {
        return detail::InvokeFixed<Fn, Args>(*static_cast<Fn*>(c), args, std::make_index_sequence<n>{});
    };
    constexpr bool numbers = []<std::size_t... I>(std::index_sequence<I...>) {
        return (detail::HostNumber<std::tuple_element_t<I, Args>> && ...);
    }(std::make_index_sequence<n>{});
    if constexpr (numbers && (std::same_as<R, double> || std::same_as<R, bool>)) {
        h.raw = [](const void* c, const double* args) -> double {
            // The callable is the entry's own, held as a mutable object.
            Fn& f = *static_cast<Fn*>(const_cast<void*>(c));
            return detail::InvokeRaw<Fn, Args>(f, args, std::make_index_sequence<n>{});
        };
        h.rawBoolean = std::same_as<R, bool>;
    }
    h.minCount = h.maxCount = static_cast<int>(n);
    h.pure = options.pure;
    return h;
}

// A callable over a span of Variants, for from `minCount` to `maxCount`
// operands.
template <class F>
    requires std::invocable<F&, std::span<const Variant>>
THostFunction MakeHostFunction(F&& callable, int minCount, int maxCount, FunctionOptions options = {}) {
    using Fn = std::decay_t<F>;
    using R = std::remove_cvref_t<std::invoke_result_t<Fn&, std::span<const Variant>>>;
    static_assert(detail::HostValue<R>, "a host function gives a double, std::int32_t, bool, std::string or Variant");
    THostFunction h;
    h.callable = std::make_shared<Fn>(std::forward<F>(callable));
    h.invoke = [](void* c, const Variant* args, std::size_t count) -> Variant {
        return detail::ToVariant((*static_cast<Fn*>(c))(std::span<const Variant>(args, count)));
    };
    h.minCount = minCount;
    h.maxCount = maxCount;
    h.pure = options.pure;
    return h;
}

}  // namespace zorvex

// Internal: the resource limits every evaluation runs under (interruption
// and time budgets are TEvaluationGuard's). The native stack is checked where
// recursion goes deeper (a tree's evaluation, a user function's body, a dump
// step) by one comparison with a floor computed once per evaluation. The
// memory budget counts the texts held by variables, the trees and the
// working lists that build them, the values an evaluation keeps while it
// computes more (operands, call frames) and the results Execute gathers;
// a value about to be made is checked against it first.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "zorvex/Variant.h"

// Thread-local words read on every evaluation: the initial-exec model reads
// them without a call into the dynamic linker. They are few and small, so
// they fit the static space that glibc keeps for libraries opened later
// (a Qt Designer plug-in loads this library that way).
#if defined(__GNUC__) && !defined(_WIN32)
#define ZORVEX_FAST_TLS [[gnu::tls_model("initial-exec")]]
#else
#define ZORVEX_FAST_TLS
#endif

namespace zorvex {
class TMathInterpreter;
}

namespace zorvex::guard {

// Native stack a tree level takes while it is evaluated or dumped, measured
// per node kind with a margin. AddressSanitizer takes up to five times the
// stack of optimised code (1,955 bytes for an assignment under clang),
// unoptimised code about three times. Clang names the sanitizer otherwise.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVEX_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVEX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(ZORVEX_ADDRESS_SANITIZER)
constexpr std::size_t kScale = 5;
#elif !defined(__OPTIMIZE__)
constexpr std::size_t kScale = 3;
#else
constexpr std::size_t kScale = 1;
#endif
// One unit: a level of the plain operators (measured at most 81 bytes in
// optimised code); built-ins, assignments, "not" and call arguments take
// kHeavyUnits (measured at most 370 bytes).
constexpr std::size_t kEvalBytesPerUnit = 128 * kScale;
constexpr int kHeavyUnits = 4;
constexpr std::size_t kDumpBytesPerLevel = 640 * kScale;
// Room kept free below the deepest check: error reporting, the conversions
// and text routines of one node, an unknown-symbol handler of the host.
constexpr std::size_t kReserve = 24 * 1024 * kScale;

// Lowest address the calling thread's stack may reach with the reserve kept,
// or null where the bounds are unknown.
const char* ThreadStackFloor();

inline bool StackFits(const char* floor, std::size_t bytes) {
    if (floor == nullptr) return true;
    const char* here = static_cast<const char*>(__builtin_frame_address(0));
    return here > floor && static_cast<std::size_t>(here - floor) >= bytes;
}

// Stack needed to evaluate a tree of the given cost (StackUnits).
inline std::size_t EvalBytes(int units) {
    return static_cast<std::size_t>(units > 0 ? units : 1) * kEvalBytesPerUnit;
}

// Raises unless one more dump level fits on this thread's stack.
void CheckDumpStack();

// Whether the value's text is shared with another value (copies share it).
bool TextShared(const Variant& v) noexcept;

// Bytes of heap a value holds beyond the value itself.
inline std::size_t HeldBytes(const Variant& v) {
    if (v.IsString()) return v.AsString().size();
    if (v.IsArray()) {
        std::size_t n = v.ArraySize() * sizeof(Variant);
        for (const Variant& e : v.ArrayItems()) n += HeldBytes(e);
        return n;
    }
    return 0;
}

[[noreturn]] void BudgetExceeded(std::size_t budget);

// Raises the budget error unless `bytes` more fit the budget of the
// interpreter whose tree is being evaluated on this thread (the innermost
// one, if any); charges nothing.
void Reserve(std::size_t bytes);

// Bytes a value holds that no other value shares: a text read from a
// variable is the variable's.
inline std::size_t OwnBytes(const Variant& v) {
    if (v.IsString()) return TextShared(v) ? 0 : v.AsString().size();
    return v.IsArray() ? HeldBytes(v) : 0;
}

// A value an evaluation keeps while it computes more: the bytes it owns
// count against the budget as long as it is kept. Short texts are not
// counted: how many the native stack can keep at once is bounded.
class Held {
public:
    static constexpr std::size_t kCounted = 256;
    Held() = default;
    // Charges that interpreter rather than the one evaluating.
    explicit Held(TMathInterpreter& interp) : interp_(&interp) {}
    explicit Held(const Variant& v) { Add(v); }
    ~Held() {
        if (bytes_ != 0) Release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // Counts a value kept beside the first. Numbers cost one test.
    [[gnu::always_inline]] void Add(const Variant& v) {
        static_assert(VarKind::String > VarKind::Boolean && VarKind::Array > VarKind::String);
        if (v.Kind() >= VarKind::String) [[unlikely]]
            AddHeap(v);
    }
    void Charge(std::size_t bytes);

private:
    void AddHeap(const Variant& v);
    void Release() noexcept;
    TMathInterpreter* interp_ = nullptr;
    std::size_t bytes_ = 0;
};

// Long work over texts goes in pieces of about this many bytes of plain
// copying (a tenth of a millisecond or less); between pieces the
// evaluation's interrupt and budgets are checked.
constexpr std::size_t kWorkPiece = 256 * 1024;
// The check between two pieces of long work.
void WorkDone();

// Calls f(from, to) for consecutive pieces of [0, n), checking between them;
// an f that returns false ends the walk there.
template <class F>
void InPieces(std::size_t n, std::size_t piece, F&& f) {
    for (std::size_t at = 0; at < n;) {
        const std::size_t to = n - at > piece ? at + piece : n;
        if constexpr (std::is_same_v<decltype(f(at, to)), bool>) {
            if (!f(at, to)) return;
        } else {
            f(at, to);
        }
        at = to;
        if (at < n) WorkDone();
    }
}

// How many characters at the front (or, with Back, the back) of a text are
// of the kind `is` tells, counted in pieces.
template <bool Back = false, class P>
std::size_t Span(std::string_view text, P is) {
    std::size_t n = 0;
    if (text.size() <= kWorkPiece) {
        while (n < text.size() && is(text[Back ? text.size() - 1 - n : n])) ++n;
        return n;
    }
    InPieces(text.size(), kWorkPiece, [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i, ++n)
            if (!is(text[Back ? text.size() - 1 - i : i])) return false;
        return true;
    });
    return n;
}

struct IsBlankChar {
    bool operator()(char c) const { return static_cast<unsigned char>(c) <= 32; }
};
inline constexpr IsBlankChar IsBlank{};

// A copy of part of a text made in pieces, after the budget is checked.
std::string CopyText(std::string_view text);
// `text` appended to `out` in pieces.
void AppendText(std::string& out, std::string_view text);

[[noreturn]] void OutOfMemory();

}  // namespace zorvex::guard

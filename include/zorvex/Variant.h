// The dynamically typed value of every expression, variable and parameter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zorvex/Export.h"

namespace zorvex {

class TMathInterpreter;

// The kinds that own heap storage come last.
enum class VarKind : std::uint8_t { Empty, Null, Integer, Real, Boolean, String, Array };

// Type codes as reported by Variant::VarType().
constexpr int varEmpty = 0;
constexpr int varNull = 1;
constexpr int varInteger = 3;
constexpr int varDouble = 5;
constexpr int varBoolean = 11;
constexpr int varVariant = 12;
constexpr int varString = 256;
constexpr int varArray = 0x2000;  // added to the element code: an array of Variant is 8204

// Numbers and booleans live inside the object; only strings and arrays own
// heap storage. A text never changes once made, so copies share it; an array
// is copied element by element. Either way a copy behaves as a value of its
// own, and may be used on another thread.
class ZORVEX_API Variant {
public:
    Variant() noexcept : kind_(VarKind::Empty) { u_.i = 0; }
    Variant(int v) noexcept : kind_(VarKind::Integer) { u_.i = v; }
    Variant(double v) noexcept : kind_(VarKind::Real) { u_.d = v; }
    Variant(bool v) noexcept : kind_(VarKind::Boolean) { u_.b = v; }
    Variant(std::string v);
    Variant(std::string_view v) : Variant(std::string(v)) {}
    Variant(const char* v) : Variant(std::string(v)) {}
    // Only the kinds above convert implicitly; anything else is a mistake.
    Variant(long) = delete;
    Variant(long long) = delete;
    Variant(unsigned) = delete;
    Variant(unsigned long) = delete;
    Variant(float) = delete;

    static Variant Null() noexcept {
        Variant v;
        v.kind_ = VarKind::Null;
        return v;
    }
    // One-dimensional array, low bound 0, `count` Empty elements.
    static Variant Array(std::size_t count);

    Variant(const Variant& other) : kind_(other.kind_), u_(other.u_) {
        if (other.IsHeap()) CopyHeap(other);
    }
    Variant(Variant&& other) noexcept : kind_(other.kind_), u_(other.u_) {
        other.kind_ = VarKind::Empty;
    }
    Variant& operator=(const Variant& other) {
        if (!IsHeap() && !other.IsHeap()) {
            kind_ = other.kind_;
            u_ = other.u_;
        } else if (this != &other) {
            AssignSlow(other);
        }
        return *this;
    }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            Release();
            kind_ = other.kind_;
            u_ = other.u_;
            other.kind_ = VarKind::Empty;
        }
        return *this;
    }
    ~Variant() { Release(); }

    VarKind Kind() const noexcept { return kind_; }
    int VarType() const noexcept;  // 0, 1, 3, 5, 11, 256 or 8204
    bool IsEmpty() const noexcept { return kind_ == VarKind::Empty; }
    bool IsNull() const noexcept { return kind_ == VarKind::Null; }
    bool IsInteger() const noexcept { return kind_ == VarKind::Integer; }
    bool IsReal() const noexcept { return kind_ == VarKind::Real; }
    bool IsBoolean() const noexcept { return kind_ == VarKind::Boolean; }
    bool IsString() const noexcept { return kind_ == VarKind::String; }
    bool IsArray() const noexcept { return kind_ == VarKind::Array; }
    bool IsNumber() const noexcept { return kind_ == VarKind::Integer || kind_ == VarKind::Real; }

    // Unchecked accessors: the kind must match.
    std::int32_t AsInteger() const noexcept { return u_.i; }
    double AsReal() const noexcept { return u_.d; }
    bool AsBoolean() const noexcept { return u_.b; }
    const std::string& AsString() const noexcept { return *u_.s; }

    // Arrays (one dimension, low bound 0). Out-of-range indexes raise ERangeError.
    int ArrayHighBound() const;  // -1 for an empty array
    std::size_t ArraySize() const;
    const Variant& ArrayGet(int index) const;
    void ArrayPut(int index, Variant value);
    void ArrayRedim(int highBound);  // keeps the elements that stay in range
    const std::vector<Variant>& ArrayItems() const;
    std::vector<Variant>& ArrayItems();

    void Clear() noexcept {
        Release();
        kind_ = VarKind::Empty;
    }

    // Same kind and same value (arrays element by element); for tests and caches.
    bool SameAs(const Variant& other) const;

private:
    // The interpreter's inline writes of a number into a variable.
    friend class TMathInterpreter;
    bool HoldsNoHeap() const noexcept { return kind_ < VarKind::String; }
    void PutNumber(double v) noexcept {
        kind_ = VarKind::Real;
        u_.d = v;
    }
    void PutNumber(std::int32_t v) noexcept {
        kind_ = VarKind::Integer;
        u_.i = v;
    }
    bool IsHeap() const noexcept { return kind_ == VarKind::String || kind_ == VarKind::Array; }
    void CopyHeap(const Variant& other);
    void AssignSlow(const Variant& other);
    void Release() noexcept {
        if (kind_ == VarKind::String || kind_ == VarKind::Array) ReleaseHeap();
    }
    void ReleaseHeap() noexcept;

    VarKind kind_;
    union {
        std::int32_t i;
        double d;
        bool b;
        std::string* s;
        std::vector<Variant>* a;
    } u_;
};

// Kind names as conversion errors print them: Empty, Null, Integer, Double,
// Boolean, String, Array.
ZORVEX_API const char* VarKindName(VarKind kind);

// Conversions. Errors: "Could not convert variant of type (K) into type (T)",
// "Overflow while converting variant of type (Double) into type (Integer)".
ZORVEX_API double VarToRealFull(const Variant& v);
inline double VarToReal(const Variant& v) {
    if (v.IsReal()) return v.AsReal();
    if (v.IsInteger()) return v.AsInteger();
    return VarToRealFull(v);
}
ZORVEX_API std::int32_t VarToInt(const Variant& v);
ZORVEX_API bool VarToBool(const Variant& v);
ZORVEX_API std::string VarToText(const Variant& v);  // Null raises
ZORVEX_API std::string VarToStr(const Variant& v);   // Null gives ''

// Operators. Null operands give Null except for VarNot, VarPower and VarCmp.
ZORVEX_API Variant VarAddFull(const Variant& a, const Variant& b);
ZORVEX_API Variant VarSubFull(const Variant& a, const Variant& b);
ZORVEX_API Variant VarMulFull(const Variant& a, const Variant& b);
ZORVEX_API Variant VarRDivFull(const Variant& a, const Variant& b);
ZORVEX_API int VarCmpFull(const Variant& a, const Variant& b);

// The common number cases inline; everything else, errors included, in the
// full versions.
#define ZORVEX_REAL_FAST_PATH(op)                                                   \
    if (a.IsNumber() && b.IsNumber() && (a.IsReal() || b.IsReal())) {               \
        double r = (a.IsReal() ? a.AsReal() : a.AsInteger())                        \
            op(b.IsReal() ? b.AsReal() : b.AsInteger());                            \
        if (__builtin_isfinite(r)) return Variant(r);                               \
    }
inline Variant VarAdd(const Variant& a, const Variant& b) {
    ZORVEX_REAL_FAST_PATH(+)
    if (a.IsInteger() && b.IsInteger()) {
        int r;
        if (!__builtin_add_overflow(a.AsInteger(), b.AsInteger(), &r)) return Variant(r);
    }
    return VarAddFull(a, b);
}
inline Variant VarSub(const Variant& a, const Variant& b) {
    ZORVEX_REAL_FAST_PATH(-)
    if (a.IsInteger() && b.IsInteger()) {
        int r;
        if (!__builtin_sub_overflow(a.AsInteger(), b.AsInteger(), &r)) return Variant(r);
    }
    return VarSubFull(a, b);
}
inline Variant VarMul(const Variant& a, const Variant& b) {
    ZORVEX_REAL_FAST_PATH(*)
    if (a.IsInteger() && b.IsInteger()) {
        int r;
        if (!__builtin_mul_overflow(a.AsInteger(), b.AsInteger(), &r)) return Variant(r);
    }
    return VarMulFull(a, b);
}
inline Variant VarRDiv(const Variant& a, const Variant& b) {
    if (a.IsNumber() && b.IsNumber()) {
        double x = a.IsReal() ? a.AsReal() : a.AsInteger();
        double y = b.IsReal() ? b.AsReal() : b.AsInteger();
        if (y != 0.0) {
            double r = x / y;
            if (__builtin_isfinite(r)) return Variant(r);
        }
    }
    return VarRDivFull(a, b);
}
#undef ZORVEX_REAL_FAST_PATH
ZORVEX_API Variant VarDiv(const Variant& a, const Variant& b);
ZORVEX_API Variant VarMod(const Variant& a, const Variant& b);
ZORVEX_API Variant VarAnd(const Variant& a, const Variant& b);
ZORVEX_API Variant VarOr(const Variant& a, const Variant& b);
ZORVEX_API Variant VarXor(const Variant& a, const Variant& b);
ZORVEX_API Variant VarShl(const Variant& a, const Variant& b);
ZORVEX_API Variant VarShr(const Variant& a, const Variant& b);
ZORVEX_API Variant VarNeg(const Variant& a);
ZORVEX_API Variant VarNot(const Variant& a);
ZORVEX_API double Power(double base, double exponent);  // checked real power
// -1, 0 or 1; a NaN operand raises "Invalid floating point operation": it is
// no value of the language and equals nothing.
inline int VarCmp(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) return (a.AsInteger() > b.AsInteger()) - (a.AsInteger() < b.AsInteger());
    if (a.IsReal() && b.IsReal()) {
        const int r = (a.AsReal() > b.AsReal()) - (a.AsReal() < b.AsReal());
        if (r != 0 || a.AsReal() == b.AsReal()) return r;
    }
    return VarCmpFull(a, b);
}

// Raises "Floating point overflow" for an infinity and "Invalid floating point
// operation" for NaN; returns the value otherwise.
ZORVEX_API double CheckReal(double value);

// Text forms of a real: display (printf "%.15G") and exact (reads back to the
// same double; whole values below 2^53 without exponent).
ZORVEX_API std::string FormatRealDisplay(double value);
ZORVEX_API std::string FormatRealExact(double value);

// Numeric text rule: blanks (codes <= 32) around are ignored; integer form
// within 32 bits gives Integer, any other decimal number gives Real. Returns
// false for anything else, text beyond the range of a double included.
ZORVEX_API bool ParseNumberText(std::string_view text, Variant& out);

}  // namespace zorvex

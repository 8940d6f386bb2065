// The dynamically typed value: kinds, conversions, operators and text forms.
// The value type: kinds, arithmetic, comparison, conversions and text forms.
#include "zorvex/Variant.h"

#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr double kTwoPow53 = 9007199254740992.0;

// ---------------------------------------------------------------------------
// Errors (kept out of line so the happy paths stay small)

[[noreturn, gnu::cold, gnu::noinline]] void RaiseInvalidOp() {
    throw EVariantError("Invalid variant operation");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseCannotConvert(VarKind from, const char* to) {
    throw EVariantError(std::string("Could not convert variant of type (") + VarKindName(from) +
                        ") into type (" + to + ")");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseIntConvertOverflow() {
    throw EVariantError("Overflow while converting variant of type (Double) into type (Integer)");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseFloatOverflow() {
    throw EOverflow("Floating point overflow");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseFloatInvalid() {
    throw EInvalidOp("Invalid floating point operation");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseFloatZeroDivide() {
    throw EZeroDivide("Floating point division by zero");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseDivByZero() { throw EDivByZero("Division by zero"); }

[[noreturn, gnu::cold, gnu::noinline]] void RaiseRange() { throw ERangeError("Range check error"); }

[[noreturn, gnu::cold, gnu::noinline]] void RaiseNotArray() {
    throw EVariantError("Variant is not an array");
}

[[noreturn, gnu::cold, gnu::noinline]] void RaiseNonFinite(double value) {
    if (std::isnan(value)) RaiseFloatInvalid();
    RaiseFloatOverflow();
}

inline double Checked(double value) {
    if (std::isfinite(value)) [[likely]]
        return value;
    RaiseNonFinite(value);
}

inline Variant FromInt64(std::int64_t v) {
    if (v >= kInt32Min && v <= kInt32Max) [[likely]]
        return Variant(static_cast<int>(v));
    return Variant(static_cast<double>(v));
}

inline bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= 32; }
inline bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------------------
// Numbers as operands

struct Num {
    bool isInt;
    std::int32_t i;
    double d;
    double Real() const noexcept { return isInt ? static_cast<double>(i) : d; }
};

inline Num IntNum(std::int32_t v) noexcept { return Num{true, v, 0.0}; }
inline Num RealNum(double v) noexcept { return Num{false, 0, v}; }

// Decimal exponent of the first significant digit of a validated mantissa, or a
// very negative number when every digit is zero.
std::int64_t LeadingMagnitude(const char* intStart, std::size_t intDigits, const char* fracStart,
                              std::size_t fracDigits, std::int64_t exponent) {
    for (std::size_t k = 0; k < intDigits; ++k)
        if (intStart[k] != '0') return exponent + static_cast<std::int64_t>(intDigits - 1 - k);
    for (std::size_t j = 0; j < fracDigits; ++j)
        if (fracStart[j] != '0') return exponent - static_cast<std::int64_t>(j + 1);
    return std::numeric_limits<std::int64_t>::min() / 2;
}

// The first character from p on that is not of the kind `is` tells; a long
// text is scanned in pieces, checked between them.
template <class P>
const char* Skip(const char* p, const char* end, P is) {
    return p + guard::Span(std::string_view(p, static_cast<std::size_t>(end - p)), is);
}

// More digits than this never change a double: the rest only tells whether
// anything non-zero follows.
constexpr std::size_t kSignificantDigits = 800;

// The number of a mantissa with very many digits, as from_chars would read
// it: the first digits and a sticky 1 when a non-zero digit follows.
std::string ShortMantissa(const char* intStart, std::size_t intDigits, const char* fracStart, std::size_t fracDigits,
                          std::int64_t exponent) {
    std::string digits;
    std::int64_t pointAt = static_cast<std::int64_t>(intDigits);  // digits before the point
    bool sticky = false;
    auto take = [&](const char* from, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            if ((k & 0x3FFFFu) == 0x3FFFFu) guard::WorkDone();
            const char d = from[k];
            if (digits.empty() && d == '0') {
                --pointAt;  // a leading zero moves the point
                continue;
            }
            if (digits.size() < kSignificantDigits) {
                digits += d;
            } else if (d != '0') {
                sticky = true;
                return;
            }
        }
    };
    take(intStart, intDigits);
    if (!sticky) take(fracStart, fracDigits);
    if (digits.empty()) return "0";
    if (sticky) digits += '1';
    return digits.substr(0, 1) + "." + digits.substr(1) + "e" + std::to_string(exponent + pointAt - 1);
}

// The numeric text rule shared by conversions and number literals.
bool ParseNumber(std::string_view text, Num& out) {
    const char* p = text.data();
    const char* end = p + text.size();
    p = Skip(p, end, guard::IsBlank);
    end -= guard::Span<true>(std::string_view(p, static_cast<std::size_t>(end - p)), guard::IsBlank);
    if (p == end) return false;

    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char* mantissa = p;
    const char* intStart = p;
    p = Skip(p, end, [](char c) { return IsDigit(c); });
    const std::size_t intDigits = static_cast<std::size_t>(p - intStart);
    const char* fracStart = p;
    std::size_t fracDigits = 0;
    bool point = false;
    if (p < end && *p == '.') {
        point = true;
        ++p;
        fracStart = p;
        p = Skip(p, end, [](char c) { return IsDigit(c); });
        fracDigits = static_cast<std::size_t>(p - fracStart);
    }
    if (intDigits + fracDigits == 0) return false;
    bool hasExponent = false;
    std::int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool expNegative = false;
        if (p < end && (*p == '+' || *p == '-')) {
            expNegative = *p == '-';
            ++p;
        }
        const char* expStart = p;
        while (p < end && IsDigit(*p)) {
            if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');  // saturates
            ++p;
        }
        if (p == expStart) return false;
        if (expNegative) exponent = -exponent;
        hasExponent = true;
    }
    if (p != end) return false;

    if (!point && !hasExponent) {
        // Integer form: Integer when within 32 bits.
        const char* intEnd = intStart + intDigits;
        const char* q = Skip(intStart, intEnd, [](char c) { return c == '0'; });
        if (intEnd - q <= 10) {
            std::int64_t v = 0;
            for (; q < intEnd; ++q) v = v * 10 + (*q - '0');
            if (negative) v = -v;
            if (v >= kInt32Min && v <= kInt32Max) {
                out = IntNum(static_cast<std::int32_t>(v));
                return true;
            }
        }
    }

    double value = 0.0;
    std::string shortened;
    if (intDigits + fracDigits > 2 * kSignificantDigits) {
        shortened = ShortMantissa(intStart, intDigits, fracStart, fracDigits, exponent);
        mantissa = shortened.data();
        end = mantissa + shortened.size();
    }
    auto res = std::from_chars(mantissa, end, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Beyond the range of a double: no number. Below the smallest
        // subnormal: the value rounds to zero.
        if (LeadingMagnitude(intStart, intDigits, fracStart, fracDigits, exponent) >= 0) return false;
        value = 0.0;
    } else if (res.ec != std::errc() || res.ptr != end) {
        return false;
    }
    if (!std::isfinite(value)) return false;
    out = RealNum(negative ? -value : value);
    return true;
}

inline bool IsBoolOrArray(const Variant& v) noexcept {
    return v.Kind() == VarKind::Boolean || v.Kind() == VarKind::Array;
}

// An operand of arithmetic: numbers, Empty as 0, Strings by the numeric text
// rule. Null must have been handled; Booleans and Arrays are invalid.
Num ToNum(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Integer: return IntNum(v.AsInteger());
        case VarKind::Real: return RealNum(v.AsReal());
        case VarKind::Empty: return IntNum(0);
        case VarKind::String: {
            Num n;
            if (!ParseNumber(v.AsString(), n)) RaiseCannotConvert(VarKind::String, "Double");
            return n;
        }
        default: RaiseInvalidOp();
    }
}

// A whole number within 32 bits, else "Invalid variant operation".
std::int32_t ToWhole32(const Num& n) {
    if (n.isInt) return n.i;
    const double d = n.d;
    if (d >= -2147483648.0 && d <= 2147483647.0 && d == std::trunc(d)) return static_cast<std::int32_t>(d);
    RaiseInvalidOp();
}

// Round half to even; exact for every double.
double RoundHalfEven(double d) {
    const double a = std::fabs(d);
    double r = std::floor(a);
    const double diff = a - r;  // exact: Sterbenz for a >= 1, r == 0 otherwise
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0.0)) r += 1.0;
    return std::signbit(d) ? -r : r;
}

std::int32_t RealToInt(double d) {
    const double r = RoundHalfEven(d);
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) RaiseIntConvertOverflow();
    return static_cast<std::int32_t>(r);
}

// Within an evaluation, long texts are joined in pieces and the budget
// checked first.
Variant Concat(const std::string& a, const std::string& b) {
    CheckTextLength(a.size() + b.size());
    guard::Reserve(a.size() + b.size());
    std::string r;
    r.reserve(a.size() + b.size());
    guard::AppendText(r, a);
    guard::AppendText(r, b);
    return Variant(std::move(r));
}

// ---------------------------------------------------------------------------
// + - *

enum class Arith { Add, Sub, Mul };

template <Arith op, typename T>
inline T Apply(T a, T b) {
    if constexpr (op == Arith::Add)
        return a + b;
    else if constexpr (op == Arith::Sub)
        return a - b;
    else
        return a * b;
}

// Two 32-bit integers never overflow in 64 bits; FromInt64 narrows.
template <Arith op>
inline Variant IntArith(std::int64_t a, std::int64_t b) {
    return FromInt64(Apply<op>(a, b));
}

template <Arith op>
inline Variant NumArith(const Num& x, const Num& y) {
    if (x.isInt && y.isInt) return IntArith<op>(x.i, y.i);
    return Variant(Checked(Apply<op>(x.Real(), y.Real())));
}

template <Arith op>
[[gnu::noinline]] Variant ArithSlow(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    if (IsBoolOrArray(a) || IsBoolOrArray(b)) RaiseInvalidOp();
    if constexpr (op == Arith::Add) {
        // Concatenation; Empty acts as '' beside a String.
        if (a.IsString()) {
            if (b.IsString()) return Concat(a.AsString(), b.AsString());
            if (b.IsEmpty()) return a;
        } else if (b.IsString() && a.IsEmpty()) {
            return b;
        }
    }
    return NumArith<op>(ToNum(a), ToNum(b));
}

// ---------------------------------------------------------------------------
// / div mod

inline double RealDivide(double x, double y) {
    if (y == 0.0) [[unlikely]] {
        if (x == 0.0) RaiseFloatInvalid();
        RaiseFloatZeroDivide();
    }
    return Checked(x / y);
}

enum class IntDiv { Div, Mod };

template <IntDiv op>
inline Variant IntDivide(std::int32_t x, std::int32_t y) {
    if (y == 0) RaiseDivByZero();
    if constexpr (op == IntDiv::Div) {
        return FromInt64(static_cast<std::int64_t>(x) / y);
    } else {
        if (y == -1) return Variant(0);
        return Variant(static_cast<int>(x % y));
    }
}

// The operand rule of div, mod, and, or, xor, shl and shr past their fast
// paths: Null gives Null (false here), a Boolean or an Array raises, anything
// else must convert to whole numbers within 32 bits.
bool WholeOperands(const Variant& a, const Variant& b, std::int32_t& xi, std::int32_t& yi) {
    if (a.IsNull() || b.IsNull()) return false;
    if (IsBoolOrArray(a) || IsBoolOrArray(b)) RaiseInvalidOp();
    const Num x = ToNum(a);
    const Num y = ToNum(b);
    xi = ToWhole32(x);
    yi = ToWhole32(y);
    return true;
}

template <IntDiv op>
[[gnu::noinline]] Variant IntDivSlow(const Variant& a, const Variant& b) {
    std::int32_t xi, yi;
    if (!WholeOperands(a, b, xi, yi)) return Variant::Null();
    return IntDivide<op>(xi, yi);
}

// ---------------------------------------------------------------------------
// and or xor shl shr

enum class Logic { And, Or, Xor };

template <Logic op>
inline std::int32_t Bitwise(std::int32_t a, std::int32_t b) noexcept {
    if constexpr (op == Logic::And) return a & b;
    else if constexpr (op == Logic::Or) return a | b;
    else return a ^ b;
}

template <Logic op>
[[gnu::noinline]] Variant LogicSlow(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    if (a.IsBoolean() && b.IsBoolean()) {
        const bool x = a.AsBoolean(), y = b.AsBoolean();
        if constexpr (op == Logic::And) return Variant(x && y);
        else if constexpr (op == Logic::Or) return Variant(x || y);
        else return Variant(x != y);
    }
    std::int32_t xi, yi;
    WholeOperands(a, b, xi, yi);
    return Variant(static_cast<int>(Bitwise<op>(xi, yi)));
}

template <Logic op>
inline Variant LogicOp(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return Variant(static_cast<int>(Bitwise<op>(a.AsInteger(), b.AsInteger())));
    return LogicSlow<op>(a, b);
}

inline std::int32_t ShiftLeft(std::int32_t a, std::int32_t count) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << (static_cast<std::uint32_t>(count) & 31u));
}

inline std::int32_t ShiftRight(std::int32_t a, std::int32_t count) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) >> (static_cast<std::uint32_t>(count) & 31u));
}

template <bool left>
[[gnu::noinline]] Variant ShiftSlow(const Variant& a, const Variant& b) {
    std::int32_t xi, yi;
    if (!WholeOperands(a, b, xi, yi)) return Variant::Null();
    return Variant(static_cast<int>(left ? ShiftLeft(xi, yi) : ShiftRight(xi, yi)));
}

// ---------------------------------------------------------------------------
// Comparison

template <typename T>
inline int Sign3(T a, T b) noexcept {
    return (a < b) ? -1 : (b < a ? 1 : 0);
}

inline int CmpReal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) [[unlikely]]
        RaiseFloatInvalid();
    return Sign3(a, b);
}

[[gnu::noinline]] int CmpSlow(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) {
        if (a.IsNull()) return b.IsNull() ? 0 : -1;
        return 1;
    }
    if (a.IsArray() || b.IsArray()) RaiseInvalidOp();
    if (a.IsBoolean() || b.IsBoolean()) {
        if (!(a.IsBoolean() && b.IsBoolean())) RaiseInvalidOp();
        return Sign3<int>(a.AsBoolean(), b.AsBoolean());
    }
    if (a.IsString() || b.IsString()) {
        if (a.IsString() && b.IsString()) {
            const int c = a.AsString().compare(b.AsString());  // unsigned bytes (memcmp)
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        if (a.IsEmpty()) return b.AsString().empty() ? 0 : -1;
        if (b.IsEmpty()) return a.AsString().empty() ? 0 : 1;
    }
    if (a.IsEmpty() && b.IsEmpty()) return 0;
    const Num x = ToNum(a);
    const Num y = ToNum(b);
    if (x.isInt && y.isInt) return Sign3(x.i, y.i);
    return CmpReal(x.Real(), y.Real());
}

}  // namespace

// ---------------------------------------------------------------------------
// Variant members

namespace {

// A text is never changed once made, so copies of a value share it: reading
// a long text from a variable, binding it to a parameter or holding it as a
// result costs no copy. The count is atomic: values may be copied on any
// thread.
struct TextBox {
    std::string text;
    std::atomic<std::uint32_t> refs{1};
};
static_assert(std::is_standard_layout_v<TextBox>, "the text is found at the start of its box");

TextBox* BoxOf(const std::string* text) { return reinterpret_cast<TextBox*>(const_cast<std::string*>(text)); }

}  // namespace

bool guard::TextShared(const Variant& v) noexcept {
    return v.IsString() && BoxOf(&v.AsString())->refs.load(std::memory_order_relaxed) > 1;
}

Variant::Variant(std::string v) : kind_(VarKind::Empty) {
    u_.s = &(new TextBox{std::move(v)})->text;
    kind_ = VarKind::String;
}

Variant Variant::Array(std::size_t count) {
    Variant v;
    v.u_.a = new std::vector<Variant>(count);
    v.kind_ = VarKind::Array;
    return v;
}

void Variant::CopyHeap(const Variant& other) {
    if (kind_ == VarKind::String)
        BoxOf(u_.s)->refs.fetch_add(1, std::memory_order_relaxed);
    else if (kind_ == VarKind::Array)
        u_.a = new std::vector<Variant>(*other.u_.a);
}

void Variant::AssignSlow(const Variant& other) {
    {
        if (other.kind_ != VarKind::String && other.kind_ != VarKind::Array) {
            Release();
            kind_ = other.kind_;
            u_ = other.u_;
        } else {
            Variant copy(other);  // may throw; *this is untouched then
            *this = std::move(copy);
        }
    }
}

void Variant::ReleaseHeap() noexcept {
    if (kind_ == VarKind::String) {
        TextBox* box = BoxOf(u_.s);
        if (box->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete box;
    } else if (kind_ == VarKind::Array)
        delete u_.a;
}

int Variant::VarType() const noexcept {
    switch (kind_) {
        case VarKind::Empty: return varEmpty;
        case VarKind::Null: return varNull;
        case VarKind::Integer: return varInteger;
        case VarKind::Real: return varDouble;
        case VarKind::Boolean: return varBoolean;
        case VarKind::String: return varString;
        case VarKind::Array: return varArray | varVariant;
    }
    return varEmpty;
}

int Variant::ArrayHighBound() const {
    if (kind_ != VarKind::Array) RaiseNotArray();
    return static_cast<int>(u_.a->size()) - 1;
}

std::size_t Variant::ArraySize() const {
    if (kind_ != VarKind::Array) RaiseNotArray();
    return u_.a->size();
}

const Variant& Variant::ArrayGet(int index) const {
    if (kind_ != VarKind::Array) RaiseNotArray();
    if (index < 0 || static_cast<std::size_t>(index) >= u_.a->size()) RaiseRange();
    return (*u_.a)[static_cast<std::size_t>(index)];
}

void Variant::ArrayPut(int index, Variant value) {
    if (kind_ != VarKind::Array) RaiseNotArray();
    if (index < 0 || static_cast<std::size_t>(index) >= u_.a->size()) RaiseRange();
    (*u_.a)[static_cast<std::size_t>(index)] = std::move(value);
}

void Variant::ArrayRedim(int highBound) {
    if (kind_ != VarKind::Array) RaiseNotArray();
    if (highBound < -1) RaiseRange();
    u_.a->resize(static_cast<std::size_t>(highBound) + 1);
}

const std::vector<Variant>& Variant::ArrayItems() const {
    if (kind_ != VarKind::Array) RaiseNotArray();
    return *u_.a;
}

std::vector<Variant>& Variant::ArrayItems() {
    if (kind_ != VarKind::Array) RaiseNotArray();
    return *u_.a;
}

bool Variant::SameAs(const Variant& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case VarKind::Empty:
        case VarKind::Null: return true;
        case VarKind::Integer: return u_.i == other.u_.i;
        // Bit for bit, so 0 and -0 differ (their display forms differ too).
        case VarKind::Real:
            return std::bit_cast<std::uint64_t>(u_.d) == std::bit_cast<std::uint64_t>(other.u_.d);
        case VarKind::Boolean: return u_.b == other.u_.b;
        case VarKind::String: return *u_.s == *other.u_.s;
        case VarKind::Array: {
            const auto& x = *u_.a;
            const auto& y = *other.u_.a;
            if (x.size() != y.size()) return false;
            for (std::size_t k = 0; k < x.size(); ++k)
                if (!x[k].SameAs(y[k])) return false;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Free functions

const char* VarKindName(VarKind kind) {
    switch (kind) {
        case VarKind::Empty: return "Empty";
        case VarKind::Null: return "Null";
        case VarKind::Integer: return "Integer";
        case VarKind::Real: return "Double";
        case VarKind::Boolean: return "Boolean";
        case VarKind::String: return "String";
        case VarKind::Array: return "Array";
    }
    return "Unknown";
}

double VarToRealFull(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Integer: return v.AsInteger();
        case VarKind::Real: return v.AsReal();
        case VarKind::Empty: return 0.0;
        case VarKind::String: {
            Num n;
            if (ParseNumber(v.AsString(), n)) return n.Real();
            break;
        }
        default: break;
    }
    RaiseCannotConvert(v.Kind(), "Double");
}

std::int32_t VarToInt(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Integer: return v.AsInteger();
        case VarKind::Real: return RealToInt(v.AsReal());
        case VarKind::Empty: return 0;
        case VarKind::String: {
            Num n;
            if (ParseNumber(v.AsString(), n)) return n.isInt ? n.i : RealToInt(n.d);
            break;
        }
        default: break;
    }
    RaiseCannotConvert(v.Kind(), "Integer");
}

namespace {

bool EqualsNoCase(std::string_view text, std::string_view lowerWord) {
    if (text.size() != lowerWord.size()) return false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        char c = text[k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerWord[k]) return false;
    }
    return true;
}

}  // namespace

bool VarToBool(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Boolean: return v.AsBoolean();
        case VarKind::Integer: return v.AsInteger() != 0;
        case VarKind::Real: return v.AsReal() != 0.0;
        case VarKind::Empty: return false;
        case VarKind::String: {
            std::string_view s = v.AsString();
            while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
            while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
            if (EqualsNoCase(s, "true")) return true;
            if (EqualsNoCase(s, "false")) return false;
            Num n;
            if (ParseNumber(s, n)) return n.Real() != 0.0;
            break;
        }
        default: break;
    }
    RaiseCannotConvert(v.Kind(), "Boolean");
}

std::string VarToText(const Variant& v) {
    switch (v.Kind()) {
        case VarKind::Integer: return IntToStr(v.AsInteger());
        case VarKind::Real: return FormatRealDisplay(v.AsReal());
        case VarKind::Boolean: return v.AsBoolean() ? "True" : "False";
        case VarKind::String: return v.AsString();
        case VarKind::Empty: return std::string();
        default: break;
    }
    RaiseCannotConvert(v.Kind(), "String");
}

std::string VarToStr(const Variant& v) {
    if (v.IsNull()) return std::string();
    return VarToText(v);
}

template <Arith op>
inline Variant ArithFull(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return IntArith<op>(a.AsInteger(), b.AsInteger());
    if (a.IsReal() && b.IsReal()) return Variant(Checked(Apply<op>(a.AsReal(), b.AsReal())));
    return ArithSlow<op>(a, b);
}

Variant VarAddFull(const Variant& a, const Variant& b) { return ArithFull<Arith::Add>(a, b); }
Variant VarSubFull(const Variant& a, const Variant& b) { return ArithFull<Arith::Sub>(a, b); }
Variant VarMulFull(const Variant& a, const Variant& b) { return ArithFull<Arith::Mul>(a, b); }

Variant VarRDivFull(const Variant& a, const Variant& b) {
    if (a.IsReal() && b.IsReal()) [[likely]]
        return Variant(RealDivide(a.AsReal(), b.AsReal()));
    if (a.IsInteger() && b.IsInteger())
        return Variant(RealDivide(a.AsInteger(), b.AsInteger()));
    if (a.IsNull() || b.IsNull()) return Variant::Null();
    if (IsBoolOrArray(a) || IsBoolOrArray(b)) RaiseInvalidOp();
    return Variant(RealDivide(ToNum(a).Real(), ToNum(b).Real()));
}

Variant VarDiv(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return IntDivide<IntDiv::Div>(a.AsInteger(), b.AsInteger());
    return IntDivSlow<IntDiv::Div>(a, b);
}

Variant VarMod(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return IntDivide<IntDiv::Mod>(a.AsInteger(), b.AsInteger());
    return IntDivSlow<IntDiv::Mod>(a, b);
}

Variant VarAnd(const Variant& a, const Variant& b) { return LogicOp<Logic::And>(a, b); }
Variant VarOr(const Variant& a, const Variant& b) { return LogicOp<Logic::Or>(a, b); }
Variant VarXor(const Variant& a, const Variant& b) { return LogicOp<Logic::Xor>(a, b); }

Variant VarShl(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return Variant(static_cast<int>(ShiftLeft(a.AsInteger(), b.AsInteger())));
    return ShiftSlow<true>(a, b);
}

Variant VarShr(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return Variant(static_cast<int>(ShiftRight(a.AsInteger(), b.AsInteger())));
    return ShiftSlow<false>(a, b);
}

Variant VarNeg(const Variant& a) {
    switch (a.Kind()) {
        case VarKind::Integer:
            return FromInt64(-static_cast<std::int64_t>(a.AsInteger()));
        case VarKind::Real: return Variant(-a.AsReal());
        case VarKind::Null: return Variant::Null();
        case VarKind::Empty: return Variant(0);
        case VarKind::String: {
            const Num n = ToNum(a);
            if (n.isInt) return FromInt64(-static_cast<std::int64_t>(n.i));
            return Variant(-n.d);
        }
        default: RaiseInvalidOp();
    }
}

Variant VarNot(const Variant& a) {
    switch (a.Kind()) {
        case VarKind::Boolean: return Variant(!a.AsBoolean());
        case VarKind::Integer: return Variant(static_cast<int>(~a.AsInteger()));
        case VarKind::Real:
        case VarKind::String:
        case VarKind::Empty: return Variant(static_cast<int>(~ToWhole32(ToNum(a))));
        default: RaiseInvalidOp();  // Null and Array
    }
}

double Power(double base, double exponent) {
    if (exponent == 0.0) return 1.0;
    if (exponent == 2.0) return Checked(base * base);  // what pow gives, without the call
    if (base == 0.0) {
        if (exponent < 0.0) RaiseFloatZeroDivide();
    } else if (base < 0.0 && exponent != std::trunc(exponent)) {
        RaiseFloatInvalid();
    }
    return Checked(std::pow(base, exponent));
}

int VarCmpFull(const Variant& a, const Variant& b) {
    if (a.IsInteger() && b.IsInteger()) [[likely]]
        return Sign3(a.AsInteger(), b.AsInteger());
    if (a.IsReal() && b.IsReal()) return CmpReal(a.AsReal(), b.AsReal());
    return CmpSlow(a, b);
}

double CheckReal(double value) { return Checked(value); }

std::string FormatRealDisplay(double value) {
    // std::to_chars with a precision writes exactly what printf("%.15g") writes
    // in the "C" locale, whatever locale the host program set.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    for (char* p = buf; p != res.ptr; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return std::string(buf, res.ptr);
}

std::string FormatRealExact(double value) {
    // A real literal keeps the sign of a zero: `-0` would read back as the
    // integer 0.
    if (value == 0.0) return std::signbit(value) ? "-0.0" : "0";
    if (std::fabs(value) < kTwoPow53 && value == std::trunc(value)) {
        const auto n = static_cast<std::int64_t>(value);
        std::string s = IntToStr(n);
        if (n > kInt32Max || n < -kInt32Max) s += ".0";
        return s;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, res.ptr);
    if (std::isfinite(value) && s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

bool ParseNumberText(std::string_view text, Variant& out) {
    Num n;
    if (!ParseNumber(text, n)) return false;
    out = n.isInt ? Variant(static_cast<int>(n.i)) : Variant(n.d);
    return true;
}

}  // namespace zorvex

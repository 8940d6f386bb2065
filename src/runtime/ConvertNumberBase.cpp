#include "zorvex/ConvertNumberBase.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ResourceLimits.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

long double FloatTolerancy = 1e-6L;

namespace {

constexpr std::int64_t kMaxInt64 = std::numeric_limits<std::int64_t>::max();

[[noreturn]] void RaiseIntOverflow() { throw EIntOverflow("Integer overflow"); }

std::int64_t CheckedMul(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) RaiseIntOverflow();
    return r;
}

std::int64_t CheckedAdd(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r)) RaiseIntOverflow();
    return r;
}

std::int64_t CheckedNeg(std::int64_t a) {
    if (a == std::numeric_limits<std::int64_t>::min()) RaiseIntOverflow();
    return -a;
}

[[noreturn]] void RaiseInvalidDigit() { throw ETypeError("CharToDigit() 'Ch' is not valid digit."); }

// Base 1 never reaches 0 by division and base 0 divides by zero, so neither
// (nor a negative base) can write anything.
void CheckWriteBase(const char* operation, TNumberBase base) {
    if (base < 2) throw ETypeError(std::string(operation) + "() Base " + IntToStr(base) + " is not valid for writing.");
}

long double Frac(long double x) { return x - std::trunc(x); }

// Without the blanks and control characters around it, as Trim, but in place.
std::string_view Trimmed(std::string_view text) {
    text.remove_prefix(guard::Span(text, guard::IsBlank));
    text.remove_suffix(guard::Span<true>(text, guard::IsBlank));
    return text;
}

}  // namespace

char DigitToChar(TDigit digit) {
    if (digit < 0 || digit > 35) throw ERangeError("Range check error");
    if (digit <= 9) return static_cast<char>('0' + digit);
    return static_cast<char>('a' + (digit - 10));
}

TDigit CharToDigit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 10;
    RaiseInvalidDigit();
}

std::string Int64ToStringBase(std::int64_t value, TNumberBase base) {
    CheckWriteBase("Int64ToStringBase", base);
    const bool negative = value < 0;
    if (negative) value = CheckedNeg(value);
    std::string result;
    do {
        result.push_back(DigitToChar(static_cast<TDigit>(value % base)));
        value /= base;
    } while (value != 0);
    if (negative) result.push_back('-');
    std::reverse(result.begin(), result.end());
    return result;
}

std::int64_t StringToInt64Base(std::string_view text, TNumberBase base) {
    const std::string_view s = Trimmed(text);
    std::int64_t result = 0;
    std::int64_t place = 1;
    // Right to left, so the place value is formed only up to the leftmost
    // digit and a leading '-' is recognised last.
    for (std::size_t i = s.size(); i-- > 0;) {
        const char ch = s[i];
        if (ch == '-' && i == 0) {
            result = CheckedNeg(result);
            break;
        }
        if (i + 1 < s.size()) place = CheckedMul(place, base);
        const TDigit d = CharToDigit(ch);
        if (d >= base)
            throw ETypeError("StringToInt64Base() Digit '" + std::string(1, ch) + "' is larger then allowed by base " +
                             IntToStr(base) + ".");
        result = CheckedAdd(result, CheckedMul(d, place));
    }
    return result;
}

std::string ConvertInt64Base(std::string_view text, TNumberBase fromBase, TNumberBase toBase) {
    return Int64ToStringBase(StringToInt64Base(text, fromBase), toBase);
}

std::string FloatToStringBase(long double value, TNumberBase base) {
    CheckWriteBase("FloatToStringBase", base);
    if (std::isnan(value)) throw ETypeError("FloatToStringBase() Value is not a number.");
    if (std::isinf(value)) throw ETypeError("FloatToStringBase() Value is infinite.");
    const bool negative = value < 0;
    const long double x = std::fabs(value);
    if (x >= 0x1p63L) throw ETypeError("FloatToStringBase() Value is out of the 64-bit integer range.");
    const auto intPart = static_cast<std::int64_t>(std::trunc(x));
    const long double f = Frac(x);

    // P = base^k after k digits; the bound also caps the digit count, since
    // the fraction must read back as one 64-bit integer.
    const std::int64_t limit = kMaxInt64 / base;
    std::string fraction;
    std::int64_t p = 1;
    while (p < limit && Frac(static_cast<long double>(p) * f) > FloatTolerancy) {
        p *= base;
        const auto d = static_cast<std::int64_t>(std::trunc(static_cast<long double>(p) * f));
        fraction.push_back(DigitToChar(static_cast<TDigit>(d % base)));
    }

    std::string result = Int64ToStringBase(intPart, base);
    if (!fraction.empty()) result += '.' + fraction;
    if (negative) result.insert(result.begin(), '-');
    return result;
}

long double StringToFloatBase(std::string_view text, TNumberBase base) {
    // Trimmed as a whole so that trailing blanks do not count as fraction
    // places.
    const std::string_view s = Trimmed(text);
    const std::size_t point = s.find('.');
    if (point == std::string::npos) return static_cast<long double>(StringToInt64Base(s, base));

    const std::string_view intText = s.substr(0, point);
    const std::string_view fracText = s.substr(point + 1);
    const std::int64_t intPart = StringToInt64Base(intText, base);
    // The integer reader would accept a blank or a sign here, which would
    // shift or negate the fraction.
    if (!fracText.empty() &&
        (fracText.front() == '-' || guard::Span(fracText, [](char c) { return !guard::IsBlank(c); }) < fracText.size()))
        RaiseInvalidDigit();

    // Places past 63 bits are beyond the precision: they are checked but
    // dropped. A long fraction is long work.
    std::int64_t n = 0;
    long double scale = 1;
    bool full = false;
    std::size_t place = 0;
    for (char ch : fracText) {
        if ((++place & 0x3FFFFu) == 0) guard::WorkDone();
        const TDigit d = CharToDigit(ch);
        if (d >= base)
            throw ETypeError("StringToInt64Base() Digit '" + std::string(1, ch) + "' is larger then allowed by base " +
                             IntToStr(base) + ".");
        if (full || n > (kMaxInt64 - d) / base) {
            full = true;
            continue;
        }
        n = n * base + d;
        scale *= base;
    }
    long double f = n == 0 ? 0.0L : static_cast<long double>(n) / scale;
    const std::string_view trimmedInt = Trimmed(intText);
    if (!trimmedInt.empty() && trimmedInt.front() == '-') f = -f;
    return static_cast<long double>(intPart) + f;
}

std::string ConvertFloatBase(std::string_view text, TNumberBase fromBase, TNumberBase toBase) {
    return FloatToStringBase(StringToFloatBase(text, fromBase), toBase);
}

std::string CharStr(char ch, std::int32_t count) {
    if (count <= 0) return std::string();
    CheckTextLength(static_cast<std::size_t>(count));
    return std::string(static_cast<std::size_t>(count), ch);
}

}  // namespace zorvex

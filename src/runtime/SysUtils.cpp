// Text helpers with the runtime's byte-string conventions.
#include "zorvex/SysUtils.h"

#include <charconv>

#include "ItemUtil.h"
#include "zorvex/Exception.h"
#include "zorvex/Variant.h"

namespace zorvex {

namespace {

inline bool IsBlank(char c) noexcept { return static_cast<unsigned char>(c) <= 32; }

std::size_t FirstNonBlank(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    return i;
}

std::size_t EndNonBlank(std::string_view s) noexcept {
    std::size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1])) --n;
    return n;
}

}  // namespace

std::string Trim(std::string_view s) {
    std::size_t b = FirstNonBlank(s);
    if (b == s.size()) return std::string();
    std::size_t e = EndNonBlank(s);
    return std::string(s.substr(b, e - b));
}

std::string TrimLeft(std::string_view s) { return std::string(s.substr(FirstNonBlank(s))); }

std::string TrimRight(std::string_view s) { return std::string(s.substr(0, EndNonBlank(s))); }

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string QuotedStr(std::string_view s) {
    std::string r;
    r.reserve(s.size() + 2);
    r.push_back('\'');
    for (char c : s) {
        r.push_back(c);
        if (c == '\'') r.push_back('\'');
    }
    r.push_back('\'');
    return r;
}

std::string IntToStr(std::int64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::int32_t StrToInt(std::string_view s) {
    Variant v;
    if (ParseNumberText(s, v) && v.IsInteger()) {
        // Only the integer form (sign and digits) yields Integer; a whole
        // number written with a point or exponent stays Real and is refused.
        return v.AsInteger();
    }
    throw EConvertError("'" + Excerpt(s) + "' is not a valid integer value");
}

double StrToFloat(std::string_view s) {
    Variant v;
    if (ParseNumberText(s, v)) return v.IsInteger() ? static_cast<double>(v.AsInteger()) : v.AsReal();
    throw EConvertError("'" + Excerpt(s) + "' is not a valid floating point value");
}

std::string FloatToStr(double v) { return FormatRealDisplay(v); }

void CheckTextLength(std::size_t length) {
    if (length > MaxTextLength)
        throw ELimitError("Text result exceeds the maximum length of " +
                          IntToStr(static_cast<std::int64_t>(MaxTextLength)) + " characters.");
}

}  // namespace zorvex

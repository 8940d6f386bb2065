// Text, conversion, number-base, degree and conditional built-ins. Texts are
// byte strings; positions are 1-based.

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "IntrinsicApply.h"
#include "IntrinsicEval.h"
#include "zorvex/ConvertNumberBase.h"
#include "zorvex/Exception.h"
#include "zorvex/SysUtils.h"

namespace zorvex {

namespace {

// Start positions below 1 count from the first character, without
// shortening the count; a count of 0 or less gives the empty text.
std::string CopyText(std::string text, std::int32_t start, std::int32_t count) {
    const std::int64_t size = static_cast<std::int64_t>(text.size());
    const std::int64_t from = start < 1 ? 0 : std::int64_t{start} - 1;
    if (count <= 0 || from >= size) return std::string();
    return text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count));
}

// Outside 1..length, or with a count of 0 or less, nothing is removed.
std::string DeleteText(std::string text, std::int32_t start, std::int32_t count) {
    const std::int64_t size = static_cast<std::int64_t>(text.size());
    if (start < 1 || start > size || count <= 0) return text;
    text.erase(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
    return text;
}

// Positions below 1 insert in front, positions past the end append.
std::string InsertText(std::string substring, std::string text, std::int32_t position) {
    CheckTextLength(text.size() + substring.size());
    std::size_t at = position < 1 ? 0 : static_cast<std::size_t>(position) - 1;
    if (at > text.size()) at = text.size();
    text.insert(at, substring);
    return text;
}

// First occurrence in linear time: a short pattern costs at most its length
// per character with the library's search; a longer one uses Knuth-Morris-
// Pratt, whose cost never depends on how the pattern repeats itself.
std::size_t FindText(std::string_view text, std::string_view pattern) {
    const std::size_t m = pattern.size();
    if (m <= 16) return text.find(pattern);
    std::vector<std::size_t> border(m, 0);
    for (std::size_t i = 1, k = 0; i < m; ++i) {
        while (k > 0 && pattern[i] != pattern[k]) k = border[k - 1];
        if (pattern[i] == pattern[k]) ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != pattern[k]) k = border[k - 1];
        if (text[i] == pattern[k] && ++k == m) return i + 1 - m;
    }
    return std::string_view::npos;
}

// An empty substring is never found.
std::int32_t PosText(std::string substring, std::string text) {
    if (substring.empty()) return 0;
    const std::size_t at = FindText(text, substring);
    return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

std::int32_t LengthText(std::string text) {
    if (text.size() > 2147483647u) throw ERangeError("Range check error");
    return static_cast<std::int32_t>(text.size());
}

// Adapters from the string_view helpers to the by-value parameters Apply
// converts to.
template <std::string (*F)(std::string_view)>
std::string OfText(std::string text) {
    return F(text);
}

std::string QuotedText(std::string text) {
    std::size_t quotes = 0;
    for (char c : text) quotes += c == '\'';
    CheckTextLength(text.size() + quotes + 2);
    return QuotedStr(text);
}

std::string IntText(std::int32_t n) { return IntToStr(n); }
std::int32_t TextInt(std::string text) { return StrToInt(text); }
std::string RealText(double x) { return FloatToStr(x); }
double TextReal(std::string text) { return StrToFloat(text); }

std::string ToBaseText(double x, std::int32_t base) { return FloatToStringBase(x, base); }
double FromBaseText(std::string text, std::int32_t base) {
    return static_cast<double>(StringToFloatBase(text, base));
}

std::string ConvertBaseText(std::string text, std::int32_t fromBase, std::int32_t toBase) {
    if (toBase < 1 || toBase > 36 || fromBase < 1 || fromBase > 36) throw ERangeError("Range check error");
    return ConvertFloatBase(text, fromBase, toBase);
}

std::int64_t TruncTo64(double x) {
    // Bounds are the doubles -2^63 (included) and 2^63 (excluded).
    const double t = std::trunc(x);
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) throw ERangeError("Range check error");
    return static_cast<std::int64_t>(t);
}

std::string DegText(Variant v) {
    const double x = VarToReal(v);
    const std::int64_t degrees = TruncTo64(x);
    const std::int64_t minutes = TruncTo64((x - std::trunc(x)) * 60);
    // Seconds come from v * 60, so a string operand converts again there.
    const double w = VarToReal(VarMul(v, Variant(60)));
    const std::int64_t seconds = TruncTo64((w - std::trunc(w)) * 60);
    return IntToStr(degrees) + "\xB0" + IntToStr(minutes) + "'" + IntToStr(seconds) + "\"";
}

Variant EncodeDegValue(Variant d, Variant m, Variant s) {
    Variant sum = VarAdd(d, VarRDiv(m, Variant(60)));
    return VarAdd(sum, VarRDiv(s, Variant(3600)));
}

}  // namespace

ZORVEX_APPLY_EVAL(Copy, CopyText)
ZORVEX_APPLY_EVAL(DeleteSubstr, DeleteText)
ZORVEX_APPLY_EVAL(Insert, InsertText)
ZORVEX_APPLY_EVAL(Pos, PosText)
ZORVEX_APPLY_EVAL(Length, LengthText)
ZORVEX_APPLY_EVAL(Trim, OfText<Trim>)
ZORVEX_APPLY_EVAL(TrimLeft, OfText<TrimLeft>)
ZORVEX_APPLY_EVAL(TrimRight, OfText<TrimRight>)
ZORVEX_APPLY_EVAL(UpperCase, OfText<UpperCase>)
ZORVEX_APPLY_EVAL(LowerCase, OfText<LowerCase>)
ZORVEX_APPLY_EVAL(QuotedStr, QuotedText)
ZORVEX_APPLY_EVAL(IntToStr, IntText)
ZORVEX_APPLY_EVAL(StrToInt, TextInt)
ZORVEX_APPLY_EVAL(FloatToStr, RealText)
ZORVEX_APPLY_EVAL(StrToFloat, TextReal)
// Base conversions loop over digits: checked like the other long built-ins.
Variant EvalToBase(TMIntrinsicFunctionCall& call) {
    call.CheckInterrupt();
    return intrinsic::Apply<ToBaseText>(call);
}
Variant EvalFromBase(TMIntrinsicFunctionCall& call) {
    call.CheckInterrupt();
    return intrinsic::Apply<FromBaseText>(call);
}
Variant EvalConvertBase(TMIntrinsicFunctionCall& call) {
    call.CheckInterrupt();
    return intrinsic::Apply<ConvertBaseText>(call);
}
ZORVEX_APPLY_EVAL(DegToStr, DegText)
ZORVEX_APPLY_EVAL(EncodeDeg, EncodeDegValue)

Variant EvalStringOfChar(TMIntrinsicFunctionCall& call) {
    const std::string ch = VarToStr(call.Arg(0));
    if (ch.size() != 1)
        throw Exception("TMStringOfChar.GetValue() Invalid length of the first operand on position: " +
                        IntToStr(call.ArgPosition(0)) + ".");
    const std::int32_t count = VarToInt(call.Arg(1));
    if (count <= 0) return Variant(std::string());
    CheckTextLength(static_cast<std::size_t>(count));
    call.CheckInterrupt();
    return Variant(std::string(static_cast<std::size_t>(count), ch[0]));
}

// Only the chosen branch is evaluated, so the other may be undefined there.
Variant EvalIfF(TMIntrinsicFunctionCall& call) {
    const Variant condition = call.Arg(0);
    if (!condition.IsBoolean())
        throw Exception("TMIfF.GetValue() IFF function (position: " + IntToStr(call.ParsePosition) +
                        ") expectc first argument (position: " + IntToStr(call.ArgPosition(0)) +
                        ") to be boolean.");
    return call.Arg(condition.AsBoolean() ? 1 : 2);
}

}  // namespace zorvex

// Text, conversion, number-base, degree and conditional built-ins. Texts are
// byte strings; positions are 1-based.

#include <algorithm>
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

using guard::InPieces;
using guard::kWorkPiece;

// Start positions below 1 count from the first character, without
// shortening the count; a count of 0 or less gives the empty text.
std::string CopyText(std::string_view text, std::int32_t start, std::int32_t count) {
    const std::int64_t size = static_cast<std::int64_t>(text.size());
    const std::int64_t from = start < 1 ? 0 : std::int64_t{start} - 1;
    if (count <= 0 || from >= size) return std::string();
    return guard::CopyText(text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(count)));
}

// Outside 1..length, or with a count of 0 or less, nothing is removed.
std::string DeleteText(std::string_view text, std::int32_t start, std::int32_t count) {
    const std::int64_t size = static_cast<std::int64_t>(text.size());
    if (start < 1 || start > size || count <= 0) return guard::CopyText(text);
    const std::size_t at = static_cast<std::size_t>(start - 1);
    const std::size_t gone = std::min(static_cast<std::size_t>(count), text.size() - at);
    guard::Reserve(text.size() - gone);
    std::string out;
    out.reserve(text.size() - gone);
    guard::AppendText(out, text.substr(0, at));
    guard::AppendText(out, text.substr(at + gone));
    return out;
}

// Positions below 1 insert in front, positions past the end append.
std::string InsertText(std::string_view substring, std::string_view text, std::int32_t position) {
    CheckTextLength(text.size() + substring.size());
    guard::Reserve(text.size() + substring.size());
    std::size_t at = position < 1 ? 0 : static_cast<std::size_t>(position) - 1;
    if (at > text.size()) at = text.size();
    std::string out;
    out.reserve(text.size() + substring.size());
    guard::AppendText(out, text.substr(0, at));
    guard::AppendText(out, substring);
    guard::AppendText(out, text.substr(at));
    return out;
}

// First occurrence in linear time: a short pattern costs at most its length
// per character with the library's search; a longer one uses Knuth-Morris-
// Pratt, whose cost never depends on how the pattern repeats itself. The
// text is searched in pieces (overlapping by the pattern's length), and a
// pattern longer than the text is never looked at, so the search's memory
// is bounded by the text.
std::size_t FindText(std::string_view text, std::string_view pattern) {
    const std::size_t m = pattern.size(), n = text.size();
    if (m > n) return std::string_view::npos;
    if (m <= 16) {
        std::size_t found = std::string_view::npos;
        InPieces(n - m + 1, kWorkPiece, [&](std::size_t from, std::size_t to) {
            const std::size_t at = text.substr(from, to - from + m - 1).find(pattern);
            if (at != std::string_view::npos) found = from + at;
            return at == std::string_view::npos;
        });
        return found;
    }
    // Borders fit 32 bits: no text is longer than the text limit.
    guard::Reserve(m * sizeof(std::uint32_t));
    std::vector<std::uint32_t> border(m, 0);
    constexpr std::size_t kPiece = kWorkPiece / 16;
    InPieces(m - 1, kPiece, [&](std::size_t from, std::size_t to) {
        std::uint32_t k = from == 0 ? 0 : border[from];
        for (std::size_t i = from + 1; i <= to; ++i) {
            while (k > 0 && pattern[i] != pattern[k]) k = border[k - 1];
            if (pattern[i] == pattern[k]) ++k;
            border[i] = k;
        }
    });
    std::size_t k = 0, found = std::string_view::npos;
    InPieces(n, kPiece, [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            while (k > 0 && text[i] != pattern[k]) k = border[k - 1];
            if (text[i] == pattern[k] && ++k == m) {
                found = i + 1 - m;
                return false;
            }
        }
        return true;
    });
    return found;
}

// An empty substring is never found.
std::int32_t PosText(std::string_view substring, std::string_view text) {
    if (substring.empty()) return 0;
    const std::size_t at = FindText(text, substring);
    return at == std::string_view::npos ? 0 : static_cast<std::int32_t>(at + 1);
}

std::int32_t LengthText(std::string_view text) {
    if (text.size() > 2147483647u) throw ERangeError("Range check error");
    return static_cast<std::int32_t>(text.size());
}

std::size_t BlanksAtFront(std::string_view text) { return guard::Span(text, guard::IsBlank); }
std::size_t BlanksAtBack(std::string_view text) { return guard::Span<true>(text, guard::IsBlank); }

std::string TrimText(std::string_view text) {
    const std::size_t front = BlanksAtFront(text);
    if (front == text.size()) return std::string();
    return guard::CopyText(text.substr(front, text.size() - front - BlanksAtBack(text)));
}
std::string TrimLeftText(std::string_view text) { return guard::CopyText(text.substr(BlanksAtFront(text))); }
std::string TrimRightText(std::string_view text) {
    return guard::CopyText(text.substr(0, text.size() - BlanksAtBack(text)));
}

// ASCII letters only, from `from` to `from` + 25 shifted by `by`.
template <char From, int By>
std::string MapLetters(std::string_view text) {
    guard::Reserve(text.size());
    std::string out;
    out.reserve(text.size());
    InPieces(text.size(), kWorkPiece, [&](std::size_t a, std::size_t b) {
        out.append(text.substr(a, b - a));
        for (std::size_t i = a; i < b; ++i)
            if (out[i] >= From && out[i] <= From + 25) out[i] = static_cast<char>(out[i] + By);
    });
    return out;
}
std::string UpperText(std::string_view text) { return MapLetters<'a', 'A' - 'a'>(text); }
std::string LowerText(std::string_view text) { return MapLetters<'A', 'a' - 'A'>(text); }

std::string QuotedText(std::string_view text) {
    std::size_t quotes = 0;
    InPieces(text.size(), kWorkPiece, [&](std::size_t a, std::size_t b) {
        for (std::size_t i = a; i < b; ++i) quotes += text[i] == '\'';
    });
    CheckTextLength(text.size() + quotes + 2);
    guard::Reserve(text.size() + quotes + 2);
    std::string out;
    out.reserve(text.size() + quotes + 2);
    out.push_back('\'');
    InPieces(text.size(), kWorkPiece, [&](std::size_t a, std::size_t b) {
        for (std::size_t i = a; i < b; ++i) {
            out.push_back(text[i]);
            if (text[i] == '\'') out.push_back('\'');
        }
    });
    out.push_back('\'');
    return out;
}

std::string IntText(std::int32_t n) { return IntToStr(n); }
std::int32_t TextInt(std::string_view text) { return StrToInt(text); }
std::string RealText(double x) { return FloatToStr(x); }
double TextReal(std::string_view text) { return StrToFloat(text); }

std::string ToBaseText(double x, std::int32_t base) { return FloatToStringBase(x, base); }
double FromBaseText(std::string_view text, std::int32_t base) {
    return static_cast<double>(StringToFloatBase(text, base));
}

std::string ConvertBaseText(std::string_view text, std::int32_t fromBase, std::int32_t toBase) {
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
ZORVEX_APPLY_EVAL(Trim, TrimText)
ZORVEX_APPLY_EVAL(TrimLeft, TrimLeftText)
ZORVEX_APPLY_EVAL(TrimRight, TrimRightText)
ZORVEX_APPLY_EVAL(UpperCase, UpperText)
ZORVEX_APPLY_EVAL(LowerCase, LowerText)
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
        throw ETypeError("TMStringOfChar.GetValue() Invalid length of the first operand on position: " +
                             IntToStr(call.ArgPosition(0)) + ".",
                         call.ArgPosition(0));
    const std::int32_t count = VarToInt(call.Arg(1));
    if (count <= 0) return Variant(std::string());
    CheckTextLength(static_cast<std::size_t>(count));
    call.CheckInterrupt();
    guard::Reserve(static_cast<std::size_t>(count));
    std::string text;
    text.reserve(static_cast<std::size_t>(count));
    InPieces(static_cast<std::size_t>(count), kWorkPiece,
             [&](std::size_t from, std::size_t to) { text.append(to - from, ch[0]); });
    return Variant(std::move(text));
}

// Only the chosen branch is evaluated, so the other may be undefined there.
Variant EvalIfF(TMIntrinsicFunctionCall& call) {
    const Variant condition = call.Arg(0);
    if (!condition.IsBoolean())
        throw ETypeError("TMIfF.GetValue() IFF function (position: " + IntToStr(call.ParsePosition) +
                             ") expectc first argument (position: " + IntToStr(call.ArgPosition(0)) +
                             ") to be boolean.",
                         call.ParsePosition);
    return call.Arg(condition.AsBoolean() ? 1 : 2);
}

}  // namespace zorvex

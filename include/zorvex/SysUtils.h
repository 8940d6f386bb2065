// Text helpers with the runtime's byte-string conventions: one byte is one
// character; case mapping touches only the ASCII letters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zorvex/Export.h"

namespace zorvex {

// Blanks and control characters (codes <= 32) are trimmed.
ZORVEX_API std::string Trim(std::string_view s);
ZORVEX_API std::string TrimLeft(std::string_view s);
ZORVEX_API std::string TrimRight(std::string_view s);
ZORVEX_API std::string UpperCase(std::string_view s);  // a..z only
ZORVEX_API std::string LowerCase(std::string_view s);  // A..Z only
ZORVEX_API std::string QuotedStr(std::string_view s);  // 'it''s'
ZORVEX_API std::string IntToStr(std::int64_t v);
// "'TEXT' is not a valid integer value" unless integer form within 32 bits.
ZORVEX_API std::int32_t StrToInt(std::string_view s);
// "'TEXT' is not a valid floating point value" unless the numeric text rule accepts it.
ZORVEX_API double StrToFloat(std::string_view s);
ZORVEX_API std::string FloatToStr(double v);  // display form

// Upper limit on the size of texts the runtime builds; larger results raise.
constexpr std::size_t MaxTextLength = 64u * 1024u * 1024u;
ZORVEX_API void CheckTextLength(std::size_t length);

}  // namespace zorvex

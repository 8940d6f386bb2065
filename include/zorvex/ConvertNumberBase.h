// Signed 64-bit integers and extended reals to and from text in bases 2..36.
//
// Digits are 0-9 then a-z (upper case accepted on input); a negative number
// carries a leading '-'; the fraction separator is always '.'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zorvex/Export.h"

namespace zorvex {

// Wider than the 1..36 / 0..35 they hold so that an unchecked caller value
// reaches the checks instead of wrapping silently into a valid-looking base.
using TNumberBase = int;
using TDigit = int;

// Decides when the digits after the point stop: another digit is written only
// while the remaining fraction, scaled to the last digit, exceeds it.
// Read without synchronization; change it only while no conversion runs.
extern ZORVEX_API long double FloatTolerancy;

// 0..35 -> '0'..'9', 'a'..'z'. Other values raise ERangeError.
ZORVEX_API char DigitToChar(TDigit digit);

// '0'..'9', 'a'..'z', 'A'..'Z' -> 0..35; anything else raises
// "CharToDigit() 'Ch' is not valid digit."
ZORVEX_API TDigit CharToDigit(char ch);

// Base 2..36. Base below 2 raises Exception; a digit above 35 (base above 36)
// raises ERangeError; the most negative value raises EIntOverflow.
ZORVEX_API std::string Int64ToStringBase(std::int64_t value, TNumberBase base);

// Blanks around the text are ignored; empty text and "-" give 0.
// Out-of-range values raise EIntOverflow.
ZORVEX_API std::int64_t StringToInt64Base(std::string_view text, TNumberBase base);

ZORVEX_API std::string ConvertInt64Base(std::string_view text, TNumberBase fromBase,
                                        TNumberBase toBase);

// Fraction digits are truncated, never rounded, and stop by FloatTolerancy or
// once base^k no longer fits below (2^63 - 1) div base. Infinities, NaN and
// magnitudes of 2^63 or more raise Exception.
ZORVEX_API std::string FloatToStringBase(long double value, TNumberBase base);

// The fraction is read as one 64-bit integer, so it has at most as many
// digits as that allows in the base.
ZORVEX_API long double StringToFloatBase(std::string_view text, TNumberBase base);

ZORVEX_API std::string ConvertFloatBase(std::string_view text, TNumberBase fromBase,
                                        TNumberBase toBase);

// ch repeated count times; empty for count <= 0.
ZORVEX_API std::string CharStr(char ch, std::int32_t count);

}  // namespace zorvex

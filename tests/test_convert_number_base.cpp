#include "zorvex/ConvertNumberBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "zorvex/Exception.h"

using namespace zorvex;

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
const char* const kInvalidDigit = "CharToDigit() 'Ch' is not valid digit.";

template <typename F>
std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "<no exception>";
}

// Restores the global tolerance so tests do not leak settings into each other.
class FractionTest : public ::testing::Test {
protected:
    void TearDown() override { FloatTolerancy = saved_; }
    long double saved_ = FloatTolerancy;
};

}  // namespace

TEST(DigitTest, AlphabetBothWaysAndCaseInsensitiveInput) {
    EXPECT_EQ(DigitToChar(0), '0');
    EXPECT_EQ(DigitToChar(9), '9');
    EXPECT_EQ(DigitToChar(10), 'a');
    EXPECT_EQ(DigitToChar(35), 'z');
    EXPECT_EQ(CharToDigit('7'), 7);
    EXPECT_EQ(CharToDigit('a'), 10);
    EXPECT_EQ(CharToDigit('Z'), 35);
    EXPECT_THROW(DigitToChar(36), ERangeError);
    EXPECT_THROW(DigitToChar(-1), ERangeError);
    for (char ch : {'-', '.', '+', ' ', ',', '\xB0'})
        EXPECT_EQ(MessageOf([&] { CharToDigit(ch); }), kInvalidDigit) << int(ch);
}

TEST(Int64WriteTest, ValuesAcrossBases) {
    EXPECT_EQ(Int64ToStringBase(0, 2), "0");
    EXPECT_EQ(Int64ToStringBase(0, 36), "0");
    EXPECT_EQ(Int64ToStringBase(-255, 16), "-ff");
    EXPECT_EQ(Int64ToStringBase(10, 2), "1010");
    EXPECT_EQ(Int64ToStringBase(kMax, 16), "7fffffffffffffff");
    EXPECT_EQ(Int64ToStringBase(kMax, 2), std::string(63, '1'));
    EXPECT_EQ(Int64ToStringBase(kMax, 36), "1y2p0ij32e8e7");
    EXPECT_EQ(Int64ToStringBase(kMin + 1, 10), "-9223372036854775807");
}

TEST(Int64WriteTest, RejectsWhatCannotBeWritten) {
    EXPECT_THROW(Int64ToStringBase(kMin, 16), EIntOverflow);
    EXPECT_EQ(MessageOf([] { Int64ToStringBase(5, 1); }),
              "Int64ToStringBase() Base 1 is not valid for writing.");
    EXPECT_EQ(MessageOf([] { Int64ToStringBase(0, 0); }),
              "Int64ToStringBase() Base 0 is not valid for writing.");
    EXPECT_THROW(Int64ToStringBase(5, -2), Exception);
    // Above 36 only a digit that has no character fails.
    EXPECT_EQ(Int64ToStringBase(10, 37), "a");
    EXPECT_THROW(Int64ToStringBase(36, 37), ERangeError);
}

TEST(Int64ReadTest, AcceptedTexts) {
    EXPECT_EQ(StringToInt64Base("FF", 16), 255);
    EXPECT_EQ(StringToInt64Base("ff", 16), 255);
    EXPECT_EQ(StringToInt64Base("fF", 16), 255);
    EXPECT_EQ(StringToInt64Base(" \t-ff \r\n", 16), -255);
    EXPECT_EQ(StringToInt64Base("7fffffffffffffff", 16), kMax);
    EXPECT_EQ(StringToInt64Base("9223372036854775807", 10), kMax);
    EXPECT_EQ(StringToInt64Base("-9223372036854775807", 10), -kMax);
    EXPECT_EQ(StringToInt64Base("", 10), 0);
    EXPECT_EQ(StringToInt64Base("   ", 10), 0);
    EXPECT_EQ(StringToInt64Base("-", 10), 0);
    EXPECT_EQ(StringToInt64Base("000", 1), 0);
}

TEST(Int64ReadTest, BadDigitsNameTheRightmostOffender) {
    for (const char* text : {"--1", "1-", "12.5", "+1", "1 2"})
        EXPECT_EQ(MessageOf([&] { StringToInt64Base(text, 10); }), kInvalidDigit) << text;
    EXPECT_EQ(MessageOf([] { StringToInt64Base("1x", 10); }),
              "StringToInt64Base() Digit 'x' is larger then allowed by base 10.");
    EXPECT_EQ(MessageOf([] { StringToInt64Base("9", 8); }),
              "StringToInt64Base() Digit '9' is larger then allowed by base 8.");
    EXPECT_EQ(MessageOf([] { StringToInt64Base("g1z", 16); }),
              "StringToInt64Base() Digit 'z' is larger then allowed by base 16.");
    EXPECT_EQ(MessageOf([] { StringToInt64Base("1", 1); }),
              "StringToInt64Base() Digit '1' is larger then allowed by base 1.");
    EXPECT_EQ(MessageOf([] { StringToInt64Base("0", 0); }),
              "StringToInt64Base() Digit '0' is larger then allowed by base 0.");
}

TEST(Int64ReadTest, OverflowOfValueOrPlace) {
    EXPECT_THROW(StringToInt64Base("8000000000000000", 16), EIntOverflow);
    EXPECT_THROW(StringToInt64Base("-8000000000000000", 16), EIntOverflow);
    EXPECT_THROW(StringToInt64Base("9223372036854775808", 10), EIntOverflow);
    EXPECT_THROW(StringToInt64Base("09223372036854775807", 10), EIntOverflow);
    EXPECT_THROW(StringToInt64Base(std::string(200, '0'), 2), EIntOverflow);
}

TEST(Int64ReadTest, ConvertBetweenBases) {
    EXPECT_EQ(ConvertInt64Base("ff", 16, 2), "11111111");
    EXPECT_EQ(ConvertInt64Base("-777", 8, 16), "-1ff");
    EXPECT_THROW(ConvertInt64Base("1", 10, 1), Exception);
}

TEST_F(FractionTest, WritesTruncatedDigits) {
    EXPECT_EQ(FloatToStringBase(10.5L, 2), "1010.1");
    EXPECT_EQ(FloatToStringBase(255.75L, 16), "ff.c");
    EXPECT_EQ(FloatToStringBase(0.25L, 10), "0.25");
    EXPECT_EQ(FloatToStringBase(-0.5L, 16), "-0.8");
    EXPECT_EQ(FloatToStringBase(-1.5L, 16), "-1.8");
    EXPECT_EQ(FloatToStringBase(3.0L, 10), "3");
    EXPECT_EQ(FloatToStringBase(0.0L, 10), "0");
    EXPECT_EQ(FloatToStringBase(-0.0L, 10), "0");
    EXPECT_EQ(FloatToStringBase(1e-7L, 10), "0");
    EXPECT_EQ(FloatToStringBase(-1e-7L, 10), "-0");
    EXPECT_EQ(FloatToStringBase(0.5L + std::ldexp(1.0L, -30), 2), "0.1");
    EXPECT_EQ(FloatToStringBase(0.625L, 2), "0.101");
    FloatTolerancy = 0.3L;
    EXPECT_EQ(FloatToStringBase(0.625L, 2), "0.1");
}

TEST_F(FractionTest, DigitCountBoundedPerBase) {
    const std::string third = FloatToStringBase(1.0L / 3.0L, 10);
    EXPECT_LE(third.size(), 2u + 18u) << third;
    EXPECT_EQ(third.substr(0, 12), "0.3333333333");

    // A negative tolerance never stops by itself, so the bound alone decides.
    FloatTolerancy = -1;
    const std::pair<int, std::size_t> bounds[] = {{2, 62}, {3, 39}, {4, 31}, {8, 20}, {10, 18},
                                                  {16, 15}, {20, 14}, {32, 12}, {36, 12}};
    for (auto [base, digits] : bounds) {
        const std::string text = FloatToStringBase(0.5L, base);
        ASSERT_EQ(text.size(), 2 + digits) << base << " " << text;
        // The longest fraction written still reads back (truncated in odd bases).
        EXPECT_NEAR(static_cast<double>(StringToFloatBase(text, base)), 0.5, 1e-12) << base;
    }
}

TEST_F(FractionTest, RejectsWhatCannotBeWritten) {
    const long double inf = std::numeric_limits<long double>::infinity();
    EXPECT_EQ(MessageOf([&] { FloatToStringBase(inf, 10); }),
              "FloatToStringBase() Value is infinite.");
    EXPECT_THROW(FloatToStringBase(-inf, 10), Exception);
    EXPECT_EQ(MessageOf([] { FloatToStringBase(std::nanl(""), 10); }),
              "FloatToStringBase() Value is not a number.");
    EXPECT_EQ(MessageOf([] { FloatToStringBase(0x1p63L, 10); }),
              "FloatToStringBase() Value is out of the 64-bit integer range.");
    EXPECT_THROW(FloatToStringBase(-0x1p63L, 10), Exception);
    EXPECT_EQ(FloatToStringBase(0x1p63L - 1, 16), "7fffffffffffffff");
    EXPECT_EQ(MessageOf([] { FloatToStringBase(0.5L, 1); }),
              "FloatToStringBase() Base 1 is not valid for writing.");
    EXPECT_EQ(MessageOf([] { FloatToStringBase(0.5L, 0); }),
              "FloatToStringBase() Base 0 is not valid for writing.");
    EXPECT_THROW(FloatToStringBase(0.5L, 72), ERangeError);  // digit 36
}

TEST_F(FractionTest, ReadsPointTexts) {
    EXPECT_EQ(StringToFloatBase("ff.c", 16), 255.75L);
    EXPECT_EQ(StringToFloatBase("-1.8", 16), -1.5L);
    EXPECT_EQ(StringToFloatBase("-0.8", 16), -0.5L);
    EXPECT_EQ(StringToFloatBase("-.8", 16), -0.5L);
    EXPECT_EQ(StringToFloatBase(".8", 16), 0.5L);
    EXPECT_EQ(StringToFloatBase("1.", 16), 1.0L);
    EXPECT_EQ(StringToFloatBase(".", 16), 0.0L);
    EXPECT_EQ(StringToFloatBase("", 16), 0.0L);
    EXPECT_EQ(StringToFloatBase("ff", 16), 255.0L);
    // Blanks around the whole text are not fraction places.
    EXPECT_EQ(StringToFloatBase(" 1.8 ", 16), 1.5L);
    EXPECT_EQ(StringToFloatBase("0.000", 1), 0.0L);
}

TEST_F(FractionTest, ReadErrors) {
    for (const char* text : {"1.2.3", "1,5", "1.-5", "1. 5", "1.5 -", "1.-"})
        EXPECT_EQ(MessageOf([&] { StringToFloatBase(text, 10); }), kInvalidDigit) << text;
    EXPECT_EQ(MessageOf([] { StringToFloatBase("1.9", 8); }),
              "StringToInt64Base() Digit '9' is larger then allowed by base 8.");
    // Places past the precision are dropped, but still checked.
    EXPECT_NEAR(static_cast<double>(StringToFloatBase("0." + std::string(20, '1'), 10)), 1.0 / 9, 1e-17);
    EXPECT_EQ(MessageOf([] { StringToFloatBase("0." + std::string(70, '0') + "9", 8); }),
              "StringToInt64Base() Digit '9' is larger then allowed by base 8.");
    EXPECT_THROW(StringToFloatBase("9223372036854775808.5", 10), EIntOverflow);
}

TEST_F(FractionTest, ConvertAndRoundTrip) {
    EXPECT_EQ(ConvertFloatBase("ff.c", 16, 2), "11111111.11");
    EXPECT_EQ(ConvertFloatBase("-1010.1", 2, 10), "-10.5");
    EXPECT_EQ(FloatToStringBase(StringToFloatBase("ff.c", 16), 16), "ff.c");
}

TEST(CharStrTest, RepeatsOrEmpty) {
    EXPECT_EQ(CharStr('x', 3), "xxx");
    EXPECT_EQ(CharStr('x', 0), "");
    EXPECT_EQ(CharStr('x', -1), "");
    EXPECT_THROW(CharStr('x', std::numeric_limits<std::int32_t>::max()), Exception);
}

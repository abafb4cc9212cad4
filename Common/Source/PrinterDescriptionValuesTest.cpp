#include "PrinterDescriptionValues.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "Common/Source/PrinterTestSupport.h"

using namespace PrinterDescription;

namespace {

struct IntCase {
    const char* text;
    bool valid;
    int value;
};

}  // namespace

TEST(PrinterDescriptionValues, IntegerAReadsLike32BitStrtolBase0) {
    const IntCase cases[] = {
        {"0x3B7D", true, 0x3B7D},
        {"15229", true, 15229},
        {"010", true, 8},
        {"12abc", true, 12},
        {"  -7", true, -7},
        {"+5", true, 5},
        {"0x", true, 0},
        {"0xG", true, 0},
        {"", false, 0},
        {"abc", false, 0},
        {"-", false, 0},
        {" ", false, 0},
        {"99999999999", true, std::numeric_limits<int>::max()},
        {"-99999999999", true, std::numeric_limits<int>::min()},
        {"0xFFFFFFFF", true, std::numeric_limits<int>::max()},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(c.text);
        int value = 1234;
        EXPECT_EQ(ParseIntegerA(c.text, value), c.valid);
        EXPECT_EQ(value, c.value);
    }
}

TEST(PrinterDescriptionValues, IntegerBReadsDecimalAndFailsOutOfRange) {
    const IntCase cases[] = {
        {"0x10", true, 0},
        {"42", true, 42},
        {" -3x", true, -3},
        {"010", true, 10},
        {"+7", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"abc", false, 0},
        {"", false, 0},
        {"- 7", false, 0},
        {"+", false, 0},
    };
    for (const IntCase& c : cases) {
        SCOPED_TRACE(c.text);
        int value = 1234;
        EXPECT_EQ(ParseIntegerB(c.text, value), c.valid);
        EXPECT_EQ(value, c.value);
    }
}

TEST(PrinterDescriptionValues, IntegerCIsNeverRejected) {
    EXPECT_EQ(ParseIntegerC("abc"), 0);
    EXPECT_EQ(ParseIntegerC(""), 0);
    EXPECT_EQ(ParseIntegerC("0x10"), 16);
    EXPECT_EQ(ParseIntegerC(" 3 apples"), 3);
}

TEST(PrinterDescriptionValues, FloatFReadsOneNumberInCSyntax) {
    struct FloatCase {
        const char* text;
        bool valid;
        float value;
    };
    const FloatCase cases[] = {
        {"4.5", true, 4.5f}, {"4.5x", true, 4.5f}, {"  8.25", true, 8.25f}, {"-1e2", true, -100.0f},
        {".5", true, 0.5f},  {"8,5", true, 8.0f},  {"0x1p3", true, 8.0f},   {"x", false, 0.0f},
        {"", false, 0.0f},   {" ", false, 0.0f},   {"-", false, 0.0f},
    };
    for (const FloatCase& c : cases) {
        SCOPED_TRACE(c.text);
        float value = 99;
        EXPECT_EQ(ParseFloatF(c.text, value), c.valid);
        EXPECT_EQ(value, c.value);
    }
    float value = 0;
    ASSERT_TRUE(ParseFloatF("1e40", value));
    EXPECT_EQ(value, std::numeric_limits<float>::infinity());
    ASSERT_TRUE(ParseFloatF("-1e40", value));
    EXPECT_EQ(value, -std::numeric_limits<float>::infinity());
}

TEST(PrinterDescriptionValues, FloatFIgnoresACommaDecimalLocale) {
    PrinterTest::CommaDecimalLocale locale;
    if (!locale.Active()) GTEST_SKIP() << "no comma-decimal locale could be made (localedef missing?)";
    // The run-time library now reads "8.5" as 8: the reader must not.
    float scanned = 0;
    ASSERT_EQ(std::sscanf("8.5", "%f", &scanned), 1);
    ASSERT_EQ(scanned, 8.0f) << "the locale in force does not use a decimal comma";

    float value = 0;
    ASSERT_TRUE(ParseFloatF("8.5", value));
    EXPECT_EQ(value, 8.5f);
    ASSERT_TRUE(ParseFloatF("8,5", value));
    EXPECT_EQ(value, 8.0f);
}

#include "Tessary/StrToL.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

using Tessary::StrToD;
using Tessary::StrToL;

namespace {

struct IntCase {
    std::string text;
    int base;
    std::int32_t value;
    std::size_t consumed;
};

TEST(StrToLTest, ReadsLike32BitStrtol) {
    const IntCase cases[] = {
        {"12", 0, 12, 2},
        {" \t\n12 ", 0, 12, 5},
        {"+7", 0, 7, 2},
        {"-7", 0, -7, 2},
        {"0x10", 0, 16, 4},
        {"0X1f", 0, 31, 4},
        {"010", 0, 8, 3},
        {"09", 0, 0, 1},  // octal stops at 9
        {"12abc", 0, 12, 2},
        {"0x", 0, 0, 1},   // the x is not part of the number
        {"0xg", 0, 0, 1},  //
        {"", 0, 0, 0},
        {"   ", 0, 0, 0},
        {"-", 0, 0, 0},
        {"abc", 0, 0, 0},
        {"+-1", 0, 0, 0},
        {"2147483647", 0, INT32_MAX, 10},
        {"2147483648", 0, INT32_MAX, 10},
        {"-2147483648", 0, INT32_MIN, 11},
        {"-2147483649", 0, INT32_MIN, 11},
        {"0xffffffff", 0, INT32_MAX, 10},
        {"99999999999999999999999999", 0, INT32_MAX, 26},
        {"-99999999999999999999999999", 0, INT32_MIN, 27},
        {"ff", 16, 255, 2},
        {"0xff", 16, 255, 4},
        {"101", 2, 5, 3},
        {"zz", 36, 1295, 2},
        {"12", 1, 0, 0},  // no such base
    };
    for (const auto& c : cases) {
        std::size_t consumed = 99;
        EXPECT_EQ(StrToL(c.text, &consumed, c.base), c.value) << '"' << c.text << "\" base " << c.base;
        EXPECT_EQ(consumed, c.consumed) << '"' << c.text << "\" base " << c.base;
    }
}

TEST(StrToLTest, StopsAtTheEndOfTheView) {
    const std::string text = "12345";
    std::size_t consumed = 0;
    EXPECT_EQ(StrToL(std::string_view(text).substr(0, 2), &consumed), 12);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(StrToL(std::string_view("0x", 2)), 0);
}

TEST(StrToDTest, ReadsLikeStrtodInTheCLocale) {
    std::size_t consumed = 0;
    EXPECT_DOUBLE_EQ(StrToD(" 2.5mm", &consumed), 2.5);
    EXPECT_EQ(consumed, 4u);
    EXPECT_DOUBLE_EQ(StrToD("-1e3", &consumed), -1000.0);
    EXPECT_EQ(consumed, 4u);
    EXPECT_DOUBLE_EQ(StrToD("+.5", &consumed), 0.5);
    EXPECT_DOUBLE_EQ(StrToD("3,5", &consumed), 3.0);  // a comma is never a decimal point
    EXPECT_EQ(consumed, 1u);
    EXPECT_TRUE(std::isinf(StrToD("1e999", &consumed)));
    EXPECT_EQ(StrToD("mm", &consumed), 0.0);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(StrToD("", &consumed), 0.0);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(StrToD("+-1", &consumed), 0.0);
    EXPECT_EQ(consumed, 0u);

    // What the quick path leaves to strtod: hexadecimal, out of range.
    EXPECT_DOUBLE_EQ(StrToD("0x1p3", &consumed), 8.0);
    EXPECT_EQ(consumed, 5u);
    EXPECT_DOUBLE_EQ(StrToD(" -0x10", &consumed), -16.0);
    EXPECT_EQ(consumed, 6u);
    EXPECT_EQ(StrToD("1e-400", &consumed), 0.0);
    EXPECT_EQ(consumed, 6u);
    EXPECT_TRUE(std::isinf(StrToD("-infinity", &consumed)));
    EXPECT_EQ(consumed, 9u);
}

}  // namespace

#include "Common/ConfigSupport/DeviceID1284.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace {

using Key = DeviceID1284::Key;

struct ParseCase {
    const char* name;
    std::string id;
    bool parsed;
    std::map<Key, std::string> present;  // every other key must be absent
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Repeat(char c, std::size_t n) {
    return std::string(n, c);
}

class DeviceIdParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(DeviceIdParse, Fields) {
    const ParseCase& c = GetParam();
    DeviceID1284 id;
    EXPECT_EQ(id.Parse(c.id.c_str()), c.parsed);
    EXPECT_EQ(id.IsParsed(), c.parsed);
    for (int k = 0; k < DeviceID1284::KeyCount; ++k) {
        const auto key = static_cast<Key>(k);
        const std::string* value = id.Field(key);
        const auto expected = c.present.find(key);
        if (expected == c.present.end()) {
            EXPECT_EQ(value, nullptr) << DeviceID1284::KeyName(key);
        } else {
            ASSERT_NE(value, nullptr) << DeviceID1284::KeyName(key);
            EXPECT_EQ(*value, expected->second) << DeviceID1284::KeyName(key);
        }
    }
}

using enum DeviceID1284::Key;

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceIdParse,
    ::testing::Values(
        ParseCase{"AllKeys",
                  "MFG:Velmo;MDL:Glimmer 300;CMD:VELMO,JPEG;CLS:PRINTER;DES:Velmo photo printer;VER:3.01;PHD:1;"
                  "CCP:2;PUR:3;TSZ:4x6;CSZ:5;PRB:0;CID:V300;BRC:7;",
                  true,
                  {{MFG, "Velmo"},
                   {MDL, "Glimmer 300"},
                   {CMD, "VELMO,JPEG"},
                   {CLS, "PRINTER"},
                   {DES, "Velmo photo printer"},
                   {VER, "3.01"},
                   {PHD, "1"},
                   {CCP, "2"},
                   {PUR, "3"},
                   {TSZ, "4x6"},
                   {CSZ, "5"},
                   {PRB, "0"},
                   {CID, "V300"},
                   {BRC, "7"}}},
        ParseCase{"BlanksCollapsed", "MFG:Velmo;MDL:  Glimmer   300 ;", true, {{MFG, "Velmo"}, {MDL, "Glimmer 300"}}},
        ParseCase{"OnlyBlanksCount", "MFG:\tA  B\t;MDL:x", true, {{MFG, "\tA B\t"}, {MDL, "x"}}},
        ParseCase{"BlanksOnly", "MFG:   ;MDL:x", true, {{MFG, ""}, {MDL, "x"}}},
        ParseCase{"EmptyManufacturer", "MFG:;MDL:Glimmer;", true, {{MFG, ""}, {MDL, "Glimmer"}}},
        ParseCase{"KeyAtTheVeryEnd", "MDL:Glimmer;MFG:", true, {{MFG, ""}, {MDL, "Glimmer"}}},
        ParseCase{"LastValueWithoutSemicolon", "MFG:Velmo;MDL:Glimmer", true, {{MFG, "Velmo"}, {MDL, "Glimmer"}}},
        ParseCase{"FirstOccurrenceWins",
                  "MFG:Velmo;DES:see MDL:Inner;MDL:Outer;",
                  true,
                  {{MFG, "Velmo"}, {MDL, "Inner"}, {DES, "see MDL:Inner"}}},
        ParseCase{"KeyInsideLongerName", "XMFG:Velmo;MDL:G", true, {{MFG, "Velmo"}, {MDL, "G"}}},
        ParseCase{"ColonsAndCommasKept", "MFG:a:b,c;MDL:d=e;;CMD:;", true, {{MFG, "a:b,c"}, {MDL, "d=e"}, {CMD, ""}}},
        ParseCase{"LongValueCut", "MFG:" + Repeat('a', 300) + ";MDL:m", true, {{MFG, Repeat('a', 255)}, {MDL, "m"}}},
        ParseCase{
            "CutBeforeCollapsing", "MFG:" + Repeat(' ', 250) + "abcdefghij;MDL:m", true, {{MFG, "abcde"}, {MDL, "m"}}},
        ParseCase{"NoManufacturer", "MDL:Glimmer;VER:3.01;", false, {}},
        ParseCase{"NoModel", "MFG:Velmo;VER:3.01;", false, {}},
        ParseCase{"KeysAreCaseSensitive", "mfg:Velmo;MDL:Glimmer;", false, {}},
        ParseCase{"LongKeyNamesNotKnown", "MANUFACTURER:Velmo;MODEL:Glimmer;", false, {}},
        ParseCase{"TruncatedKey", "MDL:Glimmer;MF", false, {}}, ParseCase{"Empty", "", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceIdParse, NullAndReparse) {
    DeviceID1284 id;
    EXPECT_FALSE(id.Parse(nullptr));
    ASSERT_TRUE(id.Parse("MFG:A;MDL:B;VER:2;"));
    // A second parse keeps nothing of the first.
    ASSERT_TRUE(id.Parse("MFG:C;MDL:D;"));
    EXPECT_EQ(id.Field(VER), nullptr);
    EXPECT_EQ(*id.Field(MFG), "C");
    EXPECT_FALSE(id.Parse("MFG:E;"));
    EXPECT_EQ(id.Field(MFG), nullptr);
}

TEST(DeviceIdExtract, NullsAndMissingKeys) {
    std::optional<std::string> out;
    EXPECT_FALSE(DeviceID1284::ExtractField(nullptr, "MFG:", out));
    EXPECT_FALSE(DeviceID1284::ExtractField("MFG:a", nullptr, out));
    EXPECT_FALSE(DeviceID1284::ExtractField("MFG:a", "", out));
    EXPECT_FALSE(DeviceID1284::ExtractField("MFG:a", "MDL:", out));
    EXPECT_FALSE(out.has_value());
    EXPECT_TRUE(DeviceID1284::ExtractField("MFG:a", "MFG:", out));
    EXPECT_EQ(out, "a");
}

// ---- Copying out ----

TEST(DeviceIdGetters, BufferSizeIsChecked) {
    DeviceID1284 id;
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(id.GetModel(buffer, sizeof buffer)) << "not parsed";

    ASSERT_TRUE(id.Parse("MFG:Velmo;MDL:ABCDE;"));
    EXPECT_FALSE(id.GetModel(buffer, 5)) << "the terminating zero needs a sixth byte";
    EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxxxxxx") << "buffer touched on failure";
    EXPECT_TRUE(id.GetModel(buffer, 6));
    EXPECT_STREQ(buffer, "ABCDE");
    EXPECT_TRUE(id.GetManufacturer(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "Velmo");
    EXPECT_FALSE(id.GetVersion(buffer, sizeof buffer)) << "no VER";
    EXPECT_FALSE(id.GetManufacturer(nullptr, 100));

    ASSERT_TRUE(id.Parse("MFG:;MDL:x;VER:3.01"));
    EXPECT_FALSE(id.GetManufacturer(buffer, 0));
    EXPECT_TRUE(id.GetManufacturer(buffer, 1));
    EXPECT_STREQ(buffer, "");
    EXPECT_TRUE(id.GetVersion(buffer, 5));
    EXPECT_STREQ(buffer, "3.01");
}

}  // namespace

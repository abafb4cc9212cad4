#include "Common/ConfigSupport/PluginMapping.h"

#include <gtest/gtest.h>

#include <string>

#include "Common/ConfigSupport/ReaderTestSupport.h"

namespace {

using TestSupport::ParseWatched;
using TestSupport::ScratchFolder;
using TestSupport::StateFailure;

std::map<PluginKey, std::string> Names(const PluginMap& plugins) {
    std::map<PluginKey, std::string> names;
    for (const auto& [key, data] : plugins) names[key] = data.name;
    return names;
}

const char* const kDocument = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<velmo_pd_config>
  <printer vid="0x3B7D" pid="0x0001"><plugin><name>Dessmar</name></plugin></printer>
  <printer vid="15229" pid="2" model="ignored"><plugin><version>1</version><name>Corrani</name></plugin></printer>
  <printer vid="0x3B7D" pid="03 (octal)"/>
  <plugin><printer vid="1" pid="4"><name>Nested</name></printer></plugin>
  <group><printer vid="1" pid="5"><plugin><name>Skipped</name></plugin></printer></group>
  <printer vid="1" pid="6"/>
  <name>Late</name>
</velmo_pd_config>
)xml";

TEST(PluginMapping, EveryElementRead) {
    ScratchFolder folder("pluginmapping");
    PluginMap plugins;
    plugins[{9, 9}].name = "stale";
    ASSERT_TRUE(LoadPluginMapping(Tessary::I8NString(folder.Write("WinPluginMapping.xml", kDocument)), plugins));
    EXPECT_EQ(Names(plugins), (std::map<PluginKey, std::string>{{{0x3B7D, 1}, "Dessmar"},
                                                                {{0x3B7D, 2}, "Corrani"},
                                                                {{0x3B7D, 3}, ""},
                                                                {{1, 4}, "Nested"},
                                                                {{1, 6}, "Late"}}));
}

TEST(PluginMapping, UnreadableFiles) {
    ScratchFolder folder("pluginmapping-bad");
    PluginMap plugins;
    EXPECT_FALSE(LoadPluginMapping(Tessary::I8NString(folder.Path() + "/missing.xml"), plugins));
    EXPECT_FALSE(LoadPluginMapping(Tessary::I8NString(folder.Write("cut.xml", "<velmo_pd_config><printer")), plugins));
    // Another root is not an error; it just maps nothing.
    EXPECT_TRUE(LoadPluginMapping(
        Tessary::I8NString(folder.Write("other.xml", R"(<config><printer vid="1" pid="1"/></config>)")), plugins));
    EXPECT_TRUE(plugins.empty());
}

struct BrokenCase {
    const char* name;
    std::string body;  // inside <velmo_pd_config>
    std::string message;
    std::map<PluginKey, std::string> kept;
};

void PrintTo(const BrokenCase& c, std::ostream* os) {
    *os << c.name;
}

class PluginMappingBroken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(PluginMappingBroken, Rejected) {
    const BrokenCase& c = GetParam();
    PluginMap plugins;
    PDConfigDocState document(plugins);
    StateFailure failure;
    EXPECT_FALSE(ParseWatched("<velmo_pd_config>" + c.body + "</velmo_pd_config>", document, failure));
    EXPECT_EQ(failure.message, c.message);
    EXPECT_TRUE(failure.parserException);
    EXPECT_EQ(Names(plugins), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PluginMappingBroken,
    ::testing::Values(
        BrokenCase{"NoPid",
                   R"(<printer vid="1" pid="1"><name>A</name></printer><printer vid="1"/>)",
                   "Missing attribute on <printer> element!",
                   {{{1, 1}, "A"}}},
        BrokenCase{"VidWithoutDigits", R"(<printer vid="x1" pid="1"/>)", "Invalid attribute on <printer> element!", {}},
        // Decimal 16655 is 0x410F: the same pair written two ways.
        BrokenCase{"SamePairTwice",
                   R"(<printer vid="0x3B7D" pid="0x410F"><name>Dessmar</name></printer>)"
                   R"(<printer vid="0x3B7D" pid="16655"/>)",
                   "Failed to add entry for <printer> element (0x3B7D/16655!",
                   {{{0x3B7D, 0x410F}, "Dessmar"}}},
        BrokenCase{"NameBeforeAnyPrinter",
                   R"(<plugin><name>Dessmar</name></plugin><printer vid="1" pid="1"/>)",
                   "Unexpected state in <name> element",
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// What the plug-in's pages show and store, worked out without a window.
#include <gtest/gtest.h>

#include <map>

#include "ColourChoices.h"
#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "PluginTestSupport.h"
#include "StatusPage.h"

namespace {

using namespace Gorlith;
using namespace Gorlith::StatusControl;

StringSource Strings(std::map<unsigned, std::u16string> table) {
    return [table = std::move(table)](unsigned id) -> std::optional<std::u16string> {
        const auto found = table.find(id);
        if (found == table.end()) return std::nullopt;
        return found->second;
    };
}

StringSource PageStrings() {
    return Strings({{20, u"Unknown"},
                    {21, u"%d of %d prints left"},
                    {26, u"No paper"},
                    {27, u"No ribbon"},
                    {28, u"Plug-in %s"},
                    {502, u"None"},
                    {3001, u"Photo 4x6"}});
}

// A model with `tables` tables named lut0.., each with a module on its head.
PrinterConfig Model(int tables) {
    PrinterConfig model;
    model.defaultHead = "h1";
    HeadDefinition head("h1");
    for (int i = 0; i < tables; ++i) {
        const std::string key = "lut" + std::to_string(i);
        model.lutNames[key] = 700 + i;
        head.luts.push_back({key, "gda_" + key, -1, -1});
    }
    model.heads["h1"] = head;
    model.papers.insert({1, "4x6", 3001, {}});
    model.paperIdsByReportedSize.emplace("4x6", 1);
    return model;
}

StringSource TableStrings(int tables, std::u16string_view prefix = u"Table ") {
    std::map<unsigned, std::u16string> table{{502, u"None"}};
    for (int i = 0; i < tables; ++i) table[700 + i] = std::u16string(prefix) + char16_t(u'0' + i);
    return Strings(std::move(table));
}

constexpr const char* kDock = "MFG:Velmo;MDL:Glimmer Dock;";

TEST(StatusPage, MediaLineFromCapacityCodeAndRemainingCount) {
    const auto page = ComputeStatusPage(std::string(kDock) + "CCP:2;PUR:7;", nullptr, PageStrings(), false, u"1.2.0.3");
    EXPECT_TRUE(page.ready);
    EXPECT_EQ(page.texts.at(kMediaText), u"7 of 10 prints left");
    EXPECT_EQ(page.barRange, 10);
    EXPECT_EQ(page.barPosition, 7);
    EXPECT_EQ(page.texts.at(kPluginVersion), u"Plug-in 1.2.0.3");
    EXPECT_EQ(page.texts.at(kPaperText), u"No paper");

    const int codes[] = {0, 40, 10, 20, 5, 25, 50, 75, 100, 0};
    for (int code = 0; code <= 9; ++code) EXPECT_EQ(MediaCapacity(code), codes[code]) << code;
}

TEST(StatusPage, UnknownCountShowsNoMediaOnlyWhenSheetsReadZero) {
    const std::string id = std::string(kDock) + "CCP:2;PUR:99;";
    for (const auto& [extra, want] : {std::pair{"CSZ:0;", u"No ribbon"}, {"CSZ:3;", u"Unknown"}, {"", u"Unknown"}}) {
        const auto page = ComputeStatusPage(id + extra, nullptr, PageStrings(), false, std::nullopt);
        EXPECT_EQ(page.texts.at(kMediaText), want) << extra;
        EXPECT_FALSE(page.barRange);
        EXPECT_FALSE(page.texts.contains(kPluginVersion));
    }
    // An unknown capacity code counts as no count too.
    EXPECT_EQ(ComputeStatusPage(std::string(kDock) + "CCP:12;PUR:3;CSZ:0;", nullptr, PageStrings(), false, {})
                  .texts.at(kMediaText),
              u"No ribbon");
}

TEST(StatusPage, WithoutDeviceIdTheSixItemsAreHidden) {
    const std::set<int> six{650, 651, 652, 655, 656, 660};
    const auto unread = ComputeStatusPage(std::nullopt, nullptr, PageStrings(), true, {});
    EXPECT_EQ(unread.hidden, six);
    EXPECT_FALSE(unread.ready);
    const auto bare = ComputeStatusPage(std::string(kDock) + "VER:1.0;", nullptr, PageStrings(), true, {});
    EXPECT_EQ(bare.hidden, six);
    // An id that does not parse leaves the page as its template has it.
    const auto garbled = ComputeStatusPage(std::string("CCP:2;PUR:7;"), nullptr, PageStrings(), true, {});
    EXPECT_TRUE(garbled.hidden.empty());
    EXPECT_TRUE(garbled.texts.empty());
}

TEST(StatusPage, FirmwareVersionOnlyInThePrinterSheet) {
    const std::string id = std::string(kDock) + "CCP:8;PUR:60;VER:3.10;";
    const auto printer = ComputeStatusPage(id, nullptr, PageStrings(), true, {});
    EXPECT_EQ(printer.texts.at(kFirmwareVersion), u"3.10");
    EXPECT_EQ(printer.shown, (std::set<int>{kFirmwareCaption, kFirmwareVersion}));
    const auto document = ComputeStatusPage(id, nullptr, PageStrings(), false, {});
    EXPECT_FALSE(document.texts.contains(kFirmwareVersion));
    EXPECT_TRUE(document.hidden.contains(kFirmwareVersion));
    EXPECT_TRUE(document.hidden.contains(kFirmwareCaption));
}

TEST(StatusPage, PaperNameFromTheModelsReportedSizes) {
    const PrinterConfig model = Model(1);
    const auto known = ComputeStatusPage(std::string(kDock) + "TSZ:4x6;", &model, PageStrings(), false, {});
    EXPECT_EQ(known.texts.at(kPaperText), u"Photo 4x6");
    const auto unknown = ComputeStatusPage(std::string(kDock) + "TSZ:5x7;", &model, PageStrings(), false, {});
    EXPECT_EQ(unknown.texts.at(kPaperText), u"Unknown");
    const auto unidentified = ComputeStatusPage(std::string(kDock) + "TSZ:4x6;", nullptr, PageStrings(), false, {});
    EXPECT_EQ(unidentified.texts.at(kPaperText), u"Unknown");
}

TEST(FormatResource, PlaceholdersBeyondTheArgumentsStayEmpty) {
    EXPECT_EQ(FormatResource(u"%d of %d", {u"7", u"10"}), u"7 of 10");
    EXPECT_EQ(FormatResource(u"%s %s %n %s%%", {u"a"}), u"a   %");
    EXPECT_EQ(FormatResource(u"%5.2ls|%", {u"x"}), u"x|");
    // A resource text with too many conversions shows what it can.
    const auto page = ComputeStatusPage(std::string(kDock) + "CCP:2;PUR:7;", nullptr,
                                        Strings({{21, u"%d/%d (%s %s %s)"}}), false, {});
    EXPECT_EQ(page.texts.at(kMediaText), u"7/10 (  )");
}

TEST(ChoiceList, OneRecordPerTablePlusNone) {
    const PrinterConfig four = Model(4);
    const ChoiceList list = BuildChoiceList(&four, kDock, TableStrings(4));
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(std::u16string(list[1].label), u"Table 1");
    EXPECT_STREQ(list[1].lutRef, "lut1");
    EXPECT_EQ(std::u16string(list[4].label), u"None");
    EXPECT_STREQ(list[4].lutRef, "");

    const PrinterConfig seven = Model(7);
    EXPECT_EQ(BuildChoiceList(&seven, kDock, TableStrings(7)).size(), 8u);

    // No list without an id, a model, tables or the id's head.
    EXPECT_TRUE(BuildChoiceList(&four, "CMD:x;", TableStrings(4)).empty());
    EXPECT_TRUE(BuildChoiceList(nullptr, kDock, TableStrings(4)).empty());
    const PrinterConfig none = Model(0);
    EXPECT_TRUE(BuildChoiceList(&none, kDock, TableStrings(0)).empty());
    EXPECT_TRUE(BuildChoiceList(&four, "MFG:Velmo;MDL:Glimmer Dock;PHD:h9;", TableStrings(4)).empty());
    // A table whose module the head lacks is offered without a reference.
    PrinterConfig missing = Model(2);
    missing.heads["h1"].luts.pop_back();
    EXPECT_STREQ(BuildChoiceList(&missing, kDock, TableStrings(2))[1].lutRef, "");
}

TEST(ChoiceList, LongLabelsAreCutTo63Units) {
    const PrinterConfig model = Model(1);
    const ChoiceList list = BuildChoiceList(&model, kDock, TableStrings(1, std::u16string(70, u'x')));
    EXPECT_EQ(std::u16string(list[0].label), std::u16string(63, u'x'));
}

TEST(ChoiceList, DocumentChoiceGoesIntoThePrivateBlock) {
    const PrinterConfig model = Model(4);
    const ChoiceList list = BuildChoiceList(&model, kDock, TableStrings(4));
    PrivateDevMode block;
    ApplyToBlock(block, list, 2);
    EXPECT_EQ(block.ccIndex, 2);
    EXPECT_STREQ(block.ccFilter, "ORVDynCC.dll");
    EXPECT_STREQ(block.ccFilterData, "lut2");
    // The fifth of five clears the filter.
    ApplyToBlock(block, list, 4);
    EXPECT_EQ(block.ccIndex, 4);
    EXPECT_STREQ(block.ccFilter, "");
    EXPECT_STREQ(block.ccFilterData, "");
    // A developer file stands in for the reference; no list stores nothing.
    ApplyToBlock(block, list, 1, "mine.tli");
    EXPECT_STREQ(block.ccFilterData, "mine.tli");
    ApplyToBlock(block, {}, 3);
    EXPECT_EQ(block.ccIndex, 1);
}

class QueueChoice : public PluginTest::MachineFixture {};

TEST_F(QueueChoice, PrinterChoiceWritesIndexFilterAndBareReference) {
    SetDeviceId(PluginTest::kDockId);
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW administer{nullptr, nullptr, PRINTER_ACCESS_ADMINISTER};
    ASSERT_TRUE(OpenPrinterW(PluginTest::kQueue, &handle, &administer));
    RodizuzUzezProperties queue(handle);
    ASSERT_EQ(ApplyToQueue(queue, 1, [&] { return BuildChoiceList(queue, TableStrings(9)); }), 0);
    int index = -1;
    EXPECT_EQ(queue.GetCCIndex(&index), 0);
    EXPECT_EQ(index, 1);
    // Tables in key order: mono, natural, vivid. Stored, not defaulted.
    const auto stored = [this](const char16_t* name) {
        return Spooler().GetPrinterData(PluginTest::kQueue, Platform::kPrinterDriverDataKey, name);
    };
    ASSERT_TRUE(stored(u"CC_FILTER"));
    EXPECT_EQ(stored(u"CC_FILTER")->data, PluginTest::Text(u"ORVDynCC.dll").data);
    ASSERT_TRUE(stored(u"CC_FILTER_DATA"));
    EXPECT_EQ(stored(u"CC_FILTER_DATA")->data, PluginTest::Text(u"natural").data);
    ClosePrinter(handle);
}

TEST_F(QueueChoice, FailedIndexWriteWritesNothingElse) {
    SetDeviceId(PluginTest::kDockId);
    HANDLE readOnly = nullptr;
    PRINTER_DEFAULTSW use{nullptr, nullptr, PRINTER_ACCESS_USE};
    ASSERT_TRUE(OpenPrinterW(PluginTest::kQueue, &readOnly, &use));
    RodizuzUzezProperties queue(readOnly);
    bool listed = false;
    EXPECT_NE(ApplyToQueue(queue, 1,
                           [&] {
                               listed = true;
                               return ChoiceList(3);
                           }),
              0);
    EXPECT_FALSE(listed);
    ClosePrinter(readOnly);
    for (const char16_t* name : {u"CC_INDEX", u"CC_FILTER", u"CC_FILTER_DATA"})
        EXPECT_FALSE(Spooler().GetPrinterData(PluginTest::kQueue, Platform::kPrinterDriverDataKey, name));
}

}  // namespace

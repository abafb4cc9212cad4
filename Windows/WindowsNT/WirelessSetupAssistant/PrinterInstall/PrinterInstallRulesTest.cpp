#include "PrinterInstallRules.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace PortMonitorUtilities {
namespace {

TEST(UniquePrinterName, AssistantCountsUpPastNamesTakenInAnyCase) {
    EXPECT_EQ(UniquePrinterName(u"Base", {u"Base", u"base (copy 1)"}, CopyPattern::Assistant), u"Base (Copy 2)");
    EXPECT_EQ(UniquePrinterName(u"Base", {u"Other"}, CopyPattern::Assistant), u"Base");
    EXPECT_EQ(UniquePrinterName(u"Base", {u"BASE"}, CopyPattern::Assistant), u"Base (Copy 1)");
}

TEST(UniquePrinterName, LibraryTakesTheFirstFreeNumberInAnyOrder) {
    std::vector<std::u16string> names = {u"P", u"P (copy 1)", u"P (copy 3)"};
    std::sort(names.begin(), names.end());
    do {
        EXPECT_EQ(UniquePrinterName(u"P", names, CopyPattern::Library), u"P (copy 2)");
    } while (std::next_permutation(names.begin(), names.end()));
    EXPECT_EQ(UniquePrinterName(u"P", {u"P (copy 1)"}, CopyPattern::Library), u"P");
}

TEST(PortRecordTexts, HostLosesOnlyTheLastLocalDomain) {
    EXPECT_EQ(HostWithoutLocalDomain(u"dock.local."), u"dock");
    EXPECT_EQ(HostWithoutLocalDomain(u"a.local.b.local."), u"a.local.b");
    EXPECT_EQ(HostWithoutLocalDomain(u"dock.example"), u"dock.example");
}

TEST(PortRecordTexts, NetworkPrinterIsRefusedRatherThanCut) {
    const auto record = NetworkPortRecord(0x3B7D, 0x4104, u"4f1c", u"dock.local.", 1234);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->deviceName, u"{4f1c}");
    EXPECT_EQ(record->address, u"ptp://dock:1234");

    EXPECT_TRUE(NetworkPortRecord(1, 2, std::u16string(61, u'g'), u"h", 1).has_value());
    EXPECT_FALSE(NetworkPortRecord(1, 2, std::u16string(62, u'g'), u"h", 1).has_value());
    EXPECT_TRUE(NetworkPortRecord(1, 2, u"g", std::u16string(115, u'h'), 65535).has_value());
    EXPECT_FALSE(NetworkPortRecord(1, 2, u"g", std::u16string(116, u'h'), 65535).has_value());
    EXPECT_FALSE(NetworkPortRecord(1, 2, u"g", u".local.", 1).has_value());
    EXPECT_FALSE(NetworkPortRecord(0, 2, u"g", u"h", 1).has_value());
    EXPECT_FALSE(NetworkPortRecord(1, 2, u"", u"h", 1).has_value());
}

TEST(PortRecordTexts, SerialIsCutSoBracesAndTerminatorFit) {
    EXPECT_NO_THROW(UsbPortRecord(1, 2, std::u16string(128, u's')).Encode());
    const std::u16string serial(128, u's');
    const std::u16string name = BracedSerial(serial, 64);
    EXPECT_EQ(name.size(), 63u);
    EXPECT_EQ(name.front(), u'{');
    EXPECT_EQ(name.back(), u'}');
    EXPECT_EQ(BracedSerial(u"A1", 64), u"{A1}");
}

TEST(XcvOutput, OddSizesGrowTheBufferWithRoomForATerminator) {
    EXPECT_EQ(XcvOutputUnits(0), 1u);
    EXPECT_EQ(XcvOutputUnits(7), 5u);
    EXPECT_EQ(XcvOutputUnits(8), 5u);
    // Each growth covers the bytes asked, so an honest monitor is satisfied.
    for (std::uint32_t asked = 0; asked < 64; ++asked) {
        EXPECT_GE(XcvOutputUnits(asked) * 2, asked + 2);
    }
}

TEST(ColourProfiles, ExtensionIsTakenAfterTheLastDot) {
    EXPECT_TRUE(IsColourProfile(u"glimmer.ICM"));
    EXPECT_TRUE(IsColourProfile(u"glimmer.v2.icm"));
    EXPECT_FALSE(IsColourProfile(u"glimmer.icm.bak"));
    EXPECT_FALSE(IsColourProfile(u"icm"));
    EXPECT_EQ(LastPathComponent(u"C:\\Windows\\color\\a.icm"), u"a.icm");
    EXPECT_EQ(LastPathComponent(u"a.icm"), u"a.icm");
}

TEST(Identity, UnknownProductTakesTheFirstModel) {
    EXPECT_EQ(ModelNameFor(0x410A), kModels[1].name);
    EXPECT_EQ(ModelNameFor(0x1234), kModels[0].name);
}

}  // namespace
}  // namespace PortMonitorUtilities

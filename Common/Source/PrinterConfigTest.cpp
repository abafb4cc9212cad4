#include "PrinterConfig.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Tessary/TSException.h"

namespace {

// The message of the foundation exception the call throws, after checking
// that lookups name no source position.
template <class Call>
std::string LookupFailure(Call call) {
    try {
        call();
    } catch (const Tessary::TSException& e) {
        EXPECT_EQ(e.File(), "");
        EXPECT_EQ(e.Line(), 0);
        return e.what();
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

HeadDefinition HeadWithModules() {
    HeadDefinition head("H");
    head.luts = {{"natural", "first", -1, -1},
                 {"sticker", "donor3", 3, 7},
                 {"natural", "second", -1, -1},
                 {"vivid", "anyDonor", -1, 2}};
    return head;
}

}  // namespace

TEST(PrinterConfig, DefaultsOfAnEmptyRecord) {
    const PrinterConfig record;
    EXPECT_EQ(record.vendorId, -1);
    EXPECT_EQ(record.productId, -1);

    const PrinterConfig withIds(0x3B7Du, 0xFFFFFFFFu);
    EXPECT_EQ(withIds.vendorId, 0x3B7D);
    EXPECT_EQ(withIds.productId, -1);  // unsigned ids keep their bits
    for (const PrinterConfig* r : {&record, &withIds}) {
        EXPECT_EQ(r->productName, "Unknown");
        EXPECT_EQ(r->longName, "Unknown");
        EXPECT_EQ(r->shortName, "Unknown");
        EXPECT_EQ(r->productNameResourceId, -1);
        EXPECT_EQ(r->longNameResourceId, -1);
        EXPECT_EQ(r->shortNameResourceId, -1);
        EXPECT_EQ(r->mediaRemainingSupported, -1);
        EXPECT_EQ(r->dragAndDropSupported, -1);
        EXPECT_EQ(r->firmwareCrcVerifySupported, -1);
        EXPECT_EQ(r->rotate, 0);
        EXPECT_FALSE(r->stripVersionBytes);
        EXPECT_TRUE(r->requiresReboot);
        EXPECT_TRUE(r->icon.empty() && r->defaultLut.empty() && r->defaultHead.empty());
        EXPECT_TRUE(r->lutNames.empty() && r->heads.empty() && r->papers.empty());
        EXPECT_TRUE(r->donorMediaMappings.empty() && r->mediaCapacities.empty());
        EXPECT_TRUE(r->paperIdsByReportedSize.empty() && r->sendToPrinterAs.empty());
        EXPECT_TRUE(r->connections.empty() && r->customProperties.empty());
    }
}

TEST(PrinterConfig, GetLutMatchesReferenceDonorAndMediaExactly) {
    const HeadDefinition head = HeadWithModules();
    // The first of two equal modules wins.
    EXPECT_EQ(head.GetLut("natural").name, "first");
    EXPECT_EQ(head.GetLut("natural", -1, -1).name, "first");
    // A module tied to a donor is found only with its donor and media.
    EXPECT_EQ(head.GetLut("sticker", 3, 7).name, "donor3");
    EXPECT_EQ(LookupFailure([&] { head.GetLut("sticker"); }), "Can't find LUT: sticker/-1:-1");
    EXPECT_EQ(LookupFailure([&] { head.GetLut("sticker", 3, -1); }), "Can't find LUT: sticker/3:-1");
    EXPECT_EQ(LookupFailure([&] { head.GetLut("vivid", 0, 2); }), "Can't find LUT: vivid/0:2");
    EXPECT_EQ(head.GetLut("vivid", -1, 2).name, "anyDonor");
    EXPECT_EQ(LookupFailure([&] { HeadDefinition().GetLut(""); }), "Can't find LUT: /-1:-1");
}

TEST(PrinterConfig, HeadLookups) {
    PrinterConfig record;
    record.heads["A"] = HeadDefinition("A");
    record.heads["B"] = HeadWithModules();
    record.defaultHead = "B";
    EXPECT_EQ(record.GetHead("A").id, "A");
    EXPECT_EQ(record.GetDefaultHead().luts.size(), 4u);
    EXPECT_EQ(LookupFailure([&] { record.GetHead("a"); }), "Can't find head: a");

    record.defaultHead = "C";
    EXPECT_EQ(LookupFailure([&] { record.GetDefaultHead(); }), "Can't find default head");
    record.heads.clear();
    record.defaultHead.clear();
    EXPECT_EQ(LookupFailure([&] { record.GetDefaultHead(); }), "Can't find default head");
}

TEST(PrinterConfig, CopiesShareConnectionsThatOutliveTheSource) {
    auto source = std::make_unique<PrinterConfig>(0x3B7Du, 1u);
    source->connections.push_back(boost::shared_ptr<ConnectionType>(new USBConnection(OUTPUT_FORMAT_JPEG)));
    source->connections.push_back(boost::shared_ptr<ConnectionType>(
        new NetworkConnection(OUTPUT_FORMAT_CMY_CMD_PLANAR, DISCOVERY_PROTOCOL_UDP_MW)));
    const PrinterConfig copy(*source);
    EXPECT_EQ(copy.connections[0].get(), source->connections[0].get());
    source.reset();

    const PrinterConfig::Connections connections = copy.GetConnections();
    ASSERT_EQ(connections.size(), 2u);
    std::ostringstream text;
    connections[0]->Print(text) << "|";
    connections[1]->Print(text);
    EXPECT_EQ(text.str(),
              "USBConnection: { outputFormat = 2 }|NetworkConnection: { outputFormat = 1, discoveryProtocol = 2 }");
    EXPECT_EQ(connections[0]->kind, ConnectionType::kUsb);
    EXPECT_EQ(connections[1]->kind, ConnectionType::kNetwork);
}

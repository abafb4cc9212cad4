#include "Common/ConfigSupport/PrinterIDs.h"

#include <gtest/gtest.h>

#include <string>

#include "Common/ConfigSupport/ReaderTestSupport.h"

namespace {

using TestSupport::ParseWatched;
using TestSupport::ScratchFolder;
using TestSupport::StateFailure;

const char* const kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<ids>
  <vendor-ids>
    <vendor id="0x3B7D"><name>Velmo</name><name>VELMO</name></vendor>
    <vendor id="15229"><comment>ignored</comment><name>Velmo Imaging</name></vendor>
    <product id="9"><name>Misplaced</name></product>
  </vendor-ids>
  <product-ids>
    <product id="0x0001"><name>Glimmer 300</name></product>
    <product id="010"><name>Octal</name></product>
    <product id=" 7 models"><name>Trailing text</name></product>
    <product id="-2"><name>Negative</name></product>
    <product id="0x7FFFFFFFF"><name>Saturated</name></product>
    <product id="3"/>
  </product-ids>
  <vendor-ids><vendor id="4"><name>Second group</name></vendor></vendor-ids>
  <other><vendor id="5"><name>Never</name></vendor></other>
</ids>
)";

TEST(PrinterIDs, EveryElementRead) {
    ScratchFolder folder("printerids");
    PrinterIDMap manufacturers{{"stale", 1}};
    PrinterIDMap models{{"stale", 1}};
    ASSERT_TRUE(LoadPrinterIDs(Tessary::I8NString(folder.Write("ORVIDs.xml", kDocument)), manufacturers, models));
    EXPECT_EQ(manufacturers,
              (PrinterIDMap{{"Velmo", 0x3B7D}, {"VELMO", 0x3B7D}, {"Velmo Imaging", 15229}, {"Second group", 4}}));
    EXPECT_EQ(
        models,
        (PrinterIDMap{
            {"Glimmer 300", 1}, {"Octal", 8}, {"Trailing text", 7}, {"Negative", -2}, {"Saturated", 0x7FFFFFFF}}));
}

TEST(PrinterIDs, OtherRootReadsNothing) {
    PrinterIDMap manufacturers, models;
    PrinterIDsDocumentState document(manufacturers, models);
    StateFailure failure;
    EXPECT_TRUE(ParseWatched(R"(<vendor-ids><vendor id="1"><name>A</name></vendor></vendor-ids>)", document, failure));
    EXPECT_TRUE(manufacturers.empty());
}

TEST(PrinterIDs, UnreadableFiles) {
    ScratchFolder folder("printerids-bad");
    PrinterIDMap manufacturers, models;
    EXPECT_FALSE(LoadPrinterIDs(Tessary::I8NString(folder.Path() + "/missing.xml"), manufacturers, models));
    EXPECT_FALSE(LoadPrinterIDs(Tessary::I8NString(folder.Write("cut.xml", "<ids><vendor-ids><vendor id=\"1\">")),
                                manufacturers, models));
    EXPECT_FALSE(LoadPrinterIDs(Tessary::I8NString(folder.Write("empty.xml", "")), manufacturers, models));
}

struct BrokenCase {
    const char* name;
    std::string body;  // inside <ids>
    std::string message;
    PrinterIDMap manufacturersKept;
    PrinterIDMap modelsKept;
};

void PrintTo(const BrokenCase& c, std::ostream* os) {
    *os << c.name;
}

class PrinterIDsBroken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(PrinterIDsBroken, Rejected) {
    const BrokenCase& c = GetParam();
    PrinterIDMap manufacturers, models;
    PrinterIDsDocumentState document(manufacturers, models);
    StateFailure failure;
    EXPECT_FALSE(ParseWatched("<ids>" + c.body + "</ids>", document, failure));
    EXPECT_EQ(failure.message, c.message);
    EXPECT_TRUE(failure.parserException);
    EXPECT_EQ(manufacturers, c.manufacturersKept);
    EXPECT_EQ(models, c.modelsKept);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrinterIDsBroken,
    ::testing::Values(
        BrokenCase{"VendorWithoutId",
                   R"(<vendor-ids><vendor id="1"><name>A</name></vendor><vendor><name>B</name></vendor></vendor-ids>)",
                   "Missing or invalid \"id\" value for the <vendor> element",
                   {{"A", 1}},
                   {}},
        BrokenCase{"EmptyProductId",
                   R"(<product-ids><product id=""><name>B</name></product></product-ids>)",
                   "Missing or invalid \"id\" value for the <product> element",
                   {},
                   {}},
        BrokenCase{"ProductIdWithoutDigits",
                   R"(<product-ids><product id="-x"><name>B</name></product></product-ids>)",
                   "Missing or invalid \"id\" value for the <product> element",
                   {},
                   {}},
        BrokenCase{"DuplicateName",
                   R"(<vendor-ids><vendor id="1"><name>Velmo</name></vendor><vendor id="2"><name>Velmo</name></vendor>)"
                   R"(</vendor-ids>)",
                   "Duplicate mapping identified for Velmo",
                   {{"Velmo", 1}},
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A manufacturer and a model may share a name: the maps are separate.
TEST(PrinterIDs, GroupsAreSeparate) {
    PrinterIDMap manufacturers, models;
    PrinterIDsDocumentState document(manufacturers, models);
    StateFailure failure;
    EXPECT_TRUE(ParseWatched(R"(<ids><vendor-ids><vendor id="1"><name>X</name></vendor></vendor-ids>)"
                             R"(<product-ids><product id="2"><name>X</name></product></product-ids></ids>)",
                             document, failure))
        << failure.message;
    EXPECT_EQ(manufacturers, (PrinterIDMap{{"X", 1}}));
    EXPECT_EQ(models, (PrinterIDMap{{"X", 2}}));
}

}  // namespace

#include "Common/NetConfig/RegulatoryDomainExpert.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/ConfigSupport/ReaderTestSupport.h"
#include "Tessary/TSException.h"

namespace {

using TestSupport::ScratchFolder;

std::vector<unsigned> Channels(unsigned first, unsigned last) {
    std::vector<unsigned> channels;
    for (unsigned c = first; c <= last; ++c) channels.push_back(c);
    return channels;
}

template <class E>
std::string Thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const Tessary::TSException& e) {
        return std::string("wrong class: ") + e.what();
    }
    return "(nothing thrown)";
}

const char* const kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<regDomainData>
  <regulatoryDomains>
    <domain name="FCC">
      <country><isoCode>US</isoCode><name>United States</name></country>
      <country><name>Canada</name><isoCode>CA</isoCode></country>
    </domain>
    <domain name="ETSI">
      <country><isoCode>DE</isoCode><name>Germany</name></country>
      <country><isoCode>US</isoCode><name>Elsewhere</name></country>
      <country><isoCode>XX</isoCode><name>Canada</name></country>
    </domain>
    <domain name="NOSET">
      <country><isoCode>NS</isoCode><name>Nowhere</name></country>
    </domain>
  </regulatoryDomains>
  <channelSets>
    <channelSet domain="FCC">
      <channel>1</channel><channel>2</channel><channel>3</channel><channel>4</channel><channel>5</channel>
      <channel>6</channel><channel>7</channel><channel>8</channel><channel>9</channel><channel>10</channel>
      <channel>11</channel>
    </channelSet>
    <channelSet domain="ETSI"><channel>13</channel><channel>1</channel><channel>7</channel></channelSet>
    <channelSet domain="ETSI"><channel>99</channel></channelSet>
    <channelSet domain="EMPTY"/>
  </channelSets>
</regDomainData>
)";

class RegulatoryDomainTest : public ::testing::Test {
protected:
    RegulatoryDomainTest() : folder("regdomain"), expert(folder.Write("RegDomainData.xml", kDocument)) {}

    ScratchFolder folder;
    RegulatoryDomainExpert expert;
};

TEST_F(RegulatoryDomainTest, LookupsByName) {
    EXPECT_EQ(expert.GetCountryCode("United States"), "US");
    EXPECT_EQ(expert.GetRegulatoryDomain("United States"), "FCC");
    EXPECT_EQ(expert.GetChannelList("United States"), Channels(1, 11));
    EXPECT_EQ(expert.GetChannelList("Germany"), (std::vector<unsigned>{13, 1, 7})) << "document order";
    EXPECT_EQ(expert.GetRegulatoryDomain("Germany"), "ETSI");
}

TEST_F(RegulatoryDomainTest, IsoCodeWhenNoCountryHasTheName) {
    EXPECT_EQ(expert.GetCountryCode("US"), "US");
    EXPECT_EQ(expert.GetRegulatoryDomain("US"), "FCC");
    EXPECT_EQ(expert.GetChannelList("US"), Channels(1, 11));
    EXPECT_EQ(expert.GetChannelList("DE"), (std::vector<unsigned>{13, 1, 7}));
    // Names are matched exactly; a code in lower case is no code.
    EXPECT_EQ(Thrown<Tessary::TSDomainError>([&] { expert.GetCountryCode("us"); }), "Invalid/unknown country name");
}

TEST_F(RegulatoryDomainTest, FirstEntryWins) {
    EXPECT_EQ(expert.GetCountryCode("Canada"), "CA");
    // The second "US" country keeps its name but the code stays with FCC.
    EXPECT_EQ(expert.GetCountryCode("Elsewhere"), "US");
    EXPECT_EQ(expert.GetRegulatoryDomain("Elsewhere"), "FCC");
    // The unnamed code of the second Canada is still a code.
    EXPECT_EQ(expert.GetRegulatoryDomain("XX"), "ETSI");
}

TEST_F(RegulatoryDomainTest, Failures) {
    for (const char* unknown : {"Atlantis", "", "united states"}) {
        EXPECT_EQ(Thrown<Tessary::TSDomainError>([&] { expert.GetCountryCode(unknown); }),
                  "Invalid/unknown country name");
        EXPECT_EQ(Thrown<Tessary::TSDomainError>([&] { expert.GetRegulatoryDomain(unknown); }),
                  "Invalid/unknown country name");
        EXPECT_EQ(Thrown<Tessary::TSDomainError>([&] { expert.GetChannelList(unknown); }),
                  "Invalid/unknown country name");
    }
    EXPECT_EQ(Thrown<Tessary::TSLogicError>([&] { expert.GetChannelList("Nowhere"); }),
              "Channel set not found for regulatory domain 'NOSET'");
}

TEST(RegulatoryDomainData, BrokenDocuments) {
    ScratchFolder folder("regdomain-bad");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"other root", "<regulatoryDomains/>"},
        {"unknown child of the root", "<regDomainData><countries/></regDomainData>"},
        {"unknown child of a country",
         R"(<regDomainData><regulatoryDomains><domain name="A"><country><code>x</code></country></domain>)"
         "</regulatoryDomains></regDomainData>"},
        {"domain without a name",
         "<regDomainData><regulatoryDomains><domain><country/></domain></regulatoryDomains></regDomainData>"},
        {"set without a domain", "<regDomainData><channelSets><channelSet/></channelSets></regDomainData>"},
        {"channel that is no number",
         R"(<regDomainData><channelSets><channelSet domain="A"><channel>one</channel></channelSet>)"
         "</channelSets></regDomainData>"},
        {"empty channel",
         R"(<regDomainData><channelSets><channelSet domain="A"><channel/></channelSet></channelSets></regDomainData>)"},
        {"not well-formed", "<regDomainData><channelSets>"},
    };
    for (const auto& [name, xml] : cases) {
        const std::string path = folder.Write("RegDomainData.xml", xml);
        EXPECT_EQ(Thrown<Tessary::TSRuntimeError>([&] { RegulatoryDomainExpert expert(path); }),
                  "Error parsing XML file")
            << name;
    }
    EXPECT_EQ(Thrown<Tessary::TSRuntimeError>([&] { RegulatoryDomainExpert expert(folder.Path() + "/none.xml"); }),
              "Error parsing XML file");
}

// The document we ship answers what the plug-in and the wizard ask.
TEST(RegulatoryDomainData, ShippedDocument) {
    RegulatoryDomainExpert expert(VELMO_SOURCE_DIR "/data/RegDomainData.xml");
    EXPECT_EQ(expert.GetCountryCode("US"), "US");
    EXPECT_EQ(expert.GetChannelList("US"), Channels(1, 11));
    EXPECT_EQ(expert.GetCountryCode("Japan"), "JP");
    EXPECT_EQ(expert.GetChannelList("Japan"), Channels(1, 14));
    EXPECT_EQ(expert.GetChannelList("Germany"), Channels(1, 13));
}

}  // namespace

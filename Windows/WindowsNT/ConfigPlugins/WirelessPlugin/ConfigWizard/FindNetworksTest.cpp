#include "FindNetworks.h"

#include "Common/NetConfig/NetConfigXML.h"
#include "Tessary/i8n/UTFConversion.h"
#include "Tessary/xml-utilities/XMLUtilities.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Ssid(const WiFiSettings& w) {
    return Tessary::UTF16ToUTF8String(w.GetSSID().c_str(), static_cast<int>(w.GetSSID().length()));
}

std::string Answer(const std::string& networks) {
    return "<dockConfig version=\"1.0\"><findNetworksResponse>" + networks + "</findNetworksResponse></dockConfig>";
}

const std::string kHome =
    "<network><wifi mode=\"infrastructure\"><ssid>Home &amp; Garden</ssid><channel>6</channel>"
    "<security data=\"wep-128bit\" network=\"shared\"></security></wifi></network>";
const std::string kPlay =
    "<network><wifi mode=\"adhoc\"><ssid>Play</ssid><channel>3</channel>"
    "<security data=\"none\" network=\"open\"></security></wifi></network>";

TEST(FindNetworksTest, TheRequestIsTheBareCommand) {
    std::string request;
    BuildFindNetworksRequest(request);
    EXPECT_EQ(request, "<dockConfig version=\"1.0\"><findNetworks></findNetworks></dockConfig>");
}

TEST(FindNetworksTest, EachWifiElementIsOneNetworkInDocumentOrder) {
    const std::string twoFaces =
        "<network><wifi mode=\"infrastructure\"><ssid>Office</ssid><channel>11</channel></wifi>"
        "<wifi mode=\"infrastructure\"><ssid>Office-Guest</ssid><channel>11</channel>"
        "<security data=\"tkip\" network=\"wpa-psk\"></security></wifi></network>";
    std::vector<WiFiSettings> networks(1);  // appended to
    ASSERT_TRUE(ParseFindNetworksResponse(Answer(kHome + twoFaces + kPlay), networks));
    ASSERT_EQ(networks.size(), 5u);
    EXPECT_EQ(Ssid(networks[1]), "Home & Garden");
    EXPECT_EQ(networks[1].GetChannel(), 6);
    EXPECT_EQ(networks[1].GetMode(), WIFI_MODE_INFRASTRUCTURE);
    EXPECT_EQ(networks[1].GetNetworkMode(), NETWORK_MODE_SHARED);
    EXPECT_EQ(networks[1].GetDataMode(), DATA_MODE_WEP_128BIT);
    EXPECT_EQ(networks[1].GetSecurity().GetKeyCount(), 0) << "a scan reports no keys";
    EXPECT_EQ(Ssid(networks[2]), "Office");
    EXPECT_EQ(networks[2].GetDataMode(), DATA_MODE_NONE);
    EXPECT_EQ(Ssid(networks[3]), "Office-Guest");
    EXPECT_EQ(networks[3].GetNetworkMode(), NETWORK_MODE_WPA_PSK);
    EXPECT_EQ(Ssid(networks[4]), "Play");
    EXPECT_EQ(networks[4].GetMode(), WIFI_MODE_ADHOC);
    EXPECT_EQ(networks[4].GetChannel(), 3);
}

TEST(FindNetworksTest, AWifiWithoutChildrenKeepsTheDefaults) {
    std::vector<WiFiSettings> networks;
    ASSERT_TRUE(ParseFindNetworksResponse(Answer("<network><wifi mode=\"adhoc\"></wifi></network>"), networks));
    ASSERT_EQ(networks.size(), 1u);
    EXPECT_EQ(Ssid(networks[0]), "");
    EXPECT_EQ(networks[0].GetChannel(), 11);
    EXPECT_EQ(networks[0].GetMode(), WIFI_MODE_ADHOC);
}

TEST(FindNetworksTest, EmptyOrForeignAnswersReadAsNoNetworks) {
    std::vector<WiFiSettings> networks;
    EXPECT_TRUE(ParseFindNetworksResponse(Answer(""), networks));
    EXPECT_TRUE(ParseFindNetworksResponse("<dockConfig><getAllProfilesResponse/></dockConfig>", networks))
        << "another response element is skipped";
    EXPECT_TRUE(networks.empty());
}

TEST(FindNetworksTest, ReportedNetworkNamesSurviveBeingWrittenAndReadAgain) {
    // A profile made from a scanned network is sent back under that name, so
    // every character the dock reports must come back unchanged.
    const std::vector<std::string> names = {
        "Home\xEF\xBB\xBFNet",  // U+FEFF inside the name
        "\xEF\xBB\xBFNet",      // and at its start
        "Caf\xC3\xA9 <5G> & \"Co\" \xF0\x9F\x98\x80",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::vector<WiFiSettings> networks;
        ASSERT_TRUE(
            ParseFindNetworksResponse(Answer("<network><wifi mode=\"infrastructure\"><ssid>" + EscapeMarkup(name) +
                                             "</ssid><channel>1</channel></wifi></network>"),
                                      networks));
        ASSERT_EQ(networks.size(), 1u);
        const std::u16string reported(networks[0].GetSSID().c_str(), networks[0].GetSSID().length());

        std::ostringstream written;
        written << Tessary::XMLFormat(true);
        networks[0].Print(written);
        std::vector<WiFiSettings> again;
        ASSERT_TRUE(ParseFindNetworksResponse(Answer("<network>" + written.str() + "</network>"), again));
        ASSERT_EQ(again.size(), 1u);
        EXPECT_EQ(std::u16string(again[0].GetSSID().c_str(), again[0].GetSSID().length()), reported);
        EXPECT_EQ(Ssid(again[0]), name);
    }
}

TEST(FindNetworksTest, MalformedAnswersAreRejectedAndChangeNothing) {
    const std::vector<std::string> bad = {
        Answer("<network><wifi mode=\"mesh\"><ssid>X</ssid></wifi></network>"),
        Answer("<network><wifi><ssid>X</ssid></wifi></network>"),
        Answer(kHome + "<station/>"),
        Answer("<network><ssid>X</ssid></network>"),
        Answer("<network><wifi mode=\"adhoc\"><security data=\"wep-64bit\" network=\"psk\"/></wifi></network>"),
        "<bluetoothDockConfig><findNetworksResponse/></bluetoothDockConfig>",
        Answer(kHome).substr(0, 60),
        "",
    };
    for (const auto& answer : bad) {
        std::vector<WiFiSettings> networks(2);
        EXPECT_FALSE(ParseFindNetworksResponse(answer, networks)) << answer;
        EXPECT_EQ(networks.size(), 2u) << answer;
    }
}

}  // namespace

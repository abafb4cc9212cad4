#include "Common/NetConfig/Responses.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

Tessary::I8NString Wide(const std::string& utf8) {
    return Tessary::I8NString(utf8);
}

std::string InDock(const std::string& content) {
    return "<dockConfig>" + content + "</dockConfig>";
}

std::string ProfilesAnswer(const std::string& profiles) {
    return InDock("<getAllProfilesResponse>" + profiles + "</getAllProfilesResponse>");
}

// A profile element with the given wifi content (security included).
std::string ProfileXml(int id, const std::string& wifi = "") {
    return "<profile id=\"" + std::to_string(id) + "\" domain=\"FCC\">" + wifi + "</profile>";
}

std::string WifiXml(const std::string& network, const std::string& data, const std::string& keys) {
    return "<wifi mode=\"infrastructure\"><ssid>S</ssid><channel>6</channel><security network=\"" + network +
           "\" data=\"" + data + "\">" + keys + "</security></wifi>";
}

std::vector<Profile> Parsed(const std::string& answer, bool expectOk = true) {
    std::vector<Profile> profiles(1);  // the parse empties what was there
    EXPECT_EQ(ParseGetAllProfilesResponse(answer, profiles), expectOk) << answer;
    if (!expectOk) {
        EXPECT_TRUE(profiles.empty());
    }
    return profiles;
}

void ExpectSameWiFi(const WiFiSettings& a, const WiFiSettings& b) {
    EXPECT_EQ(a.GetSSID(), b.GetSSID());
    EXPECT_EQ(a.GetChannel(), b.GetChannel());
    EXPECT_EQ(a.GetMode(), b.GetMode());
    EXPECT_EQ(a.GetDataMode(), b.GetDataMode());
    EXPECT_EQ(a.GetNetworkMode(), b.GetNetworkMode());
    EXPECT_EQ(typeid(a.GetSecurity()), typeid(b.GetSecurity()));
    const int keys = a.GetSecurity().GetKeyCount();
    const int first = dynamic_cast<const WpaPskSecurity*>(&a.GetSecurity()) ? 0 : 1;
    for (int n = first; n < first + keys; ++n) EXPECT_EQ(a.GetSecurity().GetKey(n), b.GetSecurity().GetKey(n));
}

void ExpectSameProfile(const Profile& a, const Profile& b) {
    EXPECT_EQ(a.GetId(), b.GetId());
    EXPECT_EQ(a.GetCountry(), b.GetCountry());
    EXPECT_EQ(a.GetDomain(), b.GetDomain());
    EXPECT_EQ(a.GetProfileName(), b.GetProfileName());
    ExpectSameWiFi(a.GetWiFiSettings(), b.GetWiFiSettings());
    EXPECT_EQ(a.GetIPSettings().GetAutomatic(), b.GetIPSettings().GetAutomatic());
    EXPECT_EQ(a.GetIPSettings().GetIPAddress(), b.GetIPSettings().GetIPAddress());
    EXPECT_EQ(a.GetIPSettings().GetSubnetMask(), b.GetIPSettings().GetSubnetMask());
    EXPECT_EQ(a.GetIPSettings().GetGateway(), b.GetIPSettings().GetGateway());
    EXPECT_EQ(a.GetFriendlyName(), b.GetFriendlyName());
    EXPECT_EQ(a.GetDefaultHostID(), b.GetDefaultHostID());
}

std::string Xml(const Tessary::XMLPrintable& object) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    object.Print(stream);
    return stream.str();
}

TEST(ResponseParseTest, Guid) {
    std::string guid = "old";
    EXPECT_TRUE(
        ParseGetPrinterGuidResponse(InDock("<getPrinterGuidResponse><guid>abc</guid></getPrinterGuidResponse>"), guid));
    EXPECT_EQ(guid, "abc");
    // Blank-only text is empty; other text keeps its blanks.
    EXPECT_TRUE(ParseGetPrinterGuidResponse(
        InDock("<getPrinterGuidResponse>\n <guid> a b </guid>\n</getPrinterGuidResponse>"), guid));
    EXPECT_EQ(guid, " a b ");
    EXPECT_TRUE(
        ParseGetPrinterGuidResponse(InDock("<getPrinterGuidResponse><guid>  </guid></getPrinterGuidResponse>"), guid));
    EXPECT_EQ(guid, "");

    const char* failing[] = {
        "<bluetoothDockConfig><getPrinterGuidResponse><guid>abc</guid></getPrinterGuidResponse></bluetoothDockConfig>",
        "<dockConfig><getPrinterGuidResponse><guid>abc</guid></getPrinterGuidResponse><other/></dockConfig>",
        "<dockConfig><getPrinterGuidResponse><uuid>abc</uuid></getPrinterGuidResponse></dockConfig>",
        "<dockConfig><getMacAddressResponse result=\"0\"/></dockConfig>",
        "<dockConfig><getPrinterGuidResponse><guid>abc</guid></getPrinterGuidResponse>",
        "",
        "not xml",
    };
    for (const char* answer : failing) {
        guid = "old";
        EXPECT_FALSE(ParseGetPrinterGuidResponse(answer, guid)) << answer;
        EXPECT_EQ(guid, "") << answer;
    }
}

TEST(ResponseParseTest, MacAddressResultMapping) {
    std::string mac = "old";
    EXPECT_EQ(ParseGetMacAddressResponse(
                  InDock("<getMacAddressResponse result=\"0\"><macAddress>00:11:22:33:44:55</macAddress>"
                         "</getMacAddressResponse>"),
                  mac),
              0);
    EXPECT_EQ(mac, "00:11:22:33:44:55");
    EXPECT_EQ(ParseGetMacAddressResponse(InDock("<getMacAddressResponse result=\"3\"><macAddress>00:11:22:33:44:55"
                                                "</macAddress></getMacAddressResponse>"),
                                         mac),
              1);
    EXPECT_EQ(mac, "");
    mac = "old";
    EXPECT_EQ(
        ParseGetMacAddressResponse(
            InDock("<getMacAddressResponse><macAddress>00:11:22:33:44:55</macAddress></getMacAddressResponse>"), mac),
        2);
    EXPECT_EQ(mac, "");
    mac = "old";
    EXPECT_EQ(ParseGetMacAddressResponse(InDock("<getMacAddressResponse result=\"x\"></getMacAddressResponse>"), mac),
              2);
    EXPECT_EQ(ParseGetMacAddressResponse("<dockConfig><getMacAddressResponse result=\"0\">", mac), 2);
    EXPECT_EQ(mac, "");
    // A document without the response element was read, but carries no result.
    EXPECT_EQ(ParseGetMacAddressResponse("<dockConfig></dockConfig>", mac), 1);
}

TEST(ResponseParseTest, PrinterSettingsUnderEitherRoot) {
    PrinterSettings settings{"1111"};
    const std::string answer = "<getPrinterSettingsResponse><pin>1234</pin></getPrinterSettingsResponse>";
    EXPECT_TRUE(ParseGetPrinterSettingsResponse("bluetoothDockConfig",
                                                "<bluetoothDockConfig>" + answer + "</bluetoothDockConfig>", settings));
    EXPECT_EQ(settings.pin, "1234");
    // Failures leave the settings alone.
    settings.pin = "1111";
    EXPECT_FALSE(ParseGetPrinterSettingsResponse("bluetoothDockConfig", InDock(answer), settings));
    EXPECT_FALSE(ParseGetPrinterSettingsResponse(
        "dockConfig", InDock("<getPrinterSettingsResponse><pin>1</pin><code/></getPrinterSettingsResponse>"),
        settings));
    EXPECT_FALSE(ParseGetPrinterSettingsResponse("dockConfig", InDock(answer).substr(5), settings));
    EXPECT_EQ(settings.pin, "1111");
    // Markup in the PIN comes back as it was meant.
    EXPECT_TRUE(ParseGetPrinterSettingsResponse(
        "dockConfig", InDock("<getPrinterSettingsResponse><pin>1&amp;&lt;2</pin></getPrinterSettingsResponse>"),
        settings));
    EXPECT_EQ(settings.pin, "1&<2");
}

TEST(ResponseParseTest, ProfilesAreSortedById) {
    const std::vector<Profile> profiles = Parsed(ProfilesAnswer(ProfileXml(3) + ProfileXml(1) + ProfileXml(2)));
    ASSERT_EQ(profiles.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(profiles[i].GetId(), i + 1);

    EXPECT_TRUE(Parsed(ProfilesAnswer("")).empty());
    EXPECT_TRUE(Parsed(InDock("")).empty());
    Parsed(ProfilesAnswer(ProfileXml(2) + ProfileXml(2)), false);
    Parsed(ProfilesAnswer(ProfileXml(2) + ProfileXml(1) + ProfileXml(2)), false);
}

TEST(ResponseParseTest, ProfileDefaultsAndAttributes) {
    const std::vector<Profile> profiles =
        Parsed(ProfilesAnswer("<profile id=\"0x10\" domain=\"ETSI\" country=\"DE\"></profile>"
                              "<profile id=\"4\" domain=\"FCC\"><ipSettings automatic=\"false\"><ipAddress>10.0.0.9"
                              "</ipAddress><subnetMask>255.0.0.0</subnetMask><gateway>10.0.0.1</gateway>"
                              "</ipSettings><qztDefaultHostID>H</qztDefaultHostID></profile>"));
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[1].GetId(), 16);
    EXPECT_EQ(profiles[1].GetCountry(), "DE");
    EXPECT_EQ(profiles[1].GetDomain(), "ETSI");
    // No wifi element: the defaults stay.
    EXPECT_EQ(profiles[1].GetWiFiSettings().GetChannel(), 11);
    EXPECT_TRUE(profiles[1].GetIPSettings().GetAutomatic());
    EXPECT_EQ(profiles[0].GetCountry(), "");
    EXPECT_FALSE(profiles[0].GetIPSettings().GetAutomatic());
    EXPECT_EQ(profiles[0].GetIPSettings().GetGateway(), "10.0.0.1");
    EXPECT_EQ(profiles[0].GetDefaultHostID(), "H");

    const char* failing[] = {
        "<profile domain=\"FCC\"></profile>",
        "<profile id=\"1\"></profile>",
        "<profile id=\"1\" domain=\"\"></profile>",
        "<profile id=\"one\" domain=\"FCC\"></profile>",
        "<profile id=\"1\" domain=\"FCC\"><ipSettings></ipSettings></profile>",
        "<profile id=\"1\" domain=\"FCC\"><ipSettings automatic=\"TRUE\"></ipSettings></profile>",
        "<profile id=\"1\" domain=\"FCC\"><wifi mode=\"mesh\"></wifi></profile>",
        "<profile id=\"1\" domain=\"FCC\"><wifi></wifi></profile>",
        "<profile id=\"1\" domain=\"FCC\"><wifi mode=\"adhoc\"><channel>six</channel></wifi></profile>",
        "<network/>",
    };
    for (const char* profile : failing) Parsed(ProfilesAnswer(profile), false);
}

TEST(ResponseParseTest, UnknownElementsAreSkippedWhereAllowed) {
    const std::vector<Profile> profiles = Parsed(
        InDock("<status><profile id=\"9\" domain=\"x\"/></status>"
               "<getAllProfilesResponse><profile id=\"1\" domain=\"FCC\"><extra><wifi mode=\"bad\"/></extra>"
               "<ipSettings automatic=\"false\"><dns>1.1.1.1</dns><ipAddress>1.2.3.4</ipAddress></ipSettings>"
               "<wifi mode=\"adhoc\"><band>5</band><ssid>S</ssid><security network=\"open\" data=\"none\"><note/>"
               "</security></wifi></profile></getAllProfilesResponse>"));
    ASSERT_EQ(profiles.size(), 1u);
    EXPECT_EQ(profiles[0].GetIPSettings().GetIPAddress(), "1.2.3.4");
    EXPECT_EQ(profiles[0].GetWiFiSettings().GetMode(), WIFI_MODE_ADHOC);
    EXPECT_EQ(profiles[0].GetWiFiSettings().GetSSID(), Wide("S"));
}

TEST(ResponseParseTest, SecurityVariants) {
    std::vector<Profile> profiles =
        Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("wpa-psk", "tkip", "<wpaPSKKey>pass word</wpaPSKKey>"))));
    const WiFiSettings& wpa = profiles.at(0).GetWiFiSettings();
    EXPECT_EQ(wpa.GetNetworkMode(), NETWORK_MODE_WPA_PSK);
    EXPECT_EQ(wpa.GetDataMode(), DATA_MODE_TKIP);
    EXPECT_EQ(wpa.GetSecurity().GetKey(0), "pass word");

    profiles = Parsed(ProfilesAnswer(ProfileXml(
        1, WifiXml("shared", "wep-128bit",
                   "<wepKeys automaticKeys=\"false\"><key id=\"2\">k2</key><key id=\"5\">k5</key><other id=\"1\">x"
                   "</other></wepKeys>"))));
    const Security& wep = profiles.at(0).GetWiFiSettings().GetSecurity();
    ASSERT_NE(dynamic_cast<const WepSecurity*>(&wep), nullptr);
    EXPECT_EQ(wep.GetKey(1), "");
    EXPECT_EQ(wep.GetKey(2), "k2");

    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("shared", "wep-64bit", "<wepKeys><key id=\"0\">k</key></wepKeys>"))),
           false);
    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("shared", "wep-64bit", "<wepKeys><key>k</key></wepKeys>"))), false);
    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("open", "none", "<wpaPSKKey>k</wpaPSKKey>"))), false);
    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("wpa-psk", "tkip", "<wepKeys></wepKeys>"))), false);
    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("wpa", "tkip", ""))), false);
    Parsed(ProfilesAnswer(ProfileXml(1, WifiXml("open", "wep", ""))), false);
    Parsed(ProfilesAnswer(ProfileXml(1, "<wifi mode=\"adhoc\"><security data=\"none\"></security></wifi>")), false);
}

TEST(ResponseParseTest, AesProfileKeepsTheList) {
    const std::vector<Profile> profiles =
        Parsed(ProfilesAnswer(ProfileXml(2, WifiXml("wpa-psk", "aes", "<wpaPSKKey>k</wpaPSKKey>")) +
                              ProfileXml(1, WifiXml("open", "none", ""))));
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[1].GetWiFiSettings().GetDataMode(), DATA_MODE_AES);
    EXPECT_EQ(profiles[1].GetWiFiSettings().GetSecurity().GetKey(0), "k");
}

TEST(ResponseParseTest, OperationResults) {
    struct Case {
        std::string document;
        bool ok;
        int result;
    };
    const Case cases[] = {
        {InDock("<setProfileDataResponse result=\"0\"/>"), true, 0},
        {InDock("<setProfileDataResponse result=\"7\"><detail><x/></detail></setProfileDataResponse>"), true, 7},
        {InDock("<setProfileDataResponse/>"), false, -1},
        {InDock("<setPrinterSettingsResponse result=\"0\"/>"), false, -1},
    };
    for (const Case& c : cases) {
        SetProfileDataResponseState state;
        NetConfigResponseDocumentState<SetProfileDataResponseState> document(&state);
        Tessary::XercesXMLParser parser;
        EXPECT_EQ(parser.ParseBuffer(c.document.data(), static_cast<unsigned>(c.document.size()), &document), c.ok)
            << c.document;
        if (c.ok) {
            EXPECT_EQ(state.result, c.result);
        }
    }
}

// Write with the XML forms, read back with the parse states.

TEST(ResponseRoundTripTest, ProfilesSurviveWriteAndParse) {
    const std::string markup = "<&>\"' ";
    std::vector<Profile> written(3);

    written[0].SetId(7);
    written[0].SetCountry("U&S");
    written[0].SetDomain("F\"CC");
    written[0].SetProfileName(Wide("Caf\xC3\xA9 " + markup + "\xF0\x9F\x98\x80"));
    WiFiSettings wpa(WIFI_MODE_ADHOC);
    wpa.SetSSID(Wide("\xE7\xBD\x91\xE7\xBB\x9C \xF0\x9F\x93\xB6" + markup + "x"));
    wpa.SetChannel(13);
    WpaPskSecurity psk;
    psk.SetKey(0, "pa&ss</wpaPSKKey><x>" + markup + "k");
    wpa.SetSecurity(NETWORK_MODE_WPA_PSK, DATA_MODE_AES, psk);
    written[0].SetWiFiSettings(wpa);
    written[0].SetFriendlyName(Wide("\xF0\x9F\x96\xA8 printer" + markup + "."));
    written[0].SetDefaultHostID("host'1");

    written[1].SetId(2);
    written[1].SetDomain("ETSI");
    WiFiSettings wep;
    WepSecurity keys;
    keys.SetKey(1, "k1&");
    keys.SetKey(4, "<k4>");
    wep.SetSecurity(NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT, keys);
    written[1].SetWiFiSettings(wep);
    IPSettings ip;
    ip.SetAutomatic(false);
    ip.SetIPAddress("192.168.1.20");
    ip.SetSubnetMask("255.255.255.0");
    ip.SetGateway("192.168.1.1");
    written[1].SetIPSettings(ip);

    written[2].SetId(5);
    written[2].SetDomain("MKK");

    std::string answer = "<dockConfig><getAllProfilesResponse>";
    for (const Profile& profile : written) answer += Xml(profile);
    answer += "</getAllProfilesResponse></dockConfig>";

    std::vector<Profile> read;
    ASSERT_TRUE(ParseGetAllProfilesResponse(answer, read)) << answer;
    ASSERT_EQ(read.size(), 3u);
    ExpectSameProfile(read[0], written[1]);
    ExpectSameProfile(read[1], written[2]);
    ExpectSameProfile(read[2], written[0]);
}

// Every "&" and "<" is written as a reference; a list holding hundreds of
// them reads back whole.
TEST(ResponseRoundTripTest, NamesAndKeysFullOfMarkupReadBackWhole) {
    std::string markup;
    for (int i = 0; i < 300; ++i) markup += "&<";
    Profile written;
    written.SetId(1);
    written.SetDomain("FCC");
    written.SetProfileName(Wide("name " + markup));
    WiFiSettings wifi;
    wifi.SetSSID(Wide(markup));
    WpaPskSecurity psk;
    psk.SetKey(0, "key " + markup);
    wifi.SetSecurity(NETWORK_MODE_WPA_PSK, DATA_MODE_TKIP, psk);
    written.SetWiFiSettings(wifi);
    written.SetFriendlyName(Wide(markup));

    std::vector<Profile> read;
    ASSERT_TRUE(ParseGetAllProfilesResponse(ProfilesAnswer(Xml(written)), read));
    ASSERT_EQ(read.size(), 1u);
    ExpectSameProfile(read[0], written);
}

// A reader turns a written carriage return into a line feed, and a tab or
// line break in an attribute into a blank, unless they are written as
// character references.
TEST(ResponseRoundTripTest, TabsAndLineBreaksReadBackAsWritten) {
    Profile written;
    written.SetId(1);
    written.SetCountry("U\rS");
    written.SetDomain("F\tC\nC");
    written.SetProfileName(Wide("two\r\nlines\r"));
    WiFiSettings wifi;
    wifi.SetSSID(Wide("Home\rNet\t"));
    WpaPskSecurity psk;
    psk.SetKey(0, "key\r1");
    wifi.SetSecurity(NETWORK_MODE_WPA_PSK, DATA_MODE_TKIP, psk);
    written.SetWiFiSettings(wifi);
    written.SetDefaultHostID("host\r");

    std::vector<Profile> read;
    ASSERT_TRUE(ParseGetAllProfilesResponse(ProfilesAnswer(Xml(written)), read));
    ASSERT_EQ(read.size(), 1u);
    ExpectSameProfile(read[0], written);
}

// A reader grammar that records every element with its attributes and text,
// to check that what the writer produced reads back as the values it was given.
struct Node {
    std::string name;
    Tessary::XMLAttributeMap attributes;
    std::string text;
    std::vector<Node> children;
};

class TreeState : public Tessary::XMLNoTextState {
public:
    explicit TreeState(Node* node) : node(node) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override {
        node->children.push_back({name, attributes, "", {}});
        children.push_back(std::make_unique<TreeState>(&node->children.back()));
        return children.back().get();
    }
    void Characters(const std::string& text) override { node->text += text; }

private:
    Node* node;
    std::vector<std::unique_ptr<TreeState>> children;
};

TEST(ResponseRoundTripTest, BluetoothProfileReadsBackAsWritten) {
    BluetoothProfile bluetooth;
    bluetooth.SetFriendlyName("Dock \"1\" <&> \xF0\x9F\x98\x80");
    bluetooth.SetEnabled(true);
    bluetooth.SetRequirePIN(false);
    bluetooth.SetLinkwiseEnabled(true);
    bluetooth.SetPairedDevices({{"Phone & Co"}, {"<Tab>"}});
    const std::string xml = Xml(bluetooth);

    Node root;
    TreeState state(&root);
    Tessary::XercesXMLParser parser;
    ASSERT_TRUE(parser.ParseBuffer(xml.data(), static_cast<unsigned>(xml.size()), &state)) << xml;
    ASSERT_EQ(root.children.size(), 1u);
    const Node& profile = root.children[0];
    EXPECT_EQ(profile.name, "bluetoothProfile");
    EXPECT_EQ(profile.attributes.at("enabled"), "true");
    ASSERT_EQ(profile.children.size(), 4u);
    EXPECT_EQ(profile.children[0].text, bluetooth.GetFriendlyName());
    EXPECT_EQ(profile.children[1].attributes.at("required"), "false");
    EXPECT_EQ(profile.children[2].attributes.at("enabled"), "true");
    const Node& devices = profile.children[3];
    ASSERT_EQ(devices.children.size(), 2u);
    EXPECT_EQ(devices.children[0].children.at(0).text, "Phone & Co");
    EXPECT_EQ(devices.children[1].children.at(0).text, "<Tab>");
}

}  // namespace

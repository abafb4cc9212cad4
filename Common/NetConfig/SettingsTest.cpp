#include "Common/NetConfig/Settings.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Tessary/TSException.h"

namespace {

std::string Text(const Tessary::XMLPrintable& object) {
    std::ostringstream stream;
    object.Print(stream);
    return stream.str();
}

std::string Xml(const Tessary::XMLPrintable& object) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    object.Print(stream);
    return stream.str();
}

std::string ThrownMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const Tessary::TSException& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

Tessary::I8NString Wide(const char* utf8) {
    return Tessary::I8NString(utf8);
}

WiFiSettings WpaNetwork(const char* ssid, const std::string& key) {
    WiFiSettings wifi;
    wifi.SetSSID(Wide(ssid));
    WpaPskSecurity security;
    security.SetKey(0, key);
    wifi.SetSecurity(NETWORK_MODE_WPA_PSK, DATA_MODE_TKIP, security);
    return wifi;
}

TEST(SettingsModelTest, ModeConverters) {
    EXPECT_EQ(WiFiModeToString(0), "infrastructure");
    EXPECT_EQ(WiFiModeToString(1), "adhoc");
    EXPECT_EQ(NetworkModeToString(0), "open");
    EXPECT_EQ(NetworkModeToString(1), "shared");
    EXPECT_EQ(NetworkModeToString(2), "wpa-psk");
    const char* data[] = {"none", "wep-64bit", "wep-128bit", "tkip", "aes"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(DataModeToString(i), data[i]);
    EXPECT_EQ(ThrownMessage([] { WiFiModeToString(2); }), "Invalid WiFi mode");
    EXPECT_EQ(ThrownMessage([] { NetworkModeToString(-1); }), "Invalid Network mode");
    EXPECT_EQ(ThrownMessage([] { DataModeToString(5); }), "Invalid Data mode");
}

TEST(SettingsModelTest, Defaults) {
    WiFiSettings wifi;
    EXPECT_TRUE(wifi.GetSSID().empty());
    EXPECT_EQ(wifi.GetChannel(), 11);
    EXPECT_EQ(wifi.GetMode(), WIFI_MODE_INFRASTRUCTURE);
    EXPECT_EQ(wifi.GetNetworkMode(), NETWORK_MODE_OPEN);
    EXPECT_EQ(wifi.GetDataMode(), DATA_MODE_NONE);
    EXPECT_NE(dynamic_cast<const NullSecurity*>(&wifi.GetSecurity()), nullptr);
    EXPECT_EQ(WiFiSettings(WIFI_MODE_ADHOC).GetMode(), WIFI_MODE_ADHOC);
    EXPECT_EQ(WiFiSettings(WIFI_MODE_ADHOC).GetChannel(), 11);

    IPSettings ip;
    EXPECT_TRUE(ip.GetAutomatic());
    BluetoothProfile bluetooth;
    EXPECT_FALSE(bluetooth.GetEnabled() || bluetooth.GetRequirePIN() || bluetooth.GetLinkwiseEnabled());
    EXPECT_TRUE(bluetooth.GetPairedDevices().empty());
    EXPECT_TRUE(PrinterSettings().pin.empty());
}

TEST(SettingsModelTest, SetSecurityChecksTheObjectAgainstTheNetworkMode) {
    WiFiSettings wifi;
    const NullSecurity none;
    const WepSecurity wep;
    const WpaPskSecurity wpa;

    EXPECT_EQ(ThrownMessage([&] { wifi.SetSecurity(2, 3, wep); }), "Invalid security object: WepSecurity");
    try {
        wifi.SetSecurity(0, 0, wpa);
        ADD_FAILURE();
    } catch (const Tessary::TSInvalidArgument& e) {
        EXPECT_STREQ(e.what(), "Invalid security object: WpaPskSecurity");
    }
    EXPECT_EQ(ThrownMessage([&] { wifi.SetSecurity(0, 0, wep); }), "Invalid security object: WepSecurity");
    EXPECT_EQ(ThrownMessage([&] { wifi.SetSecurity(1, 1, wpa); }), "Invalid security object: WpaPskSecurity");
    EXPECT_EQ(ThrownMessage([&] { wifi.SetSecurity(3, 0, none); }), "Invalid mode");
    // Failures leave the triple alone.
    EXPECT_EQ(wifi.GetNetworkMode(), 0);
    EXPECT_EQ(wifi.GetDataMode(), 0);

    wifi.SetSecurity(1, 1, none);
    EXPECT_EQ(wifi.GetNetworkMode(), 1);
    EXPECT_EQ(wifi.GetDataMode(), 1);
    wifi.SetSecurity(0, 2, wep);
    EXPECT_NE(dynamic_cast<const WepSecurity*>(&wifi.GetSecurity()), nullptr);
    wifi.SetSecurity(2, 4, wpa);
    EXPECT_EQ(wifi.GetDataMode(), DATA_MODE_AES);
    // A clone is stored, not the caller's object.
    EXPECT_NE(&wifi.GetSecurity(), static_cast<const Security*>(&wpa));
}

TEST(SettingsModelTest, CopiesNeverShareTheSecurityObject) {
    WiFiSettings source;
    WepSecurity wep;
    wep.SetKey(1, "original");
    source.SetSecurity(NETWORK_MODE_SHARED, DATA_MODE_WEP_64BIT, wep);

    WiFiSettings copy(source);
    EXPECT_NE(&copy.GetSecurity(), &source.GetSecurity());
    // Changing a key: clone, change, set back.
    std::unique_ptr<Security> changed = copy.GetSecurity().Clone();
    changed->SetKey(1, "changed");
    copy.SetSecurity(copy.GetNetworkMode(), copy.GetDataMode(), *changed);
    EXPECT_EQ(copy.GetSecurity().GetKey(1), "changed");
    EXPECT_EQ(source.GetSecurity().GetKey(1), "original");

    WiFiSettings assigned;
    assigned = source;
    EXPECT_NE(&assigned.GetSecurity(), &source.GetSecurity());
    EXPECT_EQ(assigned.GetSecurity().GetKey(1), "original");
    assigned = assigned;
    EXPECT_EQ(assigned.GetSecurity().GetKey(1), "original");

    Profile profile;
    profile.SetWiFiSettings(source);
    const Profile profileCopy(profile);
    EXPECT_NE(&profileCopy.GetWiFiSettings().GetSecurity(), &profile.GetWiFiSettings().GetSecurity());
}

TEST(SettingsModelTest, SwapExchangesWithoutCopying) {
    WiFiSettings a = WpaNetwork("A", "ka");
    WiFiSettings b(WIFI_MODE_ADHOC);
    b.SetChannel(3);
    const Security* securityOfA = &a.GetSecurity();
    a.Swap(b);
    EXPECT_EQ(&b.GetSecurity(), securityOfA);
    EXPECT_EQ(b.GetSSID(), Wide("A"));
    EXPECT_EQ(a.GetMode(), WIFI_MODE_ADHOC);
    EXPECT_EQ(a.GetChannel(), 3);
    EXPECT_EQ(b.GetNetworkMode(), NETWORK_MODE_WPA_PSK);
}

// XML forms

TEST(SettingsXmlTest, WiFiWithEachSecurity) {
    WiFiSettings open;
    open.SetSSID(Wide("Home"));
    open.SetChannel(6);
    EXPECT_EQ(Xml(open),
              "<wifi mode=\"infrastructure\">\n"
              "<ssid>Home</ssid>\n"
              "<channel>6</channel>\n"
              "<security data=\"none\" network=\"open\">\n"
              "</security>\n"
              "</wifi>\n");

    WiFiSettings wep(WIFI_MODE_ADHOC);
    WepSecurity keys;
    keys.SetKey(3, "0123456789");
    wep.SetSecurity(NETWORK_MODE_SHARED, DATA_MODE_WEP_64BIT, keys);
    EXPECT_EQ(Xml(wep),
              "<wifi mode=\"adhoc\">\n"
              "<ssid></ssid>\n"
              "<channel>11</channel>\n"
              "<security data=\"wep-64bit\" network=\"shared\">\n"
              "<wepKeys automaticKeys=\"false\">\n"
              "<key id=\"1\"></key>\n"
              "<key id=\"2\"></key>\n"
              "<key id=\"3\">0123456789</key>\n"
              "<key id=\"4\"></key>\n"
              "</wepKeys>\n"
              "</security>\n"
              "</wifi>\n");

    EXPECT_EQ(Xml(WpaNetwork("Net", "pass phrase")),
              "<wifi mode=\"infrastructure\">\n"
              "<ssid>Net</ssid>\n"
              "<channel>11</channel>\n"
              "<security data=\"tkip\" network=\"wpa-psk\">\n"
              "<wpaPSKKey>pass phrase</wpaPSKKey>\n"
              "</security>\n"
              "</wifi>\n");
}

TEST(SettingsXmlTest, IPSettingsStaticAndAutomatic) {
    IPSettings ip;
    ip.SetIPAddress("10.0.0.2");
    EXPECT_EQ(Xml(ip), "<ipSettings automatic=\"true\">\n</ipSettings>\n");
    ip.SetAutomatic(false);
    ip.SetSubnetMask("255.255.255.0");
    ip.SetGateway("10.0.0.1");
    EXPECT_EQ(Xml(ip),
              "<ipSettings automatic=\"false\">\n"
              "<ipAddress>10.0.0.2</ipAddress>\n"
              "<subnetMask>255.255.255.0</subnetMask>\n"
              "<gateway>10.0.0.1</gateway>\n"
              "</ipSettings>\n");
}

TEST(SettingsXmlTest, WholeProfile) {
    Profile profile;
    profile.SetId(-3);
    profile.SetCountry("US");
    profile.SetDomain("FCC");
    profile.SetProfileName(Wide("Caf\xC3\xA9 \xF0\x9F\x98\x80"));
    profile.SetWiFiSettings(WpaNetwork("Net", "k"));
    profile.SetFriendlyName(Wide("Printer"));
    profile.SetDefaultHostID("HOST-1");
    EXPECT_EQ(Xml(profile),
              "<profile country=\"US\" domain=\"FCC\" id=\"-3\">\n"
              "<profileName>Caf\xC3\xA9 \xF0\x9F\x98\x80</profileName>\n"
              "<wifi mode=\"infrastructure\">\n"
              "<ssid>Net</ssid>\n"
              "<channel>11</channel>\n"
              "<security data=\"tkip\" network=\"wpa-psk\">\n"
              "<wpaPSKKey>k</wpaPSKKey>\n"
              "</security>\n"
              "</wifi>\n"
              "<ipSettings automatic=\"true\">\n"
              "</ipSettings>\n"
              "<friendlyName>Printer</friendlyName>\n"
              "<qztDefaultHostID>HOST-1</qztDefaultHostID>\n"
              "</profile>\n");
}

TEST(SettingsXmlTest, EveryValueIsEscapedOnce) {
    const std::string markup = "a&b<c>\"d'e";
    const std::string escaped = "a&amp;b&lt;c&gt;&quot;d&#39;e";
    Profile profile;
    profile.SetCountry(markup);
    profile.SetDomain(markup);
    profile.SetProfileName(Wide(markup.c_str()));
    WiFiSettings wifi;
    wifi.SetSSID(Wide(markup.c_str()));
    profile.SetWiFiSettings(wifi);
    IPSettings ip;
    ip.SetAutomatic(false);
    ip.SetIPAddress(markup);
    ip.SetSubnetMask(markup);
    ip.SetGateway(markup);
    profile.SetIPSettings(ip);
    profile.SetFriendlyName(Wide(markup.c_str()));
    profile.SetDefaultHostID(markup);
    const std::string xml = Xml(profile);
    EXPECT_EQ(xml.find('"' + markup), std::string::npos);
    EXPECT_EQ(xml.find("&amp;amp;"), std::string::npos);
    EXPECT_NE(xml.find("<profile country=\"" + escaped + "\" domain=\"" + escaped + "\" id=\"0\">\n"),
              std::string::npos);
    for (const char* element :
         {"profileName", "ssid", "ipAddress", "subnetMask", "gateway", "friendlyName", "qztDefaultHostID"}) {
        const std::string name(element);
        EXPECT_NE(xml.find("<" + name + ">" + escaped + "</" + name + ">\n"), std::string::npos) << name;
    }

    BluetoothProfile bluetooth;
    bluetooth.SetFriendlyName(markup);
    bluetooth.GetPairedDevices().push_back({markup});
    const std::string btXml = Xml(bluetooth);
    EXPECT_NE(btXml.find("<friendlyName>" + escaped + "</friendlyName>\n"), std::string::npos);
    EXPECT_NE(btXml.find("<deviceName>" + escaped + "</deviceName>\n"), std::string::npos);
}

TEST(SettingsXmlTest, BluetoothProfileWithAndWithoutPairedDevices) {
    BluetoothProfile bluetooth;
    EXPECT_EQ(Xml(bluetooth),
              "<bluetoothProfile enabled=\"false\">\n"
              "<friendlyName></friendlyName>\n"
              "<pin required=\"false\"></pin>\n"
              "<linkwise enabled=\"false\"></linkwise>\n"
              "<pairedDevices>\n"
              "</pairedDevices>\n"
              "</bluetoothProfile>\n");
    EXPECT_EQ(Text(bluetooth),
              "{ BluetoothProfile: friendlyName=, enabled=false, requirePIN=false, linkwiseEnabled=false, "
              "pairedDevices={} }");

    bluetooth.SetFriendlyName("Dock \xE2\x98\x85");
    bluetooth.SetEnabled(true);
    bluetooth.SetRequirePIN(true);
    bluetooth.SetLinkwiseEnabled(true);
    bluetooth.SetPairedDevices({{"Phone"}, {"Tablet"}});
    EXPECT_EQ(Xml(bluetooth),
              "<bluetoothProfile enabled=\"true\">\n"
              "<friendlyName>Dock \xE2\x98\x85</friendlyName>\n"
              "<pin required=\"true\"></pin>\n"
              "<linkwise enabled=\"true\"></linkwise>\n"
              "<pairedDevices>\n"
              "<pairedDevice>\n"
              "<deviceName>Phone</deviceName>\n"
              "</pairedDevice>\n"
              "<pairedDevice>\n"
              "<deviceName>Tablet</deviceName>\n"
              "</pairedDevice>\n"
              "</pairedDevices>\n"
              "</bluetoothProfile>\n");
    EXPECT_EQ(Text(bluetooth),
              "{ BluetoothProfile: friendlyName=Dock \xE2\x98\x85, enabled=true, requirePIN=true, "
              "linkwiseEnabled=true, pairedDevices={Phone, Tablet} }");
}

TEST(SettingsXmlTest, BluetoothNameThatIsNotUtf8IsWrittenEmpty) {
    BluetoothProfile bluetooth;
    bluetooth.SetFriendlyName("bad \xC0\x80 \xFF name");
    EXPECT_NE(Xml(bluetooth).find("<friendlyName></friendlyName>\n"), std::string::npos);
    // The text form shows the name as stored.
    EXPECT_NE(Text(bluetooth).find("friendlyName=bad \xC0\x80 \xFF name,"), std::string::npos);
}

// Text forms

TEST(SettingsTextTest, NestedForms) {
    WiFiSettings open;
    EXPECT_EQ(Text(open),
              "{ WiFi: mode=infrastructure, ssid=, channel=11, security={ data=none, network=open, { No keys } } }");
    EXPECT_EQ(Text(WpaNetwork("N\xC3\xA9t", "k")),
              "{ WiFi: mode=infrastructure, ssid=N\xC3\xA9t, channel=11, security={ data=tkip, network=wpa-psk,  { "
              "WpaPskSecurity: wpaPSKKey=k } } }");

    IPSettings ip;
    EXPECT_EQ(Text(ip), "{ IPSettings: automatic=true }");
    ip.SetAutomatic(false);
    ip.SetIPAddress("1.2.3.4");
    ip.SetSubnetMask("255.0.0.0");
    ip.SetGateway("1.0.0.1");
    EXPECT_EQ(Text(ip), "{ IPSettings: automatic=false, IP address=1.2.3.4, Subnet mask=255.0.0.0, Gateway=1.0.0.1 }");

    Profile profile;
    profile.SetId(2);
    profile.SetCountry("DE");
    profile.SetDomain("ETSI");
    profile.SetProfileName(Wide("Caf\xC3\xA9"));
    profile.SetFriendlyName(Wide("P"));
    profile.SetDefaultHostID("H");
    EXPECT_EQ(Text(profile),
              "{ Profile: id=2, country=DE, domain=ETSI, profileName=Caf\xC3\xA9, { WiFi: mode=infrastructure, "
              "ssid=, channel=11, security={ data=none, network=open, { No keys } } }, { IPSettings: "
              "automatic=true }, friendlyName=P, defaultHostID=H }");
}

}  // namespace

// The wizard's frame and panes as a user meets them, over the real channel
// to the simulated dock.
#include "AssistantDialog.h"
#include "AssistantPanes.h"
#include "WizardTestSupport.h"

#include "Mfc/Layer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace WizardTest;
using namespace std::chrono_literals;
namespace Dock = Simulators::Dock;

constexpr int kProfileCombo = 13000;
constexpr int kRename = 12009;
constexpr int kDeviceName = 13002;
constexpr int kNetworkList = 12045;
constexpr int kSsid = 12024;
constexpr int kChannelLabel = 11031;
constexpr int kChannel = 12025;
constexpr int kScan = 13128;
constexpr int kAdHoc = 13131;
constexpr int kSecurity = 11033;
constexpr int kKey = 12029;
constexpr int kConfirm = 13125;
constexpr int kAutomatic = 12013;
constexpr int kManual = 12014;
constexpr int kAddress = 12015;

const std::u16string kNoName = u"Please enter a device name.";
const std::u16string kNameTooLong = u"The device name  is too long. Please enter a shorter name.";
const std::u16string kNoSsid = u"Please enter an SSID.";
const std::u16string kBadKey =
    u"The network key must be 5 characters or 10 hexadecimal digits in order to use 64-bit WEP, or 13 characters or "
    u"26 hexadecimal digits to use 128-bit WEP.";
const std::u16string kKeysDiffer = u"The network key and confirmation field do not match.";

std::string KeyOf(const Profile& p) {
    return WepKeyOne(p.GetWiFiSettings().GetSecurity()).value_or("(none)");
}

class Wizard : public ::testing::Test {
protected:
    ~Wizard() override { Mfc::SetUserDefaultLangID(0); }

    Mfc::ModalSession& Open(bool full = true, const std::vector<WiFiSettings>& networks = {}, bool confirm = false,
                            int selected = 0) {
        wizard = rig.MakeWizard(full, selected, networks, confirm);
        session.emplace(rig.driver.BeginModal(*wizard));
        return *session;
    }
    // From the welcome screen of the full wizard to the network screen with
    // the profile of that name chosen.
    Mfc::ModalSession& ToNetworks(const char16_t* profile = u"Office", const std::vector<WiFiSettings>& networks = {}) {
        auto& s = Open(true, networks);
        s.Click(kNext);
        s.SelectComboText(kProfileCombo, profile);
        s.Click(kNext);
        s.Click(kNext);
        EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen) << s.Render();
        return s;
    }
    void ScanAndWait(Mfc::ModalSession& s) {
        s.Click(kScan);
        s.PumpUntil([&] { return s.Enabled(kNext); });
    }

    Rig rig;
    std::unique_ptr<CAssistantDialog> wizard;
    std::optional<Mfc::ModalSession> session;
};

TEST_F(Wizard, OpensOnTheWelcomeScreenAndReadsWell) {
    auto& s = Open();
    EXPECT_EQ(ScreenOf(s), WelcomeScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Next");
    EXPECT_EQ(s.Caption(), u"Velmo Wireless Printer Configuration Wizard");
    const std::string picture = s.Render();
    std::cout << picture;
    // The paragraph wraps inside its label instead of being cut.
    const std::string canvas = picture.substr(0, picture.find("\n  "));
    EXPECT_NE(canvas.find("ready to go!"), std::string::npos) << picture;
    EXPECT_NE(canvas.find("Next >"), std::string::npos) << picture;
    EXPECT_EQ(wizard->GetTemplateID(), 10012);
    EXPECT_TRUE(wizard->ShowingFullWizard());
    bool confirmed = false;
    EXPECT_TRUE(wizard->GetNetworks(confirmed).empty());
    EXPECT_TRUE(confirmed) << "made not to ask before a scan";
}

TEST_F(Wizard, ProfileScreenOffersEditableProfilesKeepsTheChoiceAndRenames) {
    auto& s = Open();
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), ProfileSelectionScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Back Next");
    EXPECT_EQ(s.ComboItems(kProfileCombo), (std::vector<CString>{u"Office", u"Home"})) << "profile 0 is the printer's";
    EXPECT_EQ(s.ComboIndex(kProfileCombo), 1) << "the last one the first time";
    s.SelectCombo(kProfileCombo, 0);

    rig.driver.OnNextModal([](Mfc::ModalSession& inner) {
        EXPECT_EQ(inner.Text(13001), u"Office");
        inner.Type(13001, u"Studio");
        inner.Click(IDOK);
    });
    s.Click(kRename);
    EXPECT_EQ(s.ComboItems(kProfileCombo), (std::vector<CString>{u"Studio", u"Home"}));
    EXPECT_EQ(s.ComboIndex(kProfileCombo), 0);
    EXPECT_EQ(wizard->GetProfileList()[1].GetProfileName(), Tessary::I8NString("Studio"));

    s.Click(kNext);
    EXPECT_EQ(wizard->GetProfile().GetId(), 1);
    s.Click(kBack);
    EXPECT_EQ(s.ComboIndex(kProfileCombo), 0) << "the choice made before";
}

TEST_F(Wizard, ADockWithOnlyItsOwnProfileSaysSoOnTheProfileScreenAndGoesNoFurther) {
    std::vector<Profile> factory;
    for (const Profile& p : rig.ReadProfiles()) {
        if (p.GetId() == 0) factory.push_back(p);
    }
    ASSERT_EQ(factory.size(), 1u);
    // As the setup assistant starts it: no profile chosen yet.
    wizard = rig.MakeWizard(true, factory, -1, {}, false);
    auto& s = session.emplace(rig.driver.BeginModal(*wizard));
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), ProfileSelectionScreen);
    EXPECT_TRUE(s.ComboItems(kProfileCombo).empty());
    EXPECT_EQ(s.Text(13003), u"This printer has no network profile that the wizard can set up.");
    EXPECT_EQ(LiveButtons(s), "Cancel Back");
    EXPECT_FALSE(s.Enabled(kRename));
    s.PressEnter();
    EXPECT_EQ(ScreenOf(s), ProfileSelectionScreen);
    EXPECT_TRUE(rig.driver.MessageBoxes().empty());
    s.Click(kBack);
    EXPECT_EQ(ScreenOf(s), WelcomeScreen);
    EXPECT_TRUE(rig.ProfileWrites().empty());
}

TEST_F(Wizard, DeviceNameIsCheckedOnTheWayForward) {
    auto& s = Open();
    s.Click(kNext);
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), DockNameScreen);
    EXPECT_EQ(s.Text(kDeviceName), u"Home dock");

    s.Type(kDeviceName, u"");
    rig.driver.ExpectMessageBox(kNoName, IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), DockNameScreen);
    EXPECT_TRUE(s.Focused(kDeviceName));

    // 22 characters of three bytes each: short enough to type, too long to send.
    s.Type(kDeviceName, std::u16string(22, u'\u20ac'));
    rig.driver.ExpectMessageBox(kNameTooLong, IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), DockNameScreen);
    EXPECT_EQ(s.Selection(kDeviceName), std::make_pair(0, 22));

    const std::u16string longest(32, u'n');
    s.Type(kDeviceName, longest + u"x");
    EXPECT_EQ(s.Text(kDeviceName), longest) << "the 33rd character is refused";
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen);
    EXPECT_EQ(wizard->GetProfile().GetFriendlyName(), Tessary::I8NString(std::string(32, 'n')));
}

TEST_F(Wizard, NetworkScreenControlsFollowEachOther) {
    auto& s = ToNetworks(u"Office", {Scanned("Office", 6, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT),
                                     Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE),
                                     Scanned("Far", 14, NETWORK_MODE_OPEN, DATA_MODE_NONE)});
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");
    EXPECT_FALSE(s.Visible(kChannel));
    EXPECT_FALSE(s.Visible(kChannelLabel));
    s.Check(kAdHoc);
    EXPECT_TRUE(s.Visible(kChannel));
    EXPECT_TRUE(s.Visible(kChannelLabel));
    EXPECT_EQ(s.Text(kChannel), u"11");
    s.Check(kAdHoc, false);
    EXPECT_FALSE(s.Visible(kChannel));

    const auto rows = s.Rows(kNetworkList);
    ASSERT_EQ(rows.size(), 2u) << "channel 14 is not a channel of the list";
    EXPECT_EQ(rows[0], (std::vector<CString>{u"Infrastructure", u"Office", u"6", u"Secure"}));
    s.ClickRow(kNetworkList, 0);
    EXPECT_EQ(s.Text(kSsid), u"Office");
    EXPECT_EQ(LiveButtons(s), "Cancel Test Back Next") << "a secured network needs its key first";
    s.ClickRow(kNetworkList, 1);
    EXPECT_EQ(s.Text(kSsid), u"Cafe");
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");

    s.Type(kSsid, u"");
    rig.driver.ExpectMessageBox(kNoSsid, IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen);
    EXPECT_TRUE(s.Focused(kSsid));
}

TEST_F(Wizard, AChannelTheListDoesNotOfferIsKept) {
    auto profile = DockProfile(1, "Office");
    profile.wifi.mode = Dock::WifiMode::Adhoc;
    profile.wifi.channel = 13;
    rig.dock->PutProfile(profile);
    auto& s = ToNetworks();
    EXPECT_TRUE(s.Visible(kChannel));
    EXPECT_EQ(s.ComboIndex(kChannel), CB_ERR);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back") << "ad-hoc security";
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetChannel(), 13);
    s.Click(kBack);
    s.SelectComboText(kChannel, u"3");
    s.Click(kNext);
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetChannel(), 3);
}

TEST_F(Wizard, ScanAsksOnceAndKeepsEveryButtonOffWhileItRuns) {
    auto& s = Open(false, {}, true);
    s.Click(kNext);
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), NetworkSelectionScreen);
    bool confirmed = true;
    wizard->GetNetworks(confirmed);
    EXPECT_FALSE(confirmed);

    rig.driver.AnswerNextMessageBox(IDCANCEL);
    s.Click(kScan);
    EXPECT_TRUE(rig.dock->Requests().empty()) << "cancelled before anything was sent";

    rig.dock->SetFault("findNetworks", {.delay = Platform::Milliseconds(2000)});
    rig.driver.AnswerNextMessageBox(IDOK);
    s.Click(kScan);
    EXPECT_EQ(LiveButtons(s), "");
    EXPECT_TRUE(rig.dock->InConfigMode());
    // The answer is due 2 s after the request reached the dock.
    s.PumpUntil([&] { return rig.dock->Requests().size() == 1; });
    s.Advance(2s);
    s.PumpUntil([&] { return s.Enabled(kNext); });
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(s.Rows(kNetworkList).size(), 2u);
    EXPECT_EQ(wizard->GetNetworks(confirmed).size(), 2u);
    EXPECT_TRUE(confirmed);

    // Not asked again; a scan that fails gives the buttons back too.
    rig.dock->SetFault("findNetworks", {.status = Simulators::DockPrinter::kStatusBadRequest});
    ScanAndWait(s);
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(rig.driver.MessageBoxes().size(), 2u);
}

TEST_F(Wizard, ShowingOrRescanningNeverDropsTheKeysOfTheProfile) {
    auto profile = DockProfile(1, "Office");
    profile.wifi = {Dock::WifiMode::Infrastructure,
                    "Office",
                    6,
                    Dock::NetworkMode::Shared,
                    Dock::DataMode::Wep128,
                    Dock::KeyKind::Wep,
                    {kOfficeKey, "", "", ""},
                    ""};
    rig.dock->PutProfile(profile);
    auto& s = ToNetworks(u"Office", {Scanned("Office", 6, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT),
                                     Scanned("Lab", 11, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT),
                                     Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE)});
    EXPECT_EQ(s.SelectedRow(kNetworkList), 0) << "the profile's network";
    EXPECT_EQ(KeyOf(wizard->GetProfile()), kOfficeKey);

    // The user's choice of another network of the same kind keeps the keys
    // typed; one of another kind has none to keep.
    s.ClickRow(kNetworkList, 1);
    EXPECT_EQ(s.Text(kSsid), u"Lab");
    EXPECT_EQ(KeyOf(wizard->GetProfile()), kOfficeKey);
    s.Click(kNext);
    EXPECT_EQ(s.Text(kKey).GetLength(), 26);
    s.Click(kBack);
    s.ClickRow(kNetworkList, 2);
    s.ClickRow(kNetworkList, 0);
    EXPECT_EQ(KeyOf(wizard->GetProfile()), "(none)");
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(s.Text(kSecurity), u"WEP");
    EXPECT_EQ(s.Text(kKey), u"") << "a scanned network has no key to show";
    EXPECT_EQ(s.Text(kConfirm), u"");

    // With the key typed again, a scan selects Office anew and keeps it.
    s.Type(kKey, u"0123456789ABCDEF0123456789");
    s.Type(kConfirm, u"0123456789ABCDEF0123456789");
    s.Click(kNext);
    s.Click(kBack);
    s.Click(kBack);
    ASSERT_EQ(ScreenOf(s), NetworkSelectionScreen);
    ScanAndWait(s);
    EXPECT_EQ(s.Rows(kNetworkList).size(), 2u) << "the dock's own scan";
    EXPECT_EQ(s.SelectedRow(kNetworkList), 0);
    EXPECT_EQ(KeyOf(wizard->GetProfile()), kOfficeKey);
    s.Click(kNext);
    EXPECT_EQ(KeyOf(wizard->GetProfile()), kOfficeKey);
    EXPECT_EQ(s.Text(kKey).GetLength(), 26);
}

TEST_F(Wizard, SecurityKeysAreCheckedOnlyOnTheWayForward) {
    auto& s = ToNetworks(u"Office", {Scanned("Office", 6, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT)});
    s.ClickRow(kNetworkList, 0);
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");

    s.Type(kKey, u"abcdef");
    s.Type(kConfirm, u"abcdef");
    rig.driver.ExpectMessageBox(kBadKey, IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_TRUE(s.Focused(kKey));
    s.Type(kKey, u"abcde");
    rig.driver.ExpectMessageBox(kKeysDiffer, IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), SecurityScreen);

    // Back asks nothing, stores nothing, and the typing is there again.
    s.Click(kBack);
    EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen);
    EXPECT_EQ(KeyOf(wizard->GetProfile()), "(none)");
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetDataMode(), DATA_MODE_WEP_128BIT);
    s.Click(kNext);
    EXPECT_EQ(s.Text(kKey), u"abcde");
    EXPECT_EQ(s.Text(kConfirm), u"abcdef");

    // "None" empties and disables the keys; "WEP" gives them back.
    s.SelectComboText(kSecurity, u"None");
    EXPECT_EQ(s.Text(kKey), u"");
    EXPECT_FALSE(s.Enabled(kKey));
    EXPECT_FALSE(s.Enabled(11041));
    s.SelectComboText(kSecurity, u"WEP");
    EXPECT_EQ(s.Text(kKey), u"abcde");
    EXPECT_TRUE(s.Enabled(kConfirm));

    const std::pair<std::u16string, DataMode> keys[] = {{u"abcde", DATA_MODE_WEP_64BIT},
                                                        {u"0123456789", DATA_MODE_WEP_64BIT},
                                                        {u"abcdefghijklm", DATA_MODE_WEP_128BIT},
                                                        {u"0123456789abcdef0123456789", DATA_MODE_WEP_128BIT}};
    for (const auto& [key, mode] : keys) {
        s.Type(kKey, key);
        s.Type(kConfirm, key);
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), IPAddressingScreen) << Mfc::Utf8(key);
        const WiFiSettings& wifi = wizard->GetProfile().GetWiFiSettings();
        EXPECT_EQ(wifi.GetDataMode(), mode);
        EXPECT_EQ(wifi.GetNetworkMode(), NETWORK_MODE_SHARED);
        EXPECT_EQ(KeyOf(wizard->GetProfile()), Mfc::Utf8(key));
        s.Click(kBack);
    }
    s.SelectComboText(kSecurity, u"None");
    s.Click(kNext);
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetDataMode(), DATA_MODE_NONE);
}

TEST_F(Wizard, AWpaProfileKeepsItsSecurityAndTheScreenSaysSo) {
    auto profile = DockProfile(1, "Office");
    profile.wifi.network = Dock::NetworkMode::WpaPsk;
    profile.wifi.data = Dock::DataMode::Tkip;
    profile.wifi.keys = Dock::KeyKind::WpaPsk;
    profile.wifi.wpaKey = "passphrase";
    rig.dock->PutProfile(profile);
    auto& s = ToNetworks();
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(s.Text(13004),
              u"The security of this network cannot be changed here. The profile keeps its security settings.");
    EXPECT_FALSE(s.Enabled(kSecurity));
    EXPECT_FALSE(s.Enabled(kKey));
    EXPECT_FALSE(s.Enabled(kConfirm));
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), IPAddressingScreen);
    EXPECT_TRUE(rig.driver.MessageBoxes().empty());
    const WiFiSettings& wifi = wizard->GetProfile().GetWiFiSettings();
    EXPECT_EQ(wifi.GetNetworkMode(), NETWORK_MODE_WPA_PSK);
    EXPECT_EQ(wifi.GetDataMode(), DATA_MODE_TKIP);
    EXPECT_EQ(wifi.GetSecurity().GetKey(0), "passphrase");
}

TEST_F(Wizard, AScannedWpaNetworkIsRefusedAndTheProfileStaysAsItWas) {
    Platform::AccessPoint lab;
    lab.ssid = "Lab";
    lab.authentication = Platform::WifiAuthentication::WpaPsk;
    lab.encryption = Platform::WifiEncryption::Tkip;
    lab.wpaKey = "a long pass phrase";
    Platform::GetMachine().Wireless().SetAccessPoints({Office(), Cafe(), lab});
    auto& s = ToNetworks();
    const Profile before = wizard->GetProfile();
    ScanAndWait(s);
    const auto rows = s.Rows(kNetworkList);
    int labRow = -1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i][1] == CString(u"Lab")) labRow = static_cast<int>(i);
    }
    ASSERT_GE(labRow, 0) << s.Render();
    rig.driver.ExpectMessageBox(WizardString(10034).str(), IDOK);
    s.ClickRow(kNetworkList, labRow);
    EXPECT_EQ(rig.driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(s.Text(kSsid), u"OfficeNet");
    EXPECT_EQ(s.SelectedRow(kNetworkList), -1) << "the profile's network is not in range";
    EXPECT_EQ(Rig::Write(wizard->GetProfile()), Rig::Write(before));
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(s.Text(kSecurity), u"None");
}

TEST_F(Wizard, AddressRadiosEnableTheAddresses) {
    auto& s = ToNetworks();
    s.Click(kNext);
    s.SelectComboText(kSecurity, u"None");
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), IPAddressingScreen);
    EXPECT_TRUE(s.Checked(kAutomatic));
    EXPECT_EQ(s.Text(kAddress), u"0.0.0.0");
    EXPECT_FALSE(s.Enabled(kAddress));
    EXPECT_FALSE(s.Enabled(11040));
    s.Check(kManual);
    EXPECT_TRUE(s.Enabled(kAddress));
    EXPECT_TRUE(s.Enabled(12020));
    s.Type(kAddress, u"192.168.1.20");
    s.Type(12019, u"255.255.255.0");
    s.Type(12020, u"192.168.1.1");
    s.Click(kBack);
    const IPSettings& ip = wizard->GetProfile().GetIPSettings();
    EXPECT_FALSE(ip.GetAutomatic());
    EXPECT_EQ(ip.GetIPAddress(), "192.168.1.20");
    EXPECT_EQ(ip.GetSubnetMask(), "255.255.255.0");
    EXPECT_EQ(ip.GetGateway(), "192.168.1.1");
    s.Click(kNext);
    EXPECT_EQ(s.Text(kAddress), u"192.168.1.20");
    s.Check(kAutomatic);
    s.Click(kBack);
    EXPECT_TRUE(wizard->GetProfile().GetIPSettings().GetAutomatic());
    EXPECT_EQ(wizard->GetProfile().GetIPSettings().GetIPAddress(), "");
}

TEST_F(Wizard, AStaticSettingWithoutAddressOrWithAGappedMaskIsRefused) {
    auto& s = ToNetworks();
    s.Click(kNext);
    s.SelectComboText(kSecurity, u"None");
    s.Click(kNext);
    ASSERT_EQ(ScreenOf(s), IPAddressingScreen);
    s.Check(kManual);
    rig.driver.ExpectMessageBox(u"Please enter the IP address the printer is to use.", IDOK);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), IPAddressingScreen);
    s.Type(kAddress, u"192.168.1.20");
    s.Type(12019, u"255.255.0.255");
    rig.driver.ExpectMessageBox(u"The subnet mask is not valid. Please enter a mask such as 255.255.255.0.", IDOK);
    s.Click(kBack);
    EXPECT_EQ(ScreenOf(s), IPAddressingScreen);
    EXPECT_TRUE(wizard->GetProfile().GetIPSettings().GetAutomatic()) << "nothing is stored while refused";
    s.Type(12019, u"255.255.0.0");
    s.Click(kBack);
    EXPECT_EQ(wizard->GetProfile().GetIPSettings().GetSubnetMask(), "255.255.0.0");
}

TEST_F(Wizard, EnterIsNextWhenNextIsLiveAndEscapeCancels) {
    auto& s = ToNetworks();
    s.Type(kSsid, u"Garden");
    s.PressEnter();
    EXPECT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetSSID(), Tessary::I8NString("Garden"));
    s.Click(kBack);
    s.Check(kAdHoc);
    s.Click(kNext);
    ASSERT_EQ(LiveButtons(s), "Cancel Finish Test Back");
    s.PressEnter();
    EXPECT_EQ(ScreenOf(s), SecurityScreen) << "Next is not live on the ad-hoc security screen";
    s.PressEscape();
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_FALSE(rig.dock->InConfigMode());
}

TEST_F(Wizard, CancelStoresNothingOfTheScreen) {
    auto& s = ToNetworks();
    s.Type(kSsid, u"Garden");
    s.Check(kAdHoc);
    s.Click(kCancel);
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetSSID(), Tessary::I8NString("OfficeNet"));
    EXPECT_EQ(wizard->GetProfile().GetWiFiSettings().GetMode(), WIFI_MODE_INFRASTRUCTURE);
}

TEST_F(Wizard, AUserOfAnotherLanguageGetsTheEnglishScreens) {
    Mfc::SetUserDefaultLangID(0x0407);
    ASSERT_EQ(WizardLanguageOffset(), 5000);
    auto& s = ToNetworks();
    EXPECT_EQ(s.Rows(kNetworkList).size(), 0u);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), SecurityScreen);
    EXPECT_EQ(s.ComboItems(kSecurity), (std::vector<CString>{u"None", u"WEP"}));
}

TEST_F(Wizard, ASearchResultWhereNoneIsAwaitedChangesNothing) {
    auto& s = Open();
    ::PostMessageW(s.Window(), CAssistantDialog::WM_PRINTER_SEARCH_COMPLETE, 1, 0);
    ::PostMessageW(s.Window(), CAssistantDialog::WM_PRINTER_SEARCH_COMPLETE, 0, 0);
    s.PumpUntilIdle();
    EXPECT_EQ(ScreenOf(s), WelcomeScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Next");
}

// ----- Talking to the printer

TEST_F(Wizard, TransmitLeavesConfigurationModeWhateverTheAnswer) {
    wizard = rig.MakeWizard(true);
    struct Case {
        const char* name;
        Simulators::DockPrinter::Fault fault;
        std::string error;
    };
    const Case cases[] = {
        {"error code",
         {.result = 5},
         "Error code returned for 'set profile data' request in CAssistantDialog::TransmitProfileToPrinter"},
        {"unreadable answer",
         {.body = "<dockConfig><setProfileDataResponse/></dockConfig>"},
         "Invalid response received for 'set profile data' request in CAssistantDialog::TransmitProfileToPrinter"},
        {"refused request", {.status = Simulators::DockPrinter::kStatusBadRequest}, "Status"},
        {"none", {}, ""},
    };
    for (const auto& c : cases) {
        rig.dock->ClearFaults();
        if (!c.error.empty()) rig.dock->SetFault("setProfileData", c.fault);
        std::string error;
        try {
            wizard->TransmitProfileToPrinter(wizard->GetProfile(), false);
        } catch (const Tessary::TSRuntimeCodeError& e) {
            error = e.what();
            EXPECT_EQ(e.Code(), 5) << c.name;
        } catch (const Tessary::TSException& e) {
            error = e.what();
        }
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name;
        EXPECT_FALSE(rig.dock->InConfigMode()) << c.name;
        EXPECT_EQ(rig.dock->GetCounters().enters, rig.dock->GetCounters().leaves) << c.name;
        EXPECT_EQ(Mfc::WaitCursorDepth(), 0) << c.name;
    }
}

TEST_F(Wizard, TheHostIdQuestionComesOnlyForAnotherReadableId) {
    wizard = rig.MakeWizard(true);
    auto& registry = Platform::GetMachine().Registry();
    Profile profile;
    profile.SetDefaultHostID("HOST-ELSEWHERE");
    const std::u16string question = WizardString(10017).str();

    // An ordinary user may read the value.
    Platform::GetMachine().SetUserIsAdministrator(false);
    rig.driver.ExpectMessageBox(question, IDNO);
    wizard->UpdateProfileHostID(profile);
    EXPECT_EQ(profile.GetDefaultHostID(), "HOST-ELSEWHERE") << "No keeps the profile's";
    rig.driver.ExpectMessageBox(question, IDYES);
    wizard->UpdateProfileHostID(profile);
    EXPECT_EQ(profile.GetDefaultHostID(), kHostId);
    wizard->UpdateProfileHostID(profile);  // the same now: no question

    // 40 units without a zero fill the buffer exactly; one more does not fit.
    const std::u16string forty(40, u'H');
    registry.SetValue(HKEY_LOCAL_MACHINE, kHostIdKey, u"QZTDHID",
                      Platform::RegValue{REG_SZ, std::vector<BYTE>(reinterpret_cast<const BYTE*>(forty.data()),
                                                                   reinterpret_cast<const BYTE*>(forty.data()) + 80)});
    rig.driver.AnswerNextMessageBox(IDYES);
    wizard->UpdateProfileHostID(profile);
    EXPECT_EQ(profile.GetDefaultHostID(), std::string(40, 'H'));
    registry.SetString(HKEY_LOCAL_MACHINE, kHostIdKey, u"QZTDHID", std::u16string(40, u'X'));
    wizard->UpdateProfileHostID(profile);
    registry.SetDword(HKEY_LOCAL_MACHINE, kHostIdKey, u"QZTDHID", 7);
    wizard->UpdateProfileHostID(profile);
    registry.DeleteKey(HKEY_LOCAL_MACHINE, kHostIdKey);
    wizard->UpdateProfileHostID(profile);
    EXPECT_EQ(rig.driver.MessageBoxes().size(), 3u);
    EXPECT_EQ(profile.GetDefaultHostID(), std::string(40, 'H'));
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(Wizard, TheRegulatoryDocumentLiesInTheInstallFolder) {
    auto& registry = Platform::GetMachine().Registry();
    registry.SetString(HKEY_LOCAL_MACHINE, kInstallKey, u"InstallPath", u"C:\\Program Files\\Velmo\\");
    EXPECT_NO_THROW(rig.MakeWizard(true));
    rig.root.Remove(std::u16string(kInstallPath) + u"\\RegDomainData.xml");
    try {
        rig.MakeWizard(false);
        ADD_FAILURE() << "made without its document";
    } catch (const Tessary::TSRuntimeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot read the regulatory domain data 'C:\\Program Files\\Velmo\\RegDomainData.xml' in "
                  "CAssistantDialog::CAssistantDialog: Error parsing XML file");
    }
}

TEST_F(Wizard, AFailedCommitIsToldAndTheWizardStaysUsable) {
    auto& s = ToNetworks(u"Office", {Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE)});
    s.ClickRow(kNetworkList, 0);
    rig.dock->SetFault("setProfileData", {.times = 1, .result = 9});
    rig.driver.AnswerNextMessageBox(IDNO);  // the host id
    rig.driver.ExpectMessageBox(
        u"The settings could not be stored on the printer. Check that the printer is connected and switched on, then "
        u"try again.",
        IDOK);
    s.Click(kFinish);
    EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back Next");
    EXPECT_EQ(s.Text(kSsid), u"Cafe");
    EXPECT_FALSE(rig.dock->InConfigMode());

    rig.driver.AnswerNextMessageBox(IDYES);
    s.Click(kFinish);
    EXPECT_EQ(ScreenOf(s), ProfileUpdatedScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Finish Next");
    EXPECT_EQ(rig.dock->FindProfile(1)->wifi.ssid, "Cafe");
    EXPECT_EQ(rig.dock->FindProfile(1)->defaultHostId, kHostId);
}

TEST_F(Wizard, AScreenThatCannotFillItselfIsToldAndOpensOnceTheCauseIsGone) {
    // A selected index past the profiles: the name screen has no profile.
    auto& s = Open(false, {}, false, 5);
    rig.driver.ExpectMessageBox(
        u"This step of the wizard could not be shown.\n\nThis printer has no network profile that the wizard can set "
        u"up.",
        IDOK);
    s.Click(kNext);
    EXPECT_EQ(rig.driver.MessageBoxes().size(), 1u);
    EXPECT_EQ(ScreenOf(s), WelcomeScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel Next");

    wizard->SelectProfile(1);
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), DockNameScreen);
    EXPECT_EQ(s.Text(kDeviceName), u"Office dock");
    EXPECT_EQ(rig.driver.MessageBoxes().size(), 1u);
}

TEST_F(Wizard, ATestAfterACommitRestoresWhatWasCommitted) {
    auto& s = ToNetworks(u"Office", {Scanned("Cafe", 1, NETWORK_MODE_OPEN, DATA_MODE_NONE)});
    s.ClickRow(kNetworkList, 0);
    rig.driver.AnswerNextMessageBox(IDYES);
    s.Click(kFinish);
    ASSERT_EQ(ScreenOf(s), ProfileUpdatedScreen);
    const Profile committed = wizard->GetProfile();
    s.Click(kNext);
    EXPECT_EQ(ScreenOf(s), ProfileSelectionScreen);
    s.Click(kNext);
    s.Click(kNext);
    s.Type(kSsid, u"Elsewhere");
    s.Click(kTest);
    ASSERT_EQ(ScreenOf(s), SearchingScreen);
    EXPECT_EQ(LiveButtons(s), "Cancel");
    s.Click(kCancel);
    EXPECT_EQ(s.Result(), IDCANCEL);
    const auto writes = rig.ProfileWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_NE(writes[1].find("Elsewhere"), std::string::npos);
    EXPECT_EQ(writes[2], Rig::Write(committed)) << "the committed profile, not the one from before the wizard";
    EXPECT_EQ(rig.dock->FindProfile(1)->wifi.ssid, "Cafe");
}

TEST_F(Wizard, SearchingScreenLeavesWhenTheProfileCannotBeSentAndCancelAlwaysEnds) {
    auto& s = ToNetworks();
    rig.dock->SetFault("setProfileData", {.status = Simulators::DockPrinter::kStatusBadRequest});
    s.Click(kTest);
    EXPECT_EQ(ScreenOf(s), PrinterNotFoundNextScreen) << "never stuck where only Cancel works";
    EXPECT_EQ(LiveButtons(s), "Cancel Back Next");
    EXPECT_TRUE(rig.driver.MessageBoxes().empty()) << "nothing was sent, nothing to restore";
    s.Click(kBack);
    EXPECT_EQ(ScreenOf(s), NetworkSelectionScreen);

    // The test profile reaches the printer, the restore does not.
    rig.dock->ClearFaults();
    s.Click(kTest);
    ASSERT_EQ(ScreenOf(s), SearchingScreen);
    rig.dock->SetFault("setProfileData", {.result = 3});
    rig.driver.OnNextMessageBox([](const Mfc::MessageBoxRequest& box) {
        EXPECT_EQ(box.text.rfind(u"The printer's previous settings could not be restored.", 0), 0u);
        return IDOK;
    });
    s.Click(kCancel);
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_FALSE(rig.dock->InConfigMode());
}

// ----- Panes without windows

TEST(AssistantPaneTest, APaneWithoutItsWindowDoesNothing) {
    std::vector<std::unique_ptr<CAssistantPane>> panes;
    panes.push_back(std::make_unique<CAssistantPane>(10000, 0));
    panes.push_back(std::make_unique<CProfileSelectionPane>(10001, 0));
    panes.push_back(std::make_unique<CDockNamePane>(10002, 0));
    panes.push_back(std::make_unique<CFindNetworksPane>(10004, 0));
    panes.push_back(std::make_unique<CSearchingPane>(10005, 0));
    panes.push_back(std::make_unique<CSecurityPane>(10008, 0));
    panes.push_back(std::make_unique<CIPAddressingPane>(10009, 0));
    for (auto& pane : panes) {
        pane->Initialize();
        pane->UpdateControls();
        EXPECT_TRUE(pane->Commit());
        EXPECT_TRUE(pane->Hide(true));
        EXPECT_TRUE(pane->Hide(false));
    }
    EXPECT_EQ(panes[3]->GetPaneTemplateID(), 10004u);
}

}  // namespace

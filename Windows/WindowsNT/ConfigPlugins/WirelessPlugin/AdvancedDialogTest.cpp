#include "AdvancedDialog.h"
#include "SecondaryDialogsTestSupport.h"

#include "Mfc/GTestDriver.h"
#include "Tessary/i8n/I8NString.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr int kAutomatic = 12013;
constexpr int kManual = 12014;
constexpr int kAddress = 12015;
constexpr int kMask = 12019;
constexpr int kGateway = 12020;
constexpr int kOptions = 11033;
constexpr int kKey = 12029;
constexpr int kConfirm = 12030;
constexpr int kNone = 0;
constexpr int kWep = 1;

const std::u16string kKeyInvalid =
    u"The network key must be 5 characters or 10 hexadecimal digits in order to use 64-bit WEP, or 13 characters or "
    u"26 hexadecimal digits to use 128-bit WEP.";
const std::u16string kKeyMismatch = u"The network key and confirmation field do not match.";

Profile MakeProfile(NetworkMode network, DataMode data, const std::string& key) {
    Profile p;
    p.SetProfileName(Tessary::I8NString("Office"));
    WiFiSettings wifi(WIFI_MODE_INFRASTRUCTURE);
    wifi.SetSSID(Tessary::I8NString("OfficeNet"));
    if (data == DATA_MODE_NONE) {
        wifi.SetSecurity(network, data, NullSecurity());
    } else {
        WepSecurity wep;
        wep.SetKey(1, key);
        wifi.SetSecurity(network, data, wep);
    }
    p.SetWiFiSettings(wifi);
    return p;
}

std::string KeyOne(const Profile& p) {
    return p.GetWiFiSettings().GetSecurity().GetKey(1);
}

class AdvancedDialogTest : public ::testing::Test {
protected:
    SecondaryDialogsTest::ResourceScope resources;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
};

TEST_F(AdvancedDialogTest, KeyRulesChooseTheWepSizeOrRefuseWithFocusOnTheKey) {
    struct Case {
        std::u16string key;
        std::u16string confirm;
        std::optional<DataMode> mode;  // none: refused with `message`
        std::u16string message;
    };
    const Case cases[] = {
        {u"ABCDEFGHIJKLM", u"ABCDEFGHIJKLM", DATA_MODE_WEP_128BIT, {}},
        {u"0123456789", u"0123456789", DATA_MODE_WEP_64BIT, {}},
        {u"abcde", u"abcde", DATA_MODE_WEP_64BIT, {}},
        {u"0123456789abcdefABCDEF0123", u"0123456789abcdefABCDEF0123", DATA_MODE_WEP_128BIT, {}},
        {u"012345678g", u"012345678g", std::nullopt, kKeyInvalid},
        {u"abcdef", u"abcdef", std::nullopt, kKeyInvalid},
        {u"", u"", std::nullopt, kKeyInvalid},
        {u"0123456789", u"0123456788", std::nullopt, kKeyMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Mfc::Utf8(c.key) + " / " + Mfc::Utf8(c.confirm));
        Profile profile = MakeProfile(NETWORK_MODE_OPEN, DATA_MODE_NONE, "");
        CAdvancedDialog dialog(profile, false, 0, nullptr);
        auto s = driver.BeginModal(dialog);
        EXPECT_FALSE(s.Enabled(kKey));
        s.SelectCombo(kOptions, kWep);
        ASSERT_TRUE(s.Enabled(kKey));
        s.Type(kKey, c.key);
        s.Type(kConfirm, c.confirm);
        if (!c.mode) driver.ExpectMessageBox(c.message, IDOK);
        s.Click(IDOK);
        if (c.mode) {
            EXPECT_EQ(s.Result(), IDOK);
            const WiFiSettings& wifi = profile.GetWiFiSettings();
            EXPECT_EQ(wifi.GetDataMode(), *c.mode);
            EXPECT_EQ(wifi.GetNetworkMode(), NETWORK_MODE_OPEN) << "a profile without WEP starts open";
            EXPECT_EQ(CString(Tessary::I8NString(KeyOne(profile)).c_str()), CString(c.key.c_str()));
        } else {
            EXPECT_TRUE(s.IsOpen());
            EXPECT_TRUE(s.Focused(kKey));
            EXPECT_EQ(s.Selection(kKey), std::make_pair(0, static_cast<int>(c.key.size())));
            EXPECT_EQ(profile.GetWiFiSettings().GetDataMode(), DATA_MODE_NONE) << "nothing changes on a refusal";
            s.Click(IDCANCEL);
        }
    }
}

TEST_F(AdvancedDialogTest, NoneKeepsTheTypedKeysAsideAndWepPutsThemBack) {
    Profile profile = MakeProfile(NETWORK_MODE_OPEN, DATA_MODE_WEP_64BIT, "abcde");
    CAdvancedDialog dialog(profile, false, 0, nullptr);
    auto s = driver.BeginModal(dialog);
    EXPECT_EQ(s.ComboItems(kOptions), (std::vector<CString>{u"None", u"WEP"}));
    EXPECT_EQ(s.ComboIndex(kOptions), kWep);
    EXPECT_EQ(s.Text(kKey), CString(u"abcde"));
    EXPECT_EQ(s.Text(kConfirm), CString(u"abcde"));
    EXPECT_EQ(static_cast<CEdit*>(dialog.GetDlgItem(kKey))->GetPasswordChar(), u'*');
    EXPECT_EQ(static_cast<CEdit*>(dialog.GetDlgItem(kConfirm))->GetLimitText(), 26u);

    s.Type(kKey, u"ABCDEFGHIJKLM");
    s.Type(kConfirm, u"ABCDEFGHIJKL");
    s.SelectCombo(kOptions, kNone);
    EXPECT_EQ(s.Text(kKey), CString());
    EXPECT_EQ(s.Text(kConfirm), CString());
    EXPECT_FALSE(s.Enabled(kKey));
    EXPECT_FALSE(s.Enabled(kConfirm));
    s.SelectCombo(kOptions, kWep);
    EXPECT_EQ(s.Text(kKey), CString(u"ABCDEFGHIJKLM"));
    EXPECT_EQ(s.Text(kConfirm), CString(u"ABCDEFGHIJKL"));

    s.SelectCombo(kOptions, kNone);
    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_EQ(profile.GetWiFiSettings().GetDataMode(), DATA_MODE_NONE);
    EXPECT_EQ(profile.GetWiFiSettings().GetNetworkMode(), NETWORK_MODE_OPEN);
    EXPECT_EQ(profile.GetWiFiSettings().GetSecurity().GetKeyCount(), 0);
}

TEST_F(AdvancedDialogTest, OkKeepsTheNetworkModeOfAProfileThatStaysOnWep) {
    // Only the address changes: a shared-key network must stay shared.
    Profile shared = MakeProfile(NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT, "ABCDEFGHIJKLM");
    {
        CAdvancedDialog dialog(shared, false, 0, nullptr);
        auto s = driver.BeginModal(dialog);
        s.Check(kManual);
        s.Type(kAddress, u"192.168.1.20");
        s.Type(kMask, u"255.255.255.0");
        s.Click(IDOK);
        EXPECT_EQ(s.Result(), IDOK);
    }
    EXPECT_EQ(shared.GetWiFiSettings().GetNetworkMode(), NETWORK_MODE_SHARED);
    EXPECT_EQ(shared.GetWiFiSettings().GetDataMode(), DATA_MODE_WEP_128BIT);
    EXPECT_EQ(KeyOne(shared), "ABCDEFGHIJKLM");

    // A shorter key changes the size, not the authentication.
    {
        CAdvancedDialog dialog(shared, false, 0, nullptr);
        auto s = driver.BeginModal(dialog);
        s.Type(kKey, u"abcde");
        s.Type(kConfirm, u"abcde");
        s.Click(IDOK);
    }
    EXPECT_EQ(shared.GetWiFiSettings().GetNetworkMode(), NETWORK_MODE_SHARED);
    EXPECT_EQ(shared.GetWiFiSettings().GetDataMode(), DATA_MODE_WEP_64BIT);
    EXPECT_EQ(KeyOne(shared), "abcde");
}

TEST_F(AdvancedDialogTest, AdHocForcesAutomaticAndTheRadiosRuleTheAddresses) {
    Profile profile = MakeProfile(NETWORK_MODE_OPEN, DATA_MODE_NONE, "");
    profile.GetIPSettings().SetAutomatic(false);
    profile.GetIPSettings().SetIPAddress("10.0.0.7");
    profile.GetIPSettings().SetSubnetMask("255.255.255.0");
    {
        CAdvancedDialog dialog(profile, true, 0, nullptr);
        auto s = driver.BeginModal(dialog);
        EXPECT_TRUE(s.Checked(kAutomatic));
        EXPECT_FALSE(s.Checked(kManual));
        EXPECT_FALSE(s.Enabled(kAutomatic));
        EXPECT_FALSE(s.Enabled(kManual));
        EXPECT_FALSE(s.Enabled(kAddress));
        s.Click(IDOK);
    }
    EXPECT_TRUE(profile.GetIPSettings().GetAutomatic()) << "an ad-hoc network gets its address automatically";

    profile.GetIPSettings().SetAutomatic(false);
    CAdvancedDialog dialog(profile, false, 0, nullptr);
    auto s = driver.BeginModal(dialog);
    EXPECT_TRUE(s.Checked(kManual));
    EXPECT_TRUE(s.Enabled(kAutomatic));
    EXPECT_TRUE(s.Enabled(kAddress));
    EXPECT_EQ(s.Text(kAddress), CString(u"10.0.0.7"));
    EXPECT_EQ(s.Text(kMask), CString(u"255.255.255.0"));
    EXPECT_EQ(s.Text(kGateway), CString(u"0.0.0.0")) << "an empty address shows as zeros";
    s.Check(kAutomatic);
    EXPECT_FALSE(s.Enabled(kAddress));
    EXPECT_FALSE(s.Enabled(kGateway));
    s.Check(kManual);
    s.Type(kGateway, u"10.0.0.1");
    s.Click(IDOK);
    const IPSettings& ip = profile.GetIPSettings();
    EXPECT_FALSE(ip.GetAutomatic());
    EXPECT_EQ(ip.GetIPAddress(), "10.0.0.7");
    EXPECT_EQ(ip.GetSubnetMask(), "255.255.255.0");
    EXPECT_EQ(ip.GetGateway(), "10.0.0.1");
}

TEST_F(AdvancedDialogTest, AStaticSettingNeedsAnAddressAndAMaskOfOnesThenZeros) {
    Profile profile = MakeProfile(NETWORK_MODE_OPEN, DATA_MODE_NONE, "");
    CAdvancedDialog dialog(profile, false, 0, nullptr);
    auto s = driver.BeginModal(dialog);
    s.Check(kManual);
    driver.ExpectMessageBox(u"Please enter the IP address the printer is to use.", IDOK);
    s.Click(IDOK);
    EXPECT_TRUE(s.IsOpen());
    EXPECT_TRUE(s.Focused(kAddress));
    s.Type(kAddress, u"192.168.1.20");
    for (const char16_t* mask : {u"0.0.0.0", u"255.0.255.0", u"255.255.255.1"}) {
        s.Type(kMask, mask);
        driver.ExpectMessageBox(u"The subnet mask is not valid. Please enter a mask such as 255.255.255.0.", IDOK);
        s.Click(IDOK);
        EXPECT_TRUE(s.IsOpen()) << Mfc::Utf8(mask);
        EXPECT_TRUE(s.Focused(kMask));
    }
    EXPECT_TRUE(profile.GetIPSettings().GetAutomatic()) << "nothing is stored while refused";
    s.Type(kMask, u"255.255.254.0");
    s.Click(IDOK);
    EXPECT_EQ(s.Result(), IDOK);
    EXPECT_FALSE(profile.GetIPSettings().GetAutomatic());
    EXPECT_EQ(profile.GetIPSettings().GetSubnetMask(), "255.255.254.0");
}

TEST_F(AdvancedDialogTest, CancelLeavesTheProfileAlone) {
    Profile profile = MakeProfile(NETWORK_MODE_SHARED, DATA_MODE_WEP_64BIT, "abcde");
    CAdvancedDialog dialog(profile, false, 0, nullptr);
    auto s = driver.BeginModal(dialog);
    s.SelectCombo(kOptions, kNone);
    s.Check(kManual);
    s.Click(IDCANCEL);
    EXPECT_EQ(s.Result(), IDCANCEL);
    EXPECT_EQ(profile.GetWiFiSettings().GetNetworkMode(), NETWORK_MODE_SHARED);
    EXPECT_EQ(KeyOne(profile), "abcde");
    EXPECT_TRUE(profile.GetIPSettings().GetAutomatic());
}

}  // namespace

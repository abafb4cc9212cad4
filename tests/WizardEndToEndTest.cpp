// The wireless configuration wizard end to end: a user drives it through
// the test driver, the wizard talks to the simulated dock over the real USB
// channel, the dock joins the machine's simulated Wi-Fi network and the
// printer search finds it through the fake DNS-SD, all on the manual clock.
#include "AssistantPanes.h"
#include "WizardTestSupport.h"

#include "Mfc/Layer.h"

#include <gtest/gtest.h>

#include <iostream>
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
constexpr int kScan = 13128;
constexpr int kSecurity = 11033;
constexpr int kKey = 12029;
constexpr int kConfirm = 13125;
constexpr int kManual = 12014;

const std::vector<std::u16string> kAddresses = {u"192.168.10.20", u"255.255.255.0", u"192.168.10.1"};

// Counts how often a screen comes into view.
class ScreenCounter : public Mfc::WindowObserver {
public:
    explicit ScreenCounter(const char* text) : text_(text) { Mfc::AddWindowObserver(this); }
    ~ScreenCounter() override { Mfc::RemoveWindowObserver(this); }
    void OnWindowChanged(HWND window, Mfc::WindowChange change) override {
        if (change == Mfc::WindowChange::Visibility && ::IsWindowVisible(window) &&
            Mfc::RenderWindow(window).find(text_) != std::string::npos && ::GetDlgItem(window, kNetworkList) == nullptr)
            ++shown;
    }
    int shown = 0;

private:
    std::string text_;
};

class WizardRoad : public ::testing::Test {
protected:
    // The profile the road below makes of the dock's profile 1, before the
    // wizard adds the host id.
    Profile Edited(const Profile& original, const std::string& key) const {
        Profile p = original;
        p.SetProfileName(Tessary::I8NString("Studio"));
        p.SetFriendlyName(Tessary::I8NString("Studio dock"));
        WiFiSettings wifi;
        wifi.SetSSID(Tessary::I8NString("Office"));
        wifi.SetChannel(6);
        WepSecurity wep;
        wep.SetKey(1, key);
        wifi.SetSecurity(NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT, wep);
        p.SetWiFiSettings(wifi);
        IPSettings ip;
        ip.SetAutomatic(false);
        ip.SetIPAddress("192.168.10.20");
        ip.SetSubnetMask("255.255.255.0");
        ip.SetGateway("192.168.10.1");
        p.SetIPSettings(ip);
        return p;
    }

    // Welcome to the Test button of the IP screen: the profile "Office"
    // renamed "Studio", the dock named, the network "Office" taken from the
    // dock's scan with `key`, fixed addresses.
    void DriveToTest(Mfc::ModalSession& s, const std::u16string& key) {
        ASSERT_EQ(ScreenOf(s), WelcomeScreen);
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), ProfileSelectionScreen);
        s.SelectComboText(kProfileCombo, u"Office");
        rig.driver.OnNextModal([](Mfc::ModalSession& rename) {
            rename.Type(13001, u"Studio");
            rename.Click(IDOK);
        });
        s.Click(kRename);
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), DockNameScreen);
        s.Type(kDeviceName, u"Studio dock");
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), NetworkSelectionScreen);
        rig.driver.AnswerNextMessageBox(IDOK);  // the scan interrupts printing
        s.Click(kScan);
        ASSERT_TRUE(s.PumpUntil([&] { return s.Enabled(kNext); }));
        const auto rows = s.Rows(kNetworkList);
        ASSERT_EQ(rows.size(), 2u);
        ASSERT_EQ(rows[0][1], u"Office");
        s.ClickRow(kNetworkList, 0);
        EXPECT_EQ(LiveButtons(s), "Cancel Test Back Next");
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), SecurityScreen);
        EXPECT_EQ(s.Text(kSecurity), u"WEP");
        s.Type(kKey, key);
        s.Type(kConfirm, key);
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), IPAddressingScreen);
        s.Check(kManual);
        s.Type(12015, kAddresses[0]);
        s.Type(12019, kAddresses[1]);
        s.Type(12020, kAddresses[2]);
        std::cout << s.Render();
        s.Click(kTest);
        ASSERT_EQ(ScreenOf(s), SearchingScreen);
        EXPECT_EQ(LiveButtons(s), "Cancel");
        std::cout << s.Render();
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const auto& request : rig.dock->Requests()) commands.push_back(request.command);
        return commands;
    }

    Rig rig;
};

TEST_F(WizardRoad, TheFullWizardConfiguresTheDockWhichJoinsAndIsFound) {
    const std::vector<Profile> profiles = rig.ReadProfiles();
    ASSERT_EQ(profiles.size(), 3u);
    auto wizard = rig.MakeWizard(true, profiles, 0, {}, true);
    rig.driver.OnNextModal([&](Mfc::ModalSession& s) {
        DriveToTest(s, u"0123456789ABCDEF0123456789");
        // The dock joins 5 s after it got the profile and announces itself.
        s.Advance(5s);
        ASSERT_TRUE(s.PumpUntil([&] { return ScreenOf(s) == PrinterFoundNextScreen; }));
        EXPECT_EQ(LiveButtons(s), "Cancel Finish Back");
        std::cout << s.Render();
        rig.driver.ExpectMessageBox(WizardString(10017).str(), IDYES);
        s.Click(kFinish);
        ASSERT_EQ(ScreenOf(s), ProfileUpdatedScreen);
        EXPECT_EQ(LiveButtons(s), "Cancel Finish Next");
        std::cout << s.Render();
        s.Click(kFinish);
    });
    EXPECT_EQ(wizard->DoModal(), IDOK);
    EXPECT_FALSE(rig.driver.Unanswered());

    // Scan, the profile to test, the dock's own back, the profile to keep.
    const Profile tested = Edited(profiles[1], kOfficeKey);
    Profile kept = tested;
    kept.SetDefaultHostID(kHostId);
    ASSERT_EQ(Commands(),
              (std::vector<std::string>{"findNetworks", "setProfileData", "setProfileData", "setProfileData"}));
    EXPECT_EQ(rig.dock->Requests()[0].body, "<dockConfig version=\"1.0\"><findNetworks></findNetworks></dockConfig>");
    EXPECT_EQ(rig.ProfileWrites(),
              (std::vector<std::string>{Rig::Write(tested), Rig::Write(profiles[1]), Rig::Write(kept)}));
    // As the dock read it.
    Dock::Profile stored = DockProfile(1, "Studio");
    stored.profileName = "Studio";
    stored.friendlyName = "Studio dock";
    stored.defaultHostId = kHostId;
    stored.wifi = {Dock::WifiMode::Infrastructure,
                   "Office",
                   6,
                   Dock::NetworkMode::Shared,
                   Dock::DataMode::Wep128,
                   Dock::KeyKind::Wep,
                   {kOfficeKey, "", "", ""},
                   ""};
    stored.ip = {false, "192.168.10.20", "255.255.255.0", "192.168.10.1"};
    EXPECT_EQ(rig.dock->FindProfile(1), stored);
    EXPECT_EQ(rig.dock->FindProfile(2), DockProfile(2, "Home"));
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(Mfc::WaitCursorDepth(), 0);

    rig.driver.Advance(5s);
    EXPECT_TRUE(rig.dock->WaitForNetwork("Office", 5s));
}

TEST_F(WizardRoad, AKeyThatDoesNotMatchIsNotFoundAfterThirtySecondsOnce) {
    const std::vector<Profile> profiles = rig.ReadProfiles();
    auto wizard = rig.MakeWizard(true, profiles, 0, {}, true);
    ScreenCounter notFound("Next to make further settings");
    rig.driver.OnNextModal([&](Mfc::ModalSession& s) {
        DriveToTest(s, u"FEDCBA9876543210FEDCBA9876");
        s.Advance(29999ms);
        EXPECT_EQ(ScreenOf(s), SearchingScreen);
        s.Advance(1ms);
        ASSERT_EQ(ScreenOf(s), PrinterNotFoundNextScreen);
        EXPECT_EQ(LiveButtons(s), "Cancel Finish Back");
        std::cout << s.Render();
        s.Advance(60s);
        EXPECT_EQ(ScreenOf(s), PrinterNotFoundNextScreen);
        s.Click(kCancel);
    });
    EXPECT_EQ(wizard->DoModal(), IDCANCEL);
    EXPECT_EQ(notFound.shown, 1);
    EXPECT_EQ(rig.dock->JoinedNetwork(), "");
    EXPECT_EQ(rig.ProfileWrites(),
              (std::vector<std::string>{Rig::Write(Edited(profiles[1], "FEDCBA9876543210FEDCBA9876")),
                                        Rig::Write(profiles[1])}));
    EXPECT_EQ(rig.dock->FindProfile(1), DockProfile(1, "Office"));
    EXPECT_FALSE(rig.dock->InConfigMode());
}

TEST_F(WizardRoad, ThePartialWizardLeavesThePrinterAloneAndHandsBackTheNetwork) {
    const auto before = rig.dock->State();
    auto wizard = rig.MakeWizard(false, 1, {}, true);
    rig.driver.OnNextModal([&](Mfc::ModalSession& s) {
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), DockNameScreen);
        EXPECT_EQ(s.Text(kDeviceName), u"Office dock");
        s.Type(kDeviceName, u"Studio dock");
        s.Click(kNext);
        rig.driver.AnswerNextMessageBox(IDOK);
        s.Click(kScan);
        ASSERT_TRUE(s.PumpUntil([&] { return s.Enabled(kNext); }));
        s.ClickRow(kNetworkList, 0);
        s.Click(kNext);
        s.Type(kKey, u"0123456789ABCDEF0123456789");
        s.Type(kConfirm, u"0123456789ABCDEF0123456789");
        s.Click(kNext);
        ASSERT_EQ(ScreenOf(s), IPAddressingScreen);
        EXPECT_EQ(LiveButtons(s), "Cancel Finish Test Back");
        s.Click(kFinish);
    });
    EXPECT_EQ(wizard->DoModal(), IDOK);
    EXPECT_EQ(Commands(), std::vector<std::string>{"findNetworks"});
    EXPECT_EQ(rig.dock->State(), before);

    const Profile& edited = wizard->GetProfile();
    EXPECT_EQ(edited.GetId(), 1);
    EXPECT_EQ(edited.GetFriendlyName(), Tessary::I8NString("Studio dock"));
    EXPECT_EQ(edited.GetWiFiSettings().GetSSID(), Tessary::I8NString("Office"));
    EXPECT_EQ(edited.GetWiFiSettings().GetSecurity().GetKey(1), kOfficeKey);
    bool confirmed = false;
    const auto& networks = wizard->GetNetworks(confirmed);
    EXPECT_TRUE(confirmed);
    ASSERT_EQ(networks.size(), 2u);
    EXPECT_EQ(networks[1].GetSSID(), Tessary::I8NString("Cafe"));
}

// ----- Cancel from every screen

struct CancelCase {
    int screen;
    bool full;
};

void PrintTo(const CancelCase& c, std::ostream* out) {
    *out << "screen " << c.screen << (c.full ? " of the full wizard" : " of the partial wizard");
}

class CancelEverywhere : public WizardRoad, public ::testing::WithParamInterface<CancelCase> {
protected:
    // The network screen, with the dock's networks offered without a scan.
    void ToNetworks(Mfc::ModalSession& s, bool full) {
        s.Click(kNext);
        if (full) s.Click(kNext);
        s.Click(kNext);
    }
    // The IP screen after choosing "Office" with a key (right or wrong).
    void ToAddresses(Mfc::ModalSession& s, bool full, const std::u16string& key) {
        ToNetworks(s, full);
        s.ClickRow(kNetworkList, 0);
        s.Click(kNext);
        s.Type(kKey, key);
        s.Type(kConfirm, key);
        s.Click(kNext);
    }
    void Reach(Mfc::ModalSession& s, int screen, bool full) {
        const std::u16string right = u"0123456789ABCDEF0123456789";
        const std::u16string wrong = u"FEDCBA9876543210FEDCBA9876";
        switch (screen) {
            case ProfileSelectionScreen:
                s.Click(kNext);
                break;
            case DockNameScreen:
                s.Click(kNext);
                if (full) s.Click(kNext);
                break;
            case NetworkSelectionScreen:
                ToNetworks(s, full);
                break;
            case SearchingScreen:
                ToNetworks(s, full);
                s.Click(kTest);
                break;
            case PrinterFoundNextScreen:
            case PrinterFoundBackScreen:
                ToAddresses(s, full, right);
                s.Click(kTest);
                s.Advance(5s);
                s.PumpUntil([&] { return ScreenOf(s) == screen; });
                break;
            case PrinterNotFoundNextScreen:
            case PrinterNotFoundBackScreen:
                ToAddresses(s, full, wrong);
                s.Click(kTest);
                s.Advance(30s);
                break;
            case SecurityScreen:
                ToNetworks(s, full);
                s.Click(kNext);
                break;
            case IPAddressingScreen:
                ToAddresses(s, full, right);
                break;
            case ProfileUpdatedScreen:
                ToNetworks(s, full);
                s.Type(12024, u"Garden");
                rig.driver.AnswerNextMessageBox(IDNO);
                s.Click(kFinish);
                break;
            default:
                break;
        }
    }
};

TEST_P(CancelEverywhere, EndsWithCancelAndThePrinterOutOfConfigurationMode) {
    const auto [screen, full] = GetParam();
    auto wizard = rig.MakeWizard(full, 1, {Scanned("Office", 6, NETWORK_MODE_SHARED, DATA_MODE_WEP_128BIT)});
    rig.driver.OnNextModal([&](Mfc::ModalSession& s) {
        Reach(s, screen, full);
        ASSERT_EQ(ScreenOf(s), screen) << s.Render();
        ASSERT_TRUE(s.Enabled(kCancel));
        s.Click(kCancel);
    });
    EXPECT_EQ(wizard->DoModal(), IDCANCEL);
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(rig.dock->GetCounters().enters, rig.dock->GetCounters().leaves);
    // Only a committed profile stays on the printer.
    const bool untouched =
        rig.dock->FindProfile(1) == DockProfile(1, "Office") && rig.dock->FindProfile(2) == DockProfile(2, "Home");
    EXPECT_EQ(untouched, screen != ProfileUpdatedScreen);
    rig.driver.Advance(10s);
    EXPECT_TRUE(rig.dock->WaitForNetwork("", 5s));
    EXPECT_EQ(rig.driver.MessageBoxes().size(), screen == ProfileUpdatedScreen ? 1u : 0u);
}

std::string CaseName(const ::testing::TestParamInfo<CancelCase>& info) {
    static const char* const names[] = {"Welcome",      "ProfileSelection", "DockName",     "NetworkSelection",
                                        "Searching",    "FoundNext",        "FoundBack",    "NotFoundNext",
                                        "NotFoundBack", "Security",         "IPAddressing", "ProfileUpdated"};
    return std::string(names[info.param.screen]) + (info.param.full ? "Full" : "Partial");
}

INSTANTIATE_TEST_SUITE_P(Screens, CancelEverywhere,
                         ::testing::Values(CancelCase{WelcomeScreen, true}, CancelCase{ProfileSelectionScreen, true},
                                           CancelCase{DockNameScreen, false}, CancelCase{NetworkSelectionScreen, true},
                                           CancelCase{SearchingScreen, true}, CancelCase{PrinterFoundNextScreen, true},
                                           CancelCase{PrinterFoundBackScreen, false},
                                           CancelCase{PrinterNotFoundNextScreen, true},
                                           CancelCase{PrinterNotFoundBackScreen, false},
                                           CancelCase{SecurityScreen, true}, CancelCase{IPAddressingScreen, false},
                                           CancelCase{ProfileUpdatedScreen, true}),
                         CaseName);

}  // namespace

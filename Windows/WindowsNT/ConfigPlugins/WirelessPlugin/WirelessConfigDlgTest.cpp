// The Wi-Fi plug-in end to end: loaded as the utility loads it, its pane
// inside a host dialog the test driver works, against the simulated dock on
// the wizard's machine (regulatory document installed, host id set, access
// points in range, announcements through the fake DNS-SD).
#include "PluginPaneTestSupport.h"
#include "WizardTestSupport.h"

#include "Mfc/Layer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace Dock = Simulators::Dock;
using Mfc::PutClipboardText;
using Simulators::DockPrinter;
using WizardTest::Rig;

constexpr int kProfileList = 12004;
constexpr int kRenameButton = 12009;
constexpr int kNameEdit = 12005;
constexpr int kSsidEdit = 12024;
constexpr int kFindButton = 12003;
constexpr int kAdHocCheck = 12032;
constexpr int kChannelList = 12025;
constexpr int kAdvancedButton = 12002;
constexpr int kBluetoothCheck = 11035;
constexpr int kBluetoothNameEdit = 12010;
constexpr int kPinEdit = 12023;
constexpr int kTrustedCheck = 12047;

// Entries of the list on the rig's dock: the factory profile, Office,
// Home, then Bluetooth.
constexpr int kFactoryEntry = 0;
constexpr int kOfficeEntry = 1;
constexpr int kHomeEntry = 2;
constexpr int kBluetoothEntry = 3;

const std::u16string kApplyQuestion = u"You have made changes to this profile. Do you want to apply your changes now?";
const std::u16string kHostQuestion =
    u"Should the default host for transfers be updated? \n\nWhen the printer is using this profile, and the "
    u"'transfer' button is pressed, the pictures will not be sent to this computer.  Do you want to change the "
    u"profile so that transfers will come to this computer?";
const std::u16string kUnknownError = u"An unknown error occurred.";
const std::u16string kUnsupported =
    u"The profile contains selections that are not supported by this version of the software. Please install the "
    u"version of the software that came with your printer and try again.";
const std::u16string kRepairQuestion =
    u"Changing the device name or PIN number will require you to re-pair all of your Bluetooth devices. Are you "
    u"sure you want to do this?";
const std::u16string kOtherNetwork =
    u"Some other settings in this network configuration may be specific to a different network (SSID).  Please "
    u"review the other screens in order to ensure that the configuration is correct.";
const std::u16string kNotFound = u"The printer could not be located on the network.";
const std::u16string kFactoryNotTested =
    u"The factory profile cannot be tested. Please choose one of your own profiles in the list and test that "
    u"one.";

// A profile secured in a way the pane cannot edit.
Dock::Profile WpaProfile(int id, const std::string& name) {
    Dock::Profile wpa = WizardTest::DockProfile(id, name);
    wpa.wifi.network = Dock::NetworkMode::WpaPsk;
    wpa.wifi.data = Dock::DataMode::Tkip;
    wpa.wifi.keys = Dock::KeyKind::WpaPsk;
    wpa.wifi.wpaKey = "passphrase";
    return wpa;
}

// The row of a network list (12045) showing `ssid`; fails the test when
// there is none.
int RowOf(const Mfc::ModalSession& s, const char16_t* ssid) {
    const auto list = s.Rows(12045);
    const auto row = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r[1] == CString(ssid); });
    EXPECT_NE(row, list.end()) << s.Render();
    return row == list.end() ? -1 : static_cast<int>(row - list.begin());
}

// Counts the beeps of the dialog layer.
class BeepCounter : public Mfc::WindowObserver {
public:
    BeepCounter() { Mfc::AddWindowObserver(this); }
    ~BeepCounter() override { Mfc::RemoveWindowObserver(this); }
    void OnBeep(UINT) override { ++beeps; }
    int beeps = 0;
};

class WirelessConfigTest : public ::testing::Test {
protected:
    WirelessConfigTest() {
        Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, WizardTest::kInstallKey, u"InstallPath",
                                                    WizardTest::kInstallPath);
        session_.emplace(rig.driver.BeginModal(host_.Window()));
    }
    ~WirelessConfigTest() override {
        plugin.Unload();
        session_.reset();
    }

    CBaseConfigDlg& Open() { return host_.Embed(plugin, u"Dessmar"); }
    CBaseConfigDlg& OpenAndRead() {
        CBaseConfigDlg& dialog = Open();
        EXPECT_EQ(dialog.NewPrinterSelected(rig.printer, PrinterConfig()), kConfigSuccess);
        rig.dock->ClearHistory();
        return dialog;
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const auto& request : rig.dock->Requests()) commands.push_back(request.command);
        return commands;
    }
    std::vector<std::u16string> Boxes() const {
        std::vector<std::u16string> texts;
        for (const auto& box : rig.driver.MessageBoxes()) texts.push_back(box.request.text);
        return texts;
    }
    // The profile as the pane read it from the dock.
    Profile ReadProfile(int id) {
        for (const Profile& p : rig.ReadProfiles()) {
            if (p.GetId() == id) return p;
        }
        ADD_FAILURE() << "no profile " << id;
        return Profile();
    }

    Mfc::ModalSession& Pane() { return *session_; }

    // In the partial wizard on its network screen: scans (the warning
    // accepted), chooses Cafe and finishes. The number of networks found.
    int ChooseCafeAndFinish(Mfc::ModalSession& w) {
        EXPECT_EQ(WizardTest::ScreenOf(w), NetworkSelectionScreen) << w.Render();
        rig.driver.AnswerNextMessageBox(IDOK);  // the scan interrupts printing
        w.Click(13128);
        w.PumpUntil([&] { return !w.Rows(12045).empty(); });
        const int rows = static_cast<int>(w.Rows(12045).size());
        w.ClickRow(12045, RowOf(w, u"Cafe"));
        w.Click(WizardTest::kFinish);
        return rows;
    }

    Rig rig;
    ConfigPlugin plugin;

private:
    PluginTest::PaneHost host_;
    std::optional<Mfc::ModalSession> session_;
};

TEST_F(WirelessConfigTest, AFailedReadLeavesAnEmptyDisabledPaneThatWritesNothing) {
    CBaseConfigDlg& dialog = OpenAndRead();
    rig.dock->SetFault("getAllProfiles", DockPrinter::Fault{.body = std::string("<dockConfig>")});
    EXPECT_EQ(dialog.NewPrinterSelected(rig.printer, PrinterConfig()), kConfigUnreachable);
    EXPECT_TRUE(Boxes().empty()) << "a failed read is not told";
    EXPECT_TRUE(Pane().ComboItems(kProfileList).empty());
    EXPECT_EQ(Pane().Text(kSsidEdit), u"") << "nothing of the earlier read stays";
    for (int id : {kProfileList, kNameEdit, kSsidEdit, kFindButton, kAdvancedButton, kRenameButton}) {
        EXPECT_FALSE(Pane().Enabled(id)) << id;
    }
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(rig.dock->GetCounters().enters, rig.dock->GetCounters().leaves);
    rig.dock->ClearHistory();
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    EXPECT_EQ(dialog.TestConnection(), kConfigInvalid);
    EXPECT_TRUE(rig.dock->Requests().empty());
}

TEST_F(WirelessConfigTest, ARefusedBluetoothReadLeavesOnlyThatEntryUnreadableAndUnwritten) {
    CBaseConfigDlg& dialog = Open();
    rig.dock->SetFault("getBluetoothProfile", DockPrinter::Fault{.result = 3});
    ASSERT_EQ(dialog.NewPrinterSelected(rig.printer, PrinterConfig()), kConfigSuccess);
    EXPECT_EQ(Pane().ComboItems(kProfileList), (std::vector<CString>{u"Default", u"Office", u"Home", u"Bluetooth"}));
    EXPECT_EQ(Pane().Text(kSsidEdit), u"HomeNet");
    EXPECT_TRUE(Pane().Enabled(kSsidEdit));

    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    for (int id : {kBluetoothCheck, kBluetoothNameEdit, kPinEdit, kTrustedCheck}) {
        EXPECT_FALSE(Pane().Enabled(id)) << id;
    }
    rig.dock->ClearHistory();
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    EXPECT_TRUE(rig.dock->Requests().empty()) << "nothing of an unread entry goes back";
    EXPECT_EQ(rig.dock->Bluetooth().friendlyName, "Glimmer Dock");
}

TEST_F(WirelessConfigTest, ShowsTheProfilesThenBluetoothWithTheLastConfiguredProfileChosen) {
    CBaseConfigDlg& dialog = OpenAndRead();
    EXPECT_EQ(Pane().ComboItems(kProfileList), (std::vector<CString>{u"Default", u"Office", u"Home", u"Bluetooth"}));
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry);
    EXPECT_EQ(Pane().Text(kNameEdit), u"Home dock");
    EXPECT_EQ(Pane().Text(kSsidEdit), u"HomeNet");
    EXPECT_FALSE(Pane().Visible(kChannelList)) << "a channel only for ad-hoc";
    EXPECT_FALSE(Pane().Visible(kBluetoothNameEdit));
    EXPECT_EQ(dialog.GetPrinterGuid(), CString(rig.dock->Guid().c_str()));
    EXPECT_EQ(dialog.GetOptionalButtons(), 7u);
    EXPECT_TRUE(dialog.AreSettingsSaved());

    Pane().Check(kAdHocCheck);
    EXPECT_TRUE(Pane().Visible(kChannelList));
    EXPECT_EQ(Pane().ComboItems(kChannelList).size(), 11u) << "the US channels";
    EXPECT_FALSE(dialog.AreSettingsSaved());

    // The factory profile keeps its network: only its names can change.
    rig.driver.AnswerNextMessageBox(IDNO);
    Pane().SelectCombo(kProfileList, 0);
    EXPECT_TRUE(Pane().Enabled(kNameEdit));
    EXPECT_TRUE(Pane().Enabled(kRenameButton));
    EXPECT_FALSE(Pane().Enabled(kSsidEdit));
    EXPECT_FALSE(Pane().Enabled(kAdvancedButton));

    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    EXPECT_TRUE(Pane().Visible(kBluetoothNameEdit));
    EXPECT_FALSE(Pane().Visible(kSsidEdit));
    EXPECT_EQ(Pane().Text(kBluetoothNameEdit), u"Glimmer Dock");
    EXPECT_EQ(Pane().Text(kPinEdit), u"1234");
    Pane().Check(kBluetoothCheck, false);
    EXPECT_FALSE(Pane().Enabled(kBluetoothNameEdit));
    EXPECT_FALSE(Pane().Enabled(kPinEdit));
    EXPECT_TRUE(Pane().Enabled(kBluetoothCheck));
}

TEST_F(WirelessConfigTest, ProfilesWithWpaOrAesCannotBeChosenAndTheSelectionStays) {
    const Dock::Profile wpa = WpaProfile(3, "Wpa");
    Dock::Profile aes = wpa;
    aes.id = 4;
    aes.profileName = "Aes";
    aes.wifi.data = Dock::DataMode::Aes;
    rig.dock->PutProfile(wpa);
    rig.dock->PutProfile(aes);
    CBaseConfigDlg& dialog = OpenAndRead();
    ASSERT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry) << "an unusable profile is not chosen for the user";

    for (int entry : {3, 4}) {
        rig.driver.ExpectMessageBox(kUnsupported, IDOK);
        Pane().SelectCombo(kProfileList, entry);
        EXPECT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry);
        EXPECT_EQ(Pane().Text(kSsidEdit), u"HomeNet");
    }
    // The record still has Home selected: an edit goes to Home.
    Pane().Type(kNameEdit, u"Hall dock");
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->friendlyName, "Hall dock");
    EXPECT_EQ(rig.dock->FindProfile(3)->friendlyName, "Wpa dock");
}

TEST_F(WirelessConfigTest, NoThenAnEntryThatCannotBeChosenKeepsTheEditsShownAndMarked) {
    rig.dock->PutProfile(WpaProfile(3, "Wpa"));
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Type(kNameEdit, u"Hall dock");
    rig.driver.ExpectMessageBox(kApplyQuestion, IDNO);
    rig.driver.ExpectMessageBox(kUnsupported, IDOK);
    Pane().SelectCombo(kProfileList, 3);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry);
    EXPECT_EQ(Pane().Text(kNameEdit), u"Hall dock");
    EXPECT_FALSE(dialog.AreSettingsSaved()) << "what is shown is what an apply writes";

    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->friendlyName, "Hall dock");
}

TEST_F(WirelessConfigTest, ValidationRefusesWithItsMessageAndSendsNothing) {
    rig.dock->SetPin("12a4");
    Dock::Profile longName = WizardTest::DockProfile(1, "Office");
    longName.friendlyName = std::string(33, 'n');
    rig.dock->PutProfile(longName);
    CBaseConfigDlg& dialog = OpenAndRead();
    auto refused = [&](const std::u16string& message, int focus) {
        rig.driver.ExpectMessageBox(message, IDOK);
        EXPECT_EQ(dialog.ApplySettings(), kConfigInvalid);
        EXPECT_TRUE(Pane().Focused(focus));
        EXPECT_EQ(Pane().Selection(focus), std::make_pair(0, Pane().Text(focus).GetLength()));
    };

    Pane().SelectCombo(kProfileList, kOfficeEntry);
    refused(u"The device name  is too long. Please enter a shorter name.", kNameEdit);
    Pane().Type(kNameEdit, u"");
    refused(u"Please enter a device name.", kNameEdit);
    Pane().Type(kNameEdit, u"Office dock");
    Pane().Type(kSsidEdit, u"");
    refused(u"Please enter an SSID.", kSsidEdit);
    // 16 characters, 32 bytes fit; one more byte does not.
    Pane().Type(kSsidEdit, std::u16string(15, u'\u00E9') + u"x");
    rig.driver.AnswerNextMessageBox(IDNO);
    EXPECT_EQ(dialog.ApplySettings(), kConfigSuccess);
    Pane().Type(kSsidEdit, std::u16string(16, u'\u00E9') + u"x");
    refused(u"The SSID is too long. Please enter a shorter SSID.", kSsidEdit);
    Pane().Type(kSsidEdit, u"Office");

    rig.driver.AnswerNextMessageBox(IDNO);
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    refused(u"Your PIN can only contain the numeric characters 0-9.", kPinEdit);
    Pane().Type(kPinEdit, u"123");
    refused(u"Your PIN must be four digits long.", kPinEdit);
    rig.dock->SetPin("12345");
    ASSERT_EQ(dialog.NewPrinterSelected(rig.printer, PrinterConfig()), kConfigSuccess);
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    refused(u"Your PIN must be four digits long.", kPinEdit);
    Pane().Type(kPinEdit, u"4321");
    // The Bluetooth name is held to its length as sent: 17 two-byte
    // characters are 34 bytes.
    Pane().Type(kBluetoothNameEdit, std::u16string(17, u'\u00E9'));
    refused(u"The device name  is too long. Please enter a shorter name.", kBluetoothNameEdit);
    Pane().Type(kBluetoothNameEdit, std::u16string(16, u'\u00E9'));
    rig.dock->ClearHistory();
    rig.driver.ExpectMessageBox(kRepairQuestion, IDCANCEL);
    EXPECT_EQ(dialog.ApplySettings(), kConfigInvalid);
    EXPECT_TRUE(rig.dock->Requests().empty());

    rig.driver.ExpectMessageBox(kRepairQuestion, IDOK);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setPrinterSettings", "setBluetoothProfileData"}));
    EXPECT_EQ(rig.dock->Pin(), "4321");
    EXPECT_EQ(rig.dock->Bluetooth().friendlyName.size(), 32u);
}

TEST_F(WirelessConfigTest, AnSsidChangeOnAStaticOrSecuredProfileWarnsOnceUntilTheNextApply) {
    Dock::Profile fixed = WizardTest::DockProfile(2, "Home");
    fixed.ip = Dock::IpSettings{false, "192.0.2.10", "255.255.255.0", "192.0.2.1"};
    rig.dock->PutProfile(fixed);
    CBaseConfigDlg& dialog = OpenAndRead();
    rig.driver.ExpectMessageBox(kOtherNetwork, IDOK);
    Pane().Type(kSsidEdit, u"Elsewhere");
    Pane().Type(kSsidEdit, u"Elsewhere2");
    EXPECT_EQ(Boxes().size(), 1u);

    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    rig.driver.ExpectMessageBox(kOtherNetwork, IDOK);
    Pane().Type(kSsidEdit, u"Third");
    EXPECT_EQ(Boxes().size(), 3u);

    // An open profile with an automatic address has nothing to warn of.
    rig.driver.AnswerNextMessageBox(IDNO);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    Pane().Type(kSsidEdit, u"Other");
    EXPECT_EQ(Boxes().size(), 4u);
}

TEST_F(WirelessConfigTest, ApplySendsTheSettingsThenTheOneEditedProfile) {
    for (int answer : {IDYES, IDNO}) {
        SCOPED_TRACE(answer == IDYES ? "host id taken" : "host id kept");
        Profile expected = ReadProfile(2);
        CBaseConfigDlg& dialog = OpenAndRead();
        Pane().Type(kSsidEdit, u"Cafe");
        rig.driver.ExpectMessageBox(kHostQuestion, answer);
        ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
        EXPECT_TRUE(dialog.AreSettingsSaved());

        WiFiSettings wifi(expected.GetWiFiSettings());
        wifi.SetSSID(Tessary::I8NString("Cafe"));
        expected.SetWiFiSettings(wifi);
        if (answer == IDYES) expected.SetDefaultHostID(WizardTest::kHostId);
        EXPECT_EQ(Commands(), (std::vector<std::string>{"setPrinterSettings", "setProfileData"}));
        ASSERT_EQ(rig.ProfileWrites().size(), 1u);
        EXPECT_EQ(rig.ProfileWrites()[0], Rig::Write(expected));
        PrinterSettings pin;
        pin.pin = "1234";
        std::string settings;
        BuildSetPrinterSettingsRequest("dockConfig", pin, settings);
        EXPECT_EQ(rig.dock->Requests()[0].body, settings);
        EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "Cafe");
        EXPECT_EQ(rig.dock->FindProfile(2)->defaultHostId, answer == IDYES ? "HOST-THIS-PC" : "HOST-ELSEWHERE");
        EXPECT_FALSE(rig.dock->InConfigMode());
        plugin.Unload();
        rig.dock->PutProfile(WizardTest::DockProfile(2, "Home"));
    }
}

TEST_F(WirelessConfigTest, TheFactoryEntryTakesANewDeviceNameAndNothingElse) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().SelectCombo(kProfileList, kFactoryEntry);
    ASSERT_FALSE(Pane().Enabled(kSsidEdit));
    Dock::Profile expected = *rig.dock->FindProfile(0);
    expected.friendlyName = "Porch dock";
    Pane().Type(kNameEdit, u"Porch dock");
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(Boxes().empty()) << "nothing disabled is judged, nothing else is asked";
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setPrinterSettings", "setProfileData"}));
    EXPECT_EQ(*rig.dock->FindProfile(0), expected);

    // There is no network of the user's to try.
    rig.dock->ClearHistory();
    rig.driver.ExpectMessageBox(kFactoryNotTested, IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigInvalid);
    EXPECT_TRUE(rig.dock->Requests().empty());
}

TEST_F(WirelessConfigTest, APinDroppedWithNoIsNeitherShownNorSentLater) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    Pane().Type(kPinEdit, u"9876");
    rig.dock->SetFault("setPrinterSettings", DockPrinter::Fault{.times = 1, .result = 5});
    rig.driver.ExpectMessageBox(kRepairQuestion, IDOK);
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    rig.driver.ExpectMessageBox(kApplyQuestion, IDNO);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    EXPECT_EQ(Pane().Text(kPinEdit), u"1234");

    Pane().SelectCombo(kProfileList, kOfficeEntry);
    Pane().Type(kNameEdit, u"Hall dock");
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(1)->friendlyName, "Hall dock");
    EXPECT_EQ(rig.dock->Pin(), "1234");
}

TEST_F(WirelessConfigTest, AnApplyThatWritesNoProfileAsksNothingOfItsHost) {
    CBaseConfigDlg& dialog = OpenAndRead();
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setPrinterSettings"}));
    EXPECT_EQ(rig.dock->FindProfile(2)->defaultHostId, "HOST-ELSEWHERE");
}

TEST_F(WirelessConfigTest, AFailedApplyIsToldAndKeepsTheEditForTheNextApply) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Type(kSsidEdit, u"Cafe");
    rig.dock->SetFault("setProfileData", DockPrinter::Fault{.times = 1, .result = 7});
    rig.driver.AnswerNextMessageBox(IDNO);
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    EXPECT_FALSE(dialog.AreSettingsSaved()) << "the edit on show is still to be applied";
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "HomeNet");

    rig.dock->ClearHistory();
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setPrinterSettings", "setProfileData"}));
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "Cafe");
    EXPECT_TRUE(dialog.AreSettingsSaved());
}

TEST_F(WirelessConfigTest, AFailedYesApplyOnAnotherEntryPutsTheListBack) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Type(kNameEdit, u"Hall dock");
    rig.dock->SetFault("setPrinterSettings", DockPrinter::Fault{.times = 1, .result = 5});
    rig.driver.ExpectMessageBox(kApplyQuestion, IDYES);
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry);
    EXPECT_EQ(Pane().Text(kNameEdit), u"Hall dock");

    // The next apply stores Home under its own name, Office is untouched.
    Pane().Type(kNameEdit, u"Hall dock 2");
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->profileName, "Home");
    EXPECT_EQ(rig.dock->FindProfile(2)->friendlyName, "Hall dock 2");
    EXPECT_EQ(rig.dock->FindProfile(1)->profileName, "Office");
    EXPECT_EQ(rig.dock->FindProfile(1)->friendlyName, "Office dock");

    // Cancel puts the list back too; a successful Yes moves on.
    Pane().Type(kNameEdit, u"Hall dock 3");
    rig.driver.ExpectMessageBox(kApplyQuestion, IDCANCEL);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kHomeEntry);
    rig.driver.ExpectMessageBox(kApplyQuestion, IDYES);
    rig.driver.AnswerNextMessageBox(IDNO);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kOfficeEntry);
    EXPECT_EQ(Pane().Text(kNameEdit), u"Office dock");
    EXPECT_EQ(rig.dock->FindProfile(2)->friendlyName, "Hall dock 3");
    EXPECT_EQ(rig.dock->FindProfile(2)->profileName, "Home");
}

TEST_F(WirelessConfigTest, ThePinEditTakesDigitsAndShortDigitPastesOnly) {
    OpenAndRead();
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    BeepCounter beeps;
    Pane().Type(kPinEdit, u"1a-2 3");
    EXPECT_EQ(Pane().Text(kPinEdit), u"123");
    EXPECT_EQ(beeps.beeps, 3);

    struct Case {
        std::u16string clipboard;
        std::u16string after;
        int beeps;
    };
    for (const Case& c :
         {Case{u"98", u"98", 0}, Case{u"9876", u"9876", 0}, Case{u"98765", u"", 1}, Case{u"9a", u"", 1}}) {
        SCOPED_TRACE(Mfc::Utf8(c.clipboard));
        PutClipboardText(c.clipboard);
        beeps.beeps = 0;
        Pane().Type(kPinEdit, u"");
        Pane().Type(kPinEdit, u"\x16");
        EXPECT_EQ(Pane().Text(kPinEdit), c.after);
        EXPECT_EQ(beeps.beeps, c.beeps);
    }
    // Copy and cut pass; the editing keys too.
    Pane().Type(kPinEdit, u"12\x03\x18\b");
    EXPECT_EQ(Pane().Text(kPinEdit), u"1");
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
}

TEST_F(WirelessConfigTest, RenameChangesTheEntryAndTheNameWritten) {
    CBaseConfigDlg& dialog = OpenAndRead();
    rig.driver.OnNextModal([](Mfc::ModalSession& rename) {
        rename.Type(13001, u"Hall");
        rename.Click(IDOK);
    });
    Pane().Click(kRenameButton);
    EXPECT_EQ(Pane().ComboItems(kProfileList)[kHomeEntry], u"Hall");
    EXPECT_FALSE(dialog.AreSettingsSaved());
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->profileName, "Hall");

    // A rename left unapplied goes back when another entry is chosen.
    rig.driver.OnNextModal([](Mfc::ModalSession& rename) {
        rename.Type(13001, u"Porch");
        rename.Click(IDOK);
    });
    Pane().Click(kRenameButton);
    rig.driver.AnswerNextMessageBox(IDNO);
    Pane().SelectCombo(kProfileList, kOfficeEntry);
    EXPECT_EQ(Pane().ComboItems(kProfileList)[kHomeEntry], u"Hall");
}

TEST_F(WirelessConfigTest, TheUsersLanguagePicksTheStrings) {
    Mfc::SetUserDefaultLangID(0x0407);
    OpenAndRead();
    EXPECT_EQ(Pane().Text(13132), u"&Drahtlos-Einstellungen :");
    EXPECT_EQ(Pane().Text(11032), u"&SSID :") << "English where the language has no text";
    Mfc::SetUserDefaultLangID(0);
}

TEST_F(WirelessConfigTest, ThePartialWizardsNetworkLandsInTheEditedProfile) {
    CBaseConfigDlg& dialog = OpenAndRead();
    int rows = 0;
    rig.driver.OnNextModal([&](Mfc::ModalSession& w) {
        w.Click(WizardTest::kNext);
        EXPECT_EQ(w.Text(13002), u"Home dock");
        w.Click(WizardTest::kNext);
        rows = ChooseCafeAndFinish(w);
    });
    ASSERT_EQ(dialog.RunWizard(), kConfigSuccess);
    EXPECT_EQ(rows, 2) << "the access points in range";
    EXPECT_EQ(Pane().Text(kSsidEdit), u"Cafe");
    EXPECT_FALSE(dialog.AreSettingsSaved());
    EXPECT_FALSE(rig.dock->InConfigMode());

    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "Cafe");
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.channel, 1);
}

TEST_F(WirelessConfigTest, TheWizardFromTheBluetoothEntryLeavesItsWorkInTheProfileItEdited) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().SelectCombo(kProfileList, kBluetoothEntry);
    rig.driver.OnNextModal([&](Mfc::ModalSession& w) {
        w.Click(WizardTest::kNext);
        EXPECT_EQ(w.Text(13002), u"Office dock") << "the first profile the wizard may change";
        w.Type(13002, u"Porch dock");
        w.Click(WizardTest::kNext);
        ChooseCafeAndFinish(w);
    });
    ASSERT_EQ(dialog.RunWizard(), kConfigSuccess);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), kOfficeEntry);
    EXPECT_EQ(Pane().Text(kNameEdit), u"Porch dock");
    EXPECT_EQ(Pane().Text(kSsidEdit), u"Cafe");
    EXPECT_TRUE(Pane().Enabled(kSsidEdit));
    EXPECT_FALSE(dialog.AreSettingsSaved());

    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(1)->friendlyName, "Porch dock");
    EXPECT_EQ(rig.dock->FindProfile(1)->wifi.ssid, "Cafe");
    EXPECT_EQ(rig.dock->FindProfile(0)->friendlyName, "Glimmer Dock");
    EXPECT_EQ(rig.dock->FindProfile(0)->wifi.ssid, "");
    EXPECT_EQ(rig.dock->Bluetooth().friendlyName, "Glimmer Dock");
}

TEST_F(WirelessConfigTest, TheWizardFromTheFactoryEntrySetsUpAnUnusedProfile) {
    Dock::Profile unused = WizardTest::DockProfile(3, "Profile 3");
    unused.wifi.ssid.clear();
    rig.dock->PutProfile(unused);
    const Dock::Profile factory = *rig.dock->FindProfile(0);
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().SelectCombo(kProfileList, 0);
    ASSERT_FALSE(Pane().Enabled(kSsidEdit));
    rig.driver.OnNextModal([&](Mfc::ModalSession& w) {
        w.Click(WizardTest::kNext);
        EXPECT_EQ(w.Text(13002), u"Profile 3 dock");
        w.Type(13002, u"Porch dock");
        w.Click(WizardTest::kNext);
        ChooseCafeAndFinish(w);
    });
    ASSERT_EQ(dialog.RunWizard(), kConfigSuccess);
    EXPECT_EQ(Pane().ComboIndex(kProfileList), 3);
    EXPECT_EQ(Pane().Text(kSsidEdit), u"Cafe");
    EXPECT_TRUE(Pane().Enabled(kSsidEdit));

    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(3)->friendlyName, "Porch dock");
    EXPECT_EQ(rig.dock->FindProfile(3)->wifi.ssid, "Cafe");
    EXPECT_EQ(rig.dock->FindProfile(0)->friendlyName, factory.friendlyName);
    EXPECT_EQ(rig.dock->FindProfile(0)->wifi.ssid, factory.wifi.ssid);
}

TEST_F(WirelessConfigTest, TestConnectionWritesOnlyAnEditAndPutsBackWhatThePrinterHeld) {
    CBaseConfigDlg& dialog = OpenAndRead();
    // Unmodified: the printer is searched as it is.
    rig.driver.OnNextModal([](Mfc::ModalSession& progress) { progress.Click(IDCANCEL); });
    rig.driver.ExpectMessageBox(kNotFound, IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigSuccess);
    EXPECT_TRUE(rig.dock->Requests().empty());

    // Modified to the open network in range: the dock joins it and is found,
    // then gets back the profiles and settings it had.
    const std::vector<Profile> held = rig.ReadProfiles();
    std::string restore;
    BuildSetProfileDataRequest(held, restore);
    Pane().Type(kSsidEdit, u"Cafe");
    rig.driver.OnNextModal([](Mfc::ModalSession& progress) {
        progress.Advance(std::chrono::seconds(5));  // the dock takes this long to join
        EXPECT_TRUE(progress.PumpUntil([&] { return !progress.IsOpen(); }));
    });
    rig.driver.ExpectMessageBox(u"The printer has been successfully located on the network.", IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigSuccess);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setProfileData", "setProfileData", "setPrinterSettings"}));
    ASSERT_EQ(rig.ProfileWrites().size(), 2u);
    EXPECT_NE(rig.ProfileWrites()[0].find("<ssid>Cafe</ssid>"), std::string::npos) << rig.ProfileWrites()[0];
    EXPECT_EQ(rig.ProfileWrites()[1], restore);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "HomeNet");
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_FALSE(dialog.AreSettingsSaved()) << "the edit stays to be applied";
    // The restored profiles take the dock off Cafe, on its radio's thread.
    ASSERT_TRUE(rig.dock->WaitForNetwork("", std::chrono::seconds(30)));

    // The search gives up and the first restore fails: the restore is tried
    // again, the failure told, the channel released.
    rig.dock->ClearHistory();
    rig.driver.OnNextModal([&](Mfc::ModalSession& progress) {
        rig.dock->SetFault("setProfileData", DockPrinter::Fault{.times = 1, .result = 5});
        progress.Click(IDCANCEL);
    });
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigInvalid);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"setProfileData", "setProfileData", "setProfileData", "setPrinterSettings"}));
    EXPECT_EQ(rig.ProfileWrites()[2], restore);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "HomeNet");
    EXPECT_FALSE(rig.dock->InConfigMode());
    EXPECT_EQ(rig.dock->GetCounters().enters, rig.dock->GetCounters().leaves);
    EXPECT_FALSE(dialog.AreSettingsSaved()) << "a failed test keeps the edit to be applied";

    // The dock takes the trial profile but its answer is unreadable: what
    // it held goes back all the same, and no search runs.
    rig.dock->ClearHistory();
    Pane().Type(kSsidEdit, u"Cafe");
    rig.dock->SetFault("setProfileData", DockPrinter::Fault{.times = 1, .body = std::string("<dockConfig>")});
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigInvalid);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setProfileData", "setProfileData", "setPrinterSettings"}));
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "HomeNet");
    EXPECT_FALSE(rig.dock->InConfigMode());

    // A trial write the dock refuses leaves nothing to put back.
    rig.dock->ClearHistory();
    Pane().Type(kSsidEdit, u"Cafe");
    rig.dock->SetFault("setProfileData", DockPrinter::Fault{.times = 1, .result = 5});
    rig.driver.ExpectMessageBox(kUnknownError, IDOK);
    EXPECT_EQ(dialog.TestConnection(), kConfigInvalid);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"setProfileData"}));
    EXPECT_FALSE(rig.dock->InConfigMode());
}

TEST_F(WirelessConfigTest, AdvancedAndFindNetworksEditTheProfileThatIsApplied) {
    CBaseConfigDlg& dialog = OpenAndRead();
    rig.driver.OnNextModal([](Mfc::ModalSession& advanced) {
        advanced.SelectCombo(11033, 1);
        advanced.Type(12029, u"ABCDEFABCD");
        advanced.Type(12030, u"ABCDEFABCD");
        advanced.Click(IDOK);
    });
    Pane().Click(kAdvancedButton);
    EXPECT_FALSE(dialog.AreSettingsSaved());
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.data, Dock::DataMode::Wep64);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.wepKeys[0], "ABCDEFABCD");

    // The search: a warning first, then the printer's scan; a secure
    // network chosen leads to its key.
    rig.dock->ClearHistory();
    rig.driver.AnswerNextMessageBox(IDOK);
    rig.driver.OnNextModal([](Mfc::ModalSession& find) {
        ASSERT_TRUE(find.PumpUntil([&] { return find.Rows(12045).size() == 2; }));
        find.ClickRow(12045, 0);
        find.Click(IDOK);
    });
    rig.driver.ExpectMessageBox(
        u"You have selected a secure network. You must enter the security information in the "
        u"Advanced dialog in order to connect to this network.",
        IDOK);
    rig.driver.OnNextModal([](Mfc::ModalSession& advanced) {
        advanced.Type(12029, CString(WizardTest::kOfficeKey.c_str()).str());
        advanced.Type(12030, CString(WizardTest::kOfficeKey.c_str()).str());
        advanced.Click(IDOK);
    });
    Pane().Click(kFindButton);
    EXPECT_EQ(Pane().Text(kSsidEdit), u"Office");
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    const Dock::WifiSettings office = rig.dock->FindProfile(2)->wifi;
    EXPECT_EQ(office.ssid, "Office");
    EXPECT_EQ(office.channel, 6);
    EXPECT_EQ(office.network, Dock::NetworkMode::Shared) << "the network's own mode is kept";
    EXPECT_EQ(office.data, Dock::DataMode::Wep128);
    EXPECT_EQ(office.wepKeys[0], WizardTest::kOfficeKey);
    rig.driver.Advance(std::chrono::seconds(5));
    EXPECT_TRUE(rig.dock->WaitForNetwork("Office", std::chrono::seconds(5)));

    // A second search asks nothing and shows what the first one found.
    const auto scans = [&] {
        const auto commands = Commands();
        return std::count(commands.begin(), commands.end(), "findNetworks");
    };
    EXPECT_EQ(scans(), 1);
    const auto boxes = Boxes().size();
    rig.driver.OnNextModal([](Mfc::ModalSession& find) {
        EXPECT_EQ(find.Rows(12045).size(), 2u);
        find.Click(IDCANCEL);
    });
    Pane().Click(kFindButton);
    EXPECT_EQ(Boxes().size(), boxes);
    EXPECT_EQ(scans(), 1);
    EXPECT_TRUE(dialog.AreSettingsSaved());
}

TEST_F(WirelessConfigTest, AFoundNetworkWhoseSecurityCannotBeEditedHereIsRefused) {
    Platform::AccessPoint wpa;
    wpa.ssid = "Lab";
    wpa.authentication = Platform::WifiAuthentication::WpaPsk;
    wpa.encryption = Platform::WifiEncryption::Tkip;
    wpa.wpaKey = "passphrase";
    Platform::GetMachine().Wireless().SetAccessPoints({WizardTest::Office(), WizardTest::Cafe(), wpa});
    CBaseConfigDlg& dialog = OpenAndRead();
    rig.driver.AnswerNextMessageBox(IDOK);
    rig.driver.OnNextModal([](Mfc::ModalSession& find) {
        ASSERT_TRUE(find.PumpUntil([&] { return find.Rows(12045).size() == 3; }));
        find.ClickRow(12045, RowOf(find, u"Lab"));
        find.Click(IDOK);
    });
    rig.driver.ExpectMessageBox(kUnsupported, IDOK);
    Pane().Click(kFindButton);
    EXPECT_EQ(Pane().Text(kSsidEdit), u"HomeNet");
    EXPECT_TRUE(dialog.AreSettingsSaved());
    // What is written keeps the profile's own network.
    Pane().Type(kNameEdit, u"Hall dock");
    rig.driver.AnswerNextMessageBox(IDNO);
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.ssid, "HomeNet");
    EXPECT_EQ(rig.dock->FindProfile(2)->wifi.data, Dock::DataMode::None);
}

}  // namespace

// Test rig of the wizard (tests only): a fresh machine whose install folder
// holds our regulatory-domain document, the simulated dock on its USB bus
// announcing itself through the fake DNS-SD once it joins one of the
// machine's access points, a test driver on the manual clock, and wizards
// made for that dock.
//
//   WizardTest::Rig rig;                       // VELMO_SOURCE_DIR must name the source tree
//   rig.dock->PutProfile(WizardTest::DockProfile(1, "Office"));
//   auto wizard = rig.MakeWizard(true);       // the dock's profiles, the first selected
//   auto s = rig.driver.BeginModal(*wizard);  // welcome screen
#pragma once

#include "AssistantDialog.h"

#include "Common/ConfigSupport/ReaderTestSupport.h"
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/Requests.h"
#include "FakeDnsSd.h"
#include "Mfc/GTestDriver.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Simulators/DockPrinter/announce/Announcers.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace WizardTest {

inline constexpr const char16_t* kInstallKey = u"SOFTWARE\\Velmo\\HV7300";
inline constexpr const char16_t* kInstallPath = u"C:\\Program Files\\Velmo";
inline constexpr const char16_t* kHostIdKey = u"SOFTWARE\\Velmo\\Velmo Glimmerly software";
inline constexpr const char* kHostId = "HOST-THIS-PC";
inline constexpr int kVendorId = 0x3B7D;
inline constexpr int kProductId = 0x410F;

// Frame buttons.
inline constexpr int kCancel = 2;
inline constexpr int kFinish = 3126;
inline constexpr int kTest = 2011;
inline constexpr int kBack = 3004;
inline constexpr int kNext = 3130;

inline const std::string kOfficeKey = "0123456789ABCDEF0123456789";

// An access point secured with 128-bit WEP, key 1 kOfficeKey, and an open
// one; both in range.
inline Platform::AccessPoint Office() {
    Platform::AccessPoint a;
    a.ssid = "Office";
    a.channel = 6;
    a.authentication = Platform::WifiAuthentication::Shared;
    a.encryption = Platform::WifiEncryption::Wep128;
    a.wepKeys[0] = kOfficeKey;
    return a;
}

inline Platform::AccessPoint Cafe() {
    Platform::AccessPoint a;
    a.ssid = "Cafe";
    a.channel = 1;
    return a;
}

// A profile as the dock stores it: an open infrastructure network.
inline Simulators::Dock::Profile DockProfile(int id, const std::string& name) {
    Simulators::Dock::Profile p;
    p.id = id;
    p.country = "US";
    p.domain = "FCC";
    p.profileName = name;
    p.friendlyName = name + " dock";
    p.defaultHostId = "HOST-ELSEWHERE";
    p.wifi.ssid = name + "Net";
    p.wifi.channel = 11;
    return p;
}

// The screen on display, told by its texts.
inline int ScreenOf(const Mfc::ModalSession& s) {
    const std::string r = s.Render();
    auto has = [&](const char* text) { return r.find(text) != std::string::npos; };
    if (has("By answering just a few")) return WelcomeScreen;
    if (has("Select a profile")) return ProfileSelectionScreen;
    if (has("Enter a name for your printer")) return DockNameScreen;
    if (has("Local Networks")) return NetworkSelectionScreen;
    if (has("being scanned for your printer")) return SearchingScreen;
    if (has("Next to go on")) return PrinterFoundNextScreen;
    if (has("succesfully found")) return PrinterFoundBackScreen;
    if (has("Next to make further settings")) return PrinterNotFoundNextScreen;
    if (has("unable to find")) return PrinterNotFoundBackScreen;
    if (has("security information")) return SecurityScreen;
    if (has("IP address information")) return IPAddressingScreen;
    if (has("Congratulations")) return ProfileUpdatedScreen;
    return -1;
}

// The live buttons, in the frame's order.
inline std::string LiveButtons(const Mfc::ModalSession& s) {
    std::string out;
    const std::pair<int, const char*> buttons[] = {
        {kCancel, "Cancel"}, {kFinish, "Finish"}, {kTest, "Test"}, {kBack, "Back"}, {kNext, "Next"}};
    for (const auto& [id, name] : buttons) {
        if (s.Enabled(id)) out += std::string(out.empty() ? "" : " ") + name;
    }
    return out;
}

// Scanned networks come without keys.
inline WiFiSettings Scanned(const char* ssid, int channel, NetworkMode network, DataMode data) {
    WiFiSettings w;
    w.SetSSID(Tessary::I8NString(ssid));
    w.SetChannel(channel);
    w.SetSecurity(network, data, NullSecurity());
    return w;
}

// The machine's drive C lies in a scratch folder for the life of the rig.
class MachineRoot {
public:
    // Puts a file where the system finds it under a Windows path.
    void Install(const std::u16string& windowsPath, const std::filesystem::path& from) const {
        const std::filesystem::path disk = Platform::MapPath(windowsPath.c_str());
        std::filesystem::create_directories(disk.parent_path());
        std::filesystem::copy_file(from, disk, std::filesystem::copy_options::overwrite_existing);
    }
    void Remove(const std::u16string& windowsPath) const {
        std::filesystem::remove(Platform::MapPath(windowsPath.c_str()));
    }

private:
    TestSupport::ScratchFolderVariable folder_{"VELMO_MACHINE_ROOT", "velmo-wizard"};
};

class Rig {
public:
    Rig() {
        FakeDnsSd::Reset();
        auto& registry = Platform::GetMachine().Registry();
        registry.SetString(HKEY_LOCAL_MACHINE, kInstallKey, u"InstallPath", kInstallPath);
        registry.SetString(HKEY_LOCAL_MACHINE, kHostIdKey, u"QZTDHID", u"HOST-THIS-PC");
        root.Install(std::u16string(kInstallPath) + u"\\RegDomainData.xml",
                     std::filesystem::path(VELMO_SOURCE_DIR) / "data" / "RegDomainData.xml");
        Platform::GetMachine().Wireless().SetAccessPoints({Office(), Cafe()});
        dock->Attach(Platform::GetMachine().Devices().AddHostController(1).rootHub, 1);
        dock->SetAnnouncer(Simulators::Dock::MakeFakeDnsSdAnnouncer());
        dock->PutProfile(DockProfile(1, "Office"));
        dock->PutProfile(DockProfile(2, "Home"));

        const auto id = Simulators::DockPrinter::DefaultIdentity();
        DeviceOnHubMatchedVidPidSerialNum predicate(id.vendorId, id.productId, "GD0001");
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        EXPECT_TRUE(result.IsComplete());
        if (result.IsComplete()) printer = result.GetResult();
    }
    ~Rig() {
        EXPECT_EQ(FakeDnsSd::Violations(), std::vector<std::string>{});
        // The dock's radio stops before the fake's state goes.
        dock.reset();
        FakeDnsSd::Reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // The dock's profiles as the setup assistant reads them, over the channel;
    // the dock's history starts after this.
    std::vector<Profile> ReadProfiles() {
        Win32ConfigAPI api;
        api.OpenByDriverKeyName(printer.driverKeyName, static_cast<int>(printer.maxOutPacketSize),
                                static_cast<int>(printer.maxInPacketSize));
        api.SetConfigMode(true);
        std::vector<Profile> profiles;
        EXPECT_TRUE(GetAllProfiles(api, profiles));
        api.Close(true);
        dock->ClearHistory();
        return profiles;
    }

    std::unique_ptr<CAssistantDialog> MakeWizard(bool full, int selectedIndex = 0,
                                                 const std::vector<WiFiSettings>& networks = {},
                                                 bool confirmScan = false) {
        return MakeWizard(full, ReadProfiles(), selectedIndex, networks, confirmScan);
    }
    std::unique_ptr<CAssistantDialog> MakeWizard(bool full, const std::vector<Profile>& profiles, int selectedIndex,
                                                 const std::vector<WiFiSettings>& networks, bool confirmScan) {
        PrinterSettings settings;
        settings.pin = "1234";
        return std::unique_ptr<CAssistantDialog>(CAssistantDialog::CreateAssistantDialog(
            printer.driverKeyName, static_cast<int>(printer.maxOutPacketSize),
            static_cast<int>(printer.maxInPacketSize), kVendorId, kProductId, dock->Guid(), settings, profiles,
            selectedIndex, networks, confirmScan, full, nullptr));
    }

    // The setProfileData documents the dock received, in order.
    std::vector<std::string> ProfileWrites() const {
        std::vector<std::string> bodies;
        for (const auto& request : dock->Requests()) {
            if (request.command == "setProfileData") bodies.push_back(request.body);
        }
        return bodies;
    }

    // The document that stores exactly this profile.
    static std::string Write(const Profile& profile) {
        std::string request;
        BuildSetProfileDataRequest({profile}, request);
        return request;
    }

    Platform::ScopedFreshMachine machine;
    MachineRoot root;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    std::shared_ptr<Simulators::DockPrinter> dock = std::make_shared<Simulators::DockPrinter>();
    PrinterInfoResult printer;
};

}  // namespace WizardTest

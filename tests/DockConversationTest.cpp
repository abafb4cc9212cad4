// Conversations with the simulated dock through the real hub walk, the
// printer channel and the configuration channel, on the manual clock.
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Requests.h"
#include "Common/NetConfig/Settings.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Tessary/i8n/UTFConversion.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using Platform::Milliseconds;
using Simulators::DockPrinter;
using Bytes = std::vector<BYTE>;

namespace {

namespace Dock = Simulators::Dock;

const Bytes kEnter{0x37, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kLeave{0x37, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The requests as peers send them, byte for byte.
const std::string kGetGuid = "<dockConfig version=\"1.0\"><getPrinterGuid></getPrinterGuid></dockConfig>";
const std::string kGetMac = "<dockConfig version=\"1.0\"><getMacAddress></getMacAddress></dockConfig>";
const std::string kGetSettings = "<dockConfig version=\"1.0\"><getPrinterSettings></getPrinterSettings></dockConfig>";
const std::string kGetSettingsBt =
    "<bluetoothDockConfig version=\"1.0\"><getPrinterSettings></getPrinterSettings></bluetoothDockConfig>";
const std::string kGetProfiles = "<dockConfig version=\"1.0\"><getAllProfiles></getAllProfiles></dockConfig>";
const std::string kFindNetworks = "<dockConfig version=\"1.0\"><findNetworks></findNetworks></dockConfig>";
const std::string kGetBluetooth =
    "<dockConfig version=\"1.0\"><getBluetoothProfile></getBluetoothProfile></dockConfig>";
const std::string kGetBluetoothBt =
    "<bluetoothDockConfig version=\"1.0\"><getBluetoothProfile></getBluetoothProfile></bluetoothDockConfig>";
const std::string kRestartBluetooth =
    "<bluetoothDockConfig version=\"1.0\"><restartBluetooth></restartBluetooth></bluetoothDockConfig>";

Bytes Header(std::size_t length) {
    Bytes out(12, 0);
    out[0] = 0x37;
    out[1] = 0x01;
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<BYTE>(length >> (8 * i));
    return out;
}

// What the host writes for one request: the header, then the body.
Bytes Framed(const std::string& body) {
    Bytes out = Header(body.size());
    out.resize(12 + body.size());
    std::copy(body.begin(), body.end(), out.begin() + 12);
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::string FailureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Tessary::TSException& e) {
        return e.what();
    }
    return "no failure";
}

Dock::Profile HomeProfile() {
    Dock::Profile p;
    p.id = 1;
    p.country = "DE";
    p.domain = "ETSI";
    p.profileName = "Home";
    p.wifi.ssid = "HomeNet";
    p.wifi.channel = 6;
    p.wifi.network = Dock::NetworkMode::WpaPsk;
    p.wifi.data = Dock::DataMode::Tkip;
    p.wifi.keys = Dock::KeyKind::WpaPsk;
    p.wifi.wpaKey = "secret";
    p.friendlyName = "Kitchen";
    return p;
}

std::string Utf8(const Tessary::I8NString& text) {
    return Tessary::UTF16ToUTF8String(text.c_str(), static_cast<int>(text.length()));
}

// The host's profile as the dock's record, to compare the two sides.
Dock::Profile FromHost(const Profile& p) {
    Dock::Profile d;
    d.id = p.GetId();
    d.country = p.GetCountry();
    d.domain = p.GetDomain();
    d.profileName = Utf8(p.GetProfileName());
    const WiFiSettings& w = p.GetWiFiSettings();
    d.wifi.mode = static_cast<Dock::WifiMode>(w.GetMode());
    d.wifi.ssid = Utf8(w.GetSSID());
    d.wifi.channel = w.GetChannel();
    d.wifi.network = static_cast<Dock::NetworkMode>(w.GetNetworkMode());
    d.wifi.data = static_cast<Dock::DataMode>(w.GetDataMode());
    if (dynamic_cast<const WepSecurity*>(&w.GetSecurity())) {
        d.wifi.keys = Dock::KeyKind::Wep;
        for (int i = 0; i < 4; ++i) d.wifi.wepKeys[i] = w.GetSecurity().GetKey(i + 1);
    } else if (dynamic_cast<const WpaPskSecurity*>(&w.GetSecurity())) {
        d.wifi.keys = Dock::KeyKind::WpaPsk;
        d.wifi.wpaKey = w.GetSecurity().GetKey(0);
    }
    const IPSettings& ip = p.GetIPSettings();
    d.ip = {ip.GetAutomatic(), ip.GetIPAddress(), ip.GetSubnetMask(), ip.GetGateway()};
    d.friendlyName = Utf8(p.GetFriendlyName());
    d.defaultHostId = p.GetDefaultHostID();
    return d;
}

Profile ToHost(const Dock::Profile& d) {
    Profile p;
    p.SetId(d.id);
    p.SetCountry(d.country);
    p.SetDomain(d.domain);
    p.SetProfileName(Tessary::I8NString(d.profileName));
    WiFiSettings w(static_cast<WiFiMode>(d.wifi.mode));
    w.SetSSID(Tessary::I8NString(d.wifi.ssid));
    w.SetChannel(d.wifi.channel);
    const int network = static_cast<int>(d.wifi.network);
    const int data = static_cast<int>(d.wifi.data);
    if (d.wifi.keys == Dock::KeyKind::Wep) {
        WepSecurity wep;
        for (int i = 0; i < 4; ++i) wep.SetKey(i + 1, d.wifi.wepKeys[i]);
        w.SetSecurity(network, data, wep);
    } else if (d.wifi.keys == Dock::KeyKind::WpaPsk) {
        WpaPskSecurity wpa;
        wpa.SetKey(0, d.wifi.wpaKey);
        w.SetSecurity(network, data, wpa);
    } else {
        w.SetSecurity(network, data, NullSecurity());
    }
    p.SetWiFiSettings(w);
    IPSettings ip;
    ip.SetAutomatic(d.ip.automatic);
    ip.SetIPAddress(d.ip.ipAddress);
    ip.SetSubnetMask(d.ip.subnetMask);
    ip.SetGateway(d.ip.gateway);
    p.SetIPSettings(ip);
    p.SetFriendlyName(Tessary::I8NString(d.friendlyName));
    p.SetDefaultHostID(d.defaultHostId);
    return p;
}

// The write requests as the plug-ins build them.
std::string SetProfileDataRequest(const std::vector<Profile>& profiles) {
    std::string request;
    BuildSetProfileDataRequest(profiles, request);
    return request;
}

// Eight profiles of every kind the dock stores.
std::vector<Dock::Profile> EightProfiles() {
    std::vector<Dock::Profile> out;
    for (int id = 0; id < 8; ++id) {
        Dock::Profile p = HomeProfile();
        p.id = id;
        p.profileName = "Profile " + std::to_string(id);
        p.wifi.ssid = "Network " + std::to_string(id);
        p.wifi.channel = 1 + id;
        switch (id % 4) {
            case 0:
                p.wifi.network = Dock::NetworkMode::Open;
                p.wifi.data = Dock::DataMode::None;
                p.wifi.keys = Dock::KeyKind::None;
                p.wifi.wpaKey.clear();
                break;
            case 1:
                p.wifi.network = Dock::NetworkMode::Shared;
                p.wifi.data = Dock::DataMode::Wep128;
                p.wifi.keys = Dock::KeyKind::Wep;
                p.wifi.wepKeys = {"0123456789", "", "ABCDEF0123", ""};
                p.wifi.wpaKey.clear();
                break;
            case 2:
                p.ip = {false, "10.0.0." + std::to_string(id), "255.0.0.0", "10.0.0.1"};
                break;
            case 3:
                p.wifi.mode = Dock::WifiMode::Adhoc;
                break;
        }
        out.push_back(p);
    }
    return out;
}

class DockConversationTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& devices = Platform::GetMachine().Devices();
        hc_ = devices.AddHostController(2);
        hub_ = devices.AttachHub(hc_.rootHub, 2, 4);
        dock_ = std::make_shared<DockPrinter>();
        dock_->SetGuid("{6B29FC40-CA47-1067-B31D-00DD010662DA}");
        dock_->SetMacAddress("00:11:22:33:44:55");
        dock_->PutProfile(HomeProfile());
        dock_->Attach(hub_, 3);
    }
    void TearDown() override {
        api_.Close(false);
        EXPECT_EQ(Platform::GetMachine().Devices().OpenDeviceHandleCount(), 0u);
    }

    // The hub walk's record of the dock with that serial number.
    PrinterInfoResult Find(const std::string& serial = "GD0001") {
        const auto id = DockPrinter::DefaultIdentity();
        DeviceOnHubMatchedVidPidSerialNum predicate(id.vendorId, id.productId, serial);
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        EXPECT_TRUE(result.IsComplete()) << serial;
        return result.GetResult();
    }
    void Open() {
        const auto info = Find();
        api_.OpenByDriverKeyName(info.driverKeyName, static_cast<int>(info.maxOutPacketSize),
                                 static_cast<int>(info.maxInPacketSize));
    }
    std::string Exchange(const std::string& request) {
        api_.SendRequest(request.data(), static_cast<int>(request.size()));
        std::string response;
        api_.ReadResponse(response);
        return response;
    }
    std::string LastAnswer() const {
        const auto requests = dock_->Requests();
        return requests.empty() ? "(no request)" : requests.back().answer;
    }
    // Exchanges a request and checks the host got exactly what the dock answered.
    std::string ExpectAnswered(const std::string& request) {
        const std::string response = Exchange(request);
        EXPECT_EQ(response, LastAnswer()) << request;
        return response;
    }

    Platform::ScopedFreshMachine machine_;
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scopedClock_{clock_};
    Platform::HostControllerNodes hc_;
    DEVINST hub_ = 0;
    std::shared_ptr<DockPrinter> dock_;
    Win32ConfigAPI api_;
};

TEST_F(DockConversationTest, TheHubWalkFindsTheDockBehindAHub) {
    const auto info = Find();
    EXPECT_FALSE(info.driverKeyName.empty());
    EXPECT_EQ(info.vendorId, 0x3B7Du);
    EXPECT_EQ(info.productId, 0x410Fu);
    EXPECT_EQ(info.product, "Glimmer Dock");
    EXPECT_EQ(info.serialNumber, "GD0001");
    EXPECT_EQ(info.maxOutPacketSize, 512u);
    EXPECT_EQ(info.maxInPacketSize, 512u);
}

TEST_F(DockConversationTest, SetupAssistantReadsIdentitySettingsAndProfilesInOneSession) {
    dock_->Modify([](Dock::PrinterState& state) {
        state.profiles.clear();
        for (const auto& profile : EightProfiles()) state.profiles[profile.id] = profile;
    });
    Open();
    api_.SetConfigMode(true);
    EXPECT_TRUE(dock_->InConfigMode());
    std::string guid;
    EXPECT_TRUE(GetPrinterGuid(api_, guid));
    EXPECT_EQ(guid, dock_->Guid());
    std::string mac;
    EXPECT_EQ(GetMacAddress(api_, mac), 0);
    EXPECT_EQ(mac, "00:11:22:33:44:55");
    PrinterSettings settings;
    EXPECT_TRUE(GetPrinterSettings("dockConfig", api_, settings));
    EXPECT_EQ(settings.pin, "1234");
    std::vector<Profile> profiles;
    EXPECT_TRUE(GetAllProfiles(api_, profiles));
    // The profile list is longer than a packet: it came in several reads.
    EXPECT_GT(LastAnswer().size(), 512u);
    const auto stored = dock_->Profiles();
    ASSERT_EQ(profiles.size(), stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_TRUE(FromHost(profiles[i]) == stored[i]) << i;
    api_.Close(true);
    EXPECT_FALSE(dock_->InConfigMode());
    EXPECT_FALSE(api_.IsConnected());

    // Byte for byte what the builders sent, and the lengths their headers announced.
    EXPECT_EQ(kGetGuid.size(), 72u);
    EXPECT_EQ(kGetMac.size(), 70u);
    EXPECT_EQ(kGetSettings.size(), 80u);
    EXPECT_EQ(kGetProfiles.size(), 72u);
    EXPECT_EQ(dock_->BytesReceived(),
              Join({kEnter, Framed(kGetGuid), Framed(kGetMac), Framed(kGetSettings), Framed(kGetProfiles), kLeave}));
    const auto counters = dock_->GetCounters();
    EXPECT_EQ(counters.requests, 4u);
    EXPECT_EQ(counters.requestsOutsideConfigMode, 0u);
    EXPECT_EQ(counters.framingErrors, 0u);
}

TEST_F(DockConversationTest, AWrittenProfileTravelsInTheModelsElementForm) {
    const std::string request = SetProfileDataRequest({ToHost(HomeProfile())});
    EXPECT_EQ(request,
              "<dockConfig version=\"1.0\"><setProfileData><profile country=\"DE\" domain=\"ETSI\" id=\"1\">\n"
              "<profileName>Home</profileName>\n<wifi mode=\"infrastructure\">\n<ssid>HomeNet</ssid>\n"
              "<channel>6</channel>\n<security data=\"tkip\" network=\"wpa-psk\">\n<wpaPSKKey>secret</wpaPSKKey>\n"
              "</security>\n</wifi>\n<ipSettings automatic=\"true\">\n</ipSettings>\n"
              "<friendlyName>Kitchen</friendlyName>\n<qztDefaultHostID></qztDefaultHostID>\n</profile>\n"
              "</setProfileData></dockConfig>");
    Open();
    Exchange(request);
    EXPECT_EQ(dock_->BytesReceived(), Join({kEnter, Framed(request)}));
    EXPECT_EQ(dock_->Requests().back().status, DockPrinter::kStatusHandled);
}

TEST_F(DockConversationTest, AProfileWrittenIsReadBackExactlyWithAnyText) {
    // Non-ASCII, emoji and markup in every text the host writes; each value
    // must be escaped exactly once to come back as it was.
    Dock::Profile wpa = HomeProfile();
    wpa.profileName = "Caf\u00e9 \u2615 \U0001F4F7 <&\"'>";
    wpa.wifi.ssid = "Wi-Fi \U0001F680 & <b>";
    wpa.wifi.wpaKey = "p&s\"w<o>rd'";
    wpa.country = "D\"E";
    wpa.domain = "A&B";
    wpa.friendlyName = "K\u00fcche \U0001F9C1";
    wpa.defaultHostId = "<host>";
    Dock::Profile wep = EightProfiles()[1];
    wep.id = 4;
    wep.wifi.wepKeys = {"a&b", "<c>", "\"d\"", "e'f"};
    const std::vector<Profile> written = {ToHost(wpa), ToHost(wep)};
    const std::string request = SetProfileDataRequest(written);

    Open();
    EXPECT_EQ(Exchange(request),
              "<dockConfig><setProfileDataResponse result=\"0\"></setProfileDataResponse></dockConfig>");
    EXPECT_EQ(dock_->Requests().back().body, request);
    EXPECT_TRUE(dock_->FindProfile(1) == wpa);
    EXPECT_TRUE(dock_->FindProfile(4) == wep);

    std::vector<Profile> read;
    ASSERT_TRUE(GetAllProfiles(api_, read));
    ASSERT_EQ(read.size(), 3u);  // with the factory profile 0
    EXPECT_TRUE(FromHost(read[1]) == wpa);
    EXPECT_TRUE(FromHost(read[2]) == wep);
    EXPECT_TRUE(read[1].GetProfileName() == written[0].GetProfileName());
    EXPECT_TRUE(read[1].GetWiFiSettings().GetSSID() == written[0].GetWiFiSettings().GetSSID());
}

TEST_F(DockConversationTest, AnAesProfileDoesNotCostTheWholeList) {
    Dock::Profile aes = HomeProfile();
    aes.id = 5;
    aes.wifi.data = Dock::DataMode::Aes;
    dock_->PutProfile(aes);
    Open();
    std::vector<Profile> profiles;
    ASSERT_TRUE(GetAllProfiles(api_, profiles));
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[2].GetWiFiSettings().GetDataMode(), DATA_MODE_AES);
    EXPECT_TRUE(FromHost(profiles[2]) == aes);
}

TEST_F(DockConversationTest, PinAndBluetoothProfileAreWrittenAndReadBack) {
    Open();
    const std::string bt = "bluetoothDockConfig";
    int result = -1;
    EXPECT_TRUE(SetPrinterSettings(bt, api_, PrinterSettings{"4321"}, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dock_->Requests().back().body,
              "<bluetoothDockConfig version=\"1.0\"><setPrinterSettings><pin>4321</pin></setPrinterSettings>"
              "</bluetoothDockConfig>");
    EXPECT_EQ(dock_->Pin(), "4321");
    PrinterSettings settings;
    EXPECT_TRUE(GetPrinterSettings(bt, api_, settings));
    EXPECT_EQ(settings.pin, "4321");
    EXPECT_EQ(dock_->Requests().back().body, kGetSettingsBt);

    // The whole profile is replaced; a pairing goes by leaving it out.
    BluetoothProfile profile;
    profile.SetFriendlyName("Dock \u2728 & <Co>");
    profile.SetEnabled(true);
    profile.SetRequirePIN(true);
    profile.SetLinkwiseEnabled(true);
    BluetoothProfile::PairedDeviceData phone, tablet;
    phone.SetDeviceName("Anna's \U0001F4F1");
    tablet.SetDeviceName("Tab & Co");
    profile.SetPairedDevices({phone, tablet});
    result = -1;
    EXPECT_TRUE(SetBluetoothProfileData(bt, api_, profile, result));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(dock_->Bluetooth() ==
                (Dock::BluetoothProfile{true, "Dock \u2728 & <Co>", true, true, {"Anna's \U0001F4F1", "Tab & Co"}}));
    profile.SetPairedDevices({tablet});
    EXPECT_TRUE(SetBluetoothProfileData(bt, api_, profile, result));
    EXPECT_EQ(dock_->Bluetooth().pairedDevices, std::vector<std::string>{"Tab & Co"});

    BluetoothProfile read;
    result = -1;
    ASSERT_TRUE(GetBluetoothProfile(bt, api_, read, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dock_->Requests().back().body, kGetBluetoothBt);
    EXPECT_EQ(read.GetFriendlyName(), "Dock \u2728 & <Co>");
    EXPECT_TRUE(read.GetEnabled() && read.GetRequirePIN() && read.GetLinkwiseEnabled());
    ASSERT_EQ(read.GetPairedDevices().size(), 1u);
    EXPECT_EQ(read.GetPairedDevices()[0].deviceName, "Tab & Co");

    // Unpairing the last device writes an empty list, and the dock keeps none.
    profile.SetPairedDevices({});
    EXPECT_TRUE(SetBluetoothProfileData(bt, api_, profile, result));
    EXPECT_TRUE(dock_->Bluetooth().pairedDevices.empty());
    ASSERT_TRUE(GetBluetoothProfile(bt, api_, read));
    EXPECT_TRUE(read.GetPairedDevices().empty());

    // A name that is not UTF-8 goes out empty rather than breaking the request.
    profile.SetFriendlyName("\xff\xfe");
    EXPECT_TRUE(SetBluetoothProfileData("dockConfig", api_, profile, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dock_->Bluetooth().friendlyName, "");

    // The short response name some printers use is as good.
    dock_->SetBluetoothResultAlias(true);
    result = -1;
    EXPECT_TRUE(SetBluetoothProfileData(bt, api_, profile, result));
    EXPECT_EQ(result, 0);
    EXPECT_NE(LastAnswer().find("setBluetoothProfileResponse"), std::string::npos);
}

TEST_F(DockConversationTest, AnErrorAnswerToTheBluetoothReadIsAFailedRead) {
    dock_->SetBluetooth({true, "Dock", true, false, {"Phone"}});
    Open();
    dock_->SetFault("getBluetoothProfile", {.times = 1, .result = 6});
    BluetoothProfile profile;
    profile.SetFriendlyName("before");
    int result = -1;
    ASSERT_TRUE(GetBluetoothProfile("bluetoothDockConfig", api_, profile, result));
    EXPECT_EQ(result, 6);
    EXPECT_EQ(profile.GetFriendlyName(), "before");
    ASSERT_TRUE(GetBluetoothProfile("bluetoothDockConfig", api_, profile, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(profile.GetFriendlyName(), "Dock");

    // A printer that refuses the request fails the exchange itself.
    dock_->SetFault("getBluetoothProfile", {.times = 1, .status = 2});
    EXPECT_THROW(GetBluetoothProfile("bluetoothDockConfig", api_, profile), RequestFailureException);
}

TEST_F(DockConversationTest, BluetoothPlugInKeepsTheChannelOpenAcrossOperations) {
    Open();
    const std::string bt = "bluetoothDockConfig";
    PrinterSettings settings;
    EXPECT_TRUE(GetPrinterSettings(bt, api_, settings));
    EXPECT_EQ(settings.pin, "1234");
    BluetoothProfile profile;
    EXPECT_TRUE(GetBluetoothProfile(bt, api_, profile));
    int result = -1;
    EXPECT_TRUE(RestartBluetooth(api_, result));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(dock_->GetCounters().bluetoothRestarts, 1u);
    EXPECT_EQ(dock_->State().bluetoothRestarts, 1u);
    // No leave block: the next selection reuses the channel without entering again.
    EXPECT_TRUE(GetBluetoothProfile("dockConfig", api_, profile));
    EXPECT_EQ(dock_->Requests().back().body, kGetBluetooth);
    EXPECT_EQ(dock_->GetCounters().enters, 1u);
    EXPECT_EQ(dock_->GetCounters().leaves, 0u);
    EXPECT_EQ(dock_->BytesReceived(), Join({kEnter, Framed(kGetSettingsBt), Framed(kGetBluetoothBt),
                                            Framed(kRestartBluetooth), Framed(kGetBluetooth)}));
}

TEST_F(DockConversationTest, AChannelOpenedAfterCloseWithoutLeavingReadsItsOwnAnswers) {
    // Close(false) does not wait for the leave confirmation; the dock keeps
    // it queued for whoever reads next.
    for (int round = 0; round < 3; ++round) {
        Open();
        std::string guid;
        ASSERT_TRUE(GetPrinterGuid(api_, guid)) << round;
        EXPECT_EQ(guid, dock_->Guid());
        std::string mac;
        ASSERT_EQ(GetMacAddress(api_, mac), 0) << round;
        EXPECT_EQ(mac, "00:11:22:33:44:55");
        api_.Close(false);
        EXPECT_FALSE(dock_->InConfigMode());
    }
    EXPECT_EQ(dock_->GetCounters().enters, 3u);
    EXPECT_EQ(dock_->GetCounters().leaves, 3u);

    // Whole answers nobody read are dropped too.
    Open();
    api_.SendRequest(kGetMac.data(), static_cast<int>(kGetMac.size()));
    api_.Close(false);
    Open();
    std::string guid;
    ASSERT_TRUE(GetPrinterGuid(api_, guid));
    EXPECT_EQ(guid, dock_->Guid());
    api_.Close(true);
    EXPECT_EQ(dock_->PendingTransfers(), 0u);
}

TEST_F(DockConversationTest, ANetworkScanWaitsForTheSlowPrinterOnTheClock) {
    Dock::WifiSettings cafe;
    cafe.ssid = "Caf\u00e9 \u2615";
    cafe.channel = 1;
    dock_->SetNetworks({{{cafe}}, {{cafe, cafe}}});
    dock_->SetFault("findNetworks", {.delay = Milliseconds(4000)});
    Open();
    EXPECT_EQ(kFindNetworks.size(), 68u);
    api_.SetConfigMode(true);
    const auto start = clock_->Now();
    const std::string answer = Exchange(kFindNetworks);
    EXPECT_GE(clock_->Now() - start, Milliseconds(4000));
    EXPECT_EQ(answer, LastAnswer());
    EXPECT_NE(answer.find("<ssid>Caf\u00e9 \u2615</ssid>"), std::string::npos);
}

TEST_F(DockConversationTest, ModeConfirmationIsPolledOnTheInjectedClock) {
    // A late confirmation is found by the polls that follow.
    dock_->SetFault(DockPrinter::kEnter, {.times = 1, .delay = Milliseconds(2350)});
    Open();
    auto start = clock_->Now();
    api_.SetConfigMode(true);
    EXPECT_GE(clock_->Now() - start, Milliseconds(2350));
    EXPECT_LT(clock_->Now() - start, Milliseconds(2500));
    EXPECT_TRUE(api_.inConfigMode);

    // A dock that never confirms is given up after more than 5 whole seconds.
    api_.Close(true);
    dock_->SetFault(DockPrinter::kEnter, {.times = 1, .silent = true});
    Open();
    start = clock_->Now();
    EXPECT_EQ(FailureOf([&] { api_.SetConfigMode(true); }), "Can't confirm config mode (timeout)");
    EXPECT_GT(clock_->Now() - start, Milliseconds(5000));
    EXPECT_LE(clock_->Now() - start, Milliseconds(6100));
    EXPECT_FALSE(api_.inConfigMode);

    // A channel reopened with its flag still set waits for the dock's
    // confirmation again instead of taking it for a response.
    api_.inConfigMode = true;
    Open();
    ExpectAnswered(kGetMac);
    EXPECT_EQ(dock_->GetCounters().enters, 3u);
}

TEST_F(DockConversationTest, FaultsOfTheDockSurfaceAsChannelErrorsAndTheChannelRecovers) {
    Open();
    api_.SetConfigMode(true);
    struct Case {
        DockPrinter::Fault fault;
        std::string failure;  // empty: the exchange succeeds
    };
    const Case cases[] = {
        {{.status = 2}, "Status indicates request could not be handled"},
        {{.split = {4, 3, 0, 20}}, ""},
        {{.split = {2, 20}}, "Didn't get minimum amount of status data"},
        {{.split = {12, 0, 30, 0, 30}}, "Failed to read any bytes"},
        {{.lengthField = 3}, "Failed to read expected # of bytes"},
        {{.lengthField = 0x8000}, "Failed to read expected # of bytes"},
        {{.moreData = true}, ""},
        {{.truncate = 40}, "Failed to read any bytes"},
    };
    for (const auto& c : cases) {
        auto fault = c.fault;
        fault.times = 1;
        dock_->SetFault("getPrinterGuid", fault);
        std::string response;
        const std::string failure = FailureOf([&] { response = Exchange(kGetGuid); });
        if (c.failure.empty()) {
            EXPECT_EQ(failure, "no failure");
            EXPECT_EQ(response, LastAnswer());
        } else {
            EXPECT_EQ(failure, c.failure);
        }
        // Whatever the dock left in the pipe is gone with a fresh channel.
        api_.Close(false);
        dock_->Unplug();
        dock_->Attach(hub_, 3);
        Open();
        ExpectAnswered(kGetMac);
    }

    // A failure status reaches the caller with its code.
    dock_->SetFault("getMacAddress", {.times = 1, .status = 0x42});
    try {
        Exchange(kGetMac);
        ADD_FAILURE() << "no failure";
    } catch (const RequestFailureException& e) {
        EXPECT_EQ(e.GetStatus(), 0x42);
    }
    ExpectAnswered(kGetGuid);
}

TEST_F(DockConversationTest, PullingThePlugMidAnswerFailsTheReadAndCloseStillReleases) {
    Open();
    api_.SetConfigMode(true);
    dock_->SetFault("getAllProfiles", {.times = 1, .disconnectAfter = 100});
    try {
        Exchange(kGetProfiles);
        ADD_FAILURE() << "no failure";
    } catch (const ConfigModeIOException& e) {
        EXPECT_STREQ(e.what(), "Error reading data from printer");
        EXPECT_EQ(e.GetErrorCode(), static_cast<std::int32_t>(ERROR_DEVICE_NOT_CONNECTED));
    }
    EXPECT_EQ(FailureOf([&] { api_.Close(true); }), "Error sending data to printer");
    EXPECT_FALSE(api_.IsConnected());
    EXPECT_EQ(Platform::GetMachine().Devices().OpenDeviceHandleCount(), 0u);
}

TEST_F(DockConversationTest, ACloseWhoseLeaveIsNeverConfirmedStillReleasesTheDevice) {
    Open();
    api_.SetConfigMode(true);
    dock_->SetFault(DockPrinter::kLeave, {.times = 1, .silent = true});
    EXPECT_EQ(FailureOf([&] { api_.Close(true); }), "Can't confirm config mode (timeout)");
    EXPECT_FALSE(api_.IsConnected());
    EXPECT_EQ(Platform::GetMachine().Devices().OpenDeviceHandleCount(), 0u);
}

TEST_F(DockConversationTest, OpeningBySerialNumberTalksToThatDock) {
    auto identity = DockPrinter::DefaultIdentity();
    identity.serialNumber = u"GD0002";
    auto second = std::make_shared<DockPrinter>(identity);
    second->SetGuid("second");
    // Plugged in ahead of the first on the walk.
    second->Attach(hc_.rootHub, 1);
    api_.OpenBySerialNumber(0x3B7D, 0x410F, "GD0001");
    ExpectAnswered(kGetGuid);
    EXPECT_NE(LastAnswer().find("6B29FC40"), std::string::npos);
    EXPECT_TRUE(second->Requests().empty());
    api_.Close(true);
    api_.OpenBySerialNumber(0x3B7D, 0x410F, "GD0002");
    EXPECT_NE(Exchange(kGetGuid).find("<guid>second</guid>"), std::string::npos);
}

}  // namespace

// Conversations with the simulated dock through the real hub walk, the
// printer channel and the configuration channel, on the manual clock.
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
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
    Open();
    api_.SetConfigMode(true);
    EXPECT_TRUE(dock_->InConfigMode());
    const std::string requests[] = {kGetGuid, kGetMac, kGetSettings, kGetProfiles};
    const std::size_t lengths[] = {72, 70, 80, 72};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i].size(), lengths[i]);
        ExpectAnswered(requests[i]);
    }
    // The profile list is longer than a packet: it came in several reads.
    EXPECT_GT(LastAnswer().size(), 512u);
    api_.Close(true);
    EXPECT_FALSE(dock_->InConfigMode());
    EXPECT_FALSE(api_.IsConnected());

    EXPECT_EQ(dock_->BytesReceived(),
              Join({kEnter, Framed(kGetGuid), Framed(kGetMac), Framed(kGetSettings), Framed(kGetProfiles), kLeave}));
    const auto counters = dock_->GetCounters();
    EXPECT_EQ(counters.requests, 4u);
    EXPECT_EQ(counters.requestsOutsideConfigMode, 0u);
    EXPECT_EQ(counters.framingErrors, 0u);
}

TEST_F(DockConversationTest, BluetoothPlugInKeepsTheChannelOpenAcrossOperations) {
    Open();
    EXPECT_EQ(kGetSettingsBt.size(), 98u);
    EXPECT_EQ(kGetBluetoothBt.size(), 100u);
    EXPECT_EQ(kGetBluetooth.size(), 82u);
    EXPECT_EQ(kRestartBluetooth.size(), 94u);
    EXPECT_NE(Exchange(kGetSettingsBt).find("<pin>1234</pin>"), std::string::npos);
    ExpectAnswered(kGetBluetoothBt);
    EXPECT_EQ(Exchange(kRestartBluetooth),
              "<bluetoothDockConfig><restartBluetoothResponse result=\"0\"></restartBluetoothResponse>"
              "</bluetoothDockConfig>");
    EXPECT_EQ(dock_->GetCounters().bluetoothRestarts, 1u);
    // No leave block: the next selection reuses the channel without entering again.
    EXPECT_EQ(Exchange(kGetBluetooth).substr(0, 12), "<dockConfig>");
    EXPECT_EQ(dock_->GetCounters().enters, 1u);
    EXPECT_EQ(dock_->GetCounters().leaves, 0u);
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

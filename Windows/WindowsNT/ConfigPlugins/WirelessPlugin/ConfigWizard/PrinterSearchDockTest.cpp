// The road of a wizard's test: the simulated dock gets a profile over the
// real USB channel, joins the machine's Wi-Fi network after its delay on the
// manual clock and announces itself through the fake DNS-SD, where the
// printer search finds it (or gives up after 30 s of machine clock).
#include "PrinterSearch.h"
#include "PrinterSearchReports.h"

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "FakeDnsSd.h"
#include "Mfc/GTestDriver.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Simulators/DockPrinter/announce/Announcers.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Simulators::DockPrinter;
namespace Dock = Simulators::Dock;

const std::string kKey = "0123456789ABCDEF0123456789";

Platform::AccessPoint Office() {
    Platform::AccessPoint a;
    a.ssid = "Office";
    a.channel = 6;
    a.authentication = Platform::WifiAuthentication::Shared;
    a.encryption = Platform::WifiEncryption::Wep128;
    a.wepKeys[0] = kKey;
    return a;
}

Dock::Profile OfficeProfile(const std::string& key) {
    Dock::Profile p;
    p.id = 1;
    p.country = "US";
    p.domain = "FCC";
    p.profileName = "Office";
    p.friendlyName = "Reception dock";
    p.defaultHostId = "HOST-1";
    p.wifi.ssid = "Office";
    p.wifi.channel = 6;
    p.wifi.network = Dock::NetworkMode::Shared;
    p.wifi.data = Dock::DataMode::Wep128;
    p.wifi.keys = Dock::KeyKind::Wep;
    p.wifi.wepKeys[0] = key;
    return p;
}

class PrinterSearchDockTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDnsSd::Reset();
        auto& devices = Platform::GetMachine().Devices();
        const auto hc = devices.AddHostController(1);
        dock_->Attach(hc.rootHub, 1);
        dock_->SetAnnouncer(Dock::MakeFakeDnsSdAnnouncer());
        Platform::Machine& machine = Platform::GetMachine();
        Platform::AccessPoint far = Office();
        far.ssid = "Far away";
        far.inRange = false;
        machine.Wireless().SetAccessPoints({Office(), far});
    }
    void TearDown() override {
        EXPECT_EQ(FakeDnsSd::Violations(), std::vector<std::string>{});
        FakeDnsSd::Reset();
    }

    // What the wizard sends on Test: the profile, in configuration mode over
    // the printer's USB channel, which it then leaves.
    void Transmit(const Dock::Profile& profile) {
        const auto id = DockPrinter::DefaultIdentity();
        DeviceOnHubMatchedVidPidSerialNum predicate(id.vendorId, id.productId, "GD0001");
        HubEnumSingleResult<PrinterInfoResult> result;
        HubEnumDirector director(&predicate, &result);
        EnumerateHubs(director);
        ASSERT_TRUE(result.IsComplete());
        const auto info = result.GetResult();
        Win32ConfigAPI api;
        api.OpenByDriverKeyName(info.driverKeyName, static_cast<int>(info.maxOutPacketSize),
                                static_cast<int>(info.maxInPacketSize));
        api.SetConfigMode(true);
        Dock::XmlWriter request;
        request.Start("dockConfig", {{"version", "1.0"}}).Start("setProfileData");
        Dock::WriteProfile(request, profile);
        const std::string body = request.End().End().Take();
        api.SendRequest(body.data(), static_cast<int>(body.size()));
        std::string answer;
        api.ReadResponse(answer);
        api.Close(true);
        EXPECT_EQ(answer, "<dockConfig><setProfileDataResponse result=\"0\"></setProfileDataResponse></dockConfig>");
    }

    // Long enough for the dock's radio to act on what it was told.
    static void Settle() { std::this_thread::sleep_for(50ms); }

    Platform::ScopedFreshMachine machine_;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    std::shared_ptr<DockPrinter> dock_ = std::make_shared<DockPrinter>();
    PrinterSearchReports reports;
};

TEST_F(PrinterSearchDockTest, TheDockJoinsAfterItsDelayAndTheSearchFindsIt) {
    const auto sent = driver.Clock()->Now();
    Transmit(OfficeProfile(kKey));
    ASSERT_EQ(driver.Clock()->Now(), sent) << "the join delay is counted from the transmission";
    CPrinterSearch search(0x3B7D, 0x410F, dock_->Guid());
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    driver.Advance(4999ms);
    Settle();
    EXPECT_EQ(dock_->JoinedNetwork(), "");
    EXPECT_EQ(reports.Count(), 0u);
    driver.Advance(1ms);
    ASSERT_TRUE(dock_->WaitForNetwork("Office", 5s));
    ASSERT_TRUE(reports.WaitFor(1));
    EXPECT_EQ(reports.Results(), std::vector<bool>{true});
    const auto announced = dock_->Announcement();
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->instanceName, "Reception dock");
    driver.Advance(60s);
    EXPECT_EQ(reports.Count(), 1u);
}

TEST_F(PrinterSearchDockTest, AWrongKeyNeverJoinsAndTheSearchGivesUpAtThirtySeconds) {
    Transmit(OfficeProfile("0123456789ABCDEF012345678A"));
    CPrinterSearch search(0x3B7D, 0x410F, dock_->Guid());
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    driver.Advance(29999ms);
    Settle();
    EXPECT_EQ(reports.Count(), 0u);
    driver.Advance(1ms);
    EXPECT_EQ(reports.Results(), std::vector<bool>{false});
    EXPECT_EQ(dock_->JoinedNetwork(), "");
    EXPECT_FALSE(dock_->Announcement());
}

TEST_F(PrinterSearchDockTest, FaultKnobsKeepTheSearchFromFindingTheDock) {
    struct Case {
        const char* name;
        DockPrinter::NetworkFaults faults;
        bool joinedAtTimeOut;
    };
    const Case cases[] = {
        {"never joins", {.neverJoin = true}, false},
        {"wrong guid", {.announcedGuid = "00000000-0000-0000-0000-000000000000"}, true},
        {"joins late", {.joinLate = 30s}, false},
    };
    for (const auto& c : cases) {
        FakeDnsSd::Reset();
        dock_->RemoveProfile(1);
        ASSERT_TRUE(dock_->WaitForNetwork("", 5s));
        dock_->SetNetworkFaults(c.faults);
        Transmit(OfficeProfile(kKey));
        PrinterSearchReports each;
        CPrinterSearch search(0x3B7D, 0x410F, dock_->Guid());
        search.StartSearching(&PrinterSearchReports::Record, &each);
        driver.Advance(29999ms);
        Settle();
        EXPECT_EQ(each.Count(), 0u) << c.name;
        EXPECT_EQ(dock_->JoinedNetwork(), c.joinedAtTimeOut ? "Office" : "") << c.name;
        driver.Advance(1ms);
        EXPECT_EQ(each.Results(), std::vector<bool>{false}) << c.name;
    }
    // The late one is on the network later, after the search gave up.
    driver.Advance(5s);
    EXPECT_TRUE(dock_->WaitForNetwork("Office", 5s));
}

TEST_F(PrinterSearchDockTest, TheServiceGoesAwayWhenTheProfileNoLongerMatches) {
    dock_->SetJoinDelay(0ms);
    Transmit(OfficeProfile(kKey));
    ASSERT_TRUE(dock_->WaitForNetwork("Office", 5s));

    // The access point gets a new key: the dock is off the network at once.
    Platform::AccessPoint rekeyed = Office();
    rekeyed.wepKeys[0] = "FEDCBA9876543210FEDCBA9876";
    Platform::GetMachine().Wireless().SetAccessPoints({rekeyed});
    ASSERT_TRUE(dock_->WaitForNetwork("", 5s));
    CPrinterSearch search(0x3B7D, 0x410F, dock_->Guid());
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    driver.Advance(30s);
    EXPECT_EQ(reports.Results(), std::vector<bool>{false});

    // Given the new key it is back.
    Transmit(OfficeProfile("FEDCBA9876543210FEDCBA9876"));
    ASSERT_TRUE(dock_->WaitForNetwork("Office", 5s));
    search.StartSearching(&PrinterSearchReports::Record, &reports);
    ASSERT_TRUE(reports.WaitFor(2));
    EXPECT_EQ(reports.Results(), (std::vector<bool>{false, true}));
}

}  // namespace

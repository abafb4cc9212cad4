// The dock on the machine's Wi-Fi network: scanning, joining, leaving and
// what it announces, with an announcer that only records.
#include "Simulators/DockPrinter/DockNetwork.h"
#include "Simulators/DockPrinter/DockPrinter.h"

#include "Platform/Clock.h"
#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::AccessPoint;
using Platform::Milliseconds;
using Simulators::DockPrinter;
namespace Dock = Simulators::Dock;

bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
}

AccessPoint Wpa(const std::string& ssid, const std::string& key) {
    AccessPoint a;
    a.ssid = ssid;
    a.authentication = Platform::WifiAuthentication::WpaPsk;
    a.encryption = Platform::WifiEncryption::Aes;
    a.wpaKey = key;
    return a;
}

Dock::WifiSettings WpaStation(const std::string& ssid, const std::string& key) {
    Dock::WifiSettings w;
    w.ssid = ssid;
    w.network = Dock::NetworkMode::WpaPsk;
    w.data = Dock::DataMode::Aes;
    w.keys = Dock::KeyKind::WpaPsk;
    w.wpaKey = key;
    return w;
}

TEST(DockNetwork, AStationJoinsOnlyWithSsidModeSecurityAndTheKeyInUse) {
    const AccessPoint home = Wpa("Home", "secret phrase");
    EXPECT_TRUE(Dock::CanJoin(WpaStation("Home", "secret phrase"), home));
    Dock::WifiSettings otherChannel = WpaStation("Home", "secret phrase");
    otherChannel.channel = 1;
    EXPECT_TRUE(Dock::CanJoin(otherChannel, home)) << "the channel follows the access point";
    EXPECT_FALSE(Dock::CanJoin(WpaStation("home", "secret phrase"), home));
    EXPECT_FALSE(Dock::CanJoin(WpaStation("Home", "secret Phrase"), home));
    Dock::WifiSettings adhoc = WpaStation("Home", "secret phrase");
    adhoc.mode = Dock::WifiMode::Adhoc;
    EXPECT_FALSE(Dock::CanJoin(adhoc, home));
    Dock::WifiSettings tkip = WpaStation("Home", "secret phrase");
    tkip.data = Dock::DataMode::Tkip;
    EXPECT_FALSE(Dock::CanJoin(tkip, home));

    AccessPoint wep;
    wep.ssid = "Cafe";
    wep.encryption = Platform::WifiEncryption::Wep64;
    wep.wepKeys = {"1234567890", "AAAAAAAAAA", "", ""};
    Dock::WifiSettings station;
    station.ssid = "Cafe";
    station.data = Dock::DataMode::Wep64;
    station.keys = Dock::KeyKind::Wep;
    station.wepKeys = {"1234567890", "", "", ""};
    EXPECT_TRUE(Dock::CanJoin(station, wep)) << "key 1 is the one in use";
    station.wepKeys = {"AAAAAAAAAA", "1234567890", "", ""};
    EXPECT_FALSE(Dock::CanJoin(station, wep));
    station.keys = Dock::KeyKind::None;
    station.wepKeys = {"1234567890", "", "", ""};
    EXPECT_FALSE(Dock::CanJoin(station, wep)) << "a profile without keys";

    AccessPoint open;
    open.ssid = "Lobby";
    Dock::WifiSettings lobby;
    lobby.ssid = "Lobby";
    EXPECT_TRUE(Dock::CanJoin(lobby, open));
}

TEST(DockNetwork, TheFirstProfileByIdThatJoinsChoosesTheNetwork) {
    Dock::PrinterState state = Dock::FactoryState();
    state.profiles[3].wifi = WpaStation("B", "k");
    state.profiles[2].wifi = WpaStation("A", "wrong");
    state.profiles[5].wifi = WpaStation("A", "k");
    const auto choice = Dock::ChooseNetwork(state, {Wpa("A", "k"), Wpa("B", "k")});
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->profileId, 3);
    EXPECT_EQ(choice->accessPoint.ssid, "B");
    EXPECT_FALSE(Dock::ChooseNetwork(state, {Wpa("C", "k")}));
}

class DockOnTheNetwork : public ::testing::Test {
protected:
    struct Recorder : Dock::ServiceAnnouncer {
        void Announce(const Dock::ServiceAnnouncement& a) override { Note("+" + a.instanceName + " " + a.guid); }
        void Withdraw(const Dock::ServiceAnnouncement& a) override { Note("-" + a.instanceName + " " + a.guid); }
        void Note(std::string event) {
            std::lock_guard lock(mutex);
            events.push_back(std::move(event));
        }
        std::vector<std::string> Events() {
            std::lock_guard lock(mutex);
            return events;
        }
        std::mutex mutex;
        std::vector<std::string> events;
    };

    void SetUp() override {
        dock_->SetAnnouncer(recorder_);
        Dock::Profile p = Dock::FactoryState().profiles.at(0);
        p.id = 1;
        p.friendlyName = "Dock";
        p.wifi = WpaStation("Home", "k");
        dock_->PutProfile(p);
    }
    void Settle() { std::this_thread::sleep_for(50ms); }

    Platform::ScopedFreshMachine machine_;
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>(false);
    Platform::ScopedClock scopedClock_{clock_};
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::shared_ptr<DockPrinter> dock_ = std::make_shared<DockPrinter>();
};

TEST_F(DockOnTheNetwork, AScanReportsTheAccessPointsInRangeOneNetworkPerRadio) {
    AccessPoint a = Wpa("Office", "k");
    a.radio = 7;
    AccessPoint b = a;
    b.ssid = "Office guests";
    b.authentication = Platform::WifiAuthentication::Open;
    b.encryption = Platform::WifiEncryption::None;
    AccessPoint far = Wpa("Far", "k");
    far.inRange = false;
    Platform::GetMachine().Wireless().SetAccessPoints({a, Wpa("Home", "k"), far, b});
    const auto networks = dock_->Networks();
    ASSERT_EQ(networks.size(), 2u);
    ASSERT_EQ(networks[0].faces.size(), 2u);
    EXPECT_EQ(networks[0].faces[1].ssid, "Office guests");
    EXPECT_EQ(networks[0].faces[0].keys, Dock::KeyKind::None);
    EXPECT_EQ(networks[1].faces.at(0).ssid, "Home");
    // The shorthand puts networks back as they were given.
    dock_->SetNetworks(networks);
    EXPECT_EQ(dock_->Networks(), networks);
}

TEST_F(DockOnTheNetwork, JoinsAfterTheDelayLeavesWhenTheAccessPointGoesAndReannouncesChanges) {
    dock_->SetJoinDelay(Milliseconds(8000));
    Platform::GetMachine().Wireless().SetAccessPoints({Wpa("Home", "k")});
    clock_->Advance(Milliseconds(7999));
    Settle();
    EXPECT_EQ(dock_->JoinedNetwork(), "");
    EXPECT_TRUE(recorder_->Events().empty());
    clock_->Advance(Milliseconds(1));
    ASSERT_TRUE(dock_->WaitForNetwork("Home", 5s));
    const std::string guid = dock_->Guid();
    EXPECT_EQ(recorder_->Events(), std::vector<std::string>{"+Dock " + guid});
    const auto announced = dock_->Announcement();
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->vendorId, 0x3B7Du);
    EXPECT_EQ(announced->productId, 0x410Fu);
    EXPECT_EQ(announced->hostName, "glimmer-dock-gd0001.local");

    // A new guid is announced at once, on the same network.
    dock_->SetGuid("G-2");
    ASSERT_TRUE(Eventually([&] { return recorder_->Events().size() == 3; }));
    EXPECT_EQ(recorder_->Events()[1], "-Dock " + guid);
    EXPECT_EQ(recorder_->Events()[2], "+Dock G-2");

    Platform::GetMachine().Wireless().SetInRange("Home", false);
    ASSERT_TRUE(dock_->WaitForNetwork("", 5s));
    EXPECT_EQ(recorder_->Events().back(), "-Dock G-2");
    EXPECT_TRUE(dock_->Networks().empty());
}

TEST_F(DockOnTheNetwork, FaultKnobsAndAGoingDock) {
    dock_->SetJoinDelay(Milliseconds(0));
    dock_->SetNetworkFaults({.neverJoin = true});
    Platform::GetMachine().Wireless().SetAccessPoints({Wpa("Home", "k")});
    clock_->Advance(Milliseconds(60000));
    Settle();
    EXPECT_EQ(dock_->JoinedNetwork(), "");

    dock_->SetNetworkFaults({.joinLate = Milliseconds(1000), .announcedGuid = "WRONG"});
    Settle();
    EXPECT_EQ(dock_->JoinedNetwork(), "");
    clock_->Advance(Milliseconds(1000));
    ASSERT_TRUE(dock_->WaitForNetwork("Home", 5s));
    EXPECT_EQ(recorder_->Events(), std::vector<std::string>{"+Dock WRONG"});
    dock_.reset();
    EXPECT_EQ(recorder_->Events().back(), "-Dock WRONG");
}

}  // namespace

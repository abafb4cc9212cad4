#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Platform::AccessPoint;

AccessPoint Named(const std::string& ssid, bool inRange = true) {
    AccessPoint a;
    a.ssid = ssid;
    a.inRange = inRange;
    return a;
}

TEST(Wireless, AFreshMachineHasNoAccessPointsAndWatchersHearEveryChange) {
    Platform::ScopedFreshMachine machine;
    auto& air = Platform::GetMachine().Wireless();
    EXPECT_TRUE(air.AccessPoints().empty());
    int changes = 0;
    const auto id = air.Watch([&] { ++changes; });
    air.SetAccessPoints({Named("A"), Named("B", false)});
    air.Add(Named("C"));
    EXPECT_EQ(air.InRange().size(), 2u);
    EXPECT_TRUE(air.SetInRange("B", true));
    EXPECT_FALSE(air.SetInRange("Z", true));
    EXPECT_TRUE(air.Remove("A"));
    EXPECT_FALSE(air.Remove("A"));
    EXPECT_EQ(changes, 4);
    Platform::GetMachine().Reset();
    EXPECT_TRUE(air.AccessPoints().empty());
    EXPECT_EQ(changes, 5);
    air.Unwatch(id);
    air.Add(Named("D"));
    EXPECT_EQ(changes, 5);
}

TEST(WirelessThread, UnwatchWaitsForARunningObserver) {
    Platform::ScopedFreshMachine machine;
    auto& air = Platform::GetMachine().Wireless();
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    const auto id = air.Watch([&] {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        finished = true;
    });
    std::thread changer([&] { air.Add(Named("A")); });
    while (!inside) std::this_thread::yield();
    air.Unwatch(id);
    EXPECT_TRUE(finished);
    changer.join();
}

}  // namespace

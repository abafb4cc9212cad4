// The printer search against the real Avahi daemon: the simulated dock joins
// the machine's Wi-Fi network and publishes itself with avahi-publish, and
// the search, linked with Avahi's DNS-SD compatibility library, finds it.
// The CTest fixture (avahi-fixture) starts the daemons; its state folder is
// named by VELMO_AVAHI_FIXTURE.
#include "PrinterSearch.h"
#include "PrinterSearchReports.h"

#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Simulators/DockPrinter/DockPrinter.h"
#include "Simulators/DockPrinter/announce/Announcers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;
namespace Dock = Simulators::Dock;

class PrinterSearchAvahi : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);
        const char* state = std::getenv("VELMO_AVAHI_FIXTURE");
        ASSERT_NE(state, nullptr) << "VELMO_AVAHI_FIXTURE is not set: run these tests through CTest";
        std::ifstream unavailable(std::string(state) + "/unavailable");
        std::string reason;
        if (unavailable && std::getline(unavailable, reason))
            GTEST_SKIP() << "avahi-daemon cannot run on this machine: " << reason;
    }

    Platform::ScopedFreshMachine machine_;
    // Still: the search's 30 s must not pass while the daemon answers.
    Platform::ScopedClock clock_{std::make_shared<Platform::ManualClock>(false)};
};

TEST_F(PrinterSearchAvahi, FindsTheDockThatJoinedTheNetwork) {
    const std::string pid = std::to_string(::getpid());
    Platform::AccessPoint home;
    home.ssid = "Home " + pid;
    home.authentication = Platform::WifiAuthentication::WpaPsk;
    home.encryption = Platform::WifiEncryption::Aes;
    home.wpaKey = "a long pass phrase";
    Platform::GetMachine().Wireless().SetAccessPoints({home});

    auto dock = std::make_shared<Simulators::DockPrinter>();
    dock->SetGuid("7A3E0C11-0000-4000-8000-" + std::string(12 - std::min<std::size_t>(pid.size(), 12), '0') + pid);
    dock->SetAnnouncer(Dock::MakeAvahiAnnouncer());
    dock->SetJoinDelay(0ms);

    PrinterSearchReports reports;
    CPrinterSearch search(0x3B7D, 0x410F, dock->Guid());
    search.StartSearching(&PrinterSearchReports::Record, &reports);

    Dock::Profile profile = Dock::FactoryState().profiles.at(0);
    profile.id = 1;
    profile.friendlyName = "Glimmer Dock " + pid;
    profile.wifi.ssid = home.ssid;
    profile.wifi.network = Dock::NetworkMode::WpaPsk;
    profile.wifi.data = Dock::DataMode::Aes;
    profile.wifi.keys = Dock::KeyKind::WpaPsk;
    profile.wifi.wpaKey = home.wpaKey;
    dock->PutProfile(profile);

    ASSERT_TRUE(dock->WaitForNetwork(home.ssid, 20s)) << "the dock did not join";
    // Multicast DNS answers within a second or two; the bound is generous.
    ASSERT_TRUE(reports.WaitFor(1, 20s)) << "the dock's announcement was not found";
    EXPECT_EQ(reports.Results(), std::vector<bool>{true});
    EXPECT_FALSE(search.IsSearching());
}

}  // namespace

// Discovery against the real Avahi daemon: the responder is announced with
// avahi-publish on a host name that stands for 127.0.0.1, and the provider of
// libJorvale.so finds it through Avahi's DNS-SD compatibility library. The
// CTest fixture (avahi-fixture) starts the daemons; its state folder is named
// by VELMO_AVAHI_FIXTURE.
#include "Discovery.h"

#include "Simulators/PtpIp/PtpIpAnnouncement.h"
#include "Simulators/PtpIp/PtpIpResponder.h"

#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Multicast DNS answers within a second or two; the bound is generous.
constexpr auto kDiscoveryWait = 20s;

struct Report {
    std::u16string url;
    DWORD present;
    std::u16string name, guid, vendor, product;
    DWORD version;
};

struct Recorder : PtpiTransport {
    std::recursive_mutex lock;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Report> reports;

    static void Record(PtpiTransport* transport, LPCWSTR url, const PtpDeviceInfo* info) {
        Callback(static_cast<Recorder*>(transport), url, info);
    }
    // As a client's enumeration callback.
    static void Callback(void* context, LPCWSTR url, const PtpDeviceInfo* info) {
        auto* self = static_cast<Recorder*>(context);
        {
            std::lock_guard guard(self->mutex);
            self->reports.push_back(
                {url, info->present, info->name, info->guid, info->vendorId, info->productId, info->version});
        }
        self->changed.notify_all();
    }

    // The latest report of the name that matches.
    std::optional<Report> WaitFor(const std::u16string& name, const std::function<bool(const Report&)>& match) {
        std::unique_lock guard(mutex);
        std::optional<Report> found;
        changed.wait_for(guard, kDiscoveryWait, [&] {
            for (const auto& r : reports)
                if (r.name == name && match(r)) found = r;
            return found.has_value();
        });
        return found;
    }
};

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::map<std::string, std::string> ReadKeyValues(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

class AvahiPtpDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);
        const char* state = std::getenv("VELMO_AVAHI_FIXTURE");
        ASSERT_NE(state, nullptr) << "VELMO_AVAHI_FIXTURE is not set: run these tests through CTest";
        std::ifstream unavailable(std::string(state) + "/unavailable");
        std::string reason;
        if (unavailable && std::getline(unavailable, reason))
            GTEST_SKIP() << "avahi-daemon cannot run on this machine: " << reason;
        fixtureService = ReadKeyValues(std::string(state) + "/service");
        ASSERT_EQ(Jorvale::CreateDiscovery(&recorder, &Recorder::Record, recorder.lock, &provider), 0);
    }
    void TearDown() override {
        if (provider) provider->ops->Release(provider);
        EXPECT_EQ(Jorvale::DnsSdCoreUses(), 0u);
    }

    Recorder recorder;
    PtpiDiscovery* provider = nullptr;
    std::map<std::string, std::string> fixtureService;
};

TEST_F(AvahiPtpDiscovery, FindsTheResponderAndSeesItGo) {
    PtpIpSim::Responder responder;
    PtpIpSim::Announcement announcement;
    announcement.instanceName = "Velmo PTP Responder " + std::to_string(::getpid());
    announcement.hostName = "velmo-ptp-" + std::to_string(::getpid()) + ".local";
    announcement.port = responder.Port();
    announcement.version = 7;
    PtpIpSim::AvahiPublisher publisher(announcement);
    ASSERT_TRUE(publisher.WaitEstablished()) << publisher.Output();

    ASSERT_EQ(provider->ops->Start(provider, kPtpEnumAsync), 0);
    const auto name = Wide(announcement.instanceName);
    const auto found = recorder.WaitFor(name, [](const Report& r) { return r.present == 1; });
    ASSERT_TRUE(found) << "the responder's announcement was not found";
    EXPECT_EQ(found->url, responder.Url());
    EXPECT_EQ(found->guid, u"{" + Wide(announcement.guid) + u"}");
    EXPECT_EQ(found->vendor, u"00003B7D");
    EXPECT_EQ(found->product, u"00000102");
    EXPECT_EQ(found->version, 7u);

    publisher.Stop();
    EXPECT_TRUE(recorder.WaitFor(name, [](const Report& r) { return r.present == 0; }))
        << "the withdrawn announcement was not reported gone";
}

TEST_F(AvahiPtpDiscovery, APrinterWithTheOtherKeysAloneHasNoVendorId) {
    ASSERT_FALSE(fixtureService["name"].empty()) << "the Avahi fixture published no service (see avahi.start)";
    ASSERT_EQ(provider->ops->Start(provider, kPtpEnumAsync), 0);
    const auto found = recorder.WaitFor(Wide(fixtureService["name"]).substr(0, 39), [](const Report&) { return true; });
    ASSERT_TRUE(found) << "the fixture's service was not found";
    EXPECT_EQ(found->present, 1u);
    // "usbvid=" is not read as a vendor id; "pid=" and "guid=" match in any case.
    EXPECT_EQ(found->vendor, u"00000000");
    EXPECT_EQ(found->product, u"0000" + Wide(fixtureService["pid"]));
    EXPECT_EQ(found->guid, u"{" + Wide(fixtureService["guid"]) + u"}");
    EXPECT_NE(found->url.find(u":" + Wide(fixtureService["port"]) + u"/"), std::u16string::npos);
}

// The whole road: the plain exports find the responder by DNS-SD and open a
// session on the address they were given.
TEST_F(AvahiPtpDiscovery, OpensTheDeviceItFinds) {
    Platform::ScopedFreshMachine machine;
    PtpIpSim::Responder responder;
    PtpIpSim::Announcement announcement;
    announcement.instanceName = "Velmo PTP Session " + std::to_string(::getpid());
    announcement.hostName = "velmo-ptp-session-" + std::to_string(::getpid()) + ".local";
    announcement.port = responder.Port();
    PtpIpSim::AvahiPublisher publisher(announcement);
    ASSERT_TRUE(publisher.WaitEstablished()) << publisher.Output();

    Recorder seen;
    HANDLE enumeration = nullptr;
    ASSERT_EQ(PtpCreateEnum(kPtpEnumAsync, &Recorder::Callback, &seen, &enumeration), 0);
    const auto found = seen.WaitFor(Wide(announcement.instanceName), [](const Report& r) { return r.present == 1; });
    ASSERT_TRUE(found) << "the responder's announcement was not found";

    PtpiDevice* device = nullptr;
    ASSERT_EQ(PtpOpenDevice(found->url.c_str(), 0, &device), 0);
    PtpCommandBlock open{0x1002, 0, 0, 1, {1, 0, 0, 0, 0}};
    ASSERT_EQ(PtpSendCmd(device, &open), 0);
    DWORD dataLength = 1;
    ASSERT_EQ(PtpWaitAck(device, &dataLength), 0);
    EXPECT_EQ(dataLength, 0u);
    PtpResponseBlock response{};
    ASSERT_EQ(PtpGetRsp(device, &response), 0);
    EXPECT_EQ(response.responseCode, 0x2001);
    EXPECT_EQ(PtpCloseDevice(device), 0);
    EXPECT_EQ(PtpCloseEnum(enumeration), 0);

    EXPECT_EQ(responder.Sessions(), 1u);
    EXPECT_FALSE(responder.InitiatorName().empty());
    EXPECT_TRUE(responder.Errors().empty());
}

}  // namespace

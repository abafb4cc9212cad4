// The locator against the real Avahi daemon, through Avahi's DNS-SD
// compatibility library. The CTest fixture (avahi-fixture) starts the daemons
// and publishes one printer service; its state folder is named by
// VELMO_AVAHI_FIXTURE.
#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Multicast DNS answers within a second or two; these bounds are generous.
constexpr auto kDiscoveryWait = 20s;

struct Resolved {
    std::string instance;
    std::string host;
    std::uint16_t port = 0;
    std::list<std::string> txt;
    bool txtWellFormed = false;
};

class RecordingLocator : public Bonjour::ServiceLocator {
public:
    RecordingLocator() : ServiceLocator(Bonjour::PtpServiceType, false) {}
    ~RecordingLocator() override { StopBrowsing(); }

    void ServiceAdded(std::uint32_t interfaceIndex, const char* name, const char* type, const char* domain) override {
        {
            std::lock_guard lock(mutex_);
            ++added_[name];
        }
        changed_.notify_all();
        ResolveService(interfaceIndex, name, type, domain);
    }

    void ServiceRemoved(std::uint32_t, const char* name, const char*, const char*) override {
        {
            std::lock_guard lock(mutex_);
            ++removed_[name];
        }
        changed_.notify_all();
    }

    void ServiceResolved(std::uint32_t, const char* fullName, const char* hostTarget, std::uint16_t port,
                         std::uint16_t txtLength, const unsigned char* txtRecord) override {
        Resolved r;
        std::string full = fullName;
        const auto cut = full.rfind(Bonjour::PtpFullNameSuffix);
        r.instance = UnescapeName(cut == std::string::npos ? full : full.substr(0, cut));
        r.host = hostTarget;
        r.port = port;
        r.txtWellFormed = SplitTxtRecord(std::string(reinterpret_cast<const char*>(txtRecord), txtLength), r.txt);
        {
            std::lock_guard lock(mutex_);
            resolved_.push_back(r);
        }
        changed_.notify_all();
    }

    template <class Pred>
    bool WaitFor(Pred pred, std::chrono::seconds timeout = kDiscoveryWait) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return pred(); });
    }

    int Added(const std::string& name) {
        std::lock_guard lock(mutex_);
        return added_.count(name) ? added_[name] : 0;
    }
    int Removed(const std::string& name) {
        std::lock_guard lock(mutex_);
        return removed_.count(name) ? removed_[name] : 0;
    }
    std::optional<Resolved> ResolvedAs(const std::string& instance) {
        std::lock_guard lock(mutex_);
        for (const auto& r : resolved_)
            if (r.instance == instance) return r;
        return std::nullopt;
    }

    // Called with the lock held, from WaitFor predicates.
    std::map<std::string, int> added_;
    std::map<std::string, int> removed_;
    std::vector<Resolved> resolved_;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

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

// A second service published for the duration of one test.
class Publisher {
public:
    explicit Publisher(const std::string& name) {
        std::vector<std::string> args = {
            "avahi-publish", "-s",          name,       "_ptp._tcp",
            "15741",         "usbvid=3B7D", "pid=0103", "guid=0F0E0D0C-0B0A-4908-8706-050403020100"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "avahi-publish", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Publisher() { Stop(); }
    bool Running() const { return pid_ > 0; }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

class AvahiServiceLocator : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("AVAHI_COMPAT_NOWARN", "1", 1);
        const char* state = std::getenv("VELMO_AVAHI_FIXTURE");
        ASSERT_NE(state, nullptr) << "VELMO_AVAHI_FIXTURE is not set: run these tests through CTest";
        std::ifstream unavailable(std::string(state) + "/unavailable");
        std::string reason;
        if (unavailable && std::getline(unavailable, reason))
            GTEST_SKIP() << "avahi-daemon cannot run on this machine: " << reason;
        service_ = ReadKeyValues(std::string(state) + "/service");
        ASSERT_FALSE(service_["name"].empty()) << "the Avahi fixture published no service (see avahi.start)";
    }

    std::map<std::string, std::string> service_;
};

TEST_F(AvahiServiceLocator, FindsAndResolvesThePublishedPrinter) {
    RecordingLocator locator;
    // ".local." as the callers write it; Avahi itself refuses the leading dot.
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain));
    const std::string name = service_["name"];
    ASSERT_TRUE(locator.WaitFor([&] {
        for (const auto& r : locator.resolved_)
            if (r.instance == name) return true;
        return false;
    })) << "the published service was not found and resolved";

    const auto resolved = locator.ResolvedAs(name);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->port, std::stoi(service_["port"]));
    EXPECT_TRUE(resolved->txtWellFormed);
    std::map<std::string, std::string> keys;
    for (const auto& entry : resolved->txt) {
        for (const auto* key : {&Bonjour::TxtKeyUsbVid, &Bonjour::TxtKeyPid, &Bonjour::TxtKeyGuid})
            if (entry.rfind(*key, 0) == 0) keys[*key] = entry.substr(key->size());
    }
    EXPECT_EQ(keys[Bonjour::TxtKeyUsbVid], service_["usbvid"]);
    EXPECT_EQ(keys[Bonjour::TxtKeyPid], service_["pid"]);
    EXPECT_EQ(keys[Bonjour::TxtKeyGuid], service_["guid"]);

    ASSERT_FALSE(resolved->host.empty());
    const std::string address = Bonjour::ServiceLocator::ResolveHostAddress(resolved->host.c_str());
    int a, b, c, d;
    char tail;
    EXPECT_EQ(std::sscanf(address.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &tail), 4) << address;

    // Avahi reports the service on every interface and protocol; the
    // subclass heard of it once.
    EXPECT_EQ(locator.Added(name), 1);
}

TEST_F(AvahiServiceLocator, ReportsAServiceThatGoesAwayOnce) {
    RecordingLocator locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    const std::string name = "Velmo Departing Printer " + std::to_string(::getpid());
    Publisher publisher(name);
    ASSERT_TRUE(publisher.Running()) << "avahi-publish could not be started";
    ASSERT_TRUE(locator.WaitFor([&] { return locator.added_.count(name) > 0; })) << "the second service never came";
    publisher.Stop();
    ASSERT_TRUE(locator.WaitFor([&] { return locator.removed_.count(name) > 0; })) << "its removal never came";
    // Let the removals of the other interfaces and protocols arrive too.
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(locator.Added(name), 1);
    EXPECT_EQ(locator.Removed(name), 1);
}

TEST_F(AvahiServiceLocator, UnknownHostTimesOut) {
    const auto started = std::chrono::steady_clock::now();
    try {
        Bonjour::ServiceLocator::ResolveHostAddress("velmo-no-such-host.local");
        FAIL() << "an address came for a host that does not exist";
    } catch (const Tessary::TSRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Error resolving host address!");
    }
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 4s);
    EXPECT_LT(waited, 15s);
}

}  // namespace

// The DNS-SD engine over dns_sd.h, run against the scripted fake library:
// it finds the responder's announcement, resolves it once however many
// interfaces report it, follows changes, and ends cleanly.
#include "DiscoveryEngine.h"

#include "FakeDnsSd.h"
#include "Simulators/PtpIp/PtpIpResponder.h"
#include "fakedns/PtpIpFakeAnnouncement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct Event {
    char kind;  // 'R' resolved, 'X' removed, '0' reset
    std::string name;
    std::array<std::uint8_t, 4> ipv4{};
    std::uint16_t port = 0;
    std::string txt;
};

class Listener : public Jorvale::DnsSdEvents {
public:
    void Resolved(const std::string& name, const std::array<std::uint8_t, 4>& ipv4, std::uint16_t port,
                  const std::string& txt) override {
        Add({'R', name, ipv4, port, txt});
    }
    void Removed(const std::string& name) override { Add({'X', name, {}, 0, {}}); }
    void Reset() override { Add({'0', {}, {}, 0, {}}); }

    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void Add(Event e) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// References are released once the answer that ends them has been handled.
template <class Pred>
bool Eventually(Pred pred) {
    for (int i = 0; i < 200; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return pred();
}

FakeDnsSd::BrowseReply Browsed(const std::string& name, bool add, std::uint32_t interfaceIndex) {
    FakeDnsSd::BrowseReply reply;
    reply.flags = add ? kDNSServiceFlagsAdd : 0;
    reply.interfaceIndex = interfaceIndex;
    reply.name = name;
    return reply;
}

class PtpDnsSdEngine : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDnsSd::Reset();
        announcement.port = responder.Port();
    }
    void TearDown() override {
        client.reset();
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
        EXPECT_TRUE(FakeDnsSd::Violations().empty());
        FakeDnsSd::Reset();
    }
    void StartBrowsing() {
        client = Jorvale::SystemDnsSdCore().CreateClient(listener);
        ASSERT_TRUE(client);
        ASSERT_EQ(client->Browse("_ptp._tcp.", "local."), 0);
    }

    PtpIpSim::Responder responder;
    PtpIpSim::Announcement announcement;
    Listener listener;
    std::unique_ptr<Jorvale::DnsSdEngine> client;
};

TEST_F(PtpDnsSdEngine, FindsTheAnnouncedResponder) {
    PtpIpSim::AnnounceFake(announcement);
    StartBrowsing();
    ASSERT_TRUE(listener.WaitFor(1));
    const Event e = listener.Events()[0];
    EXPECT_EQ(e.kind, 'R');
    EXPECT_EQ(e.name, announcement.instanceName);
    EXPECT_EQ(e.ipv4, (std::array<std::uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(e.port, responder.Port());
    EXPECT_EQ(e.txt, PtpIpSim::TxtRecord(announcement));

    const auto resolve = FakeDnsSd::WaitForRequest(FakeDnsSd::Operation::Resolve, 1s);
    ASSERT_TRUE(resolve);
    EXPECT_EQ(resolve->name, announcement.instanceName);
    EXPECT_EQ(resolve->type, "_ptp._tcp.");
    EXPECT_EQ(resolve->domain, "local.");
    const auto query = FakeDnsSd::WaitForRequest(FakeDnsSd::Operation::Query, 1s);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->name, announcement.hostName + ".");
    EXPECT_EQ(query->rrtype, kDNSServiceType_A);
    // The answered query is released; the resolve stays for changes.
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Query).empty(); }));
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Resolve).size() == 1; }));
}

TEST_F(PtpDnsSdEngine, OneServiceOnSeveralInterfaces) {
    StartBrowsing();
    PtpIpSim::AnnounceFake(announcement);
    FakeDnsSd::Announce("_ptp._tcp.", Browsed(announcement.instanceName, true, 2));
    ASSERT_TRUE(listener.WaitFor(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(listener.Events().size(), 1u);
    const auto resolves = FakeDnsSd::Requests();
    EXPECT_EQ(std::count_if(resolves.begin(), resolves.end(),
                            [](const auto& r) { return r.operation == FakeDnsSd::Operation::Resolve; }),
              1);

    // Gone from one interface: still there.
    FakeDnsSd::Announce("_ptp._tcp.", Browsed(announcement.instanceName, false, 2));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(listener.Events().size(), 1u);
    PtpIpSim::WithdrawFake(announcement);
    ASSERT_TRUE(listener.WaitFor(2));
    EXPECT_EQ(listener.Events()[1].kind, 'X');
    EXPECT_EQ(listener.Events()[1].name, announcement.instanceName);
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Resolve).empty(); }));
}

TEST_F(PtpDnsSdEngine, ANewResolveAnswerIsReportedAgain) {
    PtpIpSim::AnnounceFake(announcement);
    StartBrowsing();
    ASSERT_TRUE(listener.WaitFor(1));
    auto changed = announcement;
    changed.version = 2;
    FakeDnsSd::ResolveReply reply;
    reply.fullName = announcement.instanceName + "._ptp._tcp.local.";
    reply.hostTarget = announcement.hostName + ".";
    reply.port = announcement.port;
    reply.txt = PtpIpSim::TxtRecord(changed);
    const auto resolves = FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Resolve);
    ASSERT_EQ(resolves.size(), 1u);
    ASSERT_TRUE(FakeDnsSd::Send(resolves[0], reply));
    ASSERT_TRUE(listener.WaitFor(2));
    EXPECT_EQ(listener.Events()[1].txt, reply.txt);
    EXPECT_EQ(listener.Events()[1].kind, 'R');
}

TEST_F(PtpDnsSdEngine, FailedResolvesAndQueriesReportNothing) {
    FakeDnsSd::ResolveReply failed;
    failed.error = kDNSServiceErr_NoSuchName;
    FakeDnsSd::Answer(FakeDnsSd::Operation::Resolve, "Broken", {failed});
    FakeDnsSd::FailNext(FakeDnsSd::Operation::Query, kDNSServiceErr_NoMemory);
    PtpIpSim::AnnounceFake(announcement);
    StartBrowsing();
    FakeDnsSd::Announce("_ptp._tcp.", Browsed("Broken", true, 1));
    ASSERT_TRUE(
        FakeDnsSd::WaitForRequest(FakeDnsSd::Operation::Resolve, 1s, [](const auto& r) { return r.name == "Broken"; }));
    std::this_thread::sleep_for(100ms);
    // The announcement's query failed to start; the broken one never resolved.
    EXPECT_TRUE(listener.Events().empty());
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Resolve).size() == 1; }));
}

TEST_F(PtpDnsSdEngine, TheDaemonGoingAwayResetsTheClient) {
    PtpIpSim::AnnounceFake(announcement);
    StartBrowsing();
    ASSERT_TRUE(listener.WaitFor(1));
    const auto browses = FakeDnsSd::LiveRefs(FakeDnsSd::Operation::Browse);
    ASSERT_EQ(browses.size(), 1u);
    ASSERT_TRUE(FakeDnsSd::Send(browses[0], FakeDnsSd::ProcessFailure{kDNSServiceErr_Unknown}));
    ASSERT_TRUE(listener.WaitFor(2));
    EXPECT_EQ(listener.Events()[1].kind, '0');
    // Nothing more is heard from it.
    FakeDnsSd::Announce("_ptp._tcp.", Browsed("Later", true, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(listener.Events().size(), 2u);
}

TEST_F(PtpDnsSdEngine, ABrowseThatFailsStartsNothing) {
    FakeDnsSd::FailNext(FakeDnsSd::Operation::Browse, kDNSServiceErr_Unknown);
    client = Jorvale::SystemDnsSdCore().CreateClient(listener);
    EXPECT_EQ(client->Browse("_ptp._tcp.", "local."), kDNSServiceErr_Unknown);
    EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
}

class ThreadPtpDnsSdEngine : public PtpDnsSdEngine {};

TEST_F(ThreadPtpDnsSdEngine, EndsWhileAnswersArrive) {
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> names;
        for (int i = 0; i < 5; ++i) {
            auto a = announcement;
            a.instanceName = "Printer " + std::to_string(i);
            PtpIpSim::AnnounceFake(a);
            names.push_back(a.instanceName);
        }
        StartBrowsing();
        std::atomic<bool> stop{false};
        std::thread announcer([&] {
            for (int i = 0; !stop; ++i) {
                FakeDnsSd::Announce("_ptp._tcp.", Browsed(names[i % 5], i % 2 == 0, 1));
                std::this_thread::sleep_for(100us);
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + round % 7));
        client.reset();
        stop = true;
        announcer.join();
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
        EXPECT_TRUE(FakeDnsSd::Violations().empty());
        FakeDnsSd::Reset();
    }
}

}  // namespace

// The locator over the scripted DNS-SD fake (Simulators/DnsSd).
#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include "FakeDnsSd.h"
#include "Platform/Clock.h"
#include "Platform/Thread.h"
#include "Tessary/TSException.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bonjour::ServiceLocator;
using FakeDnsSd::Operation;

// Every wait for the pump thread is bounded; none should come near it.
constexpr auto kWait = 5s;

// Waits for what the pump thread does without telling anyone.
template <class Condition>
bool Eventually(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + kWait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string Bytes(const unsigned char* data, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

FakeDnsSd::BrowseReply Added(const std::string& name, std::uint32_t interfaceIndex = 1, DNSServiceFlags more = 0) {
    FakeDnsSd::BrowseReply reply;
    reply.name = name;
    reply.interfaceIndex = interfaceIndex;
    reply.flags = kDNSServiceFlagsAdd | more;
    return reply;
}

FakeDnsSd::BrowseReply Removed(const std::string& name, std::uint32_t interfaceIndex = 1) {
    FakeDnsSd::BrowseReply reply = Added(name, interfaceIndex);
    reply.flags = 0;
    return reply;
}

FakeDnsSd::ResolveReply Answer(const std::string& name, DNSServiceFlags flags = 0) {
    FakeDnsSd::ResolveReply reply;
    reply.flags = flags;
    reply.fullName = name + "._ptp._tcp.local.";
    reply.hostTarget = "printer.local.";
    reply.port = 15740;
    reply.txt = FakeDnsSd::TxtRecord({"usbvid=3B7D", "pid=0102", "guid=G-1"});
    return reply;
}

// What reaches the subclass, in order, as text.
struct Options {
    bool resolveOnAdd = true;
    bool throwOnAdd = false;
    bool throwOnResolve = false;
    bool stopOnResolve = false;
    std::chrono::milliseconds slowCallbacks{0};  // keeps the pump inside the subclass
};

class Recorder : public ServiceLocator {
public:
    explicit Recorder(Options options = {}, bool start = false, const std::string& type = Bonjour::PtpServiceType)
        : ServiceLocator(type, start), options_(options) {}

    ~Recorder() override {
        StopBrowsing();
        // Anything after this point would reach a dying object.
        alive_.store(false);
    }

    void ServiceAdded(std::uint32_t interfaceIndex, const char* name, const char* type, const char* domain) override {
        std::this_thread::sleep_for(options_.slowCallbacks);
        Note("added " + std::string(name) + " if" + std::to_string(interfaceIndex));
        if (options_.throwOnAdd) throw std::runtime_error("subclass failure");
        if (options_.resolveOnAdd) ResolveService(interfaceIndex, name, type, domain);
    }

    void ServiceRemoved(std::uint32_t interfaceIndex, const char* name, const char*, const char*) override {
        Note("removed " + std::string(name) + " if" + std::to_string(interfaceIndex));
    }

    void ServiceResolved(std::uint32_t flags, const char* fullName, const char* hostTarget, std::uint16_t port,
                         std::uint16_t txtLength, const unsigned char* txtRecord) override {
        std::this_thread::sleep_for(options_.slowCallbacks);
        {
            std::lock_guard lock(mutex_);
            lastTxt_ = Bytes(txtRecord, txtLength);
        }
        Note("resolved " + std::string(fullName) + " " + hostTarget + ":" + std::to_string(port) +
             ((flags & kDNSServiceFlagsMoreComing) ? " more" : ""));
        if (options_.stopOnResolve) StopBrowsing();
        if (options_.throwOnResolve) TS_THROW(Tessary::TSRuntimeError, "subclass failure");
    }

    bool WaitForEvents(std::size_t count, std::chrono::milliseconds timeout = kWait) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
    }

    std::vector<std::string> Events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

    std::string LastTxt() {
        std::lock_guard lock(mutex_);
        return lastTxt_;
    }

    static std::atomic<int> lateCallbacks;

private:
    void Note(const std::string& event) {
        if (!alive_.load()) ++lateCallbacks;
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
    }

    Options options_;
    std::atomic<bool> alive_{true};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::string lastTxt_;
};

std::atomic<int> Recorder::lateCallbacks{0};

class LocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeDnsSd::Reset();
        Recorder::lateCallbacks = 0;
    }
    void TearDown() override {
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u) << "a DNS-SD reference was not released";
        EXPECT_EQ(FakeDnsSd::Violations(), std::vector<std::string>{});
        EXPECT_EQ(Recorder::lateCallbacks.load(), 0);
        FakeDnsSd::Reset();
    }

    static DNSServiceRef BrowseRef() {
        const auto refs = FakeDnsSd::LiveRefs(Operation::Browse);
        return refs.size() == 1 ? refs.front() : nullptr;
    }
};

// ---------------------------------------------------------------------------
// TXT records and escaped names

TEST(ServiceLocatorText, SplitTxtRecord) {
    struct Case {
        std::string record;
        bool wellFormed;
        std::list<std::string> entries;
    };
    const std::vector<Case> cases = {
        {std::string("\x07usbvid=\x00\x04pid=", 14), true, {"usbvid=", "", "pid="}},
        {"", true, {}},
        {std::string("\x00", 1), true, {""}},
        {std::string("\x03"
                     "abc\x05"
                     "de",
                     7),
         false,
         {"abc"}},  // last entry runs past the end
        {"\x01", false, {}},
        {"\xff" + std::string(254, 'x'), false, {}},
        {"\xff" + std::string(255, 'x'), true, {std::string(255, 'x')}},
    };
    for (const auto& c : cases) {
        std::list<std::string> entries;
        EXPECT_EQ(ServiceLocator::SplitTxtRecord(c.record, entries), c.wellFormed) << c.record.size();
        EXPECT_EQ(entries, c.entries) << c.record.size();
    }
}

TEST(ServiceLocatorText, UnescapeName) {
    EXPECT_EQ(ServiceLocator::UnescapeName("Dock\\032Printer"), "Dock Printer");
    EXPECT_EQ(ServiceLocator::UnescapeName("a\\.b\\\\c"), "a.b\\c");
    EXPECT_EQ(ServiceLocator::UnescapeName("\\300"), std::string(1, static_cast<char>(300 % 256)));
    EXPECT_EQ(ServiceLocator::UnescapeName(""), "");

    const std::vector<std::pair<std::string, std::string>> bad = {
        {"end\\", "Invalid escape sequence encountered!"},
        {"x\\q", "Invalid escape sequence encountered!"},
        {"end\\1", "Invalid numeric escape sequence encountered!"},
        {"end\\12", "Invalid numeric escape sequence encountered!"},
        {"\\1a2", "Invalid numeric escape sequence encountered!"},
    };
    for (const auto& [name, message] : bad) {
        try {
            ServiceLocator::UnescapeName(name);
            ADD_FAILURE() << name << " was accepted";
        } catch (const Tessary::TSException& e) {
            EXPECT_STREQ(e.what(), message.c_str()) << name;
        }
    }
}

// ---------------------------------------------------------------------------
// Browsing

TEST_F(LocatorTest, AddedAndRemovedServicesReachTheSubclass) {
    Recorder locator({.resolveOnAdd = false});
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    const auto request = FakeDnsSd::WaitForRequest(Operation::Browse, 0ms);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->type, "_ptp._tcp");
    EXPECT_EQ(request->domain, std::nullopt);
    EXPECT_EQ(request->interfaceIndex, 0u);

    // A batch flagged MoreComing is delivered entry by entry.
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 2, kDNSServiceFlagsMoreComing));
    FakeDnsSd::Announce("_ptp._tcp", Added("B", 2, kDNSServiceFlagsMoreComing));
    FakeDnsSd::Announce("_ptp._tcp", Added("C", 3));
    FakeDnsSd::Announce("_ptp._tcp", Removed("A", 2));
    ASSERT_TRUE(locator.WaitForEvents(4));
    EXPECT_EQ(locator.Events(),
              (std::vector<std::string>{"added A if2", "added B if2", "added C if3", "removed A if2"}));
}

TEST_F(LocatorTest, OneServiceSeenOnSeveralInterfacesIsReportedOnce) {
    Recorder locator({.resolveOnAdd = false});
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain));
    // As Avahi reports it: IPv6 and IPv4 on eth0, IPv4 on lo.
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 4));
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 4));
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 1));
    FakeDnsSd::Announce("_ptp._tcp", Removed("A", 4));
    FakeDnsSd::Announce("_ptp._tcp", Removed("A", 4));
    FakeDnsSd::Announce("_ptp._tcp", Added("B", 4));  // marks the end of the batch above
    ASSERT_TRUE(locator.WaitForEvents(2));
    FakeDnsSd::Announce("_ptp._tcp", Removed("A", 1));
    FakeDnsSd::Announce("_ptp._tcp", Removed("Z", 1));  // never added
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 1));    // back again
    ASSERT_TRUE(locator.WaitForEvents(4));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(locator.Events(),
              (std::vector<std::string>{"added A if4", "added B if4", "removed A if1", "added A if1"}));
}

TEST_F(LocatorTest, ARemovalVoidsTheResolveStillAwaitedForTheService) {
    Recorder locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain));
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 2));
    ASSERT_TRUE(FakeDnsSd::WaitForRequest(Operation::Resolve, kWait));
    const auto heldBack = FakeDnsSd::LiveRefs(Operation::Resolve);
    ASSERT_EQ(heldBack.size(), 1u);
    FakeDnsSd::Announce("_ptp._tcp", Removed("A", 2));
    ASSERT_TRUE(locator.WaitForEvents(2));
    // The answer comes too late: it has no reference left to arrive on.
    EXPECT_FALSE(FakeDnsSd::Send(heldBack.front(), Answer("A")));
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(locator.Events(), (std::vector<std::string>{"added A if2", "removed A if2"}));
    EXPECT_TRUE(FakeDnsSd::LiveRefs(Operation::Resolve).empty());

    // Still reported on another interface: the resolve under way stays.
    FakeDnsSd::Announce("_ptp._tcp", Added("B", 1));
    const auto first = FakeDnsSd::WaitForRequest(Operation::Resolve, kWait);
    ASSERT_TRUE(first);
    FakeDnsSd::Announce("_ptp._tcp", Added("B", 3));
    FakeDnsSd::Announce("_ptp._tcp", Removed("B", 1));
    std::this_thread::sleep_for(150ms);
    ASSERT_TRUE(FakeDnsSd::Send(first->ref, Answer("B")));
    ASSERT_TRUE(locator.WaitForEvents(4));
    EXPECT_EQ(locator.Events()[3], "resolved B._ptp._tcp.local. printer.local.:15740");
}

TEST_F(LocatorTest, LeadingDotOfTheDomainIsNotPassedToDnsSd) {
    Recorder locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain));
    auto browse = FakeDnsSd::WaitForRequest(Operation::Browse, 0ms);
    ASSERT_TRUE(browse);
    EXPECT_EQ(browse->domain, std::optional<std::string>("local."));
    locator.ResolveService(1, "A", "_ptp._tcp.", Bonjour::LocalDomain);
    auto resolve = FakeDnsSd::WaitForRequest(Operation::Resolve, 0ms);
    ASSERT_TRUE(resolve);
    EXPECT_EQ(resolve->domain, std::optional<std::string>("local."));
}

TEST_F(LocatorTest, StartBrowsingRefusals) {
    Recorder locator;
    EXPECT_FALSE(locator.StartBrowsing("", std::string()));
    FakeDnsSd::FailNext(Operation::Browse, kDNSServiceErr_Unknown);
    EXPECT_FALSE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);

    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    const DNSServiceRef running = BrowseRef();
    EXPECT_FALSE(locator.StartBrowsing("_other._tcp", std::string()));
    EXPECT_EQ(BrowseRef(), running);
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));
    EXPECT_TRUE(locator.WaitForEvents(1));
}

TEST_F(LocatorTest, APumpThatCannotStartLeavesNothingBehind) {
    {
        Recorder locator;
        Platform::FailNextThreadCreations(1);
        EXPECT_FALSE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
        // And it can still start once threads can.
        EXPECT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    }
    // A task whose thread never ran is destroyed without waiting for it.
    auto task = std::make_unique<ServiceLocator::AsyncPumpTask>(nullptr);
    auto done = std::async(std::launch::async, [&] { task.reset(); });
    EXPECT_EQ(done.wait_for(kWait), std::future_status::ready);
}

TEST_F(LocatorTest, ConstructorWithStartSendsTheBrowseButHoldsEventsUntilStartBrowsing) {
    FakeDnsSd::FailNext(Operation::Browse, kDNSServiceErr_Refused);
    try {
        Recorder failing({}, true);
        ADD_FAILURE() << "constructed without a browse";
    } catch (const Tessary::TSRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Can't start browsing for services!");
    }

    Recorder locator({.resolveOnAdd = false}, true);
    ASSERT_NE(BrowseRef(), nullptr);
    FakeDnsSd::Announce("_ptp._tcp", Added("Early"));
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(locator.Events().empty());  // nothing while the subclass may still be building
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    ASSERT_TRUE(locator.WaitForEvents(1));
    EXPECT_EQ(locator.Events().front(), "added Early if1");
    EXPECT_EQ(FakeDnsSd::LiveRefs(Operation::Browse).size(), 1u);
}

TEST_F(LocatorTest, PumpEventsOnTheCallersThread) {
    Recorder locator({.resolveOnAdd = false}, true);
    locator.PumpEvents(0);  // idle: returns after one quiet pass
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));
    FakeDnsSd::Announce("_ptp._tcp", Added("B"));
    locator.PumpEvents(0);  // one pass serves one reply
    EXPECT_EQ(locator.Events(), std::vector<std::string>{"added A if1"});
    locator.PumpEvents(1000);
    EXPECT_EQ(locator.Events(), (std::vector<std::string>{"added A if1", "added B if1"}));
}

// ---------------------------------------------------------------------------
// Resolving

TEST_F(LocatorTest, ResolveDeliversHostPortAndTxtAndReleasesTheReference) {
    FakeDnsSd::Answer(Operation::Resolve, "A", {Answer("A")});
    Recorder locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, Bonjour::LocalDomain));
    FakeDnsSd::Announce("_ptp._tcp", Added("A", 3));
    ASSERT_TRUE(locator.WaitForEvents(2));
    EXPECT_EQ(locator.Events()[1], "resolved A._ptp._tcp.local. printer.local.:15740");
    EXPECT_EQ(locator.LastTxt(), FakeDnsSd::TxtRecord({"usbvid=3B7D", "pid=0102", "guid=G-1"}));
    const auto request = FakeDnsSd::WaitForRequest(Operation::Resolve, 0ms);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->interfaceIndex, 3u);
    EXPECT_EQ(request->name, "A");
    EXPECT_EQ(request->type, "_ptp._tcp.");
    // Released by the pump after the answer.
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(Operation::Resolve).empty(); }));
}

TEST_F(LocatorTest, ResolveWithMoreComingStaysPendingUntilTheLastAnswer) {
    FakeDnsSd::Answer(Operation::Resolve, "A", {Answer("A", kDNSServiceFlagsMoreComing)});
    Recorder locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));
    ASSERT_TRUE(locator.WaitForEvents(2));
    const auto pending = FakeDnsSd::LiveRefs(Operation::Resolve);
    ASSERT_EQ(pending.size(), 1u);
    FakeDnsSd::Send(pending.front(), Answer("A"));
    ASSERT_TRUE(locator.WaitForEvents(3));
    EXPECT_EQ(locator.Events()[1], "resolved A._ptp._tcp.local. printer.local.:15740 more");
    EXPECT_EQ(locator.Events()[2], "resolved A._ptp._tcp.local. printer.local.:15740");
}

TEST_F(LocatorTest, ErrorRepliesAreIgnoredAndFailedResolvesStayPendingUntilDestruction) {
    FakeDnsSd::ResolveReply failed = Answer("A");
    failed.error = kDNSServiceErr_NoSuchRecord;
    FakeDnsSd::Answer(Operation::Resolve, "A", {failed});
    {
        Recorder locator;
        ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
        FakeDnsSd::BrowseReply broken = Added("X");
        broken.error = kDNSServiceErr_Unknown;
        FakeDnsSd::Announce("_ptp._tcp", broken);
        FakeDnsSd::Announce("_ptp._tcp", Added("A"));
        FakeDnsSd::Announce("_ptp._tcp", Added("B", 1));  // a marker after the failed answer
        ASSERT_TRUE(locator.WaitForEvents(2));
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(locator.Events(), (std::vector<std::string>{"added A if1", "added B if1"}));
        EXPECT_EQ(FakeDnsSd::LiveRefs(Operation::Resolve).size(), 2u);
    }
    // The destructor released them (checked in TearDown).
}

TEST_F(LocatorTest, ThrowingSubclassIsContained) {
    FakeDnsSd::Answer(Operation::Resolve, "A", {Answer("A")});
    Recorder thrower({.resolveOnAdd = false, .throwOnAdd = true, .throwOnResolve = true});
    ASSERT_TRUE(thrower.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));
    FakeDnsSd::Announce("_ptp._tcp", Added("B"));
    ASSERT_TRUE(thrower.WaitForEvents(2));
    // A resolve whose subclass throws is still released.
    thrower.ResolveService(1, "A", "_ptp._tcp.", "local.");
    ASSERT_TRUE(thrower.WaitForEvents(3));
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefs(Operation::Resolve).empty(); }));
}

TEST_F(LocatorTest, ResolveRequests) {
    Recorder locator;
    locator.ResolveService(1, "", "_ptp._tcp.", "local.");
    locator.ResolveService(1, "A", "", "local.");
    EXPECT_TRUE(FakeDnsSd::Requests().empty());

    FakeDnsSd::FailNext(Operation::Resolve, kDNSServiceErr_NoMemory);
    try {
        locator.ResolveService(1, "A", "_ptp._tcp.", "local.");
        ADD_FAILURE() << "no exception";
    } catch (const Tessary::TSRuntimeCodeError& e) {
        EXPECT_STREQ(e.what(), "Error requesting service resolution");
        EXPECT_EQ(e.Code(), kDNSServiceErr_NoMemory);
    }

    locator.ResolveService(1, "A", "_ptp._tcp.", "local.");
    const auto refs = FakeDnsSd::LiveRefs(Operation::Resolve);
    ASSERT_EQ(refs.size(), 1u);
    locator.CancelResolve(nullptr);
    locator.CancelResolve(refs.front());
    locator.CancelResolve(refs.front());  // a second cancel releases nothing twice
    EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
}

TEST_F(LocatorTest, SurplusResolvesAreNotWaitedOnInOnePass) {
    Recorder locator({.resolveOnAdd = false}, true);
    for (int i = 0; i < 70; ++i) locator.ResolveService(1, "S" + std::to_string(i), "_ptp._tcp.", "local.");
    auto refs = FakeDnsSd::LiveRefs(Operation::Resolve);
    ASSERT_EQ(refs.size(), 70u);
    std::sort(refs.begin(), refs.end());  // the locator's set order
    FakeDnsSd::Send(refs.back(), Answer("Last"));
    locator.PumpEvents(0);
    EXPECT_TRUE(locator.Events().empty());
    // With 63 pending ahead of it the last one comes into reach.
    for (int i = 0; i < 7; ++i) locator.CancelResolve(refs[i]);
    locator.PumpEvents(0);
    EXPECT_EQ(locator.Events(), std::vector<std::string>{"resolved Last._ptp._tcp.local. printer.local.:15740"});
}

// ---------------------------------------------------------------------------
// A failing daemon connection

TEST_F(LocatorTest, ABrokenDaemonConnectionEndsThePumpAndAStartBeginsAfresh) {
    Recorder locator;
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    const DNSServiceRef broken = BrowseRef();
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));  // its resolve is never answered
    ASSERT_TRUE(FakeDnsSd::WaitForRequest(Operation::Resolve, kWait));
    const std::size_t served = FakeDnsSd::ProcessCalls(broken);
    ASSERT_TRUE(FakeDnsSd::Break(broken));

    // The pump gives up and lets go of the browse and the pending resolve.
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefCount() == 0; }));
    std::this_thread::sleep_for(200ms);
    EXPECT_LE(FakeDnsSd::ProcessCalls(broken) - served, 8u) << "the pump kept calling a broken connection";

    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    EXPECT_NE(BrowseRef(), broken);
    FakeDnsSd::Announce("_ptp._tcp", Added("B"));
    ASSERT_TRUE(locator.WaitForEvents(2));
    EXPECT_EQ(locator.Events().back(), "added B if1");
}

TEST_F(LocatorTest, FailuresBetweenGoodRepliesDoNotStopThePump) {
    Recorder locator({.resolveOnAdd = false});
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    const DNSServiceRef browse = BrowseRef();
    for (const char* name : {"A", "B", "C"}) {
        for (int i = 0; i < 7; ++i) FakeDnsSd::Send(browse, FakeDnsSd::ProcessFailure{});
        FakeDnsSd::Send(browse, Added(name));
    }
    ASSERT_TRUE(locator.WaitForEvents(3));
    EXPECT_EQ(locator.Events(), (std::vector<std::string>{"added A if1", "added B if1", "added C if1"}));
    EXPECT_TRUE(FakeDnsSd::IsLive(browse));
}

// ---------------------------------------------------------------------------
// Host addresses

class HostAddressTest : public LocatorTest {};

TEST_F(HostAddressTest, FirstWellFormedARecordWins) {
    FakeDnsSd::QueryReply shortRecord;
    shortRecord.rdata = "\x01\x02\x03";
    FakeDnsSd::QueryReply longRecord;
    longRecord.rdata = "\x01\x02\x03\x04\x05";
    FakeDnsSd::QueryReply ipv6;
    ipv6.rrtype = kDNSServiceType_AAAA;
    ipv6.rdata = std::string(16, '\x01');
    FakeDnsSd::QueryReply failed;
    failed.error = kDNSServiceErr_Unknown;
    failed.rdata = FakeDnsSd::Ipv4(10, 0, 0, 1);
    FakeDnsSd::QueryReply good;
    good.rdata = FakeDnsSd::Ipv4(192, 0, 2, 254);
    FakeDnsSd::QueryReply loopback;
    loopback.rdata = FakeDnsSd::Ipv4(127, 0, 0, 1);
    // Avahi's first dispatch carries no record.
    FakeDnsSd::Answer(Operation::Query, "printer.local.",
                      {FakeDnsSd::EmptyReply{}, shortRecord, longRecord, ipv6, failed, good, loopback});

    EXPECT_EQ(ServiceLocator::ResolveHostAddress("printer.local."), "192.0.2.254");
    const auto request = FakeDnsSd::WaitForRequest(Operation::Query, 0ms);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->rrtype, kDNSServiceType_A);
    EXPECT_EQ(request->rrclass, kDNSServiceClass_IN);
    EXPECT_EQ(request->interfaceIndex, 0u);
}

TEST_F(HostAddressTest, QueryFailureCarriesTheCode) {
    FakeDnsSd::FailNext(Operation::Query, kDNSServiceErr_Refused);
    try {
        ServiceLocator::ResolveHostAddress("printer.local.");
        ADD_FAILURE() << "no exception";
    } catch (const Tessary::TSRuntimeCodeError& e) {
        EXPECT_STREQ(e.what(), "QueryRecord returned failure");
        EXPECT_EQ(e.Code(), kDNSServiceErr_Refused);
    }
}

TEST_F(HostAddressTest, NoAnswerTimesOutOnTheMachineClock) {
    auto clock = std::make_shared<Platform::ManualClock>(false);
    Platform::ScopedClock scoped(clock);
    FakeDnsSd::QueryReply malformed;
    malformed.rdata = "\x01\x02";
    FakeDnsSd::Answer(Operation::Query, "silent.local.", {FakeDnsSd::EmptyReply{}, malformed});

    auto result = std::async(std::launch::async, [] { return ServiceLocator::ResolveHostAddress("silent.local."); });
    // Real time passing does not matter, the machine's clock does.
    EXPECT_EQ(result.wait_for(300ms), std::future_status::timeout);
    clock->Advance(Platform::Milliseconds(ServiceLocator::HostAddressTimeoutMs - 1));
    EXPECT_EQ(result.wait_for(300ms), std::future_status::timeout);
    clock->Advance(1ms);
    ASSERT_EQ(result.wait_for(kWait), std::future_status::ready);
    try {
        result.get();
        ADD_FAILURE() << "no exception";
    } catch (const Tessary::TSRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Error resolving host address!");
    }
}

// ---------------------------------------------------------------------------
// Lifetime against the pump thread (also run under ThreadSanitizer)

class ThreadServiceLocator : public LocatorTest {};

TEST_F(ThreadServiceLocator, DestroyedWhileEventsFlow) {
    FakeDnsSd::Answer(Operation::Resolve, "A", {Answer("A", kDNSServiceFlagsMoreComing), Answer("A")});
    for (int round = 0; round < 15; ++round) {
        auto locator = std::make_unique<Recorder>(Options{.slowCallbacks = 2ms});
        ASSERT_TRUE(locator->StartBrowsing(Bonjour::PtpServiceType, std::string()));
        std::atomic<bool> stop{false};
        std::thread feeder([&] {
            for (int i = 0; !stop.load(); ++i) {
                FakeDnsSd::Announce("_ptp._tcp", Added("A", 1 + i % 3));
                FakeDnsSd::Announce("_ptp._tcp", Removed("A", 1 + i % 3));
                std::this_thread::sleep_for(1ms);
            }
        });
        locator->WaitForEvents(static_cast<std::size_t>(1 + round % 4));
        locator.reset();  // pump busy, resolves pending
        stop.store(true);
        feeder.join();
        EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u) << "round " << round;
    }
}

TEST_F(ThreadServiceLocator, StartStopStartThenDestroyWithResolvesPending) {
    Recorder locator;
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string())) << round;
        FakeDnsSd::Announce("_ptp._tcp", Added("P" + std::to_string(round)));
        locator.WaitForEvents(static_cast<std::size_t>(round + 1));
        locator.StopBrowsing();
        EXPECT_EQ(FakeDnsSd::LiveRefs(Operation::Browse).size(), 0u);
    }
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    EXPECT_EQ(FakeDnsSd::LiveRefs(Operation::Resolve).size(), 10u);  // never answered
}

TEST_F(ThreadServiceLocator, StopFromACallbackThenFromTheOwner) {
    FakeDnsSd::Answer(Operation::Resolve, "A", {Answer("A")});
    Recorder locator({.stopOnResolve = true});
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    FakeDnsSd::Announce("_ptp._tcp", Added("A"));
    ASSERT_TRUE(locator.WaitForEvents(2));
    // The pump released both on its way out.
    EXPECT_TRUE(Eventually([] { return FakeDnsSd::LiveRefCount() == 0; }));
    // Browsing can start again, and the owner's stop still joins cleanly.
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    FakeDnsSd::Announce("_ptp._tcp", Added("B"));
    ASSERT_TRUE(locator.WaitForEvents(3));
    locator.StopBrowsing();
}

TEST_F(ThreadServiceLocator, OwnerResolvesAndCancelsWhileThePumpRuns) {
    Recorder locator({.resolveOnAdd = false});
    ASSERT_TRUE(locator.StartBrowsing(Bonjour::PtpServiceType, std::string()));
    std::atomic<bool> stop{false};
    std::thread feeder([&] {
        for (int i = 0; !stop.load(); ++i) {
            FakeDnsSd::Announce("_ptp._tcp", Added("F" + std::to_string(i)));
            for (auto ref : FakeDnsSd::LiveRefs(Operation::Resolve)) FakeDnsSd::Send(ref, Answer("R"));
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 200; ++i) {
        locator.ResolveService(1, "R", "_ptp._tcp.", "local.");
        const auto refs = FakeDnsSd::LiveRefs(Operation::Resolve);
        if (!refs.empty() && i % 2) locator.CancelResolve(refs.front());
    }
    stop.store(true);
    feeder.join();
}

}  // namespace

#include "FakeDnsSd.h"

#include "Platform/Clock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool Readable(DNSServiceRef ref, int timeoutMs = 0) {
    pollfd fd{DNSServiceRefSockFD(ref), POLLIN, 0};
    return ::poll(&fd, 1, timeoutMs) == 1;
}

struct Seen {
    std::vector<std::string> names;
    std::vector<DNSServiceFlags> flags;
    std::uint16_t port = 0;
    std::string txt;
};

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType, const char* name,
                        const char*, const char*, void* context) {
    auto* seen = static_cast<Seen*>(context);
    seen->names.push_back(name);
    seen->flags.push_back(flags);
}

void DNSSD_API OnResolve(DNSServiceRef ref, DNSServiceFlags, uint32_t, DNSServiceErrorType, const char* fullName,
                         const char*, uint16_t port, uint16_t txtLength, const unsigned char* txt, void* context) {
    auto* seen = static_cast<Seen*>(context);
    seen->names.push_back(fullName);
    seen->port = port;
    seen->txt.assign(reinterpret_cast<const char*>(txt), txtLength);
    DNSServiceRefDeallocate(ref);  // allowed inside its own callback
}

class FakeDnsSdTest : public ::testing::Test {
protected:
    void SetUp() override { FakeDnsSd::Reset(); }
    void TearDown() override { FakeDnsSd::Reset(); }
};

TEST_F(FakeDnsSdTest, SocketIsReadableExactlyWhileRepliesWait) {
    Seen seen;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_ptp._tcp", "local.", OnBrowse, &seen), kDNSServiceErr_NoError);
    EXPECT_FALSE(Readable(ref));
    FakeDnsSd::BrowseReply reply;
    reply.name = "A";
    reply.flags = kDNSServiceFlagsAdd | kDNSServiceFlagsMoreComing;
    EXPECT_EQ(FakeDnsSd::Announce("_ptp._tcp", reply), 1u);
    reply.name = "B";
    reply.flags = 0;
    EXPECT_EQ(FakeDnsSd::Announce("_ptp._tcp", reply), 1u);
    ASSERT_TRUE(Readable(ref));
    EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_NoError);
    EXPECT_TRUE(Readable(ref));
    EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_NoError);
    EXPECT_FALSE(Readable(ref));
    EXPECT_EQ(seen.names, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(seen.flags, (std::vector<DNSServiceFlags>{kDNSServiceFlagsAdd | kDNSServiceFlagsMoreComing, 0u}));
    DNSServiceRefDeallocate(ref);
    EXPECT_EQ(FakeDnsSd::LiveRefCount(), 0u);
    EXPECT_TRUE(FakeDnsSd::Violations().empty());
}

TEST_F(FakeDnsSdTest, StandingAnswersFailuresAndAvahiDomainRule) {
    FakeDnsSd::ResolveReply answer;
    answer.fullName = "P._ptp._tcp.local.";
    answer.port = 15740;
    answer.txt = FakeDnsSd::TxtRecord({"usbvid=3B7D", "", "pid=0102"});
    FakeDnsSd::Answer(FakeDnsSd::Operation::Resolve, "P", {answer});

    Seen seen;
    DNSServiceRef ref = nullptr;
    EXPECT_EQ(DNSServiceResolve(&ref, 0, 0, "P", "_ptp._tcp", ".local.", OnResolve, &seen), kDNSServiceErr_BadParam);
    FakeDnsSd::FailNext(FakeDnsSd::Operation::Resolve, kDNSServiceErr_NoMemory);
    EXPECT_EQ(DNSServiceResolve(&ref, 0, 0, "P", "_ptp._tcp", "local.", OnResolve, &seen), kDNSServiceErr_NoMemory);
    ASSERT_EQ(DNSServiceResolve(&ref, 0, 3, "P", "_ptp._tcp", "local.", OnResolve, &seen), kDNSServiceErr_NoError);
    ASSERT_TRUE(Readable(ref));
    EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_NoError);
    EXPECT_EQ(seen.names, std::vector<std::string>{"P._ptp._tcp.local."});
    EXPECT_EQ(seen.port, htons(15740));
    EXPECT_EQ(seen.txt, std::string("\x0busbvid=3B7D\x00\x08pid=0102", 22));
    EXPECT_FALSE(FakeDnsSd::IsLive(ref));

    const auto request =
        FakeDnsSd::WaitForRequest(FakeDnsSd::Operation::Resolve, 0ms, [](const auto& r) { return r.ref != nullptr; });
    ASSERT_TRUE(request);
    EXPECT_EQ(request->interfaceIndex, 3u);
    EXPECT_EQ(request->domain, std::optional<std::string>("local."));
    EXPECT_TRUE(FakeDnsSd::Violations().empty());
}

TEST_F(FakeDnsSdTest, MisuseIsRecorded) {
    Seen seen;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_ptp._tcp", nullptr, OnBrowse, &seen), kDNSServiceErr_NoError);
    DNSServiceRefDeallocate(ref);
    DNSServiceRefDeallocate(ref);
    EXPECT_EQ(DNSServiceRefSockFD(ref), -1);
    EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_BadReference);
    EXPECT_EQ(FakeDnsSd::Violations().size(), 3u);
}

TEST_F(FakeDnsSdTest, DelayedRepliesFollowTheMachineClock) {
    auto clock = std::make_shared<Platform::ManualClock>(false);
    Platform::ScopedClock scoped(clock);
    Seen seen;
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&ref, 0, 0, "_ptp._tcp", nullptr, OnBrowse, &seen), kDNSServiceErr_NoError);
    FakeDnsSd::BrowseReply reply;
    reply.name = "Late";
    ASSERT_TRUE(FakeDnsSd::Send(ref, reply, 3000ms));
    EXPECT_FALSE(Readable(ref, 50));
    clock->Advance(2999ms);
    EXPECT_FALSE(Readable(ref, 50));
    clock->Advance(1ms);
    EXPECT_TRUE(Readable(ref, 2000));
    DNSServiceRefDeallocate(ref);
}

}  // namespace

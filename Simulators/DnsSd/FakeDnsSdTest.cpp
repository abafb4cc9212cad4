#include "FakeDnsSd.h"

#include "Platform/Clock.h"

#include <gtest/gtest.h>

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
};

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType, const char* name,
                        const char*, const char*, void* context) {
    auto* seen = static_cast<Seen*>(context);
    seen->names.push_back(name);
    seen->flags.push_back(flags);
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

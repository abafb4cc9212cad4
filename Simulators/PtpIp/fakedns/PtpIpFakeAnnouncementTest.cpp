#include "PtpIpFakeAnnouncement.h"

#include "FakeDnsSd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>

#include <string>
#include <vector>

namespace {

struct Heard {
    std::vector<std::string> names;
    std::vector<bool> added;
    std::string host;
    std::uint16_t port = 0;
    std::string txt;
    std::string address;
};

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType, const char* name,
                        const char*, const char*, void* context) {
    auto* heard = static_cast<Heard*>(context);
    heard->names.push_back(name);
    heard->added.push_back((flags & kDNSServiceFlagsAdd) != 0);
}

void DNSSD_API OnResolve(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType, const char*, const char* host,
                         uint16_t port, uint16_t txtLength, const unsigned char* txt, void* context) {
    auto* heard = static_cast<Heard*>(context);
    heard->host = host;
    heard->port = ntohs(port);
    heard->txt.assign(reinterpret_cast<const char*>(txt), txtLength);
}

void DNSSD_API OnQuery(DNSServiceRef, DNSServiceFlags, uint32_t, DNSServiceErrorType, const char*, uint16_t, uint16_t,
                       uint16_t length, const void* data, uint32_t, void* context) {
    static_cast<Heard*>(context)->address.assign(static_cast<const char*>(data), length);
}

bool Process(DNSServiceRef ref) {
    pollfd p{DNSServiceRefSockFD(ref), POLLIN, 0};
    return ::poll(&p, 1, 2000) == 1 && DNSServiceProcessResult(ref) == kDNSServiceErr_NoError;
}

class PtpIpFakeAnnouncement : public ::testing::Test {
protected:
    void SetUp() override { FakeDnsSd::Reset(); }
    void TearDown() override {
        EXPECT_TRUE(FakeDnsSd::Violations().empty());
        FakeDnsSd::Reset();
    }
};

TEST_F(PtpIpFakeAnnouncement, TxtRecordCarriesBothKeySets) {
    PtpIpSim::Announcement a;
    a.vendorId = 0x3B7D;
    a.productId = 0x102;
    a.sequence = 0x1F;
    a.version = 2;
    a.guid = "ABC";
    EXPECT_EQ(PtpIpSim::TxtEntries(a), (std::vector<std::string>{"usbvid=3B7D", "pid=0102", "guid=ABC", "VID=3B7D",
                                                                 "PID=0102", "GUID=ABC", "SEQ=1F", "VER=2"}));
    EXPECT_EQ(PtpIpSim::TxtRecord(a).substr(0, 12), std::string("\x0busbvid=3B7D", 12));
    EXPECT_EQ(PtpIpSim::TxtRecord(a), FakeDnsSd::TxtRecord({"usbvid=3B7D", "pid=0102", "guid=ABC", "VID=3B7D",
                                                            "PID=0102", "GUID=ABC", "SEQ=1F", "VER=2"}));
}

TEST_F(PtpIpFakeAnnouncement, ABrowseFindsResolvesAndLosesTheResponder) {
    PtpIpSim::Announcement a;
    a.instanceName = "Dock \xC3\xA9";
    a.port = 15740;
    Heard heard;
    DNSServiceRef early = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&early, 0, 0, "_ptp._tcp.", "local.", OnBrowse, &heard), kDNSServiceErr_NoError);
    EXPECT_EQ(PtpIpSim::AnnounceFake(a), 1u);
    ASSERT_TRUE(Process(early));

    // A browse made later finds it through the standing answer.
    Heard late;
    DNSServiceRef browse = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&browse, 0, 0, "_ptp._tcp", "local.", OnBrowse, &late), kDNSServiceErr_NoError);
    ASSERT_TRUE(Process(browse));
    EXPECT_EQ(late.names, (std::vector<std::string>{a.instanceName}));

    DNSServiceRef resolve = nullptr;
    ASSERT_EQ(DNSServiceResolve(&resolve, 0, 1, a.instanceName.c_str(), "_ptp._tcp.", "local.", OnResolve, &heard),
              kDNSServiceErr_NoError);
    ASSERT_TRUE(Process(resolve));
    EXPECT_EQ(heard.port, 15740);
    EXPECT_EQ(heard.txt, PtpIpSim::TxtRecord(a));
    DNSServiceRef query = nullptr;
    ASSERT_EQ(DNSServiceQueryRecord(&query, 0, 1, heard.host.c_str(), kDNSServiceType_A, kDNSServiceClass_IN, OnQuery,
                                    &heard),
              kDNSServiceErr_NoError);
    ASSERT_TRUE(Process(query));
    EXPECT_EQ(heard.address, std::string("\x7F\x00\x00\x01", 4));

    EXPECT_EQ(PtpIpSim::WithdrawFake(a), 2u);
    ASSERT_TRUE(Process(early));
    EXPECT_EQ(heard.names, (std::vector<std::string>{a.instanceName, a.instanceName}));
    EXPECT_EQ(heard.added, (std::vector<bool>{true, false}));
    // Gone for later browses too.
    Heard after;
    DNSServiceRef again = nullptr;
    ASSERT_EQ(DNSServiceBrowse(&again, 0, 0, "_ptp._tcp", "local.", OnBrowse, &after), kDNSServiceErr_NoError);
    EXPECT_EQ(FakeDnsSd::QueuedReplies(again), 0u);
    for (auto ref : {early, browse, resolve, query, again}) DNSServiceRefDeallocate(ref);
}

}  // namespace

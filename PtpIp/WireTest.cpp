// Packet length rules, device URLs and name decoding.
#include "TestPeer.h"
#include "Text.h"
#include "TransportDiscovery.h"
#include "Url.h"
#include "Wire.h"

#include <gtest/gtest.h>

namespace {

using namespace Jorvale;
using TestPeer::Bytes;

TEST(Wire, ResponseAndEventLengths) {
    for (std::uint32_t length = 0; length < 64; ++length) {
        const bool response = length >= 14 && length <= 34 && (length - 2) % 4 == 0;
        const bool event = length >= 14 && length <= 26 && (length - 2) % 4 == 0;
        EXPECT_EQ(Wire::IsResponseLength(length), response) << length;
        EXPECT_EQ(Wire::IsEventLength(length), event) << length;
    }
    const Bytes packet = TestPeer::Response(0x2001, 7, {1, 2, 3, 4, 5});
    const auto r = Wire::DecodeResponse(34, std::span(packet).subspan(8));
    EXPECT_EQ(r.code, 0x2001);
    EXPECT_EQ(r.transactionId, 7u);
    ASSERT_EQ(r.parameterCount, 5u);
    EXPECT_EQ(r.parameters[4], 5u);
    EXPECT_THROW(Wire::DecodeResponse(38, std::span(packet).subspan(8)), Wire::ProtocolError);
    EXPECT_THROW(Wire::DecodeResponse(30, std::span(packet).subspan(8)), Wire::ProtocolError);  // size mismatch

    const Bytes ev = TestPeer::Event(0x4002, 3, {9, 8});
    const auto e = Wire::DecodeEvent(22, std::span(ev).subspan(8));
    EXPECT_EQ(e.code, 0x4002);
    EXPECT_EQ(e.parameterCount, 2u);
    EXPECT_EQ(e.parameters[1], 8u);
    const Bytes longEvent = TestPeer::Event(1, 1, {1, 2, 3, 4});
    EXPECT_THROW(Wire::DecodeEvent(30, std::span(longEvent).subspan(8)), Wire::ProtocolError);
}

TEST(DeviceUrl, ParsesDottedAddressAndPort) {
    auto parsed = ParseDeviceUrl(u"ptp://192.168.1.20:15740/");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->ipv4[0], 192);
    EXPECT_EQ(parsed->ipv4[3], 20);
    EXPECT_EQ(parsed->port, 15740);
    EXPECT_EQ(ParseDeviceUrl(u"ptp://10.0.0.1:0x3D7C")->port, 0x3D7C);
    EXPECT_EQ(ParseDeviceUrl(u"ptp://10.0.0.1:017/")->port, 15);
    EXPECT_EQ(ParseDeviceUrl(u"ptp://10.0.0.1: +80xyz")->port, 80);
    EXPECT_EQ(ParseDeviceUrl(u"ptp://10.0.0.1:65535")->port, 65535);
}

TEST(DeviceUrl, RefusesWhatIsNotADeviceAddress) {
    for (const char16_t* url : {u"PTP://10.0.0.1:80/", u"http://10.0.0.1:80/", u"ptp://10.0.0.1/",
                                u"ptp://printer.local:80/", u"ptp://10.0.0.1:0/", u"ptp://10.0.0.1:x/",
                                u"ptp://10.0.0.1:65536/", u"ptp://10.0.0.1:0x10000/", u"ptp://10.0.0.1:4294967297/",
                                u"ptp://10.0.0.1:99999999999999999999/", u"ptp://10.0.0.1:-1/", u"ptp://10.0.0.256:80/",
                                u"ptp://:80/", u"ptp://10.0.0.1\u00E9:80/", u"ptp://0010.0000.0000.0001.0000000:80/"}) {
        EXPECT_FALSE(ParseDeviceUrl(url)) << std::string(url, url + std::char_traits<char16_t>::length(url));
    }
    // A long address is refused, not copied past its buffer.
    EXPECT_FALSE(ParseDeviceUrl(u"ptp://" + std::u16string(5000, u'1') + u":80/"));
}

TEST(DeviceUrl, FormatsResolvedAddresses) {
    PtpAddressBlock address{};
    address.family = 2;
    address.portNetworkOrder = htons(15740);
    address.ipv4[0] = 192, address.ipv4[1] = 168, address.ipv4[2] = 0, address.ipv4[3] = 7;
    EXPECT_EQ(FormatDeviceUrl(address), u"ptp://192.168.0.7:15740/");
}

TEST(Text, DecodesUtf8SafelyAndBounded) {
    EXPECT_EQ(WidenUtf8("Dock \xC3\xA9\xE2\x82\xAC", 40), u"Dock \u00E9\u20AC");
    EXPECT_EQ(WidenUtf8("\xF0\x9F\x93\xB7", 40), u"\U0001F4F7");
    EXPECT_EQ(WidenUtf8("a\xFF"
                        "b\xC3",
                        40),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(WidenUtf8("\xC0\xAF\xED\xA0\x80", 40), u"\uFFFD\uFFFD");  // overlong, surrogate
    EXPECT_EQ(WidenUtf8("\xE2\x82"
                        "A",
                        40),
              u"\uFFFDA");
    // A pair that does not fit is left out whole.
    EXPECT_EQ(WidenUtf8("abc\xF0\x9F\x93\xB7", 4), u"abc");
    EXPECT_EQ(WidenUtf8(std::string(100, 'x'), 40).size(), 40u);
    EXPECT_EQ(NarrowUtf16(u"\u00E9\U0001F4F7"), "\xC3\xA9\xF0\x9F\x93\xB7");
}

}  // namespace

#include "Url.h"

#include "TransportDiscovery.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace Jorvale {
namespace {

constexpr std::u16string_view kScheme = u"ptp://";
// The host is narrowed into a field of this size, terminator included. A
// dotted IPv4 address needs at most 16 bytes; a longer host is refused.
constexpr std::size_t kMaxAddressBytes = 20;

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'z') return c - u'a' + 10;
    if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
    return 99;
}

// Unsigned conversion with base 0, saturating; a minus sign negates as the
// C library does, which makes any non-zero value huge.
std::uint64_t ReadPort(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int base = 10;
    if (i < text.size() && text[i] == u'0') {
        if (i + 2 < text.size() && (text[i + 1] == u'x' || text[i + 1] == u'X') && DigitValue(text[i + 2]) < 16) {
            base = 16;
            i += 2;
        } else {
            base = 8;
        }
    }
    std::uint64_t value = 0;
    constexpr std::uint64_t kSaturated = 0xFFFFFFFFull + 1;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= base) break;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value >= kSaturated) value = kSaturated;
    }
    if (negative && value != 0) return kSaturated;
    return value;
}

}  // namespace

std::optional<DeviceAddress> ParseDeviceUrl(std::u16string_view url) {
    if (url.substr(0, kScheme.size()) != kScheme) return std::nullopt;
    const std::u16string_view rest = url.substr(kScheme.size());
    const std::size_t colon = rest.find(u':');
    if (colon == std::u16string_view::npos) return std::nullopt;
    const std::u16string_view host = rest.substr(0, colon);
    if (host.size() >= kMaxAddressBytes) return std::nullopt;
    char narrow[kMaxAddressBytes] = {};
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (host[i] == 0 || host[i] > 0x7F) return std::nullopt;
        narrow[i] = static_cast<char>(host[i]);
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, narrow, &parsed) != 1) return std::nullopt;
    const std::uint64_t port = ReadPort(rest.substr(colon + 1));
    if (port == 0 || port > 0xFFFF) return std::nullopt;
    DeviceAddress address{};
    std::memcpy(address.ipv4, &parsed.s_addr, 4);
    address.port = static_cast<std::uint16_t>(port);
    return address;
}

std::u16string FormatDeviceUrl(const PtpAddressBlock& address) {
    char text[64];
    const unsigned port = ntohs(address.portNetworkOrder);
    std::snprintf(text, sizeof text, "ptp://%u.%u.%u.%u:%u/", address.ipv4[0], address.ipv4[1], address.ipv4[2],
                  address.ipv4[3], port);
    return std::u16string(text, text + std::strlen(text));
}

}  // namespace Jorvale

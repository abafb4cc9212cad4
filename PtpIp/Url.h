// Device addresses: "ptp://<dotted IPv4>:<port>/".
#pragma once

#include "Platform/Win32.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace Jorvale {

struct DeviceAddress {
    std::uint8_t ipv4[4];  // a.b.c.d in order
    std::uint16_t port;
};

// The address of a device URL, or nothing when it is not one: no "ptp://",
// no colon, an address that is not dotted IPv4, a port of 0 or above 65535.
// The port reads like the C library's unsigned conversion with base 0
// ("0x1F90" and "017" too); anything after it is ignored.
std::optional<DeviceAddress> ParseDeviceUrl(std::u16string_view url);

}  // namespace Jorvale

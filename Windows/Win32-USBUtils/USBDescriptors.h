// Parsing of the descriptors a USB device returns. The bytes come from the
// device, so every length in them is checked against the bytes actually
// received; malformed input throws Tessary::TSRuntimeError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace USBDescriptors {

// The text of a string descriptor (UTF-16LE after the two head bytes), as
// far as both bLength and the received bytes reach. Throws "Malformed
// string descriptor" when the head is missing, bLength is below 2 or the
// type is not a string.
std::u16string ParseStringDescriptor(const std::uint8_t* data, std::size_t size);

// wTotalLength of a configuration descriptor head. Throws "Malformed
// configuration descriptor" unless the head is a whole configuration
// descriptor (9 bytes or more, type 2) and wTotalLength covers it.
std::uint16_t ConfigurationTotalLength(const std::uint8_t* data, std::size_t size);

// The maximum packet sizes of the bulk (or interrupt) OUT and IN endpoints
// of the first printer-class interface of a whole configuration set, 0 when
// absent. Walks descriptor by descriptor (bLength, bDescriptorType) within
// wTotalLength and the received bytes; a descriptor cut off by the end is
// ignored. Throws "Malformed configuration descriptor" for a bad head, a
// bLength below 2, or an interface or endpoint descriptor too short for its
// fields.
void FindPrinterMaxPacketSizes(const std::uint8_t* data, std::size_t size, std::uint32_t& outSize,
                               std::uint32_t& inSize);

}  // namespace USBDescriptors

// The record a port is added with through the port monitor's "AddPort"
// command: 520 bytes, little-endian, no header. Both the programs that add
// ports and the simulated monitor read and write it through this one
// definition.
//
//   0    128  reserved, all zero
//   128    4  USB vendor id
//   132    4  USB product id
//   136  128  device name, 64 UTF-16 units, NUL-terminated, zero-padded
//   264  256  device address, 128 UTF-16 units, NUL-terminated, zero-padded
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct XcvPortRecord {
    static constexpr std::size_t kSize = 520;
    static constexpr std::size_t kVendorOffset = 128;
    static constexpr std::size_t kProductOffset = 132;
    static constexpr std::size_t kDeviceNameOffset = 136;
    static constexpr std::size_t kDeviceNameUnits = 64;
    static constexpr std::size_t kAddressOffset = 264;
    static constexpr std::size_t kAddressUnits = 128;

    using Bytes = std::array<std::uint8_t, kSize>;

    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::u16string deviceName;  // "{guid}" or "{serial}"; at most 63 units
    std::u16string address;     // "ptp://host:port" or empty; at most 127 units

    // Whether a text fits its field with the terminator.
    static constexpr bool FitsDeviceName(std::u16string_view text) { return Fits(text, kDeviceNameUnits); }
    static constexpr bool FitsAddress(std::u16string_view text) { return Fits(text, kAddressUnits); }

    // Throws std::length_error when a text does not fit (a cut name would
    // name another port) or holds a NUL.
    Bytes Encode() const {
        if (!FitsDeviceName(deviceName)) throw std::length_error("port record: device name does not fit");
        if (!FitsAddress(address)) throw std::length_error("port record: device address does not fit");
        Bytes bytes{};
        PutU32(bytes, kVendorOffset, vendorId);
        PutU32(bytes, kProductOffset, productId);
        PutText(bytes, kDeviceNameOffset, deviceName);
        PutText(bytes, kAddressOffset, address);
        return bytes;
    }

    // Throws std::invalid_argument for anything but 520 bytes laid out as
    // above (reserved bytes set, a text without terminator or with bytes
    // after it).
    static XcvPortRecord Decode(const std::uint8_t* data, std::size_t size) {
        if (data == nullptr || size != kSize) throw std::invalid_argument("port record: not 520 bytes");
        for (std::size_t i = 0; i < kVendorOffset; ++i) {
            if (data[i] != 0) throw std::invalid_argument("port record: reserved bytes are not zero");
        }
        XcvPortRecord record;
        record.vendorId = GetU32(data, kVendorOffset);
        record.productId = GetU32(data, kProductOffset);
        record.deviceName = GetText(data, kDeviceNameOffset, kDeviceNameUnits, "device name");
        record.address = GetText(data, kAddressOffset, kAddressUnits, "device address");
        return record;
    }

private:
    // Byte-wise so the layout holds whatever the compiler does to structs.
    struct Wire {
        std::uint8_t reserved[kVendorOffset];
        std::uint8_t vendorId[4];
        std::uint8_t productId[4];
        std::uint8_t deviceName[kDeviceNameUnits * 2];
        std::uint8_t address[kAddressUnits * 2];
    };
    static_assert(sizeof(Wire) == kSize);
    static_assert(offsetof(Wire, vendorId) == kVendorOffset && offsetof(Wire, productId) == kProductOffset &&
                  offsetof(Wire, deviceName) == kDeviceNameOffset && offsetof(Wire, address) == kAddressOffset);

    static constexpr bool Fits(std::u16string_view text, std::size_t units) {
        return text.size() < units && text.find(u'\0') == std::u16string_view::npos;
    }
    static void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    static std::uint32_t GetU32(const std::uint8_t* data, std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{data[at + i]} << (8 * i);
        return value;
    }
    static void PutText(Bytes& bytes, std::size_t at, std::u16string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[at + 2 * i] = static_cast<std::uint8_t>(text[i] & 0xFF);
            bytes[at + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
        }
    }
    static std::u16string GetText(const std::uint8_t* data, std::size_t at, std::size_t units, const char* field) {
        std::u16string text;
        std::size_t i = 0;
        for (; i < units; ++i) {
            const auto unit = static_cast<char16_t>(data[at + 2 * i] | (data[at + 2 * i + 1] << 8));
            if (unit == 0) break;
            text.push_back(unit);
        }
        if (i == units) throw std::invalid_argument(std::string("port record: ") + field + " has no terminator");
        for (std::size_t b = at + 2 * i; b < at + 2 * units; ++b) {
            if (data[b] != 0) throw std::invalid_argument(std::string("port record: bytes after the ") + field);
        }
        return text;
    }
};

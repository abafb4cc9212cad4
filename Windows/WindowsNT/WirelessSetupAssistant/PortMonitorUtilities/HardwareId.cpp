#include "HardwareId.h"

#include "PortMonitorException.h"

#include <array>
#include <vector>

namespace PortMonitorUtilities {

namespace {

constexpr std::array<std::uint16_t, 16> kLow = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241,
                                                0xC601, 0x06C0, 0x0780, 0xC741, 0x0500, 0xC5C1, 0xC481, 0x0440};
// The last entry differs from the published table (0x4400) on purpose:
// peers' driver packages carry ids made with this one.
constexpr std::array<std::uint16_t, 16> kHigh = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
                                                 0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4600};

constexpr std::size_t kShownUnits = 20;

// Windows-1252, the ANSI code page of the machines this runs on.
constexpr std::array<char16_t, 32> k1252High = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned char ToAnsi(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    for (std::size_t i = 0; i < k1252High.size(); ++i)
        if (k1252High[i] != 0 && k1252High[i] == c) return static_cast<unsigned char>(0x80 + i);
    throw PortMonitorException(87);
}

}  // namespace

std::uint16_t HardwareIdCrc(std::span<const unsigned char> bytes) {
    std::uint16_t crc = 0;
    for (const unsigned char b : bytes) {
        const unsigned x = b ^ (crc & 0xFF);
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kLow[x & 0x0F] ^ kHigh[x >> 4]);
    }
    return crc;
}

std::u16string MakeHardwareId(std::u16string_view manufacturer, std::u16string_view model) {
    std::u16string joined(manufacturer);
    joined += model;
    std::vector<unsigned char> ansi;
    ansi.reserve(joined.size());
    for (const char16_t c : joined) ansi.push_back(ToAnsi(c));
    const std::uint16_t crc = HardwareIdCrc(ansi);

    std::u16string id = u"USBPRINT\\";
    for (const char16_t c : joined.substr(0, kShownUnits)) id.push_back(c == u' ' ? u'_' : c);
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string digits;
    unsigned value = crc;
    do {
        digits.insert(digits.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return id + digits;
}

}  // namespace PortMonitorUtilities

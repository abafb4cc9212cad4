#include "Windows/Win32-USBUtils/USBDescriptors.h"

#include "Tessary/TSException.h"

#include <algorithm>

namespace USBDescriptors {
namespace {

constexpr std::uint8_t kConfigurationType = 2;
constexpr std::uint8_t kStringType = 3;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kEndpointType = 5;
constexpr std::uint8_t kPrinterClass = 7;
constexpr std::size_t kConfigurationLength = 9;
constexpr std::size_t kInterfaceLength = 9;
constexpr std::size_t kEndpointLength = 7;

[[noreturn]] void MalformedConfiguration() {
    TS_THROW(Tessary::TSRuntimeError, "Malformed configuration descriptor");
}

std::uint16_t Word(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::u16string ParseStringDescriptor(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < 2 || data[0] < 2 || data[1] != kStringType)
        TS_THROW(Tessary::TSRuntimeError, "Malformed string descriptor");
    const std::size_t length = std::min<std::size_t>(data[0], size);
    std::u16string text;
    text.reserve((length - 2) / 2);
    for (std::size_t i = 2; i + 1 < length; i += 2) text.push_back(static_cast<char16_t>(Word(data + i)));
    return text;
}

std::uint16_t ConfigurationTotalLength(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < kConfigurationLength || data[0] < kConfigurationLength ||
        data[1] != kConfigurationType)
        MalformedConfiguration();
    const std::uint16_t total = Word(data + 2);
    if (total < data[0]) MalformedConfiguration();
    return total;
}

void FindPrinterMaxPacketSizes(const std::uint8_t* data, std::size_t size, std::uint32_t& outSize,
                               std::uint32_t& inSize) {
    outSize = 0;
    inSize = 0;
    const std::size_t limit = std::min<std::size_t>(ConfigurationTotalLength(data, size), size);
    bool inPrinterInterface = false;
    for (std::size_t offset = data[0]; offset + 2 <= limit;) {
        const std::size_t length = data[offset];
        const std::uint8_t type = data[offset + 1];
        if (length < 2) MalformedConfiguration();
        if (offset + length > limit) break;
        const std::uint8_t* d = data + offset;
        if (type == kInterfaceType) {
            if (length < kInterfaceLength) MalformedConfiguration();
            // Only the first printer interface counts; the next interface
            // descriptor (an alternate setting too) ends it.
            if (inPrinterInterface) return;
            inPrinterInterface = d[5] == kPrinterClass;
        } else if (type == kEndpointType && inPrinterInterface) {
            if (length < kEndpointLength) MalformedConfiguration();
            const std::uint8_t address = d[2];
            const std::uint8_t attributes = d[3];
            if (attributes & 0x02) {  // bulk or interrupt
                if (address & 0x80)
                    inSize = Word(d + 4);
                else
                    outSize = Word(d + 4);
            }
            if (outSize != 0 && inSize != 0) return;
        }
        offset += length;
    }
}

}  // namespace USBDescriptors

// Page images the driver host reads: any bytes either parse into an image
// whose pixels match its size or are refused with std::invalid_argument.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "Platform/DriverHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto image = Platform::ParsePpm(std::string_view(reinterpret_cast<const char*>(data), size));
        if (image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) __builtin_trap();
        if (Platform::ParsePpm(Platform::EncodePpm(image)) != image) __builtin_trap();
    } catch (const std::invalid_argument&) {
    }
    return 0;
}

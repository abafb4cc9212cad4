// The resource text parser on arbitrary bytes: it may refuse the input, but
// only with ResourceFileError, and an accepted table holds only valid text.
#include "Platform/Resource.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto table =
            Platform::ParseResourceText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
        for (const auto& [id, text] : table.strings) {
            if (id > 65535 || text.size() > 65535) std::abort();
            for (std::size_t i = 0; i < text.size(); ++i) {
                const char16_t unit = text[i];
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) std::abort();
                    ++i;
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    std::abort();
                }
            }
        }
    } catch (const Platform::ResourceFileError&) {
    }
    return 0;
}

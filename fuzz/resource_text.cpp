// The resource text parser on arbitrary bytes: it may refuse the input, but
// only with ResourceFileError, and an accepted table holds only valid text
// and dialog templates within their ranges.
#include "Platform/Resource.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void CheckText(const std::u16string& text) {
    if (text.size() > 65535) std::abort();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto table =
            Platform::ParseResourceText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
        for (const auto& [id, text] : table.strings) {
            if (id > 65535) std::abort();
            CheckText(text);
        }
        for (const auto& [key, bytes] : table.binaries) {
            if (key.first.empty() || key.first.size() > 32 || key.second > 65535 || bytes.empty()) std::abort();
        }
        for (const auto& [id, dialog] : table.dialogs) {
            if (id > 65535 || dialog.cx < 1 || dialog.cy < 1 || dialog.cx > 32767 || dialog.cy > 32767) std::abort();
            CheckText(dialog.caption);
            for (const auto& item : dialog.items) {
                if (item.id > 65535 || item.windowClass.empty()) std::abort();
                for (int v : {item.x, item.y, item.cx, item.cy}) {
                    if (v < 0 || v > 32767) std::abort();
                }
                CheckText(item.text);
            }
        }
    } catch (const Platform::ResourceFileError&) {
    }
    return 0;
}

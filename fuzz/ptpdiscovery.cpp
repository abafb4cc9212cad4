// TXT records and service names as the PTP/IP discovery reads them: the
// record's values and the UTF-8 decoding stay within their bounds whatever
// the bytes.
#include "PtpIp/Discovery.h"
#include "PtpIp/Text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// No lone surrogate: every high one is followed by a low one.
void CheckUtf16(const std::u16string& text, std::size_t bound) {
    if (text.size() > bound) std::abort();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) std::abort();
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Jorvale::TxtValues values = Jorvale::ParseTxtRecord(data, size);
    CheckUtf16(values.guid, 39);
    if (!values.guid.empty() && values.guid[0] != u'{') std::abort();
    if (size == 22 && (values.vendorId || values.productId || values.sequence || values.version)) std::abort();

    const std::string_view name(reinterpret_cast<const char*>(data), size);
    CheckUtf16(Jorvale::WidenUtf8(name, 39), 39);
    return 0;
}

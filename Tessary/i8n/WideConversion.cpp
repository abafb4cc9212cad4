#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/i8n/UTFConversion.h"

#include <langinfo.h>
#include <strings.h>

#include <climits>
#include <cwchar>

namespace Tessary {

namespace {

[[noreturn]] void ThrowConversionFailed() {
    TS_THROW(TSException, "Wide character string conversion failed: did you forget to set the locale?");
}

bool LocaleIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

// Other character sets go through the C library one code point at a time,
// so the result is measured as it grows rather than guessed up front.
std::string ToLocaleCharset(const char16_t* text, std::size_t units) {
    std::string result;
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (std::size_t i = 0; i < units; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            const bool pair = cp <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (!pair) ThrowConversionFailed();
            cp = (((cp & 0x3FF) << 10) | (text[i + 1] & 0x3FF)) + 0x10000;
            ++i;
        }
        const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(cp), &state);
        if (n == static_cast<std::size_t>(-1)) ThrowConversionFailed();
        result.append(bytes, n);
    }
    // Return a stateful encoding to its initial shift state.
    const std::size_t n = std::wcrtomb(bytes, L'\0', &state);
    if (n == static_cast<std::size_t>(-1)) ThrowConversionFailed();
    if (n > 1) result.append(bytes, n - 1);
    return result;
}

}  // namespace

std::string wc2string(const char16_t* text, int count) {
    if (count < 0 || (text == nullptr && count > 0)) {
        TS_THROW(TSException, "Invalid parameters specified for wide character conversion");
    }
    std::size_t units = 0;
    while (units < static_cast<std::size_t>(count) && text[units] != 0) ++units;
    if (units == 0) return {};
    if (!LocaleIsUtf8()) return ToLocaleCharset(text, units);
    const int size = UTF16ToUTF8(text, static_cast<int>(units), nullptr, 0);
    if (size < 0) ThrowConversionFailed();
    std::string result(static_cast<std::size_t>(size), '\0');
    if (size > 0 && UTF16ToUTF8(text, static_cast<int>(units), result.data(), size) != size) ThrowConversionFailed();
    return result;
}

}  // namespace Tessary

// Double-quoted texts with backslash escapes, as the platform's text files
// write them. Each parser keeps its own extra escapes and its own messages.
#pragma once

#include "Utf.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {

enum class QuotedTextFault {
    NotUtf8,           // plain bytes between escapes are not valid UTF-8
    NoClosingQuote,    // the text (or an escape) runs to the end
    ControlCharacter,  // a raw control character other than tab
    UnknownEscape,     // neither a common escape nor one the parser knows
};

// Exactly `count` hex digits at text[pos]; nullopt if fewer are there.
inline std::optional<unsigned> ParseHexDigits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos > text.size() || text.size() - pos < count) return std::nullopt;
    unsigned value = 0;
    const char* first = text.data() + pos;
    const auto result = std::from_chars(first, first + count, value, 16);
    if (result.ec != std::errc() || result.ptr != first + count) return std::nullopt;
    return value;
}

// Decodes a quoted text whose opening quote has been consumed: `pos` ends
// just past the closing quote. \\ \" \n \r \t are decoded here; any other
// escape goes to `extra(escape, out)`, which appends its character (moving
// `pos` past any digits it reads) and returns false if it does not know it.
// `fail(fault, escape)` must throw.
template <class Extra, class Fail>
std::u16string DecodeQuotedText(std::string_view text, std::size_t& pos, Extra&& extra, Fail&& fail) {
    constexpr std::string_view kCommon = "\\\"nrt";
    constexpr std::u16string_view kDecoded = u"\\\"\n\r\t";
    std::u16string out;
    std::size_t run = pos;  // plain bytes not yet decoded
    auto flush = [&] {
        auto decoded = Utf8ToUtf16(text.substr(run, pos - run));
        if (!decoded) fail(QuotedTextFault::NotUtf8, '\0');
        out += *decoded;
    };
    for (;;) {
        if (pos >= text.size()) fail(QuotedTextFault::NoClosingQuote, '\0');
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c == '"') {
            flush();
            ++pos;
            return out;
        }
        if ((c < 0x20 && c != '\t') || c == 0x7F) fail(QuotedTextFault::ControlCharacter, '\0');
        if (c != '\\') {
            ++pos;
            continue;
        }
        flush();
        ++pos;
        if (pos >= text.size()) fail(QuotedTextFault::NoClosingQuote, '\0');
        const char escape = text[pos++];
        if (const auto k = kCommon.find(escape); k != std::string_view::npos) {
            out.push_back(kDecoded[k]);
        } else if (!extra(escape, out)) {
            fail(QuotedTextFault::UnknownEscape, escape);
        }
        run = pos;
    }
}

}  // namespace Platform

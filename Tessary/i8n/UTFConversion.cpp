#include "Tessary/i8n/UTFConversion.h"

#include "Tessary/TSException.h"

#include <climits>

namespace Tessary {

namespace {

constexpr char32_t kSwappedByteOrderMark = 0xFFFE;
constexpr char32_t kNotACharacter = 0xFFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool IsSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}
bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Bytes that encode `cp`; 0 for U+FFFE, which is dropped. U+FEFF is text
// like any other (decoding keeps it), so that names read from a peer go
// back to it byte for byte.
std::size_t EncodedLength(char32_t cp) {
    if (cp == kSwappedByteOrderMark) return 0;
    if (cp == kNotACharacter) TS_THROW(TSException, "Invalid Unicode character");
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp < 0x200000) return 4;
    if (cp < 0x4000000) return 5;
    if (cp < 0x80000000) return 6;
    TS_THROW(TSException, "Unexpected Unicode character");
}

void EncodeCodePoint(char32_t cp, std::size_t length, char* out) {
    if (IsSurrogate(cp)) TS_THROW(TSException, "Asked to convert 1/2 of surrogate pair, rather than code point");
    static constexpr unsigned char kLeadMarks[] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (std::size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<char>(kLeadMarks[length] | cp);
}

// Length of the sequence a lead byte starts.
std::size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC0) TS_THROW(TSException, "Character is from latter part of a UTF-8 sequence");
    if (lead == 0xC0 || lead == 0xC1 || lead >= 0xF5) {
        TS_THROW(TSException, "Invalid UTF-8 character: someone's spoofing the stream!");
    }
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    if ((lead & 0xFC) == 0xF8) return 5;
    if ((lead & 0xFE) == 0xFC) return 6;
    TS_THROW(TSException, "Unrecognized leader character!");
}

bool IsOverlong(unsigned char lead, unsigned char second) {
    if (lead == 0xC0 || lead == 0xC1) return true;
    if (lead == 0xE0 || lead == 0xF0 || lead == 0xF8 || lead == 0xFC) return (second & lead) == 0x80;
    return false;
}

[[noreturn]] void ThrowMalformed() {
    TS_THROW(TSException, "Malformed UTF-8 sequence!");
}

// Caller counts arrive as int; anything above INT_MAX cannot be returned.
bool FitsInt(std::size_t n) {
    return n <= static_cast<std::size_t>(INT_MAX);
}

}  // namespace

namespace detail {

std::size_t EncodeUTF8(const char16_t* source, std::size_t units, char* target, std::size_t capacity) {
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < units && source[i] != 0) {
        char32_t cp = source[i];
        std::size_t used = 1;
        if (IsSurrogate(cp)) {
            if (!IsHighSurrogate(cp)) TS_THROW(TSException, "Invalid element for W1");
            if (i + 1 >= units || source[i + 1] == 0) {
                TS_THROW(TSException, "Invalid second element in surrogate pair");
            }
            const char32_t low = source[i + 1];
            if (!IsLowSurrogate(low)) TS_THROW(TSException, "Invalid element for W2");
            cp = (((cp & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
            used = 2;
        }
        const std::size_t length = EncodedLength(cp);
        if (target != nullptr) {
            if (capacity - written < length) break;
            if (length > 0) EncodeCodePoint(cp, length, target + written);
        }
        written += length;
        i += used;
    }
    return written;
}

std::size_t DecodeUTF8(const char* source, std::size_t bytes, char16_t* target, std::size_t capacity) {
    const auto* in = reinterpret_cast<const unsigned char*>(source);
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < bytes && in[i] != 0) {
        const unsigned char lead = in[i];
        const std::size_t length = SequenceLength(lead);
        if (length > bytes - i) ThrowMalformed();
        char32_t cp = lead;
        if (length > 1) {
            if (IsOverlong(lead, in[i + 1])) {
                TS_THROW(TSException, "Invalid UTF-8 sequence (overlong): someone's spoofing the stream!");
            }
            cp = lead & (0x7F >> length);
            for (std::size_t k = 1; k < length; ++k) {
                if (!IsContinuation(in[i + k])) ThrowMalformed();
                cp = (cp << 6) | (in[i + k] & 0x3F);
            }
        }
        if (IsSurrogate(cp) || cp == kSwappedByteOrderMark || cp == kNotACharacter || cp > kLastCodePoint) {
            ThrowMalformed();
        }
        const std::size_t units = cp > 0xFFFF ? 2 : 1;
        if (target != nullptr) {
            if (capacity - written < units) break;
            if (units == 2) {
                target[written] = static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10));
                target[written + 1] = static_cast<char16_t>(0xDC00 | ((cp - 0x10000) & 0x3FF));
            } else {
                target[written] = static_cast<char16_t>(cp);
            }
        }
        written += units;
        i += length;
    }
    return written;
}

}  // namespace detail

int UTF16ToUTF8(const char16_t* source, int sourceUnits, char* target, int targetBytes) noexcept {
    if (sourceUnits < 0 || (source == nullptr && sourceUnits > 0)) return -1;
    if (target != nullptr && targetBytes < 0) return -1;
    try {
        const std::size_t n = detail::EncodeUTF8(source, static_cast<std::size_t>(sourceUnits), target,
                                                 target != nullptr ? static_cast<std::size_t>(targetBytes) : 0);
        return FitsInt(n) ? static_cast<int>(n) : -1;
    } catch (...) {
        return -1;
    }
}

int UTF8ToUTF16(const char* source, int sourceBytes, char16_t* target, int targetUnits) noexcept {
    if (sourceBytes < 0 || (source == nullptr && sourceBytes > 0)) return -1;
    if (target != nullptr && targetUnits < 0) return -1;
    try {
        const std::size_t n = detail::DecodeUTF8(source, static_cast<std::size_t>(sourceBytes), target,
                                                 target != nullptr ? static_cast<std::size_t>(targetUnits) : 0);
        return FitsInt(n) ? static_cast<int>(n) : -1;
    } catch (...) {
        return -1;
    }
}

std::string UTF16ToUTF8String(const char16_t* source, int sourceUnits) {
    const int size = UTF16ToUTF8(source, sourceUnits, nullptr, 0);
    if (size < 0) TS_THROW(TSException, "Can't convert string");
    if (size == 0) return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    if (UTF16ToUTF8(source, sourceUnits, result.data(), size) != size) {
        TS_THROW(TSException, "Errors detected during conversion");
    }
    return result;
}

std::vector<char16_t> UTF8ToUTF16Buffer(const char* source, int sourceBytes) {
    const int size = UTF8ToUTF16(source, sourceBytes, nullptr, 0);
    if (size < 0) TS_THROW(TSException, "Can't convert string");
    if (size == 0) return {};
    std::vector<char16_t> result(static_cast<std::size_t>(size));
    if (UTF8ToUTF16(source, sourceBytes, result.data(), size) != size) {
        TS_THROW(TSException, "Errors detected during conversion");
    }
    return result;
}

std::vector<char16_t> ToWideVector(const std::string& utf8) {
    if (!FitsInt(utf8.size())) TS_THROW(TSException, "Can't convert string");
    std::vector<char16_t> result = UTF8ToUTF16Buffer(utf8.data(), static_cast<int>(utf8.size()));
    result.push_back(0);
    return result;
}

}  // namespace Tessary

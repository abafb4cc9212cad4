#include "WizardValidators.h"

#include "Tessary/i8n/UTFConversion.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>

namespace {

constexpr std::size_t kMaxDeviceNameCharacters = 32;
constexpr std::size_t kDeviceNameByteLimit = 64;  // the name must stay below it
constexpr std::size_t kMaxSsidBytes = 32;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Code points, or nothing when the text holds a lone surrogate.
std::optional<std::size_t> CountCharacters(std::u16string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++count) {
        if (IsHighSurrogate(text[i])) {
            if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1])) return std::nullopt;
            ++i;
        } else if (IsLowSurrogate(text[i])) {
            return std::nullopt;
        }
    }
    return count;
}

// The UTF-8 length the printer receives, or nothing when the text cannot be
// sent (it holds a lone surrogate, a zero or a code point the codec refuses).
std::optional<std::size_t> Utf8Bytes(std::u16string_view text) {
    if (text.size() > INT_MAX / 3 || text.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    const int bytes = Tessary::UTF16ToUTF8(text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (bytes < 0) return std::nullopt;
    return static_cast<std::size_t>(bytes);
}

bool AllHexDigits(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) {
        return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    });
}

// Four decimal fields of one to three digits, each at most 255.
std::optional<std::uint32_t> DottedAddress(std::u16string_view text) {
    std::uint32_t address = 0;
    int fields = 0;
    while (fields < 4) {
        int value = 0;
        int digits = 0;
        while (!text.empty() && text.front() >= u'0' && text.front() <= u'9' && digits < 3) {
            value = value * 10 + (text.front() - u'0');
            ++digits;
            text.remove_prefix(1);
        }
        if (digits == 0 || value > 255) return std::nullopt;
        address = (address << 8) | static_cast<std::uint32_t>(value);
        if (++fields < 4) {
            if (text.empty() || text.front() != u'.') return std::nullopt;
            text.remove_prefix(1);
        }
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

}  // namespace

DeviceNameCheck ValidateDeviceName(std::u16string_view name) {
    if (name.empty()) return DeviceNameEmpty;
    const auto characters = CountCharacters(name);
    const auto bytes = Utf8Bytes(name);
    if (!characters || !bytes) return DeviceNameInvalid;
    if (*characters > kMaxDeviceNameCharacters || *bytes >= kDeviceNameByteLimit) return DeviceNameTooLong;
    return DeviceNameValid;
}

SsidCheck ValidateSsid(std::u16string_view ssid) {
    if (ssid.empty()) return SsidEmpty;
    const auto bytes = Utf8Bytes(ssid);
    if (!CountCharacters(ssid) || !bytes) return SsidInvalid;
    if (*bytes > kMaxSsidBytes) return SsidTooLong;
    return SsidValid;
}

DataMode ValidateWepKey(std::u16string_view key) {
    const auto characters = CountCharacters(key);
    if (!characters || !Utf8Bytes(key)) return DATA_MODE_NONE;
    if (*characters == 5) return DATA_MODE_WEP_64BIT;
    if (*characters == 13) return DATA_MODE_WEP_128BIT;
    if (*characters == 10 && AllHexDigits(key)) return DATA_MODE_WEP_64BIT;
    if (*characters == 26 && AllHexDigits(key)) return DATA_MODE_WEP_128BIT;
    return DATA_MODE_NONE;
}

bool IsSupportedSecurity(const WiFiSettings& wifi) {
    const DataMode data = wifi.GetDataMode();
    const NetworkMode network = wifi.GetNetworkMode();
    return (data == DATA_MODE_NONE || data == DATA_MODE_WEP_64BIT || data == DATA_MODE_WEP_128BIT) &&
           (network == NETWORK_MODE_OPEN || network == NETWORK_MODE_SHARED);
}

StaticAddressCheck ValidateStaticAddress(std::u16string_view address, std::u16string_view mask) {
    const auto host = DottedAddress(address);
    if (!host || *host == 0) return StaticAddressMissing;
    const auto bits = DottedAddress(mask);
    // Ones then zeros: the inverted mask plus one is a power of two.
    if (!bits || *bits == 0 || ((~*bits + 1) & ~*bits) != 0) return StaticMaskInvalid;
    return StaticAddressValid;
}

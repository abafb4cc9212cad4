#include "HostId.h"

#include "Platform/Registry.h"

#include <algorithm>
#include <array>

namespace {

constexpr const char16_t* kHostIdKey = u"SOFTWARE\\Velmo\\Velmo Glimmerly software";
constexpr const char16_t* kHostIdValue = u"QZTDHID";
// The host id is read into a buffer of this many bytes.
constexpr DWORD kHostIdBytes = 80;

}  // namespace

std::optional<std::u16string> ReadHostId() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHostIdKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
    std::array<char16_t, kHostIdBytes / sizeof(char16_t)> buffer{};
    DWORD type = REG_NONE;
    DWORD size = kHostIdBytes;
    const LSTATUS status =
        RegQueryValueExW(key, kHostIdValue, nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    // The value need not carry its zero: the text ends at the first zero or
    // at the bytes read, whichever comes first.
    std::u16string text(buffer.data(), std::min<std::size_t>(size, kHostIdBytes) / sizeof(char16_t));
    if (const auto zero = text.find(u'\0'); zero != std::u16string::npos) text.resize(zero);
    return text;
}

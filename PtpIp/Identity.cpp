#include "Identity.h"

#include "Text.h"

#include "Platform/Registry.h"

#include <sys/random.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <random>

namespace Jorvale {
namespace {

// A stored device name is used only when its UTF-8, terminator included,
// fits in this many bytes; the host name is cut to kMaxNameUnits.
constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kMaxNameUnits = 256;

class Key {
public:
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::u16string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return WidenUtf8(name, kMaxNameUnits);
}

std::optional<std::u16string> StoredName(HKEY key) {
    char16_t text[512] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(char16_t);
    if (RegQueryValueExW(key, u"DeviceName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::u16string_view value(text, size / sizeof(char16_t));
    value = value.substr(0, value.find(u'\0'));
    // Too long: as if missing, so that the host name stands in.
    if (NarrowUtf16(value).size() + 1 > kMaxNameBytes) return std::nullopt;
    return std::u16string(value);
}

std::optional<std::array<std::uint8_t, 16>> StoredGuid(HKEY key) {
    std::array<std::uint8_t, 16> guid{};
    DWORD type = 0;
    DWORD size = guid.size();
    if (RegQueryValueExW(key, u"DeviceGUID", nullptr, &type, guid.data(), &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size != guid.size())
        return std::nullopt;
    return guid;
}

}  // namespace

std::array<std::uint8_t, 16> NewGuid() {
    std::array<std::uint8_t, 16> guid{};
    if (getrandom(guid.data(), guid.size(), 0) != static_cast<ssize_t>(guid.size())) {
        std::random_device random;
        for (auto& b : guid) b = static_cast<std::uint8_t>(random());
    }
    // A random (version 4) GUID: Data3's high nibble, then the variant.
    guid[7] = static_cast<std::uint8_t>((guid[7] & 0x0F) | 0x40);
    guid[8] = static_cast<std::uint8_t>((guid[8] & 0x3F) | 0x80);
    return guid;
}

Initiator ReadInitiator() {
    Key key;
    bool writable =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr, key.Out(), nullptr) == ERROR_SUCCESS;
    if (!writable && RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParametersKey, 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        *key.Out() = nullptr;

    Initiator initiator;
    std::optional<std::u16string> name;
    std::optional<std::array<std::uint8_t, 16>> guid;
    if (key.Get()) {
        name = StoredName(key.Get());
        guid = StoredGuid(key.Get());
    }
    initiator.name = name ? *name : HostName();
    if (guid) {
        initiator.guid = *guid;
    } else {
        initiator.guid = NewGuid();
        if (writable)
            RegSetValueExW(key.Get(), u"DeviceGUID", 0, REG_BINARY, initiator.guid.data(), initiator.guid.size());
    }
    return initiator;
}

}  // namespace Jorvale

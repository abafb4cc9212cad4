#include <cstring>
#include <string>
#include <vector>

#include "Platform/Registry.h"
#include "PrinterDescription.h"

namespace {

constexpr const WCHAR* kProductKey = u"SOFTWARE\\Velmo\\HV7300";
constexpr const WCHAR* kInstallPathValue = u"InstallPath";

class KeyCloser {
public:
    explicit KeyCloser(HKEY key) : key_(key) {}
    ~KeyCloser() { RegCloseKey(key_); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    HKEY key_;
};

// The value's bytes when it is a REG_SZ, whatever its size: asked for its
// size first, read again should it grow in between.
bool ReadStringValue(HKEY key, const WCHAR* name, std::vector<BYTE>& data) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) {
            return false;
        }
        data.assign(static_cast<std::size_t>(size) + sizeof(WCHAR), 0);  // room for a zero the value may lack
        DWORD read = static_cast<DWORD>(data.size());
        const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.data(), &read);
        if (status == static_cast<LSTATUS>(ERROR_MORE_DATA)) continue;
        if (status != ERROR_SUCCESS || type != REG_SZ) return false;
        data.resize(read);
        return true;
    }
    return false;
}

}  // namespace

std::u16string GetInstallPath() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    const KeyCloser closer(key);

    std::vector<BYTE> data;
    if (!ReadStringValue(key, kInstallPathValue, data)) return {};
    // The text runs to its first zero, or to the end of the data when it
    // was stored without one; an odd last byte is no character.
    std::u16string text(data.size() / sizeof(WCHAR), u'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return text;
}

Tessary::I8NString GetPrinterConfigPath() {
    const std::u16string installPath = GetInstallPath();
    return Tessary::I8NString(installPath.c_str(), installPath.size()) + Tessary::I8NString("\\ORV.xml");
}

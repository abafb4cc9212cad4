#include "Common/ConfigSupport/DeviceID1284.h"

#include <cstring>
#include <new>

namespace {

constexpr const char* kKeyNames[DeviceID1284::KeyCount] = {
    "MFG:", "MDL:", "CMD:", "CLS:", "DES:", "VER:", "PHD:", "CCP:", "PUR:", "TSZ:", "CSZ:", "PRB:", "CID:", "BRC:"};

// The optional keys, in the order they are looked for.
constexpr DeviceID1284::Key kOptionalKeys[] = {
    DeviceID1284::VER, DeviceID1284::CMD, DeviceID1284::CLS, DeviceID1284::DES, DeviceID1284::PHD, DeviceID1284::CCP,
    DeviceID1284::PUR, DeviceID1284::TSZ, DeviceID1284::CSZ, DeviceID1284::PRB, DeviceID1284::CID, DeviceID1284::BRC};

}  // namespace

const char* DeviceID1284::KeyName(Key key) {
    return key >= 0 && key < KeyCount ? kKeyNames[key] : "";
}

void DeviceID1284::Clear() {
    parsed = false;
    for (auto& field : fields) field.reset();
}

bool DeviceID1284::Parse(const char* id) {
    Clear();
    if (!ExtractField(id, kKeyNames[MFG], fields[MFG])) return false;
    if (!ExtractField(id, kKeyNames[MDL], fields[MDL])) {
        Clear();
        return false;
    }
    for (const Key key : kOptionalKeys) ExtractField(id, kKeyNames[key], fields[key]);
    parsed = true;
    return true;
}

bool DeviceID1284::ExtractField(const char* id, const char* key, std::optional<std::string>& out) {
    if (id == nullptr || key == nullptr || *key == '\0') return false;
    const std::string_view text(id);
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return false;
    std::string_view value = text.substr(at + std::strlen(key));
    value = value.substr(0, value.find(';'));
    if (value.size() > kMaxValueLength) value = value.substr(0, kMaxValueLength);
    try {
        std::string copy(value);
        CollapseSpaces(copy);
        out = std::move(copy);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::string& DeviceID1284::CollapseSpaces(std::string& text) {
    std::size_t kept = 0;
    bool pendingBlank = false;
    for (const char c : text) {
        if (c == ' ') {
            pendingBlank = kept > 0;
            continue;
        }
        if (pendingBlank) text[kept++] = ' ';
        pendingBlank = false;
        text[kept++] = c;
    }
    text.resize(kept);
    return text;
}

const std::string* DeviceID1284::Field(Key key) const {
    if (!parsed || key < 0 || key >= KeyCount || !fields[key]) return nullptr;
    return &*fields[key];
}

bool DeviceID1284::CopyField(Key key, char* buffer, unsigned size) const {
    const std::string* value = Field(key);
    if (buffer == nullptr || value == nullptr) return false;
    if (value->size() + 1 > size) return false;
    std::memcpy(buffer, value->c_str(), value->size() + 1);
    return true;
}

bool DeviceID1284::GetManufacturer(char* buffer, unsigned size) const {
    return CopyField(MFG, buffer, size);
}

bool DeviceID1284::GetModel(char* buffer, unsigned size) const {
    return CopyField(MDL, buffer, size);
}

bool DeviceID1284::GetVersion(char* buffer, unsigned size) const {
    return CopyField(VER, buffer, size);
}

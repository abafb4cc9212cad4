#include "Platform/Registry.h"

#include "MachineStore.h"
#include "Platform/Machine.h"
#include "Utf.h"

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

namespace Platform {
namespace {

constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
// Key handles come from their own range, far from kernel and printer handles.
constexpr std::uintptr_t kFirstKeyHandle = std::uintptr_t{1} << 48;

struct Root {
    HKEY handle;
    const char16_t* name;
};

const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, u"HKEY_CLASSES_ROOT"},     {HKEY_CURRENT_USER, u"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, u"HKEY_LOCAL_MACHINE"},   {HKEY_USERS, u"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, u"HKEY_CURRENT_CONFIG"},
};

bool IsPredefined(HKEY key) {
    for (const auto& root : kRoots) {
        if (root.handle == key) return true;
    }
    return false;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_LINK || type == REG_MULTI_SZ;
}

// Splits a "\"-separated subkey path. A trailing "\" is allowed; a leading
// one or an empty name inside is not.
LSTATUS SplitPath(std::u16string_view path, std::vector<std::u16string_view>& parts) {
    parts.clear();
    if (path.empty()) return ERROR_SUCCESS;
    if (path.front() == u'\\') return ERROR_BAD_PATHNAME;
    if (path.back() == u'\\') path.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(u'\\', start);
        const auto part = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (part.empty()) return ERROR_BAD_PATHNAME;
        if (part.size() > kMaxKeyNameUnits) return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (end == std::u16string_view::npos) return ERROR_SUCCESS;
        start = end + 1;
    }
}

// A name a new key may have: printable, and whole UTF-16 (the key's path
// is written to the machine's file as plain text).
bool IsValidNewKeyName(std::u16string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (c < 0x20 || c == 0x7F) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

std::u16string RootOf(const std::u16string& folded) {
    return folded.substr(0, folded.find(u'\\'));
}

std::u16string Child(const std::u16string& folded, std::u16string_view name) {
    return folded + u'\\' + FoldName(name);
}

// Creates the keys along parts below an existing key; returns the last.
std::u16string CreatePath(RegistryData& data, std::u16string folded, const std::vector<std::u16string_view>& parts) {
    for (const auto part : parts) {
        const std::u16string parentPath = data.keys.at(folded).path;
        folded = Child(folded, part);
        auto [it, inserted] = data.keys.try_emplace(folded);
        if (inserted) it->second.path = parentPath + u'\\' + std::u16string(part);
    }
    return folded;
}

std::u16string NameOrEmpty(LPCWSTR name) {
    return name != nullptr ? std::u16string(name) : std::u16string();
}

}  // namespace

RegValue RegValue::String(std::u16string_view text, DWORD type) {
    std::u16string units(text);
    units.push_back(u'\0');
    const std::string bytes = Utf16LeBytes(units);
    return RegValue{type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

RegValue RegValue::MultiString(const std::vector<std::u16string>& texts) {
    std::u16string units;
    for (const auto& text : texts) {
        units += text;
        units.push_back(u'\0');
    }
    units.push_back(u'\0');
    const std::string bytes = Utf16LeBytes(units);
    return RegValue{REG_MULTI_SZ, std::vector<BYTE>(bytes.begin(), bytes.end())};
}

RegValue RegValue::Dword(DWORD value) {
    return RegValue{REG_DWORD,
                    {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                     static_cast<BYTE>(value >> 24)}};
}

RegValue RegValue::Qword(std::uint64_t value) {
    RegValue result{REG_QWORD, {}};
    for (int i = 0; i < 8; ++i) result.data.push_back(static_cast<BYTE>(value >> (8 * i)));
    return result;
}

RegValue RegValue::Binary(std::vector<BYTE> bytes) {
    return RegValue{REG_BINARY, std::move(bytes)};
}

std::optional<std::u16string> RegValue::Text() const {
    if (!IsStringType(type)) return std::nullopt;
    std::u16string units = Utf16FromLeBytes(data.data(), data.size());
    const auto zero = units.find(u'\0');
    if (zero != std::u16string::npos) units.resize(zero);
    return units;
}

std::optional<DWORD> RegValue::AsDword() const {
    if (type != REG_DWORD || data.size() != 4) return std::nullopt;
    return static_cast<DWORD>(data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<DWORD>(data[3]) << 24));
}

std::u16string RootName(HKEY root) {
    for (const auto& entry : kRoots) {
        if (entry.handle == root) return entry.name;
    }
    return {};
}

std::u16string FoldName(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
    }
    return folded;
}

RegistryData::RegistryData() {
    for (const auto& root : kRoots) keys.emplace(FoldName(root.name), RegistryKeyData{root.name, {}});
}

struct SystemRegistry::State {
    struct OpenKey {
        std::u16string folded;
        REGSAM granted = 0;
    };

    mutable std::mutex mutex;
    detail::Persisted<RegistryData> store{&ParseRegistryText, &FormatRegistryText};
    std::map<std::uintptr_t, OpenKey> handles;
    std::uintptr_t next = kFirstKeyHandle;

    // What the machine's user may do in a root.
    static REGSAM Allowed(const Machine& machine, const std::u16string& rootFolded) {
        if (machine.UserIsAdministrator() || rootFolded == FoldName(u"HKEY_CURRENT_USER")) return ~REGSAM{0};
        return KEY_READ | SYNCHRONIZE;
    }

    // The key a handle names, with the access it was opened with.
    LSTATUS Resolve(const Machine& machine, HKEY key, OpenKey& out) {
        if (IsPredefined(key)) {
            out.folded = FoldName(RootName(key));
            out.granted = Allowed(machine, out.folded);
            return ERROR_SUCCESS;
        }
        const auto it = handles.find(reinterpret_cast<std::uintptr_t>(key));
        if (it == handles.end()) return ERROR_INVALID_HANDLE;
        if (!store.Get().keys.contains(it->second.folded)) return ERROR_KEY_DELETED;
        out = it->second;
        return ERROR_SUCCESS;
    }

    HKEY Insert(OpenKey key) {
        const std::uintptr_t value = next;
        next += 4;
        handles.emplace(value, std::move(key));
        return reinterpret_cast<HKEY>(value);
    }
};

namespace {

// The folded path of root\keyPath for fixture calls; throws for a bad one.
std::u16string FixturePath(HKEY root, std::u16string_view keyPath, std::vector<std::u16string_view>& parts) {
    if (!IsPredefined(root)) throw std::invalid_argument("not a predefined registry root");
    if (SplitPath(keyPath, parts) != ERROR_SUCCESS) throw std::invalid_argument("malformed registry key path");
    std::u16string folded = FoldName(RootName(root));
    for (const auto part : parts) folded = Child(folded, part);
    return folded;
}

std::u16string FixtureNewPath(HKEY root, std::u16string_view keyPath, std::vector<std::u16string_view>& parts) {
    auto folded = FixturePath(root, keyPath, parts);
    for (const auto part : parts) {
        if (!IsValidNewKeyName(part)) throw std::invalid_argument("registry key name with a control character");
    }
    return folded;
}

template <class F>
LSTATUS Guarded(F&& f) {
    try {
        return f();
    } catch (const std::exception& error) {
        return static_cast<LSTATUS>(detail::MachineFileFailure(error));
    }
}

}  // namespace

SystemRegistry::SystemRegistry(Machine& machine) : state_(std::make_unique<State>()), machine_(machine) {}
SystemRegistry::~SystemRegistry() = default;

void SystemRegistry::Reset() {
    std::lock_guard lock(state_->mutex);
    state_->store.Reset();
    state_->handles.clear();
}

void SystemRegistry::CreateKey(HKEY root, std::u16string_view keyPath) {
    std::vector<std::u16string_view> parts;
    FixtureNewPath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](RegistryData& data) { return CreatePath(data, FoldName(RootName(root)), parts); });
}

bool SystemRegistry::DeleteKey(HKEY root, std::u16string_view keyPath) {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    if (parts.empty()) throw std::invalid_argument("a predefined root cannot be deleted");
    std::lock_guard lock(state_->mutex);
    return state_->store.Change([&](RegistryData& data) {
        if (data.keys.erase(folded) == 0) return false;
        // Siblings such as "Velmo Tools" sort between "Velmo" and "Velmo\\...".
        const std::u16string prefix = folded + u'\\';
        auto first = data.keys.lower_bound(prefix);
        auto last = first;
        while (last != data.keys.end() && last->first.starts_with(prefix)) ++last;
        data.keys.erase(first, last);
        return true;
    });
}

bool SystemRegistry::KeyExists(HKEY root, std::u16string_view keyPath) const {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    return state_->store.Get().keys.contains(folded);
}

void SystemRegistry::SetValue(HKEY root, std::u16string_view keyPath, std::u16string_view valueName, RegValue value) {
    std::vector<std::u16string_view> parts;
    FixtureNewPath(root, keyPath, parts);
    if (valueName.size() > kMaxValueNameUnits) throw std::invalid_argument("registry value name too long");
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](RegistryData& data) {
        const auto folded = CreatePath(data, FoldName(RootName(root)), parts);
        auto& values = data.keys.at(folded).values;
        auto [it, inserted] = values.try_emplace(FoldName(valueName), NamedValue{std::u16string(valueName), {}});
        it->second.value = value;
        return 0;
    });
}

void SystemRegistry::SetString(HKEY root, std::u16string_view keyPath, std::u16string_view valueName,
                               std::u16string_view text) {
    SetValue(root, keyPath, valueName, RegValue::String(text));
}

void SystemRegistry::SetDword(HKEY root, std::u16string_view keyPath, std::u16string_view valueName, DWORD value) {
    SetValue(root, keyPath, valueName, RegValue::Dword(value));
}

std::optional<RegValue> SystemRegistry::GetValue(HKEY root, std::u16string_view keyPath,
                                                 std::u16string_view valueName) const {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    const auto& keys = state_->store.Get().keys;
    const auto key = keys.find(folded);
    if (key == keys.end()) return std::nullopt;
    const auto value = key->second.values.find(FoldName(valueName));
    if (value == key->second.values.end()) return std::nullopt;
    return value->second.value;
}

bool SystemRegistry::DeleteValue(HKEY root, std::u16string_view keyPath, std::u16string_view valueName) {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    return state_->store.Change([&](RegistryData& data) {
        const auto key = data.keys.find(folded);
        return key != data.keys.end() && key->second.values.erase(FoldName(valueName)) > 0;
    });
}

std::vector<std::u16string> SystemRegistry::SubkeyNames(HKEY root, std::u16string_view keyPath) const {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    std::vector<std::u16string> names;
    const auto& keys = state_->store.Get().keys;
    const std::u16string prefix = folded + u'\\';
    for (auto it = keys.lower_bound(prefix); it != keys.end() && it->first.starts_with(prefix); ++it) {
        if (it->first.find(u'\\', prefix.size()) != std::u16string::npos) continue;
        names.push_back(it->second.path.substr(it->second.path.rfind(u'\\') + 1));
    }
    return names;
}

std::vector<std::u16string> SystemRegistry::ValueNames(HKEY root, std::u16string_view keyPath) const {
    std::vector<std::u16string_view> parts;
    const auto folded = FixturePath(root, keyPath, parts);
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    std::vector<std::u16string> names;
    const auto& keys = state_->store.Get().keys;
    const auto key = keys.find(folded);
    if (key == keys.end()) return names;
    for (const auto& [name, value] : key->second.values) names.push_back(value.name);
    return names;
}

std::size_t SystemRegistry::OpenKeyCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->handles.size();
}

RegistryData SystemRegistry::Snapshot() const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    return state_->store.Get();
}

void SystemRegistry::Replace(RegistryData data) {
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](RegistryData& current) {
        current = std::move(data);
        return 0;
    });
}

void SystemRegistry::BindFile(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    state_->store.Bind(path);
}

LSTATUS SystemRegistry::Open(HKEY parentKey, LPCWSTR subKey, REGSAM desired, bool create, PHKEY result,
                             LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (create && subKey == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return Guarded([&]() -> LSTATUS {
        s.store.Refresh();
        State::OpenKey parent;
        if (const auto error = s.Resolve(machine_, parentKey, parent)) return error;
        const std::u16string path = NameOrEmpty(subKey);
        std::vector<std::u16string_view> parts;
        if (const auto error = SplitPath(path, parts)) return error;

        // A predefined root opened again is itself.
        if (parts.empty() && IsPredefined(parentKey) && !create) {
            *result = parentKey;
            return ERROR_SUCCESS;
        }

        const std::u16string root = RootOf(parent.folded);
        const REGSAM allowed = State::Allowed(machine_, root);
        REGSAM rights = desired & ~(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
        if (rights & MAXIMUM_ALLOWED) rights = (rights & ~MAXIMUM_ALLOWED) | (allowed & (KEY_ALL_ACCESS | SYNCHRONIZE));
        if (rights & ~allowed) return ERROR_ACCESS_DENIED;

        std::u16string target = parent.folded;
        for (const auto part : parts) target = Child(target, part);
        const bool exists = s.store.Get().keys.contains(target);
        if (!exists && !create) return ERROR_FILE_NOT_FOUND;
        DWORD outcome = REG_OPENED_EXISTING_KEY;
        if (!exists) {
            // Making a key is writing to where it goes.
            if (!(allowed & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            if (!IsPredefined(parentKey) && !(parent.granted & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            for (const auto part : parts) {
                if (!IsValidNewKeyName(part)) return ERROR_INVALID_PARAMETER;
            }
            const LSTATUS made = s.store.Change([&](RegistryData& data) -> LSTATUS {
                if (!data.keys.contains(parent.folded)) return ERROR_KEY_DELETED;
                if (!data.keys.contains(target)) outcome = REG_CREATED_NEW_KEY;
                CreatePath(data, parent.folded, parts);
                return ERROR_SUCCESS;
            });
            if (made != ERROR_SUCCESS) return made;
        }
        *result = s.Insert(State::OpenKey{target, rights});
        if (disposition != nullptr) *disposition = outcome;
        return ERROR_SUCCESS;
    });
}

LSTATUS SystemRegistry::Query(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (data != nullptr && dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return Guarded([&]() -> LSTATUS {
        s.store.Refresh();
        State::OpenKey open;
        if (const auto error = s.Resolve(machine_, key, open)) return error;
        if (!(open.granted & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
        const auto& values = s.store.Get().keys.at(open.folded).values;
        const auto it = values.find(FoldName(NameOrEmpty(valueName)));
        if (it == values.end()) return ERROR_FILE_NOT_FOUND;
        const RegValue& value = it->second.value;
        if (type != nullptr) *type = value.type;
        if (dataSize == nullptr) return ERROR_SUCCESS;
        const auto size = static_cast<DWORD>(value.data.size());
        if (data != nullptr && *dataSize < size) {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && size != 0) std::memcpy(data, value.data.data(), size);
        *dataSize = size;
        return ERROR_SUCCESS;
    });
}

LSTATUS SystemRegistry::Set(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD dataSize) {
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    const std::u16string name = NameOrEmpty(valueName);
    if (name.size() > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return Guarded([&]() -> LSTATUS {
        s.store.Refresh();
        State::OpenKey open;
        if (const auto error = s.Resolve(machine_, key, open)) return error;
        if (!(open.granted & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        RegValue value{type, data != nullptr ? std::vector<BYTE>(data, data + dataSize) : std::vector<BYTE>()};
        return s.store.Change([&](RegistryData& registry) -> LSTATUS {
            const auto found = registry.keys.find(open.folded);
            if (found == registry.keys.end()) return ERROR_KEY_DELETED;
            auto [it, inserted] = found->second.values.try_emplace(FoldName(name), NamedValue{name, {}});
            it->second.value = std::move(value);
            return ERROR_SUCCESS;
        });
    });
}

LSTATUS SystemRegistry::Delete(HKEY key, LPCWSTR valueName) {
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return Guarded([&]() -> LSTATUS {
        s.store.Refresh();
        State::OpenKey open;
        if (const auto error = s.Resolve(machine_, key, open)) return error;
        if (!(open.granted & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
        return s.store.Change([&](RegistryData& registry) -> LSTATUS {
            const auto found = registry.keys.find(open.folded);
            if (found == registry.keys.end()) return ERROR_KEY_DELETED;
            return found->second.values.erase(FoldName(NameOrEmpty(valueName))) > 0 ? ERROR_SUCCESS
                                                                                    : ERROR_FILE_NOT_FOUND;
        });
    });
}

LSTATUS SystemRegistry::Close(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    std::lock_guard lock(state_->mutex);
    return state_->handles.erase(reinterpret_cast<std::uintptr_t>(key)) > 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace Platform

using Platform::GetMachine;

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY result) {
    return GetMachine().Registry().Open(hKey, subKey, desired, false, result, nullptr);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM desired, const void*, PHKEY result,
                        LPDWORD disposition) {
    return GetMachine().Registry().Open(hKey, subKey, desired, true, result, disposition);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    if (reserved != nullptr) return ERROR_INVALID_PARAMETER;
    return GetMachine().Registry().Query(hKey, valueName, type, data, dataSize);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
    return GetMachine().Registry().Set(hKey, valueName, type, data, dataSize);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName) {
    return GetMachine().Registry().Delete(hKey, valueName);
}

LSTATUS RegCloseKey(HKEY hKey) {
    return GetMachine().Registry().Close(hKey);
}

// Version information: the block holds its own size, then "Name\0Value\0"
// pairs in UTF-16, so a query never reads past what was filled.
#include "Platform/Version.h"

#include "Utf.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeader = 4;

std::u16string ModuleFileName(std::u16string_view path) {
    std::size_t cut = path.size();
    while (cut > 0 && path[cut - 1] != u'\\' && path[cut - 1] != u'/') --cut;
    std::u16string name(path.substr(cut));
    if (name.size() > 6 && name.starts_with(u"lib") && name.ends_with(u".so")) {
        name = name.substr(3, name.size() - 6) + u".dll";
    }
    return name;
}

// The block for the module's version text, or nothing (last error set).
std::optional<std::vector<char16_t>> BuildBlock(LPCWSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    const std::u16string name = ModuleFileName(fileName);
    HMODULE module = GetModuleHandleW(name.c_str());
    auto resources = module ? Platform::GetModuleResources(module) : nullptr;
    if (!resources || !resources->binaries.contains({u"16", 1})) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return std::nullopt;
    }
    const auto it = resources->binaries.find({u"16", 1});
    const std::string text(it->second.begin(), it->second.end());
    std::vector<char16_t> block(kHeader / sizeof(char16_t), 0);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto equals = line.find('=');
        auto key = equals == std::string::npos ? std::nullopt : Platform::Utf8ToUtf16(line.substr(0, equals));
        auto value = equals == std::string::npos ? std::nullopt : Platform::Utf8ToUtf16(line.substr(equals + 1));
        if (!key || !value || key->empty()) {
            SetLastError(ERROR_INVALID_DATA);
            return std::nullopt;
        }
        block.insert(block.end(), key->begin(), key->end());
        block.push_back(0);
        block.insert(block.end(), value->begin(), value->end());
        block.push_back(0);
    }
    const auto bytes = static_cast<std::uint32_t>(block.size() * sizeof(char16_t));
    std::memcpy(block.data(), &bytes, sizeof bytes);
    return block;
}

bool IsHex(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    auto upper = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// "\StringFileInfo\040904B0\FileVersion" -> "FileVersion".
std::optional<std::u16string_view> ValueName(std::u16string_view path) {
    constexpr std::u16string_view kPrefix = u"\\StringFileInfo\\";
    if (path.size() < kPrefix.size() + 10 || !SameNoCase(path.substr(0, kPrefix.size()), kPrefix)) return std::nullopt;
    const auto language = path.substr(kPrefix.size(), 8);
    for (char16_t c : language)
        if (!IsHex(c)) return std::nullopt;
    if (path[kPrefix.size() + 8] != u'\\') return std::nullopt;
    return path.substr(kPrefix.size() + 9);
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    if (handle != nullptr) *handle = 0;
    auto block = BuildBlock(fileName);
    return block ? static_cast<DWORD>(block->size() * sizeof(char16_t)) : 0;
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD size, LPVOID data) {
    auto block = BuildBlock(fileName);
    if (!block) return FALSE;
    const std::size_t bytes = block->size() * sizeof(char16_t);
    if (data == nullptr || size < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(data, block->data(), bytes);
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* value, UINT* length) {
    if (block == nullptr || subBlock == nullptr || value == nullptr || length == nullptr) return FALSE;
    const auto name = ValueName(subBlock);
    if (!name) return FALSE;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, block, sizeof bytes);
    const auto* units = static_cast<const char16_t*>(block);
    const std::size_t count = bytes / sizeof(char16_t);
    std::size_t i = kHeader / sizeof(char16_t);
    auto next = [&](std::u16string_view& text) {
        const std::size_t start = i;
        while (i < count && units[i] != 0) ++i;
        if (i >= count) return false;
        text = std::u16string_view(units + start, i - start);
        ++i;
        return true;
    };
    std::u16string_view key, text;
    while (next(key) && next(text)) {
        if (SameNoCase(key, *name)) {
            *value = const_cast<char16_t*>(text.data());
            *length = static_cast<UINT>(text.size() + 1);
            return TRUE;
        }
    }
    return FALSE;
}

namespace Platform {

void AddVersionText(ResourceTable& table, std::string_view text) {
    table.binaries[{u"16", 1}] = std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace Platform

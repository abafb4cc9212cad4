// Folder listings of the machine's file system by wildcard pattern.
#include "Platform/Files.h"
#include "Platform/Paths.h"

#include "Utf.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

struct Entry {
    std::u16string name;
    bool directory = false;
    std::uint64_t size = 0;
};

class FileSearch : public Platform::KernelObject {
public:
    explicit FileSearch(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    bool Next(WIN32_FIND_DATAW& data) {
        if (next_ >= entries_.size()) return false;
        Fill(entries_[next_++], data);
        return true;
    }

    static void Fill(const Entry& entry, WIN32_FIND_DATAW& data) {
        data = WIN32_FIND_DATAW{};
        data.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        data.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(entry.size & 0xFFFFFFFFu);
        std::copy(entry.name.begin(), entry.name.end(), data.cFileName);
    }

private:
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
};

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

// Iterative wildcard match with one back-tracking point per '*'.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
    std::size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || Upper(pattern[p]) == Upper(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string text(pattern);
    const auto cut = text.find_last_of(u"\\/");
    const std::u16string folder = cut == std::u16string::npos ? u"." : text.substr(0, cut + 1);
    std::u16string wildcard = cut == std::u16string::npos ? text : text.substr(cut + 1);
    if (wildcard == u"*.*") wildcard = u"*";
    if (wildcard.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    std::error_code error;
    const std::filesystem::path path(Platform::MapPath(folder.c_str()));
    if (!std::filesystem::is_directory(path, error)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<Entry> entries;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        auto name = Platform::Utf8ToUtf16(it->path().filename().string());
        if (!name || name->size() >= MAX_PATH || !Matches(wildcard, *name)) continue;
        // An entry that cannot be looked at is listed as an empty file.
        std::error_code entryError;
        Entry entry{*name, it->is_directory(entryError), 0};
        if (!entry.directory) {
            const auto size = it->file_size(entryError);
            if (!entryError) entry.size = size;
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_shared<FileSearch>(std::move(entries));
    search->Next(*data);
    return Platform::InsertHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
    auto search = Platform::LookupHandleAs<FileSearch>(handle);
    if (!search || data == nullptr) {
        SetLastError(search ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!search->Next(*data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle) {
    if (!Platform::LookupHandleAs<FileSearch>(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return CloseHandle(handle);
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    constexpr std::u16string_view kSystem = u"C:\\Windows\\system32";
    if (buffer == nullptr || size <= kSystem.size()) return static_cast<UINT>(kSystem.size() + 1);
    std::copy(kSystem.begin(), kSystem.end(), buffer);
    buffer[kSystem.size()] = 0;
    return static_cast<UINT>(kSystem.size());
}

#include "Platform/Security.h"

#include "Platform/Machine.h"
#include "Platform/Registry.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace {

constexpr DWORD ERROR_INVALID_ACL = 1336;
// Larger requests fail as an exhausted machine would.
constexpr std::size_t kLargestLocalBlock = std::size_t{1} << 30;

struct LocalHeap {
    std::mutex mutex;
    std::map<void*, std::unique_ptr<std::byte[]>> blocks;
};

LocalHeap& Heap() {
    static auto* heap = new LocalHeap;  // outlives every static that frees into it
    return *heap;
}

// After the header each entry is: DWORD size (whole entry, a multiple of
// 4), DWORD mask, DWORD mode, DWORD inheritance, WORD name units, WORD
// zero, the name's units, zero padding.
constexpr std::size_t kEntryHead = 20;
constexpr std::size_t kMaxTrusteeUnits = 256;

std::size_t EntrySize(const Platform::AccessEntry& entry) {
    return (kEntryHead + entry.trustee.size() * 2 + 3) & ~std::size_t{3};
}

void PutDword(std::byte* at, DWORD value) {
    std::memcpy(at, &value, sizeof value);
}

DWORD GetDword(const std::byte* at) {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::size_t ListBytes(const std::vector<Platform::AccessEntry>& entries) {
    std::size_t total = sizeof(ACL);
    for (const auto& entry : entries) total += EntrySize(entry);
    return total;
}

// Writes the list at `at`, which has ListBytes(entries) bytes.
void WriteList(std::byte* at, const std::vector<Platform::AccessEntry>& entries) {
    const ACL header{ACL_REVISION, 0, static_cast<WORD>(ListBytes(entries)), static_cast<WORD>(entries.size()), 0};
    std::memcpy(at, &header, sizeof header);
    std::byte* next = at + sizeof header;
    for (const auto& entry : entries) {
        const std::size_t size = EntrySize(entry);
        std::memset(next, 0, size);
        PutDword(next, static_cast<DWORD>(size));
        PutDword(next + 4, entry.mask);
        PutDword(next + 8, entry.mode);
        PutDword(next + 12, entry.inheritance);
        const auto units = static_cast<WORD>(entry.trustee.size());
        std::memcpy(next + 16, &units, sizeof units);
        std::memcpy(next + kEntryHead, entry.trustee.data(), entry.trustee.size() * 2);
        next += size;
    }
}

std::optional<std::vector<Platform::AccessEntry>> ReadList(const ACL* acl) {
    ACL header;
    std::memcpy(&header, acl, sizeof header);
    if (header.AclRevision != ACL_REVISION || header.AclSize < sizeof header) return std::nullopt;
    const auto* base = reinterpret_cast<const std::byte*>(acl);
    std::size_t at = sizeof header;
    std::vector<Platform::AccessEntry> entries;
    for (WORD i = 0; i < header.AceCount; ++i) {
        if (header.AclSize - at < kEntryHead) return std::nullopt;
        const DWORD size = GetDword(base + at);
        WORD units;
        std::memcpy(&units, base + at + 16, sizeof units);
        if (size < kEntryHead || size > header.AclSize - at || kEntryHead + std::size_t{units} * 2 > size) {
            return std::nullopt;
        }
        Platform::AccessEntry entry;
        entry.mask = GetDword(base + at + 4);
        entry.mode = GetDword(base + at + 8);
        entry.inheritance = GetDword(base + at + 12);
        entry.trustee.resize(units);
        std::memcpy(entry.trustee.data(), base + at + kEntryHead, std::size_t{units} * 2);
        entries.push_back(std::move(entry));
        at += size;
    }
    return entries;
}

// A block holding the list, or null (the error set) when it cannot be had.
PACL NewList(const std::vector<Platform::AccessEntry>& entries, DWORD& error) {
    const std::size_t bytes = ListBytes(entries);
    if (bytes > 0xFFFF) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    auto* block = static_cast<std::byte*>(LocalAlloc(LPTR, bytes));
    if (block == nullptr) {
        error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    WriteList(block, entries);
    return reinterpret_cast<PACL>(block);
}

bool SameTrustee(const Platform::AccessEntry& entry, std::u16string_view name) {
    return Platform::FoldName(entry.trustee) == Platform::FoldName(name);
}

}  // namespace

HLOCAL LocalAlloc(UINT, std::size_t bytes) {
    if (bytes > kLargestLocalBlock) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    try {
        auto block = std::make_unique<std::byte[]>(std::max<std::size_t>(bytes, 1));  // zeroed
        void* address = block.get();
        auto& heap = Heap();
        std::lock_guard lock(heap.mutex);
        heap.blocks.emplace(address, std::move(block));
        return address;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HLOCAL LocalFree(HLOCAL memory) {
    if (memory == nullptr) return nullptr;
    auto& heap = Heap();
    std::lock_guard lock(heap.mutex);
    if (heap.blocks.erase(memory) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return memory;
    }
    return nullptr;
}

namespace Platform {
std::size_t LiveLocalBlocks() {
    auto& heap = Heap();
    std::lock_guard lock(heap.mutex);
    return heap.blocks.size();
}
}  // namespace Platform

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner, PSID* group,
                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
    if (owner != nullptr) *owner = nullptr;
    if (group != nullptr) *group = nullptr;
    if (sacl != nullptr) *sacl = nullptr;
    if (dacl != nullptr) *dacl = nullptr;
    if (descriptor != nullptr) *descriptor = nullptr;
    if (type != SE_PRINTER_OBJECT || !(info & DACL_SECURITY_INFORMATION) || descriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<Platform::AccessEntry> entries;
    const DWORD error = Platform::GetMachine().Spooler().GetAccessList(handle, entries);
    if (error != ERROR_SUCCESS) return error;
    const std::size_t list = ListBytes(entries);
    if (list > 0xFFFF) return ERROR_INVALID_ACL;
    // The descriptor with its list right after it, freed as one block.
    auto* block = static_cast<std::byte*>(LocalAlloc(LPTR, sizeof(SECURITY_DESCRIPTOR) + list));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    WriteList(block + sizeof(SECURITY_DESCRIPTOR), entries);
    SECURITY_DESCRIPTOR sd{};
    sd.Revision = 1;
    sd.Dacl = reinterpret_cast<PACL>(block + sizeof(SECURITY_DESCRIPTOR));
    std::memcpy(block, &sd, sizeof sd);
    *descriptor = block;
    if (dacl != nullptr) *dacl = sd.Dacl;
    return ERROR_SUCCESS;
}

DWORD SetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID, PSID, PACL dacl, PACL) {
    if (type != SE_PRINTER_OBJECT || !(info & DACL_SECURITY_INFORMATION) || dacl == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    auto entries = ReadList(dacl);
    if (!entries) return ERROR_INVALID_ACL;
    return Platform::GetMachine().Spooler().SetAccessList(handle, std::move(*entries));
}

DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl) {
    if (newAcl == nullptr || (count != 0 && entries == nullptr)) return ERROR_INVALID_PARAMETER;
    *newAcl = nullptr;
    std::vector<Platform::AccessEntry> list;
    if (oldAcl != nullptr) {
        auto old = ReadList(oldAcl);
        if (!old) return ERROR_INVALID_ACL;
        list = std::move(*old);
    }
    for (ULONG i = 0; i < count; ++i) {
        const EXPLICIT_ACCESS_W& change = entries[i];
        if (change.grfAccessMode == NOT_USED_ACCESS) continue;
        const TRUSTEE_W& trustee = change.Trustee;
        if (trustee.pMultipleTrustee != nullptr || trustee.TrusteeForm != TRUSTEE_IS_NAME ||
            trustee.ptstrName == nullptr || *trustee.ptstrName == 0) {
            return ERROR_INVALID_PARAMETER;
        }
        const std::u16string_view name(trustee.ptstrName);
        if (name.size() > kMaxTrusteeUnits) return ERROR_INVALID_PARAMETER;
        const Platform::AccessEntry entry{std::u16string(name), change.grfAccessPermissions,
                                          static_cast<DWORD>(change.grfAccessMode), change.grfInheritance};
        switch (change.grfAccessMode) {
            case GRANT_ACCESS: {
                const auto same = std::find_if(list.begin(), list.end(), [&](const Platform::AccessEntry& e) {
                    return e.mode == GRANT_ACCESS && e.inheritance == entry.inheritance && SameTrustee(e, name);
                });
                if (same != list.end()) {
                    same->mask |= entry.mask;
                } else {
                    list.push_back(entry);
                }
                break;
            }
            case SET_ACCESS:
                std::erase_if(list, [&](const Platform::AccessEntry& e) { return SameTrustee(e, name); });
                list.push_back(Platform::AccessEntry{entry.trustee, entry.mask, GRANT_ACCESS, entry.inheritance});
                break;
            case DENY_ACCESS:
                list.insert(list.begin(), entry);
                break;
            case REVOKE_ACCESS:
                std::erase_if(list, [&](const Platform::AccessEntry& e) { return SameTrustee(e, name); });
                break;
            default:
                return ERROR_INVALID_PARAMETER;
        }
    }
    DWORD error = ERROR_SUCCESS;
    *newAcl = NewList(list, error);
    return *newAcl != nullptr ? ERROR_SUCCESS : error;
}

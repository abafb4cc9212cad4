// The DNS-SD discovery provider: browses for printers, keeps the device list
// and reports additions, changes and removals to the transport.
#include "Discovery.h"

#include "Text.h"

#include "Platform/Win32.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace Jorvale {
namespace {

constexpr char kServiceType[] = "_ptp._tcp.";
constexpr char kDomain[] = "local.";
// A synchronous enumeration gives the answers this long to arrive.
constexpr DWORD kSynchronousWaitMs = 1500;
// Text limits of the reports, terminator excluded.
constexpr std::size_t kNameUnits = 39;
constexpr std::size_t kGuidUnits = 39;
// Bytes of one TXT entry looked at.
constexpr std::size_t kEntryBytes = 127;
// Records of this size are not read (printers of one family send a fixed
// record that carries nothing of use).
constexpr std::size_t kSkippedRecordSize = 22;

// The process-wide DNS-SD core and its uses. Never destroyed: a provider may
// be released while the process exits.
struct CoreSlot {
    std::mutex mutex;
    DnsSdCore* core = nullptr;  // null: the system's
    unsigned uses = 0;
};

CoreSlot& Slot() {
    static auto* slot = new CoreSlot;
    return *slot;
}

DnsSdCore& CurrentCore(CoreSlot& slot) {
    return slot.core ? *slot.core : SystemDnsSdCore();
}

// Takes a use of the core, starting it with the first; null when it will
// not start.
DnsSdCore* AcquireCore() {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    DnsSdCore& core = CurrentCore(slot);
    if (slot.uses == 0 && !core.Start()) return nullptr;
    ++slot.uses;
    return &core;
}

void ReleaseCore(DnsSdCore& core) {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    if (slot.uses == 0) return;
    if (--slot.uses == 0) core.Shutdown();
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Hexadecimal as the 32-bit C library's unsigned conversion reads it:
// optional sign and "0x", saturating at 0xFFFFFFFF, a minus sign negating.
DWORD ReadHex(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    const auto result = static_cast<DWORD>(value);
    return negative ? static_cast<DWORD>(0u - result) : result;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

struct Discovery final : PtpiDiscovery, DnsSdEvents {
    Discovery(PtpiTransport* transport, ReportFunction report, std::recursive_mutex& lock)
        : transport(transport), report(report), lock(lock) {}

    ~Discovery() override { FreeEntries(); }

    HRESULT Start(DWORD newFlags) {
        std::unique_ptr<DnsSdEngine> failed;
        HRESULT result = kOk;
        {
            std::lock_guard guard(lock);
            flags = newFlags;
            if (client) return kOk;
            if (!core) {
                core = AcquireCore();
                if (!core) return kFail;
            }
            client = core->CreateClient(*this);
            if (!client) return kFail;
            const std::int32_t error = client->Browse(kServiceType, kDomain);
            if (error != 0) {
                failed = std::move(client);
                result = DnsSdResult(error);
            }
        }
        if (failed) {
            // Ended outside the lock: its thread may be waiting for the lock.
            failed.reset();
            return result;
        }
        if (!(newFlags & kPtpEnumAsync)) Sleep(kSynchronousWaitMs);
        return kOk;
    }

    HRESULT ReportAll() {
        std::lock_guard guard(lock);
        for (PtpDeviceEntry* e = first; e; e = e->next) Report(*e, 1);
        return kOk;
    }

    void End() {
        client.reset();
        if (core) ReleaseCore(*core);
        core = nullptr;
    }

    // DnsSdEvents, on the engine's thread.

    void Resolved(const std::string& name, const std::array<std::uint8_t, 4>& ipv4, std::uint16_t port,
                  const std::string& txt) override {
        const TxtValues values = ParseTxtRecord(reinterpret_cast<const unsigned char*>(txt.data()), txt.size());
        PtpAddressBlock address{};
        address.family = AF_INET;
        address.portNetworkOrder = htons(port);
        std::memcpy(address.ipv4, ipv4.data(), 4);
        char key[sizeof PtpDeviceEntry::name] = {};
        std::memcpy(key, name.data(), std::min(name.size(), sizeof key - 1));

        std::lock_guard guard(lock);
        PtpDeviceEntry* entry = Find(key);
        if (!entry) {
            entry = new (std::nothrow) PtpDeviceEntry{};
            if (!entry) return;
            std::memcpy(entry->name, key, sizeof key);
            entry->address = address;
            CopyValues(*entry, values);
            entry->previous = last;
            (last ? last->next : first) = entry;
            last = entry;
            Report(*entry, 1);
            return;
        }
        const bool moved = std::memcmp(&entry->address, &address, sizeof address) != 0;
        const bool changed = moved || entry->vendorId != values.vendorId || entry->productId != values.productId ||
                             entry->sequence != values.sequence || entry->version != values.version;
        CopyValues(*entry, values);
        if (!changed) return;
        // Gone with the new values at the old address, then present.
        Report(*entry, 0);
        if (moved) entry->address = address;
        Report(*entry, 1);
    }

    void Removed(const std::string& name) override {
        char key[sizeof PtpDeviceEntry::name] = {};
        std::memcpy(key, name.data(), std::min(name.size(), sizeof key - 1));
        std::lock_guard guard(lock);
        PtpDeviceEntry* entry = Find(key);
        if (!entry) return;
        (entry->previous ? entry->previous->next : first) = entry->next;
        (entry->next ? entry->next->previous : last) = entry->previous;
        Report(*entry, 0);
        delete entry;
    }

    void Reset() override {
        std::lock_guard guard(lock);
        FreeEntries();
    }

    PtpDeviceEntry* Find(const char* key) const {
        for (PtpDeviceEntry* e = first; e; e = e->next)
            if (std::strncmp(e->name, key, sizeof e->name) == 0) return e;
        return nullptr;
    }

    static void CopyValues(PtpDeviceEntry& entry, const TxtValues& values) {
        const std::size_t units = std::min(values.guid.size(), std::size(entry.guid) - 1);
        std::copy_n(values.guid.begin(), units, entry.guid);
        entry.guid[units] = 0;
        entry.vendorId = values.vendorId;
        entry.productId = values.productId;
        entry.sequence = values.sequence;
        entry.version = values.version;
    }

    // Called with the lock held.
    void Report(const PtpDeviceEntry& entry, DWORD present) const {
        char digits[2][16];
        std::snprintf(digits[0], sizeof digits[0], "%08X", static_cast<unsigned>(entry.vendorId));
        std::snprintf(digits[1], sizeof digits[1], "%08X", static_cast<unsigned>(entry.productId));
        const std::u16string vendor(digits[0], digits[0] + std::strlen(digits[0]));
        const std::u16string product(digits[1], digits[1] + std::strlen(digits[1]));
        const std::u16string name =
            WidenUtf8(std::string_view(entry.name, ::strnlen(entry.name, sizeof entry.name)), kNameUnits);
        const std::u16string url = FormatDeviceUrl(entry.address);
        PtpDeviceInfo info{};
        info.size = sizeof info;
        info.present = present;
        info.name = name.c_str();
        info.guid = entry.guid;
        info.kind = u"PTPIP";
        info.vendorId = vendor.c_str();
        info.productId = product.c_str();
        info.version = entry.version;
        report(transport, url.c_str(), &info);
    }

    void FreeEntries() {
        while (first) {
            PtpDeviceEntry* next = first->next;
            delete first;
            first = next;
        }
        last = nullptr;
    }

    std::atomic<ULONG> references{1};
    PtpiTransport* const transport;
    const ReportFunction report;
    std::recursive_mutex& lock;  // the transport's: guards everything below
    std::unique_ptr<DnsSdEngine> client;
    DnsSdCore* core = nullptr;  // the core this provider holds a use of
    DWORD flags = 0;
    PtpDeviceEntry* first = nullptr;
    PtpDeviceEntry* last = nullptr;
};

Discovery* Self(PtpiDiscovery* self) {
    return static_cast<Discovery*>(self);
}

const PtpiDiscoveryOps kDiscoveryOps = {
    [](PtpiDiscovery* self) -> ULONG { return ++Self(self)->references; },
    [](PtpiDiscovery* self) -> ULONG {
        Discovery* d = Self(self);
        const ULONG left = --d->references;
        if (left == 0) {
            d->End();
            delete d;
        }
        return left;
    },
    [](PtpiDiscovery* self, DWORD flags) -> HRESULT {
        try {
            return Self(self)->Start(flags);
        } catch (...) {
            return kFail;
        }
    },
    [](PtpiDiscovery*) -> HRESULT { return kOk; },
    [](PtpiDiscovery* self) -> HRESULT {
        try {
            return Self(self)->ReportAll();
        } catch (...) {
            return kFail;
        }
    },
    [](PtpiDiscovery*) -> HRESULT { return kOk; },
};

}  // namespace

TxtValues ParseTxtRecord(const unsigned char* record, std::size_t size) {
    TxtValues values;
    if (!record || size == kSkippedRecordSize) return values;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = record[at++];
        if (length > size - at) break;
        std::string entry(reinterpret_cast<const char*>(record + at), std::min(length, kEntryBytes));
        at += length;
        // The entry is text: it ends at a zero byte.
        entry.resize(::strnlen(entry.c_str(), entry.size()));
        for (char& c : entry)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const std::string_view text = entry;
        if (StartsWith(text, "GUID=")) {
            values.guid = WidenUtf8("{" + entry.substr(5) + "}", kGuidUnits);
        } else if (StartsWith(text, "VID=")) {
            values.vendorId = ReadHex(text.substr(4));
        } else if (StartsWith(text, "PID=")) {
            values.productId = ReadHex(text.substr(4));
        } else if (StartsWith(text, "SEQ=")) {
            values.sequence = ReadHex(text.substr(4));
        } else if (StartsWith(text, "VER=")) {
            values.version = ReadHex(text.substr(4));
        }
    }
    return values;
}

void SetDnsSdCore(DnsSdCore* core) {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    slot.core = core;
}

unsigned DnsSdCoreUses() {
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    return slot.uses;
}

HRESULT CreateDiscovery(PtpiTransport* transport, ReportFunction report, std::recursive_mutex& lock,
                        PtpiDiscovery** provider) {
    if (!provider) return kInvalidArgument;
    *provider = nullptr;
    if (!report) return kInvalidArgument;
    auto* d = new (std::nothrow) Discovery(transport, report, lock);
    if (!d) return kOutOfMemory;
    d->ops = &kDiscoveryOps;
    *provider = d;
    return kOk;
}

}  // namespace Jorvale

// What the transport and its discovery provider know of each other: the
// provider's operation table, the report function the provider calls, the
// provider factory and the device list entry.
#pragma once

#include "Jorvale.h"

#include <mutex>
#include <string>

struct PtpiDiscovery;

struct PtpiDiscoveryOps {
    ULONG (*AddRef)(PtpiDiscovery* self);
    ULONG (*Release)(PtpiDiscovery* self);
    // Begins browsing (with flags bit 0 clear it then waits for answers);
    // nothing more when already browsing.
    HRESULT (*Start)(PtpiDiscovery* self, DWORD flags);
    HRESULT (*Stop)(PtpiDiscovery* self);
    // Reports every known device as present, under the transport lock.
    HRESULT (*ReportAll)(PtpiDiscovery* self);
    HRESULT (*Refresh)(PtpiDiscovery* self);
};

struct PtpiDiscovery {
    const PtpiDiscoveryOps* ops;
};

// An IPv4 service address as discovery resolves it, compared whole.
#pragma pack(push, 1)
struct PtpAddressBlock {
    WORD family;            // AF_INET
    WORD portNetworkOrder;  // port, big-endian as on the wire
    BYTE ipv4[4];           // a.b.c.d in order
    BYTE zero[16];
};
#pragma pack(pop)
static_assert(sizeof(PtpAddressBlock) == 24);

// One device of the discovery list.
struct PtpDeviceEntry {
    char name[64];  // service instance name, at most 63 bytes, compared on 64
    PtpAddressBlock address;
    WCHAR guid[40];  // "{...}", at most 39 units
    DWORD vendorId = 0;
    DWORD productId = 0;
    DWORD sequence = 0;
    DWORD version = 0;
    PtpDeviceEntry* previous = nullptr;
    PtpDeviceEntry* next = nullptr;
};

namespace Jorvale {

// Takes the transport lock and hands the device to the client's enumeration
// callback, if one is registered. The provider calls it for every addition,
// change (gone then present) and removal.
using ReportFunction = void (*)(PtpiTransport* transport, LPCWSTR url, const PtpDeviceInfo* info);

// The DNS-SD provider. The lock is the transport's: it guards the device
// list and is held while reports run, so it is recursive.
HRESULT CreateDiscovery(PtpiTransport* transport, ReportFunction report, std::recursive_mutex& lock,
                        PtpiDiscovery** provider);

using DiscoveryFactory = HRESULT (*)(PtpiTransport* transport, ReportFunction report, std::recursive_mutex& lock,
                                     PtpiDiscovery** provider);
// Tests replace the provider every new transport makes; null puts
// CreateDiscovery back.
void SetDiscoveryFactory(DiscoveryFactory factory);

// "ptp://a.b.c.d:port/" for a resolved address.
std::u16string FormatDeviceUrl(const PtpAddressBlock& address);

}  // namespace Jorvale

// A provider that browses nothing, until the DNS-SD one is in place.
#include "TransportDiscovery.h"

#include <atomic>
#include <new>

namespace Jorvale {
namespace {

struct NullDiscovery : PtpiDiscovery {
    std::atomic<ULONG> references{1};
};

const PtpiDiscoveryOps kNullOps = {
    [](PtpiDiscovery* self) -> ULONG { return ++static_cast<NullDiscovery*>(self)->references; },
    [](PtpiDiscovery* self) -> ULONG {
        auto* d = static_cast<NullDiscovery*>(self);
        const ULONG left = --d->references;
        if (left == 0) delete d;
        return left;
    },
    [](PtpiDiscovery*, DWORD) -> HRESULT { return kOk; },
    [](PtpiDiscovery*) -> HRESULT { return kOk; },
    [](PtpiDiscovery*) -> HRESULT { return kOk; },
    [](PtpiDiscovery*) -> HRESULT { return kOk; },
};

}  // namespace

HRESULT CreateDiscovery(PtpiTransport*, ReportFunction, std::recursive_mutex&, PtpiDiscovery** provider) {
    auto* d = new (std::nothrow) NullDiscovery;
    if (!d) return kOutOfMemory;
    d->ops = &kNullOps;
    *provider = d;
    return kOk;
}

}  // namespace Jorvale

#include "Transport.h"

#include "Identity.h"
#include "Url.h"

#include <new>

namespace Jorvale {
namespace {

std::atomic<DiscoveryFactory> g_discoveryFactory{nullptr};
std::atomic<std::size_t> g_liveTransports{0};
// Stands for the socket library's start-up count: one per transport.
std::atomic<int> g_socketUsers{0};

template <class F>
auto Guarded(F&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kFail;
    }
}

Transport* Self(PtpiTransport* t) {
    return static_cast<Transport*>(t);
}

const PtpiTransportOps kTransportOps = {
    [](PtpiTransport* self) -> ULONG { return self ? Self(self)->AddRef() : 0; },
    [](PtpiTransport* self) -> ULONG { return self ? Self(self)->Release() : 0; },
    [](PtpiTransport* self, DWORD flags, PtpEnumCallback callback, void* context) -> HRESULT {
        if (!self) return kInvalidArgument;
        return Guarded([&] { return Self(self)->Enumerate(flags, callback, context); });
    },
    [](PtpiTransport* self, LPCWSTR url, DWORD flags, PtpiDevice** device) -> HRESULT {
        if (!self) return kInvalidArgument;
        return Guarded([&] { return Self(self)->OpenDevice(url, flags, device); });
    },
    [](PtpiTransport* self) -> HRESULT {
        if (!self) return kInvalidArgument;
        return Guarded([&] { return Self(self)->Refresh(); });
    },
};

}  // namespace

void SetDiscoveryFactory(DiscoveryFactory factory) {
    g_discoveryFactory = factory;
}

std::size_t Transport::LiveCount() {
    return g_liveTransports;
}
int Transport::SocketUsers() {
    return g_socketUsers;
}

Transport::Transport(std::shared_ptr<std::recursive_mutex> lock, Initiator initiator)
    : lock_(std::move(lock)), initiator_(std::move(initiator)) {
    ops = &kTransportOps;
    ++g_liveTransports;
    ++g_socketUsers;
}

Transport::~Transport() {
    for (PtpiDiscovery* provider : providers_) provider->ops->Release(provider);
    --g_socketUsers;
    --g_liveTransports;
}

HRESULT Transport::Create(PtpiTransport** transport) {
    if (!transport) return kInvalidArgument;
    *transport = nullptr;
    std::shared_ptr<std::recursive_mutex> lock;
    Initiator initiator;
    try {
        lock = std::make_shared<std::recursive_mutex>();
        initiator = ReadInitiator();
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    auto* t = new (std::nothrow) Transport(std::move(lock), std::move(initiator));
    if (!t) return kOutOfMemory;
    try {
        t->providers_.reserve(1);
    } catch (const std::bad_alloc&) {
        delete t;
        return kOutOfMemory;
    }
    const DiscoveryFactory factory = g_discoveryFactory.load();
    PtpiDiscovery* provider = nullptr;
    const HRESULT hr = (factory ? factory : &CreateDiscovery)(t, &Transport::Report, *t->lock_, &provider);
    if (hr != kOk || !provider) {
        delete t;
        return kFail;
    }
    t->providers_.push_back(provider);
    *transport = t;
    return kOk;
}

ULONG Transport::AddRef() {
    return ++references_;
}

ULONG Transport::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT Transport::Enumerate(DWORD flags, PtpEnumCallback callback, void* context) {
    if ((flags & 0x2) != 0 && (flags & kPtpEnumAsync) == 0) return kInvalidArgument;
    {
        std::lock_guard guard(*lock_);
        callback_ = (flags & kPtpEnumAsync) != 0 ? callback : nullptr;
        context_ = context;
    }
    // Without the lock: a synchronous start waits for answers, which
    // arrive on the provider's thread and take the lock to report.
    for (PtpiDiscovery* provider : providers_) {
        const HRESULT hr = callback ? provider->ops->Start(provider, flags) : provider->ops->Stop(provider);
        if (hr != kOk) return hr;
    }
    if (!callback || (flags & kPtpEnumAsync) != 0) return kOk;
    std::lock_guard guard(*lock_);
    callback_ = callback;
    for (PtpiDiscovery* provider : providers_) provider->ops->ReportAll(provider);
    callback_ = nullptr;
    return kOk;
}

void Transport::Report(PtpiTransport* transport, LPCWSTR url, const PtpDeviceInfo* info) {
    auto* t = Self(transport);
    std::lock_guard guard(*t->lock_);
    if (t->callback_) t->callback_(t->context_, url, info);
}

HRESULT Transport::OpenDevice(LPCWSTR url, DWORD, PtpiDevice** device) {
    if (!device) return kInvalidArgument;
    *device = nullptr;
    if (!url) return kInvalidArgument;
    const auto address = ParseDeviceUrl(url);
    if (!address) return kFail;
    Device* opened = nullptr;
    const HRESULT hr = Device::Open(*address, initiator_, lock_, &opened);
    if (hr != kOk) return hr;
    *device = opened;
    return kOk;
}

HRESULT Transport::Refresh() {
    for (PtpiDiscovery* provider : providers_) provider->ops->Refresh(provider);
    return kOk;
}

}  // namespace Jorvale

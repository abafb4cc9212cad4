// The exported functions. The plain ones share one process-wide transport,
// made on demand and held once per open device or enumeration.
#include "Jorvale.h"

#include "Device.h"
#include "Transport.h"

#include <mutex>
#include <new>

using Jorvale::Device;
using Jorvale::kInvalidArgument;

namespace {

std::mutex g_sharedMutex;
PtpiTransport* g_shared = nullptr;

template <class F>
HRESULT Guarded(F&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return Jorvale::kOutOfMemory;
    } catch (...) {
        return Jorvale::kFail;
    }
}

// The shared transport with one more reference for the caller, made when
// there is none.
HRESULT AcquireShared(PtpiTransport** transport) {
    std::lock_guard guard(g_sharedMutex);
    if (!g_shared) {
        const HRESULT hr = PtpiCreateTransport(&g_shared);
        if (hr != Jorvale::kOk) return hr;
    } else {
        g_shared->ops->AddRef(g_shared);
    }
    *transport = g_shared;
    return Jorvale::kOk;
}

// Gives back one reference; the shared transport is forgotten at the last.
void ReleaseShared(PtpiTransport* transport) {
    std::lock_guard guard(g_sharedMutex);
    const bool shared = transport == g_shared;
    if (transport->ops->Release(transport) == 0 && shared) g_shared = nullptr;
}

Device* AsDevice(PtpiDevice* device) {
    return static_cast<Device*>(device);
}

}  // namespace

namespace Jorvale {

const PtpiDeviceOps kDeviceOps = {
    [](PtpiDevice* self) -> ULONG { return self ? AsDevice(self)->AddRef() : 0; },
    [](PtpiDevice* self) -> ULONG { return self ? AsDevice(self)->Release() : 0; },
    &PtpSendCmd,
    &PtpWriteData,
    &PtpWaitAck,
    &PtpReadData,
    &PtpGetRsp,
    &PtpCancelTransaction,
    &PtpGetEvt,
    &PtpCancelGetEvt,
};

}  // namespace Jorvale

extern "C" {

HRESULT PtpiCreateTransport(PtpiTransport** transport) {
    return Guarded([&] { return Jorvale::Transport::Create(transport); });
}

HRESULT PtpCreateEnum(DWORD flags, PtpEnumCallback callback, void* context, HANDLE* enumeration) {
    if (!enumeration) return kInvalidArgument;
    *enumeration = nullptr;
    return Guarded([&] {
        PtpiTransport* transport = nullptr;
        if (const HRESULT hr = AcquireShared(&transport); hr != Jorvale::kOk) return hr;
        const HRESULT hr = transport->ops->Enumerate(transport, flags, callback, context);
        if (hr != Jorvale::kOk) {
            ReleaseShared(transport);
            return hr;
        }
        *enumeration = transport;
        return hr;
    });
}

HRESULT PtpCloseEnum(HANDLE enumeration) {
    return Guarded([&] {
        PtpiTransport* transport = nullptr;
        {
            std::lock_guard guard(g_sharedMutex);
            // Only a live enumeration token holds a reference to give back.
            if (!enumeration || enumeration != g_shared) return Jorvale::kFail;
            transport = g_shared;
            transport->ops->AddRef(transport);  // for this call
        }
        const HRESULT hr = transport->ops->Enumerate(transport, 0, nullptr, nullptr);
        ReleaseShared(transport);
        ReleaseShared(transport);
        return hr;
    });
}

HRESULT PtpOpenDevice(LPCWSTR url, DWORD flags, PtpiDevice** device) {
    if (!device) return kInvalidArgument;
    *device = nullptr;
    return Guarded([&] {
        PtpiTransport* transport = nullptr;
        if (const HRESULT hr = AcquireShared(&transport); hr != Jorvale::kOk) return hr;
        const HRESULT hr = transport->ops->OpenDevice(transport, url, flags, device);
        if (hr != Jorvale::kOk) ReleaseShared(transport);
        return hr;
    });
}

HRESULT PtpCloseDevice(PtpiDevice* device) {
    if (!device) return Jorvale::kOk;
    return Guarded([&] {
        device->ops->Release(device);
        std::lock_guard guard(g_sharedMutex);
        if (g_shared && g_shared->ops->Release(g_shared) == 0) g_shared = nullptr;
        return Jorvale::kOk;
    });
}

HRESULT PtpSendCmd(PtpiDevice* device, PtpCommandBlock* command) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->SendCmd(command); });
}

HRESULT PtpWriteData(PtpiDevice* device, const void* data, DWORD* length) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->WriteData(data, length); });
}

HRESULT PtpWaitAck(PtpiDevice* device, DWORD* dataLength) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->WaitAck(dataLength); });
}

HRESULT PtpReadData(PtpiDevice* device, void* buffer, DWORD* length) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->ReadData(buffer, length); });
}

HRESULT PtpGetRsp(PtpiDevice* device, PtpResponseBlock* response) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->GetRsp(response); });
}

HRESULT PtpCancelTransaction(PtpiDevice* device, DWORD transactionId) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->CancelTransaction(transactionId); });
}

HRESULT PtpGetEvt(PtpiDevice* device, PtpEventBlock* event) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->GetEvt(event); });
}

HRESULT PtpCancelGetEvt(PtpiDevice* device) {
    if (!device) return kInvalidArgument;
    return Guarded([&] { return AsDevice(device)->CancelGetEvt(); });
}

}  // extern "C"

// The transport object: the shared lock, the initiator identity, the
// enumeration callback and the discovery providers.
#pragma once

#include "Device.h"
#include "TransportDiscovery.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace Jorvale {

class Transport : public PtpiTransport {
public:
    static HRESULT Create(PtpiTransport** transport);

    ULONG AddRef();
    ULONG Release();
    HRESULT Enumerate(DWORD flags, PtpEnumCallback callback, void* context);
    HRESULT OpenDevice(LPCWSTR url, DWORD flags, PtpiDevice** device);
    HRESULT Refresh();

    const Initiator& Identity() const { return initiator_; }
    ULONG References() const { return references_; }

    // Live transports, and socket-layer start-ups not yet cleaned up (each
    // transport holds one); tests prove frees and pairing with them.
    static std::size_t LiveCount();
    static int SocketUsers();

private:
    Transport(std::shared_ptr<std::recursive_mutex> lock, Initiator initiator);
    ~Transport();

    static void Report(PtpiTransport* transport, LPCWSTR url, const PtpDeviceInfo* info);

    std::atomic<ULONG> references_{1};
    std::shared_ptr<std::recursive_mutex> lock_;
    const Initiator initiator_;
    PtpEnumCallback callback_ = nullptr;  // guarded by lock_
    void* context_ = nullptr;             // guarded by lock_
    std::vector<PtpiDiscovery*> providers_;
};

}  // namespace Jorvale

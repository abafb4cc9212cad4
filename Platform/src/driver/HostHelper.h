// The helper object a host hands its plug-in. The host owns it, so its
// count only shows whether the plug-in kept its AddRef/Release balance.
#pragma once

#include "Platform/Com.h"

namespace Platform::detail {

template <class Interface, const IID& kInterfaceId>
class HostHelper : public Interface {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == kInterfaceId) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++references); }
    ULONG Release() override { return static_cast<ULONG>(--references); }

    int references = 0;

protected:
    ~HostHelper() = default;
};

}  // namespace Platform::detail

// What both plug-in libraries need to be in-process servers: reference
// counting, a class factory and the bodies of the library's two exports.
//
// The factory and exports are templates on each library's own counts, so
// every library gets its own copies with internal linkage: one loaded
// library never binds to another's.
#pragma once

#include <atomic>
#include <new>

#include "Platform/Com.h"

namespace DriverPlugin {

// Reference counting and QueryInterface for an object that answers for
// IUnknown and one interface; its last Release deletes it as an `Object`.
template <class Object, class Interface, const IID& kInterfaceId>
class ComObject : public Interface {
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
    ULONG AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete static_cast<Object*>(this);
        return static_cast<ULONG>(left);
    }

protected:
    ~ComObject() = default;

private:
    LONG references_ = 1;
};

// What keeps a library loaded: its live class factories and server locks.
struct ServerCounts {
    LONG liveFactories = 0;
    LONG serverLocks = 0;
};

// A new plug-in object with one reference; null when memory runs out.
using CreatePlugin = IUnknown* (*)();

template <ServerCounts& counts, CreatePlugin create>
class ClassFactory final : public ComObject<ClassFactory<counts, create>, IClassFactory, IID_IClassFactory> {
public:
    ClassFactory() { InterlockedIncrement(&counts.liveFactories); }

    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_CLASSNOTAVAILABLE;
        IUnknown* plugin = create();
        if (plugin == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = plugin->QueryInterface(iid, object);
        plugin->Release();
        return result;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&counts.serverLocks);
        else
            InterlockedDecrement(&counts.serverLocks);
        return S_OK;
    }

private:
    friend ComObject<ClassFactory, IClassFactory, IID_IClassFactory>;
    ~ClassFactory() { InterlockedDecrement(&counts.liveFactories); }
};

// The body of DllGetClassObject for a library that serves one class.
template <ServerCounts& counts, const CLSID& kServed, CreatePlugin create>
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    try {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!(clsid == kServed)) return CLASS_E_CLASSNOTAVAILABLE;
        auto* factory = new (std::nothrow) ClassFactory<counts, create>;
        if (factory == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = factory->QueryInterface(iid, object);
        factory->Release();
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

// The body of DllCanUnloadNow.
template <ServerCounts& counts>
HRESULT CanUnloadNow() {
    return std::atomic_ref<LONG>(counts.liveFactories).load() == 0 &&
                   std::atomic_ref<LONG>(counts.serverLocks).load() == 0
               ? S_OK
               : S_FALSE;
}

}  // namespace DriverPlugin

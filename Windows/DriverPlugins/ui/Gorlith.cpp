// The user-interface plug-in as an in-process server: its class factory,
// its own strings and the library's two exports.
#include <atomic>
#include <new>

#include "Platform/Resource.h"
#include "Platform/Version.h"
#include "UiPlugin.h"

namespace {

LONG liveFactories = 0;
LONG serverLocks = 0;

// The library's own strings and version, there while it is loaded.
const Platform::ResourceRegistration ownStrings = [] {
    Platform::ResourceTable table;
    table.strings[Gorlith::kOptionItemName] = u"Velmo Color Profile";
    Platform::AddVersionText(table, "FileVersion=1.0.0.1\nProductVersion=1.0.0.1\n");
    return Platform::RegisterResourceModule(u"Gorlith.dll", std::move(table));
}();

HINSTANCE ThisModule() {
    return GetModuleHandleW(u"Gorlith.dll");
}

class UiPluginFactory final : public IClassFactory {
public:
    UiPluginFactory() { InterlockedIncrement(&liveFactories); }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_CLASSNOTAVAILABLE;
        IPrintOemUI* plugin = Gorlith::CreateUiPlugin(ThisModule());
        if (plugin == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = plugin->QueryInterface(iid, object);
        plugin->Release();
        return result;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&serverLocks);
        else
            InterlockedDecrement(&serverLocks);
        return S_OK;
    }

private:
    ~UiPluginFactory() { InterlockedDecrement(&liveFactories); }

    LONG references_ = 1;
};

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    try {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!(clsid == Gorlith::kUiPluginClass)) return CLASS_E_CLASSNOTAVAILABLE;
        auto* factory = new (std::nothrow) UiPluginFactory;
        if (factory == nullptr) return E_OUTOFMEMORY;
        const HRESULT result = factory->QueryInterface(iid, object);
        factory->Release();
        return result;
    } catch (...) {
        return E_FAIL;
    }
}

extern "C" HRESULT DllCanUnloadNow() {
    return std::atomic_ref<LONG>(liveFactories).load() == 0 && std::atomic_ref<LONG>(serverLocks).load() == 0 ? S_OK
                                                                                                              : S_FALSE;
}

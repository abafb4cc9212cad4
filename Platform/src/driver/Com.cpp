#include "Platform/Com.h"

namespace Platform {

ComServerModule::~ComServerModule() {
    if (module_ == nullptr) return;
    if (canUnloadNow_() == S_OK) FreeLibrary(module_);
}

bool ComServerModule::Load(const std::u16string& moduleName) {
    if (module_ != nullptr) return true;
    HMODULE module = LoadLibraryW(moduleName.c_str());
    if (module == nullptr) return false;
    auto get = reinterpret_cast<PFN_DllGetClassObject>(GetProcAddress(module, "DllGetClassObject"));
    auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(GetProcAddress(module, "DllCanUnloadNow"));
    if (get == nullptr || canUnload == nullptr) {
        FreeLibrary(module);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    module_ = module;
    getClassObject_ = get;
    canUnloadNow_ = canUnload;
    return true;
}

HRESULT ComServerModule::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (module_ == nullptr) return E_UNEXPECTED;
    return getClassObject_(clsid, iid, object);
}

HRESULT ComServerModule::CreateInstance(REFCLSID clsid, REFIID iid, void** object) const {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    void* factoryObject = nullptr;
    HRESULT result = GetClassObject(clsid, IID_IClassFactory, &factoryObject);
    if (FAILED(result)) return result;
    auto* factory = static_cast<IClassFactory*>(factoryObject);
    result = factory->CreateInstance(nullptr, iid, object);
    factory->Release();
    return result;
}

HRESULT ComServerModule::CanUnloadNow() const {
    if (module_ == nullptr) return S_OK;
    return canUnloadNow_();
}

}  // namespace Platform

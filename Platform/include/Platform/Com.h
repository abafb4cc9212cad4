// A small in-process COM core: the two base interfaces, HRESULTs and the
// two exports a server library offers, loaded over the platform's modules.
#pragma once

#include "Platform/Guid.h"
#include "Platform/Win32.h"

#include <atomic>
#include <string>

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

constexpr bool SUCCEEDED(HRESULT result) {
    return result >= 0;
}
constexpr bool FAILED(HRESULT result) {
    return result < 0;
}

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

constexpr bool IsEqualGUID(const GUID& a, const GUID& b) {
    return a == b;
}

// Objects are destroyed by their last Release, never through these
// pointers, so the interfaces carry no virtual destructor: the table starts
// with QueryInterface as a COM client expects.
class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};

using PFN_DllGetClassObject = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using PFN_DllCanUnloadNow = HRESULT (*)();

inline LONG InterlockedIncrement(LONG* value) {
    return std::atomic_ref<LONG>(*value).fetch_add(1) + 1;
}
inline LONG InterlockedDecrement(LONG* value) {
    return std::atomic_ref<LONG>(*value).fetch_sub(1) - 1;
}

namespace Platform {

// One in-process server library, loaded by module name ("Hesbane.dll") or
// path. The library is freed when the object dies, but only when the server
// says it can be unloaded: objects still alive keep it.
class ComServerModule {
public:
    ComServerModule() = default;
    ~ComServerModule();
    ComServerModule(const ComServerModule&) = delete;
    ComServerModule& operator=(const ComServerModule&) = delete;

    // False (and GetLastError set) when the library or one of the two
    // exports is missing.
    bool Load(const std::u16string& moduleName);
    bool IsLoaded() const { return module_ != nullptr; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    // Class object, CreateInstance and the factory's release in one.
    HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) const;
    HRESULT CanUnloadNow() const;

private:
    HMODULE module_ = nullptr;
    PFN_DllGetClassObject getClassObject_ = nullptr;
    PFN_DllCanUnloadNow canUnloadNow_ = nullptr;
};

}  // namespace Platform

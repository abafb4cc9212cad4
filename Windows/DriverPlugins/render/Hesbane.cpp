// The rendering plug-in as an in-process server: the plug-in object and
// the library's two exports.
#include <cstring>
#include <new>

#include "PluginServer.h"
#include "PrivateDevMode.h"
#include "RenderDevice.h"
#include "Tessary/TSException.h"

namespace {

// {6D6ABF26-9F38-11D1-882A-00C04FB961EC}
constexpr CLSID kRenderPluginClass{0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

DriverPlugin::ServerCounts counts;

constexpr const char* kImplementedMethods[] = {
    "CommandCallback",    "Compression",       "DisableDriver", "DisablePDEV",   "DriverDMS",      "DevMode",
    "DownloadFontHeader", "DownloadCharGlyph", "EnableDriver",  "EnablePDEV",    "FilterGraphics", "GetInfo",
    "HalftonePattern",    "ImageProcessing",   "MemoryUsage",   "OutputCharStr", "ResetPDEV",      "SendFontCmd",
    "TextOutAsBitmap",    "TTDownloadMethod",  "TTYGetInfo"};

HRESULT Fail(DWORD error) {
    SetLastError(error);
    return E_FAIL;
}

using DriverPlugin::ComObject;

class RenderPlugin final : public ComObject<RenderPlugin, IPrintOemUni, IID_IPrintOemUni> {
public:
    HRESULT GetInfo(DWORD mode, PVOID buffer, DWORD size, PDWORD needed) override {
        if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER);
        *needed = sizeof(DWORD);
        DWORD value = 0;
        switch (mode) {
            case OEMGI_GETSIGNATURE:
                value = kPrivateDevModeSignature;
                break;
            case OEMGI_GETVERSION:
                value = kPrivateDevModeVersion;
                break;
            case OEMGI_GETPUBLISHERINFO:
                *needed = 8;
                return E_FAIL;
            default:
                return Fail(ERROR_INVALID_PARAMETER);
        }
        if (buffer == nullptr || size < sizeof(DWORD)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, &value, sizeof value);
        return S_OK;
    }
    HRESULT DevMode(DWORD mode, POEM_DMPARAM param) override { return OEMDevMode(mode, param); }
    HRESULT EnableDriver(DWORD, DWORD, PDRVENABLEDATA enableData) override {
        if (enableData == nullptr) return E_FAIL;
        enableData->iDriverVersion = DRIVER_VERSION_HOOKS;
        enableData->c = kHookCount;
        enableData->pdrvfn = RenderHookTable();
        return S_OK;
    }
    HRESULT DisableDriver() override {
        if (helper_ != nullptr) helper_->Release();
        helper_ = nullptr;
        return S_OK;
    }
    HRESULT EnablePDEV(PDEVOBJ device, PWSTR printerName, ULONG, PVOID, ULONG, PVOID, ULONG, PVOID,
                       DRVENABLEDATA* driverFunctions, PVOID* pluginDevice) override {
        try {
            RenderDevice* created = CreateRenderDevice(device, printerName, driverFunctions, helper_);
            if (pluginDevice != nullptr) *pluginDevice = created;
            if (created == nullptr) return E_FAIL;
            if (pluginDevice == nullptr) {
                DeleteRenderDevice(created);
                return E_FAIL;
            }
            return S_OK;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT DisablePDEV(PDEVOBJ device) override {
        if (device != nullptr) {
            DeleteRenderDevice(static_cast<RenderDevice*>(device->pdevOEM));
            device->pdevOEM = nullptr;
        }
        return S_OK;
    }
    HRESULT ResetPDEV(PDEVOBJ, PDEVOBJ) override { return S_OK; }
    HRESULT PublishDriverInterface(IUnknown* driver) override {
        if (helper_ != nullptr) return S_OK;
        if (driver == nullptr) return E_FAIL;
        void* helper = nullptr;
        if (FAILED(driver->QueryInterface(IID_IPrintOemDriverUni, &helper)) || helper == nullptr) return E_FAIL;
        helper_ = static_cast<IPrintOemDriverUni*>(helper);
        return S_OK;
    }
    HRESULT GetImplementedMethod(PSTR methodName) override {
        if (methodName == nullptr) return S_FALSE;
        for (const char* name : kImplementedMethods)
            if (std::strcmp(name, methodName) == 0) return S_OK;
        return S_FALSE;
    }
    HRESULT DriverDMS(PVOID, PVOID, DWORD, PDWORD) override { return E_NOTIMPL; }
    HRESULT CommandCallback(PDEVOBJ, DWORD, DWORD, PDWORD, int* result) override {
        if (result != nullptr) *result = 0;
        return S_OK;
    }
    HRESULT ImageProcessing(PDEVOBJ, PBYTE, PVOID, PBYTE, DWORD, PVOID, PBYTE*) override { return E_NOTIMPL; }
    HRESULT FilterGraphics(PDEVOBJ device, PBYTE row, DWORD bytes) override {
        try {
            return FilterGraphicsRow(device, row, bytes);
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT Compression(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, int*) override { return E_NOTIMPL; }
    HRESULT HalftonePattern(PDEVOBJ, PBYTE, PBYTE, DWORD, DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT MemoryUsage(PDEVOBJ, PVOID) override { return E_NOTIMPL; }
    HRESULT DownloadFontHeader(PDEVOBJ, PVOID, PVOID, DWORD*) override { return E_NOTIMPL; }
    HRESULT DownloadCharGlyph(PDEVOBJ, PVOID, PVOID, HANDLE, PDWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT TTDownloadMethod(PDEVOBJ, PVOID, PVOID, DWORD*) override { return E_NOTIMPL; }
    HRESULT OutputCharStr(PDEVOBJ, PVOID, PVOID, DWORD, DWORD, PVOID) override { return E_NOTIMPL; }
    HRESULT SendFontCmd(PDEVOBJ, PVOID, PVOID, PVOID) override { return E_NOTIMPL; }
    HRESULT TextOutAsBitmap(SURFOBJ*, PVOID, PVOID, PVOID, PVOID, PVOID, PVOID, PVOID, POINTL*, ULONG) override {
        return E_NOTIMPL;
    }
    HRESULT TTYGetInfo(PDEVOBJ, DWORD, PVOID, DWORD, DWORD*) override { return E_NOTIMPL; }

private:
    friend ComObject;
    ~RenderPlugin() {
        if (helper_ != nullptr) helper_->Release();
    }

    IPrintOemDriverUni* helper_ = nullptr;
};

IUnknown* CreateRenderPlugin() {
    return new (std::nothrow) RenderPlugin;
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return DriverPlugin::GetClassObject<counts, kRenderPluginClass, CreateRenderPlugin>(clsid, iid, object);
}

extern "C" HRESULT DllCanUnloadNow() {
    return DriverPlugin::CanUnloadNow<counts>();
}

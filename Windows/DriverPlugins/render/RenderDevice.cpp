#include "RenderDevice.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Common/Headers/PrinterConfig.h"
#include "Common/Headers/PrinterDescription.h"
#include "Common/Headers/RodizuzUzezProperties.h"
#include "PrivateDevMode.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/UTFConversion.h"

namespace {

constexpr unsigned kDeviceIdBytes = 255;
constexpr unsigned kPaperDeviceIdBytes = 450;
constexpr DWORD kPrinterInfoFirstTry = 84;
constexpr SHORT kPaperWidthKind0 = 1056;
constexpr SHORT kPaperWidthKind1 = 931;

// atoi of a device id number, as a 16-bit value.
int Atoi16(const std::string* text) {
    if (text == nullptr) return 0;
    const char* p = text->c_str();
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = std::min<long long>(value * 10 + (*p++ - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (negative) value = -value;
    value = std::clamp<long long>(value, INT_MIN, INT_MAX);
    return static_cast<std::int16_t>(static_cast<int>(value));
}

RenderDevice* DeviceOf(DHPDEV device) {
    return device == nullptr ? nullptr : static_cast<RenderDevice*>(device->pdevOEM);
}

RenderDevice* DeviceOf(SURFOBJ* surface) {
    return surface == nullptr ? nullptr : DeviceOf(surface->dhpdev);
}

// The hook table's slot of a function index.
constexpr ULONG SlotOf(ULONG index) {
    ULONG slot = 0;
    while (slot < kHookCount && kHookIndexes[slot] != index) ++slot;
    return slot;
}

// The driver's own function for a hooked index, in its own type; null
// without a device or when the driver has none.
template <ULONG Index>
DdiFunctionType<Index> DriverOwn(const RenderDevice* device) {
    constexpr ULONG slot = SlotOf(Index);
    static_assert(slot < kHookCount, "not a hooked function");
    return device == nullptr ? nullptr : reinterpret_cast<DdiFunctionType<Index>>(device->driverFunctions[slot]);
}

// The driver's own DrvFontManagement for the queries that come without a
// surface, and so without a device to find it by. Every device of the
// process has it from the one driver that loads the plug-in.
std::atomic<PFN_DrvFontManagement> g_driverFontManagement{nullptr};

PrivateDevMode SettingsOf(PDEVOBJ device) {
    if (device == nullptr || device->pOEMDM == nullptr) {
        PrivateDevMode none;
        none.ccFilter[0] = '\0';
        return none;
    }
    return PrivateDevMode::Read(static_cast<const BYTE*>(device->pOEMDM));
}

std::string Narrow(const std::u16string& text) {
    return Tessary::UTF16ToUTF8String(text.c_str(), static_cast<int>(text.size()));
}

// Steps of the filter set-up that can fail leave the device without one.
void LoadFilter(RenderDevice& device, const WCHAR* printerName, const PrivateDevMode& settings) {
    const std::u16string install = GetInstallPath();
    const std::vector<char16_t> filterName = Tessary::ToWideVector(settings.ccFilter);
    const std::u16string libraryPath = install + u"\\" + std::u16string(filterName.data());
    std::string dataPath = Narrow(install) + "\\";

    RodizuzUzezProperties queue(printerName);
    PrinterConfig model;
    if (!queue.IdentifyPrinter(model)) return;
    char id[kDeviceIdBytes];
    if (queue.GetDeviceID(id, sizeof id) != 0) return;
    DeviceID1284 deviceId;
    if (!deviceId.Parse(id)) return;

    HeadDefinition head;
    try {
        const std::string* headId = deviceId.Field(DeviceID1284::PHD);
        head = headId != nullptr ? model.GetHead(*headId) : model.GetDefaultHead();
    } catch (const Tessary::TSException&) {
        return;
    }
    const int mediaCode = Atoi16(deviceId.Field(DeviceID1284::CID));
    std::pair<int, int> donorMedia{-1, -1};
    if (const auto found = model.donorMediaMappings.find(mediaCode); found != model.donorMediaMappings.end())
        donorMedia = found->second;
    try {
        const auto module = std::find_if(head.luts.begin(), head.luts.end(), [&](const LutModule& lut) {
            return lut.lutRef == settings.ccFilterData && lut.donor == donorMedia.first &&
                   lut.media == donorMedia.second;
        });
        const LutModule lut = module != head.luts.end() ? *module : head.GetLut(settings.ccFilterData);
        dataPath += lut.name + ".tli";
    } catch (const Tessary::TSException&) {
        // No such table: the filter gets the folder alone.
    }

    HMODULE library = LoadLibraryW(libraryPath.c_str());
    if (library == nullptr) return;
    auto getFilter = reinterpret_cast<GetFilterFunction>(GetProcAddress(library, "GetFilter"));
    ColourFilter* filter = getFilter != nullptr ? getFilter() : nullptr;
    if (filter == nullptr) {
        FreeLibrary(library);
        return;
    }
    device.filterLibrary = library;
    device.filter = filter;
    device.filterDataPath = dataPath;
    filter->LoadData(dataPath.c_str(), static_cast<int>(dataPath.size()));
}

void CopyPrinterName(HANDLE printer, PWSTR name) {
    std::vector<BYTE> buffer(kPrinterInfoFirstTry);
    DWORD needed = 0;
    if (!GetPrinterW(printer, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
        buffer.assign(needed + 1, 0);
        if (!GetPrinterW(printer, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) return;
    }
    PRINTER_INFO_2W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    if (info.pPrinterName == nullptr) return;
    std::size_t n = 0;
    while (n < PRINTER_NAME_BUFFER_UNITS - 1 && info.pPrinterName[n] != 0) {
        name[n] = info.pPrinterName[n];
        ++n;
    }
    name[n] = 0;
}

// ---- Hooks ----

BOOL HookStartDoc(SURFOBJ* surface, LPWSTR documentName, DWORD jobId) {
    try {
        RenderDevice* device = DeviceOf(surface);
        if (device == nullptr) return FALSE;
        PDEVOBJ driverDevice = surface->dhpdev;
        if (surface->pvBits != nullptr) std::memset(surface->pvBits, 0xFF, surface->cjBits);

        RodizuzUzezProperties queue(driverDevice->hPrinter);
        PrinterConfig model;
        // The queue's own port test, so that every part of the system agrees
        // on which queues are on USB (one whose port cannot be read is).
        const bool rotated = queue.IdentifyPrinter(model) && model.rotate == 2 && !queue.IsNetworkPort();
        const DEVMODEW* settings = driverDevice->pPublicDM;
        const bool landscape = settings != nullptr && settings->dmOrientation == DMORIENT_LANDSCAPE;
        int kind = 0;
        if (settings != nullptr && settings->dmPaperWidth == kPaperWidthKind0) {
            kind = 0;
        } else if (settings != nullptr && settings->dmPaperWidth == kPaperWidthKind1) {
            kind = 1;
        } else {
            char id[kPaperDeviceIdBytes];
            DeviceID1284 deviceId;
            if (queue.GetDeviceID(id, sizeof id) == 0 && deviceId.Parse(id))
                kind = Atoi16(deviceId.Field(DeviceID1284::TSZ)) == 2 ? 1 : 0;
        }
        device->planes.SetOrientation(landscape, rotated);
        device->planes.Allocate(kind);
        const auto own = DriverOwn<INDEX_DrvStartDoc>(device);
        return own != nullptr ? own(surface, documentName, jobId) : TRUE;
    } catch (...) {
        return FALSE;
    }
}

BOOL HookEndDoc(SURFOBJ* surface, FLONG flags) {
    const auto own = DriverOwn<INDEX_DrvEndDoc>(DeviceOf(surface));
    return own != nullptr ? own(surface, flags) : TRUE;
}

BOOL HookStartPage(SURFOBJ* surface) {
    RenderDevice* device = DeviceOf(surface);
    if (device == nullptr) return FALSE;
    device->planes.StartPage();
    const auto own = DriverOwn<INDEX_DrvStartPage>(device);
    return own != nullptr ? own(surface) : TRUE;
}

BOOL HookSendPage(SURFOBJ* surface) {
    try {
        RenderDevice* device = DeviceOf(surface);
        if (device == nullptr) return FALSE;
        if (device->planes.HasPlanes() && surface->iBitmapFormat == BMF_24BPP && surface->pvScan0 != nullptr) {
            // The stride may be negative (bottom-up) and may include padding.
            const LONG stride = surface->lDelta;
            const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(std::abs(stride)),
                                                            static_cast<std::size_t>(surface->sizlBitmap.cx) * 3);
            auto* scan = static_cast<BYTE*>(surface->pvScan0);
            for (LONG r = 0; r < surface->sizlBitmap.cy; ++r) {
                BYTE* row = scan + static_cast<std::ptrdiff_t>(r) * stride;
                if (device->filter != nullptr) device->filter->FilterRow(row, static_cast<int>(bytes), 24);
                device->planes.AddRow(row, bytes);
            }
        }
        return SendRenderedPage(surface->dhpdev);
    } catch (...) {
        return FALSE;
    }
}

BOOL HookNextBand(SURFOBJ* surface, POINTL* origin) {
    try {
        const auto own = DriverOwn<INDEX_DrvNextBand>(DeviceOf(surface));
        if (own == nullptr) return FALSE;
        const BOOL result = own(surface, origin);
        if (result && origin != nullptr && origin->x == -1 && origin->y == -1) return SendRenderedPage(surface->dhpdev);
        return result;
    } catch (...) {
        return FALSE;
    }
}

BOOL HookStartBanding(SURFOBJ* surface, POINTL* origin) {
    const auto own = DriverOwn<INDEX_DrvStartBanding>(DeviceOf(surface));
    return own != nullptr ? own(surface, origin) : FALSE;
}

ULONG HookEscape(SURFOBJ* surface, ULONG escape, ULONG inSize, PVOID in, ULONG outSize, PVOID out) {
    const auto own = DriverOwn<INDEX_DrvEscape>(DeviceOf(surface));
    return own != nullptr ? own(surface, escape, inSize, in, outSize, out) : 0;
}

BOOL HookRealizeBrush(PVOID, SURFOBJ*, SURFOBJ*, SURFOBJ*, PVOID, ULONG) {
    return FALSE;
}

ULONG HookFontManagement(SURFOBJ* surface, FONTOBJ* font, ULONG mode, ULONG inSize, PVOID in, ULONG outSize,
                         PVOID out) {
    const PFN_DrvFontManagement own =
        surface != nullptr ? DriverOwn<INDEX_DrvFontManagement>(DeviceOf(surface)) : g_driverFontManagement.load();
    return own != nullptr ? own(surface, font, mode, inSize, in, outSize, out) : 0;
}

// Hands a call on unchanged to the driver's own function, found through the
// device of its first argument (a surface, or the driver's device).
template <ULONG Index, typename Result, typename First, typename... Rest>
Result Forward(First first, Rest... rest) {
    const auto own = DriverOwn<Index>(DeviceOf(first));
    return own != nullptr ? own(first, rest...) : Result{};
}

template <ULONG Index>
DRVFN Entry(DdiFunctionType<Index> hook) {
    return DRVFN{Index, reinterpret_cast<PFN>(hook)};
}

// The forwarder in the function's own type, which the argument only names.
template <ULONG Index, typename Result, typename First, typename... Rest>
DRVFN ForwardingEntry(Result (*)(First, Rest...)) {
    return Entry<Index>(&Forward<Index, Result, First, Rest...>);
}

template <ULONG Slot>
DRVFN HookEntry() {
    constexpr ULONG index = kHookIndexes[Slot];
    if constexpr (index == INDEX_DrvFontManagement) {
        return Entry<index>(&HookFontManagement);
    } else {
        return ForwardingEntry<index>(DdiFunctionType<index>{});
    }
}

template <ULONG... Slots>
void FillForwarders(DRVFN* table, std::integer_sequence<ULONG, Slots...>) {
    ((table[Slots + 8] = HookEntry<Slots + 8>()), ...);
}

}  // namespace

RenderDevice::~RenderDevice() {
    planes.Release();
    if (filterLibrary != nullptr) FreeLibrary(filterLibrary);
    if (helper != nullptr) helper->Release();
}

DRVFN* RenderHookTable() {
    static DRVFN table[kHookCount] = {
        Entry<INDEX_DrvEscape>(&HookEscape),
        Entry<INDEX_DrvStartDoc>(&HookStartDoc),
        Entry<INDEX_DrvEndDoc>(&HookEndDoc),
        Entry<INDEX_DrvStartPage>(&HookStartPage),
        Entry<INDEX_DrvSendPage>(&HookSendPage),
        Entry<INDEX_DrvNextBand>(&HookNextBand),
        Entry<INDEX_DrvStartBanding>(&HookStartBanding),
        Entry<INDEX_DrvRealizeBrush>(&HookRealizeBrush),
    };
    static const bool filled = [] {
        FillForwarders(table, std::make_integer_sequence<ULONG, kHookCount - 8>{});
        return true;
    }();
    (void)filled;
    return table;
}

RenderDevice* CreateRenderDevice(PDEVOBJ driverDevice, PWSTR printerName, const DRVENABLEDATA* driver,
                                 IPrintOemDriverUni* helper) {
    if (driverDevice == nullptr || printerName == nullptr || driver == nullptr || printerName[0] == 0) return nullptr;
    CopyPrinterName(driverDevice->hPrinter, printerName);
    auto device = std::make_unique<RenderDevice>();
    for (ULONG slot = 0; slot < kHookCount; ++slot) {
        for (ULONG i = 0; i < driver->c && driver->pdrvfn != nullptr; ++i) {
            if (driver->pdrvfn[i].iFunc == kHookIndexes[slot]) {
                device->driverFunctions[slot] = driver->pdrvfn[i].pfn;
                break;
            }
        }
    }
    if (const auto own = DriverOwn<INDEX_DrvFontManagement>(device.get())) g_driverFontManagement = own;
    if (helper != nullptr) {
        helper->AddRef();
        device->helper = helper;
    }
    const PrivateDevMode settings = SettingsOf(driverDevice);
    if (settings.ccFilter[0] != '\0') {
        try {
            LoadFilter(*device, printerName, settings);
        } catch (const Tessary::TSException&) {
        } catch (const std::exception&) {
        } catch (...) {
            // Whatever the outside library threw: print without it.
        }
    }
    return device.release();
}

void DeleteRenderDevice(RenderDevice* device) {
    delete device;
}

HRESULT FilterGraphicsRow(PDEVOBJ driverDevice, PBYTE row, DWORD bytes) {
    RenderDevice* device = DeviceOf(driverDevice);
    if (device == nullptr || !device->planes.HasPlanes() || row == nullptr) return S_FALSE;
    if (device->filter != nullptr) device->filter->FilterRow(row, static_cast<int>(bytes), 24);
    device->planes.AddRow(row, bytes);
    return S_OK;
}

BOOL SendRenderedPage(PDEVOBJ driverDevice) {
    RenderDevice* device = DeviceOf(driverDevice);
    if (device == nullptr || device->helper == nullptr) return FALSE;
    const int copies = driverDevice->pPublicDM != nullptr ? driverDevice->pPublicDM->dmCopies : 1;
    const DWORD pin = SettingsOf(driverDevice).pin;
    IPrintOemDriverUni* helper = device->helper;
    const auto write = [&](const BYTE* data, std::size_t size) {
        DWORD written = 0;
        const HRESULT result =
            helper->DrvWriteSpoolBuf(driverDevice, const_cast<BYTE*>(data), static_cast<DWORD>(size), &written);
        return SUCCEEDED(result) && written == size;
    };
    return device->planes.Send(write, copies, pin) ? TRUE : FALSE;
}

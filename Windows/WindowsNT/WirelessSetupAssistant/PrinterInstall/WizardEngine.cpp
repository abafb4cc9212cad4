#include "WizardEngine.h"

#include <memory>
#include <vector>

#include "Common/Headers/PrinterDescription.h"
#include "Common/NetConfig/Requests.h"
#include "DriverLookup.h"
#include "HardwareId.h"
#include "Platform/SetupApi.h"
#include "Platform/Spooler.h"
#include "Platform/Usb.h"
#include "PortMonitorException.h"
#include "PrinterInstallRules.h"
#include "PrinterInstallSteps.h"
#include "Tessary/TSException.h"
#include "Windows/Common/ResourceDLL.h"
#include "Windows/Win32-USBUtils/USBDevice.h"
#include "Windows/Win32-USBUtils/USBHandles.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

using PortMonitorUtilities::PortMonitorException;

namespace {

constexpr DWORD kDiscoveryWaitMs = 20000;

// The text that stands for "the printer reports no MAC address".
constexpr unsigned IDS_NO_MAC_ADDRESS = 10037;

struct TransportDeleter {
    void operator()(PtpTransportTable* table) const { DestroyPtpTransport(table); }
};

struct EventCloser {
    void operator()(void* event) const { CloseHandle(event); }
};

}  // namespace

CWizardEngine::CWizardEngine() = default;
CWizardEngine::~CWizardEngine() = default;

void CWizardEngine::PushPage(unsigned templateId) {
    pageHistory_.push_back(templateId);
}

unsigned CWizardEngine::PopPage() {
    if (pageHistory_.empty()) return 0;
    const unsigned last = pageHistory_.back();
    pageHistory_.pop_back();
    return last;
}

bool CWizardEngine::InstallPrinter(bool usbRoad) {
    // The family's vendor id whatever the record says.
    const std::uint32_t vendorId = PortMonitorUtilities::kVendorId;
    const std::uint32_t productId = record_.productId;
    const std::u16string model(PortMonitorUtilities::ModelNameFor(productId));

    const PortMonitorUtilities::DriverInfo driver = PortMonitorUtilities::FindDriver(
        PortMonitorUtilities::MakeHardwareId(PortMonitorUtilities::kManufacturer, model), model);
    PrinterInstall::InstallPortMonitor();
    if (usbRoad) {
        DiscoverAddress();
    }

    XcvPortRecord port;
    port.vendorId = vendorId;
    port.productId = productId;
    {
        std::lock_guard lock(discoveryMutex_);
        port.deviceName = record_.deviceName;
        port.address = record_.address;
    }
    const std::u16string portName = PrinterInstall::AddMonitorPort(port);

    const std::u16string base =
        PrinterInstall::BasePrinterName(vendorId, productId, PortMonitorUtilities::kDefaultDisplayName);
    const std::u16string name = PortMonitorUtilities::UniquePrinterName(base, PrinterInstall::LocalPrinterNames(),
                                                                        PortMonitorUtilities::CopyPattern::Assistant);

    PrinterInstall::AddPrinterQueue(name, portName, driver.description).Reset();
    PrinterInstall::GrantEveryoneFullAccess(name);
    installedName_ = name;
    return true;
}

void CWizardEngine::DiscoverAddress() {
    PtpTransportTable* raw = nullptr;
    const int created = transportFactory_ ? transportFactory_(&raw) : CreatePtpTransport(nullptr, 0, &raw);
    std::unique_ptr<PtpTransportTable, TransportDeleter> transport(raw);
    if (created != 0 || transport == nullptr) {
        throw PortMonitorException(PortMonitorUtilities::kErrorGenFailure);
    }
    std::unique_ptr<void, EventCloser> event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (event == nullptr) {
        throw PortMonitorException(GetLastError());
    }
    {
        std::lock_guard lock(discoveryMutex_);
        discoveryEvent_ = event.get();
    }
    const int enumerated = transport->enumerate(transport->context, &CWizardEngine::OnDeviceFound, this);
    const DWORD waited = enumerated == 0 ? WaitForSingleObject(event.get(), kDiscoveryWaitMs) : WAIT_FAILED;
    if (enumerated == 0) {
        transport->stop(transport->context);
    }
    {
        std::lock_guard lock(discoveryMutex_);
        discoveryEvent_ = nullptr;
    }
    if (waited != WAIT_OBJECT_0) {
        throw PortMonitorException(PortMonitorUtilities::kErrorGenFailure);
    }
}

void CWizardEngine::OnDeviceFound(void* context, LPCWSTR url, DWORD flags, LPCWSTR name) {
    auto* engine = static_cast<CWizardEngine*>(context);
    if (engine == nullptr || url == nullptr || name == nullptr || (flags & 1) == 0) {
        return;
    }
    std::lock_guard lock(engine->discoveryMutex_);
    if (engine->discoveryEvent_ == nullptr || !PortMonitorUtilities::EqualsNoCase(name, engine->record_.deviceName) ||
        !XcvPortRecord::FitsAddress(url)) {
        return;
    }
    engine->record_.address = url;
    SetEvent(engine->discoveryEvent_);
}

bool CWizardEngine::SetPrinterName(std::u16string_view name) {
    printerName_.clear();
    // The buffer ends at the first NUL, which must fit as well.
    name = name.substr(0, name.find(u'\0'));
    if (name.size() >= kPrinterNameUnits) {
        return false;
    }
    printerName_ = name;
    return true;
}

Win32ConfigAPI& CWizardEngine::GetConfigAPI() {
    if (!configApi_) {
        configApi_ = std::make_unique<Win32ConfigAPI>();
    }
    return *configApi_;
}

void CWizardEngine::RetrieveVidPidList() {
    if (supportedIds_) {
        return;
    }
    std::vector<PrinterConfig> records;
    if (!LoadPrinterConfig(GetPrinterConfigPath(), records)) {
        TS_THROW(Tessary::TSRuntimeError,
                 "LoadPrinterConfig returned failure in CConfigUtilityDlg::RetrieveVidPidList");
    }
    std::set<std::pair<std::uint32_t, std::uint32_t>> ids;
    for (const auto& record : records) {
        for (const auto& connection : record.connections) {
            if (connection && connection->kind == ConnectionType::kUsb) {
                ids.emplace(static_cast<std::uint32_t>(record.vendorId), static_cast<std::uint32_t>(record.productId));
            }
        }
    }
    supportedIds_ = std::move(ids);
}

std::string CWizardEngine::FindDriverKeyName() {
    try {
        SP_DEVINFO_DATA printing{};
        printing.cbSize = sizeof printing;
        {
            PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
            HANDLE raw = nullptr;
            if (!OpenPrinterW(printerName_.c_str(), &raw, &defaults)) {
                return driverKeyName_;
            }
            PrinterInstall::PrinterHandle printer(raw);
            std::vector<char16_t> instanceId(kPrinterNameUnits, u'\0');
            DWORD type = 0;
            DWORD needed = 0;
            // The last unit stays NUL whatever the spooler wrote.
            const DWORD bytes = static_cast<DWORD>((instanceId.size() - 1) * sizeof(char16_t));
            if (GetPrinterDataExW(printer.Get(), u"PnPData", u"DeviceInstanceId", &type,
                                  reinterpret_cast<BYTE*>(instanceId.data()), bytes, &needed) != ERROR_SUCCESS ||
                type != REG_SZ) {
                return driverKeyName_;
            }
            USB::ScopedDeviceInfoList interfaces(SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
            if (!interfaces.IsValid() ||
                !SetupDiOpenDeviceInfoW(interfaces.Get(), instanceId.data(), nullptr, 0, &printing)) {
                return driverKeyName_;
            }
        }

        // Printer node -> interface function -> the USB device with the key.
        const Tessary::I8NString ownId = USB::USBDevice(printing).GetParentDeviceId();
        DEVINST node = 0;
        if (CM_Locate_DevNodeW(&node, ownId.c_str(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) {
            return driverKeyName_;
        }
        for (int up = 0; up < 2; ++up) {
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
                return driverKeyName_;
            }
            node = parent;
        }
        ULONG length = 0;
        if (CM_Get_Device_ID_Size(&length, node, 0) != CR_SUCCESS || length == 0) {
            return driverKeyName_;
        }
        std::vector<WCHAR> deviceId(static_cast<std::size_t>(length) + 1, u'\0');
        if (CM_Get_Device_IDW(node, deviceId.data(), length + 1, 0) != CR_SUCCESS) {
            return driverKeyName_;
        }

        USB::ScopedDeviceInfoList devices(SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!devices.IsValid() || !SetupDiOpenDeviceInfoW(devices.Get(), deviceId.data(), nullptr, 0, &device)) {
            return driverKeyName_;
        }
        std::string key;
        if (ReadDriverKey(devices.Get(), device, key) && !key.empty()) {
            driverKeyName_ = key;
        }
    } catch (...) {
        // Any broken link only means that no printer is known behind the queue.
    }
    return driverKeyName_;
}

bool CWizardEngine::IsPrinterConnected() {
    if (connected_) {
        return true;
    }
    RetrieveVidPidList();
    const std::string driverKey = FindDriverKeyName();
    if (driverKey.empty()) {
        return false;
    }
    DeviceOnHubMatchedDriverKeyName predicate(driverKey);
    HubEnumSingleResult<PrinterInfoResult> found;
    HubEnumDirector director(&predicate, &found);
    EnumerateHubs(director);
    const PrinterInfoResult printer = found.GetResult();
    if (printer.driverKeyName.empty()) {
        return false;
    }
    // Configuration blocks are for the family's printers only: another
    // maker's device behind the queue could take them for print data.
    if (!supportedIds_->contains({printer.vendorId, printer.productId})) {
        return false;
    }
    entry_.printer = printer;
    if (GetWirelessSettings()) {
        connected_ = true;
    }
    return connected_;
}

bool CWizardEngine::GetWirelessSettings() {
    Win32ConfigAPI& api = GetConfigAPI();
    try {
        if (!api.IsConnected()) {
            api.Close(true);
            api.inConfigMode = false;
            api.OpenByDriverKeyName(entry_.printer.driverKeyName, static_cast<int>(entry_.printer.maxOutPacketSize),
                                    static_cast<int>(entry_.printer.maxInPacketSize));
            api.CheckConnected();
            api.SetConfigMode(true);
        }
        if (!GetPrinterGuid(api, entry_.guid)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get guid' request in CWizardEngine::GetWirelessSettings");
        }
        std::string mac;
        switch (::GetMacAddress(api, mac)) {
            case 0:
                break;
            case 1: {
                const StResourceString none(IDS_NO_MAC_ADDRESS);
                mac = Tessary::I8NString(static_cast<const WCHAR*>(none)).ToString();
                break;
            }
            default:
                TS_THROW(Tessary::TSRuntimeError,
                         "Invalid response received for 'get mac address' request in "
                         "CWizardEngine::GetWirelessSettings");
        }
        macAddress_ = mac;
        if (!GetPrinterSettings("dockConfig", api, entry_.settings)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get printer settings' request in "
                     "CWizardEngine::GetWirelessSettings");
        }
        if (!GetAllProfiles(api, entry_.profiles)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get all profiles' request in CWizardEngine::GetWirelessSettings");
        }
        api.Close(true);
        api.inConfigMode = false;
        return true;
    } catch (...) {
        // A printer left in configuration mode ignores print data.
        try {
            api.Close(true);
        } catch (...) {
        }
        api.inConfigMode = false;
        throw;
    }
}

#include "WizardEngine.h"

#include <memory>

#include "DriverLookup.h"
#include "HardwareId.h"
#include "PortMonitorException.h"
#include "PrinterInstallRules.h"
#include "PrinterInstallSteps.h"

using PortMonitorUtilities::PortMonitorException;

namespace {

constexpr DWORD kDiscoveryWaitMs = 20000;

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

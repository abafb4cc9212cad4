// The setup assistant's engine: the printer chosen for installation and its
// installation as a print queue.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Win32.h"
#include "PtpTransport.h"

class CWizardEngine {
public:
    // Makes the transport the USB road finds the printer's address with;
    // answers CreatePtpTransport's codes.
    using TransportFactory = std::function<int(PtpTransportTable** table)>;

    CWizardEngine();
    virtual ~CWizardEngine();
    CWizardEngine(const CWizardEngine&) = delete;
    CWizardEngine& operator=(const CWizardEngine&) = delete;

    // The dialog template ids of the pages left by Next, most recent last,
    // so that Back retraces the path actually taken.
    void PushPage(unsigned templateId);
    unsigned PopPage();  // 0 when empty
    const std::vector<unsigned>& PageHistory() const { return pageHistory_; }

    // The printer chosen for installation; the pages fill it.
    XcvPortRecord& PrinterRecord() { return record_; }
    const XcvPortRecord& PrinterRecord() const { return record_; }

    // The transport loader's own enumerate answers -4, so the USB road ends
    // at discovery unless a transport that really enumerates is put in.
    void SetTransportFactory(TransportFactory factory) { transportFactory_ = std::move(factory); }

    // Installs the printer of the record: driver, port monitor, (on the USB
    // road) its network address, port, queue and its access list. True on
    // success; every failure throws PortMonitorUtilities::PortMonitorException,
    // and what was made before it stays.
    bool InstallPrinter(bool usbRoad);

    // The name of the queue the last successful installation made.
    const std::u16string& InstalledPrinterName() const { return installedName_; }

private:
    void DiscoverAddress();
    static void OnDeviceFound(void* context, LPCWSTR url, DWORD flags, LPCWSTR name);

    std::vector<unsigned> pageHistory_;
    XcvPortRecord record_;
    std::u16string installedName_;
    TransportFactory transportFactory_;
    // Discovery reports on the transport's thread.
    std::mutex discoveryMutex_;
    HANDLE discoveryEvent_ = nullptr;
};

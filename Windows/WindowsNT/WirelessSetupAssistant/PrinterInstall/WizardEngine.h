// The setup assistant's engine: the printer chosen for installation and its
// installation as a print queue, and the printer found on USB behind the
// queue named on the command line with what it reported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Common/Headers/XcvPortRecord.h"
#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Platform/Win32.h"
#include "PtpTransport.h"
#include "Windows/WindowsNT/ConfigPlugins/WirelessPlugin/PrinterCacheEntry.h"

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

    // ---- The printer on USB behind the queue named on the command line ----

    // Queue names live in a buffer of this many units, the NUL included.
    static constexpr std::size_t kPrinterNameUnits = 1024;
    // A name that does not fit is refused: false, and no name is held.
    bool SetPrinterName(std::u16string_view name);
    const std::u16string& PrinterName() const { return printerName_; }

    // Everything read from the printer, as one copy.
    PrinterCacheEntry GetPrinterInfo() const { return entry_; }
    // The USB driver key of the printer behind the queue; empty until found.
    std::string GetDriverKeyName() const { return driverKeyName_; }
    // The printer's MAC address, or the resource text that says it has none.
    const std::string& GetMacAddress() const { return macAddress_; }
    bool IsConnected() const { return connected_; }

    // Whether a supported printer sits behind the queue and its settings
    // were read. Once true it stays true and the printer is not asked again.
    // A broken link between the queue and the device answers false without
    // a word; a failure while reading the printer is thrown.
    bool IsPrinterConnected();
    // Reads guid, MAC address, printer settings and profiles over the
    // channel. Every failure throws, and the printer is taken out of
    // configuration mode first.
    bool GetWirelessSettings();
    // Created on first use; closed between reads.
    Win32ConfigAPI& GetConfigAPI();

private:
    void RetrieveVidPidList();
    // Queue -> printing node -> USB device -> its driver key. Quiet on every
    // failure; answers the key found now or kept from before.
    std::string FindDriverKeyName();

    void DiscoverAddress();
    static void OnDeviceFound(void* context, LPCWSTR url, DWORD flags, LPCWSTR name);

    std::vector<unsigned> pageHistory_;
    XcvPortRecord record_;
    std::u16string installedName_;
    TransportFactory transportFactory_;
    // Discovery reports on the transport's thread.
    std::mutex discoveryMutex_;
    HANDLE discoveryEvent_ = nullptr;

    std::u16string printerName_;
    // (vendor, product) of the models the family's description lists;
    // built on first need.
    std::optional<std::set<std::pair<std::uint32_t, std::uint32_t>>> supportedIds_;
    std::string driverKeyName_;
    PrinterCacheEntry entry_;
    bool connected_ = false;
    std::unique_ptr<Win32ConfigAPI> configApi_;
    std::string macAddress_;
};

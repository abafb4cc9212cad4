// Print monitors of the simulated spooler: the MONITOR table a monitor
// hands to the spooler, loading a language monitor from its library, the
// USB port monitor whose ports reach the machine's USB printers, and the
// binding through which the spooler asks a queue's language monitor for
// printer data values it does not store.
#pragma once

#include "Platform/Win32.h"

#include <memory>
#include <string>

using PHANDLE = HANDLE*;
using ACCESS_MASK = DWORD;

constexpr DWORD ERROR_INVALID_PRINT_MONITOR = 3007;

struct MONITOR;
using LPMONITOR = MONITOR*;

// Function table of a print monitor. A language monitor fills
// pfnOpenPortEx; a port monitor fills pfnOpenPort. Entries a monitor does
// not offer are null.
struct MONITOR {
    BOOL (*pfnEnumPorts)(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned);
    BOOL (*pfnOpenPort)(LPWSTR name, PHANDLE port);
    BOOL (*pfnOpenPortEx)(LPWSTR portName, LPWSTR printerName, PHANDLE port, LPMONITOR portMonitor);
    BOOL (*pfnStartDocPort)(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
    BOOL (*pfnWritePort)(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written);
    BOOL (*pfnReadPort)(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
    BOOL (*pfnEndDocPort)(HANDLE port);
    BOOL (*pfnClosePort)(HANDLE port);
    BOOL (*pfnAddPort)(LPWSTR name, HWND window, LPWSTR monitorName);
    BOOL (*pfnAddPortEx)(LPWSTR name, DWORD level, LPBYTE buffer, LPWSTR monitorName);
    BOOL (*pfnConfigurePort)(LPWSTR name, HWND window, LPWSTR portName);
    BOOL (*pfnDeletePort)(LPWSTR name, HWND window, LPWSTR portName);
    BOOL(*pfnGetPrinterDataFromPort)
    (HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer, DWORD outSize,
     LPDWORD returned);
    BOOL (*pfnSetPortTimeOuts)(HANDLE port, void* timeouts, DWORD reserved);
    BOOL (*pfnXcvOpenPort)(LPCWSTR object, ACCESS_MASK access, PHANDLE xcv);
    DWORD(*pfnXcvDataPort)
    (HANDLE xcv, LPCWSTR dataName, LPBYTE in, DWORD inSize, LPBYTE out, DWORD outSize, LPDWORD needed);
    BOOL (*pfnXcvClosePort)(HANDLE xcv);
};

struct MONITOREX {
    DWORD dwMonitorSize;  // sizeof(MONITOR)
    MONITOR Monitor;
};
using LPMONITOREX = MONITOREX*;

// The export every monitor library offers.
using InitializePrintMonitorProc = LPMONITOREX (*)(LPWSTR registryRoot);

// The document record StartDocPort receives at level 1.
struct DOC_INFO_1W {
    LPWSTR pDocName;
    LPWSTR pOutputFile;
    LPWSTR pDatatype;
};

namespace Platform {

// The port monitor of USB printers. Port "USBnnn" is the nnn-th present USB
// printing interface of the machine, in device-tree order. Writes go to the
// printer, reads come from it; pfnGetPrinterDataFromPort with no value name
// and IOCTL_USBPRINT_GET_1284_ID answers the device id as text, without the
// length prefix the printer puts in front of it.
const MONITOR& UsbPortMonitor();

// A monitor library loaded by name ("Kemblin.dll") through its
// InitializePrintMonitor export.
class LoadedPrintMonitor {
public:
    // Throws std::runtime_error when the library, its export or its table
    // is missing or the table is smaller than MONITOR.
    explicit LoadedPrintMonitor(const std::u16string& library);
    ~LoadedPrintMonitor();
    LoadedPrintMonitor(const LoadedPrintMonitor&) = delete;
    LoadedPrintMonitor& operator=(const LoadedPrintMonitor&) = delete;

    const MONITOR& Table() const { return *table_; }

private:
    HMODULE module_ = nullptr;
    const MONITOR* table_ = nullptr;
};

// Binds an open language-monitor port to a queue: the spooler then asks it
// for "DEVICE_ID" and "CUR_JOB_PAGES_PRINTED" when no value of that name is
// stored. The binding ends with the object.
class LanguageMonitorBinding {
public:
    LanguageMonitorBinding(std::u16string printer, const MONITOR& monitor, HANDLE port);
    ~LanguageMonitorBinding();
    LanguageMonitorBinding(const LanguageMonitorBinding&) = delete;
    LanguageMonitorBinding& operator=(const LanguageMonitorBinding&) = delete;

private:
    std::u16string printer_;
};

}  // namespace Platform

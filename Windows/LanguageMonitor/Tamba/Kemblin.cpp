// The language monitor's exported table: each entry checks its port handle
// and keeps every exception inside the library.
#include "Kemblin.h"

#include "MonitorPort.h"

#include "Tessary/TSException.h"

#include <exception>
#include <new>

namespace {

using Kemblin::MonitorPort;

template <class F>
BOOL Guarded(F&& f) {
    try {
        return f();
    } catch (const Tessary::TSException&) {
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    } catch (const std::exception&) {
    } catch (...) {
    }
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
}

MonitorPort* PortOf(HANDLE port) {
    if (port == nullptr) SetLastError(ERROR_INVALID_PARAMETER);
    return static_cast<MonitorPort*>(port);
}

BOOL OpenPortEx(LPWSTR portName, LPWSTR printerName, PHANDLE port, LPMONITOR portMonitor) {
    if (port == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *port = nullptr;
    return Guarded([&]() -> BOOL {
        auto* opened = new (std::nothrow) MonitorPort;
        if (opened == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return FALSE;
        }
        if (!opened->Open(portName, printerName, portMonitor)) {
            const DWORD error = GetLastError();
            delete opened;
            SetLastError(error);
            return FALSE;
        }
        *port = opened;
        return TRUE;
    });
}

BOOL StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded([&] { return open->StartDoc(printerName, jobId, level, docInfo); });
}

BOOL WritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded([&] { return open->Write(buffer, size, written); });
}

BOOL ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded([&] { return open->Read(buffer, size, read); });
}

BOOL EndDocPort(HANDLE port) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded([&] { return open->EndDoc(); });
}

BOOL ClosePort(HANDLE port) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded([&] {
        open->Close();
        delete open;
        return TRUE;
    });
}

BOOL GetPrinterDataFromPort(HANDLE port, DWORD controlId, LPWSTR valueName, LPWSTR inBuffer, DWORD inSize,
                            LPWSTR outBuffer, DWORD outSize, LPDWORD returned) {
    auto* open = PortOf(port);
    if (open == nullptr) return FALSE;
    return Guarded(
        [&] { return open->GetPrinterData(controlId, valueName, inBuffer, inSize, outBuffer, outSize, returned); });
}

MONITOREX g_monitor = [] {
    MONITOREX table{};
    table.dwMonitorSize = sizeof(MONITOR);
    table.Monitor.pfnOpenPortEx = &OpenPortEx;
    table.Monitor.pfnStartDocPort = &StartDocPort;
    table.Monitor.pfnWritePort = &WritePort;
    table.Monitor.pfnReadPort = &ReadPort;
    table.Monitor.pfnEndDocPort = &EndDocPort;
    table.Monitor.pfnClosePort = &ClosePort;
    table.Monitor.pfnGetPrinterDataFromPort = &GetPrinterDataFromPort;
    return table;
}();

}  // namespace

extern "C" LPMONITOREX InitializePrintMonitor(LPWSTR) {
    return &g_monitor;
}

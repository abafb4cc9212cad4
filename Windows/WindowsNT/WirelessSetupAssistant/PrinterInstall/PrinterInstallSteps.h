// The installation steps the setup assistant and the setup library share.
// Each throws PortMonitorUtilities::PortMonitorException on failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Common/Headers/XcvPortRecord.h"
#include "Platform/Security.h"
#include "Platform/Spooler.h"
#include "PrinterInstallRules.h"

namespace PrinterInstall {

// A printer handle closed when it goes.
class PrinterHandle {
public:
    PrinterHandle() = default;
    explicit PrinterHandle(HANDLE handle) : handle_(handle) {}
    ~PrinterHandle() { Reset(); }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    PrinterHandle(PrinterHandle&& other) noexcept : handle_(other.Release()) {}
    PrinterHandle& operator=(PrinterHandle&& other) noexcept;

    HANDLE Get() const { return handle_; }
    HANDLE Release() noexcept;
    // The ClosePrinter result; TRUE when nothing was open.
    BOOL Reset() noexcept;

private:
    HANDLE handle_ = nullptr;
};

// Installs the family's port monitor; one that is already there is fine.
void InstallPortMonitor();

// Sends "AddPort" with the record to the family's monitor, lists the ports
// and gives the name of the port the monitor made.
std::u16string AddMonitorPort(const XcvPortRecord& record);

// Sends a monitor command through an open transceive handle, growing the
// output while the monitor asks for more. The monitor's status comes back;
// a call the spooler did not deliver throws.
struct XcvAnswer {
    DWORD status = 0;
    std::u16string output;  // up to its first NUL
};
XcvAnswer SendMonitorCommand(HANDLE xcv, std::u16string_view command, const XcvPortRecord& record,
                             DWORD initialOutputBytes = 0);

// The names of the local printers.
std::vector<std::u16string> LocalPrinterNames();

// The display name of the model from the printer description, or fallback
// when the description has no record for it.
std::u16string BasePrinterName(std::uint32_t vendorId, std::uint32_t productId, std::u16string_view fallback);

// Adds the queue; the handle is the new printer's.
PrinterHandle AddPrinterQueue(std::u16string_view name, std::u16string_view port, std::u16string_view driver);

// Grants full control of the printer to everyone, as the design wants: any
// user may then change its security too. Silent on failure; the result is
// that of closing the printer (FALSE when it could not be opened).
BOOL GrantEveryoneFullAccess(std::u16string_view printerName);

}  // namespace PrinterInstall

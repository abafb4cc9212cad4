// The print spooler of the simulated machine: print queues with their port,
// driver and printer data values, the Win32 calls the system makes on them,
// and the fixture calls tests use.
//
// Printer names, data keys and value names compare without regard to case.
// An ordinary user may open a queue to use it; administering it (and so
// setting its data) needs an administrator (Machine::SetUserIsAdministrator).
#pragma once

#include "Platform/Registry.h"
#include "Platform/Win32.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Laid out where the printer-driver interface needs it; the spooler only
// passes pointers to it.
struct DEVMODEW;
using LPDEVMODEW = DEVMODEW*;
using ACCESS_MASK = DWORD;
using LPHANDLE = HANDLE*;

constexpr ACCESS_MASK PRINTER_ACCESS_ADMINISTER = 0x00000004;
constexpr ACCESS_MASK PRINTER_ACCESS_USE = 0x00000008;
constexpr ACCESS_MASK PRINTER_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_READ = STANDARD_RIGHTS_READ | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_WRITE = STANDARD_RIGHTS_WRITE | PRINTER_ACCESS_USE;
constexpr ACCESS_MASK PRINTER_EXECUTE = STANDARD_RIGHTS_READ | PRINTER_ACCESS_USE;

constexpr DWORD PRINTER_ATTRIBUTE_LOCAL = 0x00000040;
constexpr DWORD PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST = 0x00000200;
constexpr DWORD PRINTER_ATTRIBUTE_ENABLE_BIDI = 0x00000800;

constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
constexpr DWORD ERROR_PRINTER_DELETED = 1905;

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    LPDEVMODEW pDevMode;
    ACCESS_MASK DesiredAccess;
};
using PPRINTER_DEFAULTSW = PRINTER_DEFAULTSW*;
using LPPRINTER_DEFAULTSW = PRINTER_DEFAULTSW*;

struct PRINTER_INFO_2W {
    LPWSTR pServerName;
    LPWSTR pPrinterName;
    LPWSTR pShareName;
    LPWSTR pPortName;
    LPWSTR pDriverName;
    LPWSTR pComment;
    LPWSTR pLocation;
    LPDEVMODEW pDevMode;
    LPWSTR pSepFile;
    LPWSTR pPrintProcessor;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    void* pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};

struct PRINTER_INFO_4W {
    LPWSTR pPrinterName;
    LPWSTR pServerName;
    DWORD Attributes;
};

// Opens a queue by name. Null defaults or a zero DesiredAccess ask for
// PRINTER_ACCESS_USE. Unknown queue: ERROR_INVALID_PRINTER_NAME; a right the
// user does not have: ERROR_ACCESS_DENIED. On failure *printer is null.
BOOL OpenPrinterW(LPCWSTR printerName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults);
BOOL ClosePrinter(HANDLE printer);
// Levels 2 and 4. The strings follow the record in the caller's buffer; a
// buffer too small fails with ERROR_INSUFFICIENT_BUFFER and *needed set.
BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed);

// Printer data values, by key and value name. The key "\" also answers the
// queue's own settings, read-only: "Port", "Printer Driver", "Print
// Processor" (REG_SZ) and "Attributes" (REG_DWORD). The calls without a key
// use "PrinterDriverData".
//
// Size protocol: *needed gets the value's size whenever it exists (and *type
// its type); a buffer smaller than that gives ERROR_MORE_DATA and is left
// alone. Missing value: ERROR_FILE_NOT_FOUND. Results are error codes, not
// BOOL. Setting needs a handle opened with PRINTER_ACCESS_ADMINISTER.
DWORD GetPrinterDataExW(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed);
DWORD GetPrinterDataW(HANDLE printer, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);
DWORD SetPrinterDataExW(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size);
DWORD SetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size);

namespace Platform {

inline constexpr std::u16string_view kPrinterDriverDataKey = u"PrinterDriverData";

struct PrinterDataKey {
    std::u16string name;  // as created
    NamedValues values;
    bool operator==(const PrinterDataKey&) const = default;
};

// One print queue.
struct PrinterQueue {
    std::u16string name;
    std::u16string port;
    std::u16string driver;
    std::u16string printProcessor = u"winprint";
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    std::map<std::u16string, PrinterDataKey> data;  // by folded key name
    bool operator==(const PrinterQueue&) const = default;
};

// Everything the spooler keeps, by folded printer name.
struct SpoolerData {
    std::map<std::u16string, PrinterQueue> printers;
    bool operator==(const SpoolerData&) const = default;
};

// A printer name the spooler accepts: 1 to 220 characters, none of them
// "\", "," or a control character.
bool IsValidPrinterName(std::u16string_view name);

class Machine;

class PrintSpooler {
public:
    explicit PrintSpooler(Machine& machine);
    ~PrintSpooler();
    PrintSpooler(const PrintSpooler&) = delete;
    PrintSpooler& operator=(const PrintSpooler&) = delete;

    // No queue, every handle closed, no file bound.
    void Reset();

    // Fixture calls (they ignore access rights). Adding a queue with a name
    // that is invalid or taken throws std::invalid_argument; data set on a
    // missing queue likewise.
    void AddPrinter(PrinterQueue queue);
    void AddPrinter(std::u16string_view name, std::u16string_view port, std::u16string_view driver);
    bool RemovePrinter(std::u16string_view name);
    std::optional<PrinterQueue> FindPrinter(std::u16string_view name) const;
    std::vector<std::u16string> PrinterNames() const;
    void SetPrinterData(std::u16string_view printer, std::u16string_view key, std::u16string_view valueName,
                        RegValue value);
    std::optional<RegValue> GetPrinterData(std::u16string_view printer, std::u16string_view key,
                                           std::u16string_view valueName) const;

    // Printer handles open now.
    std::size_t OpenPrinterHandleCount() const;

    SpoolerData Snapshot() const;
    void Replace(SpoolerData data);
    // As SystemRegistry::BindFile.
    void BindFile(const std::string& path);

    // For the Win32 calls.
    BOOL Open(LPCWSTR printerName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults);
    BOOL Close(HANDLE printer);
    BOOL GetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed);
    DWORD GetData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                  LPDWORD needed);
    DWORD SetData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size);

private:
    struct State;
    std::unique_ptr<State> state_;
    Machine& machine_;
};

}  // namespace Platform

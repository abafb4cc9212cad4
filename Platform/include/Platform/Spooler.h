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
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct MONITOR;

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
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_UNKNOWN_PORT = 1796;
constexpr DWORD ERROR_UNKNOWN_PRINTER_DRIVER = 1797;
constexpr DWORD ERROR_UNKNOWN_PRINTPROCESSOR = 1798;
constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
constexpr DWORD ERROR_PRINTER_ALREADY_EXISTS = 1802;
constexpr DWORD ERROR_INVALID_ENVIRONMENT = 1805;
constexpr DWORD ERROR_PRINTER_DELETED = 1905;
constexpr DWORD ERROR_PRINT_MONITOR_ALREADY_INSTALLED = 3006;

constexpr ACCESS_MASK SERVER_ACCESS_ADMINISTER = 0x00000001;
constexpr DWORD PRINTER_ENUM_LOCAL = 0x00000002;

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

struct MONITOR_INFO_2W {
    LPWSTR pName;
    LPWSTR pEnvironment;
    LPWSTR pDLLName;
};

struct PORT_INFO_1W {
    LPWSTR pName;
};

// Installs a port monitor on the local machine (a null or empty server),
// level 2 only. The library must be one the machine knows
// (PrintSpooler::RegisterMonitorLibrary): else ERROR_MOD_NOT_FOUND. A
// monitor of that name: ERROR_PRINT_MONITOR_ALREADY_INSTALLED; an
// environment not the machine's: ERROR_INVALID_ENVIRONMENT; an ordinary
// user: ERROR_ACCESS_DENIED.
BOOL AddMonitorW(LPWSTR name, DWORD level, LPBYTE monitor);

// The spooler's arrays (EnumPortsW level 1, EnumPrintersW with
// PRINTER_ENUM_LOCAL at level 4): records first, their texts after them,
// all in the caller's buffer. *needed always gets the size of the whole; a
// buffer smaller than that fails with ERROR_INSUFFICIENT_BUFFER and
// *returned 0.
BOOL EnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned);
BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                   LPDWORD returned);

// Adds a queue on the local machine, level 2 only, and answers it opened
// with PRINTER_ALL_ACCESS (null on failure). Name, port, driver and print
// processor are required; the rest but Attributes is ignored. Errors: a
// taken name (ignoring case) ERROR_PRINTER_ALREADY_EXISTS, an invalid one
// ERROR_INVALID_PRINTER_NAME, an unknown port ERROR_UNKNOWN_PORT, a driver
// the driver store has not installed ERROR_UNKNOWN_PRINTER_DRIVER, a print processor other than
// "winprint" ERROR_UNKNOWN_PRINTPROCESSOR, an ordinary user
// ERROR_ACCESS_DENIED.
HANDLE AddPrinterW(LPWSTR name, DWORD level, LPBYTE printer);

// Sends a command to the monitor a ",XcvMonitor <name>" handle was opened
// on (OpenPrinterW, with SERVER_ACCESS_ADMINISTER). TRUE means the monitor
// got it; *status is then the monitor's own answer (ERROR_INSUFFICIENT_BUFFER
// with *needed when the output is too small). FALSE: not an Xcv handle.
BOOL XcvDataW(HANDLE xcv, LPCWSTR dataName, LPBYTE input, DWORD inputSize, LPBYTE output, DWORD outputSize,
              LPDWORD needed, LPDWORD status);

// Opens a queue by name, or the transceive channel of an installed monitor
// by ",XcvMonitor <monitor name>" (needs SERVER_ACCESS_ADMINISTER, which
// an ordinary user does not have). Null defaults or a zero DesiredAccess ask for
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

// Jobs. SetJobW takes a record (levels 1 and 2: Status, pStatus, TotalPages
// and PagesPrinted are applied) and/or a command; level 0 takes a command
// only. Of the commands, JOB_CONTROL_DELETE and JOB_CONTROL_LAST_PAGE_EJECTED
// are offered (both end the job); others fail with ERROR_NOT_SUPPORTED. An
// unknown job id, or one of another queue, fails with ERROR_INVALID_PARAMETER.
constexpr DWORD JOB_CONTROL_DELETE = 5;
constexpr DWORD JOB_CONTROL_LAST_PAGE_EJECTED = 7;

constexpr DWORD JOB_STATUS_PAUSED = 0x1;
constexpr DWORD JOB_STATUS_ERROR = 0x2;
constexpr DWORD JOB_STATUS_DELETING = 0x4;
constexpr DWORD JOB_STATUS_SPOOLING = 0x8;
constexpr DWORD JOB_STATUS_PRINTING = 0x10;
constexpr DWORD JOB_STATUS_OFFLINE = 0x20;
constexpr DWORD JOB_STATUS_PAPEROUT = 0x40;
constexpr DWORD JOB_STATUS_PRINTED = 0x80;
constexpr DWORD JOB_STATUS_DELETED = 0x100;

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct JOB_INFO_1W {
    DWORD JobId;
    LPWSTR pPrinterName;
    LPWSTR pMachineName;
    LPWSTR pUserName;
    LPWSTR pDocument;
    LPWSTR pDatatype;
    LPWSTR pStatus;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD TotalPages;
    DWORD PagesPrinted;
    SYSTEMTIME Submitted;
};

struct JOB_INFO_2W {
    DWORD JobId;
    LPWSTR pPrinterName;
    LPWSTR pMachineName;
    LPWSTR pUserName;
    LPWSTR pDocument;
    LPWSTR pNotifyName;
    LPWSTR pDatatype;
    LPWSTR pPrintProcessor;
    LPWSTR pParameters;
    LPWSTR pDriverName;
    LPDEVMODEW pDevMode;
    LPWSTR pStatus;
    void* pSecurityDescriptor;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD TotalPages;
    DWORD Size;
    SYSTEMTIME Submitted;
    DWORD Time;
    DWORD PagesPrinted;
};

// Levels 1 and 2, with the usual size protocol (ERROR_INSUFFICIENT_BUFFER).
BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);

namespace Platform {

// A job as the spooler keeps it (in memory only).
struct PrintJob {
    DWORD id = 0;
    std::u16string printer;
    std::u16string document;
    std::u16string user = u"user";
    DWORD status = 0;
    std::optional<std::u16string> statusText;
    DWORD totalPages = 0;
    DWORD pagesPrinted = 0;
};

// One SetJobW call that was applied, for tests.
struct JobChange {
    DWORD jobId = 0;
    DWORD level = 0;
    DWORD command = 0;
    DWORD status = 0;                          // levels 1 and 2
    std::optional<std::u16string> statusText;  // levels 1 and 2
    DWORD pagesPrinted = 0;                    // levels 1 and 2
};

// How the spooler asks a queue's language monitor for a printer data value
// it does not store: as GetPrinterDataFromPort, answering UTF-16 text.
using LanguageMonitorQuery = std::function<BOOL(LPCWSTR valueName, LPBYTE out, DWORD size, DWORD& returned)>;

inline constexpr std::u16string_view kPrinterDriverDataKey = u"PrinterDriverData";

struct PrinterDataKey {
    std::u16string name;  // as created
    NamedValues values;
    bool operator==(const PrinterDataKey&) const = default;
};

// One entry of a queue's access list.
struct AccessEntry {
    std::u16string trustee;  // a name such as "EVERYONE"
    ACCESS_MASK mask = 0;
    DWORD mode = 0;         // GRANT_ACCESS or DENY_ACCESS
    DWORD inheritance = 0;  // OBJECT_INHERIT_ACE and the like
    bool operator==(const AccessEntry&) const = default;
};

// One print queue.
struct PrinterQueue {
    std::u16string name;
    std::u16string port;
    std::u16string driver;
    std::u16string printProcessor = u"winprint";
    DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
    std::map<std::u16string, PrinterDataKey> data;  // by folded key name
    std::vector<AccessEntry> access;                // the queue's DACL, in order
    bool operator==(const PrinterQueue&) const = default;
};

// An installed port monitor.
struct MonitorEntry {
    std::u16string name;
    std::u16string environment;
    std::u16string library;
    bool operator==(const MonitorEntry&) const = default;
};

// A port. Ports a network port monitor adds keep the printer's identity.
struct PortEntry {
    std::u16string name;
    DWORD vendorId = 0;
    DWORD productId = 0;
    std::u16string deviceName;
    std::u16string address;
    bool operator==(const PortEntry&) const = default;
};

// Everything the spooler keeps, maps by folded name.
struct SpoolerData {
    std::map<std::u16string, PrinterQueue> printers;
    std::map<std::u16string, MonitorEntry> monitors;
    std::map<std::u16string, PortEntry> ports;
    bool operator==(const SpoolerData&) const = default;
};

inline constexpr std::u16string_view kSpoolerEnvironment = u"Windows NT x86";

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

    // Printer handles open now (Xcv handles included).
    std::size_t OpenPrinterHandleCount() const;

    // Ports and monitors (fixture calls). A taken port name throws
    // std::invalid_argument. Installed drivers are the driver store's
    // (Machine::Drivers()).
    void AddPort(PortEntry port);
    void AddPort(std::u16string_view name);
    bool RemovePort(std::u16string_view name);
    std::optional<PortEntry> FindPort(std::u16string_view name) const;
    std::vector<PortEntry> Ports() const;
    std::optional<MonitorEntry> FindMonitor(std::u16string_view name) const;
    // Whether a queue uses the port.
    bool PortInUse(std::u16string_view name) const;

    // The monitor libraries AddMonitorW accepts, by file name ignoring case.
    // A fresh machine knows "ORVPM.DLL" (WirelessPortMonitor.h).
    void RegisterMonitorLibrary(std::u16string_view library, const MONITOR& table);
    // The environment AddMonitorW accepts (kSpoolerEnvironment on a fresh
    // machine); kept in memory only.
    void SetEnvironment(std::u16string_view environment);
    // Tests: AddPrinterW fails with this error, after its checks of the
    // caller, until cleared (or the machine is reset).
    void FailAddPrinter(std::optional<DWORD> error);
    // Tests: EnumPrintersW fails with this error until cleared.
    void FailEnumPrinters(std::optional<DWORD> error);

    // The DACL of the queue a handle names: reading needs READ_CONTROL,
    // writing WRITE_DAC. Results are error codes.
    DWORD GetAccessList(HANDLE printer, std::vector<AccessEntry>& entries);
    DWORD SetAccessList(HANDLE printer, std::vector<AccessEntry> entries);

    // Jobs (fixture calls). AddJob gives the new job's id; a missing queue
    // throws std::invalid_argument. A job ended by SetJobW is gone.
    DWORD AddJob(std::u16string_view printer, std::u16string_view document);
    std::optional<PrintJob> FindJob(DWORD jobId) const;
    std::vector<JobChange> JobChanges() const;

    // The language monitor the queue's values "DEVICE_ID" and
    // "CUR_JOB_PAGES_PRINTED" come from when none is stored; an empty query
    // removes it. It is called without the spooler's lock held.
    void SetLanguageMonitor(std::u16string_view printer, LanguageMonitorQuery query);

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
    BOOL GetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
    BOOL SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    BOOL AddMonitor(LPWSTR name, DWORD level, LPBYTE monitor);
    BOOL EnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned);
    BOOL EnumPrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                      LPDWORD returned);
    HANDLE AddPrinterQueue(LPWSTR name, DWORD level, LPBYTE printer);
    BOOL XcvData(HANDLE xcv, LPCWSTR dataName, LPBYTE input, DWORD inputSize, LPBYTE output, DWORD outputSize,
                 LPDWORD needed, LPDWORD status);

private:
    BOOL OpenXcv(std::u16string_view monitorName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults);

    DWORD GetStoredData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed);
    DWORD AskLanguageMonitor(HANDLE printer, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed);

    struct State;
    std::unique_ptr<State> state_;
    Machine& machine_;
};

}  // namespace Platform

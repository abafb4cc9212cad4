#include "Platform/Spooler.h"

#include "MachineStore.h"
#include "Platform/Machine.h"
#include "Platform/PrintMonitor.h"
#include "Platform/WirelessPortMonitor.h"
#include "Utf.h"

#include <cstring>
#include <mutex>
#include <stdexcept>

namespace Platform {
namespace {

constexpr std::size_t kMaxPrinterNameUnits = 220;
// Printer handles come from their own range, far from kernel and key handles.
constexpr std::uintptr_t kFirstPrinterHandle = std::uintptr_t{2} << 48;

bool IsRootKey(std::u16string_view key) {
    return key == u"\\";
}

// The queue's own settings, answered under the key "\".
std::optional<RegValue> QueueSetting(const PrinterQueue& queue, std::u16string_view valueName) {
    const auto name = FoldName(valueName);
    if (name == u"port") return RegValue::String(queue.port);
    if (name == u"printer driver") return RegValue::String(queue.driver);
    if (name == u"print processor") return RegValue::String(queue.printProcessor);
    if (name == u"attributes") return RegValue::Dword(queue.attributes);
    return std::nullopt;
}

std::optional<RegValue> LookupData(const PrinterQueue& queue, std::u16string_view key, std::u16string_view valueName) {
    if (IsRootKey(key)) {
        if (auto setting = QueueSetting(queue, valueName)) return setting;
    }
    const auto found = queue.data.find(FoldName(key));
    if (found == queue.data.end()) return std::nullopt;
    const auto value = found->second.values.find(FoldName(valueName));
    if (value == found->second.values.end()) return std::nullopt;
    return value->second.value;
}

void StoreData(PrinterQueue& queue, std::u16string_view key, std::u16string_view valueName, RegValue value) {
    auto& slot = queue.data[FoldName(key)];
    if (slot.name.empty()) slot.name = key;
    auto [it, inserted] = slot.values.try_emplace(FoldName(valueName), NamedValue{std::u16string(valueName), {}});
    it->second.value = std::move(value);
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Copies texts after a record in the caller's buffer.
class StringArea {
public:
    StringArea(LPBYTE buffer, std::size_t offset) : buffer_(buffer), offset_(offset) {}
    LPWSTR Put(const std::u16string& text) {
        auto* where = reinterpret_cast<LPWSTR>(buffer_ + offset_);
        std::memcpy(where, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
        offset_ += (text.size() + 1) * sizeof(WCHAR);
        return where;
    }

private:
    LPBYTE buffer_;
    std::size_t offset_;
};

std::size_t TextBytes(const std::u16string& text) {
    return (text.size() + 1) * sizeof(WCHAR);
}

constexpr std::u16string_view kXcvMonitorPrefix = u",XcvMonitor ";

bool IsLocalServer(LPCWSTR name) {
    return name == nullptr || *name == 0;
}

bool HasText(LPCWSTR text) {
    return text != nullptr && *text != 0;
}

}  // namespace

bool IsValidPrinterName(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxPrinterNameUnits) return false;
    for (char16_t c : name) {
        if (c == u'\\' || c == u',' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

struct PrintSpooler::State {
    struct OpenPrinter {
        std::u16string folded;  // the queue; empty for a transceive handle
        ACCESS_MASK granted = 0;
        const MONITOR* monitor = nullptr;  // transceive handles: the monitor's table
        HANDLE xcv = nullptr;              // and its own handle
    };

    mutable std::mutex mutex;
    detail::Persisted<SpoolerData> store{&ParseSpoolerText, &FormatSpoolerText};
    std::map<std::uintptr_t, OpenPrinter> handles;
    std::uintptr_t next = kFirstPrinterHandle;
    std::map<DWORD, PrintJob> jobs;
    std::optional<DWORD> addPrinterFault;
    std::optional<DWORD> enumPrintersFault;
    DWORD nextJob = 1;
    std::vector<JobChange> jobChanges;
    std::map<std::u16string, LanguageMonitorQuery> monitors;  // by folded printer name
    std::map<std::u16string, const MONITOR*> libraries;       // by folded file name
    std::u16string environment{kSpoolerEnvironment};

    // Printers, ports and monitors are each a table keyed by folded name.
    template <class Entry>
    using NamedTable = std::map<std::u16string, Entry> SpoolerData::*;

    template <class Entry>
    void AddNamed(NamedTable<Entry> table, const Entry& entry, const char* exists) {
        std::lock_guard lock(mutex);
        store.Change([&](SpoolerData& data) {
            auto [it, inserted] = (data.*table).try_emplace(FoldName(entry.name), entry);
            if (!inserted) throw std::invalid_argument(exists);
            return 0;
        });
    }

    template <class Entry>
    bool RemoveNamed(NamedTable<Entry> table, std::u16string_view name) {
        std::lock_guard lock(mutex);
        return store.Change([&](SpoolerData& data) { return (data.*table).erase(FoldName(name)) > 0; });
    }

    template <class Entry>
    std::optional<Entry> FindNamed(NamedTable<Entry> table, std::u16string_view name) {
        std::lock_guard lock(mutex);
        store.Refresh();
        const auto& entries = store.Get().*table;
        const auto it = entries.find(FoldName(name));
        if (it == entries.end()) return std::nullopt;
        return it->second;
    }

    void RegisterBuiltInLibraries() {
        libraries.clear();
        libraries[FoldName(kWirelessPortMonitorLibrary)] = &WirelessPortMonitor();
    }

    std::uintptr_t NewHandle(OpenPrinter open) {
        const std::uintptr_t value = next;
        next += 4;
        handles.emplace(value, std::move(open));
        return value;
    }

    // The queue a handle names; error is set when there is none.
    const PrinterQueue* Resolve(HANDLE printer, OpenPrinter& open, DWORD& error) {
        const auto it = handles.find(reinterpret_cast<std::uintptr_t>(printer));
        if (it == handles.end()) {
            error = ERROR_INVALID_HANDLE;
            return nullptr;
        }
        if (it->second.monitor != nullptr) {
            error = ERROR_INVALID_HANDLE;
            return nullptr;
        }
        const auto& printers = store.Get().printers;
        const auto queue = printers.find(it->second.folded);
        if (queue == printers.end()) {
            error = ERROR_PRINTER_DELETED;
            return nullptr;
        }
        open = it->second;
        return &queue->second;
    }
};

namespace {

template <class F>
DWORD GuardedError(F&& f) {
    try {
        return f();
    } catch (const std::exception& error) {
        return detail::MachineFileFailure(error);
    }
}

}  // namespace

PrintSpooler::PrintSpooler(Machine& machine) : state_(std::make_unique<State>()), machine_(machine) {
    state_->RegisterBuiltInLibraries();
}
PrintSpooler::~PrintSpooler() = default;

void PrintSpooler::FailAddPrinter(std::optional<DWORD> error) {
    std::lock_guard lock(state_->mutex);
    state_->addPrinterFault = error;
}

void PrintSpooler::FailEnumPrinters(std::optional<DWORD> error) {
    std::lock_guard lock(state_->mutex);
    state_->enumPrintersFault = error;
}

void PrintSpooler::Reset() {
    std::lock_guard lock(state_->mutex);
    state_->store.Reset();
    state_->handles.clear();
    state_->jobs.clear();
    state_->nextJob = 1;
    state_->jobChanges.clear();
    state_->addPrinterFault.reset();
    state_->enumPrintersFault.reset();
    state_->monitors.clear();
    state_->RegisterBuiltInLibraries();
    state_->environment = kSpoolerEnvironment;
    ResetWirelessPortMonitor();
}

void PrintSpooler::AddPrinter(PrinterQueue queue) {
    if (!IsValidPrinterName(queue.name)) throw std::invalid_argument("invalid printer name");
    state_->AddNamed(&SpoolerData::printers, queue, "a printer of that name exists");
}

void PrintSpooler::AddPrinter(std::u16string_view name, std::u16string_view port, std::u16string_view driver) {
    PrinterQueue queue;
    queue.name = name;
    queue.port = port;
    queue.driver = driver;
    AddPrinter(std::move(queue));
}

bool PrintSpooler::RemovePrinter(std::u16string_view name) {
    return state_->RemoveNamed(&SpoolerData::printers, name);
}

std::optional<PrinterQueue> PrintSpooler::FindPrinter(std::u16string_view name) const {
    return state_->FindNamed(&SpoolerData::printers, name);
}

std::vector<std::u16string> PrintSpooler::PrinterNames() const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    std::vector<std::u16string> names;
    for (const auto& [folded, queue] : state_->store.Get().printers) names.push_back(queue.name);
    return names;
}

void PrintSpooler::SetPrinterData(std::u16string_view printer, std::u16string_view key, std::u16string_view valueName,
                                  RegValue value) {
    if (key.empty()) throw std::invalid_argument("empty printer data key");
    if (IsRootKey(key) && QueueSetting(PrinterQueue{}, valueName)) {
        throw std::invalid_argument("the queue's own settings are set on the queue, not as data");
    }
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](SpoolerData& data) {
        const auto it = data.printers.find(FoldName(printer));
        if (it == data.printers.end()) throw std::invalid_argument("no printer of that name");
        StoreData(it->second, key, valueName, value);
        return 0;
    });
}

std::optional<RegValue> PrintSpooler::GetPrinterData(std::u16string_view printer, std::u16string_view key,
                                                     std::u16string_view valueName) const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    const auto& printers = state_->store.Get().printers;
    const auto it = printers.find(FoldName(printer));
    if (it == printers.end()) return std::nullopt;
    return LookupData(it->second, key, valueName);
}

std::size_t PrintSpooler::OpenPrinterHandleCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->handles.size();
}

SpoolerData PrintSpooler::Snapshot() const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    return state_->store.Get();
}

void PrintSpooler::Replace(SpoolerData data) {
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](SpoolerData& current) {
        current = std::move(data);
        return 0;
    });
}

void PrintSpooler::BindFile(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    state_->store.Bind(path);
}

BOOL PrintSpooler::Open(LPCWSTR printerName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults) {
    if (printer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *printer = nullptr;
    // The print server's own handle (a null name) comes with ports and monitors.
    if (printerName == nullptr || *printerName == 0) return Fail(ERROR_INVALID_PRINTER_NAME);
    const std::u16string_view wanted(printerName);
    if (wanted.starts_with(kXcvMonitorPrefix)) {
        return OpenXcv(wanted.substr(kXcvMonitorPrefix.size()), printer, defaults);
    }
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        const std::u16string folded = FoldName(printerName);
        if (!s.store.Get().printers.contains(folded)) return ERROR_INVALID_PRINTER_NAME;

        const ACCESS_MASK allowed = machine_.UserIsAdministrator() ? ~ACCESS_MASK{0} : PRINTER_READ | SYNCHRONIZE;
        ACCESS_MASK rights = defaults != nullptr ? defaults->DesiredAccess : 0;
        if (rights == 0) rights = PRINTER_ACCESS_USE;
        if (rights & MAXIMUM_ALLOWED) {
            rights = (rights & ~MAXIMUM_ALLOWED) | (allowed & (PRINTER_ALL_ACCESS | SYNCHRONIZE));
        }
        if (rights & ~allowed) return ERROR_ACCESS_DENIED;

        *printer = reinterpret_cast<HANDLE>(s.NewHandle(State::OpenPrinter{folded, rights}));
        return ERROR_SUCCESS;
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL PrintSpooler::OpenXcv(std::u16string_view monitorName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults) {
    const MONITOR* table = nullptr;
    const ACCESS_MASK rights = defaults != nullptr ? defaults->DesiredAccess : 0;
    {
        std::lock_guard lock(state_->mutex);
        auto& s = *state_;
        const DWORD error = GuardedError([&]() -> DWORD {
            s.store.Refresh();
            const auto& monitors = s.store.Get().monitors;
            const auto found = monitors.find(FoldName(monitorName));
            if (found == monitors.end()) return ERROR_INVALID_PRINTER_NAME;
            if (!(rights & SERVER_ACCESS_ADMINISTER) || !machine_.UserIsAdministrator()) return ERROR_ACCESS_DENIED;
            const auto library = s.libraries.find(FoldName(found->second.library));
            if (library == s.libraries.end() || library->second->pfnXcvOpenPort == nullptr) {
                return ERROR_INVALID_PRINT_MONITOR;
            }
            table = library->second;
            return ERROR_SUCCESS;
        });
        if (error != ERROR_SUCCESS) return Fail(error);
    }
    // The monitor may call back into the spooler, so it runs unlocked.
    HANDLE xcv = nullptr;
    if (!table->pfnXcvOpenPort(u"", rights, &xcv)) return FALSE;
    std::lock_guard lock(state_->mutex);
    *printer = reinterpret_cast<HANDLE>(state_->NewHandle(State::OpenPrinter{{}, rights, table, xcv}));
    return TRUE;
}

BOOL PrintSpooler::Close(HANDLE printer) {
    State::OpenPrinter open;
    {
        std::lock_guard lock(state_->mutex);
        const auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(printer));
        if (it == state_->handles.end()) return Fail(ERROR_INVALID_HANDLE);
        open = std::move(it->second);
        state_->handles.erase(it);
    }
    if (open.monitor != nullptr && open.monitor->pfnXcvClosePort != nullptr) open.monitor->pfnXcvClosePort(open.xcv);
    return TRUE;
}

BOOL PrintSpooler::GetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed) {
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        const PrinterQueue* queue = s.Resolve(printer, open, failure);
        if (queue == nullptr) return failure;

        if (level == 2) {
            const std::size_t size = sizeof(PRINTER_INFO_2W) + TextBytes(queue->name) + TextBytes(queue->port) +
                                     TextBytes(queue->driver) + TextBytes(queue->printProcessor);
            *needed = static_cast<DWORD>(size);
            if (buffer == nullptr || bufferSize < size) return ERROR_INSUFFICIENT_BUFFER;
            PRINTER_INFO_2W info{};
            StringArea strings(buffer, sizeof info);
            info.pPrinterName = strings.Put(queue->name);
            info.pPortName = strings.Put(queue->port);
            info.pDriverName = strings.Put(queue->driver);
            info.pPrintProcessor = strings.Put(queue->printProcessor);
            info.Attributes = queue->attributes;
            std::memcpy(buffer, &info, sizeof info);
            return ERROR_SUCCESS;
        }
        if (level == 4) {
            const std::size_t size = sizeof(PRINTER_INFO_4W) + TextBytes(queue->name);
            *needed = static_cast<DWORD>(size);
            if (buffer == nullptr || bufferSize < size) return ERROR_INSUFFICIENT_BUFFER;
            PRINTER_INFO_4W info{};
            StringArea strings(buffer, sizeof info);
            info.pPrinterName = strings.Put(queue->name);
            info.Attributes = queue->attributes;
            std::memcpy(buffer, &info, sizeof info);
            return ERROR_SUCCESS;
        }
        return ERROR_INVALID_LEVEL;
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

DWORD PrintSpooler::GetData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                            LPDWORD needed) {
    if (needed == nullptr || keyName == nullptr || *keyName == 0 || valueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD stored = GetStoredData(printer, keyName, valueName, type, data, size, needed);
    if (stored != ERROR_FILE_NOT_FOUND) return stored;
    const auto name = FoldName(valueName);
    if (name != u"device_id" && name != u"cur_job_pages_printed") return stored;
    return AskLanguageMonitor(printer, valueName, type, data, size, needed);
}

DWORD PrintSpooler::AskLanguageMonitor(HANDLE printer, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                                       LPDWORD needed) {
    LanguageMonitorQuery query;
    {
        std::lock_guard lock(state_->mutex);
        const auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(printer));
        if (it == state_->handles.end()) return ERROR_INVALID_HANDLE;
        const auto monitor = state_->monitors.find(it->second.folded);
        if (monitor == state_->monitors.end()) return ERROR_FILE_NOT_FOUND;
        query = monitor->second;
    }
    DWORD returned = 0;
    SetLastError(ERROR_SUCCESS);
    if (!query(valueName, data, data != nullptr ? size : 0, returned)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER) return ERROR_MORE_DATA;
        return error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND;
    }
    *needed = returned;
    if (type != nullptr) *type = REG_SZ;
    return ERROR_SUCCESS;
}

DWORD PrintSpooler::GetStoredData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data,
                                  DWORD size, LPDWORD needed) {
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        const PrinterQueue* queue = s.Resolve(printer, open, failure);
        if (queue == nullptr) return failure;
        if (!(open.granted & (PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER))) return ERROR_ACCESS_DENIED;
        const auto value = LookupData(*queue, keyName, valueName);
        if (!value) return ERROR_FILE_NOT_FOUND;
        const auto bytes = static_cast<DWORD>(value->data.size());
        *needed = bytes;
        if (type != nullptr) *type = value->type;
        if (size < bytes) return ERROR_MORE_DATA;
        if (bytes != 0) {
            if (data == nullptr) return ERROR_INVALID_PARAMETER;
            std::memcpy(data, value->data.data(), bytes);
        }
        return ERROR_SUCCESS;
    });
}

DWORD PrintSpooler::SetData(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, DWORD type, const BYTE* data,
                            DWORD size) {
    if (keyName == nullptr || *keyName == 0 || valueName == nullptr || (data == nullptr && size != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        if (s.Resolve(printer, open, failure) == nullptr) return failure;
        if (!(open.granted & PRINTER_ACCESS_ADMINISTER)) return ERROR_ACCESS_DENIED;
        if (IsRootKey(keyName) && QueueSetting(PrinterQueue{}, valueName)) return ERROR_ACCESS_DENIED;
        RegValue value{type, data != nullptr ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>()};
        return s.store.Change([&](SpoolerData& spooler) -> DWORD {
            const auto it = spooler.printers.find(open.folded);
            if (it == spooler.printers.end()) return ERROR_PRINTER_DELETED;
            StoreData(it->second, keyName, valueName, std::move(value));
            return ERROR_SUCCESS;
        });
    });
}

DWORD PrintSpooler::AddJob(std::u16string_view printer, std::u16string_view document) {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    const auto found = state_->store.Get().printers.find(FoldName(printer));
    if (found == state_->store.Get().printers.end()) throw std::invalid_argument("no such printer");
    PrintJob job;
    job.id = state_->nextJob++;
    job.printer = found->second.name;
    job.document = document;
    job.status = JOB_STATUS_SPOOLING;
    state_->jobs.emplace(job.id, job);
    return job.id;
}

std::optional<PrintJob> PrintSpooler::FindJob(DWORD jobId) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->jobs.find(jobId);
    if (it == state_->jobs.end()) return std::nullopt;
    return it->second;
}

std::vector<JobChange> PrintSpooler::JobChanges() const {
    std::lock_guard lock(state_->mutex);
    return state_->jobChanges;
}

void PrintSpooler::SetLanguageMonitor(std::u16string_view printer, LanguageMonitorQuery query) {
    std::lock_guard lock(state_->mutex);
    if (query) {
        state_->monitors[FoldName(printer)] = std::move(query);
    } else {
        state_->monitors.erase(FoldName(printer));
    }
}

BOOL PrintSpooler::GetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        const PrinterQueue* queue = s.Resolve(printer, open, failure);
        if (queue == nullptr) return failure;
        const auto it = s.jobs.find(jobId);
        if (it == s.jobs.end() || FoldName(it->second.printer) != open.folded) return ERROR_INVALID_PARAMETER;
        const PrintJob& job = it->second;
        const std::u16string machine = u"\\\\localhost";
        const std::u16string datatype = u"RAW";
        const std::u16string text = job.statusText.value_or(u"");
        std::size_t strings = TextBytes(job.printer) + TextBytes(machine) + TextBytes(job.user) +
                              TextBytes(job.document) + TextBytes(datatype) + (job.statusText ? TextBytes(text) : 0);
        // Both levels lay out the same head and tail; `middle` puts the
        // level's own strings between them, in the order they are sized.
        auto reply = [&](auto info, std::size_t strings, auto&& middle) -> DWORD {
            const std::size_t total = sizeof info + strings;
            *needed = static_cast<DWORD>(total);
            if (buffer == nullptr || size < total) return ERROR_INSUFFICIENT_BUFFER;
            StringArea area(buffer, sizeof info);
            info.JobId = job.id;
            info.pPrinterName = area.Put(job.printer);
            info.pMachineName = area.Put(machine);
            info.pUserName = area.Put(job.user);
            info.pDocument = area.Put(job.document);
            middle(info, area);
            info.pStatus = job.statusText ? area.Put(text) : nullptr;
            info.Status = job.status;
            info.Priority = 1;
            info.TotalPages = job.totalPages;
            info.PagesPrinted = job.pagesPrinted;
            info.Submitted = SYSTEMTIME{2026, 1, 4, 1, 0, 0, 0, 0};
            std::memcpy(buffer, &info, sizeof info);
            return ERROR_SUCCESS;
        };
        if (level == 1) {
            return reply(JOB_INFO_1W{}, strings,
                         [&](JOB_INFO_1W& info, StringArea& area) { info.pDatatype = area.Put(datatype); });
        }
        if (level == 2) {
            strings += TextBytes(job.user) + TextBytes(queue->printProcessor) + TextBytes(queue->driver);
            return reply(JOB_INFO_2W{}, strings, [&](JOB_INFO_2W& info, StringArea& area) {
                info.pNotifyName = area.Put(job.user);
                info.pDatatype = area.Put(datatype);
                info.pPrintProcessor = area.Put(queue->printProcessor);
                info.pDriverName = area.Put(queue->driver);
            });
        }
        return ERROR_INVALID_LEVEL;
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL PrintSpooler::SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE record, DWORD command) {
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        if (s.Resolve(printer, open, failure) == nullptr) return failure;
        const auto it = s.jobs.find(jobId);
        if (it == s.jobs.end() || FoldName(it->second.printer) != open.folded) return ERROR_INVALID_PARAMETER;
        if (level > 2) return ERROR_INVALID_LEVEL;
        if (level != 0 && record == nullptr) return ERROR_INVALID_PARAMETER;
        if (command != 0 && command != JOB_CONTROL_DELETE && command != JOB_CONTROL_LAST_PAGE_EJECTED) {
            return ERROR_NOT_SUPPORTED;
        }
        JobChange change;
        change.jobId = jobId;
        change.level = level;
        change.command = command;
        PrintJob& job = it->second;
        auto apply = [&](DWORD status, LPCWSTR text, DWORD total, DWORD printed) {
            job.status = status;
            job.statusText = text != nullptr ? std::optional<std::u16string>(text) : std::nullopt;
            job.totalPages = total;
            job.pagesPrinted = printed;
            change.status = status;
            change.statusText = job.statusText;
            change.pagesPrinted = printed;
        };
        if (level == 1) {
            JOB_INFO_1W info;
            std::memcpy(&info, record, sizeof info);
            apply(info.Status, info.pStatus, info.TotalPages, info.PagesPrinted);
        } else if (level == 2) {
            JOB_INFO_2W info;
            std::memcpy(&info, record, sizeof info);
            apply(info.Status, info.pStatus, info.TotalPages, info.PagesPrinted);
        }
        if (command != 0) s.jobs.erase(it);
        s.jobChanges.push_back(std::move(change));
        return ERROR_SUCCESS;
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

void PrintSpooler::AddPort(PortEntry port) {
    if (port.name.empty()) throw std::invalid_argument("empty port name");
    state_->AddNamed(&SpoolerData::ports, port, "a port of that name exists");
}

void PrintSpooler::AddPort(std::u16string_view name) {
    PortEntry port;
    port.name = name;
    AddPort(std::move(port));
}

bool PrintSpooler::RemovePort(std::u16string_view name) {
    return state_->RemoveNamed(&SpoolerData::ports, name);
}

std::optional<PortEntry> PrintSpooler::FindPort(std::u16string_view name) const {
    return state_->FindNamed(&SpoolerData::ports, name);
}

std::vector<PortEntry> PrintSpooler::Ports() const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    std::vector<PortEntry> ports;
    for (const auto& [folded, port] : state_->store.Get().ports) ports.push_back(port);
    return ports;
}

std::optional<MonitorEntry> PrintSpooler::FindMonitor(std::u16string_view name) const {
    return state_->FindNamed(&SpoolerData::monitors, name);
}

bool PrintSpooler::PortInUse(std::u16string_view name) const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    const auto folded = FoldName(name);
    for (const auto& [key, queue] : state_->store.Get().printers) {
        if (FoldName(queue.port) == folded) return true;
    }
    return false;
}

void PrintSpooler::RegisterMonitorLibrary(std::u16string_view library, const MONITOR& table) {
    std::lock_guard lock(state_->mutex);
    state_->libraries[FoldName(library)] = &table;
}

void PrintSpooler::SetEnvironment(std::u16string_view environment) {
    std::lock_guard lock(state_->mutex);
    state_->environment = environment;
}

DWORD PrintSpooler::GetAccessList(HANDLE printer, std::vector<AccessEntry>& entries) {
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        const PrinterQueue* queue = s.Resolve(printer, open, failure);
        if (queue == nullptr) return failure;
        if (!(open.granted & READ_CONTROL)) return ERROR_ACCESS_DENIED;
        entries = queue->access;
        return ERROR_SUCCESS;
    });
}

DWORD PrintSpooler::SetAccessList(HANDLE printer, std::vector<AccessEntry> entries) {
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    return GuardedError([&]() -> DWORD {
        s.store.Refresh();
        State::OpenPrinter open;
        DWORD failure = ERROR_SUCCESS;
        if (s.Resolve(printer, open, failure) == nullptr) return failure;
        if (!(open.granted & WRITE_DAC)) return ERROR_ACCESS_DENIED;
        return s.store.Change([&](SpoolerData& data) -> DWORD {
            const auto it = data.printers.find(open.folded);
            if (it == data.printers.end()) return ERROR_PRINTER_DELETED;
            it->second.access = std::move(entries);
            return ERROR_SUCCESS;
        });
    });
}

BOOL PrintSpooler::AddMonitor(LPWSTR name, DWORD level, LPBYTE monitor) {
    if (!IsLocalServer(name)) return Fail(ERROR_INVALID_NAME);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL);
    if (monitor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    MONITOR_INFO_2W info;
    std::memcpy(&info, monitor, sizeof info);
    if (!HasText(info.pName) || !HasText(info.pEnvironment) || !HasText(info.pDLLName)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!machine_.UserIsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        return s.store.Change([&](SpoolerData& data) -> DWORD {
            const auto folded = FoldName(info.pName);
            if (data.monitors.contains(folded)) return ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
            if (FoldName(info.pEnvironment) != FoldName(s.environment)) return ERROR_INVALID_ENVIRONMENT;
            if (!s.libraries.contains(FoldName(info.pDLLName))) return ERROR_MOD_NOT_FOUND;
            data.monitors.emplace(folded, MonitorEntry{info.pName, info.pEnvironment, info.pDLLName});
            return ERROR_SUCCESS;
        });
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

namespace {

// Lays out an array of records and their texts in the caller's buffer:
// `texts` gives each item's texts, `fill` sets a record's pointers to them.
template <class Info, class Item, class Texts, class FillRecord>
DWORD PackArray(const std::vector<Item>& items, Texts&& texts, FillRecord&& fill, LPBYTE buffer, DWORD size,
                LPDWORD needed, LPDWORD returned) {
    std::size_t total = items.size() * sizeof(Info);
    for (const auto& item : items) {
        for (const std::u16string* text : texts(item)) total += TextBytes(*text);
    }
    *returned = 0;
    if (total > 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    *needed = static_cast<DWORD>(total);
    if (size < total || (total != 0 && buffer == nullptr)) return ERROR_INSUFFICIENT_BUFFER;
    StringArea area(buffer, items.size() * sizeof(Info));
    for (std::size_t i = 0; i < items.size(); ++i) {
        Info info{};
        fill(info, items[i], area);
        std::memcpy(buffer + i * sizeof(Info), &info, sizeof info);
    }
    *returned = static_cast<DWORD>(items.size());
    return ERROR_SUCCESS;
}

}  // namespace

BOOL PrintSpooler::EnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!IsLocalServer(name)) return Fail(ERROR_INVALID_NAME);
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        std::vector<PortEntry> list;
        for (const auto& [folded, port] : s.store.Get().ports) list.push_back(port);
        return PackArray<PORT_INFO_1W>(
            list, [](const PortEntry& port) { return std::vector<const std::u16string*>{&port.name}; },
            [](PORT_INFO_1W& info, const PortEntry& port, StringArea& area) { info.pName = area.Put(port.name); },
            ports, size, needed, returned);
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL PrintSpooler::EnumPrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                                LPDWORD returned) {
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!(flags & PRINTER_ENUM_LOCAL) || !IsLocalServer(name)) return Fail(ERROR_INVALID_PARAMETER);
    if (level != 4) return Fail(ERROR_INVALID_LEVEL);
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    if (s.enumPrintersFault) return Fail(*s.enumPrintersFault);
    const DWORD error = GuardedError([&]() -> DWORD {
        s.store.Refresh();
        std::vector<PrinterQueue> list;
        for (const auto& [folded, queue] : s.store.Get().printers) list.push_back(queue);
        return PackArray<PRINTER_INFO_4W>(
            list, [](const PrinterQueue& queue) { return std::vector<const std::u16string*>{&queue.name}; },
            [](PRINTER_INFO_4W& info, const PrinterQueue& queue, StringArea& area) {
                info.pPrinterName = area.Put(queue.name);
                info.Attributes = queue.attributes;
            },
            printers, size, needed, returned);
    });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

HANDLE PrintSpooler::AddPrinterQueue(LPWSTR name, DWORD level, LPBYTE printer) {
    auto fail = [](DWORD error) -> HANDLE {
        SetLastError(error);
        return nullptr;
    };
    if (!IsLocalServer(name)) return fail(ERROR_INVALID_NAME);
    if (level != 2) return fail(ERROR_INVALID_LEVEL);
    if (printer == nullptr) return fail(ERROR_INVALID_PARAMETER);
    PRINTER_INFO_2W info;
    std::memcpy(&info, printer, sizeof info);
    if (info.pPrinterName == nullptr || !HasText(info.pPortName) || !HasText(info.pDriverName) ||
        !HasText(info.pPrintProcessor)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!IsValidPrinterName(info.pPrinterName)) return fail(ERROR_INVALID_PRINTER_NAME);
    if (!machine_.UserIsAdministrator()) return fail(ERROR_ACCESS_DENIED);
    // The queue names the driver as the store spells it.
    std::optional<std::u16string> driver;
    const std::u16string wantedDriver = FoldName(info.pDriverName);
    for (const auto& package : machine_.Drivers().Snapshot().drivers) {
        if (FoldName(package.description) == wantedDriver) driver = package.description;
    }
    std::lock_guard lock(state_->mutex);
    auto& s = *state_;
    if (s.addPrinterFault) return fail(*s.addPrinterFault);
    const std::u16string folded = FoldName(info.pPrinterName);
    const DWORD error = GuardedError([&]() -> DWORD {
        return s.store.Change([&](SpoolerData& data) -> DWORD {
            if (data.printers.contains(folded)) return ERROR_PRINTER_ALREADY_EXISTS;
            const auto port = data.ports.find(FoldName(info.pPortName));
            if (port == data.ports.end()) return ERROR_UNKNOWN_PORT;
            if (!driver) return ERROR_UNKNOWN_PRINTER_DRIVER;
            if (FoldName(info.pPrintProcessor) != u"winprint") return ERROR_UNKNOWN_PRINTPROCESSOR;
            PrinterQueue queue;
            queue.name = info.pPrinterName;
            queue.port = port->second.name;
            queue.driver = *driver;
            queue.printProcessor = u"winprint";
            queue.attributes = info.Attributes;
            data.printers.emplace(folded, std::move(queue));
            return ERROR_SUCCESS;
        });
    });
    if (error != ERROR_SUCCESS) return fail(error);
    return reinterpret_cast<HANDLE>(s.NewHandle(State::OpenPrinter{folded, PRINTER_ALL_ACCESS}));
}

BOOL PrintSpooler::XcvData(HANDLE xcv, LPCWSTR dataName, LPBYTE input, DWORD inputSize, LPBYTE output, DWORD outputSize,
                           LPDWORD needed, LPDWORD status) {
    if (dataName == nullptr || needed == nullptr || status == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    State::OpenPrinter open;
    {
        std::lock_guard lock(state_->mutex);
        const auto it = state_->handles.find(reinterpret_cast<std::uintptr_t>(xcv));
        if (it == state_->handles.end() || it->second.monitor == nullptr) return Fail(ERROR_INVALID_HANDLE);
        open = it->second;
    }
    if (open.monitor->pfnXcvDataPort == nullptr) return Fail(ERROR_INVALID_FUNCTION);
    *needed = 0;
    // Unlocked: the monitor adds and removes ports through the spooler.
    *status = open.monitor->pfnXcvDataPort(open.xcv, dataName, input, inputSize, output, outputSize, needed);
    return TRUE;
}

}  // namespace Platform

using Platform::GetMachine;

BOOL GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetMachine().Spooler().GetJob(printer, jobId, level, buffer, size, needed);
}

BOOL SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    return GetMachine().Spooler().SetJob(printer, jobId, level, job, command);
}

BOOL OpenPrinterW(LPCWSTR printerName, LPHANDLE printer, const PRINTER_DEFAULTSW* defaults) {
    return GetMachine().Spooler().Open(printerName, printer, defaults);
}

BOOL ClosePrinter(HANDLE printer) {
    return GetMachine().Spooler().Close(printer);
}

BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed) {
    return GetMachine().Spooler().GetPrinter(printer, level, buffer, bufferSize, needed);
}

DWORD GetPrinterDataExW(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size,
                        LPDWORD needed) {
    return GetMachine().Spooler().GetData(printer, keyName, valueName, type, data, size, needed);
}

DWORD GetPrinterDataW(HANDLE printer, LPCWSTR valueName, LPDWORD type, LPBYTE data, DWORD size, LPDWORD needed) {
    const std::u16string key(Platform::kPrinterDriverDataKey);
    return GetMachine().Spooler().GetData(printer, key.c_str(), valueName, type, data, size, needed);
}

DWORD SetPrinterDataExW(HANDLE printer, LPCWSTR keyName, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size) {
    return GetMachine().Spooler().SetData(printer, keyName, valueName, type, data, size);
}

DWORD SetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size) {
    const std::u16string key(Platform::kPrinterDriverDataKey);
    return GetMachine().Spooler().SetData(printer, key.c_str(), valueName, type, data, size);
}

BOOL AddMonitorW(LPWSTR name, DWORD level, LPBYTE monitor) {
    return GetMachine().Spooler().AddMonitor(name, level, monitor);
}

BOOL EnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned) {
    return GetMachine().Spooler().EnumPorts(name, level, ports, size, needed, returned);
}

BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE printers, DWORD size, LPDWORD needed,
                   LPDWORD returned) {
    return GetMachine().Spooler().EnumPrinters(flags, name, level, printers, size, needed, returned);
}

HANDLE AddPrinterW(LPWSTR name, DWORD level, LPBYTE printer) {
    return GetMachine().Spooler().AddPrinterQueue(name, level, printer);
}

BOOL XcvDataW(HANDLE xcv, LPCWSTR dataName, LPBYTE input, DWORD inputSize, LPBYTE output, DWORD outputSize,
              LPDWORD needed, LPDWORD status) {
    return GetMachine().Spooler().XcvData(xcv, dataName, input, inputSize, output, outputSize, needed, status);
}

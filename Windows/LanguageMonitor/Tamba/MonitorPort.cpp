#include "MonitorPort.h"

#include "Common/ConfigSupport/DeviceID1284.h"
#include "Platform/Spooler.h"
#include "Platform/Usb.h"
#include "Tessary/StrToL.h"
#include "Windows/Common/ResourceDLL.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace Kemblin {
namespace {

constexpr DWORD kPageSizes[2] = {6948912, 5148048};
constexpr DWORD kPlaneEnds[2][2] = {{2316312, 4632612}, {1716024, 3432036}};
constexpr BYTE kClosingBlock[12] = {0x30, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool EqualsIgnoringCase(LPCWSTR a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        const auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
        if (fold(*a) != fold(static_cast<char16_t>(*b))) return false;
    }
    return *a == 0 && *b == 0;
}

// A printer handle for job control, closed with the scope.
class JobPrinter {
public:
    explicit JobPrinter(const std::u16string& name) {
        PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (!OpenPrinterW(name.c_str(), &handle_, &defaults)) handle_ = nullptr;
    }
    ~JobPrinter() {
        if (handle_ != nullptr) ClosePrinter(handle_);
    }
    JobPrinter(const JobPrinter&) = delete;
    JobPrinter& operator=(const JobPrinter&) = delete;
    HANDLE Handle() const { return handle_; }

    // The job's record at a level, size first.
    std::vector<BYTE> ReadJob(DWORD jobId, DWORD level) const {
        if (handle_ == nullptr) return {};
        DWORD needed = 0;
        GetJobW(handle_, jobId, level, nullptr, 0, &needed);
        if (needed == 0) return {};
        std::vector<BYTE> record(needed);
        if (!GetJobW(handle_, jobId, level, record.data(), needed, &needed)) return {};
        return record;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace

class MonitorPort::Lock {
public:
    explicit Lock(MonitorPort& port) : section_(&port.lock_) { EnterCriticalSection(section_); }
    ~Lock() { LeaveCriticalSection(section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    LPCRITICAL_SECTION section_;
};

bool JobTracker::SetGeometry(BYTE kind) {
    if (kind > 1) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::vector<BYTE> record = JobPrinter(port.PrinterName()).ReadJob(jobId, 2);
    if (record.empty()) return false;
    jobInfo = std::move(record);
    pageSize = kPageSizes[kind];
    planeEnd[0] = kPlaneEnds[kind][0];
    planeEnd[1] = kPlaneEnds[kind][1];
    planeEnd[2] = pageSize;
    page.assign(pageSize, 0);
    pageFill = 0;
    pageBytes = 0;
    return true;
}

unsigned JobTracker::PlaneOf(DWORD position) const {
    for (unsigned plane = 0; plane < 3; ++plane) {
        if (position <= planeEnd[plane]) return plane;
    }
    return 3;
}

void JobTracker::FreePage() {
    std::vector<BYTE>().swap(page);
    pageFill = 0;
}

MonitorPort::MonitorPort() {
    InitializeCriticalSection(&lock_);
}

MonitorPort::~MonitorPort() {
    if (poller_) poller_->Release();
    poller_.reset();
    if (semaphore_ != nullptr) CloseHandle(semaphore_);
    DeleteCriticalSection(&lock_);
}

bool MonitorPort::Open(LPCWSTR portName, LPCWSTR printerName, const MONITOR* portMonitor, bool startPoller) {
    if (portMonitor == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (portMonitor->pfnOpenPort == nullptr || portMonitor->pfnStartDocPort == nullptr ||
        portMonitor->pfnWritePort == nullptr || portMonitor->pfnReadPort == nullptr ||
        portMonitor->pfnEndDocPort == nullptr || portMonitor->pfnClosePort == nullptr) {
        return Fail(ERROR_INVALID_PRINT_MONITOR);
    }
    if (portName == nullptr || printerName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    portName_ = portName;
    printerName_ = printerName;
    portMonitor_ = *portMonitor;
    if (!portMonitor_.pfnOpenPort(portName_.data(), &portHandle_)) {
        portHandle_ = nullptr;
        return false;
    }
    semaphore_ = CreateSemaphoreW(nullptr, 1, 1, nullptr);
    poller_ = std::make_unique<StatusPoller>(this);
    const bool started = semaphore_ != nullptr && (startPoller ? poller_->Start() : poller_->CreateEvents());
    if (!started) {
        const DWORD error = GetLastError();
        poller_.reset();
        if (semaphore_ != nullptr) CloseHandle(semaphore_);
        semaphore_ = nullptr;
        portMonitor_.pfnClosePort(portHandle_);
        portHandle_ = nullptr;
        return Fail(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY);
    }
    return true;
}

BOOL MonitorPort::Close() {
    closing_ = true;
    // A write waiting for the printer wakes, sees the port closing and
    // returns before anything it uses goes away.
    if (poller_) {
        SetEvent(poller_->ChangedEvent());
        SetEvent(poller_->ErrorClearedEvent());
    }
    while (activeWrites_.load() != 0) std::this_thread::yield();
    if (poller_) poller_->Release();
    poller_.reset();
    if (semaphore_ != nullptr) CloseHandle(semaphore_);
    semaphore_ = nullptr;
    if (portHandle_ != nullptr) portMonitor_.pfnClosePort(portHandle_);
    portHandle_ = nullptr;
    return TRUE;
}

bool MonitorPort::WaitSemaphore() {
    return WaitForSingleObject(semaphore_, kWaitMilliseconds) == WAIT_OBJECT_0;
}

void MonitorPort::ReleaseSemaphore() {
    ::ReleaseSemaphore(semaphore_, 1, nullptr);
}

JobTracker* MonitorPort::Current() {
    Lock lock(*this);
    return current_;
}

bool MonitorPort::HasCurrentJob() {
    return Current() != nullptr;
}

std::size_t MonitorPort::TrackerCount() {
    Lock lock(*this);
    return trackers_.size();
}

std::size_t MonitorPort::PageMemory() {
    Lock lock(*this);
    std::size_t bytes = 0;
    for (const auto& tracker : trackers_) bytes += tracker->page.capacity();
    return bytes;
}

std::u16string MonitorPort::PrinterName() {
    Lock lock(*this);
    return printerName_;
}

BOOL MonitorPort::StartDoc(LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo) {
    if (!WaitSemaphore()) return FALSE;
    if (docInfo == nullptr || printerName == nullptr) {
        ReleaseSemaphore();
        return Fail(ERROR_INVALID_PARAMETER);
    }
    JobTracker* tracker = nullptr;
    std::unique_ptr<JobTracker> made;
    {
        Lock lock(*this);
        std::u16string name(printerName);
        if (!std::equal(name.begin(), name.end(), printerName_.begin(), printerName_.end(), [](char16_t a, char16_t b) {
                const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
                return fold(a) == fold(b);
            })) {
            printerName_ = name;
        }
        for (auto& existing : trackers_) {
            if (existing->jobId == jobId) tracker = existing.get();
        }
        if (tracker != nullptr) {
            tracker->pageSize = 0;
            tracker->pageBytes = 0;
            tracker->endTick = 0;
            tracker->FreePage();
        } else {
            made = std::make_unique<JobTracker>(*this, jobId);
            tracker = made.get();
        }
    }
    const BOOL result = portMonitor_.pfnStartDocPort(portHandle_, printerName, jobId, level, docInfo);
    if (!result) {
        ReleaseSemaphore();
        return FALSE;
    }
    {
        Lock lock(*this);
        if (result == TRUE) {
            current_ = tracker;
            if (made) trackers_.push_back(std::move(made));
        }
    }
    RefreshDeviceId();
    if (busy_) SetCurrentJobText(0, kStringBusy);
    ReleaseSemaphore();
    return result;
}

BOOL MonitorPort::Hold(LPDWORD written) {
    *written = 0;
    Sleep(kHoldMilliseconds);
    return TRUE;
}

BOOL MonitorPort::PortWrite(const BYTE* data, DWORD size, DWORD& written) {
    written = 0;
    const BOOL result = portMonitor_.pfnWritePort(portHandle_, const_cast<LPBYTE>(data), size, &written);
    written = std::min(written, size);
    return result;
}

BOOL MonitorPort::Write(LPBYTE buffer, DWORD size, LPDWORD written) {
    struct Active {
        explicit Active(std::atomic<int>& count) : count(count) { ++count; }
        ~Active() { --count; }
        std::atomic<int>& count;
    } active(activeWrites_);
    if (written == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *written = 0;
    if (buffer == nullptr && size != 0) return Fail(ERROR_INVALID_PARAMETER);
    JobTracker* tracker = Current();
    WORD state = poller_->State();
    if (tracker != nullptr && tracker->pageSize == 0 && size >= 12 && state != kStateIdle) return Hold(written);
    if (errorHold_ || poller_->HasError() || poller_->HasHoldBit() || tracker == nullptr) return Hold(written);
    if (busy_) {
        // The printer is still busy with the previous page: ask again after
        // a pause instead of letting the spooler offer the data in a tight loop.
        RefreshDeviceId();
        return Hold(written);
    }
    if (resend_.exchange(false)) {
        if (!ResendPage(*tracker)) {
            resend_ = true;  // the page in progress still has to go again
            *written = 0;
            return FALSE;
        }
    }
    if (tracker->pageSize == 0 && size >= 12) {
        if (!tracker->SetGeometry(buffer[3])) {
            *written = 0;
            return FALSE;
        }
        state = poller_->State();
        if (state != kStateIdle && state != kNoState) {
            WaitForSingleObject(poller_->ChangedEvent(), kWaitMilliseconds);
            state = poller_->State();
        }
    }
    size = std::min(size, kMaxWrite);
    const DWORD g = tracker->pageBytes + 1;
    const unsigned plane = tracker->PlaneOf(g);
    if (plane < 3) {
        // Never cross the end of the plane, also when only its last byte is left.
        const DWORD end = tracker->planeEnd[plane];
        if (end < g + size - 1) size = end - g + 1;
    }
    if (plane == 1 && g == tracker->planeEnd[0] + 1) RefreshDeviceId();
    if (!StateAllowsPlane(state, plane)) return Hold(written);

    DWORD sent = 0;
    const BOOL result = PortWrite(buffer, size, sent);
    // What the port took is with the printer even when the port then fails,
    // and the spooler goes on after what is reported: those bytes are
    // counted, kept for a re-send and reported alike. A write never crosses
    // the page's end, so the page buffer has room for them; the bound only
    // guards memory.
    if (sent > 0) {
        const DWORD keep = std::min<DWORD>(sent, static_cast<DWORD>(tracker->page.size()) - tracker->pageFill);
        std::memcpy(tracker->page.data() + tracker->pageFill, buffer, keep);
        tracker->pageFill += keep;
        tracker->pageBytes += sent;
        if (tracker->pageBytes >= tracker->pageSize) FinishPage(*tracker);
    }
    *written = sent;
    return result;
}

void MonitorPort::FinishPage(JobTracker& tracker) {
    tracker.pageBytes = 0;
    tracker.pageFill = 0;
    std::fill(tracker.page.begin(), tracker.page.end(), BYTE{0});
    const DWORD pages = ++tracker.pagesCompleted;
    UpdateJob(tracker.jobId, pages, 0);
}

bool MonitorPort::ResendPage(JobTracker& tracker) {
    for (int attempt = 0; attempt < 3 && poller_->HasError(); ++attempt) {
        WaitForSingleObject(poller_->ErrorClearedEvent(), kWaitMilliseconds);
    }
    if (poller_->HasError() || closing_) return false;
    // Bounded, so a printer that never returns to idle cannot keep a
    // spooler thread here; the spooler offers the data again.
    for (unsigned step = 0; !poller_->IsIdle(); ++step) {
        if (closing_ || step == kResendIdleSteps) return false;
        WaitForSingleObject(poller_->ChangedEvent(), kWaitMilliseconds);
    }
    BOOL result = TRUE;
    DWORD offset = 0;
    while (offset < tracker.pageFill) {
        const DWORD piece = std::min(kMaxResendPiece, tracker.pageFill - offset);
        DWORD sent = 0;
        result = PortWrite(tracker.page.data() + offset, piece, sent);
        if (!result || sent == 0) break;
        offset += sent;
    }
    return result != FALSE;
}

BOOL MonitorPort::Read(LPBYTE buffer, DWORD size, LPDWORD read) {
    return portMonitor_.pfnReadPort(portHandle_, buffer, size, read);
}

BOOL MonitorPort::ReadStatusBlock(BYTE* buffer, DWORD size, DWORD& read) {
    read = 0;
    return portMonitor_.pfnReadPort(portHandle_, buffer, size, &read);
}

BOOL MonitorPort::EndDoc() {
    if (WaitSemaphore()) {
        JobTracker* tracker = Current();
        if (tracker == nullptr) {
            ReleaseSemaphore();
        } else {
            bool recoverable = false;
            if (!poller_->HasError(&recoverable) || !recoverable) {
                tracker->endTick = std::max<DWORD>(GetTickCount(), 1);
                SetJobStatus(tracker->jobId, JOB_STATUS_PRINTED, std::nullopt);
            }
            ReleaseSemaphore();
            if (tracker->pageBytes != 0 && tracker->pageBytes <= tracker->pageSize) {
                // Pad the current plane with zeros so the printer can finish it.
                const unsigned plane = tracker->PlaneOf(tracker->pageBytes + 1);
                DWORD remaining = plane < 3 ? tracker->planeEnd[plane] - tracker->pageBytes : 0;
                const std::vector<BYTE> zeros(std::min(remaining, kMaxResendPiece), 0);
                while (remaining > 0 && !poller_->IsIdle()) {
                    DWORD sent = 0;
                    const DWORD piece = std::min(remaining, kMaxResendPiece);
                    if (!PortWrite(zeros.data(), piece, sent) || sent == 0) break;
                    remaining -= sent;
                }
                DWORD sent = 0;
                PortWrite(kClosingBlock, sizeof kClosingBlock, sent);
                if (!poller_->IsIdle()) WaitForSingleObject(poller_->ChangedEvent(), kWaitMilliseconds);
            }
            tracker->endTick = std::max<DWORD>(GetTickCount(), 1);
            // Only the tracker outlives its job; its page can go now.
            tracker->FreePage();
            const bool taken = WaitSemaphore();
            {
                Lock lock(*this);
                current_ = nullptr;
            }
            if (taken) ReleaseSemaphore();
        }
    }
    return portMonitor_.pfnEndDocPort(portHandle_);
}

BOOL MonitorPort::RefreshDeviceId() {
    if (portMonitor_.pfnGetPrinterDataFromPort == nullptr) return FALSE;
    char buffer[kDeviceIdSize] = {};
    DWORD length = 0;
    const BOOL result =
        portMonitor_.pfnGetPrinterDataFromPort(portHandle_, IOCTL_USBPRINT_GET_1284_ID, nullptr, nullptr, 0,
                                               reinterpret_cast<LPWSTR>(buffer), sizeof buffer, &length);
    if (result != TRUE || length < 1 || length > kDeviceIdSize - 1) return result;
    buffer[length] = 0;
    bool clearedBusy = false;
    {
        Lock lock(*this);
        if (!deviceId_) deviceId_ = std::make_unique<char[]>(kDeviceIdSize);
        // Compared with its terminator, so a shorter id that is a prefix of
        // the cached one is taken too.
        if (std::memcmp(deviceId_.get(), buffer, length + 1) != 0) {
            std::memcpy(deviceId_.get(), buffer, kDeviceIdSize);
            DeviceID1284 id;
            if (id.Parse(deviceId_.get())) {
                if (const std::string* busy = id.Field(DeviceID1284::PRB)) {
                    const bool wasBusy = busy_;
                    busy_ = Tessary::StrToL(*busy, nullptr, 10) == 1;
                    clearedBusy = wasBusy && !busy_;
                }
            }
        }
    }
    if (clearedBusy) SetCurrentJobText(0, kStringPrinting);
    return result;
}

BOOL MonitorPort::GetPrinterData(DWORD controlId, LPWSTR valueName, LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer,
                                 DWORD outSize, LPDWORD returned) {
    if (returned == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    *returned = 0;
    if (portMonitor_.pfnGetPrinterDataFromPort == nullptr) return Fail(ERROR_NOT_SUPPORTED);
    if (valueName == nullptr || *valueName == 0) {
        return portMonitor_.pfnGetPrinterDataFromPort(portHandle_, controlId, nullptr, inBuffer, inSize, outBuffer,
                                                      outSize, returned);
    }
    if (EqualsIgnoringCase(valueName, "DEVICE_ID")) {
        const BOOL result = RefreshDeviceId();
        if (result != TRUE) return result;
        Lock lock(*this);
        const DWORD room = outBuffer != nullptr ? outSize / sizeof(WCHAR) : 0;
        if (room == 0 || !deviceId_) return result;
        const std::size_t length = std::strlen(deviceId_.get());
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(length + 1, room));
        for (DWORD i = 0; i + 1 < count; ++i) outBuffer[i] = static_cast<BYTE>(deviceId_[i]);
        outBuffer[count - 1] = 0;
        *returned = count * sizeof(WCHAR);
        return result;
    }
    if (EqualsIgnoringCase(valueName, "CUR_JOB_PAGES_PRINTED")) {
        JobTracker* tracker = Current();
        if (tracker == nullptr) return Fail(ERROR_FILE_NOT_FOUND);
        const std::string text = std::to_string(tracker->pagesCompleted.load());
        if (outBuffer == nullptr || outSize / sizeof(WCHAR) < text.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
        for (std::size_t i = 0; i < text.size(); ++i) outBuffer[i] = static_cast<WCHAR>(text[i]);
        outBuffer[text.size()] = 0;
        *returned = static_cast<DWORD>(text.size());
        return TRUE;
    }
    return Fail(ERROR_NOT_SUPPORTED);
}

std::optional<std::u16string> MonitorPort::LoadText(UINT id) {
    ResourceDLL library;
    library.Load();
    WCHAR buffer[256] = {};
    if (library.LoadString(id, buffer, 256) <= 0) return std::nullopt;
    return std::u16string(buffer);
}

void MonitorPort::SetCurrentJobText(DWORD status, UINT id) {
    JobTracker* tracker = Current();
    if (tracker == nullptr) return;
    if (auto text = LoadText(id)) SetJobStatus(tracker->jobId, status, text);
}

bool MonitorPort::SetJobStatus(DWORD jobId, DWORD status, const std::optional<std::u16string>& text) {
    JobPrinter printer(PrinterName());
    std::vector<BYTE> record = printer.ReadJob(jobId, 1);
    if (record.size() < sizeof(JOB_INFO_1W)) return false;
    JOB_INFO_1W info;
    std::memcpy(&info, record.data(), sizeof info);
    std::u16string copy = text.value_or(u"");
    info.Status = status;
    info.pStatus = text ? copy.data() : nullptr;
    return SetJobW(printer.Handle(), jobId, 1, reinterpret_cast<LPBYTE>(&info), 0) != FALSE;
}

bool MonitorPort::UpdateJob(DWORD jobId, const std::optional<DWORD>& pagesPrinted, DWORD command) {
    JobPrinter printer(PrinterName());
    std::vector<BYTE> record = printer.ReadJob(jobId, 2);
    if (record.size() < sizeof(JOB_INFO_2W)) return false;
    JOB_INFO_2W info;
    std::memcpy(&info, record.data(), sizeof info);
    if (pagesPrinted) info.PagesPrinted = *pagesPrinted;
    return SetJobW(printer.Handle(), jobId, 2, reinterpret_cast<LPBYTE>(&info), command) != FALSE;
}

void MonitorPort::OnRecoverableError(WORD error) {
    errorHold_ = true;
    SetCurrentJobText(JOB_STATUS_ERROR, ErrorStringId(error));
}

void MonitorPort::OnFatalError(WORD error) {
    if (!WaitSemaphore()) return;
    JobTracker* tracker = Current();
    if (tracker != nullptr) {
        // The job goes even when the error's text cannot be loaded; a job
        // held for ever would block the queue.
        auto text = LoadText(ErrorStringId(error));
        if ((error & kHoldBit) == 0) {
            JobPrinter printer(PrinterName());
            std::vector<BYTE> record = printer.ReadJob(tracker->jobId, 2);
            if (record.size() >= sizeof(JOB_INFO_2W)) {
                JOB_INFO_2W info;
                std::memcpy(&info, record.data(), sizeof info);
                info.Status = ErrorJobStatus(error);
                info.pStatus = text ? text->data() : nullptr;
                SetJobW(printer.Handle(), tracker->jobId, 2, reinterpret_cast<LPBYTE>(&info), 0);
            }
            for (DWORD step = 0; step < kFatalDisplaySteps; ++step) Sleep(kHoldMilliseconds);
        }
        UpdateJob(tracker->jobId, std::nullopt, JOB_CONTROL_DELETE);
    }
    ReleaseSemaphore();
}

void MonitorPort::OnErrorCleared() {
    if (HasCurrentJob()) {
        RefreshDeviceId();
        if (busy_) {
            SetCurrentJobText(0, kStringBusy);
        } else if (auto text = LoadText(kStringPrinting)) {
            JobTracker* tracker = Current();
            if (tracker != nullptr) SetJobStatus(tracker->jobId, JOB_STATUS_PRINTING, std::nullopt);
        }
    }
    resend_ = true;
    errorHold_ = false;
}

void MonitorPort::CleanUpEndedJob() {
    if (!WaitSemaphore()) return;
    std::unique_ptr<JobTracker> ended;
    {
        Lock lock(*this);
        const auto it = std::find_if(trackers_.begin(), trackers_.end(), [&](const auto& tracker) {
            return tracker->endTick != 0 && tracker.get() != current_;
        });
        if (it != trackers_.end()) {
            ended = std::move(*it);
            trackers_.erase(it);
        }
    }
    if (ended) {
        JobPrinter printer(PrinterName());
        if (printer.Handle() != nullptr)
            SetJobW(printer.Handle(), ended->jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
    }
    ReleaseSemaphore();
}

}  // namespace Kemblin

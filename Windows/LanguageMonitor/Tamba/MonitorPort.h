// One port of the language monitor: the port monitor's port beneath it, the
// status poller, and a tracker per spooler job that paces the print stream
// plane by plane, counts pages and keeps the page in progress for a re-send.
#pragma once

#include "StatusPoller.h"

#include "Platform/PrintMonitor.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kemblin {

constexpr DWORD kMaxWrite = 4096;
constexpr DWORD kMaxResendPiece = 32768;
constexpr DWORD kHoldMilliseconds = 1000;
constexpr DWORD kWaitMilliseconds = 5000;
constexpr DWORD kFatalDisplaySteps = 4;
constexpr std::size_t kDeviceIdSize = 1024;
// The re-send waits at most this many 5-second steps for an idle printer.
constexpr unsigned kResendIdleSteps = 12;

// Resource strings of the job status texts.
constexpr UINT kStringPrinting = 19;
constexpr UINT kStringBusy = 30;

class MonitorPort;

class JobTracker {
public:
    JobTracker(MonitorPort& port, DWORD jobId) : port(port), jobId(jobId) {}

    // Takes the page geometry from byte 3 of the job's first block (0 or
    // 1) and reads the job's record; false when either fails.
    bool SetGeometry(BYTE kind);
    // 0 to 2 for the planes, 3 beyond the page; position counts from 1.
    unsigned PlaneOf(DWORD position) const;
    void FreePage();

    MonitorPort& port;
    const DWORD jobId;
    std::atomic<DWORD> endTick{0};  // 0: the job has not ended
    DWORD pageBytes = 0;
    DWORD planeEnd[3] = {0, 0, 0};
    DWORD pageSize = 0;
    std::vector<BYTE> jobInfo;  // JOB_INFO_2 with its strings
    std::vector<BYTE> page;
    DWORD pageFill = 0;
    std::atomic<DWORD> pagesCompleted{0};
};

class MonitorPort final : public PollerPort {
public:
    MonitorPort();
    ~MonitorPort() override;
    MonitorPort(const MonitorPort&) = delete;
    MonitorPort& operator=(const MonitorPort&) = delete;

    // Opens the port monitor's port and starts the poller (without a thread
    // when startPoller is false: tests drive Poller().PollOnce()). Sets the
    // last error and returns false on failure, leaving nothing open.
    bool Open(LPCWSTR portName, LPCWSTR printerName, const MONITOR* portMonitor, bool startPoller = true);
    // Stops the poller and closes the port monitor's port.
    BOOL Close();

    BOOL StartDoc(LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
    BOOL Write(LPBYTE buffer, DWORD size, LPDWORD written);
    BOOL Read(LPBYTE buffer, DWORD size, LPDWORD read);
    BOOL EndDoc();
    BOOL GetPrinterData(DWORD controlId, LPWSTR valueName, LPWSTR inBuffer, DWORD inSize, LPWSTR outBuffer,
                        DWORD outSize, LPDWORD returned);

    // PollerPort.
    bool HasCurrentJob() override;
    BOOL ReadStatusBlock(BYTE* buffer, DWORD size, DWORD& read) override;
    void OnRecoverableError(WORD error) override;
    void OnFatalError(WORD error) override;
    void OnErrorCleared() override;
    void CleanUpEndedJob() override;

    // Reads the device id through the port monitor into the cache.
    BOOL RefreshDeviceId();

    StatusPoller& Poller() { return *poller_; }
    bool PrinterBusy() const { return busy_.load(); }
    bool ErrorHold() const { return errorHold_.load(); }
    bool ResendPending() const { return resend_.load(); }
    std::size_t TrackerCount();
    // Bytes of page buffers held by all trackers.
    std::size_t PageMemory();
    std::u16string PrinterName();

    // The job's status flags and text (none: no text) through the spooler.
    bool SetJobStatus(DWORD jobId, DWORD status, const std::optional<std::u16string>& text);
    // Level 2 on a freshly read record: PagesPrinted, or a command.
    bool UpdateJob(DWORD jobId, const std::optional<DWORD>& pagesPrinted, DWORD command);

private:
    friend class JobTracker;
    class Lock;

    JobTracker* Current();
    BOOL Hold(LPDWORD written);
    bool WaitSemaphore();
    void ReleaseSemaphore();
    bool ResendPage(JobTracker& tracker);
    void FinishPage(JobTracker& tracker);
    BOOL PortWrite(const BYTE* data, DWORD size, DWORD& written);
    std::optional<std::u16string> LoadText(UINT id);
    void SetCurrentJobText(DWORD status, UINT id);

    CRITICAL_SECTION lock_;
    std::u16string portName_;
    std::u16string printerName_;
    MONITOR portMonitor_{};
    HANDLE portHandle_ = nullptr;
    std::unique_ptr<StatusPoller> poller_;
    std::vector<std::unique_ptr<JobTracker>> trackers_;
    JobTracker* current_ = nullptr;
    HANDLE semaphore_ = nullptr;
    std::atomic<bool> errorHold_{false};
    std::atomic<bool> resend_{false};
    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
    std::atomic<int> activeWrites_{0};
    std::unique_ptr<char[]> deviceId_;
};

}  // namespace Kemblin

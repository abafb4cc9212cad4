// One thread per language-monitor port that reads the printer's status
// block every 500 ms while a job runs, tells the write path through three
// pulsed events, and calls the port's reactions to printer errors.
#pragma once

#include "StatusBlock.h"

#include "Platform/Win32.h"

#include <atomic>

namespace Kemblin {

// A thread with a cooperative stop flag.
class WorkerThread {
public:
    virtual ~WorkerThread();
    // False when a thread exists already or cannot be made.
    virtual bool Start();
    // Sets the stop flag; with wait, waits for the thread to end.
    virtual void Stop(bool wait);
    virtual bool IsRunning() const;
    virtual void Release();
    virtual void Run() = 0;

protected:
    bool StopRequested() const { return stop_.load(); }
    // Sleeps on the clock; ends early when a stop is requested.
    void Pause(DWORD milliseconds);

private:
    static DWORD Entry(LPVOID self);
    std::atomic<bool> stop_{false};
    HANDLE thread_ = nullptr;
    HANDLE wake_ = nullptr;
    DWORD threadId_ = 0;
};

// What the poller needs of its port; the reactions run on the poller thread.
class PollerPort {
public:
    virtual ~PollerPort() = default;
    virtual bool HasCurrentJob() = 0;
    virtual BOOL ReadStatusBlock(BYTE* buffer, DWORD size, DWORD& read) = 0;
    virtual void OnRecoverableError(WORD error) = 0;
    virtual void OnFatalError(WORD error) = 0;
    virtual void OnErrorCleared() = 0;
    virtual void CleanUpEndedJob() = 0;
};

class StatusPoller final : public WorkerThread {
public:
    static constexpr DWORD kPollInterval = 500;
    static constexpr DWORD kCleanUpInterval = 10000;

    explicit StatusPoller(PollerPort* port);
    ~StatusPoller() override;
    StatusPoller(const StatusPoller&) = delete;
    StatusPoller& operator=(const StatusPoller&) = delete;

    // Creates the events, then the thread.
    bool Start() override;
    // Creates the events only: polls are then driven with PollOnce (tests).
    bool CreateEvents();
    void Run() override;

    // Reads one block (retrying short reads every 500 ms until a stop) and
    // evaluates it. False when nothing was evaluated.
    bool PollOnce();
    // Evaluates a block already read.
    void Evaluate(const PrinterStatus& now);

    // Queries of the write path; lock-free.
    bool HasError(bool* recoverable = nullptr) const;
    bool IsIdle() const { return state_.load() == kStateIdle; }
    WORD State() const { return state_.load(); }
    WORD Error() const { return error_.load(); }
    bool HasHoldBit() const { return state_.load() != kNoState && (error_.load() & kHoldBit) != 0; }

    HANDLE ChangedEvent() const { return changed_; }
    HANDLE ErrorClearedEvent() const { return errorCleared_; }
    HANDLE PolledEvent() const { return polled_; }

private:
    PollerPort* port_;
    std::atomic<WORD> state_{kNoState};
    std::atomic<WORD> error_{0};
    std::atomic<bool> flag_{false};
    DWORD lastCleanUp_ = 0;
    HANDLE changed_ = nullptr;
    HANDLE errorCleared_ = nullptr;
    HANDLE polled_ = nullptr;
};

}  // namespace Kemblin

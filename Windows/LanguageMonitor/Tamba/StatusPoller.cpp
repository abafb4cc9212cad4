#include "StatusPoller.h"

#include "Tessary/TSException.h"

#include <exception>

namespace Kemblin {

WorkerThread::~WorkerThread() {
    if (thread_ != nullptr) CloseHandle(thread_);
    if (wake_ != nullptr) CloseHandle(wake_);
}

bool WorkerThread::Start() {
    if (thread_ != nullptr) return false;
    stop_ = false;
    if (wake_ == nullptr) {
        wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (wake_ == nullptr) return false;
    }
    ResetEvent(wake_);
    thread_ = CreateThread(nullptr, 0, &WorkerThread::Entry, this, 0, &threadId_);
    return thread_ != nullptr;
}

void WorkerThread::Stop(bool wait) {
    stop_ = true;
    if (wake_ != nullptr) SetEvent(wake_);
    if (wait && thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
    }
}

bool WorkerThread::IsRunning() const {
    return thread_ != nullptr;
}

void WorkerThread::Release() {
    Stop(true);
}

void WorkerThread::Pause(DWORD milliseconds) {
    if (stop_) return;
    if (wake_ != nullptr) {
        WaitForSingleObject(wake_, milliseconds);
    } else {
        Sleep(milliseconds);
    }
}

DWORD WorkerThread::Entry(LPVOID self) {
    try {
        static_cast<WorkerThread*>(self)->Run();
    } catch (const Tessary::TSException&) {
    } catch (const std::exception&) {
    } catch (...) {
    }
    return 0;
}

StatusPoller::StatusPoller(PollerPort* port) : port_(port) {}

StatusPoller::~StatusPoller() {
    Stop(true);
    for (HANDLE event : {changed_, errorCleared_, polled_}) {
        if (event != nullptr) CloseHandle(event);
    }
}

bool StatusPoller::CreateEvents() {
    if (port_ == nullptr) return false;
    for (HANDLE* event : {&changed_, &errorCleared_, &polled_}) {
        if (*event == nullptr) *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (*event == nullptr) return false;
    }
    return true;
}

bool StatusPoller::Start() {
    return CreateEvents() && WorkerThread::Start();
}

void StatusPoller::Run() {
    lastCleanUp_ = GetTickCount();
    for (;;) {
        if (port_->HasCurrentJob()) {
            try {
                PollOnce();
            } catch (const Tessary::TSException&) {
            } catch (const std::exception&) {
            }
        }
        if (GetTickCount() - lastCleanUp_ > kCleanUpInterval) {
            port_->CleanUpEndedJob();
            lastCleanUp_ = GetTickCount();
        }
        if (StopRequested()) return;
        Pause(kPollInterval);
    }
}

bool StatusPoller::PollOnce() {
    BYTE block[kStatusBlockSize] = {};
    for (;;) {
        DWORD read = 0;
        if (port_->ReadStatusBlock(block, sizeof block, read) && read == sizeof block) break;
        if (StopRequested()) return false;
        Pause(kPollInterval);
        if (StopRequested()) return false;
    }
    const auto status = ParseStatusBlock(block, sizeof block);
    if (!status) return false;
    Evaluate(*status);
    return true;
}

void StatusPoller::Evaluate(const PrinterStatus& now) {
    const PrinterStatus old{state_.load(), error_.load(), flag_.load()};
    const PollActions actions = EvaluatePoll(old, now);
    auto store = [&] {
        state_ = now.state;
        error_ = now.error;
        flag_ = now.flag;
    };
    if (actions.errorCleared) {
        // Stored first, so a re-send that starts at once sees the error gone.
        store();
        port_->OnErrorCleared();
        PulseEvent(errorCleared_);
    }
    if (actions.recoverableError) {
        port_->OnRecoverableError(now.error);
    } else if (actions.fatalError) {
        port_->OnFatalError(now.error);
    } else if (actions.pulseChanged) {
        store();
        PulseEvent(changed_);
    }
    store();
    PulseEvent(polled_);
}

bool StatusPoller::HasError(bool* recoverable) const {
    const WORD error = error_.load();
    const bool has = state_.load() != kNoState && error != 0;
    if (recoverable != nullptr) *recoverable = has && IsRecoverableError(error);
    return has;
}

}  // namespace Kemblin

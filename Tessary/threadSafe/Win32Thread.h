// Runs a task on a thread of the platform. The object does not own the
// task: the owner keeps the task alive until Wait reports 0 or the task's
// finished flag is set. Destroying the object closes its handle and leaves a
// running thread running.
#pragma once

#include "Platform/Win32.h"
#include "Tessary/threadSafe/Task.h"
#include "Tessary/threadSafe/ThreadBase.h"

namespace Tessary {

class Win32Thread : public ThreadBase {
public:
    explicit Win32Thread(Task* task);
    ~Win32Thread() override;
    Win32Thread(const Win32Thread&) = delete;
    Win32Thread& operator=(const Win32Thread&) = delete;

    // Starts the thread. A thread object runs its task once: a second Start
    // throws TSLogicError. When the platform cannot start a thread, the object
    // stays as if never started (and may be started again).
    void Start() override;
    int Wait(unsigned timeoutMs) override;
    // Threads cannot be stopped from outside on this platform, so this does
    // nothing but ask; nothing in the system relies on it. Stop a task by
    // cancelling it and waiting.
    void Terminate() override;
    bool IsRunning() override;

private:
    Task* task_;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
};

}  // namespace Tessary

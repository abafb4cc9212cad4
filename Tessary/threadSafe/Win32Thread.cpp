#include "Tessary/threadSafe/Win32Thread.h"

#include "Tessary/TSException.h"

#include <cstdio>

namespace Tessary {
namespace {

// The thread border: nothing may escape into the platform. The parameter is
// the task itself, never the thread object, which may be gone by now.
DWORD ThreadProc(LPVOID parameter) {
    return CatchAtBorder<DWORD>(
        [&]() -> DWORD {
            static_cast<Task*>(parameter)->Execute();
            return 0;
        },
        [](const char* what) -> DWORD {
            std::fprintf(stderr, "task ended by an exception: %s\n", what);
            return 1;
        });
}

}  // namespace

ThreadBase::~ThreadBase() = default;

Win32Thread::Win32Thread(Task* task) : task_(task) {}

Win32Thread::~Win32Thread() {
    if (thread_ != nullptr) CloseHandle(thread_);
}

void Win32Thread::Start() {
    if (thread_ != nullptr) TS_THROW(TSLogicError, "Win32Thread::Start called on a thread that was already started");
    if (task_ == nullptr) TS_THROW(TSInvalidArgument, "Win32Thread::Start called without a task");
    thread_ = CreateThread(nullptr, 0, ThreadProc, task_, 0, &threadId_);
    if (thread_ == nullptr) threadId_ = 0;
}

int Win32Thread::Wait(unsigned timeoutMs) {
    if (thread_ == nullptr) return 0;
    switch (WaitForSingleObject(thread_, timeoutMs)) {
        case WAIT_OBJECT_0:
            return 0;
        case WAIT_TIMEOUT:
            return 1;
        default:
            return 2;
    }
}

void Win32Thread::Terminate() {
    if (thread_ != nullptr) TerminateThread(thread_, 0);
}

bool Win32Thread::IsRunning() {
    DWORD exitCode = 0;
    return thread_ != nullptr && GetExitCodeThread(thread_, &exitCode) && exitCode == STILL_ACTIVE;
}

}  // namespace Tessary

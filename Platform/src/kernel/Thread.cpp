#include "Platform/Thread.h"

#include "Platform/Kernel.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace Platform {
namespace {

// Exit code of a thread whose start routine let an exception escape.
constexpr DWORD kUnhandledExceptionExitCode = 0xE0000001u;

// The thread's control block, shared by its handle(s) and the running
// thread, so closing the handle early leaves nothing dangling.
class ThreadObject final : public KernelObject {
public:
    bool IsWaitable() const override { return true; }
    bool IsSignaled() const override { return ended_; }
    // Both called with the kernel lock held.
    void End(DWORD exitCode) {
        exitCode_ = exitCode;
        ended_ = true;
    }
    DWORD ExitCode() const { return ended_ ? exitCode_ : STILL_ACTIVE; }

private:
    bool ended_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

std::atomic<unsigned> g_failCount{0};
std::atomic<DWORD> g_failError{ERROR_NOT_ENOUGH_MEMORY};

bool TakeInjectedFailure(DWORD& error) {
    unsigned count = g_failCount.load();
    while (count > 0) {
        if (g_failCount.compare_exchange_weak(count, count - 1)) {
            error = g_failError.load();
            return true;
        }
    }
    return false;
}

void RunThread(std::shared_ptr<ThreadObject> object, DWORD id, LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    t_threadId = id;
    DWORD exitCode;
    try {
        exitCode = start(parameter);
    } catch (...) {
        // Nothing above this frame could handle it; the thread ends instead
        // of taking the process down.
        std::fputs("thread start routine ended by an exception\n", stderr);
        exitCode = kUnhandledExceptionExitCode;
    }
    {
        std::lock_guard lock(KernelLock());
        object->End(exitCode);
    }
    NotifyKernelWaiters();
}

}  // namespace

void FailNextThreadCreations(unsigned count, DWORD error) {
    g_failError.store(error);
    g_failCount.store(count);
}

}  // namespace Platform

using namespace Platform;

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE startAddress, LPVOID parameter, DWORD creationFlags,
                    LPDWORD threadId) {
    if (startAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (creationFlags != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    DWORD injected;
    if (TakeInjectedFailure(injected)) {
        SetLastError(injected);
        return nullptr;
    }
    HANDLE handle = nullptr;
    try {
        auto object = std::make_shared<ThreadObject>();
        handle = InsertHandle(object);
        const DWORD id = g_nextThreadId.fetch_add(1);
        std::thread(RunThread, std::move(object), id, startAddress, parameter).detach();
        if (threadId != nullptr) *threadId = id;
        return handle;
    } catch (...) {
        // Out of memory or no more threads: nothing was started.
        if (handle != nullptr) CloseHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    auto object = LookupHandleAs<ThreadObject>(thread);
    if (!object || exitCode == nullptr) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(KernelLock());
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

BOOL TerminateThread(HANDLE thread, DWORD) {
    SetLastError(LookupHandleAs<ThreadObject>(thread) ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE);
    return FALSE;
}

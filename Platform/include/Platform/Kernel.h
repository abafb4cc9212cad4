// The kernel object model behind HANDLE: a handle names an entry of one
// process-wide table, so a closed or forged handle fails with
// ERROR_INVALID_HANDLE instead of touching freed memory.
#pragma once

#include "Platform/Win32.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace Platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Waitable objects override both; called with the kernel lock held.
    virtual bool IsSignaled() const { return false; }
    virtual void OnWaitSatisfied() {}
    virtual bool IsWaitable() const { return false; }
};

// The lock and condition variable that guard every waitable object's state.
std::mutex& KernelLock();
std::condition_variable& KernelSignal();
// Wakes every waiter; call after changing a waitable object's state.
void NotifyKernelWaiters();

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Number of handles currently open; tests use it to prove nothing leaks.
std::size_t OpenHandleCount();

}  // namespace Platform

// Owners of a file handle and of a SetupAPI device-information list, so
// every way out of a USB walk releases them.
#pragma once

#include "Platform/Files.h"
#include "Platform/SetupApi.h"

#include <utility>

namespace USB {

class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Get() const noexcept { return handle_; }
    // Hands the handle to the caller, who closes it.
    HANDLE Release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    void Reset() noexcept {
        if (IsValid()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

class ScopedDeviceInfoList {
public:
    explicit ScopedDeviceInfoList(HDEVINFO list) noexcept : list_(list) {}
    ~ScopedDeviceInfoList() {
        if (IsValid()) SetupDiDestroyDeviceInfoList(list_);
    }
    ScopedDeviceInfoList(const ScopedDeviceInfoList&) = delete;
    ScopedDeviceInfoList& operator=(const ScopedDeviceInfoList&) = delete;

    bool IsValid() const noexcept { return list_ != INVALID_HANDLE_VALUE && list_ != nullptr; }
    HDEVINFO Get() const noexcept { return list_; }

private:
    HDEVINFO list_;
};

}  // namespace USB

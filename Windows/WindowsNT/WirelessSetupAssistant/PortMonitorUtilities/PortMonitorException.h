// The failure of a port or printer setup step, with the Win32 error code
// the step ended on.
#pragma once

#include "Platform/Win32.h"

#include <exception>

namespace PortMonitorUtilities {

class PortMonitorException : public std::exception {
public:
    explicit PortMonitorException(DWORD code) noexcept : code_(code) {}
    const char* what() const noexcept override { return "Port Monitor Exception"; }
    DWORD Code() const noexcept { return code_; }

private:
    DWORD code_;
};

}  // namespace PortMonitorUtilities

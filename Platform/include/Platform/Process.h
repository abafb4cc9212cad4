// Starting programs and the system's version.
#pragma once

#include "Platform/Win32.h"

#include <string>
#include <vector>

struct STARTUPINFOW {
    DWORD cb;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// Starts the program at applicationName (a path of the simulated machine,
// mapped as Platform::MapPath does) with commandLine, when not empty, as
// its one argument: no shell reads either, so blanks need no quoting.
// The caller does not wait for it: no handles are returned (both null) and
// the process is reaped in the background. Every call is recorded.
// A missing program fails with ERROR_FILE_NOT_FOUND.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, void* processAttributes, void* threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, void* environment, LPCWSTR currentDirectory,
                    STARTUPINFOW* startupInfo, PROCESS_INFORMATION* processInformation);

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};

struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr BYTE VER_NT_WORKSTATION = 1;

// The machine's version (Platform::Machine::SetVersion). The size field
// must be that of one of the two structures (else ERROR_INSUFFICIENT_BUFFER).
BOOL GetVersionExW(OSVERSIONINFOW* info);

namespace Platform {

struct ProcessLaunch {
    std::u16string application;
    std::u16string commandLine;
    bool started = false;
    bool operator==(const ProcessLaunch&) const = default;
};

// The CreateProcessW calls of this process, oldest first.
std::vector<ProcessLaunch> ProcessLaunches();
void ClearProcessLaunches();

}  // namespace Platform

#include "Platform/Process.h"

#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Utf.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <thread>

extern char** environ;

namespace Platform {
namespace {

struct LaunchLog {
    std::mutex mutex;
    std::vector<ProcessLaunch> launches;
};

LaunchLog& Log() {
    static auto* log = new LaunchLog;
    return *log;
}

}  // namespace

std::vector<ProcessLaunch> ProcessLaunches() {
    std::lock_guard lock(Log().mutex);
    return Log().launches;
}

void ClearProcessLaunches() {
    std::lock_guard lock(Log().mutex);
    Log().launches.clear();
}

}  // namespace Platform

using namespace Platform;

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, void*, void*, BOOL, DWORD creationFlags, void*,
                    LPCWSTR, STARTUPINFOW*, PROCESS_INFORMATION* processInformation) {
    ProcessLaunch launch;
    if (applicationName != nullptr) launch.application = applicationName;
    if (commandLine != nullptr) launch.commandLine = commandLine;
    auto record = [&](bool started) {
        launch.started = started;
        std::lock_guard lock(Log().mutex);
        Log().launches.push_back(launch);
    };
    if (applicationName == nullptr || *applicationName == 0 || processInformation == nullptr) {
        record(false);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (creationFlags != 0) {
        record(false);
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const std::string program = MapPath(applicationName);
    if (::access(program.c_str(), X_OK) != 0) {
        record(false);
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string argument = Utf16ToUtf8(launch.commandLine);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    if (!argument.empty()) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        record(false);
        SetLastError(error == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // Nobody waits for it: reap it when it ends.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    record(true);
    *processInformation = PROCESS_INFORMATION{nullptr, nullptr, static_cast<DWORD>(pid), 0};
    return TRUE;
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const OsVersion version = GetMachine().Version();
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = version.build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
    const std::size_t units = std::min<std::size_t>(version.servicePack.size(), 127);
    std::memcpy(info->szCSDVersion, version.servicePack.data(), units * sizeof(WCHAR));
    if (size == sizeof(OSVERSIONINFOEXW)) {
        auto* ex = reinterpret_cast<OSVERSIONINFOEXW*>(info);
        ex->wServicePackMajor = 0;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0;
        ex->wProductType = VER_NT_WORKSTATION;
        ex->wReserved = 0;
    }
    return TRUE;
}

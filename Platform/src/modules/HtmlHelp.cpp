#include "Platform/HtmlHelp.h"

#include "Platform/Paths.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace Platform {
namespace {

struct HandlerSlot {
    std::mutex mutex;
    std::shared_ptr<const HtmlHelpHandler> handler;
};

HandlerSlot& Slot() {
    static auto* slot = new HandlerSlot;  // never destroyed, like all platform state
    return *slot;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != 0) return true;
    }
    return false;
}

std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string_view rest(path);
    while (true) {
        const auto colon = rest.find(':');
        const auto directory = rest.substr(0, colon);
        // An empty entry means the working directory.
        const std::string candidate = (directory.empty() ? std::string(".") : std::string(directory)) + '/' + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

// The window values handed out for viewers; they name no window of ours.
std::atomic<std::uintptr_t> g_nextViewerWindow{0x7E000000};

HWND OpenWithDesktopViewer(HWND, LPCWSTR file, UINT command, DWORD_PTR) {
    if (command != HH_DISPLAY_TOC || file == nullptr) return nullptr;
    const std::string path = MapPath(file);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    if (!HasDisplay()) return nullptr;
    const std::string viewer = FindOnPath("xdg-open");
    if (viewer.empty()) return nullptr;

    // No shell: the path goes to the viewer as one argument, whatever it holds.
    std::string arg0 = "xdg-open";
    std::string arg1 = path;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, viewer.c_str(), nullptr, nullptr, argv, environ) != 0) return nullptr;
    // Reaped in the background so it leaves no zombie; nobody waits for it.
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // The viewer is up all the same; it only stays a zombie once it ends.
    }
    return reinterpret_cast<HWND>(g_nextViewerWindow.fetch_add(4));
}

}  // namespace

HtmlHelpHandler SetHtmlHelpHandler(HtmlHelpHandler handler) {
    auto next = handler ? std::make_shared<const HtmlHelpHandler>(std::move(handler)) : nullptr;
    auto& slot = Slot();
    std::lock_guard lock(slot.mutex);
    auto previous = std::exchange(slot.handler, std::move(next));
    return previous ? *previous : HtmlHelpHandler();
}

}  // namespace Platform

HWND HtmlHelpW(HWND caller, LPCWSTR file, UINT command, DWORD_PTR data) {
    using namespace Platform;
    std::shared_ptr<const HtmlHelpHandler> handler;
    {
        auto& slot = Slot();
        std::lock_guard lock(slot.mutex);
        handler = slot.handler;
    }
    try {
        return handler ? (*handler)(caller, file, command, data) : OpenWithDesktopViewer(caller, file, command, data);
    } catch (...) {
        // Help that fails to open is no reason to end the caller.
        return nullptr;
    }
}

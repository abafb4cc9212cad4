#include "Platform/Paths.h"

#include "Utf.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace Platform {
namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Joins the components of a rooted path below `base`, resolving "." and
// ".." without climbing above `base`.
std::string JoinBelow(std::string base, std::u16string_view rest) {
    std::vector<std::u16string_view> parts;
    std::size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && IsSeparator(rest[i])) ++i;
        std::size_t end = i;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        const auto part = rest.substr(i, end - i);
        i = end;
        if (part.empty() || part == u".") continue;
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    for (auto part : parts) {
        base += '/';
        base += Utf16ToUtf8(part);
    }
    return base;
}

}  // namespace

std::string MachineRoot() {
    if (auto root = Env("VELMO_MACHINE_ROOT"); !root.empty()) return StripTrailingSlashes(root);
    if (auto home = Env("HOME"); !home.empty()) return StripTrailingSlashes(home) + "/.velmo-machine";
    return "/tmp/velmo-machine";
}

std::string MapPath(LPCWSTR windowsPath) {
    if (windowsPath == nullptr) return {};
    std::u16string_view path(windowsPath);

    if (path.starts_with(u"\\\\?\\UNC\\")) {
        path.remove_prefix(8);
        return JoinBelow(MachineRoot() + "/unc", path);
    }
    if (path.starts_with(u"\\\\?\\")) path.remove_prefix(4);

    const bool driveForm = path.size() >= 2 && path[1] == u':' &&
                           ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    if (driveForm) {
        const char drive = static_cast<char>(path[0] | 0x20);
        return JoinBelow(MachineRoot() + '/' + drive, path.substr(2));
    }
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        // The server and share are the floor that ".." cannot climb above.
        std::u16string_view rest = path.substr(2);
        std::string base = MachineRoot() + "/unc";
        for (int level = 0; level < 2; ++level) {
            while (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
            std::size_t end = 0;
            while (end < rest.size() && !IsSeparator(rest[end])) ++end;
            if (end == 0) break;
            base = JoinBelow(base, rest.substr(0, end));
            rest.remove_prefix(end);
        }
        return JoinBelow(base, rest);
    }
    if (!path.empty() && path[0] == u'\\') return JoinBelow(MachineRoot() + "/c", path);

    // Native or relative: only the separators change.
    std::string out = Utf16ToUtf8(path);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::string ProgramFile() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ProgramDirectory() {
    std::string file = ProgramFile();
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

}  // namespace Platform

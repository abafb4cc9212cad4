// Resource modules: what a module handle offers besides code. A module gets
// its resources from one of
//   - a table registered in process under the module's name (tests, and
//     libraries that carry their own resources: a library that registers
//     under its own name during loading keeps that table);
//   - a resource text file "<Name>.rc.txt" beside the program, for a
//     resource-only module such as a language library ("ORVRES.DLL" ->
//     ORVRES.rc.txt).
// The program's own resources (null module handle) are a table registered
// with RegisterMainResources.
//
// Resource text file format (UTF-8, a byte order mark is skipped):
//   - one entry per line, lines end with LF or CR LF;
//   - blank lines and lines whose first non-blank character is '#' are
//     ignored;
//   - STRING <id> "<text>"   a string table entry; <id> is decimal, 0 to
//     65535, and unique in the file; after the closing quote only blanks and
//     an optional '#' comment may follow;
//   - escapes in <text>: \\  \"  \n  \r  \t  \uXXXX (4 hex digits)  and
//     \UXXXXXXXX (8 hex digits); escaped code points must not be surrogates
//     or NUL and must not exceed U+10FFFF;
//   - raw control characters other than tab are not allowed in <text>; a
//     text is at most 65535 UTF-16 units.
// Anything else is an error naming the file and line.
#pragma once

#include "Platform/Win32.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

namespace Platform {

struct ResourceTable {
    std::map<UINT, std::u16string> strings;
    // Binary resources by type name and id. Dialog templates join this
    // table when the dialog layer needs them.
    std::map<std::pair<std::u16string, UINT>, std::vector<std::uint8_t>> binaries;
};

// Ends its registration when destroyed. Modules already loaded from it keep
// their table until they are freed.
class ResourceRegistration {
public:
    ResourceRegistration() = default;
    explicit ResourceRegistration(std::uint64_t token) : token_(token) {}
    ResourceRegistration(ResourceRegistration&& other) noexcept : token_(std::exchange(other.token_, 0)) {}
    ResourceRegistration& operator=(ResourceRegistration&& other) noexcept;
    ~ResourceRegistration();
    void Reset();

private:
    std::uint64_t token_ = 0;
};

// Registers resources under a module name ("ORVRES.DLL"; case does not
// matter, a name without extension means ".DLL"). A later registration of
// the same name hides an earlier one while it lasts.
[[nodiscard]] ResourceRegistration RegisterResourceModule(std::u16string_view moduleName, ResourceTable table);
// The program's own resources, read through a null module handle.
[[nodiscard]] ResourceRegistration RegisterMainResources(ResourceTable table);

// The handle of the program's own module; LoadStringW reads the same
// resources through it as through a null handle.
HINSTANCE MainModuleHandle();

// The resources of a loaded module (null handle: the program's own); null
// when it has none or the handle is not a loaded module.
std::shared_ptr<const ResourceTable> GetModuleResources(HMODULE module);

class ResourceFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses the resource text format; `sourceName` prefixes error messages.
// Throws ResourceFileError.
ResourceTable ParseResourceText(std::string_view text, const std::string& sourceName);
// Reads and parses a resource text file (at most 16 MiB).
ResourceTable LoadResourceFile(const std::string& path);

}  // namespace Platform

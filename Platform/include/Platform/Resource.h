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
//     text is at most 65535 UTF-16 units;
//   - a dialog template is a block
//         DIALOG <id> <width> <height> "<caption>" [CHILD] [VISIBLE] [RTL]
//             <KIND> <id> "<text>" <x> <y> <width> <height> [<flag> ...]
//             ...
//         END
//     with sizes and positions in dialog units (0 to 32767; a dialog is at
//     least 1 x 1); <id> of a dialog is unique in the file; a control id is
//     0 to 65535, or -1 for 65535 (a label nobody addresses). CHILD makes a
//     child-style dialog (a pane inside another window), else a popup with a
//     caption. Kinds: PUSHBUTTON DEFPUSHBUTTON CHECKBOX RADIOBUTTON GROUPBOX
//     LTEXT CTEXT RTEXT EDITTEXT COMBOBOX (a drop-down list) LISTVIEW (a
//     report view) IPADDRESS ETCHEDLINE PICTURE PROGRESS. Flags: GROUP TABSTOP
//     NOTABSTOP DISABLED HIDDEN PASSWORD READONLY NUMBER SINGLESEL
//     SHOWSELALWAYS RTL; buttons, edits, combo boxes and lists are tab
//     stops unless NOTABSTOP is given;
//   - BINARY <type> <id> <hex>   bytes of a binary resource (an icon, a
//     picture): <type> is 1 to 32 letters, digits or '_' (kept in upper
//     case: "gif" and "GIF" agree), <id> is 0 to 65535, <hex> groups of an
//     even number of hex digits; further BINARY lines of the same type and id directly
//     after it append to its bytes (at most 16 MiB in all).
// Anything else is an error naming the file and line.
#pragma once

#include "Platform/Win32.h"
#include "Platform/WindowStyles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

// Binary resources of a loaded module (null: the program's own). A name or
// type is either an integer made with MAKEINTRESOURCEW, or text: a name
// "#110" means the integer 110, a type is matched without regard to case
// (an integer type is its decimal text). The data stays valid while the
// module is loaded; nothing needs freeing.
struct HRSRC__;
using HRSRC = HRSRC__*;
inline bool IS_INTRESOURCE(LPCWSTR name) {
    return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}
inline LPWSTR MAKEINTRESOURCEW(WORD id) {
    return reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(id));
}
// A dialog template: LockResource gives a const Platform::DialogTemplate*.
inline const LPWSTR RT_DIALOG = MAKEINTRESOURCEW(5);
// Null with ERROR_RESOURCE_TYPE_NOT_FOUND or ERROR_RESOURCE_NAME_NOT_FOUND.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL resource);

namespace Platform {

// One control of a dialog template; position and size in dialog units.
struct DialogItemTemplate {
    std::u16string windowClass;  // WC_BUTTON, WC_EDIT, ... (WindowStyles.h)
    UINT id = 0;
    std::u16string text;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;  // WS_*, BS_*, ES_*, SS_*, CBS_*, LVS_* bits
    DWORD exStyle = 0;
};

struct DialogTemplate {
    std::u16string caption;
    int cx = 0, cy = 0;  // dialog units
    DWORD style = 0;     // WS_CHILD | DS_CONTROL for a pane, else WS_POPUP | WS_CAPTION
    DWORD exStyle = 0;
    std::vector<DialogItemTemplate> items;  // in tab order
};

struct ResourceTable {
    std::map<UINT, std::u16string> strings;
    std::map<UINT, DialogTemplate> dialogs;
    // Binary resources by type name (upper case) and id.
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

// The dialog template `id` of a loaded module (null handle: the program's
// own); null when there is none. The result keeps the module's table alive.
std::shared_ptr<const DialogTemplate> FindDialogTemplate(HMODULE module, UINT id);

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

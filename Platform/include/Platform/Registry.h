// The registry of the simulated machine: predefined roots, keys and typed
// values, with the Win32 calls the system makes on them and the fixture
// calls tests use to seed and inspect it.
//
// Keys and value names compare without regard to case (ASCII and Latin-1
// letters); the case a key or value was created with is kept. Values hold
// exactly the bytes they were set with: a string stored without its
// terminating zero is read back without it.
//
// Access follows the machine's user (Machine::SetUserIsAdministrator): an
// administrator may do anything; an ordinary user may read everywhere but
// write only under HKEY_CURRENT_USER. Asking for a right the user does not
// have fails the open with ERROR_ACCESS_DENIED, and a handle only does what
// it was opened for.
#pragma once

#include "Platform/Win32.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

// The predefined roots, sign-extended as on a 64-bit system.
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000000u)));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000001u)));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000002u)));
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000003u)));
inline const HKEY HKEY_CURRENT_CONFIG = reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000005u)));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD READ_CONTROL = 0x00020000;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
constexpr DWORD STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr DWORD STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD MAXIMUM_ALLOWED = 0x02000000;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM KEY_WRITE = STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                                  KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK;

// RegCreateKeyExW options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Errors of the registry calls.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_CANTWRITE = 1013;
constexpr DWORD ERROR_REGISTRY_CORRUPT = 1015;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// The registry calls return their error (they leave GetLastError alone).
// A handle names a key by its path: a key removed while open makes every
// call on the handle fail with ERROR_KEY_DELETED.
//
// RegOpenKeyExW: a null or empty subKey opens hKey again (a predefined root
// gives itself back). A subKey starting with "\" is ERROR_BAD_PATHNAME; a
// missing key ERROR_FILE_NOT_FOUND. On failure *result is null.
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
// Opens the key, creating it and any missing parents. Creating needs write
// access to where the key goes: an ordinary user cannot create keys outside
// HKEY_CURRENT_USER, whatever access is asked for. Key names are 1 to 255
// characters, printable (no control characters).
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options, REGSAM desired,
                        const void* securityAttributes, PHKEY result, LPDWORD disposition);
// Size protocol: *dataSize is the buffer's size in bytes on entry and the
// value's size on return. Null data asks for the size only (ERROR_SUCCESS).
// A buffer too small gives ERROR_MORE_DATA with the needed size and leaves
// the buffer alone. String values count their terminating zero(s) as stored.
// *type is set whenever the value exists.
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
// Stores dataSize bytes as they are; string data must carry its own zero.
LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName);
// Closing a predefined root succeeds and does nothing.
LSTATUS RegCloseKey(HKEY hKey);

namespace Platform {

// One typed registry (or printer data) value: its type and its bytes.
struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    // UTF-16 text with one terminating zero, as a program stores REG_SZ.
    static RegValue String(std::u16string_view text, DWORD type = REG_SZ);
    // Each text with its zero, then one more zero.
    static RegValue MultiString(const std::vector<std::u16string>& texts);
    static RegValue Dword(DWORD value);
    static RegValue Qword(std::uint64_t value);
    static RegValue Binary(std::vector<BYTE> bytes);

    // The text of a string value up to its first zero (or its end); nullopt
    // when the type is not a string type.
    std::optional<std::u16string> Text() const;
    std::optional<DWORD> AsDword() const;  // REG_DWORD of exactly 4 bytes

    bool operator==(const RegValue&) const = default;
};

// The registry's name of a predefined root ("HKEY_LOCAL_MACHINE"), empty
// for anything else.
std::u16string RootName(HKEY root);

// The form names are compared in: ASCII and Latin-1 letters in lower case.
std::u16string FoldName(std::u16string_view name);

// A value with the name it was created with; kept in maps by folded name.
struct NamedValue {
    std::u16string name;
    RegValue value;
    bool operator==(const NamedValue&) const = default;
};
using NamedValues = std::map<std::u16string, NamedValue>;

struct RegistryKeyData {
    // From the root's name, as created: "HKEY_LOCAL_MACHINE\SOFTWARE\Velmo".
    std::u16string path;
    NamedValues values;
    bool operator==(const RegistryKeyData&) const = default;
};

// The whole registry, by folded full path. The predefined roots are always
// there; a key's parents are always there too.
struct RegistryData {
    RegistryData();
    std::map<std::u16string, RegistryKeyData> keys;
    bool operator==(const RegistryData&) const = default;
};

class Machine;

// The registry as a whole: fixture calls for tests (they ignore access
// rights and never fail on a missing parent) and the state behind the
// Reg... calls. keyPath is relative to a predefined root, "\"-separated.
class SystemRegistry {
public:
    explicit SystemRegistry(Machine& machine);
    ~SystemRegistry();
    SystemRegistry(const SystemRegistry&) = delete;
    SystemRegistry& operator=(const SystemRegistry&) = delete;

    // Every key and value removed, every handle closed, no file bound.
    void Reset();

    // Creates the key and its parents. Throws std::invalid_argument for a
    // root that is not predefined or a malformed path.
    void CreateKey(HKEY root, std::u16string_view keyPath);
    // Removes the key with everything below it; false when it was missing.
    bool DeleteKey(HKEY root, std::u16string_view keyPath);
    bool KeyExists(HKEY root, std::u16string_view keyPath) const;
    // Creates the key when needed.
    void SetValue(HKEY root, std::u16string_view keyPath, std::u16string_view valueName, RegValue value);
    void SetString(HKEY root, std::u16string_view keyPath, std::u16string_view valueName, std::u16string_view text);
    void SetDword(HKEY root, std::u16string_view keyPath, std::u16string_view valueName, DWORD value);
    std::optional<RegValue> GetValue(HKEY root, std::u16string_view keyPath, std::u16string_view valueName) const;
    bool DeleteValue(HKEY root, std::u16string_view keyPath, std::u16string_view valueName);
    // Names of the direct subkeys and of the values, as created, in name order.
    std::vector<std::u16string> SubkeyNames(HKEY root, std::u16string_view keyPath) const;
    std::vector<std::u16string> ValueNames(HKEY root, std::u16string_view keyPath) const;

    // Key handles open now (predefined roots are not counted).
    std::size_t OpenKeyCount() const;

    // A copy of the whole registry, and replacing it (loading a machine).
    RegistryData Snapshot() const;
    void Replace(RegistryData data);

    // Keeps the registry in this file: it is read again whenever another
    // program changed it, and written (under the machine's file lock) on
    // every change. An empty path ends the binding. Throws MachineFileError
    // when the file exists and is malformed.
    void BindFile(const std::string& path);

    // For the Reg... calls.
    LSTATUS Open(HKEY parent, LPCWSTR subKey, REGSAM desired, bool create, PHKEY result, LPDWORD disposition);
    LSTATUS Query(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD dataSize);
    LSTATUS Set(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD dataSize);
    LSTATUS Delete(HKEY key, LPCWSTR valueName);
    LSTATUS Close(HKEY key);

private:
    struct State;
    std::unique_ptr<State> state_;
    Machine& machine_;
};

}  // namespace Platform

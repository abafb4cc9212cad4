// The simulated machine kept on disk, so that separate programs see one
// machine. The machine folder (Platform::MachineRoot() by default) holds
// readable text files a person may edit:
//
//   registry.txt   keys and values
//   spooler.txt    monitors, ports, print queues
//   machine.txt    settings of the machine's user
//   drivers.txt    the driver store and colour profile associations
//   docks.txt      the docks the dock simulator serves (Platform/DockLink.h)
//   .machine.lock  taken (flock) by a program while it writes
//
// Format (UTF-8, one statement a line; blank lines and lines whose first
// non-blank character is '#' are ignored):
//
//   registry.txt
//     [HKEY_LOCAL_MACHINE\SOFTWARE\Velmo\HV7300]       a key (parents implied)
//     "InstallPath" = REG_SZ "C:\\Program Files\\Velmo"
//
//   spooler.txt
//     [monitor "Velmo wireless printer port"]
//     environment = "Windows NT x86"
//     library = "ORVPM.DLL"
//     [port "WLP001:"]                       ids, device and address optional
//     vendor = 0x3b7d
//     product = 0x4104
//     device = "{guid}"
//     address = "ptp://host:1234"
//     [printer "Velmo HV7300"]
//     port = "USB001"
//     driver = "Velmo HV7300"
//     processor = "winprint"
//     attributes = 0x00000a40
//     access = "EVERYONE" grant 0x001fffff 0x1    DACL entries, in order
//     data "PrinterDriverData" "CC_INDEX" = REG_DWORD 3
//
//   machine.txt
//     administrator = true
//     version = 10.0.19045                              what GetVersionExW reports
//     servicepack = "Service Pack 3"                    (optional)
//     network = "Office" channel 6 wpa "pass phrase"    an access point around the
//     network = "Cafe" channel 1 open                   machine, one line each;
//                                                       security open, wep "key 1"
//                                                       (64 or 128 bits by its length)
//                                                       or wpa "passphrase" (AES)
//
//   drivers.txt
//     [driver "Velmo HV7300"]                          a package, by description
//     inf = "C:\\Windows\\INF\\oem3.inf"
//     section = "HV7300"
//     hardwareid = "USBPRINT\\Velmo_HV73007A1F"         one line per id
//     file = "C:\\Windows\\System32\\spool\\COLOR\\hv.icm"   one line per target file
//     associate "hv.icm" "Velmo HV7300"                 a profile and its device
//
// Values: a type (REG_SZ, REG_EXPAND_SZ, REG_LINK, REG_MULTI_SZ, REG_DWORD,
// REG_QWORD, REG_BINARY, REG_NONE, REG_DWORD_BIG_ENDIAN, or a number), then
//   "text"                  string types: the text and one terminating zero
//   unterminated "text"     string types: the text alone
//   "a", "b"                REG_MULTI_SZ: each text with its zero, then a zero
//   3 or 0x00000003         REG_DWORD (4 bytes) and REG_QWORD (8 bytes)
//   hex 01 02 ff            any type: the bytes as they are
// Quoted texts take \\ \" \n \r \t \0 and \uXXXX (one UTF-16 unit, so lone
// surrogates survive); other control characters must be escaped.
#pragma once

#include "Platform/DriverStore.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Registry.h"
#include "Platform/Spooler.h"
#include "Platform/Wireless.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// "file:line: reason".
class MachineFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// For messages that quote a damaged file: control characters and bytes that
// are no UTF-8 become \xNN, so that none reaches a terminal raw. Backslashes
// right before such an escape or an 'x' are doubled, so that the text \x1b
// reads apart from an escaped ESC.
std::string EscapeControlCharacters(std::string_view text);

struct MachineSettings {
    bool administrator = true;
    OsVersion version;
    // In range, infrastructure mode, each a radio of its own.
    std::vector<AccessPoint> networks;
    bool operator==(const MachineSettings&) const = default;
};

// The text forms. Parsers throw MachineFileError naming `sourceName` and
// the line; formatting then parsing gives back the same data.
RegistryData ParseRegistryText(std::string_view text, const std::string& sourceName);
std::string FormatRegistryText(const RegistryData& data);
SpoolerData ParseSpoolerText(std::string_view text, const std::string& sourceName);
std::string FormatSpoolerText(const SpoolerData& data);
DriverStoreData ParseDriverStoreText(std::string_view text, const std::string& sourceName);
std::string FormatDriverStoreText(const DriverStoreData& data);
MachineSettings ParseMachineSettingsText(std::string_view text, const std::string& sourceName);
std::string FormatMachineSettingsText(const MachineSettings& settings);

// Programs call this once at start: the machine is read from the folder
// (missing files are an empty registry and spooler and no docks) and stays
// bound to it; the docks are plugged in here, and each walk of the USB tree
// plugs in and pulls out those attached or detached since (docks.txt).
// From then on every registry and spooler call reads a file again when
// another program has changed it, and every change is written back at once
// under the folder's lock, so programs never undo each other's changes.
// Throws MachineFileError for a malformed file, std::runtime_error when a
// file cannot be read. A file broken by hand later makes the calls fail
// (ERROR_REGISTRY_CORRUPT for the registry) rather than lose it.
void LoadMachine(const std::string& folder = MachineRoot());
// The start of a program on the machine kept on disk: "--help" or "-h" as
// its first argument prints the usage; otherwise the machine is loaded, and
// a failure is told on standard error under the program's name. Returns the
// status to end with, or nullopt when the program goes on.
std::optional<int> StartProgram(int argc, char** argv, const char* name, const char* usage);
// Writes the machine as it is now into a folder (created when missing),
// e.g. to seed a demo machine from one built by fixture calls. Throws
// std::runtime_error when it cannot.
void SaveMachine(const std::string& folder = MachineRoot());

}  // namespace Platform

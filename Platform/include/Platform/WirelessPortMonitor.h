// The port monitor of the maker's wireless printers, as the simulated
// machine offers it under the library name "ORVPM.DLL". Programs reach it
// only through the spooler's transceive channel (OpenPrinterW of
// ",XcvMonitor <name>", XcvDataW). Its commands:
//
//   "AddPort"         input: the 520-byte port record (XcvPortRecord.h).
//                     Adds port "WLPnnn:" (the lowest free number) keeping
//                     the record's ids, device name and address; a port of
//                     the same device name and address is answered again
//                     instead. Output: the port name, UTF-16 with NUL.
//   "AddDefaultPort"  as "AddPort", for the one port "WLP000:".
//   "PortExists"      input: a port name, UTF-16 with NUL. Output: a DWORD,
//                     1 when the spooler has the port.
//   "DeletePort"      input: a port name. Removes one of this monitor's
//                     ports: ERROR_UNKNOWN_PORT when there is none,
//                     ERROR_BUSY when a queue uses it.
//
// Input of the wrong size or form: ERROR_INVALID_PARAMETER. An output
// buffer smaller than the answer: ERROR_INSUFFICIENT_BUFFER with *needed
// (the port is added all the same, and answered again on the retry). An
// unknown command: ERROR_NOT_SUPPORTED.
#pragma once

#include "Platform/PrintMonitor.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

inline constexpr std::u16string_view kWirelessPortMonitorLibrary = u"ORVPM.DLL";

// The monitor's table: the Xcv entries only.
const MONITOR& WirelessPortMonitor();

// One command the monitor received.
struct XcvCall {
    std::u16string command;
    std::vector<BYTE> input;
    DWORD outputSize = 0;
    DWORD status = 0;
    DWORD needed = 0;
};

// Tests: what the monitor received (the latest 256 commands), its open
// transceive handles, and
// knobs that make it misbehave. All are cleared with the machine.
std::vector<XcvCall> WirelessPortMonitorCalls();
std::size_t WirelessPortMonitorOpenHandles();
// Every command answers this status and does nothing else.
void ForceWirelessPortMonitorStatus(std::optional<DWORD> status);
// "AddPort" and "AddDefaultPort" ask for at least this many bytes (odd
// counts included).
void ForceWirelessPortMonitorNeeded(std::optional<DWORD> needed);
// "AddPort" and "AddDefaultPort" answer ERROR_INSUFFICIENT_BUFFER whatever
// the buffer.
void SetWirelessPortMonitorAlwaysShort(bool alwaysShort);
void ResetWirelessPortMonitor();

}  // namespace Platform

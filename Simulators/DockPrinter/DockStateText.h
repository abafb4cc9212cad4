// A dock's state as a readable text file, so that the dock simulator keeps
// what programs changed across its restarts and a person can look at it:
//
//   guid = "5D0C27A8-..."          mac = "00:1B:..."        pin = "1234"
//   firmware = "3.01"              the version its device id reports
//   bluetooth = on                 bluetooth-name = "Glimmer Dock"
//   bluetooth-pin-required = off   linkwise = off
//   paired = "Phone"               one line a paired device, in order
//   [profile 1]                    then its settings:
//     country, domain, name, friendly-name, default-host (texts),
//     mode (infrastructure|adhoc), ssid, channel, network (open|shared|wpa-psk),
//     data (none|wep-64bit|wep-128bit|tkip|aes), keys (none|wep|wpa), wep1..wep4, wpa-key,
//     ip (auto|static), address, mask, gateway
//
// One statement a line; blank lines and '#' comments are skipped; texts
// are double-quoted with \\ and \" escapes. Configuration mode is not kept:
// a restarted dock starts outside it.
#pragma once

#include "Simulators/DockPrinter/DockState.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace Simulators::Dock {

// "source:line: reason".
class StateTextError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

PrinterState ParseStateText(std::string_view text, const std::string& sourceName);
std::string FormatStateText(const PrinterState& state);

// Where the dock simulator keeps a dock's state: docks/<serial>.txt in the
// machine folder.
std::string StatePath(const std::string& machineFolder, const std::string& serial);

}  // namespace Simulators::Dock

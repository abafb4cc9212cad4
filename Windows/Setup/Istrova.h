// The setup library's entry points, as the product's installer calls them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Platform/Win32.h"

extern "C" {
// Starts the setup assistant with the command line; does not wait for it.
// The result is that of starting the program (FALSE for a command too long).
BOOL CustomSetup(HWND window, HINSTANCE instance, LPSTR commandLine, int show);
// Installs the family's USB printer as a print queue; any failure ends it
// quietly, leaving what was made before.
void StandAloneSetup(void* unused);
// Asks the port monitor for its default port. FALSE when the monitor cannot
// be reached or refuses.
BOOL Compare(void* unused);
}

namespace Istrova {

// The fixed identity of the printer StandAloneSetup installs.
inline constexpr unsigned kProductId = 0x4104;
inline constexpr std::u16string_view kDeviceGuid = u"Temp GUID";

// The colour profiles (file names) the INF section installs.
std::vector<std::u16string> ColourProfilesOf(const std::u16string& infFile, const std::u16string& section);

// StandAloneSetup's steps, throwing what the first failing one throws.
void InstallStandAlonePrinter();

}  // namespace Istrova

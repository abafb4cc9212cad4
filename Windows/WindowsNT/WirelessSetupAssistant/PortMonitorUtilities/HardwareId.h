// The hardware id a USB printer of the family reports, computed from its
// manufacturer and model texts, so an installed driver can be found before
// the printer was ever plugged in. Driver packages list ids exactly as
// computed here, so the checksum must not be "corrected".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace PortMonitorUtilities {

// The checksum of the id (a nibble-wise CRC-16 over reflected 0xA001 whose
// high table has 0x4600 for 0xF0).
std::uint16_t HardwareIdCrc(std::span<const unsigned char> bytes);

// "USBPRINT\" + the first 20 units of manufacturer + model with blanks as
// "_" + the checksum of the whole text in the ANSI code page, upper-case
// hex without leading zeros. Throws PortMonitorException(87) when the text
// has a character the code page lacks.
std::u16string MakeHardwareId(std::u16string_view manufacturer, std::u16string_view model);

}  // namespace PortMonitorUtilities

// Finds the installed driver for a printer that need not be plugged in: a
// temporary printer-class device node carrying its hardware id lets the
// class installer pick the best compatible driver, and is removed again.
#pragma once

#include <string>

namespace PortMonitorUtilities {

struct DriverInfo {
    std::u16string infFile;
    std::u16string section;
    std::u16string description;  // the driver name a queue uses
};

// Throws PortMonitorException: 31 when no driver serves the id or a step
// fails, 8 when memory runs out. The temporary node and the device list are
// gone afterwards whatever happened.
DriverInfo FindDriver(const std::u16string& hardwareId, const std::u16string& modelName);

}  // namespace PortMonitorUtilities

// Print queues for USB printers as plug and play makes them: the queue
// prints to the printer's USB port and keeps, as the value
// "DeviceInstanceId" under the key "PnPData", the instance id of the printer
// node it was made for.
#pragma once

#include "Platform/SetupApi.h"

#include <string>
#include <string_view>

namespace Platform {

// The USB port the print monitor opens for the printing function of a
// present USB device: "USB001" for the first present printing interface,
// and so on. Throws std::invalid_argument when the device has none.
std::u16string UsbPrinterPortName(DEVINST device);

// The instance id of the printer node ("USBPRINT\...") below the device's
// printing function. Throws std::invalid_argument when there is none.
std::u16string UsbPrinterInstanceId(DEVINST device);

// Adds a queue for the printer on the device (a fixture call, as
// PrintSpooler::AddPrinter) and returns its port. Throws
// std::invalid_argument as the two lookups above, or for a name that is
// invalid or taken.
std::u16string AddUsbPrinterQueue(std::u16string_view name, std::u16string_view driver, DEVINST device);

}  // namespace Platform

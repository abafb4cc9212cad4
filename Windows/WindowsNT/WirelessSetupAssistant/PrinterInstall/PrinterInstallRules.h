// What the setup assistant and the setup library share about installing a
// printer of the family: the port monitor's names and commands, the printer
// identities, the error they throw, and the steps that need no machine
// (printer names, bounded texts, the transceive buffer's growth).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Common/Headers/XcvPortRecord.h"
#include "PortMonitorException.h"

namespace PortMonitorUtilities {

inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorMonitorAlreadyInstalled = 3006;

// The monitor both programs install and talk to. The setup library used to
// open another name, which no installed monitor answers.
inline constexpr std::u16string_view kMonitorName = u"Velmo wireless printer port";
inline constexpr std::u16string_view kMonitorLibrary = u"ORVPM.DLL";
inline constexpr std::u16string_view kMonitorEnvironment = u"Windows NT x86";
inline constexpr std::u16string_view kXcvMonitorOpenName = u",XcvMonitor Velmo wireless printer port";
inline constexpr std::u16string_view kPrintProcessor = u"winprint";
// PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST | PRINTER_ATTRIBUTE_ENABLE_BIDI
inline constexpr std::uint32_t kPrinterAttributes = 0xA40;

// The monitor's command and value names; only "AddPort" and "AddDefaultPort"
// are sent.
inline constexpr std::u16string_view kCommandAddPort = u"AddPort";
inline constexpr std::u16string_view kCommandAddDefaultPort = u"AddDefaultPort";
inline constexpr std::array<std::u16string_view, 19> kMonitorNames = {u"MonitorUI",
                                                                      u"AddPort",
                                                                      u"DeletePort",
                                                                      u"PrinterSupported",
                                                                      u"GetAvailablePort",
                                                                      u"PortExists",
                                                                      u"ConfigPort",
                                                                      u"GetConfigInfo",
                                                                      u",XcvPort ",
                                                                      u"ORVPMUI.dll",
                                                                      u"Ports",
                                                                      u"VID",
                                                                      u"PID",
                                                                      u"GUID",
                                                                      u"ptp Device Name",
                                                                      u"printer wireless port",
                                                                      u"PnPData",
                                                                      u"DeviceInstanceId",
                                                                      u"HardwareID"};

inline constexpr std::uint32_t kVendorId = 0x3B7D;
inline constexpr std::u16string_view kManufacturer = u"Velmo ";
// Used when the printer description has no record for the printer.
inline constexpr std::u16string_view kDefaultDisplayName = u"Velmo Glimmer Dock";

struct ModelName {
    std::uint32_t productId;
    std::u16string_view name;
};
inline constexpr std::array<ModelName, 3> kModels = {
    {{0x4104, u"Glimmer Dock Wireless"}, {0x410A, u"Glimmer Photo 4"}, {0x410B, u"Glimmer Photo 6 Studio"}}};
// The model name for a product id; an unknown one takes the first row's.
std::u16string_view ModelNameFor(std::uint32_t productId);

// How a taken printer name is varied: the assistant's "%ws (Copy %d)" counts
// up while the candidate is taken; the library's "%ws (copy %d)" takes the
// first free number. Both compare without regard to case.
enum class CopyPattern { Assistant, Library };
std::u16string UniquePrinterName(std::u16string_view base, const std::vector<std::u16string>& existing,
                                 CopyPattern pattern);

// A resolved host name with ".local." cut at its last occurrence.
std::u16string HostWithoutLocalDomain(std::u16string_view host);

// A USB serial as the device name "{serial}" in a field of fieldUnits units:
// cut so that the braces and the NUL still fit.
std::u16string BracedSerial(std::u16string_view serial, std::size_t fieldUnits);

// The record of a printer announced on the network: "{guid}" and
// "ptp://host:port", the host without its local domain. Nothing when the
// host or guid is empty, an id is zero, or a text does not fit its field.
std::optional<XcvPortRecord> NetworkPortRecord(std::uint32_t vendorId, std::uint32_t productId,
                                               std::u16string_view guid, std::u16string_view host, std::uint16_t port);
// The record of a printer found on USB: "{serial}", cut to fit, no address.
XcvPortRecord UsbPortRecord(std::uint32_t vendorId, std::uint32_t productId, std::u16string_view serial);

// The transceive output buffer for a size the monitor asked for: whole UTF-16
// units rounded up, and one more for a terminator the monitor may not write.
std::size_t XcvOutputUnits(std::uint32_t bytesAsked);
// How often a command is repeated with a larger buffer before the step fails.
inline constexpr int kXcvMaxRetries = 8;

// True when the file name's extension after its last "." is "icm", in any
// case.
bool IsColourProfile(std::u16string_view fileName);
// The last component of a Windows path.
std::u16string_view LastPathComponent(std::u16string_view path);

bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace PortMonitorUtilities

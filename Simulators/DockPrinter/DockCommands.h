// The dock's command engine: reads one request document, applies it to the
// printer state and writes the answer document. Knows nothing of framing.
#pragma once

#include "Simulators/DockPrinter/DockState.h"
#include "Simulators/DockPrinter/DockXml.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Simulators::Dock {

inline constexpr const char* kDockConfigRoot = "dockConfig";
inline constexpr const char* kBluetoothDockConfigRoot = "bluetoothDockConfig";

// Result codes the dock puts in "result" attributes.
inline constexpr int kResultOk = 0;
inline constexpr int kResultInvalidValue = 1;    // a PIN that is not 4 digits, keys that do not fit the security
inline constexpr int kResultUnknownProfile = 2;  // setProfileData for an id the dock does not have (when refused)

// A request whose shape the dock does not accept: malformed XML, another
// root, a version other than "1.0", an unknown command or one not offered
// under that root, unknown or missing elements and attributes.
class RequestError : public XmlError {
public:
    using XmlError::XmlError;
};

struct Request {
    std::string root;
    std::string command;
    XmlElement document;
};

// Throws RequestError for anything but a well-formed request with one
// known command under a root that offers it.
Request ParseRequest(std::string_view body);

enum class UnknownProfilePolicy { Add, Refuse };

struct ExecuteOptions {
    std::optional<int> result;  // forces the "result" attribute; the change is then not applied
    UnknownProfilePolicy unknownProfiles = UnknownProfilePolicy::Add;
    bool bluetoothResultAlias = false;  // answer setBluetoothProfileData with "setBluetoothProfileResponse"
};

struct Outcome {
    std::string body;  // the answer document
    bool restartedBluetooth = false;
};

// Applies the request to state and returns the answer under the request's
// root; a network scan reports inRange. Throws RequestError for payloads
// that do not have the expected shape; the state is then unchanged.
Outcome Execute(PrinterState& state, const Request& request, const ExecuteOptions& options,
                const std::vector<ScannedNetwork>& inRange = {});

// The element forms the dock writes; also used to build requests in tests.
void WriteProfile(XmlWriter& out, const Profile& profile);
void WriteWifi(XmlWriter& out, const WifiSettings& wifi, bool withKeys);
void WriteBluetoothProfile(XmlWriter& out, const BluetoothProfile& profile);

}  // namespace Simulators::Dock

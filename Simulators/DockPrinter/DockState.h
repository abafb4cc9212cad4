// What the simulated dock remembers: identity, PIN, stored Wi-Fi profiles,
// the Bluetooth side and whether the printer is in configuration mode. What
// a network scan finds comes from the machine's access points
// (DockNetwork.h). Plain values, UTF-8 text throughout.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Simulators::Dock {

enum class WifiMode { Infrastructure, Adhoc };
enum class NetworkMode { Open, Shared, WpaPsk };
enum class DataMode { None, Wep64, Wep128, Tkip, Aes };
// Which key material a security element carries.
enum class KeyKind { None, Wep, WpaPsk };

// The protocol's texts for the values above.
std::string_view ToText(WifiMode mode);
std::string_view ToText(NetworkMode mode);
std::string_view ToText(DataMode mode);
std::optional<WifiMode> WifiModeFromText(std::string_view text);
std::optional<NetworkMode> NetworkModeFromText(std::string_view text);
std::optional<DataMode> DataModeFromText(std::string_view text);

struct WifiSettings {
    WifiMode mode = WifiMode::Infrastructure;
    std::string ssid;
    int channel = 11;
    NetworkMode network = NetworkMode::Open;
    DataMode data = DataMode::None;
    KeyKind keys = KeyKind::None;
    std::array<std::string, 4> wepKeys;  // keys 1..4
    std::string wpaKey;

    bool operator==(const WifiSettings&) const = default;
};

struct IpSettings {
    bool automatic = true;
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;

    bool operator==(const IpSettings&) const = default;
};

struct Profile {
    int id = 0;
    std::string country;
    std::string domain;
    std::string profileName;
    WifiSettings wifi;
    IpSettings ip;
    std::string friendlyName;
    std::string defaultHostId;

    bool operator==(const Profile&) const = default;
};

struct BluetoothProfile {
    bool enabled = false;
    std::string friendlyName;
    bool requirePin = false;
    bool linkwise = false;
    std::vector<std::string> pairedDevices;  // device names, in the order the printer reports them

    bool operator==(const BluetoothProfile&) const = default;
};

// One network a scan sees; an access point may show more than one face.
struct ScannedNetwork {
    std::vector<WifiSettings> faces;

    bool operator==(const ScannedNetwork&) const = default;
};

struct PrinterState {
    std::string guid;
    std::string macAddress;  // empty: the printer reports it has none
    std::string pin;
    // The firmware version its device id reports (VER); see IsFirmwareText.
    std::string firmware = "3.01";
    std::map<int, Profile> profiles;  // by id; id 0 is the printer's own default profile
    BluetoothProfile bluetooth;
    unsigned bluetoothRestarts = 0;  // restartBluetooth requests carried out
    bool configMode = false;

    bool operator==(const PrinterState&) const = default;
};

// A version text fit for a device id: 1 to 63 printable ASCII characters,
// no blanks and none of them ';' or ':', which end or start a field there.
bool IsFirmwareText(std::string_view text);

// A dock as it comes out of the box: profile 0, Bluetooth on, PIN 1234.
PrinterState FactoryState();
// The same for the dock with that serial number, with a GUID and MAC
// address of its own that follow from the serial, so that docks on one
// network are told apart and a dock keeps them wherever it is attached.
PrinterState FactoryState(std::string_view serial);

// What a Wi-Fi dock holds besides "Default" when it leaves the factory: the
// profiles a person fills in, ids 1 to kBlankProfiles, named "Profile 1" and
// on, with no network yet.
constexpr int kBlankProfiles = 3;
void AddBlankProfiles(PrinterState& state);

}  // namespace Simulators::Dock

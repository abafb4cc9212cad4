#include "Simulators/DockPrinter/DockState.h"

namespace Simulators::Dock {

namespace {

constexpr std::string_view kWifiModes[] = {"infrastructure", "adhoc"};
constexpr std::string_view kNetworkModes[] = {"open", "shared", "wpa-psk"};
constexpr std::string_view kDataModes[] = {"none", "wep-64bit", "wep-128bit", "tkip", "aes"};

template <class E, std::size_t N>
std::optional<E> FromText(const std::string_view (&texts)[N], std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (texts[i] == text) return static_cast<E>(i);
    return std::nullopt;
}

}  // namespace

std::string_view ToText(WifiMode mode) {
    return kWifiModes[static_cast<int>(mode)];
}
std::string_view ToText(NetworkMode mode) {
    return kNetworkModes[static_cast<int>(mode)];
}
std::string_view ToText(DataMode mode) {
    return kDataModes[static_cast<int>(mode)];
}

std::optional<WifiMode> WifiModeFromText(std::string_view text) {
    return FromText<WifiMode>(kWifiModes, text);
}
std::optional<NetworkMode> NetworkModeFromText(std::string_view text) {
    return FromText<NetworkMode>(kNetworkModes, text);
}
std::optional<DataMode> DataModeFromText(std::string_view text) {
    return FromText<DataMode>(kDataModes, text);
}

PrinterState FactoryState() {
    PrinterState state;
    state.guid = "5D0C27A8-3B7D-410F-9E21-00A1B2C3D4E5";
    state.macAddress = "00:1B:3C:4D:5E:6F";
    state.pin = "1234";
    Profile& factory = state.profiles[0];
    factory.id = 0;
    factory.country = "US";
    factory.domain = "FCC";
    factory.profileName = "Default";
    factory.friendlyName = "Glimmer Dock";
    state.bluetooth.enabled = true;
    state.bluetooth.friendlyName = "Glimmer Dock";
    return state;
}

}  // namespace Simulators::Dock

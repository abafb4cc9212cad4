#include "Simulators/DockPrinter/DockState.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

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

bool IsFirmwareText(std::string_view text) {
    if (text.empty() || text.size() > 63) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F && c != ';' && c != ':'; });
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

PrinterState FactoryState(std::string_view serial) {
    // FNV-1a, mixed so that serials a digit apart share no bits.
    const auto hash = [serial](std::uint64_t h) {
        for (const char c : serial) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDu;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53u;
        return h ^ (h >> 33);
    };
    const std::uint64_t high = hash(0xCBF29CE484222325u);
    const std::uint64_t low = hash(high);
    PrinterState state = FactoryState();
    char text[40];
    // Marked as a GUID of our own making (version 8, RFC variant).
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(0x8000 | (high & 0x0FFF)),
                  static_cast<unsigned>(0x8000 | ((low >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFu));
    state.guid = text;
    // The maker's prefix of the factory address, then three bytes of the serial's.
    const std::uint64_t nic = hash(low);
    std::snprintf(text, sizeof text, "00:1B:3C:%02X:%02X:%02X", static_cast<unsigned>(nic >> 56),
                  static_cast<unsigned>((nic >> 48) & 0xFF), static_cast<unsigned>((nic >> 40) & 0xFF));
    state.macAddress = text;
    return state;
}

void AddBlankProfiles(PrinterState& state) {
    for (int id = 1; id <= kBlankProfiles; ++id) {
        Profile& blank = state.profiles[id];
        blank = Profile{};
        blank.id = id;
        blank.country = "US";
        blank.domain = "FCC";
        blank.profileName = "Profile " + std::to_string(id);
    }
}

}  // namespace Simulators::Dock

#include "Simulators/DockPrinter/DockNetwork.h"

#include <map>

namespace Simulators::Dock {

namespace {

WifiSettings FaceOf(const Platform::AccessPoint& a) {
    WifiSettings face;
    face.ssid = a.ssid;
    face.channel = a.channel;
    face.mode = a.mode == Platform::WifiMode::AdHoc ? WifiMode::Adhoc : WifiMode::Infrastructure;
    switch (a.authentication) {
        case Platform::WifiAuthentication::Open:
            face.network = NetworkMode::Open;
            break;
        case Platform::WifiAuthentication::Shared:
            face.network = NetworkMode::Shared;
            break;
        case Platform::WifiAuthentication::WpaPsk:
            face.network = NetworkMode::WpaPsk;
            break;
    }
    switch (a.encryption) {
        case Platform::WifiEncryption::None:
            face.data = DataMode::None;
            break;
        case Platform::WifiEncryption::Wep64:
            face.data = DataMode::Wep64;
            break;
        case Platform::WifiEncryption::Wep128:
            face.data = DataMode::Wep128;
            break;
        case Platform::WifiEncryption::Tkip:
            face.data = DataMode::Tkip;
            break;
        case Platform::WifiEncryption::Aes:
            face.data = DataMode::Aes;
            break;
    }
    return face;
}

Platform::AccessPoint AccessPointOf(const WifiSettings& face, unsigned radio) {
    Platform::AccessPoint a;
    a.ssid = face.ssid;
    a.channel = face.channel;
    a.mode = face.mode == WifiMode::Adhoc ? Platform::WifiMode::AdHoc : Platform::WifiMode::Infrastructure;
    switch (face.network) {
        case NetworkMode::Open:
            a.authentication = Platform::WifiAuthentication::Open;
            break;
        case NetworkMode::Shared:
            a.authentication = Platform::WifiAuthentication::Shared;
            break;
        case NetworkMode::WpaPsk:
            a.authentication = Platform::WifiAuthentication::WpaPsk;
            break;
    }
    switch (face.data) {
        case DataMode::None:
            a.encryption = Platform::WifiEncryption::None;
            break;
        case DataMode::Wep64:
            a.encryption = Platform::WifiEncryption::Wep64;
            break;
        case DataMode::Wep128:
            a.encryption = Platform::WifiEncryption::Wep128;
            break;
        case DataMode::Tkip:
            a.encryption = Platform::WifiEncryption::Tkip;
            break;
        case DataMode::Aes:
            a.encryption = Platform::WifiEncryption::Aes;
            break;
    }
    a.wepKeys = face.wepKeys;
    a.wpaKey = face.wpaKey;
    a.radio = radio;
    return a;
}

}  // namespace

std::vector<ScannedNetwork> ScanOf(const std::vector<Platform::AccessPoint>& inRange) {
    std::vector<ScannedNetwork> networks;
    std::map<unsigned, std::size_t> byRadio;
    for (const auto& a : inRange) {
        if (a.radio != 0) {
            auto [it, added] = byRadio.emplace(a.radio, networks.size());
            if (!added) {
                networks[it->second].faces.push_back(FaceOf(a));
                continue;
            }
        }
        networks.push_back({{FaceOf(a)}});
    }
    return networks;
}

std::vector<Platform::AccessPoint> AccessPointsOf(const std::vector<ScannedNetwork>& networks) {
    std::vector<Platform::AccessPoint> result;
    unsigned radio = 0;
    for (const auto& network : networks) {
        const unsigned shared = network.faces.size() > 1 ? ++radio : 0;
        for (const auto& face : network.faces) result.push_back(AccessPointOf(face, shared));
    }
    return result;
}

bool CanJoin(const WifiSettings& wifi, const Platform::AccessPoint& accessPoint) {
    const WifiSettings face = FaceOf(accessPoint);
    if (wifi.ssid != face.ssid || wifi.mode != face.mode || wifi.network != face.network || wifi.data != face.data)
        return false;
    switch (face.data) {
        case DataMode::None:
            return true;
        case DataMode::Wep64:
        case DataMode::Wep128:
            return wifi.keys == KeyKind::Wep && wifi.wepKeys[0] == accessPoint.wepKeys[0];
        case DataMode::Tkip:
        case DataMode::Aes:
            return wifi.keys == KeyKind::WpaPsk && wifi.wpaKey == accessPoint.wpaKey;
    }
    return false;
}

std::optional<JoinChoice> ChooseNetwork(const PrinterState& state, const std::vector<Platform::AccessPoint>& inRange) {
    for (const auto& [id, profile] : state.profiles)
        for (const auto& a : inRange)
            if (CanJoin(profile.wifi, a)) return JoinChoice{id, a};
    return std::nullopt;
}

}  // namespace Simulators::Dock

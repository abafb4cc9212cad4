#include "Common/NetConfig/Settings.h"

#include <boost/core/demangle.hpp>

#include <typeinfo>

#include "Common/NetConfig/NetConfigXML.h"
#include "Tessary/TSException.h"

std::string WiFiModeToString(int mode) {
    switch (mode) {
        case WIFI_MODE_INFRASTRUCTURE:
            return NetConfigNames::kInfrastructure;
        case WIFI_MODE_ADHOC:
            return NetConfigNames::kAdHoc;
    }
    TS_THROW(Tessary::TSException, "Invalid WiFi mode");
}

std::string NetworkModeToString(int mode) {
    switch (mode) {
        case NETWORK_MODE_OPEN:
            return NetConfigNames::kOpen;
        case NETWORK_MODE_SHARED:
            return NetConfigNames::kShared;
        case NETWORK_MODE_WPA_PSK:
            return NetConfigNames::kWpaPsk;
    }
    TS_THROW(Tessary::TSException, "Invalid Network mode");
}

std::string DataModeToString(int mode) {
    switch (mode) {
        case DATA_MODE_NONE:
            return NetConfigNames::kNone;
        case DATA_MODE_WEP_64BIT:
            return NetConfigNames::kWep64;
        case DATA_MODE_WEP_128BIT:
            return NetConfigNames::kWep128;
        case DATA_MODE_TKIP:
            return NetConfigNames::kTkip;
        case DATA_MODE_AES:
            return NetConfigNames::kAes;
    }
    TS_THROW(Tessary::TSException, "Invalid Data mode");
}

// WiFiSettings

WiFiSettings::WiFiSettings() : WiFiSettings(WIFI_MODE_INFRASTRUCTURE) {}

WiFiSettings::WiFiSettings(WiFiMode mode)
    : channel(11), mode(mode), dataMode(DATA_MODE_NONE), networkMode(NETWORK_MODE_OPEN), security(new NullSecurity) {}

WiFiSettings::WiFiSettings(const WiFiSettings& other)
    : Tessary::XMLPrintable(other),
      ssid(other.ssid),
      channel(other.channel),
      mode(other.mode),
      dataMode(other.dataMode),
      networkMode(other.networkMode),
      security(other.security->Clone().release()) {}

WiFiSettings& WiFiSettings::operator=(const WiFiSettings& other) {
    WiFiSettings copy(other);
    Swap(copy);
    return *this;
}

WiFiSettings::~WiFiSettings() = default;

void WiFiSettings::Swap(WiFiSettings& other) noexcept {
    std::swap(ssid, other.ssid);
    std::swap(channel, other.channel);
    std::swap(mode, other.mode);
    std::swap(dataMode, other.dataMode);
    std::swap(networkMode, other.networkMode);
    security.swap(other.security);
}

void WiFiSettings::SetSecurity(NetworkMode newNetworkMode, DataMode newDataMode, const Security& newSecurity) {
    const bool isNull = dynamic_cast<const NullSecurity*>(&newSecurity) != nullptr;
    const bool isWep = dynamic_cast<const WepSecurity*>(&newSecurity) != nullptr;
    const bool isWpa = dynamic_cast<const WpaPskSecurity*>(&newSecurity) != nullptr;
    bool fits = false;
    switch (newNetworkMode) {
        case NETWORK_MODE_OPEN:
            fits = newDataMode == DATA_MODE_NONE ? isNull : isNull || isWep;
            break;
        case NETWORK_MODE_SHARED:
            fits = isNull || isWep;
            break;
        case NETWORK_MODE_WPA_PSK:
            fits = isNull || isWpa;
            break;
        default:
            TS_THROW(Tessary::TSException, "Invalid mode");
    }
    if (!fits) {
        TS_THROW(Tessary::TSInvalidArgument,
                 "Invalid security object: " + boost::core::demangle(typeid(newSecurity).name()));
    }
    security.reset(newSecurity.Clone().release());
    dataMode = newDataMode;
    networkMode = newNetworkMode;
}

IPSettings::~IPSettings() = default;
Profile::~Profile() = default;
BluetoothProfile::~BluetoothProfile() = default;

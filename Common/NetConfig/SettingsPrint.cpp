// The XML and text forms of the settings model. Every start tag of a
// container, every text element and every end tag ends its line. Values are
// escaped here, once, as they are written.
#include <string>

#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Settings.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/xml-utilities/XMLUtilities.h"

using Tessary::XMLEndTag;
using Tessary::XMLStartTag;
using Tessary::XMLTextElement;
using namespace NetConfigNames;

// Profile

void Profile::PrintXML(std::ostream& stream) const {
    stream << XMLStartTag(
                  kProfile,
                  {{kCountry, EscapeMarkup(country)}, {kDomain, EscapeMarkup(domain)}, {kId, std::to_string(id)}})
           << '\n';
    stream << XMLTextElement(kProfileName, EscapeMarkup(profileName)) << '\n';
    wifi.Print(stream);
    ipSettings.Print(stream);
    stream << XMLTextElement(kFriendlyName, EscapeMarkup(friendlyName)) << '\n';
    stream << XMLTextElement(kQztDefaultHostID, EscapeMarkup(defaultHostID)) << '\n';
    stream << XMLEndTag << '\n';
}

void Profile::PrintText(std::ostream& stream) const {
    stream << "{ Profile: id=" << std::to_string(id) << ", country=" << country << ", domain=" << domain
           << ", profileName=" << Tessary::ToUtf8String(profileName) << ", ";
    wifi.Print(stream);
    stream << ", ";
    ipSettings.Print(stream);
    stream << ", friendlyName=" << Tessary::ToUtf8String(friendlyName) << ", defaultHostID=" << defaultHostID << " }";
}

// WiFiSettings

void WiFiSettings::PrintXML(std::ostream& stream) const {
    stream << XMLStartTag(kWiFi, {{kMode, WiFiModeToString(mode)}}) << '\n';
    stream << XMLTextElement(kSSID, EscapeMarkup(ssid)) << '\n';
    stream << XMLTextElement(kChannel, std::to_string(channel)) << '\n';
    stream << XMLStartTag(kSecurity,
                          {{kData, DataModeToString(dataMode)}, {kNetwork, NetworkModeToString(networkMode)}})
           << '\n';
    security->Print(stream);
    stream << XMLEndTag << '\n';
    stream << XMLEndTag << '\n';
}

void WiFiSettings::PrintText(std::ostream& stream) const {
    stream << "{ WiFi: "
           << "mode=" << WiFiModeToString(mode) << ", ssid=" << Tessary::ToUtf8String(ssid)
           << ", channel=" << std::to_string(channel) << ", security={ data=" << DataModeToString(dataMode)
           << ", network=" << NetworkModeToString(networkMode) << ", ";
    security->Print(stream);
    stream << " } }";
}

// IPSettings

void IPSettings::PrintXML(std::ostream& stream) const {
    stream << XMLStartTag(kIPSettings, {{kAutomatic, BoolToString(automatic)}}) << '\n';
    if (!automatic) {
        stream << XMLTextElement(kIPAddress, EscapeMarkup(ipAddress)) << '\n';
        stream << XMLTextElement(kSubnetMask, EscapeMarkup(subnetMask)) << '\n';
        stream << XMLTextElement(kGateway, EscapeMarkup(gateway)) << '\n';
    }
    stream << XMLEndTag << '\n';
}

void IPSettings::PrintText(std::ostream& stream) const {
    stream << "{ IPSettings: automatic=" << BoolToString(automatic);
    if (!automatic) {
        stream << ", IP address=" << ipAddress << ", Subnet mask=" << subnetMask << ", Gateway=" << gateway;
    }
    stream << " }";
}

// BluetoothProfile

void BluetoothProfile::PrintXML(std::ostream& stream) const {
    // Through the wide form so that what goes out is valid UTF-8: a name
    // that does not decode is written as empty.
    const Tessary::I8NString name(friendlyName);
    stream << XMLStartTag(kBluetoothProfile, {{kEnabled, BoolToString(enabled)}}) << '\n';
    stream << XMLTextElement(kFriendlyName, EscapeMarkup(name)) << '\n';
    stream << XMLStartTag(kPin, {{kRequired, BoolToString(requirePIN)}}) << XMLEndTag << '\n';
    stream << XMLStartTag(kLinkwise, {{kEnabled, BoolToString(linkwiseEnabled)}}) << XMLEndTag << '\n';
    stream << XMLStartTag(kPairedDevices) << '\n';
    for (const PairedDeviceData& device : pairedDevices) {
        stream << XMLStartTag(kPairedDevice) << '\n';
        stream << XMLTextElement(kDeviceName, EscapeMarkup(device.deviceName)) << '\n';
        stream << XMLEndTag << '\n';
    }
    stream << XMLEndTag << '\n';
    stream << XMLEndTag << '\n';
}

void BluetoothProfile::PrintText(std::ostream& stream) const {
    stream << "{ BluetoothProfile: friendlyName=" << friendlyName << ", enabled=" << BoolToString(enabled)
           << ", requirePIN=" << BoolToString(requirePIN) << ", linkwiseEnabled=" << BoolToString(linkwiseEnabled)
           << ", pairedDevices="
           << "{";
    for (std::size_t i = 0; i < pairedDevices.size(); ++i) {
        if (i > 0) stream << ", ";
        stream << pairedDevices[i].deviceName;
    }
    stream << "}"
           << " }";
}

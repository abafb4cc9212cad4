#include "Common/NetConfig/NetConfigXML.h"

#include "Tessary/xml-utilities/XMLUtilities.h"

namespace NetConfigNames {

const std::string kDockConfig = "dockConfig";
const std::string kBluetoothDockConfig = "bluetoothDockConfig";
const std::string kVersion = "version";
const std::string kVersionValue = "1.0";
const std::string kGetPrinterGuid = "getPrinterGuid";
const std::string kGetPrinterGuidResponse = "getPrinterGuidResponse";
const std::string kGetMacAddress = "getMacAddress";
const std::string kGetMacAddressResponse = "getMacAddressResponse";
const std::string kGetAllProfiles = "getAllProfiles";
const std::string kGetAllProfilesResponse = "getAllProfilesResponse";
const std::string kGetPrinterSettings = "getPrinterSettings";
const std::string kGetPrinterSettingsResponse = "getPrinterSettingsResponse";
const std::string kSetProfileData = "setProfileData";
const std::string kSetProfileDataResponse = "setProfileDataResponse";
const std::string kSetPrinterSettings = "setPrinterSettings";
const std::string kSetPrinterSettingsResponse = "setPrinterSettingsResponse";
const std::string kFindNetworks = "findNetworks";
const std::string kFindNetworksResponse = "findNetworksResponse";
const std::string kRestartBluetooth = "restartBluetooth";
const std::string kRestartBluetoothResponse = "restartBluetoothResponse";
const std::string kGetBluetoothProfile = "getBluetoothProfile";
const std::string kGetBluetoothProfileResponse = "getBluetoothProfileResponse";
const std::string kSetBluetoothProfileData = "setBluetoothProfileData";
const std::string kSetBluetoothProfileDataResponse = "setBluetoothProfileDataResponse";
const std::string kSetBluetoothProfileResponse = "setBluetoothProfileResponse";
const std::string kResult = "result";
const std::string kGuid = "guid";
const std::string kMacAddress = "macAddress";
const std::string kNetwork = "network";
const std::string kProfile = "profile";
const std::string kId = "id";
const std::string kCountry = "country";
const std::string kDomain = "domain";
const std::string kProfileName = "profileName";
const std::string kFriendlyName = "friendlyName";
const std::string kQztDefaultHostID = "qztDefaultHostID";
const std::string kIPSettings = "ipSettings";
const std::string kAutomatic = "automatic";
const std::string kIPAddress = "ipAddress";
const std::string kSubnetMask = "subnetMask";
const std::string kGateway = "gateway";
const std::string kWiFi = "wifi";
const std::string kMode = "mode";
const std::string kInfrastructure = "infrastructure";
const std::string kAdHoc = "adhoc";
const std::string kSSID = "ssid";
const std::string kChannel = "channel";
const std::string kSecurity = "security";
const std::string kData = "data";
const std::string kOpen = "open";
const std::string kShared = "shared";
const std::string kWpaPsk = "wpa-psk";
const std::string kNone = "none";
const std::string kWep64 = "wep-64bit";
const std::string kWep128 = "wep-128bit";
const std::string kTkip = "tkip";
const std::string kAes = "aes";
const std::string kWepKeys = "wepKeys";
const std::string kAutomaticKeys = "automaticKeys";
const std::string kKey = "key";
const std::string kWpaPSKKey = "wpaPSKKey";
const std::string kPin = "pin";
const std::string kRequired = "required";
const std::string kBluetoothProfile = "bluetoothProfile";
const std::string kEnabled = "enabled";
const std::string kLinkwise = "linkwise";
const std::string kPairedDevices = "pairedDevices";
const std::string kPairedDevice = "pairedDevice";
const std::string kDeviceName = "deviceName";
const std::string kTrue = "true";
const std::string kFalse = "false";

}  // namespace NetConfigNames

const std::string& BoolToString(bool value) {
    return value ? NetConfigNames::kTrue : NetConfigNames::kFalse;
}

std::string EscapeMarkup(const std::string& utf8) {
    // The five markup characters are ASCII, and an ASCII byte is never part
    // of a longer UTF-8 sequence, so a byte-wise walk is safe.
    std::string escaped;
    escaped.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            // A reader turns a carriage return in text into a line feed, and
            // all three in an attribute into blanks.
            case '\t':
                escaped += "&#9;";
                break;
            case '\n':
                escaped += "&#10;";
                break;
            case '\r':
                escaped += "&#13;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string EscapeMarkup(const Tessary::I8NString& text) {
    return Tessary::ToUtf8String(Tessary::SubstituteCharacters(text));
}

// The vocabulary of the dock configuration protocol, shared by the request
// writers and the response parse states, and the escaping of the values that
// go into a request.
#pragma once

#include <string>

#include "Tessary/i8n/I8NString.h"

namespace NetConfigNames {

// Roots.
extern const std::string kDockConfig;
extern const std::string kBluetoothDockConfig;
extern const std::string kVersion;
extern const std::string kVersionValue;

// Commands and their responses.
extern const std::string kGetPrinterGuid;
extern const std::string kGetPrinterGuidResponse;
extern const std::string kGetMacAddress;
extern const std::string kGetMacAddressResponse;
extern const std::string kGetAllProfiles;
extern const std::string kGetAllProfilesResponse;
extern const std::string kGetPrinterSettings;
extern const std::string kGetPrinterSettingsResponse;
extern const std::string kSetProfileData;
extern const std::string kSetProfileDataResponse;
extern const std::string kSetPrinterSettings;
extern const std::string kSetPrinterSettingsResponse;
extern const std::string kFindNetworks;
extern const std::string kFindNetworksResponse;
extern const std::string kRestartBluetooth;
extern const std::string kRestartBluetoothResponse;
extern const std::string kGetBluetoothProfile;
extern const std::string kGetBluetoothProfileResponse;
extern const std::string kSetBluetoothProfileData;
extern const std::string kSetBluetoothProfileDataResponse;
extern const std::string kSetBluetoothProfileResponse;
extern const std::string kResult;
extern const std::string kGuid;
extern const std::string kMacAddress;
extern const std::string kNetwork;

// Elements, attributes and values of the settings forms.
extern const std::string kProfile;
extern const std::string kId;
extern const std::string kCountry;
extern const std::string kDomain;
extern const std::string kProfileName;
extern const std::string kFriendlyName;
extern const std::string kQztDefaultHostID;
extern const std::string kIPSettings;
extern const std::string kAutomatic;
extern const std::string kIPAddress;
extern const std::string kSubnetMask;
extern const std::string kGateway;
extern const std::string kWiFi;
extern const std::string kMode;
extern const std::string kInfrastructure;
extern const std::string kAdHoc;
extern const std::string kSSID;
extern const std::string kChannel;
extern const std::string kSecurity;
extern const std::string kData;
extern const std::string kOpen;
extern const std::string kShared;
extern const std::string kWpaPsk;
extern const std::string kNone;
extern const std::string kWep64;
extern const std::string kWep128;
extern const std::string kTkip;
extern const std::string kAes;
extern const std::string kWepKeys;
extern const std::string kAutomaticKeys;
extern const std::string kKey;
extern const std::string kWpaPSKKey;
extern const std::string kPin;
extern const std::string kRequired;
extern const std::string kBluetoothProfile;
extern const std::string kEnabled;
extern const std::string kLinkwise;
extern const std::string kPairedDevices;
extern const std::string kPairedDevice;
extern const std::string kDeviceName;
extern const std::string kTrue;
extern const std::string kFalse;

}  // namespace NetConfigNames

// "true" or "false".
const std::string& BoolToString(bool value);

// UTF-8 text with & ' " < >, tab, line feed and carriage return replaced by
// character references, for element text and attribute values alike. Every value written into a request goes
// through one of these two exactly once.
std::string EscapeMarkup(const std::string& utf8);
// The escaped UTF-8 form of a wide text. Throws TSException when the text is
// not valid UTF-16.
std::string EscapeMarkup(const Tessary::I8NString& text);

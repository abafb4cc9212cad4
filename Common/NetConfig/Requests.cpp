#include "Common/NetConfig/Requests.h"

#include <sstream>

#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Responses.h"
#include "Tessary/xml-utilities/XMLUtilities.h"

using namespace NetConfigNames;

void BuildRequestDocument(const std::string& rootName, std::string& request, const std::string& commandName) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    stream << Tessary::XMLStartTag(rootName, {{kVersion, kVersionValue}});
    stream << Tessary::XMLStartTag(commandName);
    stream << Tessary::XMLEndTag << Tessary::XMLEndTag;
    request = stream.str();
}

void BuildGetPrinterGuidRequest(std::string& request) {
    BuildRequestDocument(kDockConfig, request, kGetPrinterGuid);
}

void BuildGetMacAddressRequest(std::string& request) {
    BuildRequestDocument(kDockConfig, request, kGetMacAddress);
}

void BuildGetAllProfilesRequest(std::string& request) {
    BuildRequestDocument(kDockConfig, request, kGetAllProfiles);
}

void BuildGetPrinterSettingsRequest(const std::string& rootName, std::string& request) {
    BuildRequestDocument(rootName, request, kGetPrinterSettings);
}

void BuildSetProfileDataRequest(const std::vector<Profile>& profiles, std::string& request) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    stream << Tessary::XMLStartTag(kDockConfig, {{kVersion, kVersionValue}});
    stream << Tessary::XMLStartTag(kSetProfileData);
    for (const auto& profile : profiles) profile.Print(stream);
    stream << Tessary::XMLEndTag << Tessary::XMLEndTag;
    request = stream.str();
}

void BuildGetBluetoothProfileRequest(const std::string& rootName, std::string& request) {
    BuildRequestDocument(rootName, request, kGetBluetoothProfile);
}

namespace {

// rootName holding commandName holding what `payload` writes.
template <class Payload>
std::string BuildPayloadRequest(const std::string& rootName, const std::string& commandName, Payload&& payload) {
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true);
    stream << Tessary::XMLStartTag(rootName, {{kVersion, kVersionValue}});
    stream << Tessary::XMLStartTag(commandName);
    payload(stream);
    stream << Tessary::XMLEndTag << Tessary::XMLEndTag;
    return stream.str();
}

}  // namespace

void BuildSetBluetoothProfileDataRequest(const std::string& rootName, const BluetoothProfile& profile,
                                         std::string& request) {
    request = BuildPayloadRequest(rootName, kSetBluetoothProfileData,
                                  [&](std::ostream& stream) { profile.PrintXML(stream); });
}

void BuildSetPrinterSettingsRequest(const std::string& rootName, const PrinterSettings& settings,
                                    std::string& request) {
    request = BuildPayloadRequest(rootName, kSetPrinterSettings, [&](std::ostream& stream) {
        stream << Tessary::XMLTextElement(kPin, EscapeMarkup(settings.pin));
    });
}

void BuildRestartBluetoothRequest(std::string& request) {
    BuildRequestDocument(kBluetoothDockConfig, request, kRestartBluetooth);
}

namespace {

// Sends the request and returns the answer; the channel's exceptions pass.
std::string Exchange(ConfigAPI& api, const std::string& request) {
    api.SendRequest(request.data(), static_cast<int>(request.size()));
    std::string response;
    api.ReadResponse(response);
    return response;
}

}  // namespace

bool GetPrinterGuid(ConfigAPI& api, std::string& guid) {
    std::string request;
    BuildGetPrinterGuidRequest(request);
    return ParseGetPrinterGuidResponse(Exchange(api, request), guid);
}

int GetMacAddress(ConfigAPI& api, std::string& macAddress) {
    std::string request;
    BuildGetMacAddressRequest(request);
    return ParseGetMacAddressResponse(Exchange(api, request), macAddress);
}

bool GetAllProfiles(ConfigAPI& api, std::vector<Profile>& profiles) {
    std::string request;
    BuildGetAllProfilesRequest(request);
    return ParseGetAllProfilesResponse(Exchange(api, request), profiles);
}

bool GetPrinterSettings(const std::string& rootName, ConfigAPI& api, PrinterSettings& settings) {
    std::string request;
    BuildGetPrinterSettingsRequest(rootName, request);
    return ParseGetPrinterSettingsResponse(rootName, Exchange(api, request), settings);
}

bool SetProfileData(ConfigAPI& api, const std::vector<Profile>& profiles, int& result) {
    std::string request;
    BuildSetProfileDataRequest(profiles, request);
    return ParseSetProfileDataResponse(Exchange(api, request), result);
}

bool GetBluetoothProfile(const std::string& rootName, ConfigAPI& api, BluetoothProfile& profile, int& result) {
    std::string request;
    BuildGetBluetoothProfileRequest(rootName, request);
    return ParseGetBluetoothProfileResponse(rootName, Exchange(api, request), profile, result);
}

bool GetBluetoothProfile(const std::string& rootName, ConfigAPI& api, BluetoothProfile& profile) {
    int result = -1;
    return GetBluetoothProfile(rootName, api, profile, result) && result == 0;
}

bool SetBluetoothProfileData(const std::string& rootName, ConfigAPI& api, const BluetoothProfile& profile,
                             int& result) {
    std::string request;
    BuildSetBluetoothProfileDataRequest(rootName, profile, request);
    return ParseSetBluetoothProfileDataResponse(rootName, Exchange(api, request), result);
}

bool SetPrinterSettings(const std::string& rootName, ConfigAPI& api, const PrinterSettings& settings, int& result) {
    std::string request;
    BuildSetPrinterSettingsRequest(rootName, settings, request);
    return ParseSetPrinterSettingsResponse(rootName, Exchange(api, request), result);
}

bool RestartBluetooth(ConfigAPI& api, int& result) {
    std::string request;
    BuildRestartBluetoothRequest(request);
    return ParseRestartBluetoothResponse(Exchange(api, request), result);
}

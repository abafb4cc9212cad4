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

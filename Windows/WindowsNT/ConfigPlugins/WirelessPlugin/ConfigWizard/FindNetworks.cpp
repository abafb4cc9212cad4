#include "FindNetworks.h"

#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Requests.h"
#include "Common/NetConfig/Responses.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

#include <climits>

using namespace NetConfigNames;
using Tessary::XercesXMLParsingState;
using Tessary::XMLAttributeMap;

namespace {

[[noreturn]] void ThrowUnexpected(const std::string& name) {
    TS_THROW(Tessary::TSRuntimeError, "Unexpected element '" + name + "'");
}

}  // namespace

void BuildFindNetworksRequest(std::string& request) {
    BuildRequestDocument(kDockConfig, request, kFindNetworks);
}

bool ParseFindNetworksResponse(const std::string& response, std::vector<WiFiSettings>& networks) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            if (response.size() > UINT_MAX) return false;
            std::vector<WiFiSettings> found;
            FindNetworksResponseState state(&found);
            NetConfigResponseDocumentState<FindNetworksResponseState> document(&state);
            Tessary::XercesXMLParser parser;
            if (!parser.ParseBuffer(response.data(), static_cast<unsigned>(response.size()), &document)) return false;
            networks.insert(networks.end(), found.begin(), found.end());
            return true;
        },
        [](const char*) { return false; });
}

bool FindNetworks(ConfigAPI& api, std::vector<WiFiSettings>& networks) {
    std::string request;
    BuildFindNetworksRequest(request);
    api.SendRequest(request.data(), static_cast<int>(request.size()));
    std::string response;
    api.ReadResponse(response);
    return ParseFindNetworksResponse(response, networks);
}

XercesXMLParsingState* FindNetworksResponseState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kFindNetworksResponse) return nullptr;
    return new NetworkSetExpectedState(networks);
}

XercesXMLParsingState* NetworkSetExpectedState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kNetwork) ThrowUnexpected(name);
    return new NetworkState(networks);
}

XercesXMLParsingState* NetworkState::StartElement(const std::string& name, const XMLAttributeMap& attributes) {
    if (name != kWiFi) ThrowUnexpected(name);
    const WiFiMode mode = GetWiFiModeAttribute(attributes);
    if (pending) {
        networks->push_back(*pending);
        pending.reset();
    }
    pending = std::make_unique<WiFiSettings>(mode);
    return new WiFiSettingsDirectState(pending.get());
}

void NetworkState::EndElement() {
    if (pending) networks->push_back(*pending);
    SelfDestruct();
}

XercesXMLParsingState* WiFiSettingsDirectState::StartElement(const std::string& name,
                                                             const XMLAttributeMap& attributes) {
    return StartWiFiSettingsChild(*settings, name, attributes);
}

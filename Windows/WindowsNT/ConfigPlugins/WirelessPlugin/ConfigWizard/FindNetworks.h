// The printer's network scan over the configuration channel: the
// findNetworks request and the states that read its answer,
//   <dockConfig><findNetworksResponse>
//     <network><wifi mode="infrastructure|adhoc">ssid, channel, security</wifi>...</network>...
//   </findNetworksResponse></dockConfig>
// Each "wifi" element is one network, in document order; a "network"
// element (one access point) may hold several.
#pragma once

#include "Common/NetConfig/API/ConfigAPI.h"
#include "Common/NetConfig/Settings.h"
#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

#include <memory>
#include <string>
#include <vector>

void BuildFindNetworksRequest(std::string& request);

// True for a valid answer, whose networks are appended to `networks`;
// false leaves `networks` as it was. Never throws.
bool ParseFindNetworksResponse(const std::string& response, std::vector<WiFiSettings>& networks);

// Sends the request and reads the answer over an open channel: the
// channel's exceptions pass through; the answer as ParseFindNetworksResponse.
bool FindNetworks(ConfigAPI& api, std::vector<WiFiSettings>& networks);

// Response states. Unexpected elements throw "Unexpected element '<name>'".

// On the caller's stack: takes "findNetworksResponse"; any other element is
// skipped.
class FindNetworksResponseState : public Tessary::XMLNoTextState {
public:
    explicit FindNetworksResponseState(std::vector<WiFiSettings>* networks) : networks(networks) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    std::vector<WiFiSettings>* networks;
};

// Any number of "network" elements.
class NetworkSetExpectedState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit NetworkSetExpectedState(std::vector<WiFiSettings>* networks) : networks(networks) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    std::vector<WiFiSettings>* networks;
};

// The "wifi" elements of one "network"; each reaches the list once the next
// one begins or the "network" element ends.
class NetworkState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit NetworkState(std::vector<WiFiSettings>* networks) : networks(networks) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    void EndElement() override;

private:
    std::vector<WiFiSettings>* networks;
    std::unique_ptr<WiFiSettings> pending;
};

// The content of one "wifi" element, read straight into the network begun
// for it.
class WiFiSettingsDirectState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit WiFiSettingsDirectState(WiFiSettings* settings) : settings(settings) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    WiFiSettings* settings;
};

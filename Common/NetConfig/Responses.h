// Response documents of the dock configuration protocol, read by parse
// states of the state-stack reader. A response is the request's root holding
// one element named after the command with "Response" appended.
//
// The parse operations never throw: every problem with the document (bad
// XML, an unexpected element, a bad attribute, a duplicated profile id, a
// security object that does not fit its modes) becomes the result.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Settings.h"
#include "Tessary/xerces-xmlparser/XMLAttributeGetters.h"
#include "Tessary/xerces-xmlparser/XercesXMLParsingState.h"

// True with `guid` set; false with it empty.
bool ParseGetPrinterGuidResponse(const std::string& response, std::string& guid);
// 0 with `macAddress` set; 1 when the answer was read but its result is not
// 0; 2 when it could not be read. `macAddress` is empty unless 0.
int ParseGetMacAddressResponse(const std::string& response, std::string& macAddress);
// True with the profiles sorted by ascending id; false with `profiles` empty.
bool ParseGetAllProfilesResponse(const std::string& response, std::vector<Profile>& profiles);
// True with the PIN taken into `settings`; false with `settings` untouched.
bool ParseGetPrinterSettingsResponse(const std::string& rootName, const std::string& response,
                                     PrinterSettings& settings);
// True with the printer's result code in `result`; false with it untouched.
bool ParseSetProfileDataResponse(const std::string& response, int& result);

// Document states: accept only the expected root and hand its children to
// the response state. Both live on the parsing caller's stack.
template <class T>
class ConfigResponseDocumentState : public Tessary::XMLNoTextState {
public:
    // rootName must outlive the state (the vocabulary constants do).
    ConfigResponseDocumentState(const std::string& rootName, T* responseState)
        : rootName(rootName), responseState(responseState) {}

    Tessary::XercesXMLParsingState* StartElement(const std::string& name, const Tessary::XMLAttributeMap&) override {
        if (name != rootName) TS_THROW(Tessary::TSRuntimeError, "Unexpected element '" + name + "'");
        return responseState;
    }

private:
    const std::string& rootName;
    T* responseState;
};

// The document state with the root "dockConfig".
template <class T>
class NetConfigResponseDocumentState : public ConfigResponseDocumentState<T> {
public:
    explicit NetConfigResponseDocumentState(T* responseState);
};

template <class T>
NetConfigResponseDocumentState<T>::NetConfigResponseDocumentState(T* responseState)
    : ConfigResponseDocumentState<T>(NetConfigNames::kDockConfig, responseState) {}

// Response states (on the caller's stack). Another element than the expected
// one throws "Unexpected element '<name>'", except beside the profile list,
// where it is skipped.

class GetGuidResponseState : public Tessary::XMLNoTextState {
public:
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    std::string guid;
};

class GetMacAddressResponseState : public Tessary::XMLNoTextState {
public:
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    std::string macAddress;
    int result = -1;
};

class GetPrinterSettingsResponseState : public Tessary::XMLNoTextState {
public:
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    PrinterSettings settings;
};

class GetAllProfilesResponseState : public Tessary::XMLNoTextState {
public:
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    // In document order.
    std::vector<Profile> profiles;
};

// Accepts the response element named at construction, reads its int
// attribute "result" and skips its content.
class GetOperationResultState : public Tessary::XMLNoTextState {
public:
    explicit GetOperationResultState(const std::string& expectedName) : expectedName(expectedName) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    int result = -1;

private:
    std::string expectedName;
};

class SetProfileDataResponseState : public GetOperationResultState {
public:
    SetProfileDataResponseState();
};

class SetPrinterSettingsResponseState : public GetOperationResultState {
public:
    SetPrinterSettingsResponseState();
};

class RestartBluetoothResponseState : public GetOperationResultState {
public:
    RestartBluetoothResponseState();
};

// Expected states: accept only their one child element; they die with their
// element (made with new).

class GuidExpectedState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit GuidExpectedState(std::string* guid) : guid(guid) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    std::string* guid;
};

class MacAddressExpectedState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit MacAddressExpectedState(std::string* macAddress) : macAddress(macAddress) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    std::string* macAddress;
};

class PrinterSettingsExpectedState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit PrinterSettingsExpectedState(PrinterSettings* settings) : settings(settings) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    PrinterSettings* settings;
};

// Profile assembly. Each profile reaches the list once its whole element has
// been read; an aborted parse appends nothing more.
class ProfileSetExpectedState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit ProfileSetExpectedState(std::vector<Profile>* profiles) : profiles(profiles) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    void EndElement() override;

private:
    std::vector<Profile>* profiles;
    std::unique_ptr<Profile> pending;
};

class ProfileState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit ProfileState(Profile* profile) : profile(profile) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    Profile* profile;
};

// Fills its own copy and hands it to the target when "ipSettings" ends.
class IPSettingsState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    IPSettingsState(IPSettings* target, bool automatic) : target(target), automatic(automatic) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    void EndElement() override;

private:
    IPSettings* target;
    bool automatic;
    std::string ipAddress;
    std::string subnetMask;
    std::string gateway;
};

// Fills its own WiFiSettings and hands it to the target when "wifi" ends.
class WiFiSettingsState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    WiFiSettingsState(WiFiSettings* target, WiFiMode mode) : target(target), settings(mode) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    void EndElement() override;

private:
    WiFiSettings* target;
    WiFiSettings settings;
};

// Collects the keys of a "security" element and sets the security triple on
// the Wi-Fi settings when it ends.
class SecuritySettingsState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    SecuritySettingsState(WiFiSettings* settings, NetworkMode networkMode, DataMode dataMode);
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;
    void EndElement() override;

private:
    WiFiSettings* settings;
    NetworkMode networkMode;
    DataMode dataMode;
    std::unique_ptr<Security> security;
};

class WepKeychainState : public Tessary::XMLNoTextStateSelfDestruct {
public:
    explicit WepKeychainState(Security* security) : security(security) {}
    Tessary::XercesXMLParsingState* StartElement(const std::string& name,
                                                 const Tessary::XMLAttributeMap& attributes) override;

private:
    Security* security;
};

// The grammar of the content of a "wifi" element, for every state that reads
// one ("ssid", "channel", "security"; anything else is skipped): returns the
// child's state writing into `settings`, or null.
Tessary::XercesXMLParsingState* StartWiFiSettingsChild(WiFiSettings& settings, const std::string& name,
                                                       const Tessary::XMLAttributeMap& attributes);
// The required "mode" attribute of a "wifi" element: "infrastructure" or
// "adhoc"; TSRuntimeError "Invalid value for attribute 'mode'" otherwise.
WiFiMode GetWiFiModeAttribute(const Tessary::XMLAttributeMap& attributes);

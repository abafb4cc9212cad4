#include "Common/NetConfig/Responses.h"

#include <algorithm>
#include <climits>
#include <functional>

#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

using namespace NetConfigNames;
using Tessary::XercesXMLParsingState;
using Tessary::XMLAttributeMap;

namespace {

[[noreturn]] void ThrowUnexpected(const std::string& name) {
    TS_THROW(Tessary::TSRuntimeError, "Unexpected element '" + name + "'");
}

// Hands the element's text to a function when the element ends.
class TextCallbackState : public Tessary::XMLTextState {
public:
    explicit TextCallbackState(std::function<void(const std::string&)> store) : store(std::move(store)) {}
    void EndElement() override {
        store(GetText());
        SelfDestruct();
    }

private:
    std::function<void(const std::string&)> store;
};

NetworkMode NetworkModeFromString(const std::string& value) {
    if (value == kOpen) return NETWORK_MODE_OPEN;
    if (value == kShared) return NETWORK_MODE_SHARED;
    if (value == kWpaPsk) return NETWORK_MODE_WPA_PSK;
    TS_THROW(Tessary::TSRuntimeError, "Invalid value for attribute '" + kNetwork + "'" + " ('" + value + "')");
}

// "aes" is read too: printers report AES profiles and networks, and the
// model knows them (callers flag them as unsupported).
DataMode DataModeFromString(const std::string& value) {
    if (value == kNone) return DATA_MODE_NONE;
    if (value == kWep64) return DATA_MODE_WEP_64BIT;
    if (value == kWep128) return DATA_MODE_WEP_128BIT;
    if (value == kTkip) return DATA_MODE_TKIP;
    if (value == kAes) return DATA_MODE_AES;
    TS_THROW(Tessary::TSRuntimeError, "Invalid value for attribute '" + kData + "'");
}

// Runs one parse with everything it may throw turned into false.
bool RunParse(const std::string& response, XercesXMLParsingState* document) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            if (response.size() > UINT_MAX) return false;
            Tessary::XercesXMLParser parser;
            return parser.ParseBuffer(response.data(), static_cast<unsigned>(response.size()), document);
        },
        [](const char*) { return false; });
}

}  // namespace

// Parse operations

bool ParseGetPrinterGuidResponse(const std::string& response, std::string& guid) {
    guid.clear();
    return Tessary::CatchAtBorder<bool>(
        [&] {
            GetGuidResponseState state;
            NetConfigResponseDocumentState<GetGuidResponseState> document(&state);
            if (!RunParse(response, &document)) return false;
            guid = state.guid;
            return true;
        },
        [](const char*) { return false; });
}

int ParseGetMacAddressResponse(const std::string& response, std::string& macAddress) {
    macAddress.clear();
    return Tessary::CatchAtBorder<int>(
        [&] {
            GetMacAddressResponseState state;
            NetConfigResponseDocumentState<GetMacAddressResponseState> document(&state);
            if (!RunParse(response, &document)) return 2;
            if (state.result != 0) return 1;
            macAddress = state.macAddress;
            return 0;
        },
        [&](const char*) {
            macAddress.clear();
            return 2;
        });
}

bool ParseGetAllProfilesResponse(const std::string& response, std::vector<Profile>& profiles) {
    profiles.clear();
    return Tessary::CatchAtBorder<bool>(
        [&] {
            GetAllProfilesResponseState state;
            NetConfigResponseDocumentState<GetAllProfilesResponseState> document(&state);
            if (!RunParse(response, &document)) return false;
            std::stable_sort(state.profiles.begin(), state.profiles.end(),
                             [](const Profile& a, const Profile& b) { return a.GetId() < b.GetId(); });
            profiles.swap(state.profiles);
            return true;
        },
        [&](const char*) {
            profiles.clear();
            return false;
        });
}

bool ParseGetPrinterSettingsResponse(const std::string& rootName, const std::string& response,
                                     PrinterSettings& settings) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            GetPrinterSettingsResponseState state;
            ConfigResponseDocumentState<GetPrinterSettingsResponseState> document(rootName, &state);
            if (!RunParse(response, &document)) return false;
            settings.pin = state.settings.pin;
            return true;
        },
        [](const char*) { return false; });
}

namespace {

// An answer that carries only the printer's result code.
template <class State>
bool ParseResultOnly(const std::string& rootName, const std::string& response, int& result) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            State state;
            ConfigResponseDocumentState<State> document(rootName, &state);
            if (!RunParse(response, &document)) return false;
            result = state.result;
            return true;
        },
        [](const char*) { return false; });
}

}  // namespace

bool ParseSetProfileDataResponse(const std::string& response, int& result) {
    return ParseResultOnly<SetProfileDataResponseState>(kDockConfig, response, result);
}

bool ParseGetBluetoothProfileResponse(const std::string& rootName, const std::string& response,
                                      BluetoothProfile& profile, int& result) {
    return Tessary::CatchAtBorder<bool>(
        [&] {
            GetBluetoothProfileResponseState state;
            ConfigResponseDocumentState<GetBluetoothProfileResponseState> document(rootName, &state);
            if (!RunParse(response, &document)) return false;
            if (state.result == 0) profile = state.profile;
            result = state.result;
            return true;
        },
        [](const char*) { return false; });
}

bool ParseSetBluetoothProfileDataResponse(const std::string& rootName, const std::string& response, int& result) {
    return ParseResultOnly<SetBluetoothProfileDataResponseState>(rootName, response, result);
}

bool ParseSetPrinterSettingsResponse(const std::string& rootName, const std::string& response, int& result) {
    return ParseResultOnly<SetPrinterSettingsResponseState>(rootName, response, result);
}

bool ParseRestartBluetoothResponse(const std::string& response, int& result) {
    return ParseResultOnly<RestartBluetoothResponseState>(kBluetoothDockConfig, response, result);
}

// Response states

XercesXMLParsingState* GetGuidResponseState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kGetPrinterGuidResponse) ThrowUnexpected(name);
    return new GuidExpectedState(&guid);
}

XercesXMLParsingState* GetMacAddressResponseState::StartElement(const std::string& name,
                                                                const XMLAttributeMap& attributes) {
    if (name != kGetMacAddressResponse) ThrowUnexpected(name);
    result = Tessary::GetRequiredIntAttribute(attributes, kResult);
    return new MacAddressExpectedState(&macAddress);
}

XercesXMLParsingState* GetPrinterSettingsResponseState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kGetPrinterSettingsResponse) ThrowUnexpected(name);
    return new PrinterSettingsExpectedState(&settings);
}

XercesXMLParsingState* GetAllProfilesResponseState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kGetAllProfilesResponse) return nullptr;
    return new ProfileSetExpectedState(&profiles);
}

XercesXMLParsingState* GetOperationResultState::StartElement(const std::string& name,
                                                             const XMLAttributeMap& attributes) {
    if (name != expectedName) ThrowUnexpected(name);
    result = Tessary::GetRequiredIntAttribute(attributes, kResult);
    return nullptr;
}

SetProfileDataResponseState::SetProfileDataResponseState() : GetOperationResultState(kSetProfileDataResponse) {}
SetPrinterSettingsResponseState::SetPrinterSettingsResponseState()
    : GetOperationResultState(kSetPrinterSettingsResponse) {}
RestartBluetoothResponseState::RestartBluetoothResponseState() : GetOperationResultState(kRestartBluetoothResponse) {}

XercesXMLParsingState* GetBluetoothProfileResponseState::StartElement(const std::string& name,
                                                                      const XMLAttributeMap& attributes) {
    if (name != kGetBluetoothProfileResponse) ThrowUnexpected(name);
    result = Tessary::GetRequiredIntAttribute(attributes, kResult);
    return new BluetoothProfileExpectedState(&profile);
}

XercesXMLParsingState* SetBluetoothProfileDataResponseState::StartElement(const std::string& name,
                                                                          const XMLAttributeMap& attributes) {
    if (name != kSetBluetoothProfileDataResponse && name != kSetBluetoothProfileResponse) ThrowUnexpected(name);
    result = Tessary::GetRequiredIntAttribute(attributes, kResult);
    return nullptr;
}

// Expected states

XercesXMLParsingState* GuidExpectedState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kGuid) ThrowUnexpected(name);
    return new Tessary::XMLStringSetState(guid);
}

XercesXMLParsingState* MacAddressExpectedState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kMacAddress) ThrowUnexpected(name);
    return new Tessary::XMLStringSetState(macAddress);
}

XercesXMLParsingState* PrinterSettingsExpectedState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name != kPin) ThrowUnexpected(name);
    return new Tessary::XMLStringSetState(&settings->pin);
}

XercesXMLParsingState* BluetoothProfileExpectedState::StartElement(const std::string& name,
                                                                   const XMLAttributeMap& attributes) {
    if (name != kBluetoothProfile) ThrowUnexpected(name);
    profile->SetEnabled(Tessary::GetRequiredBoolAttribute(attributes, kEnabled));
    return new BluetoothProfileState(profile);
}

// Bluetooth profile

XercesXMLParsingState* BluetoothProfileState::StartElement(const std::string& name, const XMLAttributeMap& attributes) {
    if (name == kFriendlyName)
        return new Tessary::XMLSetStringDataState<BluetoothProfile>(profile, &BluetoothProfile::SetFriendlyName);
    if (name == kPin) {
        profile->SetRequirePIN(Tessary::GetRequiredBoolAttribute(attributes, kRequired));
        return nullptr;
    }
    if (name == kLinkwise) {
        profile->SetLinkwiseEnabled(Tessary::GetRequiredBoolAttribute(attributes, kEnabled));
        return nullptr;
    }
    if (name == kPairedDevices) return new PairedDeviceSetState(profile);
    return nullptr;
}

XercesXMLParsingState* PairedDeviceSetState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name == kPairedDevice) return new PairedDeviceState(profile);
    return nullptr;
}

XercesXMLParsingState* PairedDeviceState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name == kDeviceName)
        return new Tessary::XMLSetStringDataState<BluetoothProfile::PairedDeviceData>(
            &device, &BluetoothProfile::PairedDeviceData::SetDeviceName);
    return nullptr;
}

void PairedDeviceState::EndElement() {
    profile->GetPairedDevices().push_back(device);
    SelfDestruct();
}

// Profile assembly

XercesXMLParsingState* ProfileSetExpectedState::StartElement(const std::string& name,
                                                             const XMLAttributeMap& attributes) {
    if (name != kProfile) ThrowUnexpected(name);
    if (pending) {
        profiles->push_back(*pending);
        pending.reset();
    }

    const int id = Tessary::GetRequiredIntAttribute(attributes, kId);
    std::string country;
    Tessary::GetOptionalStringAttribute(attributes, kCountry, country);
    const std::string domain = Tessary::GetRequiredStringAttribute(attributes, kDomain);
    const bool duplicate =
        std::any_of(profiles->begin(), profiles->end(), [id](const Profile& profile) { return profile.GetId() == id; });
    if (duplicate) TS_THROW(Tessary::TSRuntimeError, "Error: duplicated profile ID encountered in the XML!");

    pending = std::make_unique<Profile>();
    pending->SetId(id);
    pending->SetCountry(country);
    pending->SetDomain(domain);
    return new ProfileState(pending.get());
}

void ProfileSetExpectedState::EndElement() {
    if (pending) {
        profiles->push_back(*pending);
        pending.reset();
    }
    SelfDestruct();
}

XercesXMLParsingState* ProfileState::StartElement(const std::string& name, const XMLAttributeMap& attributes) {
    Profile* target = profile;
    if (name == kProfileName) {
        return new TextCallbackState(
            [target](const std::string& text) { target->SetProfileName(Tessary::I8NString(text)); });
    }
    if (name == kFriendlyName) {
        return new TextCallbackState(
            [target](const std::string& text) { target->SetFriendlyName(Tessary::I8NString(text)); });
    }
    if (name == kQztDefaultHostID) {
        return new Tessary::XMLSetStringDataState<Profile>(profile, &Profile::SetDefaultHostID);
    }
    if (name == kIPSettings) {
        return new IPSettingsState(&profile->GetIPSettings(),
                                   Tessary::GetRequiredBoolAttribute(attributes, kAutomatic));
    }
    if (name == kWiFi) return new WiFiSettingsState(&profile->GetWiFiSettings(), GetWiFiModeAttribute(attributes));
    return nullptr;
}

XercesXMLParsingState* IPSettingsState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name == kIPAddress) return new Tessary::XMLStringSetState(&ipAddress);
    if (name == kSubnetMask) return new Tessary::XMLStringSetState(&subnetMask);
    if (name == kGateway) return new Tessary::XMLStringSetState(&gateway);
    return nullptr;
}

void IPSettingsState::EndElement() {
    target->SetAutomatic(automatic);
    target->SetIPAddress(ipAddress);
    target->SetSubnetMask(subnetMask);
    target->SetGateway(gateway);
    SelfDestruct();
}

WiFiMode GetWiFiModeAttribute(const XMLAttributeMap& attributes) {
    const std::string mode = Tessary::GetRequiredStringAttribute(attributes, kMode);
    if (mode == kInfrastructure) return WIFI_MODE_INFRASTRUCTURE;
    if (mode == kAdHoc) return WIFI_MODE_ADHOC;
    TS_THROW(Tessary::TSRuntimeError, "Invalid value for attribute '" + kMode + "'");
}

XercesXMLParsingState* StartWiFiSettingsChild(WiFiSettings& settings, const std::string& name,
                                              const XMLAttributeMap& attributes) {
    if (name == kSSID) {
        WiFiSettings* target = &settings;
        return new TextCallbackState([target](const std::string& text) { target->SetSSID(Tessary::I8NString(text)); });
    }
    if (name == kChannel)
        return new Tessary::XMLSetIntDataState<WiFiSettings, int>(&settings, &WiFiSettings::SetChannel);
    if (name == kSecurity) {
        const NetworkMode network = NetworkModeFromString(Tessary::GetRequiredStringAttribute(attributes, kNetwork));
        const DataMode data = DataModeFromString(Tessary::GetRequiredStringAttribute(attributes, kData));
        return new SecuritySettingsState(&settings, network, data);
    }
    return nullptr;
}

XercesXMLParsingState* WiFiSettingsState::StartElement(const std::string& name, const XMLAttributeMap& attributes) {
    return StartWiFiSettingsChild(settings, name, attributes);
}

void WiFiSettingsState::EndElement() {
    *target = settings;
    SelfDestruct();
}

SecuritySettingsState::SecuritySettingsState(WiFiSettings* settings, NetworkMode networkMode, DataMode dataMode)
    : settings(settings), networkMode(networkMode), dataMode(dataMode), security(std::make_unique<NullSecurity>()) {}

XercesXMLParsingState* SecuritySettingsState::StartElement(const std::string& name, const XMLAttributeMap&) {
    if (name == kWpaPSKKey) {
        security = std::make_unique<WpaPskSecurity>();
        return new Tessary::XMLSetIndexedStringDataState<Security>(security.get(), 1, &Security::SetKey);
    }
    if (name == kWepKeys) {
        security = std::make_unique<WepSecurity>();
        return new WepKeychainState(security.get());
    }
    return nullptr;
}

void SecuritySettingsState::EndElement() {
    settings->SetSecurity(networkMode, dataMode, *security);
    SelfDestruct();
}

XercesXMLParsingState* WepKeychainState::StartElement(const std::string& name, const XMLAttributeMap& attributes) {
    if (name != kKey) return nullptr;
    const int id = Tessary::GetRequiredIntAttribute(attributes, kId);
    if (id <= 0) TS_THROW(Tessary::TSRuntimeError, "Invalid key index!");
    if (id > security->GetKeyCount()) return nullptr;
    return new Tessary::XMLSetIndexedStringDataState<Security>(security, id, &Security::SetKey);
}

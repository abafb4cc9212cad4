#include "Simulators/DockPrinter/DockCommands.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <set>

namespace Simulators::Dock {

namespace {

// A request of the right shape with a value the dock will not take; it is
// answered with a non-zero result instead of a failure status.
class InvalidValue : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandInfo {
    const char* name;
    bool underDock;
    bool underBluetooth;
    bool payload;
};

constexpr CommandInfo kCommands[] = {
    {"getPrinterGuid", true, false, false},     {"getMacAddress", true, false, false},
    {"getAllProfiles", true, false, false},     {"findNetworks", true, false, false},
    {"getPrinterSettings", true, true, false},  {"setPrinterSettings", true, true, true},
    {"getBluetoothProfile", true, true, false}, {"setBluetoothProfileData", true, true, true},
    {"setProfileData", true, false, true},      {"restartBluetooth", false, true, false},
};

[[noreturn]] void Reject(const std::string& what) {
    throw RequestError(what);
}

bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

// Every attribute is known; the required ones are there.
void CheckAttributes(const XmlElement& e, std::initializer_list<std::string_view> allowed,
                     std::initializer_list<std::string_view> required = {}) {
    for (const auto& [key, value] : e.attributes)
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
            Reject("Unknown attribute '" + key + "' on '" + e.name + "'");
    for (auto key : required)
        if (e.Attribute(key) == nullptr) Reject("Missing attribute '" + std::string(key) + "' on '" + e.name + "'");
}

// Children by name: each known, none twice, the required ones present.
class Children {
public:
    Children(const XmlElement& e, std::initializer_list<std::string_view> allowed,
             std::initializer_list<std::string_view> required) {
        for (const auto& child : e.children) {
            if (std::find(allowed.begin(), allowed.end(), child.name) == allowed.end())
                Reject("Unexpected element '" + child.name + "' in '" + e.name + "'");
            if (Find(child.name) != nullptr) Reject("Element '" + child.name + "' twice in '" + e.name + "'");
            found_.push_back(&child);
        }
        for (auto name : required)
            if (Find(name) == nullptr) Reject("Missing element '" + std::string(name) + "' in '" + e.name + "'");
    }
    const XmlElement* Find(std::string_view name) const {
        for (const auto* child : found_)
            if (child->name == name) return child;
        return nullptr;
    }
    const XmlElement& Get(std::string_view name) const { return *Find(name); }

private:
    std::vector<const XmlElement*> found_;
};

// Text of an element that must hold nothing but text.
const std::string& TextOf(const XmlElement& e) {
    if (!e.children.empty()) Reject("Element '" + e.name + "' must hold text only");
    if (!e.attributes.empty()) Reject("Element '" + e.name + "' takes no attributes");
    return e.text;
}

void CheckEmpty(const XmlElement& e) {
    if (!e.children.empty() || !IsBlank(e.text)) Reject("Element '" + e.name + "' must be empty");
}

// Plain decimal as a peer writes it: no sign but '-', no leading zeros, no
// blanks, within 32 bits.
int ParseInt(const XmlElement& e, std::string_view text, bool allowNegative) {
    const bool negative = !text.empty() && text.front() == '-';
    std::string_view digits = negative ? text.substr(1) : text;
    const bool canonical = !digits.empty() && (digits.size() == 1 || digits.front() != '0') &&
                           std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                           !(negative && (digits == "0" || !allowNegative));
    int value = 0;
    if (canonical) {
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size()) return value;
    }
    Reject("Invalid number '" + std::string(text) + "' in '" + e.name + "'");
}

bool ParseBool(const XmlElement& e, std::string_view key) {
    const std::string* value = e.Attribute(key);
    if (value != nullptr && *value == "true") return true;
    if (value != nullptr && *value == "false") return false;
    Reject("Invalid boolean '" + std::string(key) + "' on '" + e.name + "'");
}

template <class E>
E ParseEnum(const XmlElement& e, std::string_view key, std::optional<E> (*convert)(std::string_view)) {
    const std::string* value = e.Attribute(key);
    if (value != nullptr)
        if (auto parsed = convert(*value)) return *parsed;
    Reject("Invalid value for attribute '" + std::string(key) + "' on '" + e.name + "'");
}

// ---- Payloads ----

void ReadWepKeys(const XmlElement& e, WifiSettings& wifi) {
    CheckAttributes(e, {"automaticKeys"});
    if (e.Attribute("automaticKeys") != nullptr) ParseBool(e, "automaticKeys");
    std::set<int> seen;
    for (const auto& key : e.children) {
        if (key.name != "key") Reject("Unexpected element '" + key.name + "' in 'wepKeys'");
        CheckAttributes(key, {"id"}, {"id"});
        if (!key.children.empty()) Reject("Element 'key' must hold text only");
        const int id = ParseInt(key, *key.Attribute("id"), false);
        if (id < 1 || id > 4) Reject("Invalid key id " + std::to_string(id));
        if (!seen.insert(id).second) Reject("Key id " + std::to_string(id) + " twice");
        wifi.wepKeys[id - 1] = key.text;
    }
    wifi.keys = KeyKind::Wep;
}

void ReadSecurity(const XmlElement& e, WifiSettings& wifi) {
    CheckAttributes(e, {"network", "data"}, {"network", "data"});
    wifi.network = ParseEnum(e, "network", &NetworkModeFromText);
    wifi.data = ParseEnum(e, "data", &DataModeFromText);
    Children children(e, {"wepKeys", "wpaPSKKey"}, {});
    if (children.Find("wepKeys") != nullptr && children.Find("wpaPSKKey") != nullptr)
        Reject("Both WEP and WPA keys in 'security'");
    if (const auto* wep = children.Find("wepKeys")) ReadWepKeys(*wep, wifi);
    if (const auto* wpa = children.Find("wpaPSKKey")) {
        wifi.wpaKey = TextOf(*wpa);
        wifi.keys = KeyKind::WpaPsk;
    }
    // The key material has to fit the modes, as the printer's radio needs it.
    const bool openNone = wifi.network == NetworkMode::Open && wifi.data == DataMode::None;
    const bool wepCapable = wifi.network == NetworkMode::Shared || (wifi.network == NetworkMode::Open && !openNone);
    const bool fits = wifi.keys == KeyKind::None || (wifi.keys == KeyKind::Wep && wepCapable) ||
                      (wifi.keys == KeyKind::WpaPsk && wifi.network == NetworkMode::WpaPsk);
    if (!fits)
        throw InvalidValue("Keys do not fit network '" + std::string(ToText(wifi.network)) + "' with data '" +
                           std::string(ToText(wifi.data)) + "'");
}

WifiSettings ReadWifi(const XmlElement& e) {
    CheckAttributes(e, {"mode"}, {"mode"});
    WifiSettings wifi;
    wifi.mode = ParseEnum(e, "mode", &WifiModeFromText);
    Children children(e, {"ssid", "channel", "security"}, {"ssid", "channel", "security"});
    wifi.ssid = TextOf(children.Get("ssid"));
    const auto& channel = children.Get("channel");
    wifi.channel = ParseInt(channel, TextOf(channel), false);
    ReadSecurity(children.Get("security"), wifi);
    return wifi;
}

IpSettings ReadIp(const XmlElement& e) {
    CheckAttributes(e, {"automatic"}, {"automatic"});
    IpSettings ip;
    ip.automatic = ParseBool(e, "automatic");
    Children children(e, {"ipAddress", "subnetMask", "gateway"}, {});
    if (const auto* x = children.Find("ipAddress")) ip.ipAddress = TextOf(*x);
    if (const auto* x = children.Find("subnetMask")) ip.subnetMask = TextOf(*x);
    if (const auto* x = children.Find("gateway")) ip.gateway = TextOf(*x);
    return ip;
}

Profile ReadProfile(const XmlElement& e) {
    if (e.name != "profile") Reject("Unexpected element '" + e.name + "' in 'setProfileData'");
    CheckAttributes(e, {"id", "country", "domain"}, {"id", "domain"});
    Profile profile;
    profile.id = ParseInt(e, *e.Attribute("id"), true);
    if (const std::string* country = e.Attribute("country")) profile.country = *country;
    profile.domain = *e.Attribute("domain");
    Children children(e, {"profileName", "wifi", "ipSettings", "friendlyName", "qztDefaultHostID"},
                      {"profileName", "wifi", "ipSettings", "friendlyName", "qztDefaultHostID"});
    profile.profileName = TextOf(children.Get("profileName"));
    profile.wifi = ReadWifi(children.Get("wifi"));
    profile.ip = ReadIp(children.Get("ipSettings"));
    profile.friendlyName = TextOf(children.Get("friendlyName"));
    profile.defaultHostId = TextOf(children.Get("qztDefaultHostID"));
    if (profile.domain.empty()) throw InvalidValue("Profile " + std::to_string(profile.id) + " has no domain");
    return profile;
}

BluetoothProfile ReadBluetoothProfile(const XmlElement& e) {
    if (e.name != "bluetoothProfile") Reject("Unexpected element '" + e.name + "'");
    CheckAttributes(e, {"enabled"}, {"enabled"});
    BluetoothProfile profile;
    profile.enabled = ParseBool(e, "enabled");
    Children children(e, {"friendlyName", "pin", "linkwise", "pairedDevices"},
                      {"friendlyName", "pin", "linkwise", "pairedDevices"});
    profile.friendlyName = TextOf(children.Get("friendlyName"));
    const auto& pin = children.Get("pin");
    CheckAttributes(pin, {"required"}, {"required"});
    CheckEmpty(pin);
    profile.requirePin = ParseBool(pin, "required");
    const auto& linkwise = children.Get("linkwise");
    CheckAttributes(linkwise, {"enabled"}, {"enabled"});
    CheckEmpty(linkwise);
    profile.linkwise = ParseBool(linkwise, "enabled");
    const auto& paired = children.Get("pairedDevices");
    CheckAttributes(paired, {});
    for (const auto& device : paired.children) {
        if (device.name != "pairedDevice") Reject("Unexpected element '" + device.name + "' in 'pairedDevices'");
        CheckAttributes(device, {});
        Children fields(device, {"deviceName"}, {"deviceName"});
        profile.pairedDevices.push_back(TextOf(fields.Get("deviceName")));
    }
    return profile;
}

// ---- Answers ----

XmlWriter::Attributes Result(int result) {
    return {{"result", std::to_string(result)}};
}

void WriteSecurity(XmlWriter& out, const WifiSettings& wifi, bool withKeys) {
    out.Start("security", {{"data", std::string(ToText(wifi.data))}, {"network", std::string(ToText(wifi.network))}});
    if (withKeys && wifi.keys == KeyKind::Wep) {
        out.Start("wepKeys", {{"automaticKeys", "false"}});
        for (int id = 1; id <= 4; ++id) out.TextElement("key", wifi.wepKeys[id - 1], {{"id", std::to_string(id)}});
        out.End();
    } else if (withKeys && wifi.keys == KeyKind::WpaPsk) {
        out.TextElement("wpaPSKKey", wifi.wpaKey);
    }
    out.End();
}

}  // namespace

void WriteWifi(XmlWriter& out, const WifiSettings& wifi, bool withKeys) {
    out.Start("wifi", {{"mode", std::string(ToText(wifi.mode))}});
    out.TextElement("ssid", wifi.ssid);
    out.TextElement("channel", std::to_string(wifi.channel));
    WriteSecurity(out, wifi, withKeys);
    out.End();
}

void WriteProfile(XmlWriter& out, const Profile& profile) {
    out.Start("profile",
              {{"country", profile.country}, {"domain", profile.domain}, {"id", std::to_string(profile.id)}});
    out.TextElement("profileName", profile.profileName);
    WriteWifi(out, profile.wifi, true);
    out.Start("ipSettings", {{"automatic", profile.ip.automatic ? "true" : "false"}});
    if (!profile.ip.automatic) {
        out.TextElement("ipAddress", profile.ip.ipAddress);
        out.TextElement("subnetMask", profile.ip.subnetMask);
        out.TextElement("gateway", profile.ip.gateway);
    }
    out.End();
    out.TextElement("friendlyName", profile.friendlyName);
    out.TextElement("qztDefaultHostID", profile.defaultHostId);
    out.End();
}

void WriteBluetoothProfile(XmlWriter& out, const BluetoothProfile& profile) {
    auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    out.Start("bluetoothProfile", {{"enabled", flag(profile.enabled)}});
    out.TextElement("friendlyName", profile.friendlyName);
    out.EmptyElement("pin", {{"required", flag(profile.requirePin)}});
    out.EmptyElement("linkwise", {{"enabled", flag(profile.linkwise)}});
    out.Start("pairedDevices");
    for (const auto& name : profile.pairedDevices) {
        out.Start("pairedDevice");
        out.TextElement("deviceName", name);
        out.End();
    }
    out.End();
    out.End();
}

Request ParseRequest(std::string_view body) {
    Request request;
    try {
        request.document = ParseXml(body);
    } catch (const RequestError&) {
        throw;
    } catch (const XmlError& e) {
        throw RequestError(e.what());
    }
    const XmlElement& root = request.document;
    request.root = root.name;
    const bool dock = root.name == kDockConfigRoot;
    if (!dock && root.name != kBluetoothDockConfigRoot) Reject("Unknown root '" + root.name + "'");
    CheckAttributes(root, {"version"}, {"version"});
    if (*root.Attribute("version") != "1.0") Reject("Unsupported version '" + *root.Attribute("version") + "'");
    if (root.children.size() != 1) Reject("A request holds exactly one command");
    const XmlElement& command = root.children.front();
    request.command = command.name;
    const auto* info = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const CommandInfo& c) { return command.name == c.name; });
    if (info == std::end(kCommands)) Reject("Unknown command '" + command.name + "'");
    if (!(dock ? info->underDock : info->underBluetooth))
        Reject("Command '" + command.name + "' is not offered under '" + root.name + "'");
    CheckAttributes(command, {});
    if (!info->payload) CheckEmpty(command);
    if (!IsBlank(command.text)) Reject("Text in '" + command.name + "'");
    return request;
}

Outcome Execute(PrinterState& state, const Request& request, const ExecuteOptions& options,
                const std::vector<ScannedNetwork>& inRange) {
    const XmlElement& command = request.document.children.front();
    const std::string& name = request.command;
    XmlWriter out;
    out.Start(request.root);
    Outcome outcome;
    // Commands that change something report a result; a forced non-zero
    // result leaves the printer as it was.
    auto resultOr = [&](int result) { return options.result.value_or(result); };
    const bool apply = options.result.value_or(kResultOk) == kResultOk;

    if (name == "getPrinterGuid") {
        out.Start("getPrinterGuidResponse").TextElement("guid", state.guid).End();
    } else if (name == "getMacAddress") {
        out.Start("getMacAddressResponse", Result(resultOr(state.macAddress.empty() ? 1 : kResultOk)));
        if (!state.macAddress.empty()) out.TextElement("macAddress", state.macAddress);
        out.End();
    } else if (name == "getPrinterSettings") {
        out.Start("getPrinterSettingsResponse").TextElement("pin", state.pin).End();
    } else if (name == "getAllProfiles") {
        out.Start("getAllProfilesResponse");
        out.SetLineEnds(true);
        for (const auto& [id, profile] : state.profiles) WriteProfile(out, profile);
        out.SetLineEnds(false);
        out.End();
    } else if (name == "findNetworks") {
        out.Start("findNetworksResponse");
        out.SetLineEnds(true);
        for (const auto& network : inRange) {
            out.Start("network");
            for (const auto& face : network.faces) WriteWifi(out, face, false);
            out.End();
        }
        out.SetLineEnds(false);
        out.End();
    } else if (name == "getBluetoothProfile") {
        out.Start("getBluetoothProfileResponse", Result(resultOr(kResultOk)));
        out.SetLineEnds(true);
        WriteBluetoothProfile(out, state.bluetooth);
        out.SetLineEnds(false);
        out.End();
    } else if (name == "setPrinterSettings") {
        Children children(command, {"pin"}, {"pin"});
        const std::string& pin = TextOf(children.Get("pin"));
        // A new PIN is four digits; the PIN the dock holds (a factory one may
        // be shorter) is taken back as it is.
        const bool valid =
            (pin.size() == 4 && std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; })) ||
            pin == state.pin;
        int result = resultOr(valid ? kResultOk : kResultInvalidValue);
        if (apply && valid) state.pin = pin;
        out.EmptyElement("setPrinterSettingsResponse", Result(result));
    } else if (name == "setProfileData") {
        std::vector<Profile> profiles;
        int result = kResultOk;
        try {
            std::set<int> ids;
            for (const auto& element : command.children) {
                profiles.push_back(ReadProfile(element));
                if (!ids.insert(profiles.back().id).second)
                    throw InvalidValue("Profile " + std::to_string(profiles.back().id) + " twice");
                if (!state.profiles.contains(profiles.back().id) &&
                    options.unknownProfiles == UnknownProfilePolicy::Refuse && result == kResultOk)
                    result = kResultUnknownProfile;
            }
        } catch (const InvalidValue&) {
            result = kResultInvalidValue;
        }
        result = resultOr(result);
        if (apply && result == kResultOk)
            for (auto& profile : profiles) state.profiles[profile.id] = std::move(profile);
        out.EmptyElement("setProfileDataResponse", Result(result));
    } else if (name == "setBluetoothProfileData") {
        Children children(command, {"bluetoothProfile"}, {"bluetoothProfile"});
        BluetoothProfile profile = ReadBluetoothProfile(children.Get("bluetoothProfile"));
        if (apply) state.bluetooth = std::move(profile);
        out.EmptyElement(
            options.bluetoothResultAlias ? "setBluetoothProfileResponse" : "setBluetoothProfileDataResponse",
            Result(resultOr(kResultOk)));
    } else if (name == "restartBluetooth") {
        outcome.restartedBluetooth = apply;
        if (apply) ++state.bluetoothRestarts;
        out.EmptyElement("restartBluetoothResponse", Result(resultOr(kResultOk)));
    } else {
        Reject("Unknown command '" + name + "'");
    }
    out.End();
    outcome.body = out.Take();
    return outcome;
}

}  // namespace Simulators::Dock

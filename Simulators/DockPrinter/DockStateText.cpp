#include "Simulators/DockPrinter/DockStateText.h"

#include "Platform/MachineFile.h"

#include <charconv>
#include <set>

namespace Simulators::Dock {
namespace {

[[noreturn]] void Fail(const std::string& source, std::size_t number, const std::string& what) {
    throw StateTextError(Platform::EscapeControlCharacters(source + ":" + std::to_string(number) + ": " + what));
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out.push_back(c);
    }
    return out + "\"";
}

std::string_view OnOff(bool on) {
    return on ? "on" : "off";
}

class Statement {
public:
    Statement(std::string_view text, const std::string& source, std::size_t number) : source_(source), number_(number) {
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) Fail("expected 'name = value'");
        key_ = Trim(text.substr(0, eq));
        value_ = Trim(text.substr(eq + 1));
        if (key_.empty()) Fail("a value without a name");
    }

    [[noreturn]] void Fail(const std::string& what) const { Dock::Fail(source_, number_, what); }

    const std::string& Key() const { return key_; }

    std::string Text() const {
        if (value_.size() < 2 || value_.front() != '"' || value_.back() != '"')
            Fail("'" + key_ + "' takes a text in double quotes");
        std::string out;
        for (std::size_t i = 1; i + 1 < value_.size(); ++i) {
            char c = value_[i];
            if (c == '"') Fail("an unescaped quote inside '" + key_ + "'");
            if (c == '\\') {
                if (i + 2 >= value_.size()) Fail("a lone backslash at the end of '" + key_ + "'");
                c = value_[++i];
                if (c == 'n')
                    c = '\n';
                else if (c != '\\' && c != '"')
                    Fail(std::string("unknown escape \\") + c + " in '" + key_ + "'");
            }
            out.push_back(c);
        }
        return out;
    }

    bool Flag() const {
        if (value_ == "on") return true;
        if (value_ == "off") return false;
        Fail("'" + key_ + "' is on or off, got '" + value_ + "'");
    }

    int Number(int min, int max) const {
        int value = 0;
        const auto [ptr, ec] = std::from_chars(value_.data(), value_.data() + value_.size(), value);
        if (ec != std::errc{} || ptr != value_.data() + value_.size() || value < min || value > max)
            Fail("'" + key_ + "' is a number from " + std::to_string(min) + " to " + std::to_string(max));
        return value;
    }

    template <class E, class F>
    E Word(F fromText) const {
        const auto value = fromText(value_);
        if (!value) Fail("'" + value_ + "' is no value of '" + key_ + "'");
        return *value;
    }

    const std::string& Raw() const { return value_; }

    static std::string Trim(std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
            text.remove_suffix(1);
        return std::string(text);
    }

private:
    const std::string& source_;
    std::size_t number_;
    std::string key_;
    std::string value_;
};

constexpr std::string_view kKeyKinds[] = {"none", "wep", "wpa"};

std::optional<KeyKind> KeyKindFromText(std::string_view text) {
    for (std::size_t i = 0; i < std::size(kKeyKinds); ++i)
        if (kKeyKinds[i] == text) return static_cast<KeyKind>(i);
    return std::nullopt;
}

void ProfileSetting(const Statement& s, Profile& p) {
    const auto& k = s.Key();
    if (k == "country")
        p.country = s.Text();
    else if (k == "domain")
        p.domain = s.Text();
    else if (k == "name")
        p.profileName = s.Text();
    else if (k == "friendly-name")
        p.friendlyName = s.Text();
    else if (k == "default-host")
        p.defaultHostId = s.Text();
    else if (k == "mode")
        p.wifi.mode = s.Word<WifiMode>(WifiModeFromText);
    else if (k == "ssid")
        p.wifi.ssid = s.Text();
    else if (k == "channel")
        p.wifi.channel = s.Number(1, 14);
    else if (k == "network")
        p.wifi.network = s.Word<NetworkMode>(NetworkModeFromText);
    else if (k == "data")
        p.wifi.data = s.Word<DataMode>(DataModeFromText);
    else if (k == "keys")
        p.wifi.keys = s.Word<KeyKind>(KeyKindFromText);
    else if (k.size() == 4 && k.starts_with("wep") && k[3] >= '1' && k[3] <= '4')
        p.wifi.wepKeys[k[3] - '1'] = s.Text();
    else if (k == "wpa-key")
        p.wifi.wpaKey = s.Text();
    else if (k == "ip") {
        if (s.Raw() != "auto" && s.Raw() != "static") s.Fail("ip is auto or static");
        p.ip.automatic = s.Raw() == "auto";
    } else if (k == "address")
        p.ip.ipAddress = s.Text();
    else if (k == "mask")
        p.ip.subnetMask = s.Text();
    else if (k == "gateway")
        p.ip.gateway = s.Text();
    else
        s.Fail("unknown profile setting '" + k + "'");
}

}  // namespace

PrinterState ParseStateText(std::string_view text, const std::string& sourceName) {
    PrinterState state;
    Profile* profile = nullptr;
    std::set<std::string> seen;
    std::size_t number = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string line = Statement::Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            int id = -1;
            if (line.starts_with("[profile ") && line.back() == ']') {
                const auto digits = std::string_view(line).substr(9, line.size() - 10);
                const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
                if (ec != std::errc{} || ptr != digits.data() + digits.size() || id < 0 || id > 255) id = -1;
            }
            if (id < 0) Fail(sourceName, number, "expected [profile <0..255>]");
            if (state.profiles.contains(id))
                Fail(sourceName, number, "profile " + std::to_string(id) + " is given twice");
            profile = &state.profiles[id];
            profile->id = id;
            seen.clear();
            continue;
        }
        const Statement s(line, sourceName, number);
        if (s.Key() != "paired" && !seen.insert(s.Key()).second) s.Fail("'" + s.Key() + "' is given twice");
        if (profile != nullptr) {
            ProfileSetting(s, *profile);
            continue;
        }
        const auto& k = s.Key();
        if (k == "guid")
            state.guid = s.Text();
        else if (k == "mac")
            state.macAddress = s.Text();
        else if (k == "pin")
            state.pin = s.Text();
        else if (k == "firmware") {
            state.firmware = s.Text();
            if (!IsFirmwareText(state.firmware))
                s.Fail("firmware takes 1 to 63 letters, digits and marks, no ';' or ':'");
        }
        else if (k == "bluetooth")
            state.bluetooth.enabled = s.Flag();
        else if (k == "bluetooth-name")
            state.bluetooth.friendlyName = s.Text();
        else if (k == "bluetooth-pin-required")
            state.bluetooth.requirePin = s.Flag();
        else if (k == "linkwise")
            state.bluetooth.linkwise = s.Flag();
        else if (k == "paired")
            state.bluetooth.pairedDevices.push_back(s.Text());
        else
            s.Fail("unknown setting '" + k + "'");
    }
    return state;
}

std::string FormatStateText(const PrinterState& state) {
    std::string out =
        "guid = " + Quote(state.guid) + "\nmac = " + Quote(state.macAddress) + "\npin = " + Quote(state.pin) + "\n" +
        "firmware = " + Quote(state.firmware) + "\n";
    const auto& bt = state.bluetooth;
    out += "bluetooth = " + std::string(OnOff(bt.enabled)) + "\nbluetooth-name = " + Quote(bt.friendlyName) +
           "\nbluetooth-pin-required = " + std::string(OnOff(bt.requirePin)) +
           "\nlinkwise = " + std::string(OnOff(bt.linkwise)) + "\n";
    for (const auto& device : bt.pairedDevices) out += "paired = " + Quote(device) + "\n";
    for (const auto& [id, p] : state.profiles) {
        out += "\n[profile " + std::to_string(id) + "]\n";
        out += "country = " + Quote(p.country) + "\ndomain = " + Quote(p.domain) + "\nname = " + Quote(p.profileName) +
               "\nfriendly-name = " + Quote(p.friendlyName) + "\ndefault-host = " + Quote(p.defaultHostId) + "\n";
        out += "mode = " + std::string(ToText(p.wifi.mode)) + "\nssid = " + Quote(p.wifi.ssid) +
               "\nchannel = " + std::to_string(p.wifi.channel) + "\nnetwork = " + std::string(ToText(p.wifi.network)) +
               "\ndata = " + std::string(ToText(p.wifi.data)) +
               "\nkeys = " + std::string(kKeyKinds[static_cast<int>(p.wifi.keys)]) + "\n";
        for (int i = 0; i < 4; ++i)
            if (!p.wifi.wepKeys[i].empty())
                out += "wep" + std::to_string(i + 1) + " = " + Quote(p.wifi.wepKeys[i]) + "\n";
        if (!p.wifi.wpaKey.empty()) out += "wpa-key = " + Quote(p.wifi.wpaKey) + "\n";
        out += std::string("ip = ") + (p.ip.automatic ? "auto" : "static") + "\n";
        if (!p.ip.ipAddress.empty()) out += "address = " + Quote(p.ip.ipAddress) + "\n";
        if (!p.ip.subnetMask.empty()) out += "mask = " + Quote(p.ip.subnetMask) + "\n";
        if (!p.ip.gateway.empty()) out += "gateway = " + Quote(p.ip.gateway) + "\n";
    }
    return out;
}

std::string StatePath(const std::string& machineFolder, const std::string& serial) {
    return machineFolder + "/docks/" + serial + ".txt";
}

}  // namespace Simulators::Dock

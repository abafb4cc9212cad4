// Feeds arbitrary bytes to every response parse of the configuration
// protocol. Besides crashes and leaks, it checks what each parse promises
// about its output, and that profiles it accepts survive being written back
// and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Common/NetConfig/Responses.h"
#include "Tessary/xerces-xmlparser/XercesXMLParser.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckProfiles(const std::string& input) {
    std::vector<Profile> profiles(1);
    const bool ok = ParseGetAllProfilesResponse(input, profiles);
    if (!ok) {
        Check(profiles.empty());
        return;
    }
    std::set<int> ids;
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        Check(ids.insert(profiles[i].GetId()).second);
        if (i > 0) Check(profiles[i - 1].GetId() < profiles[i].GetId());
    }

    // What was read must write (every mode it holds has a text) and read back.
    std::ostringstream stream;
    stream << Tessary::XMLFormat(true) << "<dockConfig><getAllProfilesResponse>";
    for (const Profile& profile : profiles) {
        profile.Print(stream);
        std::ostringstream text;
        profile.Print(text);
    }
    stream << "</getAllProfilesResponse></dockConfig>";
    std::vector<Profile> again;
    Check(ParseGetAllProfilesResponse(stream.str(), again));
    Check(again.size() == profiles.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        Check(again[i].GetId() == profiles[i].GetId());
        Check(again[i].GetDomain() == profiles[i].GetDomain());
        Check(again[i].GetWiFiSettings().GetDataMode() == profiles[i].GetWiFiSettings().GetDataMode());
    }
}

void CheckOperationResult(const std::string& input) {
    SetProfileDataResponseState state;
    NetConfigResponseDocumentState<SetProfileDataResponseState> document(&state);
    Tessary::XercesXMLParser parser;
    parser.ParseBuffer(input.data(), static_cast<unsigned>(input.size()), &document);
}

// A failed parse touches nothing; an error code never hands out a profile;
// an accepted profile writes back and reads back the same.
void CheckBluetooth(const std::string& input) {
    for (const char* root : {"dockConfig", "bluetoothDockConfig"}) {
        BluetoothProfile profile;
        profile.SetFriendlyName("unset");
        int result = 12345;
        if (!ParseGetBluetoothProfileResponse(root, input, profile, result)) {
            Check(result == 12345 && profile.GetFriendlyName() == "unset");
        } else if (result != 0) {
            Check(profile.GetFriendlyName() == "unset" && profile.GetPairedDevices().empty());
        } else {
            std::ostringstream stream;
            stream << "<" << root << "><getBluetoothProfileResponse result=\"0\">";
            profile.PrintXML(stream);
            stream << "</getBluetoothProfileResponse></" << root << ">";
            BluetoothProfile again;
            int againResult = -1;
            Check(ParseGetBluetoothProfileResponse(root, stream.str(), again, againResult));
            Check(againResult == 0);
            Check(again.GetEnabled() == profile.GetEnabled() && again.GetRequirePIN() == profile.GetRequirePIN() &&
                  again.GetLinkwiseEnabled() == profile.GetLinkwiseEnabled());
            Check(again.GetPairedDevices().size() == profile.GetPairedDevices().size());
        }

        result = 12345;
        if (!ParseSetBluetoothProfileDataResponse(root, input, result)) Check(result == 12345);
        result = 12345;
        if (!ParseSetPrinterSettingsResponse(root, input, result)) Check(result == 12345);
    }
    int result = 12345;
    if (!ParseRestartBluetoothResponse(input, result)) Check(result == 12345);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    std::string guid = "unset";
    if (!ParseGetPrinterGuidResponse(input, guid)) Check(guid.empty());

    std::string mac = "unset";
    const int macResult = ParseGetMacAddressResponse(input, mac);
    Check(macResult >= 0 && macResult <= 2);
    if (macResult != 0) Check(mac.empty());

    for (const char* root : {"dockConfig", "bluetoothDockConfig"}) {
        PrinterSettings settings{"unset"};
        if (!ParseGetPrinterSettingsResponse(root, input, settings)) Check(settings.pin == "unset");
    }

    CheckProfiles(input);
    CheckOperationResult(input);
    CheckBluetooth(input);
    return 0;
}

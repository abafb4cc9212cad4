// Feeds arbitrary bytes to the parse of the printer's network scan answer.
// Besides crashes and leaks, it checks that a rejected answer leaves the
// list alone, and that the networks of an accepted one survive being
// written back and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "FindNetworks.h"
#include "Tessary/xml-utilities/XMLUtilities.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<WiFiSettings> networks(1);
    if (!ParseFindNetworksResponse(input, networks)) {
        Check(networks.size() == 1);
        return 0;
    }
    networks.erase(networks.begin());

    std::ostringstream stream;
    stream << Tessary::XMLFormat(true) << "<dockConfig><findNetworksResponse>";
    for (const WiFiSettings& network : networks) {
        stream << "<network>";
        network.Print(stream);
        stream << "</network>";
    }
    stream << "</findNetworksResponse></dockConfig>";
    std::vector<WiFiSettings> again;
    Check(ParseFindNetworksResponse(stream.str(), again));
    Check(again.size() == networks.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        Check(again[i].GetSSID() == networks[i].GetSSID());
        Check(again[i].GetMode() == networks[i].GetMode());
        Check(again[i].GetChannel() == networks[i].GetChannel());
        Check(again[i].GetNetworkMode() == networks[i].GetNetworkMode());
        Check(again[i].GetDataMode() == networks[i].GetDataMode());
    }
    return 0;
}

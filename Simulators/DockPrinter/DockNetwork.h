// The dock on the simulated Wi-Fi network: what its scan sees of the
// machine's access points, which stored profile lets it join one, and how it
// then makes itself known by DNS-SD ("_ptp._tcp" with the TXT keys
// "usbvid=", "pid=" and "guid=").
#pragma once

#include "Platform/Wireless.h"
#include "Simulators/DockPrinter/DockState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Simulators::Dock {

// What a scan reports of the access points in range: one network per radio,
// each access point a face, without key material.
std::vector<ScannedNetwork> ScanOf(const std::vector<Platform::AccessPoint>& inRange);
// The access points that show these networks (faces of one network share a
// radio), in range.
std::vector<Platform::AccessPoint> AccessPointsOf(const std::vector<ScannedNetwork>& networks);

// Whether a station with these settings gets onto the access point: SSID,
// mode, security and the key in use (WEP key 1, or the WPA passphrase) all
// agree. The channel follows the access point.
bool CanJoin(const WifiSettings& wifi, const Platform::AccessPoint& accessPoint);

struct JoinChoice {
    int profileId = 0;
    Platform::AccessPoint accessPoint;
};
// The first stored profile, by ascending id, that joins one of the access
// points (the first that fits, in list order).
std::optional<JoinChoice> ChooseNetwork(const PrinterState& state, const std::vector<Platform::AccessPoint>& inRange);

// The service a joined dock offers.
struct ServiceAnnouncement {
    std::string instanceName;
    std::string hostName;  // without the trailing dot
    std::uint16_t port = 15740;
    std::uint32_t vendorId = 0;
    std::uint32_t productId = 0;
    std::string guid;

    bool operator==(const ServiceAnnouncement&) const = default;
};

// Where the dock announces itself: the scripted fake DNS-SD in unit tests,
// the Avahi daemon in integration tests (Simulators/DockPrinter/announce).
// Called from the dock's radio thread, one call at a time.
class ServiceAnnouncer {
public:
    virtual ~ServiceAnnouncer() = default;
    virtual void Announce(const ServiceAnnouncement& announcement) = 0;
    virtual void Withdraw(const ServiceAnnouncement& announcement) = 0;
    // Why the announcement that stands now did not get through; empty when
    // it did or when the announcer cannot tell. Called from any thread.
    virtual std::string Failure() const { return {}; }
};

}  // namespace Simulators::Dock

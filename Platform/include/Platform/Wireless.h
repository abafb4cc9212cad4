// The radio networks around the simulated machine: the access points that
// simulated devices scan and join. Devices watch the list, so that taking an
// access point away or out of range is noticed at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Platform {

enum class WifiMode { Infrastructure, AdHoc };
enum class WifiAuthentication { Open, Shared, WpaPsk };
enum class WifiEncryption { None, Wep64, Wep128, Tkip, Aes };

struct AccessPoint {
    std::string ssid;
    int channel = 11;
    WifiMode mode = WifiMode::Infrastructure;
    WifiAuthentication authentication = WifiAuthentication::Open;
    WifiEncryption encryption = WifiEncryption::None;
    // WEP keys 1..4; a station joins with key 1.
    std::array<std::string, 4> wepKeys;
    std::string wpaKey;
    bool inRange = true;
    // Access points with the same non-zero radio are faces of one device: a
    // scan lists them as one network.
    unsigned radio = 0;

    bool operator==(const AccessPoint&) const = default;
};

class Airwaves {
public:
    using Observer = std::function<void()>;

    std::vector<AccessPoint> AccessPoints() const;
    std::vector<AccessPoint> InRange() const;
    void SetAccessPoints(std::vector<AccessPoint> accessPoints);
    void Add(AccessPoint accessPoint);
    // Every access point with this SSID; false when there was none.
    bool Remove(const std::string& ssid);
    bool SetInRange(const std::string& ssid, bool inRange);

    // The observer is called, on the changing thread, after every change.
    // After Unwatch returns it is not running and is not called again; it
    // must not call Watch or Unwatch itself.
    std::uint64_t Watch(Observer observer);
    void Unwatch(std::uint64_t id);

    // No access points (observers stay).
    void Reset();

private:
    void Changed();

    mutable std::mutex mutex_;
    std::vector<AccessPoint> accessPoints_;
    std::mutex observersMutex_;  // held while observers run
    std::map<std::uint64_t, Observer> observers_;
    std::uint64_t nextObserver_ = 1;
};

}  // namespace Platform

#include "Platform/Wireless.h"

#include <algorithm>

namespace Platform {

std::vector<AccessPoint> Airwaves::AccessPoints() const {
    std::lock_guard lock(mutex_);
    return accessPoints_;
}

std::vector<AccessPoint> Airwaves::InRange() const {
    std::lock_guard lock(mutex_);
    std::vector<AccessPoint> result;
    std::copy_if(accessPoints_.begin(), accessPoints_.end(), std::back_inserter(result),
                 [](const AccessPoint& a) { return a.inRange; });
    return result;
}

void Airwaves::SetAccessPoints(std::vector<AccessPoint> accessPoints) {
    {
        std::lock_guard lock(mutex_);
        accessPoints_ = std::move(accessPoints);
    }
    Changed();
}

void Airwaves::Add(AccessPoint accessPoint) {
    {
        std::lock_guard lock(mutex_);
        accessPoints_.push_back(std::move(accessPoint));
    }
    Changed();
}

bool Airwaves::Remove(const std::string& ssid) {
    bool removed;
    {
        std::lock_guard lock(mutex_);
        removed = std::erase_if(accessPoints_, [&](const AccessPoint& a) { return a.ssid == ssid; }) > 0;
    }
    if (removed) Changed();
    return removed;
}

bool Airwaves::SetInRange(const std::string& ssid, bool inRange) {
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        for (auto& a : accessPoints_) {
            if (a.ssid != ssid) continue;
            a.inRange = inRange;
            found = true;
        }
    }
    if (found) Changed();
    return found;
}

std::uint64_t Airwaves::Watch(Observer observer) {
    std::lock_guard lock(observersMutex_);
    const auto id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void Airwaves::Unwatch(std::uint64_t id) {
    std::lock_guard lock(observersMutex_);
    observers_.erase(id);
}

void Airwaves::Reset() {
    {
        std::lock_guard lock(mutex_);
        accessPoints_.clear();
    }
    Changed();
}

void Airwaves::Changed() {
    // Held across the calls, so that Unwatch waits for a running observer.
    std::lock_guard lock(observersMutex_);
    for (const auto& [id, observer] : observers_) observer();
}

}  // namespace Platform

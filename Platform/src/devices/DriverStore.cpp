#include "Platform/DriverStore.h"

#include "DeviceState.h"
#include "MachineStore.h"
#include "Platform/MachineFile.h"

#include <algorithm>
#include <stdexcept>

namespace Platform {

using detail::EqualsNoCase;

struct DriverStore::State {
    mutable std::mutex mutex;
    detail::Persisted<DriverStoreData> store{&ParseDriverStoreText, &FormatDriverStoreText};
};

DriverStore::DriverStore() : state_(std::make_unique<State>()) {}
DriverStore::~DriverStore() = default;

void DriverStore::Reset() {
    std::lock_guard lock(state_->mutex);
    state_->store.Reset();
}

void DriverStore::BindFile(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    state_->store.Bind(path);
}

void DriverStore::Install(const DriverPackage& package) {
    if (package.description.empty() || package.infPath.empty() || package.section.empty())
        throw std::invalid_argument("a driver package needs a description, an INF path and a section");
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](DriverStoreData& data) {
        auto& drivers = data.drivers;
        const auto it = std::find_if(drivers.begin(), drivers.end(), [&](const DriverPackage& d) {
            return EqualsNoCase(d.description, package.description);
        });
        if (it != drivers.end())
            *it = package;
        else
            drivers.push_back(package);
        return 0;
    });
}

bool DriverStore::Uninstall(const std::u16string& description) {
    std::lock_guard lock(state_->mutex);
    return state_->store.Change([&](DriverStoreData& data) {
        return std::erase_if(data.drivers,
                             [&](const DriverPackage& d) { return EqualsNoCase(d.description, description); }) > 0;
    });
}

DriverStoreData DriverStore::Snapshot() const {
    std::lock_guard lock(state_->mutex);
    state_->store.Refresh();
    return state_->store.Get();
}

std::vector<DriverPackage> DriverStore::Compatible(const std::vector<std::u16string>& hardwareIds) const {
    std::vector<DriverPackage> found;
    for (const auto& driver : Snapshot().drivers) {
        const bool serves = std::any_of(driver.hardwareIds.begin(), driver.hardwareIds.end(), [&](const auto& id) {
            return std::any_of(hardwareIds.begin(), hardwareIds.end(),
                               [&](const auto& wanted) { return EqualsNoCase(id, wanted); });
        });
        if (serves) found.push_back(driver);
    }
    return found;
}

bool DriverStore::IsInstalled(const std::u16string& description) const {
    const auto drivers = Snapshot().drivers;
    return std::any_of(drivers.begin(), drivers.end(),
                       [&](const DriverPackage& d) { return EqualsNoCase(d.description, description); });
}

std::vector<DriverPackage> DriverStore::ByInf(const std::u16string& infPath) const {
    std::vector<DriverPackage> found;
    for (const auto& driver : Snapshot().drivers)
        if (EqualsNoCase(driver.infPath, infPath)) found.push_back(driver);
    return found;
}

void DriverStore::Associate(const ProfileAssociation& association) {
    std::lock_guard lock(state_->mutex);
    state_->store.Change([&](DriverStoreData& data) {
        if (std::find(data.profiles.begin(), data.profiles.end(), association) == data.profiles.end())
            data.profiles.push_back(association);
        return 0;
    });
}

}  // namespace Platform

// The simulated machine's driver store: the driver packages installed on
// it, each an INF file with one install section, the hardware ids it
// serves and the files installing the section copies. A queue can only use
// an installed driver (by its description). Colour profiles associated
// with devices are kept here too, as they come from the same packages.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Platform {

struct DriverPackage {
    std::u16string description;  // the driver name queues use
    std::u16string infPath;      // e.g. "C:\Windows\INF\oem3.inf"
    std::u16string section;
    std::vector<std::u16string> hardwareIds;
    std::vector<std::u16string> targetFiles;  // full paths the section copies to
    bool operator==(const DriverPackage&) const = default;
};

struct ProfileAssociation {
    std::u16string profile;
    std::u16string device;
    bool operator==(const ProfileAssociation&) const = default;
};

struct DriverStoreData {
    std::vector<DriverPackage> drivers;
    std::vector<ProfileAssociation> profiles;
    bool operator==(const DriverStoreData&) const = default;
};

class DriverStore {
public:
    DriverStore();
    ~DriverStore();
    DriverStore(const DriverStore&) = delete;
    DriverStore& operator=(const DriverStore&) = delete;

    void Reset();
    // Keeps the store in a file (see Platform/MachineFile.h); empty: memory only.
    void BindFile(const std::string& path);

    // Installs a package; one with the same description is replaced.
    // Throws std::invalid_argument for a package without description, INF
    // path or section.
    void Install(const DriverPackage& package);
    bool Uninstall(const std::u16string& description);
    DriverStoreData Snapshot() const;

    // The packages serving one of the ids (any case), in store order.
    std::vector<DriverPackage> Compatible(const std::vector<std::u16string>& hardwareIds) const;
    // Any case.
    bool IsInstalled(const std::u16string& description) const;
    std::vector<DriverPackage> ByInf(const std::u16string& infPath) const;

    // Adds the association unless it is there already.
    void Associate(const ProfileAssociation& association);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// INF file and file queue handles open in this process (leak checks).
std::size_t OpenInfHandleCount();

}  // namespace Platform

// The simulated machine: one per process, behind every platform call.
// Each subsystem (device tree, registry, spooler, driver store, the radio
// networks around it; file system as it arrives) is a member reached
// through an accessor, so the calls of one subsystem can see the others.
#pragma once

#include "Platform/Devices.h"
#include "Platform/DriverStore.h"
#include "Platform/Registry.h"
#include "Platform/Spooler.h"
#include "Platform/Wireless.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace Platform {

// What GetVersionExW reports.
struct OsVersion {
    DWORD major = 10;
    DWORD minor = 0;
    DWORD build = 19045;
    std::u16string servicePack;
    bool operator==(const OsVersion&) const = default;
};

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // A fresh machine: every subsystem back to empty, kept in memory only,
    // its user an administrator (tests).
    void Reset();

    DeviceManager& Devices() { return *devices_; }
    SystemRegistry& Registry() { return *registry_; }
    PrintSpooler& Spooler() { return *spooler_; }
    DriverStore& Drivers() { return *drivers_; }
    // The access points around the machine (none on a fresh machine).
    Airwaves& Wireless() { return *wireless_; }

    // Whether the user running the programs is an administrator: an
    // ordinary user cannot write machine-wide registry keys nor administer
    // print queues.
    void SetUserIsAdministrator(bool administrator) { administrator_ = administrator; }
    bool UserIsAdministrator() const { return administrator_; }

    void SetVersion(const OsVersion& version) {
        std::lock_guard lock(versionMutex_);
        version_ = version;
    }
    OsVersion Version() const {
        std::lock_guard lock(versionMutex_);
        return version_;
    }

    // The folder the machine is kept in (LoadMachine; its full path), empty
    // for a machine in memory. Named objects belong to it: the programs on
    // one folder see each other's, while a machine in memory keeps them
    // within its process, as it keeps its registry.
    void SetFolder(std::string folder) {
        std::lock_guard lock(versionMutex_);
        folder_ = std::move(folder);
    }
    std::string Folder() const {
        std::lock_guard lock(versionMutex_);
        return folder_;
    }

private:
    std::atomic<bool> administrator_{true};
    mutable std::mutex versionMutex_;  // also guards the folder
    OsVersion version_;
    std::string folder_;
    std::unique_ptr<DeviceManager> devices_;
    std::unique_ptr<SystemRegistry> registry_;
    std::unique_ptr<PrintSpooler> spooler_;
    std::unique_ptr<DriverStore> drivers_;
    std::unique_ptr<Airwaves> wireless_;
};

Machine& GetMachine();

// Resets the machine when the scope starts and again when it ends (tests).
class ScopedFreshMachine {
public:
    ScopedFreshMachine() { GetMachine().Reset(); }
    ~ScopedFreshMachine() { GetMachine().Reset(); }
    ScopedFreshMachine(const ScopedFreshMachine&) = delete;
    ScopedFreshMachine& operator=(const ScopedFreshMachine&) = delete;
};

}  // namespace Platform

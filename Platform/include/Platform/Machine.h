// The simulated machine: one per process, behind every platform call.
// Each subsystem (the device tree now; registry, spooler, driver store and
// file system as they arrive) is a member reached through an accessor, so
// the calls of one subsystem can see the others.
#pragma once

#include "Platform/Devices.h"

#include <memory>

namespace Platform {

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // A fresh machine: every subsystem back to empty (tests).
    void Reset();

    DeviceManager& Devices() { return *devices_; }

private:
    std::unique_ptr<DeviceManager> devices_;
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

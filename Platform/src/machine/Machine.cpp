#include "Platform/Machine.h"

namespace Platform {

Machine::Machine()
    : devices_(std::make_unique<DeviceManager>()),
      registry_(std::make_unique<SystemRegistry>(*this)),
      spooler_(std::make_unique<PrintSpooler>(*this)),
      drivers_(std::make_unique<DriverStore>()),
      wireless_(std::make_unique<Airwaves>()) {}
Machine::~Machine() = default;

void Machine::Reset() {
    devices_->Reset();
    registry_->Reset();
    spooler_->Reset();
    drivers_->Reset();
    wireless_->Reset();
    administrator_ = true;
    SetVersion({});
    SetFolder({});
}

Machine& GetMachine() {
    // Never destroyed: threads and static objects of other libraries may
    // still reach it while the process exits.
    static Machine* machine = new Machine();
    return *machine;
}

}  // namespace Platform

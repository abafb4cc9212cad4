#include "Platform/Machine.h"

namespace Platform {

Machine::Machine() : devices_(std::make_unique<DeviceManager>()) {}
Machine::~Machine() = default;

void Machine::Reset() {
    devices_->Reset();
}

Machine& GetMachine() {
    // Never destroyed: threads and static objects of other libraries may
    // still reach it while the process exits.
    static Machine* machine = new Machine();
    return *machine;
}

}  // namespace Platform

// Our printer family's driver package as the simulated driver store holds
// it: one INF file with a section per model, each serving the hardware id
// the setup programs compute for the model, and queuing its colour
// profiles. Installed on a machine kept on disk by `velmo-machine
// install-driver`, and by tests.
#pragma once

#include "Platform/DriverStore.h"

#include <vector>

namespace Simulators {

// The manufacturer text the family's hardware ids are computed from.
inline constexpr char16_t kDriverManufacturer[] = u"Velmo ";

std::vector<Platform::DriverPackage> VelmoDriverPackages();

}  // namespace Simulators

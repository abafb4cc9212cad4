// Who this host is to printers: a name and a GUID kept in the registry.
#pragma once

#include "Device.h"

namespace Jorvale {

// HKEY_LOCAL_MACHINE key of the transport's settings.
inline constexpr char16_t kParametersKey[] = u"Software\\Marrowline\\Jorvale\\Parameters";

// "DeviceName" (else the host name) and "DeviceGUID" (else a new GUID, kept
// when the key can be written).
Initiator ReadInitiator();

std::array<std::uint8_t, 16> NewGuid();

}  // namespace Jorvale

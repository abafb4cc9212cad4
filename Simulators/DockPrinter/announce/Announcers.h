// Announcers for the simulated dock (DockPrinter::SetAnnouncer). The fake one
// lives in DockAnnounceFakeDnsSd, the Avahi one in DockAnnounceAvahi.
#pragma once

#include "Simulators/DockPrinter/DockNetwork.h"

#include <memory>

namespace Simulators::Dock {

// Standing answers of the fake DNS-SD library: browses for "_ptp._tcp" find
// the dock, its resolve gives the TXT record with "usbvid=", "pid=" and
// "guid=", its host resolves to 127.0.0.1. A withdrawal tells the running
// browses and drops the answers.
std::shared_ptr<ServiceAnnouncer> MakeFakeDnsSdAnnouncer();

// Publishes through avahi-daemon (avahi-publish), waiting until the daemon
// has established the service; the publishers end on withdrawal.
std::shared_ptr<ServiceAnnouncer> MakeAvahiAnnouncer();

}  // namespace Simulators::Dock

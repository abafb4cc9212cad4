// A dock's announcement in the form the PTP/IP simulator's publishers take.
#pragma once

#include "Simulators/DockPrinter/DockNetwork.h"
#include "Simulators/PtpIp/PtpIpAnnouncement.h"

namespace Simulators::Dock {

inline PtpIpSim::Announcement PtpIpForm(const ServiceAnnouncement& a) {
    PtpIpSim::Announcement announcement;
    announcement.instanceName = a.instanceName;
    announcement.hostName = a.hostName;
    announcement.port = a.port;
    announcement.vendorId = a.vendorId;
    announcement.productId = a.productId;
    announcement.guid = a.guid;
    return announcement;
}

}  // namespace Simulators::Dock

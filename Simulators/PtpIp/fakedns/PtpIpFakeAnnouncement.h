// The responder's announcement through the fake DNS-SD library
// (Simulators/DnsSd), for unit tests linked against the fake.
#pragma once

#include "Simulators/PtpIp/PtpIpAnnouncement.h"

namespace PtpIpSim {

// Standing answers, so that every later browse for "_ptp._tcp" (with or
// without the trailing dot) finds the service, its resolve gives the host,
// port and TXT record, and a query of the host's A record its address; and
// the service is announced at once on the browses already running. Returns
// how many running browses heard of it.
std::size_t AnnounceFake(const Announcement& announcement);
// A removal on every running browse, and its standing answers are dropped so
// that later browses do not find it; returns how many browses heard of it.
std::size_t WithdrawFake(const Announcement& announcement);

}  // namespace PtpIpSim

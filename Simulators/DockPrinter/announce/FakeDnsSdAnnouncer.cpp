#include "Simulators/DockPrinter/announce/Announcers.h"

#include "Simulators/DockPrinter/announce/PtpIpForm.h"
#include "Simulators/PtpIp/fakedns/PtpIpFakeAnnouncement.h"

namespace Simulators::Dock {

namespace {

class FakeDnsSdAnnouncer final : public ServiceAnnouncer {
public:
    void Announce(const ServiceAnnouncement& a) override { PtpIpSim::AnnounceFake(PtpIpForm(a)); }
    void Withdraw(const ServiceAnnouncement& a) override { PtpIpSim::WithdrawFake(PtpIpForm(a)); }
};

}  // namespace

std::shared_ptr<ServiceAnnouncer> MakeFakeDnsSdAnnouncer() {
    return std::make_shared<FakeDnsSdAnnouncer>();
}

}  // namespace Simulators::Dock

#include "Simulators/DockPrinter/announce/Announcers.h"

#include "Simulators/DockPrinter/announce/PtpIpForm.h"
#include "Simulators/PtpIp/PtpIpAnnouncement.h"

#include <cstdio>
#include <map>
#include <memory>

namespace Simulators::Dock {

namespace {

class AvahiAnnouncer final : public ServiceAnnouncer {
public:
    void Announce(const ServiceAnnouncement& a) override {
        auto publisher = std::make_unique<PtpIpSim::AvahiPublisher>(PtpIpForm(a));
        if (!publisher->WaitEstablished())
            std::fprintf(stderr, "dock: avahi-publish did not establish \"%s\": %s\n", a.instanceName.c_str(),
                         publisher->Output().c_str());
        publishers_[a.instanceName] = std::move(publisher);
    }
    void Withdraw(const ServiceAnnouncement& a) override { publishers_.erase(a.instanceName); }

private:
    // The dock calls one at a time, from its radio thread.
    std::map<std::string, std::unique_ptr<PtpIpSim::AvahiPublisher>> publishers_;
};

}  // namespace

std::shared_ptr<ServiceAnnouncer> MakeAvahiAnnouncer() {
    return std::make_shared<AvahiAnnouncer>();
}

}  // namespace Simulators::Dock

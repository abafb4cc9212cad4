#include "Simulators/DockPrinter/announce/Announcers.h"

#include "Simulators/DockPrinter/announce/PtpIpForm.h"
#include "Simulators/PtpIp/PtpIpAnnouncement.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace Simulators::Dock {

namespace {

class AvahiAnnouncer final : public ServiceAnnouncer {
public:
    void Announce(const ServiceAnnouncement& a) override {
        auto publisher = std::make_unique<PtpIpSim::AvahiPublisher>(PtpIpForm(a));
        std::string failure;
        if (!publisher->WaitEstablished()) {
            std::fprintf(stderr, "dock: avahi-publish did not establish \"%s\": %s\n", a.instanceName.c_str(),
                         publisher->Output().c_str());
            failure = publisher->Failure();
        }
        std::lock_guard lock(mutex_);
        publishers_[a.instanceName] = std::move(publisher);
        failures_[a.instanceName] = failure;
    }
    void Withdraw(const ServiceAnnouncement& a) override {
        std::unique_ptr<PtpIpSim::AvahiPublisher> ending;
        {
            std::lock_guard lock(mutex_);
            const auto it = publishers_.find(a.instanceName);
            if (it == publishers_.end()) return;
            ending = std::move(it->second);
            publishers_.erase(it);
            failures_.erase(a.instanceName);
        }
    }
    std::string Failure() const override {
        std::lock_guard lock(mutex_);
        for (const auto& [name, failure] : failures_)
            if (!failure.empty()) return "\"" + name + "\": " + failure;
        return {};
    }

private:
    // The dock announces and withdraws one at a time, from its radio
    // thread; the failures are asked from others.
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<PtpIpSim::AvahiPublisher>> publishers_;
    std::map<std::string, std::string> failures_;
};

}  // namespace

std::shared_ptr<ServiceAnnouncer> MakeAvahiAnnouncer() {
    return std::make_shared<AvahiAnnouncer>();
}

}  // namespace Simulators::Dock

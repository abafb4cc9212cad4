// The DNS-SD engine over the system's dns_sd.h client library (Avahi's
// compatibility library on Linux): browse, then for each service a resolve
// (kept while the service is there, so changes of its TXT record come too)
// and a query of its host's A record for each resolve answer.
//
// Everything runs on the client's pump thread: it waits on the references'
// sockets and a wake-up pipe, and dispatches one answer at a time. A
// reference is never released inside a callback (the library may still use
// it on the way out); it is released once the dispatch has returned.
#include "DiscoveryEngine.h"

#include <dns_sd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace Jorvale {
namespace {

class DnsSdClient final : public DnsSdEngine {
public:
    explicit DnsSdClient(DnsSdEvents& events) : events_(events) {}

    ~DnsSdClient() override {
        stop_ = true;
        if (pump_.joinable()) {
            const char wake = 1;
            if (::write(wake_[1], &wake, 1) < 0) {
                // The pipe is never full while the pump runs; nothing to do.
            }
            pump_.join();
        }
        for (auto& [name, service] : services_) {
            Retire(service.resolve);
            Retire(service.query);
        }
        Retire(browse_);
        ReleaseRetired();
        for (int fd : wake_)
            if (fd >= 0) ::close(fd);
    }

    std::int32_t Browse(const std::string& type, const std::string& domain) override {
        if (browse_) return kDNSServiceErr_AlreadyRegistered;
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            wake_[0] = wake_[1] = -1;
            return kDNSServiceErr_NoMemory;
        }
        DNSServiceRef ref = nullptr;
        const DNSServiceErrorType error =
            DNSServiceBrowse(&ref, 0, 0, type.c_str(), domain.c_str(), &DnsSdClient::OnBrowse, this);
        if (error != kDNSServiceErr_NoError) return error;
        browse_ = ref;
        try {
            pump_ = std::thread([this] { Pump(); });
        } catch (...) {
            Retire(browse_);
            ReleaseRetired();
            return kDNSServiceErr_NoMemory;
        }
        return kDNSServiceErr_NoError;
    }

private:
    struct Service {
        DnsSdClient* owner = nullptr;
        std::string name;
        int present = 0;  // browse additions less removals: Avahi reports per interface and protocol
        std::uint32_t interfaceIndex = 0;
        DNSServiceRef resolve = nullptr;
        DNSServiceRef query = nullptr;
        std::uint16_t port = 0;
        std::string txt;
    };

    void Retire(DNSServiceRef& ref) {
        if (ref) retired_.push_back(ref);
        ref = nullptr;
    }

    void ReleaseRetired() {
        for (DNSServiceRef ref : retired_) DNSServiceRefDeallocate(ref);
        retired_.clear();
    }

    void Pump() {
        std::vector<pollfd> fds;
        std::vector<DNSServiceRef> refs;
        while (!stop_ && !dead_) {
            fds.assign(1, pollfd{wake_[0], POLLIN, 0});
            refs.assign(1, nullptr);
            auto watch = [&](DNSServiceRef ref) {
                if (!ref) return;
                fds.push_back(pollfd{DNSServiceRefSockFD(ref), POLLIN, 0});
                refs.push_back(ref);
            };
            watch(browse_);
            for (auto& [name, service] : services_) {
                watch(service.resolve);
                watch(service.query);
            }
            const int ready = ::poll(fds.data(), fds.size(), -1);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[0].revents) {
                char drained[16];
                while (::read(wake_[0], drained, sizeof drained) > 0) {
                }
                continue;
            }
            for (std::size_t i = 1; i < fds.size() && !dead_; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                Dispatch(refs[i]);
                // A callback may have released references that later
                // entries of this round name: look again.
                if (!retired_.empty()) {
                    ReleaseRetired();
                    break;
                }
            }
        }
        ReleaseRetired();
    }

    void Dispatch(DNSServiceRef ref) {
        const DNSServiceErrorType error = DNSServiceProcessResult(ref);
        if (error == kDNSServiceErr_NoError) return;
        if (ref == browse_) {
            // The daemon is gone: what this client reported is void.
            Lost();
            return;
        }
        for (auto& [name, service] : services_) {
            if (service.resolve == ref) Retire(service.resolve);
            if (service.query == ref) Retire(service.query);
        }
    }

    void Lost() {
        dead_ = true;
        try {
            events_.Reset();
        } catch (...) {
        }
    }

    static void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                   DNSServiceErrorType error, const char* name, const char* type, const char* domain,
                                   void* context) {
        auto* self = static_cast<DnsSdClient*>(context);
        if (error != kDNSServiceErr_NoError) {
            self->Lost();
            return;
        }
        if (!name || !type || !domain) return;
        try {
            if (flags & kDNSServiceFlagsAdd) {
                self->Added(name, type, domain, interfaceIndex);
            } else {
                self->Gone(name);
            }
        } catch (...) {
        }
    }

    void Added(const std::string& name, const char* type, const char* domain, std::uint32_t interfaceIndex) {
        Service& service = services_[name];
        if (service.present++ > 0) return;
        service.owner = this;
        service.name = name;
        service.interfaceIndex = interfaceIndex;
        DNSServiceRef ref = nullptr;
        if (DNSServiceResolve(&ref, 0, interfaceIndex, name.c_str(), type, domain, &DnsSdClient::OnResolve, &service) ==
            kDNSServiceErr_NoError)
            service.resolve = ref;
    }

    void Gone(const std::string& name) {
        auto it = services_.find(name);
        if (it == services_.end()) return;
        if (--it->second.present > 0) return;
        Retire(it->second.resolve);
        Retire(it->second.query);
        services_.erase(it);
        events_.Removed(name);
    }

    static void DNSSD_API OnResolve(DNSServiceRef, DNSServiceFlags, std::uint32_t interfaceIndex,
                                    DNSServiceErrorType error, const char*, const char* host, std::uint16_t port,
                                    std::uint16_t txtLength, const unsigned char* txt, void* context) {
        auto* service = static_cast<Service*>(context);
        DnsSdClient* self = service->owner;
        if (error != kDNSServiceErr_NoError) {
            self->Retire(service->resolve);
            return;
        }
        if (!host) return;
        try {
            service->port = ntohs(port);
            service->txt.assign(txt ? reinterpret_cast<const char*>(txt) : "", txt ? txtLength : 0);
            // A fresh answer replaces a query still waiting for the last one.
            self->Retire(service->query);
            DNSServiceRef ref = nullptr;
            if (DNSServiceQueryRecord(&ref, 0, interfaceIndex, host, kDNSServiceType_A, kDNSServiceClass_IN,
                                      &DnsSdClient::OnQuery, service) == kDNSServiceErr_NoError)
                service->query = ref;
        } catch (...) {
        }
    }

    static void DNSSD_API OnQuery(DNSServiceRef, DNSServiceFlags flags, std::uint32_t, DNSServiceErrorType error,
                                  const char*, std::uint16_t rrtype, std::uint16_t, std::uint16_t length,
                                  const void* data, std::uint32_t, void* context) {
        auto* service = static_cast<Service*>(context);
        DnsSdClient* self = service->owner;
        if (error != kDNSServiceErr_NoError) {
            self->Retire(service->query);
            return;
        }
        if (!(flags & kDNSServiceFlagsAdd) || rrtype != kDNSServiceType_A || length != 4 || !data) return;
        std::array<std::uint8_t, 4> ipv4;
        std::memcpy(ipv4.data(), data, 4);
        self->Retire(service->query);
        try {
            self->events_.Resolved(service->name, ipv4, service->port, service->txt);
        } catch (...) {
        }
    }

    DnsSdEvents& events_;
    DNSServiceRef browse_ = nullptr;
    std::map<std::string, Service> services_;  // nodes stay put: their addresses are callback contexts
    std::vector<DNSServiceRef> retired_;
    std::thread pump_;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stop_{false};
    bool dead_ = false;  // pump thread only
};

class SystemCore final : public DnsSdCore {
public:
    // The client library reaches the daemon per client; there is nothing to
    // start or stop process-wide.
    bool Start() override { return true; }
    void Shutdown() override {}
    std::unique_ptr<DnsSdEngine> CreateClient(DnsSdEvents& events) override {
        return std::make_unique<DnsSdClient>(events);
    }
};

}  // namespace

DnsSdCore& SystemDnsSdCore() {
    static auto* core = new SystemCore;
    return *core;
}

}  // namespace Jorvale

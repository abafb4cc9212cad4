// The DNS-SD engine behind the discovery provider. The provider asks it for
// one thing, a client browsing a service type, and hears three kinds of
// answer on the engine's own thread: a service resolved to an IPv4 address,
// port and raw TXT record; a service removed; and the client reset (all it
// reported is void). The engine over dns_sd.h (DiscoveryDnsSd.cpp) is the
// default; unit tests install their own core.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace Jorvale {

class DnsSdEvents {
public:
    virtual ~DnsSdEvents() = default;
    // port in host order; txt in wire form.
    virtual void Resolved(const std::string& name, const std::array<std::uint8_t, 4>& ipv4, std::uint16_t port,
                          const std::string& txt) = 0;
    virtual void Removed(const std::string& name) = 0;
    virtual void Reset() = 0;
};

// One DNS-SD client. Destroying it ends the client: once the destructor has
// returned, no event reaches the listener. It must not be destroyed from
// inside one of its own events.
class DnsSdEngine {
public:
    virtual ~DnsSdEngine() = default;
    // Browses the type in the domain; 0, or the DNS-SD error (negative).
    virtual std::int32_t Browse(const std::string& type, const std::string& domain) = 0;
};

// The process-wide side of the engine: started by its first use, shut down
// when the last use is given back (the provider keeps the count).
class DnsSdCore {
public:
    virtual ~DnsSdCore() = default;
    virtual bool Start() = 0;
    virtual void Shutdown() = 0;
    // A client reporting to events; null when none can be made.
    virtual std::unique_ptr<DnsSdEngine> CreateClient(DnsSdEvents& events) = 0;
};

// The core over the system's dns_sd.h library.
DnsSdCore& SystemDnsSdCore();

}  // namespace Jorvale

// Finds the maker's network printers by DNS Service Discovery: browses for a
// service type, reports services as they come and go, resolves a service to
// host, port and TXT record, and a host name to an IPv4 address.
//
// Subclasses receive the results through ServiceAdded, ServiceRemoved and
// ServiceResolved, which run on the locator's pump thread. Rules for a
// subclass, so that no callback reaches a half-built or destroyed object:
//   - construct the base with start = false and call StartBrowsing once the
//     subclass is fully built (with start = true the constructor only sends
//     the browse request; its events wait until StartBrowsing starts the pump);
//   - call StopBrowsing first in the subclass destructor: from any thread
//     other than the pump it returns only after the pump has ended;
//   - never destroy the locator from inside one of its callbacks.
#pragma once

#include "Tessary/NoCopy.h"
#include "Tessary/threadSafe/Task.h"
#include "Tessary/threadSafe/Win32Thread.h"

#include <dns_sd.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Bonjour {

// The discovery protocol of the maker's printers.
extern const std::string PtpServiceType;     // "_ptp._tcp"
extern const std::string LocalDomain;        // ".local."
extern const std::string PtpFullNameSuffix;  // "._ptp._tcp.local.", cut from a full name to leave the instance
extern const std::string TxtKeyUsbVid;       // "usbvid=", USB vendor id in hexadecimal
extern const std::string TxtKeyPid;          // "pid=", USB product id in hexadecimal
extern const std::string TxtKeyGuid;         // "guid=", the printer's device GUID text

class ServiceLocator : public Tessary::NoCopy {
public:
    // Runs PumpEvents on the locator's own thread until cancelled.
    class AsyncPumpTask : public Tessary::CancellableTask {
    public:
        explicit AsyncPumpTask(ServiceLocator* locator);
        ~AsyncPumpTask() override;
        void Run() override;

        bool HasStarted() const { return started_.load(); }

    private:
        ServiceLocator* locator_;
        std::atomic<bool> started_{false};
        std::atomic<bool> finished_{false};
    };

    // How long ResolveHostAddress waits for an answer.
    static constexpr std::uint32_t HostAddressTimeoutMs = 5000;
    static constexpr std::uint32_t NoTimeLimit = 0xFFFFFFFFu;

    ServiceLocator(const std::string& serviceType, bool start);
    virtual ~ServiceLocator();

    virtual void ServiceAdded(std::uint32_t interfaceIndex, const char* serviceName, const char* serviceType,
                              const char* domain) = 0;
    virtual void ServiceRemoved(std::uint32_t interfaceIndex, const char* serviceName, const char* serviceType,
                                const char* domain) = 0;
    // port is in host byte order.
    virtual void ServiceResolved(std::uint32_t flags, const char* fullName, const char* hostTarget, std::uint16_t port,
                                 std::uint16_t txtLength, const unsigned char* txtRecord) = 0;

    // False when the type is empty, a browse is running, or the browse or its
    // pump cannot start. An empty domain browses the default domains.
    bool StartBrowsing(const std::string& serviceType, const std::string& domain);
    // Releases the browse and ends the pump; waits for the pump to end unless
    // called on the pump thread (from a callback).
    void StopBrowsing();
    // Asks for a service's host, port and TXT record; the answer comes to
    // ServiceResolved. Nothing happens for an empty name or type.
    void ResolveService(std::uint32_t interfaceIndex, const std::string& name, const std::string& type,
                        const std::string& domain);
    void CancelResolve(DNSServiceRef ref);

    // The dotted IPv4 address of a host, waiting at most HostAddressTimeoutMs
    // on the machine's clock.
    static std::string ResolveHostAddress(const char* hostName);
    // Undoes DNS-SD escaping: "\\", "\." and "\DDD" (decimal, modulo 256).
    static std::string UnescapeName(const std::string& name);
    // Serves replies on the browse and the pending resolves until an idle
    // 100 ms or the time-out (rounded to whole seconds; NoTimeLimit for none).
    // Does nothing without a browse, or while another thread is pumping.
    // When DNSServiceProcessResult fails many times in a row (a broken daemon
    // connection) it releases the browse and the pending resolves and the
    // pump ends; a later StartBrowsing starts afresh.
    void PumpEvents(std::uint32_t timeoutMs);
    // Splits a TXT record (wire form) into its entries. Returns false, keeping
    // the entries before it, when an entry runs past the end of the record.
    static bool SplitTxtRecord(const std::string& txtRecord, std::list<std::string>& entries);

private:
    static void DNSSD_API BrowseReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                      DNSServiceErrorType error, const char* serviceName, const char* serviceType,
                                      const char* domain, void* context);
    static void DNSSD_API ResolveReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                       DNSServiceErrorType error, const char* fullName, const char* hostTarget,
                                       std::uint16_t port, std::uint16_t txtLength, const unsigned char* txtRecord,
                                       void* context);
    static void DNSSD_API QueryReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                     DNSServiceErrorType error, const char* fullName, std::uint16_t rrtype,
                                     std::uint16_t rrclass, std::uint16_t rdlength, const void* rdata,
                                     std::uint32_t ttl, void* context);

    bool OnPumpThread() const;
    bool InsideCallback() const;
    bool SendBrowse(const std::string& serviceType, const std::string& domain);
    bool StartPump();
    void JoinPump();
    void ReleaseDeferredLocked();
    // The pump's way out of a connection that only fails: releases the browse
    // and the pending resolves and ends the pump.
    void GiveUpLocked();
    // A resolve still awaited, and the service it is for.
    struct PendingResolve {
        std::string service;  // ServiceKey of name, type and domain
    };

    // True when the event should reach the subclass: Avahi reports a service
    // once per interface and protocol, the subclass hears of it when the
    // first report comes and when the last one goes.
    bool NoteBrowseEvent(bool added, const std::string& service);
    // A removed service must not be reported resolved afterwards: drops the
    // resolves still awaited for it.
    void VoidResolves(const std::string& service);

    std::string serviceType_;
    DNSServiceRef browseRef_ = nullptr;
    std::string domain_;
    std::map<DNSServiceRef, PendingResolve> pendingResolves_;  // in reference order
    std::unique_ptr<AsyncPumpTask> pumpTask_;
    std::unique_ptr<Tessary::Win32Thread> pumpThread_;

    // Guards the references and the counts below; never held across a
    // callback or a join.
    mutable std::mutex mutex_;
    // Serialises the owner's start, stop and destruction.
    std::mutex controlMutex_;
    std::thread::id pumpingThread_;               // the one thread inside PumpEvents, guarded by mutex_
    DNSServiceRef processing_ = nullptr;          // reference inside DNSServiceProcessResult, guarded by mutex_
    std::vector<DNSServiceRef> deferredRelease_;  // released once no one is processing them, guarded by mutex_
    std::map<std::string, int> browseCounts_;     // live reports per service, guarded by mutex_
    int failuresInRow_ = 0;                       // failed DNSServiceProcessResult calls in a row, guarded by mutex_
    bool held_ = false;                           // browse sent by the constructor, pump not started yet
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::thread::id> pumpThreadId_{};
};

}  // namespace Bonjour

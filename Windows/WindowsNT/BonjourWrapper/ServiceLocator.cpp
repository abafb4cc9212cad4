#include "Windows/WindowsNT/BonjourWrapper/ServiceLocator.h"

#include "Platform/Clock.h"
#include "Platform/Win32.h"
#include "Tessary/TSException.h"

#include <arpa/inet.h>
#include <poll.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

namespace Bonjour {

const std::string PtpServiceType = "_ptp._tcp";
const std::string LocalDomain = ".local.";
const std::string PtpFullNameSuffix = "." + PtpServiceType + LocalDomain;
const std::string TxtKeyUsbVid = "usbvid=";
const std::string TxtKeyPid = "pid=";
const std::string TxtKeyGuid = "guid=";

namespace {

// One select-style pass waits at most this long; an idle pass ends PumpEvents.
constexpr int kPassMs = 100;
// Sockets watched in one pass: the browse and up to 63 pending resolves.
constexpr std::size_t kMaxSockets = 64;
// A broken daemon connection stays readable and fails every call: after this
// many failures in a row the pump gives up instead of spinning.
constexpr int kFailuresInRowLimit = 8;

// Avahi refuses a domain with a leading dot (".local."), which the callers
// keep for cutting names; DNS-SD itself wants "local.".
std::string DnsSdDomain(const std::string& domain) {
    if (domain.size() > 1 && domain.front() == '.') return domain.substr(1);
    return domain;
}

// One service whatever the spelling: DNS names compare without case, and
// callers write the type and domain with or without their outer dots.
std::string ServiceKey(std::string_view name, std::string_view type, std::string_view domain) {
    std::string key;
    const auto add = [&key](std::string_view part, bool trimDots) {
        if (trimDots) {
            while (!part.empty() && part.front() == '.') part.remove_prefix(1);
            while (!part.empty() && part.back() == '.') part.remove_suffix(1);
        }
        for (const char c : part) key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        key += '\0';
    };
    add(name, false);
    add(type, true);
    add(domain, true);
    return key;
}

std::string ServiceKey(const char* name, const char* type, const char* domain) {
    return ServiceKey(std::string_view(name ? name : ""), std::string_view(type ? type : ""),
                      std::string_view(domain ? domain : ""));
}

bool Readable(short revents) {
    return (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// Callback borders: nothing thrown by a subclass may unwind into DNS-SD.
template <class Body>
void Contain(const char* where, Body&& body) noexcept {
    Tessary::CatchAtBorder<int>(
        [&] {
            body();
            return 0;
        },
        [where](const char* what) {
            std::fprintf(stderr, "ServiceLocator: %s dropped an exception: %s\n", where, what);
            return 0;
        });
}

}  // namespace

// ---------------------------------------------------------------------------
// AsyncPumpTask

ServiceLocator::AsyncPumpTask::AsyncPumpTask(ServiceLocator* locator) : locator_(locator) {}

ServiceLocator::AsyncPumpTask::~AsyncPumpTask() {
    SetCancelled(true);
    // The owner joins the thread first, so this only waits for a task whose
    // thread was left running; a task that never ran is not waited for.
    while (started_.load() && !finished_.load()) Sleep(100);
}

void ServiceLocator::AsyncPumpTask::Run() {
    started_.store(true);
    locator_->pumpThreadId_.store(std::this_thread::get_id());
    Contain("the event pump", [this] {
        while (!IsCancelled() && !locator_->stopRequested_.load()) locator_->PumpEvents(500);
    });
    // Thread ids are reused: an ended pump must not make another thread look like it.
    locator_->pumpThreadId_.store(std::thread::id());
    finished_.store(true);
}

// ---------------------------------------------------------------------------
// Construction, browsing and the pump thread

ServiceLocator::ServiceLocator(const std::string& serviceType, bool start) : serviceType_(serviceType) {
    if (start) {
        // The subclass is not built yet: send the request now, pump later.
        if (serviceType.empty() || !SendBrowse(serviceType, std::string()))
            TS_THROW(Tessary::TSRuntimeError, "Can't start browsing for services!");
        held_ = true;
    }
}

ServiceLocator::~ServiceLocator() {
    StopBrowsing();
    std::lock_guard lock(mutex_);
    const auto pending = std::move(pendingResolves_);
    pendingResolves_.clear();
    for (const auto& [ref, request] : pending) DNSServiceRefDeallocate(ref);
    ReleaseDeferredLocked();
}

bool ServiceLocator::OnPumpThread() const {
    return pumpThreadId_.load() == std::this_thread::get_id();
}

bool ServiceLocator::SendBrowse(const std::string& serviceType, const std::string& domain) {
    const std::string dnsSdDomain = DnsSdDomain(domain);
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType error =
        DNSServiceBrowse(&ref, 0, 0, serviceType.c_str(), dnsSdDomain.empty() ? nullptr : dnsSdDomain.c_str(),
                         &ServiceLocator::BrowseReply, this);
    if (error != kDNSServiceErr_NoError) return false;
    std::lock_guard lock(mutex_);
    browseRef_ = ref;
    serviceType_ = serviceType;
    domain_ = domain;
    browseCounts_.clear();
    return true;
}

bool ServiceLocator::StartBrowsing(const std::string& serviceType, const std::string& domain) {
    if (serviceType.empty()) return false;
    // The pump cannot wait for itself to end.
    if (InsideCallback()) return false;
    std::lock_guard control(controlMutex_);
    bool reuseHeld = false;
    {
        std::lock_guard lock(mutex_);
        if (held_) {
            held_ = false;
            if (serviceType == serviceType_ && domain == domain_) {
                reuseHeld = true;
            } else {
                DNSServiceRefDeallocate(browseRef_);
                browseRef_ = nullptr;
            }
        } else if (browseRef_) {
            return false;
        }
    }
    // A pump stopped from its own thread may still be ending: it must be gone
    // before a new browse reference exists.
    JoinPump();
    {
        std::lock_guard lock(mutex_);
        ReleaseDeferredLocked();
    }
    {
        std::lock_guard lock(mutex_);
        failuresInRow_ = 0;
    }
    if (!reuseHeld && !SendBrowse(serviceType, domain)) return false;
    if (StartPump()) return true;
    std::lock_guard lock(mutex_);
    DNSServiceRefDeallocate(browseRef_);
    browseRef_ = nullptr;
    browseCounts_.clear();
    return false;
}

bool ServiceLocator::StartPump() {
    auto task = std::make_unique<AsyncPumpTask>(this);
    auto thread = std::make_unique<Tessary::Win32Thread>(task.get());
    AsyncPumpTask* const rawTask = task.get();
    Tessary::Win32Thread* const rawThread = thread.get();
    stopRequested_.store(false);
    {
        std::lock_guard lock(mutex_);
        pumpTask_ = std::move(task);
        pumpThread_ = std::move(thread);
    }
    rawThread->Start();
    // A thread that ended has run its task; one that neither runs nor ran
    // never started.
    if (rawThread->IsRunning() || rawTask->HasStarted()) return true;
    JoinPump();
    return false;
}

void ServiceLocator::JoinPump() {
    std::unique_ptr<AsyncPumpTask> task;
    std::unique_ptr<Tessary::Win32Thread> thread;
    {
        std::lock_guard lock(mutex_);
        task = std::move(pumpTask_);
        thread = std::move(pumpThread_);
    }
    stopRequested_.store(true);
    if (task) task->SetCancelled(true);
    // Wait returns at once for a thread that never started.
    if (thread) thread->Wait(INFINITE);
    thread.reset();
    task.reset();
    pumpThreadId_.store(std::thread::id());
}

bool ServiceLocator::InsideCallback() const {
    std::lock_guard lock(mutex_);
    return OnPumpThread() || pumpingThread_ == std::this_thread::get_id();
}

void ServiceLocator::StopBrowsing() {
    if (InsideCallback()) {
        // The pump cannot wait for itself: tell it to end; it releases the
        // reference once it has left DNS-SD.
        std::lock_guard lock(mutex_);
        stopRequested_.store(true);
        if (pumpTask_) pumpTask_->SetCancelled(true);
        if (browseRef_) deferredRelease_.push_back(browseRef_);
        browseRef_ = nullptr;
        browseCounts_.clear();
        return;
    }
    std::lock_guard control(controlMutex_);
    JoinPump();
    std::lock_guard lock(mutex_);
    ReleaseDeferredLocked();
    if (browseRef_) DNSServiceRefDeallocate(browseRef_);
    browseRef_ = nullptr;
    browseCounts_.clear();
    held_ = false;
}

// ---------------------------------------------------------------------------
// Resolving

void ServiceLocator::ResolveService(std::uint32_t interfaceIndex, const std::string& name, const std::string& type,
                                    const std::string& domain) {
    if (name.empty() || type.empty()) return;
    const std::string dnsSdDomain = DnsSdDomain(domain);
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType error = DNSServiceResolve(&ref, 0, interfaceIndex, name.c_str(), type.c_str(),
                                                        dnsSdDomain.c_str(), &ServiceLocator::ResolveReply, this);
    if (error != kDNSServiceErr_NoError)
        TS_THROW_CODE(Tessary::TSRuntimeCodeError, "Error requesting service resolution", error);
    std::lock_guard lock(mutex_);
    pendingResolves_[ref] = PendingResolve{ServiceKey(name, type, domain)};
}

void ServiceLocator::CancelResolve(DNSServiceRef ref) {
    if (!ref) return;
    std::lock_guard lock(mutex_);
    // Only references of this locator, and each once.
    if (pendingResolves_.erase(ref) == 0) return;
    const bool nobodyPumping = pumpingThread_ == std::thread::id();
    const bool pumpingHere = pumpingThread_ == std::this_thread::get_id();
    if (nobodyPumping || (pumpingHere && processing_ != ref))
        DNSServiceRefDeallocate(ref);
    else
        deferredRelease_.push_back(ref);  // in use by the pump right now
}

void ServiceLocator::ReleaseDeferredLocked() {
    for (auto ref : deferredRelease_) DNSServiceRefDeallocate(ref);
    deferredRelease_.clear();
}

// ---------------------------------------------------------------------------
// The event pump

void ServiceLocator::PumpEvents(std::uint32_t timeoutMs) {
    {
        std::lock_guard lock(mutex_);
        // One pumping thread at a time, and no pumping from inside a callback.
        if (!browseRef_ || pumpingThread_ != std::thread::id()) return;
        pumpingThread_ = std::this_thread::get_id();
    }
    struct LeavePump {
        ServiceLocator& self;
        ~LeavePump() {
            std::lock_guard lock(self.mutex_);
            self.ReleaseDeferredLocked();
            self.pumpingThread_ = std::thread::id();
        }
    } leave{*this};

    Platform::Clock& clock = Platform::GetClock();
    const bool unlimited = timeoutMs == NoTimeLimit;
    const auto seconds = (static_cast<std::uint64_t>(timeoutMs) + 500) / 1000;
    const auto deadline = clock.Now() + Platform::Milliseconds(seconds * 1000);

    std::vector<DNSServiceRef> refs;
    std::vector<pollfd> fds;
    do {
        if (stopRequested_.load()) return;
        refs.clear();
        fds.clear();
        {
            std::lock_guard lock(mutex_);
            ReleaseDeferredLocked();
            if (!browseRef_) return;
            refs.push_back(browseRef_);
            for (const auto& [ref, request] : pendingResolves_) {
                if (refs.size() >= kMaxSockets) break;
                refs.push_back(ref);
            }
            for (auto ref : refs) fds.push_back({DNSServiceRefSockFD(ref), POLLIN, 0});
        }

        const int ready = ::poll(fds.data(), fds.size(), kPassMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;

        // The browse first, else the first ready resolve in set order; one
        // reference per pass.
        DNSServiceRef chosen = nullptr;
        for (std::size_t i = 0; i < fds.size() && !chosen; ++i)
            if (Readable(fds[i].revents)) chosen = refs[i];
        if (!chosen) {
            // Only invalid sockets answered: as broken as a failing call.
            std::lock_guard lock(mutex_);
            if (++failuresInRow_ >= kFailuresInRowLimit) {
                GiveUpLocked();
                return;
            }
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            // Released or cancelled meanwhile: not ours to process any more.
            if (chosen != browseRef_ && !pendingResolves_.count(chosen)) continue;
            processing_ = chosen;
        }
        const DNSServiceErrorType result = DNSServiceProcessResult(chosen);
        std::lock_guard lock(mutex_);
        processing_ = nullptr;
        ReleaseDeferredLocked();
        failuresInRow_ = result == kDNSServiceErr_NoError ? 0 : failuresInRow_ + 1;
        if (failuresInRow_ >= kFailuresInRowLimit) {
            GiveUpLocked();
            return;
        }
    } while (unlimited || clock.Now() < deadline);
}

void ServiceLocator::GiveUpLocked() {
    std::fprintf(stderr, "ServiceLocator: the DNS-SD connection keeps failing; browsing for %s stopped\n",
                 serviceType_.c_str());
    // Only the pumping thread gets here, outside DNSServiceProcessResult, so
    // every reference can go at once. StartBrowsing begins afresh.
    if (browseRef_) DNSServiceRefDeallocate(browseRef_);
    browseRef_ = nullptr;
    for (const auto& [ref, request] : pendingResolves_) DNSServiceRefDeallocate(ref);
    pendingResolves_.clear();
    browseCounts_.clear();
    failuresInRow_ = 0;
    stopRequested_.store(true);
}

// ---------------------------------------------------------------------------
// Reply callbacks (on the pumping thread, inside DNSServiceProcessResult)

bool ServiceLocator::NoteBrowseEvent(bool added, const std::string& service) {
    std::lock_guard lock(mutex_);
    if (added) return browseCounts_[service]++ == 0;
    const auto it = browseCounts_.find(service);
    if (it == browseCounts_.end()) return false;
    if (--it->second > 0) return false;
    browseCounts_.erase(it);
    return true;
}

void ServiceLocator::VoidResolves(const std::string& service) {
    std::vector<DNSServiceRef> voided;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [ref, request] : pendingResolves_)
            if (request.service == service) voided.push_back(ref);
    }
    for (auto ref : voided) CancelResolve(ref);
}

void DNSSD_API ServiceLocator::BrowseReply(DNSServiceRef, DNSServiceFlags flags, std::uint32_t interfaceIndex,
                                           DNSServiceErrorType error, const char* serviceName, const char* serviceType,
                                           const char* domain, void* context) {
    if (error != kDNSServiceErr_NoError || !context) return;
    auto* self = static_cast<ServiceLocator*>(context);
    Contain("a browse reply", [&] {
        const bool added = (flags & kDNSServiceFlagsAdd) != 0;
        const std::string service = ServiceKey(serviceName, serviceType, domain);
        if (!self->NoteBrowseEvent(added, service)) return;
        if (!added) self->VoidResolves(service);
        if (added)
            self->ServiceAdded(interfaceIndex, serviceName, serviceType, domain);
        else
            self->ServiceRemoved(interfaceIndex, serviceName, serviceType, domain);
    });
}

void DNSSD_API ServiceLocator::ResolveReply(DNSServiceRef ref, DNSServiceFlags flags, std::uint32_t,
                                            DNSServiceErrorType error, const char* fullName, const char* hostTarget,
                                            std::uint16_t port, std::uint16_t txtLength, const unsigned char* txtRecord,
                                            void* context) {
    if (error != kDNSServiceErr_NoError || !context) return;
    auto* self = static_cast<ServiceLocator*>(context);
    Contain("a resolve reply",
            [&] { self->ServiceResolved(flags, fullName, hostTarget, ntohs(port), txtLength, txtRecord); });
    // Released even when the subclass threw, or it would be pumped forever.
    if ((flags & kDNSServiceFlagsMoreComing) == 0) Contain("a resolve reply", [&] { self->CancelResolve(ref); });
}

void DNSSD_API ServiceLocator::QueryReply(DNSServiceRef, DNSServiceFlags, std::uint32_t, DNSServiceErrorType error,
                                          const char*, std::uint16_t rrtype, std::uint16_t, std::uint16_t rdlength,
                                          const void* rdata, std::uint32_t, void* context) {
    if (error != kDNSServiceErr_NoError || rrtype != kDNSServiceType_A || !context) return;
    // An IPv4 address is exactly four bytes; anything else is not one.
    if (rdlength != 4 || !rdata) return;
    auto* result = static_cast<std::string*>(context);
    if (!result->empty()) return;  // one answer per interface: the first wins
    Contain("a query reply", [&] {
        const auto* bytes = static_cast<const unsigned char*>(rdata);
        *result = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
                  std::to_string(bytes[3]);
    });
}

// ---------------------------------------------------------------------------
// Host addresses, names and TXT records

std::string ServiceLocator::ResolveHostAddress(const char* hostName) {
    if (!hostName) TS_THROW_CODE(Tessary::TSRuntimeCodeError, "QueryRecord returned failure", kDNSServiceErr_BadParam);
    std::string result;
    DNSServiceRef ref = nullptr;
    const DNSServiceErrorType error = DNSServiceQueryRecord(&ref, 0, 0, hostName, kDNSServiceType_A,
                                                            kDNSServiceClass_IN, &ServiceLocator::QueryReply, &result);
    if (error != kDNSServiceErr_NoError)
        TS_THROW_CODE(Tessary::TSRuntimeCodeError, "QueryRecord returned failure", error);
    struct Release {
        DNSServiceRef ref;
        ~Release() { DNSServiceRefDeallocate(ref); }
    } release{ref};

    // Avahi's first dispatches often carry no record, and no one may answer
    // at all: wait for an address, but not for ever.
    Platform::Clock& clock = Platform::GetClock();
    const auto deadline = clock.Now() + Platform::Milliseconds(HostAddressTimeoutMs);
    pollfd fd{DNSServiceRefSockFD(ref), POLLIN, 0};
    while (result.empty() && clock.Now() < deadline) {
        fd.revents = 0;
        const int ready = ::poll(&fd, 1, kPassMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0 || clock.Now() >= deadline) continue;
        if (DNSServiceProcessResult(ref) != kDNSServiceErr_NoError) break;
    }
    if (result.empty()) TS_THROW(Tessary::TSRuntimeError, "Error resolving host address!");
    return result;
}

std::string ServiceLocator::UnescapeName(const std::string& name) {
    std::string result;
    result.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c != '\\') {
            result += c;
            continue;
        }
        if (i + 1 >= name.size()) TS_THROW(Tessary::TSException, "Invalid escape sequence encountered!");
        const char next = name[i + 1];
        if (next == '\\' || next == '.') {
            result += next;
            ++i;
        } else if (next >= '0' && next <= '9') {
            if (name.size() - (i + 1) < 3)
                TS_THROW(Tessary::TSException, "Invalid numeric escape sequence encountered!");
            int value = 0;
            for (std::size_t k = i + 1; k < i + 4; ++k) {
                if (name[k] < '0' || name[k] > '9')
                    TS_THROW(Tessary::TSException, "Invalid numeric escape sequence encountered!");
                value = value * 10 + (name[k] - '0');
            }
            result += static_cast<char>(value % 256);
            i += 3;
        } else {
            TS_THROW(Tessary::TSException, "Invalid escape sequence encountered!");
        }
    }
    return result;
}

bool ServiceLocator::SplitTxtRecord(const std::string& txtRecord, std::list<std::string>& entries) {
    std::size_t position = 0;
    while (position < txtRecord.size()) {
        const std::size_t length = static_cast<unsigned char>(txtRecord[position]);
        const std::size_t start = position + 1;
        if (length > txtRecord.size() - start) return false;  // runs past the end
        entries.push_back(txtRecord.substr(start, length));
        position = start + length;
    }
    return true;
}

}  // namespace Bonjour

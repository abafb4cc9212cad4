#include "FakeDnsSd.h"

#include "Platform/Clock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>

using FakeDnsSd::Operation;
using FakeDnsSd::Reply;
using Platform::Milliseconds;

// The library's opaque reference type, defined here for the fake.
struct _DNSServiceRef_t {
    Operation operation = Operation::Browse;
    DNSServiceBrowseReply browseCallback = nullptr;
    DNSServiceResolveReply resolveCallback = nullptr;
    DNSServiceQueryRecordReply queryCallback = nullptr;
    void* context = nullptr;
    int readFd = -1;
    int writeFd = -1;
    std::deque<Reply> queue;
    bool live = true;
    bool broken = false;
    std::size_t processCalls = 0;
    int processing = 0;  // calls inside DNSServiceProcessResult
    std::thread::id processor;
    FakeDnsSd::Request request;
};

namespace {

struct Standing {
    Operation operation;
    std::string key;
    std::vector<Reply> replies;
    Milliseconds delay;
};

struct Delayed {
    DNSServiceRef ref;
    Reply reply;
    Milliseconds due;
};

struct State {
    std::mutex mutex;
    std::condition_variable requestsChanged;
    std::condition_variable delayedChanged;
    std::vector<std::unique_ptr<_DNSServiceRef_t>> refs;  // every reference since Reset, released ones too
    std::unordered_set<DNSServiceRef> known;
    std::vector<FakeDnsSd::Request> requests;
    std::vector<bool> taken;
    std::deque<std::pair<Operation, DNSServiceErrorType>> failures;
    std::vector<Standing> standing;
    std::vector<Delayed> delayed;
    std::vector<std::string> violations;
    std::thread scheduler;
    bool stopping = false;

    State() {
        // The clock must outlive the scheduler thread that reads it.
        (void)Platform::GetClock();
    }

    ~State() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        delayedChanged.notify_all();
        if (scheduler.joinable()) scheduler.join();
        for (auto& ref : refs) CloseSockets(*ref);
    }

    static void CloseSockets(_DNSServiceRef_t& ref) {
        if (ref.readFd >= 0) ::close(ref.readFd);
        if (ref.writeFd >= 0) ::close(ref.writeFd);
        ref.readFd = ref.writeFd = -1;
    }

    bool IsKnownLive(DNSServiceRef ref) const { return ref && known.count(ref) && ref->live; }

    // Called with the lock held.
    void Enqueue(DNSServiceRef ref, Reply reply) {
        if (!ref->live || ref->broken) return;
        ref->queue.push_back(std::move(reply));
        const char wake = 1;
        if (::write(ref->writeFd, &wake, 1) != 1) violations.push_back("socket of a reference overflowed");
    }

    // Called with the lock held.
    void Schedule(DNSServiceRef ref, Reply reply, Milliseconds delay) {
        if (delay <= Milliseconds(0)) {
            Enqueue(ref, std::move(reply));
            return;
        }
        delayed.push_back({ref, std::move(reply), Platform::GetClock().Now() + delay});
        if (!scheduler.joinable()) scheduler = std::thread([this] { RunScheduler(); });
        delayedChanged.notify_all();
    }

    // Delivers delayed replies once the machine's clock reaches them. It
    // polls in short real-time slices, so a manual clock advanced by a test
    // (or swapped for another) is followed.
    void RunScheduler() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (delayed.empty()) {
                delayedChanged.wait(lock);
                continue;
            }
            const auto now = Platform::GetClock().Now();
            for (auto it = delayed.begin(); it != delayed.end();) {
                if (it->due <= now) {
                    Enqueue(it->ref, std::move(it->reply));
                    it = delayed.erase(it);
                } else {
                    ++it;
                }
            }
            delayedChanged.wait_for(lock, std::chrono::milliseconds(1));
        }
    }

    // Called with the lock held. Returns the error of a scripted failure, or
    // a new reference for the request.
    DNSServiceErrorType Create(FakeDnsSd::Request request, DNSServiceRef* out) {
        *out = nullptr;
        for (auto it = failures.begin(); it != failures.end(); ++it) {
            if (it->first == request.operation) {
                const auto error = it->second;
                failures.erase(it);
                Record(request);
                return error;
            }
        }
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return kDNSServiceErr_NoMemory;
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
        auto ref = std::make_unique<_DNSServiceRef_t>();
        ref->operation = request.operation;
        ref->readFd = fds[0];
        ref->writeFd = fds[1];
        request.ref = ref.get();
        ref->request = request;
        *out = ref.get();
        known.insert(ref.get());
        refs.push_back(std::move(ref));
        Record(request);
        for (const auto& answer : standing) {
            if (answer.operation != request.operation) continue;
            const std::string& key = request.operation == Operation::Browse ? request.type : request.name;
            if (answer.key != key) continue;
            for (const auto& reply : answer.replies) Schedule(*out, reply, answer.delay);
        }
        return kDNSServiceErr_NoError;
    }

    void Record(const FakeDnsSd::Request& request) {
        requests.push_back(request);
        taken.push_back(false);
        requestsChanged.notify_all();
    }
};

State& S() {
    static State state;
    return state;
}

bool StartsWithDot(const char* domain) {
    return domain && domain[0] == '.';
}

}  // namespace

namespace FakeDnsSd {

void Reset() {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    for (auto& ref : s.refs) State::CloseSockets(*ref);
    s.refs.clear();
    s.known.clear();
    s.requests.clear();
    s.taken.clear();
    s.failures.clear();
    s.standing.clear();
    s.delayed.clear();
    s.violations.clear();
}

void FailNext(Operation operation, DNSServiceErrorType error) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    s.failures.emplace_back(operation, error);
}

void Answer(Operation operation, const std::string& key, std::vector<Reply> replies, std::chrono::milliseconds delay) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    s.standing.push_back({operation, key, std::move(replies), delay});
}

bool Send(DNSServiceRef ref, Reply reply, std::chrono::milliseconds delay) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.IsKnownLive(ref)) return false;
    s.Schedule(ref, std::move(reply), delay);
    return true;
}

std::size_t Announce(const std::string& browsedType, const BrowseReply& reply) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    std::size_t count = 0;
    for (auto& ref : s.refs) {
        if (ref->live && ref->operation == Operation::Browse && ref->request.type == browsedType) {
            s.Enqueue(ref.get(), reply);
            ++count;
        }
    }
    return count;
}

std::size_t Unanswer(Operation operation, const std::string& key, const std::function<bool(const Reply&)>& match) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    std::size_t dropped = 0;
    for (auto& answer : s.standing) {
        if (answer.operation != operation || answer.key != key) continue;
        dropped += std::erase_if(answer.replies, [&](const Reply& r) { return !match || match(r); });
    }
    std::erase_if(s.standing, [](const Standing& a) { return a.replies.empty(); });
    return dropped;
}

bool Break(DNSServiceRef ref) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.IsKnownLive(ref)) return false;
    ref->broken = true;
    ref->queue.clear();
    std::erase_if(s.delayed, [&](const Delayed& d) { return d.ref == ref; });
    ::shutdown(ref->writeFd, SHUT_WR);
    return true;
}

std::size_t ProcessCalls(DNSServiceRef ref) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return s.known.count(ref) ? ref->processCalls : 0;
}

std::optional<Request> WaitForRequest(Operation operation, std::chrono::milliseconds timeout,
                                      const std::function<bool(const Request&)>& match) {
    auto& s = S();
    std::unique_lock lock(s.mutex);
    std::optional<Request> found;
    s.requestsChanged.wait_for(lock, timeout, [&] {
        for (std::size_t i = 0; i < s.requests.size(); ++i) {
            if (s.taken[i] || s.requests[i].operation != operation) continue;
            if (match && !match(s.requests[i])) continue;
            s.taken[i] = true;
            found = s.requests[i];
            return true;
        }
        return false;
    });
    return found;
}

std::vector<Request> Requests() {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return s.requests;
}

std::vector<DNSServiceRef> LiveRefs(Operation operation) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    std::vector<DNSServiceRef> result;
    for (auto& ref : s.refs)
        if (ref->live && ref->operation == operation) result.push_back(ref.get());
    return result;
}

std::size_t LiveRefCount() {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return static_cast<std::size_t>(
        std::count_if(s.refs.begin(), s.refs.end(), [](const auto& ref) { return ref->live; }));
}

bool IsLive(DNSServiceRef ref) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return s.IsKnownLive(ref);
}

std::size_t QueuedReplies(DNSServiceRef ref) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return s.IsKnownLive(ref) ? ref->queue.size() : 0;
}

std::vector<std::string> Violations() {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    return s.violations;
}

std::string TxtRecord(std::initializer_list<std::string_view> entries) {
    std::string record;
    for (auto entry : entries) {
        if (entry.size() > 255) throw std::length_error("TXT entry longer than 255 bytes");
        record.push_back(static_cast<char>(entry.size()));
        record.append(entry);
    }
    return record;
}

std::string Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::string{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
}

}  // namespace FakeDnsSd

// The dns_sd.h functions.

int DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
    auto& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.IsKnownLive(sdRef)) {
        s.violations.push_back("DNSServiceRefSockFD on a released or unknown reference");
        return -1;
    }
    return sdRef->readFd;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
    auto& s = S();
    int fd;
    {
        std::lock_guard lock(s.mutex);
        if (!s.IsKnownLive(sdRef)) {
            s.violations.push_back("DNSServiceProcessResult on a released or unknown reference");
            return kDNSServiceErr_BadReference;
        }
        ++sdRef->processCalls;
        if (sdRef->broken) return kDNSServiceErr_Unknown;
        if (sdRef->processing > 0) s.violations.push_back("two threads process one reference");
        ++sdRef->processing;
        sdRef->processor = std::this_thread::get_id();
        fd = sdRef->readFd;
    }

    // Blocks until a reply is queued, as the real call does.
    char wake;
    ssize_t got;
    do {
        got = ::read(fd, &wake, 1);
    } while (got < 0 && errno == EINTR);

    std::unique_lock lock(s.mutex);
    auto finish = [&](DNSServiceErrorType result) {
        if (--sdRef->processing == 0) {
            sdRef->processor = {};
            if (!sdRef->live) State::CloseSockets(*sdRef);
        }
        return result;
    };
    if (got != 1 || !sdRef->live || sdRef->queue.empty()) return finish(kDNSServiceErr_Unknown);
    Reply reply = std::move(sdRef->queue.front());
    sdRef->queue.pop_front();
    const auto operation = sdRef->operation;
    const auto browse = sdRef->browseCallback;
    const auto resolve = sdRef->resolveCallback;
    const auto query = sdRef->queryCallback;
    void* const context = sdRef->context;
    lock.unlock();

    // The callback may release this reference or make new ones.
    DNSServiceErrorType result = kDNSServiceErr_NoError;
    bool wrongKind = false;
    if (auto* b = std::get_if<FakeDnsSd::BrowseReply>(&reply)) {
        if (operation == Operation::Browse)
            browse(sdRef, b->flags, b->interfaceIndex, b->error, b->name.c_str(), b->type.c_str(), b->domain.c_str(),
                   context);
        else
            wrongKind = true;
    } else if (auto* r = std::get_if<FakeDnsSd::ResolveReply>(&reply)) {
        if (operation == Operation::Resolve)
            resolve(sdRef, r->flags, r->interfaceIndex, r->error, r->fullName.c_str(), r->hostTarget.c_str(),
                    htons(r->port), static_cast<std::uint16_t>(r->txt.size()),
                    reinterpret_cast<const unsigned char*>(r->txt.data()), context);
        else
            wrongKind = true;
    } else if (auto* q = std::get_if<FakeDnsSd::QueryReply>(&reply)) {
        if (operation == Operation::Query)
            query(sdRef, q->flags, q->interfaceIndex, q->error, q->fullName.c_str(), q->rrtype, q->rrclass,
                  static_cast<std::uint16_t>(q->rdata.size()), q->rdata.data(), q->ttl, context);
        else
            wrongKind = true;
    } else if (auto* f = std::get_if<FakeDnsSd::ProcessFailure>(&reply)) {
        result = f->error;
    }

    lock.lock();
    if (wrongKind) s.violations.push_back("a script queued a reply of the wrong kind");
    return finish(result);
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
    if (!sdRef) return;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.known.count(sdRef)) {
        s.violations.push_back("DNSServiceRefDeallocate of an unknown reference");
        return;
    }
    if (!sdRef->live) {
        s.violations.push_back("DNSServiceRefDeallocate of a released reference");
        return;
    }
    if (sdRef->processing > 0 && sdRef->processor != std::this_thread::get_id()) {
        s.violations.push_back("DNSServiceRefDeallocate while another thread processes the reference");
        ::shutdown(sdRef->readFd, SHUT_RDWR);  // wake the reader instead of leaving it blocked
    }
    sdRef->live = false;
    sdRef->queue.clear();
    std::erase_if(s.delayed, [&](const Delayed& d) { return d.ref == sdRef; });
    if (sdRef->processing == 0) State::CloseSockets(*sdRef);
}

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                               const char* regtype, const char* domain, DNSServiceBrowseReply callBack,
                                               void* context) {
    if (!sdRef || !regtype || !callBack || StartsWithDot(domain)) return kDNSServiceErr_BadParam;
    FakeDnsSd::Request request;
    request.operation = Operation::Browse;
    request.flags = flags;
    request.interfaceIndex = interfaceIndex;
    request.type = regtype;
    if (domain) request.domain = domain;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    DNSServiceRef ref;
    const auto error = s.Create(request, &ref);
    if (error != kDNSServiceErr_NoError) return error;
    ref->browseCallback = callBack;
    ref->context = context;
    *sdRef = ref;
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
                                                const char* name, const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context) {
    if (!sdRef || !name || !regtype || !domain || !callBack || StartsWithDot(domain)) return kDNSServiceErr_BadParam;
    FakeDnsSd::Request request;
    request.operation = Operation::Resolve;
    request.flags = flags;
    request.interfaceIndex = interfaceIndex;
    request.name = name;
    request.type = regtype;
    request.domain = domain;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    DNSServiceRef ref;
    const auto error = s.Create(request, &ref);
    if (error != kDNSServiceErr_NoError) return error;
    ref->resolveCallback = callBack;
    ref->context = context;
    *sdRef = ref;
    return kDNSServiceErr_NoError;
}

DNSServiceErrorType DNSSD_API DNSServiceQueryRecord(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex, const char* fullname, uint16_t rrtype,
                                                    uint16_t rrclass, DNSServiceQueryRecordReply callBack,
                                                    void* context) {
    if (!sdRef || !fullname || !callBack) return kDNSServiceErr_BadParam;
    FakeDnsSd::Request request;
    request.operation = Operation::Query;
    request.flags = flags;
    request.interfaceIndex = interfaceIndex;
    request.name = fullname;
    request.rrtype = rrtype;
    request.rrclass = rrclass;
    auto& s = S();
    std::lock_guard lock(s.mutex);
    DNSServiceRef ref;
    const auto error = s.Create(request, &ref);
    if (error != kDNSServiceErr_NoError) return error;
    ref->queryCallback = callBack;
    ref->context = context;
    *sdRef = ref;
    return kDNSServiceErr_NoError;
}

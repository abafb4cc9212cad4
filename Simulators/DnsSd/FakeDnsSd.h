// A scripted stand-in for the DNS-SD client library. It defines the
// dns_sd.h functions the system calls (browse, resolve, record query, result
// processing, socket and release of a reference), so a test program linked
// against it instead of libdns_sd runs without a daemon.
//
// Each reference owns a socketpair: a queued reply writes one byte, so the
// reference's socket turns readable exactly while replies wait, and
// DNSServiceProcessResult hands out one reply per call. Like Avahi's client,
// the fake refuses a domain that starts with a dot (kDNSServiceErr_BadParam).
//
// Misuse that the real library would punish with a crash (using or releasing
// a released reference, releasing a reference while another thread is inside
// DNSServiceProcessResult on it, two threads processing one reference) is
// recorded in Violations() instead; released references are kept until
// Reset() so a stale pointer is always recognised.
#pragma once

#include <dns_sd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace FakeDnsSd {

enum class Operation { Browse, Resolve, Query };

struct BrowseReply {
    DNSServiceFlags flags = kDNSServiceFlagsAdd;
    std::uint32_t interfaceIndex = 1;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string name;
    std::string type = "_ptp._tcp.";
    std::string domain = "local.";
};

struct ResolveReply {
    DNSServiceFlags flags = 0;
    std::uint32_t interfaceIndex = 1;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string fullName;
    std::string hostTarget;
    std::uint16_t port = 0;  // host order; delivered in network order as DNS-SD does
    std::string txt;         // wire form
};

struct QueryReply {
    DNSServiceFlags flags = kDNSServiceFlagsAdd;
    std::uint32_t interfaceIndex = 1;
    DNSServiceErrorType error = kDNSServiceErr_NoError;
    std::string fullName;
    std::uint16_t rrtype = kDNSServiceType_A;
    std::uint16_t rrclass = kDNSServiceClass_IN;
    std::string rdata;
    std::uint32_t ttl = 120;
};

// A wake-up that dispatches nothing (Avahi sends these, e.g. when its cache
// is exhausted).
struct EmptyReply {};

// DNSServiceProcessResult returns this code and dispatches nothing.
struct ProcessFailure {
    DNSServiceErrorType error = kDNSServiceErr_Unknown;
};

using Reply = std::variant<BrowseReply, ResolveReply, QueryReply, EmptyReply, ProcessFailure>;

// What the code under test asked for.
struct Request {
    Operation operation = Operation::Browse;
    DNSServiceRef ref = nullptr;  // identity only
    DNSServiceFlags flags = 0;
    std::uint32_t interfaceIndex = 0;
    std::string name;                   // resolve: instance name; query: full name
    std::string type;                   // browse and resolve
    std::optional<std::string> domain;  // browse and resolve; nullopt for a null domain
    std::uint16_t rrtype = 0;
    std::uint16_t rrclass = 0;
};

// Back to a clean state: no scripts, no history, no references (releasing
// the memory of every reference, so call it between tests only).
void Reset();

// The next request of this kind fails with the given error; several calls
// queue several failures.
void FailNext(Operation operation, DNSServiceErrorType error);

// Standing answers: every later request of this kind whose key matches
// (browse: the type; resolve: the instance name; query: the full name) gets
// these replies queued, after the delay measured on the machine's clock.
void Answer(Operation operation, const std::string& key, std::vector<Reply> replies,
            std::chrono::milliseconds delay = std::chrono::milliseconds(0));

// Queues a reply on a live reference (from any thread), after the delay
// measured on the machine's clock. Returns false when the reference is not live.
bool Send(DNSServiceRef ref, Reply reply, std::chrono::milliseconds delay = std::chrono::milliseconds(0));

// Queues a browse reply on every live browse for the type; returns how many.
std::size_t Announce(const std::string& browsedType, const BrowseReply& reply);

// Drops replies from the standing answers of this kind for the key (see
// Answer): those the predicate accepts, or all without one. Returns how many
// replies were dropped.
std::size_t Unanswer(Operation operation, const std::string& key,
                     const std::function<bool(const Reply&)>& match = nullptr);

// The reference's connection to the daemon breaks: its socket reads end of
// file (readable at once, for ever) and every DNSServiceProcessResult on it
// fails with kDNSServiceErr_Unknown. False when it is not live.
bool Break(DNSServiceRef ref);
// How often DNSServiceProcessResult was called on the reference, released
// or not.
std::size_t ProcessCalls(DNSServiceRef ref);

// Waits in real time for a request of this kind (matching the predicate when
// one is given) that no earlier call returned, and returns it.
std::optional<Request> WaitForRequest(Operation operation, std::chrono::milliseconds timeout,
                                      const std::function<bool(const Request&)>& match = nullptr);

std::vector<Request> Requests();
std::vector<DNSServiceRef> LiveRefs(Operation operation);
std::size_t LiveRefCount();
bool IsLive(DNSServiceRef ref);
// Replies queued on a reference and not yet processed.
std::size_t QueuedReplies(DNSServiceRef ref);
std::vector<std::string> Violations();

// Wire-form helpers for scripts.
std::string TxtRecord(std::initializer_list<std::string_view> entries);
std::string Ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d);

}  // namespace FakeDnsSd

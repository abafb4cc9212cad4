#include "PtpIpFakeAnnouncement.h"

#include "FakeDnsSd.h"

#include <variant>

namespace PtpIpSim {
namespace {

const char* const kTypes[] = {"_ptp._tcp", "_ptp._tcp."};

FakeDnsSd::BrowseReply Browse(const Announcement& a, bool add) {
    FakeDnsSd::BrowseReply reply;
    reply.flags = add ? kDNSServiceFlagsAdd : 0;
    reply.name = a.instanceName;
    reply.type = "_ptp._tcp.";
    reply.domain = "local.";
    return reply;
}

}  // namespace

std::size_t AnnounceFake(const Announcement& a) {
    const std::string host = a.hostName + ".";
    FakeDnsSd::ResolveReply resolve;
    resolve.fullName = a.instanceName + "._ptp._tcp.local.";
    resolve.hostTarget = host;
    resolve.port = a.port;
    resolve.txt = TxtRecord(a);
    FakeDnsSd::Answer(FakeDnsSd::Operation::Resolve, a.instanceName, {resolve});

    FakeDnsSd::QueryReply query;
    query.fullName = host;
    query.rdata = FakeDnsSd::Ipv4(a.address[0], a.address[1], a.address[2], a.address[3]);
    FakeDnsSd::Answer(FakeDnsSd::Operation::Query, host, {query});
    FakeDnsSd::Answer(FakeDnsSd::Operation::Query, a.hostName, {query});

    std::size_t heard = 0;
    for (const char* type : kTypes) {
        FakeDnsSd::Answer(FakeDnsSd::Operation::Browse, type, {Browse(a, true)});
        heard += FakeDnsSd::Announce(type, Browse(a, true));
    }
    return heard;
}

std::size_t WithdrawFake(const Announcement& a) {
    // Later browses must not find it either.
    const std::string host = a.hostName + ".";
    FakeDnsSd::Unanswer(FakeDnsSd::Operation::Resolve, a.instanceName);
    FakeDnsSd::Unanswer(FakeDnsSd::Operation::Query, host);
    FakeDnsSd::Unanswer(FakeDnsSd::Operation::Query, a.hostName);
    for (const char* type : kTypes) {
        FakeDnsSd::Unanswer(FakeDnsSd::Operation::Browse, type, [&](const FakeDnsSd::Reply& r) {
            const auto* browse = std::get_if<FakeDnsSd::BrowseReply>(&r);
            return browse && browse->name == a.instanceName;
        });
    }
    std::size_t heard = 0;
    for (const char* type : kTypes) heard += FakeDnsSd::Announce(type, Browse(a, false));
    return heard;
}

}  // namespace PtpIpSim

// The responder seen from a raw socket: every packet here is built and read
// byte by byte by the test itself, so the responder's own encoding is checked
// against an independent one.
#include "PtpIpResponder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using PtpIpSim::Channel;
using PtpIpSim::Close;
using PtpIpSim::OperationScript;
using PtpIpSim::Responder;
using PtpIpSim::Settings;

void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(v & 0xFF);
    b.push_back(v >> 8);
}
void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t Get16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Packet(std::uint32_t type, const Bytes& body = {}) {
    Bytes b;
    Put32(b, static_cast<std::uint32_t>(8 + body.size()));
    Put32(b, type);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

const Bytes kGuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

Bytes InitCommandRequest(const std::u16string& name, bool version = false) {
    Bytes body = kGuid;
    for (char16_t c : name) Put16(body, c);
    Put16(body, 0);
    if (version) Put32(body, 0x00010000);
    return Packet(1, body);
}
Bytes U32Packet(std::uint32_t type, std::uint32_t v) {
    Bytes body;
    Put32(body, v);
    return Packet(type, body);
}
Bytes Request(std::uint32_t phase, std::uint16_t op, std::uint32_t tid, std::vector<std::uint32_t> params = {}) {
    Bytes body;
    Put32(body, phase);
    Put16(body, op);
    Put32(body, tid);
    for (auto p : params) Put32(body, p);
    return Packet(6, body);
}
Bytes StartData(std::uint32_t tid, std::uint32_t total) {
    Bytes body;
    Put32(body, tid);
    Put32(body, total);
    return Packet(9, body);
}
Bytes Data(std::uint32_t tid, const Bytes& bytes) {
    Bytes body;
    Put32(body, tid);
    body.insert(body.end(), bytes.begin(), bytes.end());
    return Packet(10, body);
}
Bytes Pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

// The initiator's side of one connection, with bounded reads.
class Client {
public:
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { Close(); }
    bool Connected() const { return connected_; }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool Send(const Bytes& b) {
        return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
    }

    // Exactly n bytes, or nullopt on time-out or end of stream.
    std::optional<Bytes> ReadExactly(std::size_t n, std::chrono::milliseconds timeout = 3s) {
        Bytes out;
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left <= 0ms) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            std::uint8_t buffer[65536];
            const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
            if (got <= 0) {
                lastError_ = got == 0 ? 0 : errno;
                return std::nullopt;
            }
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }
    std::optional<Bytes> ReadPacket(std::chrono::milliseconds timeout = 3s) {
        auto header = ReadExactly(8, timeout);
        if (!header) return std::nullopt;
        const std::uint32_t length = Get32(*header, 0);
        if (length < 8) return header;
        auto body = ReadExactly(length - 8, timeout);
        if (!body) return std::nullopt;
        header->insert(header->end(), body->begin(), body->end());
        return header;
    }
    // True when the peer closed (FIN or RST) within the time-out.
    bool PeerClosed(std::chrono::milliseconds timeout = 3s) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t scratch[4096];
            const ssize_t got = ::recv(fd_, scratch, sizeof scratch, 0);
            if (got == 0) return true;
            if (got < 0) {
                lastError_ = errno;
                return true;
            }
        }
        return false;
    }
    int LastError() const { return lastError_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    int lastError_ = 0;
};

// A client through both handshakes.
struct Session {
    explicit Session(Responder& r, const std::u16string& name = u"Host") : command(r.Port()), event(r.Port()) {
        EXPECT_TRUE(command.Send(InitCommandRequest(name)));
        ack = command.ReadPacket();
        EXPECT_TRUE(event.Connected());
        EXPECT_TRUE(event.Send(U32Packet(3, ack ? Get32(*ack, 8) : 0)));
        eventAck = event.ReadPacket();
    }
    Client command;
    Client event;
    std::optional<Bytes> ack;
    std::optional<Bytes> eventAck;
};

std::u16string Utf16At(const Bytes& b, std::size_t at) {
    std::u16string s;
    for (; at + 1 < b.size() && Get16(b, at); at += 2) s.push_back(Get16(b, at));
    return s;
}

// --- Handshake ---------------------------------------------------------------

TEST(PtpIpResponderHandshake, AnswersBothRequestsByteForByte) {
    Settings settings;
    settings.name = u"Dock";
    settings.connectionNumber = 0x01020304;
    Responder responder(settings);
    Session s(responder, u"Initiator");
    ASSERT_TRUE(s.ack);
    // header, connection number, GUID, "Dock" with its zero unit, version
    ASSERT_EQ(s.ack->size(), 8u + 4 + 16 + 10 + 4);
    EXPECT_EQ(Get32(*s.ack, 0), s.ack->size());
    EXPECT_EQ(Get32(*s.ack, 4), 2u);
    EXPECT_EQ(Get32(*s.ack, 8), 0x01020304u);
    EXPECT_TRUE(std::equal(settings.guid.begin(), settings.guid.end(), s.ack->begin() + 12));
    EXPECT_EQ(Utf16At(*s.ack, 28), u"Dock");
    EXPECT_EQ(Get32(*s.ack, 38), 0x00010000u);
    ASSERT_TRUE(s.eventAck);
    EXPECT_EQ(*s.eventAck, Packet(4));

    EXPECT_EQ(responder.InitiatorName(), u"Initiator");
    const auto guid = responder.InitiatorGuid();
    EXPECT_EQ(Bytes(guid.begin(), guid.end()), kGuid);
    EXPECT_EQ(responder.Received(Channel::Command), InitCommandRequest(u"Initiator"));
    EXPECT_EQ(responder.Received(Channel::Event), U32Packet(3, 0x01020304));
    EXPECT_EQ(responder.Sent(Channel::Command), *s.ack);
    EXPECT_EQ(responder.Sessions(), 1u);
    EXPECT_EQ(responder.Connections(), 2u);
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderHandshake, ToleratesAVersionAndRefusesOtherLengths) {
    Responder responder;
    {
        Client c(responder.Port());
        ASSERT_TRUE(c.Send(InitCommandRequest(u"V", true)));
        auto ack = c.ReadPacket();
        ASSERT_TRUE(ack);
        EXPECT_EQ(Get32(*ack, 4), 2u);
    }
    ASSERT_TRUE(responder.WaitForPeerClose(Channel::Command));
    responder.ClearRecords();
    Client c(responder.Port());
    Bytes bad = InitCommandRequest(u"V");
    bad.push_back(0);
    bad.push_back(0);
    bad[0] = static_cast<std::uint8_t>(bad.size());
    ASSERT_TRUE(c.Send(bad));
    EXPECT_TRUE(c.PeerClosed());
    ASSERT_EQ(responder.Errors().size(), 1u);
    EXPECT_NE(responder.Errors()[0].find("Init_Command_Request"), std::string::npos);
}

TEST(PtpIpResponderHandshake, RefusalsAndWrongSizeAcknowledgements) {
    Settings settings;
    settings.commandInitFail = 2;
    Responder responder(settings);
    {
        Client c(responder.Port());
        ASSERT_TRUE(c.Send(InitCommandRequest(u"H")));
        EXPECT_EQ(c.ReadPacket(), U32Packet(5, 2));
        c.Close();
        EXPECT_TRUE(responder.WaitForPeerClose(Channel::Command));
        EXPECT_FALSE(responder.PeerClosed(Channel::Event));
    }

    settings.commandInitFail.reset();
    settings.eventInitFail = 1;
    responder.Configure(settings);
    {
        Session s(responder);
        EXPECT_EQ(s.eventAck, U32Packet(5, 1));
        s.event.Close();
        s.command.Close();
        EXPECT_TRUE(responder.WaitForPeerClose(Channel::Event));
        EXPECT_TRUE(responder.WaitForPeerClose(Channel::Command));
    }

    settings.eventInitFail.reset();
    settings.commandAckLength = 20;
    settings.eventAckLength = 12;
    responder.Configure(settings);
    {
        Client c(responder.Port());
        ASSERT_TRUE(c.Send(InitCommandRequest(u"H")));
        auto ack = c.ReadPacket();
        ASSERT_TRUE(ack);
        EXPECT_EQ(ack->size(), 20u);
        EXPECT_EQ(Get32(*ack, 0), 20u);
        c.Close();
        EXPECT_TRUE(responder.WaitForPeerClose(Channel::Command));
    }
    settings.commandAckLength.reset();
    responder.Configure(settings);
    {
        Session s(responder);
        ASSERT_TRUE(s.eventAck);
        EXPECT_EQ(s.eventAck->size(), 12u);
        EXPECT_EQ(Get32(*s.eventAck, 0), 12u);
        EXPECT_EQ(Get32(*s.eventAck, 4), 4u);
    }
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderHandshake, WrongConnectionNumberIsRefused) {
    Responder responder;
    Client command(responder.Port());
    ASSERT_TRUE(command.Send(InitCommandRequest(u"H")));
    ASSERT_TRUE(command.ReadPacket());
    Client event(responder.Port());
    ASSERT_TRUE(event.Send(U32Packet(3, 99)));
    EXPECT_EQ(event.ReadPacket(), U32Packet(5, 2));
    ASSERT_EQ(responder.Errors().size(), 1u);
    EXPECT_EQ(responder.Sessions(), 0u);
}

TEST(PtpIpResponderHandshake, AnIdleConnectionIsGivenUp) {
    Settings settings;
    settings.idleLimit = 200ms;
    Responder responder(settings);
    Client c(responder.Port());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(c.PeerClosed(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

// --- Transactions --------------------------------------------------------------

TEST(PtpIpResponderTransaction, ScriptedResponseEchoesTheTransaction) {
    Responder responder;
    OperationScript script;
    script.responseCode = 0x2019;
    script.responseParams = {7, 8};
    responder.Script(0x9001, script);
    Session s(responder);
    ASSERT_TRUE(s.command.Send(Request(1, 0x1002, 0, {1})));
    Bytes expected;
    Put16(expected, 0x2001);
    Put32(expected, 0);
    EXPECT_EQ(s.command.ReadPacket(), Packet(7, expected));
    ASSERT_TRUE(s.command.Send(Request(1, 0x9001, 5)));
    auto response = s.command.ReadPacket();
    ASSERT_TRUE(response);
    ASSERT_EQ(response->size(), 22u);
    EXPECT_EQ(Get16(*response, 8), 0x2019);
    EXPECT_EQ(Get32(*response, 10), 5u);
    EXPECT_EQ(Get32(*response, 14), 7u);
    EXPECT_EQ(Get32(*response, 18), 8u);
    auto packets = responder.Packets(Channel::Command);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[2].bytes, Request(1, 0x9001, 5));
    EXPECT_EQ(packets[2].session, 1u);
}

TEST(PtpIpResponderTransaction, DataOutIsRecordedPieceByPiece) {
    Responder responder;
    Session s(responder);
    const Bytes data = Pattern(10000);
    ASSERT_TRUE(s.command.Send(Request(2, 0x9002, 0)));
    ASSERT_TRUE(s.command.Send(StartData(0, 10000)));
    for (std::size_t at = 0; at < data.size(); at += 4096)
        ASSERT_TRUE(s.command.Send(Data(0, Bytes(data.begin() + at, data.begin() + std::min(at + 4096, data.size())))));
    auto response = s.command.ReadPacket();
    ASSERT_TRUE(response);
    EXPECT_EQ(Get16(*response, 8), 0x2001);

    const auto packets = responder.Packets(Channel::Command);
    ASSERT_EQ(packets.size(), 6u);
    std::vector<std::size_t> pieces;
    Bytes joined;
    for (std::size_t i = 3; i < 6; ++i) {
        EXPECT_EQ(packets[i].type, 10u);
        pieces.push_back(packets[i].Payload().size());
        auto payload = packets[i].Payload();
        joined.insert(joined.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(pieces, (std::vector<std::size_t>{4096, 4096, 1808}));
    EXPECT_EQ(joined, data);

    // A phase of unknown length ends with an empty Data packet.
    ASSERT_TRUE(s.command.Send(Request(2, 0x9002, 0)));
    ASSERT_TRUE(s.command.Send(StartData(0, 0xFFFFFFFF)));
    ASSERT_TRUE(s.command.Send(Data(0, Pattern(100))));
    ASSERT_TRUE(s.command.Send(Data(0, {})));
    EXPECT_TRUE(s.command.ReadPacket());
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderTransaction, DataOutBeyondItsTotalEndsTheSession) {
    Responder responder;
    Session s(responder);
    ASSERT_TRUE(s.command.Send(Request(2, 0x9002, 0)));
    ASSERT_TRUE(s.command.Send(StartData(0, 10)));
    ASSERT_TRUE(s.command.Send(Data(0, Pattern(11))));
    EXPECT_TRUE(s.command.PeerClosed());
    ASSERT_EQ(responder.Errors().size(), 1u);
    EXPECT_NE(responder.Errors()[0].find("11 bytes of an announced 10"), std::string::npos);
}

TEST(PtpIpResponderTransaction, DataInWithKnownAndUnknownTotals) {
    Responder responder;
    const Bytes data = Pattern(10000);
    responder.Script(0x9003, OperationScript::WithData(data, 4000));
    auto unknown = OperationScript::WithData(data, 6000);
    unknown.unknownTotal = true;
    responder.Script(0x9004, unknown);
    Session s(responder);

    ASSERT_TRUE(s.command.Send(Request(1, 0x9003, 0)));
    EXPECT_EQ(s.command.ReadPacket(), StartData(0, 10000));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Bytes(data.begin(), data.begin() + 4000)));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Bytes(data.begin() + 4000, data.begin() + 8000)));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Bytes(data.begin() + 8000, data.end())));
    auto response = s.command.ReadPacket();
    ASSERT_TRUE(response);
    EXPECT_EQ(Get32(*response, 4), 7u);

    ASSERT_TRUE(s.command.Send(Request(1, 0x9004, 0)));
    EXPECT_EQ(s.command.ReadPacket(), StartData(0, 0xFFFFFFFF));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Bytes(data.begin(), data.begin() + 6000)));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Bytes(data.begin() + 6000, data.end())));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, {}));
    response = s.command.ReadPacket();
    ASSERT_TRUE(response);
    EXPECT_EQ(Get32(*response, 4), 7u);
}

TEST(PtpIpResponderTransaction, FaultsOfTheReplies) {
    Responder responder;
    Session s(responder);
    auto expectNext = [&](std::uint16_t op, OperationScript script, const Bytes& expected) {
        responder.ScriptOnce(op, script);
        ASSERT_TRUE(s.command.Send(Request(1, op, 3)));
        EXPECT_EQ(s.command.ReadExactly(expected.size()), expected);
    };

    auto standard = OperationScript::WithData(Bytes{}, 16);
    standard.standardStartData = true;
    Bytes body;
    Put32(body, 3);
    Put32(body, 0);
    Put32(body, 0);
    Bytes response;
    Put16(response, 0x2001);
    Put32(response, 3);
    expectNext(0x9005, standard, Packet(9, body) + Packet(7, response));

    OperationScript wrongTid;
    wrongTid.wrongTransactionId = true;
    Bytes wrong;
    Put16(wrong, 0x2001);
    Put32(wrong, 4);
    expectNext(0x9005, wrongTid, Packet(7, wrong));

    auto endData = OperationScript::WithData(Bytes{1, 2}, 16);
    endData.endData = true;
    expectNext(0x9005, endData, StartData(3, 2) + Data(3, {1, 2}) + U32Packet(12, 3) + Packet(7, response));

    auto overrun = OperationScript::WithData(Bytes{1, 2, 3}, 16);
    overrun.announcedTotal = 2;
    expectNext(0x9005, overrun, StartData(3, 2) + Data(3, {1, 2, 3}) + Packet(7, response));

    OperationScript longResponse;
    longResponse.responseLength = 16;
    Bytes padded = response;
    padded.resize(8, 0);
    expectNext(0x9005, longResponse, Packet(7, padded));

    OperationScript raw;
    raw.rawReply = Bytes{0xDE, 0xAD};
    expectNext(0x9005, raw, Bytes{0xDE, 0xAD});

    // The standing script comes back once the one-off ones are used.
    expectNext(0x9005, OperationScript{}, Packet(7, response));
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderTransaction, ClosingInsteadOfReplying) {
    Responder responder;
    OperationScript reset;
    reset.closeInstead = Close::Reset;
    responder.Script(0x9006, reset);
    {
        Session s(responder);
        ASSERT_TRUE(s.command.Send(Request(1, 0x9006, 0)));
        EXPECT_FALSE(s.command.ReadPacket());
        EXPECT_EQ(s.command.LastError(), ECONNRESET);
        EXPECT_TRUE(s.event.PeerClosed());
    }
    // The next session is served.
    Session again(responder);
    EXPECT_TRUE(again.eventAck);
    EXPECT_EQ(responder.Sessions(), 2u);
}

// --- Cancel --------------------------------------------------------------------

TEST(PtpIpResponderCancel, StalledDataInWaitsForTheCancel) {
    Responder responder;
    auto script = OperationScript::WithData(Pattern(10000), 1000);
    script.stallAfter = 2500;
    script.dataAfterCancel = Pattern(10);
    responder.Script(0x9007, script);
    Session s(responder);
    ASSERT_TRUE(s.command.Send(Request(1, 0x9007, 0)));
    EXPECT_EQ(s.command.ReadPacket(), StartData(0, 10000));
    std::size_t got = 0;
    for (int i = 0; i < 3; ++i) {
        auto data = s.command.ReadPacket();
        ASSERT_TRUE(data);
        got += data->size() - 12;
    }
    EXPECT_EQ(got, 2500u);
    EXPECT_FALSE(s.command.ReadPacket(100ms));  // stalled

    // A cancel of another transaction is not answered.
    ASSERT_TRUE(s.command.Send(U32Packet(11, 9)));
    EXPECT_FALSE(s.command.ReadPacket(100ms));
    ASSERT_TRUE(s.command.Send(U32Packet(11, 0)));
    EXPECT_EQ(s.command.ReadPacket(), Data(0, Pattern(10)));
    Bytes cancelled;
    Put16(cancelled, 0x201F);
    Put32(cancelled, 0);
    EXPECT_EQ(s.command.ReadPacket(), Packet(7, cancelled));

    // The next command is served.
    ASSERT_TRUE(s.command.Send(Request(1, 0x1001, 0)));
    auto response = s.command.ReadPacket();
    ASSERT_TRUE(response);
    EXPECT_EQ(Get16(*response, 8), 0x2001);
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderCancel, LatestTransactionIsCancelledOnce) {
    Responder responder;
    Session s(responder);
    // After the response went out: the initiator drains up to Transaction_Cancelled.
    ASSERT_TRUE(s.command.Send(Request(1, 0x1001, 0)));
    ASSERT_TRUE(s.command.ReadPacket());
    ASSERT_TRUE(s.command.Send(U32Packet(11, 0)));
    auto cancelled = s.command.ReadPacket();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(Get16(*cancelled, 8), 0x201F);
    ASSERT_TRUE(s.command.Send(U32Packet(11, 0)));
    EXPECT_FALSE(s.command.ReadPacket(100ms));

    // During data out a cancel of another transaction changes nothing...
    ASSERT_TRUE(s.command.Send(Request(2, 0x9002, 0)));
    ASSERT_TRUE(s.command.Send(U32Packet(11, 9)));
    ASSERT_TRUE(s.command.Send(StartData(0, 100)));
    ASSERT_TRUE(s.command.Send(Data(0, Pattern(40))));
    ASSERT_TRUE(s.command.Send(U32Packet(11, 9)));
    ASSERT_TRUE(s.command.Send(Data(0, Pattern(60))));
    auto ok = s.command.ReadPacket();
    ASSERT_TRUE(ok);
    EXPECT_EQ(Get16(*ok, 8), 0x2001);
    // ...and one of the transaction ends it in place of the next Data packet.
    ASSERT_TRUE(s.command.Send(Request(2, 0x9002, 0)));
    ASSERT_TRUE(s.command.Send(StartData(0, 100)));
    ASSERT_TRUE(s.command.Send(Data(0, Pattern(40))));
    ASSERT_TRUE(s.command.Send(U32Packet(11, 0)));
    cancelled = s.command.ReadPacket();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(Get16(*cancelled, 8), 0x201F);
    EXPECT_TRUE(responder.Errors().empty());
}

// --- Event channel -------------------------------------------------------------

TEST(PtpIpResponderEvents, EventsAndProbes) {
    Responder responder;
    Session s(responder);
    ASSERT_TRUE(responder.SendEvent(0x4002, 7, {1, 2, 3}));
    Bytes body;
    Put16(body, 0x4002);
    Put32(body, 7);
    for (std::uint32_t v : {1u, 2u, 3u}) Put32(body, v);
    EXPECT_EQ(s.event.ReadPacket(), Packet(8, body));

    ASSERT_TRUE(s.event.Send(Packet(13)));
    EXPECT_EQ(s.event.ReadPacket(), Packet(14));
    Settings silent = responder.GetSettings();
    silent.silentProbes = true;
    responder.Configure(silent);
    ASSERT_TRUE(s.event.Send(Packet(13)));
    EXPECT_FALSE(s.event.ReadPacket(200ms));
    EXPECT_EQ(responder.Packets(Channel::Event).size(), 3u);

    EXPECT_EQ(responder.FloodEvents(257, 0x4001), 257u);
    for (std::uint32_t i = 0; i < 257; ++i) {
        auto event = s.event.ReadPacket();
        ASSERT_TRUE(event);
        ASSERT_EQ(event->size(), 18u);
        EXPECT_EQ(Get32(*event, 14), i);
    }
    EXPECT_TRUE(responder.Errors().empty());
}

TEST(PtpIpResponderEvents, NoEventWithoutASession) {
    Responder responder;
    EXPECT_FALSE(responder.SendEvent(0x4001, 0));
    EXPECT_EQ(responder.FloodEvents(3, 0x4001), 0u);
    EXPECT_FALSE(responder.Disconnect(Close::Graceful));
}

// --- Delays and holds ----------------------------------------------------------

TEST(PtpIpResponderDelay, DelaysRunOnTheMachineClock) {
    auto clock = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scoped(clock);
    Responder responder;
    OperationScript slow;
    slow.delay = std::chrono::minutes(10);
    responder.Script(0x9008, slow);
    Session s(responder);
    const auto before = clock->Now();
    ASSERT_TRUE(s.command.Send(Request(1, 0x9008, 0)));
    EXPECT_TRUE(s.command.ReadPacket(5s));
    EXPECT_GE(clock->Now() - before, std::chrono::minutes(10));
}

TEST(PtpIpResponderDelay, HeldReplyWaitsForRelease) {
    Responder responder;
    OperationScript held;
    held.hold = true;
    responder.Script(0x9009, held);
    Session s(responder);
    ASSERT_TRUE(s.command.Send(Request(1, 0x9009, 0)));
    ASSERT_TRUE(responder.WaitForHeld());
    EXPECT_FALSE(s.command.ReadPacket(100ms));
    // Probes are answered meanwhile.
    ASSERT_TRUE(s.event.Send(Packet(13)));
    EXPECT_EQ(s.event.ReadPacket(), Packet(14));
    responder.Release();
    EXPECT_TRUE(s.command.ReadPacket());
}

TEST(PtpIpResponderDelay, DisconnectEndsAHeldReply) {
    Responder responder;
    OperationScript held;
    held.hold = true;
    responder.Script(0x9009, held);
    Session s(responder);
    ASSERT_TRUE(s.command.Send(Request(1, 0x9009, 0)));
    ASSERT_TRUE(responder.WaitForHeld());
    EXPECT_TRUE(responder.Disconnect(Close::Graceful));
    EXPECT_TRUE(s.command.PeerClosed());
    EXPECT_TRUE(s.event.PeerClosed());

    // Between the two handshakes too.
    Client command(responder.Port());
    ASSERT_TRUE(command.Send(InitCommandRequest(u"H")));
    ASSERT_TRUE(command.ReadPacket());
    EXPECT_TRUE(responder.Disconnect(Close::Reset));
    EXPECT_TRUE(command.PeerClosed());
    EXPECT_EQ(command.LastError(), ECONNRESET);
}

// --- Threads -------------------------------------------------------------------

TEST(ThreadPtpIpResponder, EventsFromOtherThreadsDuringTransactions) {
    Responder responder;
    responder.Script(0x900A, OperationScript::WithData(Pattern(200000), 8192));
    Session s(responder);
    std::vector<std::thread> pushers;
    for (int t = 0; t < 3; ++t)
        pushers.emplace_back([&responder, t] {
            for (int i = 0; i < 50; ++i) responder.SendEvent(0x4000, static_cast<std::uint32_t>(t), {0});
        });
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(s.command.Send(Request(1, 0x900A, 0)));
        EXPECT_EQ(s.command.ReadPacket(), StartData(0, 200000));
        std::size_t got = 0;
        while (got < 200000) {
            auto data = s.command.ReadPacket();
            ASSERT_TRUE(data);
            got += data->size() - 12;
        }
        ASSERT_TRUE(s.command.ReadPacket());
    }
    for (auto& t : pushers) t.join();
    // Every event arrived whole, none cut by another.
    for (int i = 0; i < 150; ++i) {
        auto event = s.event.ReadPacket();
        ASSERT_TRUE(event);
        EXPECT_EQ(event->size(), 18u);
        EXPECT_EQ(Get32(*event, 4), 8u);
    }
}

TEST(ThreadPtpIpResponder, StopWhileHeldAndWhilePushing) {
    auto responder = std::make_unique<Responder>();
    OperationScript held;
    held.hold = true;
    responder->Script(0x9009, held);
    Session s(*responder);
    ASSERT_TRUE(s.command.Send(Request(1, 0x9009, 0)));
    ASSERT_TRUE(responder->WaitForHeld());
    std::atomic<bool> done{false};
    std::thread pusher([&] {
        while (!done) responder->SendEvent(0x4000, 0);
    });
    const auto started = std::chrono::steady_clock::now();
    responder->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    done = true;
    pusher.join();
    EXPECT_TRUE(s.command.PeerClosed());
}

}  // namespace

// Device sessions against a printer end the test drives packet by packet:
// the handshake, transactions, data phases, cancellation, events and the
// keep-alive probe.
#include "Device.h"
#include "TestPeer.h"
#include "Transport.h"

#include "Platform/Clock.h"
#include "Platform/Win32.h"

#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <thread>

namespace {

using namespace Jorvale;
using namespace TestPeer;
using namespace std::chrono_literals;

Timing FastTiming() {
    Timing t;
    t.step = Platform::Milliseconds(5);
    return t;
}

class ThreadSession : public ::testing::Test {
protected:
    void SetUp() override {
        SetTiming(FastTiming());
        ASSERT_EQ(PtpiCreateTransport(&transport_), kOk);
    }
    void TearDown() override {
        if (device_) device_->ops->Release(device_);
        transport_->ops->Release(transport_);
        SetTiming({});
        EXPECT_EQ(Device::LiveCount(), 0u);
    }

    HRESULT OpenWith(std::function<void(Listener&)> printer) {
        auto peer = std::async(std::launch::async, [&] { printer(listener_); });
        const HRESULT hr = transport_->ops->OpenDevice(transport_, listener_.Url().c_str(), 0, &device_);
        peer.get();
        return hr;
    }
    void Open() {
        auto peer = std::async(std::launch::async, [&] { return AcceptSession(listener_); });
        ASSERT_EQ(transport_->ops->OpenDevice(transport_, listener_.Url().c_str(), 0, &device_), kOk);
        s_ = peer.get();
    }
    Device& D() { return *static_cast<Device*>(device_); }

    // One command without data; the printer's request and the response.
    Bytes Command(WORD op, std::vector<DWORD> params = {}, WORD code = 0x2001, PtpResponseBlock* out = nullptr) {
        PtpCommandBlock cmd{};
        cmd.operationCode = op;
        cmd.parameterCount = static_cast<DWORD>(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) cmd.parameters[i] = params[i];
        EXPECT_EQ(PtpSendCmd(device_, &cmd), kOk);
        Bytes request = s_.command.ReadPacket().value();
        s_.command.Write(Response(code, cmd.transactionId));
        DWORD length = 99;
        EXPECT_EQ(PtpWaitAck(device_, &length), kOk);
        EXPECT_EQ(length, 0u);
        PtpResponseBlock rsp{};
        EXPECT_EQ(PtpGetRsp(device_, &rsp), kOk);
        EXPECT_EQ(rsp.responseCode, code);
        if (out) *out = rsp;
        return request;
    }
    void SendCmd(WORD op, DWORD dataOut = 0, DWORD* tid = nullptr) {
        PtpCommandBlock cmd{};
        cmd.operationCode = op;
        cmd.dataOutLength = dataOut;
        ASSERT_EQ(PtpSendCmd(device_, &cmd), kOk);
        if (tid) *tid = cmd.transactionId;
    }

    Listener listener_;
    Session s_;
    PtpiTransport* transport_ = nullptr;
    PtpiDevice* device_ = nullptr;
};

// --- Handshake ----------------------------------------------------------------

TEST_F(ThreadSession, HandshakeIsByteExact) {
    Open();
    const Initiator& me = static_cast<Transport*>(transport_)->Identity();
    Bytes expected;
    Put32(expected, static_cast<std::uint32_t>(24 + 2 * (me.name.size() + 1)));
    Put32(expected, 1);
    expected.insert(expected.end(), me.guid.begin(), me.guid.end());
    for (char16_t c : me.name) Put16(expected, c);
    Put16(expected, 0);
    EXPECT_EQ(s_.initCommandRequest, expected);
    EXPECT_EQ(s_.initEventRequest, (Bytes{12, 0, 0, 0, 3, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(D().State(), CommandState::Idle);
    EXPECT_EQ(D().EventWaitState(), EventWait::Ready);
}

TEST_F(ThreadSession, RefusalsMapToResultsAndCloseBothConnections) {
    struct Case {
        Bytes commandReply;
        Bytes eventReply;  // empty: the event connection is not expected
        HRESULT expected;
    };
    const std::vector<Case> cases = {
        {U32Packet(5, 1), {}, kInitiatorRejected},
        {U32Packet(5, 2), {}, kBusy},
        {U32Packet(5, 9), {}, kBusy},
        {Packet(5, Bytes(2)), {}, kProtocolError},             // Init_Fail too short
        {Packet(2, Bytes(20)), {}, kProtocolError},            // Init_Command_Ack of 28 bytes
        {Packet(7, Bytes(6)), {}, kProtocolError},             // not a handshake packet
        {CommandAck(7), Packet(4, Bytes(4)), kProtocolError},  // 12-byte Init_Event_Ack
        {CommandAck(7), U32Packet(5, 1), kInitiatorRejected},
        {CommandAck(7), U32Packet(5, 2), kBusy},
        {CommandAck(7), Packet(2, Bytes(30)), kProtocolError},
    };
    for (const Case& c : cases) {
        const HRESULT hr = OpenWith([&](Listener& l) {
            Connection command = l.Accept();
            ASSERT_TRUE(command.ReadPacket());
            command.Write(c.commandReply);
            if (c.eventReply.empty()) {
                EXPECT_TRUE(command.WaitClosed());
                EXPECT_FALSE(l.Accept(100ms).Valid());
                return;
            }
            Connection event = l.Accept();
            ASSERT_TRUE(event.ReadPacket());
            event.Write(c.eventReply);
            EXPECT_TRUE(command.WaitClosed());
            EXPECT_TRUE(event.WaitClosed());
        });
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(device_, nullptr);
    }
}

TEST_F(ThreadSession, HandshakeLengthsAreBoundedBeforeReading) {
    // A length past the general reader's 520 bytes is refused without
    // waiting for (or allocating) the rest.
    const HRESULT hr = OpenWith([&](Listener& l) {
        Connection command = l.Accept();
        ASSERT_TRUE(command.ReadPacket());
        Bytes huge;
        Put32(huge, 0x7FFFFFFF);
        Put32(huge, 2);
        command.Write(huge);
        EXPECT_TRUE(command.WaitClosed());
    });
    EXPECT_EQ(hr, kProtocolError);
}

TEST_F(ThreadSession, UnreachableOrBadAddressesFail) {
    EXPECT_EQ(transport_->ops->OpenDevice(transport_, u"ptp://127.0.0.1:99999/", 0, &device_), kFail);
    EXPECT_EQ(transport_->ops->OpenDevice(transport_, nullptr, 0, &device_), kInvalidArgument);
    EXPECT_EQ(device_, nullptr);
    std::u16string closedPort;
    {
        Listener gone;
        closedPort = gone.Url();
    }
    EXPECT_EQ(transport_->ops->OpenDevice(transport_, closedPort.c_str(), 0, &device_), kFail);
}

TEST_F(ThreadSession, SilentPrinterTimesOutOnTheClock) {
    auto clock = std::make_shared<Platform::ManualClock>(false);
    Platform::ScopedClock scoped(clock);
    std::atomic<bool> done{false};
    auto open = std::async(std::launch::async, [&] {
        const HRESULT hr = transport_->ops->OpenDevice(transport_, listener_.Url().c_str(), 0, &device_);
        done = true;
        return hr;
    });
    Connection command = listener_.Accept();
    ASSERT_TRUE(command.ReadPacket());
    std::this_thread::sleep_for(100ms);  // the initiator is waiting for the reply by now
    clock->Advance(Platform::Milliseconds(9999));
    EXPECT_TRUE(command.Quiet(50ms));
    EXPECT_FALSE(done);
    clock->Advance(Platform::Milliseconds(1));
    EXPECT_EQ(open.get(), kConnectionClosed);
    EXPECT_TRUE(command.WaitClosed());
}

// --- Transactions -------------------------------------------------------------

TEST_F(ThreadSession, TransactionIdsFollowTheSession) {
    Open();
    EXPECT_EQ(Get32(Command(0x1001), 14), 0u);       // no session yet
    EXPECT_EQ(Get32(Command(0x1002, {1}), 14), 0u);  // OpenSession itself
    const Bytes first = Command(0x9001, {1, 2, 3, 4, 5});
    EXPECT_EQ(first, (Bytes{38, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0x01, 0x90, 1, 0, 0, 0, 1,
                            0,  0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0,    0,    0, 5, 0, 0, 0}));
    EXPECT_EQ(Get32(Command(0x9001), 14), 2u);
    // A refused OpenSession changes nothing; a refused CloseSession neither.
    EXPECT_EQ(Get32(Command(0x1003, {}, 0x2002), 14), 3u);
    EXPECT_EQ(Get32(Command(0x9001), 14), 4u);

    D().SetTransactionId(0xFFFFFFFD, true);
    EXPECT_EQ(Get32(Command(0x9001), 14), 0xFFFFFFFEu);
    EXPECT_EQ(Get32(Command(0x9001), 14), 1u);
    EXPECT_EQ(Get32(Command(0x1003), 14), 2u);  // CloseSession
    EXPECT_EQ(Get32(Command(0x9001), 14), 0u);
}

TEST_F(ThreadSession, ResponsesCarryTheirParameters) {
    Open();
    PtpCommandBlock cmd{};
    cmd.operationCode = 0x1001;
    ASSERT_EQ(PtpSendCmd(device_, &cmd), kOk);
    ASSERT_TRUE(s_.command.ReadPacket());
    s_.command.Write(Response(0x2001, 0, {10, 20, 30}));
    DWORD length = 0;
    ASSERT_EQ(PtpWaitAck(device_, &length), kOk);
    PtpResponseBlock rsp;
    std::memset(&rsp, 0xEE, sizeof rsp);
    ASSERT_EQ(PtpGetRsp(device_, &rsp), kOk);
    EXPECT_EQ(rsp.parameterCount, 3u);
    EXPECT_EQ(rsp.parameters[2], 30u);
    EXPECT_EQ(rsp.parameters[3], 0u);
    EXPECT_EQ(D().State(), CommandState::Idle);
}

TEST_F(ThreadSession, CallsOutOfTurnAreRefused) {
    Open();
    PtpResponseBlock rsp{};
    DWORD length = 0;
    std::uint8_t buffer[4];
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kWrongState);
    EXPECT_EQ(PtpWaitAck(device_, &length), kWrongState);
    length = 1;
    EXPECT_EQ(PtpWriteData(device_, buffer, &length), kInvalidArgument);  // no data-out phase
    EXPECT_EQ(PtpGetRsp(device_, nullptr), kInvalidArgument);
    EXPECT_EQ(PtpSendCmd(device_, nullptr), kInvalidArgument);

    PtpCommandBlock six{};
    six.parameterCount = 6;
    EXPECT_EQ(PtpSendCmd(device_, &six), kInvalidArgument);
    EXPECT_TRUE(s_.command.Quiet(50ms));  // nothing was sent

    SendCmd(0x1001);
    EXPECT_EQ(PtpSendCmd(device_, &six), kInvalidArgument);
    PtpCommandBlock again{};
    EXPECT_EQ(PtpSendCmd(device_, &again), kWrongState);
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kWrongState);
    EXPECT_EQ(D().State(), CommandState::AwaitingReply);
}

TEST_F(ThreadSession, DataOutGoesInPiecesOf4096) {
    Open();
    Bytes data(10000);
    std::iota(data.begin(), data.end(), 0);
    DWORD tid = 0;
    SendCmd(0x100C, 10000, &tid);
    const Bytes request = s_.command.ReadPacket().value();
    EXPECT_EQ(Get32(request, 8), 2u);  // data phase follows
    EXPECT_EQ(s_.command.ReadPacket().value(), StartData(tid, 10000));
    EXPECT_EQ(D().State(), CommandState::DataOutExpected);

    DWORD length = 10001;
    EXPECT_EQ(PtpWriteData(device_, data.data(), &length), kInvalidArgument);
    length = 10000;
    ASSERT_EQ(PtpWriteData(device_, data.data(), &length), kOk);
    EXPECT_EQ(length, 10000u);
    Bytes received;
    for (std::size_t piece : {4096u, 4096u, 1808u}) {
        const Bytes packet = s_.command.ReadPacket().value();
        EXPECT_EQ(Get32(packet, 0), 12 + piece);
        EXPECT_EQ(Get32(packet, 4), 10u);
        EXPECT_EQ(Get32(packet, 8), tid);
        received.insert(received.end(), packet.begin() + 12, packet.end());
    }
    EXPECT_EQ(received, data);
    EXPECT_EQ(D().State(), CommandState::AwaitingReply);
    s_.command.Write(Response(0x2001, tid));
    ASSERT_EQ(PtpWaitAck(device_, &length), kOk);
    PtpResponseBlock rsp{};
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kOk);
}

TEST_F(ThreadSession, DataOutOfUnknownLengthEndsWithAnEmptyPacket) {
    Open();
    DWORD tid = 0;
    SendCmd(0x100C, kPtpUnknownLength, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    EXPECT_EQ(s_.command.ReadPacket().value(), StartData(tid, kPtpUnknownLength));
    Bytes chunk(5000, 0x5A);
    DWORD length = 5000;
    ASSERT_EQ(PtpWriteData(device_, chunk.data(), &length), kOk);
    EXPECT_EQ(D().State(), CommandState::DataOutExpected);
    length = 0;
    ASSERT_EQ(PtpWriteData(device_, chunk.data(), &length), kOk);
    EXPECT_EQ(D().State(), CommandState::AwaitingReply);
    EXPECT_EQ(Get32(s_.command.ReadPacket().value(), 0), 12u + 4096);
    EXPECT_EQ(Get32(s_.command.ReadPacket().value(), 0), 12u + 904);
    EXPECT_EQ(s_.command.ReadPacket().value(), Data(tid, {}));
    length = 1;
    EXPECT_EQ(PtpWriteData(device_, chunk.data(), &length), kInvalidArgument);
}

TEST_F(ThreadSession, DataInWithAKnownTotal) {
    Open();
    DWORD tid = 0;
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    Bytes data(10000);
    std::iota(data.begin(), data.end(), 7);
    Bytes reply = StartData(tid, 10000);
    for (std::size_t at = 0; at < data.size(); at += 3000) {
        const Bytes piece(data.begin() + at, data.begin() + std::min(at + 3000, data.size()));
        const Bytes packet = Data(tid, piece);
        reply.insert(reply.end(), packet.begin(), packet.end());
    }
    const Bytes response = Response(0x2001, tid, {4});
    reply.insert(reply.end(), response.begin(), response.end());
    s_.command.Write(reply);

    DWORD total = 0;
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(total, 10000u);
    EXPECT_EQ(D().State(), CommandState::DataInAvailable);
    Bytes got(10001);
    DWORD length = 10001;
    EXPECT_EQ(PtpReadData(device_, got.data(), &length), kInvalidArgument);
    length = 0;
    EXPECT_EQ(PtpReadData(device_, got.data(), &length), kInvalidArgument);
    length = 100;
    ASSERT_EQ(PtpReadData(device_, got.data(), &length), kOk);
    EXPECT_EQ(length, 100u);
    length = 9900;
    ASSERT_EQ(PtpReadData(device_, got.data() + 100, &length), kOk);
    EXPECT_EQ(length, 9900u);
    got.resize(10000);
    EXPECT_EQ(got, data);
    EXPECT_EQ(D().State(), CommandState::ResponseReady);
    PtpResponseBlock rsp{};
    ASSERT_EQ(PtpGetRsp(device_, &rsp), kOk);
    EXPECT_EQ(rsp.parameterCount, 1u);
    EXPECT_EQ(rsp.parameters[0], 4u);
}

TEST_F(ThreadSession, DataInOfUnknownTotalEndsAtTheEmptyPacket) {
    Open();
    DWORD tid = 0;
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    Bytes reply = StartData(tid, kPtpUnknownLength);
    for (const Bytes& packet :
         {Data(tid, Bytes(700, 1)), Data(tid, Bytes(300, 2)), Data(tid, {}), Response(0x2001, tid)})
        reply.insert(reply.end(), packet.begin(), packet.end());
    s_.command.Write(reply);
    DWORD total = 0;
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(total, kPtpUnknownLength);
    Bytes buffer(65536);
    DWORD length = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(PtpReadData(device_, buffer.data(), &length), kOk);
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ(buffer[699], 1);
    EXPECT_EQ(buffer[700], 2);
    EXPECT_EQ(D().State(), CommandState::ResponseReady);
    PtpResponseBlock rsp{};
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kOk);

    // A phase of nothing goes straight to the response.
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    s_.command.Write(StartData(tid, 0));
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(D().State(), CommandState::ResponseReady);
    s_.command.Write(Response(0x2001, tid));
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kOk);
}

TEST_F(ThreadSession, MalformedRepliesCloseTheSession) {
    struct Case {
        const char* what;
        std::function<Bytes(DWORD tid)> reply;
        bool readData;  // the fault shows when reading data
    };
    const std::vector<Case> cases = {
        {"standard-form Start_Data",
         [](DWORD tid) {
             Bytes body;
             Put32(body, tid);
             Put32(body, 10);
             Put32(body, 0);
             return Packet(9, body);
         },
         false},
        {"response for another transaction", [](DWORD tid) { return Response(0x2001, tid + 1); }, false},
        {"response of a bad length",
         [](DWORD tid) {
             Bytes body{1, 0x20};
             Put32(body, tid);
             Put16(body, 0);
             return Packet(7, body);  // 16 bytes
         },
         false},
        {"End_Data", [](DWORD tid) { return U32Packet(12, tid); }, false},
        {"header shorter than itself", [](DWORD) { return Bytes{4, 0, 0, 0, 7, 0, 0, 0}; }, false},
        {"Data longer than announced",
         [](DWORD tid) {
             Bytes b = StartData(tid, 10);
             const Bytes d = Data(tid, Bytes(11, 0xCC));
             b.insert(b.end(), d.begin(), d.end());
             return b;
         },
         true},
        {"Data for another transaction",
         [](DWORD tid) {
             Bytes b = StartData(tid, 10);
             const Bytes d = Data(tid + 1, Bytes(10, 0xCC));
             b.insert(b.end(), d.begin(), d.end());
             return b;
         },
         true},
        {"End_Data in the phase",
         [](DWORD tid) {
             Bytes b = StartData(tid, 10);
             const Bytes d = U32Packet(12, tid);
             b.insert(b.end(), d.begin(), d.end());
             return b;
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open();
        DWORD tid = 0;
        SendCmd(0x1009, 0, &tid);
        ASSERT_TRUE(s_.command.ReadPacket());
        s_.command.Write(c.reply(tid));
        DWORD total = 0;
        if (c.readData) {
            ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
            Bytes buffer(10, 0);
            DWORD length = 10;
            EXPECT_EQ(PtpReadData(device_, buffer.data(), &length), kProtocolError);
            EXPECT_EQ(length, 0u);
            EXPECT_EQ(buffer, Bytes(10, 0));  // nothing copied
        } else {
            EXPECT_EQ(PtpWaitAck(device_, &total), kProtocolError);
        }
        EXPECT_EQ(D().State(), CommandState::Closed);
        PtpCommandBlock cmd{};
        EXPECT_EQ(PtpSendCmd(device_, &cmd), kConnectionClosed);
        device_->ops->Release(device_);
        device_ = nullptr;
    }
}

TEST_F(ThreadSession, AFailedSendIsReported) {
    Open();
    // The printer resets the command connection only; the event channel lives on.
    s_.command.Reset();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(D().State(), CommandState::Idle);
    PtpCommandBlock cmd{};
    EXPECT_EQ(PtpSendCmd(device_, &cmd), kConnectionClosed);
    EXPECT_EQ(D().State(), CommandState::Closed);
    EXPECT_EQ(PtpSendCmd(device_, &cmd), kConnectionClosed);
}

}  // namespace

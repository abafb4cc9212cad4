// Device sessions against a printer end the test drives packet by packet:
// the handshake, transactions, data phases, cancellation, events and the
// keep-alive probe.
#include "Device.h"
#include "TestPeer.h"
#include "Transport.h"

#include "Platform/Clock.h"
#include "Platform/Thread.h"
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
        EXPECT_EQ(+rsp.responseCode, code);
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

TEST_F(ThreadSession, OddHandshakeRepliesAreRefused) {
    struct Case {
        Bytes commandReply;
        Bytes eventReply;  // empty: the event connection is not expected
        HRESULT expected;
    };
    const std::vector<Case> cases = {
        {U32Packet(5, 9), {}, kBusy},                           // any other reason
        {Packet(5, Bytes(2)), {}, kProtocolError},              // Init_Fail too short
        {Packet(7, Bytes(6)), {}, kProtocolError},              // not a handshake packet
        {CommandAck(7), Packet(2, Bytes(30)), kProtocolError},  // a command ack on the event channel
        {CommandAck(7), Packet(5, Bytes(3)), kProtocolError},
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

TEST_F(ThreadSession, AnEventThreadThatCannotStartFailsTheOpen) {
    Platform::FailNextThreadCreations(1);
    Session printer;
    const HRESULT hr = OpenWith([&](Listener& l) {
        printer = AcceptSession(l);
        EXPECT_TRUE(printer.command.WaitClosed());
        EXPECT_TRUE(printer.event.WaitClosed());
    });
    EXPECT_EQ(hr, kOutOfMemory);
    EXPECT_EQ(device_, nullptr);
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

TEST_F(ThreadSession, AnEmptyDataInPhaseGoesStraightToTheResponse) {
    Open();
    DWORD tid = 0;
    DWORD total = 1;
    PtpResponseBlock rsp{};
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    s_.command.Write(StartData(tid, 0));
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(total, 0u);
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
        {"header shorter than itself", [](DWORD) { return Bytes{4, 0, 0, 0, 7, 0, 0, 0}; }, false},
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

// --- Cancellation -------------------------------------------------------------

Bytes CancelPacket(DWORD tid) {
    return U32Packet(11, tid);
}

TEST_F(ThreadSession, APendingCancelIsCarriedOutByTheWorkingCall) {
    Open();
    DWORD tid = 0;
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    auto wait = std::async(std::launch::async, [&] {
        DWORD total = 0;
        const HRESULT hr = PtpWaitAck(device_, &total);
        return std::make_pair(hr, total);
    });
    while (D().State() != CommandState::ReadingReply) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(PtpCancelTransaction(device_, kPtpCurrentTransaction), kOk);
    EXPECT_TRUE(s_.command.Quiet(30ms));  // the reader sends it when it is done
    s_.command.Write(StartData(tid, 100));
    EXPECT_EQ(s_.command.ReadPacket().value(), CancelPacket(tid));
    Bytes rest = Data(tid, Bytes(50, 1));
    const Bytes confirm = Response(0x201F, tid);
    rest.insert(rest.end(), confirm.begin(), confirm.end());
    s_.command.Write(rest);
    const auto [hr, total] = wait.get();
    EXPECT_EQ(hr, kOk);
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(D().State(), CommandState::Cancelled);
    Bytes buffer(10);
    DWORD length = 0;
    EXPECT_EQ(PtpWaitAck(device_, &length), kCancelled);
    PtpCommandBlock next{};
    ASSERT_EQ(PtpSendCmd(device_, &next), kOk);
    EXPECT_EQ(Get16(s_.command.ReadPacket().value(), 12), 0);
}

TEST_F(ThreadSession, TheCancelDrainSkipsOtherPacketsUntilConfirmed) {
    Open();
    DWORD tid = 0;
    SendCmd(0x1009, 0, &tid);
    ASSERT_TRUE(s_.command.ReadPacket());
    Bytes reply = StartData(tid, 10000);
    const Bytes first = Data(tid, Bytes(3000, 7));
    reply.insert(reply.end(), first.begin(), first.end());
    s_.command.Write(reply);
    DWORD total = 0;
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    Bytes buffer(1000);
    DWORD length = 1000;
    ASSERT_EQ(PtpReadData(device_, buffer.data(), &length), kOk);

    auto cancel = std::async(std::launch::async, [&] { return PtpCancelTransaction(device_, tid); });
    EXPECT_EQ(s_.command.ReadPacket().value(), CancelPacket(tid));
    // The 2000 unread bytes of the packet, more data, an ordinary answer and
    // a stray packet all go before the confirmation.
    Bytes more;
    for (const Bytes& p : {Data(tid, Bytes(500, 8)), Response(0x2001, tid), Packet(13), Response(0x201F, tid)})
        more.insert(more.end(), p.begin(), p.end());
    s_.command.Write(more);
    EXPECT_EQ(cancel.get(), kOk);
    EXPECT_EQ(D().State(), CommandState::Cancelled);
}

TEST_F(ThreadSession, ACancelWithoutConfirmationLosesTheSession) {
    for (const bool oversized : {false, true}) {
        SCOPED_TRACE(oversized ? "a response too long to be one" : "silence");
        auto clock = std::make_shared<Platform::ManualClock>(false);
        Platform::ScopedClock scoped(clock);
        Open();
        DWORD tid = 0;
        SendCmd(0x1009, 0, &tid);
        ASSERT_TRUE(s_.command.ReadPacket());
        s_.command.Write(StartData(tid, 10));
        DWORD total = 0;
        ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
        auto cancel =
            std::async(std::launch::async, [&] { return PtpCancelTransaction(device_, kPtpCurrentTransaction); });
        EXPECT_EQ(s_.command.ReadPacket().value(), CancelPacket(tid));
        if (oversized) {
            s_.command.Write(Packet(7, Bytes(30, 0x1F)));
        } else {
            std::this_thread::sleep_for(50ms);
            clock->Advance(Platform::Milliseconds(9999));
            EXPECT_EQ(cancel.wait_for(50ms), std::future_status::timeout);
            clock->Advance(Platform::Milliseconds(1));
        }
        EXPECT_EQ(cancel.get(), kOk);
        EXPECT_EQ(D().State(), CommandState::Closed);
        device_->ops->Release(device_);
        device_ = nullptr;
    }
}

// --- Events -------------------------------------------------------------------

TEST_F(ThreadSession, AFaultOnTheEventChannelEndsTheSession) {
    Open();
    EXPECT_EQ(PtpCancelGetEvt(device_), kOk);  // nobody waits: no effect
    EXPECT_EQ(D().EventWaitState(), EventWait::Ready);
    Bytes events = Event(0x4001, 0, {42});
    const Bytes stray = Packet(14);          // an unasked probe answer is harmless
    const Bytes bad = Packet(8, Bytes(22));  // an Event of 30 bytes
    events.insert(events.end(), stray.begin(), stray.end());
    events.insert(events.end(), bad.begin(), bad.end());
    s_.event.Write(events);
    EXPECT_TRUE(s_.event.WaitClosed());
    EXPECT_TRUE(s_.command.WaitClosed());

    PtpEventBlock event{};
    ASSERT_EQ(PtpGetEvt(device_, &event), kOk);  // what was queued still comes
    EXPECT_EQ(+event.parameters[0], 42u);
    EXPECT_EQ(PtpGetEvt(device_, &event), kConnectionClosed);
    EXPECT_EQ(PtpGetEvt(device_, &event), kConnectionClosed);
    EXPECT_EQ(D().State(), CommandState::Closed);
    PtpCommandBlock cmd{};
    EXPECT_EQ(PtpSendCmd(device_, &cmd), kConnectionClosed);
}

}  // namespace

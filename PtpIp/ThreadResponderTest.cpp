// The transport end to end against the PTP/IP responder on loopback: what
// crosses the wire, how refusals and faults surface, data phases both ways,
// cancellation, the event queue and the keep-alive probe.
#include "Device.h"
#include "Identity.h"
#include "Transport.h"

#include "PtpIpResponder.h"

#include "Platform/Clock.h"
#include "Platform/Machine.h"
#include "Platform/Registry.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using namespace Jorvale;
using namespace std::chrono_literals;
using PtpIpSim::Channel;
using PtpIpSim::OperationScript;
using PtpIpSim::Responder;
using Bytes = std::vector<std::uint8_t>;

constexpr WORD kOpGetThing = 0x9001;
constexpr WORD kOpGetObject = 0x1009;
constexpr WORD kOpSendObject = 0x100D;

Bytes Pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return b;
}

class ThreadResponder : public ::testing::Test {
protected:
    void SetUp() override {
        Timing timing;
        timing.step = Platform::Milliseconds(5);
        SetTiming(timing);
        Platform::GetMachine().Registry().SetString(HKEY_LOCAL_MACHINE, kParametersKey, u"DeviceName", u"Test Host");
        ASSERT_EQ(PtpiCreateTransport(&transport_), kOk);
    }
    void TearDown() override {
        CloseDevice();
        transport_->ops->Release(transport_);
        SetTiming({});
        EXPECT_EQ(Device::LiveCount(), 0u);
    }

    HRESULT Open() { return transport_->ops->OpenDevice(transport_, responder_.Url().c_str(), 0, &device_); }
    void CloseDevice() {
        if (device_) device_->ops->Release(device_);
        device_ = nullptr;
    }
    Device& D() { return *static_cast<Device*>(device_); }

    DWORD Send(WORD op, std::vector<DWORD> params = {}, DWORD dataOut = 0) {
        PtpCommandBlock cmd{};
        cmd.operationCode = op;
        cmd.dataOutLength = dataOut;
        cmd.parameterCount = static_cast<DWORD>(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) cmd.parameters[i] = params[i];
        EXPECT_EQ(PtpSendCmd(device_, &cmd), kOk);
        return cmd.transactionId;
    }
    PtpResponseBlock Finish() {
        PtpResponseBlock rsp{};
        EXPECT_EQ(PtpGetRsp(device_, &rsp), kOk);
        return rsp;
    }
    // A command without data phases, answered.
    PtpResponseBlock Transact(WORD op, std::vector<DWORD> params = {}) {
        Send(op, std::move(params));
        DWORD length = 1;
        EXPECT_EQ(PtpWaitAck(device_, &length), kOk);
        EXPECT_EQ(length, 0u);
        return Finish();
    }
    std::vector<PtpIpSim::Packet> Requests() {
        std::vector<PtpIpSim::Packet> out;
        for (auto& p : responder_.Packets(Channel::Command))
            if (p.type == PtpIpSim::PacketType::OperationRequest) out.push_back(p);
        return out;
    }

    Platform::ScopedFreshMachine machine_;
    Responder responder_;
    PtpiTransport* transport_ = nullptr;
    PtpiDevice* device_ = nullptr;
};

TEST_F(ThreadResponder, HandshakeIsByteExact) {
    auto settings = responder_.GetSettings();
    settings.connectionNumber = 0x0A0B0C0D;
    responder_.Configure(settings);
    ASSERT_EQ(Open(), kOk);
    const Initiator& me = static_cast<Transport*>(transport_)->Identity();
    Bytes expected = {8 + 16 + 2 * 10, 0, 0, 0, 1, 0, 0, 0};
    expected.insert(expected.end(), me.guid.begin(), me.guid.end());
    for (char c : std::string("Test Host")) expected.insert(expected.end(), {static_cast<std::uint8_t>(c), 0});
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(responder_.Received(Channel::Command), expected);
    EXPECT_EQ(responder_.Received(Channel::Event), (Bytes{12, 0, 0, 0, 3, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(responder_.InitiatorName(), u"Test Host");
    EXPECT_EQ(responder_.Sessions(), 1u);
    EXPECT_TRUE(responder_.Errors().empty());
}

TEST_F(ThreadResponder, RefusalsMapToResultsWithBothConnectionsClosed) {
    struct Case {
        const char* what;
        std::function<void(PtpIpSim::Settings&)> knob;
        HRESULT expected;
        bool eventChannel;
    };
    const std::vector<Case> cases = {
        {"initiator rejected", [](auto& s) { s.commandInitFail = 1; }, kInitiatorRejected, false},
        {"busy", [](auto& s) { s.commandInitFail = 2; }, kBusy, false},
        {"rejected on the event channel", [](auto& s) { s.eventInitFail = 1; }, kInitiatorRejected, true},
        {"busy on the event channel", [](auto& s) { s.eventInitFail = 2; }, kBusy, true},
        {"12-byte Init_Event_Ack", [](auto& s) { s.eventAckLength = 12; }, kProtocolError, true},
        {"29-byte Init_Command_Ack", [](auto& s) { s.commandAckLength = 29; }, kProtocolError, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PtpIpSim::Settings settings;
        c.knob(settings);
        responder_.Configure(settings);
        const std::size_t connections = responder_.Connections();
        EXPECT_EQ(Open(), c.expected);
        EXPECT_EQ(device_, nullptr);
        EXPECT_TRUE(responder_.WaitForPeerClose(Channel::Command));
        if (c.eventChannel) {
            EXPECT_TRUE(responder_.WaitForPeerClose(Channel::Event));
        }
        EXPECT_EQ(responder_.Connections(), connections + (c.eventChannel ? 2 : 1));
    }
    responder_.Configure({});
    EXPECT_EQ(Open(), kOk);
}

TEST_F(ThreadResponder, TransactionIdsRunWithTheSessionAndWrap) {
    ASSERT_EQ(Open(), kOk);
    Transact(0x1001);
    Transact(0x1002, {1});  // OpenSession
    Transact(kOpGetThing, {1, 2, 3, 4, 5});
    Transact(kOpGetThing);
    D().SetTransactionId(0xFFFFFFFD, true);
    Transact(kOpGetThing);
    Transact(kOpGetThing);
    Transact(0x1003);  // CloseSession
    Transact(kOpGetThing);
    std::vector<std::uint32_t> ids;
    for (auto& r : Requests()) ids.push_back(r.U32(14));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0, 0, 1, 2, 0xFFFFFFFE, 1, 2, 0}));
    EXPECT_EQ(Requests()[2].Length(), 18u + 20);
    EXPECT_EQ(Requests()[2].U32(34), 5u);
}

TEST_F(ThreadResponder, ResponseParametersAndCancelWhenIdle) {
    OperationScript script;
    script.responseParams = {7, 8, 9, 10, 11};
    responder_.Script(kOpGetThing, script);
    ASSERT_EQ(Open(), kOk);
    const PtpResponseBlock rsp = Transact(kOpGetThing);
    EXPECT_EQ(+rsp.parameterCount, 5u);
    EXPECT_EQ(+rsp.parameters[4], 11u);
    const auto before = responder_.Received(Channel::Command).size();
    EXPECT_EQ(PtpCancelTransaction(device_, kPtpCurrentTransaction), kOk);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(responder_.Received(Channel::Command).size(), before);
    EXPECT_EQ(D().State(), CommandState::Idle);
}

TEST_F(ThreadResponder, DataOutGoesInPiecesOf4096) {
    ASSERT_EQ(Open(), kOk);
    const Bytes data = Pattern(10000);
    const DWORD tid = Send(kOpSendObject, {}, 10000);
    DWORD length = 10000;
    ASSERT_EQ(PtpWriteData(device_, data.data(), &length), kOk);
    EXPECT_EQ(length, 10000u);
    DWORD ack = 1;
    ASSERT_EQ(PtpWaitAck(device_, &ack), kOk);
    EXPECT_EQ(+Finish().responseCode, 0x2001);

    std::vector<std::uint32_t> pieces;
    Bytes received;
    for (auto& p : responder_.Packets(Channel::Command)) {
        if (p.type == PtpIpSim::PacketType::StartData) {
            EXPECT_EQ(p.Length(), 16u);
            EXPECT_EQ(p.U32(12), 10000u);
        }
        if (p.type != PtpIpSim::PacketType::Data) continue;
        EXPECT_EQ(p.U32(8), tid);
        pieces.push_back(p.Length() - 12);
        const Bytes payload = p.Payload();
        received.insert(received.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(pieces, (std::vector<std::uint32_t>{4096, 4096, 1808}));
    EXPECT_EQ(received, data);
    EXPECT_EQ(Requests().back().U32(8), 2u);
    EXPECT_TRUE(responder_.Errors().empty());
}

TEST_F(ThreadResponder, DataInWithKnownAndUnknownTotals) {
    const Bytes data = Pattern(100000);
    responder_.ScriptOnce(kOpGetObject, OperationScript::WithData(data, 3000));
    auto unknown = OperationScript::WithData(data, 7000);
    unknown.unknownTotal = true;
    responder_.ScriptOnce(kOpGetObject, unknown);
    ASSERT_EQ(Open(), kOk);

    Send(kOpGetObject);
    DWORD total = 0;
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(total, 100000u);
    Bytes got(100000);
    DWORD length = 4321;
    ASSERT_EQ(PtpReadData(device_, got.data(), &length), kOk);
    length = 100000 - 4321;
    ASSERT_EQ(PtpReadData(device_, got.data() + 4321, &length), kOk);
    EXPECT_EQ(got, data);
    EXPECT_EQ(+Finish().responseCode, 0x2001);

    Send(kOpGetObject);
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    EXPECT_EQ(total, kPtpUnknownLength);
    Bytes all;
    for (;;) {
        Bytes buffer(32768);
        length = static_cast<DWORD>(buffer.size());
        ASSERT_EQ(PtpReadData(device_, buffer.data(), &length), kOk);
        all.insert(all.end(), buffer.begin(), buffer.begin() + length);
        if (D().State() == CommandState::ResponseReady) break;
    }
    EXPECT_EQ(all, data);
    EXPECT_EQ(+Finish().responseCode, 0x2001);
    EXPECT_TRUE(responder_.Errors().empty());
}

TEST_F(ThreadResponder, FaultyRepliesAreProtocolErrors) {
    struct Case {
        const char* what;
        std::function<void(OperationScript&)> knob;
        bool failsInData;
        bool failsInResponse;
    };
    const std::vector<Case> cases = {
        {"standard-form Start_Data", [](auto& s) { s.standardStartData = true; }, false, false},
        {"wrong transaction id", [](auto& s) { s.wrongTransactionId = true; }, false, false},
        {"Data longer than announced", [](auto& s) { s.announcedTotal = 100; }, true, false},
        {"End_Data after the data", [](auto& s) { s.endData = true; }, false, true},
        {"response of a bad length", [](auto& s) { s.responseLength = 16; }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto script = OperationScript::WithData(Pattern(1000), 1000);
        c.knob(script);
        responder_.ScriptOnce(kOpGetObject, script);
        ASSERT_EQ(Open(), kOk);
        Send(kOpGetObject);
        DWORD total = 0;
        HRESULT hr = PtpWaitAck(device_, &total);
        if (hr == kOk) {
            Bytes buffer(total, 0);
            DWORD length = total;
            hr = PtpReadData(device_, buffer.data(), &length);
            EXPECT_EQ(hr == kProtocolError, c.failsInData);
            if (c.failsInData) {
                EXPECT_EQ(buffer, Bytes(total, 0));  // nothing copied
            }
            if (hr == kOk) {
                PtpResponseBlock rsp{};
                hr = PtpGetRsp(device_, &rsp);
                EXPECT_TRUE(c.failsInResponse);
            }
        }
        EXPECT_EQ(hr, kProtocolError);
        EXPECT_EQ(D().State(), CommandState::Closed);
        PtpCommandBlock next{};
        EXPECT_EQ(PtpSendCmd(device_, &next), kConnectionClosed);
        CloseDevice();
    }
}

TEST_F(ThreadResponder, CancelDuringDataInThenTheNextCommandSucceeds) {
    auto script = OperationScript::WithData(Pattern(100000), 8192);
    script.stallAfter = 40000;
    script.dataAfterCancel = Pattern(5000);
    responder_.ScriptOnce(kOpGetObject, script);
    ASSERT_EQ(Open(), kOk);
    Transact(0x1002, {1});
    const DWORD tid = Send(kOpGetObject);
    DWORD total = 0;
    ASSERT_EQ(PtpWaitAck(device_, &total), kOk);
    Bytes buffer(10000);
    DWORD length = 10000;
    ASSERT_EQ(PtpReadData(device_, buffer.data(), &length), kOk);  // ends inside the second packet
    EXPECT_EQ(PtpCancelTransaction(device_, kPtpCurrentTransaction), kOk);
    EXPECT_EQ(D().State(), CommandState::Cancelled);
    DWORD ack = 0;
    EXPECT_EQ(PtpWaitAck(device_, &ack), kCancelled);
    PtpResponseBlock rsp{};
    EXPECT_EQ(PtpGetRsp(device_, &rsp), kCancelled);

    const PtpResponseBlock next = Transact(kOpGetThing);
    EXPECT_EQ(+next.responseCode, 0x2001);
    EXPECT_EQ(+next.transactionId, tid + 1);
    bool cancelSent = false;
    for (auto& p : responder_.Packets(Channel::Command))
        if (p.type == PtpIpSim::PacketType::Cancel) cancelSent = p.Length() == 12 && p.U32(8) == tid;
    EXPECT_TRUE(cancelSent);
    EXPECT_TRUE(responder_.Errors().empty());
}

TEST_F(ThreadResponder, EventsBeyond256AreDropped) {
    ASSERT_EQ(Open(), kOk);
    ASSERT_EQ(responder_.FloodEvents(257, 0x4001), 257u);
    for (int i = 0; i < 400 && D().QueuedEvents() < 256; ++i) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(200ms);  // the 257th is read and dropped meanwhile
    ASSERT_EQ(D().QueuedEvents(), 256u);
    for (DWORD i = 0; i < 256; ++i) {
        PtpEventBlock event{};
        ASSERT_EQ(PtpGetEvt(device_, &event), kOk);
        EXPECT_EQ(+event.eventCode, 0x4001);
        ASSERT_EQ(+event.parameterCount, 1u);
        ASSERT_EQ(+event.parameters[0], i);
    }
    // Nothing more: the wait ends only by being cancelled.
    auto waiter = std::async(std::launch::async, [&] {
        PtpEventBlock event{};
        return PtpGetEvt(device_, &event);
    });
    while (D().EventWaitState() != EventWait::Waiting) std::this_thread::sleep_for(1ms);
    PtpEventBlock other{};
    EXPECT_EQ(PtpGetEvt(device_, &other), kWrongState);
    EXPECT_EQ(PtpCancelGetEvt(device_), kOk);
    EXPECT_EQ(waiter.get(), kCancelled);
    EXPECT_EQ(D().EventWaitState(), EventWait::Ready);

    // Then events flow again, with their parameters.
    ASSERT_TRUE(responder_.SendEvent(0x4006, 3, {1, 2, 3}));
    PtpEventBlock event{};
    ASSERT_EQ(PtpGetEvt(device_, &event), kOk);
    EXPECT_EQ(+event.transactionId, 3u);
    EXPECT_EQ(+event.parameterCount, 3u);
    EXPECT_EQ(+event.parameters[2], 3u);
}

class ThreadResponderProbe : public ThreadResponder {
protected:
    void SetUp() override {
        Platform::SetClock(clock_);
        ThreadResponder::SetUp();
        OperationScript held;
        held.hold = true;
        responder_.Script(kOpGetThing, held);
    }
    void TearDown() override {
        responder_.Release();
        ThreadResponder::TearDown();
        Platform::SetClock(nullptr);
    }
    std::size_t Probes() {
        std::size_t n = 0;
        for (auto& p : responder_.Packets(Channel::Event)) n += p.type == PtpIpSim::PacketType::ProbeRequest;
        return n;
    }
    // Moves the clock in steps the event thread can follow.
    void Advance(Platform::Milliseconds total) {
        for (auto done = Platform::Milliseconds(0); done < total; done += Platform::Milliseconds(500)) {
            clock_->Advance(Platform::Milliseconds(500));
            std::this_thread::sleep_for(15ms);
        }
    }
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>(false);
};

TEST_F(ThreadResponderProbe, ASilentProbeEndsABlockedWait) {
    auto settings = responder_.GetSettings();
    settings.silentProbes = true;
    responder_.Configure(settings);
    ASSERT_EQ(Open(), kOk);
    Send(kOpGetThing);
    auto wait = std::async(std::launch::async, [&] {
        DWORD length = 0;
        return PtpWaitAck(device_, &length);
    });
    Advance(Platform::Milliseconds(4500));
    EXPECT_EQ(Probes(), 0u);
    Advance(Platform::Milliseconds(1000));
    ASSERT_TRUE(responder_.WaitForPackets(Channel::Event, 2));  // Init_Event_Request, Probe_Request
    EXPECT_EQ(Probes(), 1u);
    Advance(Platform::Milliseconds(8500));
    EXPECT_EQ(wait.wait_for(0ms), std::future_status::timeout);
    Advance(Platform::Milliseconds(2000));
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(wait.get(), kConnectionClosed);
    EXPECT_EQ(D().State(), CommandState::Closed);
    PtpEventBlock event{};
    EXPECT_EQ(PtpGetEvt(device_, &event), kConnectionClosed);
    EXPECT_TRUE(responder_.WaitForPeerClose(Channel::Event));
}

TEST_F(ThreadResponderProbe, AnsweredProbesKeepASlowCommandAlive) {
    ASSERT_EQ(Open(), kOk);
    Send(kOpGetThing);
    auto wait = std::async(std::launch::async, [&] {
        DWORD length = 0;
        return PtpWaitAck(device_, &length);
    });
    Advance(Platform::Milliseconds(30000));
    EXPECT_GE(Probes(), 3u);
    EXPECT_EQ(wait.wait_for(0ms), std::future_status::timeout);
    responder_.Release();
    EXPECT_EQ(wait.get(), kOk);
    EXPECT_EQ(+Finish().responseCode, 0x2001);
    // No command outstanding: no more probes.
    const std::size_t probes = Probes();
    Advance(Platform::Milliseconds(20000));
    EXPECT_EQ(Probes(), probes);
}

TEST_F(ThreadResponder, AnAbruptCloseFailsTheBlockedCall) {
    OperationScript held;
    held.hold = true;
    responder_.Script(kOpGetThing, held);
    ASSERT_EQ(Open(), kOk);
    Send(kOpGetThing);
    auto wait = std::async(std::launch::async, [&] {
        DWORD length = 0;
        return PtpWaitAck(device_, &length);
    });
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(responder_.Disconnect(PtpIpSim::Close::Reset));
    EXPECT_EQ(wait.get(), kConnectionClosed);
    EXPECT_EQ(D().State(), CommandState::Closed);
    PtpCommandBlock next{};
    EXPECT_EQ(PtpSendCmd(device_, &next), kConnectionClosed);
}

}  // namespace

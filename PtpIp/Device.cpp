#include "Device.h"

#include <sys/uio.h>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace Jorvale {
namespace {

using Platform::Milliseconds;

std::mutex g_timingMutex;
Timing g_timing;
std::atomic<std::size_t> g_liveDevices{0};

constexpr unsigned Bit(CommandState state) {
    return 1u << static_cast<int>(state);
}
constexpr unsigned kRestingStates = Bit(CommandState::Idle) | Bit(CommandState::DataOutExpected) |
                                    Bit(CommandState::AwaitingReply) | Bit(CommandState::DataInAvailable) |
                                    Bit(CommandState::ResponseReady) | Bit(CommandState::Cancelled);
// Data-out pieces gathered into one send; the pieces stay 4096-byte Data packets.
constexpr std::size_t kPiecesPerSend = 64;

}  // namespace

void SetTiming(const Timing& timing) {
    std::lock_guard lock(g_timingMutex);
    g_timing = timing;
}

Timing GetTiming() {
    std::lock_guard lock(g_timingMutex);
    return g_timing;
}

std::size_t Device::LiveCount() {
    return g_liveDevices;
}

Device::Device(std::shared_ptr<std::recursive_mutex> lock, const Timing& timing)
    : lock_(std::move(lock)), timing_(timing) {
    ops = &kDeviceOps;
    ++g_liveDevices;
}

Device::~Device() {
    --g_liveDevices;
}

// --- Opening and closing ----------------------------------------------------

HRESULT Device::Open(const DeviceAddress& address, const Initiator& initiator,
                     std::shared_ptr<std::recursive_mutex> lock, Device** device) {
    *device = nullptr;
    auto* d = new (std::nothrow) Device(std::move(lock), GetTiming());
    if (!d) return kOutOfMemory;
    HRESULT hr = d->Handshake(address, initiator);
    if (hr == kOk) {
        {
            std::lock_guard guard(*d->lock_);
            d->state_ = CommandState::Idle;
            d->eventWait_ = EventWait::Ready;
        }
        d->run_ = true;
        d->eventThread_ = CreateThread(nullptr, 0, &Device::EventThreadStart, d, 0, nullptr);
        if (!d->eventThread_) hr = kOutOfMemory;
    }
    if (hr != kOk) {
        d->command_.Close();
        d->event_.Close();
        delete d;
        return hr;
    }
    *device = d;
    return kOk;
}

HRESULT Device::ReadHandshakePacket(Socket& socket, std::vector<std::uint8_t>& packet) {
    packet.assign(Wire::kHeaderSize, 0);
    if (socket.RecvAll(packet.data(), Wire::kHeaderSize, timing_.ioTimeout, timing_.step) != IoStatus::Ok)
        return kConnectionClosed;
    const Wire::Header header = Wire::DecodeHeader(std::span(packet).first<Wire::kHeaderSize>());
    try {
        Wire::CheckHandshakeLength(header);
    } catch (const Wire::ProtocolError&) {
        return kProtocolError;
    }
    packet.resize(header.length);
    if (socket.RecvAll(packet.data() + Wire::kHeaderSize, header.length - Wire::kHeaderSize, timing_.ioTimeout,
                       timing_.step) != IoStatus::Ok)
        return kConnectionClosed;
    return kOk;
}

namespace {

HRESULT OutcomeResult(Wire::HandshakeOutcome outcome) {
    switch (outcome) {
        case Wire::HandshakeOutcome::Accepted:
            return kOk;
        case Wire::HandshakeOutcome::Rejected:
            return kInitiatorRejected;
        case Wire::HandshakeOutcome::Busy:
            break;
    }
    return kBusy;
}

}  // namespace

HRESULT Device::Handshake(const DeviceAddress& address, const Initiator& initiator) {
    command_ = Socket::Connect(address, timing_.ioTimeout, timing_.step);
    if (!command_.Valid()) return kFail;
    const auto request = Wire::EncodeInitCommandRequest(initiator.guid, initiator.name);
    if (command_.SendAll(request.data(), request.size(), timing_.ioTimeout, timing_.step) != IoStatus::Ok)
        return kConnectionClosed;
    std::vector<std::uint8_t> packet;
    if (const HRESULT hr = ReadHandshakePacket(command_, packet); hr != kOk) return hr;
    std::uint32_t connection = 0;
    try {
        const Wire::CommandReply reply = Wire::DecodeCommandReply(packet);
        if (reply.outcome != Wire::HandshakeOutcome::Accepted) return OutcomeResult(reply.outcome);
        connection = reply.connectionNumber;
    } catch (const Wire::ProtocolError&) {
        return kProtocolError;
    }

    event_ = Socket::Connect(address, timing_.ioTimeout, timing_.step);
    if (!event_.Valid()) return kFail;
    const auto eventRequest = Wire::EncodeInitEventRequest(connection);
    if (event_.SendAll(eventRequest.data(), eventRequest.size(), timing_.ioTimeout, timing_.step) != IoStatus::Ok)
        return kConnectionClosed;
    if (const HRESULT hr = ReadHandshakePacket(event_, packet); hr != kOk) return hr;
    try {
        return OutcomeResult(Wire::DecodeEventReply(packet));
    } catch (const Wire::ProtocolError&) {
        return kProtocolError;
    }
}

ULONG Device::AddRef() {
    return ++references_;
}

ULONG Device::Release() {
    const ULONG left = --references_;
    if (left != 0) return left;
    {
        std::lock_guard guard(*lock_);
        eventWait_ = EventWait::Closed;
        run_ = false;
    }
    command_.Shutdown();
    event_.Shutdown();
    if (eventThread_) {
        WaitForSingleObject(eventThread_, INFINITE);
        CloseHandle(eventThread_);
    }
    command_.Close();
    event_.Close();
    {
        std::lock_guard guard(*lock_);
        events_.clear();
        state_ = CommandState::Closed;
        eventWait_ = EventWait::Closed;
    }
    delete this;
    return 0;
}

// --- The command state machine ---------------------------------------------

HRESULT Device::StateError(CommandState state) const {
    if (state == CommandState::Closed) return kConnectionClosed;
    if (state == CommandState::Cancelled) return kCancelled;
    return kWrongState;
}

HRESULT Device::Begin(unsigned allowed, CommandState working) {
    std::lock_guard guard(*lock_);
    if ((allowed & Bit(state_)) == 0) return StateError(state_);
    state_ = working;
    return kOk;
}

CommandState Device::Finish(CommandState result) {
    DWORD id = 0;
    {
        std::lock_guard guard(*lock_);
        if (connectionLost_) result = CommandState::Closed;
        if (!cancelPending_) {
            state_ = result;
            return result;
        }
        id = cancelId_;
        state_ = CommandState::Cancelling;
    }
    CommandState yielded = CancelExchange(result, id);
    std::lock_guard guard(*lock_);
    cancelPending_ = false;
    if (connectionLost_) yielded = CommandState::Closed;
    state_ = yielded;
    return yielded;
}

CommandState Device::CancelExchange(CommandState about, DWORD transactionId) {
    DWORD current = 0;
    DWORD unreadInPacket = 0;
    {
        std::lock_guard guard(*lock_);
        current = transactionId_;
        unreadInPacket = packetRemaining_;
    }
    const bool isCurrent = transactionId == current;
    if (isCurrent &&
        (about == CommandState::Closed || about == CommandState::Idle || about == CommandState::ResponseReady))
        return about;  // already ended or failed
    const auto cancel = Wire::EncodeCancel(transactionId);
    if (command_.SendAll(cancel.data(), cancel.size(), timing_.ioTimeout, timing_.step) != IoStatus::Ok)
        return CommandState::Closed;
    if (!isCurrent) return about;

    // Drain what the printer still sends until it confirms the cancel.
    if (command_.Discard(unreadInPacket, timing_.ioTimeout, timing_.step) != IoStatus::Ok) return CommandState::Closed;
    {
        std::lock_guard guard(*lock_);
        packetRemaining_ = 0;
    }
    for (;;) {
        std::uint8_t headerBytes[Wire::kHeaderSize];
        if (command_.RecvAll(headerBytes, sizeof headerBytes, timing_.ioTimeout, timing_.step) != IoStatus::Ok)
            return CommandState::Closed;
        const Wire::Header header = Wire::DecodeHeader(headerBytes);
        if (header.length < Wire::kHeaderSize) return CommandState::Closed;
        const std::uint32_t body = header.length - static_cast<std::uint32_t>(Wire::kHeaderSize);
        if (header.type == Wire::kOperationResponse) {
            if (header.length > Wire::kMaxResponseSize) return CommandState::Closed;
            std::uint8_t payload[Wire::kMaxResponseSize - Wire::kHeaderSize];
            if (command_.RecvAll(payload, body, timing_.ioTimeout, timing_.step) != IoStatus::Ok)
                return CommandState::Closed;
            if (body >= 2 && Wire::Get16(payload) == kTransactionCancelled) {
                std::lock_guard guard(*lock_);
                dataRemaining_ = 0;
                responseRead_ = false;
                return CommandState::Cancelled;
            }
            continue;  // some other answer: skipped
        }
        if (command_.Discard(body, timing_.ioTimeout, timing_.step) != IoStatus::Ok) return CommandState::Closed;
    }
}

HRESULT Device::SendCmd(PtpCommandBlock* command) {
    if (!command || command->parameterCount > Wire::kMaxOperationParameters) return kInvalidArgument;
    commandOutstanding_ = false;
    const WORD operation = command->operationCode;
    const DWORD dataOut = command->dataOutLength;
    DWORD id = 0;
    {
        std::lock_guard guard(*lock_);
        if (state_ != CommandState::Idle && state_ != CommandState::Cancelled) {
            return state_ == CommandState::Closed ? kConnectionClosed : kWrongState;
        }
        state_ = CommandState::Sending;
        if (sessionOpen_) id = transactionId_ >= 0xFFFFFFFEu ? 1 : transactionId_ + 1;
        transactionId_ = id;
        operation_ = operation;
        hasDataOut_ = dataOut != 0;
        dataRemaining_ = dataOut;
        packetRemaining_ = 0;
        responseRead_ = false;
    }
    command->transactionId = id;
    std::uint32_t parameters[Wire::kMaxOperationParameters];
    for (DWORD i = 0; i < command->parameterCount; ++i) parameters[i] = command->parameters[i];
    const auto request =
        Wire::EncodeOperationRequest(operation, id, std::span(parameters, command->parameterCount), dataOut);
    const IoStatus sent = command_.SendAll(request.bytes.data(), request.size);
    commandTick_ = GetTickCount();
    commandOutstanding_ = true;
    CommandState next = CommandState::Closed;
    if (sent == IoStatus::Ok) next = dataOut != 0 ? CommandState::DataOutExpected : CommandState::AwaitingReply;
    return Finish(next) == CommandState::Closed ? kConnectionClosed : kOk;
}

HRESULT Device::WriteData(const void* data, DWORD* length) {
    if (!data || !length) return kInvalidArgument;
    const DWORD total = *length;
    {
        std::lock_guard guard(*lock_);
        if (total > dataRemaining_) return kInvalidArgument;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    DWORD sent = 0;
    HRESULT hr = kOk;
    std::vector<std::array<std::uint8_t, Wire::kDataHeaderSize>> headers(kPiecesPerSend);
    std::vector<iovec> buffers(2 * kPiecesPerSend);
    std::vector<DWORD> pieces(kPiecesPerSend);
    do {
        hr = Begin(Bit(CommandState::DataOutExpected), CommandState::WritingData);
        if (hr != kOk) break;
        DWORD id = 0;
        DWORD remaining = 0;
        {
            std::lock_guard guard(*lock_);
            id = transactionId_;
            remaining = dataRemaining_;
        }
        std::size_t count = 0;
        DWORD offset = sent;
        do {
            const DWORD piece = std::min<DWORD>(total - offset, Wire::kMaxDataOutPiece);
            headers[count] = Wire::EncodeDataHeader(id, piece);
            buffers[2 * count] = {headers[count].data(), headers[count].size()};
            buffers[2 * count + 1] = {const_cast<std::uint8_t*>(bytes + offset), piece};
            pieces[count++] = piece;
            offset += piece;
        } while (offset < total && count < kPiecesPerSend);

        std::size_t wireBytes = 0;
        const IoStatus status = command_.SendVector(buffers.data(), 2 * count, wireBytes);
        for (std::size_t i = 0; i < count && wireBytes >= Wire::kDataHeaderSize + pieces[i]; ++i) {
            wireBytes -= Wire::kDataHeaderSize + pieces[i];
            sent += pieces[i];
            if (pieces[i] == 0) {
                remaining = 0;
            } else if (remaining != kPtpUnknownLength) {
                remaining -= pieces[i];
            }
        }
        {
            std::lock_guard guard(*lock_);
            dataRemaining_ = remaining;
        }
        CommandState next = CommandState::Closed;
        if (status == IoStatus::Ok) next = remaining != 0 ? CommandState::DataOutExpected : CommandState::AwaitingReply;
        Finish(next);
        if (status != IoStatus::Ok) {
            hr = kConnectionClosed;
            break;
        }
    } while (sent < total);
    *length = sent;
    return hr;
}

HRESULT Device::WaitAck(DWORD* dataLength) {
    if (!dataLength) return kInvalidArgument;
    *dataLength = 0;
    if (const HRESULT hr = Begin(Bit(CommandState::AwaitingReply), CommandState::ReadingReply); hr != kOk) return hr;
    DWORD id = 0;
    bool dataOut = false;
    {
        std::lock_guard guard(*lock_);
        id = transactionId_;
        dataOut = hasDataOut_;
    }
    std::uint8_t headerBytes[Wire::kHeaderSize];
    if (command_.RecvAll(headerBytes, sizeof headerBytes) != IoStatus::Ok) {
        Finish(CommandState::Closed);
        return kConnectionClosed;
    }
    const Wire::Header header = Wire::DecodeHeader(headerBytes);
    try {
        if (header.type == Wire::kOperationResponse && Wire::IsResponseLength(header.length)) {
            std::uint8_t payload[Wire::kMaxResponseSize - Wire::kHeaderSize];
            const std::size_t body = header.length - Wire::kHeaderSize;
            if (command_.RecvAll(payload, body) != IoStatus::Ok) {
                Finish(CommandState::Closed);
                return kConnectionClosed;
            }
            const Wire::Response response = Wire::DecodeResponse(header.length, std::span(payload, body));
            if (response.transactionId != id) throw Wire::ProtocolError("response for another transaction");
            {
                std::lock_guard guard(*lock_);
                response_ = response;
                responseRead_ = true;
                dataRemaining_ = 0;
            }
            Finish(CommandState::ResponseReady);
            return kOk;
        }
        if (header.type == Wire::kStartData && header.length == Wire::kStartDataSize && !dataOut) {
            std::uint8_t payload[8];
            if (command_.RecvAll(payload, sizeof payload) != IoStatus::Ok) {
                Finish(CommandState::Closed);
                return kConnectionClosed;
            }
            const Wire::StartData start = Wire::DecodeStartData(payload);
            if (start.transactionId != id) throw Wire::ProtocolError("Start_Data for another transaction");
            {
                std::lock_guard guard(*lock_);
                dataRemaining_ = start.total;
                packetRemaining_ = 0;
            }
            *dataLength = start.total;
            Finish(start.total != 0 ? CommandState::DataInAvailable : CommandState::ResponseReady);
            return kOk;
        }
        throw Wire::ProtocolError("unexpected first reply");
    } catch (const Wire::ProtocolError&) {
        Finish(CommandState::Closed);
        return kProtocolError;
    }
}

HRESULT Device::ReadData(void* buffer, DWORD* length) {
    if (!buffer || !length || *length == 0) return kInvalidArgument;
    const DWORD requested = *length;
    {
        std::lock_guard guard(*lock_);
        if (requested > dataRemaining_) return kInvalidArgument;
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    DWORD got = 0;
    HRESULT hr = kOk;
    while (got < requested) {
        hr = Begin(Bit(CommandState::DataInAvailable), CommandState::ReadingData);
        if (hr != kOk) break;
        DWORD id = 0;
        DWORD remaining = 0;
        DWORD inPacket = 0;
        {
            std::lock_guard guard(*lock_);
            id = transactionId_;
            remaining = dataRemaining_;
            inPacket = packetRemaining_;
        }
        if (inPacket == 0) {
            std::uint8_t headerBytes[Wire::kDataHeaderSize];
            if (command_.RecvAll(headerBytes, sizeof headerBytes) != IoStatus::Ok) {
                Finish(CommandState::Closed);
                hr = kConnectionClosed;
                break;
            }
            try {
                inPacket = Wire::DecodeDataHeader(headerBytes, id, remaining);
            } catch (const Wire::ProtocolError&) {
                Finish(CommandState::Closed);
                hr = kProtocolError;
                break;
            }
            if (inPacket == 0) {  // the end of the phase
                {
                    std::lock_guard guard(*lock_);
                    dataRemaining_ = 0;
                }
                Finish(CommandState::ResponseReady);
                break;
            }
        }
        const DWORD piece = std::min(requested - got, inPacket);
        if (command_.RecvAll(out + got, piece) != IoStatus::Ok) {
            Finish(CommandState::Closed);
            hr = kConnectionClosed;
            break;
        }
        got += piece;
        inPacket -= piece;
        if (remaining != kPtpUnknownLength) remaining -= piece;
        {
            std::lock_guard guard(*lock_);
            packetRemaining_ = inPacket;
            dataRemaining_ = remaining;
        }
        Finish(remaining != 0 ? CommandState::DataInAvailable : CommandState::ResponseReady);
    }
    *length = got;
    return hr;
}

HRESULT Device::GetRsp(PtpResponseBlock* response) {
    if (!response) return kInvalidArgument;
    std::memset(response, 0, sizeof *response);
    if (const HRESULT hr = Begin(Bit(CommandState::ResponseReady), CommandState::ReadingResponse); hr != kOk) return hr;
    DWORD id = 0;
    WORD operation = 0;
    bool haveResponse = false;
    Wire::Response r;
    {
        std::lock_guard guard(*lock_);
        id = transactionId_;
        operation = operation_;
        haveResponse = responseRead_;
        r = response_;
    }
    try {
        if (!haveResponse) {
            std::uint8_t headerBytes[Wire::kHeaderSize];
            if (command_.RecvAll(headerBytes, sizeof headerBytes) != IoStatus::Ok) {
                Finish(CommandState::Closed);
                return kConnectionClosed;
            }
            const Wire::Header header = Wire::DecodeHeader(headerBytes);
            if (header.type != Wire::kOperationResponse || !Wire::IsResponseLength(header.length))
                throw Wire::ProtocolError("expected Operation_Response");
            std::uint8_t payload[Wire::kMaxResponseSize - Wire::kHeaderSize];
            const std::size_t body = header.length - Wire::kHeaderSize;
            if (command_.RecvAll(payload, body) != IoStatus::Ok) {
                Finish(CommandState::Closed);
                return kConnectionClosed;
            }
            r = Wire::DecodeResponse(header.length, std::span(payload, body));
        }
        if (r.transactionId != id) throw Wire::ProtocolError("response for another transaction");
    } catch (const Wire::ProtocolError&) {
        Finish(CommandState::Closed);
        return kProtocolError;
    }
    response->responseCode = r.code;
    response->transactionId = r.transactionId;
    response->parameterCount = r.parameterCount;
    for (std::uint32_t i = 0; i < r.parameterCount; ++i) response->parameters[i] = r.parameters[i];
    {
        std::lock_guard guard(*lock_);
        responseRead_ = false;
        if (r.code == kResponseOk && operation == kOpenSession) sessionOpen_ = true;
        if (r.code == kResponseOk && operation == kCloseSession) sessionOpen_ = false;
    }
    commandOutstanding_ = false;
    Finish(CommandState::Idle);
    return kOk;
}

HRESULT Device::CancelTransaction(DWORD transactionId) {
    bool now = false;
    CommandState about = CommandState::Closed;
    DWORD id = transactionId;
    {
        std::lock_guard guard(*lock_);
        if (transactionId == kPtpCurrentTransaction &&
            (state_ == CommandState::Idle || state_ == CommandState::Cancelled))
            return kOk;  // nothing to cancel
        if (transactionId == kPtpCurrentTransaction) id = transactionId_;
        cancelPending_ = true;
        cancelId_ = id;
        constexpr unsigned kNoCallWorking = Bit(CommandState::DataOutExpected) | Bit(CommandState::AwaitingReply) |
                                            Bit(CommandState::DataInAvailable) | Bit(CommandState::ResponseReady);
        if (id == transactionId_ && (kNoCallWorking & Bit(state_)) != 0) {
            about = state_;
            state_ = CommandState::Cancelling;
            now = true;
        }
    }
    if (now) {
        CommandState yielded = CancelExchange(about, id);
        std::lock_guard guard(*lock_);
        cancelPending_ = false;
        if (connectionLost_) yielded = CommandState::Closed;
        state_ = yielded;
    }
    commandOutstanding_ = false;
    return kOk;
}

// --- Events -----------------------------------------------------------------

void Device::ReleaseSemaphore() {
    {
        std::lock_guard guard(semaphoreMutex_);
        ++semaphoreCount_;
    }
    semaphoreSignal_.notify_all();
}

bool Device::AcquireSemaphore(Milliseconds wait) {
    std::unique_lock guard(semaphoreMutex_);
    auto& clock = Platform::GetClock();
    const bool signalled = clock.WaitUntil(guard, semaphoreSignal_, clock.Now() + wait,
                                           [this] { return semaphoreCount_ > 0 || semaphorePoked_; });
    semaphorePoked_ = false;
    if (!signalled || semaphoreCount_ == 0) return false;
    --semaphoreCount_;
    return true;
}

void Device::PokeSemaphore() {
    {
        std::lock_guard guard(semaphoreMutex_);
        semaphorePoked_ = true;
    }
    semaphoreSignal_.notify_all();
}

HRESULT Device::GetEvt(PtpEventBlock* event) {
    if (!event) return kInvalidArgument;
    std::memset(event, 0, sizeof *event);
    {
        std::lock_guard guard(*lock_);
        if (eventWait_ == EventWait::Closed) return kConnectionClosed;
        if (eventWait_ != EventWait::Ready) return kWrongState;
        eventWait_ = EventWait::Waiting;
    }
    for (;;) {
        const bool signalled = AcquireSemaphore(timing_.step);
        std::lock_guard guard(*lock_);
        if (signalled) {
            if (events_.empty()) {  // the event thread has ended
                eventWait_ = EventWait::Closed;
                return kConnectionClosed;
            }
            const PtpEventBlock next = events_.front();
            events_.pop_front();
            eventWait_ = EventWait::Ready;
            std::memcpy(event, &next, sizeof next);
            return kOk;
        }
        if (eventWait_ == EventWait::CancelRequested) {
            eventWait_ = EventWait::Ready;
            return kCancelled;
        }
        if (eventWait_ == EventWait::Closed) return kConnectionClosed;
    }
}

HRESULT Device::CancelGetEvt() {
    {
        std::lock_guard guard(*lock_);
        if (eventWait_ != EventWait::Waiting) return kOk;
        eventWait_ = EventWait::CancelRequested;
    }
    PokeSemaphore();
    return kOk;
}

DWORD Device::EventThreadStart(void* parameter) {
    static_cast<Device*>(parameter)->EventThread();
    return 0;
}

void Device::EventThread() {
    DWORD probeTime = 0;
    bool probing = false;  // a probe was sent in this spell of waiting
    bool probePending = false;
    try {
        while (run_) {
            const DWORD now = GetTickCount();
            const auto after = static_cast<DWORD>(timing_.probeAfter.count());
            if (commandOutstanding_ && now - commandTick_ >= after) {
                if (!probePending && (!probing || now - probeTime >= after)) {
                    const auto probe = Wire::EncodeProbeRequest();
                    if (event_.SendAll(probe.data(), probe.size()) != IoStatus::Ok) break;
                    probing = true;
                    probePending = true;
                    probeTime = now;
                } else if (probePending && now - probeTime >= static_cast<DWORD>(timing_.probeGiveUp.count())) {
                    break;  // the printer stopped answering
                }
            } else {
                probing = false;
                probePending = false;
                probeTime = 0;
            }
            if (!event_.WaitReadable(timing_.step)) continue;
            bool alive = true;
            do {
                alive = ReadEventPacket(probeTime, probePending);
            } while (alive && run_ && event_.WaitReadable(Milliseconds(0)));
            if (!alive) break;
        }
    } catch (...) {
        // Out of memory while queueing: the session cannot go on.
    }
    EndSession();
}

bool Device::ReadEventPacket(DWORD& probeTime, bool& probePending) {
    std::uint8_t headerBytes[Wire::kHeaderSize];
    if (event_.RecvAll(headerBytes, sizeof headerBytes) != IoStatus::Ok) return false;
    const Wire::Header header = Wire::DecodeHeader(headerBytes);
    if (header.type == Wire::kEvent && Wire::IsEventLength(header.length)) {
        std::uint8_t payload[Wire::kMaxEventSize - Wire::kHeaderSize];
        const std::size_t body = header.length - Wire::kHeaderSize;
        if (event_.RecvAll(payload, body) != IoStatus::Ok) return false;
        const Wire::Event e = Wire::DecodeEvent(header.length, std::span(payload, body));
        PtpEventBlock block{};
        block.eventCode = e.code;
        block.transactionId = e.transactionId;
        block.parameterCount = e.parameterCount;
        for (std::uint32_t i = 0; i < e.parameterCount; ++i) block.parameters[i] = e.parameters[i];
        bool queued = false;
        {
            std::lock_guard guard(*lock_);
            if (events_.size() < kMaxQueuedEvents) {
                events_.push_back(block);
                queued = true;
            }
        }
        if (queued) ReleaseSemaphore();
        return true;
    }
    if (header.type == Wire::kProbeResponse && header.length == Wire::kHeaderSize) {
        probePending = false;
        probeTime = GetTickCount();
        return true;
    }
    return false;
}

void Device::EndSession() {
    {
        std::lock_guard guard(*lock_);
        connectionLost_ = true;
        if ((kRestingStates & Bit(state_)) != 0) state_ = CommandState::Closed;
    }
    // Shut down, not closed: calls blocked on the sockets wake and fail, and
    // the descriptors stay ours until the device is released.
    command_.Shutdown();
    event_.Shutdown();
    ReleaseSemaphore();
}

// --- Inspection ---------------------------------------------------------------

CommandState Device::State() const {
    std::lock_guard guard(*lock_);
    return state_;
}

EventWait Device::EventWaitState() const {
    std::lock_guard guard(*lock_);
    return eventWait_;
}

std::size_t Device::QueuedEvents() const {
    std::lock_guard guard(*lock_);
    return events_.size();
}

void Device::SetTransactionId(DWORD id, bool sessionOpen) {
    std::lock_guard guard(*lock_);
    transactionId_ = id;
    sessionOpen_ = sessionOpen;
}

}  // namespace Jorvale

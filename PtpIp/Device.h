// One device session: the command and event connections, the command state
// machine that serialises calls, cancellation, and the event thread with its
// keep-alive probe and bounded event queue.
#pragma once

#include "Jorvale.h"
#include "Socket.h"
#include "Url.h"
#include "Wire.h"

#include "Platform/Clock.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Jorvale {

// Every time constant of a session. Tests shorten them or move the
// machine's clock.
struct Timing {
    // Send and receive limit during the handshake and the cancel exchange.
    Platform::Milliseconds ioTimeout{10000};
    // A command unanswered this long starts the probes; also the gap between probes.
    Platform::Milliseconds probeAfter{5000};
    // An unanswered probe this old ends the session.
    Platform::Milliseconds probeGiveUp{10000};
    // The event thread's and the event wait's step.
    Platform::Milliseconds step{100};
};
// Applies to sessions opened afterwards.
void SetTiming(const Timing& timing);
Timing GetTiming();

// Who this host is to the printer.
struct Initiator {
    std::array<std::uint8_t, 16> guid{};
    std::u16string name;
};

enum class CommandState : int {
    Closed = 0,
    Idle = 1,
    Sending = 2,
    DataOutExpected = 3,
    WritingData = 4,
    AwaitingReply = 5,
    ReadingReply = 6,
    DataInAvailable = 7,
    ReadingData = 8,
    ResponseReady = 9,
    ReadingResponse = 10,
    Cancelling = 11,
    Cancelled = 12,
};

enum class EventWait : int { Closed = 0, Ready = 1, Waiting = 2, CancelRequested = 3 };

constexpr std::size_t kMaxQueuedEvents = 256;
constexpr WORD kOpenSession = 0x1002;
constexpr WORD kCloseSession = 0x1003;
constexpr WORD kResponseOk = 0x2001;
constexpr WORD kTransactionCancelled = 0x201F;

// The device operation table; its entries are the exported functions.
extern const PtpiDeviceOps kDeviceOps;

class Device : public PtpiDevice {
public:
    // Connects, runs the handshake on both connections and starts the event
    // thread. `lock` is the transport's; the device shares it.
    static HRESULT Open(const DeviceAddress& address, const Initiator& initiator,
                        std::shared_ptr<std::recursive_mutex> lock, Device** device);

    ULONG AddRef();
    ULONG Release();

    HRESULT SendCmd(PtpCommandBlock* command);
    HRESULT WriteData(const void* data, DWORD* length);
    HRESULT WaitAck(DWORD* dataLength);
    HRESULT ReadData(void* buffer, DWORD* length);
    HRESULT GetRsp(PtpResponseBlock* response);
    HRESULT CancelTransaction(DWORD transactionId);
    HRESULT GetEvt(PtpEventBlock* event);
    HRESULT CancelGetEvt();

    // Inspection and set-up for tests.
    CommandState State() const;
    EventWait EventWaitState() const;
    std::size_t QueuedEvents() const;
    void SetTransactionId(DWORD id, bool sessionOpen);

    // Live device records in the process (tests prove frees with it).
    static std::size_t LiveCount();

private:
    Device(std::shared_ptr<std::recursive_mutex> lock, const Timing& timing);
    ~Device();

    HRESULT Handshake(const DeviceAddress& address, const Initiator& initiator);
    HRESULT ReadHandshakePacket(Socket& socket, std::vector<std::uint8_t>& packet);

    // Moves from one of the `allowed` states (a bit per state) to `working`
    // under the lock, or gives the state's error.
    HRESULT Begin(unsigned allowed, CommandState working);
    // Sets the state a call ends in, running a pending cancel first.
    CommandState Finish(CommandState result);
    CommandState CancelExchange(CommandState about, DWORD transactionId);
    HRESULT StateError(CommandState state) const;

    void EventThread();
    static DWORD EventThreadStart(void* parameter);
    bool ReadEventPacket(DWORD& probeTime, bool& probePending);
    void EndSession();

    std::atomic<ULONG> references_{1};
    std::shared_ptr<std::recursive_mutex> lock_;
    const Timing timing_;
    Socket command_;
    Socket event_;

    // Guarded by lock_.
    CommandState state_ = CommandState::Closed;
    EventWait eventWait_ = EventWait::Closed;
    bool sessionOpen_ = false;
    bool connectionLost_ = false;
    DWORD transactionId_ = 0;
    WORD operation_ = 0;
    bool hasDataOut_ = false;
    DWORD dataRemaining_ = 0;
    DWORD packetRemaining_ = 0;
    bool responseRead_ = false;
    Wire::Response response_;
    bool cancelPending_ = false;
    DWORD cancelId_ = 0;
    std::deque<PtpEventBlock> events_;

    // Read by the event thread without the lock.
    std::atomic<bool> commandOutstanding_{false};
    std::atomic<DWORD> commandTick_{0};
    std::atomic<bool> run_{false};

    // Counting semaphore: one release per queued event, one when the event
    // thread ends.
    std::mutex semaphoreMutex_;
    std::condition_variable semaphoreSignal_;
    std::uint32_t semaphoreCount_ = 0;
    bool semaphorePoked_ = false;  // wakes a waiter without an event
    void ReleaseSemaphore();
    bool AcquireSemaphore(Platform::Milliseconds wait);
    void PokeSemaphore();

    HANDLE eventThread_ = nullptr;
};

}  // namespace Jorvale

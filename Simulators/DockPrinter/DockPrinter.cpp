#include "Simulators/DockPrinter/DockPrinter.h"

#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Platform/Png.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace Simulators {

namespace {

using Platform::Milliseconds;

constexpr std::size_t kBlockSize = 12;
constexpr BYTE kPrefix = 0x37;
constexpr BYTE kEnterCode = 0x00;
constexpr BYTE kLeaveCode = 0x10;
constexpr BYTE kRequestCode = 0x01;

bool IsModeBlock(const BYTE* block, BYTE code) {
    return block[0] == kPrefix && block[1] == code &&
           std::all_of(block + 2, block + kBlockSize, [](BYTE b) { return b == 0; });
}

std::vector<BYTE> StatusBlock(BYTE status, std::uint16_t length, const std::string& body) {
    std::vector<BYTE> block(4 + body.size());
    block[0] = kPrefix;
    block[1] = status;
    block[2] = static_cast<BYTE>(length & 0xFF);
    block[3] = static_cast<BYTE>(length >> 8);
    std::copy(body.begin(), body.end(), block.begin() + 4);
    return block;
}

std::string Hex(const BYTE* data, std::size_t size) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size && i < 16; ++i) {
        if (i) out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    if (size > 16) out += " ...";
    return out;
}

// A serial number as it may stand in a host name: letters and digits in
// lower case, anything else a hyphen.
std::string HostLabel(const std::u16string& text) {
    std::string label;
    for (char16_t ch : text) {
        const bool alnum = (ch >= u'0' && ch <= u'9') || (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z');
        label += alnum ? static_cast<char>(std::tolower(static_cast<unsigned char>(ch))) : '-';
    }
    return label;
}

}  // namespace

Platform::UsbPrinterIdentity DockPrinter::DefaultIdentity() {
    Platform::UsbPrinterIdentity identity;
    identity.vendorId = 0x3B7D;
    identity.productId = 0x410F;
    identity.manufacturer = u"Velmo";
    identity.product = u"Glimmer Dock";
    identity.serialNumber = u"GD0001";
    identity.outPacketSize = 512;
    identity.inPacketSize = 512;
    identity.composite = true;
    return identity;
}

std::string DockPrinter::DefaultDeviceId() {
    return "MFG:Velmo;MDL:Glimmer Dock;CMD:VELMO;CLS:PRINTER;DES:Velmo Glimmer Dock;VER:3.01;";
}

DockPrinter::DockPrinter(const Platform::UsbPrinterIdentity& identity, Dock::PrinterState state)
    : UsbPrinterModel(identity),
      state_(std::move(state)),
      outputFolder_(Platform::MachineRoot() + "/printed"),
      deviceIdBase_(DefaultDeviceId()),
      vendorId_(identity.vendorId),
      productId_(identity.productId),
      serialNumber_(HostLabel(identity.serialNumber)) {
    airWatch_ = Platform::GetMachine().Wireless().Watch([this] { Poke(); });
    radio_ = std::thread([this] { RunRadio(); });
}

DockPrinter::~DockPrinter() {
    Platform::GetMachine().Wireless().Unwatch(airWatch_);
    {
        std::lock_guard lock(radioMutex_);
        radioStop_ = true;
    }
    radioChanged_.notify_all();
    radio_.join();
    // A dock that goes away leaves the network.
    if (joined_ && announcer_) announcer_->Withdraw(joined_->announcement);
}

// ---- On the Wi-Fi network ----

void DockPrinter::SetAnnouncer(std::shared_ptr<Dock::ServiceAnnouncer> announcer) {
    {
        std::lock_guard lock(radioMutex_);
        announcer_ = std::move(announcer);
    }
    Poke();
}

void DockPrinter::SetJoinDelay(Milliseconds delay) {
    {
        std::lock_guard lock(radioMutex_);
        joinDelay_ = delay;
    }
    Poke();
}

void DockPrinter::SetNetworkFaults(NetworkFaults faults) {
    {
        std::lock_guard lock(radioMutex_);
        networkFaults_ = std::move(faults);
    }
    Poke();
}

std::string DockPrinter::JoinedNetwork() const {
    std::lock_guard lock(radioMutex_);
    return joined_ ? joined_->ssid : std::string();
}

std::optional<Dock::ServiceAnnouncement> DockPrinter::Announcement() const {
    std::lock_guard lock(radioMutex_);
    if (!joined_) return std::nullopt;
    return joined_->announcement;
}

bool DockPrinter::WaitForNetwork(const std::string& ssid, std::chrono::milliseconds timeout) {
    std::unique_lock lock(radioMutex_);
    return radioChanged_.wait_for(lock, timeout, [&] { return (joined_ ? joined_->ssid : std::string()) == ssid; });
}

void DockPrinter::Poke() {
    const auto now = Platform::GetClock().Now();
    {
        std::lock_guard lock(radioMutex_);
        radioDirty_ = true;
        // A join counts from the change, not from when the radio got to it.
        if (!pokedAt_) pokedAt_ = now;
    }
    radioChanged_.notify_all();
}

void DockPrinter::RunRadio() {
    std::unique_lock lock(radioMutex_);
    while (!radioStop_) {
        if (!radioDirty_) {
            if (pendingJoin_)
                // The machine's clock may be a test's, moved by hand: look
                // at it again every few real milliseconds.
                radioChanged_.wait_for(lock, std::chrono::milliseconds(2));
            else
                radioChanged_.wait(lock, [&] { return radioStop_ || radioDirty_; });
            if (radioStop_) break;
        }
        radioDirty_ = false;
        const auto since = pokedAt_;
        pokedAt_.reset();
        lock.unlock();
        RadioStep(since);
        lock.lock();
    }
}

// The announcement the dock should make now, with the SSID of the network it
// would be on; nothing when no stored profile joins an access point in range.
std::optional<Dock::ServiceAnnouncement> DockPrinter::Desired(std::string& ssid) const {
    const auto inRange = Platform::GetMachine().Wireless().InRange();
    std::lock_guard lock(mutex_);
    const auto choice = Dock::ChooseNetwork(state_, inRange);
    if (!choice) return std::nullopt;
    ssid = choice->accessPoint.ssid;
    const Dock::Profile& profile = state_.profiles.at(choice->profileId);
    Dock::ServiceAnnouncement a;
    a.instanceName = profile.friendlyName.empty() ? "Glimmer Dock " + serialNumber_ : profile.friendlyName;
    a.hostName = "glimmer-dock-" + serialNumber_ + ".local";
    a.vendorId = vendorId_;
    a.productId = productId_;
    a.guid = state_.guid;
    return a;
}

void DockPrinter::RadioStep(std::optional<Milliseconds> changedAt) {
    std::string ssid;
    auto desired = Desired(ssid);
    const auto now = Platform::GetClock().Now();

    std::unique_lock lock(radioMutex_);
    const auto since = std::min(changedAt.value_or(now), now);
    const auto announcer = announcer_;
    if (desired && networkFaults_.announcedGuid) desired->guid = *networkFaults_.announcedGuid;
    if (joined_) {
        if (desired && ssid == joined_->ssid && *desired == joined_->announcement) return;
        // Off the network; back on at once only when the same network still
        // takes it (the announcement changed).
        const Joined left = *joined_;
        const bool stays = desired && ssid == joined_->ssid;
        lock.unlock();
        if (announcer) announcer->Withdraw(left.announcement);
        if (stays && announcer) announcer->Announce(*desired);
        lock.lock();
        joined_.reset();
        if (stays) joined_ = Joined{ssid, *desired};
        lock.unlock();
        radioChanged_.notify_all();
        if (!stays) Poke();  // another network may take it
        return;
    }
    if (!desired || networkFaults_.neverJoin) {
        pendingJoin_.reset();
        return;
    }
    if (!pendingJoin_ || pendingJoin_->first != ssid)
        pendingJoin_.emplace(ssid, since + joinDelay_ + networkFaults_.joinLate);
    if (now < pendingJoin_->second) return;
    pendingJoin_.reset();
    lock.unlock();
    if (announcer) announcer->Announce(*desired);
    lock.lock();
    joined_ = Joined{ssid, *desired};
    lock.unlock();
    radioChanged_.notify_all();
}

// ---- On the machine ----

DEVINST DockPrinter::Attach(DEVINST hub, unsigned port) {
    const DEVINST node = Platform::GetMachine().Devices().AttachDevice(hub, port, shared_from_this());
    std::lock_guard lock(mutex_);
    hub_ = hub;
    port_ = port;
    node_ = node;
    return node;
}

void DockPrinter::Unplug() {
    Pull();
}

void DockPrinter::Pull() {
    DEVINST hub = 0;
    unsigned port = 0;
    {
        std::lock_guard lock(mutex_);
        hub = hub_;
        port = port_;
    }
    if (hub != 0) {
        Platform::GetMachine().Devices().Detach(hub, port);
    } else {
        OnDetached();
    }
}

DEVINST DockPrinter::DeviceNode() const {
    std::lock_guard lock(mutex_);
    return node_;
}

std::u16string DockPrinter::PrintingInterfacePath() const {
    auto& devices = Platform::GetMachine().Devices();
    const DEVINST function = devices.PrintingFunction(DeviceNode());
    return function == 0 ? std::u16string() : devices.InterfacePath(function, GUID_DEVINTERFACE_USBPRINT);
}

void DockPrinter::OnAttached() {
    UsbPrinterModel::OnAttached();
    std::lock_guard lock(mutex_);
    connected_ = true;
}

// Pulling the plug powers the dock down: whatever was in flight is lost and
// it comes back out of configuration mode.
void DockPrinter::OnDetached() {
    UsbPrinterModel::OnDetached();
    {
        std::lock_guard lock(mutex_);
        connected_ = false;
        input_.clear();
        bodyExpected_.reset();
        toHost_.clear();
        ++generation_;
        state_.configMode = false;
        engine_.PowerOff();
    }
    changed_.notify_all();
}

// ---- Host side of the channel ----

DWORD DockPrinter::Write(const BYTE* data, DWORD length, DWORD& written) {
    written = 0;
    std::optional<std::pair<DWORD, DWORD>> failure;
    {
        std::lock_guard lock(mutex_);
        if (!connected_) return ERROR_DEVICE_NOT_CONNECTED;
        failure = std::exchange(writeFailure_, std::nullopt);
    }
    if (!failure) return UsbPrinterModel::Write(data, length, written);
    const DWORD accepted = std::min(failure->second, length);
    if (accepted > 0) OnHostWrite(data, accepted);
    written = accepted;
    return failure->first;
}

DWORD DockPrinter::Read(BYTE* buffer, DWORD length, DWORD& read) {
    read = 0;
    auto& clock = Platform::GetClock();
    std::unique_lock lock(mutex_);
    if (!connected_) return ERROR_DEVICE_NOT_CONNECTED;
    if (readFailure_) return *std::exchange(readFailure_, std::nullopt);
    if (length == 0) return ERROR_SUCCESS;
    const Milliseconds limit = clock.Now() + answerWaitLimit_;
    // Outside configuration mode a read with nothing queued is the printer's
    // status read: it gets the status block as it stands now.
    if (toHost_.empty() && !state_.configMode) {
        const auto status = engine_.StatusBlock(clock.Now());
        ++statusReads_;
        changed_.notify_all();
        auto fault = TakeFault(kStatus);
        Answer(fault ? &*fault : nullptr, std::vector<BYTE>(status.begin(), status.end()), false);
    }
    for (;;) {
        // Nothing queued: the dock has nothing to say and says so at once.
        if (toHost_.empty()) return ERROR_SUCCESS;
        Transfer& front = toHost_.front();
        if (front.pullPlug) {
            toHost_.pop_front();
            ++generation_;
            lock.unlock();
            Pull();
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        const Milliseconds now = clock.Now();
        if (front.due > now) {
            // A confirmation that is not ready yet is simply not there; an
            // answer being prepared holds the read up to the limit.
            if (!front.blocking || now >= limit) return ERROR_SUCCESS;
            const std::uint64_t generation = generation_;
            clock.WaitUntil(lock, changed_, std::min(front.due, limit), [&] {
                return !connected_ || generation_ != generation || toHost_.front().due <= clock.Now();
            });
            if (!connected_) return ERROR_DEVICE_NOT_CONNECTED;
            continue;
        }
        const std::size_t n = std::min<std::size_t>(length, front.bytes.size() - front.offset);
        if (n > 0) std::memcpy(buffer, front.bytes.data() + front.offset, n);
        const DWORD status = front.offset == 0 && front.moreData ? ERROR_MORE_DATA : ERROR_SUCCESS;
        front.offset += n;
        if (front.offset == front.bytes.size()) {
            toHost_.pop_front();
            ++generation_;
        }
        read = static_cast<DWORD>(n);
        transcript_.push_back({Direction::ToHost, std::vector<BYTE>(buffer, buffer + n)});
        return status;
    }
}

void DockPrinter::OnHostWrite(const BYTE* data, DWORD length) {
    {
        std::lock_guard lock(mutex_);
        const bool printData =
            !state_.configMode && input_.empty() && (engine_.InPage() || (length > 0 && data[0] == Dock::kPrintPrefix));
        if (recordPrintData_ || !printData)
            transcript_.push_back({Direction::ToPrinter, std::vector<BYTE>(data, data + length)});
        // A silent answer lasts until the host tries something else.
        if (std::erase_if(toHost_, [](const Transfer& t) { return t.untilNextWrite; }) > 0) ++generation_;
        // A malformed print stream is dropped to the end of its write.
        engine_.StartOfWrite(data, length);
        if (input_.empty()) {
            const std::size_t used = Route(data, length);
            input_.assign(data + used, data + length);
        } else {
            input_.insert(input_.end(), data, data + length);
            const std::size_t used = Route(input_.data(), input_.size());
            input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(used));
        }
        WritePages();
    }
    changed_.notify_all();
}

// Cuts the input into blocks and bodies, and hands print data to the
// engine. Returns how much was used; the rest waits for more bytes. Called
// with the lock held.
std::size_t DockPrinter::Route(const BYTE* data, std::size_t size) {
    std::size_t at = 0;
    const Milliseconds now = Platform::GetClock().Now();
    for (;;) {
        if (bodyExpected_) {
            if (size - at < *bodyExpected_) return at;
            std::string body(reinterpret_cast<const char*>(data + at), *bodyExpected_);
            at += *bodyExpected_;
            bodyExpected_.reset();
            HandleRequest(std::move(body));
            continue;
        }
        if (at == size) return at;
        if (!state_.configMode && (engine_.InPage() || engine_.Discarding() || data[at] == Dock::kPrintPrefix)) {
            const std::size_t used = engine_.Feed(data + at, size - at, now);
            at += used;
            if (used > 0) continue;
        }
        if (data[at] != kPrefix) {
            FramingError("Not a block: " + Hex(data + at, size - at));
            return size;
        }
        if (size - at < kBlockSize) return at;
        const BYTE* block = data + at;
        if (IsModeBlock(block, kEnterCode) || IsModeBlock(block, kLeaveCode)) {
            const bool enter = block[1] == kEnterCode;
            at += kBlockSize;
            ++(enter ? counters_.enters : counters_.leaves);
            if (enter && dropQueuedOnEnter_) {
                toHost_.clear();
                ++generation_;
            }
            auto fault = TakeFault(enter ? kEnter : kLeave);
            // The mode changes unless the dock stays silent or refuses.
            if (!fault || (!fault->silent && !fault->status)) state_.configMode = enter;
            std::vector<BYTE> confirmation = StatusBlock(kStatusHandled, 8, std::string(8, '\0'));
            if (fault) {
                if (fault->status)
                    confirmation = StatusBlock(*fault->status, 0, {});
                else if (fault->body)
                    confirmation = StatusBlock(kStatusHandled, 8, *fault->body);
            }
            Answer(fault ? &*fault : nullptr, std::move(confirmation), false);
            continue;
        }
        if (block[1] == kRequestCode && block[2] == 0 && block[3] == 0 && block[8] == 0 && block[9] == 0 &&
            block[10] == 0 && block[11] == 0) {
            const std::size_t length = static_cast<std::size_t>(block[4]) | static_cast<std::size_t>(block[5]) << 8 |
                                       static_cast<std::size_t>(block[6]) << 16 |
                                       static_cast<std::size_t>(block[7]) << 24;
            if (length > kMaxRequestBody) {
                FramingError("Request body of " + std::to_string(length) + " bytes announced");
                return size;
            }
            at += kBlockSize;
            bodyExpected_ = length;
            continue;
        }
        FramingError("Unknown block: " + Hex(block, kBlockSize));
        return size;
    }
}

// Drops all buffered input: the dock cannot tell where the next block starts.
void DockPrinter::FramingError(std::string what) {
    ++counters_.framingErrors;
    framingErrors_.push_back(std::move(what));
    bodyExpected_.reset();
    if (framingErrorStatus_) Answer(nullptr, StatusBlock(*framingErrorStatus_, 0, {}), true);
}

void DockPrinter::HandleRequest(std::string body) {
    ++counters_.requests;
    ReceivedRequest received;
    received.body = body;
    BYTE status = kStatusHandled;
    std::string answer;
    std::optional<Fault> fault;
    try {
        Dock::Request request = Dock::ParseRequest(body);
        received.root = request.root;
        received.command = request.command;
        fault = TakeFault(request.command);
        if (requireConfigMode_ && !state_.configMode) {
            ++counters_.requestsOutsideConfigMode;
            status = kStatusNotInConfigMode;
        } else if (fault && fault->status) {
            status = *fault->status;
        } else if (!fault || !fault->silent) {
            Dock::ExecuteOptions options = executeOptions_;
            if (fault && fault->result) options.result = fault->result;
            Dock::Outcome outcome =
                Dock::Execute(state_, request, options, Dock::ScanOf(Platform::GetMachine().Wireless().InRange()));
            Poke();
            if (outcome.restartedBluetooth) ++counters_.bluetoothRestarts;
            answer = fault && fault->body ? *fault->body : std::move(outcome.body);
        }
    } catch (const Dock::RequestError&) {
        status = kStatusBadRequest;
    }
    if (status == kStatusHandled && answer.size() > kMaxBody) {
        status = kStatusAnswerTooLong;
        answer.clear();
    }
    if (status != kStatusHandled) answer.clear();
    const bool silent = fault && fault->silent && status == kStatusHandled;
    received.status = silent ? 0 : status;
    received.answer = answer;
    requests_.push_back(std::move(received));
    Answer(fault ? &*fault : nullptr, StatusBlock(status, static_cast<std::uint16_t>(answer.size()), answer), true);
}

std::optional<DockPrinter::Fault> DockPrinter::TakeFault(const std::string& key) {
    auto it = faults_.find(key);
    if (it == faults_.end()) return std::nullopt;
    Fault fault = it->second;
    if (fault.times > 0 && --it->second.times == 0) faults_.erase(it);
    return fault;
}

// Queues a block for the host, delivered as the fault says.
void DockPrinter::Answer(const Fault* fault, std::vector<BYTE> block, bool blocking) {
    Transfer base;
    base.due = Platform::GetClock().Now() + (fault ? fault->delay : Milliseconds(0));
    base.blocking = blocking;
    ++generation_;
    if (fault && fault->silent) {
        // Nothing comes back: a confirmation simply never appears; a read
        // for an answer waits its limit each time.
        if (blocking) {
            base.due = Milliseconds::max();
            base.untilNextWrite = true;
            toHost_.push_back(base);
        }
        return;
    }
    if (fault && fault->lengthField && block.size() >= 4) {
        block[2] = static_cast<BYTE>(*fault->lengthField & 0xFF);
        block[3] = static_cast<BYTE>(*fault->lengthField >> 8);
    }
    if (fault && fault->truncate && *fault->truncate < block.size()) block.resize(*fault->truncate);
    std::size_t limit = block.size();
    bool pull = false;
    if (fault && fault->disconnectAfter && *fault->disconnectAfter < block.size()) {
        limit = *fault->disconnectAfter;
        pull = true;
    }
    std::size_t offset = 0;
    bool flagged = false;
    auto push = [&](std::size_t size) {
        Transfer t = base;
        t.bytes.assign(block.begin() + static_cast<std::ptrdiff_t>(offset),
                       block.begin() + static_cast<std::ptrdiff_t>(offset + size));
        // ERROR_MORE_DATA goes with the first bytes, not with an empty read.
        if (fault && fault->moreData && !flagged && size > 0) t.moreData = flagged = true;
        offset += size;
        toHost_.push_back(std::move(t));
    };
    if (fault) {
        for (std::size_t size : fault->split) {
            if (size == 0)
                push(0);
            else if (offset < limit)
                push(std::min(size, limit - offset));
        }
    }
    if (offset < limit) push(limit - offset);
    if (pull) {
        Transfer t = base;
        t.pullPlug = true;
        toHost_.push_back(std::move(t));
    }
}

// ---- State ----

Dock::PrinterState DockPrinter::State() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void DockPrinter::SetState(Dock::PrinterState state) {
    std::lock_guard lock(mutex_);
    Poke();
    state_ = std::move(state);
}

void DockPrinter::Modify(const std::function<void(Dock::PrinterState&)>& change) {
    std::lock_guard lock(mutex_);
    Poke();
    change(state_);
}

std::string DockPrinter::Guid() const {
    std::lock_guard lock(mutex_);
    return state_.guid;
}

void DockPrinter::SetGuid(std::string guid) {
    std::lock_guard lock(mutex_);
    Poke();
    state_.guid = std::move(guid);
}

std::string DockPrinter::MacAddress() const {
    std::lock_guard lock(mutex_);
    return state_.macAddress;
}

void DockPrinter::SetMacAddress(std::string mac) {
    std::lock_guard lock(mutex_);
    state_.macAddress = std::move(mac);
}

std::string DockPrinter::Pin() const {
    std::lock_guard lock(mutex_);
    return state_.pin;
}

void DockPrinter::SetPin(std::string pin) {
    std::lock_guard lock(mutex_);
    state_.pin = std::move(pin);
}

std::vector<Dock::Profile> DockPrinter::Profiles() const {
    std::lock_guard lock(mutex_);
    std::vector<Dock::Profile> out;
    for (const auto& [id, profile] : state_.profiles) out.push_back(profile);
    return out;
}

std::optional<Dock::Profile> DockPrinter::FindProfile(int id) const {
    std::lock_guard lock(mutex_);
    auto it = state_.profiles.find(id);
    if (it == state_.profiles.end()) return std::nullopt;
    return it->second;
}

void DockPrinter::PutProfile(Dock::Profile profile) {
    std::lock_guard lock(mutex_);
    Poke();
    const int id = profile.id;
    state_.profiles[id] = std::move(profile);
}

void DockPrinter::RemoveProfile(int id) {
    std::lock_guard lock(mutex_);
    Poke();
    state_.profiles.erase(id);
}

Dock::BluetoothProfile DockPrinter::Bluetooth() const {
    std::lock_guard lock(mutex_);
    return state_.bluetooth;
}

void DockPrinter::SetBluetooth(Dock::BluetoothProfile profile) {
    std::lock_guard lock(mutex_);
    state_.bluetooth = std::move(profile);
}

std::vector<Dock::ScannedNetwork> DockPrinter::Networks() const {
    return Dock::ScanOf(Platform::GetMachine().Wireless().InRange());
}

void DockPrinter::SetNetworks(std::vector<Dock::ScannedNetwork> networks) {
    Platform::GetMachine().Wireless().SetAccessPoints(Dock::AccessPointsOf(networks));
}

bool DockPrinter::InConfigMode() const {
    std::lock_guard lock(mutex_);
    return state_.configMode;
}

void DockPrinter::SetConfigMode(bool on) {
    std::lock_guard lock(mutex_);
    state_.configMode = on;
}

// ---- Knobs ----

void DockPrinter::SetFault(const std::string& command, Fault fault) {
    std::lock_guard lock(mutex_);
    faults_[command] = std::move(fault);
}

void DockPrinter::ClearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
    writeFailure_.reset();
    readFailure_.reset();
}

void DockPrinter::SetUnknownProfilePolicy(Dock::UnknownProfilePolicy policy) {
    std::lock_guard lock(mutex_);
    executeOptions_.unknownProfiles = policy;
}

void DockPrinter::SetBluetoothResultAlias(bool on) {
    std::lock_guard lock(mutex_);
    executeOptions_.bluetoothResultAlias = on;
}

void DockPrinter::SetAnswerWaitLimit(Milliseconds limit) {
    std::lock_guard lock(mutex_);
    answerWaitLimit_ = limit;
}

void DockPrinter::SetFramingErrorStatus(std::optional<BYTE> status) {
    std::lock_guard lock(mutex_);
    framingErrorStatus_ = status;
}

void DockPrinter::SetRequireConfigMode(bool on) {
    std::lock_guard lock(mutex_);
    requireConfigMode_ = on;
}

void DockPrinter::SetDropQueuedOnEnter(bool on) {
    std::lock_guard lock(mutex_);
    dropQueuedOnEnter_ = on;
}

void DockPrinter::FailNextWrite(DWORD error, DWORD accepted) {
    std::lock_guard lock(mutex_);
    writeFailure_ = std::make_pair(error, accepted);
}

void DockPrinter::FailNextRead(DWORD error) {
    std::lock_guard lock(mutex_);
    readFailure_ = error;
}

// ---- What happened ----

std::vector<DockPrinter::TranscriptEntry> DockPrinter::Transcript() const {
    std::lock_guard lock(mutex_);
    return transcript_;
}

std::vector<BYTE> DockPrinter::BytesReceived() const {
    std::lock_guard lock(mutex_);
    std::vector<BYTE> out;
    for (const auto& entry : transcript_)
        if (entry.direction == Direction::ToPrinter) out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
    return out;
}

std::vector<BYTE> DockPrinter::BytesSent() const {
    std::lock_guard lock(mutex_);
    std::vector<BYTE> out;
    for (const auto& entry : transcript_)
        if (entry.direction == Direction::ToHost) out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
    return out;
}

std::vector<DockPrinter::ReceivedRequest> DockPrinter::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> DockPrinter::FramingErrors() const {
    std::lock_guard lock(mutex_);
    return framingErrors_;
}

DockPrinter::Counters DockPrinter::GetCounters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

void DockPrinter::ClearHistory() {
    std::lock_guard lock(mutex_);
    transcript_.clear();
    requests_.clear();
    framingErrors_.clear();
    counters_ = {};
    engine_.ClearHistory();
}

std::size_t DockPrinter::PendingTransfers() const {
    std::lock_guard lock(mutex_);
    return toHost_.size();
}

// ---- Printing ----

std::string DockPrinter::DeviceId() const {
    std::lock_guard lock(mutex_);
    if (deviceIdBase_.empty() || !dynamicDeviceId_) return deviceIdBase_;
    std::string id = deviceIdBase_;
    for (const auto& [key, value] : deviceIdFields_) id += key + ":" + value + ";";
    const auto status = engine_.Status(Platform::GetClock().Now());
    id += "PUR:" + std::to_string(status.media) + ";PRB:" + (status.busy ? "1" : "0") + ";";
    return id;
}

void DockPrinter::SetDeviceIdBase(std::string id, bool dynamic) {
    std::lock_guard lock(mutex_);
    deviceIdBase_ = std::move(id);
    dynamicDeviceId_ = dynamic;
}

void DockPrinter::SetDeviceIdField(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    if (value.empty())
        deviceIdFields_.erase(key);
    else
        deviceIdFields_[key] = value;
}

// The printing class driver's device-id control: the id as text, without a
// length prefix.
DWORD DockPrinter::Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) {
    returned = 0;
    if (code != IOCTL_USBPRINT_GET_1284_ID)
        return UsbPrinterModel::Control(code, in, inLength, out, outLength, returned);
    {
        std::lock_guard lock(mutex_);
        if (!connected_) return ERROR_DEVICE_NOT_CONNECTED;
    }
    const std::string id = DeviceId();
    if (id.empty()) return ERROR_INVALID_FUNCTION;
    if (out == nullptr || outLength < id.size()) return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out, id.data(), id.size());
    returned = static_cast<DWORD>(id.size());
    return ERROR_SUCCESS;
}

Dock::EngineStatus DockPrinter::PrinterStatus() const {
    std::lock_guard lock(mutex_);
    return engine_.Status(Platform::GetClock().Now());
}

std::array<BYTE, Dock::kStatusBlockSize> DockPrinter::PrinterStatusBlock() const {
    std::lock_guard lock(mutex_);
    return engine_.StatusBlock(Platform::GetClock().Now());
}

void DockPrinter::ChangeStatus(const Dock::StatusChange& change) {
    {
        std::lock_guard lock(mutex_);
        const Milliseconds now = Platform::GetClock().Now();
        engine_.Settle(now);
        engine_.Apply(change, now);
    }
    changed_.notify_all();
}

void DockPrinter::SetPrinterError(std::uint16_t error, std::optional<Milliseconds> clearsAfter) {
    ChangeStatus({.error = error, .lastsFor = clearsAfter});
}

void DockPrinter::ClearPrinterError() {
    ChangeStatus({.error = 0, .flag = false});
}

void DockPrinter::SetBusy(bool busy) {
    ChangeStatus({.busy = busy});
}

void DockPrinter::SetMediaRemaining(int count) {
    ChangeStatus({.media = count});
}

void DockPrinter::PinState(BYTE state) {
    ChangeStatus({.pinState = state});
}

void DockPrinter::ReleaseState() {
    ChangeStatus({.releaseState = true});
}

void DockPrinter::Script(Dock::Moment when, Dock::StatusChange change) {
    std::lock_guard lock(mutex_);
    engine_.Script(when, std::move(change));
}

void DockPrinter::ClearScript() {
    std::lock_guard lock(mutex_);
    engine_.ClearScript();
}

void DockPrinter::SetPassTimes(Milliseconds pass, Milliseconds finish) {
    std::lock_guard lock(mutex_);
    engine_.SetPassTimes(pass, finish);
}

void DockPrinter::SetOutputFolder(std::string folder) {
    std::lock_guard lock(mutex_);
    outputFolder_ = std::move(folder);
}

std::string DockPrinter::OutputFolder() const {
    std::lock_guard lock(mutex_);
    return outputFolder_;
}

// Writes the files of the pages that came out. Called with the lock held,
// so a page's file exists once the write that finished it returns.
void DockPrinter::WritePages() {
    for (std::size_t index : engine_.TakeNewPages()) {
        Dock::PrintedPage& page = engine_.Pages()[index];
        if (outputFolder_.empty()) continue;
        char name[32];
        std::snprintf(name, sizeof name, "page-%04u.png", page.number);
        const std::string path = outputFolder_ + "/" + name;
        try {
            Platform::WritePng(path, Platform::RgbImage{page.width, page.height, page.rgb});
            page.file = path;
        } catch (const std::exception& e) {
            engine_.RecordError(e.what());
        }
    }
}

std::vector<Dock::PrintedPage> DockPrinter::PrintedPages() const {
    std::lock_guard lock(mutex_);
    return engine_.Pages();
}

std::size_t DockPrinter::PrintedPageCount() const {
    std::lock_guard lock(mutex_);
    return engine_.Pages().size();
}

unsigned DockPrinter::SheetsPrinted() const {
    std::lock_guard lock(mutex_);
    return engine_.Sheets();
}

std::vector<Dock::PageReception> DockPrinter::PageReceptions() const {
    std::lock_guard lock(mutex_);
    return engine_.Receptions();
}

std::vector<Dock::StreamError> DockPrinter::PrintErrors() const {
    std::lock_guard lock(mutex_);
    return engine_.Errors();
}

std::vector<Dock::GateViolation> DockPrinter::GateViolations() const {
    std::lock_guard lock(mutex_);
    return engine_.Violations();
}

std::uint64_t DockPrinter::PrintBytesReceived() const {
    std::lock_guard lock(mutex_);
    return engine_.Received();
}

std::uint64_t DockPrinter::PrintBytesDropped() const {
    std::lock_guard lock(mutex_);
    return engine_.Dropped();
}

bool DockPrinter::WaitForSheets(unsigned count, Milliseconds timeout) {
    auto& clock = Platform::GetClock();
    std::unique_lock lock(mutex_);
    return clock.WaitUntil(lock, changed_, clock.Now() + timeout, [&] { return engine_.Sheets() >= count; });
}

std::uint64_t DockPrinter::StatusReads() const {
    std::lock_guard lock(mutex_);
    return statusReads_;
}

bool DockPrinter::WaitForStatusReads(std::uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return statusReads_ >= count; });
}

void DockPrinter::SetRecordPrintData(bool on) {
    std::lock_guard lock(mutex_);
    recordPrintData_ = on;
}

}  // namespace Simulators

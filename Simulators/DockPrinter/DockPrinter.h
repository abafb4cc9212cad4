// A simulated printer dock on the USB bus of the simulated machine. It
// answers the configuration protocol on its printing interface: the
// 12-byte blocks that enter and leave configuration mode, request headers
// with their XML bodies, and status blocks with the answers. It keeps the
// printer's state, offers fault knobs for every way a printer has been
// seen to misbehave, and records every byte in both directions.
//
// Outside configuration mode it is also the printer: print data (blocks
// that start with 0x30) goes to its print engine, which checks the stream,
// prints each page as a PNG file and keeps it in memory; a read with
// nothing else queued answers the 12-byte printer status block; the device
// id carries the media count (PUR) and the busy flag (PRB).
//
//   auto dock = std::make_shared<Simulators::DockPrinter>();
//   dock->Attach(hostController.rootHub, 1);
//   ... the host opens dock->PrintingInterfacePath() and talks ...
//   EXPECT_EQ(dock->Pin(), "4321");
#pragma once

#include "Platform/SetupApi.h"
#include "Platform/Usb.h"
#include "Simulators/DockPrinter/DockCommands.h"
#include "Simulators/DockPrinter/DockNetwork.h"
#include "Simulators/DockPrinter/DockState.h"
#include "Simulators/DockPrinter/PrintEngine.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace Simulators {

class DockPrinter : public Platform::UsbPrinterModel, public std::enable_shared_from_this<DockPrinter> {
public:
    // Status bytes of the status block.
    static constexpr BYTE kStatusHandled = 1;
    static constexpr BYTE kStatusBadRequest = 2;  // unreadable request, unknown command, wrong root
    static constexpr BYTE kStatusNotInConfigMode = 3;
    static constexpr BYTE kStatusAnswerTooLong = 4;  // the answer does not fit the signed 16-bit length
    static constexpr std::size_t kMaxBody = 0x7FFF;
    static constexpr std::size_t kMaxRequestBody = 1 << 20;

    // Names under which faults for the two mode blocks are set.
    static constexpr const char* kEnter = "ENTER";
    static constexpr const char* kLeave = "LEAVE";
    // Name under which faults for the printer status block are set.
    static constexpr const char* kStatus = "STATUS";

    // How one answer (a status block with its body, or a mode confirmation)
    // goes wrong. Faults are set per command name (or kEnter/kLeave).
    struct Fault {
        unsigned times = 0;                 // applies to the next so many answers; 0: until cleared
        Platform::Milliseconds delay{0};    // the answer is readable only after this long on the machine's clock
        bool silent = false;                // no answer at all; reads wait their limit and return 0 bytes
        std::optional<BYTE> status{};       // answer with this status byte and no body
        std::optional<int> result{};        // "result" attribute forced; the change is not applied unless 0
        std::optional<std::string> body{};  // sent instead of the real answer (malformed XML, another root ...)
        std::optional<std::uint16_t> lengthField{};  // written instead of the body's length
        // Sizes of the transfers the block goes out in, in order; 0 is an
        // empty transfer (a read that returns 0 bytes). The rest follows as
        // one transfer.
        std::vector<std::size_t> split{};
        std::optional<std::size_t> truncate{};         // only so many bytes of the block are sent
        std::optional<std::size_t> disconnectAfter{};  // the plug is pulled after so many bytes were read
        bool moreData = false;                         // the read with the block's first bytes reports ERROR_MORE_DATA
    };

    enum class Direction { ToPrinter, ToHost };
    struct TranscriptEntry {
        Direction direction;
        std::vector<BYTE> bytes;  // one write, or what one read returned
    };

    // A complete request as the dock received it and how it answered.
    struct ReceivedRequest {
        std::string body;  // the bytes after the header
        std::string root;  // empty when unreadable
        std::string command;
        BYTE status = 0;
        std::string answer;  // body of the status block
    };

    struct Counters {
        unsigned enters = 0;
        unsigned leaves = 0;
        unsigned requests = 0;
        unsigned requestsOutsideConfigMode = 0;
        unsigned bluetoothRestarts = 0;
        unsigned framingErrors = 0;
    };

    // Vendor 0x3B7D, product 0x410F, "Velmo" "Glimmer Dock", serial
    // "GD0001", packet sizes 512, composite.
    static Platform::UsbPrinterIdentity DefaultIdentity();
    static std::string DefaultDeviceId();

    explicit DockPrinter(const Platform::UsbPrinterIdentity& identity = DefaultIdentity(),
                         Dock::PrinterState state = Dock::FactoryState());
    ~DockPrinter() override;

    // ---- On the machine ----
    DEVINST Attach(DEVINST hub, unsigned port);
    void Unplug();  // pulls it from its port; Attach plugs it in again
    DEVINST DeviceNode() const;
    std::u16string PrintingInterfacePath() const;

    // ---- State ----
    Dock::PrinterState State() const;
    void SetState(Dock::PrinterState state);
    void Modify(const std::function<void(Dock::PrinterState&)>& change);
    std::string Guid() const;
    void SetGuid(std::string guid);
    std::string MacAddress() const;
    void SetMacAddress(std::string mac);
    std::string Pin() const;
    void SetPin(std::string pin);
    std::vector<Dock::Profile> Profiles() const;  // by ascending id
    std::optional<Dock::Profile> FindProfile(int id) const;
    void PutProfile(Dock::Profile profile);
    void RemoveProfile(int id);
    Dock::BluetoothProfile Bluetooth() const;
    void SetBluetooth(Dock::BluetoothProfile profile);
    // What a network scan finds now: the machine's access points in range.
    std::vector<Dock::ScannedNetwork> Networks() const;
    // Shorthand: makes these the machine's access points, all in range (the
    // faces of one network share a radio).
    void SetNetworks(std::vector<Dock::ScannedNetwork> networks);
    bool InConfigMode() const;
    void SetConfigMode(bool on);

    // ---- Knobs ----
    void SetFault(const std::string& command, Fault fault);
    void ClearFaults();
    void SetUnknownProfilePolicy(Dock::UnknownProfilePolicy policy);
    void SetBluetoothResultAlias(bool on);  // answer with "setBluetoothProfileResponse"
    // How long a read waits for an answer that is being prepared before it
    // returns 0 bytes (30 s).
    void SetAnswerWaitLimit(Platform::Milliseconds limit);
    // Framing errors are dropped; with a status they are also answered with
    // it.
    void SetFramingErrorStatus(std::optional<BYTE> status);
    // Whether requests outside configuration mode are refused (the default)
    // or answered anyway.
    void SetRequireConfigMode(bool on);
    // Whether an enter block first discards whatever the host has not read
    // yet (a dock that starts every session afresh). Off by default: the
    // dock keeps what it queued, as a USB pipe does across a host's close
    // and reopen.
    void SetDropQueuedOnEnter(bool on);
    // The next write fails with error after accepting `accepted` bytes.
    void FailNextWrite(DWORD error, DWORD accepted = 0);
    // The next read fails with error.
    void FailNextRead(DWORD error);

    // ---- On the Wi-Fi network ----
    // How the dock behaves on the machine's Wi-Fi network.
    struct NetworkFaults {
        bool neverJoin = false;                      // a matching profile is never acted on
        Platform::Milliseconds joinLate{0};          // added to the join delay
        std::optional<std::string> announcedGuid{};  // announced instead of the dock's guid
    };
    // Where the dock announces itself once it joined (none by default: it
    // joins and tells no one). Set it before the dock joins.
    void SetAnnouncer(std::shared_ptr<Dock::ServiceAnnouncer> announcer);
    // How long after a stored profile comes to match an access point in
    // range the dock is on that network and announced (5 s on the machine's
    // clock). A profile that stops matching takes it off at once.
    void SetJoinDelay(Platform::Milliseconds delay);
    void SetNetworkFaults(NetworkFaults faults);
    // The SSID of the network the dock is on; empty when on none.
    std::string JoinedNetwork() const;
    // What the dock announces now; nothing when it is on no network.
    std::optional<Dock::ServiceAnnouncement> Announcement() const;
    // Waits in real time (the clock is the test's to move) until the dock is
    // on the network with this SSID (empty: on none); false on time-out.
    bool WaitForNetwork(const std::string& ssid, std::chrono::milliseconds timeout);

    // ---- What happened ----
    std::vector<TranscriptEntry> Transcript() const;
    std::vector<BYTE> BytesReceived() const;  // every write, joined
    std::vector<BYTE> BytesSent() const;      // every read, joined
    std::vector<ReceivedRequest> Requests() const;
    std::vector<std::string> FramingErrors() const;
    Counters GetCounters() const;
    // Transcript, requests, framing errors and counters; also the printed
    // pages (numbering starts again at 1), receptions, stream errors, gate
    // violations and sheet and byte counts.
    void ClearHistory();
    // Transfers queued for the host and not read yet.
    std::size_t PendingTransfers() const;

    // ---- Printing ----
    // The device id as the dock answers it now: the fixed part, the extra
    // fields, then "PUR:" with the media count and "PRB:" with the busy flag.
    std::string DeviceId() const;
    // Replaces the fixed part (DefaultDeviceId()); empty makes the control
    // fail. With dynamic off, exactly this text is answered.
    void SetDeviceIdBase(std::string id, bool dynamic = true);
    // The plain model's setter, kept meaningful here: exactly this text.
    void SetDeviceId(std::string raw) { SetDeviceIdBase(std::move(raw), false); }
    // Fields added after the fixed part, in key order ("PHD", "CCP", "TSZ",
    // "CSZ", "CID" ...); an empty value removes the field.
    void SetDeviceIdField(const std::string& key, const std::string& value);

    Dock::EngineStatus PrinterStatus() const;
    std::array<BYTE, Dock::kStatusBlockSize> PrinterStatusBlock() const;
    // Changes the condition now: error value, flag, busy, media count,
    // a pinned state; with lastsFor it is taken back later on the clock.
    void ChangeStatus(const Dock::StatusChange& change);
    void SetPrinterError(std::uint16_t error, std::optional<Platform::Milliseconds> clearsAfter = std::nullopt);
    void ClearPrinterError();
    void SetBusy(bool busy);
    void SetMediaRemaining(int count);
    void PinState(BYTE state);  // reported instead of the engine's own (plane gates, invalid states)
    void ReleaseState();
    // A change at a point of a job or a time on the machine clock, e.g.
    //   dock->Script({.plane = 2, .bytes = 1000}, {.error = 1, .lastsFor = Milliseconds(3000)});
    void Script(Dock::Moment when, Dock::StatusChange change);
    void ClearScript();
    // How long each colour pass and the finish of a sheet take (0 by default).
    void SetPassTimes(Platform::Milliseconds pass, Platform::Milliseconds finish);
    // Folder of the PNG files, page-0001.png on (default <MachineRoot>/printed);
    // empty: no files.
    void SetOutputFolder(std::string folder);
    std::string OutputFolder() const;

    std::vector<Dock::PrintedPage> PrintedPages() const;
    std::size_t PrintedPageCount() const;
    unsigned SheetsPrinted() const;  // every copy counts
    std::vector<Dock::PageReception> PageReceptions() const;
    std::vector<Dock::StreamError> PrintErrors() const;
    std::vector<Dock::GateViolation> GateViolations() const;
    std::uint64_t PrintBytesReceived() const;
    std::uint64_t PrintBytesDropped() const;  // while in error or after a malformed head
    // Waits on the machine clock until so many sheets came out; false on
    // time-out.
    bool WaitForSheets(unsigned count, Platform::Milliseconds timeout);
    // Whether print data is kept in the transcript (on by default; a long
    // job holds megabytes per page there).
    void SetRecordPrintData(bool on);
    // Status blocks the host has read since the dock was made (never
    // cleared). A test waits in real time (the clock is the test's to move)
    // until the host's poller has read so many; false on time-out.
    std::uint64_t StatusReads() const;
    bool WaitForStatusReads(std::uint64_t count, std::chrono::milliseconds timeout);

    // UsbPrinterModel
    DWORD Control(DWORD code, const BYTE* in, DWORD inLength, BYTE* out, DWORD outLength, DWORD& returned) override;
    DWORD Write(const BYTE* data, DWORD length, DWORD& written) override;
    DWORD Read(BYTE* buffer, DWORD length, DWORD& read) override;
    void OnAttached() override;
    void OnDetached() override;

protected:
    void OnHostWrite(const BYTE* data, DWORD length) override;

private:
    struct Transfer {
        std::vector<BYTE> bytes;
        std::size_t offset = 0;
        Platform::Milliseconds due{0};
        bool blocking = false;        // reads wait for it (an answer being prepared)
        bool moreData = false;        // its first read reports ERROR_MORE_DATA
        bool pullPlug = false;        // reaching it disconnects the dock
        bool untilNextWrite = false;  // a silent answer: gone when the host writes again
    };

    std::size_t Route(const BYTE* data, std::size_t size);
    void WritePages();
    void Answer(const Fault* fault, std::vector<BYTE> block, bool blocking);
    void HandleRequest(std::string body);
    std::optional<Fault> TakeFault(const std::string& key);
    // The radio: joins, leaves and announces on its own thread, woken by
    // changes of the stored profiles and of the machine's access points.
    void Poke();
    void RunRadio();
    void RadioStep(std::optional<Platform::Milliseconds> changedAt);
    std::optional<Dock::ServiceAnnouncement> Desired(std::string& ssid) const;
    void FramingError(std::string what);
    void Pull();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Dock::PrinterState state_;
    std::map<std::string, Fault> faults_;
    Dock::ExecuteOptions executeOptions_;
    Platform::Milliseconds answerWaitLimit_{30000};
    std::optional<BYTE> framingErrorStatus_;
    bool requireConfigMode_ = true;
    bool dropQueuedOnEnter_ = false;
    std::optional<std::pair<DWORD, DWORD>> writeFailure_;
    std::optional<DWORD> readFailure_;

    mutable Dock::PrintEngine engine_;  // reading the status settles timed passes
    std::string outputFolder_;
    std::string deviceIdBase_;
    bool dynamicDeviceId_ = true;
    std::map<std::string, std::string> deviceIdFields_;
    bool recordPrintData_ = true;
    std::uint64_t statusReads_ = 0;
    std::vector<std::string> fileErrors_;

    std::vector<BYTE> input_;
    std::optional<std::size_t> bodyExpected_;
    std::deque<Transfer> toHost_;
    std::uint64_t generation_ = 0;  // bumped whenever toHost_ changes
    bool connected_ = false;
    DEVINST hub_ = 0;
    unsigned port_ = 0;
    DEVINST node_ = 0;

    const std::uint32_t vendorId_;
    const std::uint32_t productId_;
    const std::string serialNumber_;

    // Guards what follows; never held while the dock's mutex_ is taken or
    // while an announcer runs. Only the radio thread changes joined_.
    mutable std::mutex radioMutex_;
    std::condition_variable radioChanged_;
    bool radioDirty_ = true;
    bool radioStop_ = false;
    std::shared_ptr<Dock::ServiceAnnouncer> announcer_;
    Platform::Milliseconds joinDelay_{5000};
    NetworkFaults networkFaults_;
    struct Joined {
        std::string ssid;
        Dock::ServiceAnnouncement announcement;
    };
    std::optional<Joined> joined_;
    std::optional<std::pair<std::string, Platform::Milliseconds>> pendingJoin_;  // SSID, due
    std::optional<Platform::Milliseconds> pokedAt_;  // earliest change the radio has not looked at
    std::uint64_t airWatch_ = 0;
    std::thread radio_;

    std::vector<TranscriptEntry> transcript_;
    std::vector<ReceivedRequest> requests_;
    std::vector<std::string> framingErrors_;
    Counters counters_;
};

}  // namespace Simulators

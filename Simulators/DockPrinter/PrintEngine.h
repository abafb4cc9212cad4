// The print side of the simulated dock: the engine that takes the print
// stream (a page head, then three colour planes each behind its own head),
// prints each page in three colour passes and reports its state in the
// 12-byte status block. Plain and single-threaded: the dock calls it under
// its own lock, with the machine clock's time.
//
// The engine's state follows the stream: 1 idle; 2 a page head and cyan
// arriving; 4 printing cyan (magenta may arrive); 8 printing magenta (yellow
// may arrive); 16 printing yellow; 32 finishing the sheet (the next page's
// head and cyan may arrive). Each pass lasts the pass time; tests may pin the
// state instead. An error (any non-zero error value) abandons the page being
// received, and print data is dropped until the error clears; a cleared
// error leaves the printer ready for the page to start again.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Simulators::Dock {

using Milliseconds = std::chrono::milliseconds;

inline constexpr std::size_t kStatusBlockSize = 12;
inline constexpr std::size_t kPrintBlockSize = 12;
inline constexpr std::uint8_t kPrintPrefix = 0x30;
inline constexpr std::uint8_t kConfigPrefix = 0x37;

// States of the status block.
inline constexpr std::uint8_t kStateNotReady = 0;
inline constexpr std::uint8_t kStateIdle = 1;
inline constexpr std::uint8_t kStateReceiving = 2;
inline constexpr std::uint8_t kStateCyan = 4;
inline constexpr std::uint8_t kStateMagenta = 8;
inline constexpr std::uint8_t kStateYellow = 16;
inline constexpr std::uint8_t kStateFinishing = 32;

// Error values a printer reports (a few; any 16-bit value may be set).
inline constexpr std::uint16_t kErrorPaperOut = 1;  // also what an empty media tray raises

// Plane size of a paper kind, or 0 for a kind the printer does not know.
struct PaperGeometry {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t PlaneSize() const { return width * height; }
};
std::optional<PaperGeometry> GeometryOfKind(std::uint8_t kind);

// A page as printed: the planes turned back into RGB (red = 255 - cyan ...).
struct PrintedPage {
    unsigned number = 0;  // from 1, in the order the pages came out
    std::uint8_t kind = 0;
    std::uint32_t pin = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;  // row 0 first, R G B per pixel
    unsigned copies = 1;            // identical pages received one after the other
    std::string file;               // the PNG written for it; empty when none was written
};

// What became of each page the printer started to receive.
enum class PageOutcome { Receiving, Printed, Abandoned, Closed, Malformed };
struct PageReception {
    unsigned attempt = 0;     // from 1, every page head counts
    std::uint64_t bytes = 0;  // of the page, its head included
    PageOutcome outcome = PageOutcome::Receiving;
};

struct StreamError {
    std::uint64_t offset = 0;  // of the print data received so far
    std::string what;
};

// Plane bytes that arrived while the state did not allow them.
struct GateViolation {
    unsigned attempt = 0;
    int plane = 0;
    std::uint8_t state = 0;
    std::uint64_t bytes = 0;
};

// A change of the printer's condition; unset fields stay as they are.
struct StatusChange {
    std::optional<std::uint16_t> error{};
    std::optional<bool> flag{};
    std::optional<bool> busy{};
    std::optional<int> media{};
    std::optional<std::uint8_t> pinState{};  // reported instead of the engine's own state
    bool releaseState = false;               // back to the engine's own state
    // Then the change is taken back: the error and flag clear, busy ends,
    // a pinned state is released. The media count stays.
    std::optional<Milliseconds> lastsFor{};
};

// When a scripted change happens. Exactly one of the two is meant.
struct Moment {
    // Plane data bytes (0, 1 or 2 for cyan, magenta, yellow): fires once
    // that many bytes of the plane's data have arrived (0: at its head).
    std::optional<int> plane{};
    std::uint64_t bytes = 0;
    unsigned attempt = 0;  // only on this page attempt; 0: on whichever comes first
    // Machine time.
    std::optional<Milliseconds> at{};
};

struct EngineStatus {
    std::uint8_t state = kStateIdle;  // as reported (pinned or the engine's own)
    std::uint16_t error = 0;
    bool flag = false;
    bool busy = false;
    int media = 0;
};

class PrintEngine {
public:
    struct Options {
        Milliseconds passTime{0};
        Milliseconds finishTime{0};
        int media = 50;
    };
    explicit PrintEngine(Options options);
    PrintEngine() : PrintEngine(Options{}) {}

    // Brings timed passes and scripted moments up to now.
    void Settle(Milliseconds now);

    EngineStatus Status(Milliseconds now);
    std::array<std::uint8_t, kStatusBlockSize> StatusBlock(Milliseconds now);

    // Whether the stream is inside a page (or a head), so every byte is
    // print data whatever it looks like.
    bool InPage() const;
    // After a malformed head the rest of the write is dropped; the next
    // write starts afresh.
    // After an error abandoned a page, the rest is dropped until the error
    // clears, except a write that starts with the block entering
    // configuration mode.
    void StartOfWrite(const std::uint8_t* data, std::size_t size);
    bool Discarding() const;
    // Takes print data; returns how much of it was taken (all of it, unless
    // a page ends and what follows is not print data).
    std::size_t Feed(const std::uint8_t* data, std::size_t size, Milliseconds now);

    void Apply(const StatusChange& change, Milliseconds now);
    void Script(Moment when, StatusChange change);
    void SetPassTimes(Milliseconds pass, Milliseconds finish);
    void ClearScript();

    // Positions in Pages() of the pages printed since the last call (the
    // dock writes their files).
    std::vector<std::size_t> TakeNewPages();
    std::vector<PrintedPage>& Pages() { return pages_; }
    const std::vector<PageReception>& Receptions() const { return receptions_; }
    const std::vector<StreamError>& Errors() const { return errors_; }
    const std::vector<GateViolation>& Violations() const { return violations_; }
    unsigned Sheets() const { return sheets_; }
    std::uint64_t Received() const { return received_; }
    std::uint64_t Dropped() const { return dropped_; }
    void ClearHistory();
    // Something outside the stream went wrong with a page (its file).
    void RecordError(std::string what) { errors_.push_back({received_, std::move(what)}); }
    // Unplugged: the page being received is lost, the passes stop.
    void PowerOff();

private:
    enum class Part { Idle, PageHead, PlaneHead, PlaneData, Discard };
    enum class Phase { None, Cyan, WaitMagenta, Magenta, WaitYellow, Yellow, Finishing };
    struct Timed {
        Milliseconds at;
        StatusChange change;
    };

    std::uint8_t OwnState() const;
    void Fail(std::string what);
    void Abandon(PageOutcome outcome);
    void HeadComplete(Milliseconds now);
    void PlaneComplete(Milliseconds now);
    void PageComplete();
    void StartPass(Phase phase, Milliseconds from);
    void FirePlaneMoments(Milliseconds now);
    std::uint64_t NextPlaneMoment() const;

    Options options_;
    // Condition.
    std::uint16_t error_ = 0;
    bool flag_ = false;
    bool busy_ = false;
    int media_;
    std::optional<std::uint8_t> pinned_;
    std::vector<Timed> timed_;
    std::vector<std::pair<Moment, StatusChange>> scripted_;

    // Receiving.
    Part part_ = Part::Idle;
    std::array<std::uint8_t, kPrintBlockSize> head_{};
    std::size_t headFill_ = 0;
    bool discardUntilClear_ = false;
    int plane_ = 0;
    std::uint64_t planeFill_ = 0;
    std::uint8_t kind_ = 0;
    std::uint32_t pin_ = 0;
    PaperGeometry geometry_;
    std::vector<std::uint8_t> planes_;  // three planes, one after the other
    unsigned attempt_ = 0;

    // Printing: the page whose passes run (its data may still be arriving).
    Phase phase_ = Phase::None;
    Milliseconds phaseEnd_{0};
    int printingPlanes_ = 0;  // planes of the printing page received whole
    bool receivingIsPrinting_ = false;
    bool cyanWaiting_ = false;  // the next page's cyan is in while the sheet before is finishing

    std::vector<PrintedPage> pages_;
    std::size_t newPages_ = 0;
    std::vector<PageReception> receptions_;
    std::vector<StreamError> errors_;
    std::vector<GateViolation> violations_;
    unsigned sheets_ = 0;
    std::uint64_t received_ = 0;
    std::uint64_t dropped_ = 0;
};

}  // namespace Simulators::Dock

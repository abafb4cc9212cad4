#include "Simulators/DockPrinter/PrintEngine.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace Simulators::Dock {

namespace {

constexpr std::uint8_t kPageHeadCode = 0x00;
constexpr std::uint8_t kPlaneHeadCode = 0x01;
constexpr std::uint8_t kCloseCode = 0x10;
constexpr Milliseconds kNever = Milliseconds::max();

std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsCloseBlock(const std::array<std::uint8_t, kPrintBlockSize>& b) {
    return b[0] == kPrintPrefix && b[1] == kCloseCode &&
           std::all_of(b.begin() + 2, b.end(), [](std::uint8_t v) { return v == 0; });
}

std::string Hex(const std::array<std::uint8_t, kPrintBlockSize>& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) out += ' ';
        out += digits[b[i] >> 4];
        out += digits[b[i] & 0xF];
    }
    return out;
}

bool PlaneAllowed(int plane, std::uint8_t state) {
    switch (plane) {
        case 0:
            return state == kStateIdle || state == kStateReceiving || state == kStateCyan || state == kStateFinishing;
        case 1:
            return state == kStateCyan || state == kStateMagenta;
        default:
            return state == kStateMagenta || state == kStateYellow;
    }
}

}  // namespace

std::optional<PaperGeometry> GeometryOfKind(std::uint8_t kind) {
    switch (kind) {
        case 0:
            return PaperGeometry{1248, 1856};
        case 1:
            return PaperGeometry{1100, 1560};
        default:
            return std::nullopt;
    }
}

PrintEngine::PrintEngine(Options options) : options_(options), media_(options.media) {}

// ---- Condition ----

std::uint8_t PrintEngine::OwnState() const {
    switch (phase_) {
        case Phase::Cyan:
        case Phase::WaitMagenta:
            return kStateCyan;
        case Phase::Magenta:
        case Phase::WaitYellow:
            return kStateMagenta;
        case Phase::Yellow:
            return kStateYellow;
        case Phase::Finishing:
            return kStateFinishing;
        case Phase::None:
            break;
    }
    return part_ == Part::Idle || part_ == Part::Discard ? kStateIdle : kStateReceiving;
}

void PrintEngine::Settle(Milliseconds now) {
    for (;;) {
        Milliseconds next = kNever;
        enum { None, PhaseEnd, TimedChange, ScriptedChange } what = None;
        std::size_t index = 0;
        const bool running =
            phase_ == Phase::Cyan || phase_ == Phase::Magenta || phase_ == Phase::Yellow || phase_ == Phase::Finishing;
        if (running && error_ == 0 && phaseEnd_ < next) {
            next = phaseEnd_;
            what = PhaseEnd;
        }
        for (std::size_t i = 0; i < timed_.size(); ++i) {
            if (timed_[i].at < next) {
                next = timed_[i].at;
                what = TimedChange;
                index = i;
            }
        }
        for (std::size_t i = 0; i < scripted_.size(); ++i) {
            if (scripted_[i].first.at && *scripted_[i].first.at < next) {
                next = *scripted_[i].first.at;
                what = ScriptedChange;
                index = i;
            }
        }
        if (what == None || next > now) return;
        if (what == PhaseEnd) {
            switch (phase_) {
                case Phase::Cyan:
                    if (printingPlanes_ >= 2)
                        StartPass(Phase::Magenta, next);
                    else
                        phase_ = Phase::WaitMagenta;
                    break;
                case Phase::Magenta:
                    if (printingPlanes_ >= 3)
                        StartPass(Phase::Yellow, next);
                    else
                        phase_ = Phase::WaitYellow;
                    break;
                case Phase::Yellow:
                    StartPass(Phase::Finishing, next);
                    break;
                default:
                    phase_ = Phase::None;
                    printingPlanes_ = 0;
                    receivingIsPrinting_ = false;
                    if (std::exchange(cyanWaiting_, false)) {
                        printingPlanes_ = 1;
                        receivingIsPrinting_ = true;
                        StartPass(Phase::Cyan, next);
                    }
                    break;
            }
        } else if (what == TimedChange) {
            StatusChange change = timed_[index].change;
            timed_.erase(timed_.begin() + static_cast<std::ptrdiff_t>(index));
            Apply(change, next);
        } else {
            StatusChange change = scripted_[index].second;
            scripted_.erase(scripted_.begin() + static_cast<std::ptrdiff_t>(index));
            Apply(change, next);
        }
    }
}

void PrintEngine::StartPass(Phase phase, Milliseconds from) {
    phase_ = phase;
    phaseEnd_ = from + (phase == Phase::Finishing ? options_.finishTime : options_.passTime);
}

EngineStatus PrintEngine::Status(Milliseconds now) {
    Settle(now);
    EngineStatus status;
    status.state = pinned_ ? *pinned_ : OwnState();
    status.error = error_;
    status.flag = flag_;
    status.busy = busy_;
    status.media = media_;
    return status;
}

std::array<std::uint8_t, kStatusBlockSize> PrintEngine::StatusBlock(Milliseconds now) {
    const EngineStatus status = Status(now);
    std::array<std::uint8_t, kStatusBlockSize> block{};
    block[0] = status.state;
    block[2] = static_cast<std::uint8_t>(status.error & 0xFF);
    block[3] = static_cast<std::uint8_t>(status.error >> 8);
    block[4] = status.flag ? 1 : 0;
    return block;
}

void PrintEngine::Apply(const StatusChange& change, Milliseconds now) {
    if (change.error) {
        const std::uint16_t before = error_;
        error_ = *change.error;
        if (error_ != 0 && part_ != Part::Idle && part_ != Part::Discard) {
            Abandon(PageOutcome::Abandoned);
            // The rest of the page may still be on its way: none of it is a
            // page head.
            part_ = Part::Discard;
            discardUntilClear_ = true;
        }
        if (error_ == 0 && discardUntilClear_) {
            discardUntilClear_ = false;
            if (part_ == Part::Discard) part_ = Part::Idle;
        }
        // A pass stopped by the error runs again from its start.
        if (before != 0 && error_ == 0 && phase_ != Phase::None) {
            phaseEnd_ = now + (phase_ == Phase::Finishing ? options_.finishTime : options_.passTime);
        }
    }
    if (change.flag) flag_ = *change.flag;
    if (change.busy) busy_ = *change.busy;
    if (change.media) media_ = *change.media;
    if (change.releaseState) pinned_.reset();
    if (change.pinState) pinned_ = *change.pinState;
    if (change.lastsFor) {
        StatusChange back;
        if (change.error) back.error = 0;
        if (change.flag) back.flag = false;
        if (change.busy) back.busy = false;
        if (change.pinState) back.releaseState = true;
        timed_.push_back({now + *change.lastsFor, back});
    }
}

void PrintEngine::Script(Moment when, StatusChange change) {
    scripted_.emplace_back(when, std::move(change));
}

void PrintEngine::SetPassTimes(Milliseconds pass, Milliseconds finish) {
    options_.passTime = pass;
    options_.finishTime = finish;
}

void PrintEngine::ClearScript() {
    scripted_.clear();
    timed_.clear();
}

// ---- Receiving ----

bool PrintEngine::InPage() const {
    return part_ == Part::PageHead || part_ == Part::PlaneHead || part_ == Part::PlaneData;
}

void PrintEngine::StartOfWrite(const std::uint8_t* data, std::size_t size) {
    // A write that enters configuration mode always gets through.
    static constexpr std::uint8_t kEnter[kPrintBlockSize] = {kConfigPrefix, 0};
    const bool enter = size >= kPrintBlockSize && std::memcmp(data, kEnter, kPrintBlockSize) == 0;
    if (part_ == Part::Discard && (!discardUntilClear_ || enter)) {
        part_ = Part::Idle;
        discardUntilClear_ = false;
    }
}

bool PrintEngine::Discarding() const {
    return part_ == Part::Discard;
}

void PrintEngine::Fail(std::string what) {
    errors_.push_back({received_, std::move(what)});
    if (part_ != Part::Idle && !receptions_.empty() && receptions_.back().outcome == PageOutcome::Receiving)
        Abandon(PageOutcome::Malformed);
    part_ = Part::Discard;
}

// The page being received is given up; when it was also the one being
// printed, so is its sheet.
void PrintEngine::Abandon(PageOutcome outcome) {
    if (!receptions_.empty() && receptions_.back().outcome == PageOutcome::Receiving)
        receptions_.back().outcome = outcome;
    if (receivingIsPrinting_ && part_ != Part::Idle) {
        phase_ = Phase::None;
        printingPlanes_ = 0;
        receivingIsPrinting_ = false;
    }
    cyanWaiting_ = false;
    part_ = Part::Idle;
    discardUntilClear_ = false;
    planes_.clear();
    planes_.shrink_to_fit();
}

void PrintEngine::HeadComplete(Milliseconds now) {
    if (part_ == Part::PageHead) {
        if (IsCloseBlock(head_)) {  // nothing in progress: nothing to close
            part_ = Part::Idle;
            return;
        }
        if (head_[1] != kPageHeadCode || head_[2] != 0 || U32(&head_[4]) != 0)
            return Fail("Bad page head: " + Hex(head_));
        const auto geometry = GeometryOfKind(head_[3]);
        if (!geometry) return Fail("Unknown paper kind " + std::to_string(head_[3]));
        ++attempt_;
        receivingIsPrinting_ = false;  // a sheet still printing has all its data
        receptions_.push_back({attempt_, kPrintBlockSize, PageOutcome::Receiving});
        kind_ = head_[3];
        pin_ = U32(&head_[8]);
        geometry_ = *geometry;
        plane_ = 0;
        part_ = Part::PlaneHead;
        if (media_ <= 0) {
            Apply({.error = kErrorPaperOut}, now);
            return;
        }
        planes_.assign(static_cast<std::size_t>(geometry_.PlaneSize()) * 3, 0);
        return;
    }
    receptions_.back().bytes += kPrintBlockSize;
    if (IsCloseBlock(head_)) return Abandon(PageOutcome::Closed);
    if (head_[1] != kPlaneHeadCode || head_[3] != 0 || U32(&head_[8]) != 0)
        return Fail("Bad plane head: " + Hex(head_));
    if (head_[2] != plane_) {
        return Fail("Plane " + std::to_string(head_[2]) + " where plane " + std::to_string(plane_) + " was due");
    }
    if (U32(&head_[4]) != geometry_.PlaneSize()) {
        return Fail("Plane size " + std::to_string(U32(&head_[4])) + " for paper kind " + std::to_string(kind_) +
                    ", whose planes hold " + std::to_string(geometry_.PlaneSize()));
    }
    part_ = Part::PlaneData;
    planeFill_ = 0;
}

void PrintEngine::PlaneComplete(Milliseconds now) {
    if (plane_ == 0) {
        if (phase_ == Phase::None) {
            printingPlanes_ = 1;
            receivingIsPrinting_ = true;
            StartPass(Phase::Cyan, now);
        } else {
            cyanWaiting_ = true;
        }
    } else if (receivingIsPrinting_) {
        printingPlanes_ = plane_ + 1;
        if (plane_ == 1 && phase_ == Phase::WaitMagenta) StartPass(Phase::Magenta, now);
        if (plane_ == 2 && phase_ == Phase::WaitYellow) StartPass(Phase::Yellow, now);
    }
    if (plane_ == 2) {
        PageComplete();
        return;
    }
    ++plane_;
    part_ = Part::PlaneHead;
}

void PrintEngine::PageComplete() {
    receptions_.back().outcome = PageOutcome::Printed;
    part_ = Part::Idle;
    ++sheets_;
    if (media_ > 0) --media_;
    const std::size_t pixels = geometry_.PlaneSize();
    std::vector<std::uint8_t> rgb(pixels * 3);
    const std::uint8_t* c = planes_.data();
    const std::uint8_t* m = c + pixels;
    const std::uint8_t* y = m + pixels;
    for (std::size_t i = 0; i < pixels; ++i) {
        rgb[3 * i] = static_cast<std::uint8_t>(255 - c[i]);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(255 - m[i]);
        rgb[3 * i + 2] = static_cast<std::uint8_t>(255 - y[i]);
    }
    planes_.clear();
    planes_.shrink_to_fit();
    if (!pages_.empty()) {
        PrintedPage& last = pages_.back();
        if (last.kind == kind_ && last.pin == pin_ && last.rgb == rgb) {
            ++last.copies;
            return;
        }
    }
    PrintedPage page;
    page.number = static_cast<unsigned>(pages_.size()) + 1;
    page.kind = kind_;
    page.pin = pin_;
    page.width = geometry_.width;
    page.height = geometry_.height;
    page.rgb = std::move(rgb);
    pages_.push_back(std::move(page));
}

std::uint64_t PrintEngine::NextPlaneMoment() const {
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    for (const auto& [when, change] : scripted_) {
        if (when.plane && *when.plane == plane_ && (when.attempt == 0 || when.attempt == attempt_) &&
            when.bytes > planeFill_)
            next = std::min(next, when.bytes);
    }
    return next;
}

void PrintEngine::FirePlaneMoments(Milliseconds now) {
    for (std::size_t i = 0; i < scripted_.size();) {
        const Moment& when = scripted_[i].first;
        if (when.plane && *when.plane == plane_ && (when.attempt == 0 || when.attempt == attempt_) &&
            when.bytes <= planeFill_) {
            StatusChange change = scripted_[i].second;
            scripted_.erase(scripted_.begin() + static_cast<std::ptrdiff_t>(i));
            Apply(change, now);
            if (part_ != Part::PlaneData) return;
        } else {
            ++i;
        }
    }
}

std::size_t PrintEngine::Feed(const std::uint8_t* data, std::size_t size, Milliseconds now) {
    Settle(now);
    std::size_t at = 0;
    auto take = [&](std::size_t n) {
        at += n;
        received_ += n;
    };
    while (at < size) {
        if (part_ == Part::Discard || (error_ != 0 && part_ != Part::Idle) ||
            (error_ != 0 && part_ == Part::Idle && data[at] == kPrintPrefix)) {
            dropped_ += size - at;
            take(size - at);
            break;
        }
        switch (part_) {
            case Part::Idle:
                if (data[at] != kPrintPrefix) return at;
                // Passes that ended meanwhile free the engine for this page.
                Settle(now);
                if (error_ != 0) continue;
                part_ = Part::PageHead;
                headFill_ = 0;
                [[fallthrough]];
            case Part::PageHead:
            case Part::PlaneHead: {
                if (part_ == Part::PlaneHead && headFill_ == 0) {
                    // Between planes: passes that ended meanwhile open the next plane's gate.
                    Settle(now);
                    if (part_ != Part::PlaneHead) continue;
                }
                const std::size_t n = std::min(kPrintBlockSize - headFill_, size - at);
                std::memcpy(head_.data() + headFill_, data + at, n);
                headFill_ += n;
                take(n);
                if (headFill_ == kPrintBlockSize) {
                    HeadComplete(now);
                    headFill_ = 0;
                    if (part_ == Part::PlaneData) FirePlaneMoments(now);
                }
                break;
            }
            case Part::PlaneData: {
                const std::uint64_t planeSize = geometry_.PlaneSize();
                std::uint64_t n64 = std::min<std::uint64_t>(planeSize - planeFill_, size - at);
                const std::uint64_t moment = NextPlaneMoment();
                if (moment != std::numeric_limits<std::uint64_t>::max()) n64 = std::min(n64, moment - planeFill_);
                const auto n = static_cast<std::size_t>(n64);
                const std::uint8_t state = pinned_ ? *pinned_ : OwnState();
                if (!PlaneAllowed(plane_, state)) {
                    if (!violations_.empty() && violations_.back().attempt == attempt_ &&
                        violations_.back().plane == plane_ && violations_.back().state == state)
                        violations_.back().bytes += n;
                    else
                        violations_.push_back({attempt_, plane_, state, n});
                }
                std::memcpy(planes_.data() + static_cast<std::size_t>(plane_) * planeSize + planeFill_, data + at, n);
                planeFill_ += n;
                receptions_.back().bytes += n;
                take(n);
                FirePlaneMoments(now);
                if (part_ == Part::PlaneData && planeFill_ == planeSize) PlaneComplete(now);
                break;
            }
            case Part::Discard:
                break;
        }
    }
    return at;
}

void PrintEngine::PowerOff() {
    if (part_ != Part::Idle && part_ != Part::Discard) Abandon(PageOutcome::Abandoned);
    part_ = Part::Idle;
    discardUntilClear_ = false;
    phase_ = Phase::None;
    printingPlanes_ = 0;
    receivingIsPrinting_ = false;
    cyanWaiting_ = false;
}

std::vector<std::size_t> PrintEngine::TakeNewPages() {
    std::vector<std::size_t> out;
    for (std::size_t i = newPages_; i < pages_.size(); ++i) out.push_back(i);
    newPages_ = pages_.size();
    return out;
}

void PrintEngine::ClearHistory() {
    pages_.clear();
    newPages_ = 0;
    const bool receiving = !receptions_.empty() && receptions_.back().outcome == PageOutcome::Receiving;
    if (receiving) {
        PageReception current = receptions_.back();
        receptions_.assign(1, current);
    } else {
        receptions_.clear();
    }
    errors_.clear();
    violations_.clear();
    sheets_ = 0;
    received_ = 0;
    dropped_ = 0;
}

}  // namespace Simulators::Dock

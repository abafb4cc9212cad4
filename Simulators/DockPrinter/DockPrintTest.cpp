// The dock as a printer, at the byte level: print streams built here from
// the stream's layout and written to the printing interface, status blocks
// read back, pages checked in memory and as PNG files.
#include "Platform/Png.h"
#include "Simulators/DockPrinter/DockPrinter.h"

#include "Platform/Clock.h"
#include "Platform/Files.h"
#include "Platform/Machine.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <functional>
#include <random>

using namespace Simulators;
using namespace Simulators::Dock;
using Platform::Milliseconds;
using Bytes = std::vector<BYTE>;

namespace {

void PutU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

Bytes PageHead(BYTE kind, std::uint32_t pin) {
    Bytes out{0x30, 0x00, 0x00, kind};
    PutU32(out, 0);
    PutU32(out, pin);
    return out;
}

Bytes PlaneHead(BYTE plane, std::uint32_t size) {
    Bytes out{0x30, 0x01, plane, 0x00};
    PutU32(out, size);
    PutU32(out, 0);
    return out;
}

const Bytes kCloseBlock{0x30, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

struct Kind {
    BYTE code;
    std::uint32_t width, height;
    std::uint32_t Size() const { return width * height; }
};
const Kind kKind0{0, 1248, 1856};
const Kind kKind1{1, 1100, 1560};

// Ink of plane p at (x, y): a pattern in which every plane differs.
using Ink = std::function<BYTE(int plane, std::uint32_t x, std::uint32_t y)>;
BYTE Pattern(int plane, std::uint32_t x, std::uint32_t y) {
    switch (plane) {
        case 0:
            return static_cast<BYTE>(x);
        case 1:
            return static_cast<BYTE>(y * 3);
        default:
            return static_cast<BYTE>(x ^ y);
    }
}

Bytes Plane(const Kind& kind, int plane, const Ink& ink) {
    Bytes out = PlaneHead(static_cast<BYTE>(plane), kind.Size());
    out.reserve(out.size() + kind.Size());
    for (std::uint32_t y = 0; y < kind.height; ++y)
        for (std::uint32_t x = 0; x < kind.width; ++x) out.push_back(ink(plane, x, y));
    return out;
}

Bytes Page(const Kind& kind, std::uint32_t pin = 0, const Ink& ink = Pattern) {
    Bytes out = PageHead(kind.code, pin);
    for (int p = 0; p < 3; ++p) {
        const Bytes plane = Plane(kind, p, ink);
        out.insert(out.end(), plane.begin(), plane.end());
    }
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// What the page must look like: each colour the complement of its ink.
std::vector<std::uint8_t> Expected(const Kind& kind, const Ink& ink = Pattern) {
    std::vector<std::uint8_t> rgb;
    rgb.reserve(std::size_t{kind.Size()} * 3);
    for (std::uint32_t y = 0; y < kind.height; ++y)
        for (std::uint32_t x = 0; x < kind.width; ++x)
            for (int p = 0; p < 3; ++p) rgb.push_back(static_cast<std::uint8_t>(255 - ink(p, x, y)));
    return rgb;
}

Bytes Status(BYTE state, std::uint16_t error = 0, bool flag = false) {
    return {state, 0, static_cast<BYTE>(error), static_cast<BYTE>(error >> 8), flag ? BYTE{1} : BYTE{0}, 0, 0, 0, 0, 0,
            0,     0};
}

class DockPrintTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() / ("dockprint-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        hc_ = Platform::GetMachine().Devices().AddHostController(2);
        dock_ = std::make_shared<DockPrinter>();
        dock_->SetOutputFolder(folder_.string());
        dock_->Attach(hc_.rootHub, 1);
        handle_ = CreateFileW(dock_->PrintingInterfacePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        std::filesystem::remove_all(folder_);
    }

    void Send(const Bytes& bytes) { SendPart(bytes, 0, bytes.size()); }
    void SendPart(const Bytes& bytes, std::size_t from, std::size_t count) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(handle_, bytes.data() + from, static_cast<DWORD>(count), &written, nullptr));
        ASSERT_EQ(written, count);
    }
    // In pieces of random sizes, as a monitor cutting its writes would.
    void SendInPieces(const Bytes& bytes, unsigned seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<std::size_t> size(1, 9000);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min(size(random), bytes.size() - at);
            SendPart(bytes, at, n);
            at += n;
        }
    }
    Bytes Read(DWORD size = 12) {
        Bytes buffer(size);
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(handle_, buffer.data(), size, &got, nullptr)) << GetLastError();
        buffer.resize(got);
        return buffer;
    }
    std::string DeviceId() {
        char id[1024] = {};
        DWORD got = 0;
        EXPECT_TRUE(DeviceIoControl(handle_, IOCTL_USBPRINT_GET_1284_ID, id, sizeof id, id, sizeof id, &got, nullptr));
        return std::string(id, got);
    }
    std::vector<PageOutcome> Outcomes() {
        std::vector<PageOutcome> out;
        for (const auto& r : dock_->PageReceptions()) out.push_back(r.outcome);
        return out;
    }

    Platform::ScopedFreshMachine machine_;
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scopedClock_{clock_};
    std::filesystem::path folder_;
    Platform::HostControllerNodes hc_;
    std::shared_ptr<DockPrinter> dock_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(DockPrintTest, PrintsEachPageAsAPngAndKeepsItDecoded) {
    const Bytes page = Page(kKind1, 4321);
    SendInPieces(page, 1);
    ASSERT_EQ(dock_->PrintErrors().size(), 0u);
    auto pages = dock_->PrintedPages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].number, 1u);
    EXPECT_EQ(pages[0].kind, 1);
    EXPECT_EQ(pages[0].pin, 4321u);
    EXPECT_EQ(pages[0].width, 1100u);
    EXPECT_EQ(pages[0].height, 1560u);
    EXPECT_EQ(pages[0].copies, 1u);
    EXPECT_TRUE(pages[0].rgb == Expected(kKind1));
    EXPECT_EQ(pages[0].file, (folder_ / "page-0001.png").string());
    const Platform::RgbImage png = Platform::ReadPng(pages[0].file);
    EXPECT_EQ(png.width, 1100u);
    EXPECT_EQ(png.height, 1560u);
    EXPECT_TRUE(png.rgb == pages[0].rgb);
    EXPECT_EQ(dock_->PrintBytesReceived(), page.size());

    // Copies are the same page again: counted, not written twice. A
    // different page is a new file.
    Send(Join({page, page}));
    const auto white = [](int, std::uint32_t, std::uint32_t) { return BYTE{0}; };
    Send(Page(kKind0, 0, white));
    pages = dock_->PrintedPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].copies, 3u);
    EXPECT_EQ(pages[1].width, 1248u);
    EXPECT_EQ(pages[1].height, 1856u);
    EXPECT_TRUE(pages[1].rgb == std::vector<std::uint8_t>(std::size_t{kKind0.Size()} * 3, 255));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "page-0002.png"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "page-0003.png"));
    EXPECT_EQ(dock_->SheetsPrinted(), 4u);
    EXPECT_TRUE(dock_->GateViolations().empty());
    // The media count goes down a sheet at a time.
    EXPECT_NE(DeviceId().find("PUR:46;PRB:0;"), std::string::npos);
    EXPECT_EQ(Read(), Status(kStateIdle));
}

TEST_F(DockPrintTest, WritesNoFileWithoutAFolderAndConfigurationStillWorksBetweenPages) {
    dock_->SetOutputFolder("");
    const Bytes page = Page(kKind1);
    // A configuration session between two pages, and the enter block's
    // bytes inside plane data are only ink.
    const auto ink = [](int, std::uint32_t x, std::uint32_t) { return static_cast<BYTE>(x % 2 ? 0x37 : 0x00); };
    Send(Join({page, Bytes{0x37, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));
    EXPECT_TRUE(dock_->InConfigMode());
    EXPECT_EQ(Read(512), (Bytes{0x37, 0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    Send(Bytes{0x37, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Read(512), (Bytes{0x37, 0x01, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    Send(Page(kKind1, 0, ink));
    EXPECT_FALSE(dock_->InConfigMode());
    const auto pages = dock_->PrintedPages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(pages[1].rgb == Expected(kKind1, ink));
    EXPECT_TRUE(pages[0].file.empty());
    EXPECT_FALSE(std::filesystem::exists(folder_));
    EXPECT_EQ(dock_->GetCounters().framingErrors, 0u);
    EXPECT_TRUE(dock_->WaitForSheets(2, Milliseconds(0)));

    // Print data can be left out of the transcript; configuration blocks stay.
    dock_->ClearHistory();
    dock_->SetRecordPrintData(false);
    Send(page);
    Send(Bytes{0x37, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto transcript = dock_->Transcript();
    ASSERT_EQ(transcript.size(), 1u);
    EXPECT_EQ(transcript[0].bytes.size(), 12u);
    EXPECT_EQ(dock_->SheetsPrinted(), 1u);
}

TEST_F(DockPrintTest, StatusFollowsThePassesOnTheMachineClock) {
    dock_->SetPassTimes(Milliseconds(1000), Milliseconds(500));
    const Bytes page = Page(kKind1);
    const std::size_t plane = 12 + kKind1.Size();
    const std::size_t endC = 12 + plane, endM = endC + plane;
    EXPECT_EQ(Read(), Status(kStateIdle));
    SendPart(page, 0, 100);
    EXPECT_EQ(Read(), Status(kStateReceiving));
    SendPart(page, 100, endC - 100);
    EXPECT_EQ(Read(), Status(kStateCyan));
    SendPart(page, endC, endM - endC);  // magenta in while cyan prints
    EXPECT_EQ(Read(), Status(kStateCyan));
    clock_->Advance(Milliseconds(999));
    EXPECT_EQ(Read(), Status(kStateCyan));
    clock_->Advance(Milliseconds(1));
    EXPECT_EQ(Read(), Status(kStateMagenta));
    clock_->Advance(Milliseconds(1000));  // magenta printed, yellow not here yet
    EXPECT_EQ(Read(), Status(kStateMagenta));
    SendPart(page, endM, page.size() - endM);
    EXPECT_EQ(Read(), Status(kStateYellow));
    EXPECT_EQ(dock_->SheetsPrinted(), 1u);
    // The next page's head and cyan may come while the sheet finishes; its
    // cyan pass starts once the sheet is out.
    clock_->Advance(Milliseconds(1000));
    EXPECT_EQ(Read(), Status(kStateFinishing));
    SendPart(page, 0, endC);
    EXPECT_EQ(Read(), Status(kStateFinishing));
    clock_->Advance(Milliseconds(500));
    EXPECT_EQ(Read(), Status(kStateCyan));
    EXPECT_TRUE(dock_->GateViolations().empty());
}

TEST_F(DockPrintTest, StatusBlockCarriesErrorFlagAndPinnedStates) {
    dock_->ChangeStatus({.error = 0x4800, .flag = true});
    EXPECT_EQ(Read(), Status(kStateIdle, 0x4800, true));
    dock_->ClearPrinterError();
    dock_->PinState(3);  // a state the poller must ignore
    EXPECT_EQ(Read(), Status(3));
    dock_->PinState(0x42);
    EXPECT_EQ(Read(), Status(0x42));
    dock_->ReleaseState();
    EXPECT_EQ(Read(), Status(kStateIdle));

    // Short and missing reads of the block, as the status fault says.
    dock_->SetFault(DockPrinter::kStatus, {.times = 1, .split = {5}});
    EXPECT_EQ(Read(), Bytes({kStateIdle, 0, 0, 0, 0}));
    EXPECT_EQ(Read(), Bytes(7, 0));
    dock_->SetFault(DockPrinter::kStatus, {.times = 1, .silent = true});
    EXPECT_TRUE(Read().empty());
    EXPECT_EQ(Read(), Status(kStateIdle));

    dock_->SetBusy(true);
    EXPECT_NE(DeviceId().find(";PRB:1;"), std::string::npos);
    dock_->SetDeviceIdField("TSZ", "2");
    dock_->SetDeviceIdField("PHD", "H1");
    EXPECT_EQ(DeviceId(), DockPrinter::DefaultDeviceId() + "PHD:H1;TSZ:2;PUR:50;PRB:1;");
    dock_->SetDeviceIdBase("MFG:X;MDL:Y;", false);
    EXPECT_EQ(DeviceId(), "MFG:X;MDL:Y;");
    dock_->SetDeviceId("MFG:Z;MDL:W;");
    EXPECT_EQ(DeviceId(), "MFG:Z;MDL:W;");
    dock_->SetDeviceId("");  // no id: the control fails
    char id[64];
    DWORD got = 0;
    EXPECT_FALSE(DeviceIoControl(handle_, IOCTL_USBPRINT_GET_1284_ID, id, sizeof id, id, sizeof id, &got, nullptr));
}

TEST_F(DockPrintTest, ScriptedErrorAbandonsThePageUntilItClearsThenThePageComesAgain) {
    const Bytes page = Page(kKind1);
    dock_->Script({.plane = 2, .bytes = 1000}, {.error = 1, .lastsFor = Milliseconds(3000)});
    SendInPieces(page, 2);  // the rest of the page is dropped
    EXPECT_EQ(Read(), Status(kStateIdle, 1));
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Abandoned}));
    EXPECT_EQ(dock_->PageReceptions()[0].bytes, 12 + 2 * (12 + kKind1.Size()) + 12 + 1000);
    EXPECT_EQ(dock_->PrintBytesDropped(), kKind1.Size() - 1000);
    EXPECT_EQ(dock_->PrintedPageCount(), 0u);
    clock_->Advance(Milliseconds(2999));
    EXPECT_EQ(Read(), Status(kStateIdle, 1));
    clock_->Advance(Milliseconds(1));
    EXPECT_EQ(Read(), Status(kStateIdle));
    SendInPieces(page, 3);  // the re-send from the page's start
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Abandoned, PageOutcome::Printed}));
    ASSERT_EQ(dock_->PrintedPageCount(), 1u);
    EXPECT_TRUE(dock_->PrintedPages()[0].rgb == Expected(kKind1));

    // A scripted moment on the clock, and one on a given attempt only.
    const auto now = clock_->Now();
    dock_->Script({.at = now + Milliseconds(2000)}, {.error = 2});
    dock_->Script({.plane = 0, .bytes = 0, .attempt = 4}, {.busy = true});
    clock_->Advance(Milliseconds(1999));
    EXPECT_EQ(Read(), Status(kStateIdle));
    clock_->Advance(Milliseconds(1));
    EXPECT_EQ(Read(), Status(kStateIdle, 2));
    Send(page);  // dropped whole while the fatal error stands
    EXPECT_EQ(dock_->PageReceptions().size(), 2u);
    dock_->ClearPrinterError();
    Send(page);
    EXPECT_FALSE(dock_->PrinterStatus().busy);
    Send(page);
    EXPECT_TRUE(dock_->PrinterStatus().busy);
}

TEST_F(DockPrintTest, AnEmptyTrayRaisesPaperOutAtThePageHead) {
    dock_->SetMediaRemaining(1);
    const Bytes page = Page(kKind1);
    Send(Join({page, page}));
    EXPECT_EQ(dock_->SheetsPrinted(), 1u);
    EXPECT_EQ(Read(), Status(kStateIdle, kErrorPaperOut));
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Printed, PageOutcome::Abandoned}));
    EXPECT_NE(DeviceId().find("PUR:0;"), std::string::npos);
    dock_->SetMediaRemaining(10);
    dock_->ClearPrinterError();
    Send(page);
    EXPECT_EQ(dock_->SheetsPrinted(), 2u);
}

TEST_F(DockPrintTest, PlaneDataOutsideItsStatesIsRecorded) {
    const Bytes page = Page(kKind1);
    dock_->SetPassTimes(Milliseconds(1000), Milliseconds(0));
    dock_->PinState(kStateReceiving);
    Send(page);
    const auto violations = dock_->GateViolations();
    ASSERT_EQ(violations.size(), 2u);
    EXPECT_EQ(violations[0].plane, 1);
    EXPECT_EQ(violations[0].state, kStateReceiving);
    EXPECT_EQ(violations[0].bytes, kKind1.Size());
    EXPECT_EQ(violations[1].plane, 2);
    // The page itself still prints.
    EXPECT_EQ(dock_->PrintedPageCount(), 1u);

    // Yellow sent while cyan still prints is too early as well.
    dock_->ReleaseState();
    clock_->Advance(Milliseconds(5000));
    Send(page);
    const auto more = dock_->GateViolations();
    ASSERT_EQ(more.size(), 3u);
    EXPECT_EQ(more[2].plane, 2);
    EXPECT_EQ(more[2].state, kStateCyan);
    EXPECT_EQ(more[2].attempt, 2u);
}

TEST_F(DockPrintTest, MalformedStreamsAreRecordedAndTheNextWriteStartsAfresh) {
    const Bytes good = Page(kKind1);
    const std::size_t planeHead0 = 12, planeHead1 = 24 + kKind1.Size();
    auto with = [&](std::size_t at, std::initializer_list<std::pair<std::size_t, BYTE>> changes) {
        Bytes bad(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at + 12));
        for (auto [offset, value] : changes) bad[at + offset] = value;
        return bad;
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Case> cases = {
        {"page head code", with(0, {{1, 0x02}})},
        {"page head byte 2", with(0, {{2, 0x01}})},
        {"unknown paper kind", with(0, {{3, 0x02}})},
        {"page head reserved", with(0, {{5, 0x01}})},
        {"plane head code", with(planeHead0, {{1, 0x02}})},
        {"plane out of order", with(planeHead0, {{2, 0x01}})},
        {"plane head byte 3", with(planeHead0, {{3, 0x01}})},
        {"plane size of the other kind", Join({PageHead(1, 0), PlaneHead(0, kKind0.Size())})},
        {"plane size one short", with(planeHead0, {{4, static_cast<BYTE>(kKind1.Size() - 1)}})},
        {"plane head reserved", with(planeHead0, {{11, 0x80}})},
        {"second plane repeats the first", with(planeHead1, {{2, 0x00}})},
        {"third plane skipped", with(planeHead1, {{2, 0x02}})},
    };
    std::size_t errors = 0;
    for (const auto& c : cases) {
        Send(c.bytes);
        EXPECT_EQ(dock_->PrintErrors().size(), ++errors) << c.name;
        // Whatever follows in the same write is dropped ...
        Send(Join({c.bytes, good}));
        EXPECT_EQ(dock_->PrintErrors().size(), ++errors) << c.name;
        // ... and the next write is read as a stream again.
        Send(good);
        EXPECT_EQ(dock_->PrintErrors().size(), errors) << c.name;
    }
    EXPECT_EQ(dock_->PrintedPageCount(), 1u);
    EXPECT_EQ(dock_->SheetsPrinted(), cases.size());
    EXPECT_EQ(Read(), Status(kStateIdle));
}

TEST_F(DockPrintTest, AClosingBlockEndsAPageLeftIncomplete) {
    const Bytes good = Page(kKind1);
    const std::size_t endM = 12 + 2 * (12 + kKind1.Size());
    // As a monitor ends a job in the middle of a plane: zeros to the plane's end, then the closing block.
    Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(endM - 500));
    cut.resize(endM, 0);
    Send(Join({cut, kCloseBlock}));
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Closed}));
    EXPECT_TRUE(dock_->PrintErrors().empty());
    EXPECT_EQ(Read(), Status(kStateIdle));
    Send(kCloseBlock);  // nothing to close between pages
    Send(good);
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Closed, PageOutcome::Printed}));
    EXPECT_TRUE(dock_->PrintErrors().empty());
}

TEST_F(DockPrintTest, PullingThePlugLosesThePageInProgress) {
    const Bytes good = Page(kKind1);
    SendPart(good, 0, 5000);
    dock_->Unplug();
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    dock_->Attach(hc_.rootHub, 1);
    handle_ = CreateFileW(dock_->PrintingInterfacePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
    Send(good);
    EXPECT_EQ(Outcomes(), (std::vector{PageOutcome::Abandoned, PageOutcome::Printed}));
}

}  // namespace

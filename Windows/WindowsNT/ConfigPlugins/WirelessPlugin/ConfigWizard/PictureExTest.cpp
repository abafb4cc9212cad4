#include "PictureEx.h"

#include "Mfc/GTestDriver.h"
#include "Mfc/TestGif.h"
#include "Platform/Kernel.h"
#include "Platform/Paths.h"
#include "Platform/Resource.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
namespace Gif = Mfc::TestGif;
using Gif::Bytes;

// The walker's and the drawing thread's state, for the tests.
class TestPicture : public CPictureEx {
public:
    using CPictureEx::GetNextBlock;
    using CPictureEx::GetNextBlockLen;
    using CPictureEx::GetNextGraphicBlock;
    using CPictureEx::SkipNextBlock;
    using CPictureEx::SkipNextGraphicBlock;

    // Points the walker at `gif` (kept by the caller) after its header.
    void Walk(const Bytes& gif) {
        m_pRawData = gif.data();
        m_nDataSize = static_cast<UINT>(gif.size());
        m_nGlobalCTSize = (gif[10] & 0x80) ? 3u << ((gif[10] & 7) + 1) : 0;
        ResetDataPointer();
    }
    void EndWalk() {
        m_pRawData = nullptr;
        m_nDataSize = 0;
    }
    UINT Offset() const { return m_nCurrOffset; }
    const std::vector<TFrame>& Frames() const { return m_arrFrames; }
    int CurrentFrame() const { return m_nCurrFrame.load(); }
    bool HasThread() const { return m_thread.joinable(); }
    std::thread::id ThreadId() const { return m_thread.get_id(); }

    // A drawing thread that ends only when `release` is set.
    void StartStuckThread(std::atomic<bool>& release) {
        {
            std::lock_guard lock(m_exitMutex);
            m_bThreadEnded = false;
        }
        m_bIsPlaying = true;
        m_thread = std::thread([this, &release] {
            while (!release.load()) std::this_thread::sleep_for(1ms);
            {
                std::lock_guard lock(m_exitMutex);
                m_bThreadEnded = true;
            }
            m_exitEvent.notify_all();
        });
    }
};

const std::vector<Gif::Colour> kColours{{255, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}};
constexpr COLORREF kWhite = RGB(255, 255, 255), kBlue = RGB(0, 0, 255), kYellow = RGB(255, 255, 0);

// A 10 x 8 animation: a white frame with its two red corners transparent
// (delay 0, restore to background); a blue 4 x 3 frame at (2, 1) (delay 3,
// restore to previous); a yellow 5 x 4 frame at (5, 4) in colours of its
// own, with a comment between its control extension and its image (delay
// 20, left in place).
struct ThreeFrames {
    ThreeFrames() {
        Bytes white(80, 1);
        white[0] = white[79] = 0;
        frames[0] = Gif::Join({Gif::Control(2, 0, 0), Gif::Image(0, 0, 10, 8, white)});
        frames[1] = Gif::Join({Gif::Control(3, 3), Gif::Image(2, 1, 4, 3, Bytes(12, 2))});
        frames[2] = Gif::Join({Gif::Control(1, 20), Gif::Comment("yellow"),
                               Gif::Image(5, 4, 5, 4, Bytes(20, 1), {{0, 0, 0}, {255, 255, 0}})});
        gif = Gif::Join({header, Gif::Application(), Gif::Comment("made for the test"), frames[0], frames[1], frames[2],
                         Gif::Trailer()});
    }
    // The one-frame GIF the walker makes of frame `i`.
    Bytes Single(int i) const { return Gif::Join({header, frames[i], Gif::Trailer()}); }

    Bytes header = Gif::Header(10, 8, kColours, 1);
    Bytes frames[3];
    Bytes gif;
};

Bytes Contents(const Platform::GlobalMemory& memory, UINT length) {
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(memory.get()));
    Bytes out(bytes, bytes + length);
    GlobalUnlock(memory.get());
    return out;
}

constexpr char kDialog[] = R"rc(
DIALOG 1 200 120 "Pictures"
    PICTURE 12042 "" 10 10 20 20
END
)rc";

class PictureExTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialog.Create(1));
        ASSERT_TRUE(picture.SubclassDlgItem(12042, &dialog));
        gdiBefore = Mfc::GdiObjectCount();
        handlesBefore = Platform::OpenHandleCount();
    }
    void TearDown() override {
        picture.UnLoad();
        EXPECT_EQ(Mfc::GdiObjectCount(), gdiBefore) << "bitmaps and contexts all went with UnLoad";
        EXPECT_EQ(Platform::OpenHandleCount(), handlesBefore) << "global memory all went";
    }

    // Loads through global memory of exactly the data's size.
    BOOL Load(const Bytes& bytes, DWORD size = 0) {
        Platform::GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
        if (!bytes.empty()) std::memcpy(GlobalLock(memory.get()), bytes.data(), bytes.size());
        GlobalUnlock(memory.get());
        return picture.Load(memory.get(), size != 0 ? size : static_cast<DWORD>(bytes.size()));
    }

    COLORREF Pixel(int x, int y) {
        const Platform::RgbImage image = Mfc::CaptureWindow(picture.m_hWnd);
        if (x < 0 || y < 0 || x >= static_cast<int>(image.width) || y >= static_cast<int>(image.height))
            return CLR_INVALID;
        const std::uint8_t* p = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
        return RGB(p[0], p[1], p[2]);
    }
    // Pumps until the window shows `colour` at (x, y).
    bool Shows(int x, int y, COLORREF colour) {
        return driver.PumpUntil([&] { return Pixel(x, y) == colour; }, 5s);
    }
    // Nothing changes while the clock stands still short of the next frame.
    void ExpectStill(int x, int y, COLORREF colour) {
        std::this_thread::sleep_for(30ms);
        driver.PumpUntilIdle();
        EXPECT_EQ(Pixel(x, y), colour);
    }

    Platform::ResourceRegistration registration =
        Platform::RegisterMainResources(Platform::ParseResourceText(kDialog, "test"));
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    CDialog dialog;
    TestPicture picture;
    ThreeFrames three;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    std::size_t gdiBefore = 0;
    std::size_t handlesBefore = 0;
};

TEST_F(PictureExTest, TheWalkerFindsEachFrameWithItsTimingAndMakesItAGifOfItsOwn) {
    const Bytes gif(three.gif.begin(), three.gif.end());
    picture.Walk(gif);
    EXPECT_EQ(picture.GetNextBlock(), CPictureEx::BLOCK_APPEXT);
    EXPECT_EQ(picture.GetNextBlockLen(), 19);
    ASSERT_TRUE(picture.SkipNextBlock());
    EXPECT_EQ(picture.GetNextBlock(), CPictureEx::BLOCK_COMMEXT);
    EXPECT_EQ(picture.GetNextBlockLen(), 2 + 1 + 17 + 1);
    ASSERT_TRUE(picture.SkipNextBlock());
    EXPECT_EQ(picture.GetNextBlock(), CPictureEx::BLOCK_CONTROLEXT);
    EXPECT_EQ(picture.GetNextBlockLen(), 8);

    picture.Walk(gif);
    int count = 0;
    while (picture.SkipNextGraphicBlock()) ++count;
    EXPECT_EQ(count, 3);
    EXPECT_EQ(picture.GetNextBlock(), CPictureEx::BLOCK_TRAILER);

    picture.Walk(gif);
    const int delays[] = {0, 3, 20};
    const UINT disposals[] = {2, 3, 1};
    const SIZE sizes[] = {{10, 8}, {4, 3}, {5, 4}};
    const SIZE offsets[] = {{0, 0}, {2, 1}, {5, 4}};
    for (int i = 0; i < 3; ++i) {
        UINT length = 0, disposal = 9;
        int delay = -2;
        SIZE size, offset;
        const auto single = picture.GetNextGraphicBlock(&length, &delay, &size, &offset, &disposal);
        ASSERT_TRUE(single) << "frame " << i;
        EXPECT_EQ(Contents(single, length), three.Single(i)) << "frame " << i;
        EXPECT_EQ(length, GlobalSize(single.get()));
        EXPECT_EQ(delay, delays[i]);
        EXPECT_EQ(disposal, disposals[i]);
        EXPECT_EQ(size.cx, sizes[i].cx);
        EXPECT_EQ(size.cy, sizes[i].cy);
        EXPECT_EQ(offset.cx, offsets[i].cx);
        EXPECT_EQ(offset.cy, offsets[i].cy);
    }
    UINT length = 0, disposal = 0;
    int delay = 0;
    SIZE size, offset;
    EXPECT_FALSE(picture.GetNextGraphicBlock(&length, &delay, &size, &offset, &disposal));

    // A frame without a control extension has no delay.
    const Bytes bare = Gif::Join({three.header, Gif::Image(0, 0, 1, 1, {1}), Gif::Trailer()});
    picture.Walk(bare);
    ASSERT_TRUE(picture.GetNextGraphicBlock(&length, &delay, &size, &offset, &disposal));
    EXPECT_EQ(delay, -1);
    picture.EndWalk();
}

TEST_F(PictureExTest, AnAnimationLoadsItsFramesAndSizesTheWindowToThePicture) {
    ASSERT_TRUE(Load(three.gif));
    EXPECT_TRUE(picture.IsGIF());
    EXPECT_TRUE(picture.IsAnimatedGIF());
    EXPECT_EQ(picture.GetFrameCount(), 3);
    EXPECT_EQ(picture.GetSize().cx, 10);
    EXPECT_EQ(picture.GetSize().cy, 8);
    RECT window;
    picture.GetClientRect(&window);
    EXPECT_EQ(window.right, 10);
    EXPECT_EQ(window.bottom, 8);
    EXPECT_EQ(picture.GetBkColor(), face);
    ASSERT_EQ(picture.Frames().size(), 3u);
    EXPECT_EQ(picture.Frames()[2].m_pPicture->Size().cx, 5);
    EXPECT_EQ(picture.Frames()[1].m_nDelay, 3);
    EXPECT_FALSE(picture.IsPlaying());

    // A still picture: a GIF of one frame.
    ASSERT_TRUE(Load(three.Single(1)));
    EXPECT_TRUE(picture.IsGIF());
    EXPECT_FALSE(picture.IsAnimatedGIF());
    EXPECT_EQ(picture.GetFrameCount(), 0);
    EXPECT_EQ(picture.GetSize().cx, 4) << "a still picture has the size of its image";
    EXPECT_TRUE(picture.Draw());
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_TRUE(Shows(0, 0, kBlue));
    EXPECT_NE(Mfc::RenderWindow(dialog.m_hWnd).find("12042 static \"\" picture 4x3\n"), std::string::npos)
        << Mfc::RenderWindow(dialog.m_hWnd);

    picture.UnLoad();
    EXPECT_FALSE(picture.Draw()) << "nothing to draw";
    EXPECT_EQ(picture.GetBkColor(), kWhite);
    EXPECT_FALSE(picture.IsGIF());
}

TEST_F(PictureExTest, MalformedGifsFailOrLoseTheirBrokenFramesWithoutReadingPastTheData) {
    const Bytes& gif = three.gif;
    // The comment's sub-block reaches past the end.
    const std::size_t commentLength = three.header.size() + Gif::Application().size() + 2;
    Bytes overrun(gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(commentLength + 100));
    overrun[commentLength] = 0xFF;
    EXPECT_FALSE(Load(overrun));

    EXPECT_FALSE(Load(Bytes(gif.begin(), gif.begin() + 12))) << "header cut short";
    EXPECT_FALSE(Load(Bytes(gif.begin(), gif.begin() + 20))) << "colour table cut short";
    Bytes background = gif;
    background[11] = 4;  // the table has 4 entries
    EXPECT_FALSE(Load(background));
    Bytes version = gif;
    version[4] = '8';
    EXPECT_FALSE(Load(version)) << "GIF88a is no GIF and no other picture either";
    EXPECT_FALSE(picture.IsGIF());
    EXPECT_FALSE(Load(gif, static_cast<DWORD>(gif.size() + 1))) << "a size beyond the memory";
    // Frames far larger than any picture shown.
    Bytes big = Gif::Header(4000, 4000, kColours);
    for (int i = 0; i < 5; ++i) big = Gif::Join({big, Gif::Control(0, 5), Gif::Image(0, 0, 4000, 4000, {})});
    EXPECT_FALSE(Load(Gif::Join({big, Gif::Trailer()})));
    EXPECT_FALSE(picture.IsGIF()) << "a failed load leaves the control empty";

    // Cut inside the last frame: the two before it play.
    EXPECT_TRUE(Load(Bytes(gif.begin(), gif.end() - 5)));
    EXPECT_EQ(picture.GetFrameCount(), 2);
    // An unknown block ends the walk.
    EXPECT_TRUE(Load(Gif::Join(
        {three.header, three.frames[0], three.frames[1], Bytes{0x21, 0x77, 0}, three.frames[2], Gif::Trailer()})));
    EXPECT_EQ(picture.GetFrameCount(), 2);
    // A frame that the picture loader refuses is left out.
    const Bytes empty = Gif::Join({Gif::Control(0, 5), Gif::Image(2, 1, 0, 3, {})});
    EXPECT_TRUE(Load(Gif::Join({three.header, three.frames[0], empty, three.frames[2], Gif::Trailer()})));
    EXPECT_EQ(picture.GetFrameCount(), 2);

    // Every cut of the data loads or fails cleanly.
    for (std::size_t cut = 1; cut < gif.size(); ++cut) Load(Bytes(gif.begin(), gif.begin() + cut));
}

// The drawing thread against the window's: named for the ThreadSanitizer run.
using PictureExThreadTest = PictureExTest;

TEST_F(PictureExThreadTest, PlaybackFollowsTheDelaysAndDisposalsOnTheMachinesClock) {
    ASSERT_TRUE(Load(three.gif));
    EXPECT_FALSE(picture.Draw()) << "an animation starts playing and reports 0";
    EXPECT_TRUE(picture.IsPlaying());
    const auto thread = picture.ThreadId();
    EXPECT_FALSE(picture.Draw());
    EXPECT_EQ(picture.ThreadId(), thread) << "a second Draw starts no second thread";

    // Frame 1: white, its transparent corner shows the background.
    ASSERT_TRUE(Shows(1, 1, kWhite));
    EXPECT_EQ(Pixel(0, 0), face);
    EXPECT_NE(Mfc::RenderWindow(dialog.m_hWnd).find("picture 10x8 frame 1/3"), std::string::npos)
        << Mfc::RenderWindow(dialog.m_hWnd);
    driver.Advance(99ms);
    ExpectStill(3, 2, kWhite);
    // A delay below 5 shows the frame for 100 ms; frame 1 goes back to the background.
    driver.Advance(1ms);
    ASSERT_TRUE(Shows(3, 2, kBlue));
    EXPECT_EQ(Pixel(1, 1), face);
    EXPECT_EQ(picture.CurrentFrame(), 1);
    driver.Advance(99ms);
    ExpectStill(3, 2, kBlue);
    // Frame 2 gives back what it covered; frame 3 is drawn in its own colours.
    driver.Advance(1ms);
    ASSERT_TRUE(Shows(6, 5, kYellow));
    EXPECT_EQ(Pixel(3, 2), face);
    EXPECT_NE(Mfc::RenderWindow(dialog.m_hWnd).find("picture 10x8 frame 3/3"), std::string::npos);
    driver.Advance(199ms);
    ExpectStill(6, 5, kYellow);
    // After the last frame the picture is cleared and starts again.
    driver.Advance(1ms);
    ASSERT_TRUE(Shows(6, 5, kWhite));
    EXPECT_EQ(picture.CurrentFrame(), 0);

    picture.Stop();
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_FALSE(picture.HasThread()) << "Stop joined the drawing thread";
    picture.Stop();  // not playing: returns at once

    // Playing again goes on from the frame on show.
    driver.Advance(100ms);
    EXPECT_FALSE(picture.Draw());
    EXPECT_TRUE(picture.IsPlaying());
    ExpectStill(3, 2, kWhite);
    driver.Advance(100ms);
    ASSERT_TRUE(Shows(3, 2, kBlue));
    // Unloading while playing: the frames go once the thread has ended.
    picture.UnLoad();
    EXPECT_FALSE(picture.HasThread());
    EXPECT_FALSE(picture.IsAnimatedGIF());
}

TEST_F(PictureExThreadTest, DestroyingTheWindowStopsTheAnimation) {
    ASSERT_TRUE(Load(three.gif));
    picture.Draw();
    ASSERT_TRUE(Shows(1, 1, kWhite));
    dialog.DestroyWindow();
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_FALSE(picture.HasThread());
}

TEST_F(PictureExThreadTest, StopWaitsForTheDrawingThreadFiveSecondsOfTheMachinesClockAtMost) {
    std::atomic<bool> release{false};
    picture.StartStuckThread(release);
    const auto clock = driver.Clock();
    const auto before = clock->Now();
    std::thread mover([&] {
        std::this_thread::sleep_for(20ms);
        clock->Advance(4999ms);
        std::this_thread::sleep_for(20ms);
        clock->Advance(1ms);
    });
    picture.Stop();
    mover.join();
    EXPECT_GE(clock->Now() - before, 5000ms);
    EXPECT_TRUE(picture.HasThread()) << "still running: left to be joined";
    EXPECT_FALSE(picture.IsPlaying());
    release = true;
    picture.UnLoad();
    EXPECT_FALSE(picture.HasThread());
}

// The library's own animations, for the scan and the search. With
// VELMO_PICTURE_DIR set, each frame is written there as a PNG file to look at.
TEST_F(PictureExThreadTest, TheLibrarysAnimationsLoadFromItsResources) {
    EXPECT_FALSE(picture.Load(MAKEINTRESOURCEW(112), u"GIF"));
    EXPECT_FALSE(picture.Load(MAKEINTRESOURCEW(110), u"PNG"));
    const char* folder = std::getenv("VELMO_PICTURE_DIR");
    for (UINT id : {110u, 111u}) {
        ASSERT_TRUE(id == 110 ? picture.Load(MAKEINTRESOURCEW(110), u"GIF") : picture.Load(u"#111", u"gif")) << id;
        EXPECT_EQ(picture.GetFrameCount(), 4) << id;
        EXPECT_EQ(picture.GetSize().cx, id == 110 ? 40 : 96);
        EXPECT_EQ(picture.GetSize().cy, id == 110 ? 40 : 64);
        picture.Draw();
        for (int frame = 0; frame < 4; ++frame) {
            ASSERT_TRUE(driver.PumpUntil([&] {
                return Mfc::RenderWindow(dialog.m_hWnd).find("frame " + std::to_string(frame + 1) + "/4") !=
                       std::string::npos;
            }));
            // The frame is drawn before its number shows; give its paint time to arrive.
            std::this_thread::sleep_for(20ms);
            driver.PumpUntilIdle();
            if (folder != nullptr) {
                Mfc::WriteWindowPng(picture.m_hWnd, std::string(folder) + "/picture-" + std::to_string(id) + "-" +
                                                        std::to_string(frame + 1) + ".png");
            }
            driver.Advance(std::chrono::milliseconds(10 * picture.Frames()[static_cast<std::size_t>(frame)].m_nDelay));
        }
        picture.Stop();
    }
}

TEST_F(PictureExTest, APictureFileLoadsFromTheMachine) {
    const auto root = std::filesystem::temp_directory_path() / ("pictureex-" + std::to_string(getpid()));
    ::setenv("VELMO_MACHINE_ROOT", root.c_str(), 1);
    const std::string path = Platform::MapPath(u"C:\\Pictures\\three.gif");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(three.gif.data()), static_cast<std::streamsize>(three.gif.size()));
    EXPECT_TRUE(picture.Load(u"C:\\Pictures\\three.gif"));
    EXPECT_EQ(picture.GetFrameCount(), 3);
    EXPECT_FALSE(picture.Load(u"C:\\Pictures\\none.gif"));
    ::unsetenv("VELMO_MACHINE_ROOT");
    std::filesystem::remove_all(root);
}

}  // namespace

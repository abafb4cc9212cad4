#include "Mfc/Picture.h"
#include "Mfc/TestGif.h"
#include "Mfc/WinGdi.h"
#include "TestDialogs.h"

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

using MfcTest::DialogFixture;
using MfcTest::TestDialog;
namespace Gif = Mfc::TestGif;

constexpr COLORREF kRed = RGB(255, 0, 0), kBlue = RGB(0, 0, 255), kWhite = RGB(255, 255, 255);

// A memory device context with a bitmap of its own.
struct Memory {
    Memory(int width, int height) : dc(CreateCompatibleDC(nullptr)), bitmap(CreateCompatibleBitmap(dc, width, height)) {
        replaced = SelectObject(dc, bitmap);
    }
    ~Memory() {
        SelectObject(dc, replaced);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    void Fill(RECT r, COLORREF colour) const {
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ replaced;
};

// The row `y` of the context as colours.
std::vector<COLORREF> Row(HDC dc, int y, int width) {
    std::vector<COLORREF> row;
    for (int x = 0; x < width; ++x) row.push_back(GetPixel(dc, x, y));
    return row;
}

using Drawing = DialogFixture;

TEST_F(Drawing, MemoryBitmapsFillAndCopyClippedToBothSurfaces) {
    const std::size_t before = Mfc::GdiObjectCount();
    {
        Memory a(6, 4), b(6, 4);
        ASSERT_NE(a.bitmap, nullptr);
        EXPECT_EQ(GetPixel(a.dc, 0, 0), RGB(0, 0, 0)) << "a new bitmap is black";
        a.Fill(RECT{-5, -5, 3, 2}, kRed);  // reaches outside: only (0..2, 0..1) is painted
        EXPECT_EQ(Row(a.dc, 0, 6), (std::vector<COLORREF>{kRed, kRed, kRed, 0, 0, 0}));
        EXPECT_EQ(Row(a.dc, 2, 6), std::vector<COLORREF>(6, 0));
        EXPECT_EQ(GetPixel(a.dc, 6, 0), CLR_INVALID);

        // A source rectangle partly off the source moves the destination with it.
        b.Fill(RECT{0, 0, 6, 4}, kBlue);
        EXPECT_TRUE(BitBlt(b.dc, 2, 0, 4, 2, a.dc, -1, 0, SRCCOPY));
        EXPECT_EQ(Row(b.dc, 0, 6), (std::vector<COLORREF>{kBlue, kBlue, kBlue, kRed, kRed, kRed}));
        // Copying within one surface over itself.
        EXPECT_TRUE(BitBlt(b.dc, 1, 0, 5, 1, b.dc, 0, 0, SRCCOPY));
        EXPECT_EQ(Row(b.dc, 0, 6), (std::vector<COLORREF>{kBlue, kBlue, kBlue, kBlue, kRed, kRed}));
        EXPECT_FALSE(BitBlt(b.dc, 0, 0, 1, 1, a.dc, 0, 0, 0x00EE0086)) << "only plain copies";

        // A bitmap belongs to one context at a time and cannot go while selected.
        HDC other = CreateCompatibleDC(nullptr);
        EXPECT_EQ(SelectObject(other, a.bitmap), nullptr);
        EXPECT_FALSE(DeleteObject(a.bitmap));
        DeleteDC(other);
        EXPECT_EQ(CreateCompatibleBitmap(a.dc, 20000, 10), nullptr);
        EXPECT_EQ(CreateCompatibleBitmap(a.dc, 0, 10), nullptr);
        EXPECT_EQ(GetDeviceCaps(a.dc, LOGPIXELSX), 96);
    }
    EXPECT_EQ(Mfc::GdiObjectCount(), before) << "contexts, bitmaps and brushes all went";
    EXPECT_FALSE(DeleteDC(nullptr));
}

TEST_F(Drawing, InvalidatingFromAnyThreadPaintsOnceOnTheWindowsThreadAfterPostedMessages) {
    TestDialog dialog(101);
    std::vector<std::string> log;
    dialog.MapMessage(WM_USER + 5, [&](WPARAM, LPARAM) -> LRESULT {
        log.push_back("posted");
        return 0;
    });
    dialog.MapMessage(WM_PAINT, [&](WPARAM, LPARAM) -> LRESULT {
        log.push_back(GetCurrentThreadId() == GetWindowThreadProcessId(dialog.m_hWnd, nullptr) ? "paint" : "elsewhere");
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(dialog.m_hWnd, &paint);
        RECT band{0, 0, 30, 10};
        FillRect(dc, &band, reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(COLOR_BTNFACE + 1)));
        band = RECT{0, 10, 30, 20};
        HBRUSH red = CreateSolidBrush(kRed);
        FillRect(dc, &band, red);
        DeleteObject(red);
        EndPaint(dialog.m_hWnd, &paint);
        return 0;
    });
    ASSERT_TRUE(dialog.Create(101));
    driver.PumpUntilIdle();
    log.clear();

    const HWND window = dialog.m_hWnd;
    std::thread([window] {
        ::InvalidateRect(window, nullptr, FALSE);
        ::PostMessageW(window, WM_USER + 5, 0, 0);
        ::InvalidateRect(window, nullptr, FALSE);
    }).join();
    driver.PumpUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"posted", "paint"}));

    // What a person would see: the dialog's surface and a child's over it.
    CWnd child;
    ASSERT_TRUE(child.CreateEx(0, u"Static", u"", WS_CHILD | WS_VISIBLE, RECT{20, 5, 24, 9}, &dialog, 77));
    HDC childDc = GetDC(child.m_hWnd);
    HBRUSH blue = CreateSolidBrush(kBlue);
    RECT all{0, 0, 4, 4};
    FillRect(childDc, &all, blue);
    DeleteObject(blue);
    ReleaseDC(child.m_hWnd, childDc);
    const Platform::RgbImage image = Mfc::CaptureWindow(window);
    auto at = [&](int x, int y) {
        const std::uint8_t* p = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
        return RGB(p[0], p[1], p[2]);
    };
    EXPECT_EQ(at(1, 1), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(at(1, 15), kRed);
    EXPECT_EQ(at(21, 6), kBlue);
    EXPECT_EQ(at(50, 50), GetSysColor(COLOR_BTNFACE)) << "unpainted areas show the dialog's face";

    const auto path = std::filesystem::temp_directory_path() / ("mfc-capture-" + std::to_string(getpid()) + ".png");
    Mfc::WriteWindowPng(window, path.string());
    const Platform::RgbImage read = Platform::ReadPng(path.string());
    std::filesystem::remove(path);
    EXPECT_EQ(read.width, image.width);
    EXPECT_EQ(read.rgb, image.rgb);

    Mfc::SetPictureInfo(child.m_hWnd, Mfc::PictureInfo{SIZE{40, 32}, 1, 4});
    EXPECT_NE(Mfc::RenderWindow(window).find("77 static \"\" picture 40x32 frame 2/4"), std::string::npos)
        << Mfc::RenderWindow(window);
    child.DestroyWindow();
    dialog.DestroyWindow();
}

using Pictures = DialogFixture;

const std::vector<Gif::Colour> kColours{{255, 0, 0}, {255, 255, 255}, {0, 0, 255}, {0, 255, 0}};

TEST_F(Pictures, AGifIsReadWithItsTransparentColourAndDrawnStretched) {
    // 3 x 2: red, white, blue / blue, green, red; blue is transparent.
    const Gif::Bytes indexes{0, 1, 2, 2, 3, 0};
    const Gif::Bytes plain = Gif::Join(
        {Gif::Header(3, 2, kColours), Gif::Control(0, 0, 2), Gif::Image(0, 0, 3, 2, indexes), Gif::Trailer()});
    auto picture = Mfc::LoadPicture(plain.data(), plain.size());
    EXPECT_EQ(picture->Size().cx, 3);
    EXPECT_EQ(picture->Size().cy, 2);
    EXPECT_EQ(MulDiv(picture->HimetricSize().cx, 96, 2540), 3) << "HIMETRIC comes back to the same pixels";

    Memory canvas(6, 4);
    canvas.Fill(RECT{0, 0, 6, 4}, kWhite);
    ASSERT_TRUE(picture->Render(canvas.dc, 1, 1, 3, 2));
    EXPECT_EQ(Row(canvas.dc, 1, 5), (std::vector<COLORREF>{kWhite, kRed, kWhite, kWhite, kWhite}));
    EXPECT_EQ(Row(canvas.dc, 2, 5), (std::vector<COLORREF>{kWhite, kWhite, RGB(0, 255, 0), kRed, kWhite}));
    canvas.Fill(RECT{0, 0, 6, 4}, kRed);
    picture->Render(canvas.dc, 0, 0, 6, 4);
    EXPECT_EQ(Row(canvas.dc, 0, 6), (std::vector<COLORREF>{kRed, kRed, kWhite, kWhite, kRed, kRed}));
    EXPECT_EQ(Row(canvas.dc, 3, 6), (std::vector<COLORREF>{kRed, kRed, RGB(0, 255, 0), RGB(0, 255, 0), kRed, kRed}));

    // The same picture interlaced, with a colour table of its own.
    const Gif::Bytes tall{0, 1, 2, 3, 0, 1, 2, 3, 0, 1};
    const Gif::Bytes bytes =
        Gif::Join({Gif::Header(1, 10, {}), Gif::Image(0, 0, 1, 10, tall, kColours, true), Gif::Trailer()});
    Memory column(1, 10);
    Mfc::LoadPicture(bytes.data(), bytes.size())->Render(column.dc, 0, 0, 1, 10);
    for (int y = 0; y < 10; ++y) {
        const auto& c = kColours[tall[static_cast<std::size_t>(y)]];
        EXPECT_EQ(GetPixel(column.dc, 0, y), RGB(c[0], c[1], c[2])) << "row " << y;
    }
}

TEST_F(Pictures, WhatIsNotAReadableGifIsRefusedWithAReason) {
    const Gif::Bytes good = Gif::Join({Gif::Header(2, 1, kColours), Gif::Image(0, 0, 2, 1, {0, 1}), Gif::Trailer()});
    auto load = [](const Gif::Bytes& bytes) { return Mfc::LoadPicture(bytes.data(), bytes.size()); };
    EXPECT_NO_THROW(load(good));

    const Gif::Bytes bitmap{'B', 'M', 0x3A, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};
    EXPECT_THROW(load(bitmap), Mfc::PictureError);
    Gif::Bytes version = good;
    version[4] = '8';  // GIF88a
    EXPECT_THROW(load(version), Mfc::PictureError);
    for (std::size_t cut : {3u, 10u, 20u, 30u}) {
        EXPECT_THROW(load(Gif::Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut))), Mfc::PictureError)
            << "cut at " << cut;
    }
    EXPECT_THROW(load(Gif::Join({Gif::Header(2, 1, {}), Gif::Image(0, 0, 2, 1, {0, 1}), Gif::Trailer()})),
                 Mfc::PictureError)
        << "no colour table at all";
    EXPECT_THROW(load(Gif::Join({Gif::Header(2, 1, kColours), Gif::Comment("only"), Gif::Trailer()})),
                 Mfc::PictureError)
        << "no image";
    // An image descriptor that claims 60000 x 60000 pixels is refused before
    // anything is allocated for it.
    Gif::Bytes huge =
        Gif::Join({Gif::Header(60000, 60000, kColours), Gif::Image(0, 0, 60000, 60000, {}), Gif::Trailer()});
    EXPECT_THROW(load(huge), Mfc::PictureError);
}

}  // namespace

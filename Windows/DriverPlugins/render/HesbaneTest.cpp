// The rendering plug-in loaded as the driver loads it, through the driver
// host stand-in, printing page images into the spool stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Platform/DriverHost.h"
#include "PluginTestSupport.h"
#include "PrivateDevMode.h"
#include "RenderDevice.h"

namespace {

using namespace PluginTest;
using Platform::DriverHost;
using Platform::PageFeed;
using Platform::PageImage;

constexpr CLSID kRenderClass{0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};

// A picture with a different colour at every pixel.
PageImage TestImage(int width, int height) {
    PageImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            BYTE* p = image.Pixel(x, y);
            p[0] = static_cast<BYTE>(x * 7 + y);
            p[1] = static_cast<BYTE>(y * 5 + 3);
            p[2] = static_cast<BYTE>(x ^ y);
        }
    return image;
}

DEVMODEW PublicSettings(SHORT orientation = DMORIENT_PORTRAIT, SHORT paperWidth = 1056, SHORT copies = 1) {
    DEVMODEW settings{};
    std::memcpy(settings.dmDeviceName, kQueue, std::char_traits<char16_t>::length(kQueue) * 2);
    settings.dmSize = sizeof settings;
    settings.dmOrientation = orientation;
    settings.dmPaperWidth = paperWidth;
    settings.dmCopies = copies;
    return settings;
}

// Where page pixel (x, y) lands in the planes, by orientation.
std::size_t Place(const PrintedCopy& copy, bool landscape, bool rotated, int x, int y) {
    const int w = copy.kind == 0 ? 1248 : 1100, h = copy.kind == 0 ? 1856 : 1560;
    if (!landscape) return rotated ? static_cast<std::size_t>(h - 1 - y) * w + (w - 1 - x) : std::size_t(y) * w + x;
    return rotated ? static_cast<std::size_t>(h - 1 - x) * w + y : static_cast<std::size_t>(x) * w + (w - 1 - y);
}

// The planes hold the image's ink where the page places it, and no ink anywhere else.
void ExpectPrinted(const PrintedCopy& copy, const PageImage& image, bool landscape, bool rotated,
                   bool swapRedBlue = false) {
    std::array<std::vector<BYTE>, 3> expected;
    for (auto& plane : expected) plane.assign(copy.planes[0].size(), 0);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const BYTE* p = image.Pixel(x, y);
            const std::size_t at = Place(copy, landscape, rotated, x, y);
            expected[0][at] = static_cast<BYTE>(255 - (swapRedBlue ? p[2] : p[0]));
            expected[1][at] = static_cast<BYTE>(255 - p[1]);
            expected[2][at] = static_cast<BYTE>(255 - (swapRedBlue ? p[0] : p[2]));
        }
    for (int plane = 0; plane < 3; ++plane) EXPECT_TRUE(copy.planes[plane] == expected[plane]) << "plane " << plane;
}

class HesbaneTest : public MachineFixture {
protected:
    HesbaneTest() {
        SetDeviceId(kDockId);
        EXPECT_EQ(host.Load(u"Hesbane.dll", kRenderClass), S_OK);
    }

    std::vector<PrintedCopy> Print(const std::vector<PageImage>& pages, const DEVMODEW& settings,
                                   const Platform::PrintOptions& options = {}) {
        EXPECT_EQ(host.Open(kQueue, settings), S_OK);
        sink.bytes.clear();
        EXPECT_TRUE(host.PrintDocument(pages, options));
        host.Close();
        return DecodeStream(sink.bytes);
    }

    Platform::MemorySpoolSink sink;
    DriverHost host{sink};
};

TEST_F(HesbaneTest, PagesArriveWhereThePagePlacesThem) {
    const PageImage image = TestImage(40, 30);
    struct Case {
        SHORT orientation;
        PageFeed feed;
        bool bottomUp;
    };
    for (const Case c :
         {Case{DMORIENT_PORTRAIT, PageFeed::Surface, false}, Case{DMORIENT_PORTRAIT, PageFeed::Bands, false},
          Case{DMORIENT_PORTRAIT, PageFeed::Surface, true}, Case{DMORIENT_LANDSCAPE, PageFeed::Surface, false},
          Case{DMORIENT_LANDSCAPE, PageFeed::Bands, false}}) {
        SCOPED_TRACE(testing::Message() << "orientation " << c.orientation << " bands " << (c.feed == PageFeed::Bands)
                                        << " bottom-up " << c.bottomUp);
        Platform::PrintOptions options;
        options.feed = c.feed;
        options.bandHeight = 7;
        options.bottomUp = c.bottomUp;
        const auto copies = Print({image}, PublicSettings(c.orientation), options);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(copies[0].kind, 0);
        ExpectPrinted(copies[0], image, c.orientation == DMORIENT_LANDSCAPE, false);
    }
}

TEST_F(HesbaneTest, OddSizesInEveryFeedAndPlacement) {
    // A single pixel, and sizes that end inside a landscape tile and its blocks.
    const PageImage images[] = {TestImage(1, 1), TestImage(37, 150), TestImage(211, 67)};
    for (const bool rotated : {false, true}) {
        SetDeviceId(rotated ? "MFG:Velmo;MDL:Glimmer Photo 4;VER:5.0;" : kDockId);
        for (const SHORT orientation : {DMORIENT_PORTRAIT, DMORIENT_LANDSCAPE}) {
            for (const PageImage& image : images) {
                for (const PageFeed feed : {PageFeed::Surface, PageFeed::Bands}) {
                    for (const bool bottomUp : {false, true}) {
                        SCOPED_TRACE(testing::Message() << image.width << " x " << image.height << " rotated "
                                                        << rotated << " orientation " << orientation << " bands "
                                                        << (feed == PageFeed::Bands) << " bottom-up " << bottomUp);
                        Platform::PrintOptions options;
                        options.feed = feed;
                        options.bandHeight = 7;
                        options.bottomUp = bottomUp;
                        const auto copies = Print({image}, PublicSettings(orientation), options);
                        ASSERT_EQ(copies.size(), 1u);
                        ExpectPrinted(copies[0], image, orientation == DMORIENT_LANDSCAPE, rotated);
                    }
                }
            }
        }
    }
}

TEST_F(HesbaneTest, TwoPagesEachStartBlank) {
    const PageImage big = TestImage(50, 40);
    const PageImage small = TestImage(10, 10);
    const auto copies = Print({big, small}, PublicSettings());
    ASSERT_EQ(copies.size(), 2u);
    ExpectPrinted(copies[0], big, false, false);
    // The host's surface is erased to white, so the second page is the small picture only.
    ExpectPrinted(copies[1], small, false, false);
}

TEST_F(HesbaneTest, PrinterThatTurnsPagesOnUsb) {
    SetDeviceId("MFG:Velmo;MDL:Glimmer Photo 4;VER:5.0;");
    const PageImage image = TestImage(20, 12);
    ExpectPrinted(Print({image}, PublicSettings()).at(0), image, false, true);
    ExpectPrinted(Print({image}, PublicSettings(DMORIENT_LANDSCAPE)).at(0), image, true, true);
    // On a network port the page is not turned; a queue whose port cannot
    // be read (its name does not fit the 2048 bytes it is read into) counts
    // as on USB, as it does everywhere else.
    const auto onPort = [&](std::u16string_view port) {
        Spooler().RemovePrinter(kQueue);
        Spooler().AddPrinter(kQueue, port, u"Velmo Glimmer Driver");
        SetDeviceId("MFG:Velmo;MDL:Glimmer Photo 4;VER:5.0;");
        return Print({image}, PublicSettings()).at(0);
    };
    ExpectPrinted(onPort(u"IP_10.0.0.9"), image, false, false);
    ExpectPrinted(onPort(u"IP_" + std::u16string(1021, u'9')), image, false, true);
}

TEST_F(HesbaneTest, PaperKindCopiesAndPin) {
    const PageImage image = TestImage(4, 4);
    struct Case {
        SHORT paperWidth;
        const char* deviceId;
        int kind;
    };
    for (const Case c : {Case{1056, "MFG:Velmo;MDL:Glimmer Dock;TSZ:2;", 0}, Case{931, kDockId, 1},
                         Case{1000, "MFG:Velmo;MDL:Glimmer Dock;TSZ:2;", 1},
                         Case{1000, "MFG:Velmo;MDL:Glimmer Dock;TSZ:1;", 0}, Case{1000, "no id at all", 0}}) {
        SetDeviceId(c.deviceId);
        const auto copies = Print({image}, PublicSettings(DMORIENT_PORTRAIT, c.paperWidth));
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(copies[0].kind, c.kind) << c.paperWidth << " " << c.deviceId;
    }
    SetDeviceId(kDockId);
    Set(u"PIN_STICKY", Platform::RegValue::Dword(1));
    Set(u"PIN_VALUE", Platform::RegValue::Dword(4321));
    auto copies = Print({image}, PublicSettings(DMORIENT_PORTRAIT, 1056, 3));
    ASSERT_EQ(copies.size(), 3u);
    for (const auto& copy : copies) {
        EXPECT_EQ(copy.pin, 4321u);
        ExpectPrinted(copy, image, false, false);
    }
    // No copies asked for still prints the page once.
    EXPECT_EQ(Print({image}, PublicSettings(DMORIENT_PORTRAIT, 1056, 0)).size(), 1u);
    EXPECT_EQ(Print({image}, PublicSettings(DMORIENT_PORTRAIT, 1056, -1)).size(), 1u);
}

TEST_F(HesbaneTest, ShortSpoolWriteFailsThePage) {
    ASSERT_EQ(host.Open(kQueue, PublicSettings()), S_OK);
    sink.limit = 12 + 12 + 1000;
    EXPECT_FALSE(host.PrintDocument({TestImage(3, 3)}));
    EXPECT_EQ(sink.bytes.size(), sink.limit);
}

class HesbaneFilterTest : public HesbaneTest {
protected:
    HesbaneFilterTest() {
        filterModule = LoadLibraryW((Wide(InstallFolder()) + u"\\VelmoTestFilter.dll").c_str());
        if (filterModule != nullptr) {
            reinterpret_cast<void (*)()>(GetProcAddress(filterModule, "TestFilterReset"))();
            dataPath = reinterpret_cast<const char* (*)()>(GetProcAddress(filterModule, "TestFilterDataPath"));
            rows = reinterpret_cast<int (*)()>(GetProcAddress(filterModule, "TestFilterRows"));
        }
        Set(u"CC_FILTER", Text(u"VelmoTestFilter.dll"));
        Set(u"CC_FILTER_DATA", Text(u"natural"));
    }
    ~HesbaneFilterTest() override {
        if (filterModule != nullptr) FreeLibrary(filterModule);
    }

    HMODULE filterModule = nullptr;
    const char* (*dataPath)() = nullptr;
    int (*rows)() = nullptr;
};

TEST_F(HesbaneFilterTest, FilterSeesEveryRowBeforePlacement) {
    ASSERT_NE(filterModule, nullptr);
    // Media code 7 ties the head's sticker table to the reference.
    SetDeviceId("MFG:Velmo;MDL:Glimmer Dock;VER:3.10;CID:7;");
    const PageImage image = TestImage(16, 9);
    for (PageFeed feed : {PageFeed::Surface, PageFeed::Bands}) {
        reinterpret_cast<void (*)()>(GetProcAddress(filterModule, "TestFilterReset"))();
        Platform::PrintOptions options;
        options.feed = feed;
        ExpectPrinted(Print({image}, PublicSettings(), options).at(0), image, false, false, true);
        EXPECT_EQ(std::string(dataPath()), InstallFolder() + "\\gda_natural_sticker.tli");
        EXPECT_EQ(rows(), 9);
    }
    // Without a media code the plain table of the reference is used.
    SetDeviceId(kDockId);
    Print({image}, PublicSettings());
    EXPECT_EQ(std::string(dataPath()), InstallFolder() + "\\gda_natural.tli");
    // A reference the head does not have hands the filter the folder alone.
    Set(u"CC_FILTER_DATA", Text(u"sepia"));
    ExpectPrinted(Print({image}, PublicSettings()).at(0), image, false, false, true);
    EXPECT_EQ(std::string(dataPath()), InstallFolder() + "\\");
}

TEST_F(HesbaneFilterTest, WithoutUsableFilterRowsPassUnchanged) {
    ASSERT_NE(filterModule, nullptr);
    const PageImage image = TestImage(8, 8);
    struct Case {
        const char16_t* filter;
        const char* deviceId;  // null: the printer does not answer
    };
    for (const Case c :
         {Case{u"Missing.dll", kDockId}, Case{u"Hesbane.dll", kDockId}, Case{u"VelmoTestFilter.dll", nullptr},
          Case{u"VelmoTestFilter.dll", "garbage"}, Case{u"VelmoTestFilter.dll", "MFG:Velmo;MDL:Glimmer Dock;PHD:NOPE;"},
          Case{u"VelmoTestFilter.dll", "MFG:Velmo;MDL:Glimmer Photo 8;"}}) {
        SCOPED_TRACE(testing::Message() << (c.deviceId ? c.deviceId : "(no id)"));
        Set(u"CC_FILTER", Text(c.filter));
        if (c.deviceId != nullptr)
            SetDeviceId(c.deviceId);
        else
            Spooler().RemovePrinter(kQueue), Spooler().AddPrinter(kQueue, u"USB001", u"Velmo Glimmer Driver"),
                Set(u"CC_FILTER", Text(c.filter)), Set(u"CC_FILTER_DATA", Text(u"natural"));
        reinterpret_cast<void (*)()>(GetProcAddress(filterModule, "TestFilterReset"))();
        ExpectPrinted(Print({image}, PublicSettings()).at(0), image, false, false);
        EXPECT_EQ(rows(), 0);
    }
}

TEST_F(HesbaneTest, ComServer) {
    const auto& module = host.Module();
    void* object = nullptr;
    const CLSID other{0x6D6ABF26, 0x9F38, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xED}};
    EXPECT_EQ(module.GetClassObject(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);

    EXPECT_EQ(module.CanUnloadNow(), S_OK);
    ASSERT_EQ(module.GetClassObject(kRenderClass, IID_IClassFactory, &object), S_OK);
    auto* factory = static_cast<IClassFactory*>(object);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    void* plugin = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IPrintOemUni, &plugin),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &plugin), E_NOINTERFACE);
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    ASSERT_EQ(module.GetClassObject(kRenderClass, IID_IUnknown, &object), S_OK);
    static_cast<IClassFactory*>(static_cast<IUnknown*>(object))->Release();
    ASSERT_EQ(module.GetClassObject(kRenderClass, IID_IClassFactory, &object), S_OK);
    static_cast<IClassFactory*>(object)->LockServer(FALSE);
    static_cast<IClassFactory*>(object)->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(HesbaneTest, PluginInterface) {
    IPrintOemUni* plugin = host.Plugin();
    ASSERT_NE(plugin, nullptr);
    char exact[] = "FilterGraphics", wrongCase[] = "filtergraphics", other[] = "DrvBitBlt";
    EXPECT_EQ(plugin->GetImplementedMethod(exact), S_OK);
    EXPECT_EQ(plugin->GetImplementedMethod(wrongCase), S_FALSE);
    EXPECT_EQ(plugin->GetImplementedMethod(other), S_FALSE);

    DWORD value = 0, needed = 0;
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 0x4C56u);
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETVERSION, &value, sizeof value, &needed), S_OK);
    EXPECT_EQ(value, 1u);
    SetLastError(0);
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &value, 3, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETPUBLISHERINFO, &value, sizeof value, &needed), E_FAIL);
    EXPECT_EQ(needed, 8u);
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETINTERFACEVERSION, &value, sizeof value, &needed), E_FAIL);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &value, sizeof value, nullptr), E_FAIL);

    DRVENABLEDATA hooks{};
    ASSERT_EQ(plugin->EnableDriver(DRIVER_VERSION_HOOKS, sizeof hooks, &hooks), S_OK);
    EXPECT_EQ(hooks.iDriverVersion, 0x10000u);
    ASSERT_EQ(hooks.c, 29u);
    for (ULONG i = 0; i < hooks.c; ++i) EXPECT_EQ(hooks.pdrvfn[i].iFunc, kHookIndexes[i]);
}

// An argument value that shows when a call loses or moves it: pointers
// with high bits set, numbers with the top bit set.
template <typename T>
T Marker(std::uintptr_t position) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>((std::uintptr_t{0xC0DE} << 32) + position * 16);
    } else {
        return static_cast<T>((std::uint64_t{0xC0DE} << 32) | (0x80000000u + position));
    }
}

template <typename... T, std::size_t... Positions>
std::tuple<T...> Markers(std::index_sequence<Positions...>) {
    return {Marker<T>(Positions + 1)...};
}

template <typename T>
std::uintptr_t Bits(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else {
        return static_cast<std::uintptr_t>(static_cast<std::make_unsigned_t<T>>(value));
    }
}

// Calls a hook through the function's own type with marker arguments after
// the surface or device, and checks that the driver got exactly those.
template <ULONG Index, typename Result, typename First, typename... Rest>
void ExpectForwarded(PFN hook, DriverHost& host, SURFOBJ& surface, Result (*)(First, Rest...)) {
    SCOPED_TRACE(testing::Message() << "function " << Index);
    First first;
    if constexpr (std::is_same_v<First, SURFOBJ*>) {
        first = &surface;
    } else {
        first = host.Device();
    }
    const std::tuple<Rest...> rest = Markers<Rest...>(std::index_sequence_for<Rest...>{});
    const Result result = std::apply(
        [&](Rest... arguments) { return reinterpret_cast<Result (*)(First, Rest...)>(hook)(first, arguments...); },
        rest);
    EXPECT_EQ(host.DriverCalls(Index), 1);
    const std::vector<std::uintptr_t> expected = std::apply(
        [&](Rest... arguments) {
            return std::vector<std::uintptr_t>{Bits(first), Bits(arguments)...};
        },
        rest);
    EXPECT_EQ(host.DriverArguments(Index), expected);
    if constexpr (!std::is_pointer_v<Result>) {
        EXPECT_EQ(result, Result{1});
    }
}

TEST_F(HesbaneTest, HooksForwardToTheDriver) {
    ASSERT_EQ(host.Open(kQueue, PublicSettings()), S_OK);
    DRVENABLEDATA hooks{};
    host.Plugin()->EnableDriver(DRIVER_VERSION_HOOKS, sizeof hooks, &hooks);
    SURFOBJ surface{};
    surface.dhpdev = host.Device();
    [&]<ULONG... Slots>(std::integer_sequence<ULONG, Slots...>) {
        (ExpectForwarded<kHookIndexes[Slots + 8]>(hooks.pdrvfn[Slots + 8].pfn, host, surface,
                                                  DdiFunctionType<kHookIndexes[Slots + 8]>{}),
         ...);
    }
    (std::make_integer_sequence<ULONG, kHookCount - 8>{});
    auto brush = reinterpret_cast<PFN_DrvRealizeBrush>(hooks.pdrvfn[7].pfn);
    EXPECT_FALSE(brush(nullptr, &surface, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(host.DriverCalls(INDEX_DrvRealizeBrush), 0);
    auto escape = reinterpret_cast<PFN_DrvEscape>(hooks.pdrvfn[0].pfn);
    escape(&surface, 1, 0, nullptr, 0, nullptr);
    EXPECT_EQ(host.DriverCalls(INDEX_DrvEscape), 1);

    // The escape query comes without a surface; the driver answers it.
    auto fonts = reinterpret_cast<PFN_DrvFontManagement>(hooks.pdrvfn[22].pfn);
    ASSERT_EQ(hooks.pdrvfn[22].iFunc, INDEX_DrvFontManagement);
    ULONG asked = QUERYESCSUPPORT;
    EXPECT_EQ(fonts(nullptr, nullptr, QUERYESCSUPPORT, sizeof asked, &asked, 0, nullptr), 1u);
    asked = 0x7777;
    EXPECT_EQ(fonts(nullptr, nullptr, QUERYESCSUPPORT, sizeof asked, &asked, 0, nullptr), 0u);
    // A drawing call without a surface has no device to go to.
    auto paint = reinterpret_cast<PFN_DrvPaint>(hooks.pdrvfn[16].pfn);
    ASSERT_EQ(hooks.pdrvfn[16].iFunc, INDEX_DrvPaint);
    EXPECT_FALSE(paint(nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(host.DriverCalls(INDEX_DrvPaint), 1);
}

TEST_F(HesbaneTest, DeviceNeedsANameAndTheDriverTable) {
    IPrintOemUni* plugin = host.Plugin();
    DEVOBJ device{};
    WCHAR empty[PRINTER_NAME_BUFFER_UNITS] = {};
    WCHAR name[PRINTER_NAME_BUFFER_UNITS] = u"x";
    DRVENABLEDATA driver{DRIVER_VERSION_HOOKS, 0, nullptr};
    PVOID created = reinterpret_cast<PVOID>(1);
    EXPECT_EQ(plugin->EnablePDEV(&device, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &driver, &created), E_FAIL);
    EXPECT_EQ(plugin->EnablePDEV(&device, empty, 0, nullptr, 0, nullptr, 0, nullptr, &driver, &created), E_FAIL);
    EXPECT_EQ(plugin->EnablePDEV(&device, name, 0, nullptr, 0, nullptr, 0, nullptr, nullptr, &created), E_FAIL);
    // The queue's own name replaces what the buffer held.
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ACCESS_USE};
    ASSERT_TRUE(OpenPrinterW(kQueue, &device.hPrinter, &defaults));
    ASSERT_EQ(plugin->EnablePDEV(&device, name, 0, nullptr, 0, nullptr, 0, nullptr, &driver, &created), S_OK);
    EXPECT_EQ(std::u16string(name), kQueue);
    device.pdevOEM = created;
    EXPECT_EQ(plugin->DisablePDEV(&device), S_OK);
    EXPECT_EQ(device.pdevOEM, nullptr);
    ClosePrinter(device.hPrinter);
}

}  // namespace

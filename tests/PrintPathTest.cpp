// A photo through the whole print path: the driver host renders it with the
// rendering plug-in, the spooler offers the stream to the language monitor,
// the USB port monitor carries it to the simulated dock, and the dock prints
// it as a PNG that is compared with the input pixel for pixel.
#include "PrintPathRig.h"

#include "Mfc/WinUser.h"
#include "Platform/Clock.h"
#include "Platform/DriverHost.h"
#include "Platform/Png.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using Platform::PageImage;
using namespace PrintPath;

namespace {

constexpr std::uint32_t kSheetWidth = 1248, kSheetHeight = 1856;

// A 6x4 inch picture at 300 dots per inch, every pixel distinct from its
// neighbours and every channel different.
PageImage Photo(int width, int height) {
    PageImage image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            BYTE* p = image.Pixel(x, y);
            p[0] = static_cast<BYTE>(x * 3 + y);
            p[1] = static_cast<BYTE>(y * 7 + (x >> 4));
            p[2] = static_cast<BYTE>((x ^ y) + 11);
        }
    return image;
}

// The sheet the dock must print: the picture where the page places it,
// white paper elsewhere; the test filter swaps red and blue.
std::vector<std::uint8_t> Sheet(const PageImage& image, bool landscape, bool swapRedBlue) {
    std::vector<std::uint8_t> rgb(std::size_t{kSheetWidth} * kSheetHeight * 3, 255);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            // Landscape rows run down the sheet's columns from the right.
            const std::size_t sx = landscape ? kSheetWidth - 1 - y : x, sy = landscape ? x : y;
            const BYTE* p = image.Pixel(x, y);
            std::uint8_t* out = &rgb[(sy * kSheetWidth + sx) * 3];
            out[0] = swapRedBlue ? p[2] : p[0];
            out[1] = p[1];
            out[2] = swapRedBlue ? p[0] : p[2];
        }
    return rgb;
}

// Where the first differing pixel is, for a readable failure.
std::string FirstDifference(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
    if (got.size() != want.size()) return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
    const auto at = std::mismatch(got.begin(), got.end(), want.begin());
    if (at.first == got.end()) return "none";
    const std::size_t pixel = static_cast<std::size_t>(at.first - got.begin()) / 3;
    return "pixel (" + std::to_string(pixel % kSheetWidth) + ", " + std::to_string(pixel / kSheetWidth) + ")";
}

class PrintPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::filesystem::path base =
            std::filesystem::temp_directory_path() / ("velmo-printpath-" + std::to_string(getpid()) + "-" + name);
        output_ = base / "printed";
        std::filesystem::remove_all(output_);
        RigOptions options;
        options.dataFolder = std::filesystem::path(VELMO_SOURCE_DIR) / "data";
        options.installFolder = base / "install";
        options.outputFolder = output_.string();
        options.testFilter = filter_;
        rig_ = std::make_unique<PrintPathRig>(options);
    }
    void TearDown() override {
        rig_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(output_.parent_path(), ignored);
    }

    // The one sheet printed, from its PNG file, checked against the input.
    void ExpectSheet(const PageImage& image, bool landscape, bool swapRedBlue) {
        const auto pages = rig_->dock->PrintedPages();
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].kind, 0);
        ASSERT_FALSE(pages[0].file.empty());
        EXPECT_EQ(std::filesystem::path(pages[0].file).parent_path(), output_);
        const Platform::RgbImage png = Platform::ReadPng(pages[0].file);
        ASSERT_EQ(png.width, kSheetWidth);
        ASSERT_EQ(png.height, kSheetHeight);
        const auto want = Sheet(image, landscape, swapRedBlue);
        EXPECT_TRUE(png.rgb == want) << "first difference at " << FirstDifference(png.rgb, want);
        EXPECT_TRUE(rig_->dock->PrintErrors().empty());
        EXPECT_TRUE(rig_->dock->GateViolations().empty());
    }

    static std::vector<Platform::JobChange> Changes(DWORD job) {
        std::vector<Platform::JobChange> out;
        for (const auto& change : PrintPathRig::Spooler().JobChanges())
            if (change.jobId == job) out.push_back(change);
        return out;
    }

    bool filter_ = false;
    std::shared_ptr<Platform::ManualClock> clock_ = std::make_shared<Platform::ManualClock>();
    Platform::ScopedClock scopedClock_{clock_};
    Platform::ScopedFreshMachine machine_;
    std::filesystem::path output_;
    std::unique_ptr<PrintPathRig> rig_;
};

TEST_F(PrintPathTest, PhotoPrintsPixelForPixelWherePlaced) {
    const PageImage portrait = Photo(1200, 1800);
    const JobOutcome job = rig_->Print(portrait);
    EXPECT_TRUE(job.printed);
    EXPECT_FALSE(job.jobGone);
    ExpectSheet(portrait, false, false);
    EXPECT_EQ(rig_->dock->SheetsPrinted(), 1u);
    // Exactly one page went over the wire: nothing was re-sent.
    EXPECT_EQ(rig_->dock->PrintBytesReceived(), 6948912u);
    const auto changes = Changes(job.job);
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                            [](const auto& c) { return c.level == 1 && c.status == JOB_STATUS_PRINTED; }));
}

TEST_F(PrintPathTest, LandscapePhotoRunsDownTheSheet) {
    const PageImage landscape = Photo(1800, 1200);
    EXPECT_TRUE(rig_->Print(landscape, DMORIENT_LANDSCAPE).printed);
    ExpectSheet(landscape, true, false);
}

TEST_F(PrintPathTest, PagesAreCountedPerCopy) {
    const PageImage portrait = Photo(1200, 1800);
    const JobOutcome job = rig_->Print(portrait, DMORIENT_PORTRAIT, 2);
    EXPECT_TRUE(job.printed);
    std::vector<DWORD> counted;
    for (const auto& change : Changes(job.job))
        if (change.level == 2) counted.push_back(change.pagesPrinted);
    EXPECT_EQ(counted, (std::vector<DWORD>{1, 2}));
    EXPECT_EQ(job.pagesPrintedAnswer, u"2");
    // The dock counts the identical second copy as a sheet of the same page.
    EXPECT_EQ(rig_->dock->SheetsPrinted(), 2u);
    EXPECT_EQ(rig_->dock->PrintedPages().at(0).copies, 2u);
    ExpectSheet(portrait, false, false);
}

TEST_F(PrintPathTest, RecoverableErrorInAPlaneHoldsResendsAndCompletes) {
    // The paper runs out mid-page and is put back once the job shows it.
    rig_->dock->Script({.plane = 1, .bytes = 100000, .attempt = 1}, {.error = Simulators::Dock::kErrorPaperOut});
    rig_->whileHeld = [this](DWORD held) {
        const auto changes = Changes(held);
        if (std::any_of(changes.begin(), changes.end(),
                        [](const auto& c) { return c.level == 1 && (c.status & JOB_STATUS_ERROR) != 0; }))
            rig_->dock->ClearPrinterError();
    };
    const PageImage portrait = Photo(1200, 1800);
    const JobOutcome job = rig_->Print(portrait);
    EXPECT_TRUE(job.printed);
    EXPECT_GT(job.holds, 0u);
    const auto changes = Changes(job.job);
    EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                            [](const auto& c) { return c.level == 1 && (c.status & JOB_STATUS_ERROR) != 0; }));
    // The first attempt was left mid-page; the re-sent page printed whole.
    const auto receptions = rig_->dock->PageReceptions();
    ASSERT_GE(receptions.size(), 2u);
    EXPECT_NE(receptions.front().outcome, Simulators::Dock::PageOutcome::Printed);
    EXPECT_EQ(receptions.back().outcome, Simulators::Dock::PageOutcome::Printed);
    EXPECT_GT(rig_->dock->PrintBytesReceived(), 6948912u);
    EXPECT_EQ(rig_->dock->SheetsPrinted(), 1u);
    ExpectSheet(portrait, false, false);
    // Counted once although it was sent twice.
    std::vector<DWORD> counted;
    for (const auto& change : changes)
        if (change.level == 2) counted.push_back(change.pagesPrinted);
    EXPECT_EQ(counted, (std::vector<DWORD>{1}));
}

TEST_F(PrintPathTest, FatalErrorDeletesTheJob) {
    rig_->dock->Script({.plane = 1, .bytes = 100000, .attempt = 1}, {.error = 0x4000});
    const JobOutcome job = rig_->Print(Photo(1200, 1800));
    EXPECT_FALSE(job.printed);
    EXPECT_TRUE(job.jobGone);
    EXPECT_FALSE(PrintPathRig::Spooler().FindJob(job.job));
    const auto changes = Changes(job.job);
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().command, JOB_CONTROL_DELETE);
    EXPECT_EQ(rig_->dock->SheetsPrinted(), 0u);
    EXPECT_TRUE(rig_->dock->PrintedPages().empty());
}

class FilteredPrintPathTest : public PrintPathTest {
protected:
    FilteredPrintPathTest() { filter_ = true; }
};

TEST_F(FilteredPrintPathTest, OutputIsTheFilteredPhoto) {
    const PageImage portrait = Photo(1200, 1800);
    EXPECT_TRUE(rig_->Print(portrait).printed);
    ExpectSheet(portrait, false, true);
}

// The user picks a colour table in the printer's properties; the next page
// printed goes through the colour filter with that table's data file.
class ChosenTablePrintPathTest : public PrintPathTest {
protected:
    void SetUp() override {
        PrintPathTest::SetUp();
        install_ = output_.parent_path() / "install";
        std::filesystem::copy_file(std::filesystem::path(Platform::ProgramDirectory()) / "libVelmoTestFilter.so",
                                   install_ / "libORVDynCC.so");
        // Held here so that what the filter was given outlives the job.
        filter_ = LoadLibraryW((Wide(install_.string()) + u"\\ORVDynCC.dll").c_str());
        ASSERT_NE(filter_, nullptr);
        reinterpret_cast<void (*)()>(GetProcAddress(filter_, "TestFilterReset"))();
    }
    void TearDown() override {
        if (filter_ != nullptr) FreeLibrary(filter_);
        PrintPathTest::TearDown();
    }
    std::string FilterDataPath() const {
        return reinterpret_cast<const char* (*)()>(GetProcAddress(filter_, "TestFilterDataPath"))();
    }

    std::filesystem::path install_;
    HMODULE filter_ = nullptr;
};

TEST_F(ChosenTablePrintPathTest, PagePrintsThroughTheTableChosenInThePrinterProperties) {
    // {ABCE80D7-9F46-11D1-882A-00C04FB961EC}
    constexpr CLSID kUiClass{0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
    {
        Platform::PrinterUiHost properties;
        ASSERT_EQ(properties.Load(u"Gorlith.dll", kUiClass), S_OK);
        ASSERT_EQ(properties.Open(kQueue), S_OK);
        ASSERT_EQ(properties.CommonUIProp(OEMCUIP_PRNPROP), S_OK);
        ASSERT_EQ(properties.PluginItems().size(), 1u);
        ASSERT_EQ(properties.PluginItems()[0].pOptType->Count, 4);  // mono, natural, vivid, none
        properties.PluginItems()[0].Sel = 2;
        EXPECT_EQ(properties.ItemCallback(0, CPSUICB_REASON_APPLYNOW), CPSUICB_ACTION_ITEMS_APPLIED);
        properties.Close();
    }
    EXPECT_EQ(PrintPathRig::QueueText(u"CC_FILTER"), u"ORVDynCC.dll");
    EXPECT_EQ(PrintPathRig::QueueText(u"CC_FILTER_DATA"), u"vivid");

    const PageImage portrait = Photo(1200, 1800);
    EXPECT_TRUE(rig_->Print(portrait).printed);
    ExpectSheet(portrait, false, true);
    EXPECT_EQ(FilterDataPath(), install_.string() + "\\gda_vivid.tli");
}

TEST_F(ChosenTablePrintPathTest, PagePrintsThroughTheTableChosenInTheDocumentOptions) {
    constexpr CLSID kUiClass{0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, 0x00, 0xC0, 0x4F, 0xB9, 0x61, 0xEC}};
    std::vector<BYTE> document;
    {
        // The document sheet's pages come from the resource library.
        ResourceDLL::Reset();
        const Platform::ResourceRegistration dialogs = Platform::RegisterResourceModule(
            u"ORVRES.DLL", Platform::LoadResourceFile(VELMO_SOURCE_DIR "/data/ORVRES.rc.txt"));
        Platform::PrinterUiHost properties;
        ASSERT_EQ(properties.Load(u"Gorlith.dll", kUiClass), S_OK);
        ASSERT_EQ(properties.Open(kQueue), S_OK);
        ASSERT_EQ(properties.CommonUIProp(OEMCUIP_DOCPROP), S_OK);
        ASSERT_EQ(properties.DocumentPropertySheets(), S_OK);
        ASSERT_EQ(properties.Blocks().size(), 2u);  // colour correction, status
        const auto& colour = properties.Blocks()[0];
        PROPSHEETPAGEW sheetPage{sizeof(PROPSHEETPAGEW), 0, nullptr, colour.pages[0].DlgProc,
                                 static_cast<LPARAM>(colour.block.UserData)};
        HWND page = CreateDialogIndirectParamW(nullptr, static_cast<LPCDLGTEMPLATEW>(colour.pages[0].hDlgTemplate),
                                               nullptr, colour.pages[0].DlgProc,
                                               reinterpret_cast<LPARAM>(&sheetPage));
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(IsDlgButtonChecked(page, 604), BST_CHECKED);  // the dock's default, natural

        // Off to the driver's option list, where vivid is chosen.
        properties.BlockCallback(0, CPSUICB_REASON_KILLACTIVE, page);
        properties.ItemCallback(0, CPSUICB_REASON_SETACTIVE);
        properties.PluginItems()[0].Sel = 2;
        properties.ItemCallback(0, CPSUICB_REASON_KILLACTIVE);
        // Back on the colour page, which now shows that choice; then OK.
        properties.BlockCallback(0, CPSUICB_REASON_SETACTIVE, page);
        EXPECT_EQ(IsDlgButtonChecked(page, 605), BST_CHECKED);
        properties.BlockCallback(0, CPSUICB_REASON_APPLYNOW, page);
        properties.ItemCallback(0, CPSUICB_REASON_APPLYNOW);
        document = properties.PrivateSettings();
        DestroyWindow(page);
        properties.Close();
    }
    ResourceDLL::Reset();

    const PageImage portrait = Photo(1200, 1800);
    EXPECT_TRUE(rig_->Print(portrait, DMORIENT_PORTRAIT, 1, document).printed);
    ExpectSheet(portrait, false, true);
    EXPECT_EQ(FilterDataPath(), install_.string() + "\\gda_vivid.tli");
}

}  // namespace

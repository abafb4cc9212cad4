// Every configuration plug-in keeps the contract the utility relies on. The
// suite runs against each plug-in library named below.
#include "ConfigPluginHost.h"
#include "TestPluginControl.h"

#include "Common/Headers/PrinterDescription.h"
#include "Mfc/GTestDriver.h"
#include "Platform/Machine.h"
#include "Platform/Paths.h"
#include "Simulators/DockPrinter/DockPrinter.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

struct PluginUnderTest {
    std::u16string name;
    unsigned productId;             // a printer the plug-in configures
    unsigned unsupportedProductId;  // one it does not; 0 for a plug-in that takes any printer
    int readStatus;                 // what a successful read returns
    bool scripted;                  // a test plug-in: scripted, and logging its calls
};

std::string CaseName(const ::testing::TestParamInfo<PluginUnderTest>& info) {
    return std::string(info.param.name.begin(), info.param.name.end());
}

bool Mapped(const std::u16string& name) {
    const auto path = Platform::ProgramDirectory() + "/lib" + std::string(name.begin(), name.end()) + ".so";
    void* probe = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (probe != nullptr) ::dlclose(probe);
    return probe != nullptr;
}

class PluginConformance : public ::testing::TestWithParam<PluginUnderTest> {
protected:
    PluginConformance() {
        ResetTestPlugins();
        if (GetParam().scripted) {
            auto& script = PluginScript(GetParam().name);
            script.readStatus = GetParam().readStatus;
            script.supportedProducts = {GetParam().productId};
        }
        auto identity = Simulators::DockPrinter::DefaultIdentity();
        identity.productId = static_cast<WORD>(GetParam().productId);
        dock = std::make_shared<Simulators::DockPrinter>(identity);
        dock->Attach(Platform::GetMachine().Devices().AddHostController(4).rootHub, 1);
        host.CreateEx(0, u"#32770", u"host", WS_POPUP | WS_VISIBLE, RECT{0, 0, 640, 480}, nullptr, 0);
    }
    ~PluginConformance() override {
        plugin.Unload();
        host.DestroyWindow();
        ResetTestPlugins();
    }

    // The attached dock, reported with `productId`.
    PrinterInfoResult Printer(unsigned productId = 0) const {
        PrinterInfoResult printer;
        printer.vendorId = 0x3B7D;
        printer.productId = productId != 0 ? productId : GetParam().productId;
        printer.serialNumber = "GD0001";
        printer.driverKeyName = DriverKey();
        printer.maxOutPacketSize = printer.maxInPacketSize = 512;
        return printer;
    }
    std::string DriverKey() const {
        DeviceOnHubMatchedVidPid match(0x3B7D, GetParam().productId);
        HubEnumSingleResult<DriverKeyNameResult> result;
        HubEnumDirector director(&match, &result);
        EnumerateHubs(director);
        return result.GetResult().driverKeyName;
    }

    // Loads the plug-in and makes its window as the host does.
    CBaseConfigDlg* Open() {
        plugin.Load(GetParam().name);
        CBaseConfigDlg* dialog = plugin.Dialog();
        if (dialog == nullptr) return nullptr;
        auto dialogTemplate = Platform::FindDialogTemplate(plugin.Module(), dialog->m_templateId & 0xFFFF);
        EXPECT_TRUE(dialogTemplate);
        EXPECT_TRUE(dialogTemplate && (dialogTemplate->style & WS_CHILD) != 0) << "a plug-in's pane is a child";
        EXPECT_TRUE(dialog->CreateIndirect(dialogTemplate, &host));
        dialog->ShowWindow(SW_SHOWNORMAL);
        return dialog;
    }

    Platform::ScopedFreshMachine machine;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    std::shared_ptr<Simulators::DockPrinter> dock;
    CWnd host;
    ConfigPlugin plugin;
};

TEST_P(PluginConformance, CreatesADialogWithoutAWindowFromItsOwnTemplate) {
    plugin.Load(GetParam().name);
    ASSERT_NE(plugin.Dialog(), nullptr);
    EXPECT_EQ(plugin.Dialog()->m_hWnd, nullptr);
    EXPECT_TRUE(Platform::FindDialogTemplate(plugin.Module(), plugin.Dialog()->m_templateId & 0xFFFF));
    // The host's own module does not have it: the template is the plug-in's.
    EXPECT_FALSE(Platform::FindDialogTemplate(nullptr, plugin.Dialog()->m_templateId & 0xFFFF));
}

TEST_P(PluginConformance, ReadsThePrinterItIsGiven) {
    CBaseConfigDlg* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    PrinterConfig description;
    ASSERT_TRUE(LoadPrinterConfigByVidPid(Tessary::I8NString(VELMO_SOURCE_DIR "/data/ORV.xml"), 0x3B7D,
                                          GetParam().productId, description));
    EXPECT_EQ(dialog->NewPrinterSelected(Printer(), description), GetParam().readStatus);
    EXPECT_GT(dock->GetCounters().requests, 0u);
    EXPECT_EQ(dock->GetCounters().enters, dock->GetCounters().leaves) << "the printer is left in configuration mode";
    EXPECT_TRUE(dialog->AreSettingsSaved());
}

TEST_P(PluginConformance, AnUnsupportedPrinterIsRefusedBeforeAnyTraffic) {
    if (GetParam().unsupportedProductId == 0) GTEST_SKIP() << "the plug-in takes every printer it is given";
    CBaseConfigDlg* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    // The record names the attached dock, so any request would reach it.
    auto printer = Printer(GetParam().unsupportedProductId);
    EXPECT_FALSE(dialog->IsPrinterSupported(printer, PrinterConfig()));
    EXPECT_EQ(dialog->NewPrinterSelected(printer, PrinterConfig()), kConfigUnsupported);
    EXPECT_TRUE(dock->Transcript().empty());
}

TEST_P(PluginConformance, StatusesAndTheBaseOperations) {
    CBaseConfigDlg* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->NewPrinterSelected(Printer(), PrinterConfig()), GetParam().readStatus);
    // Applying what was read changes nothing and succeeds.
    EXPECT_EQ(dialog->ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(dialog->AreSettingsSaved());

    // Operations a plug-in does not override do nothing and succeed.
    EXPECT_EQ(dialog->CBaseConfigDlg::ShowHelp(), kConfigSuccess);
    EXPECT_EQ(dialog->CBaseConfigDlg::RunWizard(), kConfigSuccess);
    EXPECT_EQ(dialog->CBaseConfigDlg::TestConnection(), kConfigSuccess);
    EXPECT_FALSE(dialog->CBaseConfigDlg::NeedsRescanAfterApply());
}

TEST_P(PluginConformance, ScriptedStatusesReachTheHostUnchanged) {
    if (!GetParam().scripted) GTEST_SKIP() << "statuses are scripted in the test plug-ins only";
    PluginScript(GetParam().name).applyStatuses = {kConfigUnreachable, kConfigInvalid};
    CBaseConfigDlg* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    dialog->NewPrinterSelected(Printer(), PrinterConfig());
    EXPECT_EQ(dialog->ApplySettings(), kConfigUnreachable);
    EXPECT_EQ(dialog->ApplySettings(), kConfigInvalid);
}

TEST_P(PluginConformance, UnloadsInOrderAndLeavesNothingBehind) {
    const auto name = GetParam().name;
    for (int i = 0; i < 100; ++i) {
        CBaseConfigDlg* dialog = Open();
        ASSERT_NE(dialog, nullptr);
        const HWND window = dialog->m_hWnd;
        ASSERT_EQ(ConfigPlugin::LoadedCount(), 1);
        ClearPluginLog();
        plugin.Unload();
        EXPECT_FALSE(::IsWindow(window));
        if (GetParam().scripted) {
            ASSERT_EQ(PluginCalls(name), (std::vector<std::string>{"DestroyWindow", "~CTestConfigDlg"}));
        }
        EXPECT_EQ(ConfigPlugin::LoadedCount(), 0);
        EXPECT_EQ(LivePluginDialogs(), 0);
        EXPECT_FALSE(Mapped(name)) << "the library stays mapped after its unload";
    }
}

INSTANTIATE_TEST_SUITE_P(TestPlugins, PluginConformance,
                         ::testing::Values(PluginUnderTest{u"VelmoTestPluginA", 0x410F, 0x410B, kConfigSuccess, true},
                                           PluginUnderTest{u"VelmoTestPluginB", 0x410B, 0x4104, kConfigReadSuccess,
                                                           true},
                                           PluginUnderTest{u"Corrani", 0x410F, 0x4104, kConfigReadSuccess, false},
                                           PluginUnderTest{u"Dessmar", 0x4104, 0, kConfigSuccess, false}),
                         CaseName);

}  // namespace

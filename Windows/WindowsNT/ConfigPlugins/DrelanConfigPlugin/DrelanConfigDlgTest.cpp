// The Bluetooth plug-in end to end: loaded as the utility loads it, its pane
// inside a host dialog the test driver works, against a simulated dock.
#include "PluginPaneTestSupport.h"

#include "Common/Headers/PrinterDescription.h"
#include "Mfc/GTestDriver.h"
#include "Platform/Machine.h"
#include "Platform/Registry.h"
#include "Simulators/DockPrinter/DockPrinter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace Dock = Simulators::Dock;
using Simulators::DockPrinter;

constexpr int kEnabledCheck = 1035;
constexpr int kNameEdit = 12010;
constexpr int kRequirePinCheck = 12047;
constexpr int kPinEdit = 12023;
constexpr int kLinkwiseCheck = 12046;
constexpr int kPairedList = 1044;
constexpr int kRemoveButton = 1002;

const std::u16string kUnreachable =
    u"Unable to communicate with the printer. Please check your cable connections and try again.";
const std::u16string kRefused = u"The printer refused the settings with an error. Please try again.";

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

class DrelanConfigTest : public ::testing::Test {
protected:
    DrelanConfigTest() {
        install_ = std::filesystem::temp_directory_path() /
                   ("velmo-corrani-" + std::to_string(::getpid()) + "-" + std::to_string(++serial_));
        std::filesystem::create_directories(install_);
        std::filesystem::copy_file(std::filesystem::path(VELMO_SOURCE_DIR) / "data" / "ORV.xml", install_ / "ORV.xml");
        auto& registry = Platform::GetMachine().Registry();
        registry.CreateKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300");
        registry.SetValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Velmo\\HV7300", u"InstallPath",
                          Platform::RegValue::String(Wide(install_.string())));

        dock = std::make_shared<DockPrinter>();
        dock->Attach(Platform::GetMachine().Devices().AddHostController(4).rootHub, 1);
        dock->SetPin("123");
        dock->SetBluetooth(Dock::BluetoothProfile{true, "Kitchen", false, true, {"Phone"}});
        session_.emplace(driver.BeginModal(host_.Window()));
    }
    ~DrelanConfigTest() override {
        plugin.Unload();
        session_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(install_, ignored);
    }

    // The shipped description with the dock model's "resetBluetooth"
    // property set to `value`, or without it.
    void SetResetProperty(const std::optional<std::string>& value) {
        std::ifstream in(std::filesystem::path(VELMO_SOURCE_DIR) / "data" / "ORV.xml");
        std::stringstream text;
        text << in.rdbuf();
        std::string document = text.str();
        const std::string shipped = R"(<property name="resetBluetooth">true</property>)";
        const auto at = document.find(shipped);
        ASSERT_NE(at, std::string::npos);
        document.replace(at, shipped.size(),
                         value ? R"(<property name="resetBluetooth">)" + *value + "</property>" : std::string());
        std::ofstream(install_ / "ORV.xml", std::ios::trunc) << document;
    }

    PrinterInfoResult Printer(unsigned productId = 0x410F) const {
        PrinterInfoResult printer;
        printer.vendorId = 0x3B7D;
        printer.productId = productId;
        printer.serialNumber = "GD0001";
        DeviceOnHubMatchedVidPid match(0x3B7D, 0x410F);
        HubEnumSingleResult<DriverKeyNameResult> result;
        HubEnumDirector director(&match, &result);
        EnumerateHubs(director);
        printer.driverKeyName = result.GetResult().driverKeyName;
        printer.maxOutPacketSize = printer.maxInPacketSize = 512;
        return printer;
    }

    // Loads the plug-in and embeds its pane as the utility does.
    CBaseConfigDlg& Open() { return host_.Embed(plugin, u"Corrani"); }
    CBaseConfigDlg& OpenAndRead() {
        CBaseConfigDlg& dialog = Open();
        EXPECT_EQ(dialog.NewPrinterSelected(Printer(), PrinterConfig()), kConfigReadSuccess);
        return dialog;
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> commands;
        for (const auto& request : dock->Requests()) commands.push_back(request.command);
        return commands;
    }
    std::string BodyOf(const std::string& command) const {
        for (const auto& request : dock->Requests()) {
            if (request.command == command) return request.body;
        }
        return {};
    }
    unsigned Count(const std::string& command) const {
        const auto commands = Commands();
        return static_cast<unsigned>(std::count(commands.begin(), commands.end(), command));
    }

    Mfc::ModalSession& Pane() { return *session_; }

    Platform::ScopedFreshMachine machine;
    Mfc::TestDriver driver{Mfc::GTestFailures()};
    std::shared_ptr<DockPrinter> dock;
    ConfigPlugin plugin;

private:
    static inline int serial_ = 0;
    std::filesystem::path install_;
    PluginTest::PaneHost host_;
    std::optional<Mfc::ModalSession> session_;
};

TEST_F(DrelanConfigTest, AnotherModelIsRefusedBeforeAnyRequest) {
    CBaseConfigDlg& dialog = Open();
    for (unsigned productId : {0x4104u, 0x410Bu}) {
        EXPECT_EQ(dialog.NewPrinterSelected(Printer(productId), PrinterConfig()), kConfigUnsupported);
    }
    auto otherVendor = Printer();
    otherVendor.vendorId = 0x1234;
    EXPECT_EQ(dialog.NewPrinterSelected(otherVendor, PrinterConfig()), kConfigUnsupported);
    EXPECT_TRUE(dock->Transcript().empty());
}

TEST_F(DrelanConfigTest, ShowsWhatThePrinterHoldsAndWritesTheEdits) {
    CBaseConfigDlg& dialog = OpenAndRead();
    EXPECT_EQ(Pane().Text(kNameEdit), u"Kitchen");
    EXPECT_EQ(Pane().Text(kPinEdit), u"123");
    EXPECT_TRUE(Pane().Checked(kEnabledCheck));
    EXPECT_FALSE(Pane().Checked(kRequirePinCheck));
    EXPECT_TRUE(Pane().Checked(kLinkwiseCheck));
    EXPECT_FALSE(Pane().Enabled(kPinEdit)) << "no PIN to edit while none is required";
    EXPECT_EQ(Pane().Rows(kPairedList), (std::vector<std::vector<CString>>{{u"1", u"Phone"}}));
    EXPECT_TRUE(dialog.AreSettingsSaved());

    Pane().Type(kNameEdit, u"Office");
    Pane().Check(kLinkwiseCheck, false);
    EXPECT_FALSE(dialog.AreSettingsSaved());
    // The 3-digit PIN read from the printer passes while no PIN is required,
    // and goes back unchanged.
    EXPECT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(driver.MessageBoxes().empty());
    EXPECT_TRUE(dialog.AreSettingsSaved());
    EXPECT_EQ(dock->Pin(), "123");
    EXPECT_EQ(dock->Bluetooth(), (Dock::BluetoothProfile{true, "Office", false, false, {"Phone"}}));
    EXPECT_TRUE(dialog.NeedsRescanAfterApply());

    // Switching Bluetooth off greys out everything but its own box.
    Pane().Check(kEnabledCheck, false);
    EXPECT_FALSE(Pane().Enabled(kNameEdit));
    EXPECT_FALSE(Pane().Enabled(kPairedList));
    EXPECT_TRUE(Pane().Enabled(kEnabledCheck));
}

TEST_F(DrelanConfigTest, InvalidEntriesAreToldAndNothingIsSent) {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    CBaseConfigDlg& dialog = OpenAndRead();
    const auto before = dock->Requests().size();
    auto expectRefused = [&](const std::u16string& message, int focus) {
        driver.ExpectMessageBox(message, IDOK);
        EXPECT_EQ(dialog.ApplySettings(), kConfigInvalid);
        EXPECT_TRUE(Pane().Focused(focus));
    };

    Pane().Check(kRequirePinCheck);
    EXPECT_TRUE(Pane().Enabled(kPinEdit));
    expectRefused(u"Your PIN must be four digits long.", kPinEdit);
    Pane().Type(kPinEdit, u"12a4");
    expectRefused(u"Your PIN can only contain the numeric characters 0-9.", kPinEdit);

    Pane().Type(kNameEdit, u"");
    expectRefused(u"Please enter a device name.", kNameEdit);
    // 17 characters, 34 bytes as sent: too long, though few enough letters.
    Pane().Type(kNameEdit, std::u16string(17, u'\u00E9'));
    expectRefused(u"The device name  is too long. Please enter a shorter name.", kNameEdit);
    EXPECT_EQ(dock->Requests().size(), before);

    // 32 bytes fit.
    Pane().Type(kNameEdit, std::u16string(16, u'\u00E9'));
    Pane().Type(kPinEdit, u"4321");
    EXPECT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_EQ(dock->Pin(), "4321");
    EXPECT_EQ(dock->Bluetooth().friendlyName.size(), 32u);
    EXPECT_TRUE(dock->Bluetooth().requirePin);
    std::setlocale(LC_ALL, "C");
}

TEST_F(DrelanConfigTest, RemovingTheOnlyPairedDeviceWritesAnEmptyList) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Click(kRemoveButton);
    EXPECT_TRUE(dialog.AreSettingsSaved()) << "nothing selected, nothing removed";
    Pane().ClickRow(kPairedList, 0);
    Pane().Click(kRemoveButton);
    EXPECT_TRUE(Pane().Rows(kPairedList).empty());
    EXPECT_FALSE(dialog.AreSettingsSaved());
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(std::regex_search(BodyOf("setBluetoothProfileData"), std::regex("<pairedDevices>\\s*</pairedDevices>")))
        << BodyOf("setBluetoothProfileData");
    EXPECT_TRUE(dock->Bluetooth().pairedDevices.empty());
}

TEST_F(DrelanConfigTest, BluetoothRestartsOnlyWhenTheModelAsksForIt) {
    struct Case {
        std::optional<std::string> property;
        unsigned restarts;
    };
    for (const Case& c : {Case{"true", 1}, Case{"false", 0}, Case{"TRUE", 0}, Case{std::nullopt, 0}}) {
        SCOPED_TRACE(c.property.value_or("(none)"));
        SetResetProperty(c.property);
        CBaseConfigDlg& dialog = OpenAndRead();
        dock->ClearHistory();
        ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
        EXPECT_EQ(Count("restartBluetooth"), c.restarts);
        EXPECT_EQ(dock->GetCounters().bluetoothRestarts, c.restarts);
        // Nothing was edited: only the PIN is written.
        EXPECT_EQ(Count("setPrinterSettings"), 1u);
        EXPECT_EQ(Count("setBluetoothProfileData"), 0u);
        plugin.Unload();
    }
}

TEST_F(DrelanConfigTest, TheChannelOfAnApplyServesTheNextReadAndNeverOutlivesThePane) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Type(kNameEdit, u"Office");
    dock->ClearHistory();
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(dock->InConfigMode()) << "kept open for the rescan's read";
    ASSERT_EQ(dialog.NewPrinterSelected(Printer(), PrinterConfig()), kConfigReadSuccess);
    EXPECT_EQ(dock->GetCounters().enters, 1u);
    EXPECT_EQ(dock->GetCounters().leaves, 1u);
    EXPECT_FALSE(dock->InConfigMode());
    EXPECT_EQ(Pane().Text(kNameEdit), u"Office");

    // An apply with no read after it: letting go of the plug-in leaves
    // configuration mode.
    ASSERT_EQ(dialog.ApplySettings(), kConfigSuccess);
    EXPECT_TRUE(dock->InConfigMode());
    plugin.Unload();
    EXPECT_FALSE(dock->InConfigMode());
    EXPECT_EQ(dock->GetCounters().enters, dock->GetCounters().leaves);
}

TEST_F(DrelanConfigTest, AnErrorAnswerIsAFailedReadThatIsNeverWrittenBack) {
    dock->SetFault("getBluetoothProfile", DockPrinter::Fault{.result = 5});
    CBaseConfigDlg& dialog = Open();
    EXPECT_EQ(dialog.NewPrinterSelected(Printer(), PrinterConfig()), kConfigUnreachable);
    EXPECT_FALSE(dock->InConfigMode());
    dock->ClearHistory();
    driver.ExpectMessageBox(kRefused, IDOK);
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    EXPECT_TRUE(dock->Requests().empty());
    EXPECT_EQ(dock->Bluetooth().friendlyName, "Kitchen");
}

TEST_F(DrelanConfigTest, ARefusedApplyIsToldAsARefusalAndOnlyAnUnreachablePrinterAsTheCable) {
    CBaseConfigDlg& dialog = OpenAndRead();
    Pane().Type(kNameEdit, u"Office");
    for (const char* command : {"setPrinterSettings", "setBluetoothProfileData"}) {
        SCOPED_TRACE(command);
        dock->SetFault(command, DockPrinter::Fault{.times = 1, .result = 5});
        driver.ExpectMessageBox(kRefused, IDOK);
        EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
        EXPECT_FALSE(dialog.AreSettingsSaved());
    }
    dock->Unplug();
    driver.ExpectMessageBox(kUnreachable, IDOK);
    EXPECT_EQ(dialog.ApplySettings(), kConfigUnreachable);
    EXPECT_EQ(driver.MessageBoxes().size(), 3u);
}

}  // namespace

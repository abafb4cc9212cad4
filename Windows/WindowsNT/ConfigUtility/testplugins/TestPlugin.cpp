// A small configuration plug-in for the tests: one edit box, statuses and
// button mask from its script, every call logged. Built twice, under two
// module names.
#include "TestPluginControl.h"

#include "Common/NetConfig/API/Win32ConfigAPI.h"
#include "Common/NetConfig/Requests.h"
#include "Mfc/Layer.h"
#include "Windows/WindowsNT/ConfigPlugins/BaseConfigDlg.h"

#include <exception>
#include <memory>

namespace {

constexpr std::uint32_t kTemplate = 200;
constexpr int kValueEdit = 1001;

Platform::ResourceTable Resources() {
    return Platform::ParseResourceText(R"rc(
DIALOG 200 200 80 "" CHILD
    LTEXT -1 "Value:" 7 9 40 8
    EDITTEXT 1001 "" 50 7 140 12
END
)rc",
                                       "test plug-in resources");
}

AFX_MODULE_STATE* State() {
    static AFX_MODULE_STATE state(TEST_PLUGIN_NAME u".dll", Resources());
    return &state;
}
// Registered while the library loads, as a library with resources must be.
const bool g_stateMade = (State(), true);

void Log(const std::string& call) {
    LogPluginCall(TEST_PLUGIN_NAME, call);
}

TestPluginScript& Script() {
    return PluginScript(TEST_PLUGIN_NAME);
}

class CTestConfigDlg : public CBaseConfigDlg {
public:
    CTestConfigDlg() : CBaseConfigDlg(kTemplate) {
        ++LivePluginDialogs();
        MapControl(EN_CHANGE, kValueEdit, [this] { saved_ = false; });
    }
    ~CTestConfigDlg() override {
        Log("~CTestConfigDlg");
        --LivePluginDialogs();
    }

    BOOL DestroyWindow() override {
        AFX_MANAGE_STATE(State());
        Log("DestroyWindow");
        return CBaseConfigDlg::DestroyWindow();
    }
    unsigned GetOptionalButtons() override {
        Log("GetOptionalButtons");
        return Script().mask;
    }
    int ApplySettings() override {
        AFX_MANAGE_STATE(State());
        auto& statuses = Script().applyStatuses;
        int status = kConfigSuccess;
        if (!statuses.empty()) {
            status = statuses.front();
            statuses.pop_front();
        }
        CString value;
        GetDlgItemText(kValueEdit, value);
        Log("ApplySettings " + Mfc::Utf8(value.str()) + " -> " + std::to_string(status));
        if (status == kConfigSuccess) saved_ = true;
        return status;
    }
    int NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) override {
        AFX_MANAGE_STATE(State());
        Log("NewPrinterSelected " + printer.serialNumber);
        printer_ = printer;
        if (!IsPrinterSupported(printer, description)) return kConfigUnsupported;
        try {
            // One request stands for a read of the printer's settings.
            Win32ConfigAPI api;
            api.OpenByDriverKeyName(printer.driverKeyName, static_cast<int>(printer.maxOutPacketSize),
                                    static_cast<int>(printer.maxInPacketSize));
            std::string guid;
            const bool read = ::GetPrinterGuid(api, guid);
            api.Close(true);
            if (!read) return kConfigUnreachable;
        } catch (const std::exception&) {
            return kConfigUnreachable;
        }
        SetDlgItemText(kValueEdit, u"");
        saved_ = true;
        return Script().readStatus;
    }
    bool AreSettingsSaved() override {
        Log("AreSettingsSaved");
        return saved_;
    }
    bool IsPrinterSupported(const PrinterInfoResult& printer, const PrinterConfig&) override {
        Log("IsPrinterSupported");
        const auto& products = Script().supportedProducts;
        return products.empty() || products.count(printer.productId) != 0;
    }
    int ShowHelp() override {
        Log("ShowHelp");
        return CBaseConfigDlg::ShowHelp();
    }
    int RunWizard() override {
        Log("RunWizard");
        return CBaseConfigDlg::RunWizard();
    }
    int TestConnection() override {
        Log("TestConnection");
        return Script().testStatus;
    }
    CString GetPrinterGuid() override {
        Log("GetPrinterGuid");
        return CString(Script().guid.c_str());
    }
    bool NeedsRescanAfterApply() override {
        Log("NeedsRescanAfterApply");
        return Script().rescanAfterApply;
    }

private:
    PrinterInfoResult printer_;
    bool saved_ = true;
};

}  // namespace

CONFIG_PLUGIN_EXPORT CBaseConfigDlg* CreateConfigDialog() {
    AFX_MANAGE_STATE(State());
    Log("CreateConfigDialog");
    if (Script().nullDialog) return nullptr;
    try {
        return std::make_unique<CTestConfigDlg>().release();
    } catch (...) {
        return nullptr;
    }
}

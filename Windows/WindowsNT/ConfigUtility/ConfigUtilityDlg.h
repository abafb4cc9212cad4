// The configuration utility's main dialog: the attached supported printers
// in a list, and the configuration plug-in of the chosen one embedded below
// it, driven by the host's own buttons.
#pragma once

#include "ConfigPluginHost.h"

#include "Mfc/AfxWin.h"
#include "Windows/Win32-USBUtils/USBUtils.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Accepts a device whose vendor id is a key of the map and whose product id
// is in that key's list.
class DeviceOnHubMatchedSupportedVidPid : public DeviceOnHubMatched {
public:
    explicit DeviceOnHubMatchedSupportedVidPid(const std::map<std::uint32_t, std::vector<std::uint32_t>>& supported)
        : supported_(supported) {}
    bool Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override;

private:
    const std::map<std::uint32_t, std::vector<std::uint32_t>>& supported_;
};

// Keeps every match, in walk order; never complete, so the whole tree is
// walked.
template <class T>
class HubEnumResultList : public HubEnumResult {
public:
    void AddResult(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) override {
        results_.emplace_back(hub, port, info);
    }
    bool IsComplete() const override { return false; }
    const std::vector<T>& GetResults() const { return results_; }

private:
    std::vector<T> results_;
};

struct PrinterEntry {
    PrinterInfoResult printer;
    std::u16string pluginName;
    bool visited = false;
    bool unsupported = false;
};

// Control and resource ids of the dialog.
enum : UINT {
    IDD_CONFIG_UTILITY = 12102,
    IDC_PRINTER_LIST = 12000,
    IDC_APPLY = 12006,
    IDC_WIZARD = 12007,
    IDC_REFRESH = 12008,
    IDC_TEST = 12011,
    IDC_SERIAL = 12038,
    IDC_PRINTER_IDENTITY = 12039,
    IDC_HELP_BUTTON = 11030,
    IDI_CONFIG_UTILITY = 112,
    IDS_STARTUP_FAILED = 32,
    IDS_SCAN_FAILED = 34,
    IDS_SCAN_FAILED_UNEXPECTEDLY = 35,
    IDS_OPERATION_FAILED = 10001,
    IDS_SAVE_CHANGES = 10002,
    IDS_APP_TITLE = 10110,
    IDS_NOT_SUPPORTED = 10111,
    IDS_HELP_UNAVAILABLE = 10150,
};

class CConfigUtilityDlg : public CDialog {
public:
    CConfigUtilityDlg();
    ~CConfigUtilityDlg() override;

    bool StartModal() override;
    BOOL DestroyWindow() override;

    // For tests: the embedded plug-in, or null.
    CBaseConfigDlg* PluginDialog() const { return plugin_.Dialog(); }
    const std::vector<PrinterEntry>& Printers() const { return printers_; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnCancel() override;

private:
    void OnSelectionChanged();
    void OnApply();
    void OnWizard();
    void OnHelpButton();
    void OnTest();
    void OnRefresh();

    void RetrieveVidPidList();
    void FindUsbDevices();
    bool Rescan();
    bool RescanKeeping(std::string driverKey);
    // `leaveChecked`: the caller's leave check has settled the edits already.
    void LoadPluginForSelection(bool leaveChecked = false);
    // Whether the entry's printer may have its plug-in: identified on the
    // first selection whose device id read succeeds; tells the user when not.
    bool Identify(PrinterEntry& entry);
    bool LeaveCheck();
    bool Apply();
    void LayOutPlugin();
    // Runs the rescan a plug-in asked for during a leave check, once the
    // operation around that check has finished.
    void RunDeferredRescan();
    int ShowMessage(UINT textId, UINT style);

    CButton applyButton_;
    CButton wizardButton_;
    CButton testButton_;
    CButton okButton_;
    CButton helpButton_;
    CString identityText_;
    CString serialText_;
    CStatic identityStatic_;
    ConfigPlugin plugin_;
    CComboBox printerList_;
    HICON icon_ = nullptr;
    std::map<std::uint32_t, std::vector<std::uint32_t>> supportedIds_;
    std::vector<PrinterEntry> printers_;
    std::uint32_t currentIndex_ = 0;

    int leaveChecks_ = 0;          // leave checks under way
    bool rescanDeferred_ = false;  // asked for while one was
};

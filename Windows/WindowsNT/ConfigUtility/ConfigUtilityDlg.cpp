#include "ConfigUtilityDlg.h"

#include "Common/ConfigSupport/PluginMapping.h"
#include "Common/ConfigSupport/PrinterIdentification.h"
#include "Common/Headers/PrinterDescription.h"
#include "Common/NetConfig/API/PrinterDevice.h"
#include "Tessary/TSException.h"
#include "Windows/Common/HelpLauncher.h"
#include "Windows/Common/ResourceDLL.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <optional>

namespace {

constexpr UINT ID_HELP = 57670;
constexpr int kPluginTop = 110;
constexpr int kExtraHeight = 185;
constexpr int kButtonGap = 50;

}  // namespace

bool DeviceOnHubMatchedSupportedVidPid::Matches(HANDLE hub, ULONG port, const USB_NODE_CONNECTION_INFORMATION& info) {
    if (!DeviceOnHubMatched::Matches(hub, port, info)) return false;
    const auto it = supported_.find(info.DeviceDescriptor.idVendor);
    if (it == supported_.end()) return false;
    return std::find(it->second.begin(), it->second.end(), info.DeviceDescriptor.idProduct) != it->second.end();
}

CConfigUtilityDlg::CConfigUtilityDlg() : CDialog(IDD_CONFIG_UTILITY) {
    MapControl(CBN_SELCHANGE, IDC_PRINTER_LIST, &CConfigUtilityDlg::OnSelectionChanged);
    MapCommand(IDC_APPLY, &CConfigUtilityDlg::OnApply);
    MapCommand(IDC_WIZARD, &CConfigUtilityDlg::OnWizard);
    MapCommand(IDC_HELP_BUTTON, &CConfigUtilityDlg::OnHelpButton);
    MapCommand(IDC_TEST, &CConfigUtilityDlg::OnTest);
    MapCommand(IDC_REFRESH, &CConfigUtilityDlg::OnRefresh);
    MapCommand(ID_HELP, [this] {
        if (!OpenHelp(m_hWnd, u"VelmoWirelessPrinter.chm")) ShowMessage(IDS_HELP_UNAVAILABLE, MB_OK);
    });
}

CConfigUtilityDlg::~CConfigUtilityDlg() {
    plugin_.Unload();
}

bool CConfigUtilityDlg::StartModal() {
    // The template, its texts and the icon are the resource library's.
    ResourceDLLScope scope;
    return CDialog::StartModal();
}

BOOL CConfigUtilityDlg::DestroyWindow() {
    // The plug-in's window is a child of ours: let it go first, in its order.
    plugin_.Unload();
    return CDialog::DestroyWindow();
}

void CConfigUtilityDlg::DoDataExchange(CDataExchange* dx) {
    DDX_Control(dx, IDC_APPLY, applyButton_);
    DDX_Control(dx, IDC_WIZARD, wizardButton_);
    DDX_Control(dx, IDC_TEST, testButton_);
    DDX_Control(dx, IDOK, okButton_);
    DDX_Control(dx, IDC_HELP_BUTTON, helpButton_);
    DDX_Control(dx, IDC_PRINTER_IDENTITY, identityStatic_);
    DDX_Control(dx, IDC_PRINTER_LIST, printerList_);
    DDX_Text(dx, IDC_PRINTER_IDENTITY, identityText_);
    DDX_Text(dx, IDC_SERIAL, serialText_);
}

int CConfigUtilityDlg::ShowMessage(UINT textId, UINT style) {
    ResourceDLLScope scope;
    StResourceString text(textId);
    StResourceString title(IDS_APP_TITLE);
    return ::MessageBoxW(m_hWnd, text, title, style);
}

BOOL CConfigUtilityDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    UpdateData(FALSE);
    icon_ = LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_CONFIG_UTILITY));
    SetIcon(icon_, TRUE);
    SetIcon(icon_, FALSE);
    try {
        RetrieveVidPidList();
        if (!Rescan()) EndDialog(IDCANCEL);
    } catch (...) {
        try {
            ShowMessage(IDS_STARTUP_FAILED, MB_OK);
        } catch (...) {
        }
        EndDialog(0);
    }
    return TRUE;
}

void CConfigUtilityDlg::RetrieveVidPidList() {
    std::vector<PrinterConfig> records;
    if (!LoadPrinterConfig(GetPrinterConfigPath(), records)) {
        TS_THROW(Tessary::TSRuntimeError,
                 "LoadPrinterConfig returned failure in CConfigUtilityDlg::RetrieveVidPidList");
    }
    supportedIds_.clear();
    for (const auto& record : records) {
        const bool network = std::any_of(record.connections.begin(), record.connections.end(),
                                         [](const auto& c) { return c && c->kind == ConnectionType::kNetwork; });
        if (network) {
            supportedIds_[static_cast<std::uint32_t>(record.vendorId)].push_back(
                static_cast<std::uint32_t>(record.productId));
        }
    }
}

void CConfigUtilityDlg::FindUsbDevices() {
    CWaitCursor wait;
    PluginMap mapping;
    if (!LoadPluginMapping(GetPluginMappingPath(), mapping)) {
        TS_THROW(Tessary::TSRuntimeError,
                 "Could not find/parse the CongifPlugin XML file in CConfigUtilityDlg::FindUsbDevices");
    }
    DeviceOnHubMatchedSupportedVidPid matcher(supportedIds_);
    HubEnumResultList<PrinterInfoResult> found;
    HubEnumDirector director(&matcher, &found);
    EnumerateHubs(director);

    std::vector<PrinterEntry> printers;
    for (const auto& printer : found.GetResults()) {
        const auto it = mapping.find({printer.vendorId, printer.productId});
        if (it == mapping.end()) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Could not find the correct plugin for this printer in CConfigUtilityDlg::FindUsbDevices");
        }
        const Tessary::I8NString name(it->second.name);
        printers.push_back(PrinterEntry{printer, name.c_str(), false, false});
    }
    if (printers.empty()) TS_THROW(Tessary::TSRuntimeError, "Found no printers in CConfigUtilityDlg::FindUsbDevices");
    printers_ = std::move(printers);
}

bool CConfigUtilityDlg::Rescan() {
    if (leaveChecks_ > 0) {
        // A plug-in's apply inside a leave check asked for it: the user's
        // pending choice decides what the rescan keeps, so it waits.
        rescanDeferred_ = true;
        return true;
    }
    if (!LeaveCheck()) return true;
    std::string key;
    if (currentIndex_ < printers_.size()) key = printers_[currentIndex_].printer.driverKeyName;
    return RescanKeeping(std::move(key));
}

bool CConfigUtilityDlg::RescanKeeping(std::string driverKey) {
    rescanDeferred_ = false;
    const auto previous = printers_;
    UINT failure = 0;
    try {
        FindUsbDevices();
    } catch (const Tessary::TSRuntimeError&) {
        failure = IDS_SCAN_FAILED;
    } catch (...) {
        failure = IDS_SCAN_FAILED_UNEXPECTEDLY;
    }
    if (failure != 0) {
        printers_ = previous;
        // A choice made while this scan was put off goes back: the list
        // shows the printer whose plug-in is in place.
        printerList_.SetCurSel(static_cast<int>(currentIndex_));
        ShowMessage(failure, MB_OK);
        return false;
    }
    try {
        printerList_.ResetContent();
        for (const auto& entry : printers_) {
            const Tessary::I8NString product(entry.printer.product);
            printerList_.AddString(product.c_str());
        }
        printerList_.SetCurSel(0);
        currentIndex_ = 0;
        const auto same = std::find_if(printers_.begin(), printers_.end(),
                                       [&](const PrinterEntry& e) { return e.printer.driverKeyName == driverKey; });
        if (!driverKey.empty() && same != printers_.end()) {
            printerList_.SetCurSel(static_cast<int>(same - printers_.begin()));
        }
        // The rescan's own leave check has settled the edits.
        LoadPluginForSelection(true);
    } catch (...) {
        ShowMessage(IDS_OPERATION_FAILED, MB_OK);
        EndDialog(IDCANCEL);
        return false;
    }
    return true;
}

bool CConfigUtilityDlg::LeaveCheck() {
    CBaseConfigDlg* dialog = plugin_.Dialog();
    if (dialog == nullptr || dialog->AreSettingsSaved()) return true;
    ++leaveChecks_;
    struct Depth {
        int& count;
        ~Depth() { --count; }
    } depth{leaveChecks_};
    switch (ShowMessage(IDS_SAVE_CHANGES, MB_YESNOCANCEL)) {
        case IDCANCEL:
            return false;
        case IDYES:
            return Apply();
        default:
            return true;
    }
}

void CConfigUtilityDlg::LoadPluginForSelection(bool leaveChecked) {
    if (!leaveChecked && !LeaveCheck()) {
        printerList_.SetCurSel(static_cast<int>(currentIndex_));
        return;
    }
    const int selection = printerList_.GetCurSel();
    if (selection < 0 || static_cast<std::size_t>(selection) >= printers_.size()) return;
    if (rescanDeferred_) {
        // The rescan the plug-in asked for loads the user's choice, once.
        RescanKeeping(printers_[static_cast<std::size_t>(selection)].printer.driverKeyName);
        return;
    }
    CWaitCursor wait;
    currentIndex_ = static_cast<std::uint32_t>(selection);
    auto& entry = printers_[currentIndex_];
    if (!Identify(entry)) {
        // The plug-in of the printer before would write to a printer the
        // list no longer shows.
        plugin_.Unload();
        identityText_.Empty();
        identityStatic_.ShowWindow(SW_HIDE);
    } else {
        PrinterConfig description;
        LoadPrinterConfigByVidPid(GetPrinterConfigPath(), entry.printer.vendorId, entry.printer.productId, description);
        plugin_.Load(entry.pluginName);
        if (CBaseConfigDlg* dialog = plugin_.Dialog()) {
            auto dialogTemplate = Platform::FindDialogTemplate(plugin_.Module(), dialog->m_templateId & 0xFFFF);
            if (dialog->CreateIndirect(dialogTemplate, this)) {
                dialog->ShowWindow(SW_SHOWNORMAL);
                LayOutPlugin();
                dialog->NewPrinterSelected(entry.printer, description);
                identityText_ = dialog->GetPrinterGuid();
                identityStatic_.ShowWindow(identityText_.IsEmpty() ? SW_HIDE : SW_SHOW);
            }
        }
    }
    serialText_ = Tessary::I8NString(entry.printer.serialNumber).c_str();
    UpdateData(FALSE);
}

bool CConfigUtilityDlg::Identify(PrinterEntry& entry) {
    if (!entry.visited) {
        try {
            std::string id;
            PrinterDevice device(entry.printer.driverKeyName, static_cast<int>(entry.printer.maxOutPacketSize),
                                 static_cast<int>(entry.printer.maxInPacketSize));
            device.GetDeviceID(id);
            // A device id it cannot make sense of (a version that is no
            // number) makes the printer as unreadable as one that answers
            // nothing.
            entry.unsupported = !IdentifyPrinterFromDeviceID(id.c_str());
        } catch (const std::exception&) {
            // Not visited: its next selection reads it again.
            ShowMessage(IDS_OPERATION_FAILED, MB_OK);
            return false;
        }
        entry.visited = true;
    }
    if (entry.unsupported) {
        ShowMessage(IDS_NOT_SUPPORTED, MB_OK);
        return false;
    }
    return true;
}

void CConfigUtilityDlg::LayOutPlugin() {
    CBaseConfigDlg* dialog = plugin_.Dialog();
    RECT pluginRect;
    dialog->GetWindowRect(&pluginRect);
    const int w = pluginRect.right - pluginRect.left;
    const int h = pluginRect.bottom - pluginRect.top;
    dialog->MoveWindow(0, kPluginTop, w, h);
    const int height = h + kExtraHeight;
    SetWindowPos(nullptr, 0, 0, w, height, SWP_NOMOVE | SWP_NOZORDER);
    const bool rtl = (GetExStyle() & WS_EX_LAYOUTRTL) != 0;
    for (CButton* button : {&applyButton_, &wizardButton_, &testButton_, &okButton_, &helpButton_}) {
        RECT r;
        button->GetWindowRect(&r);
        ScreenToClient(&r);
        if (rtl) std::swap(r.left, r.right);
        const int buttonHeight = r.bottom - r.top;
        const int top = height - kButtonGap - buttonHeight;
        button->MoveWindow(std::min(r.left, r.right), top, std::abs(r.right - r.left), buttonHeight);
    }
    const unsigned mask = dialog->GetOptionalButtons();
    wizardButton_.ShowWindow((mask & kConfigButtonWizard) != 0 ? SW_SHOW : SW_HIDE);
    testButton_.ShowWindow((mask & kConfigButtonTest) != 0 ? SW_SHOW : SW_HIDE);
    helpButton_.ShowWindow((mask & kConfigButtonHelp) != 0 ? SW_SHOW : SW_HIDE);
}

bool CConfigUtilityDlg::Apply() {
    CBaseConfigDlg* dialog = plugin_.Dialog();
    if (dialog == nullptr) return true;
    const int status = dialog->ApplySettings();
    // Asked after every apply, as plug-ins expect; a rescan only follows
    // settings that reached the printer.
    const bool rescan = dialog->NeedsRescanAfterApply();
    // The plug-in has told the user why it failed; its edits stay, still
    // unsaved, for another Apply or for the question when the user leaves.
    // Reloading here would ask that question at once, and a Yes would apply
    // and fail again one level deeper.
    if (status != kConfigSuccess) return false;
    if (rescan) {
        try {
            Rescan();
        } catch (...) {
        }
    }
    return true;
}

void CConfigUtilityDlg::RunDeferredRescan() {
    if (!rescanDeferred_ || leaveChecks_ > 0) return;
    try {
        Rescan();
    } catch (...) {
    }
}

void CConfigUtilityDlg::OnSelectionChanged() {
    if (printerList_.GetCurSel() != static_cast<int>(currentIndex_)) {
        try {
            LoadPluginForSelection();
        } catch (...) {
            ShowMessage(IDS_OPERATION_FAILED, MB_OK);
        }
    }
    RunDeferredRescan();
}

void CConfigUtilityDlg::OnApply() {
    Apply();
    RunDeferredRescan();
}

void CConfigUtilityDlg::OnWizard() {
    if (CBaseConfigDlg* dialog = plugin_.Dialog()) dialog->RunWizard();
}

void CConfigUtilityDlg::OnHelpButton() {
    if (CBaseConfigDlg* dialog = plugin_.Dialog()) dialog->ShowHelp();
}

void CConfigUtilityDlg::OnTest() {
    CBaseConfigDlg* dialog = plugin_.Dialog();
    if (dialog == nullptr) return;
    // A failed test has been told by the plug-in; its edits stay on show, as
    // after a failed apply. Reading the printer again would ask about them
    // at once, and a Yes would fail and tell it again.
    if (dialog->TestConnection() == kConfigSuccess) LoadPluginForSelection();
    RunDeferredRescan();
}

void CConfigUtilityDlg::OnRefresh() {
    try {
        Rescan();
    } catch (...) {
    }
    RunDeferredRescan();
}

void CConfigUtilityDlg::OnOK() {
    const bool leave = LeaveCheck();
    // Nothing is left to rescan for once the dialog closes.
    if (leave) {
        rescanDeferred_ = false;
        EndDialog(IDOK);
    } else {
        RunDeferredRescan();
    }
}

void CConfigUtilityDlg::OnCancel() {
    OnOK();
}

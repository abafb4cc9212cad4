#include "DrelanConfigDlg.h"

#include "DrelanConfigResources.h"

#include "Windows/WindowsNT/ConfigPlugins/PluginSupport.h"

#include "Common/Headers/PrinterDescription.h"
#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Requests.h"
#include "Mfc/Layer.h"
#include "Tessary/TSException.h"

#include <new>
#include <optional>

namespace {

constexpr unsigned kVendorId = 0x3B7D;
constexpr unsigned kProductId = 0x410F;
constexpr std::size_t kMaxNameBytes = 32;
constexpr std::size_t kPinLength = 4;

// Controls of the template.
constexpr int kProfileGroup = 1003;
constexpr int kEnabledCheck = 1035;
constexpr int kNameLabel = 1036;
constexpr int kNameEdit = 12010;
constexpr int kNameHint = 1001;
constexpr int kRequirePinCheck = 12047;
constexpr int kPinLabel = 1034;
constexpr int kPinEdit = 12023;
constexpr int kLinkwiseCheck = 12046;
constexpr int kPairedLabel = 1000;
constexpr int kPairedList = 1044;
constexpr int kRemoveButton = 1002;

// Strings.
constexpr UINT kDeviceColumn = 10;
constexpr UINT kNameEmpty = 11;
constexpr UINT kNameTooLong = 12;
constexpr UINT kPinWrongLength = 13;
constexpr UINT kPinNotDigits = 14;
constexpr UINT kNameInvalid = 16;
constexpr UINT kCannotCommunicate = 17;
constexpr UINT kRefused = 18;

using PluginSupport::Narrow;
using PluginSupport::Utf8;
using PluginSupport::Wide;

}  // namespace

AFX_MODULE_STATE* DrelanModuleState() {
    static AFX_MODULE_STATE state(u"Corrani.dll", DrelanConfigResources());
    return &state;
}

namespace {
// Registered while the library loads, so the host finds the template.
const bool g_stateMade = (DrelanModuleState(), true);
}  // namespace

CDrelanConfigDlg::CDrelanConfigDlg() : CBaseConfigDlg(kDrelanConfigTemplate) {
    try {
        m_api = std::make_unique<Win32ConfigAPI>();
    } catch (const std::bad_alloc&) {
        TS_THROW(Tessary::TSRuntimeError, "Failed to allocate config API object in CDrelanConfigDlg::CDrelanConfigDlg");
    }
    MapCommand(kEnabledCheck, [this] { OnEnabledChanged(); });
    MapControl(EN_CHANGE, kNameEdit, [this] { OnEnabledChanged(); });
    MapControl(EN_CHANGE, kPinEdit, [this] { OnEnabledChanged(); });
    MapCommand(kLinkwiseCheck, [this] { m_modified = true; });
    MapCommand(kRequirePinCheck, [this] { OnRequirePinClicked(); });
    MapCommand(kRemoveButton, [this] { OnRemovePairing(); });
}

CDrelanConfigDlg::~CDrelanConfigDlg() {
    ClosePrinter();
}

BOOL CDrelanConfigDlg::DestroyWindow() {
    AFX_MANAGE_STATE(DrelanModuleState());
    // An apply keeps the channel open for the next read; the printer must
    // not stay in configuration mode once the pane is gone.
    ClosePrinter();
    return CBaseConfigDlg::DestroyWindow();
}

BOOL CDrelanConfigDlg::OnInitDialog() {
    AFX_MANAGE_STATE(DrelanModuleState());
    CBaseConfigDlg::OnInitDialog();
    m_languageOffset = Mfc::LanguageOffset(GetUserDefaultLangID(), 100);
    const std::pair<int, UINT> captions[] = {
        {kProfileGroup, 1}, {kEnabledCheck, 2},  {kNameLabel, 3},   {kNameHint, 4},     {kRequirePinCheck, 5},
        {kPinLabel, 6},     {kLinkwiseCheck, 7}, {kPairedLabel, 8}, {kRemoveButton, 9},
    };
    for (const auto& [id, stringId] : captions) SetDlgItemText(id, String(stringId));
    m_devices.SubclassDlgItem(kPairedList, this);
    return TRUE;
}

CString CDrelanConfigDlg::String(UINT id) const {
    return Mfc::LoadLocalizedString(id, m_languageOffset);
}

bool CDrelanConfigDlg::IsPrinterSupported(const PrinterInfoResult& printer, const PrinterConfig&) {
    return printer.vendorId == kVendorId && printer.productId == kProductId;
}

void CDrelanConfigDlg::OpenPrinter() {
    if (m_api->IsConnected()) return;
    CWaitCursor wait;
    ClosePrinter();
    PluginSupport::ConnectPrinter(*m_api, m_printer);
}

void CDrelanConfigDlg::ClosePrinter() noexcept {
    if (m_api) PluginSupport::ReleasePrinter(*m_api);
}

int CDrelanConfigDlg::NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) {
    AFX_MANAGE_STATE(DrelanModuleState());
    m_model = PrinterConfig();
    LoadPrinterConfigByVidPid(GetPrinterConfigPath(), printer.vendorId, printer.productId, m_model);
    m_modified = false;
    m_printer = printer;
    if (!IsPrinterSupported(printer, description)) return kConfigUnsupported;

    CWaitCursor wait;
    try {
        m_record = std::make_unique<PrinterRecord>();
    } catch (const std::bad_alloc&) {
        return kConfigNoMemory;
    }
    int status = kConfigReadSuccess;
    try {
        m_record->loaded = true;
        OpenPrinter();
        if (!GetPrinterSettings(NetConfigNames::kBluetoothDockConfig, *m_api, m_record->settings)) {
            TS_THROW(Tessary::TSException,
                     "Invalid response received for 'get printer settings' request in "
                     "CConfigUtilityDlg::NewPrinterSelected");
        }
        // An error answer carries no profile: taking it for one would show
        // defaults that an apply then writes back.
        int result = -1;
        const bool answered =
            GetBluetoothProfile(NetConfigNames::kBluetoothDockConfig, *m_api, m_record->profile, result);
        m_record->refused = answered && result != 0;
        if (!answered || result != 0) {
            TS_THROW(Tessary::TSException,
                     "Invalid response received for 'get Bluetooth profile' request in "
                     "CConfigUtilityDlg::NewPrinterSelected");
        }
        ClosePrinter();
    } catch (const std::exception&) {
        ClosePrinter();
        m_record->readFailed = true;
        status = kConfigUnreachable;
    }
    FillControls();
    // Filling the edits is no edit of the user's.
    m_modified = false;
    return status;
}

void CDrelanConfigDlg::FillControls() {
    const BluetoothProfile& profile = m_record->profile;
    SetDlgItemText(kPinEdit, Wide(m_record->settings.pin));
    CheckDlgButton(kEnabledCheck, profile.GetEnabled() ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemText(kNameEdit, Wide(profile.GetFriendlyName()));
    CheckDlgButton(kRequirePinCheck, profile.GetRequirePIN() ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(kLinkwiseCheck, profile.GetLinkwiseEnabled() ? BST_CHECKED : BST_UNCHECKED);

    if (!m_columnsMade) {
        m_devices.InsertColumn(0, u"#", LVCFMT_RIGHT, 60);
        m_devices.InsertColumn(1, String(kDeviceColumn), LVCFMT_LEFT, 480);
        m_devices.SetExtendedStyle(m_devices.GetExtendedStyle() | LVS_EX_FULLROWSELECT);
        m_columnsMade = true;
    }
    m_devices.DeleteAllItems();
    int row = 0;
    for (const auto& device : profile.GetPairedDevices()) {
        CString number;
        number.Format(u"%d", row + 1);
        m_devices.InsertItem(row, number);
        m_devices.SetItemText(row, 1, Wide(device.deviceName));
        ++row;
    }
    UpdateControlStates();
}

void CDrelanConfigDlg::UpdateControlStates() {
    const bool enabled = IsDlgButtonChecked(kEnabledCheck) == BST_CHECKED;
    const bool pinRequired = IsDlgButtonChecked(kRequirePinCheck) == BST_CHECKED;
    for (int id : {kNameLabel, kNameEdit, kNameHint, kRequirePinCheck, kLinkwiseCheck, kPairedLabel, kPairedList,
                   kRemoveButton}) {
        if (CWnd* control = GetDlgItem(id)) control->EnableWindow(enabled);
    }
    for (int id : {kPinLabel, kPinEdit}) {
        if (CWnd* control = GetDlgItem(id)) control->EnableWindow(enabled && pinRequired);
    }
}

void CDrelanConfigDlg::OnEnabledChanged() {
    m_modified = true;
    UpdateControlStates();
}

void CDrelanConfigDlg::OnRequirePinClicked() {
    m_modified = true;
    UpdateControlStates();
}

void CDrelanConfigDlg::OnRemovePairing() {
    const int row = m_devices.GetNextItem(-1, LVNI_SELECTED);
    if (row < 0 || !m_record) return;
    auto& devices = m_record->profile.GetPairedDevices();
    if (row >= static_cast<int>(devices.size())) return;
    m_modified = true;
    devices.erase(devices.begin() + row);
    m_devices.DeleteItem(row);
}

void CDrelanConfigDlg::Reject(UINT messageId, int focusId) {
    MessageBox(String(messageId), nullptr, MB_OK | MB_ICONSTOP);
    if (CWnd* control = GetDlgItem(focusId)) GotoDlgCtrl(control);
}

bool CDrelanConfigDlg::ValidateControls() {
    CString name;
    GetDlgItemText(kNameEdit, name);
    const auto narrowName = Narrow(name);
    // The printer takes the name as UTF-8; the narrow length alone lets a
    // name through that arrives too long.
    const auto utf8Name = Utf8(name);
    if (name.GetLength() == 0) {
        Reject(kNameEmpty, kNameEdit);
        return false;
    }
    if ((narrowName && narrowName->size() > kMaxNameBytes) || (utf8Name && utf8Name->size() > kMaxNameBytes)) {
        Reject(kNameTooLong, kNameEdit);
        return false;
    }
    if (!narrowName || !utf8Name) {
        Reject(kNameInvalid, kNameEdit);
        return false;
    }
    if (IsDlgButtonChecked(kRequirePinCheck) != BST_CHECKED) return true;
    CString pin;
    GetDlgItemText(kPinEdit, pin);
    if (static_cast<std::size_t>(pin.GetLength()) != kPinLength) {
        Reject(kPinWrongLength, kPinEdit);
        return false;
    }
    const auto narrowPin = Narrow(pin);
    bool digits = narrowPin.has_value();
    if (digits) {
        for (char c : *narrowPin) digits = digits && c >= '0' && c <= '9';
    }
    if (!digits) {
        Reject(kPinNotDigits, kPinEdit);
        return false;
    }
    return true;
}

void CDrelanConfigDlg::StoreControls() {
    CString name;
    CString pin;
    GetDlgItemText(kNameEdit, name);
    GetDlgItemText(kPinEdit, pin);
    BluetoothProfile& profile = m_record->profile;
    profile.SetEnabled(IsDlgButtonChecked(kEnabledCheck) == BST_CHECKED);
    profile.SetFriendlyName(Utf8(name).value_or(std::string()));
    m_record->settings.pin = Utf8(pin).value_or(std::string());
    profile.SetRequirePIN(IsDlgButtonChecked(kRequirePinCheck) == BST_CHECKED);
    profile.SetLinkwiseEnabled(IsDlgButtonChecked(kLinkwiseCheck) == BST_CHECKED);
}

void CDrelanConfigDlg::WriteCurrentSettingsToPrinter() {
    PluginSupport::WriteSettings(NetConfigNames::kBluetoothDockConfig, *m_api, m_record->settings,
                                 "CDrelanConfigDlg::WriteCurrentSettingsToPrinter");
}

void CDrelanConfigDlg::WriteCurrentBluetoothProfileToPrinter() {
    PluginSupport::WriteBluetoothProfile(NetConfigNames::kBluetoothDockConfig, *m_api, m_record->profile,
                                         "CDrelanConfigDlg::WriteCurrentBluetoothProfileToPrinter");
}

int CDrelanConfigDlg::ApplySettings() {
    AFX_MANAGE_STATE(DrelanModuleState());
    // Without what the printer holds there is nothing sound to write back.
    if (!m_record || m_record->readFailed) return Failed(m_record && m_record->refused ? kRefused : kCannotCommunicate);
    if (!ValidateControls()) return kConfigInvalid;

    CWaitCursor wait;
    try {
        OpenPrinter();
    } catch (const std::exception&) {
        ClosePrinter();
        return Failed(kCannotCommunicate);
    }
    UINT failure = 0;
    try {
        StoreControls();
        WriteCurrentSettingsToPrinter();
        if (m_modified) {
            StoreControls();
            WriteCurrentBluetoothProfileToPrinter();
        }
        const auto reset = m_model.customProperties.find("resetBluetooth");
        if (reset != m_model.customProperties.end() && reset->second == "true") {
            int ignored = 0;
            RestartBluetooth(*m_api, ignored);
        }
    } catch (const Tessary::TSRuntimeCodeError&) {
        // It answered, with an error: the cable is not to blame.
        ClosePrinter();
        failure = kRefused;
    } catch (const std::exception&) {
        ClosePrinter();
        failure = kCannotCommunicate;
    }
    UpdateControlStates();
    // The channel stays open after success: the rescan that follows reads
    // the printer again through it.
    if (failure != 0) return Failed(failure);
    m_modified = false;
    return kConfigSuccess;
}

int CDrelanConfigDlg::Failed(UINT messageId) {
    // The host says nothing of a failed apply: the user hears why from us.
    MessageBox(String(messageId), nullptr, MB_OK | MB_ICONSTOP);
    return kConfigUnreachable;
}

CONFIG_PLUGIN_EXPORT CBaseConfigDlg* CreateConfigDialog() {
    return PluginSupport::MakeConfigDialog<CDrelanConfigDlg>(DrelanModuleState());
}

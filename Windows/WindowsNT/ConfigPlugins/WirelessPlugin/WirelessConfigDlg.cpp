#include "WirelessConfigDlg.h"

#include "AdvancedDialog.h"
#include "FindNetworksDialog.h"
#include "TestProgressDialog.h"
#include "WirelessConfigResources.h"

#include "AssistantDialog.h"
#include "HostId.h"
#include "RenameProfileDialog.h"
#include "WizardValidators.h"

#include "Windows/WindowsNT/ConfigPlugins/PluginSupport.h"

#include "Common/Headers/PrinterDescription.h"
#include "Common/NetConfig/NetConfigXML.h"
#include "Common/NetConfig/Requests.h"
#include "Mfc/Layer.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Tessary/i8n/UTFConversion.h"
#include "Windows/Common/HelpLauncher.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <optional>

namespace {

constexpr std::size_t kMaxNameUnits = 32;
constexpr std::size_t kMaxNameBytes = 64;  // a device name must stay below this in UTF-8
constexpr std::size_t kMaxSsidBytes = 32;
constexpr std::size_t kMaxBluetoothNameBytes = 32;
constexpr int kPinLength = 4;
constexpr DWORD_PTR kBluetoothItem = static_cast<DWORD_PTR>(-1);
constexpr const char* kCountry = "US";

constexpr const char16_t* kHelpFile = u"VelmoWirelessPrinter.chm";

// Controls of template 106.
constexpr int kListLabel = 13132;
constexpr int kProfileList = 12004;
constexpr int kRenameButton = 12009;
constexpr int kProfileGroup = 13133;
constexpr int kNameLabel = 11037;
constexpr int kNameEdit = 12005;
constexpr int kSsidLabel = 11032;
constexpr int kSsidEdit = 12024;
constexpr int kFindButton = 12003;
constexpr int kAdHocCheck = 12032;
constexpr int kChannelLabel = 11031;
constexpr int kChannelList = 12025;
constexpr int kAdvancedButton = 12002;
constexpr int kBluetoothCheck = 11035;
constexpr int kBluetoothNameLabel = 11036;
constexpr int kBluetoothNameEdit = 12010;
constexpr int kPinLabel = 11034;
constexpr int kPinEdit = 12023;
constexpr int kTrustedCheck = 12047;

// Strings.
constexpr UINT kUnknownError = 10001;
constexpr UINT kApplyQuestion = 10002;
constexpr UINT kNameEmpty = 10003;
constexpr UINT kNameTooLong = 10004;
constexpr UINT kPinWrongLength = 10005;
constexpr UINT kPinNotDigits = 10006;
constexpr UINT kSsidEmpty = 10007;
constexpr UINT kSsidTooLong = 10008;
constexpr UINT kPrinterFound = 10009;
constexpr UINT kHelpUnavailable = 10150;
constexpr UINT kPrinterNotFound = 10010;
constexpr UINT kWepKeyRule = 10014;
constexpr UINT kHostIdQuestion = 10015;
constexpr UINT kScanWarning = 10030;
constexpr UINT kUnsupportedProfile = 10034;
constexpr UINT kSecureNetworkChosen = 10040;
constexpr UINT kCannotCommunicate = 10041;
constexpr UINT kBluetoothEntry = 10042;
constexpr UINT kRepairQuestion = 10043;
constexpr UINT kFactoryNotTested = 10050;
constexpr UINT kOtherNetworkWarning = 10077;
constexpr UINT kNoWizardProfile = 10116;

using PluginSupport::Narrow;
using PluginSupport::Utf8;
using PluginSupport::Wide;

CString Wide(const Tessary::I8NString& text) {
    return CString(text.c_str());
}

Tessary::I8NString I8N(const CString& text) {
    return Tessary::I8NString(text.GetString(), static_cast<std::size_t>(text.GetLength()));
}

// The wizard's rule: the security the pane can edit.
constexpr auto& Supported = IsSupportedSecurity;

std::string FirstKey(const WiFiSettings& wifi) {
    try {
        return wifi.GetSecurity().GetKey(1);
    } catch (const std::exception&) {
        return {};
    }
}

// The machine's host id as the printer takes it.
std::optional<std::string> HostIdUtf8() {
    const auto hostId = ReadHostId();
    if (!hostId) return std::nullopt;
    return Utf8(CString(*hostId));
}

// Writes `profiles` to the printer; throws when it answers unsoundly or
// refuses. `caller` names the write in the error.
void WriteProfiles(ConfigAPI& api, const std::vector<Profile>& profiles, const std::string& caller) {
    int result = -1;
    if (!SetProfileData(api, profiles, result)) {
        TS_THROW(Tessary::TSRuntimeError, "Invalid response received for 'set profile data' request in " + caller);
    }
    if (result != 0) {
        TS_THROW_CODE(Tessary::TSRuntimeCodeError, "Error code returned for 'set profile data' request in " + caller,
                      result);
    }
}

// How the network search reaches the printer: through the pane's own
// channel.
class PaneAccess : public CFindNetworksDialog::PrinterAccess {
public:
    explicit PaneAccess(CWirelessConfigDlg& pane) : pane_(pane) {}
    ConfigAPI& OpenPrinter() override { return pane_.OpenPrinter(); }
    void ClosePrinter() override { pane_.ClosePrinter(); }

private:
    CWirelessConfigDlg& pane_;
};

}  // namespace

int WirelessLanguageOffset(LANGID language) {
    return Mfc::LanguageOffset(language, 1000);
}

AFX_MODULE_STATE* DessmarModuleState() {
    static AFX_MODULE_STATE state(u"Dessmar.dll", WirelessConfigResources());
    return &state;
}

namespace {
// Registered while the library loads, so the host finds the template.
const bool g_stateMade = (DessmarModuleState(), true);
}  // namespace

// ----- The PIN edit

bool CWirelessConfigDlg::CNumericEdit::ClipboardHoldsPin() {
    if (!OpenClipboard(nullptr)) return false;
    bool fits = false;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* text = static_cast<const char16_t*>(GlobalLock(data))) {
            const std::size_t units = GlobalSize(data) / sizeof(char16_t);
            std::size_t length = 0;
            fits = true;
            while (length < units && text[length] != 0) {
                fits = fits && text[length] >= u'0' && text[length] <= u'9';
                ++length;
            }
            fits = fits && length <= static_cast<std::size_t>(kPinLength);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return fits;
}

BOOL CWirelessConfigDlg::CNumericEdit::PreTranslateMessage(MSG* msg) {
    if (msg->message != WM_KEYDOWN) return CEdit::PreTranslateMessage(msg);
    const auto key = static_cast<UINT>(msg->wParam);
    bool pass =
        (key >= '0' && key <= '9') || (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) || (key >= VK_F1 && key <= VK_F24);
    switch (key) {
        case VK_BACK:
        case VK_TAB:
        case VK_RETURN:
        case VK_ESCAPE:
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_PRIOR:
        case VK_NEXT:
        case VK_END:
        case VK_HOME:
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
        case VK_INSERT:
        case VK_DELETE:
            pass = true;
            break;
        default:
            break;
    }
    if (GetKeyState(VK_CONTROL) < 0) {
        if (key == 'C' || key == 'X') pass = true;
        if (key == 'V') pass = ClipboardHoldsPin();
    }
    if (pass) return FALSE;
    MessageBeep(MB_ICONEXCLAMATION);
    return TRUE;
}

LRESULT CWirelessConfigDlg::CNumericEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // A paste that does not come from the keyboard (a menu) is held to the
    // same rule.
    if (message == WM_PASTE && !ClipboardHoldsPin()) {
        MessageBeep(MB_ICONEXCLAMATION);
        return 0;
    }
    return CEdit::WindowProc(message, wParam, lParam);
}

// ----- The pane

CWirelessConfigDlg::CWirelessConfigDlg() : CBaseConfigDlg(kWirelessConfigTemplate) {
    try {
        m_api = std::make_unique<Win32ConfigAPI>();
    } catch (const std::bad_alloc&) {
        TS_THROW(Tessary::TSRuntimeError,
                 "Failed to allocate config API object in CWirelessConfigDlg::CWirelessConfigDlg");
    }
    MapControl(CBN_SELCHANGE, kProfileList, [this] { OnProfileChanged(); });
    for (int id : {kNameEdit, kBluetoothNameEdit, kPinEdit}) MapControl(EN_CHANGE, id, [this] { OnEdited(); });
    MapControl(CBN_SELCHANGE, kChannelList, [this] { OnEdited(); });
    MapCommand(kBluetoothCheck, [this] { OnEdited(); });
    MapCommand(kTrustedCheck, [this] { OnEdited(); });
    MapControl(EN_CHANGE, kSsidEdit, [this] { OnSsidChanged(); });
    MapCommand(kAdHocCheck, [this] { OnAdHocClicked(); });
    MapCommand(kAdvancedButton, [this] { OnAdvanced(); });
    MapCommand(kFindButton, [this] { OnFindNetworks(); });
    MapCommand(kRenameButton, [this] { OnRename(); });
}

CWirelessConfigDlg::~CWirelessConfigDlg() {
    ClosePrinter();
}

BOOL CWirelessConfigDlg::DestroyWindow() {
    AFX_MANAGE_STATE(DessmarModuleState());
    ClosePrinter();
    return CBaseConfigDlg::DestroyWindow();
}

LRESULT CWirelessConfigDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    AFX_MANAGE_STATE(DessmarModuleState());
    return CBaseConfigDlg::WindowProc(message, wParam, lParam);
}

CString CWirelessConfigDlg::String(UINT id) const {
    return Mfc::LoadLocalizedString(id, m_languageOffset);
}

int CWirelessConfigDlg::Message(UINT id, UINT type) {
    return MessageBox(String(id), nullptr, type);
}

BOOL CWirelessConfigDlg::OnInitDialog() {
    AFX_MANAGE_STATE(DessmarModuleState());
    CBaseConfigDlg::OnInitDialog();
    try {
        m_languageOffset = WirelessLanguageOffset(GetUserDefaultLangID());
        const std::pair<int, UINT> captions[] = {
            {kListLabel, 10078},      {kRenameButton, 10079},   {kProfileGroup, 10080},       {kNameLabel, 10081},
            {kSsidLabel, 10082},      {kFindButton, 10083},     {kAdHocCheck, 10084},         {kChannelLabel, 10085},
            {kAdvancedButton, 10086}, {kBluetoothCheck, 10087}, {kBluetoothNameLabel, 10081}, {kPinLabel, 10088},
            {kTrustedCheck, 10089},
        };
        for (const auto& [id, stringId] : captions) SetDlgItemText(id, String(stringId));
        m_profileList.SubclassDlgItem(kProfileList, this);
        m_channelList.SubclassDlgItem(kChannelList, this);
        m_pinEdit.SubclassDlgItem(kPinEdit, this);

        std::u16string path = GetInstallPath() + u"\\RegDomainData.xml";
        m_regulatory = std::make_unique<RegulatoryDomainExpert>(
            Tessary::UTF16ToUTF8String(path.data(), static_cast<int>(path.size())));

        for (int id : {kNameEdit, kBluetoothNameEdit, kSsidEdit}) SendDlgItemMessage(id, EM_LIMITTEXT, kMaxNameUnits);
        m_pinEdit.LimitText(kPinLength);
        FillChannelList();
    } catch (const std::exception&) {
        EndDialog(0);
    }
    return TRUE;
}

void CWirelessConfigDlg::FillChannelList() {
    m_channelList.ResetContent();
    if (!m_regulatory) return;
    for (unsigned channel : m_regulatory->GetChannelList(kCountry)) {
        CString text;
        text.Format(u"%u", channel);
        m_channelList.AddString(text);
    }
}

CString CWirelessConfigDlg::GetPrinterGuid() {
    if (!m_record) return CString();
    return Wide(m_record->guid);
}

int CWirelessConfigDlg::ShowHelp() {
    AFX_MANAGE_STATE(DessmarModuleState());
    if (!OpenHelp(m_hWnd, kHelpFile)) Message(kHelpUnavailable, MB_OK | MB_ICONINFORMATION);
    return kConfigSuccess;
}

// ----- The printer

ConfigAPI& CWirelessConfigDlg::OpenPrinter() {
    if (!m_api->IsConnected()) {
        CWaitCursor wait;
        ClosePrinter();
        PluginSupport::ConnectPrinter(*m_api, m_printer);
        m_api->SetConfigMode(true);
    }
    return *m_api;
}

void CWirelessConfigDlg::ClosePrinter() noexcept {
    if (!m_api) return;
    {
        CWaitCursor wait;
        PluginSupport::ReleasePrinter(*m_api);
    }
    m_api->inConfigMode = false;
}

int CWirelessConfigDlg::NewPrinterSelected(const PrinterInfoResult& printer, const PrinterConfig& description) {
    AFX_MANAGE_STATE(DessmarModuleState());
    m_modified = false;
    m_printer = printer;
    if (!IsPrinterSupported(printer, description)) return kConfigUnsupported;

    CWaitCursor wait;
    m_record.reset();
    try {
        m_record = std::make_unique<PrinterCacheEntry>();
    } catch (const std::bad_alloc&) {
        return kConfigNoMemory;
    }
    int status = kConfigSuccess;
    try {
        m_record->loaded = true;
        ConfigAPI& api = OpenPrinter();
        if (!::GetPrinterGuid(api, m_record->guid)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get guid' request in CConfigUtilityDlg::NewPrinterSelected");
        }
        if (!GetPrinterSettings(NetConfigNames::kDockConfig, api, m_settings)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get printer settings' request in "
                     "CConfigUtilityDlg::NewPrinterSelected");
        }
        if (!GetAllProfiles(api, m_record->profiles)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get all profiles' request in "
                     "CConfigUtilityDlg::NewPrinterSelected");
        }
        // An error answer carries no Bluetooth settings: that entry alone
        // stays unread (and is never written back); the profiles stand.
        int bluetoothResult = -1;
        if (!GetBluetoothProfile(NetConfigNames::kDockConfig, api, m_record->bluetooth, bluetoothResult)) {
            TS_THROW(Tessary::TSRuntimeError,
                     "Invalid response received for 'get Bluetooth profile' request in "
                     "CConfigUtilityDlg::NewPrinterSelected");
        }
        m_record->bluetoothUnread = bluetoothResult != 0;
        m_record->settings = m_settings;
        m_record->printer = printer;
        ClosePrinter();
    } catch (const std::exception&) {
        ClosePrinter();
        m_record->readFailed = true;
        status = kConfigUnreachable;
    }
    FillProfileList();
    m_modified = false;
    return status;
}

// ----- The list and the controls

bool CWirelessConfigDlg::BluetoothSelected() const {
    return m_record && m_record->selected >= 0 && m_record->selected == static_cast<int>(m_record->profiles.size());
}

bool CWirelessConfigDlg::FactorySelected() const {
    return m_record && m_record->selected >= 0 && !BluetoothSelected() && m_profile.GetId() == 0;
}

bool CWirelessConfigDlg::BluetoothUnread() const {
    return BluetoothSelected() && m_record->bluetoothUnread;
}

void CWirelessConfigDlg::FillProfileList() {
    m_profileList.ResetContent();
    if (!m_record->readFailed) {
        for (const Profile& profile : m_record->profiles) {
            const int index = m_profileList.AddString(Wide(profile.GetProfileName()));
            if (index < 0) {
                TS_THROW(Tessary::TSException,
                         "Failed to add an item to the profile combo box in CAssistantDialog::InitializePanelControls");
            }
            m_profileList.SetItemData(index, static_cast<DWORD_PTR>(profile.GetId()));
        }
        const int bluetooth = m_profileList.AddString(String(kBluetoothEntry));
        m_profileList.SetItemData(bluetooth, kBluetoothItem);
        if (m_record->selected < 0) {
            // A profile that cannot be edited here is not offered as the
            // first choice.
            for (int i = static_cast<int>(m_record->profiles.size()) - 1; i >= 0; --i) {
                const WiFiSettings& wifi = m_record->profiles[static_cast<std::size_t>(i)].GetWiFiSettings();
                if (!wifi.GetSSID().empty() && Supported(wifi)) {
                    m_record->selected = i;
                    break;
                }
            }
        }
        // Without a configured network there is nothing of Wi-Fi to show:
        // the Bluetooth settings are.
        if (m_record->selected < 0) m_record->selected = bluetooth;
        const int selected = m_record->selected;
        m_record->selected = -1;
        m_profileList.SetCurSel(selected);
        SelectEntry(selected);
    } else {
        LoadControls();
    }
}

void CWirelessConfigDlg::ResetEntryText(int index, const CString& text) {
    const DWORD_PTR data = m_profileList.GetItemData(index);
    const int current = m_profileList.GetCurSel();
    m_profileList.DeleteString(static_cast<UINT>(index));
    m_profileList.InsertString(index, text);
    m_profileList.SetItemData(index, data);
    m_profileList.SetCurSel(current);
}

void CWirelessConfigDlg::OnProfileChanged() {
    if (!m_record) return;
    const int previous = m_record->selected;
    const int index = m_profileList.GetCurSel();
    if (index == previous) return;
    // A failed apply leaves the edits with the previous entry: the list must
    // show that entry again, or the next apply would store its profile under
    // the name of the one now shown.
    if (!MayLeaveEntry()) {
        m_profileList.SetCurSel(previous);
        return;
    }
    SelectEntry(index);
}

bool CWirelessConfigDlg::MayLeaveEntry() {
    if (!m_modified) return true;
    // No lets the edits go only once another entry is taken: an entry that
    // is refused leaves them on show, and they stay marked.
    const int answer = Message(kApplyQuestion, MB_YESNOCANCEL | MB_ICONQUESTION);
    return answer == IDNO || (answer == IDYES && ApplySettings() == kConfigSuccess);
}

void CWirelessConfigDlg::SelectEntry(int index) {
    const int previous = m_record->selected;
    m_record->selected = index;
    const bool bluetooth = index == static_cast<int>(m_record->profiles.size());
    if (index < 0 || index > static_cast<int>(m_record->profiles.size())) return;
    if (!bluetooth) {
        const Profile& profile = m_record->profiles[static_cast<std::size_t>(index)];
        if (!Supported(profile.GetWiFiSettings())) {
            Message(kUnsupportedProfile, MB_OK | MB_ICONEXCLAMATION);
            m_record->selected = previous;
            m_profileList.SetCurSel(previous);
            return;
        }
        m_profile = profile;
    } else {
        m_bluetooth = m_record->bluetooth;
    }
    // The PIN is edited on the Bluetooth entry but sent with every apply: a
    // PIN left behind unapplied must not ride along with another entry's.
    m_settings = m_record->settings;
    // A rename that was not applied goes with its edits.
    if (previous >= 0 && previous < static_cast<int>(m_record->profiles.size()) && previous != index) {
        ResetEntryText(previous, Wide(m_record->profiles[static_cast<std::size_t>(previous)].GetProfileName()));
    }
    m_modified = false;
    LoadControls();
}

void CWirelessConfigDlg::LoadWiFiControls() {
    m_loading = true;
    const WiFiSettings& wifi = m_profile.GetWiFiSettings();
    SetDlgItemText(kSsidEdit, Wide(wifi.GetSSID()));
    CheckDlgButton(kAdHocCheck, wifi.GetMode() == WIFI_MODE_ADHOC ? BST_CHECKED : BST_UNCHECKED);
    CString channel;
    channel.Format(u"%d", wifi.GetChannel());
    m_channelList.SetCurSel(m_channelList.FindStringExact(-1, channel));
    m_loading = false;
}

void CWirelessConfigDlg::LoadControls() {
    m_loading = true;
    SetDlgItemText(kPinEdit, Wide(m_settings.pin));
    if (BluetoothSelected()) {
        CheckDlgButton(kBluetoothCheck, m_bluetooth.GetEnabled() ? BST_CHECKED : BST_UNCHECKED);
        SetDlgItemText(kBluetoothNameEdit, Wide(m_bluetooth.GetFriendlyName()));
        CheckDlgButton(kTrustedCheck, m_bluetooth.GetRequirePIN() ? BST_CHECKED : BST_UNCHECKED);
    } else if (m_record && !m_record->readFailed) {
        SetDlgItemText(kNameEdit, Wide(m_profile.GetFriendlyName()));
        LoadWiFiControls();
    } else {
        // Nothing was read: nothing of an earlier printer stays on show.
        for (int id : {kNameEdit, kSsidEdit, kPinEdit}) SetDlgItemText(id, u"");
        CheckDlgButton(kAdHocCheck, BST_UNCHECKED);
    }
    m_loading = false;
    UpdateControlStates();
}

void CWirelessConfigDlg::UpdateControlStates() {
    const bool failed = !m_record || m_record->readFailed;
    const bool bluetooth = BluetoothSelected();
    auto set = [this](int id, bool visible, bool enabled) {
        if (CWnd* control = GetDlgItem(id)) {
            control->ShowWindow(visible ? SW_SHOW : SW_HIDE);
            control->EnableWindow(enabled);
        }
    };
    m_profileList.EnableWindow(!failed);
    const bool networkEditable = !failed && !bluetooth && m_profile.GetId() != 0;
    const bool adHoc = IsDlgButtonChecked(kAdHocCheck) == BST_CHECKED;
    set(kNameLabel, !bluetooth, !failed);
    set(kNameEdit, !bluetooth, !failed);
    set(kRenameButton, !bluetooth, !failed && !bluetooth);
    for (int id : {kSsidLabel, kSsidEdit, kFindButton, kAdHocCheck, kAdvancedButton}) {
        set(id, !bluetooth, networkEditable);
    }
    set(kChannelLabel, !bluetooth && adHoc, networkEditable);
    set(kChannelList, !bluetooth && adHoc, networkEditable);

    const bool bluetoothEditable = !failed && !m_record->bluetoothUnread;
    const bool bluetoothOn = bluetoothEditable && IsDlgButtonChecked(kBluetoothCheck) == BST_CHECKED;
    set(kBluetoothCheck, bluetooth, bluetoothEditable);
    for (int id : {kBluetoothNameLabel, kBluetoothNameEdit, kPinLabel, kPinEdit, kTrustedCheck}) {
        set(id, bluetooth, bluetoothOn);
    }
}

void CWirelessConfigDlg::OnEdited() {
    if (m_loading) return;
    m_modified = true;
    UpdateControlStates();
}

void CWirelessConfigDlg::OnSsidChanged() {
    if (m_loading) return;
    OnEdited();
    const bool secured = m_profile.GetWiFiSettings().GetDataMode() != DATA_MODE_NONE;
    if (!m_networkWarningShown && (secured || !m_profile.GetIPSettings().GetAutomatic())) {
        Message(kOtherNetworkWarning, MB_OK | MB_ICONINFORMATION);
        m_networkWarningShown = true;
    }
}

void CWirelessConfigDlg::OnAdHocClicked() {
    OnEdited();
    if (IsDlgButtonChecked(kAdHocCheck) != BST_CHECKED) return;
    IPSettings automatic;
    automatic.SetAutomatic(true);
    m_profile.SetIPSettings(automatic);
}

// ----- Validation and storing

void CWirelessConfigDlg::Reject(UINT messageId, int focusId) {
    Message(messageId, MB_OK | MB_ICONEXCLAMATION);
    if (CWnd* control = GetDlgItem(focusId)) {
        GotoDlgCtrl(control);
        control->SendMessage(EM_SETSEL, 0, -1);
    }
}

bool CWirelessConfigDlg::ValidateControls() {
    if (!BluetoothSelected()) {
        CString name;
        GetDlgItemText(kNameEdit, name);
        const auto utf8Name = Utf8(name);
        if (name.IsEmpty()) {
            Reject(kNameEmpty, kNameEdit);
            return false;
        }
        if (static_cast<std::size_t>(name.GetLength()) > kMaxNameUnits || !utf8Name ||
            utf8Name->size() >= kMaxNameBytes) {
            Reject(kNameTooLong, kNameEdit);
            return false;
        }
        // The factory profile's network cannot be edited here: only its
        // names are the user's.
        if (FactorySelected()) return true;
        CString ssid;
        GetDlgItemText(kSsidEdit, ssid);
        const auto utf8Ssid = Utf8(ssid);
        if (ssid.IsEmpty()) {
            Reject(kSsidEmpty, kSsidEdit);
            return false;
        }
        if (!utf8Ssid || utf8Ssid->size() > kMaxSsidBytes) {
            Reject(kSsidTooLong, kSsidEdit);
            return false;
        }
        const WiFiSettings& wifi = m_profile.GetWiFiSettings();
        if (wifi.GetDataMode() != DATA_MODE_NONE && FirstKey(wifi).empty()) {
            Message(kWepKeyRule, MB_OK | MB_ICONEXCLAMATION);
            OnAdvanced();
            return false;
        }
        return true;
    }
    // Its controls are disabled and nothing of them is written.
    if (BluetoothUnread()) return true;

    CString name;
    GetDlgItemText(kBluetoothNameEdit, name);
    const auto narrowName = Narrow(name);
    // The printer takes the name as UTF-8, which can be longer than the
    // user's code page.
    const auto utf8Name = Utf8(name);
    if (name.IsEmpty()) {
        Reject(kNameEmpty, kBluetoothNameEdit);
        return false;
    }
    if ((narrowName && narrowName->size() > kMaxBluetoothNameBytes) || !utf8Name ||
        utf8Name->size() > kMaxBluetoothNameBytes) {
        Reject(kNameTooLong, kBluetoothNameEdit);
        return false;
    }
    CString pin;
    GetDlgItemText(kPinEdit, pin);
    if (pin.GetLength() != kPinLength) {
        Reject(kPinWrongLength, kPinEdit);
        return false;
    }
    for (int i = 0; i < pin.GetLength(); ++i) {
        if (pin[i] < u'0' || pin[i] > u'9') {
            Reject(kPinNotDigits, kPinEdit);
            return false;
        }
    }
    if (*utf8Name != m_bluetooth.GetFriendlyName() || Utf8(pin).value_or(std::string()) != m_settings.pin) {
        if (Message(kRepairQuestion, MB_OKCANCEL | MB_ICONQUESTION) == IDCANCEL) return false;
    }
    return true;
}

void CWirelessConfigDlg::StoreControls() {
    if (BluetoothSelected()) {
        CString name;
        CString pin;
        GetDlgItemText(kBluetoothNameEdit, name);
        GetDlgItemText(kPinEdit, pin);
        m_bluetooth.SetEnabled(IsDlgButtonChecked(kBluetoothCheck) == BST_CHECKED);
        m_bluetooth.SetFriendlyName(Utf8(name).value_or(std::string()));
        m_settings.pin = Utf8(pin).value_or(std::string());
        m_bluetooth.SetRequirePIN(IsDlgButtonChecked(kTrustedCheck) == BST_CHECKED);
        return;
    }
    // The record's entry, not whatever the list shows at the moment.
    CString entry;
    if (m_record && m_record->selected >= 0) m_profileList.GetLBText(m_record->selected, entry);
    CString name;
    GetDlgItemText(kNameEdit, name);
    m_profile.SetProfileName(I8N(entry));
    m_profile.SetFriendlyName(I8N(name));
    // The rest of the factory profile goes back as the printer holds it.
    if (FactorySelected()) return;
    CString ssid;
    CString channel;
    GetDlgItemText(kSsidEdit, ssid);
    m_channelList.GetWindowText(channel);
    WiFiSettings wifi(m_profile.GetWiFiSettings());
    wifi.SetSSID(I8N(ssid));
    wifi.SetMode(IsDlgButtonChecked(kAdHocCheck) == BST_CHECKED ? WIFI_MODE_ADHOC : WIFI_MODE_INFRASTRUCTURE);
    if (!channel.IsEmpty()) wifi.SetChannel(std::atoi(Utf8(channel).value_or("0").c_str()));
    m_profile.SetWiFiSettings(wifi);
    if (m_regulatory) {
        m_profile.SetCountry(m_regulatory->GetCountryCode(kCountry));
        m_profile.SetDomain(m_regulatory->GetRegulatoryDomain(kCountry));
    }
}

void CWirelessConfigDlg::UpdateProfileHostID() {
    const auto hostId = HostIdUtf8();
    if (!hostId || *hostId == m_profile.GetDefaultHostID()) return;
    if (Message(kHostIdQuestion, MB_YESNO | MB_ICONQUESTION) != IDNO) m_profile.SetDefaultHostID(*hostId);
}

// ----- Writes

void CWirelessConfigDlg::WriteCurrentSettingsToPrinter() {
    PluginSupport::WriteSettings(NetConfigNames::kDockConfig, *m_api, m_settings,
                                 "CWirelessConfigDlg::WriteCurrentSettingsToPrinter");
    m_record->settings = m_settings;
}

void CWirelessConfigDlg::WriteCurrentWiFiProfileToPrinter() {
    WriteProfiles(*m_api, {m_profile}, "CWirelessConfigDlg::WriteCurrentWiFiProfileToPrinter");
}

void CWirelessConfigDlg::WriteCurrentBluetoothProfileToPrinter() {
    PluginSupport::WriteBluetoothProfile(NetConfigNames::kDockConfig, *m_api, m_bluetooth,
                                         "CWirelessConfigDlg::WriteCurrentBluetoothProfileToPrinter");
}

void CWirelessConfigDlg::RestorePrinterProfiles() {
    ConfigAPI& api = OpenPrinter();
    WriteProfiles(api, m_record->profiles, "CWirelessConfigDlg::RestorePrinterProfiles");
    PluginSupport::WriteSettings(NetConfigNames::kDockConfig, api, m_record->settings,
                                 "CWirelessConfigDlg::RestorePrinterProfiles");
}

int CWirelessConfigDlg::ApplySettings() {
    AFX_MANAGE_STATE(DessmarModuleState());
    // Without what the printer holds there is nothing sound to write back.
    if (!m_record || m_record->readFailed || BluetoothUnread()) return kConfigUnreachable;
    CWaitCursor wait;
    if (!ValidateControls()) return kConfigInvalid;
    try {
        OpenPrinter();
    } catch (const std::exception&) {
        ClosePrinter();
        Message(kCannotCommunicate, MB_OK | MB_ICONSTOP);
        return kConfigUnreachable;
    }
    try {
        StoreControls();
        WriteCurrentSettingsToPrinter();
        if (!BluetoothSelected()) {
            // Asked only of a profile about to be written: an answer to an
            // apply that writes none would be lost.
            if (m_modified) {
                if (!FactorySelected()) UpdateProfileHostID();
                CWaitCursor writing;
                StoreControls();
                WriteCurrentWiFiProfileToPrinter();
                m_record->profiles[static_cast<std::size_t>(m_record->selected)] = m_profile;
            }
        } else if (m_modified) {
            WriteCurrentBluetoothProfileToPrinter();
            m_record->bluetooth = m_bluetooth;
        }
    } catch (const std::exception&) {
        // The edit stays on show and marked, so that the next apply (or the
        // host's question) still writes it.
        ClosePrinter();
        Message(kUnknownError, MB_OK | MB_ICONSTOP);
        return kConfigUnreachable;
    }
    m_modified = false;
    ClosePrinter();
    UpdateControlStates();
    m_networkWarningShown = false;
    return kConfigSuccess;
}

// ----- Commands

void CWirelessConfigDlg::OnAdvanced() {
    try {
        CAdvancedDialog dialog(m_profile, IsDlgButtonChecked(kAdHocCheck) == BST_CHECKED, m_languageOffset, this);
        if (dialog.DoModal() == IDOK) {
            m_modified = true;
            UpdateControlStates();
        }
    } catch (const std::exception& e) {
        MessageBox(CString(e.what()), nullptr, MB_OK | MB_ICONSTOP);
    }
}

void CWirelessConfigDlg::OnFindNetworks() {
    if (!m_record) return;
    if (!m_record->scanAccepted) {
        if (Message(kScanWarning, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDCANCEL) return;
    }
    m_record->scanAccepted = true;
    try {
        PaneAccess access(*this);
        const std::vector<unsigned> channels =
            m_regulatory ? m_regulatory->GetChannelList(kCountry) : std::vector<unsigned>();
        CFindNetworksDialog dialog(access, m_record->networks, channels, m_languageOffset, this);
        const INT_PTR result = dialog.DoModal();
        m_record->networks = dialog.GetNetworks();
        const WiFiSettings* chosen = dialog.GetChosenNetwork();
        if (result != IDOK || chosen == nullptr) return;
        // The advanced settings know only WEP: they would make an open
        // profile of a WPA network, which could never join it.
        if (!Supported(*chosen)) {
            Message(kUnsupportedProfile, MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        m_profile.SetWiFiSettings(*chosen);
        LoadWiFiControls();
        m_modified = true;
        UpdateControlStates();
        if (chosen->GetDataMode() != DATA_MODE_NONE) {
            Message(kSecureNetworkChosen, MB_OK | MB_ICONINFORMATION);
            OnAdvanced();
        }
    } catch (const std::exception& e) {
        MessageBox(CString(e.what()), nullptr, MB_OK | MB_ICONSTOP);
    }
}

void CWirelessConfigDlg::OnRename() {
    if (!m_record || BluetoothSelected() || m_record->selected < 0) return;
    try {
        const int index = m_record->selected;
        CString current;
        m_profileList.GetLBText(index, current);
        std::vector<CString> others;
        for (std::size_t i = 0; i < m_record->profiles.size(); ++i) {
            if (static_cast<int>(i) != index) others.push_back(Wide(m_record->profiles[i].GetProfileName()));
        }
        CRenameProfileDialog dialog(current, others, this);
        if (dialog.DoModal() != IDOK) return;
        const CString name = dialog.GetProfileName();
        m_profile.SetProfileName(I8N(name));
        ResetEntryText(index, name);
        m_modified = true;
        UpdateControlStates();
    } catch (const std::exception&) {
        Message(kUnknownError, MB_OK | MB_ICONSTOP);
    }
}

int CWirelessConfigDlg::RunWizard() {
    AFX_MANAGE_STATE(DessmarModuleState());
    if (!m_record || m_record->readFailed || m_record->selected < 0) return kConfigInvalid;
    int selected = m_record->selected;
    // The printer's own profile (id 0) is not the wizard's to change. From
    // it, as from the Bluetooth entry, the wizard sets up another profile
    // (the first unused one the pane can edit, else the first it can edit)
    // and the pane moves there with its result: the edits of the entry left
    // are settled first, as for a change of entry.
    const bool elsewhere = BluetoothSelected() || m_record->profiles[static_cast<std::size_t>(selected)].GetId() == 0;
    if (elsewhere) {
        selected = -1;
        for (bool unused : {true, false}) {
            for (std::size_t i = 0; i < m_record->profiles.size() && selected < 0; ++i) {
                const Profile& profile = m_record->profiles[i];
                if (profile.GetId() != 0 && Supported(profile.GetWiFiSettings()) &&
                    (!unused || profile.GetWiFiSettings().GetSSID().empty())) {
                    selected = static_cast<int>(i);
                }
            }
        }
        if (selected < 0) {
            Message(kNoWizardProfile, MB_OK | MB_ICONEXCLAMATION);
            return kConfigInvalid;
        }
        if (!MayLeaveEntry()) return kConfigInvalid;
    } else {
        if (!ValidateControls()) return kConfigInvalid;
        StoreControls();
    }
    std::vector<Profile> profiles = m_record->profiles;
    if (!elsewhere) profiles[static_cast<std::size_t>(selected)] = m_profile;
    std::unique_ptr<CAssistantDialog> wizard;
    try {
        wizard.reset(CAssistantDialog::CreateAssistantDialog(
            m_printer.driverKeyName, static_cast<int>(m_printer.maxOutPacketSize),
            static_cast<int>(m_printer.maxInPacketSize), static_cast<int>(m_printer.vendorId),
            static_cast<int>(m_printer.productId), m_record->guid, m_settings, profiles, selected, m_record->networks,
            !m_record->scanAccepted, false, GetParent()));
    } catch (const std::exception&) {
        return kConfigInvalid;
    }
    if (!wizard) return kConfigInvalid;
    if (wizard->DoModal() == IDOK) {
        if (elsewhere) {
            m_profileList.SetCurSel(selected);
            SelectEntry(selected);
        }
        m_profile = wizard->GetProfile();
        m_settings = wizard->GetPrinterSettings();
        m_modified = true;
        LoadControls();
    }
    bool scanConfirmed = false;
    m_record->networks = wizard->GetNetworks(scanConfirmed);
    m_record->scanAccepted = scanConfirmed;
    return kConfigSuccess;
}

int CWirelessConfigDlg::TestConnection() {
    AFX_MANAGE_STATE(DessmarModuleState());
    if (!m_record || m_record->readFailed) return kConfigInvalid;
    if (FactorySelected()) {
        // It joins no network of the user's, so there is nothing to find.
        Message(kFactoryNotTested, MB_OK | MB_ICONINFORMATION);
        return kConfigInvalid;
    }
    if (!ValidateControls()) return kConfigInvalid;
    // Only an edited Wi-Fi profile is tried out on the printer.
    const bool write = m_modified && !BluetoothSelected();
    if (write) {
        try {
            OpenPrinter();
        } catch (const std::exception&) {
            ClosePrinter();
            Message(kCannotCommunicate, MB_OK | MB_ICONSTOP);
            return kConfigInvalid;
        }
    }
    // Once the trial profile may be on the printer, every way out puts back
    // what the printer held. Only an error code says the printer refused it;
    // after an unreadable answer it may hold it all the same.
    bool written = false;
    try {
        if (write) {
            StoreControls();
            written = true;
            try {
                WriteCurrentWiFiProfileToPrinter();
            } catch (const Tessary::TSRuntimeCodeError&) {
                written = false;
                throw;
            }
        }
        CTestProgressDialog progress(static_cast<int>(m_printer.vendorId), static_cast<int>(m_printer.productId),
                                     m_record->guid, m_languageOffset, this);
        const INT_PTR result = progress.DoModal();
        if (written) {
            RestorePrinterProfiles();
            written = false;
            ClosePrinter();
        }
        Message(result == IDOK ? kPrinterFound : kPrinterNotFound, MB_OK | MB_ICONINFORMATION);
        return kConfigSuccess;
    } catch (const std::exception&) {
        if (written) {
            try {
                RestorePrinterProfiles();
            } catch (...) {
                // Best effort: the failure that came first is the one told.
            }
        }
        ClosePrinter();
        Message(kUnknownError, MB_OK | MB_ICONSTOP);
        return kConfigInvalid;
    }
}

CONFIG_PLUGIN_EXPORT CBaseConfigDlg* CreateConfigDialog() {
    return PluginSupport::MakeConfigDialog<CWirelessConfigDlg>(DessmarModuleState());
}

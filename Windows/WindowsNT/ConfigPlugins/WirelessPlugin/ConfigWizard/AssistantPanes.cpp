#include "AssistantPanes.h"

#include "AssistantDialog.h"
#include "ConfigWizardApp.h"
#include "RenameProfileDialog.h"
#include "WizardValidators.h"

#include "Mfc/Layer.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/UTFConversion.h"

#include <string>

namespace {

// Screen 1.
constexpr int kProfileCombo = 13000;
constexpr int kRenameButton = 12009;
constexpr int kProfileNote = 13003;
// Screen 2.
constexpr int kDeviceNameEdit = 13002;
// Screen 9.
constexpr int kSecurityCombo = 11033;
constexpr int kKeyLabel = 11041;
constexpr int kConfirmLabel = 11042;
constexpr int kKeyEdit = 12029;
constexpr int kConfirmEdit = 13125;
constexpr int kSecurityNote = 13004;
// Screen 10.
constexpr int kAutomaticRadio = 12013;
constexpr int kStaticRadio = 12014;
constexpr int kAddressControls[] = {12015, 12019, 12020};
constexpr int kAddressLabels[] = {11038, 11039, 11040};

constexpr UINT kNoDeviceName = 10003;
constexpr UINT kDeviceNameTooLong = 10004;
constexpr UINT kDeviceNameInvalid = 10075;
constexpr UINT kKeyMismatch = 10012;
constexpr UINT kKeyInvalid = 10014;
constexpr UINT kWepText = 10021;
constexpr UINT kNoneText = 10038;
constexpr UINT kSecurityKept = 10133;
constexpr UINT kNoStaticAddress = 10134;
constexpr UINT kMaskInvalid = 10135;

constexpr int kSecurityNone = 0;
constexpr int kSecurityWep = 1;

std::string Narrow(const CString& text) {
    return Tessary::UTF16ToUTF8String(text.GetString(), text.GetLength());
}

CString Wide(const std::string& text) {
    return CString(text.c_str());
}

CString Wide(const Tessary::I8NString& text) {
    return CString(text.c_str(), static_cast<int>(text.length()));
}

}  // namespace

int WizardLanguageOffset() {
    return Mfc::LanguageOffset(GetUserDefaultLangID());
}

CString WizardString(UINT englishId) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return Mfc::LoadLocalizedString(englishId, WizardLanguageOffset());
}

void WizardFailureMessage(UINT messageId, UINT causeId) {
    CString text = WizardString(messageId);
    if (causeId != 0) text += CString(u"\n\n") + WizardString(causeId);
    AfxMessageBox(text, MB_OK | MB_ICONERROR);
}

std::optional<std::string> WepKeyOne(const Security& security) {
    if (const auto* wep = dynamic_cast<const WepSecurity*>(&security)) return wep->GetKey(1);
    return std::nullopt;
}

// ----- CAssistantPane

CAssistantPane::CAssistantPane(UINT templateId, int languageOffset)
    : CDialog(templateId), m_templateId(templateId), m_languageOffset(languageOffset) {}

CAssistantDialog& CAssistantPane::Wizard() const {
    CAssistantDialog* wizard = CAssistantDialog::GetCurrentWizard();
    if (wizard == nullptr) TS_THROW(Tessary::TSLogicError, "No wizard for the pane in CAssistantPane::Wizard");
    return *wizard;
}

LRESULT CAssistantPane::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    AFX_MANAGE_STATE(ElvintorModuleState());
    return CDialog::WindowProc(message, wParam, lParam);
}

void CAssistantPane::Show() {
    AFX_MANAGE_STATE(ElvintorModuleState());
    const UINT id = Mfc::LocalizedDialogId(m_templateId, m_languageOffset);
    if (m_hWnd != nullptr || !Create(id, &Wizard())) {
        TS_THROW(Tessary::TSRuntimeError, "Create failed in CAssistantPane::Show");
    }
    try {
        Initialize();
    } catch (...) {
        // Not left half made: the screen can open again once the cause is gone.
        DestroyWindow();
        throw;
    }
    ShowWindow(SW_SHOW);
}

bool CAssistantPane::Hide(bool commit) {
    if (m_hWnd == nullptr) return true;
    if (commit && !Commit()) return false;
    DestroyWindow();
    return true;
}

int CAssistantPane::Message(UINT id, UINT type) const {
    return AfxMessageBox(WizardString(id), type);
}

void CAssistantPane::Refocus(int editId) {
    if (!HasItem(editId)) return;
    auto& edit = Item<CEdit>(editId);
    edit.SetSel(0, -1);
    edit.SendMessage(EM_SCROLLCARET);
    edit.SetFocus();
}

BOOL CAssistantPane::OnCommand(WPARAM wParam, LPARAM lParam) {
    CWnd* frame = GetParent();
    const UINT id = LOWORD(wParam);
    if (id == IDOK) {
        // Enter: the localised frames' Next.
        if (frame) frame->SendMessage(WM_COMMAND, (wParam & 0xFFFF0000u) | CAssistantDialog::ID_LOCALIZED_NEXT, lParam);
        return TRUE;
    }
    if (id == IDCANCEL) {
        if (frame) frame->SendMessage(WM_COMMAND, wParam, lParam);
        return TRUE;
    }
    if (!CWnd::OnCommand(wParam, lParam) && frame) frame->SendMessage(WM_COMMAND, wParam, lParam);
    return TRUE;
}

BOOL CAssistantPane::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (CWnd::OnNotify(wParam, lParam, result)) return TRUE;
    if (CWnd* frame = GetParent()) *result = frame->SendMessage(WM_NOTIFY, wParam, lParam);
    return TRUE;
}

// ----- CProfileSelectionPane

CProfileSelectionPane::CProfileSelectionPane(UINT templateId, int languageOffset)
    : CAssistantPane(templateId, languageOffset) {
    MapCommand(kRenameButton, &CProfileSelectionPane::OnRename);
}

void CProfileSelectionPane::Initialize() {
    if (!HasItem(kProfileCombo)) return;
    auto& combo = Item<CComboBox>(kProfileCombo);
    combo.ResetContent();
    // Profile 0 is the printer's own and cannot be edited.
    for (const Profile& profile : Wizard().GetProfileList()) {
        if (profile.GetId() == 0) continue;
        const int item = combo.AddString(Wide(profile.GetProfileName()));
        if (item == CB_ERR) {
            TS_THROW(Tessary::TSException,
                     "Failed to add an item to the profile combo box in CAssistantDialog::InitializePanelControls");
        }
        combo.SetItemData(item, static_cast<DWORD_PTR>(profile.GetId()));
    }
    combo.SetCurSel(m_lastSelected == -1 ? combo.GetCount() - 1 : m_lastSelected);
    // Nothing to choose: the screen says why, and the wizard goes no further.
    const bool none = combo.GetCount() == 0;
    if (HasItem(kProfileNote)) SetDlgItemText(kProfileNote, none ? WizardString(kNoEditableProfile) : CString());
    combo.EnableWindow(!none);
    if (HasItem(kRenameButton)) Item<CWnd>(kRenameButton).EnableWindow(!none);
    if (none) Wizard().DisableButton(NextButton);
}

bool CProfileSelectionPane::Commit() {
    if (!HasItem(kProfileCombo)) return true;
    auto& combo = Item<CComboBox>(kProfileCombo);
    const int selected = combo.GetCurSel();
    // Only the way back is open without a profile.
    if (selected == CB_ERR) return Wizard().GetTransitionButton() == BackButton;
    m_lastSelected = selected;
    Wizard().SelectProfile(static_cast<int>(combo.GetItemData(selected)));
    return true;
}

void CProfileSelectionPane::OnRename() {
    if (!HasItem(kProfileCombo)) return;
    auto& combo = Item<CComboBox>(kProfileCombo);
    const int selected = combo.GetCurSel();
    if (selected == CB_ERR) return;
    CString current;
    combo.GetWindowText(current);
    std::vector<CString> names;
    for (const Profile& profile : Wizard().GetProfileList()) names.push_back(Wide(profile.GetProfileName()));
    CRenameProfileDialog dialog(current, names, this);
    if (dialog.DoModal() != IDOK) return;
    const CString name = dialog.GetProfileName();
    if (name == current) return;
    const auto id = combo.GetItemData(selected);
    Wizard().RenameProfile(static_cast<int>(id), Tessary::I8NString(name.GetString()));
    combo.DeleteString(static_cast<UINT>(selected));
    const int item = combo.InsertString(selected, name);
    combo.SetItemData(item, id);
    combo.SetCurSel(item);
}

// ----- CDockNamePane

void CDockNamePane::Initialize() {
    if (!HasItem(kDeviceNameEdit)) return;
    auto& edit = Item<CEdit>(kDeviceNameEdit);
    edit.SetWindowText(Wide(Wizard().GetProfile().GetFriendlyName()));
    edit.SetLimitText(kMaxNameLength);
}

bool CDockNamePane::Commit() {
    if (!HasItem(kDeviceNameEdit)) return true;
    CString name;
    Item<CEdit>(kDeviceNameEdit).GetWindowText(name);
    switch (ValidateDeviceName(name.str())) {
        case DeviceNameValid:
            Wizard().GetProfile().SetFriendlyName(Tessary::I8NString(name.GetString()));
            return true;
        case DeviceNameEmpty:
            Message(kNoDeviceName);
            break;
        case DeviceNameTooLong:
            Message(kDeviceNameTooLong);
            break;
        default:
            Message(kDeviceNameInvalid);
            break;
    }
    Refocus(kDeviceNameEdit);
    return false;
}

// ----- CSecurityPane

CSecurityPane::CSecurityPane(UINT templateId, int languageOffset) : CAssistantPane(templateId, languageOffset) {
    MapControl(CBN_SELCHANGE, kSecurityCombo, &CSecurityPane::UpdateControls);
}

bool CSecurityPane::WepChosen() const {
    return m_securityCombo.m_hWnd != nullptr && m_securityCombo.GetCurSel() == kSecurityWep;
}

void CSecurityPane::Initialize() {
    if (!HasItem(kSecurityCombo)) return;
    m_securityCombo.SubclassDlgItem(kSecurityCombo, this);
    m_securityCombo.ResetContent();
    m_securityCombo.AddString(WizardString(kNoneText));
    m_securityCombo.AddString(WizardString(kWepText));

    const WiFiSettings& wifi = Wizard().GetProfile().GetWiFiSettings();
    // WPA and the like: shown as kept, never turned into WEP.
    m_keepsSecurity = !IsSupportedSecurity(wifi);
    if (HasItem(kSecurityNote))
        SetDlgItemText(kSecurityNote, m_keepsSecurity ? WizardString(kSecurityKept) : CString());
    if (m_keepsSecurity) {
        m_kept.reset();
        m_securityCombo.SetCurSel(-1);
        Item<CEdit>(kKeyEdit).SetWindowText(u"");
        Item<CEdit>(kConfirmEdit).SetWindowText(u"");
        m_showingWep = false;
        UpdateControls();
        return;
    }
    CString key, confirm;
    bool wep = wifi.GetDataMode() != DATA_MODE_NONE;
    if (m_kept && m_kept->network.GetSSID() == wifi.GetSSID() && m_kept->network.GetMode() == wifi.GetMode() &&
        m_kept->network.GetNetworkMode() == wifi.GetNetworkMode() &&
        m_kept->network.GetDataMode() == wifi.GetDataMode()) {
        // What the user typed before going back, for the same network.
        key = m_kept->key;
        confirm = m_kept->confirm;
        wep = true;
    } else if (wep) {
        // A network taken from a scan has no key 1: the fields start empty.
        key = confirm = Wide(WepKeyOne(wifi.GetSecurity()).value_or(std::string()));
    }
    m_kept.reset();
    m_securityCombo.SetCurSel(wep ? kSecurityWep : kSecurityNone);
    Item<CEdit>(kKeyEdit).SetWindowText(key);
    Item<CEdit>(kConfirmEdit).SetWindowText(confirm);
    m_savedKey.Empty();
    m_savedConfirm.Empty();
    m_showingWep = wep;
    UpdateControls();
}

void CSecurityPane::UpdateControls() {
    if (!HasItem(kSecurityCombo)) return;
    m_securityCombo.EnableWindow(!m_keepsSecurity);
    const bool wep = WepChosen();
    auto& key = Item<CEdit>(kKeyEdit);
    auto& confirm = Item<CEdit>(kConfirmEdit);
    if (!wep && m_showingWep) {
        key.GetWindowText(m_savedKey);
        confirm.GetWindowText(m_savedConfirm);
        key.SetWindowText(u"");
        confirm.SetWindowText(u"");
    } else if (wep && !m_showingWep) {
        key.SetWindowText(m_savedKey);
        confirm.SetWindowText(m_savedConfirm);
    }
    m_showingWep = wep;
    for (int id : {kKeyEdit, kConfirmEdit, kKeyLabel, kConfirmLabel}) Item<CWnd>(id).EnableWindow(wep);
}

bool CSecurityPane::Commit() {
    if (!HasItem(kSecurityCombo) || m_keepsSecurity) return true;
    CAssistantDialog& wizard = Wizard();
    WiFiSettings wifi = wizard.GetProfile().GetWiFiSettings();
    if (!WepChosen()) {
        wifi.SetSecurity(NETWORK_MODE_OPEN, DATA_MODE_NONE, NullSecurity());
        wizard.GetProfile().SetWiFiSettings(wifi);
        return true;
    }
    CString key, confirm;
    Item<CEdit>(kKeyEdit).GetWindowText(key);
    Item<CEdit>(kConfirmEdit).GetWindowText(confirm);
    const DataMode mode = ValidateWepKey(key.str());
    const bool matches = key == confirm;
    if (wizard.GetTransitionButton() == BackButton) {
        // No questions on the way back; a key that is not usable stays in
        // the pane only.
        if (mode == DATA_MODE_NONE || !matches) {
            m_kept = KeptKeys{wifi, key, confirm};
            return true;
        }
    } else if (mode == DATA_MODE_NONE || !matches) {
        Message(mode == DATA_MODE_NONE ? kKeyInvalid : kKeyMismatch);
        Refocus(kKeyEdit);
        return false;
    }
    WepSecurity security;
    security.SetKey(1, Narrow(key));
    wifi.SetSecurity(NETWORK_MODE_SHARED, mode, security);
    wizard.GetProfile().SetWiFiSettings(wifi);
    return true;
}

// ----- CIPAddressingPane

CIPAddressingPane::CIPAddressingPane(UINT templateId, int languageOffset) : CAssistantPane(templateId, languageOffset) {
    MapCommand(kAutomaticRadio, &CIPAddressingPane::UpdateControls);
    MapCommand(kStaticRadio, &CIPAddressingPane::UpdateControls);
}

void CIPAddressingPane::Initialize() {
    if (!HasItem(kAutomaticRadio)) return;
    const IPSettings& ip = Wizard().GetProfile().GetIPSettings();
    CheckRadioButton(kAutomaticRadio, kStaticRadio, ip.GetAutomatic() ? kAutomaticRadio : kStaticRadio);
    const std::string* texts[] = {&ip.GetIPAddress(), &ip.GetSubnetMask(), &ip.GetGateway()};
    for (int i = 0; i < 3; ++i) {
        Item<CIPAddressCtrl>(kAddressControls[i])
            .SetWindowText(texts[i]->empty() ? CString(u"0.0.0.0") : Wide(*texts[i]));
    }
    UpdateControls();
}

void CIPAddressingPane::UpdateControls() {
    if (!HasItem(kStaticRadio)) return;
    const bool manual = IsDlgButtonChecked(kStaticRadio) == BST_CHECKED;
    for (int i = 0; i < 3; ++i) {
        Item<CWnd>(kAddressControls[i]).EnableWindow(manual);
        Item<CWnd>(kAddressLabels[i]).EnableWindow(manual);
    }
}

bool CIPAddressingPane::Commit() {
    if (!HasItem(kAutomaticRadio)) return true;
    IPSettings& ip = Wizard().GetProfile().GetIPSettings();
    if (IsDlgButtonChecked(kAutomaticRadio) == BST_CHECKED) {
        ip.SetAutomatic(true);
        ip.SetIPAddress("");
        ip.SetSubnetMask("");
        ip.SetGateway("");
        return true;
    }
    CString texts[3];
    for (int i = 0; i < 3; ++i) Item<CWnd>(kAddressControls[i]).GetWindowText(texts[i]);
    // Refused on the way back too: the typed setting stays on screen.
    if (const auto check = ValidateStaticAddress(texts[0].str(), texts[1].str()); check != StaticAddressValid) {
        Message(check == StaticAddressMissing ? kNoStaticAddress : kMaskInvalid);
        Item<CWnd>(kAddressControls[check == StaticAddressMissing ? 0 : 1]).SetFocus();
        return false;
    }
    ip.SetAutomatic(false);
    ip.SetIPAddress(Narrow(texts[0]));
    ip.SetSubnetMask(Narrow(texts[1]));
    ip.SetGateway(Narrow(texts[2]));
    return true;
}

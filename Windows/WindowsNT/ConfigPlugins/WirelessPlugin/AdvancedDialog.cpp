#include "AdvancedDialog.h"

#include "Mfc/Layer.h"
#include "Tessary/TSException.h"
#include "Tessary/i8n/I8NString.h"
#include "Windows/Common/HelpLauncher.h"
#include "WizardValidators.h"

#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int kAutomaticRadio = 12013;
constexpr int kManualRadio = 12014;
constexpr int kAddress = 12015;
constexpr int kMask = 12019;
constexpr int kGateway = 12020;
constexpr int kOptions = 11033;
constexpr int kKeyEdit = 12029;
constexpr int kConfirmEdit = 12030;
constexpr int kHelpButton = 11030;

constexpr int kNoneOption = 0;
constexpr int kWepOption = 1;
constexpr UINT kMaxKeyLength = 26;

constexpr UINT kKeyMismatch = 10012;
constexpr UINT kKeyInvalid = 10014;
constexpr UINT kWepText = 10021;
constexpr UINT kNoneText = 10038;
constexpr UINT kNoStaticAddress = 10131;
constexpr UINT kMaskInvalid = 10132;

const char16_t* const kEmptyAddress = u"0.0.0.0";
const char16_t* const kHelpFile = u"VelmoWirelessPrinter.chm";

std::optional<std::string> Narrow(const CString& text) {
    try {
        return Tessary::wc2string(text, text.GetLength());
    } catch (const Tessary::TSException&) {
        return std::nullopt;
    }
}

bool AllHex(std::string_view key) {
    return key.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

// The WEP data mode a key fits, or none when it fits neither size.
std::optional<DataMode> WepMode(std::string_view key) {
    if (key.size() == 5 || (key.size() == 10 && AllHex(key))) return DATA_MODE_WEP_64BIT;
    if (key.size() == 13 || (key.size() == 26 && AllHex(key))) return DATA_MODE_WEP_128BIT;
    return std::nullopt;
}

CString Widen(const std::string& text) {
    return CString(Tessary::I8NString(text).c_str());
}

}  // namespace

CAdvancedDialog::CAdvancedDialog(Profile& profile, bool adHocChecked, int languageOffset, CWnd* parent)
    : CDialog(kTemplateId, parent), m_profile(profile), m_adHoc(adHocChecked), m_languageOffset(languageOffset) {
    MapCommand(kAutomaticRadio, &CAdvancedDialog::UpdateControlStates);
    MapCommand(kManualRadio, &CAdvancedDialog::UpdateControlStates);
    MapControl(CBN_SELCHANGE, kOptions, &CAdvancedDialog::OnOptionsChanged);
    MapCommand(kHelpButton, &CAdvancedDialog::OnHelp);
}

CString CAdvancedDialog::String(UINT id) const {
    return Mfc::LoadLocalizedString(id, m_languageOffset);
}

BOOL CAdvancedDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(String(10097));
    const std::pair<int, UINT> captions[] = {
        {kAutomaticRadio, 10098}, {kManualRadio, 10099}, {12016, 10100},    {12017, 10101}, {12018, 10102},
        {12122, 10103},           {12123, 10104},        {12124, 10105},    {12125, 10106}, {kHelpButton, 10107},
        {12121, 10108},           {IDOK, 10091},         {IDCANCEL, 10092},
    };
    for (const auto& [id, stringId] : captions) SetDlgItemText(id, String(stringId));

    m_automatic.SubclassDlgItem(kAutomaticRadio, this);
    m_manual.SubclassDlgItem(kManualRadio, this);
    m_address.SubclassDlgItem(kAddress, this);
    m_mask.SubclassDlgItem(kMask, this);
    m_gateway.SubclassDlgItem(kGateway, this);
    m_options.SubclassDlgItem(kOptions, this);
    m_key.SubclassDlgItem(kKeyEdit, this);
    m_confirm.SubclassDlgItem(kConfirmEdit, this);

    for (CEdit* edit : {&m_key, &m_confirm}) {
        edit->SetPasswordChar(u'*');
        edit->LimitText(kMaxKeyLength);
    }

    const IPSettings& ip = m_profile.GetIPSettings();
    const bool automatic = m_adHoc || ip.GetAutomatic();
    CheckRadioButton(kAutomaticRadio, kManualRadio, automatic ? kAutomaticRadio : kManualRadio);
    const std::pair<CIPAddressCtrl*, const std::string*> addresses[] = {
        {&m_address, &ip.GetIPAddress()}, {&m_mask, &ip.GetSubnetMask()}, {&m_gateway, &ip.GetGateway()}};
    for (const auto& [control, text] : addresses) {
        control->SetWindowText(text->empty() ? CString(kEmptyAddress) : Widen(*text));
    }

    m_options.AddString(String(kNoneText));
    m_options.AddString(String(kWepText));
    const WiFiSettings& wifi = m_profile.GetWiFiSettings();
    const bool wep = wifi.GetDataMode() != DATA_MODE_NONE;
    m_options.SetCurSel(wep ? kWepOption : kNoneOption);
    // A network taken from a scan has the mode but no key yet.
    if (wep && dynamic_cast<const WepSecurity*>(&wifi.GetSecurity()) != nullptr) {
        const CString key = Widen(wifi.GetSecurity().GetKey(1));
        m_key.SetWindowText(key);
        m_confirm.SetWindowText(key);
    }
    UpdateControlStates();
    return TRUE;
}

void CAdvancedDialog::UpdateControlStates() {
    m_automatic.EnableWindow(!m_adHoc);
    m_manual.EnableWindow(!m_adHoc);
    const bool manual = m_automatic.GetCheck() != BST_CHECKED;
    for (CWnd* address :
         {static_cast<CWnd*>(&m_address), static_cast<CWnd*>(&m_mask), static_cast<CWnd*>(&m_gateway)}) {
        address->EnableWindow(manual);
    }
    const bool wep = m_options.GetCurSel() == kWepOption;
    m_key.EnableWindow(wep);
    m_confirm.EnableWindow(wep);
}

void CAdvancedDialog::OnOptionsChanged() {
    const bool wep = m_options.GetCurSel() == kWepOption;
    if (!wep && m_key.IsWindowEnabled()) {
        m_key.GetWindowText(m_keptKey);
        m_confirm.GetWindowText(m_keptConfirm);
        m_key.SetWindowText(u"");
        m_confirm.SetWindowText(u"");
    } else if (wep && !m_key.IsWindowEnabled()) {
        m_key.SetWindowText(m_keptKey);
        m_confirm.SetWindowText(m_keptConfirm);
    }
    UpdateControlStates();
}

void CAdvancedDialog::OnHelp() {
    // The message is one of the main dialog's.
    if (!OpenHelp(m_hWnd, kHelpFile)) MessageBox(String(10150), nullptr, MB_OK | MB_ICONINFORMATION);
}

void CAdvancedDialog::OnOK() {
    const bool wep = m_key.IsWindowEnabled() != FALSE;
    std::string key;
    DataMode dataMode = DATA_MODE_NONE;
    if (wep) {
        CString keyText;
        CString confirmText;
        m_key.GetWindowText(keyText);
        m_confirm.GetWindowText(confirmText);
        const auto narrow = Narrow(keyText);
        const auto mode = narrow ? WepMode(*narrow) : std::nullopt;
        const UINT problem = !mode ? kKeyInvalid : (keyText != confirmText ? kKeyMismatch : 0);
        if (problem != 0) {
            MessageBox(String(problem), nullptr, MB_OK | MB_ICONEXCLAMATION);
            GotoDlgCtrl(&m_key);
            m_key.SetSel(0, -1);
            return;
        }
        key = *narrow;
        dataMode = *mode;
    }

    const bool automatic = m_automatic.GetCheck() == BST_CHECKED;
    if (!automatic) {
        CString address;
        CString mask;
        m_address.GetWindowText(address);
        m_mask.GetWindowText(mask);
        if (const auto check = ValidateStaticAddress(address.str(), mask.str()); check != StaticAddressValid) {
            MessageBox(String(check == StaticAddressMissing ? kNoStaticAddress : kMaskInvalid), nullptr,
                       MB_OK | MB_ICONEXCLAMATION);
            GotoDlgCtrl(check == StaticAddressMissing ? &m_address : &m_mask);
            return;
        }
    }

    IPSettings& ip = m_profile.GetIPSettings();
    if (automatic) {
        ip.SetAutomatic(true);
    } else {
        ip.SetAutomatic(false);
        const std::pair<CIPAddressCtrl*, void (IPSettings::*)(const std::string&)> addresses[] = {
            {&m_address, &IPSettings::SetIPAddress},
            {&m_mask, &IPSettings::SetSubnetMask},
            {&m_gateway, &IPSettings::SetGateway}};
        for (const auto& [control, set] : addresses) {
            CString text;
            control->GetWindowText(text);
            (ip.*set)(Narrow(text).value_or(std::string()));
        }
    }

    WiFiSettings& wifi = m_profile.GetWiFiSettings();
    if (wep) {
        // A profile that already uses WEP keeps its authentication (a
        // shared-key network stays shared); one that had none starts open.
        const NetworkMode current = wifi.GetNetworkMode();
        const bool keep =
            wifi.GetDataMode() != DATA_MODE_NONE && (current == NETWORK_MODE_OPEN || current == NETWORK_MODE_SHARED);
        WepSecurity security;
        security.SetKey(1, key);
        wifi.SetSecurity(keep ? current : NETWORK_MODE_OPEN, dataMode, security);
    } else {
        wifi.SetSecurity(NETWORK_MODE_OPEN, DATA_MODE_NONE, NullSecurity());
    }
    EndDialog(IDOK);
}

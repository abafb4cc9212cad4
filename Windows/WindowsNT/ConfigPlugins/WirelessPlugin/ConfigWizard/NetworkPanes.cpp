// The network screen (the list of networks the printer sees, with its scan)
// and the screen that searches for the printer on the network.
#include "AssistantDialog.h"
#include "AssistantPanes.h"
#include "WizardValidators.h"

#include "Mfc/AfxTypes.h"
#include "Platform/Resource.h"
#include "Tessary/TSException.h"

#include <optional>
#include <string>

namespace {

constexpr int kNetworkList = 12045;
constexpr int kSsidEdit = 12024;
constexpr int kChannelLabel = 11031;
constexpr int kChannelCombo = 12025;
constexpr int kScanButton = 13128;
constexpr int kAdHocCheck = 13131;
constexpr int kAnimation = 12042;

constexpr UINT kScanningPicture = 110;
constexpr UINT kSearchingPicture = 111;
constexpr const char16_t* kPictureType = u"GIF";
// The network list shows the channels of this country, wherever the printer is.
constexpr const char* kChannelCountry = "US";
constexpr UINT kMaxSsidLength = 32;
// Below the Scan button, the animation keeps this distance in pixels.
constexpr int kAnimationGap = 10;

constexpr UINT kNoSsid = 10007;
constexpr UINT kSsidTooLong = 10008;
constexpr UINT kScanWarning = 10030;
constexpr UINT kSsidInvalid = 10120;
constexpr UINT kUnsupportedNetwork = 10034;

CString ChannelText(unsigned channel) {
    CString text;
    text.Format(u"%u", channel);
    return text;
}

// The number at the start of a channel combo item.
std::optional<int> ChannelNumber(const CString& text) {
    int value = 0;
    int digits = 0;
    for (char16_t c : text.str()) {
        if (c < u'0' || c > u'9' || digits == 9) break;
        value = value * 10 + (c - u'0');
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

}  // namespace

// ----- CFindNetworksPane

CFindNetworksPane::CFindNetworksPane(UINT templateId, int languageOffset) : CAssistantPane(templateId, languageOffset) {
    MapCommand(kScanButton, &CFindNetworksPane::OnScan);
    MapCommand(kAdHocCheck, &CFindNetworksPane::UpdateControls);
    MapControl(CBN_SELCHANGE, kChannelCombo, &CFindNetworksPane::UpdateControls);
    MapMessage(CNetworksListCtrl::kNetworkSelectedMessage, &CFindNetworksPane::OnNetworkSelected);
}

std::vector<unsigned> CFindNetworksPane::Channels() {
    return Wizard().GetRegulatoryDomainExpert().GetChannelList(kChannelCountry);
}

void CFindNetworksPane::Initialize() {
    if (!HasItem(kSsidEdit)) return;
    const WiFiSettings wifi = Wizard().GetProfile().GetWiFiSettings();
    const std::vector<unsigned> channels = Channels();
    CheckDlgButton(kAdHocCheck, wifi.GetMode() == WIFI_MODE_ADHOC ? BST_CHECKED : BST_UNCHECKED);
    auto& ssid = Item<CEdit>(kSsidEdit);
    ssid.SetWindowText(CString(wifi.GetSSID().c_str()));
    auto& combo = Item<CComboBox>(kChannelCombo);
    combo.ResetContent();
    for (unsigned channel : channels) {
        const int item = combo.AddString(ChannelText(channel));
        if (static_cast<int>(channel) == wifi.GetChannel()) combo.SetCurSel(item);
    }
    ssid.SetLimitText(kMaxSsidLength);

    if (m_animation.SubclassDlgItem(kAnimation, this) &&
        m_animation.Load(MAKEINTRESOURCEW(kScanningPicture), kPictureType)) {
        CRect scan;
        Item<CWnd>(kScanButton).GetWindowRect(&scan);
        ScreenToClient(&scan);
        const SIZE size = m_animation.GetSize();
        const bool rightToLeft = (GetExStyle() & WS_EX_LAYOUTRTL) != 0;
        m_animation.SetWindowPos(nullptr, rightToLeft ? scan.right - size.cx : scan.left, scan.bottom + kAnimationGap,
                                 size.cx, size.cy, SWP_NOZORDER);
    }
    if (m_animation.m_hWnd != nullptr) m_animation.ShowWindow(SW_HIDE);

    m_networkList.SubclassDlgItem(kNetworkList, this);
    m_networkList.SetRequestedSelection(wifi);
    // Also makes the columns of a list that has nothing to show yet.
    m_networkList.RefreshList(channels, false);
    UpdateControls();
}

WiFiSettings CFindNetworksPane::ReadControls() {
    WiFiSettings settings = Wizard().GetProfile().GetWiFiSettings();
    if (!HasItem(kSsidEdit)) return settings;
    CString ssid;
    Item<CEdit>(kSsidEdit).GetWindowText(ssid);
    settings.SetSSID(Tessary::I8NString(ssid.GetString()));
    settings.SetMode(IsDlgButtonChecked(kAdHocCheck) == BST_CHECKED ? WIFI_MODE_ADHOC : WIFI_MODE_INFRASTRUCTURE);
    // A channel the list does not offer stays as the profile has it.
    CString channel;
    Item<CComboBox>(kChannelCombo).GetWindowText(channel);
    if (const auto number = ChannelNumber(channel)) settings.SetChannel(*number);
    return settings;
}

void CFindNetworksPane::ShowSettings(const WiFiSettings& settings) {
    CheckDlgButton(kAdHocCheck, settings.GetMode() == WIFI_MODE_ADHOC ? BST_CHECKED : BST_UNCHECKED);
    Item<CEdit>(kSsidEdit).SetWindowText(CString(settings.GetSSID().c_str()));
    auto& combo = Item<CComboBox>(kChannelCombo);
    if (combo.SelectString(-1, ChannelText(static_cast<unsigned>(settings.GetChannel()))) == CB_ERR) {
        combo.SetCurSel(-1);
    }
}

void CFindNetworksPane::UpdateControls() {
    if (!HasItem(kSsidEdit)) return;
    const WiFiSettings settings = ReadControls();
    const int show = settings.GetMode() == WIFI_MODE_ADHOC ? SW_SHOW : SW_HIDE;
    Item<CWnd>(kChannelCombo).ShowWindow(show);
    Item<CWnd>(kChannelLabel).ShowWindow(show);
    // The buttons stay off while a scan runs.
    if (m_scanning) return;
    CAssistantDialog& wizard = Wizard();
    wizard.EnableAllButtons();
    // A secured network needs its key first.
    if (settings.GetDataMode() != DATA_MODE_NONE) wizard.DisableButton(FinishButton);
}

bool CFindNetworksPane::Commit() {
    if (!HasItem(kSsidEdit)) return true;
    CString ssid;
    Item<CEdit>(kSsidEdit).GetWindowText(ssid);
    switch (ValidateSsid(ssid.str())) {
        case SsidValid:
            Wizard().GetProfile().SetWiFiSettings(ReadControls());
            return true;
        case SsidEmpty:
            Message(kNoSsid);
            break;
        case SsidTooLong:
            Message(kSsidTooLong);
            break;
        default:
            Message(kSsidInvalid);
            break;
    }
    Refocus(kSsidEdit);
    return false;
}

LRESULT CFindNetworksPane::OnNetworkSelected(WPARAM how, LPARAM) {
    if (!HasItem(kSsidEdit)) return 0;
    // The list selecting again, as it fills, the network the screen shows
    // brings nothing new: it must not replace the keys the user gave with a
    // scanned network's none.
    if (how == CNetworksListCtrl::kSelectedByList) {
        UpdateControls();
        return 0;
    }
    const int index = m_networkList.GetSelectedIndex();
    if (index < 0) return 0;
    const WiFiSettings& chosen = m_networkList.GetNetwork(index);
    Profile& profile = Wizard().GetProfile();
    const WiFiSettings& current = profile.GetWiFiSettings();
    // The security screen knows only WEP: it would make a WEP profile of a
    // WPA network, which could never join it.
    if (!IsSupportedSecurity(chosen)) {
        Message(kUnsupportedNetwork, MB_OK | MB_ICONEXCLAMATION);
        m_networkList.ShowSelection(ReadControls());
        UpdateControls();
        return 0;
    }
    WiFiSettings taken = chosen;
    if (chosen.GetDataMode() != DATA_MODE_NONE && !WepKeyOne(chosen.GetSecurity()) &&
        chosen.GetNetworkMode() == current.GetNetworkMode() && chosen.GetDataMode() == current.GetDataMode()) {
        // A scan reports no keys: those typed for this kind of network stay.
        taken.SetSecurity(current.GetNetworkMode(), current.GetDataMode(), current.GetSecurity());
    }
    profile.SetWiFiSettings(taken);
    ShowSettings(taken);
    UpdateControls();
    return 0;
}

void CFindNetworksPane::OnScan() {
    if (!HasItem(kSsidEdit) || m_networkList.IsScanRunning()) return;
    if (m_confirmScan) {
        if (Message(kScanWarning, MB_OKCANCEL | MB_ICONWARNING) != IDOK) return;
        m_confirmScan = false;
    }
    CAssistantDialog& wizard = Wizard();
    try {
        ConfigAPI& api = wizard.OpenPrinterCommunication();
        for (int button = 0; button < kButtonCount; ++button) wizard.DisableButton(static_cast<ButtonID>(button));
        m_scanning = true;
        if (m_animation.m_hWnd != nullptr) {
            m_animation.Draw();
            m_animation.ShowWindow(SW_SHOW);
        }
        m_networkList.SetRequestedSelection(ReadControls());
        m_networkList.BeginAsyncNetworkScan(api, Channels(), &CFindNetworksPane::ScanFinishedEntry, this);
    } catch (...) {
        // A scan that cannot start ends as one that found nothing new.
        ScanFinished();
    }
}

void CFindNetworksPane::ScanFinishedEntry(void* pane) {
    static_cast<CFindNetworksPane*>(pane)->ScanFinished();
}

void CFindNetworksPane::ScanFinished() {
    m_scanning = false;
    try {
        Wizard().ClosePrinter();
    } catch (...) {
        // The printer is released whatever it answered.
    }
    if (m_animation.m_hWnd != nullptr) {
        m_animation.Stop();
        m_animation.ShowWindow(SW_HIDE);
    }
    UpdateControls();
}

bool CFindNetworksPane::Hide(bool commit) {
    if (m_hWnd == nullptr) return true;
    m_networkList.WaitForNetworkScan();
    if (commit && !Commit()) return false;
    // The scan's completion would reach a list that is going away.
    if (m_scanning) ScanFinished();
    if (m_animation.m_hWnd != nullptr) m_animation.Stop();
    DestroyWindow();
    return true;
}

// ----- CSearchingPane

void CSearchingPane::Initialize() {
    if (m_hWnd == nullptr) return;
    CAssistantDialog& wizard = Wizard();
    if (m_animation.SubclassDlgItem(kAnimation, this) &&
        m_animation.Load(MAKEINTRESOURCEW(kSearchingPicture), kPictureType)) {
        CRect client;
        GetClientRect(&client);
        const SIZE size = m_animation.GetSize();
        m_animation.SetWindowPos(nullptr, (client.Width() - size.cx) / 2, (client.Height() - size.cy) / 2, size.cx,
                                 size.cy, SWP_NOZORDER);
        m_animation.Draw();
    }
    m_transmitted = false;
    try {
        wizard.TransmitProfileToPrinter(wizard.GetProfile(), false);
        m_transmitted = true;
    } catch (...) {
        // Nothing can be found: the machine moves on to the not-found screen.
        wizard.PrinterSearchComplete(false);
        return;
    }
    wizard.StartSearching();
}

bool CSearchingPane::Hide(bool commit) {
    if (m_hWnd == nullptr) return true;
    CAssistantDialog& wizard = Wizard();
    wizard.StopSearching();
    // The printer gets back what it held, found or not.
    try {
        wizard.UncommitProfile();
    } catch (...) {
        if (m_transmitted) WizardFailureMessage(kRestoreFailed);
    }
    m_transmitted = false;
    if (m_animation.m_hWnd != nullptr) m_animation.Stop();
    return CAssistantPane::Hide(commit);
}

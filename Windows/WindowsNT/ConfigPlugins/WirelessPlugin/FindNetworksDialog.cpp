#include "FindNetworksDialog.h"

#include "Mfc/Layer.h"
#include "Platform/Resource.h"
#include "Tessary/i8n/I8NString.h"

#include <exception>

namespace {

constexpr int kNetworkList = 12045;
constexpr int kPicture = 12042;
constexpr int kRescanButton = 12008;
constexpr int kListLabel = 12126;

constexpr UINT kScanningPicture = 110;
constexpr const char16_t* kPictureType = u"GIF";

}  // namespace

CFindNetworksDialog::CFindNetworksDialog(PrinterAccess& printer, const std::vector<WiFiSettings>& networks,
                                         const std::vector<unsigned>& channels, int languageOffset, CWnd* parent)
    : CDialog(kTemplateId, parent),
      m_printer(printer),
      m_networks(networks),
      m_channels(channels),
      m_languageOffset(languageOffset) {
    MapCommand(kRescanButton, &CFindNetworksDialog::OnRescan);
    MapNotify(NM_DBLCLK, kNetworkList, &CFindNetworksDialog::OnListDoubleClick);
}

CFindNetworksDialog::~CFindNetworksDialog() {
    // The list's worker must not outlive the channel it reads.
    m_list.WaitForNetworkScan();
    if (m_printerOpen) {
        m_printerOpen = false;
        m_printer.ClosePrinter();
    }
}

const std::vector<WiFiSettings>& CFindNetworksDialog::GetNetworks() const {
    return m_networks;
}

const WiFiSettings* CFindNetworksDialog::GetChosenNetwork() const {
    return m_chosen ? &*m_chosen : nullptr;
}

CString CFindNetworksDialog::String(UINT id) const {
    return Mfc::LoadLocalizedString(id, m_languageOffset);
}

BOOL CFindNetworksDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(String(10090));
    const std::pair<int, UINT> captions[] = {
        {IDOK, 10091}, {IDCANCEL, 10092}, {kListLabel, 10093}, {kRescanButton, 10094}};
    for (const auto& [id, stringId] : captions) SetDlgItemText(id, String(stringId));

    m_list.SubclassDlgItem(kNetworkList, this);
    m_list.SetNetworks(m_networks);
    if (m_picture.SubclassDlgItem(kPicture, this) && m_picture.Load(MAKEINTRESOURCEW(kScanningPicture), kPictureType)) {
        CRect area;
        m_list.GetWindowRect(&area);
        ScreenToClient(&area);
        const SIZE size = m_picture.GetSize();
        m_picture.SetWindowPos(nullptr, area.left + (area.Width() - size.cx) / 2,
                               area.top + (area.Height() - size.cy) / 2, size.cx, size.cy, SWP_NOZORDER);
    }
    if (m_picture.m_hWnd != nullptr) m_picture.ShowWindow(SW_HIDE);

    // Also makes the columns of a list that waits for its scan.
    m_list.RefreshList(m_channels, false);
    if (m_networks.empty()) StartScan();
    return TRUE;
}

bool CFindNetworksDialog::StartScan() {
    try {
        if (m_picture.m_hWnd != nullptr) {
            m_picture.ShowWindow(SW_SHOW);
            m_picture.Draw();
        }
        ConfigAPI& api = m_printer.OpenPrinter();
        m_printerOpen = true;
        m_list.BeginAsyncNetworkScan(api, m_channels, &CFindNetworksDialog::ScanDone, this);
        return true;
    } catch (const std::exception& e) {
        // No scan will report: the printer leaves configuration mode now.
        ScanDone(this);
        MessageBox(CString(Tessary::I8NString(e.what()).c_str()), nullptr, MB_OK | MB_ICONEXCLAMATION);
    }
    EndDialog(IDCANCEL);
    return false;
}

void CFindNetworksDialog::ScanDone(void* context) {
    auto* self = static_cast<CFindNetworksDialog*>(context);
    if (self->m_printerOpen) {
        self->m_printerOpen = false;
        self->m_printer.ClosePrinter();
    }
    if (self->m_picture.m_hWnd != nullptr) {
        self->m_picture.Stop();
        self->m_picture.ShowWindow(SW_HIDE);
    }
}

void CFindNetworksDialog::OnRescan() {
    if (m_list.IsScanRunning()) return;
    StartScan();
}

void CFindNetworksDialog::OnListDoubleClick(NMHDR*, LRESULT* result) {
    *result = 0;
    OnOK();
}

void CFindNetworksDialog::WaitForScan() {
    m_list.WaitForNetworkScan();
    // The scan's report is still queued and would reach a closed window.
    ScanDone(this);
    m_networks = m_list.GetNetworks();
}

void CFindNetworksDialog::OnOK() {
    WaitForScan();
    const int index = m_list.GetSelectedIndex();
    if (index >= 0) m_chosen = m_list.GetNetwork(index);
    EndDialog(IDOK);
}

void CFindNetworksDialog::OnCancel() {
    WaitForScan();
    EndDialog(IDCANCEL);
}

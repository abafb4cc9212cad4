#include "FindNetworksDialog.h"

CFindNetworksDialog::CFindNetworksDialog(PrinterAccess& printer, const std::vector<WiFiSettings>& networks,
                                         const std::vector<unsigned>& channels, int languageOffset, CWnd* parent)
    : CDialog(kTemplateId, parent),
      m_printer(printer),
      m_networks(networks),
      m_channels(channels),
      m_languageOffset(languageOffset) {}
CFindNetworksDialog::~CFindNetworksDialog() = default;
const std::vector<WiFiSettings>& CFindNetworksDialog::GetNetworks() const {
    return m_networks;
}
const WiFiSettings* CFindNetworksDialog::GetChosenNetwork() const {
    return m_chosen ? &*m_chosen : nullptr;
}
BOOL CFindNetworksDialog::OnInitDialog() {
    return CDialog::OnInitDialog();
}
void CFindNetworksDialog::OnOK() {
    CDialog::OnOK();
}
void CFindNetworksDialog::OnCancel() {
    CDialog::OnCancel();
}
bool CFindNetworksDialog::StartScan() {
    return false;
}
void CFindNetworksDialog::OnRescan() {}
void CFindNetworksDialog::OnListDoubleClick(NMHDR*, LRESULT*) {}
void CFindNetworksDialog::WaitForScan() {}
void CFindNetworksDialog::ScanDone(void*) {}
CString CFindNetworksDialog::String(UINT) const {
    return CString();
}

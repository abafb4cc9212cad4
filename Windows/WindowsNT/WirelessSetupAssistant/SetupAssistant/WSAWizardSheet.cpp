#include "WSAWizardSheet.h"

#include "SetupAssistantResources.h"

WSAWizardSheet::WSAWizardSheet(UINT captionId, CWnd* parent, UINT selectPage)
    : CPropertySheet(captionId, parent, selectPage),
      m_standAlone(&m_engine),
      m_standAloneAdded(&m_engine),
      m_selectWirelessPrinter(&m_engine),
      m_pnpWelcome(&m_engine),
      m_pnpSearchBegin(&m_engine),
      m_pnpSearchNotFound(&m_engine),
      m_printerNotAdded(&m_engine),
      m_pnpPrinterNotAdded(&m_engine),
      m_pnpPrinterConfigured(&m_engine) {
    // The order is the page numbering SetActivePage uses.
    for (CPropertyPage* page : std::initializer_list<CPropertyPage*>{
             &m_standAlone, &m_standAloneAdded, &m_selectWirelessPrinter, &m_pnpWelcome, &m_pnpSearchBegin,
             &m_pnpSearchNotFound, &m_printerNotAdded, &m_pnpPrinterNotAdded, &m_pnpPrinterConfigured}) {
        AddPage(page);
    }
    SetWizardMode();
}

BOOL WSAWizardSheet::OnInitDialog() {
    CPropertySheet::OnInitDialog();
    const HICON icon = LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(SetupAssistant::IDI_WSA_ICON));
    SetIcon(icon, TRUE);
    SetIcon(icon, FALSE);
    if (CWnd* help = GetDlgItem(IDHELP)) help->ShowWindow(SW_HIDE);
    return TRUE;
}

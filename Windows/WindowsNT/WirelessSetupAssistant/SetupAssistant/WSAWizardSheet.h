// The setup assistant's wizard: nine pages over one engine.
#pragma once

#include "Mfc/AfxDlgs.h"
#include "SelectWirelessPrinter.h"
#include "WSAPages.h"
#include "WizardEngine.h"

class WSAWizardSheet : public CPropertySheet {
public:
    WSAWizardSheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);

    CWizardEngine& Engine() { return m_engine; }
    BOOL OnInitDialog() override;

private:
    // Declared first so that it outlives the pages that point to it.
    CWizardEngine m_engine;

    StandAloneDlg m_standAlone;
    StandAloneAdded m_standAloneAdded;
    SelectWirelessPrinter m_selectWirelessPrinter;
    PNPWelcomePage m_pnpWelcome;
    PNPSearchBeginPage m_pnpSearchBegin;
    PNPSearchNotFoundPage m_pnpSearchNotFound;
    PrinterNotAdded m_printerNotAdded;
    PNPPrinterNotAdded m_pnpPrinterNotAdded;
    PNPPrinterConfigured m_pnpPrinterConfigured;
};

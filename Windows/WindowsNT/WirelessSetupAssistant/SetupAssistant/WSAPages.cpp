#include "WSAPages.h"

#include "AssistantDialog.h"
#include "PrinterInstallRules.h"
#include "SetupAssistantResources.h"
#include "Tessary/i8n/I8NString.h"

#include <memory>

using namespace SetupAssistant;

namespace {

constexpr WORD kSearchPicture = 111;
constexpr const char16_t* kPictureType = u"GIF";

void SetButtons(CPropertyPage& page, DWORD flags) {
    if (CPropertySheet* sheet = page.GetSheet()) sheet->SetWizardButtons(flags);
}

}  // namespace

bool SetupAssistant::RunWirelessWizard(CWizardEngine& engine, CWnd* parent) {
    try {
        const PrinterCacheEntry entry = engine.GetPrinterInfo();
        // The scan warning follows the entry's flag, as the engine keeps it.
        std::unique_ptr<CAssistantDialog> wizard(CAssistantDialog::CreateAssistantDialog(
            engine.GetDriverKeyName(), static_cast<int>(entry.printer.maxOutPacketSize),
            static_cast<int>(entry.printer.maxInPacketSize), static_cast<int>(entry.printer.vendorId),
            static_cast<int>(entry.printer.productId), entry.guid, entry.settings, entry.profiles, entry.selected,
            entry.networks, entry.scanAccepted, true, parent));
        if (wizard->DoModal() != IDOK) return false;
        return engine.GetWirelessSettings();
    } catch (...) {
        // The page stays; there is nothing more to tell.
        return false;
    }
}

// ----- WSAButtonsPage

WSAButtonsPage::WSAButtonsPage(UINT templateId, CWizardEngine* engine, DWORD buttons)
    : WSAPageBase(templateId, engine), m_buttons(buttons) {}

BOOL WSAButtonsPage::OnSetActive() {
    SetButtons(*this, m_buttons);
    return WSAPageBase::OnSetActive();
}

// ----- StandAloneDlg

StandAloneDlg::StandAloneDlg(CWizardEngine* engine) : WSAPageBase(IDD_STANDALONE, engine) {}

LRESULT StandAloneDlg::OnWizardNext() {
    WSAPageBase::OnWizardNext();
    return IDD_SELECT_WIRELESS_PRINTER;
}

// ----- StandAloneAdded

StandAloneAdded::StandAloneAdded(CWizardEngine* engine) : WSAButtonsPage(IDD_STANDALONE_ADDED, engine, PSWIZB_FINISH) {}

// ----- PNPWelcomePage

PNPWelcomePage::PNPWelcomePage(CWizardEngine* engine) : WSAButtonsPage(IDD_PNP_WELCOME, engine, PSWIZB_NEXT) {
    MapCommand(IDC_CONFIGURE_WIRELESS, &PNPWelcomePage::OnConfigure);
}

void PNPWelcomePage::OnConfigure() {
    try {
        if (m_engine->IsPrinterConnected()) RunWirelessWizard(*m_engine, GetSheet());
    } catch (...) {
        // No printer to configure.
    }
}

// ----- PNPSearchBeginPage

PNPSearchBeginPage::PNPSearchBeginPage(CWizardEngine* engine) : WSAPageBase(IDD_PNP_SEARCH_BEGIN, engine) {
    MapMessage(WM_TIMER, &PNPSearchBeginPage::OnTimer);
}

BOOL PNPSearchBeginPage::OnInitDialog() {
    WSAPageBase::OnInitDialog();
    if (m_animation.SubclassDlgItem(IDC_SEARCH_ANIMATION, this) &&
        m_animation.Load(MAKEINTRESOURCEW(kSearchPicture), kPictureType)) {
        // Centred across the page, a fixed distance below its top.
        RECT top{0, 0, 0, kAnimationTop};
        MapDialogRect(&top);
        RECT client;
        GetClientRect(&client);
        const SIZE size = m_animation.GetSize();
        m_animation.SetWindowPos(nullptr, (client.right - client.left - size.cx) / 2, top.bottom, size.cx, size.cy,
                                 SWP_NOZORDER);
    }
    return TRUE;
}

BOOL PNPSearchBeginPage::OnSetActive() {
    SetButtons(*this, 0);
    m_animation.Draw();
    SetTimer(kSearchTimerId, kSearchDelayMs);
    return WSAPageBase::OnSetActive();
}

BOOL PNPSearchBeginPage::OnKillActive() {
    KillTimer(kSearchTimerId);
    m_animation.Stop();
    return WSAPageBase::OnKillActive();
}

LRESULT PNPSearchBeginPage::OnTimer(WPARAM id, LPARAM) {
    if (id != kSearchTimerId) return 0;
    KillTimer(kSearchTimerId);
    const int target = SearchAndInstall();
    if (CPropertySheet* sheet = GetSheet()) sheet->SetActivePage(target);
    return 0;
}

int PNPSearchBeginPage::SearchAndInstall() {
    try {
        if (!m_engine->IsPrinterConnected()) return kPnpSearchNotFoundPage;
        CWaitCursor wait;
        const PrinterInfoResult printer = m_engine->GetPrinterInfo().printer;
        const Tessary::I8NString serial(printer.serialNumber);
        m_engine->PrinterRecord() =
            PortMonitorUtilities::UsbPortRecord(printer.vendorId, printer.productId, serial.c_str());
        return m_engine->InstallPrinter(true) ? kStandAloneAddedPage : kPnpPrinterNotAddedPage;
    } catch (...) {
        return kPnpPrinterNotAddedPage;
    }
}

// ----- PNPSearchNotFoundPage

PNPSearchNotFoundPage::PNPSearchNotFoundPage(CWizardEngine* engine)
    : WSAButtonsPage(IDD_PNP_SEARCH_NOT_FOUND, engine, PSWIZB_BACK | PSWIZB_NEXT) {}

LRESULT PNPSearchNotFoundPage::OnWizardNext() {
    WSAPageBase::OnWizardNext();
    return IDD_PNP_WELCOME;
}

LRESULT PNPSearchNotFoundPage::OnWizardBack() {
    return IDD_PNP_SEARCH_BEGIN;
}

// ----- PrinterNotAdded

PrinterNotAdded::PrinterNotAdded(CWizardEngine* engine) : WSAButtonsPage(IDD_PRINTER_NOT_ADDED, engine, PSWIZB_BACK) {}

// ----- PNPPrinterNotAdded

PNPPrinterNotAdded::PNPPrinterNotAdded(CWizardEngine* engine) : WSAPageBase(IDD_PNP_PRINTER_NOT_ADDED, engine) {
    MapCommand(IDC_CONFIGURE_WIRELESS, &PNPPrinterNotAdded::OnConfigure);
}

void PNPPrinterNotAdded::OnConfigure() {
    bool connected = false;
    try {
        connected = m_engine->IsPrinterConnected();
    } catch (...) {
    }
    if (connected) {
        RunWirelessWizard(*m_engine, GetSheet());
    } else if (CPropertySheet* sheet = GetSheet()) {
        sheet->SetActivePage(kPnpSearchNotFoundPage);
    }
}

// ----- PNPPrinterConfigured

PNPPrinterConfigured::PNPPrinterConfigured(CWizardEngine* engine)
    : WSAButtonsPage(IDD_PNP_PRINTER_CONFIGURED, engine, 0) {}
